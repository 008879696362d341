// mimetool's view of a message the library's tolerant reader read: how its parts are numbered, described
// and reported, the same way in unpack, show and decode.
#ifndef MIMETOOL_TREE_HPP
#define MIMETOOL_TREE_HPP

#include <optional>
#include <string>
#include <vector>

#include "mime/mime.hpp"
#include "mimetool_input.hpp"

namespace mimetool {

// What the tool prints of one part, read from its header.
struct PartFacts {
  std::optional<mime::ContentType> type;   // absent when the part has no Content-Type field
  std::string transferEncoding;            // the field value as it travelled; "" when absent
  std::optional<std::string> contentId;    // without its angle brackets
  std::optional<std::string> fileName;     // decoded, not yet made safe
  std::optional<std::string> disposition;  // the disposition type, lower case
};

PartFacts factsOf(const mime::Part &part);

// The index of a message's root: "" when it holds parts (numbered 1, 2, ...), else "1".
std::string rootIndex(const mime::Part &root);

// The index of the child at position (from 1) of the part at parent.
std::string childIndex(const std::string &parent, size_t position);

// True for a part whose child is an attached message (message/rfc822, message/global) rather than parts
// of a multipart.
bool holdsAttachedMessage(const mime::Part &part);

// The content type with its decoded parameters, for a reader: name, then "; key=value" per parameter,
// the value quoted where it is no token; control characters escaped. "-" for none.
std::string describeType(const std::optional<mime::ContentType> &type);

// Where a part is in the input, for a report: "message 2, part 3" in an mbox (message 0: a single
// message), "part 2", "the message" for a root whose index is "".
std::string partLabel(size_t message, const std::string &index);

// Prints each defect as one line on standard error, "mimetool: WHERE: KIND at offset N" with N the offset
// in the input, and returns how many there were.
size_t reportDefects(const InputMessage &message, const std::string &where,
                     const std::vector<mime::Defect> &defects);

}  // namespace mimetool

#endif

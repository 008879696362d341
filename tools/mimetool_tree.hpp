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

// The index of the child at position (from 1) of the part at parent.
std::string childIndex(const std::string &parent, size_t position);

// A part as walkMessages hands it over: the message it is in, where, and how it stands in its message.
struct PartVisit {
  const InputMessage &message;
  size_t number;  // the message's number in reports: from 1 in an mbox, 0 for a single message
  const mime::Part &part;
  mime::Visit visit;
  size_t depth;
  // "" for a message that holds parts, "1" for one that does not, then as childIndex numbers them
  const std::string &index;
};

// Reads every message part by part, without holding a tree, and hands each visit of a part to handle.
template <typename Handle>
void walkMessages(const std::vector<InputMessage> &messages, const mime::Options &opt, Handle &&handle) {
  std::vector<std::pair<std::string, size_t>> open;  // per part that holds parts: its index, parts so far
  for (size_t i = 0; i < messages.size(); ++i) {
    const size_t number = messages.size() > 1 ? i + 1 : 0;
    mime::readMessageEach(messages[i].octets, opt,
                          [&](const mime::Part &part, mime::Visit visit, size_t depth) {
                            std::string index;
                            if (visit == mime::Visit::kEnd) {
                              index = std::move(open.back().first);
                              open.pop_back();
                            } else {
                              index = depth == 0 ? (visit == mime::Visit::kLeaf ? "1" : "")
                                                 : childIndex(open.back().first, ++open.back().second);
                              if (visit == mime::Visit::kStart) open.emplace_back(index, 0);
                            }
                            handle(PartVisit{messages[i], number, part, visit, depth, index});
                            return true;
                          });
  }
}

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

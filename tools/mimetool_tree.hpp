// mimetool's view of a received message: the tree of its parts, every one decoded, multiparts inside
// multiparts unpacked all the way down.
#ifndef MIMETOOL_TREE_HPP
#define MIMETOOL_TREE_HPP

#include <optional>
#include <string>
#include <vector>

#include "mime/mime.hpp"
#include "mimetool_message.hpp"

namespace mimetool {

struct Part {
  std::string index;                      // "2.1": the second part's first part; "" for a multipart message
  std::optional<mime::ContentType> type;  // decoded; absent when the part has no Content-Type field
  std::string transferEncoding;           // the field value as it travelled; "" when absent
  std::optional<std::string> contentId;   // decoded, without angle brackets
  std::optional<mime::Buffer> body;       // decoded; absent when the part has none
  std::string fileName;                   // as the message gives it (not yet made safe); "" for none
  std::vector<Part> children;             // the parts of a multipart, in order; empty for a leaf

  [[nodiscard]] bool isMultipart() const { return type && type->isMultipart(); }
  [[nodiscard]] size_t size() const { return body ? body->size() : 0; }
};

// Multiparts nested deeper than this are refused rather than followed.
constexpr int kMaxDepth = 64;

// Decodes the message and, recursively, every multipart in it. The file name of a part comes from the
// "filename" parameter of its Content-Disposition, else the "filename" or "name" parameter of its
// Content-Type. Throws Failure naming the first part that does not decode or does not unpack.
Part readTree(const ReadMessage &message, const mime::Options &opt);

// Which of the entity's fields, or its body, keeps mime::decode from decoding it: one line for a reader.
std::string whyNotDecoded(const mime::Entity &entity, const mime::Options &opt);

// The content type with its decoded parameters, for a reader: name, then "; key=value" per parameter,
// the value quoted where it is no token; control characters escaped. "-" for a part without one.
std::string describeType(const Part &part);

// The leaves of the tree in order (a message that is no multipart is its own only leaf).
std::vector<const Part *> leavesOf(const Part &root);

}  // namespace mimetool

#endif

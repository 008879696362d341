// mimetool's view of a message.
#include "mimetool_tree.hpp"

#include <iostream>

#include "mimetool_files.hpp"

namespace mimetool {

namespace {

bool isToken(std::string_view value);

}  // namespace

PartFacts factsOf(const mime::Part &part) {
  const mime::Header header = part.header();
  PartFacts facts;
  if (mimeHeaderFindCstr(header.get(), "Content-Type", -1, 0) >= 0) facts.type = part.contentType();
  facts.transferEncoding = header.value("Content-Transfer-Encoding").value_or("");
  if (std::optional<std::string> id = header.value("Content-ID")) {
    std::string_view value = *id;  // trimmed already
    if (value.size() >= 2 && value.front() == '<' && value.back() == '>')
      value = value.substr(1, value.size() - 2);
    facts.contentId = std::string(value);
  }
  facts.fileName = part.fileName();
  facts.disposition = part.disposition();
  return facts;
}

std::string childIndex(const std::string &parent, size_t position) {
  return (parent.empty() ? "" : parent + ".") + std::to_string(position);
}

std::string describeType(const std::optional<mime::ContentType> &type) {
  if (!type) return "-";
  std::string text = printable(type->name());
  for (const auto &[key, value] : type->parameters()) {
    text += "; " + printable(key) + "=";
    if (isToken(value)) {
      text += printable(value);
      continue;
    }
    text += '"';
    for (const char c : printable(value)) text += (c == '"') ? std::string("\\\"") : std::string(1, c);
    text += '"';
  }
  return text;
}

std::string partLabel(size_t message, const std::string &index) {
  const std::string part = index.empty() ? "" : "part " + index;
  if (message == 0) return index.empty() ? "the message" : part;
  return "message " + std::to_string(message) + (part.empty() ? "" : ", " + part);
}

size_t reportDefects(const InputMessage &message, const std::string &where,
                     const std::vector<mime::Defect> &defects) {
  for (const mime::Defect &defect : defects) {
    std::cerr << "mimetool: " << where << ": " << defect.name() << " at offset "
              << message.inputOffset(defect.offset) << '\n';
  }
  return defects.size();
}

namespace {

// A parameter value that may stand without quotes: printable US-ASCII without RFC 2045 tspecials.
bool isToken(std::string_view value) {
  if (value.empty()) return false;
  for (const char c : value) {
    if (c <= ' ' || c >= 0x7F || std::string_view("()<>@,;:\\\"/[]?=").find(c) != std::string_view::npos)
      return false;
  }
  return true;
}

}  // namespace

}  // namespace mimetool

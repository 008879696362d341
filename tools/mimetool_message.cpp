// mimetool's message files.
//
// header-block := *( field-line ) CRLF        ; the empty line ends it
// field-line   := name ":" value CRLF *( (SP / HTAB) continuation CRLF )
// name         := 1*<printable US-ASCII, not ":">
// Only the four fields the tool uses are kept; every other field is read past. The library's multipart
// unpacker applies the same rules to the header blocks of the parts.
#include "mimetool_message.hpp"

#include <cstring>
#include <vector>

#include "mimetool_files.hpp"

namespace mimetool {

namespace {

constexpr std::string_view kCrLf = "\r\n";

std::vector<std::string> unfoldedLines(std::string_view header);
bool isFieldName(std::string_view name);
std::string lowerAscii(std::string_view text);
std::string_view trimmed(std::string_view text);

}  // namespace

bool hasLfLineEnds(std::string_view octets) {
  const size_t lf = octets.find('\n');
  return lf != std::string_view::npos && (lf == 0 || octets[lf - 1] != '\r');
}

std::string withCrLfLineEnds(std::string_view octets) {
  std::string out;
  out.reserve(octets.size() + octets.size() / 32);
  size_t start = 0;
  for (const char *lf; (lf = static_cast<const char *>(
                            std::memchr(octets.data() + start, '\n', octets.size() - start))) != nullptr;) {
    const size_t at = static_cast<size_t>(lf - octets.data());
    out.append(octets, start, at - start);
    out += (at > 0 && octets[at - 1] == '\r') ? "\n" : "\r\n";
    start = at + 1;
  }
  out.append(octets, start);
  return out;
}

ReadMessage readMessage(std::string_view octets) {
  // An mbox envelope line is no header field; a message saved from a mailbox may still begin with one.
  if (octets.starts_with("From ")) {
    const size_t end = octets.find(kCrLf);
    octets.remove_prefix(end == std::string_view::npos ? octets.size() : end + kCrLf.size());
  }
  std::string_view header = octets;
  std::optional<std::string_view> body;
  if (octets.starts_with(kCrLf)) {
    header = {};
    body = octets.substr(kCrLf.size());
  } else if (const size_t end = octets.find("\r\n\r\n"); end != std::string_view::npos) {
    header = octets.substr(0, end);
    body = octets.substr(end + 4);
  }

  ReadMessage message{mime::Entity(), std::nullopt};
  bool seen[4] = {};
  for (const std::string &line : unfoldedLines(header)) {
    const size_t colon = line.find(':');
    if (colon == std::string::npos || !isFieldName(std::string_view(line).substr(0, colon)))
      throw Failure("not a message: \"" + printable(line.substr(0, 40)) + "\" is no header field");
    const std::string name = lowerAscii(std::string_view(line).substr(0, colon));
    const std::string_view value = trimmed(std::string_view(line).substr(colon + 1));
    static constexpr std::string_view kNames[4] = {"content-type", "content-transfer-encoding", "content-id",
                                                   "content-disposition"};
    for (int field = 0; field < 4; ++field) {
      if (name != kNames[field]) continue;
      if (seen[field]) throw Failure("malformed message: " + line.substr(0, colon) + " given twice");
      seen[field] = true;
      switch (field) {
        case 0:
          message.entity.setContentType(value);
          break;
        case 1:
          message.entity.setContentTransferEncoding(value);
          break;
        case 2:
          message.entity.setContentId(value);
          break;
        default:
          message.contentDisposition = std::string(value);
          break;
      }
    }
  }
  if (body) message.entity.setBody(mime::Buffer(*body));
  return message;
}

std::string writeMessage(const mime::Entity &entity, bool mimeVersion) {
  const std::optional<mime::Buffer> body = entity.body();
  std::string out;
  if (mimeVersion) out += "MIME-Version: 1.0\r\n";
  if (auto value = entity.contentType()) out += "Content-Type: " + *value + "\r\n";
  if (auto value = entity.contentTransferEncoding()) out += "Content-Transfer-Encoding: " + *value + "\r\n";
  if (auto value = entity.contentId()) out += "Content-Id: " + *value + "\r\n";
  out += kCrLf;
  if (body) out += body->view();
  return out;
}

namespace {

// --- header lines ---

// The lines of the header block with folds undone: a line that begins with SP or HTAB continues the one
// before it (the CR LF goes, the white space stays).
std::vector<std::string> unfoldedLines(std::string_view header) {
  std::vector<std::string> lines;
  while (!header.empty()) {
    const size_t end = header.find(kCrLf);
    const std::string_view line = header.substr(0, end);
    if (line.starts_with(' ') || line.starts_with('\t')) {
      if (lines.empty()) throw Failure("not a message: its header block begins with a continuation line");
      lines.back() += line;
    } else {
      lines.emplace_back(line);
    }
    header.remove_prefix(end == std::string_view::npos ? header.size() : end + kCrLf.size());
  }
  return lines;
}

bool isFieldName(std::string_view name) {
  if (name.empty()) return false;
  for (const char c : name) {
    if (c <= ' ' || c >= 0x7F) return false;
  }
  return true;
}

std::string lowerAscii(std::string_view text) {
  std::string lower(text);
  for (char &c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

std::string_view trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

}  // namespace mimetool

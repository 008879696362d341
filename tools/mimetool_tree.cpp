// mimetool's view of a received message.
#include "mimetool_tree.hpp"

#include <cstdint>

#include "mimetool_files.hpp"

namespace mimetool {

namespace {

Part readPart(const mime::Entity &entity, const std::optional<std::string> &disposition,
              const mime::Options &opt, const std::string &index, int depth);
std::optional<std::string> fileNameOf(const std::optional<mime::ContentType> &type,
                                      const std::optional<std::string> &disposition,
                                      const mime::Options &opt);
std::optional<std::string> dispositionOf(const mime::Buffer &content, std::string_view boundary,
                                         const mime::Entity &part);
std::string childIndex(const std::string &parent, size_t position);
bool isToken(std::string_view value);
void collectLeaves(const Part &part, std::vector<const Part *> *leaves);

}  // namespace

Part readTree(const ReadMessage &message, const mime::Options &opt) {
  Part root = readPart(message.entity, message.contentDisposition, opt, "", 0);
  if (!root.isMultipart()) root.index = "1";
  return root;
}

std::string describeType(const Part &part) {
  if (!part.type) return "-";
  std::string text = printable(part.type->name());
  for (const auto &[key, value] : part.type->parameters()) {
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

std::vector<const Part *> leavesOf(const Part &root) {
  std::vector<const Part *> leaves;
  collectLeaves(root, &leaves);
  return leaves;
}

namespace {

// --- decoding ---

Part readPart(const mime::Entity &entity, const std::optional<std::string> &disposition,
              const mime::Options &opt, const std::string &index, int depth) {
  const std::string where = index.empty() ? "the message" : "part " + index;
  std::optional<mime::Decoded> decoded = mime::decode(entity, opt);
  if (!decoded) throw Failure(where + ": " + whyNotDecoded(entity, opt));

  Part part;
  part.index = index;
  part.type = std::move(decoded->contentType);
  part.transferEncoding = entity.contentTransferEncoding().value_or("");
  part.contentId = std::move(decoded->contentId);
  part.body = std::move(decoded->body);
  part.fileName = fileNameOf(part.type, disposition, opt).value_or("");
  if (!part.isMultipart()) return part;

  if (depth >= kMaxDepth) throw Failure(where + ": multiparts nested more than 64 deep");
  const mime::Buffer content = part.body.value_or(mime::Buffer());
  std::optional<std::vector<mime::Entity>> entities = mime::unpack(*part.type, content, opt);
  if (!entities) {
    throw Failure(where + ": " + part.type->name() +
                  " body is malformed (no boundary, a delimiter line with text after the boundary, no close "
                  "delimiter, or a broken part header)");
  }
  const std::string boundary = part.type->parameter("boundary").value_or("");
  for (size_t i = 0; i < entities->size(); ++i) {
    const mime::Entity &child = (*entities)[i];
    part.children.push_back(
        readPart(child, dispositionOf(content, boundary, child), opt, childIndex(index, i + 1), depth + 1));
  }
  return part;
}

}  // namespace

std::string whyNotDecoded(const mime::Entity &entity, const mime::Options &opt) {
  const std::optional<std::string> type = entity.contentType();
  if (type && !mime::ContentType::decode(*type, opt))
    return "Content-Type \"" + printable(*type) + "\" does not decode";
  const std::optional<std::string> cte = entity.contentTransferEncoding();
  mime::Entity fieldAlone;
  if (cte) {
    fieldAlone.setContentTransferEncoding(*cte);
    if (!mime::decode(fieldAlone, opt))
      return "unknown Content-Transfer-Encoding \"" + printable(*cte) + "\"";
  }
  if (const std::optional<std::string> id = entity.contentId()) {
    mime::Entity idAlone;
    idAlone.setContentId(*id);
    if (!mime::decode(idAlone, opt)) return "malformed Content-ID \"" + printable(*id) + "\"";
  }
  return "the body does not decode as " + cte.value_or("binary");
}

namespace {

// The name the sender gave the part's file: Content-Disposition's "filename" first (RFC 2183), then the
// "filename" and the older "name" parameters of Content-Type. RFC 2231 values come decoded.
std::optional<std::string> fileNameOf(const std::optional<mime::ContentType> &type,
                                      const std::optional<std::string> &disposition,
                                      const mime::Options &opt) {
  if (disposition) {
    // A disposition value has the parameter grammar of a Content-Type after a single token; read it with
    // the library's own parameter decoder by standing a media type name in for the token.
    const std::string_view value = *disposition;
    const size_t semicolon = value.find(';');
    if (semicolon != std::string_view::npos) {
      if (auto asType =
              mime::ContentType::decode("x-disposition/x" + std::string(value.substr(semicolon)), opt)) {
        if (auto name = asType->parameter("filename")) return name;
      }
    }
  }
  if (!type) return std::nullopt;
  if (auto name = type->parameter("filename")) return name;
  return type->parameter("name");
}

// --- part header blocks ---

// The Content-Disposition of a part the library unpacked, read from the part's own header block. The
// library keeps only three fields of a part, but its bodies share the content's storage, so the body's
// position gives the end of the header block; the part's delimiter line, the nearest one before it, gives
// its start (no delimiter can stand inside a header block: the unpacker would have ended the part there).
// Nothing for a part without a body or without such a field.
std::optional<std::string> dispositionOf(const mime::Buffer &content, std::string_view boundary,
                                         const mime::Entity &part) {
  const std::optional<mime::Buffer> body = part.body();
  if (!body || boundary.empty()) return std::nullopt;
  const auto base = reinterpret_cast<std::uintptr_t>(content.bytes().data());
  const auto at = reinterpret_cast<std::uintptr_t>(body->bytes().data());
  if (at < base + 4 || at > base + content.size()) return std::nullopt;
  const std::string_view text = content.view();
  const size_t bodyStart = at - base;
  if (text.substr(bodyStart - 4, 4) != "\r\n\r\n") return std::nullopt;
  const size_t headerEnd = bodyStart - 4;

  const std::string delimiter = "\r\n--" + std::string(boundary);
  size_t delimiterStart = text.rfind(delimiter, headerEnd);
  if (delimiterStart == std::string_view::npos) {
    if (!text.starts_with(delimiter.substr(2))) return std::nullopt;
    delimiterStart = 0;
  }
  const size_t lineEnd = text.find("\r\n", delimiterStart + 2);
  if (lineEnd == std::string_view::npos || lineEnd + 2 > headerEnd) return std::nullopt;  // no header fields
  try {
    return readMessage(std::string(text.substr(lineEnd + 2, headerEnd - lineEnd - 2)) + "\r\n\r\n")
        .contentDisposition;
  } catch (const Failure &) {
    return std::nullopt;  // the library read this block; a field it ignores may still be odd
  }
}

// --- text ---

std::string childIndex(const std::string &parent, size_t position) {
  return (parent.empty() ? "" : parent + ".") + std::to_string(position);
}

// A parameter value that may stand without quotes: printable US-ASCII without RFC 2045 tspecials.
bool isToken(std::string_view value) {
  if (value.empty()) return false;
  for (const char c : value) {
    if (c <= ' ' || c >= 0x7F || std::string_view("()<>@,;:\\\"/[]?=").find(c) != std::string_view::npos)
      return false;
  }
  return true;
}

void collectLeaves(const Part &part, std::vector<const Part *> *leaves) {
  if (!part.isMultipart()) {
    leaves->push_back(&part);
    return;
  }
  for (const Part &child : part.children) collectLeaves(child, leaves);
}

}  // namespace

}  // namespace mimetool

// Multipart unpacking: a multipart body split at its delimiter lines into one entity per part.
//
//   multipart-body := [preamble CRLF] dash-boundary transport-padding CRLF body-part
//                     *( delimiter transport-padding CRLF body-part ) close-delimiter [epilogue]
//   delimiter      := CRLF dash-boundary        close-delimiter := delimiter "--"
//   transport-padding := *LWSP-char
//   body-part      := CRLF body / header-lines CRLF CRLF [body] / header-lines CRLF
//
// A delimiter line with anything else after the boundary is malformed and ends the whole unpack. The last
// form of body-part (header fields and no body; the CR LF before the next delimiter belongs to that
// delimiter) is read leniently: when it does not read as header lines the part is an empty entity.
// Every scan is a memmem over octets not looked at before, so the whole unpack is linear in the content,
// and every body is a slice of the content (no copy).
#include <algorithm>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "kx/kx_utf8.hpp"
#include "mime/mime_char.h"
#include "mime/mime_content_type.h"
#include "mime/mime_entity.h"
#include "mime/mime_failure.hpp"
#include "mime/mime_multipart.h"
#include "mime/mime_multipart.hpp"
#include "mime/mime_object.hpp"

namespace {

using mime::Ref;

enum class DelimiterLine { kMalformed, kClose, kOpen };

DelimiterLine readDelimiterLine(KX_BUFFER *buf, std::string_view bytes, std::string_view delimiter,
                                kxInt offset, kxInt *partStart);
bool readPart(KX_BUFFER *buf, std::string_view bytes, kxInt idx, kxInt byteCount, Ref<MIME_ENTITY> *entity);

// Records the failure of the unpack and gives its answer, null.
KX_VECTOR *failed(kxInt kind, kxInt offset = -1) {
  mime::fail(kind, offset);
  return nullptr;
}

}  // namespace

extern "C" KX_VECTOR *mimeMultipartTryUnpack(MIME_CONTENT_TYPE **contentType, KX_BUFFER *content,
                                             MIME_OPTIONS *opt) {
  MIME_ASSERT(contentType);
  MIME_ASSERT(*contentType);
  MIME_ASSERT(content);
  MIME_ASSERT(opt);
  mime::clearFailure("multipart body");

  Ref<KX_VECTOR> parts(kxVectorCreate());
  Ref<KX_STRING> boundary(mimeContentTypeParameterCstr(*contentType, "boundary", -1));
  if (!boundary) return failed(MIME_FAILURE_NO_BOUNDARY);
  if (!mimeMultipartBoundaryOk(boundary.get())) return failed(MIME_FAILURE_BAD_BOUNDARY);
  const mime::multipart::Delimiter delimiter(boundary.get());
  const std::string_view bytes = mime::multipart::bytesOf(content);

  // The preamble before the first delimiter is skipped unread.
  kxInt at = mime::multipart::findDelimiter(bytes, delimiter, 0);
  if (at < 0) return failed(MIME_FAILURE_NO_DELIMITER);
  for (;;) {
    kxInt partStart = 0;
    switch (readDelimiterLine(content, bytes, delimiter.bare(), at, &partStart)) {
      case DelimiterLine::kMalformed:
        return nullptr;
      case DelimiterLine::kClose:
        return parts.release();  // the epilogue is ignored unread
      case DelimiterLine::kOpen:
        break;
    }
    const kxInt next = mime::multipart::findDelimiter(bytes, delimiter, static_cast<size_t>(partStart));
    if (next < 0) return failed(MIME_FAILURE_NO_CLOSE_DELIMITER, partStart);
    Ref<MIME_ENTITY> entity;
    if (!readPart(content, bytes, partStart, next - partStart, &entity)) return nullptr;
    kxVectorAppendObj(parts.addr(), mimeEntityObj(entity.get()));
    at = next;
  }
}

namespace {

// --- delimiter lines ---

// Reads the delimiter line at offset: the offset of the CR LF before the delimiter, or 0 for a delimiter
// at the very start of the content. On an open delimiter *partStart receives the offset after its CR LF;
// a malformed line is recorded as the failure, at the first octet that does not fit.
DelimiterLine readDelimiterLine(KX_BUFFER *buf, std::string_view bytes, std::string_view delimiter,
                                kxInt offset, kxInt *partStart) {
  // clang-format off
  MIME_ASSERT(offset >= 0);
  MIME_ASSERT(offset <= kxBufferLength( buf ));
  // clang-format on
  size_t at = static_cast<size_t>(offset);
  const auto malformed = [&at] {
    mime::fail(MIME_FAILURE_TEXT_AFTER_BOUNDARY, at);
    return DelimiterLine::kMalformed;
  };
  if (bytes.size() - at > 3 && bytes[at] == '\r') {
    if (bytes[at + 1] != '\n') return malformed();
    at += 2;
  } else if (at != 0) {
    return malformed();
  }
  if (bytes.substr(at, delimiter.size()) != delimiter) return malformed();
  at += delimiter.size();
  if (bytes.substr(at, 2) == "--") return DelimiterLine::kClose;
  while (at < bytes.size() && mime::chars::isLwsp(static_cast<kxByte>(bytes[at]))) ++at;
  if (bytes.substr(at, 2) != "\r\n") return malformed();
  *partStart = static_cast<kxInt>(at + 2);
  return DelimiterLine::kOpen;
}

// --- header lines ---

using Chars = std::span<const kxChar>;

enum class Field { kNone, kContentTransferEncoding, kContentType, kContentId };

bool equalsAsciiCaseFold(Chars text, std::string_view lowerAscii) {
  if (text.size() != lowerAscii.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    kxChar c = text[i];
    if (c >= 'A' && c <= 'Z') c += 'a' - 'A';
    if (c != static_cast<kxChar>(lowerAscii[i])) return false;
  }
  return true;
}

Field fieldNamed(Chars name) {
  if (equalsAsciiCaseFold(name, "content-transfer-encoding")) return Field::kContentTransferEncoding;
  if (equalsAsciiCaseFold(name, "content-type")) return Field::kContentType;
  if (equalsAsciiCaseFold(name, "content-id")) return Field::kContentId;
  return Field::kNone;
}

// field-name := 1*<any CHAR, excluding CTLs, SPACE and ":">
bool fieldNameOk(Chars name) {
  if (name.empty()) return false;
  for (kxChar c : name) {
    if (mime::chars::isCtl(c) || mime::chars::isSpace(c)) return false;
  }
  return true;
}

// Reads one unfolded header line into the entity: MIME_FAILURE_NONE, or why the line makes the block
// unreadable (a line without a colon, a bad field name, a repeated MIME field). Fields other than the three
// MIME ones are skipped.
kxInt readHeaderLine(Chars line, Ref<MIME_ENTITY> *entity) {
  const auto colon = std::find(line.begin(), line.end(), kxChar{':'});
  if (colon == line.end()) return MIME_FAILURE_HEADER_LINE_NOT_FIELD;
  const Chars name(line.begin(), colon);
  if (!fieldNameOk(name)) return MIME_FAILURE_HEADER_LINE_NOT_FIELD;
  const Field field = fieldNamed(name);
  if (field == Field::kNone) return MIME_FAILURE_NONE;

  const Chars rawValue(colon + 1, line.end());
  Ref<KX_STRING> untrimmed(
      rawValue.empty() ? kxStringCreate()
                       : kxStringCreateFromChars(rawValue.data(), static_cast<kxInt>(rawValue.size())));
  Ref<KX_STRING> value(kxStringTrim(untrimmed.get()));
  MIME_ENTITY **ent = entity->addr();
  constexpr kxInt kRepeated = MIME_FAILURE_HEADER_FIELD_REPEATED;
  switch (field) {
    case Field::kContentTransferEncoding:
      if (mimeEntityHasContentTransferEncoding(*ent)) return kRepeated;
      mimeEntitySetContentTransferEncoding(ent, value.get());
      break;
    case Field::kContentType:
      if (mimeEntityHasContentType(*ent)) return kRepeated;
      mimeEntitySetContentType(ent, value.get());
      break;
    case Field::kContentId:
      if (mimeEntityHasContentId(*ent)) return kRepeated;
      mimeEntitySetContentId(ent, value.get());
      break;
    case Field::kNone:
      break;
  }
  return MIME_FAILURE_NONE;
}

// The offset of the first CR LF at or after start, or the block's length when there is none.
size_t lineEnd(Chars block, size_t start) {
  const kxChar *chars = block.data();
  const size_t size = block.size();
  for (size_t i = start; i + 1 < size; ++i) {
    if (chars[i] == '\r' && chars[i + 1] == '\n') return i;
  }
  return size;
}

// Why a header block is unreadable: the kind of failure and the code point where its line starts.
struct HeaderFault {
  kxInt kind = MIME_FAILURE_NONE;
  size_t at = 0;
};

// Splits the block into lines at each CR LF and unfolds them: a line that begins with a space or a tab
// continues the line before it, joined without the CR LF. The block's first line cannot be a
// continuation. Linear: each line is appended once to the unfolded line it belongs to.
bool readHeaderLines(Chars block, Ref<MIME_ENTITY> *entity, HeaderFault *fault) {
  std::vector<kxChar> unfolded;
  bool haveLine = false;
  size_t start = 0;
  size_t unfoldedStart = 0;
  for (;;) {
    const size_t end = lineEnd(block, start);
    const Chars line = block.subspan(start, end - start);
    if (!line.empty() && mime::chars::isLwsp(line.front())) {
      if (!haveLine) {
        *fault = {MIME_FAILURE_HEADER_STARTS_FOLDED, start};
        return false;
      }
      unfolded.insert(unfolded.end(), line.data(), line.data() + line.size());
    } else {
      if (haveLine) {
        *fault = {readHeaderLine(unfolded, entity), unfoldedStart};
        if (fault->kind != MIME_FAILURE_NONE) return false;
      }
      unfolded.assign(line.data(), line.data() + line.size());
      unfoldedStart = start;
      haveLine = true;
    }
    if (end == block.size()) break;
    start = end + 2;
  }
  *fault = {readHeaderLine(unfolded, entity), unfoldedStart};
  return fault->kind == MIME_FAILURE_NONE;
}

// The offset of the first octet that does not read as UTF-8 (a U+FFFD written out in UTF-8 does).
size_t firstNonUtf8(std::span<const kxByte> octets) {
  constexpr kxByte kReplacement[3] = {0xEF, 0xBF, 0xBD};
  const kxByte *p = octets.data();
  const kxByte *end = p + octets.size();
  while (p < end) {
    kxChar c;
    const kxByte *next = kx::utf8::decode(p, end, &c);
    if (c == kx::utf8::kReplacement && !(next - p == 3 && std::equal(p, next, kReplacement))) break;
    p = next;
  }
  return static_cast<size_t>(p - octets.data());
}

// The number of octets that the first count code points of text take in UTF-8.
kxInt utf8LengthOf(Chars text, size_t count) {
  kxInt length = 0;
  for (size_t i = 0; i < count; ++i) length += kx::utf8::encodedLength(text[i]);
  return length;
}

// Reads the header block (the octets before the blank line) in the charset header lines are written in. An
// unreadable block is recorded as the failure, at its octet offset in buf.
bool readHeaderBlock(KX_BUFFER *buf, kxInt idx, kxInt byteCount, Ref<MIME_ENTITY> *entity) {
  Ref<KX_BUFFER> octets(kxBufferRead(buf, idx, byteCount));
  Ref<KX_STRING> text(kxCharsetTryConvertBufferToStringWithFlags(octets.get(), KX_CHARSET_UTF_8, 1));
  if (!text) {
    const std::span<const kxByte> block(kxBufferBacking(octets.get()), static_cast<size_t>(byteCount));
    return mime::fail(MIME_FAILURE_HEADER_NOT_UTF8, idx + static_cast<kxInt>(firstNonUtf8(block)));
  }
  const Chars chars(kxStringBacking(text.get()), static_cast<size_t>(kxStringLength(text.get())));
  HeaderFault fault;
  if (readHeaderLines(chars, entity, &fault)) return true;
  return mime::fail(fault.kind, idx + utf8LengthOf(chars, fault.at));
}

// --- parts ---

// Reads the part of byteCount octets at idx into a new entity. False when the part breaks the whole
// unpack (a header block that does not convert or does not read as header lines).
bool readPart(KX_BUFFER *buf, std::string_view bytes, kxInt idx, kxInt byteCount, Ref<MIME_ENTITY> *entity) {
  // clang-format off
  MIME_ASSERT(byteCount >= 0);
  MIME_ASSERT(KX_INT_ADD_OK( idx, byteCount ));
  MIME_ASSERT(idx + byteCount <= kxBufferLength( buf ));
  // clang-format on
  entity->reset(mimeEntityCreate());
  const std::string_view part = bytes.substr(static_cast<size_t>(idx), static_cast<size_t>(byteCount));

  // CRLF body: a part without header fields.
  if (part.starts_with("\r\n")) {
    if (part.size() > 2) {
      Ref<KX_BUFFER> body(kxBufferRead(buf, idx + 2, byteCount - 2));
      mimeEntitySetBody(entity->addr(), body.get());
    }
    return true;
  }

  // header-lines CRLF CRLF [body]: the first blank line, searched from the part's second octet.
  const void *blank = part.size() > 1 ? memmem(part.data() + 1, part.size() - 1, "\r\n\r\n", 4) : nullptr;
  if (!blank) {
    // header-lines CRLF with no body; anything that does not read as such is dropped, not an error.
    if (part.ends_with("\r\n") && !readHeaderBlock(buf, idx, byteCount - 2, entity)) {
      entity->reset(mimeEntityCreate());
      mime::clearFailure("multipart body");  // not a failure of the unpack
    }
    return true;
  }
  const kxInt headerLength = static_cast<const char *>(blank) - part.data();
  if (!readHeaderBlock(buf, idx, headerLength, entity)) return false;
  const kxInt bodyStart = headerLength + 4;
  if (bodyStart < byteCount) {  // an empty body is no body at all
    Ref<KX_BUFFER> body(kxBufferRead(buf, idx + bodyStart, byteCount - bodyStart));
    mimeEntitySetBody(entity->addr(), body.get());
  }
  return true;
}

}  // namespace

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
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "kx/kx_libraries.hpp"
#include "mime/mime_char.h"
#include "mime/mime_content_type.h"
#include "mime/mime_entity.h"
#include "mime/mime_failure.hpp"
#include "mime/mime_header.hpp"
#include "mime/mime_multipart.h"
#include "mime/mime_multipart.hpp"
#include "mime/mime_object.hpp"

namespace {

using kx::Ref;

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

enum class Field { kNone, kContentTransferEncoding, kContentType, kContentId };

Field fieldNamed(std::string_view name) {
  using mime::header::equalsIgnoringCase;
  if (equalsIgnoringCase(name, "content-transfer-encoding")) return Field::kContentTransferEncoding;
  if (equalsIgnoringCase(name, "content-type")) return Field::kContentType;
  if (equalsIgnoringCase(name, "content-id")) return Field::kContentId;
  return Field::kNone;
}

// Reads one field into the entity: MIME_FAILURE_NONE, or MIME_FAILURE_HEADER_FIELD_REPEATED for a second
// instance of a MIME field. Fields other than the three MIME ones are skipped.
kxInt readField(std::string_view field, Ref<MIME_ENTITY> *entity) {
  const Field which = fieldNamed(mime::header::nameOf(field));
  if (which == Field::kNone) return MIME_FAILURE_NONE;
  std::string scratch;
  const std::string_view octets = mime::header::valueOf(field, mime::header::LineEnds::kCrLf, &scratch);
  Ref<KX_STRING> value(kxStringCreateFromCstr(octets.data(), static_cast<kxInt>(octets.size())));
  MIME_ENTITY **ent = entity->addr();
  constexpr kxInt kRepeated = MIME_FAILURE_HEADER_FIELD_REPEATED;
  switch (which) {
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

// The failure a defect of the strict header scan stands for.
kxInt failureOf(const MIME_DEFECT &defect, std::string_view block) {
  if (defect.kind == MIME_DEFECT_EIGHT_BIT_HEADER) return MIME_FAILURE_HEADER_NOT_UTF8;
  if (defect.offset == 0 && !block.empty() && mime::chars::isLwsp(static_cast<unsigned char>(block.front())))
    return MIME_FAILURE_HEADER_STARTS_FOLDED;
  return MIME_FAILURE_HEADER_LINE_NOT_FIELD;
}

// Reads the header block (the octets before the blank line, at idx in the multipart body) strictly: lines
// end at CR LF only, every line is a field or a fold of one, and every octet is UTF-8 (the charset header
// lines are written in). An unreadable block is recorded as the failure, at its octet offset.
bool readHeaderBlock(std::string_view block, kxInt idx, Ref<MIME_ENTITY> *entity) {
  const mime::header::Block scanned =
      mime::header::scan(block, 0, mime::header::LineEnds::kCrLf, std::numeric_limits<size_t>::max());
  if (!scanned.defects.empty()) {
    const MIME_DEFECT *first = &scanned.defects.front();
    for (const MIME_DEFECT &defect : scanned.defects) {
      if (defect.offset < first->offset) first = &defect;
    }
    return mime::fail(failureOf(*first, block), idx + first->offset);
  }
  if (scanned.end != block.size()) return mime::fail(MIME_FAILURE_HEADER_LINE_NOT_FIELD, idx + scanned.end);
  for (size_t i = 0; i < scanned.starts.size(); ++i) {
    const size_t end = i + 1 < scanned.starts.size() ? scanned.starts[i + 1] : scanned.fieldsEnd;
    const kxInt kind = readField(block.substr(scanned.starts[i], end - scanned.starts[i]), entity);
    if (kind != MIME_FAILURE_NONE) return mime::fail(kind, idx + static_cast<kxInt>(scanned.starts[i]));
  }
  return true;
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
    if (part.ends_with("\r\n") && !readHeaderBlock(part.substr(0, part.size() - 2), idx, entity)) {
      entity->reset(mimeEntityCreate());
      mime::clearFailure("multipart body");  // not a failure of the unpack
    }
    return true;
  }
  const kxInt headerLength = static_cast<const char *>(blank) - part.data();
  if (!readHeaderBlock(part.substr(0, static_cast<size_t>(headerLength)), idx, entity)) return false;
  const kxInt bodyStart = headerLength + 4;
  if (bodyStart < byteCount) {  // an empty body is no body at all
    Ref<KX_BUFFER> body(kxBufferRead(buf, idx + bodyStart, byteCount - bodyStart));
    mimeEntitySetBody(entity->addr(), body.get());
  }
  return true;
}

}  // namespace

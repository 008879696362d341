// Multipart packing: entities joined into one multipart body under a boundary that begins no line of any
// body.
//
//   multipart-body := dash-boundary CRLF body-part *( CRLF dash-boundary CRLF body-part )
//                     CRLF dash-boundary "--" CRLF
//   body-part      := [Content-Type line] [Content-Transfer-Encoding line] [Content-Id line] CRLF [body]
//   field line     := field-name ": " value CRLF   ; value may span lines only through folds CRLF (SP / HTAB)
//
// The size of the output is known before anything is written: one allocation, one copy of each body, which
// also checks the body against the boundary.
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "mime/mime_content_type.h"
#include "mime/mime_entity.h"
#include "mime/mime_failure.hpp"
#include "mime/mime_header.hpp"
#include "mime/mime_multipart.h"
#include "mime/mime_multipart.hpp"
#include "mime/mime_object.hpp"

namespace {

using kx::Ref;

// At most this many boundaries are tested against the bodies: the caller's (or a first generated one)
// and nine generated replacements.
constexpr int kBoundaryAttempts = 10;

// One entity as it will be written: its header lines, in octets, and its body (may be null).
struct PackedPart {
  std::string headerLines;
  Ref<KX_BUFFER> body;
};

kxInt packPart(MIME_ENTITY *entity, PackedPart *part);
Ref<KX_STRING> firstBoundary(MIME_CONTENT_TYPE *contentType);
Ref<KX_STRING> replacementBoundary(const std::vector<PackedPart> &parts);
KX_BUFFER *writeBody(const std::vector<PackedPart> &parts, const mime::multipart::Delimiter &delimiter,
                     bool *collided);

// Records the failure of the pack and gives its answer, null.
KX_BUFFER *failed(kxInt kind, kxInt offset = -1) {
  mime::fail(kind, offset);
  return nullptr;
}

}  // namespace

extern "C" KX_BUFFER *mimeMultipartTryPack(MIME_CONTENT_TYPE **contentType, KX_VECTOR *entities,
                                           MIME_OPTIONS *opt) {
  // clang-format off
  MIME_ASSERT(contentType);
  MIME_ASSERT(*contentType);
  MIME_ASSERT(kxVectorLength( entities ));
  MIME_ASSERT(kxVectorContainsOnly( entities, mimeEntitySort() ));
  MIME_ASSERT(opt);
  // clang-format on

  mime::clearFailure("entities");
  const kxInt count = kxVectorLength(entities);
  KX_OBJ *const *elements = kxVectorBacking(entities);
  std::vector<PackedPart> parts(static_cast<size_t>(count));
  for (kxInt i = 0; i < count; ++i) {
    const kxInt refusal = packPart(mimeEntityFrom(elements[i]), &parts[static_cast<size_t>(i)]);
    if (refusal != MIME_FAILURE_NONE) return failed(refusal, i);
  }
  mime::setFailureSubject("multipart body");

  // The bodies are checked against the first boundary while they are copied; only when one holds it are
  // replacements tested on their own, and the body written again.
  Ref<KX_STRING> boundary = firstBoundary(*contentType);
  bool collided = false;
  Ref<KX_BUFFER> packed(writeBody(parts, mime::multipart::Delimiter(boundary.get()), &collided));
  if (packed && collided) {
    boundary = replacementBoundary(parts);
    if (!boundary) return failed(MIME_FAILURE_BOUNDARY_COLLISIONS);
    packed.reset(writeBody(parts, mime::multipart::Delimiter(boundary.get()), nullptr));
  }
  if (!packed) return failed(MIME_FAILURE_TOO_LARGE);
  mimeContentTypeSetParameterCstr(contentType, "boundary", -1, boundary.get());
  return packed.release();
}

namespace {

// --- header lines ---

// Appends "name: value" CR LF for a present field, the value in UTF-8 (the charset header lines are read
// back with). MIME_FAILURE_NONE, or why the value cannot be written as a header line.
kxInt appendFieldLine(std::string *lines, std::string_view name, KX_STRING *value) {
  if (!value) return MIME_FAILURE_NONE;
  Ref<KX_BUFFER> octets(kxCharsetConvertStringToBuffer(value, KX_CHARSET_UTF_8));
  // A code point UTF-8 cannot carry (a surrogate, or beyond U+10FFFF).
  if (!octets) return MIME_FAILURE_HEADER_VALUE_NOT_ENCODABLE;
  if (!mime::header::appendField(lines, name, mime::multipart::bytesOf(octets.get())))
    return MIME_FAILURE_HEADER_VALUE_LINE_BREAK;
  return MIME_FAILURE_NONE;
}

// The entity's header lines and body: MIME_FAILURE_NONE, or why a field value cannot be written.
kxInt packPart(MIME_ENTITY *entity, PackedPart *part) {
  Ref<KX_STRING> contentType(mimeEntityContentType(entity));
  Ref<KX_STRING> contentTransferEncoding(mimeEntityContentTransferEncoding(entity));
  Ref<KX_STRING> contentId(mimeEntityContentId(entity));
  part->body.reset(mimeEntityBody(entity));
  // Always in this order, whatever order the fields were set in.
  kxInt refusal = appendFieldLine(&part->headerLines, "Content-Type", contentType.get());
  if (refusal == MIME_FAILURE_NONE)
    refusal = appendFieldLine(&part->headerLines, "Content-Transfer-Encoding", contentTransferEncoding.get());
  if (refusal == MIME_FAILURE_NONE)
    refusal = appendFieldLine(&part->headerLines, "Content-Id", contentId.get());
  return refusal;
}

// --- boundary choice ---

// A boundary collides when some body begins with its delimiter or holds CR LF and the delimiter: such a
// line would read back as a delimiter line (or as a malformed one that ends the unpack).
bool collides(KX_STRING *boundary, const std::vector<PackedPart> &parts) {
  const mime::multipart::Delimiter delimiter(boundary);
  for (const PackedPart &part : parts) {
    if (part.body &&
        mime::multipart::findDelimiter(mime::multipart::bytesOf(part.body.get()), delimiter, 0) >= 0) {
      return true;
    }
  }
  return false;
}

// The caller's boundary when it is valid, else a generated one: the first to be tested.
Ref<KX_STRING> firstBoundary(MIME_CONTENT_TYPE *contentType) {
  Ref<KX_STRING> boundary(mimeContentTypeParameterCstr(contentType, "boundary", -1));
  if (!boundary || !mimeMultipartBoundaryOk(boundary.get())) boundary.reset(mimeMultipartBoundaryGenerate());
  return boundary;
}

// After the first boundary collided: the first of up to nine generated ones that collides with no body;
// null when every one tested collides.
Ref<KX_STRING> replacementBoundary(const std::vector<PackedPart> &parts) {
  for (int attempt = 2; attempt <= kBoundaryAttempts; ++attempt) {
    Ref<KX_STRING> boundary(mimeMultipartBoundaryGenerate());
    if (!collides(boundary.get(), parts)) return boundary;
  }
  return Ref<KX_STRING>();
}

// --- output ---

// Appends octets at *cursor and moves the cursor past them.
void put(kxByte **cursor, std::string_view octets) {
  if (octets.empty()) return;
  std::memcpy(*cursor, octets.data(), octets.size());
  *cursor += octets.size();
}

// The multipart body of the parts under the delimiter, in one buffer sized in advance; null when it
// would exceed the largest buffer kx can hold. With `collided`, each body is checked for the delimiter as
// it is copied, and *collided tells whether any holds it (the body is then of no use).
KX_BUFFER *writeBody(const std::vector<PackedPart> &parts, const mime::multipart::Delimiter &delimiter,
                     bool *collided) {
  constexpr std::string_view kCrLf = "\r\n";
  const std::string_view dashBoundary = delimiter.bare();
  const kxInt delimiterLine = static_cast<kxInt>(dashBoundary.size()) + 2;
  kxInt total = static_cast<kxInt>(kCrLf.size() + dashBoundary.size() + 4);  // CR LF "--" B "--" CR LF
  for (size_t i = 0; i < parts.size(); ++i) {
    const kxInt bodyLength = parts[i].body ? kxBufferLength(parts[i].body.get()) : 0;
    total +=
        (i > 0 ? 2 : 0) + delimiterLine + static_cast<kxInt>(parts[i].headerLines.size()) + 2 + bodyLength;
    if (total > KX_BUFFER_MAX_LENGTH) return nullptr;
  }

  kxByte *cursor = nullptr;
  KX_BUFFER *packed = kxBufferCreateUninitialized(total, &cursor);
  if (collided) *collided = false;
  for (size_t i = 0; i < parts.size(); ++i) {
    // The CR LF that ends each body belongs to the delimiter after it.
    if (i > 0) put(&cursor, kCrLf);
    put(&cursor, dashBoundary);
    put(&cursor, kCrLf);
    put(&cursor, parts[i].headerLines);
    put(&cursor, kCrLf);
    if (!parts[i].body) continue;
    const std::string_view body = mime::multipart::bytesOf(parts[i].body.get());
    if (collided) {
      *collided |= mime::multipart::copyFindingDelimiter(body, delimiter, cursor);
      cursor += body.size();
    } else {
      put(&cursor, body);
    }
  }
  put(&cursor, kCrLf);
  put(&cursor, dashBoundary);
  put(&cursor, "--");
  put(&cursor, kCrLf);
  return packed;
}

}  // namespace

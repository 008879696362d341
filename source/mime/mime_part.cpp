// MIME_PART: what the message reader built, read back; and a part's body decoded tolerantly.
#include "mime/mime_part.h"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "mime/mime_content_disposition.h"
#include "mime/mime_content_transfer_encoding.h"
#include "mime/mime_content_type.h"
#include "mime/mime_encoded_word.h"
#include "mime/mime_header.h"
#include "mime/mime_header.hpp"
#include "mime/mime_multipart.hpp"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"
#include "mime/mime_part.hpp"

MIME_DEFINE_SORT_RECORD(MIME_PART, mime___PartFreeFunc, mime___PartCompareFunc, nullptr);
MIME_DEFINE_OBJECT_FAMILY(Part, MIME_PART)

using kx::Ref;

namespace {
KX_BUFFER *decodeBase64(KX_BUFFER *body, MIME_OPTIONS *opt, MIME_DEFECT *defect);
KX_BUFFER *decodeQuotedPrintable(KX_BUFFER *body, MIME_OPTIONS *opt, MIME_DEFECT *defect);
}  // namespace

namespace mime::part {

MIME_PART *create(KX_BUFFER *message) {
  MIME_PART *part = mime::createObject<MIME_PART>(&mime___sort_MIME_PART);
  part->message = mime::retainField(message);
  return part;
}

MIME_PART *copyWithoutChildren(MIME_PART *part) {
  MIME_PART *copy = create(part->message);
  copy->header = mime::retainField(part->header);
  copy->contentType = mime::retainField(part->contentType);
  if (part->contentDisposition) copy->contentDisposition = mime::retainField(part->contentDisposition);
  if (part->defects) copy->defects = new std::vector<MIME_DEFECT>(*part->defects);
  copy->contentTransferEncoding = part->contentTransferEncoding;
  copy->offset = part->offset;
  copy->length = part->length;
  copy->bodyOffset = part->bodyOffset;
  return copy;
}

}  // namespace mime::part

extern "C" {

MIME_HEADER *mimePartHeader(MIME_PART *part) {
  MIME_ASSERT(part);
  return mime::retainField(part->header);
}

MIME_CONTENT_TYPE *mimePartContentType(MIME_PART *part) {
  MIME_ASSERT(part);
  return mime::retainField(part->contentType);
}

kxInt mimePartContentTransferEncoding(MIME_PART *part) {
  MIME_ASSERT(part);
  return part->contentTransferEncoding;
}

MIME_CONTENT_DISPOSITION *mimePartContentDisposition(MIME_PART *part) {
  MIME_ASSERT(part);
  return part->contentDisposition ? mime::retainField(part->contentDisposition) : nullptr;
}

KX_STRING *mimePartDisposition(MIME_PART *part) {
  MIME_ASSERT(part);
  return part->contentDisposition ? mimeContentDispositionType(part->contentDisposition) : nullptr;
}

KX_STRING *mimePartFileName(MIME_PART *part) {
  MIME_ASSERT(part);
  Ref<KX_STRING> name(part->contentDisposition ? mimeContentDispositionFilename(part->contentDisposition)
                                               : nullptr);
  if (!name) name.reset(mimeContentTypeParameterCstr(part->contentType, "name", -1));
  // Senders put encoded words in file names, quoted as if the value were unstructured text.
  return name ? mimeEncodedWordDecode(name.get(), nullptr) : nullptr;
}

kxInt mimePartOffset(MIME_PART *part) {
  MIME_ASSERT(part);
  return part->offset;
}

kxInt mimePartLength(MIME_PART *part) {
  MIME_ASSERT(part);
  return part->length;
}

kxInt mimePartBodyOffset(MIME_PART *part) {
  MIME_ASSERT(part);
  return part->bodyOffset;
}

KX_BUFFER *mimePartBody(MIME_PART *part) {
  MIME_ASSERT(part);
  return kxBufferRead(part->message, part->bodyOffset, part->offset + part->length - part->bodyOffset);
}

KX_BUFFER *mimePartDecodeBody(MIME_PART *part, MIME_OPTIONS *opt, MIME_DEFECT *defect) {
  MIME_ASSERT(part);
  MIME_ASSERT(opt);
  MIME_DEFECT none{-1, 0};
  MIME_DEFECT *found = defect ? defect : &none;
  *found = none;
  Ref<KX_BUFFER> body(mimePartBody(part));
  KX_BUFFER *decoded = nullptr;
  switch (part->contentTransferEncoding) {
    case MIME_CONTENT_TRANSFER_ENCODING_BASE64:
      decoded = decodeBase64(body.get(), opt, found);
      break;
    case MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE:
      decoded = decodeQuotedPrintable(body.get(), opt, found);
      break;
    default:
      return body.release();
  }
  if (found->kind >= 0) found->offset += part->bodyOffset;
  return decoded;
}

kxInt mimePartChildrenLength(MIME_PART *part) {
  MIME_ASSERT(part);
  return part->children ? kxVectorLength(part->children) : 0;
}

MIME_PART *mimePartChildAt(MIME_PART *part, kxInt index) {
  MIME_ASSERT(part);
  MIME_ASSERT(index >= 0 && index < mimePartChildrenLength(part));
  return mimePartFrom(kxVectorObjAt(part->children, index));
}

kxInt mimePartDefectsLength(MIME_PART *part) {
  MIME_ASSERT(part);
  return part->defects ? static_cast<kxInt>(part->defects->size()) : 0;
}

MIME_DEFECT mimePartDefectAt(MIME_PART *part, kxInt index) {
  MIME_ASSERT(part);
  MIME_ASSERT(index >= 0 && index < mimePartDefectsLength(part));
  return (*part->defects)[static_cast<size_t>(index)];
}

// --- sort functions ---

void mime___PartFreeFunc(KX_OBJ *obj) {
  auto *part = reinterpret_cast<MIME_PART *>(obj);
  mime::killField(&part->message);
  if (part->header) mime::killField(&part->header);
  if (part->contentType) mime::killField(&part->contentType);
  if (part->contentDisposition) mime::killField(&part->contentDisposition);
  if (part->children) mime::killField(&part->children);
  delete part->defects;
  part->defects = nullptr;
}

kxInt mime___PartCompareFunc(KX_OBJ *thisObj, KX_OBJ *thatObj) {
  MIME_ASSERT(thisObj);
  MIME_ASSERT(thatObj);
  const auto *a = reinterpret_cast<MIME_PART *>(thisObj);
  const auto *b = reinterpret_cast<MIME_PART *>(thatObj);
  if (a->message != b->message) return a->message < b->message ? -1 : 1;
  if (a->offset != b->offset) return a->offset < b->offset ? -1 : 1;
  if (a->length != b->length) return a->length < b->length ? -1 : 1;
  return 0;
}

}  // extern "C"

namespace {

// The Base64 alphabet, "=" and the white space of line breaks; anything else is junk.
constexpr bool isBase64Text(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/' ||
         c == '=' || c == '\r' || c == '\n' || c == ' ' || c == '\t';
}

constexpr bool isBase64Letter(unsigned char c) {
  return isBase64Text(c) && c != '=' && c != '\r' && c != '\n' && c != ' ' && c != '\t';
}

// Sixteen octets in one vector (a GCC and Clang extension; plain SSE2 or NEON code, or scalar where neither).
using Octets16 = unsigned char __attribute__((vector_size(16)));

// True when one of the 64 octets at p is not Base64 text: isBase64Text on four vectors at a time, branch
// free, about twenty times the speed of an octet-at-a-time loop.
bool junkIn64(const char *p) {
  Octets16 junk = {};
  for (int k = 0; k < 4; ++k) {
    Octets16 c;
    std::memcpy(&c, p + 16 * k, 16);
    const Octets16 letter = (c | 0x20) - 'a';  // ASCII letters of either case fold to a-z
    const auto ok = (letter < 26) | (c - '0' < 10) | (c == '+') | (c == '/') | (c == '=') | (c == '\r') |
                    (c == '\n') | (c == ' ') | (c == '\t');
    junk |= ~reinterpret_cast<const Octets16 &>(ok);
  }
  std::uint64_t halves[2];
  std::memcpy(halves, &junk, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

// The offset of the first octet that is not Base64 text, or npos.
size_t firstBase64Junk(std::string_view text) {
  size_t at = 0;
  while (at + 64 <= text.size() && !junkIn64(text.data() + at)) at += 64;
  for (; at < text.size(); ++at) {
    if (!isBase64Text(static_cast<unsigned char>(text[at]))) return at;
  }
  return text.npos;
}

KX_BUFFER *decodeBase64(KX_BUFFER *body, MIME_OPTIONS *opt, MIME_DEFECT *defect) {
  const std::string_view text = mime::multipart::bytesOf(body);
  if (const size_t junk = firstBase64Junk(text); junk != text.npos) {
    *defect = {MIME_DEFECT_BASE64_JUNK, static_cast<kxInt>(junk)};
  }
  Ref<RFC_BASE_OPTIONS> bo(mimeOptionsRfcBaseOptions(opt));
  if (KX_BUFFER *decoded = rfcBaseTryDecodeWithOptions(body, RFC_BASE_SELECTOR_MIME, bo.get()))
    return decoded;
  // The letters read end in a group of one, too short for an octet: it is dropped. The decoder stops at
  // the first "=", so the last letter is the last one before it.
  const size_t pad = text.find('=');
  size_t last = pad == text.npos ? text.size() : pad;
  while (last > 0 && !isBase64Letter(static_cast<unsigned char>(text[last - 1]))) --last;
  if (defect->kind < 0) *defect = {MIME_DEFECT_BASE64_TRUNCATED, static_cast<kxInt>(last > 0 ? last - 1 : 0)};
  Ref<KX_BUFFER> whole(kxBufferRead(body, 0, last > 0 ? static_cast<kxInt>(last - 1) : 0));
  KX_BUFFER *decoded = rfcBaseTryDecodeWithOptions(whole.get(), RFC_BASE_SELECTOR_MIME, bo.get());
  return decoded ? decoded : kxBufferCreate();
}

constexpr bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// An "=" starts an escape (two hex digits) or a soft line break (white space, then a line end or the end).
bool startsEscapeOrSoftBreak(std::string_view text, size_t at) {
  if (at + 2 < text.size() && isHexDigit(text[at + 1]) && isHexDigit(text[at + 2])) return true;
  size_t i = at + 1;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  return i == text.size() || text[i] == '\n' ||
         (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
}

KX_BUFFER *decodeQuotedPrintable(KX_BUFFER *body, MIME_OPTIONS *opt, MIME_DEFECT *defect) {
  const std::string_view text = mime::multipart::bytesOf(body);
  for (size_t at = text.find('='); at != text.npos; at = text.find('=', at + 1)) {
    if (!startsEscapeOrSoftBreak(text, at)) {
      *defect = {MIME_DEFECT_QUOTED_PRINTABLE_BAD_ESCAPE, static_cast<kxInt>(at)};
      break;
    }
  }
  Ref<RFC_QUOP_OPTIONS> qo(mimeOptionsRfcQuopOptions(opt));
  KX_BUFFER *decoded = rfcQuopTryDecodeWithOptions(body, qo.get());
  return decoded ? decoded : kxBufferCreate();  // null only for a partly used last octet, which no body has
}

}  // namespace

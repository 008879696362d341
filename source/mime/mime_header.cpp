// MIME_HEADER and the header block scanner and writer it stands on: one place that reads and writes
// header lines, for the packer, the unpacker and the message reader alike.
#include "mime/mime_header.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "mime/mime_encoded_word.h"
#include "mime/mime_header.hpp"
#include "mime/mime_multipart.hpp"
#include "mime/mime_object.hpp"
#include "mime/mime_options.h"

namespace mime::header {
// What a MIME_HEADER holds besides its octets.
struct Fields {
  std::vector<size_t> starts;  // into the octets; fields are contiguous up to end
  size_t end = 0;
  std::vector<MIME_DEFECT> defects;
};
}  // namespace mime::header

struct MIME_HEADER {
  KX_OBJ obj;
  KX_BUFFER *octets;             // owned: the buffer read (not copied), or one that appends built
  mime::header::Fields *fields;  // owned
  kxInt fallbackCharset;         // KX_CHARSET_OK
};

MIME_DEFINE_SORT_RECORD(MIME_HEADER, mime___HeaderFreeFunc, mime___HeaderCompareFunc, nullptr);
MIME_DEFINE_OBJECT_FAMILY(Header, MIME_HEADER)

using kx::Ref;
using mime::header::Fields;
using mime::header::LineEnds;

namespace {
MIME_HEADER *createHeader(KX_BUFFER *octets, Fields fields, kxInt fallbackCharset);
std::string_view fieldAt(MIME_HEADER *header, kxInt index);
std::string_view octetsOf(MIME_HEADER *header);
KX_STRING *decodeValue(std::string_view value, kxInt fallbackCharset);
}  // namespace

extern "C" {

MIME_HEADER *mimeHeaderCreate(void) {
  Ref<KX_BUFFER> empty(kxBufferCreate());
  return createHeader(empty.get(), Fields(), MIME_OPTIONS_DEFAULT_HEADER_FALLBACK_CHARSET);
}

MIME_HEADER *mimeHeaderCreateFrom(MIME_HEADER *source) {
  MIME_ASSERT(source);
  return createHeader(source->octets, *source->fields, source->fallbackCharset);
}

MIME_HEADER *mimeHeaderDecode(KX_BUFFER *octets, kxInt offset, MIME_OPTIONS *opt, kxInt *bodyOffset) {
  MIME_ASSERT(octets);
  MIME_ASSERT(offset >= 0 && offset <= kxBufferLength(octets));
  MIME_ASSERT(opt);
  const kxInt limit = mimeOptionsReaderLimit(opt, MIME_READER_LIMIT_HEADER_FIELDS);
  mime::header::Block block =
      mime::header::scan(mime::multipart::bytesOf(octets), static_cast<size_t>(offset), LineEnds::kCrLfOrLf,
                         static_cast<size_t>(limit));
  if (bodyOffset) *bodyOffset = static_cast<kxInt>(block.bodyStart);
  return mime::header::create(octets, std::move(block), mimeOptionsHeaderFallbackCharset(opt));
}

kxInt mimeHeaderLength(MIME_HEADER *header) {
  MIME_ASSERT(header);
  return static_cast<kxInt>(header->fields->starts.size());
}

KX_STRING *mimeHeaderNameAt(MIME_HEADER *header, kxInt index) {
  const std::string_view name = mime::header::nameOf(fieldAt(header, index));
  return decodeValue(name, header->fallbackCharset);
}

KX_STRING *mimeHeaderValueAt(MIME_HEADER *header, kxInt index) {
  std::string scratch;
  const std::string_view value = mime::header::valueOf(fieldAt(header, index), LineEnds::kCrLfOrLf, &scratch);
  return decodeValue(value, header->fallbackCharset);
}

KX_BUFFER *mimeHeaderRawAt(MIME_HEADER *header, kxInt index) {
  const std::string_view field = fieldAt(header, index);
  const kxByte *base = kxBufferBacking(header->octets);
  return kxBufferRead(header->octets, reinterpret_cast<const kxByte *>(field.data()) - base,
                      static_cast<kxInt>(field.size()));
}

kxInt mimeHeaderFindCstr(MIME_HEADER *header, const char *name, kxInt length, kxInt start) {
  MIME_ASSERT(header);
  MIME_ASSERT(name);
  const kxInt count = mimeHeaderLength(header);
  MIME_ASSERT(start >= 0 && start <= count);
  const std::string_view wanted(name, length < 0 ? std::strlen(name) : static_cast<size_t>(length));
  for (kxInt i = start; i < count; ++i) {
    const std::string_view have = mime::header::nameOf(fieldAt(header, i));
    if (mime::header::equalsIgnoringCase(have, wanted)) return i;
  }
  return -1;
}

KX_STRING *mimeHeaderValueCstr(MIME_HEADER *header, const char *name, kxInt length) {
  const kxInt index = mimeHeaderFindCstr(header, name, length, 0);
  return index < 0 ? nullptr : mimeHeaderValueAt(header, index);
}

KX_STRING *mimeHeaderTextAt(MIME_HEADER *header, kxInt index) {
  Ref<KX_STRING> value(mimeHeaderValueAt(header, index));
  return mimeEncodedWordDecode(value.get(), nullptr);
}

KX_STRING *mimeHeaderTextCstr(MIME_HEADER *header, const char *name, kxInt length) {
  const kxInt index = mimeHeaderFindCstr(header, name, length, 0);
  return index < 0 ? nullptr : mimeHeaderTextAt(header, index);
}

kxInt mimeHeaderDefectsLength(MIME_HEADER *header) {
  MIME_ASSERT(header);
  return static_cast<kxInt>(header->fields->defects.size());
}

MIME_DEFECT mimeHeaderDefectAt(MIME_HEADER *header, kxInt index) {
  MIME_ASSERT(header);
  MIME_ASSERT(index >= 0 && index < mimeHeaderDefectsLength(header));
  return header->fields->defects[static_cast<size_t>(index)];
}

kxBool mimeHeaderTryAppend(MIME_HEADER **header, KX_STRING *name, KX_STRING *value) {
  MIME_ASSERT(header);
  MIME_ASSERT(*header);
  MIME_ASSERT(name);
  MIME_ASSERT(value);
  Ref<KX_BUFFER> nameOctets(kxCharsetConvertStringToBuffer(name, KX_CHARSET_UTF_8));
  Ref<KX_BUFFER> valueOctets(kxCharsetConvertStringToBuffer(value, KX_CHARSET_UTF_8));
  if (!nameOctets || !valueOctets) return 0;  // a code point UTF-8 cannot carry
  std::string line;
  if (!mime::header::appendField(&line, mime::multipart::bytesOf(nameOctets.get()),
                                 mime::multipart::bytesOf(valueOctets.get())))
    return 0;

  // The fields are copied into an octet buffer of their own once; later appends grow it in place.
  mime::makePrivate(header, mimeHeaderCreateFrom);
  MIME_HEADER *h = *header;
  Fields *fields = h->fields;
  const size_t first = fields->starts.empty() ? fields->end : fields->starts.front();
  if (first != 0 || fields->end != static_cast<size_t>(kxBufferLength(h->octets))) {
    Ref<KX_BUFFER> own(
        kxBufferRead(h->octets, static_cast<kxInt>(first), static_cast<kxInt>(fields->end - first)));
    mime::replaceField(&h->octets, own.get());
    for (size_t &start : fields->starts) start -= first;
    fields->end -= first;
  }
  fields->starts.push_back(fields->end);
  kxBufferAppendBytes(&h->octets, line.data(), static_cast<kxInt>(line.size()));
  fields->end += line.size();
  return 1;
}

KX_BUFFER *mimeHeaderEncode(MIME_HEADER *header) {
  MIME_ASSERT(header);
  const std::string_view octets = octetsOf(header);
  std::string block(octets);
  if (!block.empty() && block.back() != '\n') block += "\r\n";
  return kxBufferCreateFromBytes(block.data(), static_cast<kxInt>(block.size()));
}

// --- sort functions ---

void mime___HeaderFreeFunc(KX_OBJ *obj) {
  auto *header = reinterpret_cast<MIME_HEADER *>(obj);
  mime::killField(&header->octets);
  delete header->fields;
  header->fields = nullptr;
}

kxInt mime___HeaderCompareFunc(KX_OBJ *thisObj, KX_OBJ *thatObj) {
  MIME_ASSERT(thisObj);
  MIME_ASSERT(thatObj);
  Ref<KX_BUFFER> a(mimeHeaderEncode(reinterpret_cast<MIME_HEADER *>(thisObj)));
  Ref<KX_BUFFER> b(mimeHeaderEncode(reinterpret_cast<MIME_HEADER *>(thatObj)));
  return kxObjCompare(kxBufferObj(a.get()), kxBufferObj(b.get()));
}

}  // extern "C"

namespace {

MIME_HEADER *createHeader(KX_BUFFER *octets, Fields fields, kxInt fallbackCharset) {
  MIME_HEADER *header = mime::createObject<MIME_HEADER>(&mime___sort_MIME_HEADER);
  header->octets = mime::retainField(octets);
  header->fields = new Fields(std::move(fields));
  header->fallbackCharset = fallbackCharset;
  return header;
}

// The listed fields' octets, from the first to the end of the last.
std::string_view octetsOf(MIME_HEADER *header) {
  const Fields &fields = *header->fields;
  const size_t first = fields.starts.empty() ? fields.end : fields.starts.front();
  return mime::multipart::bytesOf(header->octets).substr(first, fields.end - first);
}

std::string_view fieldAt(MIME_HEADER *header, kxInt index) {
  MIME_ASSERT(header);
  MIME_ASSERT(index >= 0 && index < mimeHeaderLength(header));
  const Fields &fields = *header->fields;
  const auto i = static_cast<size_t>(index);
  const size_t end = i + 1 < fields.starts.size() ? fields.starts[i + 1] : fields.end;
  return mime::multipart::bytesOf(header->octets).substr(fields.starts[i], end - fields.starts[i]);
}

// UTF-8 when the octets are UTF-8, else the fallback charset.
KX_STRING *decodeValue(std::string_view value, kxInt fallbackCharset) {
  if (mime::header::firstNonUtf8(value) == std::string_view::npos) {
    return kxStringCreateFromCstr(value.data(), static_cast<kxInt>(value.size()));
  }
  Ref<KX_BUFFER> octets(kxBufferCreateFromBytes(value.data(), static_cast<kxInt>(value.size())));
  return kxCharsetConvertBufferToString(octets.get(), fallbackCharset);
}

}  // namespace

// --- the scanner and writer ---

namespace mime::header {

MIME_HEADER *create(KX_BUFFER *octets, Block block, kxInt fallbackCharset) {
  Fields fields{std::move(block.starts), block.fieldsEnd, std::move(block.defects)};
  return createHeader(octets, std::move(fields), fallbackCharset);
}

std::string_view fieldOctets(MIME_HEADER *header, kxInt index) {
  return fieldAt(header, index);
}

KX_STRING *decodeText(std::string_view octets, kxInt fallbackCharset) {
  return decodeValue(octets, fallbackCharset);
}

namespace {

constexpr size_t kNone = std::numeric_limits<size_t>::max();

bool isFold(char c) {
  return c == ' ' || c == '\t';
}

// The offset of the line end of the line at `at` (its CR, or its LF alone where lenient), or the size.
size_t lineEndOf(std::string_view bytes, size_t at, LineEnds lineEnds) {
  for (;;) {
    const void *lf = std::memchr(bytes.data() + at, '\n', bytes.size() - at);
    if (!lf) return bytes.size();
    const size_t eol = static_cast<size_t>(static_cast<const char *>(lf) - bytes.data());
    const bool afterCr = eol > at && bytes[eol - 1] == '\r';
    if (afterCr) return eol - 1;
    if (lineEnds == LineEnds::kCrLfOrLf) return eol;
    at = eol + 1;
  }
}

}  // namespace

size_t firstNonUtf8(std::string_view text) {
  const auto *p = reinterpret_cast<const unsigned char *>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    // Eight ASCII octets at a time.
    if (n - i >= 8) {
      std::uint64_t word;
      std::memcpy(&word, p + i, 8);
      if ((word & 0x8080808080808080ULL) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned char c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // the range of the second octet
    if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;   // overlong
      if (c == 0xED) high = 0x9F;  // surrogates
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;   // overlong
      if (c == 0xF4) high = 0x8F;  // above U+10FFFF
    } else {
      return i;
    }
    if (n - i < length || p[i + 1] < low || p[i + 1] > high) return i;
    for (size_t k = 2; k < length; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return i;
    }
    i += length;
  }
  return kNone;
}

bool nameOk(std::string_view name) {
  if (name.empty()) return false;
  for (unsigned char c : name) {
    if (c <= 0x20 || c == 0x7F || c == ':') return false;
  }
  return true;
}

Block scan(std::string_view bytes, size_t from, LineEnds lineEnds, size_t maxFields) {
  Block block;
  bool inField = false;         // a field (listed or not) is open, so a folded line continues it
  bool listing = false;         // the open field is listed
  bool fieldHasDefect = false;  // the open field has its eight-bit defect already
  bool tooManyReported = false;
  size_t at = from;
  block.fieldsEnd = from;
  auto finish = [&](size_t end, size_t bodyStart) {
    block.end = end;
    block.bodyStart = bodyStart;
    return std::move(block);
  };
  while (at < bytes.size()) {
    const size_t eol = lineEndOf(bytes, at, lineEnds);
    const size_t next = eol == bytes.size() ? eol : eol + (bytes[eol] == '\r' ? 2 : 1);
    if (eol == at) return finish(at, next);  // the blank line
    if (isFold(bytes[at])) {
      if (!inField) break;
    } else {
      const std::string_view line = bytes.substr(at, eol - at);
      const size_t colon = line.find(':');
      if (colon == line.npos || !nameOk(line.substr(0, colon))) break;
      inField = true;
      fieldHasDefect = false;
      listing = block.starts.size() < maxFields;
      if (listing) {
        block.starts.push_back(at);
      } else if (!tooManyReported) {
        block.defects.push_back({MIME_DEFECT_TOO_MANY_HEADER_FIELDS, static_cast<kxInt>(at)});
        tooManyReported = true;
      }
    }
    if (listing) {
      if (!fieldHasDefect) {
        const size_t bad = firstNonUtf8(bytes.substr(at, eol - at));
        if (bad != kNone) {
          block.defects.push_back({MIME_DEFECT_EIGHT_BIT_HEADER, static_cast<kxInt>(at + bad)});
          fieldHasDefect = true;
        }
      }
      block.fieldsEnd = next;
    }
    at = next;
  }
  if (at < bytes.size()) {
    block.defects.push_back({MIME_DEFECT_NOT_A_HEADER_FIELD, static_cast<kxInt>(at)});
  }
  return finish(at, at);
}

std::string_view nameOf(std::string_view field) {
  return field.substr(0, field.find(':'));
}

std::string_view valueOf(std::string_view field, LineEnds lineEnds, std::string *scratch) {
  std::string_view value = field.substr(std::min(field.size(), field.find(':') + 1));
  const auto isTrimmed = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!value.empty() && isTrimmed(value.front())) value.remove_prefix(1);
  while (!value.empty() && isTrimmed(value.back())) value.remove_suffix(1);
  const size_t firstEnd = lineEndOf(value, 0, lineEnds);
  if (firstEnd == value.size()) return value;
  scratch->clear();
  size_t at = 0;
  for (;;) {
    const size_t eol = lineEndOf(value, at, lineEnds);
    scratch->append(value.substr(at, eol - at));
    if (eol == value.size()) break;
    at = eol + (value[eol] == '\r' ? 2 : 1);
  }
  return *scratch;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; };
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// A value may hold CR or LF only as part of a fold, CR LF followed by SP or HTAB: any other line break
// would end the header line early and let the value forge fields, parts or the end of the header block. A
// NUL is refused too: it ends the header for every reader that handles C strings.
bool safeAsValue(std::string_view value) {
  if (value.find('\0') != value.npos) return false;
  for (size_t at = value.find_first_of("\r\n"); at != value.npos; at = value.find_first_of("\r\n", at + 3)) {
    if (value.substr(at, 2) != "\r\n" || at + 2 >= value.size()) return false;
    if (!isFold(value[at + 2])) return false;
  }
  return true;
}

bool appendField(std::string *lines, std::string_view name, std::string_view value) {
  if (!nameOk(name) || !safeAsValue(value)) return false;
  lines->append(name).append(": ").append(value).append("\r\n");
  return true;
}

}  // namespace mime::header

// What the boundary code, the packer and the unpacker share: byte views and the delimiter search on
// octets. Internal to the library.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "kx/kx.h"

namespace mime::multipart {

// The octets of a buffer, valid while the caller holds its reference.
inline std::string_view bytesOf(KX_BUFFER *buf) {
  const kxByte *backing = kxBufferBacking(buf);
  return {reinterpret_cast<const char *>(backing), static_cast<size_t>(backing ? kxBufferLength(buf) : 0)};
}

// The delimiter of a valid boundary, "--" and the boundary (one octet per US-ASCII character), held
// together with the CR LF that must precede it anywhere but at the very start of a body.
class Delimiter {
 public:
  explicit Delimiter(KX_STRING *boundary);
  std::string_view bare() const { return std::string_view(text_).substr(2); }
  std::string_view afterCrLf() const { return text_; }

 private:
  std::string text_;
};

// The offset of the first delimiter at or after offset: at offset 0 the delimiter may stand at the very
// start; anywhere else it counts only right after a CR LF, and the offset of that CR is returned. -1 when
// there is none. Linear in the octets searched.
kxInt findDelimiter(std::string_view content, const Delimiter &delimiter, size_t offset);

// Copies body to out (body.size() octets of room) and tells whether the body holds the delimiter where
// findDelimiter would find it from offset 0: in one pass over the body where the processor allows.
bool copyFindingDelimiter(std::string_view body, const Delimiter &delimiter, kxByte *out);

// The first place of needle (a CR LF delimiter: its CR at its start only) in content, or null. memmem's
// result, found with vector compares where the processor has them; linear in the octets searched.
const char *findDelimiterAfterCrLf(std::string_view content, std::string_view needle);

// The first place of needle in content, or null: memmem's result. When the needle's first octet stands
// nowhere else in it (a line end before a delimiter), found with vector compares where the processor has
// them, linear in the octets searched whatever they hold.
const char *findNeedle(std::string_view content, std::string_view needle);

// --- the paths of the search: memmem, and vector compares where the processor has them ---

// The first place of needle in haystack, or null; linear in the octets searched, whatever they hold.
inline const char *findWithMemmem(std::string_view haystack, std::string_view needle) {
  return static_cast<const char *>(memmem(haystack.data(), haystack.size(), needle.data(), needle.size()));
}

// A faster search for a needle of two octets or more whose first octet stands nowhere else in it: the same
// results as findWithMemmem, and copyFinding also copies the whole haystack to out as it goes.
struct DelimiterSearch {
  const char *(*find)(std::string_view haystack, std::string_view needle);
  bool (*copyFinding)(std::string_view haystack, std::string_view needle, kxByte *out);
};

// The AVX2 search, or null where the processor lacks AVX2 or BMI1.
const DelimiterSearch *avx2DelimiterSearch();

}  // namespace mime::multipart

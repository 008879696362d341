// The AVX2 path of the Base64 codec: 24 octets become 32 characters per step and back. Compiled for AVX2
// function by function (target attributes) and only ever called once the processor has been seen to support
// it. Whatever the vector steps leave (line ends, the last groups, padding, stray characters) goes to the
// scalar reference, so the two paths agree by construction at every seam.
//
// The vector steps are the well-known shuffle-and-multiply technique: split 3 octets into four 6-bit values
// with one byte shuffle and two multiplies, then map each value to its character by adding an offset that a
// 16-entry table lookup picks from the value's range (and the reverse for decoding, with a validity test on
// both nibbles of every character).
#include <immintrin.h>

#include "rfc/rfc_base_codec.hpp"

#define RFC_AVX2_FUNCTION __attribute__((target("avx2,bmi")))

namespace rfc::base64 {
namespace {

// --- encoding ---

// Loads the 24 octets at p as two lanes of 12 (each at the start of its 128-bit lane). Reads 28 octets.
RFC_AVX2_FUNCTION __m256i loadGroups(const std::uint8_t *p) {
  __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
  __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 12));
  return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

// Each group of three octets a b c becomes four octets holding its four 6-bit values, in order.
RFC_AVX2_FUNCTION __m256i splitGroups(__m256i in) {
  // a b c -> b a c b: the group's bits in two 16-bit words, from which each 6-bit field is one multiply away.
  const __m256i spread = _mm256_setr_epi8(1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10,  //
                                          1, 0, 2, 1, 4, 3, 5, 4, 7, 6, 8, 7, 10, 9, 11, 10);
  in = _mm256_shuffle_epi8(in, spread);
  // Fields 1 and 3 (counting from the top) shifted down by a high multiply, fields 2 and 4 up by a low one.
  __m256i first =
      _mm256_mulhi_epu16(_mm256_and_si256(in, _mm256_set1_epi32(0x0FC0FC00)), _mm256_set1_epi32(0x04000040));
  __m256i second =
      _mm256_mullo_epi16(_mm256_and_si256(in, _mm256_set1_epi32(0x003F03F0)), _mm256_set1_epi32(0x01000010));
  return _mm256_or_si256(first, second);
}

// 6-bit values to characters: value + offset, the offset picked by range (A-Z +65, a-z +71, 0-9 -4, "+" -19,
// "/" -16). The table index is 0 for 0-25, 1 for 26-51, and 2 to 13 for 52-63 (digits 2-11, "+" 12, "/" 13).
RFC_AVX2_FUNCTION __m256i toCharacters(__m256i values) {
  const __m256i offsets = _mm256_setr_epi8(65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0,  //
                                           65, 71, -4, -4, -4, -4, -4, -4, -4, -4, -4, -4, -19, -16, 0, 0);
  __m256i index = _mm256_subs_epu8(values, _mm256_set1_epi8(51));
  index = _mm256_sub_epi8(index, _mm256_cmpgt_epi8(values, _mm256_set1_epi8(25)));
  return _mm256_add_epi8(values, _mm256_shuffle_epi8(offsets, index));
}

// Encodes `groups` whole groups from p to o, 8 groups per vector step; a last partial step overlaps the
// previous one and rewrites the same characters. Needs groups >= 8 and 4 readable octets past the groups.
RFC_AVX2_FUNCTION void encodeGroupsVector(const std::uint8_t *p, std::size_t groups, std::uint8_t *o) {
  std::size_t done = 0;
  for (;;) {
    __m256i chars = toCharacters(splitGroups(loadGroups(p + done * 3)));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(o + done * 4), chars);
    done += 8;
    if (done == groups) return;
    if (done > groups - 8) done = groups - 8;
  }
}

RFC_AVX2_FUNCTION std::size_t encodeAvx2(Bytes input, std::size_t lineLength, std::uint8_t *out) {
  const std::uint8_t *p = input.data();
  const std::uint8_t *end = p + input.size();
  std::uint8_t *o = out;
  if (lineLength == 0) {
    // One line: vector steps while they may read ahead, the rest (from a group boundary) to the scalar.
    std::size_t groups = input.size() >= 4 ? (input.size() - 4) / 24 * 8 : 0;
    if (groups >= 8) {
      encodeGroupsVector(p, groups, o);
      p += groups * 3;
      o += groups * 4;
    }
    return static_cast<std::size_t>(o - out) + encodeScalar({p, end}, 0, o);
  }
  // Whole lines of at least 8 groups, while a line and 4 octets more remain, so that a CR LF follows each.
  std::size_t groupsPerLine = lineLength / 4;
  std::size_t octetsPerLine = groupsPerLine * 3;
  if (groupsPerLine >= 8) {
    while (static_cast<std::size_t>(end - p) >= octetsPerLine + 4) {
      encodeGroupsVector(p, groupsPerLine, o);
      p += octetsPerLine;
      o += lineLength;
      o[0] = '\r';
      o[1] = '\n';
      o += 2;
    }
  }
  // The rest starts a line of its own: exactly what the scalar encoder writes for it.
  return static_cast<std::size_t>(o - out) + encodeScalar({p, end}, lineLength, o);
}

// --- decoding ---

// Characters to 6-bit values; returns one bit per character outside the alphabet (whose value is then
// garbage). A character is valid exactly when the class of its high nibble is not among the classes its low
// nibble rules out.
RFC_AVX2_FUNCTION std::uint32_t toValues(__m256i chars, __m256i &values) {
  const __m256i lowNibble = _mm256_set1_epi8(0x0F);
  // Classes by high nibble: 0x01 for 2 ("+", "/"), 0x02 for 3 (digits), 0x04 for 4 and 6 (letters from
  // nibble 1), 0x08 for 5 and 7 (letters up to nibble A), 0x10 for nibbles holding no valid character.
  const __m256i highClasses = _mm256_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,  //
                                               0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10,  //
                                               0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08,  //
                                               0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10, 0x10);
  // Classes each low nibble rules out.
  const __m256i lowExcludes = _mm256_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,  //
                                               0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A,  //
                                               0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11,  //
                                               0x11, 0x11, 0x13, 0x1A, 0x1B, 0x1B, 0x1B, 0x1A);
  // The offset from character to value by high nibble; "/" (same high nibble as "+") is moved to index 1.
  const __m256i offsets = _mm256_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0,  //
                                           0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
  __m256i high = _mm256_and_si256(_mm256_srli_epi16(chars, 4), lowNibble);
  __m256i low = _mm256_and_si256(chars, lowNibble);
  __m256i invalid =
      _mm256_and_si256(_mm256_shuffle_epi8(highClasses, high), _mm256_shuffle_epi8(lowExcludes, low));
  __m256i isSlash = _mm256_cmpeq_epi8(chars, _mm256_set1_epi8('/'));
  values = _mm256_add_epi8(chars, _mm256_shuffle_epi8(offsets, _mm256_add_epi8(high, isSlash)));
  return ~static_cast<std::uint32_t>(
      _mm256_movemask_epi8(_mm256_cmpeq_epi8(invalid, _mm256_setzero_si256())));
}

// Four 6-bit values per 32-bit lane become three octets; 24 octets, stored as 32 (8 octets of slack).
RFC_AVX2_FUNCTION void storeOctets(__m256i values, std::uint8_t *o) {
  __m256i pairs = _mm256_maddubs_epi16(values, _mm256_set1_epi32(0x01400140));  // a*64 + b, c*64 + d
  __m256i groups = _mm256_madd_epi16(pairs, _mm256_set1_epi32(0x00011000));     // ab*4096 + cd
  const __m256i bigEndian = _mm256_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1,  //
                                             2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
  __m256i packed = _mm256_shuffle_epi8(groups, bigEndian);
  packed = _mm256_permutevar8x32_epi32(packed, _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7));
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(o), packed);
}

RFC_AVX2_FUNCTION std::optional<std::size_t> decodeAvx2(Bytes text, std::uint8_t *out) {
  const std::uint8_t *p = text.data();
  const std::uint8_t *end = p + text.size();
  std::uint8_t *o = out;
  // While 48 characters remain, a 32-octet store stays within decodedMaxLength (o never runs ahead of three
  // quarters of what was read). A block with characters outside the alphabet keeps the whole groups before
  // the first of them; a CR LF there is skipped, anything else goes one group through the scalar slow step.
  while (end - p >= 48) {
    __m256i values;
    std::uint32_t invalid = toValues(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)), values);
    storeOctets(values, o);
    if (!invalid) {
      p += 32;
      o += 24;
      continue;
    }
    if (!stepPastStray(p, end, o, _tzcnt_u32(invalid))) break;
  }
  return decodeRestScalar(p, end, o, out);
}

}  // namespace

const Paths *avx2Paths() {
  static const Paths paths{encodeAvx2, decodeAvx2};
  static const bool supported = processorRunsAvx2Paths();
  return supported ? &paths : nullptr;
}

}  // namespace rfc::base64

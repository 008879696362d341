// The AVX-512 path of the Base64 decoder (VBMI's byte permutes): 64 characters become 48 octets per step,
// and a step may take one CR LF in its stride, squeezing it out of the block, so that a text of 76-character
// lines costs about one and a quarter steps per line. Compiled for AVX-512 function by function and only
// ever called once the processor has been seen to support it. Encoding stays on the AVX2 path, which already
// runs near memory speed. Whatever the vector steps leave goes to the scalar reference, as on the AVX2 path.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "rfc/rfc_base_codec.hpp"

#define RFC_AVX512_FUNCTION __attribute__((target("avx512f,avx512bw,avx512vbmi,bmi,bmi2,popcnt")))

namespace rfc::base64 {
namespace {

constexpr std::uint8_t kInvalid = 0x80;

// Character to 6-bit value for the 128 ASCII characters; kInvalid outside the alphabet.
constexpr std::array<std::uint8_t, 128> makeValueTable() {
  std::array<std::uint8_t, 128> table{};
  for (auto &v : table) v = kInvalid;
  for (unsigned i = 0; i < 26; ++i) {
    table['A' + i] = static_cast<std::uint8_t>(i);
    table['a' + i] = static_cast<std::uint8_t>(26 + i);
  }
  for (unsigned i = 0; i < 10; ++i) table['0' + i] = static_cast<std::uint8_t>(52 + i);
  table['+'] = 62;
  table['/'] = 63;
  return table;
}
alignas(64) constexpr auto kValues = makeValueTable();

// For each output octet k of 48, the octet of the packed 32-bit groups it comes from: each group's 24 bits
// stand little-endian in its lane and go out big-endian.
constexpr std::array<std::uint8_t, 64> makePackOrder() {
  std::array<std::uint8_t, 64> order{};
  for (unsigned k = 0; k < 48; ++k) order[k] = static_cast<std::uint8_t>(4 * (k / 3) + 2 - k % 3);
  return order;
}
alignas(64) constexpr auto kPackOrder = makePackOrder();

constexpr std::array<std::uint8_t, 64> makeIota() {
  std::array<std::uint8_t, 64> iota{};
  for (unsigned k = 0; k < 64; ++k) iota[k] = static_cast<std::uint8_t>(k);
  return iota;
}
alignas(64) constexpr auto kIota = makeIota();

RFC_AVX512_FUNCTION __m512i load64(const void *p) {
  return _mm512_loadu_si512(p);
}

// A byte permute of all 64 lanes. The zero-masking form with every lane selected, because GCC 12 warns
// about the unmasked one's undefined pass-through operand.
RFC_AVX512_FUNCTION __m512i permute(__m512i from, __m512i values) {
  return _mm512_maskz_permutexvar_epi8(~__mmask64{0}, from, values);
}

// The 6-bit values of 64 characters, and one bit per character outside the alphabet.
RFC_AVX512_FUNCTION __m512i toValues(__m512i chars, __mmask64 &invalid) {
  __m512i values = _mm512_permutex2var_epi8(load64(kValues.data()), chars, load64(kValues.data() + 64));
  invalid = _mm512_movepi8_mask(_mm512_or_si512(values, chars));  // kInvalid, or a character above 127
  return values;
}

// 64 values become 48 octets, stored as 64 (16 octets of slack).
RFC_AVX512_FUNCTION void storeOctets(__m512i values, std::uint8_t *o) {
  __m512i pairs = _mm512_maddubs_epi16(values, _mm512_set1_epi32(0x01400140));  // a*64 + b, c*64 + d
  __m512i groups = _mm512_madd_epi16(pairs, _mm512_set1_epi32(0x00011000));     // ab*4096 + cd
  _mm512_storeu_si512(o, permute(load64(kPackOrder.data()), groups));
}

// The values with the two at `at` and at + 1 squeezed out (the rest move down by two).
RFC_AVX512_FUNCTION __m512i withoutPair(__m512i values, unsigned at) {
  __m512i iota = load64(kIota.data());
  __mmask64 after = _mm512_cmpge_epu8_mask(iota, _mm512_set1_epi8(static_cast<char>(at)));
  __m512i from = _mm512_mask_add_epi8(iota, after, iota, _mm512_set1_epi8(2));
  return permute(from, values);
}

// The length of the line at p when it ends in CR LF within the first 130 characters, else 0.
std::size_t firstLineLength(const std::uint8_t *p, const std::uint8_t *end) {
  if (p == end) return 0;  // an empty span may have no storage at all, and memchr wants some
  auto *cr = static_cast<const std::uint8_t *>(std::memchr(p, '\r', std::min<std::size_t>(end - p, 130)));
  return cr && end - cr >= 2 && cr[1] == '\n' ? static_cast<std::size_t>(cr - p) : 0;
}

// Decodes a line of `length` alphabet characters (a multiple of 4) at p to o, 64 characters a step; false,
// with nothing counted, when any of them is not in the alphabet. Reads up to 127 characters past the line's
// start and stores up to 64 octets past its last octet.
RFC_AVX512_FUNCTION bool decodeWholeLine(const std::uint8_t *p, std::size_t length, std::uint8_t *o) {
  std::size_t done = 0;
  for (; done + 64 <= length; done += 64) {
    __mmask64 invalid;
    __m512i values = toValues(load64(p + done), invalid);
    if (invalid) return false;
    storeOctets(values, o + done / 4 * 3);
  }
  if (done == length) return true;
  __mmask64 invalid;
  __m512i values = toValues(load64(p + done), invalid);
  if (invalid & ((__mmask64{1} << (length - done)) - 1)) return false;
  storeOctets(values, o + done / 4 * 3);
  return true;
}

// Text in the layout every encoder writes, lines of one length ending in CR LF, goes line by line: where the
// next line starts is known before its characters are looked at, so one line's work does not wait for the
// last one's. Stops at the first line that breaks the pattern (the last one, padding, damage) and returns
// where that is; the steps after take the rest.
RFC_AVX512_FUNCTION const std::uint8_t *decodeRegularLines(const std::uint8_t *p, const std::uint8_t *end,
                                                           std::uint8_t *&o) {
  std::size_t length = firstLineLength(p, end);
  if (length == 0 || length % 4 != 0) return p;
  // Room: o never runs ahead of three quarters of what was read, and a line stores at most 64 octets past
  // its own.
  while (static_cast<std::size_t>(end - p) >= length + 2 + 192 && p[length] == '\r' &&
         p[length + 1] == '\n' && decodeWholeLine(p, length, o)) {
    p += length + 2;
    o += length / 4 * 3;
  }
  return p;
}

RFC_AVX512_FUNCTION std::optional<std::size_t> decodeAvx512(Bytes text, std::uint8_t *out) {
  const std::uint8_t *p = text.data();
  const std::uint8_t *end = p + text.size();
  std::uint8_t *o = out;
  p = decodeRegularLines(p, end, o);
  // While 96 characters remain, a 64-octet store stays within decodedMaxLength (o never runs ahead of three
  // quarters of what was read).
  while (end - p >= 96) {
    __mmask64 invalid;
    __m512i values = toValues(load64(p), invalid);
    if (!invalid) {
      storeOctets(values, o);
      p += 64;
      o += 48;
      continue;
    }
    auto first = static_cast<unsigned>(_tzcnt_u64(invalid));
    if (invalid == (__mmask64{3} << first) && p[first] == '\r' && p[first + 1] == '\n') {
      // One CR LF and 62 characters: 60 of them make 15 whole groups, wherever the line break fell.
      storeOctets(withoutPair(values, first), o);
      p += first < 60 ? 62 : 60;
      o += 45;
      continue;
    }
    // Anything else: the whole groups before the first stray character, then a CR LF is skipped and any
    // other character goes one group through the scalar slow step.
    storeOctets(values, o);
    if (!stepPastStray(p, end, o, first)) break;
  }
  return decodeRestScalar(p, end, o, out);
}

bool processorRunsAvx512Paths() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

}  // namespace

const Paths *avx512Paths() {
  static const bool supported = processorRunsAvx512Paths() && avx2Paths();
  if (!supported) return nullptr;
  static const Paths paths{avx2Paths()->encode, decodeAvx512};
  return &paths;
}

}  // namespace rfc::base64

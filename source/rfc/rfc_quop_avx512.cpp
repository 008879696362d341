// The AVX-512 path of the quoted-printable decoder (VBMI2's byte compress): the AVX2 block decoder on 64
// octets at a time, its escapes squeezed together with one compress instead of four table shuffles.
// Encoding stays on the AVX2 path. Compiled for AVX-512 function by function and only ever called once the
// processor has been seen to support it; the tests and the differential fuzzer hold it to the scalar
// reference.
#include <immintrin.h>

#include "rfc/rfc_quop_codec.hpp"
#include "rfc/rfc_quop_engine.hpp"

#define RFC_AVX512_FUNCTION __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,popcnt")))
#define RFC_AVX512_ENTRY __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,popcnt"), flatten))

namespace rfc::quop {
namespace {

RFC_AVX512_FUNCTION __m512i load64(const std::uint8_t *p) {
  return _mm512_loadu_si512(p);
}

// Hex digit values of 64 characters (garbage where not a digit) and a mask of those that are digits.
RFC_AVX512_FUNCTION __m512i hexValues(__m512i c, __mmask64 &isHex) {
  __m512i digit = _mm512_sub_epi8(c, _mm512_set1_epi8('0'));
  __mmask64 isDigit = _mm512_cmple_epu8_mask(digit, _mm512_set1_epi8(9));
  __m512i letter = _mm512_sub_epi8(_mm512_or_si512(c, _mm512_set1_epi8(0x20)), _mm512_set1_epi8('a'));
  __mmask64 isLetter = _mm512_cmple_epu8_mask(letter, _mm512_set1_epi8(5));
  isHex = isDigit | isLetter;
  __m512i value = _mm512_mask_blend_epi8(isDigit, _mm512_add_epi8(letter, _mm512_set1_epi8(10)), digit);
  return _mm512_and_si512(value, _mm512_set1_epi8(0x0F));
}

// The AVX2 block decoder's rules on 64 octets: decodes the block at p as far as the first stop (a line break
// right after SP or HTAB, a "=" that starts no escape) or the first escape whose digits lie past the block.
// Needs 66 readable octets at p; stores 64 octets at o and returns how far p went, with o moved past the
// octets that count.
RFC_AVX512_FUNCTION std::size_t decodeBlock(const std::uint8_t *p, std::uint8_t *&o) {
  __m512i v = load64(p);
  __mmask64 firstIsHex, secondIsHex;
  __m512i first = hexValues(load64(p + 1), firstIsHex);
  __m512i second = hexValues(load64(p + 2), secondIsHex);
  __mmask64 isEquals = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('='));
  __mmask64 escapes = isEquals & firstIsHex & secondIsHex;
  __mmask64 isBreak =
      _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\n')) | _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\r'));
  __mmask64 isWhite =
      _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(' ')) | _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\t'));
  __mmask64 stops = (isBreak & isWhite << 1) | (isEquals & ~escapes) | (escapes & (__mmask64{3} << 62));
  unsigned length = stops ? static_cast<unsigned>(_tzcnt_u64(stops)) : 64;
  // Each escape's "=" becomes its octet; its two digits are dropped.
  __m512i octets = _mm512_or_si512(_mm512_slli_epi16(first, 4), second);
  __m512i w = _mm512_mask_blend_epi8(escapes, v, octets);
  __mmask64 below = length == 64 ? ~__mmask64{0} : (__mmask64{1} << length) - 1;
  __mmask64 keep = ~(escapes << 1 | escapes << 2) & below;
  _mm512_storeu_si512(o, _mm512_maskz_compress_epi8(keep, w));
  o += _mm_popcnt_u64(keep);
  return length;
}

RFC_AVX512_ENTRY std::size_t decodeAvx512(Bytes text, std::uint8_t *out) {
  return engine::decodeInBlocks<66>(text.data(), text.data() + text.size(), out, decodeBlock);
}

bool processorRunsAvx512Paths() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi") &&
         __builtin_cpu_supports("popcnt");
}

}  // namespace

const Paths *avx512Paths() {
  static const bool supported = processorRunsAvx512Paths() && avx2Paths();
  if (!supported) return nullptr;
  static const Paths paths{avx2Paths()->encodedLength, avx2Paths()->encode, avx2Paths()->encodeSome,
                           avx2Paths()->surelyLongerThan, decodeAvx512};
  return &paths;
}

}  // namespace rfc::quop

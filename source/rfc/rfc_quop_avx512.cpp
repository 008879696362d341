// The AVX-512 path of the quoted-printable codec: the encoder is the line engine with a scan of 64 octets
// per step (a line of text is one or two steps, its CR LF found with masks instead of a loop); the decoder
// is the AVX2 block decoder on 64 octets at a time, its escapes squeezed together with one compress
// (VBMI2) instead of four table shuffles. Compiled for AVX-512 function by function and only ever called once
// the processor has been seen to support it; the tests and the differential fuzzer hold it to the scalar
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

// --- encoder scan ---

// One bit per octet outside the literal table (33-60, 62-126, SP, HTAB).
RFC_AVX512_FUNCTION __mmask64 notLiteralBits(__m512i v) {
  __mmask64 printable =
      _mm512_cmple_epu8_mask(_mm512_sub_epi8(v, _mm512_set1_epi8(33)), _mm512_set1_epi8(126 - 33));
  __mmask64 literal = (printable & ~_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('='))) |
                      _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(' ')) |
                      _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\t'));
  return ~literal;
}

// Bits for the octets at and after `left` in a 64-octet block (none when left is 64 or more).
__mmask64 bitsFrom(std::size_t left) {
  return left >= 64 ? 0 : ~__mmask64{0} << left;
}

// The encoder's scan (see rfc_quop_engine.hpp) on 64 octets at a time.
struct VectorScan {
  RFC_AVX512_FUNCTION static engine::Line scanLine(const std::uint8_t *p, const std::uint8_t *end) {
    std::size_t notLiteral = 0;
    // A CR in an octet's last place has its LF in the next block: blocks overlap by one octet's look.
    for (; end - p >= 65; p += 64) {
      __m512i v = load64(p);
      __mmask64 crs = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\r'));
      __mmask64 lfs = _mm512_cmpeq_epi8_mask(load64(p + 1), _mm512_set1_epi8('\n'));
      __mmask64 stop = notLiteralBits(v);
      if (__mmask64 lineEnds = crs & lfs) {
        auto cr = static_cast<unsigned>(_tzcnt_u64(lineEnds));
        return {p + cr, notLiteral + static_cast<std::size_t>(_mm_popcnt_u64(stop & ~bitsFrom(cr)))};
      }
      notLiteral += static_cast<std::size_t>(_mm_popcnt_u64(stop));
    }
    return engine::scanLineTail(p, end, notLiteral);
  }

  RFC_AVX512_FUNCTION static const std::uint8_t *literalRunEnd(const std::uint8_t *p, const std::uint8_t *q,
                                                               const std::uint8_t *end) {
    for (; end - p >= 64; p += 64) {
      __mmask64 stop = notLiteralBits(load64(p)) | bitsFrom(static_cast<std::size_t>(q - p));
      if (stop) return p + _tzcnt_u64(stop);
    }
    while (p != q && engine::kLiteral[*p]) ++p;
    return p;
  }

  RFC_AVX512_FUNCTION static void copyLiteralRun(const std::uint8_t *&p, const std::uint8_t *q,
                                                 const std::uint8_t *end, std::uint8_t *&o) {
    for (; end - p >= 64; p += 64, o += 64) {
      __m512i v = load64(p);
      _mm512_storeu_si512(o, v);
      if (__mmask64 stop = notLiteralBits(v) | bitsFrom(static_cast<std::size_t>(q - p))) {
        auto literal = static_cast<unsigned>(_tzcnt_u64(stop));
        p += literal;
        o += literal;
        return;
      }
    }
    while (p != q && engine::kLiteral[*p]) *o++ = *p++;
  }

  RFC_AVX512_FUNCTION static std::size_t countAlwaysEscaped(const std::uint8_t *p, const std::uint8_t *q) {
    std::size_t count = 0;
    for (; q - p >= 64; p += 64) {
      __m512i v = load64(p);
      __mmask64 lineBreak = _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\r')) |
                            _mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8('\n'));
      count += static_cast<std::size_t>(_mm_popcnt_u64(notLiteralBits(v) & ~lineBreak));
    }
    for (; p != q; ++p) count += engine::isAlwaysEscaped(*p);
    return count;
  }
};

RFC_AVX512_ENTRY std::size_t encodedLengthAvx512(Bytes input, std::size_t lineLength) {
  return engine::encodedLength<VectorScan>(input.data(), input.data() + input.size(), lineLength);
}

RFC_AVX512_ENTRY std::size_t encodeAvx512(Bytes input, std::size_t lineLength, std::uint8_t *out) {
  return engine::encode<VectorScan>(input.data(), input.data() + input.size(), lineLength, out);
}

RFC_AVX512_ENTRY Progress encodeSomeAvx512(Bytes input, std::size_t lineLength, std::uint8_t *out,
                                           std::size_t room) {
  return engine::encodeSome<VectorScan>(input.data(), input.data() + input.size(), lineLength, out, room);
}

RFC_AVX512_ENTRY bool surelyLongerThanAvx512(Bytes input, std::size_t maxLength) {
  return engine::surelyLongerThan<VectorScan>(input.data(), input.data() + input.size(), maxLength);
}

// --- decoder ---

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
  static const Paths paths{encodedLengthAvx512, encodeAvx512, encodeSomeAvx512, surelyLongerThanAvx512,
                           decodeAvx512};
  return &paths;
}

}  // namespace rfc::quop

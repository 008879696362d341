// The AVX2 path of the quoted-printable codec. The encoder is the scalar reference's line engine with a scan
// that classifies 32 octets per instruction; the decoder works on blocks of 32 octets and decodes the
// escapes inside a block without leaving it. Compiled for AVX2 function by function (target attributes),
// and only ever called once the processor has been seen to support it. The tests hold both to the scalar
// reference.
#include <immintrin.h>

#include "rfc/rfc_quop_codec.hpp"
#include "rfc/rfc_quop_engine.hpp"

#define RFC_AVX2_FUNCTION __attribute__((target("avx2,bmi,popcnt")))
// The engine is inlined whole into each AVX2 entry point, so that it is compiled for AVX2 too and the scan
// calls below become inline code.
#define RFC_AVX2_ENTRY __attribute__((target("avx2,bmi,popcnt"), flatten))

namespace rfc::quop {
namespace {

using engine::isWhite;
using engine::kHexValue;
using engine::kLiteral;
using engine::kNotHex;

RFC_AVX2_FUNCTION __m256i load32(const std::uint8_t *p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p));
}

RFC_AVX2_FUNCTION void store32(std::uint8_t *p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i *>(p), v);
}

// One bit per octet: set where the octet is not in the literal table (33-60, 62-126, SP, HTAB). Signed
// compares: octets above 127 are negative and fail "above 32".
RFC_AVX2_FUNCTION std::uint32_t notLiteralBits(__m256i v) {
  __m256i printable = _mm256_and_si256(_mm256_cmpgt_epi8(v, _mm256_set1_epi8(32)),
                                       _mm256_cmpgt_epi8(_mm256_set1_epi8(127), v));
  __m256i literal = _mm256_andnot_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('=')), printable);
  literal = _mm256_or_si256(literal, _mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')));
  literal = _mm256_or_si256(literal, _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\t')));
  return ~static_cast<std::uint32_t>(_mm256_movemask_epi8(literal));
}

// Bits for the octets at and after `left` in a 32-octet block: the block's part beyond q (none when left is
// 32 or more).
std::uint32_t bitsFrom(std::size_t left) {
  return left >= 32 ? 0 : ~std::uint32_t{0} << left;
}

// Bits for the octets before `length` in a 32-octet block.
std::uint32_t bitsBelow(std::size_t length) {
  return ~bitsFrom(length);
}

// The encoder's scan (see rfc_quop_engine.hpp).
struct VectorScan {
  RFC_AVX2_FUNCTION static engine::Line scanLine(const std::uint8_t *p, const std::uint8_t *end) {
    std::size_t notLiteral = 0;
    for (; end - p >= 32; p += 32) {
      __m256i v = load32(p);
      std::uint32_t stop = notLiteralBits(v);
      auto crs =
          static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r'))));
      for (; crs; crs &= crs - 1) {
        unsigned cr = _tzcnt_u32(crs);
        if (end - p > cr + 1 && p[cr + 1] == '\n') {
          return {p + cr, notLiteral + static_cast<std::size_t>(_mm_popcnt_u32(stop & bitsBelow(cr)))};
        }
      }
      notLiteral += static_cast<std::size_t>(_mm_popcnt_u32(stop));
    }
    return engine::scanLineTail(p, end, notLiteral);
  }

  RFC_AVX2_FUNCTION static const std::uint8_t *literalRunEnd(const std::uint8_t *p, const std::uint8_t *q,
                                                             const std::uint8_t *end) {
    for (; end - p >= 32; p += 32) {
      std::uint32_t stop = notLiteralBits(load32(p)) | bitsFrom(static_cast<std::size_t>(q - p));
      if (stop) return p + _tzcnt_u32(stop);
    }
    while (p != q && kLiteral[*p]) ++p;
    return p;
  }

  RFC_AVX2_FUNCTION static std::size_t countAlwaysEscaped(const std::uint8_t *p, const std::uint8_t *q) {
    std::size_t count = 0;
    for (; q - p >= 32; p += 32) {
      __m256i v = load32(p);
      __m256i lineBreak = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')),
                                          _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')));
      auto breaks = static_cast<std::uint32_t>(_mm256_movemask_epi8(lineBreak));
      count += static_cast<std::size_t>(_mm_popcnt_u32(notLiteralBits(v) & ~breaks));
    }
    for (; p != q; ++p) count += engine::isAlwaysEscaped(*p);
    return count;
  }

  RFC_AVX2_FUNCTION static void copyLiteralRun(const std::uint8_t *&p, const std::uint8_t *q,
                                               const std::uint8_t *end, std::uint8_t *&o) {
    for (; end - p >= 32; p += 32, o += 32) {
      __m256i v = load32(p);
      store32(o, v);
      if (std::uint32_t stop = notLiteralBits(v) | bitsFrom(static_cast<std::size_t>(q - p))) {
        unsigned literal = _tzcnt_u32(stop);
        p += literal;
        o += literal;
        return;
      }
    }
    while (p != q && kLiteral[*p]) *o++ = *p++;
  }
};

// --- block decoder ---
// The line engine's decoder stops at every escape and every line; this one decodes a block of 32 octets at
// a time: each "=XY" is replaced by its octet in place and its two digits are squeezed out, eight octets at
// a time, with a byte shuffle from a table indexed by which of the eight stay. Line breaks are copied like
// any octet. It stops only where the text needs a decision: a "=" that starts no escape (a soft break or a
// malformed "="), and a line break right after SP or HTAB (transport padding to drop). The scalar steps
// below take those exactly as the line engine does.

// For each 8-bit mask of octets to keep, the shuffle control that moves them, in order, to the front.
struct CompactTable {
  std::uint8_t control[256][16];
};

constexpr CompactTable makeCompactTable() {
  CompactTable table{};
  for (unsigned keep = 0; keep < 256; ++keep) {
    unsigned out = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (keep & (1u << bit)) table.control[keep][out++] = static_cast<std::uint8_t>(bit);
    }
    while (out < 16) table.control[keep][out++] = 0x80;  // shuffles in a zero
  }
  return table;
}
constexpr CompactTable kCompact = makeCompactTable();

// Hex digit values of 32 characters (garbage where not a digit) and a mask of those that are digits.
RFC_AVX2_FUNCTION __m256i hexValues(__m256i c, __m256i &isHex) {
  __m256i digit = _mm256_sub_epi8(c, _mm256_set1_epi8('0'));
  __m256i isDigit = _mm256_cmpeq_epi8(_mm256_min_epu8(digit, _mm256_set1_epi8(9)), digit);
  __m256i letter = _mm256_sub_epi8(_mm256_or_si256(c, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
  __m256i isLetter = _mm256_cmpeq_epi8(_mm256_min_epu8(letter, _mm256_set1_epi8(5)), letter);
  isHex = _mm256_or_si256(isDigit, isLetter);
  __m256i value = _mm256_blendv_epi8(_mm256_add_epi8(letter, _mm256_set1_epi8(10)), digit, isDigit);
  return _mm256_and_si256(value, _mm256_set1_epi8(0x0F));
}

// Writes the octets of the 8-octet chunk that keep marks, in order; returns how many. Stores 8 octets.
RFC_AVX2_FUNCTION unsigned compactChunk(__m128i chunk, unsigned keep, std::uint8_t *o) {
  __m128i control = _mm_loadu_si128(reinterpret_cast<const __m128i *>(kCompact.control[keep]));
  _mm_storel_epi64(reinterpret_cast<__m128i *>(o), _mm_shuffle_epi8(chunk, control));
  return static_cast<unsigned>(_mm_popcnt_u32(keep));
}

// Decodes the block of 32 octets at p as far as the first stop (or the first escape whose digits lie past
// the block). Needs 34 readable octets at p; stores up to 32 octets at o and returns how far p went, with o
// moved past the octets that count. A line break at p itself is never padded: the caller takes any line
// break that follows a block to the scalar steps, so a block never starts right after white space and one.
RFC_AVX2_FUNCTION std::size_t decodeBlock(const std::uint8_t *p, std::uint8_t *&o) {
  __m256i v = load32(p);
  __m256i firstIsHex, secondIsHex;
  __m256i first = hexValues(load32(p + 1), firstIsHex);
  __m256i second = hexValues(load32(p + 2), secondIsHex);
  __m256i isEquals = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('='));
  __m256i isEscape = _mm256_and_si256(isEquals, _mm256_and_si256(firstIsHex, secondIsHex));
  auto escapes = static_cast<std::uint32_t>(_mm256_movemask_epi8(isEscape));
  __m256i isBreak = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8('\n')),
                                    _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\r')));
  __m256i isWhite = _mm256_or_si256(_mm256_cmpeq_epi8(v, _mm256_set1_epi8(' ')),
                                    _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\t')));
  std::uint32_t afterWhites = static_cast<std::uint32_t>(_mm256_movemask_epi8(isWhite)) << 1;
  std::uint32_t stops = (static_cast<std::uint32_t>(_mm256_movemask_epi8(isBreak)) & afterWhites) |
                        (static_cast<std::uint32_t>(_mm256_movemask_epi8(isEquals)) & ~escapes) |
                        (escapes & 0xC0000000u);
  unsigned length = stops ? _tzcnt_u32(stops) : 32;
  // Each escape's "=" becomes its octet; its two digits are dropped.
  __m256i octets = _mm256_or_si256(_mm256_slli_epi16(first, 4), second);
  __m256i w = _mm256_blendv_epi8(v, octets, isEscape);
  std::uint32_t keep = ~(escapes << 1 | escapes << 2) & bitsBelow(length);
  __m128i low = _mm256_castsi256_si128(w);
  __m128i high = _mm256_extracti128_si256(w, 1);
  o += compactChunk(low, keep & 0xFF, o);
  o += compactChunk(_mm_srli_si128(low, 8), (keep >> 8) & 0xFF, o);
  o += compactChunk(high, (keep >> 16) & 0xFF, o);
  o += compactChunk(_mm_srli_si128(high, 8), keep >> 24, o);
  return length;
}

const std::uint8_t *endOf(Bytes bytes) {
  return bytes.data() + bytes.size();
}

RFC_AVX2_ENTRY std::size_t encodedLengthAvx2(Bytes input, std::size_t lineLength) {
  return engine::encodedLength<VectorScan>(input.data(), endOf(input), lineLength);
}

RFC_AVX2_ENTRY std::size_t encodeAvx2(Bytes input, std::size_t lineLength, std::uint8_t *out) {
  return engine::encode<VectorScan>(input.data(), endOf(input), lineLength, out);
}

RFC_AVX2_ENTRY Progress encodeSomeAvx2(Bytes input, std::size_t lineLength, std::uint8_t *out,
                                       std::size_t room) {
  return engine::encodeSome<VectorScan>(input.data(), endOf(input), lineLength, out, room);
}

RFC_AVX2_ENTRY bool surelyLongerThanAvx2(Bytes input, std::size_t maxLength) {
  return engine::surelyLongerThan<VectorScan>(input.data(), endOf(input), maxLength);
}

RFC_AVX2_ENTRY std::size_t decodeAvx2(Bytes text, std::uint8_t *out) {
  return engine::decodeInBlocks<34>(text.data(), endOf(text), out, decodeBlock);
}

}  // namespace

const Paths *avx2Paths() {
  static const Paths paths{encodedLengthAvx2, encodeAvx2, encodeSomeAvx2, surelyLongerThanAvx2, decodeAvx2};
  static const bool supported = processorRunsAvx2Paths();
  return supported ? &paths : nullptr;
}

}  // namespace rfc::quop

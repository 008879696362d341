// The scalar quoted-printable codec, the reference that defines correct output: the encoder's line engine
// with a scan that tests eight octets per 64-bit word, and a line-by-line decoder. Also the run-time choice
// of the path.
#include "rfc/rfc_quop_codec.hpp"

#include "rfc/rfc_quop_engine.hpp"

namespace rfc::quop {
namespace {

using engine::isWhite;
using engine::kHexValue;
using engine::kLiteral;
using engine::kNotHex;

// --- word-at-a-time tests ---
// Eight octets in one 64-bit word; a test leaves the high bit of each octet's lane set where the octet
// passes. Exact in every lane (no borrow or carry crosses lanes), so the lowest set bit finds the first hit
// and the lanes can be counted.

constexpr std::uint64_t kOnes = 0x0101010101010101;
constexpr std::uint64_t kHighs = 0x8080808080808080;
constexpr std::uint64_t kLows = 0x7F7F7F7F7F7F7F7F;

std::uint64_t load64(const std::uint8_t *p) {
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  return x;
}

void store64(std::uint8_t *p, std::uint64_t x) {
  std::memcpy(p, &x, sizeof x);
}

// Lanes equal to c, for lanes holding 7-bit values.
std::uint64_t lanesEqual7(std::uint64_t low7, std::uint8_t c) {
  return ~((low7 ^ (c * kOnes)) + kLows) & kHighs;
}

// Lanes equal to c (c below 128), any lane values.
std::uint64_t lanesEqual(std::uint64_t x, std::uint8_t c) {
  return lanesEqual7(x & kLows, c) & ~x;
}

// Lanes that hold an octet outside the literal table.
[[gnu::always_inline]] inline std::uint64_t notLiteralLanes(std::uint64_t x) {
  std::uint64_t low7 = x & kLows;
  std::uint64_t from33 = (low7 + (128 - 33) * kOnes) & kHighs;
  std::uint64_t literal = (from33 & ~lanesEqual7(low7, '=') & ~lanesEqual7(low7, 127)) |
                          lanesEqual7(low7, ' ') | lanesEqual7(low7, '\t');
  return (x | ~literal) & kHighs;
}

int firstLane(std::uint64_t lanes) {
  return __builtin_ctzll(lanes) / 8;
}

// The number of lanes set; a multiply adds them up in the top octet (baseline x86-64 has no popcnt).
std::size_t laneCount(std::uint64_t lanes) {
  return ((lanes >> 7) * kOnes) >> 56;
}

// Lanes beyond the last `left` octets of a word, as a stop mask (none when left is 8 or more).
std::uint64_t lanesFrom(std::size_t left) {
  return left >= 8 ? 0 : kHighs << (8 * left);
}

// Eight octets at a time while eight remain before the end of the input; lanes beyond q count as stops.
struct WordScan {
  static engine::Line scanLine(const std::uint8_t *p, const std::uint8_t *end) {
    std::size_t notLiteral = 0;
    for (; end - p >= 8; p += 8) {
      std::uint64_t x = load64(p);
      std::uint64_t stop = notLiteralLanes(x);
      for (std::uint64_t crs = lanesEqual(x, '\r'); crs; crs &= crs - 1) {
        int cr = firstLane(crs);
        if (end - p > cr + 1 && p[cr + 1] == '\n') {
          return {p + cr, notLiteral + laneCount(stop & ~lanesFrom(static_cast<std::size_t>(cr)))};
        }
      }
      notLiteral += laneCount(stop);
    }
    return engine::scanLineTail(p, end, notLiteral);
  }

  static const std::uint8_t *literalRunEnd(const std::uint8_t *p, const std::uint8_t *q,
                                           const std::uint8_t *end) {
    for (; end - p >= 8; p += 8) {
      std::uint64_t stop = notLiteralLanes(load64(p)) | lanesFrom(static_cast<std::size_t>(q - p));
      if (stop) return p + firstLane(stop);
    }
    while (p != q && kLiteral[*p]) ++p;
    return p;
  }

  static std::size_t countAlwaysEscaped(const std::uint8_t *p, const std::uint8_t *q) {
    std::size_t count = 0;
    for (; q - p >= 8; p += 8) {
      std::uint64_t x = load64(p);
      count += laneCount(notLiteralLanes(x) & ~lanesEqual(x, '\r') & ~lanesEqual(x, '\n'));
    }
    for (; p != q; ++p) count += engine::isAlwaysEscaped(*p);
    return count;
  }

  static void copyLiteralRun(const std::uint8_t *&p, const std::uint8_t *q, const std::uint8_t *end,
                             std::uint8_t *&o) {
    for (; end - p >= 8; p += 8, o += 8) {
      std::uint64_t x = load64(p);
      store64(o, x);
      if (std::uint64_t stop = notLiteralLanes(x) | lanesFrom(static_cast<std::size_t>(q - p))) {
        int literal = firstLane(stop);
        p += literal;
        o += literal;
        return;
      }
    }
    while (p != q && kLiteral[*p]) *o++ = *p++;
  }
};

// Copies octets up to the next "=" or q, advancing both; whole words while eight remain before end (o never
// runs ahead of p, so the word stores stay inside the output).
void copyUntilEquals(const std::uint8_t *&p, const std::uint8_t *q, const std::uint8_t *end,
                     std::uint8_t *&o) {
  for (; end - p >= 8; p += 8, o += 8) {
    std::uint64_t x = load64(p);
    store64(o, x);
    if (std::uint64_t stop = lanesEqual(x, '=') | lanesFrom(static_cast<std::size_t>(q - p))) {
      int ordinary = firstLane(stop);
      p += ordinary;
      o += ordinary;
      return;
    }
  }
  while (p != q && *p != '=') *o++ = *p++;
}

// --- decoder ---
// Line by line: find the LF, cut the transport padding off the line, then copy up to each "=".

// Decodes the content of one line [p, q), its transport padding already cut off. Returns true when the line
// ends in a soft line break (a "=" with nothing after it), whose line break then vanishes too.
bool decodeLine(const std::uint8_t *p, const std::uint8_t *q, const std::uint8_t *end, std::uint8_t *&o) {
  for (;;) {
    copyUntilEquals(p, q, end, o);
    if (p == q) return false;
    if (q - p >= 3 && kHexValue[p[1]] != kNotHex && kHexValue[p[2]] != kNotHex) {
      *o++ = static_cast<std::uint8_t>(kHexValue[p[1]] << 4 | kHexValue[p[2]]);
      p += 3;
    } else if (q - p == 1) {
      return true;
    } else {
      *o++ = *p++;  // malformed: the "=" stands for itself
    }
  }
}

std::size_t decodeLines(const std::uint8_t *p, const std::uint8_t *end, std::uint8_t *out) {
  std::uint8_t *o = out;
  while (p != end) {
    // A line ends at LF: CR LF, or a bare LF as some mailers write it. A bare CR is data.
    auto *lf = static_cast<const std::uint8_t *>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
    const std::uint8_t *lineBreak = !lf ? end : (lf != p && lf[-1] == '\r' ? lf - 1 : lf);
    // SP/HTAB at the end of a line were added in transport: an encoder escapes the white space it means.
    const std::uint8_t *content = lineBreak;
    while (content != p && isWhite(content[-1])) --content;
    bool soft = decodeLine(p, content, end, o);
    if (!lf) break;
    if (!soft) {
      for (const std::uint8_t *b = lineBreak; b != lf + 1; ++b) *o++ = *b;
    }
    p = lf + 1;
  }
  return static_cast<std::size_t>(o - out);
}

const std::uint8_t *endOf(Bytes bytes) {
  return bytes.data() + bytes.size();
}

}  // namespace

// --- public core ---

std::size_t encodedLengthScalar(Bytes input, std::size_t lineLength) {
  return engine::encodedLength<WordScan>(input.data(), endOf(input), lineLength);
}

std::size_t encodeScalar(Bytes input, std::size_t lineLength, std::uint8_t *out) {
  return engine::encode<WordScan>(input.data(), endOf(input), lineLength, out);
}

Progress encodeSomeScalar(Bytes input, std::size_t lineLength, std::uint8_t *out, std::size_t room) {
  return engine::encodeSome<WordScan>(input.data(), endOf(input), lineLength, out, room);
}

bool surelyLongerThanScalar(Bytes input, std::size_t maxLength) {
  return engine::surelyLongerThan<WordScan>(input.data(), endOf(input), maxLength);
}

std::size_t decodeScalar(Bytes text, std::uint8_t *out) {
  return decodeLines(text.data(), endOf(text), out);
}

// --- dispatch ---

namespace {
const Paths kScalarPaths{encodedLengthScalar, encodeScalar, encodeSomeScalar, surelyLongerThanScalar,
                         decodeScalar};

const Paths &chosenPaths() {
  static const Paths &chosen = avx512Paths() ? *avx512Paths() : avx2Paths() ? *avx2Paths() : kScalarPaths;
  return chosen;
}
}  // namespace

std::size_t encodedLength(Bytes input, std::size_t lineLength) {
  return chosenPaths().encodedLength(input, lineLength);
}

std::size_t encode(Bytes input, std::size_t lineLength, std::uint8_t *out) {
  return chosenPaths().encode(input, lineLength, out);
}

Progress encodeSome(Bytes input, std::size_t lineLength, std::uint8_t *out, std::size_t room) {
  return chosenPaths().encodeSome(input, lineLength, out, room);
}

bool surelyLongerThan(Bytes input, std::size_t maxLength) {
  return chosenPaths().surelyLongerThan(input, maxLength);
}

std::size_t decode(Bytes text, std::uint8_t *out) {
  return chosenPaths().decode(text, out);
}

}  // namespace rfc::quop

// The scalar Base64 codec: the reference that defines correct output for every faster path, and the
// run-time choice of the path. Alphabet and padding as in RFC 2045 section 6.8.
#include "rfc/rfc_base_codec.hpp"

#include <array>
#include <cstring>

namespace rfc::base64 {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// --- tables ---

// Two output characters per 12 input bits, in memory order (little-endian): one lookup and one 16-bit store
// encode half a group.
constexpr std::array<std::uint16_t, 4096> makePairTable() {
  std::array<std::uint16_t, 4096> table{};
  for (unsigned i = 0; i < 4096; ++i) {
    auto high = static_cast<std::uint8_t>(kAlphabet[i >> 6]);
    auto low = static_cast<std::uint8_t>(kAlphabet[i & 63]);
    table[i] = static_cast<std::uint16_t>(high | (low << 8));
  }
  return table;
}
constexpr auto kPairTable = makePairTable();

// The value of each character, or kNotInAlphabet.
constexpr std::uint8_t kNotInAlphabet = 0xFF;
constexpr std::array<std::uint8_t, 256> makeValueTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto &v : table) v = kNotInAlphabet;
  for (unsigned i = 0; i < 64; ++i)
    table[static_cast<std::uint8_t>(kAlphabet[i])] = static_cast<std::uint8_t>(i);
  return table;
}
constexpr auto kValueTable = makeValueTable();

// One table per position in a group of four: the character's six bits already shifted into the three output
// octets as they lie in memory (little-endian), so a group decodes with four lookups ORed together. A
// character outside the alphabet sets bit 24, which no valid group reaches.
constexpr std::uint32_t kBadGroup = 0x01000000;
constexpr std::array<std::uint32_t, 256> makePositionTable(int position) {
  std::array<std::uint32_t, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    std::uint32_t v = kValueTable[c];
    if (v == kNotInAlphabet) {
      table[c] = kBadGroup;
      continue;
    }
    switch (position) {
      case 0:
        table[c] = v << 2;
        break;
      case 1:
        table[c] = (v >> 4) | ((v & 0x0F) << 12);
        break;
      case 2:
        table[c] = ((v >> 2) << 8) | ((v & 0x03) << 22);
        break;
      default:
        table[c] = v << 16;
        break;
    }
  }
  return table;
}
constexpr auto kDecode0 = makePositionTable(0);
constexpr auto kDecode1 = makePositionTable(1);
constexpr auto kDecode2 = makePositionTable(2);
constexpr auto kDecode3 = makePositionTable(3);

// --- encoding ---

std::uint64_t loadBigEndian64(const std::uint8_t *p) {
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  return __builtin_bswap64(x);
}

void store64(std::uint8_t *p, std::uint64_t x) {
  std::memcpy(p, &x, sizeof x);
}
void store32(std::uint8_t *p, std::uint32_t x) {
  std::memcpy(p, &x, sizeof x);
}
void store16(std::uint8_t *p, std::uint16_t x) {
  std::memcpy(p, &x, sizeof x);
}

// Encodes `groups` whole groups of three octets from p to o. Reads up to two octets past the groups, but
// never at or past readEnd.
void encodeGroups(const std::uint8_t *p, std::size_t groups, const std::uint8_t *readEnd, std::uint8_t *o) {
  // Two groups per step: one 8-octet load of which 6 are used, four pair lookups, one 8-character store.
  while (groups >= 2 && readEnd - p >= 8) {
    std::uint64_t x = loadBigEndian64(p);
    std::uint64_t chars = static_cast<std::uint64_t>(kPairTable[x >> 52]) |
                          static_cast<std::uint64_t>(kPairTable[(x >> 40) & 0xFFF]) << 16 |
                          static_cast<std::uint64_t>(kPairTable[(x >> 28) & 0xFFF]) << 32 |
                          static_cast<std::uint64_t>(kPairTable[(x >> 16) & 0xFFF]) << 48;
    store64(o, chars);
    p += 6;
    o += 8;
    groups -= 2;
  }
  for (; groups > 0; --groups, p += 3, o += 4) {
    std::uint32_t x = static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
    store16(o, kPairTable[x >> 12]);
    store16(o + 2, kPairTable[x & 0xFFF]);
  }
}

// The one or two octets after the last whole group, with "=" padding.
void encodeTail(const std::uint8_t *p, std::size_t count, std::uint8_t *o) {
  std::uint32_t x =
      static_cast<std::uint32_t>(p[0]) << 16 | (count == 2 ? static_cast<std::uint32_t>(p[1]) << 8 : 0);
  o[0] = static_cast<std::uint8_t>(kAlphabet[x >> 18]);
  o[1] = static_cast<std::uint8_t>(kAlphabet[(x >> 12) & 63]);
  o[2] = count == 2 ? static_cast<std::uint8_t>(kAlphabet[(x >> 6) & 63]) : '=';
  o[3] = '=';
}

// --- decoding ---

// One group of four alphabet characters read one by one, skipping everything outside the alphabet; the
// slow path for line breaks, stray characters and the end of the data.
struct SlowGroup {
  std::uint32_t bits = 0;
  int count = 0;  // characters of the alphabet gathered: 4, or fewer where the data ended
};

SlowGroup gatherGroup(const std::uint8_t *&p, const std::uint8_t *end) {
  SlowGroup group;
  while (group.count < 4) {
    if (p == end || *p == '=') return group;
    std::uint8_t v = kValueTable[*p++];
    if (v == kNotInAlphabet) continue;
    group.bits = group.bits << 6 | v;
    ++group.count;
  }
  return group;
}

}  // namespace

// --- public core ---

std::size_t effectiveLineLength(std::uint64_t configured) {
  if (configured == 0) return 0;
  if (configured < 4) return 4;
  return static_cast<std::size_t>(configured & ~std::uint64_t{3});
}

std::size_t encodedLength(std::size_t inputLength, std::size_t lineLength) {
  std::size_t characters = (inputLength + 2) / 3 * 4;
  if (lineLength == 0 || characters == 0) return characters;
  std::size_t lines = characters / lineLength + (characters % lineLength != 0);
  return characters + 2 * (lines - 1);
}

std::size_t encodeScalar(Bytes input, std::size_t lineLength, std::uint8_t *out) {
  const std::uint8_t *p = input.data();
  const std::uint8_t *end = p + input.size();
  std::uint8_t *o = out;
  std::size_t groupsPerLine = lineLength == 0 ? SIZE_MAX : lineLength / 4;
  std::size_t groupsLeft = input.size() / 3;
  while (groupsLeft > 0) {
    std::size_t groups = groupsLeft < groupsPerLine ? groupsLeft : groupsPerLine;
    encodeGroups(p, groups, end, o);
    p += groups * 3;
    o += groups * 4;
    groupsLeft -= groups;
    // A break only between lines: none after the last, so the tail below decides for itself.
    bool moreFollows = groupsLeft > 0 || p != end;
    if (groups == groupsPerLine && moreFollows) {
      o[0] = '\r';
      o[1] = '\n';
      o += 2;
    }
  }
  if (p != end) {
    encodeTail(p, static_cast<std::size_t>(end - p), o);
    o += 4;
  }
  return static_cast<std::size_t>(o - out);
}

std::size_t decodedMaxLength(std::size_t textLength) {
  return textLength / 4 * 3 + (textLength % 4) * 3 / 4;
}

std::optional<std::size_t> decodeScalar(Bytes text, std::uint8_t *out) {
  const std::uint8_t *p = text.data();
  const std::uint8_t *end = p + text.size();
  std::uint8_t *o = out;
  for (;;) {
    // Fast path: whole groups of four alphabet characters, one 4-octet store each (the fourth octet is
    // overwritten by the next group). At least eight characters must remain, so that the store stays within
    // decodedMaxLength whatever those characters are.
    while (end - p >= 8) {
      std::uint32_t x = kDecode0[p[0]] | kDecode1[p[1]] | kDecode2[p[2]] | kDecode3[p[3]];
      if (x & kBadGroup) {
        // The CR LF between lines is the one interruption of well-formed text; skip it without leaving.
        if (p[0] == '\r' && p[1] == '\n') {
          p += 2;
          continue;
        }
        break;
      }
      store32(o, x);
      p += 4;
      o += 3;
    }
    if (decodeGroupSlowly(p, end, o)) continue;
    SlowGroup group = gatherGroup(p, end);
    // The end of the data: a partial group of two or three characters carries one or two octets; a lone
    // character carries too few bits for any octet.
    switch (group.count) {
      case 1:
        return std::nullopt;
      case 2:
        *o++ = static_cast<std::uint8_t>(group.bits >> 4);
        break;
      case 3:
        *o++ = static_cast<std::uint8_t>(group.bits >> 10);
        *o++ = static_cast<std::uint8_t>(group.bits >> 2);
        break;
      default:
        break;
    }
    return static_cast<std::size_t>(o - out);
  }
}

bool decodeGroupSlowly(const std::uint8_t *&p, const std::uint8_t *end, std::uint8_t *&o) {
  const std::uint8_t *from = p;
  SlowGroup group = gatherGroup(p, end);
  if (group.count < 4) {
    p = from;
    return false;
  }
  o[0] = static_cast<std::uint8_t>(group.bits >> 16);
  o[1] = static_cast<std::uint8_t>(group.bits >> 8);
  o[2] = static_cast<std::uint8_t>(group.bits);
  o += 3;
  return true;
}

bool stepPastStray(const std::uint8_t *&p, const std::uint8_t *end, std::uint8_t *&o, std::size_t valid) {
  std::size_t wholeGroups = valid / 4;
  p += wholeGroups * 4;
  o += wholeGroups * 3;
  if (p[0] == '\r' && p[1] == '\n') {
    p += 2;
    return true;
  }
  return decodeGroupSlowly(p, end, o);
}

std::optional<std::size_t> decodeRestScalar(const std::uint8_t *p, const std::uint8_t *end, std::uint8_t *o,
                                            const std::uint8_t *out) {
  std::optional<std::size_t> rest = decodeScalar({p, end}, o);
  if (!rest) return std::nullopt;
  return static_cast<std::size_t>(o - out) + *rest;
}

// --- dispatch ---

namespace {
const Paths kScalarPaths{encodeScalar, decodeScalar};

const Paths &chosenPaths() {
  static const Paths &chosen = avx512Paths() ? *avx512Paths() : avx2Paths() ? *avx2Paths() : kScalarPaths;
  return chosen;
}
}  // namespace

std::size_t encode(Bytes input, std::size_t lineLength, std::uint8_t *out) {
  return chosenPaths().encode(input, lineLength, out);
}

std::optional<std::size_t> decode(Bytes text, std::uint8_t *out) {
  return chosenPaths().decode(text, out);
}

}  // namespace rfc::base64

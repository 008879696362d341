// The Base64 span core (source/rfc/rfc_base_codec.cpp and rfc_base_avx2.cpp): exact encodings, line breaks,
// the decoder's leniency, round trips, and the AVX2 path against the scalar reference.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

using FastPath = test_support::FastPath<rfc::base64::Paths>;

std::vector<FastPath> fastPaths() {
  return fastPathsOf(rfc::base64::avx2Paths(), rfc::base64::avx512Paths());
}

struct EncodeCase {
  const char *label;
  std::string input;
  std::size_t lineLength;
  std::string expected;
};

const std::string x76 =
    "eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4eHh4";  // 57 x

const EncodeCase kEncodeCases[] = {
    {"empty", "", 0, ""},
    {"one octet: two pads", "f", 0, "Zg=="},
    {"two octets: one pad", "fo", 0, "Zm8="},
    {"one group", "foo", 0, "Zm9v"},
    {"group and one", "foob", 0, "Zm9vYg=="},
    {"group and two", "fooba", 0, "Zm9vYmE="},
    {"two groups", "foobar", 0, "Zm9vYmFy"},
    {"every sextet value",
     std::string("\x00\x10\x83\x10\x51\x87\x20\x92\x8b\x30\xd3\x8f\x41\x14\x93\x51\x55\x97"
                 "\x61\x96\x9b\x71\xd7\x9f\x82\x18\xa3\x92\x59\xa7\xa2\x9a\xab\xb2\xdb\xaf"
                 "\xc3\x1c\xb3\xd3\x5d\xb7\xe3\x9e\xbb\xf3\xdf\xbf",
                 48),
     0, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"},
    {"high octets", "\xff\xfe\xfd", 0, "//79"},
    {"lines of 8, full last line: no final CR LF", "foobarfoobarfoobar", 8,
     "Zm9vYmFy\r\nZm9vYmFy\r\nZm9vYmFy"},
    {"lines of 8, short last line", "foobarfoobarf", 8, "Zm9vYmFy\r\nZm9vYmFy\r\nZg=="},
    {"lines of 4: one group a line", "foobar", 4, "Zm9v\r\nYmFy"},
    {"one line exactly", "foobar", 8, "Zm9vYmFy"},
    {"shorter than a line", "f", 76, "Zg=="},
    {"57 octets fill a line of 76: no CR LF", std::string(57, 'x'), 76, x76},
    {"58 octets: a second line", std::string(58, 'x'), 76, x76 + "\r\neA=="},
};

TEST(Base64Encode, ExactOutput) {
  for (const auto &c : kEncodeCases) {
    EXPECT_TRUE(exactlyEqual(baseEncode(c.input, c.lineLength), c.expected)) << c.label;
    EXPECT_EQ(rfc::base64::encodedLength(c.input.size(), c.lineLength), c.expected.size()) << c.label;
  }
}

// {configured, effective}
// clang-format off
const std::pair<std::uint64_t, std::size_t> kLineLengthCases[] = {
    {0, 0}, {1, 4}, {3, 4}, {4, 4}, {7, 4}, {8, 8}, {76, 76}, {77, 76}, {79, 76}, {80, 80},
    {UINT64_MAX, SIZE_MAX - 3}};
// clang-format on

TEST(Base64LineLength, RoundsDownToWholeGroups) {
  for (auto [configured, effective] : kLineLengthCases)
    EXPECT_EQ(rfc::base64::effectiveLineLength(configured), effective) << configured;
}

struct DecodeCase {
  const char *label;
  std::string text;
  std::string expected;  // "<null>": refused
};

const DecodeCase kDecodeCases[] = {
    {"empty", "", ""},
    {"padded", "Zm9vYg==", "foob"},
    {"unpadded pair", "Zg", "f"},
    {"unpadded triple", "Zm8", "fo"},
    {"line break inside a group", "Zm\r\n9v", "foo"},
    {"white space and strays skipped", " Zm9v\tYm-Fy*\n", "foobar"},
    {"URL-safe characters are not the alphabet", "Zm9v_-Ym Fy", "foobar"},
    {"octets above 127 skipped", "Zm\xff\x80\x39v", "foo"},
    {"data ends at the first =", "Zg==Zm9v", "f"},
    {"= after a whole group", "Zm9v=Zm9v", "foo"},
    {"= alone", "====", ""},
    {"only characters outside the alphabet", "\r\n*** \t", ""},
    {"lone last character", "Z", "<null>"},
    {"lone character after groups", "Zm9vY", "<null>"},
    {"lone character before padding", "Zm9vY===", "<null>"},
    {"lone character among skipped ones", "Zm9v\r\nY\r\n", "<null>"},
    {"unused low bits are ignored", "Zh==", "f"},
    {"long text with CR LF every 76",
     std::string(76, 'A') + "\r\n" + std::string(76, 'A') + "\r\nAA==", std::string(115, '\0')},
};

TEST(Base64Decode, LenientExactly) {
  for (const auto &c : kDecodeCases) {
    EXPECT_TRUE(exactlyEqual(baseDecode(c.text), c.expected)) << c.label;
    for (const FastPath &fast : fastPaths()) {
      EXPECT_TRUE(exactlyEqual(baseDecode(c.text, *fast.paths), c.expected)) << fast.name << ": " << c.label;
    }
  }
  // An empty text with no storage behind it (a null data pointer), as an empty vector hands out.
  for (const FastPath &fast : fastPaths())
    EXPECT_EQ(baseDecode(std::string_view(), *fast.paths), "") << fast.name;
}

// The encoding with a CR LF after every lineLength characters but the last.
std::string withLineBreaks(std::string_view encoded, std::size_t lineLength) {
  if (lineLength == 0) return std::string(encoded);
  std::string lines;
  for (std::size_t at = 0; at < encoded.size(); at += lineLength)
    lines.append(at ? "\r\n" : "").append(encoded.substr(at, lineLength));
  return lines;
}

// Every length up to 3000 at several line lengths: the scalar encoding has full lines and decodes back, and
// each vector path encodes and decodes as the scalar does.
TEST(Base64RoundTrip, EveryLengthUpTo3000AndTheVectorPathsAsTheScalar) {
  test_support::DeterministicRandom random(3000);
  const std::string data = hostileOctets(random, 3000);
  for (std::size_t lineLength : {0, 4, 28, 32, 76}) {
    for (std::size_t length = 0; length <= 3000; ++length) {
      std::string_view input(data.data(), length);
      std::string reference = baseEncode(input, lineLength);
      ASSERT_TRUE(exactlyEqual(reference, withLineBreaks(baseEncode(input, 0), lineLength)))
          << "length " << length << ", line length " << lineLength;
      ASSERT_TRUE(exactlyEqual(baseDecode(reference), std::string(input))) << "length " << length;
      for (const FastPath &fast : fastPaths()) {
        ASSERT_TRUE(exactlyEqual(baseEncode(input, lineLength, *fast.paths), reference))
            << fast.name << ", length " << length << ", line length " << lineLength;
        ASSERT_EQ(baseDecode(reference, *fast.paths), input)
            << fast.name << ", length " << length << ", line length " << lineLength;
      }
    }
  }
}

// --- the vector paths against the scalar reference ---

class Base64FastPaths : public testing::Test {
 protected:
  void SetUp() override {
    if (fastPaths().empty()) GTEST_SKIP() << "this processor has no vector path";
  }
};

// Every octet at every place of a vector block, and a CR LF (or a lone CR or LF) at every place.
TEST_F(Base64FastPaths, ClassifiesEveryOctetInEveryPositionAsTheScalar) {
  std::string valid = baseEncode(std::string(150, '\x5a'), 0);  // 200 characters, no padding
  for (const FastPath &fast : fastPaths()) {
    for (int octet = 0; octet < 256; ++octet) {
      for (std::size_t at = 0; at < 128; ++at) {
        std::string text = valid;
        text[at] = static_cast<char>(octet);
        ASSERT_EQ(baseDecode(text, *fast.paths), baseDecode(text))
            << fast.name << ", octet " << octet << " at " << at;
      }
    }
    for (const char *lineBreak : {"\r\n", "\r", "\n", "\r\n\r\n"}) {
      for (std::size_t at = 0; at < 130; ++at) {
        std::string text = valid;
        text.insert(at, lineBreak);
        ASSERT_EQ(baseDecode(text, *fast.paths), baseDecode(text))
            << fast.name << ", line break " << std::strlen(lineBreak) << " at " << at;
      }
    }
  }
}

}  // namespace

// The quoted-printable span core (source/rfc/rfc_quop_codec.cpp, rfc_quop_engine.hpp and the vector paths):
// exact encodings at line ends and line limits, the shape of every output, round trips of any input, the
// decoder's leniency, and the AVX2 and AVX-512 paths against the scalar reference.
#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>
#include <vector>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

using FastPath = test_support::FastPath<rfc::quop::Paths>;

std::vector<FastPath> fastPaths() {
  return fastPathsOf(rfc::quop::avx2Paths(), rfc::quop::avx512Paths());
}

struct EncodeCase {
  const char *label;
  std::string input;
  std::size_t lineLength;
  std::string expected;
};

const EncodeCase kEncodeCases[] = {
    {"empty", "", 76, ""},
    {"plain text", "hello world", 76, "hello world"},
    {"every literal octet", "!\"#$%&'()*+,-./0123456789:;<>?@AZ[\\]^_`az{|}~", 76,
     "!\"#$%&'()*+,-./0123456789:;<>?@AZ[\\]^_`az{|}~"},
    {"= escaped", "a=b", 76, "a=3Db"},
    {"octets above 127 in upper-case hex", "caf\xc3\xa9", 76, "caf=C3=A9"},
    {"controls and DEL", std::string("\x00\x01\x1f\x7f", 4), 76, "=00=01=1F=7F"},
    {"interior white space literal", "a  b\tc", 76, "a  b\tc"},
    {"SP before CR LF escaped", "line \r\nnext", 76, "line=20\r\nnext"},
    {"HTAB before CR LF escaped", "tab\t\r\n", 76, "tab=09\r\n"},
    {"only the last white octet is escaped", "a  \t\r\n", 76, "a  =09\r\n"},
    {"SP at the end escaped", "end ", 76, "end=20"},
    {"HTAB at the end escaped", "end\t", 76, "end=09"},
    {"white-only line", " \r\n", 76, "=20\r\n"},
    {"SP before a bare CR stays literal", "a \rb", 76, "a =0Db"},
    {"SP before a bare LF stays literal", "a \nb", 76, "a =0Ab"},
    {"CR LF kept as hard breaks", "\r\n\r\na\r\n", 76, "\r\n\r\na\r\n"},
    {"CR before CR LF", "\r\r\n", 76, "=0D\r\n"},
    {"LF CR is no line break", "\n\r", 76, "=0A=0D"},
    {"CR at the very end", "a\r", 76, "a=0D"},
    // Line limit 10: a unit that ends its line may reach column 10, any other must leave room for "=".
    {"line exactly full", "abcdefghij", 10, "abcdefghij"},
    {"one over: soft break after nine", "abcdefghijk", 10, "abcdefghi=\r\njk"},
    {"full line before a hard break", "abcdefghij\r\nx", 10, "abcdefghij\r\nx"},
    {"escape ending the line at the limit", "abcdefg\xff", 10, "abcdefg=FF"},
    {"escape that would pass the limit moves whole", "abcdefgh\xff", 10, "abcdefgh=\r\n=FF"},
    {"escape in mid line reaching column 9", "abcdef\xffz", 10, "abcdef=FFz"},
    {"escape in mid line reaching column 10 moves", "abcdefg\xffz", 10, "abcdefg=\r\n=FFz"},
    {"escaped trailing SP past the limit", "abcdefghi ", 10, "abcdefghi=\r\n=20"},
    {"SP before a soft break stays literal", "abcdefgh ijk", 10, "abcdefgh =\r\nijk"},
    {"shortest lines: one escape each", "\xff\xfe\xfd", 4, "=FF=\r\n=FE=\r\n=FD"},
    {"shortest lines: literals, the last one may fill its line", "abcdefgh", 4, "abc=\r\ndef=\r\ngh"},
    {"no soft breaks at line length 0", std::string(200, 'a'), 0, std::string(200, 'a')},
    {"long line at 76", std::string(200, 'a'), 76,
     std::string(75, 'a') + "=\r\n" + std::string(75, 'a') + "=\r\n" + std::string(50, 'a')},
    {"hard break resets the column", std::string(70, 'a') + "\r\n" + std::string(70, 'b'), 76,
     std::string(70, 'a') + "\r\n" + std::string(70, 'b')},
};

TEST(QuopEncode, ExactOutput) {
  for (const auto &c : kEncodeCases) {
    EXPECT_TRUE(exactlyEqual(quopEncode(c.input, c.lineLength), c.expected)) << c.label;
  }
}

// The shape every encoding must have: lines within the limit, of printable octets, white space and escapes
// of two upper-case hex digits, with no white space at their end; a "=" at the end of a line but the last is
// a soft break.
testing::AssertionResult wellFormed(const std::string &encoded, std::size_t lineLength) {
  const auto upperHex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); };
  for (std::size_t start = 0, end = 0; end < encoded.size(); start = end + 2) {
    end = std::min(encoded.find("\r\n", start), encoded.size());
    std::string_view line(encoded.data() + start, end - start);
    bool bad = (lineLength > 0 && line.size() > lineLength) || line.ends_with(' ') || line.ends_with('\t');
    if (end < encoded.size() && line.ends_with('=')) line.remove_suffix(1);
    for (std::size_t i = 0; i < line.size() && !bad; ++i) {
      const auto c = static_cast<unsigned char>(line[i]);
      if (c != '=') {
        bad = c > 126 || (c < 33 && c != ' ' && c != '\t');
      } else {
        bad = i + 2 >= line.size() || !upperHex(line[i + 1]) || !upperHex(line[i + 2]);
        i += 2;
      }
    }
    if (bad)
      return testing::AssertionFailure() << "line at " << start << ": \"" << escapeForDisplay(line) << "\"";
  }
  return testing::AssertionSuccess();
}

// Any input at any line length: the scalar encoding is well formed and decodes back, and each vector path
// encodes it, and decodes it taken as text, as the scalar does.
TEST(QuopRoundTrip, AnyInputAtAnyLineLengthAndTheVectorPathsAsTheScalar) {
  test_support::DeterministicRandom random(2045);
  for (int round = 0; round < 3000; ++round) {
    const std::string data = hostileOctets(random, static_cast<std::size_t>(random.range(0, 1000)));
    const std::size_t lineLength =
        static_cast<std::size_t>(random.chance(10) ? 0 : random.range(4, random.chance(50) ? 12 : 998));
    const std::string encoded = quopEncode(data, lineLength);
    ASSERT_TRUE(wellFormed(encoded, lineLength)) << "line length " << lineLength << ", round " << round;
    ASSERT_TRUE(exactlyEqual(quopDecode(encoded), data))
        << "line length " << lineLength << ", round " << round;
    for (const FastPath &f : fastPaths()) {
      ASSERT_TRUE(exactlyEqual(quopEncode(data, lineLength, *f.paths), encoded))
          << f.name << ", round " << round;
      ASSERT_TRUE(exactlyEqual(quopDecode(data, *f.paths), quopDecode(data)))
          << f.name << ", round " << round;
    }
  }
}

struct DecodeCase {
  const char *label;
  std::string text;
  std::string expected;
};

const DecodeCase kDecodeCases[] = {
    {"empty", "", ""},
    {"escapes in either case", "=3d=3D=c3=A9", "==\xc3\xa9"},
    {"soft break CR LF", "soft=\r\nbreak", "softbreak"},
    {"soft break LF", "soft=\nbreak", "softbreak"},
    {"padding after the soft break =", "soft= \t\r\nbreak", "softbreak"},
    {"soft break at the very end", "end=", "end"},
    {"= and padding at the very end", "end= ", "end"},
    {"trailing white space dropped before CR LF", "trail \t \r\nx", "trail\r\nx"},
    {"trailing white space dropped before LF", "trail \nx", "trail\nx"},
    {"trailing white space dropped at the end", "trail  ", "trail"},
    {"escaped SP before CR LF kept", "keep=20\r\n", "keep \r\n"},
    {"escaped SP then padding", "keep=20 \r\n", "keep \r\n"},
    {"white space before a soft break is data", "keep \t=\r\nnext", "keep \tnext"},
    {"white-only line", "   \r\n", "\r\n"},
    {"malformed: not hex", "=G1", "=G1"},
    {"malformed: one digit at the end", "=4", "=4"},
    {"malformed: second not hex", "=4g", "=4g"},
    {"malformed: then an escape", "==41", "=A"},
    {"malformed: = SP text", "a= b", "a= b"},
    {"malformed: = before a bare CR", "=\rx", "=\rx"},
    {"malformed: = before the padding of a line", "=4 \r\n", "=4\r\n"},
    {"bare CR is data", "bare\rcr", "bare\rcr"},
    {"CR CR LF keeps the first CR", "a\r\r\n", "a\r\r\n"},
    {"line breaks kept as written", "a\r\nb\nc", "a\r\nb\nc"},
    {"8-bit octets pass", "caf\xe9", "caf\xe9"},
    {"escaped line breaks", "=0D=0A", "\r\n"},
};

TEST(QuopDecode, LenientExactly) {
  for (const auto &c : kDecodeCases) {
    EXPECT_TRUE(exactlyEqual(quopDecode(c.text), c.expected)) << c.label;
  }
}

TEST(QuopDecode, LongLinesAndLongWhiteRuns) {
  std::string spaces(100000, ' ');
  EXPECT_EQ(quopDecode(spaces + "\r\n" + spaces + "x"), "\r\n" + spaces + "x");
  std::string equals(100000, '=');
  EXPECT_EQ(quopDecode(equals + "\r\n"), std::string(99999, '=')) << "the last = is a soft break";
}

// --- the vector paths against the scalar reference ---

class QuopFastPath : public testing::TestWithParam<FastPath> {
 protected:
  const rfc::quop::Paths &fast() const { return *GetParam().paths; }
};
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(QuopFastPath);
INSTANTIATE_TEST_SUITE_P(OnThisProcessor, QuopFastPath, testing::ValuesIn(fastPaths()),
                         [](const testing::TestParamInfo<FastPath> &info) { return info.param.name; });

TEST_P(QuopFastPath, EveryLengthUpTo3000AsTheScalar) {
  test_support::DeterministicRandom random(3000);
  std::string data = hostileOctets(random, 3000);
  for (std::size_t lineLength : {4, 76, 0}) {
    for (std::size_t length = 0; length <= 3000; ++length) {
      std::string_view input(data.data(), length);
      std::string reference = quopEncode(input, lineLength);
      ASSERT_TRUE(exactlyEqual(quopEncode(input, lineLength, fast()), reference))
          << "length " << length << ", line length " << lineLength;
      ASSERT_EQ(quopDecode(reference, fast()), input) << "length " << length;
      ASSERT_EQ(quopDecode(input, fast()), quopDecode(input)) << "raw text of length " << length;
    }
  }
}

TEST_P(QuopFastPath, DecodesEveryConstructAtEveryBlockOffsetAsTheScalar) {
  // The vector decoder works in blocks of 32: each construct at each offset meets both block edges.
  const std::string constructs[] = {" \r\n", "\t\n", " \r", "=41", "=e9=E9", "=\r\n", "= \r\n", "=\n",
                                    "=4",    "=4 ",  "\r",  "\n",  "=",      " ",     "==41",   "=\r"};
  for (const std::string &construct : constructs) {
    for (std::size_t offset = 0; offset < 70; ++offset) {
      for (const char *filler : {"x", " "}) {
        std::string text = std::string(offset, *filler) + construct + std::string(100, 'y');
        ASSERT_TRUE(exactlyEqual(quopDecode(text, fast()), quopDecode(text)))
            << "\"" << test_support::escapeForDisplay<char>(construct) << "\" at " << offset;
      }
    }
  }
}

}  // namespace

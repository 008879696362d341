// Hostile input that the area tests leave out: section numbers and percent escapes no writer produces,
// parameter names and values at the limits of the encoder, unterminated delimited tokens a mebibyte long,
// multipart bodies with foreign line ends, control and 8-bit octets in part headers, huge header blocks, NUL
// in caller values (multipart_pack_test.cpp and content_type_codec_test.cpp), and the last of the ten
// boundaries a pack may try. Each row checks the result; the time for sizes N and 10N is in
// bench/mime_hostile_bench.cpp.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "support/test_support.hpp"

namespace {

using namespace test_support;
using namespace std::string_literals;

constexpr kxInt kParse = MIME_FLAG_PARSE_RFC2231_HEADERS;

struct Decoded {
  std::string name;
  Params params;
  bool operator==(const Decoded &) const = default;
};

std::optional<Decoded> decodeType(const std::string &text, kxInt flags = kParse) {
  TypeRef type(mimeContentTypeTryDecode(str(text).get(), options(flags).get()));
  if (!type) return std::nullopt;
  return Decoded{nameOf(type.get()), paramsOf(type.get())};
}

std::string encodeType(MIME_CONTENT_TYPE *type, MIME_OPTIONS *mo) {
  return utf8Of(StringRef(mimeContentTypeEncode(type, mo, 14)).get());
}

struct TypeCase {
  const char *label;
  std::string text;
  std::optional<Decoded> expected;
};

void expectDecodes(const TypeCase &c) {
  EXPECT_EQ(decodeType(c.text), c.expected) << c.label;
}

// --- parameters ---

const std::string kEuro = "\xE2\x82\xAC";
const std::string kNul = "\0"s;

TEST(HostileParameters, SectionNumbersNoWriterProducesJoinNothing) {
  const TypeCase rows[] = {
      {"negative numbers", "a/b; t*0=a; t*-1=x; t*-1*=%41; t*-0=y", Decoded{"a/b", {{"t", "a"}}}},
      {"a plus sign", "a/b; t*0*=UTF-8''a; t*+1*=b; t*+1=c", Decoded{"a/b", {{"t", "a"}}}},
      {"non-ASCII digits", "a/b; t*0=a; t*\xD9\xA1=b; t*\xEF\xBC\x91*=c", Decoded{"a/b", {{"t", "a"}}}},
      {"section 2^63-1 is never reached", "a/b; t*0=a; t*9223372036854775807=z",
       Decoded{"a/b", {{"t", "a"}}}},
      {"only negative and huge numbers", "a/b; t*-1=a; t*18446744073709551617*=%41", Decoded{"a/b", {}}},
      {"two stars", "a/b; t*0=a; t**=c; t**0=d", Decoded{"a/b", {{"t", "a"}}}},
  };
  for (const TypeCase &c : rows) expectDecodes(c);
}

// "%" and two hexadecimal digits is one octet; anything else stays as it is, and an escape never spans two
// sections.
TEST(HostileParameters, PercentJunkStaysLiteral) {
  const TypeCase rows[] = {
      {"%%41", "a/b; t*=UTF-8''%%41", Decoded{"a/b", {{"t", "%A"}}}},
      {"%4%41", "a/b; t*=UTF-8''%4%41", Decoded{"a/b", {{"t", "%4A"}}}},
      {"%ZZ and %%", "a/b; t*=UTF-8''%ZZ%%", Decoded{"a/b", {{"t", "%ZZ%%"}}}},
      {"%00 is a NUL character", "a/b; t*=UTF-8''a%00b", Decoded{"a/b", {{"t", "a" + kNul + "b"}}}},
      {"+ is no space", "a/b; t*=UTF-8''a+b%2B", Decoded{"a/b", {{"t", "a+b+"}}}},
      {"an escape cut by a section end stays literal", "a/b; t*0*=UTF-8''x%4; t*1*=1",
       Decoded{"a/b", {{"t", "x%41"}}}},
      {"a lone lead octet", "a/b; t*=UTF-8''%C3", Decoded{"a/b", {{"t", "\xEF\xBF\xBD"}}}},
  };
  for (const TypeCase &c : rows) expectDecodes(c);
}

// The encoder cuts long values into sections of at most 60 characters without cutting an escape, whatever
// the name length; every line break in the result is a fold, and the decoder gives everything back.
TEST(HostileParameters, LongNamesAndValuesOfOnlyEscapesRoundTrip) {
  std::string escapesOnly;
  for (int i = 0; i < 2000; ++i) escapesOnly += kEuro + "\r\n \"%*'\t" + kNul;
  const std::string longName(200, 'n'), oddName = "!#$&+-.^_`{|}~" + std::string(186, 'x');
  const Params params = {{longName, "v"}, {oddName, escapesOnly}, {"short", escapesOnly}};
  TypeRef type = contentType("application/x", params);
  const std::string text = encodeType(type.get(), options().get());

  // Every line break is a fold; without them the value is "application/x" and ";key=value" pieces.
  std::string unfolded;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' || text[i] == '\n') {
      ASSERT_EQ(text.substr(i, 3), "\r\n ") << "at " << i;
      i += 2;
    } else {
      unfolded += text[i];
    }
  }
  size_t sections = 0;
  for (size_t at = unfolded.find(';'); at != std::string::npos; at = unfolded.find(';', at + 1)) {
    const size_t equals = unfolded.find('=', at);
    if (unfolded[equals - 1] != '*') continue;  // not a section of an extended value
    ++sections;
    const std::string value = unfolded.substr(equals + 1, unfolded.find(';', equals) - equals - 1);
    EXPECT_LE(value.size(), 60u) << value;
    const size_t prefix = value.rfind('\'');  // only section 0 has one
    for (size_t i = prefix == std::string::npos ? 0 : prefix + 1; i < value.size(); i += 3)
      ASSERT_EQ(value[i], '%') << value;  // only escapes, none of them cut
  }
  EXPECT_GE(sections, 2 * (escapesOnly.size() * 3 / 60));
  EXPECT_EQ(decodeType(text), (Decoded{"application/x", params}));
}

// Delimited tokens that never close, a mebibyte long, with or without a final backslash: null, never an
// abort or a read past the end. A backslash at the top level is a token of its own.
TEST(HostileParameters, UnterminatedDelimitedTokensAreRefused) {
  const std::string mebibyte(1u << 20, 'x');
  const TypeCase rows[] = {
      {"quoted string", "a/b; t=\"" + mebibyte, std::nullopt},
      {"quoted string ending in a backslash", "a/b; t=\"" + mebibyte + "\\", std::nullopt},
      {"quoted string whose last quote is escaped", "a/b; t=\"" + mebibyte + "\\\"", std::nullopt},
      {"comment", "a/b (" + mebibyte, std::nullopt},
      {"comment ending in a backslash", "a/b (" + mebibyte + "\\", std::nullopt},
      {"comment whose last parenthesis is escaped", "a/b (" + mebibyte + "\\)", std::nullopt},
      {"domain literal", "a/b; t=[" + mebibyte, std::nullopt},
      {"domain literal ending in a backslash", "a/b; t=[" + mebibyte + "\\", std::nullopt},
      {"escaped backslashes close the string", "a/b; t=\"" + std::string(1u << 20, '\\') + "\"",
       Decoded{"a/b", {{"t", std::string(1u << 19, '\\')}}}},
      {"a backslash last at the top level", "a/b; t=v\\", Decoded{"a/b", {{"t", "v"}}}},
      {"a backslash alone after the type", "a/b\\", Decoded{"a/b", {}}},
  };
  for (const TypeCase &c : rows) expectDecodes(c);
}

// --- multipart bodies ---

using Parts = std::vector<EntityView>;

std::optional<Parts> unpackWith(MIME_CONTENT_TYPE *type, KX_BUFFER *content) {
  TypeRef held = TypeRef::retained(type);
  VectorRef parts(mimeMultipartTryUnpack(held.addr(), content, options().get()));
  if (!parts) return std::nullopt;
  return viewsOf(parts.get());
}

std::optional<Parts> unpack(const std::string &content) {
  return unpackWith(mixedWithBoundary("B").get(), buf(content).get());
}

struct UnpackCase {
  const char *label;
  std::string content;
  std::optional<Parts> expected;
};

// Only CR LF ends a delimiter line or a header line; any other line end leaves the octets where they are.
TEST(HostileMultipart, ForeignLineEnds) {
  const UnpackCase rows[] = {
      {"LF only", "--B\nContent-Type: a/b\n\nbody\n--B--\n", std::nullopt},
      {"CR only", "--B\rContent-Type: a/b\r\rbody\r--B--\r", std::nullopt},
      {"LF only after a CR LF delimiter line", "--B\r\nContent-Type: a/b\n\nbody\n--B--\n", std::nullopt},
      {"LF header lines between CR LF delimiters", "--B\r\nContent-Type: a/b\nX: y\n\nbody\r\n--B--",
       Parts{EntityView{}}},
      {"a blank line of LF alone", "--B\r\nContent-Type: a/b\r\n\nbody\r\n--B--", Parts{EntityView{}}},
      {"a bare CR inside a value", "--B\r\nContent-Type: a/b\rContent-Id: <x>\r\n\r\nb\r\n--B--",
       Parts{{"a/b\rContent-Id: <x>", {}, {}, "b"}}},
      {"LF CR instead of CR LF", "--B\n\r\n\rbody\n\r--B--", std::nullopt},
      {"padding then junk", "--B \t junk\r\n\r\nx\r\n--B--", std::nullopt},
      {"padding then the close dashes", "--B\r\n\r\nx\r\n--B --\r\n", std::nullopt},
  };
  for (const UnpackCase &c : rows) EXPECT_EQ(unpack(c.content), c.expected) << c.label;
}

// Header octets are read as UTF-8: a NUL is a control character (refused in a name, kept in a value), valid
// UTF-8 is accepted anywhere, and octets that are not UTF-8 fail the call even in a field nobody reads.
TEST(HostileMultipart, ControlAnd8BitOctetsInPartHeaders) {
  const UnpackCase rows[] = {
      {"NUL in a name", "--B\r\nContent\0Type: a\r\n\r\nx\r\n--B--"s, std::nullopt},
      {"NUL as a whole line", "--B\r\nContent-Type: a/b\r\n\0\r\n\r\nx\r\n--B--"s, std::nullopt},
      {"NUL in a value", "--B\r\nContent-Type: a/b\0c\r\n\r\nx\r\n--B--"s, Parts{{"a/b\0c"s, {}, {}, "x"}}},
      {"UTF-8 in an ignored name", "--B\r\nX-\xC3\xA9: v\r\n\r\nx\r\n--B--", Parts{bodyOnly("x")}},
      {"Latin-1 in an ignored field", "--B\r\nX-A: caf\xE9\r\n\r\nx\r\n--B--", std::nullopt},
      {"an overlong form of '/'",
       "--B\r\nContent-Type: a\xC0\xAF"
       "b\r\n\r\nx\r\n--B--",
       std::nullopt},
      {"a surrogate in UTF-8 form", "--B\r\nContent-Id: <\xED\xA0\x80>\r\n\r\nx\r\n--B--", std::nullopt},
      {"a UTF-8 sequence cut by the blank line", "--B\r\nContent-Id: <a>\xE2\x82\r\n\r\nx\r\n--B--",
       std::nullopt},
  };
  for (const UnpackCase &c : rows) EXPECT_EQ(unpack(c.content), c.expected) << c.label;
}

TEST(HostileMultipart, TenThousandHeaderLinesInOnePart) {
  std::string lines;
  for (int i = 0; i < 10000; ++i)
    lines += "X-Field-" + std::to_string(i) + ": value " + std::to_string(i) + "\r\n";
  EXPECT_EQ(unpack("--B\r\n" + lines + "Content-Type: a/b\r\n\r\nbody\r\n--B--"),
            (Parts{{"a/b", {}, {}, "body"}}));

  std::string ids;
  for (int i = 0; i < 10000; ++i) ids += "Content-Id: <" + std::to_string(i) + ">\r\n";
  EXPECT_EQ(unpack("--B\r\n" + ids + "\r\nbody\r\n--B--"), std::nullopt);  // the second one fails the call
}

TEST(HostileMultipart, OneSixteenMebibyteHeaderLine) {
  const std::string value(16u << 20, 'v');
  TypeRef type = mixedWithBoundary("B");
  BufferRef content = buf("--B\r\nContent-Type: " + value + "\r\n\r\nbody\r\n--B--");
  VectorRef parts(mimeMultipartTryUnpack(type.addr(), content.get(), options().get()));
  ASSERT_TRUE(parts);
  ASSERT_EQ(kxVectorLength(parts.get()), 1);
  MIME_ENTITY *part = mimeEntityFrom(kxVectorBacking(parts.get())[0]);
  StringRef field(mimeEntityContentType(part));
  ASSERT_TRUE(field);
  EXPECT_EQ(kxStringLength(field.get()), static_cast<kxInt>(value.size()));
  EXPECT_EQ(bytesOf(BufferRef(mimeEntityBody(part)).get()), "body");

  // Without a colon the line fails the call; a mebibyte shows it (the benchmark times the larger sizes).
  EXPECT_EQ(unpack("--B\r\n" + std::string(1u << 20, 'v') + "\r\n\r\nbody\r\n--B--"), std::nullopt);
}

// --- generation ---

// A random source that counts: every run from the same start draws the same boundaries.
uint64_t countingBits(void *context) {
  uint64_t &counter = *static_cast<uint64_t *>(context);
  uint64_t z = (counter += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  return z ^ (z >> 31);
}

// Ten boundaries are tested in all, the caller's (when valid) counting as the first: the tenth may still
// succeed, and when it collides too the pack fails and leaves the content type as it was.
TEST(HostileGeneration, TheTenthBoundaryIsTheLastOneTried) {
  uint64_t counter = 0;
  kxRandomSetThreadSource(countingBits, &counter);
  std::vector<std::string> generated;
  for (int i = 0; i < 10; ++i) generated.push_back(utf8Of(StringRef(mimeMultipartBoundaryGenerate()).get()));

  struct Row {
    const char *label;
    const char *callerBoundary;
    int collidingGenerated;
    std::optional<std::string> used;
  };
  const Row rows[] = {
      {"nine generated collide, the tenth is used", nullptr, 9, generated[9]},
      {"all ten generated collide", nullptr, 10, std::nullopt},
      {"the caller's and eight generated collide, the ninth is used", "caller", 8, generated[8]},
      {"the caller's and nine generated collide", "caller", 9, std::nullopt},
  };
  for (const Row &row : rows) {
    // One body per colliding boundary, each holding it as a line prefix after some text.
    std::vector<EntityView> parts;
    if (row.callerBoundary) parts.push_back(bodyOnly("--caller\r\n"));
    for (int i = 0; i < row.collidingGenerated; ++i)
      parts.push_back(bodyOnly("text\r\n--" + generated[i] + "x\r\n"));
    TypeRef type = mixedWithBoundary(row.callerBoundary);
    TypeRef otherHolder = TypeRef::retained(type.get());
    counter = 0;
    BufferRef packed(mimeMultipartTryPack(type.addr(), vectorOf(parts).get(), options().get()));
    EXPECT_EQ(packed.get() != nullptr, row.used.has_value()) << row.label;
    if (row.used) {
      EXPECT_EQ(parameterOf(type.get(), "boundary"), *row.used) << row.label;
      EXPECT_EQ(unpackWith(type.get(), packed.get()), parts) << row.label;
    } else {
      EXPECT_EQ(type.get(), otherHolder.get()) << row.label;
    }
    EXPECT_EQ(parameterOf(otherHolder.get(), "boundary"),
              row.callerBoundary ? row.callerBoundary : "<absent>");
  }
  kxRandomSetThreadSource(nullptr, nullptr);
}

}  // namespace

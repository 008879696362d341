// Content-Transfer-Encoding: names, the header field codec, and the test whether a body may travel as it is.
#include <gtest/gtest.h>

#include <string>

#include "mime/header_field_test.hpp"

namespace {

using namespace fieldtest;

constexpr kxInt kSevenBit = MIME_CONTENT_TRANSFER_ENCODING_7BIT;
constexpr kxInt kEightBit = MIME_CONTENT_TRANSFER_ENCODING_8BIT;

std::string lines(int count, size_t length) {
  std::string body;
  for (int i = 0; i < count; ++i) body += std::string(length, 'x') + "\r\n";
  return body;
}

struct CheckCase {
  const char *label;
  std::string body;
  int sevenBit;
  int eightBit;
};

const CheckCase kCheckCases[] = {
    {"empty", "", 1, 1},
    {"one line", "abc\r\n", 1, 1},
    {"line break alone", "\r\n", 1, 1},
    {"no final line break", "abc", 0, 0},
    {"text after the last line break", "a\r\nb", 0, 0},
    {"final CR without LF", "abc\r", 0, 0},
    {"bare LF", "abc\n\r\n", 0, 0},
    {"LF alone", "\n", 0, 0},
    {"CR before the line break", "\r\r\n", 0, 0},
    {"CR inside a line", "a\rb\r\n", 0, 0},
    {"octet above 127", "\x80\r\n", 0, 1},
    {"octets 0xFE 0xFF", "\xFE\xFF\r\n", 0, 1},
    {"NUL", std::string("\0\r\n", 3), 0, 0},
    {"NUL after a good line", std::string("ok\r\n\0\r\n", 7), 0, 0},
    {"line of 998 octets", lines(1, 998), 1, 1},
    {"line of 999 octets", lines(1, 999), 0, 0},
    {"the count starts again after each line", lines(200, 998), 1, 1},
    {"a long line late in the body", lines(50, 10) + lines(1, 999), 0, 0},
    {"empty lines", lines(3, 0), 1, 1},
};

TEST(ContentTransferEncodingCheck, LinesForSevenAndEightBitAnythingForTheRest) {
  for (const CheckCase &c : kCheckCases) {
    SCOPED_TRACE(c.label);
    kxtest::BufferRef body = kxtest::buf(c.body);
    EXPECT_EQ(mimeContentTransferEncodingCheck(kSevenBit, body.get()), c.sevenBit);
    EXPECT_EQ(mimeContentTransferEncodingCheck(kEightBit, body.get()), c.eightBit);
    EXPECT_EQ(mimeContentTransferEncodingCheck(MIME_CONTENT_TRANSFER_ENCODING_BINARY, body.get()), 1);
    EXPECT_EQ(mimeContentTransferEncodingCheck(MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE, body.get()),
              1);
    EXPECT_EQ(mimeContentTransferEncodingCheck(MIME_CONTENT_TRANSFER_ENCODING_BASE64, body.get()), 1);
  }
}

TEST(ContentTransferEncodingCheck, PartialOctetFailsEveryEncoding) {
  const kxByte bits[2] = {'a', 0x0F};
  kxtest::BufferRef twelveBits(kxBufferCreateFromBits(bits, 12));
  for (kxInt cte = 0; cte <= 4; ++cte) EXPECT_EQ(mimeContentTransferEncodingCheck(cte, twelveBits.get()), 0);
}

TEST(ContentTransferEncodingCheck, LargeBodyOfShortLines) {
  std::string body;
  for (int i = 0; i < 200000; ++i) body += "line " + std::to_string(i) + "\r\n";
  kxtest::BufferRef clean = kxtest::buf(body);
  EXPECT_EQ(mimeContentTransferEncodingCheck(kSevenBit, clean.get()), 1);
  body[body.size() / 2] = '\x85';
  kxtest::BufferRef high = kxtest::buf(body);
  EXPECT_EQ(mimeContentTransferEncodingCheck(kSevenBit, high.get()), 0);
  EXPECT_EQ(mimeContentTransferEncodingCheck(kEightBit, high.get()), 1);
}

struct DecodeCase {
  const char *label;
  std::string text;
  kxInt expected;
};

const DecodeCase kDecodeCases[] = {
    {"upper case", "7BIT", 0},
    {"8bit", "8bit", 1},
    {"mixed case", "Binary", 2},
    {"quoted", "\"quoted-printable\"", 3},
    {"upper case base64", "BASE64", 4},
    {"with a comment", "Base64 (encoded)", 4},
    {"folded white space around", " \r\n 8bit\r\n ", 1},
    {"NUL after the name is skipped", std::string("7bit\0", 5), 0},
    {"three tokens", "base64 ; x", -1},
    {"two names", "7bit 8bit", -1},
    {"only a comment", "(only a comment)", -1},
    {"unterminated quoted string", "\"base64", -1},
    {"unknown encoding", "x-uuencode", -1},
    {"empty", "", -1},
    {"domain literal", "[base64]", -1},
    {"tspecial", "/", -1},
    {"prefix of a name", "base6", -1},
};

TEST(ContentTransferEncodingDecode, NamesTheFiveEncodingsOrMinusOne) {
  OptionsRef mo(mimeOptionsCreate());
  for (const DecodeCase &c : kDecodeCases) {
    SCOPED_TRACE(c.label);
    StringRef text(kxStringCreateFromCstr(c.text.data(), static_cast<kxInt>(c.text.size())));
    EXPECT_EQ(mimeContentTransferEncodingTryDecode(text.get(), mo.get()), c.expected);
  }
}

TEST(ContentTransferEncodingEncode, WritesTheNameAndFoldsOnlyBeforeIt) {
  const char *names[] = {"7bit", "8bit", "binary", "quoted-printable", "base64"};
  OptionsRef defaults(mimeOptionsCreate());
  OptionsRef unfolded = options(3, -1);
  for (kxInt cte = 0; cte <= 4; ++cte) {
    SCOPED_TRACE(cte);
    StringRef name(mimeContentTransferEncodingToString(cte));
    EXPECT_EQ(utf8Of(name.get()), names[cte]);
    StringRef header(mimeContentTransferEncodingEncode(cte, defaults.get(), 27));
    EXPECT_EQ(utf8Of(header.get()), names[cte]);
    EXPECT_EQ(mimeContentTransferEncodingTryDecode(header.get(), defaults.get()), cte);
    StringRef folded(mimeContentTransferEncodingEncode(cte, defaults.get(), 77));
    EXPECT_EQ(utf8Of(folded.get()), std::string("\r\n ") + names[cte]);
    EXPECT_EQ(mimeContentTransferEncodingTryDecode(folded.get(), defaults.get()), cte);
    StringRef long_offset(mimeContentTransferEncodingEncode(cte, unfolded.get(), 1000));
    EXPECT_EQ(utf8Of(long_offset.get()), names[cte]);
  }
}

TEST(ContentTransferEncodingDeathTest, BrokenPreconditionsAbort) {
  const std::string file = "mime_content_transfer_encoding\\.cpp";
  const std::string badCte = "MIME_CONTENT_TRANSFER_ENCODING_OK\\( cte \\)";
  OptionsRef mo(mimeOptionsCreate());
  kxtest::BufferRef body = kxtest::buf("x\r\n");
  StringRef text = str("7bit");
  EXPECT_DEATH(mimeContentTransferEncodingToString(5), abortLine(file, badCte));
  EXPECT_DEATH(mimeContentTransferEncodingToString(-1), abortLine(file, badCte));
  EXPECT_DEATH(mimeContentTransferEncodingEncode(5, mo.get(), 0), abortLine(file, badCte));
  EXPECT_DEATH(mimeContentTransferEncodingCheck(-1, body.get()), abortLine(file, badCte));
  EXPECT_DEATH(mimeContentTransferEncodingCheck(0, nullptr), abortLine(file, "buf"));
  EXPECT_DEATH(mimeContentTransferEncodingTryDecode(nullptr, mo.get()), abortLine(file, "cte"));
  EXPECT_DEATH(mimeContentTransferEncodingTryDecode(text.get(), nullptr), abortLine(file, "mo"));
  EXPECT_DEATH(mimeContentTransferEncodingEncode(0, mo.get(), -1), "firstLineOffset >= 0");
}

}  // namespace

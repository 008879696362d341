// Content-Transfer-Encoding: names, the header field codec, and the test whether a body may travel as it is.
#include <gtest/gtest.h>

#include <string>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

constexpr kxInt kSevenBit = MIME_CONTENT_TRANSFER_ENCODING_7BIT;
constexpr kxInt kEightBit = MIME_CONTENT_TRANSFER_ENCODING_8BIT;

std::string lines(int count, size_t length) {
  std::string body;
  for (int i = 0; i < count; ++i) body += std::string(length, 'x') + "\r\n";
  return body;
}

TEST(ContentTransferEncodingCheck, LinesForSevenAndEightBitAnythingForTheRest) {
  const std::tuple<const char *, std::string, int, int> rows[] = {
      // label, body, 7bit, 8bit
      {"empty", "", 1, 1},
      {"no final line break", "abc", 0, 0},
      {"text after the last line break", "a\r\nb", 0, 0},
      {"bare LF", "abc\n\r\n", 0, 0},
      {"CR inside a line", "a\rb\r\n", 0, 0},
      {"octets 0x80 0xFE 0xFF", "\x80\xFE\xFF\r\n", 0, 1},
      {"NUL after a good line", std::string("ok\r\n\0\r\n", 7), 0, 0},
      {"line of 998 octets", lines(1, 998), 1, 1},
      {"line of 999 octets", lines(1, 999), 0, 0},
      {"the count starts again after each line", lines(200, 998), 1, 1},
      {"a long line late in the body", lines(50, 10) + lines(1, 999), 0, 0},
      {"an 8-bit octet deep in a large body", lines(20000, 20) + "\x85\r\n" + lines(10, 20), 0, 1},
  };
  for (const auto &[label, bytes, sevenBit, eightBit] : rows) {
    SCOPED_TRACE(label);
    BufferRef body = buf(bytes);
    EXPECT_EQ(mimeContentTransferEncodingCheck(kSevenBit, body.get()), sevenBit);
    EXPECT_EQ(mimeContentTransferEncodingCheck(kEightBit, body.get()), eightBit);
    for (kxInt cte = 2; cte <= 4; ++cte)
      EXPECT_EQ(mimeContentTransferEncodingCheck(cte, body.get()), 1) << cte;
  }
  const kxByte bits[2] = {'a', 0x0F};
  BufferRef twelveBits(kxBufferCreateFromBits(bits, 12));
  for (kxInt cte = 0; cte <= 4; ++cte)
    EXPECT_EQ(mimeContentTransferEncodingCheck(cte, twelveBits.get()), 0) << cte;
}

// Comments and folds around the name are skipped, and so is a NUL after it.
TEST(ContentTransferEncodingDecode, NamesTheFiveEncodingsOrMinusOne) {
  const std::pair<std::string, kxInt> rows[] = {
      {"7BIT", 0},
      {"Binary", 2},
      {"\"quoted-printable\"", 3},
      {"Base64 (encoded)", 4},
      {" \r\n 8bit\r\n ", 1},
      {{"7bit\0", 5}, 0},
      {"base64 ; x", -1},
      {"(only a comment)", -1},
      {"x-uuencode", -1},
      {"[base64]", -1},
      {"base6", -1},
  };
  for (const auto &[text, expected] : rows)
    EXPECT_EQ(mimeContentTransferEncodingTryDecode(str(text).get(), options().get()), expected) << text;
}

TEST(ContentTransferEncodingEncode, WritesTheNameAndFoldsOnlyBeforeIt) {
  const char *names[] = {"7bit", "8bit", "binary", "quoted-printable", "base64"};
  OptionsRef defaults = options();
  for (kxInt cte = 0; cte <= 4; ++cte) {
    SCOPED_TRACE(cte);
    EXPECT_EQ(utf8Of(StringRef(mimeContentTransferEncodingToString(cte)).get()), names[cte]);
    EXPECT_EQ(utf8Of(StringRef(mimeContentTransferEncodingEncode(cte, defaults.get(), 76)).get()),
              names[cte]);
    StringRef folded(mimeContentTransferEncodingEncode(cte, defaults.get(), 77));
    EXPECT_EQ(utf8Of(folded.get()), std::string("\r\n ") + names[cte]);
    EXPECT_EQ(mimeContentTransferEncodingTryDecode(folded.get(), defaults.get()), cte);
    EXPECT_EQ(utf8Of(StringRef(mimeContentTransferEncodingEncode(cte, options(3, -1).get(), 1000)).get()),
              names[cte]);
  }
}

}  // namespace

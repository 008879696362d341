// The kx face of the quoted-printable codec (source/rfc/rfc_quop.cpp): buffers in and out, the line length
// taken from the options, the length query, partial octets, and the contract aborts.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

// The encoding under the options' line length, which the length query predicts and which decodes back.
TEST(QuopEncodeWithOptions, UsesTheOptionsLineLength) {
  BufferRef body = buf(std::string(100, 'a') + " \r\n\xe9");
  const auto encode = [&body](RFC_QUOP_OPTIONS *qo) {
    BufferRef encoded(rfcQuopEncodeWithOptions(body.get(), qo));
    EXPECT_EQ(rfcQuopEncodedLength(body.get(), qo), kxBufferLength(encoded.get()));
    EXPECT_EQ(bytesOf(BufferRef(rfcQuopTryDecodeWithOptions(encoded.get(), qo)).get()), bytesOf(body.get()));
    return bytesOf(encoded.get());
  };
  QuopOptionsRef qo(rfcQuopOptionsCreate());
  EXPECT_TRUE(
      exactlyEqual(encode(qo.get()), std::string(75, 'a') + "=\r\n" + std::string(25, 'a') + "=20\r\n=E9"));
  rfcQuopOptionsSetOutputLineLength(qo.addr(), 0);
  EXPECT_TRUE(exactlyEqual(encode(qo.get()), std::string(100, 'a') + "=20\r\n=E9"));
}

TEST(QuopTryEncodeWithinLength, GivesTheEncodingOnlyWhenItFits) {
  struct Case {
    const char *label;
    std::string body;
  };
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary += static_cast<char>(i * 7 % 256);
  const Case cases[] = {
      {"empty", ""},
      {"text with soft breaks", std::string(300, 'a') + " \r\n\xe9"},
      {"binary, turned away by the quick count", binary},
      {"escapes only", std::string(5000, '\0')},
      {"long lines of white space", std::string(2000, ' ') + "\r\n" + std::string(2000, '\t')},
  };
  QuopOptionsRef qo(rfcQuopOptionsCreate());
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    BufferRef body = buf(c.body);
    BufferRef full(rfcQuopEncodeWithOptions(body.get(), qo.get()));
    const kxInt length = kxBufferLength(full.get());
    BufferRef exact(rfcQuopTryEncodeWithinLength(body.get(), qo.get(), length));
    ASSERT_TRUE(exact);
    EXPECT_TRUE(exactlyEqual(bytesOf(exact.get()), bytesOf(full.get())));
    BufferRef roomy(rfcQuopTryEncodeWithinLength(body.get(), qo.get(), KX_BUFFER_MAX_LENGTH));
    ASSERT_TRUE(roomy);
    EXPECT_TRUE(exactlyEqual(bytesOf(roomy.get()), bytesOf(full.get())));
    if (length > 0) {
      EXPECT_FALSE(BufferRef(rfcQuopTryEncodeWithinLength(body.get(), qo.get(), length - 1)));
    }
    EXPECT_EQ(!BufferRef(rfcQuopTryEncodeWithinLength(body.get(), qo.get(), 0)), length > 0);
  }
}

// A partly used last octet is refused by every function; an empty buffer gives an empty result.
TEST(QuopCodec, PartlyUsedLastOctetIsRefusedAndEmptyGivesEmpty) {
  const kxByte bits[] = {'a', 'b'};
  BufferRef partial(kxBufferCreateFromBits(bits, 12)), empty = buf("");
  QuopOptionsRef qo(rfcQuopOptionsCreate());
  EXPECT_FALSE(BufferRef(rfcQuopEncodeWithOptions(partial.get(), qo.get())));
  EXPECT_EQ(rfcQuopEncodedLength(partial.get(), qo.get()), -1);
  EXPECT_FALSE(BufferRef(rfcQuopTryEncodeWithinLength(partial.get(), qo.get(), 100)));
  EXPECT_FALSE(BufferRef(rfcQuopTryDecodeWithOptions(partial.get(), qo.get())));
  BufferRef encoded(rfcQuopEncodeWithOptions(empty.get(), qo.get()));
  BufferRef decoded(rfcQuopTryDecodeWithOptions(empty.get(), qo.get()));
  ASSERT_TRUE(encoded && decoded);
  EXPECT_EQ(kxBufferLength(encoded.get()) + kxBufferLength(decoded.get()), 0);
}

// One per kind of contract: a null buffer, null options.
TEST(QuopCodecDeath, BrokenPreconditionsAbort) {
  EXPECT_DEATH(rfcQuopEncodedLength(nullptr, QuopOptionsRef(rfcQuopOptionsCreate()).get()),
               abortText("", "buf"));
  EXPECT_DEATH(rfcQuopTryDecodeWithOptions(buf("x").get(), nullptr), abortText("", "qo"));
}

}  // namespace

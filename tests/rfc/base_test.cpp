// The kx face of the Base64 codec (source/rfc/rfc_base.cpp): buffers in and out, the line length taken from
// the options, refusals, and the contract aborts.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

BaseOptionsRef optionsWithLineLength(kxInt length) {
  BaseOptionsRef bo(rfcBaseOptionsCreate());
  rfcBaseOptionsSetOutputLineLength(bo.addr(), length);
  return bo;
}

// The encoding under the options' line length, whole groups of it, which the length query predicts.
TEST(BaseEncodeWithOptions, UsesTheOptionsLineLength) {
  BufferRef body = buf(std::string(60, 'a'));
  const auto encode = [&body](RFC_BASE_OPTIONS *bo) {
    BufferRef encoded(rfcBaseEncodeWithOptions(body.get(), RFC_BASE_SELECTOR_MIME, bo));
    EXPECT_EQ(rfcBaseEncodedLength(body.get(), RFC_BASE_SELECTOR_MIME, bo), kxBufferLength(encoded.get()));
    return bytesOf(encoded.get());
  };
  std::string expected = encode(BaseOptionsRef(rfcBaseOptionsCreate()).get());
  EXPECT_EQ(expected.size(), 80u) << "the default has no line breaks";
  expected.insert(76, "\r\n");
  EXPECT_TRUE(exactlyEqual(encode(optionsWithLineLength(76).get()), expected));
  EXPECT_EQ(encode(optionsWithLineLength(79).get()), expected) << "79 rounds down to 76";
}

TEST(BaseTryDecodeWithOptions, RoundTripsAndRefusesAndEncodesPartialOctetsWhole) {
  BaseOptionsRef bo = optionsWithLineLength(76);
  test_support::DeterministicRandom random(2);
  BufferRef body = buf(hostileOctets(random, 5000));
  BufferRef encoded(rfcBaseEncodeWithOptions(body.get(), RFC_BASE_SELECTOR_MIME, bo.get()));
  BufferRef decoded(rfcBaseTryDecodeWithOptions(encoded.get(), RFC_BASE_SELECTOR_MIME, bo.get()));
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(exactlyEqual(bytesOf(decoded.get()), bytesOf(body.get())));

  BufferRef empty = buf("");
  BufferRef nothing(rfcBaseTryDecodeWithOptions(empty.get(), RFC_BASE_SELECTOR_MIME, bo.get()));
  ASSERT_TRUE(nothing) << "empty text is empty data, not a failure";
  EXPECT_EQ(kxBufferLength(nothing.get()), 0);

  BufferRef lone = buf("Zm9vY");
  EXPECT_FALSE(BufferRef(rfcBaseTryDecodeWithOptions(lone.get(), RFC_BASE_SELECTOR_MIME, bo.get())));

  // A partly used last octet is no text, but it is encoded whole.
  const kxByte bits[] = {0xFF, 0xF0};
  BufferRef partial(kxBufferCreateFromBits(bits, 12));
  EXPECT_FALSE(BufferRef(rfcBaseTryDecodeWithOptions(partial.get(), RFC_BASE_SELECTOR_MIME, bo.get())));
  EXPECT_EQ(
      bytesOf(BufferRef(rfcBaseEncodeWithOptions(partial.get(), RFC_BASE_SELECTOR_MIME, bo.get())).get()),
      "//A=");
}

// One per kind of contract: a null buffer, an unknown selector, null options.
TEST(BaseCodecDeath, BrokenPreconditionsAbort) {
  BufferRef body = buf("x");
  BaseOptionsRef bo(rfcBaseOptionsCreate());
  EXPECT_DEATH(rfcBaseTryDecodeWithOptions(nullptr, RFC_BASE_SELECTOR_MIME, bo.get()), abortText("", "buf"));
  EXPECT_DEATH(rfcBaseEncodedLength(body.get(), 4, bo.get()),
               abortText("", "RFC_BASE_SELECTOR_OK(selector)"));
  EXPECT_DEATH(rfcBaseEncodeWithOptions(body.get(), RFC_BASE_SELECTOR_MIME, nullptr), abortText("", "bo"));
}

}  // namespace

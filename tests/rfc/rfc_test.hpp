// Helpers shared by the rfc tests: the span cores called on std::string, and owned kx references.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "kx/kx.h"
#include "kx/kx_internal.hpp"
#include "rfc/rfc.h"
#include "rfc/rfc_base_codec.hpp"
#include "rfc/rfc_quop_codec.hpp"
#include "support/deterministic_random.hpp"
#include "support/exact_compare.hpp"

namespace rfctest {

using BufferRef = kx::Ref<KX_BUFFER>;
using StoreRef = kx::Ref<KX_STORE>;
using BaseOptionsRef = kx::Ref<RFC_BASE_OPTIONS>;
using QuopOptionsRef = kx::Ref<RFC_QUOP_OPTIONS>;

inline std::span<const std::uint8_t> bytes(std::string_view s) {
  return {reinterpret_cast<const std::uint8_t *>(s.data()), s.size()};
}

inline std::string text(const std::vector<std::uint8_t> &v, std::size_t length) {
  return std::string(reinterpret_cast<const char *>(v.data()), length);
}

// --- the vector paths ---

// A vector path of one codec and the name tests print for it.
template <typename Paths>
struct FastPath {
  const char *name;
  const Paths *paths;
};

// The vector paths of one codec that this processor runs (a null path is one it lacks).
template <typename Paths>
std::vector<FastPath<Paths>> fastPathsOf(const Paths *avx2, const Paths *avx512) {
  std::vector<FastPath<Paths>> found;
  if (avx2) found.push_back({"AVX2", avx2});
  if (avx512) found.push_back({"AVX512", avx512});
  return found;
}

// --- Base64 core ---

inline std::string baseEncode(std::string_view input, std::size_t lineLength,
                              rfc::base64::Paths paths = {rfc::base64::encodeScalar,
                                                          rfc::base64::decodeScalar}) {
  std::vector<std::uint8_t> out(rfc::base64::encodedLength(input.size(), lineLength));
  std::size_t written = paths.encode(bytes(input), lineLength, out.data());
  EXPECT_EQ(written, out.size()) << "encodedLength must predict the output exactly";
  return text(out, written);
}

// The decoded octets, or "<null>" where the decoder refuses the text.
inline std::string baseDecode(std::string_view input,
                              rfc::base64::Paths paths = {rfc::base64::encodeScalar,
                                                          rfc::base64::decodeScalar}) {
  std::vector<std::uint8_t> out(rfc::base64::decodedMaxLength(input.size()));
  std::optional<std::size_t> written = paths.decode(bytes(input), out.data());
  if (!written) return "<null>";
  return text(out, *written);
}

// --- quoted-printable core ---

inline rfc::quop::Paths quopScalar() {
  return {rfc::quop::encodedLengthScalar, rfc::quop::encodeScalar, rfc::quop::encodeSomeScalar,
          rfc::quop::surelyLongerThanScalar, rfc::quop::decodeScalar};
}

// The encoding, checked against every way of asking for it: the length query, the encoder, the encoder
// within exactly that length (and within one less, which must fail) and the quick "surely longer" count.
inline std::string quopEncode(std::string_view input, std::size_t lineLength,
                              rfc::quop::Paths paths = quopScalar()) {
  std::size_t predicted = paths.encodedLength(bytes(input), lineLength);
  std::vector<std::uint8_t> out(predicted);
  std::size_t written = paths.encode(bytes(input), lineLength, out.data());
  EXPECT_EQ(written, predicted) << "encodedLength must predict the output exactly";
  std::vector<std::uint8_t> within(predicted);
  rfc::quop::Progress fitted = paths.encodeSome(bytes(input), lineLength, within.data(), predicted);
  EXPECT_TRUE(fitted.stop == bytes(input).data() + input.size() && fitted.written == predicted &&
              within == out)
      << "encodeSome within exactly the encoded length";
  if (predicted > 0) {
    // One octet short: the encoding stops at the start of a line, and the rest, encoded on, completes it.
    within.pop_back();
    fitted = paths.encodeSome(bytes(input), lineLength, within.data(), predicted - 1);
    EXPECT_NE(fitted.stop, bytes(input).data() + input.size());
    std::vector<std::uint8_t> rest(predicted);
    std::size_t restLength =
        paths.encode(bytes(input).subspan(static_cast<std::size_t>(fitted.stop - bytes(input).data())),
                     lineLength, rest.data());
    EXPECT_EQ(fitted.written + restLength, predicted);
    EXPECT_TRUE(std::equal(within.begin(), within.begin() + static_cast<std::ptrdiff_t>(fitted.written),
                           out.begin()));
  }
  EXPECT_FALSE(paths.surelyLongerThan(bytes(input), predicted)) << "the quick count overestimated";
  return text(out, written);
}

inline std::string quopDecode(std::string_view input, rfc::quop::Paths paths = quopScalar()) {
  std::vector<std::uint8_t> out(input.size());
  std::size_t written = paths.decode(bytes(input), out.data());
  EXPECT_LE(written, input.size());
  return text(out, written);
}

// --- kx buffers ---

inline BufferRef buffer(std::string_view s) {
  return BufferRef(kxBufferCreateFromBytes(s.data(), static_cast<kxInt>(s.size())));
}

inline std::string contents(KX_BUFFER *b) {
  return std::string(reinterpret_cast<const char *>(kxBufferBacking(b)),
                     static_cast<std::size_t>(kxBufferLength(b)));
}

// Random octets of every value, with runs of CR, LF, CR LF, SP and HTAB mixed in and sometimes long lines.
inline std::string hostileOctets(test_support::DeterministicRandom &random, std::size_t length) {
  static const char *const kPieces[] = {"\r\n",   "\r", "\n",    " ",    "\t",
                                        "  \r\n", "=",  "=\r\n", " \t ", "\r\r\n"};
  std::string s;
  while (s.size() < length) {
    switch (random.range(0, 3)) {
      case 0:
        s += kPieces[random.range(0, 9)];
        break;
      case 1:
        s += static_cast<char>(random.range(0, 255));
        break;
      case 2:
        s.append(static_cast<std::size_t>(random.range(1, 120)), static_cast<char>(random.range(33, 126)));
        break;
      default:
        s += static_cast<char>(random.range(32, 126));
        break;
    }
  }
  s.resize(length);
  return s;
}

}  // namespace rfctest

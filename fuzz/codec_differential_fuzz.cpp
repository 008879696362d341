// Every faster codec path gives exactly what the scalar reference gives: lengths, encodings, decodings and
// the failure of a Base64 text whose last group holds one character.
#include <algorithm>
#include <optional>
#include <vector>

#include "fuzz_support.hpp"
#include "rfc/rfc_base_codec.hpp"
#include "rfc/rfc_quop_codec.hpp"

namespace {

using Bytes = std::span<const std::uint8_t>;

void compareBase64(const rfc::base64::Paths &fast, Bytes input, std::size_t lineLength) {
  std::size_t length = rfc::base64::encodedLength(input.size(), lineLength);
  std::vector<std::uint8_t> expected(length + 1), actual(length + 1);
  FUZZ_CHECK(rfc::base64::encodeScalar(input, lineLength, expected.data()) == length);
  FUZZ_CHECK(fast.encode(input, lineLength, actual.data()) == length);
  FUZZ_CHECK(std::equal(expected.begin(), expected.begin() + length, actual.begin()));

  // The input read as Base64 text: stray characters, padding in mid-text, broken groups.
  std::vector<std::uint8_t> decodedExpected(rfc::base64::decodedMaxLength(input.size()) + 1);
  std::vector<std::uint8_t> decodedActual(decodedExpected.size());
  std::optional<std::size_t> n = rfc::base64::decodeScalar(input, decodedExpected.data());
  std::optional<std::size_t> m = fast.decode(input, decodedActual.data());
  FUZZ_CHECK(n == m);
  if (n) FUZZ_CHECK(std::equal(decodedExpected.begin(), decodedExpected.begin() + *n, decodedActual.begin()));
}

void compareQuotedPrintable(const rfc::quop::Paths &fast, Bytes input, std::size_t lineLength) {
  std::size_t length = rfc::quop::encodedLengthScalar(input, lineLength);
  FUZZ_CHECK(fast.encodedLength(input, lineLength) == length);
  std::vector<std::uint8_t> expected(length + 1), actual(length + 1);
  FUZZ_CHECK(rfc::quop::encodeScalar(input, lineLength, expected.data()) == length);
  FUZZ_CHECK(fast.encode(input, lineLength, actual.data()) == length);
  FUZZ_CHECK(std::equal(expected.begin(), expected.begin() + length, actual.begin()));

  // Within less room than the encoding needs: both stop at the same line start with the same octets.
  std::size_t room = length / 2;
  rfc::quop::Progress e = rfc::quop::encodeSomeScalar(input, lineLength, expected.data(), room);
  rfc::quop::Progress a = fast.encodeSome(input, lineLength, actual.data(), room);
  FUZZ_CHECK(e.stop == a.stop && e.written == a.written);
  FUZZ_CHECK(std::equal(expected.begin(), expected.begin() + e.written, actual.begin()));
  FUZZ_CHECK(rfc::quop::surelyLongerThanScalar(input, room) == fast.surelyLongerThan(input, room));

  std::vector<std::uint8_t> decodedExpected(input.size() + 1), decodedActual(input.size() + 1);
  std::size_t n = rfc::quop::decodeScalar(input, decodedExpected.data());
  FUZZ_CHECK(fast.decode(input, decodedActual.data()) == n);
  // Past the count, a path may leave scratch octets in the room it was given.
  FUZZ_CHECK(std::equal(decodedExpected.begin(), decodedExpected.begin() + n, decodedActual.begin()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider in(data, size);
  std::size_t base64Line = rfc::base64::effectiveLineLength(in.ConsumeIntegralInRange<std::uint64_t>(0, 120));
  std::size_t quopLine = in.ConsumeIntegralInRange<std::size_t>(3, 120);
  if (quopLine == 3) quopLine = 0;  // no soft breaks at all
  std::vector<std::uint8_t> octets = in.ConsumeRemainingBytes<std::uint8_t>();
  Bytes input(octets.data(), octets.size());
  for (const rfc::base64::Paths *fast : {rfc::base64::avx2Paths(), rfc::base64::avx512Paths()})
    if (fast) compareBase64(*fast, input, base64Line);
  for (const rfc::quop::Paths *fast : {rfc::quop::avx2Paths(), rfc::quop::avx512Paths()})
    if (fast) compareQuotedPrintable(*fast, input, quopLine);
  return 0;
}

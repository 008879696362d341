// The kx face of the Base64 codec: buffers in, buffers out, the line length from the options. The work is
// done by the span core (rfc_base_codec).
#include "rfc/rfc_base.h"

#include "rfc/rfc_base_codec.hpp"

namespace {
rfc::base64::Bytes bytesOf(KX_BUFFER *buf);
std::size_t lineLengthOf(RFC_BASE_OPTIONS *bo);
}  // namespace

extern "C" {

KX_BUFFER *rfcBaseEncodeWithOptions(KX_BUFFER *buf, kxInt selector, RFC_BASE_OPTIONS *bo) {
  RFC_ASSERT(buf);
  RFC_ASSERT(RFC_BASE_SELECTOR_OK(selector));
  RFC_ASSERT(bo);
  rfc::base64::Bytes input = bytesOf(buf);
  std::size_t lineLength = lineLengthOf(bo);
  kxByte *out = nullptr;
  KX_BUFFER *encoded = kxBufferCreateUninitialized(
      static_cast<kxInt>(rfc::base64::encodedLength(input.size(), lineLength)), &out);
  rfc::base64::encode(input, lineLength, out);
  return encoded;
}

kxInt rfcBaseEncodedLength(KX_BUFFER *buf, kxInt selector, RFC_BASE_OPTIONS *bo) {
  RFC_ASSERT(buf);
  RFC_ASSERT(RFC_BASE_SELECTOR_OK(selector));
  RFC_ASSERT(bo);
  return static_cast<kxInt>(rfc::base64::encodedLength(bytesOf(buf).size(), lineLengthOf(bo)));
}

KX_BUFFER *rfcBaseTryDecodeWithOptions(KX_BUFFER *buf, kxInt selector, RFC_BASE_OPTIONS *bo) {
  RFC_ASSERT(buf);
  RFC_ASSERT(RFC_BASE_SELECTOR_OK(selector));
  RFC_ASSERT(bo);
  if (kxBufferBitLength(buf) % 8 != 0) return nullptr;
  rfc::base64::Bytes text = bytesOf(buf);
  kxByte *out = nullptr;
  kx::Ref<KX_BUFFER> decoded(
      kxBufferCreateUninitialized(static_cast<kxInt>(rfc::base64::decodedMaxLength(text.size())), &out));
  std::optional<std::size_t> length = rfc::base64::decode(text, out);
  if (!length) return nullptr;
  kxBufferTruncate(decoded.addr(), static_cast<kxInt>(*length));
  return decoded.release();
}

}  // extern "C"

namespace {

rfc::base64::Bytes bytesOf(KX_BUFFER *buf) {
  return {kxBufferBacking(buf), static_cast<std::size_t>(kxBufferLength(buf))};
}

std::size_t lineLengthOf(RFC_BASE_OPTIONS *bo) {
  return rfc::base64::effectiveLineLength(static_cast<std::uint64_t>(rfcBaseOptionsOutputLineLength(bo)));
}

}  // namespace

// The kx face of the quoted-printable codec: buffers in, buffers out, the line length from the options. The
// work is done by the span core (rfc_quop_codec).
#include "rfc/rfc_quop.h"

#include "rfc/rfc_quop_codec.hpp"

namespace {
rfc::quop::Bytes bytesOf(KX_BUFFER *buf);
std::size_t lineLengthOf(RFC_QUOP_OPTIONS *qo);
bool wholeOctets(KX_BUFFER *buf);
}  // namespace

extern "C" {

KX_BUFFER *rfcQuopEncodeWithOptions(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo) {
  RFC_ASSERT(buf);
  RFC_ASSERT(qo);
  if (!wholeOctets(buf)) return nullptr;
  rfc::quop::Bytes input = bytesOf(buf);
  std::size_t lineLength = lineLengthOf(qo);
  // Measured first, so that the result holds exactly its octets, however many escapes there are.
  kxByte *out = nullptr;
  KX_BUFFER *encoded =
      kxBufferCreateUninitialized(static_cast<kxInt>(rfc::quop::encodedLength(input, lineLength)), &out);
  rfc::quop::encode(input, lineLength, out);
  return encoded;
}

kxInt rfcQuopEncodedLength(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo) {
  RFC_ASSERT(buf);
  RFC_ASSERT(qo);
  if (!wholeOctets(buf)) return -1;
  return static_cast<kxInt>(rfc::quop::encodedLength(bytesOf(buf), lineLengthOf(qo)));
}

KX_BUFFER *rfcQuopTryDecodeWithOptions(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo) {
  RFC_ASSERT(buf);
  RFC_ASSERT(qo);
  if (!wholeOctets(buf)) return nullptr;
  rfc::quop::Bytes text = bytesOf(buf);
  kxByte *out = nullptr;
  rfc::Ref<KX_BUFFER> decoded(kxBufferCreateUninitialized(static_cast<kxInt>(text.size()), &out));
  auto length = static_cast<kxInt>(rfc::quop::decode(text, out));
  // Decoding never lengthens, so the text's size is always room enough; where escapes made the result much
  // shorter, it moves to a buffer of its own size rather than keep the unused room alive.
  if (length < static_cast<kxInt>(text.size()) / 4 * 3) return kxBufferCreateFromBytes(out, length);
  kxBufferTruncate(decoded.addr(), length);
  return decoded.release();
}

}  // extern "C"

namespace {

rfc::quop::Bytes bytesOf(KX_BUFFER *buf) {
  return {kxBufferBacking(buf), static_cast<std::size_t>(kxBufferLength(buf))};
}

std::size_t lineLengthOf(RFC_QUOP_OPTIONS *qo) {
  return static_cast<std::size_t>(rfcQuopOptionsOutputLineLength(qo));
}

bool wholeOctets(KX_BUFFER *buf) {
  return kxBufferBitLength(buf) % 8 == 0;
}

}  // namespace

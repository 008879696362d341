// The kx face of the quoted-printable codec: buffers in, buffers out, the line length from the options. The
// work is done by the span core (rfc_quop_codec).
#include "rfc/rfc_quop.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "rfc/rfc_quop_codec.hpp"

namespace {
rfc::quop::Bytes bytesOf(KX_BUFFER *buf);
std::size_t lineLengthOf(RFC_QUOP_OPTIONS *qo);
bool wholeOctets(KX_BUFFER *buf);
KX_BUFFER *encodeGrowing(rfc::quop::Bytes input, std::size_t lineLength);
KX_BUFFER *encodeWithin(rfc::quop::Bytes input, std::size_t lineLength, std::size_t maxLength);
}  // namespace

extern "C" {

KX_BUFFER *rfcQuopEncodeWithOptions(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo) {
  RFC_ASSERT(buf);
  RFC_ASSERT(qo);
  if (!wholeOctets(buf)) return nullptr;
  return encodeGrowing(bytesOf(buf), lineLengthOf(qo));
}

KX_BUFFER *rfcQuopTryEncodeWithinLength(KX_BUFFER *buf, RFC_QUOP_OPTIONS *qo, kxInt maxLength) {
  RFC_ASSERT(buf);
  RFC_ASSERT(qo);
  RFC_ASSERT(maxLength >= 0);
  if (!wholeOctets(buf)) return nullptr;
  rfc::quop::Bytes input = bytesOf(buf);
  if (rfc::quop::surelyLongerThan(input, static_cast<std::size_t>(maxLength))) return nullptr;
  return encodeWithin(input, lineLengthOf(qo), static_cast<std::size_t>(maxLength));
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
  kx::Ref<KX_BUFFER> decoded(kxBufferCreateUninitialized(static_cast<kxInt>(text.size()), &out));
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

constexpr auto kMaxLength = static_cast<std::size_t>(KX_BUFFER_MAX_LENGTH);

// Room for a typical text: its octets and an eighth more for escapes and soft breaks.
std::size_t firstGuess(std::size_t octets) {
  return std::min(octets + octets / 8 + 16, kMaxLength);
}

// The longest the encoding of so many octets can be: every octet escaped, with the most soft breaks so many
// characters can need (one per lineLength - 3 of them).
std::size_t worstCaseLength(std::size_t octets, std::size_t lineLength) {
  std::size_t characters = 3 * octets;
  return lineLength == 0 ? characters : characters + 3 * (characters / (lineLength - 3));
}

// The encoding in one pass. It starts in room for a typical text; where a line does not fit, the rest
// goes on in room for its worst case (lines encode on their own), and the unused room is given back.
KX_BUFFER *encodeGrowing(rfc::quop::Bytes input, std::size_t lineLength) {
  std::size_t room = firstGuess(input.size());
  kxByte *out = nullptr;
  kx::Ref<KX_BUFFER> encoded(kxBufferCreateUninitialized(static_cast<kxInt>(room), &out));
  rfc::quop::Progress done = rfc::quop::encodeSome(input, lineLength, out, room);
  if (done.stop != input.data() + input.size()) {
    rfc::quop::Bytes rest(done.stop, input.data() + input.size());
    room = std::min(done.written + worstCaseLength(rest.size(), lineLength), kMaxLength);
    kxByte *grown = nullptr;
    kx::Ref<KX_BUFFER> larger(kxBufferCreateUninitialized(static_cast<kxInt>(room), &grown));
    std::memcpy(grown, out, done.written);
    rfc::quop::Progress more =
        rfc::quop::encodeSome(rest, lineLength, grown + done.written, room - done.written);
    if (more.stop != rest.data() + rest.size()) return nullptr;  // longer than any buffer can be
    done.written += more.written;
    encoded = std::move(larger);
  }
  kxBufferTruncate(encoded.addr(), static_cast<kxInt>(done.written));
  return encoded.release();
}

// The encoding in a buffer of its own length when it is at most maxLength octets long, else null. The room
// is never more than the longest the encoding can be (every octet escaped, with its soft breaks).
KX_BUFFER *encodeWithin(rfc::quop::Bytes input, std::size_t lineLength, std::size_t maxLength) {
  std::size_t room = std::min({maxLength, worstCaseLength(input.size(), lineLength), kMaxLength});
  kxByte *out = nullptr;
  kx::Ref<KX_BUFFER> encoded(kxBufferCreateUninitialized(static_cast<kxInt>(room), &out));
  rfc::quop::Progress done = rfc::quop::encodeSome(input, lineLength, out, room);
  if (done.stop != input.data() + input.size()) return nullptr;
  kxBufferTruncate(encoded.addr(), static_cast<kxInt>(done.written));
  return encoded.release();
}

}  // namespace

// Quoted-printable (RFC 2045 section 6.7) over plain byte spans: the scalar reference codec. Needs nothing
// from kx, so it can be tested and measured on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "rfc/rfc_internal.hpp"

namespace rfc::quop {

using Bytes = std::span<const std::uint8_t>;

// The scalar reference, then the same functions on the fastest path this processor runs (chosen once).
// Both give the same results for every input.

// The exact length of encode's output for the input, computed without building it. lineLength is the most
// characters of an encoded line (the "=" of a soft break included, CR LF not counted), at least 4; 0 means
// no soft breaks at all.
RFC_INTERNAL std::size_t encodedLengthScalar(Bytes input, std::size_t lineLength);

// Writes the encoding of input to out (encodedLength(input, lineLength) characters of room) and returns the
// count written:
//   - octets 33-60 and 62-126 stand for themselves; every other octet is "=" and two upper-case hex digits;
//   - SP and HTAB stand for themselves unless a line break or the end of the input follows them;
//   - CR LF in the input is a hard line break (CR LF) in the output; a bare CR or LF is escaped;
//   - a soft line break ("=" CR LF) is put in wherever the next unit would not fit on the line, never inside
//     an escape.
RFC_INTERNAL std::size_t encodeScalar(Bytes input, std::size_t lineLength, std::uint8_t *out);

// Decodes text into out (text.size() octets of room; decoding never lengthens) and returns the count
// written. Never fails:
//   - "=" and two hex digits (either case) is the octet they spell;
//   - "=" followed by optional SP/HTAB and then CR LF, LF or the end of the text is a soft line break and
//     vanishes;
//   - SP/HTAB at the end of a line (before CR LF, LF or the end of the text) were added in transport and are
//     dropped;
//   - any other "=" is kept as it stands, as is every other octet.
RFC_INTERNAL std::size_t decodeScalar(Bytes text, std::uint8_t *out);

// How far an encoding within a room got: the input before `stop` became `written` characters. `stop` is the
// input's end when all of it fit, else the start of the first line that did not; the encoding of the rest
// from there, with more room, follows on.
struct Progress {
  const std::uint8_t *stop;
  std::size_t written;
};

// Encodes input into out (room octets) as far as whole lines fit.
RFC_INTERNAL Progress encodeSomeScalar(Bytes input, std::size_t lineLength, std::uint8_t *out,
                                       std::size_t room);

// True when the encoding is sure to be longer than maxLength on a quick count of the octets that are escaped
// wherever they stand (it stops as soon as they are too many); false says nothing.
RFC_INTERNAL bool surelyLongerThanScalar(Bytes input, std::size_t maxLength);

RFC_INTERNAL std::size_t encodedLength(Bytes input, std::size_t lineLength);
RFC_INTERNAL std::size_t encode(Bytes input, std::size_t lineLength, std::uint8_t *out);
RFC_INTERNAL Progress encodeSome(Bytes input, std::size_t lineLength, std::uint8_t *out, std::size_t room);
RFC_INTERNAL bool surelyLongerThan(Bytes input, std::size_t maxLength);
RFC_INTERNAL std::size_t decode(Bytes text, std::uint8_t *out);

// The functions of one path.
struct Paths {
  std::size_t (*encodedLength)(Bytes, std::size_t);
  std::size_t (*encode)(Bytes, std::size_t, std::uint8_t *);
  Progress (*encodeSome)(Bytes, std::size_t, std::uint8_t *, std::size_t);
  bool (*surelyLongerThan)(Bytes, std::size_t);
  std::size_t (*decode)(Bytes, std::uint8_t *);
};

// The AVX2 path, or null where the processor lacks AVX2.
RFC_INTERNAL const Paths *avx2Paths();

// The AVX-512 path, or null where the processor lacks AVX-512 with VBMI2.
RFC_INTERNAL const Paths *avx512Paths();

}  // namespace rfc::quop

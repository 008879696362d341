// Base64 (RFC 2045 section 6.8) over plain byte spans: the scalar reference, the AVX2 and AVX-512 paths and
// the run-time choice between them. Needs nothing from kx, so it can be tested and measured on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "rfc/rfc_internal.hpp"

namespace rfc::base64 {

using Bytes = std::span<const std::uint8_t>;

// The line length the encoder really uses for a configured one: 0 stays 0 (one line); otherwise rounded
// down to a whole number of four-character groups, at least one group.
RFC_INTERNAL std::size_t effectiveLineLength(std::uint64_t configured);

// The exact length of the encoding of inputLength octets with lines of lineLength characters (an
// effectiveLineLength result): groups of four with "=" padding, CR LF between lines, none after the last.
RFC_INTERNAL std::size_t encodedLength(std::size_t inputLength, std::size_t lineLength);

// Writes exactly encodedLength(input.size(), lineLength) characters to out and returns that count.
RFC_INTERNAL std::size_t encodeScalar(Bytes input, std::size_t lineLength, std::uint8_t *out);

// The most octets decode can write for a text of textLength characters.
RFC_INTERNAL std::size_t decodedMaxLength(std::size_t textLength);

// Decodes text into out (decodedMaxLength(text.size()) octets of room): characters outside the alphabet are
// skipped and the data ends at the first "=". Returns the count of octets written, or nothing when the last
// group holds a single character (six bits cannot make an octet).
RFC_INTERNAL std::optional<std::size_t> decodeScalar(Bytes text, std::uint8_t *out);

// The fastest encoder and decoder this processor runs (chosen once): the same results as the scalar
// reference for every input.
RFC_INTERNAL std::size_t encode(Bytes input, std::size_t lineLength, std::uint8_t *out);
RFC_INTERNAL std::optional<std::size_t> decode(Bytes text, std::uint8_t *out);

// The functions of one faster path.
struct Paths {
  std::size_t (*encode)(Bytes, std::size_t, std::uint8_t *);
  std::optional<std::size_t> (*decode)(Bytes, std::uint8_t *);
};

// The AVX2 path, or null where the processor lacks AVX2.
RFC_INTERNAL const Paths *avx2Paths();

// The AVX-512 path (its own decoder, the AVX2 encoder), or null where the processor lacks AVX-512 VBMI.
RFC_INTERNAL const Paths *avx512Paths();

// The scalar decoder's slow step, for the faster paths to fall back on where their blocks meet a line break
// or a stray character: gathers the next four alphabet characters from p, skipping every other character,
// and writes their three octets to o, advancing both. Returns false, and leaves p and o alone, when the data
// ends ("=" or the end of the text) before four characters are found.
bool decodeGroupSlowly(const std::uint8_t *&p, const std::uint8_t *end, std::uint8_t *&o);

// The vector decoders' step at a block with a character outside the alphabet, `valid` characters in: the
// whole groups before it count (the block's octets are already at o), then a CR LF is skipped and any other
// character goes one group through the slow step. False when the data ends there.
bool stepPastStray(const std::uint8_t *&p, const std::uint8_t *end, std::uint8_t *&o, std::size_t valid);

// The vector decoders' end: the rest of the text from p through the scalar decoder; the count of octets
// written since out, or nothing where the scalar decoder refuses the rest.
std::optional<std::size_t> decodeRestScalar(const std::uint8_t *p, const std::uint8_t *end, std::uint8_t *o,
                                            const std::uint8_t *out);

}  // namespace rfc::base64

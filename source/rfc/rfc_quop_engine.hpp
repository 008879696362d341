// The quoted-printable encoder's line engine and the character tables, shared by the scalar reference and
// the AVX2 path. The engine makes every decision (escapes, soft and hard line breaks); a Scan policy only
// finds and copies runs of literal octets, word by word (scalar) or 32 octets at a time (AVX2). Internal to
// rfc_quop_*.cpp.
//
// A hard line break (CR LF) resets the output column, so every input line encodes on its own; most lines
// fit within the line length once escaped, and then need no soft break and no column bookkeeping. The
// encoder runs once with a counting sink (encodedLength) and once with a writing sink (encode): one set of
// decisions, so the predicted length can never drift from the output.
//
// A Scan policy provides, for octet ranges [p, q) of an input that ends at `end` (q <= end), each free to
// read anywhere before `end`:
//   scanLine(p, end)                 the line that starts at p: where it ends (the CR of the next CR LF, or
//                                    end) and how many of its octets are not literal, in one pass
//   literalRunEnd(p, q, end)         the end of the run of literal octets from p, at most q
//   copyLiteralRun(p, q, end, o)     copies that run to o, advancing both; may write up to end - p octets
//                                    from o whatever the run's length, as the output is never shorter than
//                                    the input
//   countAlwaysEscaped(p, q)         the octets of [p, q) that are escaped wherever they stand: those outside
//                                    the literal table other than CR and LF
#pragma once

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "rfc/rfc_quop_codec.hpp"

namespace rfc::quop::engine {

// --- character tables ---

// Octets that may stand for themselves in encoded text: 33-60 and 62-126, and SP and HTAB, which the encoder
// escapes only at the end of a line. A table, not <cctype>: locale-free and exactly this set.
constexpr std::array<std::uint8_t, 256> makeLiteralTable() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned c = 33; c <= 126; ++c) table[c] = c != '=';
  table[' '] = 1;
  table['\t'] = 1;
  return table;
}
inline constexpr auto kLiteral = makeLiteralTable();

inline constexpr std::uint8_t kNotHex = 0xFF;
constexpr std::array<std::uint8_t, 256> makeHexTable() {
  std::array<std::uint8_t, 256> table{};
  for (auto &v : table) v = kNotHex;
  for (unsigned c = 0; c < 10; ++c) table['0' + c] = static_cast<std::uint8_t>(c);
  for (unsigned c = 0; c < 6; ++c) {
    table['A' + c] = static_cast<std::uint8_t>(10 + c);
    table['a' + c] = static_cast<std::uint8_t>(10 + c);
  }
  return table;
}
inline constexpr auto kHexValue = makeHexTable();

inline constexpr char kHexDigits[] = "0123456789ABCDEF";

inline bool isWhite(std::uint8_t c) {
  return c == ' ' || c == '\t';
}

// Every octet's unit of encoded text in one word: its one or three characters in the low octets (the octet
// itself, or "=" and two hex digits), their count in the top octet.
constexpr std::uint32_t escapeUnit(std::uint8_t c) {
  return '=' | static_cast<std::uint32_t>(kHexDigits[c >> 4]) << 8 |
         static_cast<std::uint32_t>(kHexDigits[c & 15]) << 16 | 3u << 24;
}

constexpr std::array<std::uint32_t, 256> makeUnitTable() {
  std::array<std::uint32_t, 256> table{};
  for (unsigned c = 0; c < 256; ++c) {
    auto octet = static_cast<std::uint8_t>(c);
    table[c] = kLiteral[c] ? (octet | 1u << 24) : escapeUnit(octet);
  }
  return table;
}
inline constexpr auto kUnits = makeUnitTable();

constexpr std::size_t unitLength(std::uint32_t unit) {
  return unit >> 24;
}

inline bool isAlwaysEscaped(std::uint8_t c) {
  return !kLiteral[c] && c != '\r' && c != '\n';
}

// An input line as a scan finds it: [start, end) holds no CR LF, and end is the CR of one or the input's end.
struct Line {
  const std::uint8_t *end;
  std::size_t notLiteral;  // octets of the line that must be escaped (its last white space not counted)
};

// The scalar tail of every scanLine: octet by octet from p, with `notLiteral` counted so far.
inline Line scanLineTail(const std::uint8_t *p, const std::uint8_t *end, std::size_t notLiteral) {
  for (; p != end; ++p) {
    if (*p == '\r' && end - p >= 2 && p[1] == '\n') return {p, notLiteral};
    notLiteral += !kLiteral[*p];
  }
  return {end, notLiteral};
}

// --- encoder: sinks ---

struct CountingSink {
  std::size_t count = 0;
  void wholeLine(const std::uint8_t *, const std::uint8_t *, bool, std::size_t length) { count += length; }
  void literal(const std::uint8_t *, std::size_t n) { count += n; }
  void escape(std::uint8_t) { count += 3; }
  void softBreak() { count += 3; }
  void hardBreak() { count += 2; }
  void unit(std::uint32_t u) { count += unitLength(u); }
  void wideUnit(std::uint32_t u) { count += unitLength(u); }
};

template <typename Scan>
struct WritingSink {
  std::uint8_t *o;
  const std::uint8_t *end;  // of the input

  // A line that fits without soft breaks: literal runs and escapes, the last octet escaped when white.
  void wholeLine(const std::uint8_t *p, const std::uint8_t *q, bool whiteEnd, std::size_t) {
    const std::uint8_t *body = whiteEnd ? q - 1 : q;
    for (;;) {
      Scan::copyLiteralRun(p, body, end, o);
      if (p == body) break;
      escape(*p++);
    }
    if (whiteEnd) escape(*p);
  }
  void literal(const std::uint8_t *p, std::size_t n) {
    // Short runs as one fixed-size copy (a few moves, no call) where input and output have the room.
    if (n <= 32 && end - p >= 32) {
      std::memcpy(o, p, 32);
    } else {
      std::memcpy(o, p, n);
    }
    o += n;
  }
  void escape(std::uint8_t c) {
    o[0] = '=';
    o[1] = static_cast<std::uint8_t>(kHexDigits[c >> 4]);
    o[2] = static_cast<std::uint8_t>(kHexDigits[c & 15]);
    o += 3;
  }
  // A unit's characters, exactly.
  void unit(std::uint32_t u) {
    o[0] = static_cast<std::uint8_t>(u);
    if (unitLength(u) == 3) {
      o[1] = static_cast<std::uint8_t>(u >> 8);
      o[2] = static_cast<std::uint8_t>(u >> 16);
    }
    o += unitLength(u);
  }
  // A unit's characters and one octet of scratch after them, in one store: only where four more
  // characters are sure to follow.
  void wideUnit(std::uint32_t u) {
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(o, &u, sizeof u);
      o += unitLength(u);
    } else {
      unit(u);
    }
  }
  void softBreak() {
    o[0] = '=';
    o[1] = '\r';
    o[2] = '\n';
    o += 3;
  }
  void hardBreak() {
    o[0] = '\r';
    o[1] = '\n';
    o += 2;
  }
};

// --- encoder: lines ---

// Places units (a literal octet or a three-character escape) on output lines. A unit that ends its input
// line may fill the output line to the limit; any other must leave room for the "=" of a soft break.
template <typename Sink>
class LineWriter {
 public:
  LineWriter(Sink &sink, std::size_t limit) : sink_(sink), limit_(limit) {}

  // Literal octets [p, q); the last one ends the input line when lastEndsLine.
  void literals(const std::uint8_t *p, const std::uint8_t *q, bool lastEndsLine) {
    while (p != q) {
      auto count = static_cast<std::size_t>(q - p);
      std::size_t room = limit_ - 1 - column_;
      if (count <= room || (lastEndsLine && count == room + 1)) {
        sink_.literal(p, count);
        column_ += count;
        return;
      }
      sink_.literal(p, room);
      p += room;
      softBreak();
    }
  }

  void escape(std::uint8_t c, bool endsLine) {
    if (column_ + 3 > (endsLine ? limit_ : limit_ - 1)) softBreak();
    sink_.escape(c);
    column_ += 3;
  }

 private:
  void softBreak() {
    sink_.softBreak();
    column_ = 0;
  }

  Sink &sink_;
  std::size_t limit_;
  std::size_t column_ = 0;  // at most limit_ - 1, except after the unit that ends the line
};

// Encodes the line [p, q) (at least one octet) unit by unit with the LineWriter's rules: a unit that ends
// the line may fill the output line to the limit, any other must leave room for the "=" of a soft break.
template <typename Sink>
void encodeUnitByUnit(const std::uint8_t *p, const std::uint8_t *q, std::size_t limit, Sink &sink) {
  std::size_t column = 0;
  auto place = [&](std::uint32_t unit, std::size_t lineEnd, auto write) {
    std::size_t length = unitLength(unit);
    if (column + length > lineEnd) {
      sink.softBreak();
      column = 0;
    }
    write(unit);
    column += length;
  };
  // While three more octets follow, at least four more characters do: room for a four-octet store.
  for (; q - p > 3; ++p) place(kUnits[*p], limit - 1, [&](std::uint32_t unit) { sink.wideUnit(unit); });
  for (; q - p > 1; ++p) place(kUnits[*p], limit - 1, [&](std::uint32_t unit) { sink.unit(unit); });
  // White space that would end the line is escaped, or transport could strip it.
  place(isWhite(*p) ? escapeUnit(*p) : kUnits[*p], limit, [&](std::uint32_t unit) { sink.unit(unit); });
}

// The encoded length of one input line before soft breaks: one character per octet, two more per escape.
inline std::size_t lineOutputBeforeSoftBreaks(const std::uint8_t *p, Line line, bool whiteEnd) {
  return static_cast<std::size_t>(line.end - p) + 2 * (line.notLiteral + whiteEnd);
}

// The encoded length of one input line, or more: exact when it needs no soft break. A soft break follows
// at least lineLength - 3 characters (only an escape that would not leave room for the "=" moves on
// early), so there are at most length / (lineLength - 3) of them.
inline std::size_t lineOutputUpperBound(const std::uint8_t *p, Line line, std::size_t lineLength) {
  if (p == line.end) return 0;
  std::size_t length = lineOutputBeforeSoftBreaks(p, line, isWhite(line.end[-1]));
  if (lineLength == 0 || length <= lineLength) return length;
  return length + 3 * (length / (lineLength - 3));
}

// Encodes one input line [p, line.end) (no CR LF inside it), starting in column 0.
template <typename Scan, typename Sink>
void encodeLine(const std::uint8_t *p, Line line, const std::uint8_t *end, std::size_t lineLength,
                Sink &sink) {
  const std::uint8_t *q = line.end;
  if (p == q) return;
  // White space that would end a line is escaped, or transport could strip it.
  bool whiteEnd = isWhite(q[-1]);
  std::size_t length = lineOutputBeforeSoftBreaks(p, line, whiteEnd);
  if (lineLength == 0 || length <= lineLength) {
    sink.wholeLine(p, q, whiteEnd, length);
    return;
  }
  // Where escapes are many, literal runs are short and unit by unit is faster than run by run.
  if (8 * line.notLiteral > static_cast<std::size_t>(q - p)) {
    encodeUnitByUnit(p, q, lineLength, sink);
    return;
  }
  LineWriter<Sink> writer(sink, lineLength);
  const std::uint8_t *body = whiteEnd ? q - 1 : q;
  while (p != body) {
    if (kLiteral[*p]) {
      const std::uint8_t *runEnd = Scan::literalRunEnd(p, body, end);
      writer.literals(p, runEnd, runEnd == q);
      p = runEnd;
    } else {
      writer.escape(*p, p + 1 == q);
      ++p;
    }
  }
  if (whiteEnd) writer.escape(*p, true);
}

template <typename Scan, typename Sink>
void encodeInto(const std::uint8_t *p, const std::uint8_t *end, std::size_t lineLength, Sink &sink) {
  if (p == end) return;
  for (;;) {
    Line line = Scan::scanLine(p, end);
    encodeLine<Scan>(p, line, end, lineLength, sink);
    if (line.end == end) return;
    sink.hardBreak();
    p = line.end + 2;
  }
}

template <typename Scan>
std::size_t encodedLength(const std::uint8_t *p, const std::uint8_t *end, std::size_t lineLength) {
  CountingSink sink;
  encodeInto<Scan>(p, end, lineLength, sink);
  return sink.count;
}

template <typename Scan>
std::size_t encode(const std::uint8_t *p, const std::uint8_t *end, std::size_t lineLength,
                   std::uint8_t *out) {
  WritingSink<Scan> sink{out, end};
  encodeInto<Scan>(p, end, lineLength, sink);
  return static_cast<std::size_t>(sink.o - out);
}

// --- encoder: within a room ---

// Encodes [p, end) with lineLength into out (room octets) as far as whole lines fit. Before each input line
// is written it is checked to fit together with the rest of the input, which encodes to at least one
// character per octet; that keeps every store of the sink (which may write as far ahead as the input has
// octets left) inside the room, and stops a hopeless encoding at the first line that cannot fit.
template <typename Scan>
Progress encodeSome(const std::uint8_t *p, const std::uint8_t *end, std::size_t lineLength, std::uint8_t *out,
                    std::size_t room) {
  WritingSink<Scan> sink{out, end};
  while (p != end) {
    Line line = Scan::scanLine(p, end);
    std::size_t left = room - static_cast<std::size_t>(sink.o - out);
    std::size_t rest = static_cast<std::size_t>(end - line.end);  // the hard break and the lines after it
    if (lineOutputUpperBound(p, line, lineLength) + rest > left) {
      CountingSink exact;
      encodeLine<Scan>(p, line, end, lineLength, exact);
      if (exact.count + rest > left) break;
    }
    encodeLine<Scan>(p, line, end, lineLength, sink);
    if (line.end == end) {
      p = end;
      break;
    }
    sink.hardBreak();
    p = line.end + 2;
  }
  return {p, static_cast<std::size_t>(sink.o - out)};
}

// Each always-escaped octet adds two characters to the one every octet takes, so the encoding of [p, end)
// is at least (end - p) + 2 * their count. True when that bound alone passes maxLength, found by counting
// in blocks only as far as needed: the quick way to see that an encoding will lose to a shorter one.
template <typename Scan>
bool surelyLongerThan(const std::uint8_t *p, const std::uint8_t *end, std::size_t maxLength) {
  constexpr std::size_t kBlock = 16 * 1024;
  auto octets = static_cast<std::size_t>(end - p);
  if (octets > maxLength) return true;
  const std::size_t allowed = (maxLength - octets) / 2;  // escapes beyond the octets' own characters
  std::size_t escapes = 0;
  while (p != end) {
    auto left = static_cast<std::size_t>(end - p);
    if (escapes + left <= allowed) return false;  // even all of the rest escaped would fit
    const std::uint8_t *q = p + std::min(left, kBlock);
    escapes += Scan::countAlwaysEscaped(p, q);
    if (escapes > allowed) return true;
    p = q;
  }
  return false;
}

// --- decoder: the steps around the vector blocks ---
// The vector decoders take a block at a time as far as its first stop; these scalar steps take the stops
// with the line engine's rules, so every vector path decodes exactly as the scalar reference.

inline bool escapeAt(const std::uint8_t *p, const std::uint8_t *end) {
  return *p == '=' && end - p >= 3 && kHexValue[p[1]] != kNotHex && kHexValue[p[2]] != kNotHex;
}

// True at a CR, an LF, or a "=" that starts no escape.
inline bool stopsAt(const std::uint8_t *p, const std::uint8_t *end) {
  return *p == '\r' || *p == '\n' || (*p == '=' && !escapeAt(p, end));
}

// The scalar steps at a line break or a "=" that starts no escape, with the line engine's rules. `kept` is
// where the last soft break (or line break taken here) ended: transport padding is looked for after it only,
// so white space that a soft break swallowed is never taken back from the output. A "=" cannot start an
// escape here.
inline void decodeStop(const std::uint8_t *&p, const std::uint8_t *end, std::uint8_t *&o,
                       const std::uint8_t *&kept) {
  if (*p == '=') {
    const std::uint8_t *q = p + 1;
    while (q != end && isWhite(*q)) ++q;
    if (q == end || *q == '\n' || (*q == '\r' && end - q >= 2 && q[1] == '\n')) {
      p = q == end ? q : q + (*q == '\r' ? 2 : 1);  // a soft break, with its line break
      kept = p;
    } else {
      *o++ = *p++;  // malformed: the "=" stands for itself
    }
    return;
  }
  bool crlf = *p == '\r' && end - p >= 2 && p[1] == '\n';
  if (*p == '\r' && !crlf) {
    *o++ = *p++;  // a bare CR is data
    return;
  }
  // A line break: the white space that ends the line's text was added in transport. It was copied as it
  // stood, so it is the last output.
  for (const std::uint8_t *q = p; q != kept && isWhite(q[-1]); --q) --o;
  if (crlf) *o++ = *p++;
  *o++ = *p++;
  kept = p;
}

// The decoding loop of a vector path: blocks while `readAhead` octets can be read, single octets near the
// end, and the scalar steps at every stop. decodeBlock(p, o) decodes the block at p as far as its first stop
// and returns how far p went, with o moved past the octets that count; it may store up to the block's length
// at o (o never runs ahead of p, so that stays inside the output).
template <std::size_t readAhead, typename DecodeBlock>
std::size_t decodeInBlocks(const std::uint8_t *p, const std::uint8_t *end, std::uint8_t *out,
                           DecodeBlock decodeBlock) {
  const std::uint8_t *kept = p;
  std::uint8_t *o = out;
  while (p != end) {
    if (static_cast<std::size_t>(end - p) >= readAhead) {
      p += decodeBlock(p, o);
      if (p == end || !stopsAt(p, end)) continue;  // a whole block, or an escape left for the next one
    } else if (escapeAt(p, end)) {
      *o++ = static_cast<std::uint8_t>(kHexValue[p[1]] << 4 | kHexValue[p[2]]);
      p += 3;
      continue;
    } else if (!stopsAt(p, end)) {
      *o++ = *p++;
      continue;
    }
    decodeStop(p, end, o, kept);
  }
  // The last line's padding, unless a soft break ended the text.
  for (const std::uint8_t *q = end; q != kept && isWhite(q[-1]); --q) --o;
  return static_cast<std::size_t>(o - out);
}

}  // namespace rfc::quop::engine

// The text form of a store: one entry per line, sub-stores in braces, meant to be kept in a file, read and
// edited by a person, and parsed back to an equal store.
//
//   # options of one sender
//   flags = "MIME_FLAG_PARSE_RFC2231_HEADERS, MIME_FLAG_GENERATE_RFC2231_HEADERS"
//   wrapLineLength = 76
//   rfcBaseOptions {
//     "line length" = 76
//   }
//   empty {}
//
// The grammar the decoder accepts (the encoder writes a subset of it: no comments, no blank lines, LF line
// ends, two spaces of indentation per level up to kMaxIndentLevels):
//
//   text      := *line [last-line]          ; the last line may lack its line end
//   line      := blanks [item] blanks [comment] eol
//   item      := key blanks "=" blanks value
//              / key blanks "{" blanks "}"     ; an empty sub-store
//              / key blanks "{"                ; opens a sub-store; its entries follow on the next lines
//              / "}"                           ; closes the innermost open sub-store
//   key       := bare-key / quoted
//   bare-key  := 1*( ALPHA / DIGIT / "_" / "-" / "." )
//   value     := quoted / integer
//   integer   := ["-"] 1*DIGIT                 ; must fit 64 bits (two's complement)
//   quoted    := DQUOTE *( escape / <any code point but DQUOTE, "\", CR, LF> ) DQUOTE
//   escape    := "\" ( DQUOTE / "\" / "n" / "r" / "t" )
//              / "\u{" 1*8HEXDIG "}"           ; one code point
//              / "\x" 2HEXDIG                  ; one octet; keys only
//   blanks    := *( SP / HTAB )
//   comment   := "#" *<any code point but LF>
//   eol       := LF / CR LF
//
// A key is a string of octets: in a quoted key, characters stand for their UTF-8 octets and "\x" for an
// octet that is not part of valid UTF-8, so any key survives. A value is a string of code points: "\u{...}"
// writes any 32-bit value, lone surrogates included. The encoder escapes every code point that would be
// invisible, ambiguous or unwritable in a UTF-8 file (controls, line and paragraph separators, bidi
// controls, zero-width characters, surrogates, values above U+10FFFF) and writes the rest as it stands.
// A key set twice keeps its first place and takes the last value, as kxStoreSet... does.
#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "kx/kx_store_internal.hpp"
#include "kx/kx_string_internal.hpp"
#include "kx/kx_utf8.hpp"

using kx::store::Entry;
using kx::store::EntryKind;
using kx::store::StoreData;

namespace {

// Indentation stops growing here, so that the text of a deeply nested store stays linear in its size.
constexpr size_t kMaxIndentLevels = 16;

// Collects the text in a string block that grows by doubling, through a small staging array, so that a
// long text is neither built twice nor copied at the end.
class TextOut {
 public:
  TextOut() : text_(kx::stringCreateWithCapacity(0)) {}
  TextOut &operator+=(char32_t c) {
    if (staged_ == stage_.size()) flush();
    stage_[staged_++] = c;
    return *this;
  }
  TextOut &operator+=(std::u32string_view chars) {
    for (char32_t c : chars) *this += c;
    return *this;
  }
  void append(size_t count, char32_t c) {
    for (; count > 0; --count) *this += c;
  }
  template <typename Iterator>
  void append(Iterator first, Iterator last) {
    for (; first != last; ++first) *this += static_cast<char32_t>(*first);
  }
  KX_STRING *finish() {
    flush();
    return text_.release();
  }

 private:
  void flush() {
    kx::stringAppendRaw(text_.get(), stage_.data(), static_cast<kxInt>(staged_));
    staged_ = 0;
  }

  kx::Ref<KX_STRING> text_;
  std::array<kxChar, 1024> stage_;
  size_t staged_ = 0;
};

void appendIndent(TextOut &out, size_t level);
void appendKey(TextOut &out, const std::string &key);
void appendQuotedValue(TextOut &out, KX_STRING *value);
void appendInteger(TextOut &out, kxInt value);

class Parser {
 public:
  Parser(const kxChar *chars, size_t length) : chars_(chars), end_(length) {}
  KX_STORE *parse();

 private:
  enum class Quoted { kKey, kValue };
  struct OpenStore {
    kx::Ref<KX_STORE> store;
    std::string key;  // under which the store goes into its parent once closed
  };

  bool atEnd() const { return pos_ == end_; }
  bool next(kxChar c) const { return pos_ < end_ && chars_[pos_] == c; }
  void skipBlanks();
  bool lineEnd();
  bool key(std::string &octets);
  bool quoted(Quoted kind, std::string &octets, std::u32string &text);
  bool escape(Quoted kind, std::string &octets, std::u32string &text);
  bool hexDigits(size_t minimum, size_t maximum, uint64_t &value);
  bool integer(kxInt &value);
  bool entry(std::vector<OpenStore> &open);

  const kxChar *chars_;
  size_t pos_ = 0;
  size_t end_;
};

}  // namespace

namespace kx::store {

KX_STRING *encode(KX_STORE *st) {
  TextOut out;
  struct Level {
    const StoreData *data;
    size_t next;
  };
  std::vector<Level> levels{{&st->data, 0}};
  while (!levels.empty()) {
    const size_t depth = levels.size() - 1;
    Level &level = levels.back();
    if (level.next == level.data->entries.size()) {
      levels.pop_back();
      if (depth > 0) {
        appendIndent(out, depth - 1);
        out += U"}\n";
      }
      continue;
    }
    const Entry &entry = level.data->entries[level.next++];
    appendIndent(out, depth);
    appendKey(out, entry.key);
    switch (entry.kind) {
      case EntryKind::kText:
        out += U" = ";
        appendQuotedValue(out, kxStringFrom(entry.object));
        out += U'\n';
        break;
      case EntryKind::kInteger:
        out += U" = ";
        appendInteger(out, entry.integer);
        out += U'\n';
        break;
      case EntryKind::kStore: {
        const StoreData *sub = &reinterpret_cast<KX_STORE *>(entry.object)->data;
        if (sub->entries.empty()) {
          out += U" {}\n";
        } else {
          out += U" {\n";
          levels.push_back({sub, 0});  // `level` is not used after this
        }
        break;
      }
    }
  }
  return out.finish();
}

KX_STORE *tryDecode(KX_STRING *text) {
  return Parser(kxStringBacking(text), static_cast<size_t>(kxStringLength(text))).parse();
}

}  // namespace kx::store

// --- encoding ---

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendIndent(TextOut &out, size_t level) {
  out.append(2 * std::min(level, kMaxIndentLevels), U' ');
}

void appendAscii(TextOut &out, std::string_view ascii) {
  out.append(ascii.begin(), ascii.end());
}

// Written as "\u{...}" rather than as they stand: characters a reader cannot see or tell apart, that would
// end the line, reorder the text around them, or that UTF-8 cannot carry at all.
bool needsEscape(kxChar c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return true;  // C0, DEL, C1
  if (!kx::utf8::isEncodable(c)) return true;             // surrogates, beyond U+10FFFF
  return c == 0x061C || (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFB);
}

void appendCodePointEscape(TextOut &out, kxChar c) {
  char digits[8];
  int count = 0;
  do {
    digits[count++] = kHexDigits[c & 0xF];
    c >>= 4;
  } while (c != 0);
  out += U"\\u{";
  while (count > 0) out += static_cast<char32_t>(digits[--count]);
  out += U'}';
}

void appendQuotedChar(TextOut &out, kxChar c) {
  switch (c) {
    case '"':
      out += U"\\\"";
      return;
    case '\\':
      out += U"\\\\";
      return;
    case '\n':
      out += U"\\n";
      return;
    case '\r':
      out += U"\\r";
      return;
    case '\t':
      out += U"\\t";
      return;
    default:
      if (needsEscape(c)) {
        appendCodePointEscape(out, c);
      } else {
        out += static_cast<char32_t>(c);
      }
  }
}

bool isBareKeyChar(kxChar c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
         c == '.';
}

// Bare when it can be; otherwise quoted, valid UTF-8 as characters and every other octet as "\xHH".
void appendKey(TextOut &out, const std::string &key) {
  const auto *p = reinterpret_cast<const kxByte *>(key.data());
  const kxByte *end = p + key.size();
  if (!key.empty() && std::all_of(p, end, [](kxByte octet) { return isBareKeyChar(octet); })) {
    out.append(p, end);
    return;
  }
  out += U'"';
  while (p < end) {
    kxChar c;
    const kxByte *after = kx::utf8::decode(p, end, &c);
    const bool genuineReplacement = after - p == 3 && p[0] == 0xEF && p[1] == 0xBF && p[2] == 0xBD;
    if (c == kx::utf8::kReplacement && !genuineReplacement) {
      const char octet[] = {'\\', 'x', kHexDigits[*p >> 4], kHexDigits[*p & 0xF]};
      appendAscii(out, std::string_view(octet, sizeof octet));
      ++p;  // one octet at a time: what follows may start a valid sequence
    } else {
      appendQuotedChar(out, c);
      p = after;
    }
  }
  out += U'"';
}

void appendQuotedValue(TextOut &out, KX_STRING *value) {
  const kxChar *chars = kxStringBacking(value);
  const kxInt length = kxStringLength(value);
  out += U'"';
  for (kxInt i = 0; i < length; ++i) appendQuotedChar(out, chars[i]);
  out += U'"';
}

void appendInteger(TextOut &out, kxInt value) {
  appendAscii(out, std::to_string(value));
}

}  // namespace

// --- decoding ---

namespace {

KX_STORE *Parser::parse() {
  std::vector<OpenStore> open;
  open.push_back({kx::Ref<KX_STORE>(kx::store::create()), {}});
  while (true) {
    skipBlanks();
    if (atEnd()) break;
    const kxChar c = chars_[pos_];
    if (c == '\n' || c == '\r' || c == '#') {
      if (!lineEnd()) return nullptr;
    } else if (c == '}') {
      if (open.size() == 1) return nullptr;  // nothing open to close
      ++pos_;
      if (!lineEnd()) return nullptr;
      OpenStore closed = std::move(open.back());
      open.pop_back();
      kx::store::set(open.back().store->data, closed.key, EntryKind::kStore, 0,
                     kxStoreObj(closed.store.release()));
    } else if (!entry(open)) {
      return nullptr;
    }
  }
  if (open.size() != 1) return nullptr;  // a sub-store left open at the end
  return open.front().store.release();
}

// One entry line after its leading blanks; a line that opens a sub-store pushes it onto `open`.
bool Parser::entry(std::vector<OpenStore> &open) {
  std::string name;
  if (!key(name)) return false;
  skipBlanks();
  StoreData &into = open.back().store->data;
  if (next('=')) {
    ++pos_;
    skipBlanks();
    if (next('"')) {
      std::string unusedOctets;
      std::u32string text;
      if (!quoted(Quoted::kValue, unusedOctets, text) || !lineEnd()) return false;
      KX_STRING *value = kxStringCreateFromChars(reinterpret_cast<const kxChar *>(text.data()),
                                                 static_cast<kxInt>(text.size()));
      kx::store::set(into, name, EntryKind::kText, 0, kxStringObj(value));
      return true;
    }
    kxInt value;
    if (!integer(value) || !lineEnd()) return false;
    kx::store::set(into, name, EntryKind::kInteger, value, nullptr);
    return true;
  }
  if (!next('{')) return false;
  ++pos_;
  skipBlanks();
  if (next('}')) {  // "key {}"
    ++pos_;
    if (!lineEnd()) return false;
    kx::store::set(into, name, EntryKind::kStore, 0, kxStoreObj(kx::store::create()));
    return true;
  }
  if (!lineEnd()) return false;
  open.push_back({kx::Ref<KX_STORE>(kx::store::create()), std::move(name)});
  return true;
}

void Parser::skipBlanks() {
  while (pos_ < end_ && (chars_[pos_] == ' ' || chars_[pos_] == '\t')) ++pos_;
}

// blanks [comment] ( LF / CR LF / end of text )
bool Parser::lineEnd() {
  skipBlanks();
  if (next('#')) {
    while (pos_ < end_ && chars_[pos_] != '\n') ++pos_;
    if (!atEnd()) ++pos_;  // the LF
    return true;
  }
  if (atEnd()) return true;
  if (next('\r')) ++pos_;
  if (!next('\n')) return false;
  ++pos_;
  return true;
}

bool Parser::key(std::string &octets) {
  if (next('"')) {
    std::u32string unusedText;
    return quoted(Quoted::kKey, octets, unusedText);
  }
  while (pos_ < end_ && isBareKeyChar(chars_[pos_])) octets += static_cast<char>(chars_[pos_++]);
  return !octets.empty();
}

// A quoted key appends UTF-8 octets to `octets`; a quoted value appends code points to `text`.
bool Parser::quoted(Quoted kind, std::string &octets, std::u32string &text) {
  ++pos_;  // the opening quote
  while (pos_ < end_) {
    const kxChar c = chars_[pos_];
    if (c == '"') {
      ++pos_;
      return true;
    }
    if (c == '\n' || c == '\r') return false;  // an unclosed quote must not swallow the lines after it
    if (c == '\\') {
      ++pos_;
      if (!escape(kind, octets, text)) return false;
      continue;
    }
    ++pos_;
    if (kind == Quoted::kValue) {
      text += static_cast<char32_t>(c);
    } else {
      if (!kx::utf8::isEncodable(c)) return false;
      char utf8[4];
      octets.append(utf8, kx::utf8::encode(c, utf8));
    }
  }
  return false;  // the text ended inside the quotes
}

// The escape after a backslash.
bool Parser::escape(Quoted kind, std::string &octets, std::u32string &text) {
  if (atEnd()) return false;
  const kxChar c = chars_[pos_++];
  kxChar decoded;
  switch (c) {
    case '"':
    case '\\':
      decoded = c;
      break;
    case 'n':
      decoded = '\n';
      break;
    case 'r':
      decoded = '\r';
      break;
    case 't':
      decoded = '\t';
      break;
    case 'u': {
      uint64_t value;
      if (!next('{')) return false;
      ++pos_;
      if (!hexDigits(1, 8, value) || !next('}')) return false;
      ++pos_;
      decoded = static_cast<kxChar>(value);
      break;
    }
    case 'x': {
      uint64_t value;
      if (kind != Quoted::kKey || !hexDigits(2, 2, value)) return false;
      octets += static_cast<char>(value);
      return true;
    }
    default:
      return false;
  }
  if (kind == Quoted::kValue) {
    text += static_cast<char32_t>(decoded);
    return true;
  }
  if (!kx::utf8::isEncodable(decoded)) return false;  // a key's character must have a UTF-8 form
  char utf8[4];
  octets.append(utf8, kx::utf8::encode(decoded, utf8));
  return true;
}

// Between minimum and maximum hexadecimal digits (as many as stand there, up to maximum).
bool Parser::hexDigits(size_t minimum, size_t maximum, uint64_t &value) {
  value = 0;
  size_t count = 0;
  for (; count < maximum && pos_ < end_; ++count, ++pos_) {
    const kxInt digit = kxUnicodeHexadecimalDigitValue(chars_[pos_]);
    if (digit < 0) break;
    value = value * 16 + static_cast<uint64_t>(digit);
  }
  return count >= minimum;
}

// ["-"] 1*DIGIT within -2^63 .. 2^63 - 1.
bool Parser::integer(kxInt &value) {
  const bool negative = next('-');
  if (negative) ++pos_;
  const uint64_t limit = negative ? uint64_t{1} << 63 : (uint64_t{1} << 63) - 1;
  uint64_t magnitude = 0;
  size_t digits = 0;
  for (; pos_ < end_ && chars_[pos_] >= '0' && chars_[pos_] <= '9'; ++pos_, ++digits) {
    const uint64_t digit = chars_[pos_] - '0';
    if (magnitude > (limit - digit) / 10) return false;
    magnitude = magnitude * 10 + digit;
  }
  if (digits == 0) return false;
  value = negative ? static_cast<kxInt>(0 - magnitude) : static_cast<kxInt>(magnitude);
  return true;
}

}  // namespace

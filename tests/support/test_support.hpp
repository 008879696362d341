// What every test binary shares: owned references, text and byte views of kx objects, options with chosen
// settings, content types and entities as plain values, the codec cores called on std::string, and
// deterministic sources of hostile input.
#pragma once

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "kx/kx.h"
#include "kx/kx_libraries.hpp"
#include "mime/mime.h"
#include "rfc/rfc.h"
#include "rfc/rfc_base_codec.hpp"
#include "rfc/rfc_quop_codec.hpp"
#include "support/death_text.hpp"
#include "support/deterministic_random.hpp"
#include "support/exact_compare.hpp"

namespace test_support {

using StringRef = kx::Ref<KX_STRING>;
using BufferRef = kx::Ref<KX_BUFFER>;
using VectorRef = kx::Ref<KX_VECTOR>;
using DictRef = kx::Ref<KX_DICT>;
using ObjRef = kx::Ref<KX_OBJ>;
using StoreRef = kx::Ref<KX_STORE>;
using EntityRef = kx::Ref<MIME_ENTITY>;
using TypeRef = kx::Ref<MIME_CONTENT_TYPE>;
using OptionsRef = kx::Ref<MIME_OPTIONS>;
using BaseOptionsRef = kx::Ref<RFC_BASE_OPTIONS>;
using QuopOptionsRef = kx::Ref<RFC_QUOP_OPTIONS>;
using Params = std::map<std::string, std::string>;  // key -> value, both UTF-8, in key order

// --- kx strings and buffers ---

inline StringRef str(std::string_view utf8) {
  return StringRef(kxStringCreateFromCstr(utf8.data(), static_cast<kxInt>(utf8.size())));
}

// The string as UTF-8 (surrogates and out-of-range values as U+FFFD).
inline std::string utf8Of(KX_STRING *s) {
  kxInt length = 0;
  char *text = kxStringConvertToCstr(s, &length);
  std::string out(text, static_cast<size_t>(length));
  kxMemFree(text);
  return out;
}

// The object's string form as UTF-8.
template <typename T>
std::string textOf(T *obj) {
  StringRef text(kxObjToString(reinterpret_cast<KX_OBJ *>(obj)));
  return utf8Of(text.get());
}

// Strings of exact code points (any 32-bit value, lone surrogates included) and back.
inline StringRef kxText(std::u32string_view text) {
  std::vector<kxChar> chars(text.begin(), text.end());
  return StringRef(kxStringCreateFromChars(chars.data(), static_cast<kxInt>(chars.size())));
}

inline std::u32string codePoints(KX_STRING *s) {
  const kxChar *backing = kxStringBacking(s);
  return std::u32string(backing, backing + kxStringLength(s));
}

// Adopts a new reference and reads it.
inline std::u32string takeCodePoints(KX_STRING *adopted) {
  StringRef owned(adopted);
  return codePoints(owned.get());
}

inline std::string bytesOf(KX_BUFFER *b) {
  return std::string(reinterpret_cast<const char *>(kxBufferBacking(b)),
                     static_cast<size_t>(kxBufferLength(b)));
}

// The octets end where a page nobody may touch begins: a read one past the end faults at once, in every
// build, not only under the address sanitizer.
inline BufferRef buf(std::string_view bytes) {
  struct Mapping {
    void *address;
    size_t length;
  };
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t readable = (bytes.size() / page + 1) * page;
  void *address = mmap(nullptr, readable + page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (address == MAP_FAILED || mprotect(static_cast<char *>(address) + readable, page, PROT_NONE) != 0)
    abort();
  char *start = static_cast<char *>(address) + readable - bytes.size();
  if (!bytes.empty()) std::memcpy(start, bytes.data(), bytes.size());
  auto release = [](void *context) {
    const auto *mapping = static_cast<Mapping *>(context);
    munmap(mapping->address, mapping->length);
    delete mapping;
  };
  return BufferRef(kxBufferCreateWrapping(start, static_cast<kxInt>(bytes.size()), release,
                                          new Mapping{address, readable + page}));
}

template <typename T>
kxInt refsOf(T *obj) {
  return kx___ObjRefCount(reinterpret_cast<KX_OBJ *>(obj));
}

// --- the codec cores ---

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

// --- mime ---

// Options with the given flags and, where not -2, the given fold length, charset and section length.
inline OptionsRef options(kxInt flags = MIME_OPTIONS_DEFAULT_FLAGS, kxInt wrap = -2, kxInt charset = -2,
                          kxInt segment = -2) {
  OptionsRef mo(mimeOptionsCreate());
  mimeOptionsSetFlags(mo.addr(), flags);
  if (wrap != -2) mimeOptionsSetWrapLineLength(mo.addr(), wrap);
  if (charset != -2) mimeOptionsSetRfc2231Charset(mo.addr(), charset);
  if (segment != -2) mimeOptionsSetRfc2231MaxSegmentLength(mo.addr(), segment);
  return mo;
}

// Equal byte strings, or a failure naming the first offset where they differ.
inline ::testing::AssertionResult sameBytes(const std::string &expected, const std::string &actual) {
  return test_support::exactlyEqual(actual, expected);
}

// --- content types and parameter sets ---

inline TypeRef contentType(const char *name, const Params &params = {}) {
  TypeRef type(mimeContentTypeCreateCstr(name, -1));
  for (const auto &[key, value] : params) {
    mimeContentTypeSetParameterCstrCstrValue(type.addr(), key.c_str(), static_cast<kxInt>(key.size()),
                                             value.c_str(), static_cast<kxInt>(value.size()));
  }
  return type;
}

inline TypeRef mixedWithBoundary(const char *boundary) {
  return boundary ? contentType("multipart/mixed", {{"boundary", boundary}}) : contentType("multipart/mixed");
}

inline DictRef dictOf(const Params &params) {
  DictRef dict(kxDictCreate());
  for (const auto &[key, value] : params)
    kxDictSetStringKey(dict.addr(), str(key).get(), kxStringObj(str(value).get()));
  return dict;
}

inline Params paramsOf(KX_DICT *dict) {
  Params params;
  for (kxInt i = 0; i < kxDictLength(dict); ++i) {
    StringRef key(kxDictKeyAt(dict, i));
    ObjRef value(kxDictValueAt(dict, i));
    params[utf8Of(key.get())] = utf8Of(kxStringFrom(value.get()));
  }
  return params;
}

inline Params paramsOf(MIME_CONTENT_TYPE *type) {
  return paramsOf(DictRef(mimeContentTypeParametersDict(type)).get());
}

inline std::string nameOf(MIME_CONTENT_TYPE *type) {
  return utf8Of(StringRef(mimeContentTypeName(type)).get());
}

// A content type as "name;key=value;..." with the keys in order.
inline std::string form(const std::string &name, const Params &params) {
  std::string text = name;
  for (const auto &[key, value] : params) text += ";" + key + "=" + value;
  return text;
}

inline std::string form(MIME_CONTENT_TYPE *type) {
  return form(nameOf(type), paramsOf(type));
}

inline std::string parameterOf(MIME_CONTENT_TYPE *type, const char *key) {
  StringRef value(mimeContentTypeParameterCstr(type, key, -1));
  return value ? utf8Of(value.get()) : "<absent>";
}

// --- entities as values ---

// The three field values and the body of an entity, absent ones as nullopt.
struct EntityView {
  std::optional<std::string> contentType, contentTransferEncoding, contentId, body;
  bool operator==(const EntityView &) const = default;
};

inline std::optional<std::string> textField(KX_STRING *s) {
  StringRef held(s);
  return s ? std::optional<std::string>(utf8Of(s)) : std::nullopt;
}

inline EntityView viewOf(MIME_ENTITY *e) {
  BufferRef body(mimeEntityBody(e));
  return {textField(mimeEntityContentType(e)), textField(mimeEntityContentTransferEncoding(e)),
          textField(mimeEntityContentId(e)),
          body ? std::optional<std::string>(bytesOf(body.get())) : std::nullopt};
}

inline EntityRef entityOf(const EntityView &v) {
  EntityRef e(mimeEntityCreate());
  if (v.contentType) mimeEntitySetContentType(e.addr(), str(*v.contentType).get());
  if (v.contentTransferEncoding)
    mimeEntitySetContentTransferEncoding(e.addr(), str(*v.contentTransferEncoding).get());
  if (v.contentId) mimeEntitySetContentId(e.addr(), str(*v.contentId).get());
  if (v.body) mimeEntitySetBody(e.addr(), buf(*v.body).get());
  return e;
}

inline EntityView bodyOnly(std::string body) {
  return {{}, {}, {}, std::move(body)};
}

// The entities as "{type|encoding|id|body}..." with "-" for an absent field.
inline std::string describe(const std::vector<EntityView> &views) {
  std::string text;
  for (const EntityView &v : views) {
    for (const auto *field : {&v.contentType, &v.contentTransferEncoding, &v.contentId, &v.body})
      text += (field == &v.contentType ? "{" : "|") + field->value_or("-");
    text += "}";
  }
  return text;
}

inline std::vector<EntityView> viewsOf(KX_VECTOR *entities) {
  std::vector<EntityView> views;
  for (kxInt i = 0; i < kxVectorLength(entities); ++i)
    views.push_back(viewOf(mimeEntityFrom(kxVectorBacking(entities)[i])));
  return views;
}

inline VectorRef vectorOf(const std::vector<EntityView> &views) {
  VectorRef v(kxVectorCreate());
  for (const EntityView &view : views) kxVectorAppendObj(v.addr(), mimeEntityObj(entityOf(view).get()));
  return v;
}

inline void PrintTo(const EntityView &v, std::ostream *os) {
  for (const auto *field : {&v.contentType, &v.contentTransferEncoding, &v.contentId, &v.body})
    *os << (!*field                  ? "absent"
            : (*field)->size() > 200 ? "<long>"
                                     : ::testing::PrintToString(**field))
        << " ";
}

// Deterministic bodies of every shape that has broken MIME code: empty, CR LF text, bare LF and CR, long
// lines, every octet value, 8-bit text, trailing blanks, and "--" plus a boundary at line starts, mid-line
// and after a bare LF. The seed is fixed, so a failure repeats.
class BodySource {
 public:
  explicit BodySource(uint64_t seed) : random_(seed) {}

  size_t below(size_t n) { return static_cast<size_t>(random_.next() % n); }

  std::string body(std::string_view boundary = "frontier") {
    const std::string dashed = "--" + std::string(boundary), text = crlfText();
    const std::string shapes[] = {
        "",
        text,
        std::string(below(3000) + 990, "xyz ="[below(5)]),
        binary(below(4096)),
        everyOctet(),
        std::string(below(3), ' ') + text + "\xC3\xA9t\xC3\xA9\r\n\t",  // 8-bit text, trailing blanks
        word(below(40)) + "\n" + word(below(40)) + "\r" + text + "\r",  // bare LF and CR
        dashed + "\r\n" + text,                                         // at the very start
        text + "x\r\n" + dashed + "--\r\n" + text,                      // at a line start
        "mid " + dashed + "\nbare\n" + dashed + "\r\nand\r" + dashed};  // never at a line start
    return shapes[below(std::size(shapes))];
  }

  std::string binary(size_t n) {
    std::string s(n, '\0');
    for (char &c : s) c = static_cast<char>(random_.next());
    return s;
  }

  std::string crlfText() {
    std::string s;
    for (size_t lines = below(12); lines > 0; --lines) s += word(below(100)) + "\r\n";
    return s;
  }

  std::string word(size_t n) {
    static constexpr std::string_view kText = "abcdefghij KLMNOP.,;-=_ \t";
    std::string s(n, ' ');
    for (char &c : s) c = kText[below(kText.size())];
    return s;
  }

 private:
  std::string everyOctet() {
    std::string s(256, '\0');
    for (size_t i = 0; i < 256; ++i) s[i] = static_cast<char>(i);
    for (size_t i = 255; i > 0; --i) std::swap(s[i], s[below(i + 1)]);
    return s;
  }

  DeterministicRandom random_;
};

}  // namespace test_support

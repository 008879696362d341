// Helpers of the mime tests: owned references, text and byte views, options with chosen settings,
// parameter sets as maps, entities as plain values, and a deterministic source of hostile bodies.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "kx/kx_internal.hpp"
#include "mime/mime.h"
#include "support/death_text.hpp"
#include "support/deterministic_random.hpp"
#include "support/exact_compare.hpp"
#include "support/kx_text.hpp"

namespace wiretest {

using StringRef = kx::Ref<KX_STRING>;
using BufferRef = kx::Ref<KX_BUFFER>;
using VectorRef = kx::Ref<KX_VECTOR>;
using DictRef = kx::Ref<KX_DICT>;
using ObjRef = kx::Ref<KX_OBJ>;
using EntityRef = kx::Ref<MIME_ENTITY>;
using TypeRef = kx::Ref<MIME_CONTENT_TYPE>;
using OptionsRef = kx::Ref<MIME_OPTIONS>;
using Params = std::map<std::string, std::string>;  // key -> value, both UTF-8, in key order
using test_support::abortText;
using test_support::DeterministicRandom;
using test_support::kxText;

inline StringRef str(std::string_view utf8) {
  return StringRef(kxStringCreateFromCstr(utf8.data(), static_cast<kxInt>(utf8.size())));
}

inline std::string utf8Of(KX_STRING *s) {
  return test_support::utf8(s);
}

inline std::string bytesOf(KX_BUFFER *b) {
  return std::string(reinterpret_cast<const char *>(kxBufferBacking(b)),
                     static_cast<size_t>(kxBufferLength(b)));
}

inline BufferRef buf(std::string_view bytes) {
  return BufferRef(kxBufferCreateFromBytes(bytes.data(), static_cast<kxInt>(bytes.size())));
}

template <typename T>
kxInt refsOf(T *obj) {
  return kx___ObjRefCount(reinterpret_cast<KX_OBJ *>(obj));
}

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

}  // namespace wiretest

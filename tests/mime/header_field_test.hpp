// Helpers shared by the tests of the header field values (Content-Type, Content-Transfer-Encoding,
// Content-ID, RFC 2231): owned references, options with chosen settings, compact text forms of parameter
// sets, and a deterministic random source for the property tests.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "kx/kx_test.hpp"
#include "mime/mime.h"

namespace fieldtest {

using kxtest::str;
using kxtest::utf8Of;
using ContentTypeRef = kx::Ref<MIME_CONTENT_TYPE>;
using OptionsRef = kx::Ref<MIME_OPTIONS>;
using DictRef = kx::Ref<KX_DICT>;
using StringRef = kx::Ref<KX_STRING>;
using Params = std::map<std::string, std::string>;  // key -> value, both UTF-8, in key order

// Options with the given flags and, where not -2, the given fold length, charset and section length.
inline OptionsRef options(kxInt flags, kxInt wrap = -2, kxInt charset = -2, kxInt segment = -2) {
  OptionsRef mo(mimeOptionsCreate());
  mimeOptionsSetFlags(mo.addr(), flags);
  if (wrap != -2) mimeOptionsSetWrapLineLength(mo.addr(), wrap);
  if (charset != -2) mimeOptionsSetRfc2231Charset(mo.addr(), charset);
  if (segment != -2) mimeOptionsSetRfc2231MaxSegmentLength(mo.addr(), segment);
  return mo;
}

inline ContentTypeRef contentType(const char *name, const Params &params = {}) {
  ContentTypeRef type(mimeContentTypeCreateCstr(name, -1));
  for (const auto &[key, value] : params) {
    mimeContentTypeSetParameterCstrCstrValue(type.addr(), key.c_str(), static_cast<kxInt>(key.size()),
                                             value.c_str(), static_cast<kxInt>(value.size()));
  }
  return type;
}

inline DictRef dictOf(const Params &params) {
  DictRef dict(kxDictCreate());
  for (const auto &[key, value] : params) {
    StringRef k(kxStringCreateFromCstr(key.c_str(), static_cast<kxInt>(key.size())));
    StringRef v(kxStringCreateFromCstr(value.c_str(), static_cast<kxInt>(value.size())));
    kxDictSetStringKey(dict.addr(), k.get(), kxStringObj(v.get()));
  }
  return dict;
}

// A dictionary of strings as key -> value (UTF-8).
inline Params paramsOf(KX_DICT *dict) {
  Params params;
  for (kxInt i = 0; i < kxDictLength(dict); ++i) {
    StringRef key(kxDictKeyAt(dict, i));
    kx::Ref<KX_OBJ> value(kxDictValueAt(dict, i));
    params[utf8Of(key.get())] = utf8Of(kxStringFrom(value.get()));
  }
  return params;
}

inline Params paramsOf(MIME_CONTENT_TYPE *type) {
  DictRef dict(mimeContentTypeParametersDict(type));
  return paramsOf(dict.get());
}

inline std::string nameOf(MIME_CONTENT_TYPE *type) {
  StringRef name(mimeContentTypeName(type));
  return utf8Of(name.get());
}

// A regular expression matching the abort line of a mime source file for an (escaped) expression text.
inline std::string abortLine(const std::string &file, const std::string &escapedExpression) {
  return "kx abort: .*" + file + ":[0-9]+: " + escapedExpression + "\n";
}

// splitmix64: a small deterministic generator, so a failing property case can be replayed from its seed.
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform enough in [0, bound) for test data.
  size_t below(size_t bound) { return static_cast<size_t>(next() % bound); }
  bool chance(unsigned percent) { return below(100) < percent; }

 private:
  uint64_t state_;
};

// Appends the UTF-8 form of one code point.
inline void appendUtf8(std::string &out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

}  // namespace fieldtest

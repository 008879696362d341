// Helpers of the entity, encode/decode and multipart tests: owned references, byte views, a deterministic
// random source of hostile bodies and a byte-exact comparison that names the first differing offset.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kx/kx_internal.hpp"
#include "mime/mime.h"
#include "support/death_text.hpp"
#include "support/deterministic_random.hpp"
#include "support/exact_compare.hpp"

namespace wiretest {

using StringRef = kx::Ref<KX_STRING>;
using BufferRef = kx::Ref<KX_BUFFER>;
using VectorRef = kx::Ref<KX_VECTOR>;
using ObjRef = kx::Ref<KX_OBJ>;
using EntityRef = kx::Ref<MIME_ENTITY>;
using TypeRef = kx::Ref<MIME_CONTENT_TYPE>;
using OptionsRef = kx::Ref<MIME_OPTIONS>;

inline StringRef str(std::string_view utf8) {
  return StringRef(kxStringCreateFromCstr(utf8.data(), static_cast<kxInt>(utf8.size())));
}

inline std::string utf8Of(KX_STRING *s) {
  kxInt length = 0;
  char *text = kxStringConvertToCstr(s, &length);
  std::string result(text, static_cast<size_t>(length));
  kxMemFree(text);
  return result;
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

inline OptionsRef defaultOptions() {
  return OptionsRef(mimeOptionsCreate());
}

inline OptionsRef optionsWithFlags(kxInt flags) {
  OptionsRef opt(mimeOptionsCreate());
  mimeOptionsSetFlags(opt.addr(), flags);
  return opt;
}

// Equal byte strings, or a failure naming the first offset where they differ.
inline ::testing::AssertionResult sameBytes(const std::string &expected, const std::string &actual) {
  return test_support::exactlyEqual(actual, expected);
}

using test_support::abortText;

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

inline std::vector<EntityView> viewsOf(KX_VECTOR *entities) {
  std::vector<EntityView> views;
  for (kxInt i = 0; i < kxVectorLength(entities); ++i) {
    ObjRef item(kxVectorObjAt(entities, i));
    views.push_back(viewOf(mimeEntityFrom(item.get())));
  }
  return views;
}

inline VectorRef vectorOf(const std::vector<EntityView> &views) {
  VectorRef v(kxVectorCreate());
  for (const EntityView &view : views) kxVectorAppendObj(v.addr(), mimeEntityObj(entityOf(view).get()));
  return v;
}

inline void PrintTo(const EntityView &v, std::ostream *os) {
  auto field = [os](const char *name, const std::optional<std::string> &value) {
    *os << name << "=" << (value ? ::testing::PrintToString(*value) : std::string("absent")) << " ";
  };
  field("type", v.contentType);
  field("cte", v.contentTransferEncoding);
  field("id", v.contentId);
  if (v.body && v.body->size() > 200) {
    *os << "body=<" << v.body->size() << " octets>";
  } else {
    field("body", v.body);
  }
}

// Deterministic bodies of every shape that has broken MIME code: empty, CR LF text, bare LF and CR, long
// lines, every octet value, and text holding "--" plus a boundary at line starts, mid-line and after a bare
// LF. The seed is fixed, so a failure repeats.
class BodySource {
 public:
  explicit BodySource(uint64_t seed) : random_(seed) {}

  size_t below(size_t n) { return static_cast<size_t>(random_.next() % n); }

  std::string body(std::string_view boundary = "") {
    switch (below(9)) {
      case 0:
        return "";
      case 1:
        return crlfText();
      case 2:
        return withBareBreaks();
      case 3:
        return std::string(below(3000) + 990, "xyz ="[below(5)]);  // long lines, no break
      case 4:
        return everyOctet();
      case 5:
        return binary(below(4096));
      case 6:
        return boundaryLines(boundary.empty() ? "frontier" : boundary);
      case 7:
        return crlfText() + "\xC3\xA9t\xC3\xA9\r\n";  // 8-bit text
      default:
        return std::string(below(5), ' ') + crlfText() + std::string(below(3), '\t');  // trailing blanks
    }
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
  std::string withBareBreaks() {
    std::string s;
    for (size_t pieces = below(10) + 1; pieces > 0; --pieces) s += word(below(40)) + "\n\r\r\n"[below(4)];
    return s;
  }

  std::string everyOctet() {
    std::string s(256, '\0');
    for (size_t i = 0; i < 256; ++i) s[i] = static_cast<char>(i);
    for (size_t i = 255; i > 0; --i) std::swap(s[i], s[below(i + 1)]);
    return s;
  }

  std::string boundaryLines(std::string_view boundary) {
    const std::string dashed = "--" + std::string(boundary);
    switch (below(4)) {
      case 0:
        return dashed + "\r\n" + crlfText();  // at the very start
      case 1:
        return crlfText() + "x\r\n" + dashed + "--\r\n" + crlfText();  // at a line start
      case 2:
        return "mid " + dashed + "\r\n" + word(10) + " " + dashed;  // mid-line only
      default:
        return "bare\n" + dashed + "\r\nand\r" + dashed;  // after a bare LF or CR only
    }
  }

  test_support::DeterministicRandom random_;
};

}  // namespace wiretest

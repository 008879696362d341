// The C++ interface of the mime library: header-only, over the C API of mime/mime.h.
//
// - mime::Ref<T> owns one reference to a kx, rfc or mime object: copying retains, destruction releases,
//   and taking a raw pointer in is always explicit (Ref::adopt for a new reference a C function returned,
//   Ref::borrow for one somebody else keeps).
// - String, Buffer, Options, ContentType, ContentDisposition, Entity, Header and Part are thin classes around
//   one Ref each; they never hold null. Text goes in as std::string_view (UTF-8), octets as
//   std::span<const std::byte>; text comes out as std::string, octets as a borrowed std::span or an owned
//   std::vector<std::byte>.
// - readMessage reads real mail tolerantly into a tree of Part, never failing: what it read past is listed
//   as Defect values; readMessageEach hands the same parts over one at a time, holding no tree.
// - encode, decode, pack and unpack answer std::optional: empty where the C function returns null or false,
//   and also where the C function would abort on what it is handed (a bad Content-ID, a bad parameter key,
//   an empty part list), so that text from outside can be passed in unchecked.
// - Module starts the library for as long as it lives.
//
// Every member is one or a few C calls; nothing is cached or copied that the C API does not copy. Changers
// copy on write exactly as the C changers do: an object that another holder shares is copied first, so a
// copy of a String, Buffer, Options, ContentType or Entity never sees another copy's changes.
#ifndef MIME_HPP
#define MIME_HPP

// Concepts, std::span and the rest need C++20; say so before the first of them fails to parse. (The
// installed mime::mime CMake target asks for C++20 itself; other builds pass -std=c++20 or later.)
#if !defined(__cplusplus) || __cplusplus < 202002L
#error "mime/mime.hpp needs C++20 or later: compile with -std=c++20 (or use the C API of mime/mime.h)"
#endif

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <exception>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "mime/mime.h"

namespace mime {

// --- references ---

// The object kinds a Ref may hold: every one begins with its KX_OBJ header (kx/kx_obj.h).
template <typename T>
concept ObjectKind = std::same_as<T, KX_STRING> || std::same_as<T, KX_BUFFER> || std::same_as<T, KX_VECTOR> ||
    std::same_as<T, KX_DICT> || std::same_as<T, KX_STORE> || std::same_as<T, RFC_BASE_OPTIONS> ||
    std::same_as<T, RFC_QUOP_OPTIONS> || std::same_as<T, MIME_OPTIONS> ||
    std::same_as<T, MIME_CONTENT_TYPE> || std::same_as<T, MIME_CONTENT_DISPOSITION> ||
    std::same_as<T, MIME_ENTITY> || std::same_as<T, MIME_SHF_TOKEN> || std::same_as<T, MIME_HEADER> ||
    std::same_as<T, MIME_PART>;

// The object as its KX_OBJ header: the same address, as the kind's ...Obj function would return it.
template <ObjectKind T>
inline KX_OBJ *objectOf(T *object) noexcept {
  return reinterpret_cast<KX_OBJ *>(object);
}

// One owned reference to an object of kind T, or null.
template <ObjectKind T>
class Ref {
 public:
  constexpr Ref() noexcept = default;
  // Takes over a reference the caller owns (what a C function returns); null gives an empty Ref.
  [[nodiscard]] static Ref adopt(T *object) noexcept { return Ref(object); }
  // Adds a reference of its own to an object somebody else keeps; null gives an empty Ref.
  [[nodiscard]] static Ref borrow(T *object) noexcept {
    if (object) kxObjRetain(objectOf(object));
    return Ref(object);
  }

  Ref(const Ref &other) noexcept : object_(other.object_) {
    if (object_) kxObjRetain(objectOf(object_));
  }
  Ref(Ref &&other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  Ref &operator=(const Ref &other) noexcept {
    Ref(other).swap(*this);
    return *this;
  }
  Ref &operator=(Ref &&other) noexcept {
    Ref(std::move(other)).swap(*this);
    return *this;
  }
  ~Ref() {
    if (object_) kxObjRelease(objectOf(object_));
  }

  // The object, borrowed: valid while this Ref holds it.
  [[nodiscard]] T *get() const noexcept { return object_; }
  // The address of the held pointer, for C changers (copy-on-write through T **) and C outputs.
  [[nodiscard]] T **addr() noexcept { return &object_; }
  // Gives the reference up to the caller, who must release it; the Ref is empty afterwards.
  [[nodiscard]] T *detach() noexcept { return std::exchange(object_, nullptr); }
  // Releases the object, if any; the Ref is empty afterwards.
  void reset() noexcept { Ref().swap(*this); }
  void swap(Ref &other) noexcept { std::swap(object_, other.object_); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

 private:
  explicit Ref(T *object) noexcept : object_(object) {}
  T *object_ = nullptr;
};

namespace detail {

inline kxInt lengthOf(std::string_view text) noexcept {
  return static_cast<kxInt>(text.size());
}

// A new KX_STRING of UTF-8 text (ill-formed sequences become U+FFFD, as kxStringCreateFromCstr does).
inline Ref<KX_STRING> stringOf(std::string_view utf8) {
  return Ref<KX_STRING>::adopt(kxStringCreateFromCstr(utf8.data(), lengthOf(utf8)));
}

// The UTF-8 form of a string's code points; surrogates and values above U+10FFFF become U+FFFD, as in
// kxStringConvertToCstr, but written straight into the std::string instead of through a second buffer.
inline std::string utf8Of(KX_STRING *string) {
  const kxChar *chars = kxStringBacking(string);
  const auto length = static_cast<size_t>(kxStringLength(string));
  // Most text is ASCII: one octet per character, written in place.
  std::string out(length, '\0');
  size_t i = 0;
  for (; i < length && chars[i] < 0x80; ++i) out[i] = static_cast<char>(chars[i]);
  if (i == length) return out;
  out.resize(i);
  for (; i < length; ++i) {
    kxChar c = chars[i];
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
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
  return out;
}

// The UTF-8 text of a new string a C function returned, or nothing for null; the string is released.
inline std::optional<std::string> takeUtf8(KX_STRING *string) {
  Ref<KX_STRING> owned = Ref<KX_STRING>::adopt(string);
  if (!owned) return std::nullopt;
  return utf8Of(owned.get());
}

// Every entry of a parameter dictionary as (key, value) in UTF-8, in the dictionary's (ascending key) order.
inline std::vector<std::pair<std::string, std::string>> parametersOf(KX_DICT *dict) {
  std::vector<std::pair<std::string, std::string>> all;
  const kxInt count = kxDictLength(dict);
  all.reserve(static_cast<size_t>(count));
  for (kxInt i = 0; i < count; ++i) {
    all.emplace_back(*takeUtf8(kxDictKeyAt(dict, i)), *takeUtf8(kxStringFrom(kxDictValueAt(dict, i))));
  }
  return all;
}

}  // namespace detail

// --- module ---

// Starts the library (through the base runtime's module system) for as long as it lives; starts nest, so
// several guards may live at once. Check it with operator bool before any other call.
class Module {
 public:
  Module() noexcept : started_(kxModuleStartup(mimeModule()) != 0) {}
  ~Module() {
    if (started_) kxModuleShutdown(mimeModule());
  }
  Module(const Module &) = delete;
  Module &operator=(const Module &) = delete;
  // True when the library started and may be used.
  explicit operator bool() const noexcept { return started_; }

 private:
  bool started_;
};

// --- strings and buffers ---

// An immutable string of Unicode code points (KX_STRING); never null.
class String {
 public:
  String() : ref_(Ref<KX_STRING>::adopt(kxStringCreate())) {}
  // The code points of UTF-8 text; ill-formed sequences become U+FFFD.
  explicit String(std::string_view utf8) : ref_(detail::stringOf(utf8)) {}
  // Takes over a string reference; a null one aborts.
  explicit String(Ref<KX_STRING> ref) : ref_(std::move(ref)) { KX_ASSERT_LABEL("mime::String", ref_); }

  // The number of code points.
  [[nodiscard]] size_t length() const noexcept { return static_cast<size_t>(kxStringLength(get())); }
  // The code points, borrowed: valid while this String lives.
  [[nodiscard]] std::span<const kxChar> chars() const noexcept { return {kxStringBacking(get()), length()}; }
  // The text as UTF-8 (a code point UTF-8 cannot carry becomes U+FFFD).
  [[nodiscard]] std::string utf8() const { return detail::utf8Of(get()); }
  [[nodiscard]] KX_STRING *get() const noexcept { return ref_.get(); }
  friend bool operator==(const String &a, const String &b) noexcept {
    return kxStringEquals(a.get(), b.get()) != 0;
  }

 private:
  Ref<KX_STRING> ref_;
};

// An immutable buffer of octets (KX_BUFFER); never null. Appending copies on write.
class Buffer {
 public:
  Buffer() : ref_(Ref<KX_BUFFER>::adopt(kxBufferCreate())) {}
  explicit Buffer(std::span<const std::byte> bytes)
      : ref_(Ref<KX_BUFFER>::adopt(kxBufferCreateFromBytes(bytes.data(), static_cast<kxInt>(bytes.size())))) {
  }
  explicit Buffer(std::string_view bytes) : Buffer(std::as_bytes(std::span(bytes.data(), bytes.size()))) {}
  // Takes over a buffer reference; a null one aborts.
  explicit Buffer(Ref<KX_BUFFER> ref) : ref_(std::move(ref)) { KX_ASSERT_LABEL("mime::Buffer", ref_); }

  [[nodiscard]] size_t size() const noexcept { return static_cast<size_t>(kxBufferLength(get())); }
  [[nodiscard]] bool empty() const noexcept { return size() == 0; }
  // The octets, borrowed: valid while this Buffer lives and is not appended to.
  [[nodiscard]] std::span<const std::byte> bytes() const noexcept {
    return {reinterpret_cast<const std::byte *>(kxBufferBacking(get())), size()};
  }
  // The octets as characters, borrowed like bytes().
  [[nodiscard]] std::string_view view() const noexcept {
    return {reinterpret_cast<const char *>(kxBufferBacking(get())), size()};
  }
  // A copy of the octets.
  [[nodiscard]] std::vector<std::byte> toVector() const { return {bytes().begin(), bytes().end()}; }
  [[nodiscard]] std::string toString() const { return std::string(view()); }
  void append(std::span<const std::byte> bytes) {
    kxBufferAppendBytes(ref_.addr(), bytes.data(), static_cast<kxInt>(bytes.size()));
  }
  void append(std::string_view bytes) { append(std::as_bytes(std::span(bytes.data(), bytes.size()))); }
  [[nodiscard]] KX_BUFFER *get() const noexcept { return ref_.get(); }
  friend bool operator==(const Buffer &a, const Buffer &b) noexcept { return a.view() == b.view(); }

 private:
  Ref<KX_BUFFER> ref_;
};

// --- options ---

// Every setting of the encoders and decoders (MIME_OPTIONS); never null. A new object holds the defaults:
// flags PARSE_RFC2231_HEADERS | GENERATE_RFC2231_HEADERS, fold length 76, RFC 2231 charset UTF-8 (44),
// sections of at most 60 characters. Setters answer false, changing nothing, for a value out of range.
class Options {
 public:
  Options() : ref_(Ref<MIME_OPTIONS>::adopt(mimeOptionsCreate())) {}
  // Takes over an options reference; a null one aborts.
  explicit Options(Ref<MIME_OPTIONS> ref) : ref_(std::move(ref)) { KX_ASSERT_LABEL("mime::Options", ref_); }

  // Options read from the store's text form (as toText writes it); nothing when the text is no store. A
  // missing or unusable entry leaves its field at the default. Needs the started module.
  [[nodiscard]] static std::optional<Options> fromText(std::string_view text) {
    Ref<KX_STORE> store = Ref<KX_STORE>::adopt(kxStoreTryDecode(detail::stringOf(text).get()));
    if (!store) return std::nullopt;
    return Options(Ref<MIME_OPTIONS>::adopt(mimeOptionsRestore(store.get())));
  }
  // The store's text form: only the fields set explicitly, or every field when full. Needs the started
  // module.
  [[nodiscard]] std::string toText(bool full = false) const {
    Ref<KX_STORE> store = Ref<KX_STORE>::adopt(mimeOptionsStore(get(), full));
    return *detail::takeUtf8(kxStoreEncode(store.get()));
  }

  // The MIME flags (MIME_FLAG_...), normalised.
  [[nodiscard]] kxInt flags() const noexcept { return mimeOptionsFlags(get()); }
  void setFlags(kxInt flags) noexcept { mimeOptionsSetFlags(ref_.addr(), flags); }
  // Sets or clears one or more flags, leaving the others.
  void setFlag(kxInt flag, bool on) noexcept { setFlags(on ? (flags() | flag) : (flags() & ~flag)); }

  // The fold length of header values; -1 never folds.
  [[nodiscard]] kxInt wrapLineLength() const noexcept { return mimeOptionsWrapLineLength(get()); }
  bool setWrapLineLength(kxInt length) noexcept {
    if (length < -1) return false;
    mimeOptionsSetWrapLineLength(ref_.addr(), length);
    return true;
  }

  // The charset (kx identifier 0 to 50) of RFC 2231 parameter values.
  [[nodiscard]] kxInt rfc2231Charset() const noexcept { return mimeOptionsRfc2231Charset(get()); }
  bool setRfc2231Charset(kxInt charset) noexcept {
    if (!KX_CHARSET_OK(charset)) return false;
    mimeOptionsSetRfc2231Charset(ref_.addr(), charset);
    return true;
  }
  // The same by an IANA name or alias ("UTF-8", "latin1") or a kx name ("WINDOWS_1252").
  bool setRfc2231Charset(std::string_view name) {
    Ref<KX_STRING> text = detail::stringOf(name);
    kxInt charset = kxCharsetFromIanaName(text.get());
    if (charset < 0) charset = kxCharsetFromString(text.get());
    return setRfc2231Charset(charset);
  }

  // The most characters of one RFC 2231 section; -1 never splits.
  [[nodiscard]] kxInt rfc2231MaxSegmentLength() const noexcept {
    return mimeOptionsRfc2231MaxSegmentLength(get());
  }
  bool setRfc2231MaxSegmentLength(kxInt length) noexcept {
    if (length != -1 && length <= 0) return false;
    mimeOptionsSetRfc2231MaxSegmentLength(ref_.addr(), length);
    return true;
  }

  [[nodiscard]] MIME_OPTIONS *get() const noexcept { return ref_.get(); }
  friend bool operator==(const Options &a, const Options &b) noexcept {
    return mimeOptionsEquals(a.get(), b.get()) != 0;
  }

 private:
  Ref<MIME_OPTIONS> ref_;
};

// The text form of normalised MIME flags ("MIME_FLAG_PARSE_RFC2231_HEADERS, ..."). Needs the started module.
[[nodiscard]] inline std::string flagsToString(kxInt flags) {
  return *detail::takeUtf8(mimeFlagsToString(flags));
}
// The normalised union of the flags named in text; unknown names add nothing. Needs the started module.
[[nodiscard]] inline kxInt flagsFromString(std::string_view text) {
  return mimeFlagsFromString(detail::stringOf(text).get());
}

// --- encoded words ---

// Text (an unstructured header field value such as Subject, or a parameter value such as a file name) with
// its RFC 2047 encoded words decoded, as mimeEncodedWordDecode does; *malformed, when asked for, tells
// whether some word stayed as written or held octets its charset does not allow.
[[nodiscard]] inline std::string decodeEncodedWords(std::string_view text, bool *malformed = nullptr) {
  kxBool bad = 0;
  std::string decoded = *detail::takeUtf8(mimeEncodedWordDecode(detail::stringOf(text).get(), &bad));
  if (malformed) *malformed = bad != 0;
  return decoded;
}
// The unstructured header field value that carries text: encoded words where a reader needs them, folded
// by the options' fold length after firstLineOffset characters of the first line (e.g. 9 for "Subject: ").
[[nodiscard]] inline std::string encodeEncodedWords(std::string_view text, const Options &opt,
                                                    size_t firstLineOffset = 0) {
  constexpr size_t kLongestOffset = size_t{1} << 30;  // any offset past every fold length folds the same
  return *detail::takeUtf8(
      mimeEncodedWordEncode(detail::stringOf(text).get(), opt.get(),
                            static_cast<kxInt>(std::min(firstLineOffset, kLongestOffset))));
}

class ContentType;
class Entity;
[[nodiscard]] inline std::optional<Buffer> pack(ContentType &contentType, std::span<const Entity> parts,
                                                const Options &opt);

// --- content types ---

// A Content-Type value: a media type name (lower case) and its parameters (MIME_CONTENT_TYPE); never null.
class ContentType {
 public:
  // Takes over a content type reference; a null one aborts.
  explicit ContentType(Ref<MIME_CONTENT_TYPE> ref) : ref_(std::move(ref)) {
    KX_ASSERT_LABEL("mime::ContentType", ref_);
  }

  // A content type without parameters; nothing when name is not type "/" subtype.
  [[nodiscard]] static std::optional<ContentType> create(std::string_view name) {
    Ref<KX_STRING> text = detail::stringOf(name);
    if (!mimeContentTypeNameOk(text.get())) return std::nullopt;
    return ContentType(Ref<MIME_CONTENT_TYPE>::adopt(mimeContentTypeCreate(text.get())));
  }
  // A content type read from a Content-Type header field value (RFC 2231 sections joined under the parse
  // flag); nothing when the text has no valid media type.
  [[nodiscard]] static std::optional<ContentType> decode(std::string_view headerValue, const Options &opt) {
    Ref<MIME_CONTENT_TYPE> type = Ref<MIME_CONTENT_TYPE>::adopt(
        mimeContentTypeTryDecode(detail::stringOf(headerValue).get(), opt.get()));
    if (!type) return std::nullopt;
    return ContentType(std::move(type));
  }

  // The media type name, lower case ("text/plain").
  [[nodiscard]] std::string name() const { return *detail::takeUtf8(mimeContentTypeName(get())); }
  // True for every "multipart/..." name.
  [[nodiscard]] bool isMultipart() const { return name().starts_with("multipart/"); }
  // Sets the name; false, changing nothing, when it is not type "/" subtype.
  bool setName(std::string_view name) {
    Ref<KX_STRING> text = detail::stringOf(name);
    if (!mimeContentTypeNameOk(text.get())) return false;
    mimeContentTypeSetName(ref_.addr(), text.get());
    return true;
  }

  // The value under the key (ASCII case-insensitive); nothing when absent or when key is no parameter key.
  [[nodiscard]] std::optional<std::string> parameter(std::string_view key) const {
    Ref<KX_STRING> text = detail::stringOf(key);
    if (!mimeContentTypeParameterKeyOk(text.get())) return std::nullopt;
    return detail::takeUtf8(mimeContentTypeParameter(get(), text.get()));
  }
  // Every parameter as (lower-case key, value), in ascending key order.
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> parameters() const {
    return detail::parametersOf(Ref<KX_DICT>::adopt(mimeContentTypeParametersDict(get())).get());
  }
  // Stores value under the key (lower-cased), replacing an earlier value; false, changing nothing, when
  // key holds a character a parameter key may not (a tspecial, space, control or non-ASCII).
  bool setParameter(std::string_view key, std::string_view value) {
    Ref<KX_STRING> keyText = detail::stringOf(key);
    if (!mimeContentTypeParameterKeyOk(keyText.get())) return false;
    mimeContentTypeSetParameter(ref_.addr(), keyText.get(), detail::stringOf(value).get());
    return true;
  }
  // Removes the parameter under the key; false when key is no parameter key (an absent key is no error).
  bool removeParameter(std::string_view key) {
    Ref<KX_STRING> keyText = detail::stringOf(key);
    if (!mimeContentTypeParameterKeyOk(keyText.get())) return false;
    mimeContentTypeDelParameter(ref_.addr(), keyText.get());
    return true;
  }

  // The Content-Type header field value, folded as if firstLineOffset characters ("Content-Type: " by
  // default) stood before it on its first line. Parameters the options' flags cannot write are left out.
  [[nodiscard]] std::string encode(const Options &opt, kxInt firstLineOffset = 14) const {
    return *detail::takeUtf8(mimeContentTypeEncode(get(), opt.get(), firstLineOffset));
  }

  [[nodiscard]] MIME_CONTENT_TYPE *get() const noexcept { return ref_.get(); }
  // Same name and same parameters.
  friend bool operator==(const ContentType &a, const ContentType &b) noexcept {
    return mimeContentTypeEquals(a.get(), b.get()) != 0;
  }

 private:
  friend std::optional<Buffer> pack(ContentType &contentType, std::span<const Entity> parts,
                                    const Options &opt);
  Ref<MIME_CONTENT_TYPE> ref_;
};

// --- content dispositions ---

// A Content-Disposition value: a disposition type (lower case: "inline", "attachment" or another token) and
// its parameters (MIME_CONTENT_DISPOSITION); never null.
class ContentDisposition {
 public:
  // Takes over a disposition reference; a null one aborts.
  explicit ContentDisposition(Ref<MIME_CONTENT_DISPOSITION> ref) : ref_(std::move(ref)) {
    KX_ASSERT_LABEL("mime::ContentDisposition", ref_);
  }

  // A disposition without parameters; nothing when type is not a token of ASCII.
  [[nodiscard]] static std::optional<ContentDisposition> create(std::string_view type) {
    Ref<KX_STRING> text = detail::stringOf(type);
    if (!mimeContentDispositionTypeOk(text.get())) return std::nullopt;
    return ContentDisposition(Ref<MIME_CONTENT_DISPOSITION>::adopt(mimeContentDispositionCreate(text.get())));
  }
  // A disposition read from a Content-Disposition header field value (RFC 2231 file names decoded under the
  // parse flag); nothing, with the reason in lastFailure(), when the value does not start with a type.
  [[nodiscard]] static std::optional<ContentDisposition> decode(std::string_view headerValue,
                                                                const Options &opt) {
    Ref<MIME_CONTENT_DISPOSITION> disposition = Ref<MIME_CONTENT_DISPOSITION>::adopt(
        mimeContentDispositionTryDecode(detail::stringOf(headerValue).get(), opt.get()));
    if (!disposition) return std::nullopt;
    return ContentDisposition(std::move(disposition));
  }

  // The disposition type, lower case ("attachment").
  [[nodiscard]] std::string type() const { return *detail::takeUtf8(mimeContentDispositionType(get())); }
  [[nodiscard]] bool isAttachment() const { return type() == "attachment"; }
  // Sets the type; false, changing nothing, when it is not a token of ASCII.
  bool setType(std::string_view type) {
    Ref<KX_STRING> text = detail::stringOf(type);
    if (!mimeContentDispositionTypeOk(text.get())) return false;
    mimeContentDispositionSetType(ref_.addr(), text.get());
    return true;
  }
  // The file name the sender suggests; nothing when there is none.
  [[nodiscard]] std::optional<std::string> filename() const {
    return detail::takeUtf8(mimeContentDispositionFilename(get()));
  }
  void setFilename(std::string_view filename) {
    mimeContentDispositionSetFilename(ref_.addr(), detail::stringOf(filename).get());
  }

  // The value under the key (ASCII case-insensitive); nothing when absent or when key is no parameter key.
  [[nodiscard]] std::optional<std::string> parameter(std::string_view key) const {
    Ref<KX_STRING> text = detail::stringOf(key);
    if (!mimeContentTypeParameterKeyOk(text.get())) return std::nullopt;
    return detail::takeUtf8(mimeContentDispositionParameter(get(), text.get()));
  }
  // Every parameter as (lower-case key, value), in ascending key order.
  [[nodiscard]] std::vector<std::pair<std::string, std::string>> parameters() const {
    return detail::parametersOf(Ref<KX_DICT>::adopt(mimeContentDispositionParametersDict(get())).get());
  }
  // Stores value under the key (lower-cased); false, changing nothing, when key is no parameter key.
  bool setParameter(std::string_view key, std::string_view value) {
    Ref<KX_STRING> keyText = detail::stringOf(key);
    if (!mimeContentTypeParameterKeyOk(keyText.get())) return false;
    mimeContentDispositionSetParameter(ref_.addr(), keyText.get(), detail::stringOf(value).get());
    return true;
  }
  // Removes the parameter under the key; false when key is no parameter key (an absent key is no error).
  bool removeParameter(std::string_view key) {
    Ref<KX_STRING> keyText = detail::stringOf(key);
    if (!mimeContentTypeParameterKeyOk(keyText.get())) return false;
    mimeContentDispositionDelParameter(ref_.addr(), keyText.get());
    return true;
  }

  // The Content-Disposition header field value, folded as if firstLineOffset characters
  // ("Content-Disposition: " by default) stood before it on its first line. Parameters the options' flags
  // cannot write are left out.
  [[nodiscard]] std::string encode(const Options &opt, kxInt firstLineOffset = 21) const {
    return *detail::takeUtf8(mimeContentDispositionEncode(get(), opt.get(), firstLineOffset));
  }

  [[nodiscard]] MIME_CONTENT_DISPOSITION *get() const noexcept { return ref_.get(); }
  // Same type and same parameters.
  friend bool operator==(const ContentDisposition &a, const ContentDisposition &b) noexcept {
    return mimeContentDispositionEquals(a.get(), b.get()) != 0;
  }

 private:
  Ref<MIME_CONTENT_DISPOSITION> ref_;
};

// --- failures ---

// Why the last strict call on this thread failed (see mime/mime_failure.h): the kind (MIME_FAILURE_...),
// what was being read ("Content-Type", "multipart body", ...), the fixed reason text, and the offset in that
// input (-1 when none applies). kind is MIME_FAILURE_NONE after a success.
struct Failure {
  kxInt kind;
  std::string_view subject;
  std::string_view reason;
  kxInt offset;
};
[[nodiscard]] inline Failure lastFailure() noexcept {
  return {mimeLastFailure(), mimeLastFailureSubject(), mimeLastFailureReason(), mimeLastFailureOffset()};
}

// --- entities ---

// The wire view of one entity (MIME_ENTITY): the header field values of Content-Type,
// Content-Transfer-Encoding and Content-Id as they travel, and the transfer-encoded body; never null.
// It interprets nothing: setters store what they are handed.
class Entity {
 public:
  Entity() : ref_(Ref<MIME_ENTITY>::adopt(mimeEntityCreate())) {}
  // Takes over an entity reference; a null one aborts.
  explicit Entity(Ref<MIME_ENTITY> ref) : ref_(std::move(ref)) { KX_ASSERT_LABEL("mime::Entity", ref_); }

  // Each field value as it travels (folds included); nothing when the field is absent.
  [[nodiscard]] std::optional<std::string> contentType() const {
    return detail::takeUtf8(mimeEntityContentType(get()));
  }
  [[nodiscard]] std::optional<std::string> contentTransferEncoding() const {
    return detail::takeUtf8(mimeEntityContentTransferEncoding(get()));
  }
  [[nodiscard]] std::optional<std::string> contentId() const {
    return detail::takeUtf8(mimeEntityContentId(get()));
  }
  // The body as it travels (transfer-encoded); nothing when the entity has none.
  [[nodiscard]] std::optional<Buffer> body() const {
    Ref<KX_BUFFER> body = Ref<KX_BUFFER>::adopt(mimeEntityBody(get()));
    if (!body) return std::nullopt;
    return Buffer(std::move(body));
  }

  void setContentType(std::string_view value) {
    mimeEntitySetContentType(ref_.addr(), detail::stringOf(value).get());
  }
  void setContentTransferEncoding(std::string_view value) {
    mimeEntitySetContentTransferEncoding(ref_.addr(), detail::stringOf(value).get());
  }
  void setContentId(std::string_view value) {
    mimeEntitySetContentId(ref_.addr(), detail::stringOf(value).get());
  }
  void setBody(const Buffer &body) { mimeEntitySetBody(ref_.addr(), body.get()); }

  [[nodiscard]] MIME_ENTITY *get() const noexcept { return ref_.get(); }

 private:
  Ref<MIME_ENTITY> ref_;
};

// --- the road of one message ---

// A new Content-ID, different from every one made before (no angle brackets).
[[nodiscard]] inline std::string generateContentId() {
  return *detail::takeUtf8(mimeContentIdGenerate());
}

// The wire view of a body (may be null: no body, no transfer encoding), a content type (may be null) and a
// Content-ID (without angle brackets). The transfer encoding is chosen by the library (see mimeEncode).
// Nothing when the Content-ID is empty or holds a control character.
[[nodiscard]] inline std::optional<Entity> encode(const Options &opt, const Buffer *body,
                                                  const ContentType *contentType,
                                                  std::optional<std::string_view> contentId = std::nullopt) {
  Ref<KX_STRING> id;
  if (contentId) {
    id = detail::stringOf(*contentId);
    if (!mimeContentIdOk(id.get())) return std::nullopt;
  }
  return Entity(Ref<MIME_ENTITY>::adopt(mimeEncode(opt.get(), body ? body->get() : nullptr,
                                                   contentType ? contentType->get() : nullptr, id.get())));
}
[[nodiscard]] inline std::optional<Entity> encode(const Options &opt, const Buffer &body,
                                                  const ContentType &contentType,
                                                  std::optional<std::string_view> contentId = std::nullopt) {
  return encode(opt, &body, &contentType, contentId);
}

// The structured view of an entity: each part present exactly when the entity had it.
struct Decoded {
  std::optional<Buffer> body;
  std::optional<ContentType> contentType;
  std::optional<std::string> contentId;
};

// The entity's field values decoded and its body's transfer encoding undone; nothing when a present field
// or the body does not decode.
[[nodiscard]] inline std::optional<Decoded> decode(const Entity &entity, const Options &opt) {
  Ref<KX_BUFFER> body;
  Ref<MIME_CONTENT_TYPE> contentType;
  Ref<KX_STRING> contentId;
  if (!mimeDecode(entity.get(), opt.get(), body.addr(), contentType.addr(), contentId.addr()))
    return std::nullopt;
  Decoded decoded;
  if (body) decoded.body.emplace(std::move(body));
  if (contentType) decoded.contentType.emplace(std::move(contentType));
  if (contentId) decoded.contentId = detail::utf8Of(contentId.get());
  return decoded;
}

// The multipart body of the parts, in order, under a boundary that begins no line of any part's body:
// contentType's own "boundary" when it is valid and free, else a generated one, which contentType then
// carries. Nothing, contentType unchanged, when parts is empty, when ten boundaries collided, or when a
// field value cannot be written as header lines.
[[nodiscard]] inline std::optional<Buffer> pack(ContentType &contentType, std::span<const Entity> parts,
                                                const Options &opt) {
  if (parts.empty()) return std::nullopt;
  Ref<KX_VECTOR> entities = Ref<KX_VECTOR>::adopt(kxVectorCreate());
  for (const Entity &part : parts) kxVectorAppendObj(entities.addr(), objectOf(part.get()));
  // Through the caller's own reference: a content type nobody else holds takes the boundary in place.
  Ref<KX_BUFFER> body =
      Ref<KX_BUFFER>::adopt(mimeMultipartTryPack(contentType.ref_.addr(), entities.get(), opt.get()));
  if (!body) return std::nullopt;
  return Buffer(std::move(body));
}

// The parts of a multipart body under contentType's "boundary" (field values unfolded, bodies still
// transfer-encoded and sharing the content's octets); nothing when the body is not a well-formed multipart
// body for that boundary.
[[nodiscard]] inline std::optional<std::vector<Entity>> unpack(const ContentType &contentType,
                                                               const Buffer &content, const Options &opt) {
  MIME_CONTENT_TYPE *type = contentType.get();  // read, never changed
  Ref<KX_VECTOR> entities = Ref<KX_VECTOR>::adopt(mimeMultipartTryUnpack(&type, content.get(), opt.get()));
  if (!entities) return std::nullopt;
  const kxInt count = kxVectorLength(entities.get());
  KX_OBJ *const *items = kxVectorBacking(entities.get());
  std::vector<Entity> parts;
  parts.reserve(static_cast<size_t>(count));
  // Every element is an entity (the unpacker makes nothing else), so the header is the entity itself.
  for (kxInt i = 0; i < count; ++i)
    parts.emplace_back(Ref<MIME_ENTITY>::borrow(reinterpret_cast<MIME_ENTITY *>(items[i])));
  return parts;
}

// --- real mail: header blocks and the tolerant reader ---

// What a tolerant reader read past: its kind (MIME_DEFECT_*) and the offset of the octet where it was found.
struct Defect {
  kxInt kind;
  size_t offset;
  [[nodiscard]] std::string_view name() const noexcept { return mimeDefectKindName(kind); }
  bool operator==(const Defect &) const = default;
};

namespace detail {
template <typename T>
std::vector<Defect> defectsOf(T *object, kxInt (*length)(T *), MIME_DEFECT (*at)(T *, kxInt)) {
  std::vector<Defect> defects;
  for (kxInt i = 0; i < length(object); ++i) {
    const MIME_DEFECT d = at(object, i);
    defects.push_back({d.kind, static_cast<size_t>(d.offset)});
  }
  return defects;
}
}  // namespace detail

// One header field: its name as written, its unfolded value (UTF-8), and its octets as they stood.
struct Field {
  std::string name;
  std::string value;
  Buffer raw;
};

// A header block as ordered fields (MIME_HEADER); never null. Copies share the fields until one appends.
class Header {
 public:
  Header() : ref_(Ref<MIME_HEADER>::adopt(mimeHeaderCreate())) {}
  // Takes over a header reference; a null one aborts.
  explicit Header(Ref<MIME_HEADER> ref) : ref_(std::move(ref)) { KX_ASSERT_LABEL("mime::Header", ref_); }

  // The header block at offset in octets (lines ended by CR LF or LF), read past every fault (see
  // defects()); *bodyOffset (may be null) receives the offset after it. Nothing past the end of octets.
  [[nodiscard]] static std::optional<Header> decode(const Buffer &octets, const Options &opt,
                                                    size_t offset = 0, size_t *bodyOffset = nullptr) {
    if (offset > octets.size()) return std::nullopt;
    kxInt body = 0;
    Header header(Ref<MIME_HEADER>::adopt(
        mimeHeaderDecode(octets.get(), static_cast<kxInt>(offset), opt.get(), &body)));
    if (bodyOffset) *bodyOffset = static_cast<size_t>(body);
    return header;
  }

  [[nodiscard]] size_t size() const noexcept { return static_cast<size_t>(mimeHeaderLength(get())); }
  [[nodiscard]] std::vector<Field> fields() const {
    std::vector<Field> fields;
    for (kxInt i = 0; i < mimeHeaderLength(get()); ++i) {
      fields.push_back({*detail::takeUtf8(mimeHeaderNameAt(get(), i)),
                        *detail::takeUtf8(mimeHeaderValueAt(get(), i)),
                        Buffer(Ref<KX_BUFFER>::adopt(mimeHeaderRawAt(get(), i)))});
    }
    return fields;
  }
  // The value of the first field named name (ASCII case-insensitive), or nothing.
  [[nodiscard]] std::optional<std::string> value(std::string_view name) const {
    return detail::takeUtf8(mimeHeaderValueCstr(get(), name.data(), detail::lengthOf(name)));
  }
  // The text of the first unstructured field named name (Subject, Content-Description, ...): its value
  // with RFC 2047 encoded words decoded; or nothing.
  [[nodiscard]] std::optional<std::string> text(std::string_view name) const {
    return detail::takeUtf8(mimeHeaderTextCstr(get(), name.data(), detail::lengthOf(name)));
  }
  [[nodiscard]] std::vector<Defect> defects() const {
    return detail::defectsOf(get(), mimeHeaderDefectsLength, mimeHeaderDefectAt);
  }
  // Appends "name: value" CR LF; false, nothing changed, for a name or value that cannot be written so.
  bool append(std::string_view name, std::string_view value) {
    return mimeHeaderTryAppend(ref_.addr(), detail::stringOf(name).get(), detail::stringOf(value).get()) != 0;
  }
  // The fields' octets in order, without the blank line that ends a block.
  [[nodiscard]] Buffer encode() const { return Buffer(Ref<KX_BUFFER>::adopt(mimeHeaderEncode(get()))); }
  [[nodiscard]] MIME_HEADER *get() const noexcept { return ref_.get(); }

 private:
  Ref<MIME_HEADER> ref_;
};

// One part of a message the tolerant reader read (MIME_PART); never null. Its body is a slice of the
// message, which every part keeps alive.
class Part {
 public:
  // Takes over a part reference; a null one aborts.
  explicit Part(Ref<MIME_PART> ref) : ref_(std::move(ref)) { KX_ASSERT_LABEL("mime::Part", ref_); }

  [[nodiscard]] Header header() const { return Header(Ref<MIME_HEADER>::adopt(mimePartHeader(get()))); }
  [[nodiscard]] ContentType contentType() const;
  // MIME_CONTENT_TRANSFER_ENCODING_*, or -1 for an unknown one (the body is then taken as it is).
  [[nodiscard]] kxInt contentTransferEncoding() const noexcept {
    return mimePartContentTransferEncoding(get());
  }
  // The first Content-Disposition, read as far as it goes (see mimePartContentDisposition), or nothing.
  [[nodiscard]] std::optional<ContentDisposition> contentDisposition() const {
    Ref<MIME_CONTENT_DISPOSITION> disposition =
        Ref<MIME_CONTENT_DISPOSITION>::adopt(mimePartContentDisposition(get()));
    if (!disposition) return std::nullopt;
    return ContentDisposition(std::move(disposition));
  }
  [[nodiscard]] std::optional<std::string> disposition() const {
    return detail::takeUtf8(mimePartDisposition(get()));
  }
  [[nodiscard]] std::optional<std::string> fileName() const {
    return detail::takeUtf8(mimePartFileName(get()));
  }
  // The text of the part's first unstructured field named name, encoded words decoded (see Header::text).
  [[nodiscard]] std::optional<std::string> fieldText(std::string_view name) const {
    return header().text(name);
  }
  [[nodiscard]] size_t offset() const noexcept { return static_cast<size_t>(mimePartOffset(get())); }
  [[nodiscard]] size_t bodyOffset() const noexcept { return static_cast<size_t>(mimePartBodyOffset(get())); }
  // The body as it stands, still transfer-encoded.
  [[nodiscard]] Buffer body() const { return Buffer(Ref<KX_BUFFER>::adopt(mimePartBody(get()))); }
  // The body decoded tolerantly; *defect (may be null) receives the first decoding fault, or nothing.
  [[nodiscard]] Buffer decodedBody(const Options &opt, std::optional<Defect> *defect = nullptr) const {
    MIME_DEFECT found;
    Buffer decoded(Ref<KX_BUFFER>::adopt(mimePartDecodeBody(get(), opt.get(), &found)));
    if (defect) {
      *defect = std::nullopt;
      if (found.kind >= 0) *defect = Defect{found.kind, static_cast<size_t>(found.offset)};
    }
    return decoded;
  }
  [[nodiscard]] std::vector<Part> children() const {
    std::vector<Part> children;
    for (kxInt i = 0; i < mimePartChildrenLength(get()); ++i)
      children.emplace_back(Ref<MIME_PART>::adopt(mimePartChildAt(get(), i)));
    return children;
  }
  [[nodiscard]] std::vector<Defect> defects() const {
    return detail::defectsOf(get(), mimePartDefectsLength, mimePartDefectAt);
  }
  [[nodiscard]] MIME_PART *get() const noexcept { return ref_.get(); }

 private:
  Ref<MIME_PART> ref_;
};

inline ContentType Part::contentType() const {
  return ContentType(Ref<MIME_CONTENT_TYPE>::adopt(mimePartContentType(get())));
}

// Reads a whole message into a tree of parts and returns its root; never fails (see Part::defects()).
[[nodiscard]] inline Part readMessage(const Buffer &message, const Options &opt) {
  return Part(Ref<MIME_PART>::adopt(mimeMessageRead(message.get(), opt.get())));
}

// How readMessageEach hands a part over (MIME_VISIT_*).
enum class Visit : kxInt { kLeaf = MIME_VISIT_LEAF, kStart = MIME_VISIT_START, kEnd = MIME_VISIT_END };

// Reads a message part by part without holding its tree (see mimeMessageReadEach): visit(part, Visit,
// depth) is called for each and returns true to go on, false to stop. An exception visit throws stops the
// reading and is thrown again from here. Returns false when visit stopped the reading.
template <typename Visitor>
requires std::is_invocable_r_v<bool, Visitor &, const Part &, Visit, size_t>
bool readMessageEach(const Buffer &message, const Options &opt, Visitor &&visit) {
  struct Context {
    Visitor *visit;
    std::exception_ptr failure;
  } context{&visit, nullptr};
  const auto handOver = [](void *raw, MIME_PART *part, kxInt kind, kxInt depth) -> kxBool {
    auto *c = static_cast<Context *>(raw);
    try {
      return (*c->visit)(Part(Ref<MIME_PART>::borrow(part)), static_cast<Visit>(kind),
                         static_cast<size_t>(depth))
                 ? 1
                 : 0;
    } catch (...) {
      c->failure = std::current_exception();
      return 0;
    }
  };
  const bool whole = mimeMessageReadEach(message.get(), opt.get(), handOver, &context) != 0;
  if (context.failure) std::rethrow_exception(context.failure);
  return whole;
}

}  // namespace mime

#endif

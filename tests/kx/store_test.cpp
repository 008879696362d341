// Stores: entries in first-set order, copy-on-write, the text form (exact round trip for any key and value,
// null for malformed text), deep nesting without recursion, and the order of stores.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kx_test.hpp"
#include "support/deterministic_random.hpp"
#include "support/exact_compare.hpp"
#include "support/kx_text.hpp"

using namespace kxtest;
using test_support::codePoints;
using test_support::DeterministicRandom;
using test_support::exactlyEqual;
using test_support::kxText;

namespace {

using StoreRef = kx::Ref<KX_STORE>;

void setText(StoreRef &st, const std::string &key, std::u32string_view value) {
  StringRef text = kxText(value);
  kxStoreSetValueCstr(st.addr(), key.data(), static_cast<kxInt>(key.size()), text.get());
}

void setInt(StoreRef &st, const std::string &key, kxInt value) {
  kxStoreSetValueIntCstr(st.addr(), key.data(), static_cast<kxInt>(key.size()), value);
}

void setStore(StoreRef &st, const std::string &key, KX_STORE *sub) {
  kxStoreSetStoreCstr(st.addr(), key.data(), static_cast<kxInt>(key.size()), sub);
}

std::u32string encode(KX_STORE *st) {
  return test_support::takeCodePoints(kxStoreEncode(st));
}

StoreRef decode(std::u32string_view text) {
  StringRef s = kxText(text);
  return StoreRef(kxStoreTryDecode(s.get()));
}

std::string keysOf(KX_STORE *st) {
  std::string keys;
  for (kxInt i = 0; i < kxStoreLength(st); ++i) {
    StringRef key(kxStoreKeyAt(st, i));
    if (i > 0) keys += ',';
    keys += utf8Of(key.get());
  }
  return keys;
}

TEST(StoreSet, KeepsFirstSetOrderAndReplacesInPlace) {
  StoreRef st(kxStoreCreate());
  setInt(st, "b", 1);
  setText(st, "a", U"x");
  setInt(st, "c", 3);
  setText(st, "b", U"now text");
  EXPECT_EQ(keysOf(st.get()), "b,a,c");
  StringRef b(kxStoreValueCstr(st.get(), "b", -1));
  ASSERT_TRUE(b);
  EXPECT_EQ(utf8Of(b.get()), "now text");
  kxInt unchanged = 99;
  EXPECT_EQ(kxStoreValueIntCstr(st.get(), "b", -1, &unchanged), 0) << "b holds text now";
  EXPECT_EQ(unchanged, 99);
  kxStoreDelCstr(st.addr(), "a", -1);
  EXPECT_EQ(keysOf(st.get()), "b,c");
  kxInt c = 0;
  EXPECT_EQ(kxStoreValueIntCstr(st.get(), "c", -1, &c), 1);
  EXPECT_EQ(c, 3);
}

TEST(StoreGet, AbsentKeysAndOtherKindsGiveNothing) {
  StoreRef st(kxStoreCreate());
  setInt(st, "n", 5);
  setStore(st, "s", StoreRef(kxStoreCreate()).get());
  kxInt value = 7;
  EXPECT_EQ(kxStoreValueCstr(st.get(), "missing", -1), nullptr);
  EXPECT_EQ(kxStoreValueCstr(st.get(), "n", -1), nullptr);
  EXPECT_EQ(kxStoreStoreCstr(st.get(), "n", -1), nullptr);
  EXPECT_EQ(kxStoreValueIntCstr(st.get(), "s", -1, &value), 0);
  EXPECT_EQ(kxStoreValueIntCstr(st.get(), "missing", -1, &value), 0);
  EXPECT_EQ(value, 7);
  StoreRef sub(kxStoreStoreCstr(st.get(), "s", -1));
  EXPECT_TRUE(sub);
}

TEST(StoreKeys, ExplicitLengthsKeepNulAndDistinguishPrefixes) {
  StoreRef st(kxStoreCreate());
  setInt(st, std::string("a\0b", 3), 1);
  setInt(st, "a", 2);
  kxInt value = 0;
  ASSERT_EQ(kxStoreValueIntCstr(st.get(), "a\0b", 3, &value), 1);
  EXPECT_EQ(value, 1);
  ASSERT_EQ(kxStoreValueIntCstr(st.get(), "a\0b", -1, &value), 1) << "-1 stops at the NUL";
  EXPECT_EQ(value, 2);
}

TEST(StoreKeys, ManyKeysStayFindableAcrossTheIndexThreshold) {
  StoreRef st(kxStoreCreate());
  auto keyOf = [](int i) { return std::string("k").append(std::to_string(i)); };
  for (int i = 0; i < 40; ++i) setInt(st, keyOf(i), i);
  kxStoreDelCstr(st.addr(), "k3", -1);
  kxStoreDelCstr(st.addr(), "k20", -1);
  setInt(st, "k5", 500);
  for (int i = 0; i < 40; ++i) {
    kxInt value = -1;
    const bool present = kxStoreValueIntCstr(st.get(), keyOf(i).c_str(), -1, &value);
    EXPECT_EQ(present, i != 3 && i != 20) << i;
    if (present) {
      EXPECT_EQ(value, i == 5 ? 500 : i) << i;
    }
  }
  StringRef fourth(kxStoreKeyAt(st.get(), 3));
  EXPECT_EQ(utf8Of(fourth.get()), "k4") << "deleting closes the gap";
}

TEST(StoreCopyOnWrite, SharedStoresAreCopiedPrivateOnesChangedInPlace) {
  StoreRef st(kxStoreCreate());
  setInt(st, "a", 1);
  KX_STORE *original = st.get();
  setInt(st, "b", 2);
  EXPECT_EQ(st.get(), original);
  StoreRef other(kxStoreFrom(kxObjRetain(kxStoreObj(st.get()))));
  setInt(st, "a", 10);
  EXPECT_NE(st.get(), original);
  kxInt a = 0;
  kxStoreValueIntCstr(other.get(), "a", -1, &a);
  EXPECT_EQ(a, 1) << "the other holder keeps the old value";
  KX_STORE *beforeDelete = other.get();
  kxStoreDelCstr(other.addr(), "nothing", -1);
  EXPECT_EQ(other.get(), beforeDelete) << "deleting an absent key changes nothing, copies nothing";
}

TEST(StoreSetStore, StoringAStoreIntoItselfMakesNoCycle) {
  StoreRef st(kxStoreCreate());
  setInt(st, "a", 1);
  setStore(st, "self", st.get());
  EXPECT_TRUE(exactlyEqual(encode(st.get()), U"a = 1\nself {\n  a = 1\n}\n"));
  StoreRef sub(kxStoreStoreCstr(st.get(), "self", -1));
  EXPECT_EQ(refsOf(sub.get()), 2) << "held by st and by this test, nothing else";
  setStore(st, "self", sub.get());  // the very object it already holds
  EXPECT_EQ(refsOf(sub.get()), 2);
}

struct EncodeCase {
  const char *label;
  void (*build)(StoreRef &);
  std::u32string expected;
};

const EncodeCase kEncodeCases[] = {
    {"empty store", [](StoreRef &) {}, U""},
    {"options-like",
     [](StoreRef &st) {
       setText(st, "flags", U"A, B");
       setInt(st, "wrapLineLength", 76);
       StoreRef sub(kxStoreCreate());
       setInt(sub, "lineLength", 76);
       setStore(st, "rfcBaseOptions", sub.get());
       setStore(st, "empty", StoreRef(kxStoreCreate()).get());
     },
     U"flags = \"A, B\"\nwrapLineLength = 76\nrfcBaseOptions {\n  lineLength = 76\n}\nempty {}\n"},
    {"integer extremes",
     [](StoreRef &st) {
       setInt(st, "min", KX_INT_MIN);
       setInt(st, "max", KX_INT_MAX);
     },
     U"min = -9223372036854775808\nmax = 9223372036854775807\n"},
    {"value escapes",
     [](StoreRef &st) { setText(st, "v", std::u32string(U"q\"b\\n\nr\rt\t") + char32_t(0) + U"\x7F\x85"); },
     U"v = \"q\\\"b\\\\n\\nr\\rt\\t\\u{0}\\u{7F}\\u{85}\"\n"},
    {"printable non-ASCII as it stands, invisible and unencodable escaped",
     [](StoreRef &st) {
       setText(st, "v", std::u32string(U"é€😀\u2028\u202E\uFEFF") + char32_t(0xD800) + char32_t(0x110000));
     },
     U"v = \"é€😀\\u{2028}\\u{202E}\\u{FEFF}\\u{D800}\\u{110000}\"\n"},
    {"keys quoted when not bare",
     [](StoreRef &st) {
       setInt(st, "a.b-c_9", 1);
       setInt(st, "with space", 2);
       setInt(st, "", 3);
       setInt(st, "\xC3\xA9\xFF\xE2\x82", 4);
       setInt(st, "\xEF\xBF\xBD", 5);
     },
     U"a.b-c_9 = 1\n\"with space\" = 2\n\"\" = 3\n\"é\\xFF\\xE2\\x82\" = 4\n\"\uFFFD\" = 5\n"},
};

TEST(StoreEncode, WritesTheReadableForm) {
  for (const auto &c : kEncodeCases) {
    StoreRef st(kxStoreCreate());
    c.build(st);
    EXPECT_TRUE(exactlyEqual(encode(st.get()), c.expected)) << c.label;
    EXPECT_EQ(textOf(st.get()), utf8Of(test_support::kxText(c.expected).get())) << c.label << ": to-string";
  }
}

struct DecodeCase {
  const char *label;
  std::u32string text;
  std::u32string canonical;  // the encoding of what was decoded
};

const DecodeCase kDecodeCases[] = {
    {"empty text", U"", U""},
    {"comments and blank lines", U"# settings\n\n  a = 1   # trailing\n\n#end", U"a = 1\n"},
    {"CR LF line ends", U"a = 1\r\nb {\r\n}\r\n", U"a = 1\nb {}\n"},
    {"tabs anywhere, no final line end", U"\t a\t=\t\"x\"", U"a = \"x\"\n"},
    {"no spaces", U"a=1\nb{}\nc=\"\"", U"a = 1\nb {}\nc = \"\"\n"},
    {"code point escape", U"a = \"\\u{1F600}\\u{41}\"", U"a = \"😀A\"\n"},
    {"octet escapes that form UTF-8", U"\"\\xC3\\xA9\" = 1", U"\"é\" = 1\n"},
    {"character escapes in keys", U"\"\\u{E9}\\n\" = 1", U"\"é\\n\" = 1\n"},
    {"a key set twice keeps its place and the last value", U"a = 1\nb = 2\na = \"3\"", U"a = \"3\"\nb = 2\n"},
    {"leading zeros and minus zero", U"a = 007\nb = -0", U"a = 7\nb = 0\n"},
    {"integer extremes", U"a = -9223372036854775808\nb = 9223372036854775807",
     U"a = -9223372036854775808\nb = 9223372036854775807\n"},
    {"empty store on one line", U"a { }\n", U"a {}\n"},
    {"nested, any indentation", U"a {\nb {\n c = 1\n}\n}", U"a {\n  b {\n    c = 1\n  }\n}\n"},
    {"comment after an opening brace", U"a { # sub\n}", U"a {}\n"},
    {"any code point inside a value", std::u32string(U"a = \"") + char32_t(0xFFFFFFFF) + U"\"",
     U"a = \"\\u{FFFFFFFF}\"\n"},
};

TEST(StoreTryDecode, AcceptsWhatAPersonMightWrite) {
  for (const auto &c : kDecodeCases) {
    StoreRef st = decode(c.text);
    ASSERT_TRUE(st) << c.label;
    EXPECT_TRUE(exactlyEqual(encode(st.get()), c.canonical)) << c.label;
  }
}

struct MalformedCase {
  const char *label;
  std::u32string text;
};

const MalformedCase kMalformedCases[] = {
    {"key alone", U"a"},
    {"no value", U"a ="},
    {"unclosed quote", U"a = \"x"},
    {"line end inside quotes", U"a = \"x\ny\""},
    {"CR inside quotes", U"a = \"x\ry\""},
    {"unknown escape", U"a = \"\\q\""},
    {"backslash at the end", U"a = \"\\"},
    {"octet escape in a value", U"a = \"\\x41\""},
    {"short octet escape", U"\"\\x4\" = 1"},
    {"empty code point escape", U"a = \"\\u{}\""},
    {"nine hex digits", U"a = \"\\u{123456789}\""},
    {"unclosed code point escape", U"a = \"\\u{41\""},
    {"code point escape without brace", U"a = \"\\u0041\""},
    {"surrogate escape in a key", U"\"\\u{D800}\" = 1"},
    {"escape above U+10FFFF in a key", U"\"\\u{110000}\" = 1"},
    {"literal surrogate in a key", std::u32string(U"\"") + char32_t(0xD800) + U"\" = 1"},
    {"integer too large", U"a = 9223372036854775808"},
    {"integer too small", U"a = -9223372036854775809"},
    {"huge integer", U"a = 99999999999999999999999999"},
    {"letters after digits", U"a = 5x"},
    {"two minus signs", U"a = --5"},
    {"plus sign", U"a = +5"},
    {"bare minus", U"a = -"},
    {"single quotes", U"a = 'x'"},
    {"two values", U"a = \"x\" \"y\""},
    {"two entries on a line", U"a = 1 b = 2"},
    {"closing brace with nothing open", U"}"},
    {"unclosed store", U"a {"},
    {"unclosed nested store", U"a {\nb {\n}\n"},
    {"entries on the opening line", U"a { b = 1 }"},
    {"closing brace after a value", U"a {\nb = 1 }"},
    {"missing key", U"= 1"},
    {"key with a blank", U"a b = 1"},
    {"non-ASCII bare key", U"é = 1"},
    {"bare CR as a line end", U"a = 1\rb = 2"},
    {"text after the closing brace", U"a {\n} b"},
};

TEST(StoreTryDecode, GivesNullForMalformedText) {
  for (const auto &c : kMalformedCases) EXPECT_FALSE(decode(c.text)) << c.label;
}

// --- round trip of random stores with hostile keys and values ---

std::string hostileKey(DeterministicRandom &random) {
  static const std::string kPieces[] = {"a",
                                        "key",
                                        "\"",
                                        "\\",
                                        "\n",
                                        "\r",
                                        std::string("\0", 1),
                                        "=",
                                        "{",
                                        "}",
                                        "#",
                                        " ",
                                        "\t",
                                        "\xC3\xA9",
                                        "\xE2\x80\xA8",
                                        "\xEF\xBF\xBD",
                                        "\xFF",
                                        "\xC0\xAF",
                                        "\xED\xA0\x80",
                                        "\xE2\x82",
                                        "\\x41",
                                        "\\u{41}",
                                        "_"};
  std::string key;
  for (int n = static_cast<int>(random.range(0, 5)); n > 0; --n) key += random.pick(kPieces);
  return key;
}

std::u32string hostileValue(DeterministicRandom &random) {
  static const char32_t kChars[] = {0,      '"',    '\\',   '\n',   '\r',   '\t',     0x7F,     0x85,
                                    0x2028, 0xFEFF, 0xD800, 0xDFFF, 'x',    U'é',     U'€',     U'😀',
                                    '{',    '}',    '#',    '=',    0xFFFD, 0x10FFFF, 0x110000, 0xFFFFFFFF};
  std::u32string value;
  for (int n = static_cast<int>(random.range(0, 8)); n > 0; --n) {
    value += random.chance(80) ? random.pick(kChars) : static_cast<char32_t>(random.next());
  }
  return value;
}

StoreRef randomStore(DeterministicRandom &random, int depth) {
  StoreRef st(kxStoreCreate());
  for (int n = static_cast<int>(random.range(0, 6)); n > 0; --n) {
    const std::string key = hostileKey(random);
    switch (random.range(0, depth > 0 ? 2 : 1)) {
      case 0:
        setText(st, key, hostileValue(random));
        break;
      case 1: {
        static const kxInt kIntegers[] = {0, -1, 1, 76, KX_INT_MIN, KX_INT_MAX};
        setInt(st, key, random.chance(50) ? random.pick(kIntegers) : static_cast<kxInt>(random.next()));
        break;
      }
      default:
        setStore(st, key, randomStore(random, depth - 1).get());
    }
  }
  return st;
}

TEST(StoreTextForm, RoundTripsRandomStoresWithHostileKeysAndValues) {
  DeterministicRandom random(20240611);
  for (int round = 0; round < 500; ++round) {
    StoreRef st = randomStore(random, 3);
    const std::u32string text = encode(st.get());
    // The text survives a UTF-8 file: nothing in it lacks a UTF-8 form.
    StringRef viaFile(kxStringCreateFromCstr(utf8Of(test_support::kxText(text).get()).c_str(), -1));
    ASSERT_TRUE(exactlyEqual(codePoints(viaFile.get()), text)) << "round " << round;
    StoreRef back(kxStoreTryDecode(viaFile.get()));
    ASSERT_TRUE(back) << "round " << round;
    EXPECT_EQ(kxObjCompare(kxStoreObj(st.get()), kxStoreObj(back.get())), 0) << "round " << round;
    EXPECT_TRUE(exactlyEqual(encode(back.get()), text)) << "round " << round;
  }
}

// --- deep nesting ---

constexpr int kDeep = 100000;

TEST(StoreDeepNesting, EncodeDecodeCompareAndReleaseUseNoRecursion) {
  StoreRef chain(kxStoreCreate());
  setInt(chain, "bottom", 1);
  for (int i = 0; i < kDeep; ++i) {
    StoreRef parent(kxStoreCreate());
    setStore(parent, "k", chain.get());
    chain = std::move(parent);
  }
  StringRef text(kxStoreEncode(chain.get()));
  EXPECT_LT(kxStringLength(text.get()), kxInt{kDeep} * 80) << "indentation is capped: the text stays linear";
  StoreRef back(kxStoreTryDecode(text.get()));
  ASSERT_TRUE(back);
  EXPECT_EQ(kxObjCompare(kxStoreObj(chain.get()), kxStoreObj(back.get())), 0);
  setInt(back, "top", 2);
  EXPECT_NE(kxObjCompare(kxStoreObj(chain.get()), kxStoreObj(back.get())), 0);
  chain.reset();  // releasing the deep chain must not overflow the stack
  back.reset();
}

TEST(StoreDeepNesting, UnclosedDeepTextIsMalformed) {
  std::u32string text;
  for (int i = 0; i < kDeep; ++i) text += U"a {\n";
  for (int i = 1; i < kDeep; ++i) text += U"}\n";
  EXPECT_FALSE(decode(text)) << "one closing brace short";
  EXPECT_TRUE(decode(text + U"}")) << "and complete";
}

// --- order ---

struct CompareCase {
  const char *label;
  std::u32string a;
  std::u32string b;
  kxInt expected;
};

const CompareCase kCompareCases[] = {
    {"equal", U"a = 1\nb {\nc = \"x\"\n}", U"a = 1\nb {\nc = \"x\"\n}", 0},
    {"integer value", U"a = 1", U"a = 2", -1},
    {"key before value", U"a = 9", U"b = 1", -1},
    {"text before integer before store", U"a = \"z\"\nb = 9", U"a = 1\nb = 1", -1},
    {"integer before store", U"a = 1", U"a {}", -1},
    {"prefix first", U"", U"a = 1", -1},
    {"nested difference", U"a {\nb = 2\n}", U"a {\nb = 1\n}", 1},
    {"after equal nested stores", U"a {\nb = 1\n}\nc = 1", U"a {\nb = 1\n}\nc = 0", 1},
    {"entry order counts", U"a = 1\nb = 2", U"b = 2\na = 1", -1},
};

TEST(StoreCompare, EntryByEntryInOrder) {
  for (const auto &c : kCompareCases) {
    StoreRef a = decode(c.a);
    StoreRef b = decode(c.b);
    ASSERT_TRUE(a && b) << c.label;
    EXPECT_EQ(kxObjCompare(kxStoreObj(a.get()), kxStoreObj(b.get())), c.expected) << c.label;
    EXPECT_EQ(kxObjCompare(kxStoreObj(b.get()), kxStoreObj(a.get())), -c.expected) << c.label;
  }
}

TEST(StoreDeathTest, BrokenPreconditionsAbort) {
  StoreRef st(kxStoreCreate());
  StringRef v = str("v");
  EXPECT_DEATH(kxStoreSetValueCstr(st.addr(), nullptr, -1, v.get()), abortLine("kx_store\\.cpp", "key"));
  EXPECT_DEATH(kxStoreSetValueCstr(st.addr(), "k", -1, nullptr), abortLine("kx_store\\.cpp", "value"));
  EXPECT_DEATH(kxStoreSetStoreCstr(st.addr(), "k", -1, nullptr), abortLine("kx_store\\.cpp", "sub"));
  EXPECT_DEATH(kxStoreKeyAt(st.get(), 0), "index >= 0 && index < kxStoreLength\\(st\\)");
  EXPECT_DEATH(kxStoreTryDecode(nullptr), abortLine("kx_store\\.cpp", "text"));
  EXPECT_DEATH(kxStoreFrom(kxStringObj(v.get())), "kxObjSort\\(obj\\) == &kx___sort_KX_STORE");
}

}  // namespace

// Stores: entries in first-set order, lookups by kind, the text form (exact round trip for any key and
// value, null for malformed text) and deep nesting without recursion. (Order and copy-on-write:
// obj_test.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

void setText(StoreRef &st, const std::string &key, std::u32string_view value) {
  kxStoreSetValueCstr(st.addr(), key.data(), static_cast<kxInt>(key.size()), kxText(value).get());
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
  return StoreRef(kxStoreTryDecode(kxText(text).get()));
}

kxInt intAt(KX_STORE *st, const std::string &key, kxInt absent = -999) {
  kxInt value = absent;
  return kxStoreValueIntCstr(st, key.data(), static_cast<kxInt>(key.size()), &value) ? value : absent;
}

// Entries keep the place of their first set; a getter finds its own kind only and leaves the output alone.
TEST(StoreSet, FirstSetOrderAndLookupsByKind) {
  StoreRef st(kxStoreCreate());
  setInt(st, "b", 1);
  setText(st, "a", U"x");
  setStore(st, "s", StoreRef(kxStoreCreate()).get());
  setText(st, "b", U"now text");
  kxStoreDelCstr(st.addr(), "a", -1);
  EXPECT_TRUE(exactlyEqual(encode(st.get()), U"b = \"now text\"\ns {}\n"));
  EXPECT_EQ(intAt(st.get(), "b"), -999);
  EXPECT_EQ(intAt(st.get(), "s"), -999);
  EXPECT_EQ(kxStoreValueCstr(st.get(), "s", -1), nullptr);
  EXPECT_EQ(kxStoreStoreCstr(st.get(), "b", -1), nullptr);
}

// Keys are octet strings of any length: a NUL neither ends nor shortens one. Past a threshold lookups go
// through an index, which deletes and replacements must keep right.
TEST(StoreKeys, NulAndManyKeysAcrossTheIndexThreshold) {
  StoreRef st(kxStoreCreate());
  setInt(st, std::string("a\0b", 3), 1);
  setInt(st, "a", 2);
  auto keyOf = [](int i) { return "k" + std::to_string(i); };
  for (int i = 0; i < 40; ++i) setInt(st, keyOf(i), i);
  kxStoreDelCstr(st.addr(), "k3", -1);
  kxStoreDelCstr(st.addr(), "k20", -1);
  setInt(st, "k5", 500);
  EXPECT_EQ(intAt(st.get(), std::string("a\0b", 3)), 1);
  EXPECT_EQ(intAt(st.get(), "a"), 2);
  for (int i = 0; i < 40; ++i)
    EXPECT_EQ(intAt(st.get(), keyOf(i)), i == 3 || i == 20 ? -999 : i == 5 ? 500 : i) << i;
  EXPECT_EQ(utf8Of(StringRef(kxStoreKeyAt(st.get(), 5)).get()), "k4") << "deleting closes the gap";
}

TEST(StoreSetStore, StoringAStoreIntoItselfMakesNoCycle) {
  StoreRef st(kxStoreCreate());
  setInt(st, "a", 1);
  setStore(st, "self", st.get());
  EXPECT_TRUE(exactlyEqual(encode(st.get()), U"a = 1\nself {\n  a = 1\n}\n"));
  StoreRef sub(kxStoreStoreCstr(st.get(), "self", -1));
  setStore(st, "self", sub.get());  // the very object it already holds
  EXPECT_EQ(refsOf(sub.get()), 2) << "held by st and by this test, nothing else";
  st.reset();
  EXPECT_EQ(refsOf(sub.get()), 1) << "released with the store that held it";
}

// {label, text, its canonical form (empty: the text itself)}: what a person might write reads back, and
// what the encoder writes is the canonical form, escapes and quoted keys included.
const std::tuple<const char *, std::u32string, std::u32string> kTextCases[] = {
    {"options-like", U"flags = \"A, B\"\nrfcBaseOptions {\n  lineLength = 76\n}\nempty {}\n", U""},
    {"integer extremes", U"min = -9223372036854775808\nmax = 9223372036854775807\n", U""},
    {"value escapes", U"v = \"q\\\"b\\\\n\\nr\\rt\\t\\u{0}\\u{7F}\\u{85}\\u{9F}\"\n", U""},
    {"printable non-ASCII as it stands, invisible and unencodable escaped",
     U"v = \"é€😀\\u{2028}\\u{202E}\\u{FEFF}\\u{D800}\\u{110000}\\u{FFFFFFFF}\"\n", U""},
    {"keys bare up to the last letter and digit, else quoted; octets that are no UTF-8 as \\x",
     U"AZ.az-09_ = 1\n\"with \\\"space\\\"\" = 2\n\"\" = 3\n\"é\\xFF\\xE2\\x82\\xED\\xA0\\x80\\xC0\\xAF\" = "
     U"4\n"
     U"\"\uFFFD\" = 5\n\"#{}=\\n\\u{0}\\\\x41\" = 6\n",
     U""},
    {"comments and blank lines", U"# settings\n\n  a = 1   # trailing\n\n#end", U"a = 1\n"},
    {"CR LF line ends", U"a = 1\r\nb {\r\n}\r\n", U"a = 1\nb {}\n"},
    {"tabs anywhere, no final line end", U"\t a\t=\t\"x\"", U"a = \"x\"\n"},
    {"no spaces", U"a=1\nb{}\nc=\"\"", U"a = 1\nb {}\nc = \"\"\n"},
    {"code point escape", U"a = \"\\u{1F600}\\u{41}\"", U"a = \"😀A\"\n"},
    {"octet escapes that form UTF-8", U"\"\\xC3\\xA9\" = 1", U"\"é\" = 1\n"},
    {"a key set twice keeps its place and the last value", U"a = 1\nb = 2\na = \"3\"", U"a = \"3\"\nb = 2\n"},
    {"leading zeros and minus zero", U"a = 007\nb = -0", U"a = 7\nb = 0\n"},
    {"nested, any indentation, comment after a brace", U"a { # sub\nb {\n c = 1\n}\n}\nd { }",
     U"a {\n  b {\n    c = 1\n  }\n}\nd {}\n"},
};

TEST(StoreTextForm, ReadsWhatAPersonMightWriteAndWritesTheCanonicalForm) {
  for (const auto &[label, text, canonical] : kTextCases) {
    StoreRef st = decode(text);
    ASSERT_TRUE(st) << label;
    EXPECT_TRUE(exactlyEqual(encode(st.get()), canonical.empty() ? text : canonical)) << label;
  }
}

// Each text is malformed in one way: a missing or extra part, a bad escape (octet escapes belong to keys, a
// key must be a scalar value), an integer out of range or ill-formed, a brace out of place, a bare CR.
// clang-format off
const std::u32string kMalformedTexts[] = {
    U"a", U"a =", U"= 1", U"a b = 1", U"é = 1", U"a = \"x", U"a = \"x\ny\"", U"a = \"x\nb = 1", U"a = \"x\ry\"",
    U"a = \"\\q\"", U"a = \"\\", U"a = \"\\x41\"", U"\"\\x4\" = 1", U"a = \"\\u{}\"", U"a = \"\\u{123456789}\"",
    U"a = \"\\u{41\"", U"a = \"\\u0041\"", U"\"\\u{D800}\" = 1", U"\"\\u{110000}\" = 1",
    std::u32string(U"\"") + char32_t(0xD800) + U"\" = 1", U"a = 9223372036854775808",
    U"a = -9223372036854775809", U"a = 5x", U"a = --5", U"a = +5", U"a = -", U"a = 'x'", U"a = \"x\" \"y\"",
    U"a = 1 b = 2", U"}", U"a {\nb {\n}\n", U"a { b = 1 }", U"a {\nb = 1 }", U"a = 1\rb = 2", U"a {\n} b",
    U"a {} b = 1", U"a { b = 1",
};
// clang-format on

TEST(StoreTryDecode, GivesNullForMalformedText) {
  for (const auto &text : kMalformedTexts) EXPECT_FALSE(decode(text)) << testing::PrintToString(text);
}

// 100,000 nested stores: encoding, decoding, comparing and releasing them must not recurse (the stack
// would overflow), and the text must stay linear in the depth.
TEST(StoreTextForm, HundredThousandDeepNesting) {
  constexpr int kDeep = 100000;
  StoreRef chain(kxStoreCreate());
  setInt(chain, "bottom", 1);
  for (int i = 0; i < kDeep; ++i) {
    StoreRef parent(kxStoreCreate());
    setStore(parent, "k", chain.get());
    chain = std::move(parent);
  }
  StringRef text(kxStoreEncode(chain.get()));
  EXPECT_LT(kxStringLength(text.get()), kxInt{kDeep} * 80) << "indentation is capped";
  StoreRef back(kxStoreTryDecode(text.get()));
  ASSERT_TRUE(back);
  EXPECT_EQ(kxObjCompare(kxStoreObj(chain.get()), kxStoreObj(back.get())), 0);
  setInt(back, "top", 2);
  EXPECT_NE(kxObjCompare(kxStoreObj(chain.get()), kxStoreObj(back.get())), 0);
  setInt(chain, "k", 0);  // the replaced entry lets go of the whole chain below it, without recursion too
  StringRef unclosed(kxStringCreateFromInner(text.get(), 0, kxStringLength(text.get()) - 2));
  EXPECT_FALSE(StoreRef(kxStoreTryDecode(unclosed.get()))) << "one closing brace short";
}

}  // namespace

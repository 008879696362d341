// Dictionaries: key order, lookup, replace, delete, copy-on-write, ordering, string form, large sizes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kx_test.hpp"

using namespace kxtest;

namespace {

void set(DictRef &d, const char *key, const char *value) {
  StringRef k = str(key);
  StringRef v = str(value);
  kxDictSetStringKey(d.addr(), k.get(), kxStringObj(v.get()));
}

std::string lookup(KX_DICT *d, const char *key) {
  StringRef k = str(key);
  ObjRef value(kxDictStringKey(d, k.get()));
  return value ? utf8Of(kxStringFrom(value.get())) : "(absent)";
}

// "k=v,k=v" by index, the visiting order.
std::string entriesOf(KX_DICT *d) {
  std::string out;
  for (kxInt i = 0; i < kxDictLength(d); ++i) {
    StringRef key(kxDictKeyAt(d, i));
    ObjRef value(kxDictValueAt(d, i));
    if (i > 0) out += ',';
    out += utf8Of(key.get()) + "=" + utf8Of(kxStringFrom(value.get()));
  }
  return out;
}

struct OrderCase {
  const char *label;
  std::vector<const char *> keys;  // inserted in this order, value = key
  const char *expected;
};

const OrderCase kOrderCases[] = {
    {"ascending code points", {"b", "a", "c"}, "a=a,b=b,c=c"},
    {"upper case before lower", {"a", "B"}, "B=B,a=a"},
    {"prefix first", {"ab", "a", ""}, "=,a=a,ab=ab"},
    {"code points, not UTF-8 octets or UTF-16",
     {"\xF0\x9F\x98\x80", "\xEF\xBF\xBD", "z"},
     "z=z,\xEF\xBF\xBD=\xEF\xBF\xBD,\xF0\x9F\x98\x80=\xF0\x9F\x98\x80"},
    {"duplicate key replaces", {"a", "a"}, "a=a"},
};

TEST(DictOrder, VisitsKeysInAscendingCodePointOrder) {
  for (const auto &c : kOrderCases) {
    DictRef d(kxDictCreate());
    for (const char *key : c.keys) set(d, key, key);
    EXPECT_EQ(entriesOf(d.get()), c.expected) << c.label;
  }
}

TEST(Dict, LookupReplaceDelete) {
  DictRef d(kxDictCreate());
  set(d, "charset", "utf-8");
  set(d, "boundary", "x");
  EXPECT_EQ(lookup(d.get(), "charset"), "utf-8");
  EXPECT_EQ(lookup(d.get(), "name"), "(absent)");
  set(d, "charset", "us-ascii");
  EXPECT_EQ(entriesOf(d.get()), "boundary=x,charset=us-ascii");
  StringRef absent = str("name");
  KX_DICT *before = d.get();
  kxDictDelStringKey(d.addr(), absent.get());
  EXPECT_EQ(d.get(), before);
  StringRef boundary = str("boundary");
  EXPECT_EQ(kxDictHasStringKey(d.get(), boundary.get()), 1);
  kxDictDelStringKey(d.addr(), boundary.get());
  EXPECT_EQ(kxDictHasStringKey(d.get(), boundary.get()), 0);
  EXPECT_EQ(entriesOf(d.get()), "charset=us-ascii");
  kxDictClear(d.addr());
  EXPECT_EQ(kxDictLength(d.get()), 0);
}

TEST(Dict, HoldsOneReferencePerKeyAndValue) {
  StringRef key = str("k");
  StringRef value = str("v");
  {
    DictRef d(kxDictCreate());
    kxDictSetStringKey(d.addr(), key.get(), kxStringObj(value.get()));
    kxDictSetStringKey(d.addr(), key.get(), kxStringObj(value.get()));  // same value again
    EXPECT_EQ(refsOf(key.get()), 2);
    EXPECT_EQ(refsOf(value.get()), 2);
  }
  EXPECT_EQ(refsOf(key.get()), 1);
  EXPECT_EQ(refsOf(value.get()), 1);
}

// --- copy-on-write ---

TEST(DictCopyOnWrite, EveryChangerLeavesASharedDictUnchanged) {
  using Change = void (*)(DictRef &);
  const struct {
    const char *label;
    Change change;
    const char *expected;
  } cases[] = {
      {"set", [](DictRef &d) { set(d, "c", "3"); }, "a=1,b=2,c=3"},
      {"replace", [](DictRef &d) { set(d, "a", "9"); }, "a=9,b=2"},
      {"delete",
       [](DictRef &d) {
         StringRef k = str("a");
         kxDictDelStringKey(d.addr(), k.get());
       },
       "b=2"},
      {"clear", [](DictRef &d) { kxDictClear(d.addr()); }, ""},
  };
  for (const auto &c : cases) {
    DictRef mine(kxDictCreate());
    set(mine, "a", "1");
    set(mine, "b", "2");
    DictRef other = DictRef::retained(mine.get());
    c.change(mine);
    EXPECT_NE(mine.get(), other.get()) << c.label;
    EXPECT_EQ(entriesOf(mine.get()), c.expected) << c.label;
    EXPECT_EQ(entriesOf(other.get()), "a=1,b=2") << c.label;
    KX_DICT *privateDict = mine.get();
    c.change(mine);
    EXPECT_EQ(mine.get(), privateDict) << c.label << ": unshared, changed in place";
  }
}

struct CompareCase {
  const char *label;
  std::vector<std::pair<const char *, const char *>> a, b;
  kxInt expected;
};

const CompareCase kCompareCases[] = {
    {"equal", {{"a", "1"}}, {{"a", "1"}}, 0},
    {"key decides", {{"a", "1"}}, {{"b", "1"}}, -1},
    {"value decides", {{"a", "2"}}, {{"a", "1"}}, 1},
    {"prefix first", {{"a", "1"}}, {{"a", "1"}, {"b", "1"}}, -1},
    {"empty first", {}, {{"a", "1"}}, -1},
};

TEST(DictCompare, EntryByEntryThenLength) {
  for (const auto &c : kCompareCases) {
    DictRef a(kxDictCreate());
    DictRef b(kxDictCreate());
    for (auto [k, v] : c.a) set(a, k, v);
    for (auto [k, v] : c.b) set(b, k, v);
    EXPECT_EQ(kxObjCompare(kxDictObj(a.get()), kxDictObj(b.get())), c.expected) << c.label;
    EXPECT_EQ(kxObjCompare(kxDictObj(b.get()), kxDictObj(a.get())), -c.expected) << c.label;
  }
}

TEST(DictToString, BracesColonsCommas) {
  DictRef d(kxDictCreate());
  EXPECT_EQ(textOf(d.get()), "{}");
  set(d, "charset", "utf-8");
  set(d, "boundary", "x");
  EXPECT_EQ(textOf(d.get()), "{boundary: x, charset: utf-8}");
}

// 100,000 distinct keys in random order: the order, every lookup and positional access come out right.
// (Quadratic inserts would make this test take minutes under the sanitizers.)
TEST(DictScale, HundredThousandKeysInRandomOrder) {
  constexpr int kCount = 100000;
  std::vector<int> numbers(kCount);
  for (int i = 0; i < kCount; ++i) numbers[static_cast<size_t>(i)] = i;
  std::shuffle(numbers.begin(), numbers.end(), std::mt19937(12345));
  auto keyOf = [](int n) {
    char text[16];
    std::snprintf(text, sizeof text, "k%06d", n);
    return str(text);
  };
  DictRef d(kxDictCreate());
  for (int n : numbers) {
    StringRef key = keyOf(n);
    kxDictSetStringKey(d.addr(), key.get(), kxStringObj(key.get()));
  }
  ASSERT_EQ(kxDictLength(d.get()), kCount);
  for (int i = 0; i < kCount; i += 997) {
    StringRef key(kxDictKeyAt(d.get(), i));
    StringRef expected = keyOf(i);
    EXPECT_TRUE(kxStringEquals(key.get(), expected.get())) << i;
    ObjRef value(kxDictStringKey(d.get(), expected.get()));
    EXPECT_EQ(value.get(), kxStringObj(key.get())) << i;
  }
  for (int n : numbers) {
    if (n % 2 != 0) continue;
    StringRef key = keyOf(n);
    kxDictDelStringKey(d.addr(), key.get());
  }
  ASSERT_EQ(kxDictLength(d.get()), kCount / 2);
  StringRef last(kxDictKeyAt(d.get(), kCount / 2 - 1));
  EXPECT_EQ(utf8Of(last.get()), "k099999");
}

// A shared dict is read without locks from several threads; its positional view is built lazily on the
// first KeyAt after a change, so that build must be safe when several readers race to it.
TEST(DictThreads, ConcurrentPositionalReadsOfASharedDict) {
  DictRef d(kxDictCreate());
  for (int i = 0; i < 2000; ++i) {
    char key[16];
    std::snprintf(key, sizeof key, "%04d", 1999 - i);
    set(d, key, key);
  }
  std::vector<std::thread> readers;
  std::vector<int> misordered(4, 0);
  for (size_t t = 0; t < misordered.size(); ++t) {
    readers.emplace_back([&d, &misordered, t] {
      DictRef mine = DictRef::retained(d.get());
      for (kxInt i = 1; i < kxDictLength(mine.get()); ++i) {
        StringRef before(kxDictKeyAt(mine.get(), i - 1));
        StringRef key(kxDictKeyAt(mine.get(), i));
        if (kxObjCompare(kxStringObj(before.get()), kxStringObj(key.get())) >= 0) ++misordered[t];
      }
    });
  }
  for (auto &r : readers) r.join();
  EXPECT_EQ(misordered, std::vector<int>(4, 0));
}

TEST(DictDeathTest, NullAndRangeAbort) {
  DictRef d(kxDictCreate());
  StringRef k = str("k");
  EXPECT_DEATH(kxDictSetStringKey(d.addr(), k.get(), nullptr), abortLine("kx_dict\\.cpp", "value"));
  EXPECT_DEATH(kxDictStringKey(d.get(), nullptr), abortLine("kx_dict\\.cpp", "key"));
  EXPECT_DEATH(kxDictKeyAt(d.get(), 0), "index >= 0 && index < kxDictLength\\(d\\)");
  EXPECT_DEATH(kxDictLength(nullptr), abortLine("kx_dict\\.cpp", "d"));
}

}  // namespace

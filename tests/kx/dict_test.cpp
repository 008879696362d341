// Dictionaries: key order, lookup, replace, delete, references held, building from entries.
// (Order, copy-on-write and the string form: obj_test.cpp; concurrent readers: stress/; many keys:
// kx_dict_bench.)
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kx/kx_libraries.hpp"
#include "support/test_support.hpp"

using namespace test_support;

namespace {

void set(DictRef &d, const std::string &key, const std::string &value) {
  kxDictSetStringKey(d.addr(), str(key.c_str()).get(), kxStringObj(str(value.c_str()).get()));
}

// "k=v,k=v" by index, the visiting order.
std::string entriesOf(KX_DICT *d) {
  std::string out;
  for (kxInt i = 0; i < kxDictLength(d); ++i) {
    StringRef key(kxDictKeyAt(d, i));
    ObjRef value(kxDictValueAt(d, i));
    out += (i > 0 ? "," : "") + utf8Of(key.get()) + "=" + utf8Of(kxStringFrom(value.get()));
  }
  return out;
}

// {keys inserted in this order (value = key), the visiting order}
const std::pair<std::vector<const char *>, const char *> kOrderCases[] = {
    {{"b", "a", "c"}, "a=a,b=b,c=c"},
    {{"a", "B"}, "B=B,a=a"},                     // upper case first
    {{"ab", "a", ""}, "=,a=a,ab=ab"},            // a prefix first
    {{"\xF0\x9F\x98\x80", "\xEF\xBF\xBD", "z"},  // code points, not UTF-16 units
     "z=z,\xEF\xBF\xBD=\xEF\xBF\xBD,\xF0\x9F\x98\x80=\xF0\x9F\x98\x80"},
    {{"a", "a"}, "a=a"},
};

TEST(DictOrder, VisitsKeysInAscendingCodePointOrder) {
  for (const auto &[keys, expected] : kOrderCases) {
    DictRef d(kxDictCreate());
    for (const char *key : keys) set(d, key, key);
    EXPECT_EQ(entriesOf(d.get()), expected);
  }
}

TEST(Dict, LookupReplaceDeleteAndOneReferencePerKeyAndValue) {
  StringRef key = str("charset"), value = str("utf-8");
  DictRef d(kxDictCreate());
  kxDictSetStringKey(d.addr(), key.get(), kxStringObj(value.get()));
  kxDictSetStringKey(d.addr(), key.get(), kxStringObj(value.get()));  // the same value again
  EXPECT_EQ(refsOf(key.get()) + refsOf(value.get()), 4);
  set(d, "boundary", "x");
  set(d, "charset", "us-ascii");
  EXPECT_EQ(refsOf(value.get()), 1) << "the replaced value is released";
  EXPECT_EQ(ObjRef(kxDictStringKey(d.get(), str("name").get())).get(), nullptr);
  kxDictDelStringKey(d.addr(), str("boundary").get());
  EXPECT_EQ(kxDictHasStringKey(d.get(), str("boundary").get()), 0);
  EXPECT_EQ(entriesOf(d.get()), "charset=us-ascii");
  d.reset();
  EXPECT_EQ(refsOf(key.get()), 1);
}

// A dict of one-letter keys and values written as entriesOf writes them.
DictRef dictOf(const std::string &entries) {
  DictRef d(kxDictCreate());
  for (size_t at = 0; at < entries.size(); at += 4) set(d, entries.substr(at, 1), entries.substr(at + 2, 1));
  return d;
}

// A dict built from entries is the dict that stores would build, whatever order they come in; it takes over
// the caller's references, and positional reads of borrowed entries leave every count alone.
TEST(DictFromEntries, TakesOverTheReferencesOfEntriesInAnyOrder) {
  const char *keys[] = {"", "B", "a", "ab", "\xEF\xBF\xBD", "\xF0\x9F\x98\x80"};
  for (const bool reversed : {false, true}) {
    std::vector<KX_DICT_ENTRY> entries;
    DictRef stored(kxDictCreate());
    for (const char *key : keys) {
      entries.push_back({str(key).release(), kxStringObj(str(key).release())});
      set(stored, key, key);
    }
    if (reversed) std::reverse(entries.begin(), entries.end());
    DictRef d(kx___DictCreateFromEntries(entries.data(), static_cast<kxInt>(entries.size())));
    EXPECT_EQ(entriesOf(d.get()), entriesOf(stored.get()));
    for (kxInt i = 0; i < kxDictLength(d.get()); ++i) {
      const KX_DICT_ENTRY entry = kx___DictEntryAt(d.get(), i);
      EXPECT_EQ(utf8Of(entry.key), keys[i]);
      EXPECT_EQ(refsOf(entry.key) + refsOf(entry.value), 2) << "one reference each, held by the dict";
    }
    set(d, "b", "later");  // an ordinary dict afterwards
    EXPECT_EQ(utf8Of(StringRef(kxDictKeyAt(d.get(), 4)).get()), "b");
  }
  DictRef empty(kx___DictCreateFromEntries(nullptr, 0));
  EXPECT_EQ(kxDictLength(empty.get()), 0);
}

// A dict made from entries keeps them in one sorted array until its first change: each change, made while
// another holder shares the dict, gives what stores give and leaves the other holder's entries alone.
TEST(DictFromEntries, ChangesLeaveASharingHolderAlone) {
  const std::pair<void (*)(DictRef &), const char *> changes[] = {
      {[](DictRef &d) { set(d, "ab", "n"); }, "a=a,ab=n,b=b,c=c"},
      {[](DictRef &d) { set(d, "b", "n"); }, "a=a,b=n,c=c"},
      {[](DictRef &d) { kxDictDelStringKey(d.addr(), str("b").get()); }, "a=a,c=c"},
      {[](DictRef &d) { kxDictClear(d.addr()); }, ""}};
  for (const bool shared : {true, false}) {
    for (const auto &[change, expected] : changes) {
      const KX_DICT_ENTRY entries[] = {{str("c").release(), kxStringObj(str("c").release())},
                                       {str("a").release(), kxStringObj(str("a").release())},
                                       {str("b").release(), kxStringObj(str("b").release())}};
      DictRef d(kx___DictCreateFromEntries(entries, 3));
      DictRef other = shared ? DictRef::retained(d.get()) : dictOf("a=a,b=b,c=c");
      EXPECT_EQ(kxObjCompare(kxDictObj(d.get()), kxDictObj(dictOf("a=a,b=b,c=c").get())), 0);
      change(d);
      EXPECT_EQ(entriesOf(d.get()), expected);
      EXPECT_EQ(entriesOf(other.get()), "a=a,b=b,c=c");
      EXPECT_EQ(ObjRef(kxDictStringKey(other.get(), str("b").get())).get() != nullptr, true);
    }
  }
}

// The entries are made inside the child, which alone takes them over.
void createWithKeyTwice() {
  const KX_DICT_ENTRY entries[] = {{str("a").release(), kxStringObj(str("1").release())},
                                   {str("a").release(), kxStringObj(str("2").release())}};
  DictRef d(kx___DictCreateFromEntries(entries, 2));
}

TEST(DictFromEntriesDeathTest, AKeyGivenTwiceAborts) {
  EXPECT_DEATH(createWithKeyTwice(), "isNewKey");
}

}  // namespace

// Objects: reference counts (also across threads), permanent objects, the order of every kind, copy-on-write
// of every changer of every kind, the abort line of a broken contract, and the overflow check of kx_defs.h.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

int freed = 0;
void countFree(KX_OBJ *) {
  ++freed;
}

KX_SORT thingSort = {
    KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT), nullptr, "TEST_THING", countFree, nullptr, nullptr, {}};

ObjRef newThing() {
  return ObjRef(kx___ObjCreate(sizeof(KX_OBJ) + 8, &thingSort));
}

TEST(ObjRefCount, AtomicAcrossThreadsAndFreedOnce) {
  freed = 0;
  KX_OBJ *thing = newThing().release();
  EXPECT_EQ(kxObjIsShared(thing), 0);
  EXPECT_EQ(kxObjRetain(thing), thing);
  EXPECT_EQ(kxObjIsShared(thing), 1);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([thing] {
      for (int i = 0; i < 50000; ++i) kxObjRelease(kxObjRetain(thing));
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(kx___ObjRefCount(thing), 2);
  kxObjRelease(thing);
  EXPECT_EQ(freed, 0);
  kxObjRelease(thing);
  EXPECT_EQ(freed, 1);
  kxObjRelease(nullptr);  // a no-op
}

TEST(ObjRefCount, StaticObjectsArePermanent) {
  KX_OBJ *sortObj = &thingSort.obj;
  kxObjRelease(kxObjRetain(sortObj));
  kxObjRelease(sortObj);
  EXPECT_EQ(kx___ObjRefCount(sortObj), KX_OBJ_PERMANENT_REFS);
  EXPECT_EQ(kxObjIsShared(sortObj), 1) << "a static object is never changed in place";
}

// Without a compare function distinct objects differ, in a stable order; different sorts order by sort name.
TEST(ObjCompare, DefaultsAndSortOrder) {
  ObjRef a = newThing(), b = newThing();
  EXPECT_EQ(kxObjCompare(a.get(), b.get()), -kxObjCompare(b.get(), a.get()));
  EXPECT_TRUE(kxObjCompare(a.get(), b.get()) != 0 && kxObjEquals(a.get(), a.get()));
  StringRef s = str("a");
  EXPECT_LT(kxObjCompare(kxBufferObj(buf("a").get()), kxStringObj(s.get())), 0) << "KX_BUFFER < KX_STRING";
  EXPECT_LT(kxObjCompare(kxStringObj(s.get()), a.get()), 0) << "KX_STRING < TEST_THING";
}

// {kind: a, b, sign of compare(a, b)}: strings by code point (unsigned, not UTF-16 order) then length;
// buffers by unsigned octets then bit length; vectors element by element, then the shorter first; dicts and
// stores entry by entry in order, key before value, in a store text < integer < store.
TEST(ObjCompare, EveryKindOrdersItsOwn) {
  const auto string = [](std::u32string_view text) { return ObjRef(kxStringObj(kxText(text).release())); };
  const auto bits = [](std::string_view octets, kxInt count) {
    return ObjRef(kxBufferObj(kxBufferCreateFromBits(octets.data(), count)));
  };
  const auto dict = [](const Params &entries) { return ObjRef(kxDictObj(dictOf(entries).release())); };
  const auto store = [](std::u32string_view text) {
    return ObjRef(kxStoreObj(kxStoreTryDecode(kxText(text).get())));
  };
  const auto vector = [](const char *text) {
    return ObjRef(kxVectorObj(kxStringSplitChar(str(text).get(), ',', -1)));
  };
  const std::tuple<ObjRef, ObjRef, kxInt> cases[] = {
      {vector("a,b"), vector("a,b"), 0},
      {vector("a,c"), vector("a,b"), 1},
      {vector("a"), vector("a,b"), -1},
      {ObjRef(kxVectorObj(kxVectorCreate())), vector("a"), -1},
      {string(U"ab"), string(U"ab"), 0},
      {string(U"a"), string(U"ab"), -1},
      {string(U""), string(U"a"), -1},
      {string(U"😀"), string(U"\uFFFD"), 1},
      {string(std::u32string(1, 0x80000000)), string(U"\1"), 1},
      {bits("ab", 16), bits("ab", 16), 0},
      {bits("b", 8), bits("ab", 16), 1},
      {bits("\x80", 8), bits("\x7F", 8), 1},
      {bits("a", 8), bits("ab", 16), -1},
      {bits("\x80", 1), bits("\x80", 8), -1},
      {bits("", 0), bits(std::string_view("\0", 1), 8), -1},
      {dict({{"a", "1"}}), dict({{"a", "1"}}), 0},
      {dict({{"a", "1"}}), dict({{"b", "1"}}), -1},
      {dict({{"a", "2"}}), dict({{"a", "1"}}), 1},
      {dict({{"a", "1"}}), dict({{"a", "1"}, {"b", "1"}}), -1},
      {dict({}), dict({{"a", "1"}}), -1},
      {store(U"a = 1\nb {\nc = \"x\"\n}"), store(U"a = 1\nb {\nc = \"x\"\n}"), 0},
      {store(U"a = 1"), store(U"a = 2"), -1},
      {store(U"a = 9"), store(U"b = 1"), -1},
      {store(U"a = \"z\"\nb = 9"), store(U"a = 1\nb = 1"), -1},
      {store(U"a = 1"), store(U"a {}"), -1},
      {store(U""), store(U"a = 1"), -1},
      {store(U"a {\nb = 2\n}"), store(U"a {\nb = 1\n}"), 1},
      {store(U"a {\nb = 1\n}\nc = 1"), store(U"a {\nb = 1\n}\nc = 0"), 1},
      {store(U"a = 1\nb = 2"), store(U"b = 2\na = 1"), -1},
  };
  for (const auto &[a, b, expected] : cases) {
    const std::string label = textOf(a.get()) + " / " + textOf(b.get());
    EXPECT_EQ(kxObjCompare(a.get(), b.get()), expected) << label;
    EXPECT_EQ(kxObjCompare(b.get(), a.get()), -expected) << label;
    if (kxObjSort(a.get()) == kxStringSort()) {
      EXPECT_EQ(kxStringEquals(kxStringFrom(a.get()), kxStringFrom(b.get())), expected == 0) << label;
    }
  }
}

// --- copy-on-write: every changer of every kind ---

template <typename T>
T **as(KX_OBJ **obj) {
  return reinterpret_cast<T **>(obj);
}

// The string form of any kind, a buffer as its octets.
std::string contentOf(KX_OBJ *obj) {
  return kxObjSort(obj) == kxBufferSort() ? bytesOf(kxBufferFrom(obj)) : textOf(obj);
}

KX_OBJ *newString() {
  return kxStringObj(kxStringCreateFromCstr("ab", -1));
}

// Grown by an append, so that its storage has room that a faulty append could write into in place.
KX_OBJ *newBuffer() {
  KX_BUFFER *b = kxBufferCreate();
  kxBufferAppendBytes(&b, "abcd", 4);
  return kxBufferObj(b);
}

KX_OBJ *newVector() {
  return kxVectorObj(kxStringSplitChar(str("a b c").get(), ' ', -1));
}

void setEntry(KX_DICT **d, const char *key, const char *value) {
  kxDictSetStringKey(d, str(key).get(), kxStringObj(str(value).get()));
}

KX_OBJ *newDict() {
  KX_DICT *d = kxDictCreate();
  setEntry(&d, "a", "1");
  setEntry(&d, "b", "2");
  return kxDictObj(d);
}

KX_OBJ *newStore() {
  return kxStoreObj(kxStoreTryDecode(str("a = 1\nb = 2").get()));
}

KX_OBJ *newFlagset() {
  KX_FLAGSET *fs = kxFlagsetCreate();
  kxFlagsetSetFlagCstr(&fs, "A", -1, 1);
  return kxFlagsetObj(fs);
}

struct CopyOnWriteCase {
  const char *label;
  KX_OBJ *(*make)();
  void (*change)(KX_OBJ **);
  const char *after;  // the changed object's content; null for a change that changes (and copies) nothing
};

const CopyOnWriteCase kCopyOnWriteCases[] = {
    {"string append", newString, [](KX_OBJ **o) { kxStringAppendCstr(as<KX_STRING>(o), "c\xC3\xA9", -1); },
     "abc\xC3\xA9"},
    {"string append format", newString,
     [](KX_OBJ **o) { kxStringAppendFormatCstr(as<KX_STRING>(o), "%i", kxInt{7}); }, "ab7"},
    {"buffer append", newBuffer, [](KX_OBJ **o) { kxBufferAppendBytes(as<KX_BUFFER>(o), "XY", 2); },
     "abcdXY"},
    {"buffer truncate", newBuffer, [](KX_OBJ **o) { kxBufferTruncate(as<KX_BUFFER>(o), 1); }, "a"},
    {"buffer truncate to its own length", newBuffer,
     [](KX_OBJ **o) { kxBufferTruncate(as<KX_BUFFER>(o), 4); }, nullptr},
    {"vector append", newVector,
     [](KX_OBJ **o) { kxVectorAppendObj(as<KX_VECTOR>(o), kxStringObj(str("d").get())); }, "[a, b, c, d]"},
    {"vector delete", newVector, [](KX_OBJ **o) { kxVectorDelAt(as<KX_VECTOR>(o), 0); }, "[b, c]"},
    {"dict set", newDict, [](KX_OBJ **o) { setEntry(as<KX_DICT>(o), "c", "3"); }, "{a: 1, b: 2, c: 3}"},
    {"dict delete", newDict, [](KX_OBJ **o) { kxDictDelStringKey(as<KX_DICT>(o), str("a").get()); },
     "{b: 2}"},
    {"dict clear", newDict, [](KX_OBJ **o) { kxDictClear(as<KX_DICT>(o)); }, "{}"},
    {"dict delete of an absent key", newDict,
     [](KX_OBJ **o) { kxDictDelStringKey(as<KX_DICT>(o), str("x").get()); }, nullptr},
    {"store set", newStore, [](KX_OBJ **o) { kxStoreSetValueIntCstr(as<KX_STORE>(o), "a", -1, 3); },
     "a = 3\nb = 2\n"},
    {"store delete", newStore, [](KX_OBJ **o) { kxStoreDelCstr(as<KX_STORE>(o), "a", -1); }, "b = 2\n"},
    {"store delete of an absent key", newStore, [](KX_OBJ **o) { kxStoreDelCstr(as<KX_STORE>(o), "x", -1); },
     nullptr},
    {"flagset set", newFlagset, [](KX_OBJ **o) { kxFlagsetSetFlagCstr(as<KX_FLAGSET>(o), "B", -1, 2); },
     "{A=1, B=2}"},
};

TEST(ObjCopyOnWrite, ASharedObjectIsCopiedAPrivateOneChangedInPlace) {
  for (const auto &c : kCopyOnWriteCases) {
    ObjRef mine(c.make());
    ObjRef other = ObjRef::retained(mine.get());
    const std::string before = contentOf(other.get());
    c.change(mine.addr());
    EXPECT_EQ(contentOf(other.get()), before) << c.label << ": the other holder sees no change";
    if (!c.after) {
      EXPECT_EQ(mine.get(), other.get()) << c.label << ": nothing changed, nothing copied";
      continue;
    }
    EXPECT_EQ(contentOf(mine.get()), c.after) << c.label;
    EXPECT_EQ(refsOf(other.get()), 1) << c.label << ": the copy let go of the shared object";
    KX_OBJ *privateCopy = mine.get();
    c.change(mine.addr());
    EXPECT_EQ(mine.get(), privateCopy) << c.label << ": a private object changes in place";
  }
}

// --- broken contracts ---

TEST(AbortDeathTest, OneLineNamingFileLineLabelAndExpression) {
  EXPECT_DEATH(kx___Abort("stdfunc retain", "mime_entity.cpp", 42, "KX_CHARSET_OK( charset )"),
               "^kx abort: mime_entity\\.cpp:42: stdfunc retain: KX_CHARSET_OK\\( charset \\)\n$");
  EXPECT_DEATH(kx___Abort(nullptr, "mime_entity.cpp", 42, nullptr), "^kx abort: mime_entity\\.cpp:42\n$");
  int charset = 60;
  EXPECT_DEATH(KX_ASSERT(charset >= 0 && charset <= 50),
               "^kx abort: .*obj_test\\.cpp:[0-9]+: charset >= 0 && charset <= 50\n$");
}

struct ContractCase {
  const char *label;
  const char *file;
  const char *expression;  // as written in the source
  void (*breakIt)();
};

// One row per kind of contract; a broken one aborts with the line of the source file that states it.
const ContractCase kContractCases[] = {
    {"null argument", "kx_string.cpp", "s", [] { kxStringLength(nullptr); }},
    {"index outside", "kx_dict.cpp", "index >= 0 && index < kxDictLength(d)",
     [] { kxDictKeyAt(DictRef(kxDictCreate()).get(), 0); }},
    {"another sort", "kx_string.cpp", "!obj || kxObjSort(obj) == &kx___sort_KX_STRING",
     [] { kxStringFrom(kxBufferObj(buf("x").get())); }},
    {"unknown flag bits", "kx_charset.cpp", "(flags & ~KX_CHARSET_FLAG_STRICT) == 0",
     [] { kxCharsetTryConvertBufferToStringWithFlags(buf("x").get(), 44, 2); }},
    {"octets after a partly used octet", "kx_buffer.cpp", "kxBufferBitLength( *b ) % 8 == 0",
     [] { kxBufferAppendByte(BufferRef(kxBufferCreateFromBits("\xFF", 3)).addr(), 1); }},
    {"unknown format directive", "kx_format.cpp", "*p == 's' || *p == 'o' || *p == 'i' || *p == '%'",
     [] { kxStringCreateFromFormatCstr("%d", 1); }},
};

TEST(AbortDeathTest, BrokenContractsNameTheirExpression) {
  for (const auto &c : kContractCases) {
    EXPECT_DEATH(c.breakIt(),
                 "kx abort: .*" + literalRegex(c.file) + ":[0-9]+: " + literalRegex(c.expression) + "\n")
        << c.label;
  }
}

// --- scalars ---

// a + b does not overflow
const std::tuple<kxInt, kxInt, bool> kAddCases[] = {
    {1, 2, true},
    {KX_INT_MAX - 1, 1, true},
    {KX_INT_MAX, 1, false},
    {KX_INT_MIN + 1, -1, true},
    {KX_INT_MIN, -1, false},
    {KX_INT_MAX, KX_INT_MIN, true},
};

TEST(Scalars, AdditionOverflowCheck) {
  for (auto [a, b, ok] : kAddCases) EXPECT_EQ(static_cast<bool>(KX_INT_ADD_OK(a, b)), ok) << a << " + " << b;
}

}  // namespace

// Dictionaries from string keys to objects. The entries live in a balanced search tree ordered by the
// code points of the key (lookup, insert and delete O(log n)); positional access goes through an array of
// the entries in key order that is rebuilt lazily, once after each run of changes, so that visiting a dict
// with KeyAt/ValueAt is O(1) per call while the dict stays unchanged.
#include "kx/kx_dict.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <new>
#include <vector>

#include "kx/kx_libraries.hpp"
#include "kx/kx_string_internal.hpp"

namespace {

// A key with its code points at hand: the tree compares keys at every level, and reading the code points
// straight from the node saves a cache miss per comparison. A key held by a dict is shared, and a shared
// string never changes, so its code points stay where they are while the dict holds it.
struct Key {
  KX_STRING *string;
  const kxChar *chars;
  kxInt length;
  explicit Key(KX_STRING *s) : string(s), chars(kxStringBacking(s)), length(s->length) {}
};

// Code point order, a proper prefix first: the order in which a dict visits its keys.
struct KeyLess {
  bool operator()(const Key &a, const Key &b) const {
    return std::lexicographical_compare(a.chars, a.chars + a.length, b.chars, b.chars + b.length);
  }
};

// Each key and each value holds one reference.
using Entries = std::map<Key, KX_OBJ *, KeyLess>;

struct Body {
  Entries entries;
  // Positional view of entries. Only a dict with a single holder is ever changed, but a shared dict may be
  // read from several threads at once, so the lazy rebuild is guarded (double-checked: once valid, readers
  // take no lock).
  std::vector<Entries::const_iterator> byIndex;
  std::atomic<bool> byIndexValid{false};
  std::mutex byIndexMutex;
};

}  // namespace

struct KX_DICT {
  KX_OBJ obj;
  Body *body;
};

namespace {
void freeDict(KX_OBJ *obj);
kxInt compareDicts(KX_OBJ *a, KX_OBJ *b);
KX_STRING *dictToString(KX_OBJ *obj);
KX_DICT *asDict(KX_OBJ *obj) {
  return reinterpret_cast<KX_DICT *>(obj);
}
KX_DICT *createDict();
KX_DICT *copyDict(KX_DICT *d);
void prepareChange(KX_DICT **d);
const Entries::const_iterator &entryAt(KX_DICT *d, kxInt index);
}  // namespace

KX_SORT kx___sort_KX_DICT = {
    KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT), nullptr, "KX_DICT", freeDict, compareDicts, dictToString, {}};

KX_DEFINE_KIND_BASICS(Dict, KX_DICT)

extern "C" {

KX_DICT *kxDictCreate(void) {
  return createDict();
}

kxInt kxDictLength(KX_DICT *d) {
  KX_ASSERT(d);
  return static_cast<kxInt>(d->body->entries.size());
}

KX_STRING *kxDictKeyAt(KX_DICT *d, kxInt index) {
  KX_ASSERT(d);
  KX_ASSERT(index >= 0 && index < kxDictLength(d));
  return reinterpret_cast<KX_STRING *>(kxObjRetain(kx::asObj(entryAt(d, index)->first.string)));
}

KX_OBJ *kxDictValueAt(KX_DICT *d, kxInt index) {
  KX_ASSERT(d);
  KX_ASSERT(index >= 0 && index < kxDictLength(d));
  return kxObjRetain(entryAt(d, index)->second);
}

KX_OBJ *kxDictStringKey(KX_DICT *d, KX_STRING *key) {
  KX_ASSERT(d);
  KX_ASSERT(key);
  auto found = d->body->entries.find(Key(key));
  return found == d->body->entries.end() ? nullptr : kxObjRetain(found->second);
}

kxBool kxDictHasStringKey(KX_DICT *d, KX_STRING *key) {
  KX_ASSERT(d);
  KX_ASSERT(key);
  return d->body->entries.count(Key(key)) != 0 ? 1 : 0;
}

void kxDictSetStringKey(KX_DICT **d, KX_STRING *key, KX_OBJ *value) {
  KX_ASSERT(d);
  KX_ASSERT(*d);
  KX_ASSERT(key);
  KX_ASSERT(value);
  // Retained before the copy-on-write, which may drop the last other holder of the value.
  kxObjRetain(value);
  prepareChange(d);
  auto [position, inserted] = (*d)->body->entries.try_emplace(Key(key), value);
  if (inserted) {
    kxObjRetain(kx::asObj(key));
  } else {
    KX_OBJ *old = std::exchange(position->second, value);  // the equal key already held stays
    kxObjRelease(old);
  }
}

void kxDictDelStringKey(KX_DICT **d, KX_STRING *key) {
  KX_ASSERT(d);
  KX_ASSERT(*d);
  KX_ASSERT(key);
  if (!kxDictHasStringKey(*d, key)) return;  // no change, so no copy either
  prepareChange(d);
  auto found = (*d)->body->entries.find(Key(key));
  KX_STRING *oldKey = found->first.string;
  KX_OBJ *oldValue = found->second;
  (*d)->body->entries.erase(found);
  // Last: a free function may run arbitrary code, and key may be the very object being released.
  kxObjRelease(oldValue);
  kxObjRelease(kx::asObj(oldKey));
}

KX_DICT_ENTRY kx___DictEntryAt(KX_DICT *d, kxInt index) {
  KX_ASSERT(d);
  KX_ASSERT(index >= 0 && index < kxDictLength(d));
  const Entries::const_iterator &entry = entryAt(d, index);
  return {entry->first.string, entry->second};
}

KX_DICT *kx___DictCreateFromEntries(const KX_DICT_ENTRY *entries, kxInt count) {
  KX_ASSERT(count >= 0);
  KX_ASSERT(entries || count == 0);
  kx::Ref<KX_DICT> d(createDict());
  Entries &tree = d->body->entries;
  for (kxInt i = 0; i < count; ++i) {
    KX_ASSERT(entries[i].key && entries[i].value);
    // At the end, where entries in order go: constant time for them, a search for the others.
    const size_t before = tree.size();
    tree.emplace_hint(tree.end(), Key(entries[i].key), entries[i].value);
    const bool isNewKey = tree.size() > before;
    KX_ASSERT(isNewKey);
  }
  return d.release();
}

void kxDictClear(KX_DICT **d) {
  KX_ASSERT(d);
  KX_ASSERT(*d);
  if (kxObjIsShared(kx::asObj(*d))) {  // nothing of the shared dict is kept, so nothing is copied
    kxObjRelease(kx::asObj(*d));
    *d = createDict();
    return;
  }
  Entries entries = std::move((*d)->body->entries);
  (*d)->body->entries.clear();
  (*d)->body->byIndexValid.store(false, std::memory_order_relaxed);
  for (auto &[key, value] : entries) {
    kxObjRelease(value);
    kxObjRelease(kx::asObj(key.string));
  }
}

}  // extern "C"

// --- storage ---

namespace {

// The body lives in the object's own allocation, right after the header: one allocation per dict.
constexpr size_t kBodyOffset = (sizeof(KX_DICT) + alignof(Body) - 1) / alignof(Body) * alignof(Body);
static_assert(alignof(Body) <= alignof(std::max_align_t), "the allocation is aligned for any type");

KX_DICT *createDict() {
  auto *d = reinterpret_cast<KX_DICT *>(
      kx___ObjCreate(static_cast<kxInt>(kBodyOffset + sizeof(Body)), &kx___sort_KX_DICT));
  d->body = new (reinterpret_cast<char *>(d) + kBodyOffset) Body();
  return d;
}

// A private copy sharing every key and value (one more reference each).
KX_DICT *copyDict(KX_DICT *d) {
  KX_DICT *copy = createDict();
  copy->body->entries = d->body->entries;
  for (auto &[key, value] : copy->body->entries) {
    kxObjRetain(kx::asObj(key.string));
    kxObjRetain(value);
  }
  return copy;
}

// Copy-on-write, then forget the positional view that the change will make stale.
void prepareChange(KX_DICT **d) {
  kx::makePrivate(d, copyDict);
  (*d)->body->byIndexValid.store(false, std::memory_order_relaxed);
}

const Entries::const_iterator &entryAt(KX_DICT *d, kxInt index) {
  Body *body = d->body;
  if (!body->byIndexValid.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(body->byIndexMutex);
    if (!body->byIndexValid.load(std::memory_order_relaxed)) {
      body->byIndex.clear();
      body->byIndex.reserve(body->entries.size());
      for (auto it = body->entries.cbegin(); it != body->entries.cend(); ++it) body->byIndex.push_back(it);
      body->byIndexValid.store(true, std::memory_order_release);
    }
  }
  return body->byIndex[static_cast<size_t>(index)];
}

}  // namespace

// --- sort functions ---

namespace {

void freeDict(KX_OBJ *obj) {
  KX_DICT *d = asDict(obj);
  for (auto &[key, value] : d->body->entries) {
    kxObjRelease(value);
    kxObjRelease(kx::asObj(key.string));
  }
  d->body->~Body();
  d->body = nullptr;
}

// Entry by entry in key order: the key, then the value (kxObjCompare); a dict whose entries begin the
// other's orders first.
kxInt compareDicts(KX_OBJ *a, KX_OBJ *b) {
  const Entries &x = asDict(a)->body->entries;
  const Entries &y = asDict(b)->body->entries;
  auto i = x.cbegin();
  auto j = y.cbegin();
  for (; i != x.cend() && j != y.cend(); ++i, ++j) {
    kxInt byKey = kxObjCompare(kx::asObj(i->first.string), kx::asObj(j->first.string));
    if (byKey != 0) return byKey;
    kxInt byValue = kxObjCompare(i->second, j->second);
    if (byValue != 0) return byValue;
  }
  return kx::sign(static_cast<kxInt>(x.size()) - static_cast<kxInt>(y.size()));
}

// "{key: value, key2: value2}": keys as they stand, values in their own string form.
KX_STRING *dictToString(KX_OBJ *obj) {
  const Entries &entries = asDict(obj)->body->entries;
  KX_STRING *text = kx::stringCreateWithCapacity(2);
  kx::stringAppendAscii(text, "{", 1);
  bool first = true;
  for (const auto &[key, value] : entries) {
    if (!first) kx::stringAppendAscii(text, ", ", 2);
    first = false;
    kx::stringAppendRaw(text, key.chars, key.length);
    kx::stringAppendAscii(text, ": ", 2);
    kx::Ref<KX_STRING> valueText(kxObjToString(value));
    kx::stringAppendRaw(text, kxStringBacking(valueText.get()), kxStringLength(valueText.get()));
  }
  kx::stringAppendAscii(text, "}", 1);
  return text;
}

}  // namespace

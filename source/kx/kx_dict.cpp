// Dictionaries from string keys to objects. The entries live in a balanced search tree ordered by the
// code points of the key (lookup, insert and delete O(log n)); positional access goes through an array of
// the entries in key order that is rebuilt lazily, once after each run of changes, so that visiting a dict
// with KeyAt/ValueAt is O(1) per call while the dict stays unchanged. A dict made from its entries in one
// go (a decoded parameter list) holds them instead as a sorted array in its own allocation, found by
// binary search, until its first change moves them into the tree: one allocation for the whole dict, and
// nothing to rebuild for positional access.
#include "kx/kx_dict.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <new>
#include <span>
#include <type_traits>
#include <utility>
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
// An entry of the sorted array: the same members as an entry of the tree, the key assignable for sorting.
using FlatEntry = std::pair<Key, KX_OBJ *>;

struct Body {
  // The sorted array of a dict made from its entries and not changed since (null otherwise: the tree holds
  // the entries). It lies in the dict's own allocation and is never written once made.
  FlatEntry *flat = nullptr;
  kxInt flatLength = 0;
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
KX_DICT *createDict(kxInt flatLength = 0);
KX_DICT *copyDict(KX_DICT *d);
void prepareChange(KX_DICT **d);
KX_DICT_ENTRY entryAt(KX_DICT *d, kxInt index);
KX_OBJ *const *find(KX_DICT *d, KX_STRING *key);
template <typename Visit>
void forEachEntry(KX_DICT *d, Visit visit);
// Drops the references of an entry of either kind.
constexpr auto releaseEntry = [](const auto &entry) {
  kxObjRelease(entry.second);
  kxObjRelease(kx::asObj(entry.first.string));
};
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
  return d->body->flat ? d->body->flatLength : static_cast<kxInt>(d->body->entries.size());
}

KX_STRING *kxDictKeyAt(KX_DICT *d, kxInt index) {
  KX_ASSERT(d);
  KX_ASSERT(index >= 0 && index < kxDictLength(d));
  return reinterpret_cast<KX_STRING *>(kxObjRetain(kx::asObj(entryAt(d, index).key)));
}

KX_OBJ *kxDictValueAt(KX_DICT *d, kxInt index) {
  KX_ASSERT(d);
  KX_ASSERT(index >= 0 && index < kxDictLength(d));
  return kxObjRetain(entryAt(d, index).value);
}

KX_OBJ *kxDictStringKey(KX_DICT *d, KX_STRING *key) {
  KX_ASSERT(d);
  KX_ASSERT(key);
  KX_OBJ *const *value = find(d, key);
  return value ? kxObjRetain(*value) : nullptr;
}

kxBool kxDictHasStringKey(KX_DICT *d, KX_STRING *key) {
  KX_ASSERT(d);
  KX_ASSERT(key);
  return find(d, key) ? 1 : 0;
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
  return entryAt(d, index);
}

KX_DICT *kx___DictCreateFromEntries(const KX_DICT_ENTRY *entries, kxInt count) {
  KX_ASSERT(count >= 0);
  KX_ASSERT(entries || count == 0);
  if (count == 0) return createDict();
  KX_DICT *d = createDict(count);
  FlatEntry *flat = d->body->flat;
  for (kxInt i = 0; i < count; ++i) {
    KX_ASSERT(entries[i].key && entries[i].value);
    new (&flat[i]) FlatEntry(Key(entries[i].key), entries[i].value);
  }
  const auto less = [](const FlatEntry &a, const FlatEntry &b) { return KeyLess()(a.first, b.first); };
  if (!std::is_sorted(flat, flat + count, less)) std::sort(flat, flat + count, less);
  for (kxInt i = 1; i < count; ++i) {
    const bool isNewKey = less(flat[i - 1], flat[i]);
    KX_ASSERT(isNewKey);
  }
  d->body->flatLength = count;
  return d;
}

void kxDictClear(KX_DICT **d) {
  KX_ASSERT(d);
  KX_ASSERT(*d);
  if (kxObjIsShared(kx::asObj(*d))) {  // nothing of the shared dict is kept, so nothing is copied
    kxObjRelease(kx::asObj(*d));
    *d = createDict();
    return;
  }
  // Emptied before the releases: a free function may run arbitrary code.
  Body *body = (*d)->body;
  Entries entries = std::move(body->entries);
  body->entries.clear();
  const std::span<const FlatEntry> flat(std::exchange(body->flat, nullptr),
                                        static_cast<size_t>(std::exchange(body->flatLength, 0)));
  body->byIndexValid.store(false, std::memory_order_relaxed);
  std::for_each(entries.begin(), entries.end(), releaseEntry);
  std::for_each(flat.begin(), flat.end(), releaseEntry);
}

}  // extern "C"

// --- storage ---

namespace {

// The body lives in the object's own allocation, right after the header, and the sorted array of a dict
// made from its entries right after the body: one allocation per dict.
constexpr size_t kBodyOffset = (sizeof(KX_DICT) + alignof(Body) - 1) / alignof(Body) * alignof(Body);
constexpr size_t kFlatOffset =
    (kBodyOffset + sizeof(Body) + alignof(FlatEntry) - 1) / alignof(FlatEntry) * alignof(FlatEntry);
static_assert(alignof(Body) <= alignof(std::max_align_t), "the allocation is aligned for any type");
static_assert(std::is_trivially_destructible_v<FlatEntry>,
              "the sorted array is given up without destructors");

// A new empty dict; with flatLength > 0, room for that many entries in the sorted array, which the caller
// fills (flat is set, flatLength is left 0 for the caller).
KX_DICT *createDict(kxInt flatLength) {
  KX_ASSERT(flatLength >= 0 &&
            static_cast<size_t>(flatLength) <= (SIZE_MAX - kFlatOffset) / sizeof(FlatEntry));
  const size_t size = flatLength > 0 ? kFlatOffset + static_cast<size_t>(flatLength) * sizeof(FlatEntry)
                                     : kBodyOffset + sizeof(Body);
  auto *d = reinterpret_cast<KX_DICT *>(kx___ObjCreate(static_cast<kxInt>(size), &kx___sort_KX_DICT));
  d->body = new (reinterpret_cast<char *>(d) + kBodyOffset) Body();
  if (flatLength > 0)
    d->body->flat = reinterpret_cast<FlatEntry *>(reinterpret_cast<char *>(d) + kFlatOffset);
  return d;
}

// A private copy sharing every key and value (one more reference each), its entries in the tree.
KX_DICT *copyDict(KX_DICT *d) {
  KX_DICT *copy = createDict();
  Entries &tree = copy->body->entries;
  forEachEntry(d, [&tree](const auto &entry) {
    kxObjRetain(kx::asObj(entry.first.string));
    kxObjRetain(entry.second);
    tree.emplace_hint(tree.end(), entry.first, entry.second);
  });
  return copy;
}

// Copy-on-write, the sorted array moved into the tree, and the positional view that the change will make
// stale forgotten.
void prepareChange(KX_DICT **d) {
  kx::makePrivate(d, copyDict);
  Body *body = (*d)->body;
  if (body->flat) {
    for (const FlatEntry &entry :
         std::span<const FlatEntry>(body->flat, static_cast<size_t>(body->flatLength)))
      body->entries.emplace_hint(body->entries.end(), entry);
    body->flat = nullptr;
    body->flatLength = 0;
  }
  body->byIndexValid.store(false, std::memory_order_relaxed);
}

// The value stored under key, or null.
KX_OBJ *const *find(KX_DICT *d, KX_STRING *key) {
  const Body *body = d->body;
  if (body->flat) {
    const FlatEntry *begin = body->flat;
    const FlatEntry *end = begin + body->flatLength;
    const FlatEntry *found = std::lower_bound(
        begin, end, Key(key), [](const FlatEntry &entry, const Key &k) { return KeyLess()(entry.first, k); });
    return found != end && !KeyLess()(Key(key), found->first) ? &found->second : nullptr;
  }
  auto found = body->entries.find(Key(key));
  return found == body->entries.end() ? nullptr : &found->second;
}

// Calls visit with every entry in key order.
template <typename Visit>
void forEachEntry(KX_DICT *d, Visit visit) {
  const Body *body = d->body;
  if (body->flat) {
    std::for_each(body->flat, body->flat + body->flatLength, visit);
    return;
  }
  std::for_each(body->entries.begin(), body->entries.end(), visit);
}

KX_DICT_ENTRY entryAt(KX_DICT *d, kxInt index) {
  Body *body = d->body;
  if (body->flat) return {body->flat[index].first.string, body->flat[index].second};
  if (!body->byIndexValid.load(std::memory_order_acquire)) {
    std::lock_guard<std::mutex> lock(body->byIndexMutex);
    if (!body->byIndexValid.load(std::memory_order_relaxed)) {
      body->byIndex.clear();
      body->byIndex.reserve(body->entries.size());
      for (auto it = body->entries.cbegin(); it != body->entries.cend(); ++it) body->byIndex.push_back(it);
      body->byIndexValid.store(true, std::memory_order_release);
    }
  }
  const Entries::const_iterator &entry = body->byIndex[static_cast<size_t>(index)];
  return {entry->first.string, entry->second};
}

}  // namespace

// --- sort functions ---

namespace {

void freeDict(KX_OBJ *obj) {
  KX_DICT *d = asDict(obj);
  forEachEntry(d, releaseEntry);
  d->body->~Body();
  d->body = nullptr;
}

// Entry by entry in key order: the key, then the value (kxObjCompare); a dict whose entries begin the
// other's orders first.
kxInt compareDicts(KX_OBJ *a, KX_OBJ *b) {
  KX_DICT *x = asDict(a);
  KX_DICT *y = asDict(b);
  const kxInt xLength = kxDictLength(x);
  const kxInt yLength = kxDictLength(y);
  for (kxInt i = 0; i < xLength && i < yLength; ++i) {
    const KX_DICT_ENTRY p = entryAt(x, i);
    const KX_DICT_ENTRY q = entryAt(y, i);
    kxInt byKey = kxObjCompare(kx::asObj(p.key), kx::asObj(q.key));
    if (byKey != 0) return byKey;
    kxInt byValue = kxObjCompare(p.value, q.value);
    if (byValue != 0) return byValue;
  }
  return kx::sign(xLength - yLength);
}

// "{key: value, key2: value2}": keys as they stand, values in their own string form.
KX_STRING *dictToString(KX_OBJ *obj) {
  KX_STRING *text = kx::stringCreateWithCapacity(2);
  kx::stringAppendAscii(text, "{", 1);
  bool first = true;
  forEachEntry(asDict(obj), [text, &first](const auto &entry) {
    const auto &[key, value] = entry;
    if (!first) kx::stringAppendAscii(text, ", ", 2);
    first = false;
    kx::stringAppendRaw(text, key.chars, key.length);
    kx::stringAppendAscii(text, ": ", 2);
    kx::Ref<KX_STRING> valueText(kxObjToString(value));
    kx::stringAppendRaw(text, kxStringBacking(valueText.get()), kxStringLength(valueText.get()));
  });
  kx::stringAppendAscii(text, "}", 1);
  return text;
}

}  // namespace

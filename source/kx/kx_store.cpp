// Stores: ordered records of named entries (text, integer or sub-store), copy-on-write. The text form is
// in kx_store_text.cpp.
//
// Nesting has no limit: freeing, comparing, encoding and decoding walk nested stores with explicit stacks
// on the heap, so a store nested 100,000 deep (built by hand or parsed from text) costs memory, not stack.
// A store can never contain itself: every setter holds the value it stores before its copy-on-write step,
// so storing a store into itself stores the unchanged original into a private copy.
#include <algorithm>
#include <new>
#include <utility>

#include "kx/kx_store_internal.hpp"

using kx::store::Entry;
using kx::store::EntryKind;
using kx::store::StoreData;

namespace {

void freeStore(KX_OBJ *obj);
kxInt compareStores(KX_OBJ *a, KX_OBJ *b);
KX_STRING *storeToString(KX_OBJ *obj);
StoreData &dataOf(KX_STORE *st) {
  return st->data;
}
std::string_view keyView(const char *key, kxInt keyLength);
const Entry *lookUp(KX_STORE *st, const char *key, kxInt keyLength);
void put(KX_STORE **st, std::string_view key, EntryKind kind, kxInt integer, KX_OBJ *retainedObject);
KX_STORE *copyStore(KX_STORE *shared);

}  // namespace

KX_SORT kx___sort_KX_STORE = {
    KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT), nullptr, "KX_STORE", freeStore, compareStores, storeToString, {}};

KX_DEFINE_KIND_BASICS(Store, KX_STORE)

extern "C" {

KX_STORE *kxStoreCreate(void) {
  return kx::store::create();
}

kxInt kxStoreLength(KX_STORE *st) {
  KX_ASSERT(st);
  return static_cast<kxInt>(dataOf(st).entries.size());
}

KX_STRING *kxStoreKeyAt(KX_STORE *st, kxInt index) {
  KX_ASSERT(st);
  KX_ASSERT(index >= 0 && index < kxStoreLength(st));
  const std::string &key = dataOf(st).entries[static_cast<size_t>(index)].key;
  return kxStringCreateFromCstr(key.data(), static_cast<kxInt>(key.size()));
}

void kxStoreSetValueCstr(KX_STORE **st, const char *key, kxInt keyLength, KX_STRING *value) {
  KX_ASSERT(st);
  KX_ASSERT(*st);
  KX_ASSERT(value);
  put(st, keyView(key, keyLength), EntryKind::kText, 0, kxObjRetain(kxStringObj(value)));
}

void kxStoreSetValueIntCstr(KX_STORE **st, const char *key, kxInt keyLength, kxInt value) {
  KX_ASSERT(st);
  KX_ASSERT(*st);
  put(st, keyView(key, keyLength), EntryKind::kInteger, value, nullptr);
}

void kxStoreSetStoreCstr(KX_STORE **st, const char *key, kxInt keyLength, KX_STORE *sub) {
  KX_ASSERT(st);
  KX_ASSERT(*st);
  KX_ASSERT(sub);
  // Retained before put's copy-on-write step: when sub is *st itself, *st is now shared and gets copied,
  // so the copy holds the original instead of a cycle.
  put(st, keyView(key, keyLength), EntryKind::kStore, 0, kxObjRetain(kxStoreObj(sub)));
}

void kxStoreDelCstr(KX_STORE **st, const char *key, kxInt keyLength) {
  KX_ASSERT(st);
  KX_ASSERT(*st);
  if (!lookUp(*st, key, keyLength)) return;  // nothing to change: no copy either
  kx::makePrivate(st, copyStore);
  kx::store::erase(dataOf(*st), keyView(key, keyLength));
}

KX_STRING *kxStoreValueCstr(KX_STORE *st, const char *key, kxInt keyLength) {
  KX_ASSERT(st);
  const Entry *entry = lookUp(st, key, keyLength);
  if (!entry || entry->kind != EntryKind::kText) return nullptr;
  return kxStringFrom(kxObjRetain(entry->object));
}

kxBool kxStoreValueIntCstr(KX_STORE *st, const char *key, kxInt keyLength, kxInt *value) {
  KX_ASSERT(st);
  KX_ASSERT(value);
  const Entry *entry = lookUp(st, key, keyLength);
  if (!entry || entry->kind != EntryKind::kInteger) return 0;
  *value = entry->integer;
  return 1;
}

KX_STORE *kxStoreStoreCstr(KX_STORE *st, const char *key, kxInt keyLength) {
  KX_ASSERT(st);
  const Entry *entry = lookUp(st, key, keyLength);
  if (!entry || entry->kind != EntryKind::kStore) return nullptr;
  return kxStoreFrom(kxObjRetain(entry->object));
}

KX_STRING *kxStoreEncode(KX_STORE *st) {
  KX_ASSERT(st);
  return kx::store::encode(st);
}

KX_STORE *kxStoreTryDecode(KX_STRING *text) {
  KX_ASSERT(text);
  return kx::store::tryDecode(text);
}

}  // extern "C"

// --- entries and the key index ---

namespace kx::store {

KX_STORE *create() {
  auto *st = reinterpret_cast<KX_STORE *>(kx___ObjCreate(sizeof(KX_STORE), &kx___sort_KX_STORE));
  new (&st->data) StoreData();
  return st;
}

const Entry *find(const StoreData &data, std::string_view key) {
  if (data.index.empty()) {
    auto found = std::find_if(data.entries.begin(), data.entries.end(),
                              [key](const Entry &entry) { return entry.key == key; });
    return found == data.entries.end() ? nullptr : &*found;
  }
  auto found = data.index.find(key);
  return found == data.index.end() ? nullptr : &data.entries[found->second];
}

void set(StoreData &data, std::string_view key, EntryKind kind, kxInt integer, KX_OBJ *retainedObject) {
  if (const Entry *found = find(data, key)) {
    Entry &existing = data.entries[static_cast<size_t>(found - data.entries.data())];
    KX_OBJ *old = std::exchange(existing.object, retainedObject);
    existing.kind = kind;
    existing.integer = integer;
    kxObjRelease(old);  // after the new value is in: old may be the very object just stored
    return;
  }
  data.entries.push_back(Entry{std::string(key), kind, integer, retainedObject});
  if (!data.index.empty()) {
    data.index.emplace(data.entries.back().key, data.entries.size() - 1);
  } else if (data.entries.size() > kLinearLookupLimit) {
    for (size_t i = 0; i < data.entries.size(); ++i) data.index.emplace(data.entries[i].key, i);
  }
}

void erase(StoreData &data, std::string_view key) {
  const Entry *found = find(data, key);
  if (!found) return;
  const size_t position = static_cast<size_t>(found - data.entries.data());
  KX_OBJ *old = found->object;
  data.entries.erase(data.entries.begin() + static_cast<std::ptrdiff_t>(position));
  if (!data.index.empty()) {
    data.index.erase(data.index.find(key));
    for (auto &[indexedKey, indexedPosition] : data.index) {
      if (indexedPosition > position) --indexedPosition;
    }
  }
  kxObjRelease(old);  // a store value too: freeStore hands its own sub-stores to releaseStores
}

}  // namespace kx::store

namespace {

std::string_view keyView(const char *key, kxInt keyLength) {
  KX_ASSERT(key);
  KX_ASSERT(keyLength >= -1);
  if (keyLength < 0) return std::string_view(key);
  return std::string_view(key, static_cast<size_t>(keyLength));
}

const Entry *lookUp(KX_STORE *st, const char *key, kxInt keyLength) {
  return kx::store::find(dataOf(st), keyView(key, keyLength));
}

// Stores one entry, taking over retainedObject's reference; a shared store is copied first.
void put(KX_STORE **st, std::string_view key, EntryKind kind, kxInt integer, KX_OBJ *retainedObject) {
  kx::makePrivate(st, copyStore);
  kx::store::set(dataOf(*st), key, kind, integer, retainedObject);
}

// A private copy for copy-on-write: the entries share their values, one more reference each.
KX_STORE *copyStore(KX_STORE *shared) {
  KX_STORE *copy = kx::store::create();
  dataOf(copy) = dataOf(shared);
  for (Entry &entry : dataOf(copy).entries) {
    if (entry.object) kxObjRetain(entry.object);
  }
  return copy;
}

}  // namespace

// --- releasing nested stores without recursion ---

namespace {

// Sub-stores of dying stores wait here while an outer release is under way on this thread, so that the
// release of a deep chain runs as a loop instead of one nested call per level. Every store dies through
// freeStore, which hands its sub-stores here, so a store is released with plain kxObjRelease wherever it
// is let go (a caller's last reference, an entry replaced or removed) and the chain below it never recurses.
thread_local std::vector<KX_OBJ *> *pendingStores = nullptr;

void releaseStores(std::vector<KX_OBJ *> stores) {
  if (pendingStores) {
    pendingStores->insert(pendingStores->end(), stores.begin(), stores.end());
    return;
  }
  pendingStores = &stores;
  while (!stores.empty()) {
    KX_OBJ *next = stores.back();
    stores.pop_back();
    kxObjRelease(next);  // may run freeStore, which adds that store's sub-stores to `stores`
  }
  pendingStores = nullptr;
}

}  // namespace

// --- sort functions ---

namespace {

StoreData &dataOf(KX_OBJ *obj) {
  return reinterpret_cast<KX_STORE *>(obj)->data;
}

void freeStore(KX_OBJ *obj) {
  StoreData &data = dataOf(obj);
  std::vector<KX_OBJ *> subStores;
  for (Entry &entry : data.entries) {
    if (entry.kind == EntryKind::kStore) {
      subStores.push_back(entry.object);
    } else if (entry.object) {
      kxObjRelease(entry.object);
    }
  }
  data.~StoreData();
  if (!subStores.empty()) releaseStores(std::move(subStores));
}

// Entry by entry in order: the key's octets, then the kind (text, integer, store), then the value; a store
// whose entries are a prefix of the other's orders first. Nested stores are compared with an explicit stack.
kxInt compareStores(KX_OBJ *a, KX_OBJ *b) {
  struct Pair {
    const StoreData *x;
    const StoreData *y;
    size_t next;
  };
  std::vector<Pair> pending{{&dataOf(a), &dataOf(b), 0}};
  while (!pending.empty()) {
    Pair &pair = pending.back();
    const size_t xSize = pair.x->entries.size();
    const size_t ySize = pair.y->entries.size();
    if (pair.next == xSize || pair.next == ySize) {
      if (xSize != ySize) return xSize < ySize ? -1 : 1;
      pending.pop_back();
      continue;
    }
    const Entry &p = pair.x->entries[pair.next];
    const Entry &q = pair.y->entries[pair.next];
    ++pair.next;
    if (int byKey = p.key.compare(q.key); byKey != 0) return kx::sign(byKey);
    if (p.kind != q.kind) return p.kind < q.kind ? -1 : 1;
    switch (p.kind) {
      case EntryKind::kInteger:
        if (p.integer != q.integer) return p.integer < q.integer ? -1 : 1;
        break;
      case EntryKind::kText:
        if (kxInt byText = kxObjCompare(p.object, q.object); byText != 0) return kx::sign(byText);
        break;
      case EntryKind::kStore:
        if (p.object != q.object) pending.push_back({&dataOf(p.object), &dataOf(q.object), 0});
        break;
    }
  }
  return 0;
}

KX_STRING *storeToString(KX_OBJ *obj) {
  return kx::store::encode(reinterpret_cast<KX_STORE *>(obj));
}

}  // namespace

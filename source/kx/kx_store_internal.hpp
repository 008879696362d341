// The layout of a store and the entry operations that the store object and its text form share.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "kx/kx_internal.hpp"
#include "kx/kx_store.h"

namespace kx::store {

// Also the order in which entries of different kinds compare.
enum class EntryKind : uint8_t { kText, kInteger, kStore };

struct Entry {
  std::string key;  // octets as the caller gave them; not necessarily UTF-8
  EntryKind kind;
  kxInt integer;   // kInteger
  KX_OBJ *object;  // kText: a KX_STRING, kStore: a KX_STORE, one reference owned; null for kInteger
};

// Up to this many entries a linear scan finds a key faster than the index, which is built beyond it.
inline constexpr size_t kLinearLookupLimit = 8;

struct StoreData {
  std::vector<Entry> entries;                        // in the order the keys were first set
  std::map<std::string, size_t, std::less<>> index;  // key to position; empty up to kLinearLookupLimit
};

}  // namespace kx::store

struct KX_STORE {
  KX_OBJ obj;
  kx::store::StoreData data;  // built in place by create, destroyed by the sort's free function
};

extern KX_SORT kx___sort_KX_STORE;

namespace kx::store {

// A new empty store.
KX_STORE *create();
// The entry under key, or null.
const Entry *find(const StoreData &data, std::string_view key);
// Sets key (replacing its value in place, or appending it), taking over retainedObject's reference.
void set(StoreData &data, std::string_view key, EntryKind kind, kxInt integer, KX_OBJ *retainedObject);
// Removes key and releases its value; absent keys are left alone.
void erase(StoreData &data, std::string_view key);

// The text form of st (kx_store_text.cpp).
KX_STRING *encode(KX_STORE *st);
// The store that text describes, or null when text is not a text form of a store.
KX_STORE *tryDecode(KX_STRING *text);

}  // namespace kx::store

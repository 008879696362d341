// Flagsets: the names of the bits of a 64-bit bit set, for its text form ("A, B" and back).
#include "kx/kx_flagset.h"

#include <algorithm>
#include <map>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "kx/kx_internal.hpp"
#include "kx/kx_string.h"

namespace {

struct Flag {
  std::string name;
  uint64_t value;  // unsigned, so that a flag on bit 63 sorts last
};

// The names map for lookups while parsing; the flags sorted by value (then name) for generating.
struct FlagTable {
  std::map<std::string, uint64_t, std::less<>> byName;
  std::vector<Flag> byValue;
};

void freeFlagset(KX_OBJ *obj);
kxInt compareFlagsets(KX_OBJ *a, KX_OBJ *b);
KX_STRING *flagsetToString(KX_OBJ *obj);
KX_FLAGSET *createFlagset(const FlagTable *source);
bool nameOk(std::string_view name);
void define(FlagTable &table, std::string_view name, uint64_t value);
std::string_view cstrView(const char *cstr, kxInt length);

}  // namespace

struct KX_FLAGSET {
  KX_OBJ obj;
  FlagTable table;  // built in place by createFlagset, destroyed by freeFlagset
};

KX_SORT kx___sort_KX_FLAGSET = {KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT),
                                nullptr,
                                "KX_FLAGSET",
                                freeFlagset,
                                compareFlagsets,
                                flagsetToString,
                                {}};

KX_DEFINE_KIND_BASICS(Flagset, KX_FLAGSET)

extern "C" {

KX_FLAGSET *kxFlagsetCreate(void) {
  return createFlagset(nullptr);
}

kxBool kxFlagsetHasFlagCstr(KX_FLAGSET *fs, const char *name, kxInt length) {
  KX_ASSERT(fs);
  KX_ASSERT(name);
  KX_ASSERT(length >= -1);
  return fs->table.byName.find(cstrView(name, length)) != fs->table.byName.end();
}

void kxFlagsetSetFlagCstr(KX_FLAGSET **fs, const char *name, kxInt length, kxInt value) {
  KX_ASSERT(fs);
  KX_ASSERT(*fs);
  KX_ASSERT(name);
  KX_ASSERT(length >= -1);
  std::string_view view = cstrView(name, length);
  KX_ASSERT(nameOk(view));
  KX_ASSERT(value != 0);
  kx::makePrivate(fs, [](KX_FLAGSET *shared) { return createFlagset(&shared->table); });
  define((*fs)->table, view, static_cast<uint64_t>(value));
}

KX_STRING *kxFlagsetGenerate(KX_FLAGSET *fs, kxInt flags) {
  KX_ASSERT(fs);
  const auto bits = static_cast<uint64_t>(flags);
  std::string text;
  for (const Flag &flag : fs->table.byValue) {
    if ((bits & flag.value) != flag.value) continue;
    if (!text.empty()) text += ", ";
    text += flag.name;
  }
  return kxStringCreateFromCstr(text.data(), static_cast<kxInt>(text.size()));
}

kxInt kxFlagsetParse(KX_FLAGSET *fs, KX_STRING *text) {
  KX_ASSERT(fs);
  KX_ASSERT(text);
  const kxChar *chars = kxStringBacking(text);
  const kxInt length = kxStringLength(text);
  // names := name *( separator+ name ), separators ",", "|", SP, HTAB, CR, LF, VT, FF in any mix; a
  // run of separators (", " or " | ") counts as one and separators at either end are skipped.
  auto isSeparator = [](kxChar c) { return c == ',' || c == '|' || c == ' ' || (c >= '\t' && c <= '\r'); };
  uint64_t bits = 0;
  std::string name;
  for (kxInt i = 0; i < length;) {
    if (isSeparator(chars[i])) {
      ++i;
      continue;
    }
    name.clear();
    bool ascii = true;
    for (; i < length && !isSeparator(chars[i]); ++i) {
      if (chars[i] >= 0x80) ascii = false;  // names are ASCII: this word cannot be one
      if (ascii) name += static_cast<char>(chars[i]);
    }
    if (!ascii) continue;
    auto found = fs->table.byName.find(name);
    if (found != fs->table.byName.end()) bits |= found->second;
  }
  return static_cast<kxInt>(bits);
}

}  // extern "C"

// --- the table ---

namespace {

KX_FLAGSET *createFlagset(const FlagTable *source) {
  auto *fs = reinterpret_cast<KX_FLAGSET *>(kx___ObjCreate(sizeof(KX_FLAGSET), &kx___sort_KX_FLAGSET));
  if (source) {
    new (&fs->table) FlagTable(*source);
  } else {
    new (&fs->table) FlagTable();
  }
  return fs;
}

// name := 1*( ALPHA / DIGIT / "_" ); no separator can occur in it, so every name parses back.
bool nameOk(std::string_view name) {
  auto allowed = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
  };
  return !name.empty() && std::all_of(name.begin(), name.end(), allowed);
}

// Defines or redefines name; byValue stays sorted by value, then name, so that generating is one pass.
void define(FlagTable &table, std::string_view name, uint64_t value) {
  table.byName.insert_or_assign(std::string(name), value);
  std::erase_if(table.byValue, [name](const Flag &flag) { return flag.name == name; });
  Flag flag{std::string(name), value};
  auto order = [](const Flag &x, const Flag &y) {
    return x.value != y.value ? x.value < y.value : x.name < y.name;
  };
  table.byValue.insert(std::upper_bound(table.byValue.begin(), table.byValue.end(), flag, order),
                       std::move(flag));
}

std::string_view cstrView(const char *cstr, kxInt length) {
  return length < 0 ? std::string_view(cstr) : std::string_view(cstr, static_cast<size_t>(length));
}

}  // namespace

// --- sort functions ---

namespace {

const FlagTable &tableOf(KX_OBJ *obj) {
  return reinterpret_cast<KX_FLAGSET *>(obj)->table;
}

void freeFlagset(KX_OBJ *obj) {
  tableOf(obj).~FlagTable();
}

// Flag by flag in generating order: value first, then name; a flagset that is a prefix of the other
// orders first.
kxInt compareFlagsets(KX_OBJ *a, KX_OBJ *b) {
  const std::vector<Flag> &x = tableOf(a).byValue;
  const std::vector<Flag> &y = tableOf(b).byValue;
  for (size_t i = 0; i < x.size() && i < y.size(); ++i) {
    if (x[i].value != y[i].value) return x[i].value < y[i].value ? -1 : 1;
    if (int byName = x[i].name.compare(y[i].name); byName != 0) return kx::sign(byName);
  }
  return kx::sign(static_cast<kxInt>(x.size()) - static_cast<kxInt>(y.size()));
}

// "{NAME=value, ...}" in generating order, values in decimal.
KX_STRING *flagsetToString(KX_OBJ *obj) {
  std::string text = "{";
  for (const Flag &flag : tableOf(obj).byValue) {
    if (text.size() > 1) text += ", ";
    text += flag.name;
    text += '=';
    text += std::to_string(static_cast<kxInt>(flag.value));
  }
  text += '}';
  return kxStringCreateFromCstr(text.data(), static_cast<kxInt>(text.size()));
}

}  // namespace

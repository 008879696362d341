// Internal to the library: the RFC 2231 codec over parameter lists held as code points, so that the header
// codec runs it without building a dictionary, and strings, for entries that never reach its result.
#pragma once

#include <algorithm>
#include <compare>
#include <cstddef>
#include <memory_resource>
#include <span>
#include <vector>

#include "kx/kx_dict.h"
#include "kx/kx_libraries.hpp"
#include "mime/mime_rfc2231.h"
#include "mime/mime_text.hpp"

namespace mime {

// One parameter as code points. key and value point into the strings named beside them, into text that the
// maker of the list keeps alive, or into the parameter's own storage.
struct Parameter {
  // A parameter of the two strings' code points, borrowing the strings.
  Parameter(KX_STRING *borrowedKey, KX_STRING *borrowedValue);
  // A parameter of code points that the maker of the list keeps alive, made order-th.
  Parameter(CodePoints key, CodePoints value, size_t order) : key(key), value(value), order(order) {}
  // A parameter whose key and value are the first keyLength code points of text and the rest.
  Parameter(CodePointBuffer &&text, size_t keyLength);

  CodePoints key;
  CodePoints value;
  KX_STRING *keyString = nullptr;    // when set, holds exactly key (borrowed)
  KX_STRING *valueString = nullptr;  // when set, holds exactly value (borrowed, or ownedValue)
  kx::Ref<KX_STRING> ownedValue;     // a value made for this parameter
  CodePointBuffer ownedText;         // code points made for this parameter
  size_t order = 0;                  // position in the sequence the list was made in (sortKeepingLast)

  // Makes value the string's code points; the parameter keeps the reference.
  void adoptValue(KX_STRING *adopted);
};

using Parameters = std::pmr::vector<Parameter>;

// Code point order of keys, a proper prefix first. Keys of one list often share a long start (title*0*,
// title*1*): the first difference is found with one test per code point.
inline std::strong_ordering compareKeys(CodePoints a, CodePoints b) {
  const size_t common = std::min(a.size(), b.size());
  const auto [i, j] = std::mismatch(a.begin(), a.begin() + static_cast<std::ptrdiff_t>(common), b.begin());
  if (i != a.begin() + static_cast<std::ptrdiff_t>(common)) return *i <=> *j;
  return a.size() <=> b.size();
}

// Sorts by key in code point order and keeps, of several parameters with one
// key, the one with the highest order: the one that a run of dictionary stores would have kept.
void sortKeepingLast(Parameters &parameters);

// The entries of a dictionary as a parameter list, sorted by key as the dictionary is, borrowing its keys and
// values; each value that is not a string is turned into one with kxObjToString, held in strings.
Parameters parametersOfDict(KX_DICT *source, std::vector<kx::Ref<KX_STRING>> &strings);

// A new dictionary of the parameters, which must be sorted by key, every key once; keys and values are the
// strings named in the parameters when there are such (so they keep their identity), new strings otherwise.
// Its list of entries comes from scratch.
KX_DICT *dictOfParameters(std::span<const Parameter> parameters,
                          std::pmr::memory_resource *scratch = std::pmr::get_default_resource());

// The parameters in RFC 2231 form, as mime___Rfc2231Encode gives them for a dictionary, sorted by key;
// a value under wholeKey (when not empty) that needs no escapes is never cut into sections. source must be
// sorted by key, every key once; the result may borrow code points and strings from it.
Parameters rfc2231EncodeParameters(std::span<const Parameter> source, kxInt charset, kxInt maxSegmentLength,
                                   CodePoints wholeKey = {});

// The parameters in ordinary form, as mime___Rfc2231Decode gives them for a dictionary, sorted by key.
// source must be sorted by key, every key once; the result may borrow code points and strings from it. The
// result and the text it joins on the way come from scratch.
Parameters rfc2231DecodeParameters(std::span<const Parameter> source,
                                   std::pmr::memory_resource *scratch = std::pmr::get_default_resource());

}  // namespace mime

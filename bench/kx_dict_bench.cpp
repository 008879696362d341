// Dictionaries at sizes N and 10N: N keys stored in random order, then every key looked up and every entry
// read by position. Each store and lookup is O(log n), so the 10N time must be a little over ten times the
// N time; quadratic inserts show as a hundredfold and a large RMS of the O(N log N) fit.
//   kx_dict_bench
#include <benchmark/benchmark.h>

#include <algorithm>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "kx/kx.h"
#include "kx/kx_libraries.hpp"

namespace {

using DictRef = kx::Ref<KX_DICT>;
using StringRef = kx::Ref<KX_STRING>;
using ObjRef = kx::Ref<KX_OBJ>;

void BM_DictRandomOrder(benchmark::State &state) {
  const auto count = static_cast<int>(state.range(0));
  std::vector<int> numbers(static_cast<size_t>(count));
  std::iota(numbers.begin(), numbers.end(), 0);
  std::shuffle(numbers.begin(), numbers.end(), std::mt19937(12345));
  std::vector<StringRef> keys;
  for (int n : numbers) {
    const std::string key = std::to_string(1000000 + n);  // one length, so the order is the numbers'
    keys.emplace_back(kxStringCreateFromCstr(key.c_str(), -1));
  }
  for (auto _ : state) {
    DictRef d(kxDictCreate());
    for (const StringRef &key : keys) kxDictSetStringKey(d.addr(), key.get(), kxStringObj(key.get()));
    for (const StringRef &key : keys) benchmark::DoNotOptimize(ObjRef(kxDictStringKey(d.get(), key.get())));
    for (kxInt i = 0; i < kxDictLength(d.get()); ++i)
      benchmark::DoNotOptimize(StringRef(kxDictKeyAt(d.get(), i)));
    if (kxDictLength(d.get()) != count) state.SkipWithError("keys lost");
  }
  state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_DictRandomOrder)
    ->Arg(10000)
    ->Arg(100000)
    ->Complexity(benchmark::oNLogN)
    ->Unit(benchmark::kMillisecond);

}  // namespace

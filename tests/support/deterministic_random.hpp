// A deterministic random source for property tests: the same seed gives the same sequence on every run
// and platform (splitmix64), so a failing case can be replayed from the seed the test prints.
#pragma once

#include <cstdint>

namespace test_support {

class DeterministicRandom {
 public:
  explicit DeterministicRandom(uint64_t seed) : state_(seed) {}

  uint64_t next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }

  // Uniform enough for tests in [low, high], both inclusive.
  int64_t range(int64_t low, int64_t high) {
    const uint64_t span = static_cast<uint64_t>(high - low) + 1;
    return low + static_cast<int64_t>(span == 0 ? next() : next() % span);
  }

  bool chance(int percent) { return range(0, 99) < percent; }

  template <typename T, size_t N>
  const T &pick(const T (&items)[N]) {
    return items[range(0, N - 1)];
  }

 private:
  uint64_t state_;
};

}  // namespace test_support

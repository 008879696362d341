// Random integers: one xoshiro256** generator per thread, seeded from the kernel, replaceable per thread by
// a caller's source so that tests can make boundaries and other draws reproducible.
#include "kx/kx_random.h"

#include <pthread.h>
#include <sys/random.h>

#include <atomic>
#include <cerrno>

#include "kx/kx_internal.hpp"

namespace {
uint64_t nextBits();
void replaceThreadSource(KX_RANDOM_SOURCE source, void *context);
}  // namespace

extern "C" {

kxInt kxRandomNonNegativeIntRange(kxInt min, kxInt max) {
  KX_ASSERT(min >= 0);
  KX_ASSERT(min <= max);
  // With 0 <= min <= max the span is at most 2^63, so it fits 64 unsigned bits.
  const uint64_t span = static_cast<uint64_t>(max - min) + 1;
  // Rejection sampling: draws below `threshold` would make the lowest residues one count more likely than
  // the others (2^64 is rarely a multiple of span), so they are thrown away. At most half of all draws are
  // rejected, whatever the span, so 64 rejections in a row never happen with a real generator; the bound
  // only keeps a degenerate test source (one that always returns 0) from looping forever.
  const uint64_t threshold = (0 - span) % span;  // 2^64 mod span
  uint64_t bits = nextBits();
  for (int rejected = 0; bits < threshold && rejected < 64; ++rejected) bits = nextBits();
  return min + static_cast<kxInt>(bits % span);
}

void kxRandomSetThreadSource(KX_RANDOM_SOURCE source, void *context) {
  replaceThreadSource(source, context);
}

void kxRandomKernelBytes(void *bytes, kxInt length) {
  KX_ASSERT(bytes || length == 0);
  KX_ASSERT(length >= 0);
  auto *out = static_cast<unsigned char *>(bytes);
  while (length > 0) {
    // getrandom(2) without flags blocks only until the pool is initialised at boot and never returns a
    // short read of 256 octets or fewer; larger requests and signals may cut it short, so it loops.
    ssize_t got = getrandom(out, static_cast<size_t>(length), 0);
    if (got < 0) {
      KX_ASSERT(errno == EINTR);
      continue;
    }
    out += got;
    length -= got;
  }
}

}  // extern "C"

// --- the per-thread generator ---

namespace {

// Bumped in every child after fork(): the child must not repeat the parent's sequence, so each thread
// reseeds when it sees a generation other than the one it seeded under.
std::atomic<uint64_t> forkGeneration{1};

void onFork() {
  forkGeneration.fetch_add(1, std::memory_order_relaxed);
}

[[maybe_unused]] const int forkHandlerRegistered = pthread_atfork(nullptr, nullptr, onFork);

struct ThreadGenerator {
  uint64_t state[4] = {0, 0, 0, 0};
  uint64_t generation = 0;  // 0: not seeded yet
  KX_RANDOM_SOURCE source = nullptr;
  void *context = nullptr;
};

thread_local ThreadGenerator generator;

void seed(ThreadGenerator &g, uint64_t generation) {
  do {
    kxRandomKernelBytes(g.state, sizeof g.state);
  } while ((g.state[0] | g.state[1] | g.state[2] | g.state[3]) == 0);  // the one state xoshiro cannot leave
  g.generation = generation;
}

uint64_t rotl(uint64_t x, int k) {
  return (x << k) | (x >> (64 - k));
}

// xoshiro256** (Blackman and Vigna): 256 bits of state, period 2^256 - 1, passes BigCrush.
uint64_t xoshiro256starstar(uint64_t s[4]) {
  const uint64_t result = rotl(s[1] * 5, 7) * 9;
  const uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotl(s[3], 45);
  return result;
}

uint64_t nextBits() {
  ThreadGenerator &g = generator;
  if (g.source) return g.source(g.context);
  uint64_t generation = forkGeneration.load(std::memory_order_relaxed);
  if (g.generation != generation) seed(g, generation);
  return xoshiro256starstar(g.state);
}

void replaceThreadSource(KX_RANDOM_SOURCE source, void *context) {
  generator.source = source;
  generator.context = source ? context : nullptr;
}

}  // namespace

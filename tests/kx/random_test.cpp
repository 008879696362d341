// Random integers: bounds, unbiased mapping of the generator's bits, per-thread sources, fresh sequences
// after fork.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <thread>
#include <vector>

#include "kx_test.hpp"

using namespace kxtest;

namespace {

// Replays a fixed list of 64-bit draws, then repeats the last one.
struct Script {
  std::vector<uint64_t> bits;
  size_t next = 0;
  static uint64_t draw(void *context) {
    auto *script = static_cast<Script *>(context);
    uint64_t value = script->bits[std::min(script->next, script->bits.size() - 1)];
    ++script->next;
    return value;
  }
};

// Installs a source for the calling thread for the scope of a test.
class ScopedSource {
 public:
  ScopedSource(KX_RANDOM_SOURCE source, void *context) { kxRandomSetThreadSource(source, context); }
  ~ScopedSource() { kxRandomSetThreadSource(nullptr, nullptr); }
};

struct BoundsCase {
  const char *label;
  kxInt min;
  kxInt max;
};

const BoundsCase kBoundsCases[] = {
    {"single zero", 0, 0},
    {"single value", 7, 7},
    {"coin", 0, 1},
    {"boundary alphabet", 0, 61},
    {"offset range", 1000, 1009},
    {"whole non-negative range", 0, KX_INT_MAX},
    {"top two", KX_INT_MAX - 1, KX_INT_MAX},
    {"upper half", KX_INT_MAX / 2, KX_INT_MAX},
};

TEST(RandomRange, StaysWithinBothBounds) {
  for (const auto &c : kBoundsCases) {
    for (int i = 0; i < 2000; ++i) {
      const kxInt value = kxRandomNonNegativeIntRange(c.min, c.max);
      ASSERT_GE(value, c.min) << c.label;
      ASSERT_LE(value, c.max) << c.label;
    }
  }
}

TEST(RandomRange, ReachesBothBoundsAndEveryValueBetween) {
  std::array<int, 62> seen{};
  for (int i = 0; i < 20000; ++i) ++seen[static_cast<size_t>(kxRandomNonNegativeIntRange(0, 61))];
  for (size_t value = 0; value < seen.size(); ++value) EXPECT_GT(seen[value], 0) << value;
}

TEST(RandomRange, SpreadsEvenly) {
  // 60,000 draws over 6 values: each count is 10,000 +- 91 (one standard deviation); 700 is over 7.
  std::array<int, 6> counts{};
  for (int i = 0; i < 60000; ++i) ++counts[static_cast<size_t>(kxRandomNonNegativeIntRange(10, 15) - 10)];
  for (int count : counts) EXPECT_NEAR(count, 10000, 700);
}

struct ScriptCase {
  const char *label;
  kxInt min;
  kxInt max;
  std::vector<uint64_t> bits;
  kxInt expected;
  size_t drawsUsed;
};

// 2^64 mod 3 is 1 and 2^64 mod 10 is 6: draws below those are the ones that would favour low residues.
const ScriptCase kScriptCases[] = {
    {"modulo of the draw", 0, 9, {16}, 6, 1},
    {"offset by min", 100, 109, {16}, 106, 1},
    {"draw below threshold rejected", 0, 9, {5, 27}, 7, 2},
    {"threshold itself accepted", 0, 2, {1}, 1, 1},
    {"zero rejected for span 3", 0, 2, {0, 0, 5}, 2, 3},
    {"power of two span rejects nothing", 0, 7, {0}, 0, 1},
    {"largest span takes the low 63 bits", 0, KX_INT_MAX, {UINT64_MAX}, KX_INT_MAX, 1},
    {"single value needs no bits but draws one", 5, 5, {12345}, 5, 1},
};

TEST(RandomThreadSource, MapsTheSourceBitsByRejectionThenModulo) {
  for (const auto &c : kScriptCases) {
    Script script{c.bits};
    ScopedSource source(Script::draw, &script);
    EXPECT_EQ(kxRandomNonNegativeIntRange(c.min, c.max), c.expected) << c.label;
    EXPECT_EQ(script.next, c.drawsUsed) << c.label;
  }
}

TEST(RandomThreadSource, DegenerateSourceStillTerminates) {
  Script zeros{{0}};
  ScopedSource source(Script::draw, &zeros);
  EXPECT_EQ(kxRandomNonNegativeIntRange(0, 2), 0) << "after 64 rejections the draw is taken as it is";
  EXPECT_EQ(zeros.next, 65u);
}

TEST(RandomThreadSource, OnlyTheCallingThreadUsesIt) {
  Script constant{{16}};
  ScopedSource source(Script::draw, &constant);
  std::vector<kxInt> other;
  std::thread([&other] {
    for (int i = 0; i < 64; ++i) other.push_back(kxRandomNonNegativeIntRange(0, 1000000));
  }).join();
  EXPECT_EQ(constant.next, 0u) << "the other thread drew from its own generator";
  EXPECT_NE(std::count(other.begin(), other.end(), other.front()), 64);
  EXPECT_EQ(kxRandomNonNegativeIntRange(0, 9), 6);
}

TEST(RandomThreadSource, NullRestoresTheOwnGenerator) {
  Script constant{{16}};
  kxRandomSetThreadSource(Script::draw, &constant);
  kxRandomSetThreadSource(nullptr, nullptr);
  std::vector<kxInt> draws;
  for (int i = 0; i < 64; ++i) draws.push_back(kxRandomNonNegativeIntRange(0, 1000000));
  EXPECT_EQ(constant.next, 0u);
  EXPECT_NE(std::count(draws.begin(), draws.end(), draws.front()), 64);
}

TEST(RandomGenerator, ForkedChildDrawsItsOwnSequence) {
  kxRandomNonNegativeIntRange(0, 1);  // this thread's generator is seeded before the fork
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  std::array<kxInt, 4> draws;
  for (kxInt &draw : draws) draw = kxRandomNonNegativeIntRange(0, KX_INT_MAX);
  if (child == 0) {
    ssize_t written = write(pipeEnds[1], draws.data(), sizeof draws);
    _exit(written == sizeof draws ? 0 : 1);
  }
  std::array<kxInt, 4> childDraws{};
  ASSERT_EQ(read(pipeEnds[0], childDraws.data(), sizeof childDraws), static_cast<ssize_t>(sizeof childDraws));
  int status = 0;
  waitpid(child, &status, 0);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  EXPECT_NE(draws, childDraws) << "parent and child must not repeat one sequence";
}

TEST(RandomKernelBytes, FillsEveryOctetFreshly) {
  std::array<kxByte, 64> first{}, second{};
  kxRandomKernelBytes(first.data(), first.size());
  kxRandomKernelBytes(second.data(), second.size());
  EXPECT_NE(first, second);
  std::array<kxByte, 300> large{};  // beyond the 256 octets that getrandom always delivers at once
  kxRandomKernelBytes(large.data(), large.size());
  EXPECT_NE(std::count(large.begin() + 256, large.end(), 0), 44);
}

TEST(RandomRangeDeathTest, BoundsOutOfOrderOrNegativeAbort) {
  EXPECT_DEATH(kxRandomNonNegativeIntRange(-1, 5), abortLine("kx_random\\.cpp", "min >= 0"));
  EXPECT_DEATH(kxRandomNonNegativeIntRange(6, 5), abortLine("kx_random\\.cpp", "min <= max"));
}

}  // namespace

// Random integers: bounds, unbiased mapping of the generator's bits, per-thread sources, fresh sequences
// after fork, kernel octets.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <thread>
#include <tuple>
#include <vector>

#include "support/test_support.hpp"

namespace {

TEST(RandomRange, ReachesEveryValueEvenly) {
  // 62,000 draws over the 62 letters and digits of a boundary: each count is 1,000 +- 31 (one standard
  // deviation); 200 is over 6.
  std::array<int, 62> counts{};
  for (int i = 0; i < 62000; ++i) ++counts[static_cast<size_t>(kxRandomNonNegativeIntRange(0, 61))];
  for (int count : counts) EXPECT_NEAR(count, 1000, 200);
}

// Replays a fixed list of 64-bit draws, then repeats the last one.
struct Script {
  std::vector<uint64_t> bits;
  size_t next = 0;
  static uint64_t draw(void *context) {
    auto *script = static_cast<Script *>(context);
    return script->bits[std::min(script->next++, script->bits.size() - 1)];
  }
};

// {label, min, max, the source's draws, result, draws used}. 2^64 mod 3 is 1 and 2^64 mod 10 is 6: draws
// below those are the ones that would favour low residues.
const std::tuple<const char *, kxInt, kxInt, std::vector<uint64_t>, kxInt, size_t> kScriptCases[] = {
    {"modulo of the draw", 0, 9, {16}, 6, 1},
    {"offset by min", 100, 109, {16}, 106, 1},
    {"draw below threshold rejected", 0, 9, {5, 27}, 7, 2},
    {"threshold itself accepted", 0, 2, {1}, 1, 1},
    {"zero rejected for span 3", 0, 2, {0, 0, 5}, 2, 3},
    {"power of two span rejects nothing", 0, 7, {0}, 0, 1},
    {"largest span takes the low 63 bits", 0, KX_INT_MAX, {UINT64_MAX}, KX_INT_MAX, 1},
    {"top two values", KX_INT_MAX - 1, KX_INT_MAX, {3}, KX_INT_MAX, 1},
    {"upper half: 2^62 + 1 values reject draws below 2^62 - 3",
     KX_INT_MAX / 2,
     KX_INT_MAX,
     {5, 1ull << 62},
     KX_INT_MAX,
     2},
    {"single value needs no bits but draws one", 5, 5, {12345}, 5, 1},
    {"a degenerate source still ends: after 64 rejections the draw is taken", 0, 2, {0}, 0, 65},
};

TEST(RandomThreadSource, MapsTheSourceBitsByRejectionThenModulo) {
  for (const auto &[label, min, max, bits, expected, drawsUsed] : kScriptCases) {
    Script script{bits};
    kxRandomSetThreadSource(Script::draw, &script);
    EXPECT_EQ(kxRandomNonNegativeIntRange(min, max), expected) << label;
    kxRandomSetThreadSource(nullptr, nullptr);
    EXPECT_EQ(script.next, drawsUsed) << label;
  }
}

// Whether 64 draws from the calling thread's generator differ (a constant source gives the same each time).
bool drawsVary() {
  const kxInt first = kxRandomNonNegativeIntRange(0, 1000000);
  for (int i = 0; i < 63; ++i) {
    if (kxRandomNonNegativeIntRange(0, 1000000) != first) return true;
  }
  return false;
}

TEST(RandomThreadSource, OnlyTheCallingThreadUsesItUntilNullRestoresTheOwn) {
  Script constant{{16}};
  kxRandomSetThreadSource(Script::draw, &constant);
  bool otherVaries = false;
  std::thread([&otherVaries] { otherVaries = drawsVary(); }).join();
  EXPECT_TRUE(otherVaries && constant.next == 0) << "the other thread draws from its own generator";
  EXPECT_FALSE(drawsVary()) << "this thread draws from the constant source";
  const size_t used = constant.next;
  kxRandomSetThreadSource(nullptr, nullptr);
  EXPECT_TRUE(drawsVary());
  EXPECT_EQ(constant.next, used) << "null restores the thread's own generator";
}

TEST(RandomGenerator, ForkedChildDrawsItsOwnSequence) {
  kxRandomNonNegativeIntRange(0, 1);  // this thread's generator is seeded before the fork
  int pipeEnds[2];
  ASSERT_EQ(pipe(pipeEnds), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  std::array<kxInt, 4> draws, childDraws{};
  for (kxInt &draw : draws) draw = kxRandomNonNegativeIntRange(0, KX_INT_MAX);
  if (child == 0) _exit(write(pipeEnds[1], draws.data(), sizeof draws) == sizeof draws ? 0 : 1);
  ASSERT_EQ(read(pipeEnds[0], childDraws.data(), sizeof childDraws), static_cast<ssize_t>(sizeof childDraws));
  waitpid(child, nullptr, 0);
  close(pipeEnds[0]);
  close(pipeEnds[1]);
  EXPECT_NE(draws, childDraws) << "parent and child must not repeat one sequence";
}

TEST(RandomKernelBytes, FillsEveryOctetFreshly) {
  std::array<kxByte, 300> first{}, second{};  // beyond the 256 octets that getrandom always delivers at once
  kxRandomKernelBytes(first.data(), first.size());
  kxRandomKernelBytes(second.data(), second.size());
  EXPECT_NE(first, second);
  EXPECT_NE(std::count(first.begin() + 256, first.end(), 0), 44);
}

}  // namespace

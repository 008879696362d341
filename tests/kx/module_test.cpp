// The module system: startup once, counted starts, shutdown once when balanced, failure, nesting, threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "support/test_support.hpp"

namespace {

std::atomic<int> startups{0};
std::atomic<int> shutdowns{0};
bool failStartup = false;

kxBool countStartup() {
  if (failStartup) return 0;
  ++startups;
  return 1;
}
void countShutdown() {
  ++shutdowns;
}

const KX_MODULE_RECORD record = {};  // the module system never reads it

// A new, stopped module; the counters start again from zero.
KX_MODULE makeModule(KX_MODULE_STARTUP_FUNC startup, KX_MODULE_SHUTDOWN_FUNC shutdown) {
  startups = 0;
  shutdowns = 0;
  failStartup = false;
  return KX_MODULE{KX_OBJ_STATIC_INIT(&kx___sort_KX_MODULE), &record, startup, nullptr, shutdown, {}};
}

KX_MODULE dependency = makeModule(countStartup, countShutdown);
kxBool startWithDependency() {
  return kxModuleStartup(&dependency);
}
void stopWithDependency() {
  kxModuleShutdown(&dependency);
}

TEST(Module, StartsOnceAndStopsWhenBalanced) {
  KX_MODULE module = makeModule(countStartup, countShutdown);
  failStartup = true;
  EXPECT_EQ(kxModuleStartup(&module), 0);
  EXPECT_EQ(kxModuleStarted(&module), 0) << "a failed startup leaves the module stopped";
  failStartup = false;
  for (int round = 1; round <= 2; ++round) {  // a stopped module starts again
    EXPECT_EQ(kxModuleStartup(&module), 1);
    EXPECT_EQ(kxModuleStartup(&module), 1);
    EXPECT_EQ(startups, round);
    kxModuleShutdown(&module);
    EXPECT_EQ(kxModuleStarted(&module), 1);
    EXPECT_EQ(shutdowns, round - 1);
    kxModuleShutdown(&module);
    EXPECT_EQ(shutdowns, round);
    EXPECT_EQ(kxModuleStarted(&module), 0);
  }
}

TEST(Module, StartupMayStartItsDependencies) {
  KX_MODULE module = makeModule(startWithDependency, stopWithDependency);
  EXPECT_EQ(kxModuleStartup(&module), 1);
  EXPECT_EQ(kxModuleStarted(&dependency), 1);
  kxModuleShutdown(&module);
  EXPECT_EQ(kxModuleStarted(&dependency), 0);
  EXPECT_EQ(shutdowns, 1);
}

TEST(Module, ConcurrentStartsRunStartupOnce) {
  KX_MODULE module = makeModule(countStartup, countShutdown);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) threads.emplace_back([&module] { kxModuleStartup(&module); });
  for (auto &t : threads) t.join();
  EXPECT_EQ(startups, 1);
  threads.clear();
  for (int t = 0; t < 8; ++t) threads.emplace_back([&module] { kxModuleShutdown(&module); });
  for (auto &t : threads) t.join();
  EXPECT_EQ(shutdowns, 1);
  EXPECT_EQ(kxModuleStarted(&module), 0);
}

TEST(ModuleDeathTest, UnbalancedShutdownAborts) {
  KX_MODULE module = makeModule(countStartup, countShutdown);
  EXPECT_DEATH(kxModuleShutdown(&module), "found != r.startCounts.end\\(\\)");
}

}  // namespace

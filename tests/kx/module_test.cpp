// The module system: startup once, counted starts, shutdown once when balanced, failure, nesting, threads.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "kx_test.hpp"

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

const KX_MODULE_RECORD record = {2,
                                 "test",
                                 "Test",
                                 1,
                                 0,
                                 0,
                                 "UTC 2026-01-01 00:00:00 (Thursday)",
                                 "vendor",
                                 "",
                                 "test",
                                 "a module for tests",
                                 "0.0",
                                 "kx",
                                 ""};

KX_MODULE makeModule(KX_MODULE_STARTUP_FUNC startup, KX_MODULE_SHUTDOWN_FUNC shutdown) {
  return KX_MODULE{KX_OBJ_STATIC_INIT(&kx___sort_KX_MODULE), &record, startup, nullptr, shutdown, {}};
}

class ModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    startups = 0;
    shutdowns = 0;
    failStartup = false;
  }
};

TEST_F(ModuleTest, StartsOnceAndStopsWhenBalanced) {
  KX_MODULE module = makeModule(countStartup, countShutdown);
  EXPECT_EQ(kxModuleStarted(&module), 0);
  EXPECT_EQ(kxModuleStartup(&module), 1);
  EXPECT_EQ(kxModuleStartup(&module), 1);
  EXPECT_EQ(startups, 1);
  EXPECT_EQ(kxModuleStarted(&module), 1);
  kxModuleShutdown(&module);
  EXPECT_EQ(shutdowns, 0);
  EXPECT_EQ(kxModuleStarted(&module), 1);
  kxModuleShutdown(&module);
  EXPECT_EQ(shutdowns, 1);
  EXPECT_EQ(kxModuleStarted(&module), 0);
  EXPECT_EQ(kxModuleStartup(&module), 1) << "a stopped module starts again";
  EXPECT_EQ(startups, 2);
  kxModuleShutdown(&module);
}

TEST_F(ModuleTest, FailedStartupLeavesTheModuleStopped) {
  KX_MODULE module = makeModule(countStartup, countShutdown);
  failStartup = true;
  EXPECT_EQ(kxModuleStartup(&module), 0);
  EXPECT_EQ(kxModuleStarted(&module), 0);
  failStartup = false;
  EXPECT_EQ(kxModuleStartup(&module), 1);
  kxModuleShutdown(&module);
  EXPECT_EQ(shutdowns, 1);
}

KX_MODULE dependency = makeModule(countStartup, countShutdown);
kxBool startWithDependency() {
  return kxModuleStartup(&dependency);
}
void stopWithDependency() {
  kxModuleShutdown(&dependency);
}

TEST_F(ModuleTest, StartupMayStartItsDependencies) {
  KX_MODULE module = makeModule(startWithDependency, stopWithDependency);
  EXPECT_EQ(kxModuleStartup(&module), 1);
  EXPECT_EQ(kxModuleStarted(&dependency), 1);
  kxModuleShutdown(&module);
  EXPECT_EQ(kxModuleStarted(&dependency), 0);
  EXPECT_EQ(shutdowns, 1);
}

TEST_F(ModuleTest, ConcurrentStartsRunStartupOnce) {
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
  EXPECT_DEATH(kxModuleStartup(nullptr), kxtest::abortLine("kx_module\\.cpp", "module"));
}

}  // namespace

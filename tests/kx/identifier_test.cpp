// Identifiers: 32 lower-case hex digits, unique across threads and whatever random source a test installs.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

using IdentifierRef = kx::Ref<KX_IDENTIFIER>;

std::string textOfNew() {
  return textOf(IdentifierRef(kxIdentifierCreate()).get());
}

uint64_t alwaysSeven(void *) {
  return 7;
}

// Each thread installs a constant random source first: identifiers come from the kernel, never from a
// replaceable source, so they stay unique.
TEST(IdentifierCreate, ThirtyTwoHexDigitsNeverRepeatedAcrossThreads) {
  constexpr int kThreads = 4, kEach = 5000;
  std::vector<std::vector<std::string>> made(kThreads);
  std::vector<std::thread> threads;
  for (auto &texts : made) {
    threads.emplace_back([&texts] {
      kxRandomSetThreadSource(alwaysSeven, nullptr);
      for (int i = 0; i < kEach; ++i) texts.push_back(textOfNew());
    });
  }
  for (auto &thread : threads) thread.join();
  std::set<std::string> distinct;
  for (const auto &texts : made) distinct.insert(texts.begin(), texts.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
  for (const std::string &text : distinct) {
    EXPECT_TRUE(text.size() == 32 && text.find_first_not_of("0123456789abcdef") == std::string::npos) << text;
  }
}

}  // namespace

// Identifiers: 32 lower-case hex digits, unique across threads and whatever random source a test installs,
// ordered by their bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "kx_test.hpp"

using namespace kxtest;

namespace {

using IdentifierRef = kx::Ref<KX_IDENTIFIER>;

std::string textOfNew() {
  IdentifierRef id(kxIdentifierCreate());
  return textOf(id.get());
}

TEST(IdentifierText, ThirtyTwoLowerCaseHexDigits) {
  for (int i = 0; i < 100; ++i) {
    const std::string text = textOfNew();
    ASSERT_EQ(text.size(), 32u) << text;
    EXPECT_TRUE(std::all_of(text.begin(), text.end(), [](char c) {
      return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    })) << text;
  }
}

TEST(IdentifierCreate, NeverRepeatsAcrossThreads) {
  constexpr int kThreads = 4;
  constexpr int kEach = 5000;
  std::vector<std::vector<std::string>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&made, t] {
      for (int i = 0; i < kEach; ++i) made[static_cast<size_t>(t)].push_back(textOfNew());
    });
  }
  for (auto &thread : threads) thread.join();
  std::set<std::string> distinct;
  for (const auto &texts : made) distinct.insert(texts.begin(), texts.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kEach));
}

uint64_t alwaysSeven(void *) {
  return 7;
}

TEST(IdentifierCreate, IgnoresTheThreadRandomSource) {
  kxRandomSetThreadSource(alwaysSeven, nullptr);
  const std::string first = textOfNew();
  const std::string second = textOfNew();
  kxRandomSetThreadSource(nullptr, nullptr);
  EXPECT_NE(first, second) << "identifiers come from the kernel, never from a replaceable source";
}

TEST(IdentifierCompare, OrdersAsTheTextsDo) {
  std::vector<IdentifierRef> ids;
  for (int i = 0; i < 50; ++i) ids.emplace_back(kxIdentifierCreate());
  std::vector<KX_IDENTIFIER *> byCompare;
  for (auto &id : ids) byCompare.push_back(id.get());
  std::sort(byCompare.begin(), byCompare.end(), [](KX_IDENTIFIER *a, KX_IDENTIFIER *b) {
    return kxObjCompare(kxIdentifierObj(a), kxIdentifierObj(b)) < 0;
  });
  for (size_t i = 1; i < byCompare.size(); ++i) EXPECT_LT(textOf(byCompare[i - 1]), textOf(byCompare[i]));
  EXPECT_EQ(kxObjCompare(kxIdentifierObj(ids[0].get()), kxIdentifierObj(ids[0].get())), 0);
}

}  // namespace

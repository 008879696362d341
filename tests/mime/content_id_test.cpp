// Content-ID: validity, generation, and the header field form with angle brackets.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

TEST(ContentIdOk, NonEmptyAndFreeOfControlCharacters) {
  const std::pair<std::string, bool> rows[] = {
      {"", false},
      {" ", true},
      {"part1.abc@example.com", true},
      {"<a>(b);c", true},
      {"\xC3\xA9\xE2\x82\xAC", true},
      {"a\xC2\x85", true},  // a C1 control is not a control character here
      {"a\tb", false},
      {"a\rb", false},
      {"a\x7F", false},
      {"\x1F", false},
      {std::string("a\0b", 3), false},
  };
  for (const auto &[cid, ok] : rows) EXPECT_EQ(mimeContentIdOk(str(cid).get()), ok ? 1 : 0) << cid;
}

TEST(ContentIdDecode, ReadsTheTextBetweenTheBrackets) {
  const std::pair<const char *, std::optional<std::string>> rows[] = {
      {"  <a.b>\t", "a.b"},      {"< >", " "},
      {"<<a>>", "<a>"},          {"<>", std::nullopt},
      {"<a", std::nullopt},      {"a>", std::nullopt},
      {"", std::nullopt},        {"<a>\r\n", std::nullopt},
      {"<a> (c)", std::nullopt}, {"<a\r\n b>", std::nullopt},
      {"<a\x7F>", std::nullopt}, {"x <a>", std::nullopt},
  };
  for (const auto &[raw, expected] : rows)
    EXPECT_EQ(textField(mimeContentIdTryDecode(str(raw).get())), expected) << raw;
}

TEST(ContentIdGenerate, EveryIdIsNewValidAndRoundTripsThroughItsField) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    StringRef cid(mimeContentIdGenerate());
    ASSERT_TRUE(mimeContentIdOk(cid.get()));
    const std::string id = utf8Of(cid.get());
    EXPECT_NE(id.find('@'), std::string::npos);
    EXPECT_TRUE(seen.insert(id).second) << id;
    StringRef field(mimeContentIdEncode(cid.get()));
    EXPECT_EQ(utf8Of(field.get()), "<" + id + ">");
    EXPECT_EQ(textField(mimeContentIdTryDecode(field.get())), id);
  }
}

}  // namespace

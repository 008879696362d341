// Content-ID: validity, generation, and the header field form with angle brackets.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "mime/header_field_test.hpp"

namespace {

using namespace fieldtest;

StringRef text(const std::string &utf8) {
  return StringRef(kxStringCreateFromCstr(utf8.data(), static_cast<kxInt>(utf8.size())));
}

struct OkCase {
  const char *label;
  std::string cid;
  bool ok;
};

const OkCase kOkCases[] = {
    {"empty", "", false},
    {"single space", " ", true},
    {"usual form", "part1.abc@example.com", true},
    {"tspecials and brackets", "<a>(b);c", true},
    {"non-ASCII", "\xC3\xA9\xE2\x82\xAC", true},
    {"tab", "a\tb", false},
    {"CR", "a\rb", false},
    {"LF", "a\nb", false},
    {"DEL", "a\x7F", false},
    {"unit separator", "\x1F", false},
    {"NUL", std::string("a\0b", 3), false},
    {"C1 control is not a control character here", "a\xC2\x85", true},
};

TEST(ContentIdOk, NonEmptyAndFreeOfControlCharacters) {
  for (const OkCase &c : kOkCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(mimeContentIdOk(text(c.cid).get()), c.ok ? 1 : 0);
  }
}

TEST(ContentIdEncode, WrapsInAngleBrackets) {
  StringRef plain(mimeContentIdEncode(str("abc").get()));
  EXPECT_EQ(utf8Of(plain.get()), "<abc>");
  StringRef space(mimeContentIdEncode(str(" ").get()));
  EXPECT_EQ(utf8Of(space.get()), "< >");
}

struct DecodeCase {
  const char *label;
  std::string raw;
  std::optional<std::string> expected;
};

const DecodeCase kDecodeCases[] = {
    {"plain", "<a>", "a"},
    {"spaces and tab around", "  <a.b>\t", "a.b"},
    {"single space inside", "< >", " "},
    {"nested brackets", "<<a>>", "<a>"},
    {"empty between brackets", "<>", std::nullopt},
    {"no closing bracket", "<a", std::nullopt},
    {"no opening bracket", "a>", std::nullopt},
    {"only spaces", "   ", std::nullopt},
    {"empty", "", std::nullopt},
    {"line break after", "<a>\r\n", std::nullopt},
    {"comment after", "<a> (c)", std::nullopt},
    {"fold inside", "<a\r\n b>", std::nullopt},
    {"control character inside", "<a\x7F>", std::nullopt},
    {"text before", "x <a>", std::nullopt},
};

TEST(ContentIdDecode, ReadsTheTextBetweenTheBrackets) {
  for (const DecodeCase &c : kDecodeCases) {
    SCOPED_TRACE(c.label);
    StringRef cid(mimeContentIdTryDecode(text(c.raw).get()));
    if (!c.expected) {
      EXPECT_EQ(cid.get(), nullptr);
      continue;
    }
    ASSERT_TRUE(cid);
    EXPECT_EQ(utf8Of(cid.get()), *c.expected);
  }
}

TEST(ContentIdGenerate, EveryIdIsNewValidAndRoundTrips) {
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    StringRef cid(mimeContentIdGenerate());
    ASSERT_TRUE(mimeContentIdOk(cid.get()));
    const std::string id = utf8Of(cid.get());
    EXPECT_NE(id.find('@'), std::string::npos);
    EXPECT_TRUE(seen.insert(id).second) << id;
    StringRef field(mimeContentIdEncode(cid.get()));
    StringRef back(mimeContentIdTryDecode(field.get()));
    ASSERT_TRUE(back);
    EXPECT_TRUE(kxStringEquals(back.get(), cid.get()));
  }
}

TEST(ContentIdDeathTest, BrokenPreconditionsAbort) {
  const std::string file = "mime_content_id\\.cpp";
  EXPECT_DEATH(mimeContentIdEncode(str("").get()), abortLine(file, "mimeContentIdOk\\( cid \\)"));
  EXPECT_DEATH(mimeContentIdEncode(str("a\r\nb").get()), abortLine(file, "mimeContentIdOk\\( cid \\)"));
  EXPECT_DEATH(mimeContentIdOk(nullptr), abortLine(file, "cid"));
  EXPECT_DEATH(mimeContentIdTryDecode(nullptr), abortLine(file, "raw"));
}

}  // namespace

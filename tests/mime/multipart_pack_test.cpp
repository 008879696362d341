// Multipart packing: the exact layout, the boundary choice, and refusal of field values that would break
// the layout.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using namespace test_support;
using namespace std::string_literals;

// Packs the entities under *type; the packed octets, or nullopt when the pack fails.
std::optional<std::string> pack(const std::vector<EntityView> &parts, TypeRef *type) {
  BufferRef packed(mimeMultipartTryPack(type->addr(), vectorOf(parts).get(), options().get()));
  return packed ? std::optional(bytesOf(packed.get())) : std::nullopt;
}

TEST(MultipartPack, WritesTheLayoutExactly) {
  const std::tuple<const char *, std::vector<EntityView>, std::string> rows[] = {
      {"no field, no body", {{}}, "--B\r\n\r\n\r\n--B--\r\n"},
      {"an empty body packs as no body", {bodyOnly("")}, "--B\r\n\r\n\r\n--B--\r\n"},
      {"two entities",
       {{"text/plain", {}, {}, "X"}, {}},
       "--B\r\nContent-Type: text/plain\r\n\r\nX\r\n--B\r\n\r\n\r\n--B--\r\n"},
      {"fields in the order type, encoding, id; folds kept; UTF-8",
       {{"a/b;\r\n c=d", "\r\n\tbase64", "<\xC3\xA9>", "QQ=="}},
       "--B\r\nContent-Type: a/b;\r\n c=d\r\nContent-Transfer-Encoding: \r\n\tbase64\r\n"
       "Content-Id: <\xC3\xA9>\r\n\r\nQQ==\r\n--B--\r\n"},
      {"bodies are copied octet for octet",
       {bodyOnly("\0\r\n--C\n--B-\r"s), bodyOnly("\r\n")},
       "--B\r\n\r\n\0\r\n--C\n--B-\r\r\n--B\r\n\r\n\r\n\r\n--B--\r\n"s},
  };
  for (const auto &[label, parts, expected] : rows) {
    TypeRef type = mixedWithBoundary("B");
    EXPECT_TRUE(sameBytes(expected, pack(parts, &type).value_or("<null>"))) << label;
    EXPECT_EQ(parameterOf(type.get(), "boundary"), "B") << label;
  }
}

TEST(MultipartPack, KeepsTheCallerBoundaryUnlessABodyHoldsItAtALineStart) {
  const std::pair<std::string, bool> rows[] = {
      // body, collides with "B1"
      {"--B1\r\n", true},          {"--B1x", true},          {"text\r\n--B1--\r\n", true},
      {"text\r\n--B12\r\n", true}, {"text --B1\r\n", false}, {"text\n--B1\r\n", false},
      {"text\r--B1\r\n", false},   {"\r\n--B\r\n", false},
  };
  for (const auto &[body, collides] : rows) {
    TypeRef type = mixedWithBoundary("B1");
    const std::string packed = pack({{}, bodyOnly(body)}, &type).value_or("<null>");
    const std::string used = parameterOf(type.get(), "boundary");
    EXPECT_EQ(used.size(), collides ? 10u : 2u) << body;
    EXPECT_TRUE(packed.starts_with("--" + used + "\r\n") && packed.ends_with("\r\n--" + used + "--\r\n"))
        << body;
  }
}

// The bodies are searched 32 octets at a time while they are copied: a delimiter (or a near miss) at every
// place around the blocks' edges, in a long body, in its last octets, and in the second of two bodies.
TEST(MultipartPack, FindsTheBoundaryAtEveryPlaceOfALongBody) {
  const std::string filler(100, 'x');
  for (size_t at = 0; at <= filler.size(); ++at) {
    for (const auto &[inserted, collides] : {std::pair{"\r\n--B1", true}, std::pair{"\r\n--B2", false},
                                             std::pair{"\r\n-B1", false}, std::pair{"\r--B1", false}}) {
      const std::string body = filler.substr(0, at) + inserted + filler.substr(at);
      const std::string cut = filler.substr(0, at) + inserted;
      for (const std::string &tested : {body, cut}) {
        TypeRef type = mixedWithBoundary("B1");
        const std::optional<std::string> packed = pack({bodyOnly("first"), bodyOnly(tested)}, &type);
        ASSERT_TRUE(packed);
        EXPECT_EQ(parameterOf(type.get(), "boundary").size(), collides ? 10u : 2u)
            << test_support::escapeForDisplay<char>(inserted) << " at " << at << " of " << tested.size();
        EXPECT_NE(packed->find("\r\n\r\n" + tested + "\r\n--"), std::string::npos) << "the body copied whole";
      }
    }
  }
}

TEST(MultipartPack, ReplacesAMissingOrInvalidCallerBoundaryCopyOnWrite) {
  const std::string seventyOne(71, 'x');
  for (const char *b :
       {static_cast<const char *>(nullptr), "", "ends in space ", "a\"b", seventyOne.c_str()}) {
    TypeRef type = mixedWithBoundary(b);
    TypeRef otherHolder = TypeRef::retained(type.get());
    ASSERT_TRUE(pack({{}}, &type)) << (b ? b : "absent");
    const std::string used = parameterOf(type.get(), "boundary");
    EXPECT_TRUE(used.size() == 10 && mimeMultipartBoundaryOk(str(used).get())) << used;
    EXPECT_EQ(parameterOf(otherHolder.get(), "boundary"), b ? b : "<absent>");
  }
}

// A line break in a field value that is no fold would let a value forge fields, parts or the end of the
// header block, and a NUL would end the header for every reader that handles C strings, so the pack fails
// instead and leaves the content type alone; what packs reads back unfolded.
TEST(MultipartPack, RefusesFieldValuesWithLineBreaksThatAreNoFold) {
  const std::pair<std::u32string, const char *> rows[] = {
      // value, what unpacking gives back
      {U"text/plain;\r\n charset=x", "text/plain; charset=x"},
      {U"a\r\n b\r\n\tc", "a b\tc"},
      {U"\r\n base64", "base64"},
      {U"text/plain\nContent-Type: text/html", nullptr},
      {U"text/plain\rx", nullptr},
      {U"text/plain\r\n", nullptr},
      {U"text/plain\r\nContent-Id: <x>", nullptr},
      {U"a\r\n\r\n\r\n--B\r\nContent-Type: text/html\r\n\r\nevil", nullptr},
      {U"a\n b", nullptr},
      {U"a\r b", nullptr},
      {U"a\r\r\n b", nullptr},
      {U"a" + std::u32string(1, char32_t(0xD800)), nullptr},    // a lone surrogate UTF-8 cannot carry
      {U"a" + std::u32string(1, char32_t(0x110000)), nullptr},  // beyond U+10FFFF
      {std::u32string(U"a\0b", 3), nullptr},
      {std::u32string(1, U'\0'), nullptr},
      {std::u32string(U"text/plain;\r\n \0", 15), nullptr},
  };
  using Setter = void (*)(MIME_ENTITY **, KX_STRING *);
  const Setter setters[] = {mimeEntitySetContentType, mimeEntitySetContentTransferEncoding,
                            mimeEntitySetContentId};
  for (const auto &[value, unpacked] : rows) {
    for (int field = 0; field < 3; ++field) {
      EntityRef entity(mimeEntityCreate());
      setters[field](entity.addr(), kxText(value).get());
      VectorRef entities = vectorOf({{}});
      kxVectorAppendObj(entities.addr(), mimeEntityObj(entity.get()));
      TypeRef type = mixedWithBoundary("B");
      MIME_CONTENT_TYPE *before = type.get();
      BufferRef packed(mimeMultipartTryPack(type.addr(), entities.get(), options().get()));
      const std::string label = test_support::escapeForDisplay<char32_t>(value);
      if (!packed) {
        EXPECT_FALSE(unpacked) << label;
        EXPECT_EQ(type.get(), before) << label;
        continue;
      }
      ASSERT_TRUE(unpacked) << label;
      VectorRef back(mimeMultipartTryUnpack(type.addr(), packed.get(), options().get()));
      const std::string expected[] = {"{"s + unpacked + "|-|-|-}", "{-|"s + unpacked + "|-|-}",
                                      "{-|-|"s + unpacked + "|-}"};
      EXPECT_EQ(back ? describe(viewsOf(back.get())) : "<null>", "{-|-|-|-}" + expected[field]) << label;
    }
  }
}

// A random source that counts: every run from the same start draws the same boundaries.
uint64_t countingBits(void *context) {
  uint64_t &counter = *static_cast<uint64_t *>(context);
  uint64_t z = (counter += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  return z ^ (z >> 31);
}

// Ten boundaries are tested in all, the caller's (when valid) counting as the first: the tenth may still
// succeed, and when it collides too the pack fails and leaves the content type as it was.
TEST(HostileGeneration, TheTenthBoundaryIsTheLastOneTried) {
  uint64_t counter = 0;
  kxRandomSetThreadSource(countingBits, &counter);
  std::vector<std::string> generated;
  for (int i = 0; i < 10; ++i) generated.push_back(utf8Of(StringRef(mimeMultipartBoundaryGenerate()).get()));

  struct Row {
    const char *label;
    const char *callerBoundary;
    int collidingGenerated;
    std::optional<std::string> used;
  };
  const Row rows[] = {
      {"nine generated collide, the tenth is used", nullptr, 9, generated[9]},
      {"all ten generated collide", nullptr, 10, std::nullopt},
      {"the caller's and eight generated collide, the ninth is used", "caller", 8, generated[8]},
      {"the caller's and nine generated collide", "caller", 9, std::nullopt},
  };
  for (const Row &row : rows) {
    // One body per colliding boundary, each holding it as a line prefix after some text.
    std::vector<EntityView> parts;
    if (row.callerBoundary) parts.push_back(bodyOnly("--caller\r\n"));
    for (int i = 0; i < row.collidingGenerated; ++i)
      parts.push_back(bodyOnly("text\r\n--" + generated[i] + "x\r\n"));
    TypeRef type = mixedWithBoundary(row.callerBoundary);
    TypeRef otherHolder = TypeRef::retained(type.get());
    counter = 0;
    BufferRef packed(mimeMultipartTryPack(type.addr(), vectorOf(parts).get(), options().get()));
    EXPECT_EQ(packed.get() != nullptr, row.used.has_value()) << row.label;
    if (row.used) {
      EXPECT_EQ(parameterOf(type.get(), "boundary"), *row.used) << row.label;
      VectorRef back(mimeMultipartTryUnpack(type.addr(), packed.get(), options().get()));
      EXPECT_EQ(back ? describe(viewsOf(back.get())) : "<null>", describe(parts)) << row.label;
    } else {
      EXPECT_EQ(type.get(), otherHolder.get()) << row.label;
    }
    EXPECT_EQ(parameterOf(otherHolder.get(), "boundary"),
              row.callerBoundary ? row.callerBoundary : "<absent>");
  }
  kxRandomSetThreadSource(nullptr, nullptr);
}

}  // namespace

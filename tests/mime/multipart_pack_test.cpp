// Multipart packing: the exact layout, the boundary choice, and refusal of field values that would break
// the layout.
#include <gtest/gtest.h>

#include "wire_test_support.hpp"

namespace {

using namespace wiretest;
using namespace std::string_literals;

TypeRef mixedWithBoundary(const char *boundary) {
  TypeRef type(mimeContentTypeCreateCstr("multipart/mixed", -1));
  if (boundary) mimeContentTypeSetParameterCstrCstrValue(type.addr(), "boundary", -1, boundary, -1);
  return type;
}

std::string boundaryOf(MIME_CONTENT_TYPE *type) {
  StringRef b(mimeContentTypeParameterCstr(type, "boundary", -1));
  return b ? utf8Of(b.get()) : std::string("<absent>");
}

// Packs the entities under the caller boundary; the packed octets, or nullopt when the pack fails.
std::optional<std::string> pack(const std::vector<EntityView> &parts, TypeRef *type) {
  OptionsRef opt = defaultOptions();
  VectorRef entities = vectorOf(parts);
  BufferRef packed(mimeMultipartTryPack(type->addr(), entities.get(), opt.get()));
  return packed ? std::optional<std::string>(bytesOf(packed.get())) : std::nullopt;
}

const EntityView kEmpty{};

struct LayoutCase {
  const char *label;
  std::vector<EntityView> parts;
  std::string expected;  // with the boundary "B"
};

const LayoutCase kLayouts[] = {
    {"one entity without field or body", {kEmpty}, "--B\r\n\r\n\r\n--B--\r\n"},
    {"an empty body packs as no body", {{{}, {}, {}, ""}}, "--B\r\n\r\n\r\n--B--\r\n"},
    {"two entities",
     {{"text/plain", {}, {}, "X"}, kEmpty},
     "--B\r\nContent-Type: text/plain\r\n\r\nX\r\n--B\r\n\r\n\r\n--B--\r\n"},
    {"fields always in the order type, encoding, id",
     {{"a/b", "7bit", "<id>", "body\r\n"}},
     "--B\r\nContent-Type: a/b\r\nContent-Transfer-Encoding: 7bit\r\nContent-Id: "
     "<id>\r\n\r\nbody\r\n\r\n--B--\r\n"},
    {"a folded value keeps its fold",
     {{"text/plain;\r\n charset=us-ascii", {}, {}, {}}},
     "--B\r\nContent-Type: text/plain;\r\n charset=us-ascii\r\n\r\n\r\n--B--\r\n"},
    {"a fold with a tab",
     {{{}, "\r\n\tbase64", {}, "QQ=="}},
     "--B\r\nContent-Transfer-Encoding: \r\n\tbase64\r\n\r\nQQ==\r\n--B--\r\n"},
    {"a non-ASCII value in UTF-8",
     {{{}, {}, "<\xC3\xA9>", {}}},
     "--B\r\nContent-Id: <\xC3\xA9>\r\n\r\n\r\n--B--\r\n"},
    {"bodies are copied octet for octet",
     {{{}, {}, {}, "\0\r\n--C\n--B-\r"s}, {{}, {}, {}, "\r\n"}},
     "--B\r\n\r\n\0\r\n--C\n--B-\r\r\n--B\r\n\r\n\r\n\r\n--B--\r\n"s},
};

TEST(MultipartPack, WritesTheLayoutExactly) {
  for (const LayoutCase &c : kLayouts) {
    TypeRef type = mixedWithBoundary("B");
    const std::optional<std::string> packed = pack(c.parts, &type);
    ASSERT_TRUE(packed) << c.label;
    EXPECT_TRUE(sameBytes(c.expected, *packed)) << c.label;
    EXPECT_EQ(boundaryOf(type.get()), "B") << c.label;
  }
}

struct CollisionCase {
  const char *label;
  std::string body;
  bool collides;
};

// With the caller boundary "B1".
const CollisionCase kCollisions[] = {
    {"body begins with the delimiter", "--B1\r\n", true},
    {"body begins with the delimiter and more", "--B1x", true},
    {"a line begins with the delimiter", "text\r\n--B1--\r\n", true},
    {"a line begins with a longer boundary", "text\r\n--B12\r\n", true},
    {"mid-line only", "text --B1\r\n", false},
    {"after a bare LF only", "text\n--B1\r\n", false},
    {"after a bare CR only", "text\r--B1\r\n", false},
    {"a shorter boundary", "\r\n--B\r\n", false},
};

TEST(MultipartPack, KeepsTheCallerBoundaryUnlessABodyHoldsItAtALineStart) {
  for (const CollisionCase &c : kCollisions) {
    TypeRef type = mixedWithBoundary("B1");
    const std::optional<std::string> packed = pack({kEmpty, {{}, {}, {}, c.body}}, &type);
    ASSERT_TRUE(packed) << c.label;
    const std::string used = boundaryOf(type.get());
    if (c.collides) {
      EXPECT_NE(used, "B1") << c.label;
      EXPECT_EQ(used.size(), 10u) << c.label;
    } else {
      EXPECT_EQ(used, "B1") << c.label;
    }
    EXPECT_TRUE(packed->starts_with("--" + used + "\r\n")) << c.label;
    EXPECT_TRUE(packed->ends_with("\r\n--" + used + "--\r\n")) << c.label;
  }
}

TEST(MultipartPack, ReplacesAMissingOrInvalidCallerBoundaryWithoutTestingIt) {
  const char *boundaries[] = {nullptr, "", "ends in space ", "a\"b"};
  std::string seventyOne(71, 'x');
  for (const char *b : {boundaries[0], boundaries[1], boundaries[2], boundaries[3], seventyOne.c_str()}) {
    TypeRef type = mixedWithBoundary(b);
    ASSERT_TRUE(pack({kEmpty}, &type)) << (b ? b : "absent");
    const std::string used = boundaryOf(type.get());
    EXPECT_EQ(used.size(), 10u) << (b ? b : "absent");
    StringRef usedString = str(used);
    EXPECT_TRUE(mimeMultipartBoundaryOk(usedString.get()));
  }
}

TEST(MultipartPack, SetsTheBoundaryCopyOnWrite) {
  TypeRef type = mixedWithBoundary(nullptr);
  TypeRef otherHolder(mimeContentTypeRetain(type.get()));
  ASSERT_TRUE(pack({kEmpty}, &type));
  EXPECT_NE(type.get(), otherHolder.get());
  EXPECT_EQ(boundaryOf(otherHolder.get()), "<absent>");
  EXPECT_EQ(boundaryOf(type.get()).size(), 10u);
}

// A random source that always yields the same bits makes every generated boundary the same.
uint64_t constantBits(void *) {
  return 0x0123456789ABCDEFull;
}

TEST(MultipartPack, FailsAfterTenCollidingBoundariesAndLeavesTheContentTypeAlone) {
  kxRandomSetThreadSource(constantBits, nullptr);
  StringRef generated(mimeMultipartBoundaryGenerate());
  const std::string fixed = utf8Of(generated.get());

  TypeRef type = mixedWithBoundary(nullptr);
  MIME_CONTENT_TYPE *before = type.get();
  const std::optional<std::string> packed = pack({{{}, {}, {}, "--" + fixed + "\r\n"}}, &type);
  EXPECT_FALSE(packed);
  EXPECT_EQ(type.get(), before);
  EXPECT_EQ(boundaryOf(type.get()), "<absent>");

  // The same body with a free caller boundary packs: only the generated ones collide.
  TypeRef free = mixedWithBoundary("free");
  EXPECT_TRUE(pack({{{}, {}, {}, "--" + fixed + "\r\n"}}, &free));
  kxRandomSetThreadSource(nullptr, nullptr);
}

// Field values that would end a header line early: packing them would let a value forge fields, parts or
// the end of the header block, so the pack fails instead.
struct FieldValueCase {
  const char *label;
  std::u32string value;
  bool packs;
};

const FieldValueCase kFieldValues[] = {
    {"plain", U"text/plain", true},
    {"fold with a space", U"text/plain;\r\n charset=x", true},
    {"fold with a tab", U"text/plain;\r\n\tcharset=x", true},
    {"two folds", U"a\r\n b\r\n\tc", true},
    {"fold at the start", U"\r\n base64", true},
    {"bare LF", U"text/plain\nContent-Type: text/html", false},
    {"bare CR", U"text/plain\rx", false},
    {"CR LF at the end", U"text/plain\r\n", false},
    {"CR LF and a letter", U"text/plain\r\nContent-Id: <x>", false},
    {"CR LF CR LF ends the header block", U"a\r\n\r\nforged body", false},
    {"a forged part", U"a\r\n\r\n\r\n--B\r\nContent-Type: text/html\r\n\r\nevil", false},
    {"LF and a space", U"a\n b", false},
    {"CR and a space", U"a\r b", false},
    {"CR CR LF and a space", U"a\r\r\n b", false},
    {"a lone surrogate UTF-8 cannot carry", U"a" + std::u32string(1, char32_t(0xD800)), false},
    {"a code point beyond U+10FFFF", U"a" + std::u32string(1, char32_t(0x110000)), false},
};

TEST(MultipartPack, RefusesFieldValuesThatBreakTheHeaderLines) {
  using Setter = void (*)(MIME_ENTITY **, KX_STRING *);
  const Setter setters[] = {mimeEntitySetContentType, mimeEntitySetContentTransferEncoding,
                            mimeEntitySetContentId};
  for (const FieldValueCase &c : kFieldValues) {
    for (Setter set : setters) {
      EntityRef entity(mimeEntityCreate());
      StringRef value(kxStringCreateFromChars(reinterpret_cast<const kxChar *>(c.value.data()),
                                              static_cast<kxInt>(c.value.size())));
      set(entity.addr(), value.get());
      VectorRef entities(kxVectorCreate());
      kxVectorAppendObj(entities.addr(), mimeEntityObj(EntityRef(mimeEntityCreate()).get()));
      kxVectorAppendObj(entities.addr(), mimeEntityObj(entity.get()));
      TypeRef type = mixedWithBoundary("B");
      TypeRef otherHolder(mimeContentTypeRetain(type.get()));
      OptionsRef opt = defaultOptions();
      BufferRef packed(mimeMultipartTryPack(type.addr(), entities.get(), opt.get()));
      EXPECT_EQ(packed.get() != nullptr, c.packs) << c.label;
      if (!c.packs) {
        EXPECT_EQ(type.get(), otherHolder.get()) << c.label << ": content type left unchanged";
      }
      if (!packed) continue;
      // What packs reads back as the same single field.
      VectorRef back(mimeMultipartTryUnpack(type.addr(), packed.get(), opt.get()));
      ASSERT_TRUE(back) << c.label;
      EXPECT_EQ(kxVectorLength(back.get()), 2) << c.label;
    }
  }
}

using MultipartPackDeathTest = ::testing::Test;

TEST(MultipartPackDeathTest, BrokenPreconditionsAbortInOrder) {
  TypeRef type = mixedWithBoundary("B");
  MIME_CONTENT_TYPE *none = nullptr;
  OptionsRef opt = defaultOptions();
  VectorRef empty(kxVectorCreate());
  VectorRef one = vectorOf({kEmpty});
  VectorRef mixed = vectorOf({kEmpty});
  kxVectorAppendObj(mixed.addr(), kxStringObj(str("not an entity").get()));
  EXPECT_DEATH(mimeMultipartTryPack(nullptr, one.get(), opt.get()), abortText("", "contentType"));
  EXPECT_DEATH(mimeMultipartTryPack(&none, one.get(), opt.get()), abortText("", "*contentType"));
  EXPECT_DEATH(mimeMultipartTryPack(type.addr(), empty.get(), opt.get()),
               abortText("", "kxVectorLength( entities )"));
  EXPECT_DEATH(mimeMultipartTryPack(type.addr(), mixed.get(), opt.get()),
               abortText("", "kxVectorContainsOnly( entities, mimeEntitySort() )"));
  EXPECT_DEATH(mimeMultipartTryPack(type.addr(), one.get(), nullptr), abortText("", "opt"));
}

}  // namespace

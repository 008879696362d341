// Entity decoding: each field decoded in turn, the body's transfer encoding undone, outputs handed out only
// on success.
#include <gtest/gtest.h>

#include "wire_test_support.hpp"

namespace {

using namespace wiretest;
using namespace std::string_literals;

// The media type name and its parameters as "name;key=value;...".
std::string typeText(MIME_CONTENT_TYPE *type) {
  std::string text = utf8Of(StringRef(mimeContentTypeName(type)).get());
  for (kxInt i = 0; i < mimeContentTypeParametersLength(type); ++i) {
    text.append(";").append(utf8Of(StringRef(mimeContentTypeParameterKeyAt(type, i)).get()));
    text.append("=").append(utf8Of(StringRef(mimeContentTypeParameterValueAt(type, i)).get()));
  }
  return text;
}

// What a decode gave: nullopt on failure, else the body, the type's string form and the Content-ID.
struct Decoded {
  std::optional<std::string> body = {}, type = {}, id = {};
  bool operator==(const Decoded &) const = default;
};

std::optional<Decoded> decode(const EntityView &wire) {
  EntityRef e = entityOf(wire);
  OptionsRef opt = defaultOptions();
  KX_BUFFER *body = nullptr;
  MIME_CONTENT_TYPE *type = nullptr;
  KX_STRING *id = nullptr;
  const bool ok = mimeDecode(e.get(), opt.get(), &body, &type, &id);
  BufferRef bodyHeld(body);
  TypeRef typeHeld(type);
  StringRef idHeld(id);
  EXPECT_EQ(viewOf(e.get()), wire) << "the entity is never changed";
  if (!ok) {
    EXPECT_TRUE(!body && !type && !id) << "a failed decode hands nothing out";
    return std::nullopt;
  }
  Decoded d;
  if (body) d.body = bytesOf(body);
  if (type) d.type = typeText(type);
  if (id) d.id = utf8Of(id);
  return d;
}

struct DecodeCase {
  const char *label;
  EntityView wire;
  std::optional<Decoded> expected;
};

const DecodeCase kDecodes[] = {
    {"no field, no body", {}, Decoded{}},
    {"body without a transfer encoding is taken as it is",
     {{}, {}, {}, "\x00\xFF\n"s},
     Decoded{"\x00\xFF\n"s}},
    {"7bit label over 8-bit octets is not checked", {{}, "7bit", {}, "\xE9\r\n"}, Decoded{"\xE9\r\n"}},
    {"8bit and binary bodies as they are", {{}, "Binary", {}, "\x00"s}, Decoded{"\x00"s}},
    {"base64 body", {{}, "base64", {}, "QUJD\r\nREVG"}, Decoded{"ABCDEF"}},
    {"base64 named loosely", {{}, "\"BASE64\" (a comment)", {}, "QUJD"}, Decoded{"ABC"}},
    {"quoted-printable body", {{}, "quoted-printable", {}, "a=3Db=\r\nc=E9"}, Decoded{"a=bc\xE9"}},
    {"content type", {"Text/Plain; charset=\"utf-8\"", {}, {}, {}}, Decoded{{}, "text/plain;charset=utf-8"}},
    {"content id", {{}, {}, " <a@b> ", {}}, Decoded{{}, {}, "a@b"}},
    {"all of it", {"a/b", "7bit", "<x>", "y\r\n"}, Decoded{"y\r\n", "a/b", "x"}},
    {"unknown transfer encoding fails even without a body", {{}, "x-uuencode", {}, {}}, std::nullopt},
    {"two transfer encodings fail", {{}, "7bit 8bit", {}, "x"}, std::nullopt},
    {"undecodable content type fails", {"no-slash", {}, {}, "x"}, std::nullopt},
    {"broken content id fails though the rest is good", {"text/plain", "7bit", "a@b", "x\r\n"}, std::nullopt},
    {"truncated base64 fails", {{}, "base64", {}, "QUJDR"}, std::nullopt},
};

TEST(Decode, DecodesEachPresentFieldAndTheBody) {
  for (const DecodeCase &c : kDecodes) {
    const std::optional<Decoded> got = decode(c.wire);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.label;
    if (got) {
      EXPECT_EQ(*got, *c.expected) << c.label;
    }
  }
}

TEST(Decode, UnencodedBodiesAreSharedNotCopied) {
  EntityRef e = entityOf({{}, "8bit", {}, "body\r\n"});
  BufferRef stored(mimeEntityBody(e.get()));
  OptionsRef opt = defaultOptions();
  KX_BUFFER *body = nullptr;
  ASSERT_TRUE(mimeDecode(e.get(), opt.get(), &body, nullptr, nullptr));
  BufferRef held(body);
  EXPECT_EQ(body, stored.get());
}

TEST(Decode, ClearsGivenOutputsFirstAndFillsThemOnlyOnSuccess) {
  OptionsRef opt = defaultOptions();
  BufferRef oldBody = buf("old");
  TypeRef oldType(mimeContentTypeCreateCstr("old/type", -1));
  StringRef oldId = str("old");

  for (bool good : {true, false}) {
    EntityRef e = entityOf({"a/b", good ? "7bit" : "nonsense", "<x>", "y\r\n"});
    KX_BUFFER *body = kxBufferFrom(kxObjRetain(kxBufferObj(oldBody.get())));
    MIME_CONTENT_TYPE *type = mimeContentTypeRetain(oldType.get());
    KX_STRING *id = kxStringFrom(kxObjRetain(kxStringObj(oldId.get())));
    EXPECT_EQ(mimeDecode(e.get(), opt.get(), &body, &type, &id), good ? 1 : 0);
    BufferRef b(body);
    TypeRef t(type);
    StringRef i(id);
    EXPECT_EQ(refsOf(oldBody.get()), 1) << "the old output was released";
    EXPECT_EQ(refsOf(oldType.get()), 1);
    EXPECT_EQ(refsOf(oldId.get()), 1);
    EXPECT_EQ(body != nullptr, good);
    EXPECT_EQ(type != nullptr, good);
    EXPECT_EQ(id != nullptr, good);
  }
}

TEST(Decode, WithoutOutputsOnlyReportsWhetherTheEntityDecodes) {
  OptionsRef opt = defaultOptions();
  for (const DecodeCase &c : kDecodes) {
    EntityRef e = entityOf(c.wire);
    EXPECT_EQ(mimeDecode(e.get(), opt.get(), nullptr, nullptr, nullptr) != 0, c.expected.has_value())
        << c.label;
  }
}

using DecodeDeathTest = ::testing::Test;

TEST(DecodeDeathTest, BrokenPreconditionsAbort) {
  OptionsRef opt = defaultOptions();
  EntityRef e(mimeEntityCreate());
  EXPECT_DEATH(mimeDecode(nullptr, opt.get(), nullptr, nullptr, nullptr), abortText("", "entity"));
  EXPECT_DEATH(mimeDecode(e.get(), nullptr, nullptr, nullptr, nullptr), abortText("", "opt"));
}

}  // namespace

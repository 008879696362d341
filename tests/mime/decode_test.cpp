// Entity decoding: each field decoded in turn, the body's transfer encoding undone, outputs handed out only
// on success.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include "support/test_support.hpp"

namespace {

using namespace test_support;
using namespace std::string_literals;

// What a decode gave, as "{type|-|id|body}" (the type as "name;key=value"), or "<failed>".
std::string decode(const EntityView &wire) {
  EntityRef e = entityOf(wire);
  KX_BUFFER *body = nullptr;
  MIME_CONTENT_TYPE *type = nullptr;
  KX_STRING *id = nullptr;
  const bool ok = mimeDecode(e.get(), options().get(), &body, &type, &id);
  BufferRef bodyHeld(body);
  TypeRef typeHeld(type);
  EXPECT_EQ(viewOf(e.get()), wire) << "the entity is never changed";
  EXPECT_EQ(mimeDecode(e.get(), options().get(), nullptr, nullptr, nullptr), ok) << "without outputs";
  EXPECT_TRUE(ok || (!body && !type && !id)) << "a failed decode hands nothing out";
  const kxInt cte =
      wire.contentTransferEncoding
          ? mimeContentTransferEncodingTryDecode(str(*wire.contentTransferEncoding).get(), options().get())
          : MIME_CONTENT_TRANSFER_ENCODING_7BIT;
  EXPECT_TRUE(!body || (body == BufferRef(mimeEntityBody(e.get())).get()) ==
                           (cte <= MIME_CONTENT_TRANSFER_ENCODING_BINARY))
      << "a body with no transfer encoding to undo is shared, not copied";
  if (!ok) return "<failed>";
  EntityView got{std::nullopt, std::nullopt, textField(id), std::nullopt};
  if (type) got.contentType = form(type);
  if (body) got.body = bytesOf(body);
  return describe({got});
}

TEST(Decode, DecodesEachPresentFieldAndTheBody) {
  const std::tuple<const char *, EntityView, std::string> rows[] = {
      {"no field, no body", {}, "{-|-|-|-}"},
      {"body without an encoding as it is", {{}, {}, {}, "\x00\xFF\n"s}, "{-|-|-|\x00\xFF\n}"s},
      {"7bit label over 8-bit octets", {{}, "7bit", {}, "\xE9\r\n"}, "{-|-|-|\xE9\r\n}"},
      {"binary body as it is", {{}, "Binary", {}, "\x00"s}, "{-|-|-|\x00}"s},
      {"base64 body named loosely", {{}, "\"BASE64\" (a comment)", {}, "QUJD\r\nREVG"}, "{-|-|-|ABCDEF}"},
      {"quoted-printable body", {{}, "quoted-printable", {}, "a=3Db=\r\nc=E9"}, "{-|-|-|a=bc\xE9}"},
      {"content type", {"Text/Plain; charset=\"utf-8\"", {}, {}, {}}, "{text/plain;charset=utf-8|-|-|-}"},
      {"all of it", {"a/b", "7bit", " <x> ", "y\r\n"}, "{a/b|-|x|y\r\n}"},
      {"unknown encoding, even without a body", {{}, "x-uuencode", {}, {}}, "<failed>"},
      {"two transfer encodings", {{}, "7bit 8bit", {}, "x"}, "<failed>"},
      {"undecodable content type", {"no-slash", {}, {}, "x"}, "<failed>"},
      {"broken content id, the rest good", {"text/plain", "7bit", "a@b", "x\r\n"}, "<failed>"},
      {"truncated base64", {{}, "base64", {}, "QUJDR"}, "<failed>"},
  };
  for (const auto &[label, wire, expected] : rows) EXPECT_EQ(decode(wire), expected) << label;
}

TEST(Decode, ReleasesTheGivenOutputsFirstAndFillsThemOnlyOnSuccess) {
  BufferRef oldBody = buf("old");
  TypeRef oldType = contentType("old/type");
  StringRef oldId = str("old");
  for (bool good : {true, false}) {
    EntityRef e = entityOf({"a/b", good ? "7bit" : "nonsense", "<x>", "y\r\n"});
    KX_BUFFER *body = BufferRef::retained(oldBody.get()).release();
    MIME_CONTENT_TYPE *type = TypeRef::retained(oldType.get()).release();
    KX_STRING *id = StringRef::retained(oldId.get()).release();
    EXPECT_EQ(mimeDecode(e.get(), options().get(), &body, &type, &id), good ? 1 : 0);
    BufferRef b(body);
    TypeRef t(type);
    StringRef i(id);
    EXPECT_EQ(refsOf(oldBody.get()) + refsOf(oldType.get()) + refsOf(oldId.get()), 3)
        << "old outputs released";
    EXPECT_EQ((body != nullptr) + (type != nullptr) + (id != nullptr), good ? 3 : 0);
  }
}

// With no file descriptor left, a charset converter that was never opened cannot be loaded: the conversion
// fails both ways, an RFC 2231 value in that charset is left out of the decoded type and an encoded word in
// it reads as U+FFFD, marked malformed, where the process used to abort.
TEST(DecodeDeathTest, ACharsetConverterThatCannotOpenFailsTheConversionNotTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, in which no converter is open yet
  const auto outOfDescriptors = [] {
    // The sanitized build checks an object's type through a pipe the first time it meets the type; a header
    // decoded first lets it do so while descriptors are left.
    decode({"text/plain; b=c", {}, {}, {}});
    const rlimit none{0, 0};
    setrlimit(RLIMIT_NOFILE, &none);
    const kxInt koi8r = kxCharsetFromIanaName(str("KOI8-R").get());
    const bool failed = !StringRef(kxCharsetConvertBufferToString(buf("\xC1").get(), koi8r)) &&
                        !BufferRef(kxCharsetConvertStringToBuffer(str("a").get(), koi8r));
    const bool leftOut = decode({"text/plain; a*=koi8-r''%C1; b=c", {}, {}, {}}) == "{text/plain;b=c|-|-|-}";
    kxBool malformed = 0;
    const bool marked =
        utf8Of(StringRef(mimeEncodedWordDecode(str("=?koi8-r?Q?=C1?=").get(), &malformed)).get()) ==
            "\xEF\xBF\xBD" &&
        malformed;
    _exit(failed && leftOut && marked ? 0 : 1);
  };
  EXPECT_EXIT(outOfDescriptors(), testing::ExitedWithCode(0), "");
}

}  // namespace

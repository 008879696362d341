// Entity encoding: the choice of the transfer encoding, the fields written, the folding offsets, and the
// equivalence of the length-first choice with encoding both ways.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using namespace test_support;
using namespace std::string_literals;

constexpr kxInt kDefault = MIME_FLAG_PARSE_RFC2231_HEADERS | MIME_FLAG_GENERATE_RFC2231_HEADERS;
constexpr kxInt kEightBit = kDefault | MIME_FLAG_GENERATE_EIGHT_BIT_BODY;
constexpr kxInt kNoQuop = kDefault | MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE;

std::string cteOf(MIME_ENTITY *e) {
  return viewOf(e).contentTransferEncoding.value_or("<absent>");
}

// What encoding both ways and keeping the strictly shorter (Base64 on a tie) gives; mimeEncode computes
// lengths first and must agree octet for octet.
std::pair<std::string, std::string> encodeBothWays(MIME_OPTIONS *opt, KX_BUFFER *body) {
  BufferRef quop(
      rfcQuopEncodeWithOptions(body, kx::Ref<RFC_QUOP_OPTIONS>(mimeOptionsRfcQuopOptions(opt)).get()));
  BufferRef base(rfcBaseEncodeWithOptions(body, RFC_BASE_SELECTOR_MIME,
                                          kx::Ref<RFC_BASE_OPTIONS>(mimeOptionsRfcBaseOptions(opt)).get()));
  if (quop && kxBufferLength(base.get()) > kxBufferLength(quop.get()))
    return {"quoted-printable", bytesOf(quop.get())};
  return {"base64", bytesOf(base.get())};
}

TEST(Encode, ChoosesTheTransferEncoding) {
  const std::tuple<const char *, kxInt, std::string, std::string> rows[] = {
      // label, flags, body, encoding
      {"empty body is 7bit", kDefault, "", "7bit"},
      {"CR LF text is 7bit", kDefault, "Hello\r\nworld\r\n", "7bit"},
      {"text without a final CR LF is encoded", kDefault, "abc", "quoted-printable"},
      {"8-bit text: quoted-printable is shorter", kDefault,
       "\xC3\xA9t\xC3\xA9 in a much longer text of ascii\r\n", "quoted-printable"},
      {"binary: Base64 is shorter", kDefault, "\x01\x02\x03\xFF\xFE\xFD\x80\x81\x82\x00\x10\x20"s, "base64"},
      {"a tie goes to Base64: a=80 and YYA=", kDefault, "a\x80", "base64"},
      {"a line of 999 octets is encoded", kDefault, std::string(999, 'a') + "\r\n", "quoted-printable"},
      {"eight-bit flag labels any octets binary", kEightBit, "\x00\xFF"s, "binary"},
      {"eight-bit flag wins over no quoted-printable", kEightBit | kNoQuop, "abc", "binary"},
      {"no quoted-printable: Base64 even when longer", kNoQuop, "abc", "base64"},
      {"no quoted-printable still sends 7bit text as it is", kNoQuop, "abc\r\n", "7bit"},
  };
  for (const auto &[label, flags, bytes, cte] : rows) {
    SCOPED_TRACE(label);
    BufferRef body = buf(bytes);
    EntityRef e(mimeEncode(options(flags).get(), body.get(), nullptr, nullptr));
    EXPECT_EQ(cteOf(e.get()), cte);
    // Sent as it is, the body is shared, not copied; the argument is never changed.
    EXPECT_EQ(BufferRef(mimeEntityBody(e.get())).get() == body.get(), cte == "7bit" || cte == "binary");
    EXPECT_EQ(bytesOf(body.get()), bytes);
  }
  // 12 bits: not whole octets, so never 7bit, and quoted-printable declines such a body.
  const kxByte bits[2] = {0x41, 0x40};
  BufferRef partial(kxBufferCreateFromBits(bits, 12));
  EXPECT_EQ(cteOf(EntityRef(mimeEncode(options().get(), partial.get(), nullptr, nullptr)).get()), "base64");
}

// A multipart body is never encoded as a whole (its delimiter lines would vanish): it goes as it is, labelled
// by what it holds, whatever the other encodings would cost.
TEST(Encode, SendsAMultipartBodyAsItIs) {
  const std::tuple<const char *, const char *, std::string, std::string> rows[] = {
      // label, type, body, encoding
      {"7bit-clean parts", "multipart/mixed", "--b\r\n\r\nabc\r\n--b--\r\n", "7bit"},
      {"raw UTF-8 in a part", "multipart/mixed", "--b\r\n\r\n\xC3\xA9t\xC3\xA9\r\n--b--\r\n", "8bit"},
      {"binary part", "multipart/mixed", "--b\r\n\r\n\x00\xFF\x01\r\n--b--\r\n"s, "binary"},
      {"any multipart subtype", "multipart/alternative", "\xFF\xFE\xFD\r\n", "8bit"},
      {"not multipart: the same binary body is encoded", "application/octet-stream", "\x00\xFF\x01"s,
       "base64"},
  };
  for (const auto &[label, name, bytes, cte] : rows) {
    SCOPED_TRACE(label);
    BufferRef body = buf(bytes);
    TypeRef type(mimeContentTypeCreateCstr(name, -1));
    EntityRef e(mimeEncode(options().get(), body.get(), type.get(), nullptr));
    EXPECT_EQ(cteOf(e.get()), cte);
    EXPECT_EQ(bytesOf(BufferRef(mimeEntityBody(e.get())).get()) == bytes, cte != "base64");
  }
}

TEST(Encode, WritesAFieldForEachGivenInputOnly) {
  BufferRef body = buf("x\r\n");
  TypeRef type = contentType("text/plain");
  for (int given = 0; given < 8; ++given) {
    EntityRef e(mimeEncode(options().get(), given & 1 ? body.get() : nullptr,
                           given & 2 ? type.get() : nullptr,
                           given & 4 ? str("part1@example").get() : nullptr));
    EXPECT_EQ(describe({viewOf(e.get())}),
              "{"s + (given & 2 ? "text/plain|" : "-|") + (given & 1 ? "7bit|" : "-|") +
                  (given & 4 ? "<part1@example>|" : "-|") + (given & 1 ? "x\r\n}" : "-}"));
  }
}

TEST(Encode, FoldsAsIfTheFieldNamesStoodBeforeTheValues) {
  OptionsRef opt = options(kDefault, 20);  // below the 27 of "Content-Transfer-Encoding: "
  TypeRef type = contentType("application/octet-stream", {{"name", "a-rather-long-file-name.bin"}});
  EntityRef e(mimeEncode(opt.get(), buf("abc").get(), type.get(), nullptr));  // quoted-printable
  const auto encodedCte = [&](kxInt offset) {
    return utf8Of(StringRef(mimeContentTransferEncodingEncode(MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE,
                                                              opt.get(), offset))
                      .get());
  };
  const EntityView v = viewOf(e.get());
  EXPECT_EQ(v.contentType, utf8Of(StringRef(mimeContentTypeEncode(type.get(), opt.get(), 14)).get()));
  EXPECT_EQ(v.contentTransferEncoding, encodedCte(27));
  EXPECT_NE(encodedCte(27), encodedCte(0));  // the offset matters at this length
}

TEST(Encode, LengthFirstChoiceEqualsEncodingBothWays) {
  BodySource random(42);
  OptionsRef shortLines = options();
  kx::Ref<RFC_QUOP_OPTIONS> qo(rfcQuopOptionsCreate());
  rfcQuopOptionsSetOutputLineLength(qo.addr(), 20);
  mimeOptionsSetRfcQuopOptions(shortLines.addr(), qo.get());
  kx::Ref<RFC_BASE_OPTIONS> bo(rfcBaseOptionsCreate());
  rfcBaseOptionsSetOutputLineLength(bo.addr(), 0);
  mimeOptionsSetRfcBaseOptions(shortLines.addr(), bo.get());
  OptionsRef defaults = options();
  int quopChosen = 0, baseChosen = 0;
  for (int round = 0; round < 500; ++round) {
    MIME_OPTIONS *opt = round % 2 ? shortLines.get() : defaults.get();
    BufferRef body = buf(random.body() + (round % 5 == 0 ? "\x80" : ""));
    if (mimeContentTransferEncodingCheck(MIME_CONTENT_TRANSFER_ENCODING_7BIT, body.get())) continue;
    const auto [cte, encoded] = encodeBothWays(opt, body.get());
    EntityRef e(mimeEncode(opt, body.get(), nullptr, nullptr));
    ASSERT_EQ(cteOf(e.get()), cte) << "round " << round;
    ASSERT_TRUE(sameBytes(encoded, bytesOf(BufferRef(mimeEntityBody(e.get())).get()))) << "round " << round;
    (cte == "base64" ? baseChosen : quopChosen)++;
  }
  EXPECT_GT(quopChosen, 50);
  EXPECT_GT(baseChosen, 50);
}

}  // namespace

// Entity encoding: the choice of the transfer encoding, the fields written, the folding offsets, and the
// equivalence of the length-first choice with encoding both ways.
#include <gtest/gtest.h>

#include "wire_test_support.hpp"

namespace {

using namespace wiretest;
using namespace std::string_literals;

constexpr kxInt kDefault = MIME_FLAG_PARSE_RFC2231_HEADERS | MIME_FLAG_GENERATE_RFC2231_HEADERS;
constexpr kxInt kEightBit = kDefault | MIME_FLAG_GENERATE_EIGHT_BIT_BODY;
constexpr kxInt kNoQuop = kDefault | MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE;

std::string cteOf(MIME_ENTITY *e) {
  StringRef cte(mimeEntityContentTransferEncoding(e));
  return cte ? utf8Of(cte.get()) : "<absent>";
}

// What encoding both ways and keeping the strictly shorter (Base64 on a tie or without quoted-printable)
// gives; mimeEncode computes lengths first and must agree octet for octet.
std::pair<std::string, std::string> encodeBothWays(MIME_OPTIONS *opt, KX_BUFFER *body) {
  kx::Ref<RFC_QUOP_OPTIONS> qo(mimeOptionsRfcQuopOptions(opt));
  kx::Ref<RFC_BASE_OPTIONS> bo(mimeOptionsRfcBaseOptions(opt));
  BufferRef quop(rfcQuopEncodeWithOptions(body, qo.get()));
  BufferRef base(rfcBaseEncodeWithOptions(body, RFC_BASE_SELECTOR_MIME, bo.get()));
  if (quop && kxBufferLength(base.get()) > kxBufferLength(quop.get())) {
    return {"quoted-printable", bytesOf(quop.get())};
  }
  return {"base64", bytesOf(base.get())};
}

struct ChoiceCase {
  const char *label;
  kxInt flags;
  std::string body;
  const char *expectedCte;  // null: whichever encoding both ways and keeping the shorter gives
};

const ChoiceCase kChoices[] = {
    {"empty body is 7bit", kDefault, "", "7bit"},
    {"CR LF text is 7bit", kDefault, "Hello\r\nworld\r\n", "7bit"},
    {"text without a final CR LF is encoded", kDefault, "abc", "quoted-printable"},
    {"8-bit octets in text: quoted-printable is shorter", kDefault,
     "Gr\xC3\xBC\xC3\x9F"
     "e aus einem langen Text mit Umlaut\r\n",
     "quoted-printable"},
    {"bare LF forces encoding", kDefault, "line one\nline two\n", nullptr},
    {"binary octets: Base64 is shorter", kDefault, "\x01\x02\x03\xFF\xFE\xFD\x80\x81\x82\x00\x10\x20"s,
     "base64"},
    {"a line of 999 octets is encoded", kDefault, std::string(999, 'a') + "\r\n", "quoted-printable"},
    {"eight-bit flag labels plain ASCII binary", kEightBit, "Hello\r\n", "binary"},
    {"eight-bit flag labels any octets binary", kEightBit, "\x00\xFF"s, "binary"},
    {"eight-bit flag wins over no quoted-printable", kEightBit | MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE,
     "abc", "binary"},
    {"no quoted-printable: Base64 even when longer", kNoQuop, "abc", "base64"},
    {"no quoted-printable still sends 7bit text as it is", kNoQuop, "abc\r\n", "7bit"},
};

TEST(Encode, ChoosesTheTransferEncoding) {
  for (const ChoiceCase &c : kChoices) {
    OptionsRef opt = optionsWithFlags(c.flags);
    BufferRef body = buf(c.body);
    EntityRef e(mimeEncode(opt.get(), body.get(), nullptr, nullptr));
    const std::string cte = c.expectedCte ? c.expectedCte : encodeBothWays(opt.get(), body.get()).first;
    EXPECT_EQ(cteOf(e.get()), cte) << c.label;
    BufferRef stored(mimeEntityBody(e.get()));
    ASSERT_TRUE(stored) << c.label;
    if (cte == "7bit" || cte == "binary") {
      EXPECT_EQ(stored.get(), body.get()) << c.label << ": shared, not copied";
    }
    EXPECT_EQ(bytesOf(body.get()), c.body) << c.label << ": the argument is not changed";
  }
}

TEST(Encode, ATieGoesToBase64) {
  // "a" and one 8-bit octet: "a=80" against "YYA=", four characters each.
  OptionsRef opt = defaultOptions();
  BufferRef body = buf("a\x80");
  kx::Ref<RFC_QUOP_OPTIONS> qo(mimeOptionsRfcQuopOptions(opt.get()));
  kx::Ref<RFC_BASE_OPTIONS> bo(mimeOptionsRfcBaseOptions(opt.get()));
  ASSERT_EQ(rfcQuopEncodedLength(body.get(), qo.get()),
            rfcBaseEncodedLength(body.get(), RFC_BASE_SELECTOR_MIME, bo.get()));
  EntityRef e(mimeEncode(opt.get(), body.get(), nullptr, nullptr));
  EXPECT_EQ(cteOf(e.get()), "base64");
}

struct FieldsCase {
  const char *label;
  bool body, contentType, contentId;
};

const FieldsCase kFields[] = {
    {"nothing", false, false, false}, {"body", true, false, false},      {"body and type", true, true, false},
    {"all three", true, true, true},  {"type only", false, true, false}, {"id only", false, false, true},
};

TEST(Encode, WritesAFieldForEachGivenInputOnly) {
  OptionsRef opt = defaultOptions();
  BufferRef body = buf("x\r\n");
  TypeRef type(mimeContentTypeCreateCstr("text/plain", -1));
  StringRef id = str("part1@example");
  for (const FieldsCase &c : kFields) {
    EntityRef e(mimeEncode(opt.get(), c.body ? body.get() : nullptr, c.contentType ? type.get() : nullptr,
                           c.contentId ? id.get() : nullptr));
    EXPECT_EQ(mimeEntityHasBody(e.get()), c.body) << c.label;
    EXPECT_EQ(mimeEntityHasContentTransferEncoding(e.get()), c.body) << c.label;
    EXPECT_EQ(mimeEntityHasContentType(e.get()), c.contentType) << c.label;
    EXPECT_EQ(mimeEntityHasContentId(e.get()), c.contentId) << c.label;
  }
  EntityRef all(mimeEncode(opt.get(), body.get(), type.get(), id.get()));
  EXPECT_EQ(viewOf(all.get()), (EntityView{"text/plain", "7bit", "<part1@example>", "x\r\n"}));
}

TEST(Encode, FoldsAsIfTheFieldNamesStoodBeforeTheValues) {
  OptionsRef opt = defaultOptions();
  mimeOptionsSetWrapLineLength(opt.addr(), 20);  // below the 27 of "Content-Transfer-Encoding: "
  TypeRef type(mimeContentTypeCreateCstr("application/octet-stream", -1));
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "name", -1, "a-rather-long-file-name.bin", -1);
  BufferRef body = buf("abc");  // quoted-printable: 16 characters after 27
  EntityRef e(mimeEncode(opt.get(), body.get(), type.get(), nullptr));

  StringRef expectedType(mimeContentTypeEncode(type.get(), opt.get(), 14));
  StringRef expectedCte(
      mimeContentTransferEncodingEncode(MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE, opt.get(), 27));
  StringRef unshiftedCte(
      mimeContentTransferEncodingEncode(MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE, opt.get(), 0));
  const EntityView v = viewOf(e.get());
  EXPECT_EQ(v.contentType, utf8Of(expectedType.get()));
  EXPECT_EQ(v.contentTransferEncoding, utf8Of(expectedCte.get()));
  EXPECT_NE(utf8Of(expectedCte.get()), utf8Of(unshiftedCte.get()));  // the offset matters at this length
}

TEST(Encode, LengthFirstChoiceEqualsEncodingBothWays) {
  BodySource random(42);
  OptionsRef shortLines = defaultOptions();
  kx::Ref<RFC_QUOP_OPTIONS> qo(rfcQuopOptionsCreate());
  rfcQuopOptionsSetOutputLineLength(qo.addr(), 20);
  mimeOptionsSetRfcQuopOptions(shortLines.addr(), qo.get());
  kx::Ref<RFC_BASE_OPTIONS> bo(rfcBaseOptionsCreate());
  rfcBaseOptionsSetOutputLineLength(bo.addr(), 0);
  mimeOptionsSetRfcBaseOptions(shortLines.addr(), bo.get());
  OptionsRef defaults = defaultOptions();

  int quopChosen = 0, baseChosen = 0;
  for (int round = 0; round < 600; ++round) {
    MIME_OPTIONS *opt = round % 2 ? shortLines.get() : defaults.get();
    std::string bytes = random.body();
    if (round % 7 == 0) bytes += "\x80";  // never 7bit-clean
    BufferRef body = buf(bytes);
    if (mimeContentTransferEncodingCheck(MIME_CONTENT_TRANSFER_ENCODING_7BIT, body.get())) continue;
    const auto [cte, encoded] = encodeBothWays(opt, body.get());
    EntityRef e(mimeEncode(opt, body.get(), nullptr, nullptr));
    ASSERT_EQ(cteOf(e.get()), cte) << "round " << round;
    BufferRef stored(mimeEntityBody(e.get()));
    ASSERT_TRUE(sameBytes(encoded, bytesOf(stored.get()))) << "round " << round;
    (cte == "base64" ? baseChosen : quopChosen)++;
  }
  EXPECT_GT(quopChosen, 50);
  EXPECT_GT(baseChosen, 50);
}

TEST(Encode, APartialLastOctetGoesBase64) {
  // 12 bits: not whole octets, so never 7bit; quoted-printable declines such a body.
  OptionsRef opt = defaultOptions();
  const kxByte bits[2] = {0x41, 0x40};
  BufferRef body(kxBufferCreateFromBits(bits, 12));
  EntityRef e(mimeEncode(opt.get(), body.get(), nullptr, nullptr));
  EXPECT_EQ(cteOf(e.get()), encodeBothWays(opt.get(), body.get()).first);
}

using EncodeDeathTest = ::testing::Test;

TEST(EncodeDeathTest, BrokenPreconditionsAbort) {
  OptionsRef opt = defaultOptions();
  StringRef badId = str("a\r\nb");
  EXPECT_DEATH(mimeEncode(nullptr, nullptr, nullptr, nullptr), abortText("", "opt"));
  EXPECT_DEATH(mimeEncode(opt.get(), nullptr, nullptr, badId.get()),
               abortText("", "!optionalContentId || mimeContentIdOk( optionalContentId )"));
}

}  // namespace

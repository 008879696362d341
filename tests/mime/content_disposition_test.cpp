// The Content-Disposition object and its decoder: what it reads (type, parameters, RFC 2231 file names), what
// it refuses, and copy-on-write of its changers.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

using DispositionRef = kx::Ref<MIME_CONTENT_DISPOSITION>;

constexpr kxInt kParse = MIME_FLAG_PARSE_RFC2231_HEADERS;

// A disposition as "type;key=value;..." with the keys in order, or "<null>".
std::string form(MIME_CONTENT_DISPOSITION *disposition) {
  if (!disposition) return "<null>";
  return test_support::form(utf8Of(StringRef(mimeContentDispositionType(disposition)).get()),
                            paramsOf(DictRef(mimeContentDispositionParametersDict(disposition)).get()));
}

// Read twice, from a string and from the UTF-8 octets, which must read alike.
std::string decode(const std::string &text, kxInt flags = kParse) {
  const std::string result =
      form(DispositionRef(mimeContentDispositionTryDecode(str(text).get(), options(flags).get())).get());
  EXPECT_EQ(form(DispositionRef(mimeContentDispositionTryDecodeCstr(
                                    text.data(), static_cast<kxInt>(text.size()), options(flags).get()))
                     .get()),
            result)
      << text;
  return result;
}

TEST(ContentDispositionDecode, ReadsTypeAndParameters) {
  const std::tuple<const char *, const char *, kxInt, const char *> rows[] = {
      // label, text, flags, expected
      {"quoted file name", "attachment; filename=\"a b;c.txt\"", kParse, "attachment;filename=a b;c.txt"},
      {"type and key in any case", "ATTACHMENT; FileName=X.TXT", kParse, "attachment;filename=X.TXT"},
      {"comments, folds", "(c) inline (d);\r\n size=42", kParse, "inline;size=42"},
      {"extension type kept", "form-data; name=field", kParse, "form-data;name=field"},
      {"dates kept as text", "attachment; creation-date=\"Wed, 12 Feb 1997 16:29:51 -0500\"", kParse,
       "attachment;creation-date=Wed, 12 Feb 1997 16:29:51 -0500"},
      {"extended file name", "attachment; filename*=UTF-8''%E2%82%AC%20rates.txt", kParse,
       "attachment;filename=\xE2\x82\xAC rates.txt"},
      {"character split across sections", "attachment; filename*0*=UTF-8''%E2%82; filename*1*=%AC.txt",
       kParse, "attachment;filename=\xE2\x82\xAC.txt"},
      {"extended form wins over the plain one", "attachment; filename=a.txt; filename*=UTF-8''b.txt", kParse,
       "attachment;filename=b.txt"},
      {"sections left alone without the parse flag", "attachment; filename*=UTF-8''b.txt", 0,
       "attachment;filename*=UTF-8''b.txt"},
      {"lenient after the type", "attachment filename=x", kParse, "attachment"},
      {"parameter without value", "attachment; filename", kParse, "attachment;filename="},
      {"empty", "", kParse, "<null>"},
      {"comment only", " (attachment) ", kParse, "<null>"},
      {"quoted type", "\"attachment\"", kParse, "<null>"},
      {"parameters only", "; filename=x", kParse, "<null>"},
      {"non-ASCII type",
       "att\xC3\xA4"
       "chment",
       kParse, "<null>"},
      {"unclosed quoted string", "attachment; filename=\"open", kParse, "<null>"},
  };
  for (const auto &[label, text, flags, expected] : rows) EXPECT_EQ(decode(text, flags), expected) << label;
}

std::string encode(MIME_CONTENT_DISPOSITION *disposition, MIME_OPTIONS *mo, kxInt offset = 21) {
  return utf8Of(StringRef(mimeContentDispositionEncode(disposition, mo, offset)).get());
}

DispositionRef attachmentNamed(const std::string &filename) {
  DispositionRef disposition(mimeContentDispositionCreateCstr("attachment", -1));
  mimeContentDispositionSetFilename(disposition.addr(), str(filename).get());
  return disposition;
}

TEST(ContentDispositionEncode, WritesTheParameterListAsContentTypeDoes) {
  const std::string longName(70, 'n');
  const std::tuple<const char *, std::string, kxInt, std::string> rows[] = {
      // label, file name, flags, expected
      {"quoted", "a b.txt", MIME_OPTIONS_DEFAULT_FLAGS, "attachment;filename=\"a b.txt\""},
      {"apostrophe quoted", "it's.txt", MIME_OPTIONS_DEFAULT_FLAGS, "attachment;filename=\"it's.txt\""},
      {"non-ASCII extended", "\xC3\xA9.txt", MIME_OPTIONS_DEFAULT_FLAGS,
       "attachment;filename*=UTF-8''%C3%A9.txt"},
      {"non-ASCII left out without RFC 2231", "\xC3\xA9.txt", 0, "attachment"},
      {"line break left out without RFC 2231", "a\r\nb", 0, "attachment"},
      {"sections folded after the semicolon", longName, MIME_OPTIONS_DEFAULT_FLAGS,
       "attachment;filename*0=" + longName.substr(0, 60) + ";\r\n filename*1=" + longName.substr(60)},
  };
  for (const auto &[label, filename, flags, expected] : rows)
    EXPECT_TRUE(sameBytes(expected, encode(attachmentNamed(filename).get(), options(flags).get()))) << label;
}

TEST(ContentDispositionObject, FilenameTypeAndOrder) {
  DispositionRef disposition(mimeContentDispositionCreateCstr("Attachment", -1));
  EXPECT_EQ(form(disposition.get()), "attachment");
  EXPECT_FALSE(StringRef(mimeContentDispositionFilename(disposition.get())));
  mimeContentDispositionSetFilename(disposition.addr(), str("r\xC3\xA9sum\xC3\xA9.pdf").get());
  EXPECT_EQ(utf8Of(StringRef(mimeContentDispositionFilename(disposition.get())).get()),
            "r\xC3\xA9sum\xC3\xA9.pdf");
  // The type decides first, the parameters break a tie.
  DispositionRef inlined(mimeContentDispositionCreateCstr("inline", -1));
  EXPECT_GT(mimeContentDispositionCompare(inlined.get(), disposition.get()), 0);
  DispositionRef bare(mimeContentDispositionCreateCstr("attachment", -1));
  EXPECT_LT(mimeContentDispositionCompare(bare.get(), disposition.get()), 0);
  for (const char *type : {"x-y", "a.b", "~!#$&{}|`^"})
    EXPECT_TRUE(mimeContentDispositionTypeOk(str(type).get())) << type;
  for (const char *type : {"", "a b", "a/b", "\xC3\xA4", "a\x7F", "a\xC2\x80"})
    EXPECT_FALSE(mimeContentDispositionTypeOk(str(type).get())) << type;
}

// Each changer applied to a private disposition and to one that a second holder also references.
TEST(ContentDispositionCopyOnWrite, SharedIsCopiedPrivateChangedInPlace) {
  const std::pair<void (*)(MIME_CONTENT_DISPOSITION **), const char *> rows[] = {
      {[](auto d) { mimeContentDispositionSetTypeCstr(d, "INLINE", -1); }, "inline;size=1"},
      {[](auto d) { mimeContentDispositionSetFilename(d, str("f").get()); }, "attachment;filename=f;size=1"},
      {[](auto d) { mimeContentDispositionDelParameterCstr(d, "Size", -1); }, "attachment"},
      {[](auto d) { mimeContentDispositionClearParameters(d); }, "attachment"},
  };
  for (const auto &[change, expected] : rows) {
    for (bool shared : {false, true}) {
      DispositionRef mine(mimeContentDispositionCreateCstr("attachment", -1));
      mimeContentDispositionSetParameterCstrCstrValue(mine.addr(), "size", -1, "1", -1);
      MIME_CONTENT_DISPOSITION *before = mine.get();
      DispositionRef other(shared ? mimeContentDispositionRetain(before) : nullptr);
      change(mine.addr());
      EXPECT_EQ(form(mine.get()), expected);
      EXPECT_EQ(mine.get() != before, shared) << expected;
      if (shared) {
        EXPECT_EQ(form(other.get()), "attachment;size=1");
      }
    }
  }
}

}  // namespace

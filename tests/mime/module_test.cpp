// The module: its record and banner, start and stop (and stop again), and the common object family that
// one macro writes for all four kinds.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>

#include "mime/mime_object.hpp"
#include "support/test_support.hpp"

namespace {

using namespace test_support;

// "UTC 2026-12-06 08:18:19 (Sunday)": the weekday must be the one of the date.
TEST(Module, BuildTimeHasTheStatedFormAndAConsistentWeekday) {
  static const char *const kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  std::cmatch m;
  const std::regex form(R"(UTC (\d{4})-(\d{2})-(\d{2}) ([01]\d|2[0-3]):[0-5]\d:[0-6]\d \(([A-Z][a-z]+)\))");
  ASSERT_TRUE(std::regex_match(mime___module_record.buildTime, m, form)) << mime___module_record.buildTime;
  const std::chrono::year_month_day date{std::chrono::year{std::stoi(m[1])},
                                         std::chrono::month{static_cast<unsigned>(std::stoi(m[2]))},
                                         std::chrono::day{static_cast<unsigned>(std::stoi(m[3]))}};
  ASSERT_TRUE(date.ok());
  EXPECT_EQ(m[5].str(), kWeekdays[std::chrono::weekday{std::chrono::sys_days{date}}.c_encoding()]);
}

// Run in a child process, since the rest of the binary needs the started module.
TEST(ModuleDeathTest, ShutdownTwiceLeavesAllOnesAndAFreshStartupRebuilds) {
  EXPECT_EXIT(
      {
        const auto allOnes = reinterpret_cast<KX_FLAGSET *>(~uintptr_t{0});
        mime___ModuleShutdown();
        bool ok = mime___FlagsFlagset == allOnes && mime___EncodeFlagsFlagset == allOnes;
        mime___ModuleShutdown();  // a second shutdown must not release the all-ones marker
        ok = ok && mime___FlagsFlagset == allOnes && mime___ModuleStartup() == 1;
        KX_STRING *text = mimeFlagsToString(MIME_FLAG_GENERATE_EIGHT_BIT_BODY);
        ok = ok && mimeFlagsFromString(text) == MIME_FLAG_GENERATE_EIGHT_BIT_BODY;
        kxObjRelease(kxStringObj(text));
        std::exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ModuleDeathTest, TextFormsAfterShutdownAbortInsteadOfTouchingTheDeadFlagset) {
  EXPECT_DEATH(
      {
        mime___ModuleShutdown();
        kxObjRelease(kxStringObj(mimeEncodeFlagsToString(1)));
      },
      "kx abort: .*mime___EncodeFlagsFlagset");
}

// --- the common object family ---

TEST(ObjectFamily, RetainAndReleaseCountAndTheLastReleaseFreesTheFields) {
  MIME_SHF_TOKEN *tok = mimeShfTokenCreateTspecial('/');
  KX_STRING *raw = mimeShfTokenRawValue(tok);  // outlives the token
  EXPECT_EQ(mimeShfTokenRetain(tok), tok);
  EXPECT_EQ(refsOf(tok), 2);
  mimeShfTokenRelease(tok);
  mimeShfTokenRelease(tok);  // frees the token, which releases its raw value once
  EXPECT_EQ(refsOf(raw), 1);
  kxObjRelease(kxStringObj(raw));
  EXPECT_EQ(mimeShfTokenFrom(nullptr), nullptr);
}

// Entities have no compare function: equal only to themselves. (Options and content types compare by value.)
TEST(ObjectFamily, WithoutACompareFunctionObjectsAreEqualOnlyToThemselves) {
  EntityRef e1(mimeEntityCreate()), e2(mimeEntityCreate());
  EXPECT_TRUE(mimeEntityEquals(e1.get(), e1.get()));
  EXPECT_FALSE(mimeEntityEquals(e1.get(), e2.get()));
  EXPECT_EQ(mimeEntityCompare(e1.get(), e2.get()), -mimeEntityCompare(e2.get(), e1.get()));
  EXPECT_GT(kxStringLength(StringRef(mimeEntityToString(e1.get())).get()), 0);
}

VectorRef oneToken(MIME_SHF_TOKEN *adopted) {
  VectorRef vec(kxVectorCreate());
  kxVectorAppendObj(vec.addr(), mimeShfTokenObj(kx::Ref<MIME_SHF_TOKEN>(adopted).get()));
  return vec;
}

// A contract broken by the caller aborts with the expression it broke (and, for the object family, which is
// written once for every kind, with the label of the function: one kind stands for all).
TEST(ContractDeathTest, EachAbortCarriesItsExpression) {
  const std::tuple<std::function<void()>, const char *, const char *> rows[] = {
      // call, label, expression
      {[] { mimeEntityFrom(kxStringObj(kxStringCreateFromCstr("x", -1))); }, "stdfunc from",
       "!obj || kxObjSort(obj)==&mime___sort_MIME_ENTITY"},
      {[] { mimeOptionsRetain(nullptr); }, "stdfunc retain", "obj"},
      {[] { mimeShfTokenRelease(nullptr); }, "stdfunc release", "obj"},
      {[] { mimeContentTypeToString(nullptr); }, "stdfunc tostring", "obj"},
      {[] { mimeShfTokenCompare(nullptr, nullptr); }, "stdfunc compare a", "objA"},
      {[] { mimeEntityCompare(mimeEntityCreate(), nullptr); }, "stdfunc compare b", "objB"},
      {[] { mimeOptionsSetWrapLineLength(options().addr(), -2); }, "", "wrapLineLength >= -1"},
      {[] { mimeOptionsSetRfc2231Charset(options().addr(), -1); }, "", "KX_CHARSET_OK( charset )"},
      {[] { mimeOptionsSetRfc2231MaxSegmentLength(options().addr(), 0); }, "",
       "maxSegmentLength == -1 || maxSegmentLength > 0"},
      {[] { mimeOptionsSetReaderLimit(options().addr(), MIME_READER_LIMIT_COUNT, 1); }, "",
       "MIME_READER_LIMIT_OK( which )"},
      {[] { mimeOptionsSetReaderLimit(options().addr(), MIME_READER_LIMIT_PARTS, -1); }, "", "limit >= 0"},
      {[] { mimeOptionsSetFlags(nullptr, 1); }, "", "mo"},
      {[] {
         MIME_ENTITY *none = nullptr;
         mimeEntitySetContentId(&none, str("x").get());
       },
       "", "*ent"},
      {[] { mimeContentTypeSetNameCstr(contentType("text/plain").addr(), "image/*", -1); }, "",
       "mimeContentTypeNameOk( name )"},
      {[] { mimeContentTypeParameterCstr(contentType("text/plain").get(), "a b", -1); }, "",
       "mimeContentTypeParameterKeyOk( key )"},
      {[] {
         kx::Ref<MIME_CONTENT_DISPOSITION> d(mimeContentDispositionCreateCstr("inline", -1));
         mimeContentDispositionSetTypeCstr(d.addr(), "a b", -1);
       },
       "", "mimeContentDispositionTypeOk( type )"},
      {[] {
         kx::Ref<MIME_CONTENT_DISPOSITION> d(mimeContentDispositionCreateCstr("inline", -1));
         mimeContentDispositionParameterCstr(d.get(), "a=b", -1);
       },
       "", "mimeContentTypeParameterKeyOk( key )"},
      {[] { mimeContentIdEncode(str("a\r\nb").get()); }, "", "mimeContentIdOk( cid )"},
      {[] { mimeEncode(options().get(), nullptr, nullptr, str("a\r\nb").get()); }, "",
       "!optionalContentId || mimeContentIdOk( optionalContentId )"},
      {[] { mimeContentTransferEncodingCheck(-1, buf("x\r\n").get()); }, "",
       "MIME_CONTENT_TRANSFER_ENCODING_OK( cte )"},
      {[] { mime___MultipartFindDelimiter(str("ends in space ").get(), buf("abc").get(), 0); }, "",
       "mimeMultipartBoundaryOk( boundary )"},
      {[] { mime___MultipartFindDelimiter(str("B1").get(), buf("abc").get(), 4); }, "",
       "offset <= kxBufferLength( buf )"},
      {[] {
         mimeMultipartTryPack(mixedWithBoundary("B").addr(), VectorRef(kxVectorCreate()).get(),
                              options().get());
       },
       "", "kxVectorLength( entities )"},
      {[] {
         mimeMultipartTryPack(mixedWithBoundary("B").addr(), oneToken(mimeShfTokenCreateTspecial('/')).get(),
                              options().get());
       },
       "", "kxVectorContainsOnly( entities, mimeEntitySort() )"},
      {[] { mimeShfTokenCreateTspecial(' '); }, "", "mime___CharIsTspecial( tspecial )"},
      {[] { mimeShfTokenVectorEncode(vectorOf({{}}).get(), options().get(), 0); }, "",
       "kxVectorContainsOnly( vec, mimeShfTokenSort() )"},
      {[] { mimeShfTokenVectorEncode(oneToken(mimeShfTokenCreateTspecial('/')).get(), options().get(), -1); },
       "", "firstLineOffset >= 0"},
      {[] {
         mimeShfTokenVectorEncode(oneToken(mimeShfTokenCreateTspecial('/')).get(), options(3, -1).get(),
                                  KX_INT_MAX);
       },
       "", "KX_INT_ADD_OK( *curLineLength, appendLength + !!space )"},
      {[] {
         StringRef out(kxStringCreate());
         kxInt line = -1;
         mime___ShfTokenVectorAppend(out.addr(), out.get(), 0, &line, 0);
       },
       "", "*curLineLength >= 0"},
      {[] { MIME_FLAGSET_ADD(&mime___FlagsFlagset, MIME_FLAG_PARSE_RFC2231_HEADERS); }, "",
       "!kxFlagsetHasFlagCstr( *(&mime___FlagsFlagset), \"MIME_FLAG_PARSE_RFC2231_HEADERS\", -1 )"},
  };
  for (const auto &[call, label, expression] : rows)
    EXPECT_DEATH(call(), abortText(label, expression)) << expression;
}

}  // namespace

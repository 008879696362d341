// The module object, its record and banner, start and stop, and the common object family of the kinds
// defined in this area (options and tokens).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>

#include "kx/kx.h"
#include "mime/mime.h"
#include "support/death_text.hpp"

using test_support::abortText;

namespace {

TEST(Module, ObjectPointsAtRecordAndLifecycleFunctions) {
  KX_MODULE *module = mimeModule();
  ASSERT_EQ(module, &mime___module);
  EXPECT_EQ(kxObjSort(&module->obj), &kx___sort_KX_MODULE);
  EXPECT_EQ(kx___ObjRefCount(&module->obj), KX_OBJ_PERMANENT_REFS);
  EXPECT_EQ(module->record, &mime___module_record);
  EXPECT_EQ(module->startup, &mime___ModuleStartup);
  EXPECT_EQ(module->optional, nullptr);
  EXPECT_EQ(module->shutdown, &mime___ModuleShutdown);
  for (void *slot : module->reserved) EXPECT_EQ(slot, nullptr);
  // Retaining and releasing the permanent object leaves it alone.
  kxObjRelease(kxObjRetain(&module->obj));
  EXPECT_EQ(kx___ObjRefCount(&module->obj), KX_OBJ_PERMANENT_REFS);
}

TEST(Module, RecordHoldsTheModuleFields) {
  const KX_MODULE_RECORD &r = mime___module_record;
  EXPECT_EQ(r.formatVersion, 2);
  EXPECT_STRNE(r.productIdentifier, "");
  EXPECT_STRNE(r.productName, "");
  EXPECT_STRNE(r.vendorName, "");
  EXPECT_STRNE(r.legalNotice, "");
  EXPECT_STREQ(r.moduleName, "mime");
  EXPECT_STREQ(r.moduleDescription, "Multipurpose Internet Mail Extensions");
  EXPECT_STREQ(r.moduleVersion, "0.0");
  EXPECT_STREQ(r.reserved, "");
  // Three library names, single blanks between them.
  EXPECT_TRUE(std::regex_match(r.dependencies, std::regex("[a-z0-9_]+ [a-z0-9_]+ [a-z0-9_]+")))
      << r.dependencies;
  EXPECT_GE(r.productVersionMajor, 0);
  EXPECT_GE(r.productVersionMinor, 0);
  EXPECT_GE(r.productVersionPatch, 0);
}

// "UTC 2026-12-06 08:18:19 (Sunday)": the weekday must be the one of the date.
TEST(Module, BuildTimeHasTheStatedFormAndAConsistentWeekday) {
  static const char *const kWeekdays[] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                          "Thursday", "Friday", "Saturday"};
  std::cmatch m;
  const std::regex form(R"(UTC (\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2}) \(([A-Z][a-z]+)\))");
  ASSERT_TRUE(std::regex_match(mime___module_record.buildTime, m, form)) << mime___module_record.buildTime;
  const std::chrono::year_month_day date{std::chrono::year{std::stoi(m[1])},
                                         std::chrono::month{static_cast<unsigned>(std::stoi(m[2]))},
                                         std::chrono::day{static_cast<unsigned>(std::stoi(m[3]))}};
  ASSERT_TRUE(date.ok());
  EXPECT_LE(std::stoi(m[4]), 23);
  EXPECT_LE(std::stoi(m[5]), 59);
  EXPECT_LE(std::stoi(m[6]), 60);
  const std::chrono::weekday weekday{std::chrono::sys_days{date}};
  EXPECT_EQ(m[7].str(), kWeekdays[weekday.c_encoding()]);
}

TEST(Module, BannerNamesProductPlatformAndModuleVersion) {
  const std::string banner = mime___module_version_string;
  const std::string product = mime___module_record.productIdentifier;
  const std::string version = std::to_string(mime___module_record.productVersionMajor) + "." +
                              std::to_string(mime___module_record.productVersionMinor) + "." +
                              std::to_string(mime___module_record.productVersionPatch);
  EXPECT_EQ(banner.find('\n'), std::string::npos);
  EXPECT_TRUE(std::regex_match(
      banner, std::regex("\\S+ " + product + " " + version + R"( \([^()]+ [^()]+\), mime 0\.0)")))
      << banner;
}

TEST(Module, StartedModuleHoldsBothFlagSets) {
  EXPECT_TRUE(kxModuleStarted(mimeModule()));
  EXPECT_NE(mime___FlagsFlagset, nullptr);
  EXPECT_NE(mime___EncodeFlagsFlagset, nullptr);
  EXPECT_NE(mime___FlagsFlagset, mime___EncodeFlagsFlagset);
}

// Run in a child process, since the rest of the binary needs the started module.
TEST(ModuleDeathTest, ShutdownLeavesAllOnesAndAFreshStartupRebuilds) {
  EXPECT_EXIT(
      {
        const auto allOnes = reinterpret_cast<KX_FLAGSET *>(~uintptr_t{0});
        mime___ModuleShutdown();
        bool ok = mime___FlagsFlagset == allOnes && mime___EncodeFlagsFlagset == allOnes;
        mime___ModuleShutdown();  // a second shutdown must not release the all-ones marker
        ok = ok && mime___FlagsFlagset == allOnes;
        ok = ok && mime___ModuleStartup() == 1;
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
        kxObjRelease(kxStringObj(mimeFlagsToString(1)));
      },
      "kx abort: .*mime___FlagsFlagset");
}

// --- the common object family, for the kinds of this area ---

struct FamilySorts {
  const char *label;
  KX_SORT *sort;
  const char *name;
  KX_FREE_FUNC freeFunc;
  KX_COMPARE_FUNC compareFunc;
};

TEST(ObjectFamily, SortRecordsNameTheirFunctions) {
  const FamilySorts rows[] = {
      {"options", mimeOptionsSort(), "MIME_OPTIONS", mime___OptionsFreeFunc, mime___OptionsCompFunc},
      {"token", mimeShfTokenSort(), "MIME_SHF_TOKEN", mime___ShfTokenFreeFunc, nullptr},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(kxObjSort(&row.sort->obj), kxSortSort());
    EXPECT_EQ(kx___ObjRefCount(&row.sort->obj), KX_OBJ_PERMANENT_REFS);
    EXPECT_EQ(row.sort->module, mimeModule());
    EXPECT_STREQ(kxSortName(row.sort), row.name);
    EXPECT_EQ(row.sort->freeFunc, row.freeFunc);
    EXPECT_EQ(row.sort->compareFunc, row.compareFunc);
    EXPECT_EQ(row.sort->toStringFunc, nullptr);
  }
  EXPECT_EQ(mimeOptionsSort(), &mime___sort_MIME_OPTIONS);
  EXPECT_EQ(mimeShfTokenSort(), &mime___sort_MIME_SHF_TOKEN);
}

TEST(ObjectFamily, FromPassesNullAndItsOwnSort) {
  EXPECT_EQ(mimeOptionsFrom(nullptr), nullptr);
  EXPECT_EQ(mimeShfTokenFrom(nullptr), nullptr);
  MIME_OPTIONS *mo = mimeOptionsCreate();
  EXPECT_EQ(mimeOptionsFrom(mimeOptionsObj(mo)), mo);
  EXPECT_EQ(mimeOptionsObj(mo), reinterpret_cast<KX_OBJ *>(mo));
  mimeOptionsRelease(mo);
}

TEST(ObjectFamily, RetainAndReleaseCountAtomicallyAndFreeOnTheLast) {
  MIME_SHF_TOKEN *tok = mimeShfTokenCreateTspecial('/');
  KX_STRING *raw = mimeShfTokenRawValue(tok);  // outlives the token
  EXPECT_EQ(kx___ObjRefCount(kxStringObj(raw)), 2);
  EXPECT_EQ(mimeShfTokenRetain(tok), tok);
  EXPECT_EQ(kx___ObjRefCount(mimeShfTokenObj(tok)), 2);
  mimeShfTokenRelease(tok);
  mimeShfTokenRelease(tok);  // frees the token, which releases its raw value once
  EXPECT_EQ(kx___ObjRefCount(kxStringObj(raw)), 1);
  kxObjRelease(kxStringObj(raw));
}

TEST(ObjectFamily, CompareAndEqualsFollowTheSortsCompare) {
  MIME_OPTIONS *a = mimeOptionsCreate();
  MIME_OPTIONS *b = mimeOptionsCreate();
  EXPECT_EQ(mimeOptionsCompare(a, b), 0);
  EXPECT_TRUE(mimeOptionsEquals(a, b));
  mimeOptionsSetWrapLineLength(&b, 10);
  EXPECT_EQ(mimeOptionsCompare(b, a), -1);  // explicit before default
  EXPECT_EQ(mimeOptionsCompare(a, b), 1);
  EXPECT_FALSE(mimeOptionsEquals(a, b));
  // Tokens have no compare function: identity order, equal only to themselves.
  MIME_SHF_TOKEN *t1 = mimeShfTokenCreateTspecial(';');
  MIME_SHF_TOKEN *t2 = mimeShfTokenCreateTspecial(';');
  EXPECT_TRUE(mimeShfTokenEquals(t1, t1));
  EXPECT_FALSE(mimeShfTokenEquals(t1, t2));
  EXPECT_EQ(mimeShfTokenCompare(t1, t2), -mimeShfTokenCompare(t2, t1));
  KX_STRING *text = mimeShfTokenToString(t1);
  EXPECT_GT(kxStringLength(text), 0);
  kxObjRelease(kxStringObj(text));
  mimeShfTokenRelease(t1);
  mimeShfTokenRelease(t2);
  mimeOptionsRelease(a);
  mimeOptionsRelease(b);
}

struct FamilyAbort {
  const char *label;
  std::function<void()> call;
  const char *abortLabel;
  const char *expression;
};

TEST(ObjectFamilyDeathTest, ContractAbortsCarryTheirLabelAndExpression) {
  KX_STRING *someString = kxStringCreateFromCstr("x", -1);  // an object of another sort
  const FamilyAbort rows[] = {
      {"options from another sort", [someString] { mimeOptionsFrom(kxStringObj(someString)); },
       "stdfunc from", "!obj || kxObjSort(obj)==&mime___sort_MIME_OPTIONS"},
      {"token from another sort", [someString] { mimeShfTokenFrom(kxStringObj(someString)); }, "stdfunc from",
       "!obj || kxObjSort(obj)==&mime___sort_MIME_SHF_TOKEN"},
      {"retain null", [] { mimeOptionsRetain(nullptr); }, "stdfunc retain", "obj"},
      {"release null", [] { mimeShfTokenRelease(nullptr); }, "stdfunc release", "obj"},
      {"tostring null", [] { mimeOptionsToString(nullptr); }, "stdfunc tostring", "obj"},
      {"compare null a", [] { mimeShfTokenCompare(nullptr, nullptr); }, "stdfunc compare a", "objA"},
      {"compare null b",
       [] {
         MIME_OPTIONS *mo = mimeOptionsCreate();
         mimeOptionsCompare(mo, nullptr);
       },
       "stdfunc compare b", "objB"},
      {"create from null", [] { mimeOptionsCreateFrom(nullptr); }, "", "source"},
  };
  for (const auto &row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_DEATH(row.call(), abortText(row.abortLabel, row.expression));
  }
  kxObjRelease(kxStringObj(someString));
}

}  // namespace

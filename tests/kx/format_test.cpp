// Formatting: every directive, integer widths and bases, released arguments, ill-formed literal text.
// (Broken formats: the contract table of obj_test.cpp.)
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/test_support.hpp"

using namespace test_support;

namespace {

// {format, value, text}
const std::tuple<const char *, kxInt, const char *> kIntegerCases[] = {
    {"%i", 0, "0"},
    {"%i", KX_INT_MAX, "9223372036854775807"},
    {"%i", KX_INT_MIN, "-9223372036854775808"},
    {"%^02!16i", 10, "0A"},
    {"%^02!16i", 0x1FF, "1FF"},  // the width is a minimum
    {"%!16i", 255, "ff"},
    {"%08!2i", 5, "00000101"},
    {"%5i", -42, "  -42"},
    {"%05i", -42, "-0042"},  // zeros after the sign
    {"%^!36i", 35, "Z"},
    {"%!16i", KX_INT_MIN, "-8000000000000000"},
};

TEST(Format, Integers) {
  for (auto [format, value, expected] : kIntegerCases) {
    EXPECT_EQ(utf8Of(StringRef(kxStringCreateFromFormatCstr(format, value)).get()), expected) << format;
  }
}

TEST(Format, StringsObjectsAndCStrings) {
  StringRef name = str("text/plain");
  VectorRef v(kxVectorCreate());
  kxVectorAppendObj(v.addr(), kxStringObj(name.get()));
  StringRef s(kxStringCreateFromFormatCstr("%s %o %lc 100%% \xC3\xA9 \xFF", name.get(), kxVectorObj(v.get()),
                                           "caf\xC3\xA9"));
  EXPECT_EQ(utf8Of(s.get()), "text/plain [text/plain] caf\xC3\xA9 100% \xC3\xA9 \xEF\xBF\xBD");
  EXPECT_EQ(refsOf(name.get()), 2) << "borrowed arguments keep their references";
}

TEST(Format, TildeReleasesTheArgument) {
  StringRef kept = str("kept");
  KX_STRING *handedOver = kxStringCreateFromCstr("given", -1);
  kxObjRetain(kxStringObj(kept.get()));
  StringRef s(kxStringCreateFromFormatCstr("%~s/%~o", handedOver, kxStringObj(kept.get())));
  EXPECT_EQ(utf8Of(s.get()), "given/kept");
  EXPECT_EQ(refsOf(kept.get()), 1);  // LeakSanitizer checks that handedOver was freed
}

}  // namespace

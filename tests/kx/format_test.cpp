// Formatting: every directive, integer widths and bases, released arguments, and aborts on bad formats.
#include <gtest/gtest.h>

#include <string>

#include "kx_test.hpp"

using namespace kxtest;

namespace {

struct IntegerCase {
  const char *label;
  const char *format;
  kxInt value;
  const char *expected;
};

const IntegerCase kIntegerCases[] = {
    {"decimal", "%i", 42, "42"},
    {"zero", "%i", 0, "0"},
    {"negative", "%i", -7, "-7"},
    {"largest", "%i", KX_INT_MAX, "9223372036854775807"},
    {"smallest", "%i", KX_INT_MIN, "-9223372036854775808"},
    {"upper hex, two digits", "%^02!16i", 10, "0A"},
    {"upper hex, wider value", "%^02!16i", 0x1FF, "1FF"},
    {"lower hex", "%!16i", 255, "ff"},
    {"binary", "%08!2i", 5, "00000101"},
    {"space padding", "%5i", 42, "   42"},
    {"zero padding after the sign", "%05i", -42, "-0042"},
    {"space padding before the sign", "%5i", -42, "  -42"},
    {"base 36", "%^!36i", 35, "Z"},
    {"hex of the smallest", "%!16i", KX_INT_MIN, "-8000000000000000"},
};

TEST(Format, Integers) {
  for (const auto &c : kIntegerCases) {
    StringRef s(kxStringCreateFromFormatCstr(c.format, c.value));
    EXPECT_EQ(utf8Of(s.get()), c.expected) << c.label;
  }
}

TEST(Format, StringsObjectsAndCStrings) {
  StringRef name = str("text/plain");
  VectorRef v(kxVectorCreate());
  kxVectorAppendObj(v.addr(), kxStringObj(name.get()));
  StringRef s(kxStringCreateFromFormatCstr("%s %o %lc 100%% \xC3\xA9", name.get(), kxVectorObj(v.get()),
                                           "caf\xC3\xA9"));
  EXPECT_EQ(utf8Of(s.get()), "text/plain [text/plain] caf\xC3\xA9 100% \xC3\xA9");
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

TEST(Format, AppendFormatIsCopyOnWrite) {
  StringRef mine = str("--");
  StringRef other = StringRef::retained(mine.get());
  kxStringAppendFormatCstr(mine.addr(), "%s%i", other.get(), kxInt{1});
  EXPECT_EQ(utf8Of(mine.get()), "----1");
  EXPECT_EQ(utf8Of(other.get()), "--");
}

TEST(Format, InvalidUtf8InLiteralText) {
  StringRef s(kxStringCreateFromFormatCstr("a\xFF%i", kxInt{1}));
  EXPECT_EQ(charsOf(s.get()), (std::vector<kxChar>{'a', 0xFFFD, '1'}));
}

TEST(FormatDeathTest, BrokenFormatsAndArgumentsAbort) {
  EXPECT_DEATH(kxStringCreateFromFormatCstr("%d", 1), abortLine("kx_format\\.cpp", "\\*p == 's'.*"));
  EXPECT_DEATH(kxStringCreateFromFormatCstr("%", 1), "kx_format\\.cpp");
  EXPECT_DEATH(kxStringCreateFromFormatCstr("%02s", nullptr), "d->conversion == 'i'");
  EXPECT_DEATH(kxStringCreateFromFormatCstr("%!1i", kxInt{1}), "d->base >= 2 && d->base <= 36");
  EXPECT_DEATH(kxStringCreateFromFormatCstr("%s", nullptr), abortLine("kx_format\\.cpp", "s"));
  EXPECT_DEATH(kxStringCreateFromFormatCstr(nullptr), abortLine("kx_format\\.cpp", "format"));
  BufferRef b = buf("x");
  EXPECT_DEATH(kxStringCreateFromFormatCstr("%s", b.get()),
               "kxObjSort\\(kxStringObj\\(s\\)\\) == kxStringSort\\(\\)");
}

}  // namespace

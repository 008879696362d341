// The Content-Type object: name and key rules, parameter storage, copy-on-write, order, text form.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

TEST(ContentTypeName, AcceptsExactlyTypeSlashSubtypeAndLowersIt) {
  const std::pair<const char *, const char *> accepted[] = {
      {"Text/HTML", "text/html"},
      {"application/vnd.x+xml", "application/vnd.x+xml"},
      {"x_y/a.b-c9", "x_y/a.b-c9"}};
  for (const auto &[name, normal] : accepted) {
    EXPECT_TRUE(mimeContentTypeNameOk(str(name).get())) << name;
    EXPECT_EQ(utf8Of(StringRef(mimeContentTypeNameNormalize(str(name).get())).get()), normal);
    EXPECT_EQ(nameOf(contentType(name).get()), normal);
  }
  // The tilde is a token character, but not a name character.
  for (const char *name : {"text/", "/html", "text", "text/html/x", "text/h tml", "text/html;", "", "image/*",
                           "text/h~tml", "t\xC3\xA9xt/plain", "text/plain\r\n"})
    EXPECT_FALSE(mimeContentTypeNameOk(str(name).get())) << name;
}

TEST(ContentTypeKey, AcceptsPrintableAsciiWithoutTspecials) {
  for (const char *key : {"Charset", "title*0*", "a'b%c", "~!#$&{}|`^"})
    EXPECT_TRUE(mimeContentTypeParameterKeyOk(str(key).get())) << key;
  for (const char *key : {"a=b", "a b", "", "\xC3\xA4", "a\x7F", "a\tb", "a/b", "a\""})
    EXPECT_FALSE(mimeContentTypeParameterKeyOk(str(key).get())) << key;
}

TEST(ContentTypeParameter, KeysInAnyCaseAddressOneValueStoredExactlyAsGiven) {
  TypeRef type = contentType("text/plain");
  for (const char *value : {"", " spaced  out ", "\"quoted\"", "\xE2\x82\xAC", "line\r\nbreak", "a;b=c"}) {
    mimeContentTypeSetParameterCstrCstrValue(type.addr(), "Charset", -1, value, -1);
    EXPECT_EQ(parameterOf(type.get(), "CHARSET"), value);
  }
  EXPECT_EQ(form(type.get()), "text/plain;charset=a;b=c");
  EXPECT_FALSE(mimeContentTypeHasParameterCstr(type.get(), "b", -1));
  MIME_CONTENT_TYPE *before = type.get();
  mimeContentTypeDelParameterCstr(type.addr(), "b", -1);  // deletes nothing
  EXPECT_EQ(type.get(), before);
  mimeContentTypeDelParameterCstr(type.addr(), "cHaRsEt", -1);
  EXPECT_EQ(form(type.get()), "text/plain");
}

// Each changer applied to a private type and to a type that a second holder also references.
TEST(ContentTypeCopyOnWrite, SharedTypeIsCopiedPrivateTypeChangedInPlace) {
  const std::pair<void (*)(MIME_CONTENT_TYPE **), const char *> rows[] = {
      {[](auto t) { mimeContentTypeSetNameCstr(t, "Image/PNG", -1); }, "image/png;a=1"},
      {[](auto t) { mimeContentTypeSetParameterCstrCstrValue(t, "b", -1, "2", -1); }, "text/plain;a=1;b=2"},
      {[](auto t) { mimeContentTypeSetParameterCstrCstrValue(t, "A", -1, "9", -1); }, "text/plain;a=9"},
      {[](auto t) { mimeContentTypeDelParameterCstr(t, "a", -1); }, "text/plain"},
      {[](auto t) { mimeContentTypeClearParameters(t); }, "text/plain"},
  };
  for (const auto &[change, expected] : rows) {
    for (bool shared : {false, true}) {
      TypeRef mine = contentType("text/plain", {{"a", "1"}});
      MIME_CONTENT_TYPE *before = mine.get();
      TypeRef other = shared ? TypeRef::retained(mine.get()) : TypeRef();
      change(mine.addr());
      EXPECT_EQ(mine.get() == before, !shared) << expected;
      EXPECT_EQ(form(mine.get()), expected);
      EXPECT_EQ(shared ? form(other.get()) : "", shared ? "text/plain;a=1" : "");
      EXPECT_EQ(shared ? refsOf(other.get()) : 1, 1);
    }
  }
}

// A copy changes apart from its source; setting the name a type already holds must not free it first.
TEST(ContentTypeCopyOnWrite, CopiesStayApartAndSettingTheHeldNameKeepsItAlive) {
  TypeRef source = contentType("text/plain", {{"k", "kept"}});
  TypeRef copy(mimeContentTypeCreateFrom(source.get()));
  mimeContentTypeSetParameterCstrCstrValue(copy.addr(), "b", -1, "2", -1);
  EXPECT_EQ(form(source.get()), "text/plain;k=kept");
  EXPECT_EQ(form(copy.get()), "text/plain;b=2;k=kept");
  StringRef name(mimeContentTypeName(source.get()));
  const kxInt before = refsOf(name.get());
  mimeContentTypeSetName(source.addr(), name.get());
  EXPECT_EQ(refsOf(name.get()), before);
}

TEST(ContentTypeObject, CompareDecidesByNameThenByParametersAndTheTextFormShowsBoth) {
  TypeRef a = contentType("text/a", {{"z", "9"}}), b = contentType("text/b", {{"a", "1"}});
  EXPECT_LT(mimeContentTypeCompare(a.get(), b.get()), 0);
  EXPECT_GT(mimeContentTypeCompare(b.get(), a.get()), 0);
  TypeRef p1 = contentType("text/plain", {{"a", "1"}}), p2 = contentType("text/plain", {{"a", "2"}});
  EXPECT_LT(mimeContentTypeCompare(p1.get(), p2.get()), 0);
  EXPECT_TRUE(mimeContentTypeEquals(p1.get(), contentType("TEXT/Plain", {{"A", "1"}}).get()));

  TypeRef bare = contentType("text/plain");
  EXPECT_EQ(StringRef(mimeContentTypeToString(bare.get())).get(),
            StringRef(mimeContentTypeName(bare.get())).get());
  StringRef dictText(kxObjToString(kxDictObj(DictRef(mimeContentTypeParametersDict(p1.get())).get())));
  EXPECT_EQ(utf8Of(StringRef(mimeContentTypeToString(p1.get())).get()),
            "text/plain " + utf8Of(dictText.get()));
}

// Every C-string and wide-string variant against the string operation it stands for, lengths honoured.
TEST(ContentTypeVariants, CstrAndWcstrFormsMatchTheStringForms) {
  TypeRef type(mimeContentTypeCreateCstr("Text/Plainxyz", 10));
  EXPECT_EQ(nameOf(TypeRef(mimeContentTypeCreateWcstr(L"TEXT/plain", -1)).get()), "text/plain");
  mimeContentTypeSetNameWcstr(type.addr(), L"image/pngX", 9);
  mimeContentTypeSetParameterCstr(type.addr(), "k1zz", 2, str("obj").get());
  mimeContentTypeSetParameterWcstr(type.addr(), L"K2", -1, str("obj").get());
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "k3", -1, "\xE2\x82\xAC!", 3);
  mimeContentTypeSetParameterCstrWcstrValue(type.addr(), "k4", -1, L"\u20AC", -1);
  mimeContentTypeSetParameterWcstrCstrValue(type.addr(), L"k5", -1, "v5", -1);
  mimeContentTypeSetParameterWcstrWcstrValue(type.addr(), L"k6", 2, L"v6v6", 2);
  EXPECT_EQ(form(type.get()), "image/png;k1=obj;k2=obj;k3=\xE2\x82\xAC;k4=\xE2\x82\xAC;k5=v5;k6=v6");
  EXPECT_EQ(utf8Of(StringRef(mimeContentTypeParameterWcstr(type.get(), L"K3", -1)).get()), "\xE2\x82\xAC");
  EXPECT_TRUE(mimeContentTypeHasParameterWcstr(type.get(), L"K6", -1));
  mimeContentTypeDelParameterWcstr(type.addr(), L"k6", -1);
  mimeContentTypeDelParameterCstr(type.addr(), "k5xx", 2);
  EXPECT_EQ(form(type.get()), "image/png;k1=obj;k2=obj;k3=\xE2\x82\xAC;k4=\xE2\x82\xAC");
}

}  // namespace

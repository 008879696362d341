// The Content-Type object: name and key rules, parameter storage, copy-on-write, order, text form.
#include <gtest/gtest.h>

#include "mime/header_field_test.hpp"

namespace {

using namespace fieldtest;

struct NameCase {
  const char *label;
  const char *name;
  bool ok;
  const char *normal;  // when ok
};

const NameCase kNameCases[] = {
    {"mixed case is lowered", "Text/HTML", true, "text/html"},
    {"vendor tree with suffix", "application/vnd.example+xml", true, "application/vnd.example+xml"},
    {"underscore, dot and dash", "x_y/a.b-c", true, "x_y/a.b-c"},
    {"digits", "audio/mp4", true, "audio/mp4"},
    {"single letters", "a/b", true, "a/b"},
    {"no subtype", "text/", false, nullptr},
    {"no type", "/html", false, nullptr},
    {"no slash", "text", false, nullptr},
    {"two slashes", "text/html/x", false, nullptr},
    {"slash alone", "/", false, nullptr},
    {"space", "text/h tml", false, nullptr},
    {"parameter separator", "text/html;", false, nullptr},
    {"empty", "", false, nullptr},
    {"wildcard", "image/*", false, nullptr},
    {"tilde is a token character but not a name character", "text/h~tml", false, nullptr},
    {"non-ASCII letter", "t\xC3\xA9xt/plain", false, nullptr},
    {"trailing line break", "text/plain\r\n", false, nullptr},
};

TEST(ContentTypeName, AcceptsExactlyTypeSlashSubtype) {
  for (const NameCase &c : kNameCases) {
    SCOPED_TRACE(c.label);
    StringRef name = str(c.name);
    EXPECT_EQ(mimeContentTypeNameOk(name.get()), c.ok ? 1 : 0);
    if (!c.ok) continue;
    StringRef normal(mimeContentTypeNameNormalize(name.get()));
    EXPECT_EQ(utf8Of(normal.get()), c.normal);
    ContentTypeRef type(mimeContentTypeCreate(name.get()));
    EXPECT_EQ(nameOf(type.get()), c.normal);
    EXPECT_EQ(mimeContentTypeParametersLength(type.get()), 0);
  }
}

struct KeyCase {
  const char *label;
  const char *key;
  bool ok;
};

const KeyCase kKeyCases[] = {
    {"plain", "charset", true},
    {"upper case", "Charset", true},
    {"RFC 2231 section key", "title*0*", true},
    {"apostrophe and percent", "a'b%c", true},
    {"other punctuation", "~!#$&{}|`^", true},
    {"equals sign", "a=b", false},
    {"space", "a b", false},
    {"empty", "", false},
    {"non-ASCII letter", "\xC3\xA4", false},
    {"DEL", "a\x7F", false},
    {"tab", "a\tb", false},
    {"slash", "a/b", false},
    {"quotation mark", "a\"", false},
};

TEST(ContentTypeKey, AcceptsPrintableAsciiWithoutTspecials) {
  for (const KeyCase &c : kKeyCases) {
    SCOPED_TRACE(c.label);
    StringRef key = str(c.key);
    EXPECT_EQ(mimeContentTypeParameterKeyOk(key.get()), c.ok ? 1 : 0);
  }
}

TEST(ContentTypeKey, LetterCaseAddressesOneParameter) {
  ContentTypeRef type = contentType("text/plain");
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "Charset", -1, "a", -1);
  StringRef value(mimeContentTypeParameterCstr(type.get(), "charset", -1));
  ASSERT_TRUE(value);
  EXPECT_EQ(utf8Of(value.get()), "a");
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "CHARSET", -1, "b", -1);
  EXPECT_EQ(paramsOf(type.get()), (Params{{"charset", "b"}}));
  mimeContentTypeDelParameterCstr(type.addr(), "cHaRsEt", -1);
  EXPECT_EQ(mimeContentTypeParametersLength(type.get()), 0);
}

TEST(ContentTypeParameter, ValueIsStoredExactlyAsGiven) {
  const char *values[] = {"",     " spaced  out ", "\"quoted\"", "\xE2\x82\xAC and \xC3\xBC", "line\r\nbreak",
                          "a;b=c"};
  ContentTypeRef type = contentType("text/plain");
  for (const char *value : values) {
    mimeContentTypeSetParameterCstrCstrValue(type.addr(), "v", -1, value, -1);
    StringRef stored(mimeContentTypeParameterCstr(type.get(), "v", -1));
    EXPECT_EQ(utf8Of(stored.get()), value);
  }
}

TEST(ContentTypeParameter, AbsentKeyReadsNullAndDeletesNothing) {
  ContentTypeRef type = contentType("text/plain", {{"a", "1"}});
  StringRef missing(mimeContentTypeParameterCstr(type.get(), "b", -1));
  EXPECT_EQ(missing.get(), nullptr);
  EXPECT_FALSE(mimeContentTypeHasParameterCstr(type.get(), "b", -1));
  EXPECT_TRUE(mimeContentTypeHasParameterCstr(type.get(), "A", -1));
  MIME_CONTENT_TYPE *before = type.get();
  mimeContentTypeDelParameterCstr(type.addr(), "b", -1);
  EXPECT_EQ(type.get(), before);
  EXPECT_EQ(paramsOf(type.get()), (Params{{"a", "1"}}));
}

// Each changer applied to a type that a second holder also references.
struct ChangeCase {
  const char *label;
  void (*change)(MIME_CONTENT_TYPE **type);
  const char *name;
  Params params;
};

const ChangeCase kChangeCases[] = {
    {"set name",
     [](MIME_CONTENT_TYPE **t) { mimeContentTypeSetNameCstr(t, "Image/PNG", -1); },
     "image/png",
     {{"a", "1"}}},
    {"set parameter",
     [](MIME_CONTENT_TYPE **t) { mimeContentTypeSetParameterCstrCstrValue(t, "b", -1, "2", -1); },
     "text/plain",
     {{"a", "1"}, {"b", "2"}}},
    {"replace parameter",
     [](MIME_CONTENT_TYPE **t) { mimeContentTypeSetParameterCstrCstrValue(t, "A", -1, "9", -1); },
     "text/plain",
     {{"a", "9"}}},
    {"delete parameter",
     [](MIME_CONTENT_TYPE **t) { mimeContentTypeDelParameterCstr(t, "a", -1); },
     "text/plain",
     {}},
    {"clear parameters", [](MIME_CONTENT_TYPE **t) { mimeContentTypeClearParameters(t); }, "text/plain", {}},
};

TEST(ContentTypeCopyOnWrite, SharedTypeIsCopiedAndTheOtherHolderSeesNoChange) {
  for (const ChangeCase &c : kChangeCases) {
    SCOPED_TRACE(c.label);
    ContentTypeRef mine = contentType("text/plain", {{"a", "1"}});
    ContentTypeRef other = ContentTypeRef::retained(mine.get());
    c.change(mine.addr());
    EXPECT_NE(mine.get(), other.get());
    EXPECT_EQ(nameOf(mine.get()), c.name);
    EXPECT_EQ(paramsOf(mine.get()), c.params);
    EXPECT_EQ(nameOf(other.get()), "text/plain");
    EXPECT_EQ(paramsOf(other.get()), (Params{{"a", "1"}}));
    EXPECT_EQ(kxtest::refsOf(other.get()), 1);
  }
}

TEST(ContentTypeCopyOnWrite, PrivateTypeIsChangedInPlace) {
  for (const ChangeCase &c : kChangeCases) {
    SCOPED_TRACE(c.label);
    ContentTypeRef mine = contentType("text/plain", {{"a", "1"}});
    MIME_CONTENT_TYPE *before = mine.get();
    c.change(mine.addr());
    EXPECT_EQ(mine.get(), before);
    EXPECT_EQ(paramsOf(mine.get()), c.params);
  }
}

TEST(ContentTypeCopyOnWrite, CopySharesFieldsUntilTheFirstChange) {
  ContentTypeRef source = contentType("text/plain", {{"a", "1"}});
  ContentTypeRef copy(mimeContentTypeCreateFrom(source.get()));
  DictRef sourceDict(mimeContentTypeParametersDict(source.get()));
  DictRef copyDict(mimeContentTypeParametersDict(copy.get()));
  EXPECT_EQ(sourceDict.get(), copyDict.get());
  StringRef sourceName(mimeContentTypeName(source.get()));
  StringRef copyName(mimeContentTypeName(copy.get()));
  EXPECT_EQ(sourceName.get(), copyName.get());
  copyDict.reset();
  mimeContentTypeSetParameterCstrCstrValue(copy.addr(), "b", -1, "2", -1);
  EXPECT_EQ(paramsOf(source.get()), (Params{{"a", "1"}}));
  EXPECT_EQ(paramsOf(copy.get()), (Params{{"a", "1"}, {"b", "2"}}));
}

TEST(ContentTypeCopyOnWrite, SettingTheNameItHoldsKeepsItValid) {
  ContentTypeRef type = contentType("text/plain");
  StringRef name(mimeContentTypeName(type.get()));
  const kxInt refs = kxtest::refsOf(name.get());
  mimeContentTypeSetName(type.addr(), name.get());
  EXPECT_EQ(kxtest::refsOf(name.get()), refs);
  EXPECT_EQ(nameOf(type.get()), "text/plain");
}

TEST(ContentTypeObject, ReleasingTheLastReferenceReleasesItsFields) {
  StringRef value = str("kept");
  {
    ContentTypeRef type = contentType("text/plain");
    mimeContentTypeSetParameterCstr(type.addr(), "k", -1, value.get());
    EXPECT_EQ(kxtest::refsOf(value.get()), 2);
  }
  EXPECT_EQ(kxtest::refsOf(value.get()), 1);
}

TEST(ContentTypeObject, CompareDecidesByNameThenByParameters) {
  ContentTypeRef a = contentType("text/a", {{"z", "9"}});
  ContentTypeRef b = contentType("text/b", {{"a", "1"}});
  EXPECT_LT(mimeContentTypeCompare(a.get(), b.get()), 0);
  EXPECT_GT(mimeContentTypeCompare(b.get(), a.get()), 0);

  ContentTypeRef p1 = contentType("text/plain", {{"a", "1"}});
  ContentTypeRef p2 = contentType("text/plain", {{"a", "2"}});
  ContentTypeRef p1again = contentType("TEXT/Plain", {{"A", "1"}});
  EXPECT_LT(mimeContentTypeCompare(p1.get(), p2.get()), 0);
  EXPECT_EQ(mimeContentTypeCompare(p1.get(), p1again.get()), 0);
  EXPECT_TRUE(mimeContentTypeEquals(p1.get(), p1again.get()));
  EXPECT_FALSE(mimeContentTypeEquals(p1.get(), p2.get()));
}

TEST(ContentTypeObject, TextFormIsTheNameAndTheParameterDictionary) {
  ContentTypeRef bare = contentType("text/plain");
  StringRef bareText(mimeContentTypeToString(bare.get()));
  StringRef bareName(mimeContentTypeName(bare.get()));
  EXPECT_EQ(bareText.get(), bareName.get());  // the name itself, not a copy

  ContentTypeRef type = contentType("text/plain", {{"charset", "utf-8"}});
  DictRef dict(mimeContentTypeParametersDict(type.get()));
  StringRef text(mimeContentTypeToString(type.get()));
  EXPECT_EQ(utf8Of(text.get()), "text/plain " + kxtest::textOf(dict.get()));
}

// Every C-string and wide-string variant against the string operation it stands for.
TEST(ContentTypeVariants, CstrAndWcstrFormsMatchTheStringForms) {
  ContentTypeRef viaCstr(mimeContentTypeCreateCstr("Text/Plainxyz", 10));
  ContentTypeRef viaWcstr(mimeContentTypeCreateWcstr(L"TEXT/plain", -1));
  EXPECT_EQ(nameOf(viaCstr.get()), "text/plain");
  EXPECT_EQ(nameOf(viaWcstr.get()), "text/plain");

  mimeContentTypeSetNameCstr(viaCstr.addr(), "image/png", -1);
  mimeContentTypeSetNameWcstr(viaWcstr.addr(), L"image/pngX", 9);
  EXPECT_EQ(nameOf(viaCstr.get()), "image/png");
  EXPECT_EQ(nameOf(viaWcstr.get()), "image/png");

  ContentTypeRef type = contentType("text/plain");
  StringRef object = str("obj");
  mimeContentTypeSetParameterCstr(type.addr(), "k1zz", 2, object.get());
  mimeContentTypeSetParameterWcstr(type.addr(), L"K2", -1, object.get());
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "k3", -1, "\xE2\x82\xAC!", 3);
  mimeContentTypeSetParameterCstrWcstrValue(type.addr(), "k4", -1, L"\u20AC", -1);
  mimeContentTypeSetParameterWcstrCstrValue(type.addr(), L"k5", -1, "v5", -1);
  mimeContentTypeSetParameterWcstrWcstrValue(type.addr(), L"k6", 2, L"v6v6", 2);
  EXPECT_EQ(paramsOf(type.get()), (Params{{"k1", "obj"},
                                          {"k2", "obj"},
                                          {"k3", "\xE2\x82\xAC"},
                                          {"k4", "\xE2\x82\xAC"},
                                          {"k5", "v5"},
                                          {"k6", "v6"}}));

  StringRef viaC(mimeContentTypeParameterCstr(type.get(), "K3", -1));
  StringRef viaW(mimeContentTypeParameterWcstr(type.get(), L"k3", -1));
  EXPECT_TRUE(kxStringEquals(viaC.get(), viaW.get()));
  EXPECT_TRUE(mimeContentTypeHasParameterWcstr(type.get(), L"K6", -1));
  mimeContentTypeDelParameterWcstr(type.addr(), L"k6", -1);
  mimeContentTypeDelParameterCstr(type.addr(), "k5xx", 2);
  EXPECT_FALSE(mimeContentTypeHasParameterCstr(type.get(), "k5", -1));
  EXPECT_FALSE(mimeContentTypeHasParameterWcstr(type.get(), L"k6", -1));
}

// --- contract violations ---

const std::string kFile = "mime_content_type\\.cpp";

TEST(ContentTypeDeathTest, BrokenPreconditionsAbortWithTheirExpression) {
  ContentTypeRef type = contentType("text/plain");
  MIME_CONTENT_TYPE *nullType = nullptr;
  StringRef value = str("v");
  EXPECT_DEATH(mimeContentTypeCreateCstr("text", -1), abortLine(kFile, "mimeContentTypeNameOk\\( name \\)"));
  EXPECT_DEATH(mimeContentTypeSetNameCstr(type.addr(), "image/*", -1),
               abortLine(kFile, "mimeContentTypeNameOk\\( name \\)"));
  EXPECT_DEATH(mimeContentTypeSetParameterCstr(type.addr(), "a b", -1, value.get()),
               abortLine(kFile, "mimeContentTypeParameterKeyOk\\( key \\)"));
  EXPECT_DEATH(mimeContentTypeParameterCstr(type.get(), "", -1),
               abortLine(kFile, "mimeContentTypeParameterKeyOk\\( key \\)"));
  EXPECT_DEATH(mimeContentTypeSetParameterCstr(type.addr(), "a", -1, nullptr), abortLine(kFile, "value"));
  EXPECT_DEATH(mimeContentTypeClearParameters(nullptr), abortLine(kFile, "type"));
  EXPECT_DEATH(mimeContentTypeClearParameters(&nullType), abortLine(kFile, "\\*type"));
  EXPECT_DEATH(mimeContentTypeName(nullptr), abortLine(kFile, "type"));
  EXPECT_DEATH(mimeContentTypeCreateFrom(nullptr), abortLine(kFile, "source"));
}

TEST(ContentTypeDeathTest, CommonOperationsAbortWithTheirLabels) {
  kx::Ref<KX_STRING> notAType = str("x");
  EXPECT_DEATH(
      mimeContentTypeFrom(kxStringObj(notAType.get())),
      abortLine(kFile, "stdfunc from: !obj \\|\\| kxObjSort\\(obj\\)==&mime___sort_MIME_CONTENT_TYPE"));
  EXPECT_DEATH(mimeContentTypeRetain(nullptr), abortLine(kFile, "stdfunc retain: obj"));
  EXPECT_DEATH(mimeContentTypeRelease(nullptr), abortLine(kFile, "stdfunc release: obj"));
  EXPECT_DEATH(mimeContentTypeToString(nullptr), abortLine(kFile, "stdfunc tostring: obj"));
  ContentTypeRef type = contentType("text/plain");
  EXPECT_DEATH(mimeContentTypeCompare(nullptr, type.get()), abortLine(kFile, "stdfunc compare a: objA"));
  EXPECT_DEATH(mimeContentTypeCompare(type.get(), nullptr), abortLine(kFile, "stdfunc compare b: objB"));
}

}  // namespace

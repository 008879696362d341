// Why a strict function refused its input: the kind, the offset and the subject it leaves for this thread,
// one row per refusal site, and that a success leaves no stale reason behind.
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

struct Record {
  kxInt kind;
  kxInt offset;
  std::string subject;
  bool operator==(const Record &) const = default;
};

void PrintTo(const Record &r, std::ostream *os) {
  *os << r.subject << ": " << mimeFailureReason(r.kind) << " (kind " << r.kind << ", at " << r.offset << ")";
}

Record last() {
  return {mimeLastFailure(), mimeLastFailureOffset(), mimeLastFailureSubject()};
}

// The strict calls one row may make: on header text, on a multipart body, or on entities.
enum Call { kType, kDisposition, kEncoding, kId, kTokens, kUnpack };

// Runs one strict call on the text and answers whether it succeeded.
bool run(Call call, const std::string &text, const char *boundary = "b") {
  OptionsRef mo = options();
  switch (call) {
    case kType:
      return TypeRef(mimeContentTypeTryDecode(str(text).get(), mo.get())).get();
    case kDisposition:
      return kx::Ref<MIME_CONTENT_DISPOSITION>(mimeContentDispositionTryDecode(str(text).get(), mo.get()))
          .get();
    case kEncoding:
      return mimeContentTransferEncodingTryDecode(str(text).get(), mo.get()) >= 0;
    case kId:
      return StringRef(mimeContentIdTryDecode(str(text).get())).get();
    case kTokens:
      return VectorRef(mimeShfTokenVectorTryDecode(str(text).get())).get();
    case kUnpack: {
      TypeRef type = mixedWithBoundary(boundary);
      return VectorRef(mimeMultipartTryUnpack(type.addr(), buf(text).get(), mo.get())).get();
    }
  }
  return false;
}
bool decodeEntity(const EntityView &view) {
  return mimeDecode(entityOf(view).get(), options().get(), nullptr, nullptr, nullptr);
}

TEST(LastFailure, NamesTheCauseAndPlaceOfEachRefusal) {
  const char *ct = "Content-Type", *cte = "Content-Transfer-Encoding", *cid = "Content-ID",
             *mp = "multipart body";
  struct Row {
    const char *label;
    Call call;
    std::string text;
    Record expected;
    const char *boundary = "b";
  };
  // clang-format off
  const Row rows[] = {
      {"unclosed quote", kType, "text/plain; name=\"x", {MIME_FAILURE_UNCLOSED_QUOTED_STRING, 17, ct}},
      {"backslash last", kType, "text/plain; name=\"x\\", {MIME_FAILURE_UNCLOSED_QUOTED_STRING, 17, ct}},
      {"unclosed nested comment", kType, "text/plain (a (b)", {MIME_FAILURE_UNCLOSED_COMMENT, 11, ct}},
      {"CR without fold", kType, "text/plain (a\r\nb)", {MIME_FAILURE_CR_WITHOUT_FOLD, 13, ct}},
      {"nested domain literal", kTokens, "x [a[b]", {MIME_FAILURE_NESTED_DOMAIN_LITERAL, 4, "header value"}},
      {"unclosed domain literal", kTokens, "[ab", {MIME_FAILURE_UNCLOSED_DOMAIN_LITERAL, 0, "header value"}},
      {"type without subtype", kType, " text ", {MIME_FAILURE_NO_MEDIA_TYPE, 6, ct}},
      {"other tspecial for slash", kType, "text;plain", {MIME_FAILURE_NO_MEDIA_TYPE, 4, ct}},
      {"comment only", kType, "(x)", {MIME_FAILURE_NO_MEDIA_TYPE, 3, ct}},
      {"bad subtype", kType, "image/*", {MIME_FAILURE_BAD_MEDIA_TYPE, 6, ct}},
      {"bad type", kType, "\"te xt\"/plain", {MIME_FAILURE_BAD_MEDIA_TYPE, 0, ct}},
      {"empty disposition", kDisposition, " ", {MIME_FAILURE_NO_DISPOSITION_TYPE, -1, "Content-Disposition"}},
      {"non-ASCII disposition", kDisposition, " att\xC3\xA4" "ch",
       {MIME_FAILURE_BAD_DISPOSITION_TYPE, 4, "Content-Disposition"}},
      {"no transfer encoding", kEncoding, "(none)", {MIME_FAILURE_NO_TRANSFER_ENCODING, -1, cte}},
      {"two transfer encodings", kEncoding, "base64 7bit", {MIME_FAILURE_TEXT_AFTER_VALUE, 7, cte}},
      {"unknown transfer encoding", kEncoding, " gzip", {MIME_FAILURE_UNKNOWN_TRANSFER_ENCODING, 1, cte}},
      {"Content-ID without brackets", kId, "  a@b>", {MIME_FAILURE_CONTENT_ID_NOT_BRACKETED, 2, cid}},
      {"empty Content-ID", kId, " <> ", {MIME_FAILURE_EMPTY_CONTENT_ID, 1, cid}},
      {"control in Content-ID", kId, "<a\x01" "b>", {MIME_FAILURE_CONTROL_IN_CONTENT_ID, 2, cid}},
      {"no boundary", kUnpack, "--b--", {MIME_FAILURE_NO_BOUNDARY, -1, mp}, nullptr},
      {"bad boundary", kUnpack, "--b --", {MIME_FAILURE_BAD_BOUNDARY, -1, mp}, "b "},
      {"no delimiter", kUnpack, "text\r\n-b--", {MIME_FAILURE_NO_DELIMITER, -1, mp}},
      {"text after the boundary", kUnpack, "pre\r\n--b \tx\r\n\r\n--b--",
       {MIME_FAILURE_TEXT_AFTER_BOUNDARY, 10, mp}},
      {"no close delimiter", kUnpack,
       "--b\r\n\r\none\r\n--b\r\n\r\ntwo", {MIME_FAILURE_NO_CLOSE_DELIMITER, 17, mp}},
      {"8-bit header octet", kUnpack,
       "--b\r\nX-A: \xFF\r\n\r\nx\r\n--b--", {MIME_FAILURE_HEADER_NOT_UTF8, 10, mp}},
      {"no field, after UTF-8 text", kUnpack, "--b\r\nX-A: \xC3\xA9\r\nno field\r\n\r\nx\r\n--b--",
       {MIME_FAILURE_HEADER_LINE_NOT_FIELD, 14, mp}},
      {"repeated field, folded", kUnpack, "--b\r\nContent-ID: <a\r\n >\r\ncontent-id: <b>\r\n\r\nx\r\n--b--",
       {MIME_FAILURE_HEADER_FIELD_REPEATED, 25, mp}},
      {"header starts folded", kUnpack, "--b\r\n\r\n\r\n--b\r\n X: 1\r\n\r\nx\r\n--b--",
       {MIME_FAILURE_HEADER_STARTS_FOLDED, 14, mp}},
  };
  // clang-format on
  for (const Row &row : rows) {
    EXPECT_FALSE(run(row.call, row.text, row.boundary)) << row.label;
    EXPECT_EQ(last(), row.expected) << row.label;
    EXPECT_STRNE(mimeLastFailureReason(), "") << row.label;
  }
  // Entities: a field, then the body, decoded in turn; a pack names the entity at fault.
  const std::pair<EntityView, Record> entities[] = {
      {{"text/plain; a=\"x", {}, {}, {}}, {MIME_FAILURE_UNCLOSED_QUOTED_STRING, 14, ct}},
      {{"text/plain", "base64", "a", {}}, {MIME_FAILURE_CONTENT_ID_NOT_BRACKETED, 0, "Content-ID"}},
      {{{}, "base64", {}, "QUJD\r\nZ\r\n=Q"}, {MIME_FAILURE_TRUNCATED_BASE64, 6, "body"}},
      {{{}, "base64", {}, "QUJD\r\n9\r\n"}, {MIME_FAILURE_TRUNCATED_BASE64, 6, "body"}},
  };
  for (const auto &[view, expected] : entities) {
    EXPECT_FALSE(decodeEntity(view));
    EXPECT_EQ(last(), expected);
  }
  TypeRef type = mixedWithBoundary("b");
  EXPECT_FALSE(BufferRef(mimeMultipartTryPack(
      type.addr(), vectorOf({bodyOnly("x"), {"a\r\nb", {}, {}, {}}}).get(), options().get())));
  EXPECT_EQ(last(), (Record{MIME_FAILURE_HEADER_VALUE_LINE_BREAK, 1, "entities"}));
}

// A success clears what an earlier failure left, and so does a part whose unreadable header block the
// unpack drops without failing.
TEST(LastFailure, SuccessLeavesNone) {
  const Record none{MIME_FAILURE_NONE, -1, ""};
  const std::pair<Call, const char *> rows[] = {
      {kType, "text/plain; a=\"b\""}, {kDisposition, "inline"}, {kUnpack, "--b\r\nno field\r\n\r\n--b--"}};
  for (const auto &[call, text] : rows) {
    EXPECT_FALSE(run(kId, "x"));
    EXPECT_TRUE(run(call, text)) << text;
    EXPECT_EQ(last(), none) << text;
  }
  EXPECT_FALSE(run(kId, "x"));
  EXPECT_TRUE(decodeEntity({"text/plain", "Base64", "<a>", "QUJD"}));
  EXPECT_EQ(last(), none);
}

TEST(LastFailure, EachThreadHasItsOwn) {
  EXPECT_FALSE(run(kId, "x"));
  std::thread([] {
    EXPECT_EQ(mimeLastFailure(), MIME_FAILURE_NONE);
    EXPECT_FALSE(run(kEncoding, "gzip"));
  }).join();
  EXPECT_EQ(mimeLastFailure(), MIME_FAILURE_CONTENT_ID_NOT_BRACKETED);
}

}  // namespace

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

// Each runs one strict call and answers whether it succeeded.
bool contentType(const char *text) {
  return kx::Ref<MIME_CONTENT_TYPE>(mimeContentTypeTryDecode(str(text).get(), options().get())).get();
}
bool disposition(const char *text) {
  return kx::Ref<MIME_CONTENT_DISPOSITION>(mimeContentDispositionTryDecode(str(text).get(), options().get()))
      .get();
}
bool transferEncoding(const char *text) {
  return mimeContentTransferEncodingTryDecode(str(text).get(), options().get()) >= 0;
}
bool contentId(const char *text) {
  return StringRef(mimeContentIdTryDecode(str(text).get())).get();
}
bool tokens(const char *text) {
  return VectorRef(mimeShfTokenVectorTryDecode(str(text).get())).get();
}
bool unpack(const std::string &body, const char *boundary = "b") {
  TypeRef type = mixedWithBoundary(boundary);
  return VectorRef(mimeMultipartTryUnpack(type.addr(), buf(body).get(), options().get())).get();
}
bool decodeEntity(const EntityView &view) {
  return mimeDecode(entityOf(view).get(), options().get(), nullptr, nullptr, nullptr);
}
bool pack(const std::vector<EntityView> &views) {
  TypeRef type = mixedWithBoundary("b");
  return BufferRef(mimeMultipartTryPack(type.addr(), vectorOf(views).get(), options().get())).get();
}

TEST(LastFailure, NamesTheCauseAndPlaceOfEachRefusal) {
  const char *ct = "Content-Type";
  const std::tuple<const char *, std::function<bool()>, Record> rows[] = {
      // label, call, expected record
      {"unclosed quoted string",
       [] { return contentType("text/plain; name=\"x"); },
       {MIME_FAILURE_UNCLOSED_QUOTED_STRING, 17, ct}},
      {"backslash at the end",
       [] { return contentType("text/plain; name=\"x\\"); },
       {MIME_FAILURE_UNCLOSED_QUOTED_STRING, 17, ct}},
      {"unclosed nested comment",
       [] { return contentType("text/plain (a (b)"); },
       {MIME_FAILURE_UNCLOSED_COMMENT, 11, ct}},
      {"CR without fold",
       [] { return contentType("text/plain (a\r\nb)"); },
       {MIME_FAILURE_CR_WITHOUT_FOLD, 13, ct}},
      {"nested domain literal",
       [] { return tokens("x [a[b]"); },
       {MIME_FAILURE_NESTED_DOMAIN_LITERAL, 4, "header value"}},
      {"unclosed domain literal",
       [] { return tokens("[ab"); },
       {MIME_FAILURE_UNCLOSED_DOMAIN_LITERAL, 0, "header value"}},
      {"type without subtype", [] { return contentType(" text "); }, {MIME_FAILURE_NO_MEDIA_TYPE, 6, ct}},
      {"other tspecial for slash",
       [] { return contentType("text;plain"); },
       {MIME_FAILURE_NO_MEDIA_TYPE, 4, ct}},
      {"comment only", [] { return contentType("(x)"); }, {MIME_FAILURE_NO_MEDIA_TYPE, 3, ct}},
      {"bad subtype", [] { return contentType("image/*"); }, {MIME_FAILURE_BAD_MEDIA_TYPE, 6, ct}},
      {"bad type", [] { return contentType("\"te xt\"/plain"); }, {MIME_FAILURE_BAD_MEDIA_TYPE, 0, ct}},
      {"empty disposition",
       [] { return disposition(" "); },
       {MIME_FAILURE_NO_DISPOSITION_TYPE, -1, "Content-Disposition"}},
      {"non-ASCII disposition",
       [] {
         return disposition(
             " att\xC3\xA4"
             "ch");
       },
       {MIME_FAILURE_BAD_DISPOSITION_TYPE, 4, "Content-Disposition"}},
      {"no transfer encoding",
       [] { return transferEncoding("(none)"); },
       {MIME_FAILURE_NO_TRANSFER_ENCODING, -1, "Content-Transfer-Encoding"}},
      {"two transfer encodings",
       [] { return transferEncoding("base64 7bit"); },
       {MIME_FAILURE_TEXT_AFTER_VALUE, 7, "Content-Transfer-Encoding"}},
      {"unknown transfer encoding",
       [] { return transferEncoding(" gzip"); },
       {MIME_FAILURE_UNKNOWN_TRANSFER_ENCODING, 1, "Content-Transfer-Encoding"}},
      {"Content-ID without brackets",
       [] { return contentId("  a@b>"); },
       {MIME_FAILURE_CONTENT_ID_NOT_BRACKETED, 2, "Content-ID"}},
      {"empty Content-ID",
       [] { return contentId(" <> "); },
       {MIME_FAILURE_EMPTY_CONTENT_ID, 1, "Content-ID"}},
      {"control in Content-ID",
       [] {
         return contentId(
             "<a\x01"
             "b>");
       },
       {MIME_FAILURE_CONTROL_IN_CONTENT_ID, 2, "Content-ID"}},
      {"no boundary",
       [] { return unpack("--b--", nullptr); },
       {MIME_FAILURE_NO_BOUNDARY, -1, "multipart body"}},
      {"bad boundary",
       [] { return unpack("--b --", "b "); },
       {MIME_FAILURE_BAD_BOUNDARY, -1, "multipart body"}},
      {"no delimiter",
       [] { return unpack("text\r\n-b--"); },
       {MIME_FAILURE_NO_DELIMITER, -1, "multipart body"}},
      {"text after the boundary",
       [] { return unpack("pre\r\n--b \tx\r\n\r\n--b--"); },
       {MIME_FAILURE_TEXT_AFTER_BOUNDARY, 10, "multipart body"}},
      {"no close delimiter",
       [] { return unpack("--b\r\n\r\none\r\n--b\r\n\r\ntwo"); },
       {MIME_FAILURE_NO_CLOSE_DELIMITER, 17, "multipart body"}},
      {"8-bit header octet",
       [] { return unpack("--b\r\nX-A: \xFF\r\n\r\nx\r\n--b--"); },
       {MIME_FAILURE_HEADER_NOT_UTF8, 10, "multipart body"}},
      {"line that is no field, after UTF-8 text",
       [] { return unpack("--b\r\nX-A: \xC3\xA9\r\nno field\r\n\r\nx\r\n--b--"); },
       {MIME_FAILURE_HEADER_LINE_NOT_FIELD, 14, "multipart body"}},
      {"repeated field, folded before",
       [] { return unpack("--b\r\nContent-ID: <a\r\n >\r\ncontent-id: <b>\r\n\r\nx\r\n--b--"); },
       {MIME_FAILURE_HEADER_FIELD_REPEATED, 25, "multipart body"}},
      {"header starts folded",
       [] { return unpack("--b\r\n\r\n\r\n--b\r\n X: 1\r\n\r\nx\r\n--b--"); },
       {MIME_FAILURE_HEADER_STARTS_FOLDED, 14, "multipart body"}},
      {"Content-Type of an entity",
       [] {
         return decodeEntity({"text/plain; a=\"x", {}, {}, {}});
       },
       {MIME_FAILURE_UNCLOSED_QUOTED_STRING, 14, ct}},
      {"Content-ID of an entity",
       [] {
         return decodeEntity({"text/plain", "base64", "a", {}});
       },
       {MIME_FAILURE_CONTENT_ID_NOT_BRACKETED, 0, "Content-ID"}},
      {"truncated Base64 body",
       [] {
         return decodeEntity({{}, "base64", {}, "QUJD\r\nR\r\n=Q"});
       },
       {MIME_FAILURE_TRUNCATED_BASE64, 6, "body"}},
      {"line break in the second entity",
       [] {
         return pack({bodyOnly("x"), {"a\r\nb", {}, {}, {}}});
       },
       {MIME_FAILURE_HEADER_VALUE_LINE_BREAK, 1, "entities"}},
  };
  for (const auto &[label, call, expected] : rows) {
    EXPECT_FALSE(call()) << label;
    EXPECT_EQ(last(), expected) << label;
    EXPECT_STRNE(mimeLastFailureReason(), "") << label;
  }
}

// A success clears what an earlier failure left, and so does a part whose unreadable header block the
// unpack drops without failing.
TEST(LastFailure, SuccessLeavesNone) {
  const Record none{MIME_FAILURE_NONE, -1, ""};
  const std::pair<const char *, std::function<bool()>> rows[] = {
      {"content type", [] { return contentType("text/plain; a=\"b\""); }},
      {"disposition", [] { return disposition("inline"); }},
      {"dropped header block", [] { return unpack("--b\r\nno field\r\n\r\n--b--"); }},
      {"entity",
       [] {
         return decodeEntity({"text/plain", "Base64", "<a>", "QUJD"});
       }},
  };
  for (const auto &[label, call] : rows) {
    EXPECT_FALSE(contentId("x"));
    EXPECT_TRUE(call()) << label;
    EXPECT_EQ(last(), none) << label;
  }
}

TEST(LastFailure, EachThreadHasItsOwn) {
  EXPECT_FALSE(contentId("x"));
  std::thread([] {
    EXPECT_EQ(mimeLastFailure(), MIME_FAILURE_NONE);
    EXPECT_FALSE(transferEncoding("gzip"));
  }).join();
  EXPECT_EQ(mimeLastFailure(), MIME_FAILURE_CONTENT_ID_NOT_BRACKETED);
}

}  // namespace

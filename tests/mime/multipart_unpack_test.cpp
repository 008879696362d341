// Multipart unpacking: the layout other writers produce, every malformation that ends the call (foreign line
// ends, control and 8-bit octets in part headers), and parts of header fields without a body (the round
// trip through packing: multipart_pack_test.cpp). The time on hostile sizes is in bench/.
#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using namespace test_support;
using namespace std::string_literals;

// The parts of content under the boundary as describe() writes them, or "<null>" when the call fails.
// Nothing given is changed.
std::string unpack(const std::string &content, const char *boundary = "B") {
  TypeRef type =
      boundary ? contentType("multipart/mixed", {{"boundary", boundary}}) : contentType("multipart/mixed");
  MIME_CONTENT_TYPE *before = type.get();
  BufferRef b = buf(content);
  VectorRef parts(mimeMultipartTryUnpack(type.addr(), b.get(), options().get()));
  EXPECT_EQ(type.get(), before);
  EXPECT_EQ(bytesOf(b.get()), content);
  return parts ? describe(viewsOf(parts.get())) : "<null>";
}

struct UnpackCase {
  const char *label;
  std::string content, expected;
};

TEST(MultipartUnpack, ReadsTheLayout) {
  const UnpackCase rows[] = {
      {"close delimiter after a preamble", "preamble\r\n--B--", ""},
      {"epilogue ignored, even malformed", "--B\r\n\r\nx\r\n--B--junk\xFF\r\n--B\r\nmore", "{-|-|-|x}"},
      {"content begins with CR LF", "\r\n--B\r\n\r\nx\r\n--B--", "{-|-|-|x}"},
      {"transport padding", "--B \t \r\n\r\nx\r\n--B\t\r\n\r\ny\r\n--B--", "{-|-|-|x}{-|-|-|y}"},
      {"CR LF and a body: only a body", "--B\r\n\r\n\r\nbody\r\n--B--", "{-|-|-|\r\nbody}"},
      {"exactly CR LF: empty", "--B\r\n\r\n\r\n--B--", "{-|-|-|-}"},
      {"nothing: empty", "--B\r\n\r\n--B--", "{-|-|-|-}"},
      {"empty body after a blank line", "--B\r\nContent-Type: a/b\r\n\r\n\r\n--B--", "{a/b|-|-|-}"},
      {"three fields in any order and case",
       "--B\r\ncontent-id: <i>\r\nCONTENT-TRANSFER-ENCODING:base64\r\nContent-type:a/b\r\n\r\nQQ==\r\n--B--",
       "{a/b|base64|<i>|QQ==}"},
      {"values trimmed", "--B\r\nContent-Id: \t <x> \t\r\nContent-Type:\r\n\r\nb\r\n--B--", "{|-|<x>|b}"},
      {"a fold keeps the blanks after it", "--B\r\nContent-Type: a;\r\n\tc=d;\r\n  e\r\n\r\nb\r\n--B--",
       "{a;\tc=d;  e|-|-|b}"},
      {"other fields ignored", "--B\r\nSubject: x\r\nX-A: \r\n y\r\n\r\nbody\r\n--B--", "{-|-|-|body}"},
      {"a bare LF stays in its line", "--B\r\nContent-Type: a\nContent-Id: <x>\r\n\r\nb\r\n--B--",
       "{a\nContent-Id: <x>|-|-|b}"},
      {"UTF-8 in a value", "--B\r\nContent-Id: <\xC3\xA9>\r\n\r\nb\r\n--B--", "{-|-|<\xC3\xA9>|b}"},
      {"delimiter mid-line or after a bare LF", "--B\r\n\r\na --B\n--B-x\r\n--B--", "{-|-|-|a --B\n--B-x}"},
      {"bodies keep every octet", "--B\r\n\r\n\0\xFF\r\r\n\n\r\n--B--"s, "{-|-|-|\0\xFF\r\r\n\n}"s},
      {"a bare CR stays in its line", "--B\r\nContent-Type: a/b\rContent-Id: <x>\r\n\r\nb\r\n--B--",
       "{a/b\rContent-Id: <x>|-|-|b}"},
      {"a NUL in a value is kept", "--B\r\nContent-Type: a/b\0c\r\n\r\nx\r\n--B--"s, "{a/b\0c|-|-|x}"s},
      {"UTF-8 in an ignored name", "--B\r\nX-\xC3\xA9: v\r\n\r\nx\r\n--B--", "{-|-|-|x}"},
  };
  for (const UnpackCase &c : rows) EXPECT_EQ(unpack(c.content), c.expected) << c.label;
}

TEST(MultipartUnpack, MalformedContentFailsTheWholeCall) {
  const std::pair<const char *, std::string> rows[] = {
      {"no delimiter at all", "hello world"},
      {"a delimiter mid-line is none", "x--B\r\n\r\nbody"},
      {"a letter after the boundary", "--Bx\r\n\r\nx\r\n--B--"},
      {"a longer boundary line", "--B\r\n\r\nx\r\n--BC\r\n\r\ny\r\n--B--"},
      {"content ends inside the padding", "--B  "},
      {"no CR LF after the padding", "--B \r--B--"},
      {"a last delimiter line cut after one dash", "--B\r\n\r\nx\r\n--B-"},
      {"a delimiter needs the CR LF of its line first", "--B\r\n--B--"},
      {"header line without a colon", "--B\r\nContent-Type a/b\r\n\r\nx\r\n--B--"},
      {"space before the colon", "--B\r\nContent-Type : a/b\r\n\r\nx\r\n--B--"},
      {"DEL inside the name", "--B\r\nX\x7F: a\r\n\r\nx\r\n--B--"},
      {"empty name", "--B\r\n: a\r\n\r\nx\r\n--B--"},
      {"a bad line among ignored ones", "--B\r\nX-A: 1\r\ngarbage\r\n\r\nx\r\n--B--"},
      {"second Content-Id", "--B\r\nContent-Id: <a>\r\nContent-ID: <b>\r\n\r\nx\r\n--B--"},
      {"second Content-Transfer-Encoding",
       "--B\r\nContent-Transfer-Encoding: 7bit\r\nContent-Transfer-Encoding: 7bit\r\n\r\nx\r\n--B--"},
      {"header block not UTF-8", "--B\r\nContent-Id: <\xFF>\r\n\r\nx\r\n--B--"},
      {"a bad second part fails the whole call", "--B\r\n\r\nok\r\n--B\r\nbad\r\n\r\nx\r\n--B--"},
      {"LF only", "--B\nContent-Type: a/b\n\nbody\n--B--\n"},
      {"CR only", "--B\rContent-Type: a/b\r\rbody\r--B--\r"},
      {"LF only after a CR LF delimiter line", "--B\r\nContent-Type: a/b\n\nbody\n--B--\n"},
      {"LF CR instead of CR LF", "--B\n\r\n\rbody\n\r--B--"},
      {"padding then the close dashes", "--B\r\n\r\nx\r\n--B --\r\n"},
      {"NUL in a name", "--B\r\nContent\0Type: a\r\n\r\nx\r\n--B--"s},
      {"NUL as a whole line", "--B\r\nContent-Type: a/b\r\n\0\r\n\r\nx\r\n--B--"s},
      {"Latin-1 in an ignored field", "--B\r\nX-A: caf\xE9\r\n\r\nx\r\n--B--"},
      {"an overlong form of '/'",
       "--B\r\nContent-Type: a\xC0\xAF"
       "b\r\n\r\nx\r\n--B--"},
      {"a surrogate in UTF-8 form", "--B\r\nContent-Id: <\xED\xA0\x80>\r\n\r\nx\r\n--B--"},
      {"a UTF-8 sequence cut by the blank line", "--B\r\nContent-Id: <a>\xE2\x82\r\n\r\nx\r\n--B--"},
  };
  for (const auto &[label, content] : rows) EXPECT_EQ(unpack(content), "<null>") << label;
  EXPECT_EQ(unpack("--" + std::string(71, 'B') + "--", std::string(71, 'B').c_str()), "<null>");
  EXPECT_EQ(unpack("--" + std::string(70, 'B') + "--", std::string(70, 'B').c_str()), "");
}

// A part that is header fields and no body: the CR LF before the next delimiter belongs to it, so the
// header block has no blank line of its own. It is read when it reads cleanly, else dropped.
TEST(MultipartUnpack, PartsOfHeaderFieldsWithoutABodyKeepTheirFields) {
  const UnpackCase rows[] = {
      {"one field", "--B\r\nContent-Type: text/plain\r\n\r\n--B--", "{text/plain|-|-|-}"},
      {"three fields, one folded",
       "--B\r\nContent-Type: a/b;\r\n c=d\r\nContent-Transfer-Encoding: 7bit\r\nContent-Id: <x>\r\n\r\n--B--",
       "{a/b; c=d|7bit|<x>|-}"},
      {"before another part", "--B\r\nContent-Id: <x>\r\n\r\n--B\r\n\r\nbody\r\n--B--",
       "{-|-|<x>|-}{-|-|-|body}"},
      {"ignored fields only", "--B\r\nX-A: 1\r\n\r\n--B--", "{-|-|-|-}"},
      {"not a header line: dropped", "--B\r\nnot a header\r\n\r\n--B--", "{-|-|-|-}"},
      {"repeated field: dropped", "--B\r\nContent-Id: <a>\r\nContent-Id: <b>\r\n\r\n--B--", "{-|-|-|-}"},
      {"not UTF-8: dropped", "--B\r\nContent-Id: <\xFF>\r\n\r\n--B--", "{-|-|-|-}"},
      {"begins with a fold: dropped", "--B\r\n Content-Id: <a>\r\n\r\n--B--", "{-|-|-|-}"},
      {"LF header lines between CR LF delimiters", "--B\r\nContent-Type: a/b\nX: y\n\nbody\r\n--B--",
       "{-|-|-|-}"},
      {"a blank line of LF alone", "--B\r\nContent-Type: a/b\r\n\nbody\r\n--B--", "{-|-|-|-}"},
      {"no final CR LF: dropped as before", "--B\r\nContent-Type: a/b\r\n--B--", "{-|-|-|-}"},
      {"short part without CR LF: dropped", "--B\r\nab\r\n--B--", "{-|-|-|-}"},
  };
  for (const UnpackCase &c : rows) EXPECT_EQ(unpack(c.content), c.expected) << c.label;
}

TEST(MultipartUnpack, BodiesAreSlicesOfTheContent) {
  const std::string content = "--B\r\nContent-Type: a/b\r\n\r\nfirst body\r\n--B\r\n\r\nsecond\r\n--B--";
  BufferRef b = buf(content);
  TypeRef type = contentType("multipart/mixed", {{"boundary", "B"}});
  VectorRef parts(mimeMultipartTryUnpack(type.addr(), b.get(), options().get()));
  ASSERT_TRUE(parts);
  const kxByte *start = kxBufferBacking(b.get());
  for (kxInt i = 0; i < kxVectorLength(parts.get()); ++i) {
    BufferRef body(mimeEntityBody(mimeEntityFrom(kxVectorBacking(parts.get())[i])));
    const kxByte *at = kxBufferBacking(body.get());
    EXPECT_TRUE(at >= start && at + kxBufferLength(body.get()) <= start + content.size()) << "part " << i;
  }
}

}  // namespace

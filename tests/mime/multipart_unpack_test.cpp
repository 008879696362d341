// Multipart unpacking: the layout other writers produce, every malformation that ends the call, parts of
// header fields without a body, hostile sizes, and the round trip through packing.
#include <gtest/gtest.h>

#include "wire_test_support.hpp"

namespace {

using namespace wiretest;
using namespace std::string_literals;

TypeRef mixedWithBoundary(const char *boundary) {
  TypeRef type(mimeContentTypeCreateCstr("multipart/mixed", -1));
  if (boundary) mimeContentTypeSetParameterCstrCstrValue(type.addr(), "boundary", -1, boundary, -1);
  return type;
}

// Unpacks content under the boundary; the parts, or nullopt when the call fails.
std::optional<std::vector<EntityView>> unpack(const std::string &content, const char *boundary = "B") {
  TypeRef type = mixedWithBoundary(boundary);
  MIME_CONTENT_TYPE *before = type.get();
  OptionsRef opt = defaultOptions();
  BufferRef b = buf(content);
  VectorRef parts(mimeMultipartTryUnpack(type.addr(), b.get(), opt.get()));
  EXPECT_EQ(type.get(), before);
  EXPECT_EQ(bytesOf(b.get()), content);
  if (!parts) return std::nullopt;
  return viewsOf(parts.get());
}

using Parts = std::vector<EntityView>;
const std::optional<Parts> kFails = std::nullopt;
EntityView bodyOnly(std::string body) {
  return {{}, {}, {}, std::move(body)};
}

struct UnpackCase {
  const char *label;
  std::string content;
  std::optional<Parts> expected;
};

const UnpackCase kLayouts[] = {
    {"close delimiter alone", "--B--", Parts{}},
    {"preamble and close delimiter", "preamble\r\n--B--", Parts{}},
    {"epilogue ignored, even malformed", "--B\r\n\r\nx\r\n--B--junk\xFF\r\n--B\r\nmore",
     Parts{bodyOnly("x")}},
    {"content begins with CR LF and the delimiter", "\r\n--B\r\n\r\nx\r\n--B--", Parts{bodyOnly("x")}},
    {"preamble before the first delimiter", "hello\r\n--B\r\n\r\nx\r\n--B--\r\n", Parts{bodyOnly("x")}},
    {"transport padding", "--B \t \r\n\r\nx\r\n--B\t\r\n\r\ny\r\n--B--", Parts{bodyOnly("x"), bodyOnly("y")}},
    {"part of CR LF and a body has only a body", "--B\r\n\r\n\r\nbody\r\n--B--", Parts{bodyOnly("\r\nbody")}},
    {"part that is exactly CR LF is empty", "--B\r\n\r\n\r\n--B--", Parts{EntityView{}}},
    {"empty part is empty", "--B\r\n\r\n--B--", Parts{EntityView{}}},
    {"header and body", "--B\r\nContent-Type: a/b\r\n\r\nbody\r\n--B--", Parts{{"a/b", {}, {}, "body"}}},
    {"empty body after the blank line is no body", "--B\r\nContent-Type: a/b\r\n\r\n\r\n--B--",
     Parts{{"a/b", {}, {}, {}}}},
    {"all three fields in any order, names in any case",
     "--B\r\ncontent-id: <i>\r\nCONTENT-TRANSFER-ENCODING:base64\r\nContent-type:a/b\r\n\r\nQQ==\r\n--B--",
     Parts{{"a/b", "base64", "<i>", "QQ=="}}},
    {"values trimmed", "--B\r\nContent-Id: \t <x> \t\r\nContent-Type:\r\n\r\nb\r\n--B--",
     Parts{{"", {}, "<x>", "b"}}},
    {"a fold keeps the whitespace after it", "--B\r\nContent-Type: a/b;\r\n\tc=d;\r\n  e=f\r\n\r\nb\r\n--B--",
     Parts{{"a/b;\tc=d;  e=f", {}, {}, "b"}}},
    {"other fields ignored with their values", "--B\r\nSubject: x\r\nX-A: \r\n y\r\n\r\nbody\r\n--B--",
     Parts{bodyOnly("body")}},
    {"a bare LF stays inside its line", "--B\r\nContent-Type: a\nContent-Id: <x>\r\n\r\nb\r\n--B--",
     Parts{{"a\nContent-Id: <x>", {}, {}, "b"}}},
    {"UTF-8 in a value", "--B\r\nContent-Id: <\xC3\xA9>\r\n\r\nb\r\n--B--",
     Parts{{{}, {}, "<\xC3\xA9>", "b"}}},
    {"a body holding the delimiter mid-line or after a bare LF", "--B\r\n\r\na --B\n--B\r\n--Bx\r\n--B--",
     std::nullopt},  // the third line begins with the delimiter and more: a malformed delimiter line
    {"a body holding the delimiter mid-line", "--B\r\n\r\na --B\n--B-x\r\n--B--",
     Parts{bodyOnly("a --B\n--B-x")}},
    {"bodies keep every octet", "--B\r\n\r\n\0\xFF\r\r\n\n\r\n--B--"s, Parts{bodyOnly("\0\xFF\r\r\n\n"s)}},
};

const UnpackCase kFailures[] = {
    {"no delimiter at all", "hello world", kFails},
    {"a delimiter mid-line is none", "x--B\r\n\r\nbody", kFails},
    {"a letter after the boundary", "--Bx\r\n\r\nx\r\n--B--", kFails},
    {"a longer boundary line", "--B\r\n\r\nx\r\n--BC\r\n\r\ny\r\n--B--", kFails},
    {"content ends inside the padding", "--B  ", kFails},
    {"no CR LF after the padding", "--B \r--B--", kFails},
    {"no close delimiter", "--B\r\n\r\nbody", kFails},
    {"a last delimiter line cut short", "--B\r\n\r\nx\r\n--B", kFails},
    {"a last delimiter line cut after one dash", "--B\r\n\r\nx\r\n--B-", kFails},
    {"a delimiter needs the CR LF of its line first", "--B\r\n--B--", kFails},
    {"first header line begins with a space", "--B\r\n Content-Type: a/b\r\n\r\nx\r\n--B--", kFails},
    {"first header line begins with a tab", "--B\r\n\tX: y\r\n\r\nx\r\n--B--", kFails},
    {"header line without a colon", "--B\r\nContent-Type a/b\r\n\r\nx\r\n--B--", kFails},
    {"space before the colon", "--B\r\nContent-Type : a/b\r\n\r\nx\r\n--B--", kFails},
    {"tab inside the name", "--B\r\nContent\tType: a/b\r\n\r\nx\r\n--B--", kFails},
    {"DEL inside the name", "--B\r\nX\x7F: a\r\n\r\nx\r\n--B--", kFails},
    {"empty name", "--B\r\n: a\r\n\r\nx\r\n--B--", kFails},
    {"a bad line among ignored ones", "--B\r\nX-A: 1\r\ngarbage\r\n\r\nx\r\n--B--", kFails},
    {"second Content-Id", "--B\r\nContent-Id: <a>\r\nContent-ID: <b>\r\n\r\nx\r\n--B--", kFails},
    {"second Content-Type", "--B\r\nContent-Type: a/b\r\ncontent-type: a/b\r\n\r\nx\r\n--B--", kFails},
    {"second Content-Transfer-Encoding",
     "--B\r\nContent-Transfer-Encoding: 7bit\r\n"
     "Content-Transfer-Encoding: 7bit\r\n\r\nx\r\n--B--",
     kFails},
    {"header block not UTF-8", "--B\r\nContent-Id: <\xFF>\r\n\r\nx\r\n--B--", kFails},
    {"a bad second part fails the whole call", "--B\r\n\r\nok\r\n--B\r\nbad\r\n\r\nx\r\n--B--", kFails},
};

// A part that is header fields and no body: the CR LF before the next delimiter belongs to it, so the
// header block has no blank line of its own. It is read when it reads cleanly, else dropped.
const UnpackCase kHeaderOnlyParts[] = {
    {"one field", "--B\r\nContent-Type: text/plain\r\n\r\n--B--", Parts{{"text/plain", {}, {}, {}}}},
    {"three fields, one folded",
     "--B\r\nContent-Type: a/b;\r\n c=d\r\nContent-Transfer-Encoding: 7bit\r\nContent-Id: <x>\r\n\r\n--B--",
     Parts{{"a/b; c=d", "7bit", "<x>", {}}}},
    {"before another part", "--B\r\nContent-Id: <x>\r\n\r\n--B\r\n\r\nbody\r\n--B--",
     Parts{{{}, {}, "<x>", {}}, bodyOnly("body")}},
    {"ignored fields only", "--B\r\nX-A: 1\r\n\r\n--B--", Parts{EntityView{}}},
    {"not a header line: dropped", "--B\r\nnot a header\r\n\r\n--B--", Parts{EntityView{}}},
    {"repeated field: dropped", "--B\r\nContent-Id: <a>\r\nContent-Id: <b>\r\n\r\n--B--",
     Parts{EntityView{}}},
    {"not UTF-8: dropped", "--B\r\nContent-Id: <\xFF>\r\n\r\n--B--", Parts{EntityView{}}},
    {"begins with a fold: dropped", "--B\r\n Content-Id: <a>\r\n\r\n--B--", Parts{EntityView{}}},
    {"no final CR LF: dropped as before", "--B\r\nContent-Type: a/b\r\n--B--", Parts{EntityView{}}},
    {"short part without CR LF: dropped", "--B\r\nab\r\n--B--", Parts{EntityView{}}},
};

void expectUnpacks(const UnpackCase &c) {
  const std::optional<Parts> got = unpack(c.content);
  ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.label;
  if (got) {
    EXPECT_EQ(*got, *c.expected) << c.label;
  }
}

TEST(MultipartUnpack, ReadsTheLayout) {
  for (const UnpackCase &c : kLayouts) expectUnpacks(c);
}

TEST(MultipartUnpack, MalformedContentFailsTheWholeCall) {
  for (const UnpackCase &c : kFailures) expectUnpacks(c);
}

TEST(MultipartUnpack, PartsOfHeaderFieldsWithoutABodyKeepTheirFields) {
  for (const UnpackCase &c : kHeaderOnlyParts) expectUnpacks(c);
}

TEST(MultipartUnpack, AMissingOrInvalidBoundaryFails) {
  const std::string content = "--B\r\n\r\nx\r\n--B--";
  EXPECT_FALSE(unpack(content, nullptr));
  EXPECT_FALSE(unpack(content, "B "));
  EXPECT_FALSE(unpack("--" + std::string(71, 'B') + "--", std::string(71, 'B').c_str()));
  EXPECT_TRUE(unpack("--" + std::string(70, 'B') + "--", std::string(70, 'B').c_str()));
}

TEST(MultipartUnpack, BodiesAreSlicesOfTheContent) {
  const std::string content = "--B\r\nContent-Type: a/b\r\n\r\nfirst body\r\n--B\r\n\r\nsecond\r\n--B--";
  BufferRef b = buf(content);
  TypeRef type = mixedWithBoundary("B");
  OptionsRef opt = defaultOptions();
  VectorRef parts(mimeMultipartTryUnpack(type.addr(), b.get(), opt.get()));
  ASSERT_TRUE(parts);
  const kxByte *start = kxBufferBacking(b.get());
  for (kxInt i = 0; i < kxVectorLength(parts.get()); ++i) {
    ObjRef item(kxVectorObjAt(parts.get(), i));
    BufferRef body(mimeEntityBody(mimeEntityFrom(item.get())));
    ASSERT_TRUE(body);
    const kxByte *at = kxBufferBacking(body.get());
    EXPECT_TRUE(at >= start && at + kxBufferLength(body.get()) <= start + content.size()) << "part " << i;
  }
}

// --- hostile sizes: each finishes in linear time (the benchmark measures it) ---

TEST(MultipartUnpack, HundredThousandEmptyParts) {
  std::string content = "--B\r\n";
  for (int i = 1; i < 100000; ++i) content += "\r\n--B\r\n";
  content += "\r\n--B--";
  const std::optional<Parts> got = unpack(content);
  ASSERT_TRUE(got);
  ASSERT_EQ(got->size(), 100000u);
  for (const EntityView &v : *got) ASSERT_EQ(v, EntityView{});
}

TEST(MultipartUnpack, TenMebibytePartsWithoutABlankLine) {
  const size_t tenMiB = 10u << 20;
  // No line break at all: dropped.
  std::optional<Parts> got = unpack("--B\r\n" + std::string(tenMiB, 'x') + "\r\n--B--");
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, Parts{EntityView{}});

  // Header-like lines of ignored fields, ending with CR LF: read, nothing kept.
  std::string lines;
  while (lines.size() < tenMiB) lines += "X-Field: value\r\n";
  got = unpack("--B\r\n" + lines + "\r\n--B--");
  ASSERT_TRUE(got);
  EXPECT_EQ(*got, Parts{EntityView{}});

  // One field folded over ten mebibytes of continuation lines.
  std::string folded = "Content-Type: a";
  std::string expected = "a";
  while (folded.size() < tenMiB) {
    folded += "\r\n b";
    expected += " b";
  }
  got = unpack("--B\r\n" + folded + "\r\n\r\n--B--");
  ASSERT_TRUE(got);
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0].contentType, expected);
}

TEST(MultipartUnpack, TenMebibytesOfCrLfPairs) {
  std::string pairs;
  pairs.reserve(10u << 20);
  while (pairs.size() < (10u << 20)) pairs += "\r\n";
  EXPECT_FALSE(unpack(pairs));                         // no delimiter anywhere
  EXPECT_FALSE(unpack("--B\r\n" + pairs));             // no close delimiter
  EXPECT_FALSE(unpack("--B\r\nx" + pairs + "--B--"));  // a header "x" without a colon
  const std::optional<Parts> got = unpack("--B\r\n" + pairs + "\r\n--B--");
  ASSERT_TRUE(got);
  ASSERT_EQ(got->size(), 1u);
  EXPECT_EQ((*got)[0], bodyOnly(pairs.substr(2)));
}

TEST(MultipartUnpack, NeverAbortsOnRandomOctets) {
  // Pieces that steer the unpacker into every branch, joined at random.
  const std::string pieces[] = {
      "--B",          "--B--",           "\r\n", "\r",   "\n",       "--",  " ", "\t", ":",
      "Content-Type", "Content-Id: <x>", "X: y", "\xFF", "\xC3\xA9", "\0"s, "B"};
  BodySource random(20240605);
  size_t successes = 0;
  for (int round = 0; round < 3000; ++round) {
    std::string content = random.below(2) ? "--B\r\n" : "";
    for (size_t n = random.below(40); n > 0; --n) content += pieces[random.below(std::size(pieces))];
    if (random.below(2)) content += "\r\n--B--";
    if (unpack(content)) ++successes;
  }
  EXPECT_GT(successes, 100u);  // the pieces reach the success paths too
}

// --- round trip through packing ---

// A field value as an encoder may write it: tokens separated by spaces or folds.
std::string foldedValue(BodySource &random) {
  std::string value = random.below(8) == 0 ? "\r\n " : "";
  for (size_t n = random.below(4) + 1; n > 0; --n) {
    value += "tok" + std::to_string(random.below(1000)) + ";x=\"a b\"";
    if (n > 1) value += std::vector<std::string>{" ", "\r\n ", "\r\n\t", ""}[random.below(4)];
  }
  return value;
}

std::string angleBracketed(const std::string &text) {
  std::string value = "<";
  value.append(text).append(">");
  return value;
}

// What unpacking gives back for a packed value: folds undone (the CR LF removed, the whitespace kept)
// and the ends trimmed.
std::string unfolded(std::string value) {
  for (size_t at = value.find("\r\n"); at != value.npos; at = value.find("\r\n", at)) value.erase(at, 2);
  const size_t first = value.find_first_not_of(" \t");
  const size_t last = value.find_last_not_of(" \t");
  return first == value.npos ? "" : value.substr(first, last - first + 1);
}

TEST(MultipartUnpack, RandomEntityVectorsRoundTripThroughPacking) {
  BodySource random(7);
  OptionsRef opt = defaultOptions();
  int replacedBoundaries = 0;
  for (int round = 0; round < 300; ++round) {
    const std::string callerBoundary = "frontier" + std::to_string(round % 3);
    std::vector<EntityView> parts(random.below(6) + 1), expected;
    for (EntityView &part : parts) {
      if (random.below(2)) part.contentType = foldedValue(random);
      if (random.below(2)) part.contentTransferEncoding = foldedValue(random);
      if (random.below(2)) part.contentId = angleBracketed(random.word(random.below(20) + 1));
      if (random.below(4)) part.body = random.body(callerBoundary);
      EntityView back = part;
      for (auto *field : {&back.contentType, &back.contentTransferEncoding, &back.contentId}) {
        if (*field) *field = unfolded(**field);
      }
      if (back.body && back.body->empty()) back.body.reset();
      expected.push_back(back);
    }

    TypeRef type = mixedWithBoundary(callerBoundary.c_str());
    VectorRef entities = vectorOf(parts);
    BufferRef packed(mimeMultipartTryPack(type.addr(), entities.get(), opt.get()));
    ASSERT_TRUE(packed) << "round " << round;
    StringRef used(mimeContentTypeParameterCstr(type.get(), "boundary", -1));
    if (utf8Of(used.get()) != callerBoundary) ++replacedBoundaries;
    VectorRef back(mimeMultipartTryUnpack(type.addr(), packed.get(), opt.get()));
    ASSERT_TRUE(back) << "round " << round;
    EXPECT_EQ(viewsOf(back.get()), expected) << "round " << round;
  }
  EXPECT_GT(replacedBoundaries, 10);  // bodies that really held the caller boundary made the pack move on
}

using MultipartUnpackDeathTest = ::testing::Test;

TEST(MultipartUnpackDeathTest, BrokenPreconditionsAbortInOrder) {
  TypeRef type = mixedWithBoundary("B");
  MIME_CONTENT_TYPE *none = nullptr;
  OptionsRef opt = defaultOptions();
  BufferRef content = buf("--B--");
  EXPECT_DEATH(mimeMultipartTryUnpack(nullptr, content.get(), opt.get()), abortText("", "contentType"));
  EXPECT_DEATH(mimeMultipartTryUnpack(&none, content.get(), opt.get()), abortText("", "*contentType"));
  EXPECT_DEATH(mimeMultipartTryUnpack(type.addr(), nullptr, opt.get()), abortText("", "content"));
  EXPECT_DEATH(mimeMultipartTryUnpack(type.addr(), content.get(), nullptr), abortText("", "opt"));
}

}  // namespace

// The tolerant message reader: the tree it builds from well-formed and broken messages, the defects it
// reports, and that it reads back exactly what the encoder and the packer write.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/part_visits.hpp"
#include "support/test_support.hpp"

namespace {

using namespace test_support;
using part_visits::Visits;
using PartRef = kx::Ref<MIME_PART>;
using HeaderRef = kx::Ref<MIME_HEADER>;

// A part as text: its type, "(file name)" when it has one, then "{decoded body}" for a leaf or
// "[child,child]" for a container.
std::string describe(MIME_PART *part, MIME_OPTIONS *opt) {
  std::string out = nameOf(TypeRef(mimePartContentType(part)).get());
  if (StringRef name{mimePartFileName(part)}) out += "(" + utf8Of(name.get()) + ")";
  const kxInt children = mimePartChildrenLength(part);
  if (children == 0)
    return out + "{" + bytesOf(BufferRef(mimePartDecodeBody(part, opt, nullptr)).get()) + "}";
  out += "[";
  for (kxInt i = 0; i < children; ++i)
    out += (i ? "," : "") + describe(PartRef(mimePartChildAt(part, i)).get(), opt);
  return out + "]";
}

// Every defect of the tree in preorder, "kind@offset".
void collectDefects(MIME_PART *part, std::vector<std::string> *out) {
  for (kxInt i = 0; i < mimePartDefectsLength(part); ++i) {
    const MIME_DEFECT d = mimePartDefectAt(part, i);
    out->push_back(std::string(mimeDefectKindName(d.kind)) + "@" + std::to_string(d.offset));
  }
  for (kxInt i = 0; i < mimePartChildrenLength(part); ++i)
    collectDefects(PartRef(mimePartChildAt(part, i)).get(), out);
}

struct Row {
  const char *label;
  std::string message;
  std::string tree;
  std::vector<std::string> defects;
};

void expectRows(const std::vector<Row> &rows, MIME_OPTIONS *opt) {
  for (const Row &row : rows) {
    BufferRef input(buf(row.message));
    PartRef root(mimeMessageRead(input.get(), opt));
    EXPECT_EQ(describe(root.get(), opt), row.tree) << row.label;
    std::vector<std::string> defects;
    collectDefects(root.get(), &defects);
    EXPECT_EQ(defects, row.defects) << row.label;
    // Read part by part, the same parts with the same defects.
    std::vector<std::string> expected;
    part_visits::expectedVisits(root.get(), 0, &expected);
    Visits visits;
    EXPECT_TRUE(mimeMessageReadEach(input.get(), opt, Visits::record, &visits)) << row.label;
    EXPECT_EQ(visits.lines, expected) << row.label;
  }
}

const std::string kMixed = "Content-Type: multipart/mixed; boundary=b\n\n";

// Well-formed messages of every line-end style read without a defect; each recovery from a broken one keeps
// every octet in some part and reports where it happened.
TEST(MessageRead, ReadsMessagesAndRecoversFromBrokenOnesWithDefects) {
  OptionsRef opt(mimeOptionsCreate());
  const std::string x75(75, 'x');
  // clang-format off
  expectRows({
      {"empty input", "", "text/plain{}", {}},
      {"no header", "\r\nbody", "text/plain{body}", {}},
      {"CR LF multipart with preamble and epilogue", "Content-Type: multipart/mixed; boundary=\"b 1\"\r\n\r\n"
       "pre\r\n--b 1\r\nContent-Type: text/html\r\n\r\n<p>\r\n\r\n--b 1  \r\n\r\ntwo\r\n--b 1--\r\nepilogue",
       "multipart/mixed[text/html{<p>\r\n},text/plain{two}]", {}},
      {"LF only", kMixed + "--b\nContent-Type: text/plain\n\none\n--b\n\ntwo\n--b--\n",
       "multipart/mixed[text/plain{one},text/plain{two}]", {}},
      {"a longer boundary that starts with this one is body",
       kMixed + "--b\n\n--bb\n--b-x\n--b9\n--bZ\n--bz\n--b--\n",
       "multipart/mixed[text/plain{--bb\n--b-x\n--b9\n--bZ\n--bz}]", {}},
      {"a raw Latin-1 name in Content-Type", "Content-Type: text/plain; name=caf\xE9.txt\n\nx",
       "text/plain(caf\xC3\xA9.txt){x}", {"eight-bit-header@34"}},
      {"a delimiter counts only at the start of a line", kMixed + "--b\n\nx--b\n --b\n--b--\n",
       "multipart/mixed[text/plain{x--b\n --b}]", {}},
      {"file names: disposition first, RFC 2231 and RFC 2047 decoded",
       kMixed + "--b\nContent-Type: application/pdf; name=n.pdf\nContent-Disposition: attachment;\n"
       " filename*=UTF-8''r%C3%A9sum%C3%A9.pdf\n\n%PDF\n--b\nContent-Type: image/png; "
       "name=\"=?UTF-8?B?w6kucG5n?=\"\n\nPNG\n--b--\n",
       "multipart/mixed[application/pdf(r\xC3\xA9sum\xC3\xA9.pdf){%PDF},image/png(\xC3\xA9.png){PNG}]", {}},
      {"attached message and digest defaults", "Content-Type: multipart/digest; boundary=d\n\n--d\n\n"
       "Subject: inner\n\nhi\n--d\nContent-Type: text/plain\n\nplain\n--d--\n",
       "multipart/digest[message/rfc822[text/plain{hi}],text/plain{plain}]", {}},
      {"mbox From line", "From someone Mon Jan  1 00:00:00 2024\nContent-Type: text/html\n\n<b>",
       "text/html{<b>}", {}},
      {"transfer encodings decoded", kMixed + "--b\nContent-Transfer-Encoding: base64\n\naGVs\nbG8=\n--b\n"
       "Content-Transfer-Encoding: quoted-printable\n\ncaf=C3=A9 =\nsoft\n--b--\n",
       "multipart/mixed[text/plain{hello},text/plain{caf\xC3\xA9 soft}]", {}},
      {"no close delimiter: the last part runs to the end", kMixed + "--b\n\none\n--b\n\ntwo\n",
       "multipart/mixed[text/plain{one},text/plain{two\n}]", {"no-close-delimiter@61"}},
      {"no delimiter at all: a leaf", kMixed + "just text\n", "multipart/mixed{just text\n}",
       {"no-first-delimiter@43"}},
      {"no boundary: a leaf", "Content-Type: multipart/mixed\n\n--b\n", "multipart/mixed{--b\n}",
       {"no-boundary@0"}},
      {"text after the boundary", kMixed + "--b junk\n\none\n--b--\n", "multipart/mixed[text/plain{one}]",
       {"text-after-boundary@47"}},
      {"two delimiter lines in a row: the empty part is skipped", kMixed + "--b\n--b\n\ntwo\n--b--\n",
       "multipart/mixed[text/plain{two}]", {"empty-part@47"}},
      {"a close delimiter alone opens no part", kMixed + "--b--\n", "multipart/mixed{--b--\n}",
       {"no-first-delimiter@43"}},
      {"a line that is not a field starts the body",
       kMixed + "--b\nContent-Type: text/html\nthis is text\n--b--\n",
       "multipart/mixed[text/html{this is text}]", {"not-a-header-field@71"}},
      {"8-bit header octets", "Subject: caf\xe9\n\nx", "text/plain{x}", {"eight-bit-header@12"}},
      {"unknown charset", "Content-Type: text/plain; charset=x-nowhere\n\nx", "text/plain{x}",
       {"unknown-charset@0"}},
      {"parts repeating a Content-Type: each its own defect, and a different one in between",
       kMixed + "--b\nContent-Type: text/x; charset=x-no\n\n1\n--b\nContent-Type: text/x; charset=x-no\n\n2\n"
       "--b\nContent-Type: text/y\n\n3\n--b\nContent-Type: text/x; charset=x-no\n\n4\n--b--\n",
       "multipart/mixed[text/x{1},text/x{2},text/y{3},text/x{4}]",
       {"unknown-charset@47", "unknown-charset@89", "unknown-charset@159"}},
      {"unknown transfer encoding: the body as it is", "Content-Transfer-Encoding: x-uuencode\n\nbegin",
       "text/plain{begin}", {"bad-transfer-encoding@0"}},
      {"a type without subtype", "X: 1\nContent-Type: text\n\nx", "text/plain{x}", {"bad-content-type@5"}},
      {"a boundary over 70 characters still splits", "Content-Type: multipart/mixed; boundary=" + x75 +
       "\n\n--" + x75 + "\n\none\n--" + x75 + "--\n", "multipart/mixed[text/plain{one}]",
       {"long-boundary@0"}},
  }, opt.get());
  // clang-format on
}

// Decoding defects come with the decoded body, at their offset in the message.
TEST(MessageRead, TolerantDecodingReportsTheFirstFault) {
  const struct {
    std::string message;
    std::string decoded;
    kxInt kind, offset;
  } rows[] = {
      {"Content-Transfer-Encoding: base64\n\naGV*sbG8=", "hello", MIME_DEFECT_BASE64_JUNK, 38},
      {"Content-Transfer-Encoding: base64\n\naGVsbG8hZ\n", "hello!", MIME_DEFECT_BASE64_TRUNCATED, 43},
      {"Content-Transfer-Encoding: base64\n\naGVsbG8h", "hello!", -1, 0},
      {"Content-Transfer-Encoding: quoted-printable\n\nok=3D=\nbad=G1", "ok=bad=G1",
       MIME_DEFECT_QUOTED_PRINTABLE_BAD_ESCAPE, 55},
  };
  OptionsRef opt(mimeOptionsCreate());
  for (const auto &row : rows) {
    BufferRef input(buf(row.message));
    PartRef root(mimeMessageRead(input.get(), opt.get()));
    MIME_DEFECT defect;
    EXPECT_EQ(bytesOf(BufferRef(mimePartDecodeBody(root.get(), opt.get(), &defect)).get()), row.decoded);
    EXPECT_EQ(defect.kind, row.kind) << row.message;
    if (row.kind >= 0) {
      EXPECT_EQ(defect.offset, row.offset) << row.message;
    }
  }
}

// Junk is looked for 64 octets at a time: junk at either edge of such a block, or in the tail after the
// last whole block, is found at its own offset all the same, and so are the characters just past the
// letters and the digits.
TEST(MessageRead, Base64JunkIsFoundWhereverItStands) {
  const std::string header = "Content-Transfer-Encoding: base64\n\n";
  OptionsRef opt(mimeOptionsCreate());
  const std::pair<size_t, char> rows[] = {{0, '\x80'}, {63, '['},     {64, ':'},
                                          {127, '{'},  {130, '\x80'}, {199, '['}};
  for (const auto &[junkAt, junk] : rows) {
    std::string body(200, 'Q');
    body[junkAt] = junk;
    BufferRef input(buf(header + body));
    PartRef root(mimeMessageRead(input.get(), opt.get()));
    MIME_DEFECT defect;
    BufferRef decoded(mimePartDecodeBody(root.get(), opt.get(), &defect));
    EXPECT_EQ(defect.kind, MIME_DEFECT_BASE64_JUNK) << junkAt;
    EXPECT_EQ(defect.offset, static_cast<kxInt>(header.size() + junkAt)) << junkAt;
    EXPECT_EQ(kxBufferLength(decoded.get()), 149) << junkAt;  // 199 letters: 49 groups and 2 octets
  }
}

TEST(MessageRead, LimitsAreDefectsNotFailures) {
  OptionsRef opt(mimeOptionsCreate());
  mimeOptionsSetReaderLimit(opt.addr(), MIME_READER_LIMIT_DEPTH, 1);
  mimeOptionsSetReaderLimit(opt.addr(), MIME_READER_LIMIT_PARTS, 3);
  mimeOptionsSetReaderLimit(opt.addr(), MIME_READER_LIMIT_PARAMETERS, 1);
  const std::string inner = "Content-Type: multipart/mixed; boundary=i\n\n--i\n\ndeep\n--i--\n";
  // clang-format off
  expectRows({
      {"nesting past the limit stays a leaf", kMixed + "--b\n" + inner + "--b--\n",
       "multipart/mixed[multipart/mixed{--i\n\ndeep\n--i--}]", {"too-deep@90"}},
      {"parts past the limit stay in the multipart's body",
       kMixed + "--b\n\n1\n--b\n\n2\n--b\n\n3\n--b\n\n4\n--b--\n",
       "multipart/mixed[text/plain{1},text/plain{2},text/plain{3}]", {"too-many-parts@68"}},
      {"parameters past the limit are not read", "Content-Type: text/html; a=1; charset=x-nowhere\n\nx",
       "text/html{x}", {"too-many-parameters@0"}},
  }, opt.get());
  // clang-format on
}

// A visitor that stops the reading gets nothing after the visit that stopped it.
TEST(MessageRead, ReadingPartByPartStopsWhenTheVisitorSaysSo) {
  OptionsRef opt(mimeOptionsCreate());
  BufferRef input(buf(kMixed + "--b\n\n1\n--b\nContent-Type: message/rfc822\n\nSubject: s\n\n2\n--b--\n"));
  Visits all;
  ASSERT_TRUE(mimeMessageReadEach(input.get(), opt.get(), Visits::record, &all));
  ASSERT_EQ(all.lines.size(), 6u);  // START, leaf, START, leaf, END, END
  for (size_t stopAt = 1; stopAt <= all.lines.size(); ++stopAt) {
    Visits some;
    some.stopAt = stopAt;
    EXPECT_FALSE(mimeMessageReadEach(input.get(), opt.get(), Visits::record, &some));
    EXPECT_EQ(some.lines, std::vector<std::string>(all.lines.begin(), all.lines.begin() + stopAt));
  }
}

// Content-Disposition is read with the reader's options, and one the strict decoder refuses still gives
// what it says: "type(file name)" and the defects of the part.
TEST(MessageRead, DispositionIsReadWithTheReadersOptionsAndAsFarAsItGoes) {
  OptionsRef strict2231(mimeOptionsCreate());
  OptionsRef no2231(options(0));
  OptionsRef oneParameter(mimeOptionsCreate());
  mimeOptionsSetReaderLimit(oneParameter.addr(), MIME_READER_LIMIT_PARAMETERS, 1);
  const struct {
    const char *label;
    MIME_OPTIONS *opt;
    std::string fields;
    std::string read;
    std::vector<std::string> defects;
  } rows[] = {
      // clang-format off
      {"a comment holding a semicolon before the parameters", strict2231.get(),
       "Content-Disposition: attachment (see; below); filename=a.txt\n", "attachment(a.txt)", {}},
      {"a quoted string left open runs to the end", strict2231.get(),
       "Content-Disposition: inline; filename=\"report.pdf\n", "inline(report.pdf)",
       {"bad-content-disposition@0"}},
      {"a comment left open is no value", strict2231.get(),
       "Content-Disposition: inline; filename=(a.txt\n", "inline()", {"bad-content-disposition@0"}},
      {"a type that is no token reads as attachment", strict2231.get(),
       "Content-Disposition: \"inline\"; filename=x.txt\n", "attachment(x.txt)",
       {"bad-content-disposition@0"}},
      {"8-bit octets in the fallback charset", strict2231.get(),
       "Content-Disposition: attachment; filename=\"caf\xE9.txt\"\n", "attachment(caf\xC3\xA9.txt)",
       {"eight-bit-header@46"}},
      {"RFC 2231 form read under the flag", strict2231.get(),
       "Content-Type: text/plain; name=b.txt\nContent-Disposition: attachment; filename*=UTF-8''%C3%A9.txt\n",
       "attachment(\xC3\xA9.txt)", {}},
      {"without the flag it is no filename: the type's name stands", no2231.get(),
       "Content-Type: text/plain; name=b.txt\nContent-Disposition: attachment; filename*=UTF-8''%C3%A9.txt\n",
       "attachment(b.txt)", {}},
      {"parameters past the limit", oneParameter.get(),
       "Content-Disposition: attachment; size=3; filename=a.txt\n", "attachment()",
       {"too-many-parameters@0"}},
      // clang-format on
  };
  for (const auto &row : rows) {
    BufferRef input(buf(row.fields + "\nabc"));
    PartRef part(mimeMessageRead(input.get(), row.opt));
    StringRef type(mimePartDisposition(part.get()));
    StringRef name(mimePartFileName(part.get()));
    EXPECT_EQ((type ? utf8Of(type.get()) : "-") + "(" + (name ? utf8Of(name.get()) : "") + ")", row.read)
        << row.label;
    std::vector<std::string> defects;
    collectDefects(part.get(), &defects);
    EXPECT_EQ(defects, row.defects) << row.label;
  }
}

// Unstructured fields come out with their folds joined and their encoded words decoded; raw 8-bit octets in
// the fallback charset of the options the message was read with.
TEST(MessageRead, UnstructuredFieldTextIsDecoded) {
  OptionsRef cyrillic(mimeOptionsCreate());
  mimeOptionsSetHeaderFallbackCharset(cyrillic.addr(), kxCharsetFromIanaName(str("windows-1251").get()));
  const struct {
    std::string message;
    const char *text;
  } rows[] = {
      {"Subject: Re: =?ISO-8859-1?Q?caf=E9?=\n au lait\n\n", "Re: caf\xC3\xA9 au lait"},
      {"Subject: \xCF\xF0\xE8\xE2\xE5\xF2\n\n", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
  };
  for (const auto &row : rows) {
    BufferRef input(buf(row.message));
    PartRef part(mimeMessageRead(input.get(), cyrillic.get()));
    HeaderRef header(mimePartHeader(part.get()));
    EXPECT_EQ(utf8Of(StringRef(mimeHeaderTextCstr(header.get(), "subject", -1)).get()), row.text) << row.text;
  }
}

// What the encoder and the packer write, the reader reads back: the same parts, types and octets, and each
// body decoded to what was encoded, under each body flag.
TEST(MessageRead, ReadsBackExactlyWhatTheEncoderAndPackerWrite) {
  BodySource source(13);
  const kxInt base = MIME_FLAG_PARSE_RFC2231_HEADERS | MIME_FLAG_GENERATE_RFC2231_HEADERS;
  for (kxInt flags :
       {base, base | MIME_FLAG_GENERATE_EIGHT_BIT_BODY, base | MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE}) {
    OptionsRef opt = options(flags);
    for (int round = 0; round < 30; ++round) {
      std::vector<std::string> bodies;
      std::vector<TypeRef> types;
      VectorRef entities(kxVectorCreate());
      for (size_t n = source.below(5) + 1; n > 0; --n) {
        bodies.push_back(source.body());
        types.push_back(source.below(2) ? contentType("application/x-test", {{"n", std::to_string(n)}})
                                        : TypeRef());
        EntityRef e(mimeEncode(opt.get(), buf(bodies.back()).get(), types.back().get(), nullptr));
        kxVectorAppendObj(entities.addr(), mimeEntityObj(e.get()));
      }
      TypeRef type(contentType("multipart/mixed"));
      BufferRef packed(mimeMultipartTryPack(type.addr(), entities.get(), opt.get()));
      ASSERT_TRUE(packed);
      const std::string message =
          "Content-Type: " + utf8Of(StringRef(mimeContentTypeEncode(type.get(), opt.get(), 14)).get()) +
          "\r\n\r\n" + bytesOf(packed.get());
      BufferRef input(buf(message));
      PartRef root(mimeMessageRead(input.get(), opt.get()));
      ASSERT_EQ(mimePartChildrenLength(root.get()), static_cast<kxInt>(bodies.size())) << round;
      for (size_t i = 0; i < bodies.size(); ++i) {
        PartRef part(mimePartChildAt(root.get(), static_cast<kxInt>(i)));
        const EntityView sent = viewOf(mimeEntityFrom(kxVectorBacking(entities.get())[i]));
        EXPECT_TRUE(sameBytes(sent.body.value_or(""), bytesOf(BufferRef(mimePartBody(part.get())).get())))
            << round << " part " << i;
        EXPECT_TRUE(sameBytes(bodies[i],
                              bytesOf(BufferRef(mimePartDecodeBody(part.get(), opt.get(), nullptr)).get())))
            << round << " part " << i;
        EXPECT_EQ(form(TypeRef(mimePartContentType(part.get())).get()),
                  types[i] ? form(types[i].get()) : "text/plain;charset=us-ascii");
        EXPECT_EQ(mimePartDefectsLength(part.get()), 0);
      }
      EXPECT_EQ(mimePartDefectsLength(root.get()), 0);
    }
  }
}

}  // namespace

// MIME_HEADER: reading header blocks of every line-end style and of broken text, writing fields safely.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.hpp"

namespace {

using namespace test_support;
using HeaderRef = kx::Ref<MIME_HEADER>;

struct Read {
  std::vector<std::string> fields;  // "name=value" per field
  std::vector<std::string> raws;
  std::vector<std::pair<kxInt, kxInt>> defects;  // kind, offset
  kxInt bodyOffset;
};

Read read(const std::string &octets, MIME_OPTIONS *opt, kxInt offset = 0) {
  Read r;
  BufferRef input(buf(octets));
  HeaderRef h(mimeHeaderDecode(input.get(), offset, opt, &r.bodyOffset));
  for (kxInt i = 0; i < mimeHeaderLength(h.get()); ++i) {
    r.fields.push_back(utf8Of(StringRef(mimeHeaderNameAt(h.get(), i)).get()) + "=" +
                       utf8Of(StringRef(mimeHeaderValueAt(h.get(), i)).get()));
    r.raws.push_back(bytesOf(BufferRef(mimeHeaderRawAt(h.get(), i)).get()));
  }
  for (kxInt i = 0; i < mimeHeaderDefectsLength(h.get()); ++i) {
    const MIME_DEFECT d = mimeHeaderDefectAt(h.get(), i);
    r.defects.emplace_back(d.kind, d.offset);
  }
  return r;
}

TEST(Header, ReadsFieldsUnfoldedWithTheirOctetsWhateverTheLineEnds) {
  const struct {
    const char *label;
    std::string octets;
    std::vector<std::string> fields;
    std::vector<std::string> raws;
    kxInt bodyOffset;
  } rows[] = {
      // clang-format off
      {"CR LF", "A: 1\r\nB:  two \r\n\r\nbody", {"A=1", "B=two"}, {"A: 1\r\n", "B:  two \r\n"}, 18},
      {"LF only", "A: 1\nB: 2\n\nbody", {"A=1", "B=2"}, {"A: 1\n", "B: 2\n"}, 11},
      {"mixed, folds keep their white space", "Subject: a\r\n\tb\n c\r\nX:\n\n", {"Subject=a\tb c", "X="},
       {"Subject: a\r\n\tb\n c\r\n", "X:\n"}, 23},
      {"a lone CR stays in the value", "A: x\ry\r\n\r\n", {"A=x\ry"}, {"A: x\ry\r\n"}, 10},
      {"no blank line: the block runs to the end", "A: 1\r\nB: 2", {"A=1", "B=2"}, {"A: 1\r\n", "B: 2"}, 10},
      {"empty block", "\r\nbody", {}, {}, 2},
      {"a colon in the value, none in the fold", "Date: 10:20\r\n 30\r\n\r\n", {"Date=10:20 30"},
       {"Date: 10:20\r\n 30\r\n"}, 20},
      // clang-format on
  };
  OptionsRef opt(mimeOptionsCreate());
  for (const auto &row : rows) {
    const Read r = read(row.octets, opt.get());
    EXPECT_EQ(r.fields, row.fields) << row.label;
    EXPECT_EQ(r.raws, row.raws) << row.label;
    EXPECT_EQ(r.bodyOffset, row.bodyOffset) << row.label;
    EXPECT_TRUE(r.defects.empty()) << row.label;
  }
}

// Broken blocks are read as far as they go; each fault is a defect at the octet where it stands.
TEST(Header, RecoversFromBrokenBlocksWithADefectAtTheOffset) {
  const struct {
    const char *label;
    std::string octets;
    std::vector<std::string> fields;
    kxInt bodyOffset;
    std::vector<std::pair<kxInt, kxInt>> defects;
  } rows[] = {
      // clang-format off
      {"a line without a colon starts the body", "A: 1\nnot a field\nB: 2\n\n", {"A=1"}, 5,
       {{MIME_DEFECT_NOT_A_HEADER_FIELD, 5}}},
      {"a space before the colon", "A : 1\n\n", {}, 0, {{MIME_DEFECT_NOT_A_HEADER_FIELD, 0}}},
      {"a fold with no field before it", " A: 1\n\n", {}, 0, {{MIME_DEFECT_NOT_A_HEADER_FIELD, 0}}},
      {"windows-1252 octets: read in the fallback, defect at the first", "A: ok\nS: caf\xe9 \xe9t\xe9\n\n",
       {"A=ok", "S=caf\xc3\xa9 \xc3\xa9t\xc3\xa9"}, 19, {{MIME_DEFECT_EIGHT_BIT_HEADER, 12}}},
      {"a bad octet in a fold is found too", "S: a\n \xff\n\n", {"S=a \xc3\xbf"}, 9,
       {{MIME_DEFECT_EIGHT_BIT_HEADER, 6}}},
      {"an overlong form is not UTF-8", "S: \xc0\xaf\n\n", {"S=\xc3\x80\xc2\xaf"}, 7,
       {{MIME_DEFECT_EIGHT_BIT_HEADER, 3}}},
      {"U+40000 is UTF-8, a four-octet overlong form is not", "S: \xf1\x80\x80\x80\nT: \xf0\x8f\xbf\xbf\n\n",
       {"S=\xf1\x80\x80\x80", "T=\xc3\xb0\xef\xbf\xbd\xc2\xbf\xc2\xbf"}, 17, {{MIME_DEFECT_EIGHT_BIT_HEADER, 11}}},
      {"a lead octet past F4 is not UTF-8", "S: \xf5\x80\x80\x80\n\n",
       {"S=\xc3\xb5\xe2\x82\xac\xe2\x82\xac\xe2\x82\xac"}, 9, {{MIME_DEFECT_EIGHT_BIT_HEADER, 3}}},
      {"a surrogate is not UTF-8", "S: \xed\xa0\x80\n\n", {"S=\xc3\xad\xc2\xa0\xe2\x82\xac"}, 8,
       {{MIME_DEFECT_EIGHT_BIT_HEADER, 3}}},
      // clang-format on
  };
  OptionsRef opt(mimeOptionsCreate());
  for (const auto &row : rows) {
    const Read r = read(row.octets, opt.get());
    EXPECT_EQ(r.fields, row.fields) << row.label;
    EXPECT_EQ(r.bodyOffset, row.bodyOffset) << row.label;
    EXPECT_EQ(r.defects, row.defects) << row.label;
  }
}

TEST(Header, OptionsSetTheFallbackCharsetAndTheFieldLimit) {
  OptionsRef opt(mimeOptionsCreate());
  mimeOptionsSetHeaderFallbackCharset(opt.addr(), KX_CHARSET_ISO_8859_1);
  EXPECT_EQ(read("S: \x80\n\n", opt.get()).fields, std::vector<std::string>{"S=\xc2\x80"});  // not the euro

  mimeOptionsSetReaderLimit(opt.addr(), MIME_READER_LIMIT_HEADER_FIELDS, 2);
  const Read r = read("X: pre\nA: 1\nB: 2\n continued\nC: 3\nD: 4\n\nbody", opt.get(), 7);
  EXPECT_EQ(r.fields, (std::vector<std::string>{"A=1", "B=2 continued"}));
  EXPECT_EQ(r.defects, (std::vector<std::pair<kxInt, kxInt>>{{MIME_DEFECT_TOO_MANY_HEADER_FIELDS, 28}}));
  EXPECT_EQ(r.bodyOffset, 39);  // the fields past the limit still belong to the block
}

TEST(Header, FindsFieldsByNameIgnoringCase) {
  OptionsRef opt(mimeOptionsCreate());
  BufferRef input(buf("Received: a\r\nreceived: b\r\nSubject: s\r\n\r\n"));
  HeaderRef h(mimeHeaderDecode(input.get(), 0, opt.get(), nullptr));
  EXPECT_EQ(mimeHeaderFindCstr(h.get(), "RECEIVED", -1, 0), 0);
  EXPECT_EQ(mimeHeaderFindCstr(h.get(), "received", -1, 1), 1);
  EXPECT_EQ(mimeHeaderFindCstr(h.get(), "Received", -1, 2), -1);
  EXPECT_EQ(mimeHeaderFindCstr(h.get(), "Subject", 4, 0), -1);  // "Subj" is no field's name
  EXPECT_EQ(utf8Of(StringRef(mimeHeaderValueCstr(h.get(), "subject", -1)).get()), "s");
  EXPECT_FALSE(StringRef(mimeHeaderValueCstr(h.get(), "To", -1)));
}

// The writer refuses what would end a field early (its rule is the packer's, tested there); what it accepts
// reads back as written.
TEST(Header, AppendsOnlySafeFieldsAndReadsThemBack) {
  const struct {
    const char *name, *value;
    bool ok;
  } rows[] = {{"Subject", "folded\r\n line", true},
              {"X", "caf\xc3\xa9", true},
              {"Subject", "forged\r\nBcc: x", false},
              {"Bad Name", "v", false},
              {"", "v", false}};
  HeaderRef h(mimeHeaderCreate());
  std::string block;
  for (const auto &row : rows) {
    HeaderRef before(mimeHeaderRetain(h.get()));
    EXPECT_EQ(mimeHeaderTryAppend(h.addr(), str(row.name).get(), str(row.value).get()), row.ok) << row.value;
    EXPECT_EQ(bytesOf(BufferRef(mimeHeaderEncode(before.get())).get()), block);  // copy on write
    if (row.ok) block += std::string(row.name) + ": " + row.value + "\r\n";
  }
  EXPECT_TRUE(sameBytes(block, bytesOf(BufferRef(mimeHeaderEncode(h.get())).get())));
  OptionsRef opt(mimeOptionsCreate());
  EXPECT_EQ(read(block + "\r\n", opt.get()).fields,
            (std::vector<std::string>{"Subject=folded line", "X=caf\xc3\xa9"}));
}

// Appending to a header read from a buffer copies only its fields, never the rest of the buffer, and
// leaves the buffer alone.
TEST(Header, AppendingToAReadHeaderKeepsItsFieldsAndTheInput) {
  OptionsRef opt(mimeOptionsCreate());
  const std::string message = "preamble A: 1\nB: 2\n\nbody";
  BufferRef input(buf(message));
  HeaderRef h(mimeHeaderDecode(input.get(), 9, opt.get(), nullptr));
  HeaderRef read(mimeHeaderRetain(h.get()));
  ASSERT_TRUE(mimeHeaderTryAppend(h.addr(), str("C").get(), str("3").get()));
  EXPECT_TRUE(sameBytes("A: 1\nB: 2\nC: 3\r\n", bytesOf(BufferRef(mimeHeaderEncode(h.get())).get())));
  EXPECT_TRUE(sameBytes("A: 1\nB: 2\n", bytesOf(BufferRef(mimeHeaderEncode(read.get())).get())));
  EXPECT_EQ(bytesOf(input.get()), message);
  EXPECT_EQ(mimeHeaderCompare(h.get(), read.get()), 1);
  EXPECT_EQ(utf8Of(StringRef(mimeHeaderValueAt(h.get(), 2)).get()), "3");
}

}  // namespace

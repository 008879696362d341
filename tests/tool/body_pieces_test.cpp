// mimetool's bodies in pieces (tools/mimetool_body.cpp) against the library encoding the whole body at once:
// the same transfer encoding and the same octets, whatever the piece size, and the delimiter found wherever
// a piece boundary cuts it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mimetool_body.hpp"
#include "support/deterministic_random.hpp"

namespace {

std::string withCrLfLineEnds(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

// Lines of random length (some far longer than a piece) of mostly printable octets, with spaces, tabs,
// "=", bare CRs and LFs, CR LF pairs and octets above 127 mixed in where the encoders decide things.
std::string mixedText(uint64_t seed, size_t size, int highPercent) {
  test_support::DeterministicRandom random(seed);
  const auto below = [&random](int64_t n) { return random.range(0, n - 1); };
  std::string text;
  while (text.size() < size) {
    const size_t line = below(8) == 0 ? below(20000) : below(120);
    for (size_t i = 0; i < line; ++i) {
      const uint64_t pick = below(100);
      if (pick < static_cast<uint64_t>(highPercent)) {
        text += static_cast<char>(0x80 + below(128));
      } else if (pick < static_cast<uint64_t>(highPercent) + 6) {
        text += " \t= \r"[below(5)];
      } else {
        text += static_cast<char>('!' + below(94));
      }
    }
    text += below(4) == 0 ? "\n" : "\r\n";
  }
  return text;
}

std::string randomOctets(uint64_t seed, size_t size) {
  test_support::DeterministicRandom random(seed);
  std::string octets(size, '\0');
  for (char &c : octets) c = static_cast<char>(random.next());
  return octets;
}

mime::Options optionsWith(kxInt flags, kxInt quotedPrintableLine, kxInt base64Line) {
  mime::Options opt;
  opt.setFlags(opt.flags() | flags);
  mime::Ref<RFC_QUOP_OPTIONS> quop = mime::Ref<RFC_QUOP_OPTIONS>::adopt(mimeOptionsRfcQuopOptions(opt.get()));
  rfcQuopOptionsSetOutputLineLength(quop.addr(), quotedPrintableLine);
  mime::Ref<MIME_OPTIONS> edited = mime::Ref<MIME_OPTIONS>::adopt(mimeOptionsRetain(opt.get()));
  mimeOptionsSetRfcQuopOptions(edited.addr(), quop.get());
  mime::Ref<RFC_BASE_OPTIONS> base =
      mime::Ref<RFC_BASE_OPTIONS>::adopt(mimeOptionsRfcBaseOptions(edited.get()));
  rfcBaseOptionsSetOutputLineLength(base.addr(), base64Line);
  mimeOptionsSetRfcBaseOptions(edited.addr(), base.get());
  return mime::Options(std::move(edited));
}

struct BodyRow {
  const char *label;
  std::string octets;
  bool canonical;
  bool multipart;
};

std::vector<BodyRow> bodyRows() {
  std::string longWhiteLine(30000, ' ');  // a line of white space longer than a piece: every cut inside it
  longWhiteLine += "\xC3\xA9 end\n";
  std::string sevenBitLines;
  for (int i = 0; i < 3000; ++i) sevenBitLines += "line " + std::to_string(i) + (i % 7 ? "\r\n" : " \r\n");
  std::string oneLongLine;  // mostly ASCII, one line, quoted-printable wins: cut after soft line breaks
  for (int i = 0; i < 4000; ++i) oneLongLine += i % 97 == 0 ? "caf\xC3\xA9=\t " : "word \t";
  return {
      {"empty", "", true, false},
      {"7bit lines across pieces", sevenBitLines, false, false},
      {"a line too long for 7bit", std::string(5000, 'a') + "\r\n" + sevenBitLines, false, false},
      {"LF text made CR LF, a CR LF split between pieces", mixedText(2, 40000, 0), true, false},
      {"text with octets above 127 (quoted-printable)", mixedText(3, 50000, 2), true, false},
      {"text as it is (bare LFs escaped)", mixedText(4, 50000, 1), false, false},
      {"mostly high octets (Base64)", mixedText(5, 30000, 60), true, false},
      {"random octets, length 3n+1 (Base64)", randomOctets(6, 3 * 7001 + 1), false, false},
      {"one long line", oneLongLine, true, false},
      {"a CR LF made of a piece's last octet and the next one's first",
       std::string(mimetool::kSmallestPiece - 2, 'a') + "\r\nb\n", true, false},
      {"a long line of white space", longWhiteLine, true, false},
      {"8bit lines under a multipart type", "caf\xC3\xA9\r\n" + withCrLfLineEnds(mixedText(7, 20000, 0)),
       false, true},
      {"binary under a multipart type", randomOctets(8, 9000), false, true},
  };
}

struct OptionsRow {
  const char *label;
  mime::Options opt;
};

std::vector<OptionsRow> optionsRows() {
  return {
      {"defaults", optionsWith(0, 76, 76)},
      {"no soft line breaks", optionsWith(0, 0, 76)},
      {"shortest lines", optionsWith(0, 4, 4)},
      {"Base64 in one line", optionsWith(0, 998, 0)},
      {"eight-bit flag", optionsWith(MIME_FLAG_GENERATE_EIGHT_BIT_BODY, 76, 76)},
      {"quoted-printable disabled", optionsWith(MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE, 76, 76)},
  };
}

TEST(BodyPieces, GiveTheEncodingAndOctetsOfTheWholeBody) {
  for (const BodyRow &row : bodyRows()) {
    const std::string travelling = row.canonical ? withCrLfLineEnds(row.octets) : row.octets;
    const mime::ContentType type =
        *mime::ContentType::create(row.multipart ? "multipart/mixed" : "text/plain");
    for (const OptionsRow &options : optionsRows()) {
      const mime::Entity whole = *mime::encode(options.opt, mime::Buffer(travelling), type);
      for (const size_t piece :
           {mimetool::kSmallestPiece, mimetool::kSmallestPiece + 7, mimetool::kPieceOctets}) {
        SCOPED_TRACE(std::string(row.label) + ", " + options.label + ", pieces of " + std::to_string(piece));
        const mimetool::BodyOctets body{row.octets, row.canonical, false, piece};
        const kxInt cte = mimetool::chooseTransferEncoding(body, row.multipart, options.opt);
        const std::string name =
            mime::String(mime::Ref<KX_STRING>::adopt(mimeContentTransferEncodingToString(cte))).utf8();
        ASSERT_EQ(name, whole.contentTransferEncoding().value_or(""));
        std::string written;
        mimetool::writeEncodedBody(body, cte, options.opt,
                                   [&](std::string_view octets) { written += octets; });
        const std::string expected = whole.body()->toString();
        ASSERT_EQ(written.size(), expected.size());
        const auto differ = std::mismatch(written.begin(), written.end(), expected.begin());
        ASSERT_TRUE(differ.first == written.end())
            << "first difference at " << (differ.first - written.begin());
      }
    }
  }
}

TEST(BodyPieces, FindTheDelimiterAtEveryLineStartAcrossPieces) {
  const std::string dash = "--=_0123456789abcdefghijkl";
  const size_t piece = mimetool::kSmallestPiece;
  const std::string filler(piece - 5, 'x');
  struct Row {
    const char *label;
    std::string octets;
    bool canonical;
    bool found;
  };
  const Row rows[] = {
      {"at the start of the body", dash + "\r\n", false, true},
      {"after CR LF, cut by the piece boundary", filler + "\r\n" + dash, false, true},
      {"right at the start of the second piece", std::string(piece - 2, 'x') + "\r\n" + dash, false, true},
      {"after a bare LF made CR LF at the seam", std::string(piece - 2, 'x') + "\n" + dash, true, true},
      {"after a bare CR", filler + "\r" + dash + "x", false, true},
      {"inside a line", filler + "a" + dash + "\r\n", false, false},
      {"its start alone at the end", filler + "\r\n" + dash.substr(0, 10), false, false},
  };
  for (const Row &row : rows) {
    SCOPED_TRACE(row.label);
    EXPECT_EQ(mimetool::holdsDelimiterLine({row.octets, row.canonical, false, piece}, dash), row.found);
  }
}

}  // namespace

// The C++ interface (mime/mime.hpp): reference ownership, the thin value classes, and the road of one
// message through encode, pack, unpack and decode, with the reference counts of everything handed in
// checked to come back where they started.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "mime/mime.hpp"
#include "support/exact_compare.hpp"

namespace {

using test_support::exactlyEqual;

template <typename Thin>
kxInt refsOf(const Thin &object) {
  return kx___ObjRefCount(mime::objectOf(object.get()));
}

// --- Ref ---

TEST(Ref, CountsFollowAdoptBorrowCopyMoveAndReleaseAndNullIsEmpty) {
  KX_BUFFER *raw = kxBufferCreateFromBytes("x", 1);
  const auto refs = [raw] { return kx___ObjRefCount(mime::objectOf(raw)); };
  const mime::Ref<KX_BUFFER> owner = mime::Ref<KX_BUFFER>::adopt(raw);
  EXPECT_EQ(refs(), 1) << "adopt takes over the creator's reference";
  {
    mime::Ref<KX_BUFFER> borrowed = mime::Ref<KX_BUFFER>::borrow(raw);
    EXPECT_EQ(refs(), 2) << "borrow adds one";
    mime::Ref<KX_BUFFER> copy = borrowed;
    EXPECT_EQ(refs(), 3) << "a copy adds one";
    mime::Ref<KX_BUFFER> moved = std::move(copy);
    EXPECT_EQ(refs(), 3) << "a move adds none";
    EXPECT_FALSE(copy);
    const mime::Ref<KX_BUFFER> &alias = moved;
    moved = alias;
    EXPECT_EQ(refs(), 3) << "self-assignment";
    copy = mime::Ref<KX_BUFFER>::adopt(kxBufferCreate());
    copy = moved;  // the other buffer goes (LeakSanitizer would see it otherwise)
    EXPECT_EQ(refs(), 4) << "copy assignment";
    copy = mime::Ref<KX_BUFFER>();
    EXPECT_EQ(refs(), 3) << "assigning an empty Ref releases";
    moved.reset();
    EXPECT_EQ(refs(), 2) << "reset releases";
    kxObjRelease(mime::objectOf(borrowed.detach()));
    EXPECT_EQ(refs(), 1) << "detach hands the reference over";
    EXPECT_FALSE(borrowed);
    moved = owner;
  }
  EXPECT_EQ(refs(), 1) << "leaving the scope released the rest";
  EXPECT_EQ(owner.get(), raw);
  mime::Ref<KX_STRING> none = mime::Ref<KX_STRING>::adopt(nullptr), copy = none;
  EXPECT_FALSE(none || copy || mime::Ref<KX_STRING>::borrow(nullptr));
  EXPECT_EQ(copy.detach(), nullptr);
}

// --- strings and buffers ---

// utf8() writes UTF-8 itself instead of going through kxStringConvertToCstr: both must agree on every
// boundary of the encoding and on what cannot be encoded, and what it writes reads back as one character.
TEST(String, Utf8AgreesWithTheRuntimeOnEveryBoundaryAndReadsBack) {
  const kxChar chars[] = {0x00,   0x7F,   0x80,   0x7FF,   0x800,    0xD7FF,   0xD800,    0xDFFF,
                          0xE000, 0xFFFD, 0xFFFF, 0x10000, 0x10FFFF, 0x110000, 0xFFFFFFFF};
  for (const kxChar c : chars) {
    const mime::String string(mime::Ref<KX_STRING>::adopt(kxStringCreateFromChars(&c, 1)));
    kxInt length = 0;
    char *runtime = kxStringConvertToCstr(string.get(), &length);
    const std::string expected(runtime, static_cast<size_t>(length));
    kxMemFree(runtime);
    EXPECT_TRUE(exactlyEqual(string.utf8(), expected)) << "U+" << std::hex << c;
    EXPECT_EQ(mime::String(expected).length(), 1u) << "U+" << std::hex << c;
  }
  EXPECT_EQ(mime::String(std::string("a\0b", 3)).length(), 3u) << "a NUL inside is a character";
  EXPECT_EQ(mime::String("").utf8(), "");
  EXPECT_EQ(mime::String("a\xFF").utf8(), "a\xEF\xBF\xBD") << "an ill-formed octet becomes U+FFFD";
}

TEST(Buffer, OctetsGoInAndComeBackAndCopiesStayApart) {
  const std::string octets("\x00\xFF\r\n-", 5);
  mime::Buffer first(octets);
  mime::Buffer second = first;
  EXPECT_EQ(refsOf(first), 2);
  second.append(std::string_view("tail"));
  EXPECT_TRUE(exactlyEqual(first.toString(), octets));
  EXPECT_TRUE(exactlyEqual(second.toString(), octets + "tail"));
  EXPECT_EQ(refsOf(first), 1);
  const std::vector<std::byte> bytes = first.toVector();
  ASSERT_EQ(bytes.size(), 5u);
  EXPECT_EQ(bytes[1], std::byte{0xFF});
  EXPECT_EQ(mime::Buffer(std::span<const std::byte>(bytes)), first);
  EXPECT_TRUE(mime::Buffer().empty());
}

// --- options ---

TEST(Options, SettersAcceptTheirRangeAndRefuseTheRest) {
  struct Row {
    const char *label;
    std::function<bool(mime::Options &)> set;
    bool accepted;
    std::function<kxInt(const mime::Options &)> get;
    kxInt value;  // after the call
  };
  const auto fold = [](const mime::Options &o) { return o.wrapLineLength(); };
  const auto section = [](const mime::Options &o) { return o.rfc2231MaxSegmentLength(); };
  const auto charset = [](const mime::Options &o) { return o.rfc2231Charset(); };
  const Row rows[] = {
      {"fold -1 never folds", [](auto &o) { return o.setWrapLineLength(-1); }, true, fold, -1},
      {"fold -2", [](auto &o) { return o.setWrapLineLength(-2); }, false, fold, 76},
      {"fold 0", [](auto &o) { return o.setWrapLineLength(0); }, true, fold, 0},
      {"section -1 never splits", [](auto &o) { return o.setRfc2231MaxSegmentLength(-1); }, true, section,
       -1},
      {"section 0", [](auto &o) { return o.setRfc2231MaxSegmentLength(0); }, false, section, 60},
      {"section 1", [](auto &o) { return o.setRfc2231MaxSegmentLength(1); }, true, section, 1},
      {"charset 50", [](auto &o) { return o.setRfc2231Charset(kxInt{50}); }, true, charset, 50},
      {"charset 51", [](auto &o) { return o.setRfc2231Charset(kxInt{51}); }, false, charset, 44},
      {"alias", [](auto &o) { return o.setRfc2231Charset("latin1"); }, true, charset, 1},
      {"kx name", [](auto &o) { return o.setRfc2231Charset("WINDOWS_1252"); }, true, charset, 17},
      {"unknown name", [](auto &o) { return o.setRfc2231Charset("klingon"); }, false, charset, 44},
  };
  for (const Row &row : rows) {
    mime::Options opt;
    EXPECT_EQ(row.set(opt), row.accepted) << row.label;
    EXPECT_EQ(row.get(opt), row.value) << row.label;
  }
}

TEST(Options, TextFormRoundTripsAndCopiesStayApart) {
  mime::Options opt;
  opt.setWrapLineLength(40);
  opt.setFlag(MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE, true);
  opt.setRfc2231Charset("ISO-8859-15");
  const mime::Options copy = opt;
  opt.setFlag(MIME_FLAG_PARSE_RFC2231_HEADERS, false);
  EXPECT_TRUE(copy.flags() & MIME_FLAG_PARSE_RFC2231_HEADERS);
  EXPECT_FALSE(opt.flags() & MIME_FLAG_PARSE_RFC2231_HEADERS);

  for (const bool full : {false, true}) {
    const std::optional<mime::Options> back = mime::Options::fromText(copy.toText(full));
    ASSERT_TRUE(back) << copy.toText(full);
    EXPECT_EQ(back->wrapLineLength(), 40);
    EXPECT_EQ(back->flags(), copy.flags());
    EXPECT_EQ(back->rfc2231Charset(), copy.rfc2231Charset());
    if (!full) {
      EXPECT_EQ(*back, copy) << "only the explicit fields were written, so the markers agree too";
    }
  }
  EXPECT_EQ(mime::Options().toText(false), "");
  EXPECT_FALSE(mime::Options::fromText("flags = \"unterminated"));
  EXPECT_EQ(mime::flagsFromString(mime::flagsToString(29)), 29);
  EXPECT_EQ(mime::flagsToString(31), mime::flagsToString(27)) << "RFC 2231 generation drops the Unicode flag";
}

// --- content types ---

// The name grammar itself is tested with the C API; here only that a bad name gives nothing.
TEST(ContentType, CreateRefusesWhatIsNoMediaType) {
  EXPECT_EQ(mime::ContentType::create("Text/HTML").value().name(), "text/html");
  EXPECT_FALSE(mime::ContentType::create("text/pl ain"));
}

TEST(ContentType, ParameterKeysAreCheckedInsteadOfAborting) {
  mime::ContentType type = *mime::ContentType::create("text/plain");
  ASSERT_TRUE(type.setParameter("Charset", "utf-8"));
  const char *badKeys[] = {"", "a b", "x;", "k\xC3\xA9y", "q\"", "tab\t"};
  for (const char *key : badKeys) {
    EXPECT_FALSE(type.setParameter(key, "v")) << key;
    EXPECT_FALSE(type.parameter(key)) << key;
    EXPECT_FALSE(type.removeParameter(key)) << key;
  }
  EXPECT_EQ(type.parameters(), (std::vector<std::pair<std::string, std::string>>{{"charset", "utf-8"}}));
  EXPECT_EQ(type.parameter("CHARSET"), "utf-8");
  EXPECT_TRUE(type.removeParameter("absent"));
  EXPECT_FALSE(type.setName("nonsense"));
  EXPECT_EQ(type.name(), "text/plain");
}

TEST(ContentType, EncodesAndDecodesRfc2231AndCopiesStayApart) {
  const mime::Options opt;
  mime::ContentType type = *mime::ContentType::create("application/pdf");
  const std::string name =
      "\u00DCberweisung M\xC3\xA4rz \xE2\x80\x93 Kontoauszug f\xC3\xBCr Frau M\xC3\xBCller.pdf";
  type.setParameter("filename", name);
  const mime::ContentType copy = type;
  type.setParameter("filename", "changed.pdf");
  EXPECT_EQ(copy.parameter("filename"), name);

  const std::string header = copy.encode(opt);
  EXPECT_NE(header.find("filename*1*="), std::string::npos) << header;
  const std::optional<mime::ContentType> back = mime::ContentType::decode(header, opt);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, copy);
  EXPECT_FALSE(mime::ContentType::decode("no media type", opt));
}

// --- content dispositions ---

// The wrapper's own refusals (a bad type or key gives false or nothing, not an abort), and a failed decode
// leaving its reason.
TEST(ContentDisposition, RefusesInsteadOfAbortingAndLeavesTheReason) {
  const mime::Options opt;
  EXPECT_FALSE(mime::ContentDisposition::create("at tachment"));
  mime::ContentDisposition disposition = *mime::ContentDisposition::create("Attachment");
  EXPECT_TRUE(disposition.isAttachment());
  EXPECT_FALSE(disposition.setType("a/b"));
  EXPECT_FALSE(disposition.setParameter("a=b", "v"));
  EXPECT_FALSE(disposition.parameter("a b"));
  disposition.setFilename("\xC3\xA9t\xC3\xA9.txt");
  const mime::ContentDisposition copy = disposition;
  disposition.setFilename("changed.txt");
  EXPECT_EQ(copy.filename(), "\xC3\xA9t\xC3\xA9.txt");
  EXPECT_EQ(disposition.parameters(),
            (std::vector<std::pair<std::string, std::string>>{{"filename", "changed.txt"}}));

  EXPECT_FALSE(mime::ContentDisposition::decode("attachment; filename=\"open", opt));
  const mime::Failure failure = mime::lastFailure();
  EXPECT_EQ(failure.kind, MIME_FAILURE_UNCLOSED_QUOTED_STRING);
  EXPECT_EQ(failure.subject, "Content-Disposition");
  EXPECT_EQ(failure.offset, 21);
  EXPECT_EQ(mime::ContentDisposition::decode("inline; filename*=UTF-8''%C3%A9", opt)->filename(), "\xC3\xA9");
  EXPECT_EQ(copy.encode(opt), "attachment;filename*=UTF-8''%C3%A9t%C3%A9.txt");
  EXPECT_EQ(mime::lastFailure().kind, MIME_FAILURE_NONE);
}

// --- entities and the road of one message ---

struct SentPart {
  std::string body;
  std::string type;
  std::optional<std::string> id;
};

std::string everyOctet() {
  std::string octets;
  for (int i = 0; i < 512; ++i) octets += static_cast<char>(i);
  return octets;
}

// Whatever the interface retains while it works, it gives back: after the road every object handed in has
// the count it started with (LeakSanitizer checks the objects made inside).
TEST(Road, APackedMessageComesBackPartForPartAndNoReferenceOutlivesItsUse) {
  const mime::Options opt;
  const SentPart sent[] = {
      {"Gr\u00FC\u00DFe\r\n--frontier\r\n", "text/plain; charset=utf-8", std::nullopt},
      {everyOctet(), "application/octet-stream", mime::generateContentId()},
      {"", "text/plain", "empty@example"},
  };
  std::vector<mime::Buffer> bodies;
  for (const SentPart &part : sent) bodies.emplace_back(part.body);
  const kxInt optRefs = refsOf(opt);
  {
    std::vector<mime::Entity> entities;
    for (size_t i = 0; i < std::size(sent); ++i) {
      const mime::ContentType type = *mime::ContentType::decode(sent[i].type, opt);
      std::optional<mime::Entity> entity = mime::encode(opt, bodies[i], type, sent[i].id);
      ASSERT_TRUE(entity);
      EXPECT_EQ(refsOf(type), 1) << i;
      entities.push_back(*entity);
    }
    EXPECT_EQ(refsOf(bodies[2]), 2) << "a 7bit body travels as it is, shared by the entity";
    mime::ContentType mixed = *mime::ContentType::create("multipart/mixed");
    const kxInt mixedRefs = refsOf(mixed);
    const std::optional<mime::Buffer> packed = mime::pack(mixed, entities, opt);
    ASSERT_TRUE(packed);
    EXPECT_EQ(refsOf(mixed), mixedRefs) << "an unshared content type takes its boundary in place";
    ASSERT_TRUE(mixed.parameter("boundary"));
    const std::optional<mime::Entity> outer = mime::encode(opt, *packed, mixed);
    ASSERT_TRUE(outer);

    // The receiver starts from the field values and body alone.
    mime::Entity received;
    received.setContentType(*outer->contentType());
    received.setContentTransferEncoding(*outer->contentTransferEncoding());
    received.setBody(mime::Buffer(outer->body()->view()));
    EXPECT_FALSE(received.contentId());
    received.setContentId(" <outer@example> ");
    const std::optional<mime::Decoded> message = mime::decode(received, opt);
    ASSERT_TRUE(message && message->contentType && message->body);
    EXPECT_EQ(*message->contentType, mixed);
    EXPECT_EQ(message->contentId, "outer@example");
    const std::optional<std::vector<mime::Entity>> parts =
        mime::unpack(*message->contentType, *message->body, opt);
    ASSERT_TRUE(parts);
    ASSERT_EQ(parts->size(), std::size(sent));
    for (size_t i = 0; i < parts->size(); ++i) {
      const std::optional<mime::Decoded> part = mime::decode((*parts)[i], opt);
      ASSERT_TRUE(part) << i;
      EXPECT_TRUE(exactlyEqual(part->body ? part->body->toString() : "", sent[i].body)) << i;
      EXPECT_EQ(*part->contentType, *mime::ContentType::decode(sent[i].type, opt)) << i;
      EXPECT_EQ(part->contentId, sent[i].id) << i;
      EXPECT_EQ(refsOf((*parts)[i]), 1) << "the vector's reference went with it";
    }
  }
  EXPECT_EQ(refsOf(opt), optRefs);
  for (const mime::Buffer &body : bodies) EXPECT_EQ(refsOf(body), 1);
}

TEST(Road, RefusalsAreEmptyOptionalsNotAborts) {
  const mime::Options opt;
  const mime::Buffer body(std::string_view("x"));
  const mime::ContentType plain = *mime::ContentType::create("text/plain");
  mime::ContentType mixed = *mime::ContentType::create("multipart/mixed");
  const mime::ContentType fenced = *mime::ContentType::decode("multipart/mixed; boundary=fence", opt);

  EXPECT_FALSE(mime::encode(opt, body, plain, "a\x01z")) << "a control character in the Content-ID";
  EXPECT_TRUE(mime::encode(opt, nullptr, nullptr)) << "nothing at all is an empty entity";
  EXPECT_FALSE(mime::pack(mixed, std::span<const mime::Entity>(), opt)) << "no parts";
  EXPECT_FALSE(mixed.parameter("boundary"));
  // What the C functions refuse comes back empty (their own tests hold the many ways to fail).
  EXPECT_FALSE(mime::unpack(fenced, mime::Buffer(std::string_view("--fence\r\n\r\nx\r\n")), opt));
  mime::Entity badBase64;
  badBase64.setContentTransferEncoding("base64");
  badBase64.setBody(mime::Buffer(std::string_view("QUJD\r\nR")));  // a lone sixth bit group
  EXPECT_FALSE(mime::decode(badBase64, opt));
}

// The wrapper's own part: the optional malformed report, and offsets too large for the C function's range.
TEST(EncodedWords, MalformedIsOptionalAndAnyOffsetIsTaken) {
  bool malformed = false;
  EXPECT_EQ(mime::decodeEncodedWords("=?utf-8?q?caf=C3=A9?= =?x?q?y?=", &malformed), "café =?x?q?y?=");
  EXPECT_TRUE(malformed);
  EXPECT_EQ(mime::decodeEncodedWords("=?utf-8?b?w6k=?="), "é");
  const mime::Options opt;
  EXPECT_EQ(mime::encodeEncodedWords("a é", opt, SIZE_MAX), "a\r\n =?UTF-8?B?w6k=?=") << "folds, no abort";
}

// The wrappers' own work: the tree handed out as values that keep the message alive, offsets past the end
// refused instead of aborting, and the decoding defect reported beside the octets.
TEST(Reader, TreeAndHeaderThroughTheWrappers) {
  const mime::Options opt;
  std::optional<mime::Part> root;
  {
    const mime::Buffer message(
        "Subject: =?UTF-8?Q?caf=C3=A9?=\nContent-Type: multipart/mixed; boundary=b\n\n--b\n"
        "Content-Disposition: Attachment; filename=a.bin\n"
        "Content-Transfer-Encoding: base64\n\nYWJj*\n--b--\n");
    root = mime::readMessage(message, opt);
    EXPECT_FALSE(mime::Header::decode(message, opt, message.size() + 1));
  }
  const std::vector<mime::Part> parts = root->children();
  ASSERT_EQ(parts.size(), 1u);
  EXPECT_EQ(parts[0].fileName(), "a.bin");
  EXPECT_EQ(parts[0].disposition(), "attachment");
  EXPECT_EQ(parts[0].contentDisposition()->parameter("filename"), "a.bin");
  EXPECT_FALSE(root->contentDisposition());
  EXPECT_EQ(root->fieldText("subject"), "caf\xC3\xA9");
  EXPECT_FALSE(parts[0].fieldText("Subject"));
  std::optional<mime::Defect> defect;
  EXPECT_EQ(parts[0].decodedBody(opt, &defect).toString(), "abc");
  ASSERT_TRUE(defect);
  EXPECT_EQ(defect->name(), "base64-junk");
  EXPECT_EQ(parts[0].header().fields()[0].name, "Content-Disposition");

  mime::Header header;
  EXPECT_TRUE(header.append("Subject", "caf\xC3\xA9"));
  EXPECT_FALSE(header.append("Subject", "x\r\nBcc: y"));
  EXPECT_EQ(header.encode().toString(), "Subject: caf\xC3\xA9\r\n");
  EXPECT_EQ(header.value("subject"), "caf\xC3\xA9");
}

// The wrapper's own work in reading part by part: a part kept past its visit stays whole, and an exception
// from the visitor stops the reading and comes out of the call.
TEST(Reader, PartByPartKeepsWhatTheVisitorKeepsAndPassesItsExceptionOn) {
  const mime::Options opt;
  const mime::Buffer message("Content-Type: multipart/mixed; boundary=b\n\n--b\n\none\n--b\n\ntwo\n--b--\n");
  std::vector<std::pair<mime::Visit, mime::Part>> kept;
  EXPECT_TRUE(mime::readMessageEach(message, opt, [&](const mime::Part &part, mime::Visit visit, size_t) {
    kept.emplace_back(visit, part);
    return true;
  }));
  ASSERT_EQ(kept.size(), 4u);
  EXPECT_EQ(kept[0].first, mime::Visit::kStart);
  EXPECT_EQ(kept[2].second.decodedBody(opt).toString(), "two");
  EXPECT_EQ(kept[3].first, mime::Visit::kEnd);
  size_t visits = 0;
  EXPECT_THROW(mime::readMessageEach(message, opt,
                                     [&](const mime::Part &, mime::Visit, size_t) -> bool {
                                       if (++visits == 2) throw std::runtime_error("stop");
                                       return true;
                                     }),
               std::runtime_error);
  EXPECT_EQ(visits, 2u);
}

TEST(Module, GuardsNest) {
  {
    const mime::Module inner;
    EXPECT_TRUE(inner);
  }
  EXPECT_TRUE(kxModuleStarted(mimeModule())) << "the outer guard in main still holds the library";
  EXPECT_FALSE(mime::flagsToString(MIME_FLAG_PARSE_RFC2231_HEADERS).empty());
}

}  // namespace

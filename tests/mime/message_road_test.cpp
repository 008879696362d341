// The road of one message, end to end: structured parts encoded, packed under a multipart type, the outer
// entity encoded and sent; then received, decoded, unpacked and every part decoded back. Also nested
// multiparts and random bodies and messages, byte for byte.
#include <gtest/gtest.h>

#include "wire_test_support.hpp"

namespace {

using namespace wiretest;
using namespace std::string_literals;

constexpr kxInt kDefaultFlags = MIME_FLAG_PARSE_RFC2231_HEADERS | MIME_FLAG_GENERATE_RFC2231_HEADERS;

// One part in its structured view.
struct Part {
  std::string body;
  TypeRef type;
  StringRef id;
};

TypeRef typeOf(const char *name,
               std::initializer_list<std::pair<const char *, std::string>> parameters = {}) {
  TypeRef type(mimeContentTypeCreateCstr(name, -1));
  for (const auto &[key, value] : parameters) {
    mimeContentTypeSetParameterCstrCstrValue(type.addr(), key, -1, value.data(),
                                             static_cast<kxInt>(value.size()));
  }
  return type;
}

EntityRef encodePart(MIME_OPTIONS *opt, const Part &part) {
  return EntityRef(mimeEncode(opt, buf(part.body).get(), part.type.get(), part.id.get()));
}

// The outer entity of a multipart message with these parts; *type receives the boundary.
EntityRef encodeMessage(MIME_OPTIONS *opt, const std::vector<Part> &parts, TypeRef *type) {
  VectorRef entities(kxVectorCreate());
  for (const Part &part : parts)
    kxVectorAppendObj(entities.addr(), mimeEntityObj(encodePart(opt, part).get()));
  BufferRef packed(mimeMultipartTryPack(type->addr(), entities.get(), opt));
  EXPECT_TRUE(packed);
  return EntityRef(mimeEncode(opt, packed.get(), type->get(), nullptr));
}

// What a receiver builds from the field values and body it read off the wire: fresh objects, nothing
// shared with the sender.
EntityRef received(MIME_ENTITY *sent) {
  const EntityView wire = viewOf(sent);
  return entityOf(wire);
}

struct Decoded {
  BufferRef body;
  TypeRef type;
  StringRef id;
};

Decoded decodeOrFail(MIME_ENTITY *entity, MIME_OPTIONS *opt) {
  KX_BUFFER *body = nullptr;
  MIME_CONTENT_TYPE *type = nullptr;
  KX_STRING *id = nullptr;
  EXPECT_TRUE(mimeDecode(entity, opt, &body, &type, &id));
  return {BufferRef(body), TypeRef(type), StringRef(id)};
}

// Decodes the outer entity, unpacks it and decodes every part.
std::vector<Decoded> receiveMessage(MIME_ENTITY *outer, MIME_OPTIONS *opt, MIME_CONTENT_TYPE *sentType) {
  Decoded message = decodeOrFail(outer, opt);
  EXPECT_TRUE(message.type && mimeContentTypeEquals(message.type.get(), sentType));
  if (!message.type || !message.body) return {};
  VectorRef entities(mimeMultipartTryUnpack(message.type.addr(), message.body.get(), opt));
  EXPECT_TRUE(entities);
  if (!entities) return {};
  std::vector<Decoded> parts;
  for (kxInt i = 0; i < kxVectorLength(entities.get()); ++i) {
    ObjRef item(kxVectorObjAt(entities.get(), i));
    parts.push_back(decodeOrFail(mimeEntityFrom(item.get()), opt));
  }
  return parts;
}

void expectSamePart(const Part &sent, const Decoded &got, size_t i) {
  ASSERT_TRUE(got.body || sent.body.empty()) << "part " << i;
  EXPECT_TRUE(sameBytes(sent.body, got.body ? bytesOf(got.body.get()) : "")) << "part " << i;
  ASSERT_EQ(got.type.get() != nullptr, sent.type.get() != nullptr) << "part " << i;
  if (sent.type) {
    EXPECT_TRUE(mimeContentTypeEquals(got.type.get(), sent.type.get()))
        << "part " << i << ": " << utf8Of(StringRef(mimeContentTypeToString(got.type.get())).get());
  }
  ASSERT_EQ(got.id.get() != nullptr, sent.id.get() != nullptr) << "part " << i;
  if (sent.id) {
    EXPECT_EQ(utf8Of(got.id.get()), utf8Of(sent.id.get())) << "part " << i;
  }
}

void expectSameParts(const std::vector<Part> &sent, const std::vector<Decoded> &got) {
  ASSERT_EQ(got.size(), sent.size());
  for (size_t i = 0; i < sent.size(); ++i) expectSamePart(sent[i], got[i], i);
}

OptionsRef roadOptions() {
  OptionsRef opt(mimeOptionsCreate());
  mimeOptionsSetFlags(opt.addr(), kDefaultFlags);
  mimeOptionsSetWrapLineLength(opt.addr(), 76);
  mimeOptionsSetRfc2231Charset(opt.addr(), 44);
  mimeOptionsSetRfc2231MaxSegmentLength(opt.addr(), 60);
  return opt;
}

std::string everyOctetTimes(int n) {
  std::string s;
  for (int i = 0; i < n * 256; ++i) s += static_cast<char>(i);
  return s;
}

TEST(MessageRoad, ThreePartsTravelFromSenderToReceiverAndBack) {
  OptionsRef opt = roadOptions();
  const std::string fileName =
      "\xC3\x9C"
      "berweisung M\xC3\xA4rz \xE2\x80\x93 Kontoausz\xC3\xBCg f\xC3\xBCr Frau M\xC3\xBCller-"
      "L\xC3\xBC"
      "denscheidt, Seite 1 von 2.pdf";
  std::vector<Part> parts;
  parts.push_back(
      {"Gr\xC3\xBC\xC3\x9F"
       "e aus dem S\xC3\xBC"
       "den.\r\n--frontier\r\nZweite Zeile\r\n",
       typeOf("text/plain", {{"charset", "utf-8"}}), StringRef()});
  parts.push_back(
      {everyOctetTimes(8), typeOf("application/octet-stream"), StringRef(mimeContentIdGenerate())});
  parts.push_back({"%PDF-1.4\r\n--\r\n" + everyOctetTimes(1), typeOf("application/pdf", {{"name", fileName}}),
                   StringRef()});

  // The file name needs RFC 2231: it is non-ASCII and longer than a section.
  EntityRef filePart = encodePart(opt.get(), parts[2]);
  const std::string fileType = *viewOf(filePart.get()).contentType;
  EXPECT_NE(fileType.find("name*0*="), std::string::npos) << fileType;
  EXPECT_NE(fileType.find("name*1*="), std::string::npos) << fileType;

  TypeRef mixed = typeOf("multipart/mixed");
  EntityRef outer = encodeMessage(opt.get(), parts, &mixed);
  StringRef boundary(mimeContentTypeParameterCstr(mixed.get(), "boundary", -1));
  ASSERT_TRUE(boundary);
  EXPECT_EQ(kxStringLength(boundary.get()), 10);

  EntityRef wire = received(outer.get());
  expectSameParts(parts, receiveMessage(wire.get(), opt.get(), mixed.get()));
}

TEST(MessageRoad, NestedMultipartRoundTrips) {
  OptionsRef opt = roadOptions();
  std::vector<Part> alternatives;
  alternatives.push_back({"plain text\r\n", typeOf("text/plain", {{"charset", "us-ascii"}}), StringRef()});
  alternatives.push_back(
      {"<p>r\xC3\xA9sum\xC3\xA9</p>", typeOf("text/html", {{"charset", "utf-8"}}), StringRef()});
  TypeRef alternative = typeOf("multipart/alternative");
  EntityRef inner = encodeMessage(opt.get(), alternatives, &alternative);

  // The inner message travels as one part of the outer one, its body still encoded for transport.
  Decoded innerStructured = decodeOrFail(inner.get(), opt.get());
  std::vector<Part> outerParts;
  outerParts.push_back(
      {bytesOf(innerStructured.body.get()), TypeRef(mimeContentTypeRetain(alternative.get())), StringRef()});
  outerParts.push_back({everyOctetTimes(2), typeOf("application/octet-stream"), str("attachment@example")});
  TypeRef mixed = typeOf("multipart/mixed");
  EntityRef outer = encodeMessage(opt.get(), outerParts, &mixed);
  StringRef innerBoundary(mimeContentTypeParameterCstr(alternative.get(), "boundary", -1));
  StringRef outerBoundary(mimeContentTypeParameterCstr(mixed.get(), "boundary", -1));
  EXPECT_NE(utf8Of(innerBoundary.get()), utf8Of(outerBoundary.get()));

  EntityRef wire = received(outer.get());
  std::vector<Decoded> got = receiveMessage(wire.get(), opt.get(), mixed.get());
  expectSameParts(outerParts, got);
  ASSERT_EQ(got.size(), 2u);

  VectorRef innerEntities(mimeMultipartTryUnpack(got[0].type.addr(), got[0].body.get(), opt.get()));
  ASSERT_TRUE(innerEntities);
  std::vector<Decoded> innerGot;
  for (kxInt i = 0; i < kxVectorLength(innerEntities.get()); ++i) {
    ObjRef item(kxVectorObjAt(innerEntities.get(), i));
    innerGot.push_back(decodeOrFail(mimeEntityFrom(item.get()), opt.get()));
  }
  expectSameParts(alternatives, innerGot);
}

// --- properties over random bodies, fixed seeds ---

const kxInt kFlagSets[] = {kDefaultFlags, kDefaultFlags | MIME_FLAG_GENERATE_EIGHT_BIT_BODY,
                           kDefaultFlags | MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE};

TEST(MessageRoad, RandomBodiesRoundTripThroughEncodeAndDecode) {
  BodySource random(1234);
  for (kxInt flags : kFlagSets) {
    OptionsRef opt = optionsWithFlags(flags);
    for (int round = 0; round < 400; ++round) {
      const std::string bytes = random.body("frontier");
      Part part{bytes, random.below(2) ? typeOf("text/plain", {{"charset", "utf-8"}}) : TypeRef(),
                random.below(2) ? StringRef(mimeContentIdGenerate()) : StringRef()};
      EntityRef wire = received(encodePart(opt.get(), part).get());
      Decoded got = decodeOrFail(wire.get(), opt.get());
      ASSERT_TRUE(got.body) << "flags " << flags << " round " << round;
      ASSERT_TRUE(sameBytes(bytes, bytesOf(got.body.get()))) << "flags " << flags << " round " << round;
      expectSamePart(part, got, 0);
    }
  }
}

TEST(MessageRoad, RandomMessagesRoundTrip) {
  BodySource random(99);
  int moved = 0;
  for (kxInt flags : kFlagSets) {
    OptionsRef opt = optionsWithFlags(flags);
    for (int round = 0; round < 60; ++round) {
      std::vector<Part> parts(random.below(5) + 1);
      for (Part &part : parts) {
        part.body = random.body("frontier");
        if (random.below(2))
          part.type = typeOf("application/x-test", {{"n", std::to_string(random.below(100))}});
        if (random.below(3) == 0) part.id.reset(mimeContentIdGenerate());
      }
      TypeRef mixed = typeOf("multipart/mixed", {{"boundary", "frontier"}});
      EntityRef outer = encodeMessage(opt.get(), parts, &mixed);
      StringRef used(mimeContentTypeParameterCstr(mixed.get(), "boundary", -1));
      if (utf8Of(used.get()) != "frontier") ++moved;
      EntityRef wire = received(outer.get());
      expectSameParts(parts, receiveMessage(wire.get(), opt.get(), mixed.get()));
    }
  }
  EXPECT_GT(moved, 5);  // some bodies held "--frontier" at a line start, even after transfer encoding
}

}  // namespace

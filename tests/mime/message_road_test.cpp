// The road of a message, end to end: structured parts encoded, packed under a multipart type, the outer
// entity encoded and sent; then received, decoded, unpacked and every part decoded back, byte for byte, for
// nested multiparts and random messages. (A worked three-part example through mime.hpp: cpp/mime_hpp_test.)
#include <gtest/gtest.h>

#include "support/test_support.hpp"

namespace {

using namespace test_support;

constexpr kxInt kDefaultFlags = MIME_FLAG_PARSE_RFC2231_HEADERS | MIME_FLAG_GENERATE_RFC2231_HEADERS;

// One part in its structured view (an absent body reads as empty).
struct Part {
  std::string body;
  TypeRef type;
  StringRef id;
};

std::string describe(const Part &p) {
  return (p.type ? form(p.type.get()) : "-") + " " + (p.id ? utf8Of(p.id.get()) : "-") + " " + p.body;
}

EntityRef encodePart(MIME_OPTIONS *opt, const Part &part) {
  return EntityRef(mimeEncode(opt, buf(part.body).get(), part.type.get(), part.id.get()));
}

// The outer entity of a multipart message with these parts, as a receiver builds it from the field values
// and body it read off the wire (fresh objects, nothing shared with the sender); *type receives the boundary.
EntityRef sendMessage(MIME_OPTIONS *opt, const std::vector<Part> &parts, TypeRef *type) {
  VectorRef entities(kxVectorCreate());
  for (const Part &part : parts)
    kxVectorAppendObj(entities.addr(), mimeEntityObj(encodePart(opt, part).get()));
  BufferRef packed(mimeMultipartTryPack(type->addr(), entities.get(), opt));
  EXPECT_TRUE(packed);
  return entityOf(viewOf(EntityRef(mimeEncode(opt, packed.get(), type->get(), nullptr)).get()));
}

Part decodeOrFail(MIME_ENTITY *entity, MIME_OPTIONS *opt) {
  KX_BUFFER *body = nullptr;
  MIME_CONTENT_TYPE *type = nullptr;
  KX_STRING *id = nullptr;
  EXPECT_TRUE(mimeDecode(entity, opt, &body, &type, &id));
  BufferRef held(body);
  return {body ? bytesOf(body) : "", TypeRef(type), StringRef(id)};
}

// Unpacks a decoded multipart body, decodes every part and compares each with what was sent.
void expectParts(Part &message, MIME_OPTIONS *opt, const std::vector<Part> &sent,
                 std::vector<Part> *got = nullptr) {
  ASSERT_TRUE(message.type);
  VectorRef entities(mimeMultipartTryUnpack(message.type.addr(), buf(message.body).get(), opt));
  ASSERT_TRUE(entities);
  ASSERT_EQ(kxVectorLength(entities.get()), static_cast<kxInt>(sent.size()));
  for (size_t i = 0; i < sent.size(); ++i) {
    Part part = decodeOrFail(mimeEntityFrom(kxVectorBacking(entities.get())[i]), opt);
    EXPECT_TRUE(sameBytes(describe(sent[i]), describe(part))) << "part " << i;
    if (got) got->push_back(std::move(part));
  }
}

std::string everyOctetTimes(int n) {
  std::string s;
  for (int i = 0; i < n * 256; ++i) s += static_cast<char>(i);
  return s;
}

TEST(MessageRoad, NestedMultipartRoundTrips) {
  OptionsRef opt = options(kDefaultFlags);
  std::vector<Part> alternatives;
  alternatives.push_back(
      {"plain text\r\n", contentType("text/plain", {{"charset", "us-ascii"}}), StringRef()});
  alternatives.push_back(
      {"<p>r\xC3\xA9sum\xC3\xA9</p>", contentType("text/html", {{"charset", "utf-8"}}), StringRef()});
  TypeRef alternative = contentType("multipart/alternative");
  // The inner message travels as one part of the outer one, its body still encoded for transport.
  Part inner = decodeOrFail(sendMessage(opt.get(), alternatives, &alternative).get(), opt.get());
  std::vector<Part> outerParts;
  outerParts.push_back({inner.body, TypeRef::retained(alternative.get()), StringRef()});
  outerParts.push_back(
      {everyOctetTimes(2), contentType("application/octet-stream"), str("attachment@example")});
  TypeRef mixed = contentType("multipart/mixed");
  Part message = decodeOrFail(sendMessage(opt.get(), outerParts, &mixed).get(), opt.get());
  EXPECT_NE(parameterOf(alternative.get(), "boundary"), parameterOf(mixed.get(), "boundary"));
  std::vector<Part> got;
  expectParts(message, opt.get(), outerParts, &got);
  ASSERT_EQ(got.size(), 2u);
  expectParts(got[0], opt.get(), alternatives);
}

// Random bodies of every shape, under each body flag, through the whole road.
TEST(MessageRoad, RandomMessagesRoundTrip) {
  BodySource random(99);
  int moved = 0;
  for (kxInt flags : {kDefaultFlags, kDefaultFlags | MIME_FLAG_GENERATE_EIGHT_BIT_BODY,
                      kDefaultFlags | MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE}) {
    OptionsRef opt = options(flags);
    for (int round = 0; round < 80; ++round) {
      std::vector<Part> parts(random.below(5) + 1);
      for (Part &part : parts) {
        part.body = random.body();
        if (random.below(2))
          part.type = contentType("application/x-test", {{"n", std::to_string(random.below(100))}});
        if (random.below(3) == 0) part.id.reset(mimeContentIdGenerate());
      }
      TypeRef mixed = contentType("multipart/mixed", {{"boundary", "frontier"}});
      Part message = decodeOrFail(sendMessage(opt.get(), parts, &mixed).get(), opt.get());
      expectParts(message, opt.get(), parts);
      moved += parameterOf(mixed.get(), "boundary") != "frontier";
    }
  }
  EXPECT_GT(moved, 5);  // some bodies held "--frontier" at a line start, even after transfer encoding
}

}  // namespace

// Concurrency: threads share options, content types, entities, dictionaries and packed bodies; each changes
// only its own references (copy-on-write) and runs encode, decode, pack and unpack. Every thread must get
// exactly what one thread alone got first, and the shared objects must come out unchanged. Built in every
// preset; under ThreadSanitizer (the "tsan" preset) it is the check that nothing races: reference counts,
// the positional index that kx dictionaries build lazily on first read, the per-thread iconv descriptors and
// random generators, and the module registry are all crossed here from several threads at once.
#include <gtest/gtest.h>

#include <functional>
#include <latch>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kx/kx_module.h"
#include "kx/kx_store.h"
#include "mime/mime_rfc2231.h"
#include "support/test_support.hpp"

namespace {

using namespace test_support;

constexpr int kThreads = 6;

// Runs work(thread index) on kThreads threads released together (gtest's assertions are thread-safe).
void onThreads(const std::function<void(int)> &work) {
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      work(t);
    });
  }
  for (std::thread &thread : threads) thread.join();
}

// --- readable views ---

// Parameters are read by position (KeyAt/ValueAt), which builds a dictionary's index on first use.
std::optional<std::string> typeText(MIME_CONTENT_TYPE *type) {
  return type ? std::optional<std::string>(form(type)) : std::nullopt;
}

// A decode as "{type|-|id|body}", or "<failed>".
std::string decoded(MIME_ENTITY *entity, MIME_OPTIONS *opt) {
  KX_BUFFER *body = nullptr;
  MIME_CONTENT_TYPE *type = nullptr;
  KX_STRING *contentId = nullptr;
  if (!mimeDecode(entity, opt, &body, &type, &contentId)) return "<failed>";
  BufferRef bodyHeld(body);
  TypeRef typeHeld(type);
  return describe({{typeText(type), std::nullopt, textField(contentId),
                    body ? std::optional<std::string>(bytesOf(body)) : std::nullopt}});
}

std::vector<EntityView> unpackedViews(MIME_CONTENT_TYPE *type, KX_BUFFER *packed, MIME_OPTIONS *opt) {
  TypeRef held = TypeRef::retained(type);
  VectorRef parts(mimeMultipartTryUnpack(held.addr(), packed, opt));
  return parts ? viewsOf(parts.get()) : std::vector<EntityView>{};
}

// --- the shared objects: built once on the main thread, then only read ---

struct Shared {
  std::vector<OptionsRef> options;  // defaults; narrow folds, short sections, Latin-1, no QP; 8-bit; Unicode
  std::vector<TypeRef> types;  // text/plain with 200 parameters and a long non-ASCII title; application/x
  std::vector<BufferRef> bodies;
  StringRef contentId;
  VectorRef entities;  // mimeEncode of every body
  TypeRef mixed;       // multipart/mixed with a boundary that no body holds
  BufferRef packed;    // the entities packed under mixed
  DictRef dict;        // a parameter dictionary in the RFC 2231 form, with sections
};

TypeRef textTypeWithManyParameters() {
  Params params{{"charset", "utf-8"}};
  for (int i = 0; i < 8; ++i)
    params["title"] +=
        "Gr\xC3\xBC\xC3\x9F"
        "e aus K\xC3\xB6ln; ";
  for (int i = 0; i < 200; ++i)
    params["p" + std::to_string(i)] = (i % 2 ? "v" : "value ") + std::to_string(i);
  return contentType("text/plain", params);
}

Shared makeShared() {
  Shared s;
  OptionsRef made[] = {
      options(), options(3 | MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE, 30, KX_CHARSET_ISO_8859_1, 12),
      options(3 | MIME_FLAG_GENERATE_EIGHT_BIT_BODY), options(MIME_FLAG_GENERATE_UNICODE_HEADERS, -1)};
  for (OptionsRef &opt : made) s.options.push_back(std::move(opt));
  s.types.push_back(textTypeWithManyParameters());
  s.types.push_back(contentType("application/x-stress", {{"name", "a;b\"c\\d e.txt"}}));

  BodySource random(2024);
  for (int i = 0; i < 9; ++i) s.bodies.push_back(buf(random.body("frontier")));
  s.bodies.push_back(buf(random.binary(16u << 10)));
  s.contentId = str("part@stress.example");

  s.entities.reset(kxVectorCreate());
  for (size_t i = 0; i < s.bodies.size(); ++i) {
    EntityRef e(mimeEncode(s.options[i % s.options.size()].get(), s.bodies[i].get(),
                           s.types[i % 4 ? 1 : 0].get(), i % 3 ? nullptr : s.contentId.get()));
    kxVectorAppendObj(s.entities.addr(), mimeEntityObj(e.get()));
  }

  s.mixed = mixedWithBoundary("=_stress_0");
  TypeRef packedUnder = TypeRef::retained(s.mixed.get());
  s.packed.reset(mimeMultipartTryPack(packedUnder.addr(), s.entities.get(), s.options[0].get()));

  DictRef parameters(mimeContentTypeParametersDict(s.types[0].get()));
  s.dict.reset(mime___Rfc2231Encode(parameters.get(), s.options[1].get()));
  return s;
}

// --- everything a thread computes from the shared objects ---

struct Results {
  std::vector<std::string> typeTexts;                  // every type encoded under every options
  std::vector<std::optional<std::string>> typesBack;   // and decoded again
  std::vector<EntityView> encoded;                     // every body encoded under every options
  std::vector<std::string> decoded;                    // every shared entity decoded under every options
  std::string packed;                                  // the shared entities packed under the shared boundary
  std::vector<EntityView> unpacked;                    // the shared packed body unpacked
  std::vector<EntityView> throughGeneratedBoundary;    // packed under a generated boundary, then unpacked
  Params typeParameters, dictEntries, rfc2231Decoded;  // positional reads of shared objects
  std::vector<std::string> optionStores;               // every options object saved to a store, as text
  bool operator==(const Results &) const = default;
};

Results runAll(const Shared &s) {
  Results r;
  for (const OptionsRef &opt : s.options) {
    for (const TypeRef &type : s.types) {
      StringRef text(mimeContentTypeEncode(type.get(), opt.get(), 14));
      r.typeTexts.push_back(utf8Of(text.get()));
      TypeRef back(mimeContentTypeTryDecode(text.get(), opt.get()));
      r.typesBack.push_back(typeText(back.get()));
    }
    for (const BufferRef &body : s.bodies) {
      EntityRef e(mimeEncode(opt.get(), body.get(), s.types[1].get(), s.contentId.get()));
      r.encoded.push_back(viewOf(e.get()));
    }
    for (kxInt i = 0; i < kxVectorLength(s.entities.get()); ++i) {
      r.decoded.push_back(decoded(mimeEntityFrom(kxVectorBacking(s.entities.get())[i]), opt.get()));
    }
    StoreRef store(mimeOptionsStore(opt.get(), 1));
    r.optionStores.push_back(utf8Of(StringRef(kxStoreEncode(store.get())).get()));
  }

  TypeRef mine = TypeRef::retained(s.mixed.get());
  BufferRef packed(mimeMultipartTryPack(mine.addr(), s.entities.get(), s.options[0].get()));
  if (packed) r.packed = bytesOf(packed.get());
  r.unpacked = unpackedViews(s.mixed.get(), s.packed.get(), s.options[0].get());

  TypeRef generated(mimeContentTypeCreateCstr("multipart/mixed", -1));
  BufferRef repacked(mimeMultipartTryPack(generated.addr(), s.entities.get(), s.options[1].get()));
  if (repacked)
    r.throughGeneratedBoundary = unpackedViews(generated.get(), repacked.get(), s.options[1].get());

  r.typeParameters = paramsOf(s.types[0].get());
  r.dictEntries = paramsOf(s.dict.get());
  DictRef decoded(mime___Rfc2231Decode(s.dict.get(), s.options[0].get()));
  r.rfc2231Decoded = paramsOf(decoded.get());
  return r;
}

// Changes the thread's own references to every kind of shared object. Each change must give the thread a
// private copy: a change in place would show in what every thread computes from the shared objects.
void changeOwnReferences(const Shared &s, int t) {
  const std::string tag = std::to_string(t);
  OptionsRef opt = OptionsRef::retained(s.options[0].get());
  mimeOptionsSetWrapLineLength(opt.addr(), 40 + t);
  mimeOptionsSetRfc2231MaxSegmentLength(opt.addr(), 5 + t);

  TypeRef type = TypeRef::retained(s.types[0].get());
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "thread", -1, tag.c_str(), -1);
  mimeContentTypeDelParameterCstr(type.addr(), "p7", -1);
  StringRef text(mimeContentTypeEncode(type.get(), opt.get(), 14));
  EXPECT_EQ(parameterOf(TypeRef(mimeContentTypeTryDecode(text.get(), opt.get())).get(), "thread"), tag);

  DictRef dict(mimeContentTypeParametersDict(s.types[0].get()));
  kxDictSetStringKey(dict.addr(), str("zz-" + tag).get(), kxStringObj(str("x").get()));
  kxDictDelStringKey(dict.addr(), str("charset").get());

  ObjRef first(kxVectorObjAt(s.entities.get(), 0));
  EntityRef entity = EntityRef::retained(mimeEntityFrom(first.get()));
  mimeEntitySetBody(entity.addr(), buf("own body " + tag).get());
  mimeEntityDelContentId(entity.addr());
  mimeEntitySetContentType(entity.addr(), str("text/x-" + tag).get());
  VectorRef entities = VectorRef::retained(s.entities.get());
  kxVectorAppendObj(entities.addr(), mimeEntityObj(entity.get()));
  kxVectorDelAt(entities.addr(), 0);

  // The unpacked bodies are slices of the shared packed buffer; appending to one must copy it out.
  TypeRef mixed = TypeRef::retained(s.mixed.get());
  VectorRef parts(mimeMultipartTryUnpack(mixed.addr(), s.packed.get(), s.options[0].get()));
  ASSERT_TRUE(parts);
  for (kxInt i = 0; i < kxVectorLength(parts.get()); ++i) {
    BufferRef body(mimeEntityBody(mimeEntityFrom(kxVectorBacking(parts.get())[i])));
    if (!body) continue;
    kxBufferAppendBytes(body.addr(), "\r\n--=_stress_0--\r\n", 18);
    kxBufferTruncate(body.addr(), 1);
  }
  mimeContentTypeSetParameterCstrCstrValue(mixed.addr(), "boundary", -1, ("own-" + tag).c_str(), -1);
}

// The module registry is crossed too: each thread starts the started module again and stops it.
TEST(Concurrency, SharedObjectsGiveWhatOneThreadGot) {
  static const Shared s = makeShared();
  ASSERT_TRUE(s.packed);
  const Results expected = runAll(s);
  ASSERT_EQ(expected.unpacked.size(), s.bodies.size());
  ASSERT_EQ(expected.throughGeneratedBoundary, expected.unpacked);
  for (const std::string &d : expected.decoded) ASSERT_NE(d, "<failed>");
  ASSERT_EQ(runAll(s), expected)
      << "a second single-threaded run differs: the test itself is not deterministic";

  onThreads([&](int t) {
    for (int round = 0; round < 3; ++round) {
      ASSERT_TRUE(kxModuleStartup(mimeModule()));
      EXPECT_TRUE(runAll(s) == expected) << "thread " << t << ", round " << round;
      changeOwnReferences(s, t);
      kxModuleShutdown(mimeModule());
    }
  });
  EXPECT_TRUE(runAll(s) == expected) << "the shared objects changed";
  EXPECT_TRUE(kxModuleStarted(mimeModule()));
}

// Fresh objects each round, so that the threads meet a dictionary whose positional index is not built yet
// and race to build it.
TEST(Concurrency, FreshDictionariesReadByPositionFromManyThreads) {
  OptionsRef opt(mimeOptionsCreate());
  const TypeRef model = textTypeWithManyParameters();
  const Params expectedParameters = paramsOf(model.get());
  const Params expectedEncoded = paramsOf(
      DictRef(mime___Rfc2231Encode(DictRef(mimeContentTypeParametersDict(model.get())).get(), opt.get()))
          .get());

  for (int round = 0; round < 15; ++round) {
    const TypeRef type = textTypeWithManyParameters();
    const DictRef dict = dictOf(expectedEncoded);
    onThreads([&](int t) {
      // Half the threads start at the dictionary, half at the content type, so both are first read by many.
      if (t % 2) {
        EXPECT_EQ(paramsOf(dict.get()), expectedEncoded);
      }
      EXPECT_EQ(paramsOf(type.get()), expectedParameters);
      DictRef decoded(mime___Rfc2231Decode(dict.get(), opt.get()));
      DictRef encoded(
          mime___Rfc2231Encode(DictRef(mimeContentTypeParametersDict(type.get())).get(), opt.get()));
      EXPECT_EQ(paramsOf(encoded.get()), expectedEncoded);
      EXPECT_EQ(paramsOf(decoded.get()).size(), expectedParameters.size());
    });
  }
}

// kThreads references to the object, and none besides.
template <typename T>
std::vector<kx::Ref<T>> spread(kx::Ref<T> only) {
  std::vector<kx::Ref<T>> refs;
  for (int t = 1; t < kThreads; ++t) refs.push_back(kx::Ref<T>::retained(only.get()));
  refs.push_back(std::move(only));
  return refs;
}

// Each thread holds one reference to objects that nobody else keeps: all but the last to change its own
// reference get a copy; the last one changes the object in place, after the others have read it.
TEST(Concurrency, TheLastHolderChangesInPlaceAfterTheOthersRead) {
  const EntityView model{"text/plain", "7bit", "<a@b>", "body\r\n"};
  for (int round = 0; round < 20; ++round) {
    std::vector<TypeRef> types = spread(contentType("text/plain", {{"charset", "utf-8"}}));
    std::vector<EntityRef> entities = spread(entityOf(model));
    std::vector<OptionsRef> options = spread(OptionsRef(mimeOptionsCreate()));
    std::vector<BufferRef> bodies;
    BufferRef body = buf(std::string(4096, 'b'));
    for (int t = 0; t < kThreads; ++t) bodies.emplace_back(kxBufferRead(body.get(), 0, 4096));  // one storage
    body.reset();
    onThreads([&](int t) {
      const size_t i = static_cast<size_t>(t);
      const std::string tag = std::to_string(t);
      StringRef text(mimeContentTypeEncode(types[i].get(), options[i].get(), 14));
      EXPECT_EQ(utf8Of(text.get()), "text/plain;charset=utf-8");
      EXPECT_EQ(viewOf(entities[i].get()), model);
      EXPECT_EQ(bytesOf(bodies[i].get()), std::string(4096, 'b'));

      mimeContentTypeSetParameterCstrCstrValue(types[i].addr(), "charset", -1, tag.c_str(), -1);
      mimeEntitySetContentId(entities[i].addr(), str("<" + tag + ">").get());
      mimeOptionsSetFlags(options[i].addr(), t);
      kxBufferAppendBytes(bodies[i].addr(), tag.data(), static_cast<kxInt>(tag.size()));

      EXPECT_EQ(parameterOf(types[i].get(), "charset"), tag);
      EXPECT_EQ(viewOf(entities[i].get()), (EntityView{"text/plain", "7bit", "<" + tag + ">", "body\r\n"}));
      EXPECT_EQ(mimeOptionsFlags(options[i].get()), mimeFlagsNormalize(t));
      EXPECT_EQ(bytesOf(bodies[i].get()), std::string(4096, 'b') + tag);
    });
  }
}

}  // namespace

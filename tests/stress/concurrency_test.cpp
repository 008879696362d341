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
#include <utility>
#include <vector>

#include "kx/kx_module.h"
#include "kx/kx_store.h"
#include "mime/mime_rfc2231.h"
#include "support/test_support.hpp"

namespace {

using namespace test_support;

constexpr int kThreads = 6;

// --- running on several threads ---

// What one thread found wrong; the first few messages are kept.
class Problems {
 public:
  void check(bool ok, const std::string &what) {
    if (ok) return;
    ++count_;
    if (messages_.size() < 5) messages_.push_back(what);
  }
  int count() const { return count_; }
  const std::vector<std::string> &messages() const { return messages_; }

 private:
  int count_ = 0;
  std::vector<std::string> messages_;
};

// Runs work(thread index, problems) on kThreads threads released together, and reports every problem.
void onThreads(const std::function<void(int, Problems &)> &work) {
  std::latch start(kThreads);
  std::vector<Problems> problems(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      work(t, problems[static_cast<size_t>(t)]);
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) {
    const Problems &p = problems[static_cast<size_t>(t)];
    EXPECT_EQ(p.count(), 0) << "thread " << t;
    for (const std::string &message : p.messages()) ADD_FAILURE() << "thread " << t << ": " << message;
  }
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

OptionsRef makeOptions(kxInt flags, kxInt wrap, kxInt charset, kxInt segment) {
  OptionsRef opt(mimeOptionsCreate());
  mimeOptionsSetFlags(opt.addr(), flags);
  if (wrap) mimeOptionsSetWrapLineLength(opt.addr(), wrap);
  if (charset >= 0) mimeOptionsSetRfc2231Charset(opt.addr(), charset);
  if (segment) mimeOptionsSetRfc2231MaxSegmentLength(opt.addr(), segment);
  return opt;
}

TypeRef textTypeWithManyParameters() {
  TypeRef type(mimeContentTypeCreateCstr("text/plain", -1));
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "charset", -1, "utf-8", -1);
  std::string title;
  for (int i = 0; i < 8; ++i)
    title +=
        "Gr\xC3\xBC\xC3\x9F"
        "e aus K\xC3\xB6ln; ";
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "title", -1, title.c_str(), -1);
  for (int i = 0; i < 200; ++i) {
    const std::string key = "p" + std::to_string(i);
    const std::string value = i % 2 ? "v" + std::to_string(i) : "value " + std::to_string(i);
    mimeContentTypeSetParameterCstrCstrValue(type.addr(), key.c_str(), -1, value.c_str(), -1);
  }
  return type;
}

Shared makeShared() {
  Shared s;
  s.options.push_back(OptionsRef(mimeOptionsCreate()));
  s.options.push_back(
      makeOptions(3 | MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE, 30, KX_CHARSET_ISO_8859_1, 12));
  s.options.push_back(makeOptions(3 | MIME_FLAG_GENERATE_EIGHT_BIT_BODY, 0, -1, 0));
  s.options.push_back(makeOptions(MIME_FLAG_GENERATE_UNICODE_HEADERS, -1, -1, 0));

  s.types.push_back(textTypeWithManyParameters());
  s.types.push_back(TypeRef(mimeContentTypeCreateCstr("application/x-stress", -1)));
  mimeContentTypeSetParameterCstrCstrValue(s.types[1].addr(), "name", -1, "a;b\"c\\d e.txt", -1);

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

  s.mixed.reset(mimeContentTypeCreateCstr("multipart/mixed", -1));
  mimeContentTypeSetParameterCstrCstrValue(s.mixed.addr(), "boundary", -1, "=_stress_0", -1);
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
    StringRef storeText(kxStoreEncode(store.get()));
    r.optionStores.push_back(utf8Of(storeText.get()));
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

// Changes the thread's own references to shared objects: each change must give the thread a private copy
// and leave the shared object as it was.
void changeOwnReferences(const Shared &s, const Results &expected, int t, Problems &p) {
  const std::string tag = std::to_string(t);

  OptionsRef opt = OptionsRef::retained(s.options[0].get());
  mimeOptionsSetWrapLineLength(opt.addr(), 40 + t);
  mimeOptionsSetRfc2231MaxSegmentLength(opt.addr(), 5 + t);
  p.check(opt.get() != s.options[0].get(), "options changed in place");
  p.check(mimeOptionsWrapLineLength(s.options[0].get()) == 76, "shared fold length changed");
  p.check(mimeOptionsRfc2231MaxSegmentLength(s.options[0].get()) == 60, "shared section length changed");
  p.check(mimeOptionsWrapLineLength(opt.get()) == 40 + t, "own fold length lost");

  TypeRef type = TypeRef::retained(s.types[0].get());
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "thread", -1, tag.c_str(), -1);
  mimeContentTypeDelParameterCstr(type.addr(), "p7", -1);
  p.check(type.get() != s.types[0].get(), "content type changed in place");
  p.check(paramsOf(s.types[0].get()) == expected.typeParameters, "shared parameters changed");
  StringRef own(mimeContentTypeParameterCstr(type.get(), "thread", -1));
  p.check(own && utf8Of(own.get()) == tag, "own parameter lost");
  p.check(!mimeContentTypeHasParameterCstr(type.get(), "p7", -1), "own deletion lost");
  // The own changes travel: encode the changed type with the changed options and read it back.
  StringRef text(mimeContentTypeEncode(type.get(), opt.get(), 14));
  TypeRef back(mimeContentTypeTryDecode(text.get(), opt.get()));
  p.check(back && paramsOf(back.get()).size() == expected.typeParameters.size(), "own type round trip");

  DictRef dict(mimeContentTypeParametersDict(s.types[0].get()));
  kxDictSetStringKey(dict.addr(), str("zz-" + tag).get(), kxStringObj(str("x").get()));
  kxDictDelStringKey(dict.addr(), str("charset").get());
  p.check(paramsOf(s.types[0].get()) == expected.typeParameters, "dictionary change reached the type");

  ObjRef first(kxVectorObjAt(s.entities.get(), 0));
  EntityRef entity = EntityRef::retained(mimeEntityFrom(first.get()));
  const EntityView before = viewOf(entity.get());
  mimeEntitySetBody(entity.addr(), buf("own body " + tag).get());
  mimeEntityDelContentId(entity.addr());
  mimeEntitySetContentType(entity.addr(), str("text/x-" + tag).get());
  p.check(viewOf(mimeEntityFrom(first.get())) == before, "shared entity changed");
  p.check(viewOf(entity.get()) ==
              (EntityView{"text/x-" + tag, before.contentTransferEncoding, {}, "own body " + tag}),
          "own entity changes lost");

  VectorRef entities = VectorRef::retained(s.entities.get());
  kxVectorAppendObj(entities.addr(), mimeEntityObj(entity.get()));
  kxVectorDelAt(entities.addr(), 0);
  p.check(kxVectorLength(s.entities.get()) == static_cast<kxInt>(s.bodies.size()), "shared vector changed");

  // The unpacked bodies are slices of the shared packed buffer; appending to one must copy it out.
  TypeRef mixed = TypeRef::retained(s.mixed.get());
  VectorRef parts(mimeMultipartTryUnpack(mixed.addr(), s.packed.get(), s.options[0].get()));
  p.check(parts && kxVectorLength(parts.get()) > 0, "unpack failed");
  for (kxInt i = 0; parts && i < kxVectorLength(parts.get()); ++i) {
    BufferRef body(mimeEntityBody(mimeEntityFrom(kxVectorBacking(parts.get())[i])));
    if (!body) continue;
    kxBufferAppendBytes(body.addr(), "\r\n--=_stress_0--\r\n", 18);
    kxBufferTruncate(body.addr(), 1);
  }
  p.check(bytesOf(s.packed.get()) == expected.packed, "appending to a slice changed the shared buffer");
  mimeContentTypeSetParameterCstrCstrValue(mixed.addr(), "boundary", -1, ("own-" + tag).c_str(), -1);
  StringRef sharedBoundary(mimeContentTypeParameterCstr(s.mixed.get(), "boundary", -1));
  p.check(utf8Of(sharedBoundary.get()) == "=_stress_0", "shared boundary changed");
}

const Shared &shared() {
  static const Shared s = makeShared();
  return s;
}

TEST(Concurrency, SharedObjectsGiveWhatOneThreadGot) {
  const Shared &s = shared();
  ASSERT_TRUE(s.packed);
  const Results expected = runAll(s);
  ASSERT_FALSE(expected.packed.empty());
  ASSERT_EQ(expected.unpacked.size(), s.bodies.size());
  ASSERT_EQ(expected.throughGeneratedBoundary, expected.unpacked);
  for (const std::string &d : expected.decoded) ASSERT_NE(d, "<failed>");
  ASSERT_EQ(runAll(s), expected)
      << "a second single-threaded run differs: the test itself is not deterministic";

  onThreads([&](int t, Problems &p) {
    for (int round = 0; round < 3; ++round) {
      const Results got = runAll(s);
      p.check(got == expected, "round " + std::to_string(round) + " differs from one thread's results");
      changeOwnReferences(s, expected, t, p);
    }
  });
  EXPECT_EQ(runAll(s), expected) << "the shared objects changed";
}

// Fresh objects each round, so that the threads meet a dictionary whose positional index is not built yet
// and race to build it.
TEST(Concurrency, FreshDictionariesReadByPositionFromManyThreads) {
  OptionsRef opt(mimeOptionsCreate());
  const TypeRef model = textTypeWithManyParameters();
  const Params expectedParameters = paramsOf(model.get());
  DictRef modelDict(mimeContentTypeParametersDict(model.get()));
  DictRef modelEncoded(mime___Rfc2231Encode(modelDict.get(), opt.get()));
  const Params expectedEncoded = paramsOf(modelEncoded.get());

  for (int round = 0; round < 15; ++round) {
    const TypeRef type = textTypeWithManyParameters();
    DictRef dict(kxDictCreate());
    for (const auto &[key, value] : expectedEncoded)
      kxDictSetStringKey(dict.addr(), str(key).get(), kxStringObj(str(value).get()));
    onThreads([&](int t, Problems &p) {
      // Half the threads start at the dictionary, half at the content type, so both are first read by many.
      if (t % 2) p.check(paramsOf(dict.get()) == expectedEncoded, "dictionary entries");
      p.check(paramsOf(type.get()) == expectedParameters, "type parameters");
      DictRef decoded(mime___Rfc2231Decode(dict.get(), opt.get()));
      DictRef encoded(
          mime___Rfc2231Encode(DictRef(mimeContentTypeParametersDict(type.get())).get(), opt.get()));
      p.check(paramsOf(encoded.get()) == expectedEncoded, "RFC 2231 encoding of a shared dictionary");
      p.check(paramsOf(decoded.get()).size() == expectedParameters.size(), "RFC 2231 decoding");
      p.check(paramsOf(dict.get()) == expectedEncoded, "dictionary entries after decoding");
    });
  }
}

// Each thread holds one reference to objects that nobody else keeps: all but the last to change its own
// reference get a copy; the last one changes the object in place, after the others have read it.
TEST(Concurrency, TheLastHolderChangesInPlaceAfterTheOthersRead) {
  for (int round = 0; round < 20; ++round) {
    TypeRef type(mimeContentTypeCreateCstr("text/plain", -1));
    mimeContentTypeSetParameterCstrCstrValue(type.addr(), "charset", -1, "utf-8", -1);
    EntityRef entity = entityOf({"text/plain", "7bit", "<a@b>", "body\r\n"});
    OptionsRef opt(mimeOptionsCreate());
    BufferRef body = buf(std::string(4096, 'b'));
    std::vector<TypeRef> types;
    std::vector<EntityRef> entities;
    std::vector<OptionsRef> options;
    std::vector<BufferRef> bodies;
    for (int t = 0; t < kThreads; ++t) {
      types.push_back(TypeRef::retained(type.get()));
      entities.push_back(EntityRef::retained(entity.get()));
      options.push_back(OptionsRef::retained(opt.get()));
      bodies.push_back(BufferRef(kxBufferRead(body.get(), 0, 4096)));  // slices of one storage
    }
    type.reset();
    entity.reset();
    opt.reset();
    body.reset();
    onThreads([&](int t, Problems &p) {
      const size_t i = static_cast<size_t>(t);
      const std::string tag = std::to_string(t);
      StringRef text(mimeContentTypeEncode(types[i].get(), options[i].get(), 14));
      p.check(utf8Of(text.get()) == "text/plain;charset=utf-8", "type read before the change");
      p.check(viewOf(entities[i].get()) == (EntityView{"text/plain", "7bit", "<a@b>", "body\r\n"}),
              "entity read before the change");
      p.check(bytesOf(bodies[i].get()) == std::string(4096, 'b'), "body read before the change");

      mimeContentTypeSetParameterCstrCstrValue(types[i].addr(), "charset", -1, tag.c_str(), -1);
      mimeEntitySetContentId(entities[i].addr(), str("<" + tag + ">").get());
      mimeOptionsSetFlags(options[i].addr(), t);
      kxBufferAppendBytes(bodies[i].addr(), tag.data(), static_cast<kxInt>(tag.size()));

      StringRef changed(mimeContentTypeParameterCstr(types[i].get(), "charset", -1));
      p.check(utf8Of(changed.get()) == tag, "own type");
      p.check(viewOf(entities[i].get()) == (EntityView{"text/plain", "7bit", "<" + tag + ">", "body\r\n"}),
              "own entity");
      p.check(mimeOptionsFlags(options[i].get()) == mimeFlagsNormalize(t), "own options");
      p.check(bytesOf(bodies[i].get()) == std::string(4096, 'b') + tag, "own body");
    });
  }
}

// A replaced random source belongs to the thread that set it: a thread whose source yields the same bits
// every time runs out of boundaries, the others still find one.
uint64_t constantBits(void *) {
  return 0x0123456789ABCDEFull;
}

TEST(Concurrency, AReplacedRandomSourceStaysOnItsThread) {
  kxRandomSetThreadSource(constantBits, nullptr);
  const std::string fixed = utf8Of(StringRef(mimeMultipartBoundaryGenerate()).get());
  kxRandomSetThreadSource(nullptr, nullptr);
  OptionsRef opt(mimeOptionsCreate());
  VectorRef entities = vectorOf({{{}, {}, {}, "--" + fixed + "\r\n"}});

  onThreads([&](int t, Problems &p) {
    const bool constant = t % 2 == 0;
    if (constant) kxRandomSetThreadSource(constantBits, nullptr);
    for (int round = 0; round < 20; ++round) {
      StringRef boundary(mimeMultipartBoundaryGenerate());
      p.check((utf8Of(boundary.get()) == fixed) == constant, "boundary drawn from the wrong source");
      TypeRef type(mimeContentTypeCreateCstr("multipart/mixed", -1));
      MIME_CONTENT_TYPE *before = type.get();
      BufferRef packed(mimeMultipartTryPack(type.addr(), entities.get(), opt.get()));
      p.check(!packed == constant, "pack result");
      p.check(!constant || type.get() == before, "a failed pack changed the content type");
    }
    kxRandomSetThreadSource(nullptr, nullptr);
  });
}

// The module registry and the flag tables built at start-up, from many threads at once while the module
// stays started.
TEST(Concurrency, ModuleStartsAndFlagTablesFromManyThreads) {
  StringRef all(mimeFlagsToString(31));
  const std::string expected = utf8Of(all.get());
  onThreads([&](int, Problems &p) {
    for (int round = 0; round < 200; ++round) {
      p.check(kxModuleStartup(mimeModule()), "start");
      StringRef text(mimeFlagsToString(31));
      p.check(utf8Of(text.get()) == expected, "flag names");
      p.check(mimeFlagsFromString(text.get()) == mimeFlagsNormalize(31), "flags from names");
      p.check(kxModuleStarted(mimeModule()), "started");
      kxModuleShutdown(mimeModule());
    }
  });
  EXPECT_TRUE(kxModuleStarted(mimeModule()));
}

}  // namespace

// Multipart packing and unpacking of 64 parts of 256 KiB (raw binary bodies, and Base64 text bodies with a
// CR LF every 78 octets), beside a memcpy of the same octets; and unpacking of hostile layouts, which must
// stay linear: 100,000 empty parts, a 10 MiB part without a blank line, 10 MiB of CR LF pairs.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "kx/kx.h"
#include "kx/kx_internal.hpp"
#include "kx/kx_module.h"
#include "mime/mime.h"

namespace {

using BufferRef = kx::Ref<KX_BUFFER>;
using EntityRef = kx::Ref<MIME_ENTITY>;
using OptionsRef = kx::Ref<MIME_OPTIONS>;
using TypeRef = kx::Ref<MIME_CONTENT_TYPE>;
using VectorRef = kx::Ref<KX_VECTOR>;

const bool kStarted = kxModuleStartup(mimeModule());

constexpr int kParts = 64;
constexpr size_t kPartSize = 256u << 10;

std::string binaryBody(std::mt19937_64 &random) {
  std::string body(kPartSize, '\0');
  for (char &c : body) c = static_cast<char>(random());
  return body;
}

std::string base64Body(std::mt19937_64 &random) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string body;
  body.reserve(kPartSize);
  while (body.size() < kPartSize) {
    for (int i = 0; i < 76; ++i) body += kAlphabet[random() % 64];
    body += "\r\n";
  }
  body.resize(kPartSize);
  return body;
}

// 64 entities as mimeEncode writes them: a Content-Type, a Content-Transfer-Encoding and the body.
VectorRef entities(bool base64) {
  std::mt19937_64 random(3);
  VectorRef v(kxVectorCreate());
  for (int i = 0; i < kParts; ++i) {
    const std::string bytes = base64 ? base64Body(random) : binaryBody(random);
    EntityRef e(mimeEntityCreate());
    kx::Ref<KX_STRING> type(kxStringCreateFromCstr("application/octet-stream", -1));
    kx::Ref<KX_STRING> cte(kxStringCreateFromCstr(base64 ? "base64" : "binary", -1));
    BufferRef body(kxBufferCreateFromBytes(bytes.data(), static_cast<kxInt>(bytes.size())));
    mimeEntitySetContentType(e.addr(), type.get());
    mimeEntitySetContentTransferEncoding(e.addr(), cte.get());
    mimeEntitySetBody(e.addr(), body.get());
    kxVectorAppendObj(v.addr(), mimeEntityObj(e.get()));
  }
  return v;
}

TypeRef mixed() {
  TypeRef type(mimeContentTypeCreateCstr("multipart/mixed", -1));
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "boundary", -1, "frontier-0123456789", -1);
  return type;
}

void packLoop(benchmark::State &state, bool base64) {
  if (!kStarted) state.SkipWithError("module did not start");
  OptionsRef opt(mimeOptionsCreate());
  VectorRef parts = entities(base64);
  int64_t bytes = 0;
  for (auto _ : state) {
    TypeRef type = mixed();
    BufferRef packed(mimeMultipartTryPack(type.addr(), parts.get(), opt.get()));
    if (!packed) state.SkipWithError("pack failed");
    bytes = packed ? kxBufferLength(packed.get()) : 0;
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

void unpackContent(benchmark::State &state, KX_BUFFER *content, kxInt expectedParts) {
  if (!kStarted) state.SkipWithError("module did not start");
  OptionsRef opt(mimeOptionsCreate());
  TypeRef type = mixed();
  for (auto _ : state) {
    VectorRef parts(mimeMultipartTryUnpack(type.addr(), content, opt.get()));
    if (!parts || kxVectorLength(parts.get()) != expectedParts)
      state.SkipWithError("unexpected unpack result");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kxBufferLength(content));
}

void unpackLoop(benchmark::State &state, bool base64) {
  OptionsRef opt(mimeOptionsCreate());
  VectorRef parts = entities(base64);
  TypeRef type = mixed();
  BufferRef packed(mimeMultipartTryPack(type.addr(), parts.get(), opt.get()));
  unpackContent(state, packed.get(), kParts);
}

void BM_PackBinary64x256KiB(benchmark::State &state) {
  packLoop(state, false);
}
void BM_UnpackBinary64x256KiB(benchmark::State &state) {
  unpackLoop(state, false);
}
void BM_PackBase64Text64x256KiB(benchmark::State &state) {
  packLoop(state, true);
}
void BM_UnpackBase64Text64x256KiB(benchmark::State &state) {
  unpackLoop(state, true);
}

void BM_Memcpy64x256KiB(benchmark::State &state) {
  const std::string from(kParts * kPartSize, 'x');
  std::string to(from.size(), '\0');
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(from.size()));
}

BufferRef bufferOf(const std::string &bytes) {
  return BufferRef(kxBufferCreateFromBytes(bytes.data(), static_cast<kxInt>(bytes.size())));
}

void BM_UnpackHundredThousandEmptyParts(benchmark::State &state) {
  std::string content = "--frontier-0123456789\r\n";
  for (int i = 1; i < 100000; ++i) content += "\r\n--frontier-0123456789\r\n";
  content += "\r\n--frontier-0123456789--";
  unpackContent(state, bufferOf(content).get(), 100000);
}

void BM_UnpackTenMiBPartWithoutBlankLine(benchmark::State &state) {
  std::string lines;
  while (lines.size() < (10u << 20)) lines += "X-Field: value\r\n";
  unpackContent(state, bufferOf("--frontier-0123456789\r\n" + lines + "\r\n--frontier-0123456789--").get(),
                1);
}

void BM_UnpackTenMiBOfCrLfPairs(benchmark::State &state) {
  std::string pairs;
  while (pairs.size() < (10u << 20)) pairs += "\r\n";
  unpackContent(state, bufferOf("--frontier-0123456789\r\n" + pairs + "\r\n--frontier-0123456789--").get(),
                1);
}

BENCHMARK(BM_PackBinary64x256KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackBinary64x256KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PackBase64Text64x256KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackBase64Text64x256KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy64x256KiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackHundredThousandEmptyParts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackTenMiBPartWithoutBlankLine)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UnpackTenMiBOfCrLfPairs)->Unit(benchmark::kMillisecond);

}  // namespace

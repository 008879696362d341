// Entity encoding and decoding of large bodies: a binary body (Base64 wins), and a mostly-text body with a
// few 8-bit octets (quoted-printable wins), each beside a memcpy of the same octets for scale.
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

const bool kStarted = kxModuleStartup(mimeModule());

std::string binaryBody(size_t size) {
  std::mt19937_64 random(1);
  std::string body(size, '\0');
  for (char &c : body) c = static_cast<char>(random());
  return body;
}

// Lines of ASCII words ending in CR LF, with about one 8-bit octet in a thousand.
std::string mostlyTextBody(size_t size) {
  std::mt19937_64 random(2);
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz ABCDEFG.,;";
  std::string body;
  body.reserve(size);
  while (body.size() < size) {
    for (int i = 0; i < 70 && body.size() < size; ++i) {
      const uint64_t r = random();
      body += r % 1000 == 0 ? '\xE9' : kLetters[r % (sizeof kLetters - 1)];
    }
    body += "\r\n";
  }
  body.resize(size);
  return body;
}

BufferRef bufferOf(const std::string &bytes) {
  return BufferRef(kxBufferCreateFromBytes(bytes.data(), static_cast<kxInt>(bytes.size())));
}

void encodeLoop(benchmark::State &state, const std::string &bytes) {
  if (!kStarted) state.SkipWithError("module did not start");
  OptionsRef opt(mimeOptionsCreate());
  BufferRef body = bufferOf(bytes);
  for (auto _ : state) {
    EntityRef entity(mimeEncode(opt.get(), body.get(), nullptr, nullptr));
    benchmark::DoNotOptimize(entity.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

void decodeLoop(benchmark::State &state, const std::string &bytes) {
  if (!kStarted) state.SkipWithError("module did not start");
  OptionsRef opt(mimeOptionsCreate());
  EntityRef entity(mimeEncode(opt.get(), bufferOf(bytes).get(), nullptr, nullptr));
  for (auto _ : state) {
    KX_BUFFER *body = nullptr;
    benchmark::DoNotOptimize(mimeDecode(entity.get(), opt.get(), &body, nullptr, nullptr));
    BufferRef held(body);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

void memcpyLoop(benchmark::State &state, const std::string &bytes) {
  std::string out(bytes.size(), '\0');
  for (auto _ : state) {
    std::memcpy(out.data(), bytes.data(), bytes.size());
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes.size()));
}

const std::string &binary1MiB() {
  static const std::string body = binaryBody(1u << 20);
  return body;
}
const std::string &binary16MiB() {
  static const std::string body = binaryBody(16u << 20);
  return body;
}
const std::string &text16MiB() {
  static const std::string body = mostlyTextBody(16u << 20);
  return body;
}

void BM_EncodeBinary1MiB(benchmark::State &state) {
  encodeLoop(state, binary1MiB());
}
void BM_DecodeBinary1MiB(benchmark::State &state) {
  decodeLoop(state, binary1MiB());
}
void BM_Memcpy1MiB(benchmark::State &state) {
  memcpyLoop(state, binary1MiB());
}
void BM_EncodeBinary16MiB(benchmark::State &state) {
  encodeLoop(state, binary16MiB());
}
void BM_DecodeBinary16MiB(benchmark::State &state) {
  decodeLoop(state, binary16MiB());
}
void BM_EncodeText16MiB(benchmark::State &state) {
  encodeLoop(state, text16MiB());
}
void BM_DecodeText16MiB(benchmark::State &state) {
  decodeLoop(state, text16MiB());
}
void BM_Memcpy16MiB(benchmark::State &state) {
  memcpyLoop(state, binary16MiB());
}

BENCHMARK(BM_EncodeBinary1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBinary1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBinary16MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeBinary16MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeText16MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeText16MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Memcpy16MiB)->Unit(benchmark::kMillisecond);

}  // namespace

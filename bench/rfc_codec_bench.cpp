// Throughput of the rfc codecs on 16 MiB, in the RFC 2045 form (76-character lines, CR LF), beside a memcpy
// of the same size in the same run. Every rate counts the 16 MiB of unencoded data, also for the decoders
// (whose input, the encoded text, is longer), so encode and decode figures compare directly.
//
//   build-rel/bench/rfc_codec_bench --benchmark_min_time=0.5
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "rfc/rfc.h"
#include "rfc/rfc_base_codec.hpp"
#include "rfc/rfc_quop_codec.hpp"

namespace {

constexpr std::size_t kSize = 16 << 20;
constexpr std::size_t kLineLength = 76;

std::vector<std::uint8_t> randomOctets() {
  std::mt19937_64 random(2045);
  std::vector<std::uint8_t> data(kSize);
  for (auto &octet : data) octet = static_cast<std::uint8_t>(random());
  return data;
}

// Mostly text: words and spaces in lines of about 70 octets ending in CR LF, 3 % of the octets above 127.
std::vector<std::uint8_t> mostlyText() {
  std::mt19937_64 random(2046);
  std::vector<std::uint8_t> data(kSize);
  std::size_t column = 0;
  std::size_t lineLength = 70;
  for (std::size_t i = 0; i < kSize; ++i) {
    if (column >= lineLength && i + 1 < kSize) {
      data[i++] = '\r';
      data[i] = '\n';
      column = 0;
      lineLength = 66 + random() % 9;
      continue;
    }
    unsigned roll = random() % 100;
    data[i] =
        roll < 3
            ? static_cast<std::uint8_t>(128 + random() % 128)
            : (roll < 18 ? ' '
                         : static_cast<std::uint8_t>("etaoinshrdlucmfwypvbgkqjxz.,ETAOIN"[random() % 34]));
    ++column;
  }
  return data;
}

const std::vector<std::uint8_t> &binaryData() {
  static const auto data = randomOctets();
  return data;
}

const std::vector<std::uint8_t> &textData() {
  static const auto data = mostlyText();
  return data;
}

void setRate(benchmark::State &state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(kSize));
}

// --- baseline ---

void memcpyBaseline(benchmark::State &state) {
  const auto &data = binaryData();
  std::vector<std::uint8_t> copy(kSize);
  for (auto _ : state) {
    std::memcpy(copy.data(), data.data(), kSize);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  setRate(state);
}
BENCHMARK(memcpyBaseline);

// --- the public calls: kx buffers in and out, allocation included ---

void baseEncode(benchmark::State &state) {
  const auto &data = binaryData();
  KX_BUFFER *input = kxBufferCreateFromBytes(data.data(), kSize);
  RFC_BASE_OPTIONS *bo = rfcBaseOptionsCreate();
  rfcBaseOptionsSetOutputLineLength(&bo, kLineLength);
  for (auto _ : state) kxObjRelease(kxBufferObj(rfcBaseEncodeWithOptions(input, RFC_BASE_SELECTOR_MIME, bo)));
  setRate(state);
  rfcBaseOptionsRelease(bo);
  kxObjRelease(kxBufferObj(input));
}
BENCHMARK(baseEncode);

void baseDecode(benchmark::State &state) {
  const auto &data = binaryData();
  KX_BUFFER *input = kxBufferCreateFromBytes(data.data(), kSize);
  RFC_BASE_OPTIONS *bo = rfcBaseOptionsCreate();
  rfcBaseOptionsSetOutputLineLength(&bo, kLineLength);
  KX_BUFFER *text = rfcBaseEncodeWithOptions(input, RFC_BASE_SELECTOR_MIME, bo);
  for (auto _ : state)
    kxObjRelease(kxBufferObj(rfcBaseTryDecodeWithOptions(text, RFC_BASE_SELECTOR_MIME, bo)));
  setRate(state);
  state.counters["text_octets"] = static_cast<double>(kxBufferLength(text));
  kxObjRelease(kxBufferObj(text));
  rfcBaseOptionsRelease(bo);
  kxObjRelease(kxBufferObj(input));
}
BENCHMARK(baseDecode);

template <const std::vector<std::uint8_t> &(*Data)()>
void quopEncode(benchmark::State &state) {
  const auto &data = Data();
  KX_BUFFER *input = kxBufferCreateFromBytes(data.data(), kSize);
  RFC_QUOP_OPTIONS *qo = rfcQuopOptionsCreate();
  for (auto _ : state) kxObjRelease(kxBufferObj(rfcQuopEncodeWithOptions(input, qo)));
  setRate(state);
  rfcQuopOptionsRelease(qo);
  kxObjRelease(kxBufferObj(input));
}
BENCHMARK(quopEncode<textData>)->Name("quopEncode/text");
BENCHMARK(quopEncode<binaryData>)->Name("quopEncode/binary");

void quopEncodedLength(benchmark::State &state) {
  const auto &data = textData();
  KX_BUFFER *input = kxBufferCreateFromBytes(data.data(), kSize);
  RFC_QUOP_OPTIONS *qo = rfcQuopOptionsCreate();
  for (auto _ : state) benchmark::DoNotOptimize(rfcQuopEncodedLength(input, qo));
  setRate(state);
  rfcQuopOptionsRelease(qo);
  kxObjRelease(kxBufferObj(input));
}
BENCHMARK(quopEncodedLength);

void quopDecode(benchmark::State &state) {
  const auto &data = textData();
  KX_BUFFER *input = kxBufferCreateFromBytes(data.data(), kSize);
  RFC_QUOP_OPTIONS *qo = rfcQuopOptionsCreate();
  KX_BUFFER *text = rfcQuopEncodeWithOptions(input, qo);
  for (auto _ : state) kxObjRelease(kxBufferObj(rfcQuopTryDecodeWithOptions(text, qo)));
  setRate(state);
  state.counters["text_octets"] = static_cast<double>(kxBufferLength(text));
  kxObjRelease(kxBufferObj(text));
  rfcQuopOptionsRelease(qo);
  kxObjRelease(kxBufferObj(input));
}
BENCHMARK(quopDecode);

// --- the span cores into ready memory: the scalar reference beside the path the processor runs ---

template <auto Encode>
void baseEncodeCore(benchmark::State &state) {
  const auto &data = binaryData();
  std::vector<std::uint8_t> out(rfc::base64::encodedLength(kSize, kLineLength));
  for (auto _ : state) benchmark::DoNotOptimize(Encode(data, kLineLength, out.data()));
  setRate(state);
}
BENCHMARK(baseEncodeCore<rfc::base64::encodeScalar>)->Name("baseEncodeCore/scalar");
BENCHMARK(baseEncodeCore<rfc::base64::encode>)->Name("baseEncodeCore/chosen");

template <auto Decode>
void baseDecodeCore(benchmark::State &state) {
  const auto &data = binaryData();
  std::vector<std::uint8_t> text(rfc::base64::encodedLength(kSize, kLineLength));
  rfc::base64::encodeScalar(data, kLineLength, text.data());
  std::vector<std::uint8_t> out(rfc::base64::decodedMaxLength(text.size()));
  for (auto _ : state) benchmark::DoNotOptimize(Decode(text, out.data()));
  setRate(state);
}
BENCHMARK(baseDecodeCore<rfc::base64::decodeScalar>)->Name("baseDecodeCore/scalar");
BENCHMARK(baseDecodeCore<rfc::base64::decode>)->Name("baseDecodeCore/chosen");

template <auto Encode>
void quopEncodeCore(benchmark::State &state) {
  const auto &data = textData();
  std::vector<std::uint8_t> out(rfc::quop::encodedLength(data, kLineLength));
  for (auto _ : state) benchmark::DoNotOptimize(Encode(data, kLineLength, out.data()));
  setRate(state);
}
BENCHMARK(quopEncodeCore<rfc::quop::encodeScalar>)->Name("quopEncodeCore/scalar");
BENCHMARK(quopEncodeCore<rfc::quop::encode>)->Name("quopEncodeCore/chosen");

template <auto Decode>
void quopDecodeCore(benchmark::State &state) {
  const auto &data = textData();
  std::vector<std::uint8_t> text(rfc::quop::encodedLength(data, kLineLength));
  rfc::quop::encodeScalar(data, kLineLength, text.data());
  std::vector<std::uint8_t> out(text.size());
  for (auto _ : state) benchmark::DoNotOptimize(Decode(text, out.data()));
  setRate(state);
}
BENCHMARK(quopDecodeCore<rfc::quop::decodeScalar>)->Name("quopDecodeCore/scalar");
BENCHMARK(quopDecodeCore<rfc::quop::decode>)->Name("quopDecodeCore/chosen");

}  // namespace

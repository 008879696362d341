// Content-Type header codec (and the Content-Disposition decoder beside it): encode and decode of a typical
// value, and decode of large hostile values (many parameters, many RFC 2231 sections, many comments) at N
// and 10N to show how the cost grows.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include "kx/kx.h"
#include "kx/kx_internal.hpp"
#include "mime/mime.h"

namespace {

using StringRef = kx::Ref<KX_STRING>;
using OptionsRef = kx::Ref<MIME_OPTIONS>;
using ContentTypeRef = kx::Ref<MIME_CONTENT_TYPE>;

const bool kStarted = kxModuleStartup(mimeModule());

const char kTypical[] =
    "multipart/mixed; boundary=\"----=_Part_123_456.789\"; charset=utf-8; "
    "title*0*=UTF-8''%E2%82%AC%20rates; title*1*=%20for%20you; format=flowed";

StringRef text(const std::string &utf8) {
  return StringRef(kxStringCreateFromCstr(utf8.data(), static_cast<kxInt>(utf8.size())));
}

void decodeLoop(benchmark::State &state, const std::string &input) {
  if (!kStarted) state.SkipWithError("module did not start");
  OptionsRef mo(mimeOptionsCreate());
  StringRef value = text(input);
  for (auto _ : state) {
    ContentTypeRef type(mimeContentTypeTryDecode(value.get(), mo.get()));
    benchmark::DoNotOptimize(type.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
  state.counters["ops"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// --- the typical value ---

void BM_ContentTypeDecodeTypical(benchmark::State &state) {
  decodeLoop(state, kTypical);
}
BENCHMARK(BM_ContentTypeDecodeTypical);

void BM_ContentTypeEncodeTypical(benchmark::State &state) {
  OptionsRef mo(mimeOptionsCreate());
  ContentTypeRef type(mimeContentTypeTryDecode(text(kTypical).get(), mo.get()));
  for (auto _ : state) {
    StringRef encoded(mimeContentTypeEncode(type.get(), mo.get(), 14));
    benchmark::DoNotOptimize(encoded.get());
  }
  state.counters["ops"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ContentTypeEncodeTypical);

// As a message reader meets them: the value arrives as UTF-8 octets, and the timed call makes the string
// and decodes it, for a Content-Type and for a Content-Disposition with an RFC 2231 file name.
const char kTypicalDisposition[] =
    "attachment; filename*0*=UTF-8''%E2%82%AC%20rates%20for; filename*1*=%20you.pdf; "
    "filename=\"rates.pdf\"; size=18432; creation-date=\"Wed, 12 Feb 1997 16:29:51 -0500\"";

template <typename Decoded, Decoded *(*decode)(KX_STRING *, MIME_OPTIONS *)>
void decodeFromUtf8Loop(benchmark::State &state, const std::string &input) {
  if (!kStarted) state.SkipWithError("module did not start");
  OptionsRef mo(mimeOptionsCreate());
  for (auto _ : state) {
    StringRef value(kxStringCreateFromCstr(input.data(), static_cast<kxInt>(input.size())));
    kx::Ref<Decoded> decoded(decode(value.get(), mo.get()));
    benchmark::DoNotOptimize(decoded.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
  state.counters["ops"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_ContentTypeDecodeTypicalFromUtf8(benchmark::State &state) {
  decodeFromUtf8Loop<MIME_CONTENT_TYPE, mimeContentTypeTryDecode>(state, kTypical);
}
BENCHMARK(BM_ContentTypeDecodeTypicalFromUtf8);

void BM_ContentDispositionDecodeTypicalFromUtf8(benchmark::State &state) {
  decodeFromUtf8Loop<MIME_CONTENT_DISPOSITION, mimeContentDispositionTryDecode>(state, kTypicalDisposition);
}
BENCHMARK(BM_ContentDispositionDecodeTypicalFromUtf8);

// Baseline for scale: copying the typical value's octets.
void BM_MemcpyTypical(benchmark::State &state) {
  char out[sizeof kTypical];
  for (auto _ : state) {
    std::memcpy(out, kTypical, sizeof kTypical);
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MemcpyTypical);

// --- large inputs ---

std::string manyParameters(int64_t n) {
  std::string value = "text/plain";
  for (int64_t i = 0; i < n; ++i) value += "; p" + std::to_string(i) + "=v" + std::to_string(i);
  return value;
}

std::string manySectionsReversed(int64_t n) {
  std::string value = "application/x";
  for (int64_t i = n - 1; i >= 0; --i) value += "; t*" + std::to_string(i) + "*=%E2%82%AC";
  value += "; t*0*=UTF-8''%E2%82%AC";
  return value;
}

std::string manyComments(int64_t n) {
  std::string value = "text/plain";
  for (int64_t i = 0; i < n; ++i) value += " (c (nested))";
  return value + "; a=1";
}

void BM_ContentTypeDecodeManyParameters(benchmark::State &state) {
  decodeLoop(state, manyParameters(state.range(0)));
}
BENCHMARK(BM_ContentTypeDecodeManyParameters)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_ContentTypeDecodeManySections(benchmark::State &state) {
  decodeLoop(state, manySectionsReversed(state.range(0)));
}
BENCHMARK(BM_ContentTypeDecodeManySections)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_ContentTypeDecodeManyComments(benchmark::State &state) {
  decodeLoop(state, manyComments(state.range(0)));
}
BENCHMARK(BM_ContentTypeDecodeManyComments)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

void BM_ContentTypeEncodeManyParameters(benchmark::State &state) {
  OptionsRef mo(mimeOptionsCreate());
  OptionsRef plain(mimeOptionsCreate());
  mimeOptionsSetFlags(plain.addr(), 0);
  ContentTypeRef type(mimeContentTypeTryDecode(text(manyParameters(state.range(0))).get(), plain.get()));
  for (auto _ : state) {
    StringRef encoded(mimeContentTypeEncode(type.get(), mo.get(), 14));
    benchmark::DoNotOptimize(encoded.get());
  }
}
BENCHMARK(BM_ContentTypeEncodeManyParameters)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

}  // namespace

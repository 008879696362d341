// Encoded words: decoding typical Subject and file name values (UTF-8 B and Q, Latin-1 Q, Shift_JIS through
// the converter, text with no word), long runs of words, hostile texts of word fragments at N and 10N to show
// that the cost grows linearly, and encoding of a typical and a long text.
#include <benchmark/benchmark.h>

#include <string>

#include "kx/kx.h"
#include "kx/kx_internal.hpp"
#include "mime/mime.h"

namespace {

using StringRef = kx::Ref<KX_STRING>;
using OptionsRef = kx::Ref<MIME_OPTIONS>;

const bool kStarted = kxModuleStartup(mimeModule());

StringRef text(const std::string &utf8) {
  return StringRef(kxStringCreateFromCstr(utf8.data(), static_cast<kxInt>(utf8.size())));
}

std::string repeat(const std::string &piece, int64_t times) {
  std::string out;
  out.reserve(piece.size() * static_cast<size_t>(times));
  for (int64_t i = 0; i < times; ++i) out += piece;
  return out;
}

void decodeLoop(benchmark::State &state, const std::string &input) {
  if (!kStarted) state.SkipWithError("module did not start");
  StringRef value = text(input);
  for (auto _ : state) {
    kxBool malformed;
    StringRef decoded(mimeEncodedWordDecode(value.get(), &malformed));
    benchmark::DoNotOptimize(decoded.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
}

// The piece repeated state.range(0) times, decoded.
void decodeRepeated(benchmark::State &state, const std::string &piece) {
  decodeLoop(state, repeat(piece, state.range(0)));
  state.SetComplexityN(state.range(0));
}

// --- typical values ---

void BM_EncodedWordDecodeSubjectUtf8(benchmark::State &state) {
  decodeLoop(
      state,
      "Re: =?UTF-8?B?R3LDvMOfZSBhdXMgTcO8bmNoZW4gdW5kIEvDtmxu?= =?UTF-8?Q?_=E2=82=AC_100?= [ticket 42]");
}
BENCHMARK(BM_EncodedWordDecodeSubjectUtf8);

void BM_EncodedWordDecodeFileNameFolded(benchmark::State &state) {
  decodeLoop(state,
             "=?UTF-8?B?0J/RgNC40LLQtdGCINC80LjRgCDQuCDQstGB0LXQvCDQv9GA0LjQstC10YIg0L7RgiDQvdCw0YE=?=\r\n"
             " =?UTF-8?B?IOKAlCDQvtGC0YfRkdGCINC30LAg0LzQsNGA0YIucGRm?=");
}
BENCHMARK(BM_EncodedWordDecodeFileNameFolded);

void BM_EncodedWordDecodeLatin1Q(benchmark::State &state) {
  decodeLoop(state, "=?iso-8859-1?q?R=E9union_des_d=E9l=E9gu=E9s_=E0_Gen=E8ve?=");
}
BENCHMARK(BM_EncodedWordDecodeLatin1Q);

void BM_EncodedWordDecodeShiftJis(benchmark::State &state) {
  decodeLoop(state, "=?Shift_JIS?B?grGC8YLJgr+CzYFBkKKKRYFJ?=");
}
BENCHMARK(BM_EncodedWordDecodeShiftJis);

void BM_EncodedWordDecodeNoWord(benchmark::State &state) {
  decodeLoop(state, "Quarterly figures for the northern region, second draft (please review by Friday)");
}
BENCHMARK(BM_EncodedWordDecodeNoWord);

// One long value of folded UTF-8 words, as a 10 KB file name or subject would be written.
void BM_EncodedWordDecodeManyWords(benchmark::State &state) {
  decodeRepeated(state, "=?UTF-8?B?0J/RgNC40LLQtdGCINC80LjRgCDQuCDQstGB0LXQvCDQv9GA0LjQstC10YI=?=\r\n ");
}

// --- hostile values ---

void BM_EncodedWordDecodeOpenersOnly(benchmark::State &state) {
  decodeRepeated(state, "=?");
}

void BM_EncodedWordDecodeUnclosedWords(benchmark::State &state) {
  decodeRepeated(state, "=?utf-8?q?x=");
}

void BM_EncodedWordDecodeLongCharsetFields(benchmark::State &state) {
  decodeLoop(state, "=?" + repeat("abcdefgh", state.range(0)) + "?q?x?=");
  state.SetComplexityN(state.range(0));
}

void BM_EncodedWordDecodeTinyAdjacentWords(benchmark::State &state) {
  decodeRepeated(state, "=?utf-8?q?=C3?= =?utf-8?q?=A9?=");
}

// Every word in another charset than the one before, each through the converter.
void BM_EncodedWordDecodeAlternatingCharsets(benchmark::State &state) {
  decodeRepeated(state, "=?koi8-r?q?=F0?==?windows-1251?q?=CF?=");
}

void BM_EncodedWordDecodeUnknownCharsets(benchmark::State &state) {
  decodeRepeated(state, "=?x-unknown-charset?b?AAAA?=");
}

// --- encoding ---

void encodeLoop(benchmark::State &state, const std::string &input) {
  if (!kStarted) state.SkipWithError("module did not start");
  StringRef value = text(input);
  OptionsRef mo(mimeOptionsCreate());
  for (auto _ : state) {
    StringRef encoded(mimeEncodedWordEncode(value.get(), mo.get(), 9));
    benchmark::DoNotOptimize(encoded.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(input.size()));
}

void BM_EncodedWordEncodeSubject(benchmark::State &state) {
  encodeLoop(state, "Re: Grüße aus München und Köln € 100 [ticket 42]");
}
BENCHMARK(BM_EncodedWordEncodeSubject);

void BM_EncodedWordEncodeLongText(benchmark::State &state) {
  encodeLoop(state, repeat("Привет мир, all of it ", state.range(0)));
  state.SetComplexityN(state.range(0));
}

#define LINEAR(function, n) \
  BENCHMARK(function)->Arg(n)->Arg(10 * (n))->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond)

LINEAR(BM_EncodedWordDecodeManyWords, 100);
LINEAR(BM_EncodedWordDecodeOpenersOnly, 50000);  // 100 KB and 1 MB
LINEAR(BM_EncodedWordDecodeUnclosedWords, 10000);
LINEAR(BM_EncodedWordDecodeLongCharsetFields, 12500);
LINEAR(BM_EncodedWordDecodeTinyAdjacentWords, 3000);
LINEAR(BM_EncodedWordDecodeUnknownCharsets, 4000);
LINEAR(BM_EncodedWordDecodeAlternatingCharsets, 3000);
LINEAR(BM_EncodedWordEncodeLongText, 500);

}  // namespace

// Structured header field lexing: tokenizing a typical Content-Type value, and folding a token vector into
// a header value. Items per second are whole values per second.
#include <benchmark/benchmark.h>

#include <vector>

#include "kx/kx.h"
#include "mime/mime.h"

namespace {

const char kContentType[] =
    "multipart/mixed; boundary=\"----=_Part_4821_1093848201.1733472000\"; charset=\"utf-8\" (generated)";

// Starts the module for the duration of one benchmark.
struct ModuleScope {
  ModuleScope() { kxModuleStartup(mimeModule()); }
  ~ModuleScope() { kxModuleShutdown(mimeModule()); }
};

void BM_TokenizeContentType(benchmark::State &state) {
  ModuleScope module;
  KX_STRING *value = kxStringCreateFromCstr(kContentType, -1);
  for (auto _ : state) {
    KX_VECTOR *tokens = mimeShfTokenVectorTryDecode(value);
    mimeShfTokenVectorDelComments(&tokens);
    benchmark::DoNotOptimize(tokens);
    kxObjRelease(kxVectorObj(tokens));
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sizeof kContentType - 1));
  kxObjRelease(kxStringObj(value));
}
BENCHMARK(BM_TokenizeContentType);

// text/plain;charset=utf-8;name="quarterly report 2026.pdf";format=flowed and a comment, folded at 76 after
// "Content-Type: ".
KX_VECTOR *contentTypeTokens() {
  KX_VECTOR *vec = kxVectorCreate();
  auto append = [&vec](MIME_SHF_TOKEN *tok) {
    kxVectorAppendObj(&vec, mimeShfTokenObj(tok));
    mimeShfTokenRelease(tok);
  };
  append(mimeShfTokenCreateTokenOrQuotedStringCstr("text", -1));
  append(mimeShfTokenCreateTspecial('/'));
  append(mimeShfTokenCreateTokenOrQuotedStringCstr("plain", -1));
  const char *const parameters[][2] = {
      {"charset", "utf-8"}, {"name", "quarterly report 2026.pdf"}, {"format", "flowed"}, {"delsp", "yes"}};
  for (const auto &parameter : parameters) {
    append(mimeShfTokenCreateTspecial(';'));
    append(mimeShfTokenCreateTokenOrQuotedStringCstr(parameter[0], -1));
    append(mimeShfTokenCreateTspecial('='));
    append(mimeShfTokenCreateTokenOrQuotedStringCstr(parameter[1], -1));
  }
  append(mimeShfTokenCreateCommentCstr("sent by the nightly export job", -1));
  return vec;
}

void BM_EncodeTokenVector(benchmark::State &state) {
  ModuleScope module;
  KX_VECTOR *tokens = contentTypeTokens();
  MIME_OPTIONS *mo = mimeOptionsCreate();
  for (auto _ : state) {
    KX_STRING *value = mimeShfTokenVectorEncode(tokens, mo, 14);
    benchmark::DoNotOptimize(value);
    kxObjRelease(kxStringObj(value));
  }
  state.SetItemsProcessed(state.iterations());
  mimeOptionsRelease(mo);
  kxObjRelease(kxVectorObj(tokens));
}
BENCHMARK(BM_EncodeTokenVector);

// Linearity: a value of n comments, tokenized and stripped of its comments.
void BM_TokenizeAndDropComments(benchmark::State &state) {
  ModuleScope module;
  std::vector<char> text;
  for (int64_t i = 0; i < state.range(0); ++i)
    for (char c : {'t', '(', 'c', ')'}) text.push_back(c);
  KX_STRING *value = kxStringCreateFromCstr(text.data(), static_cast<kxInt>(text.size()));
  for (auto _ : state) {
    KX_VECTOR *tokens = mimeShfTokenVectorTryDecode(value);
    mimeShfTokenVectorDelComments(&tokens);
    benchmark::DoNotOptimize(tokens);
    kxObjRelease(kxVectorObj(tokens));
  }
  state.SetComplexityN(state.range(0));
  kxObjRelease(kxStringObj(value));
}
BENCHMARK(BM_TokenizeAndDropComments)->RangeMultiplier(10)->Range(1000, 100000)->Complexity();

}  // namespace

// Hostile inputs at sizes N and 10N: the time of each must grow tenfold, not a hundredfold. Google
// Benchmark fits the two points to O(N) and prints the coefficient with the RMS error of the fit; a quadratic
// scan shows as a 10N time about 100 times the N time and an RMS far above a few per cent.
//   mime_hostile_bench --benchmark_filter=Multipart      one family
// The largest inputs allocate strings of 64 MiB (16 MiB of header text as 32-bit code points). glibc would
// map and unmap such blocks on every call, and the page faults on fresh memory would then dominate the 10N
// time; so the allocator is told to keep freed memory, and every input runs once before it is timed.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <functional>
#include <string>

#include "kx/kx.h"
#include "kx/kx_internal.hpp"
#include "kx/kx_module.h"
#include "mime/mime.h"

namespace {

using BufferRef = kx::Ref<KX_BUFFER>;
using OptionsRef = kx::Ref<MIME_OPTIONS>;
using StringRef = kx::Ref<KX_STRING>;
using TypeRef = kx::Ref<MIME_CONTENT_TYPE>;
using VectorRef = kx::Ref<KX_VECTOR>;

// The module started, and freed memory kept by the allocator.
const bool kReady =
    kxModuleStartup(mimeModule()) && mallopt(M_MMAP_MAX, 0) && mallopt(M_TRIM_THRESHOLD, 1 << 30);

std::string repeat(const std::string &piece, int64_t times) {
  std::string out;
  out.reserve(piece.size() * static_cast<size_t>(times));
  for (int64_t i = 0; i < times; ++i) out += piece;
  return out;
}

// --- Content-Type values: the input is built from state.range(0), then decoded once per iteration ---

using TextOfSize = std::function<std::string(int64_t)>;

void decodeContentType(benchmark::State &state, const TextOfSize &textOf, bool expectType) {
  if (!kReady) state.SkipWithError("set-up failed");
  const std::string text = textOf(state.range(0));
  StringRef value(kxStringCreateFromCstr(text.data(), static_cast<kxInt>(text.size())));
  OptionsRef opt(mimeOptionsCreate());
  TypeRef(mimeContentTypeTryDecode(value.get(), opt.get()));  // untimed first run
  for (auto _ : state) {
    TypeRef type(mimeContentTypeTryDecode(value.get(), opt.get()));
    if (static_cast<bool>(type) != expectType) state.SkipWithError("unexpected decode result");
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

std::string manyParameters(int64_t n) {
  std::string text = "text/plain";
  for (int64_t i = 0; i < n; ++i) text += "; p" + std::to_string(i) + "=\"v " + std::to_string(i) + "\"";
  return text;
}

// Extended sections in reverse, each splitting a euro sign, with a duplicate, leading zeros, negative and
// 2^64+1 numbers and a section after a gap.
std::string reverseExtendedSections(int64_t n) {
  std::string text = "application/x; t*5*=junk";
  for (int64_t i = n - 1; i > 0; --i) text += "; t*" + std::to_string(i) + "*=%82%AC%E2";
  text +=
      "; t*0*=UTF-8''%E2; t*01*=z; t*-1*=z; t*18446744073709551617*=z; t*" + std::to_string(n + 1) + "*=z";
  return text;
}

std::string percentJunk(int64_t n) {
  return "application/x; t*=UTF-8''" + repeat("%%41%4%ZZ+%00%", n);
}

std::string nestedComments(int64_t n) {
  return "text/plain " + std::string(static_cast<size_t>(n), '(') + std::string(static_cast<size_t>(n), ')');
}

void BM_ContentTypeManyParameters(benchmark::State &state) {
  decodeContentType(state, manyParameters, true);
}
void BM_ContentTypeReverseExtendedSections(benchmark::State &state) {
  decodeContentType(state, reverseExtendedSections, true);
}
void BM_ContentTypePercentJunk(benchmark::State &state) {
  decodeContentType(state, percentJunk, true);
}
void BM_ContentTypeNestedComments(benchmark::State &state) {
  decodeContentType(state, nestedComments, true);
}
void BM_ContentTypeUnterminatedQuotedString(benchmark::State &state) {
  decodeContentType(
      state, [](int64_t n) { return "text/plain; a=\"" + std::string(static_cast<size_t>(n), 'x') + "\\"; },
      false);
}
void BM_ContentTypeUnterminatedComment(benchmark::State &state) {
  decodeContentType(
      state, [](int64_t n) { return "text/plain (" + repeat("x\\)", n); }, false);
}
void BM_ContentTypeUnterminatedDomainLiteral(benchmark::State &state) {
  decodeContentType(
      state, [](int64_t n) { return "text/plain; a=[" + repeat("x\\]", n); }, false);
}

// A 200-character name with a value of n octets that all need escapes (CR, LF, NUL, space, tspecials and
// non-ASCII), encoded into sections of 60 and folded.
void BM_ContentTypeEncodeLongNameEscapesOnly(benchmark::State &state) {
  if (!kReady) state.SkipWithError("set-up failed");
  const std::string value = repeat(std::string("\xE2\x82\xAC\r\n\0 \"%*'", 12), state.range(0) / 12);
  const std::string name(200, 'n');
  TypeRef type(mimeContentTypeCreateCstr("application/x", -1));
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), name.c_str(), -1, value.c_str(),
                                           static_cast<kxInt>(value.size()));
  OptionsRef opt(mimeOptionsCreate());
  StringRef(mimeContentTypeEncode(type.get(), opt.get(), 14));  // untimed first run
  for (auto _ : state) {
    StringRef text(mimeContentTypeEncode(type.get(), opt.get(), 14));
    benchmark::DoNotOptimize(text.get());
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * value.size()));
}

// --- multipart bodies: built from state.range(0), then unpacked once per iteration ---

void unpack(benchmark::State &state, const TextOfSize &contentOf, kxInt expectedParts) {
  if (!kReady) state.SkipWithError("set-up failed");
  const std::string bytes = contentOf(state.range(0));
  BufferRef content(kxBufferCreateFromBytes(bytes.data(), static_cast<kxInt>(bytes.size())));
  TypeRef type(mimeContentTypeCreateCstr("multipart/mixed", -1));
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "boundary", -1, "b", -1);
  OptionsRef opt(mimeOptionsCreate());
  VectorRef(mimeMultipartTryUnpack(type.addr(), content.get(), opt.get()));  // untimed first run
  for (auto _ : state) {
    VectorRef parts(mimeMultipartTryUnpack(type.addr(), content.get(), opt.get()));
    const kxInt got = parts ? kxVectorLength(parts.get()) : -1;
    if (got != expectedParts) state.SkipWithError("unexpected unpack result");
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes.size()));
}

void BM_MultipartEmptyParts(benchmark::State &state) {
  const int64_t n = state.range(0);
  unpack(
      state, [](int64_t parts) { return "--b\r\n" + repeat("\r\n--b\r\n", parts - 1) + "\r\n--b--"; },
      static_cast<kxInt>(n));
}
void BM_MultipartHeaderLines(benchmark::State &state) {
  unpack(
      state,
      [](int64_t lines) {
        return "--b\r\n" + repeat("X-Field: value\r\n", lines) + "Content-Type: a/b\r\n\r\nbody\r\n--b--";
      },
      1);
}
void BM_MultipartOneLongHeaderLine(benchmark::State &state) {
  unpack(
      state,
      [](int64_t octets) {
        return "--b\r\nContent-Type: " + std::string(static_cast<size_t>(octets), 'v') +
               "\r\n\r\nbody\r\n--b--";
      },
      1);
}
// Lines that begin with the delimiter after a bare LF, a bare CR or in mid-line, and never a close
// delimiter: the whole body is searched and the call fails.
void BM_MultipartForeignLineEndsNoClose(benchmark::State &state) {
  unpack(
      state, [](int64_t lines) { return "--b\r\n\r\n" + repeat("x\n--b\rx--b\n--bX\r", lines); }, -1);
}
// A body that is only CR LF and dashes up to its end: every CR LF is a candidate for the delimiter search.
void BM_MultipartPaddingThenJunkAtTheEnd(benchmark::State &state) {
  unpack(
      state, [](int64_t pairs) { return "--b\r\n\r\n" + repeat("\r\n-", pairs) + "\r\n--b \t junk"; }, -1);
}

// --- generation: the collision test over bodies full of boundary look-alikes that do not collide ---

void BM_PackBodiesWithBoundaryLookalikes(benchmark::State &state) {
  if (!kReady) state.SkipWithError("set-up failed");
  const std::string body = repeat("mid --frontier\n--frontier\r--frontier x\r\n-", state.range(0));
  VectorRef entities(kxVectorCreate());
  kx::Ref<MIME_ENTITY> entity(mimeEntityCreate());
  mimeEntitySetBody(entity.addr(),
                    BufferRef(kxBufferCreateFromBytes(body.data(), static_cast<kxInt>(body.size()))).get());
  kxVectorAppendObj(entities.addr(), mimeEntityObj(entity.get()));
  OptionsRef opt(mimeOptionsCreate());
  for (auto _ : state) {
    TypeRef type(mimeContentTypeCreateCstr("multipart/mixed", -1));
    mimeContentTypeSetParameterCstrCstrValue(type.addr(), "boundary", -1, "frontier", -1);
    BufferRef packed(mimeMultipartTryPack(type.addr(), entities.get(), opt.get()));
    if (!packed) state.SkipWithError("pack failed");
  }
  state.SetComplexityN(state.range(0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}

// N and 10N for every input; O(N) fitted over the two.
#define HOSTILE(function, n) \
  BENCHMARK(function)->Arg(n)->Arg(10 * (n))->Complexity(benchmark::oN)->Unit(benchmark::kMillisecond)

HOSTILE(BM_ContentTypeManyParameters, 10000);
HOSTILE(BM_ContentTypeReverseExtendedSections, 10000);
HOSTILE(BM_ContentTypePercentJunk, 10000);
HOSTILE(BM_ContentTypeNestedComments, 10000);
HOSTILE(BM_ContentTypeUnterminatedQuotedString, 100000);
HOSTILE(BM_ContentTypeUnterminatedComment, 100000);
HOSTILE(BM_ContentTypeUnterminatedDomainLiteral, 100000);
HOSTILE(BM_ContentTypeEncodeLongNameEscapesOnly, 10000);
HOSTILE(BM_MultipartEmptyParts, 10000);
HOSTILE(BM_MultipartHeaderLines, 1000);
HOSTILE(BM_MultipartOneLongHeaderLine, (16 << 20) / 10);
HOSTILE(BM_MultipartForeignLineEndsNoClose, 100000);
HOSTILE(BM_MultipartPaddingThenJunkAtTheEnd, 100000);
HOSTILE(BM_PackBodiesWithBoundaryLookalikes, 10000);

}  // namespace

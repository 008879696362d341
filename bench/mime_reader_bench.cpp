// The message reader, parse and decode: a message of 20 Base64 attachments of 5 MiB, and one of 20,000
// small text parts (bytes per second and, through the items counter, time per part); and the hostile
// inputs whose memory the reader must keep near the input's size: 100,000 parts of a blank line, one
// Content-Type or Content-Disposition of 1,000,000 parameters (the latter also behind a quoted string left
// open), and a 100 MB header line (run one at a time under /usr/bin/time -v
// to see the peak; the input is held twice, as the test's string and as the buffer read).
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "kx/kx.h"
#include "kx/kx_internal.hpp"
#include "mime/mime.h"

namespace {

using BufferRef = kx::Ref<KX_BUFFER>;
using OptionsRef = kx::Ref<MIME_OPTIONS>;
using PartRef = kx::Ref<MIME_PART>;

const bool kStarted = kxModuleStartup(mimeModule());

std::string base64Lines(size_t octets, std::mt19937_64 &random) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve(octets * 4 / 3 + octets / 38 + 8);
  for (size_t groups = (octets + 2) / 3, line = 0; groups > 0; --groups) {
    for (int i = 0; i < 4; ++i) text += kAlphabet[random() % 64];
    if (++line == 19) {
      text += "\r\n";
      line = 0;
    }
  }
  return text;
}

std::string attachments() {
  std::mt19937_64 random(5);
  std::string m = "Content-Type: multipart/mixed; boundary=\"=_b\"\r\nSubject: files\r\n\r\n";
  for (int i = 0; i < 20; ++i) {
    m += "--=_b\r\nContent-Type: application/octet-stream; name=\"f" + std::to_string(i) +
         ".bin\"\r\nContent-Disposition: attachment; filename=\"f" + std::to_string(i) +
         ".bin\"\r\nContent-Transfer-Encoding: base64\r\n\r\n" + base64Lines(5u << 20, random) + "\r\n";
  }
  return m + "--=_b--\r\n";
}

std::string smallParts() {
  std::string m = "Content-Type: multipart/mixed; boundary=\"=_b\"\r\n\r\n";
  for (int i = 0; i < 20000; ++i) {
    m += "--=_b\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 7bit\r\n\r\nPart " +
         std::to_string(i) + " says hello.\r\n";
  }
  return m + "--=_b--\r\n";
}

size_t countParts(MIME_PART *part) {
  size_t n = 1;
  for (kxInt i = 0; i < mimePartChildrenLength(part); ++i)
    n += countParts(PartRef(mimePartChildAt(part, i)).get());
  return n;
}

// Reads the message and decodes every leaf body, one at a time.
size_t readAndDecode(MIME_PART *part, MIME_OPTIONS *opt) {
  if (mimePartChildrenLength(part) == 0)
    return static_cast<size_t>(kxBufferLength(BufferRef(mimePartDecodeBody(part, opt, nullptr)).get()));
  size_t total = 0;
  for (kxInt i = 0; i < mimePartChildrenLength(part); ++i)
    total += readAndDecode(PartRef(mimePartChildAt(part, i)).get(), opt);
  return total;
}

void run(benchmark::State &state, const std::string &text) {
  if (!kStarted) state.SkipWithError("mime module did not start");
  BufferRef message(kxBufferCreateFromBytes(text.data(), static_cast<kxInt>(text.size())));
  OptionsRef opt(mimeOptionsCreate());
  size_t parts = 0;
  for (auto _ : state) {
    PartRef root(mimeMessageRead(message.get(), opt.get()));
    benchmark::DoNotOptimize(readAndDecode(root.get(), opt.get()));
    parts = countParts(root.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * parts));
}

// The same read part by part: each leaf decoded as it is handed over, no tree kept.
kxBool decodeLeaf(void *context, MIME_PART *part, kxInt visit, kxInt) {
  auto *opt = static_cast<MIME_OPTIONS *>(context);
  if (visit == MIME_VISIT_LEAF)
    benchmark::DoNotOptimize(BufferRef(mimePartDecodeBody(part, opt, nullptr)).get());
  return 1;
}

void BM_ReadSmallPartsEach(benchmark::State &state) {
  static const std::string text = smallParts();
  if (!kStarted) state.SkipWithError("mime module did not start");
  BufferRef message(kxBufferCreateFromBytes(text.data(), static_cast<kxInt>(text.size())));
  OptionsRef opt(mimeOptionsCreate());
  for (auto _ : state) mimeMessageReadEach(message.get(), opt.get(), decodeLeaf, opt.get());
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void BM_ReadAttachments(benchmark::State &state) {
  static const std::string text = attachments();
  run(state, text);
}

void BM_ReadSmallParts(benchmark::State &state) {
  static const std::string text = smallParts();
  run(state, text);
}

void BM_ReadManyParameters(benchmark::State &state) {
  static const std::string text = [] {
    std::string m = "Content-Type: text/plain";
    for (int i = 0; i < 1000000; ++i) m += "; p" + std::to_string(i % 1000) + "=v";
    return m + "\r\n\r\nbody";
  }();
  run(state, text);
}

// One Content-Disposition of 1,000,000 parameters: as written, and behind a quoted string left open, which
// the reader reads on to the end as one value.
std::string manyDispositionParameters(const char *before) {
  std::string m = std::string("Content-Disposition: attachment") + before;
  for (int i = 0; i < 1000000; ++i) m += "; p" + std::to_string(i % 1000) + "=v";
  return m + "\r\n\r\nbody";
}

void BM_ReadManyDispositionParameters(benchmark::State &state) {
  static const std::string text = manyDispositionParameters("");
  run(state, text);
}

void BM_ReadDispositionLeftOpen(benchmark::State &state) {
  static const std::string text = manyDispositionParameters("; filename=\"");
  run(state, text);
}

void BM_ReadLongHeaderLine(benchmark::State &state) {
  static const std::string text = "Subject: " + std::string(100'000'000, 'x') +
                                  "\r\nContent-Type: text/plain; name=" + std::string(1'000'000, 'n') +
                                  "\r\n\r\nbody";
  run(state, text);
}

// 100,000 parts of a blank line each, the multipart a hostile sender can pack densest.
void BM_ReadManyEmptyParts(benchmark::State &state) {
  static const std::string text = [] {
    std::string m = "Content-Type: multipart/mixed; boundary=frontier-0123456789\r\n\r\n";
    for (int i = 0; i < 100000; ++i) m += "--frontier-0123456789\r\n\r\n";
    return m + "--frontier-0123456789--\r\n";
  }();
  run(state, text);
}

BENCHMARK(BM_ReadAttachments)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSmallParts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadSmallPartsEach)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadManyEmptyParts)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadManyParameters)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadManyDispositionParameters)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadDispositionLeftOpen)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadLongHeaderLine)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

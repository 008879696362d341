// The AVX2 path of the delimiter search. Compiled for AVX2 function by function (target attributes) and only
// ever called once the processor has been seen to support it; whatever the 32-octet steps leave goes to
// memmem, so the two paths agree by construction.
#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "mime/mime_multipart.hpp"

#define MIME_AVX2_FUNCTION __attribute__((target("avx2,bmi")))

namespace mime::multipart {
namespace {

// 32 places at a time, those where the needle's first octet (the CR) and its last both stand are found with
// two compares; only they are compared whole. The needle holds its CR only at its start, so a place that
// matches part of the needle holds no other candidate: the whole comparisons add up to no more than the
// octets searched, and the search stays linear whatever the content.
MIME_AVX2_FUNCTION const char *findWithAvx2(std::string_view haystack, std::string_view needle) {
  const char *h = haystack.data();
  const size_t last = needle.size() - 1;
  const __m256i first = _mm256_set1_epi8(needle.front());
  const __m256i ending = _mm256_set1_epi8(needle.back());
  size_t i = 0;
  for (; i + last + 32 <= haystack.size(); i += 32) {
    __m256i starts = _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(h + i)), first);
    __m256i ends =
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(h + i + last)), ending);
    for (auto places = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(starts, ends)));
         places; places &= places - 1) {
      const char *candidate = h + i + _tzcnt_u32(places);
      if (std::memcmp(candidate + 1, needle.data() + 1, last - 1) == 0) return candidate;
    }
  }
  return findWithMemmem(haystack.substr(i), needle);
}

// findWithAvx2 that also copies each block it looks at to out. Returns whether the needle was found; the
// copy is complete either way.
MIME_AVX2_FUNCTION bool copyFindingWithAvx2(std::string_view haystack, std::string_view needle, kxByte *out) {
  const char *h = haystack.data();
  const size_t last = needle.size() - 1;
  const __m256i first = _mm256_set1_epi8(needle.front());
  const __m256i ending = _mm256_set1_epi8(needle.back());
  bool found = false;
  size_t i = 0;
  for (; i + last + 32 <= haystack.size(); i += 32) {
    __m256i block = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(h + i));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(out + i), block);
    if (found) continue;
    __m256i starts = _mm256_cmpeq_epi8(block, first);
    __m256i ends =
        _mm256_cmpeq_epi8(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(h + i + last)), ending);
    for (auto places = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_and_si256(starts, ends)));
         places && !found; places &= places - 1) {
      found = std::memcmp(h + i + _tzcnt_u32(places) + 1, needle.data() + 1, last - 1) == 0;
    }
  }
  std::memcpy(out + i, h + i, haystack.size() - i);
  return found || findWithMemmem(haystack.substr(i), needle);
}

// The explicit init makes the answer right even when asked from a static constructor.
bool processorRunsAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
}

}  // namespace

const DelimiterSearch *avx2DelimiterSearch() {
  static const DelimiterSearch search{findWithAvx2, copyFindingWithAvx2};
  static const bool supported = processorRunsAvx2();
  return supported ? &search : nullptr;
}

}  // namespace mime::multipart

// For the encoded-word interop test: reads UTF-8 texts on standard input, separated by NUL, and writes for
// each, separated by NUL, to standard output as UTF-8
//   encode FOLD OFFSET   mimeEncodedWordEncode of it (fold length FOLD, first-line offset OFFSET)
//   decode               mimeEncodedWordDecode of it, with a line "malformed N" on standard error for the
//                        N-th text (from 0) when the decoder said so
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <string>

#include "kx/kx_internal.hpp"
#include "mime/mime.h"

namespace {

void write(KX_STRING *s) {
  kxInt length = 0;
  char *utf8 = kxStringConvertToCstr(s, &length);
  std::fwrite(utf8, 1, static_cast<size_t>(length), stdout);
  kxMemFree(utf8);
}

}  // namespace

int main(int argc, char **argv) {
  const bool encode = argc == 4 && std::strcmp(argv[1], "encode") == 0;
  const bool decode = argc == 2 && std::strcmp(argv[1], "decode") == 0;
  if ((!encode && !decode) || !kxModuleStartup(mimeModule())) return 2;
  const std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
  {
    kx::Ref<MIME_OPTIONS> mo(mimeOptionsCreate());
    if (encode) mimeOptionsSetWrapLineLength(mo.addr(), std::atoi(argv[2]));
    size_t start = 0;
    for (int index = 0; start <= input.size(); ++index) {
      const size_t end = std::min(input.find('\0', start), input.size());
      kx::Ref<KX_STRING> text(kxStringCreateFromCstr(input.data() + start, static_cast<kxInt>(end - start)));
      kxBool malformed = 0;
      kx::Ref<KX_STRING> result(encode ? mimeEncodedWordEncode(text.get(), mo.get(), std::atoi(argv[3]))
                                       : mimeEncodedWordDecode(text.get(), &malformed));
      if (malformed) std::fprintf(stderr, "malformed %d\n", index);
      if (index > 0) std::fputc('\0', stdout);
      write(result.get());
      start = end + 1;
    }
  }
  kxModuleShutdown(mimeModule());
  return 0;
}

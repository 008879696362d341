// The C++ interface's test binary: one mime::Module guard keeps the library started while the tests run,
// and stops it afterwards, so that LeakSanitizer sees every object of the library released.
#include <gmock/gmock.h>

#include <cstdio>

#include "mime/mime.hpp"

int main(int argc, char **argv) {
  testing::InitGoogleMock(&argc, argv);
  const mime::Module module;
  if (!module) {
    std::fprintf(stderr, "the mime module did not start\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}

// The main of every test binary. A binary that links the mime library starts its module, through kx's
// module system, before the first test and stops it after the last, so that the threads of the tests only
// ever see a started module and LeakSanitizer sees the module's tables released too. The kx and rfc
// binaries do not link mime: there the weak reference is null.
#include <gmock/gmock.h>

#include <cstdio>

#include "kx/kx_module.h"

extern "C" KX_MODULE *mimeModule(void) __attribute__((weak));

int main(int argc, char **argv) {
  testing::InitGoogleMock(&argc, argv);
  KX_MODULE *module = mimeModule ? mimeModule() : nullptr;
  if (module && !kxModuleStartup(module)) {
    std::fprintf(stderr, "the mime module did not start\n");
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  if (module) kxModuleShutdown(module);
  return result;
}

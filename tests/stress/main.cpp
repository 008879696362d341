// The stress test binary: the mime module is started once, through kx's module system, before any test runs
// and stopped after the last; the threads of the tests only ever see a started module.
#include <gmock/gmock.h>

#include <cstdio>

#include "kx/kx_module.h"
#include "mime/mime_module.h"

int main(int argc, char **argv) {
  testing::InitGoogleMock(&argc, argv);
  if (!kxModuleStartup(mimeModule())) {
    std::fprintf(stderr, "the mime module did not start\n");
    return 1;
  }
  const int result = RUN_ALL_TESTS();
  kxModuleShutdown(mimeModule());
  return result;
}

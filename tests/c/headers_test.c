/* Every public umbrella header compiles as C11 and C99 under -Wpedantic and its symbols link. */
#include "kx/kx.h"
#include "rfc/rfc.h"
#if __has_include("mime/mime.h")
#include "mime/mime.h"
#endif

int main(void) {
  KX_STRING *s = kxStringCreateFromCstr("c", -1);
  int ok = kxStringLength(s) == 1;
  kxObjRelease(kxStringObj(s));
  return ok ? 0 : 1;
}

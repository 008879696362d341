/* A program that uses the installed libraries the way a caller would. */
#include <stdio.h>
#include <string.h>

#include "kx/kx.h"
#include "rfc/rfc.h"

int main(void) {
  KX_BUFFER *body = kxBufferCreateFromBytes("consumer", 8);
  RFC_BASE_OPTIONS *bo = rfcBaseOptionsCreate();
  KX_BUFFER *encoded = rfcBaseEncodeWithOptions(body, RFC_BASE_SELECTOR_MIME, bo);
  int ok = kxBufferLength(encoded) == 12 && memcmp(kxBufferBacking(encoded), "Y29uc3VtZXI=", 12) == 0;
  printf("%.*s\n", (int)kxBufferLength(encoded), (const char *)kxBufferBacking(encoded));
  kxObjRelease(kxBufferObj(encoded));
  rfcBaseOptionsRelease(bo);
  kxObjRelease(kxBufferObj(body));
  return ok ? 0 : 1;
}

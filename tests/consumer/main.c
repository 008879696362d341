/* A C99 program that uses the installed libraries the way a caller would, macros included. */
#include <stdio.h>
#include <string.h>

#include "kx/kx.h"
#include "mime/mime.h"
#include "rfc/rfc.h"

int main(void) {
  KX_BUFFER *body = kxBufferCreateFromBytes("consumer", 8);
  RFC_BASE_OPTIONS *bo = rfcBaseOptionsCreate();
  KX_BUFFER *encoded = rfcBaseEncodeWithOptions(body, RFC_BASE_SELECTOR_MIME, bo);
  int ok = kxBufferLength(encoded) == 12 && memcmp(kxBufferBacking(encoded), "Y29uc3VtZXI=", 12) == 0 &&
           MIME_CONTENT_TRANSFER_ENCODING_OK(MIME_CONTENT_TRANSFER_ENCODING_BASE64) &&
           KX_CHARSET_OK(KX_CHARSET_UTF_8);
  printf("%.*s\n", (int)kxBufferLength(encoded), (const char *)kxBufferBacking(encoded));
  kxObjClear(&encoded);
  rfcBaseOptionsRelease(bo);
  kxObjRelease(kxBufferObj(body));
  return ok ? 0 : 1;
}

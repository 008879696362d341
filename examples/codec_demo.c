/* Runs one message body through both codecs of the rfc library: prints each encoding as it would travel in a
 * MIME entity and says whether decoding gave the body back octet for octet. */
#include <stdio.h>
#include <string.h>

#include "kx/kx.h"
#include "rfc/rfc.h"

static const char kBody[] =
    "Grüße aus Köln! The café on the corner now serves crème brûlée = bliss.\r\n"
    "A line with trailing spaces   \r\n"
    "Tabs\tand \"quotes\" survive, and so does a very long line that runs on well past the seventy-six "
    "characters a quoted-printable line may hold.\r\n";

static int sameOctets(KX_BUFFER *a, KX_BUFFER *b) {
  return a && b && kxBufferLength(a) == kxBufferLength(b) &&
         memcmp(kxBufferBacking(a), kxBufferBacking(b), (size_t)kxBufferLength(a)) == 0;
}

static void show(const char *name, KX_BUFFER *body, KX_BUFFER *encoded, KX_BUFFER *decoded) {
  printf("--- %s: %lld octets become %lld ---\n%.*s\n", name, (long long)kxBufferLength(body),
         (long long)kxBufferLength(encoded), (int)kxBufferLength(encoded),
         (const char *)kxBufferBacking(encoded));
  printf("--- round trip: %s ---\n\n", sameOctets(body, decoded) ? "matched" : "DIFFERENT");
}

int main(void) {
  KX_BUFFER *body = kxBufferCreateFromBytes(kBody, (kxInt)strlen(kBody));

  RFC_BASE_OPTIONS *bo = rfcBaseOptionsCreate();
  rfcBaseOptionsSetOutputLineLength(&bo, 76); /* the line length of RFC 2045 */
  KX_BUFFER *base = rfcBaseEncodeWithOptions(body, RFC_BASE_SELECTOR_MIME, bo);
  KX_BUFFER *baseBack = rfcBaseTryDecodeWithOptions(base, RFC_BASE_SELECTOR_MIME, bo);
  show("base64", body, base, baseBack);

  RFC_QUOP_OPTIONS *qo = rfcQuopOptionsCreate(); /* 76 by default */
  KX_BUFFER *quop = rfcQuopEncodeWithOptions(body, qo);
  KX_BUFFER *quopBack = quop ? rfcQuopTryDecodeWithOptions(quop, qo) : NULL;
  if (quop) show("quoted-printable", body, quop, quopBack);

  int ok = sameOctets(body, baseBack) && sameOctets(body, quopBack);
  kxObjRelease(kxBufferObj(quopBack));
  kxObjRelease(kxBufferObj(quop));
  rfcQuopOptionsRelease(qo);
  kxObjRelease(kxBufferObj(baseBack));
  kxObjRelease(kxBufferObj(base));
  rfcBaseOptionsRelease(bo);
  kxObjRelease(kxBufferObj(body));
  return ok ? 0 : 1;
}

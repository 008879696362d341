/* The road of one message, in C: a sender encodes two parts, packs them under multipart/mixed and encodes
 * the outer entity; the message is printed as it would travel; a receiver rebuilds the entity from the
 * field values and body, decodes it, unpacks it and decodes every part. Exits 0 when every part came back
 * octet for octet. */
#include <stdio.h>
#include <string.h>

#include "mime/mime.h"

static const char kText[] =
    "Gr\xC3\xBC\xC3\x9F"
    "e aus K\xC3\xB6ln!\r\n--a line that looks like a delimiter\r\n";
static const unsigned char kImage[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0xFF, 0x10, 0x80};

/* One part in its structured view: the body, a content type with one parameter, and a Content-ID. */
static MIME_ENTITY *encodePart(MIME_OPTIONS *opt, const void *bytes, size_t length, const char *type,
                               const char *key, const char *value) {
  KX_BUFFER *body = kxBufferCreateFromBytes(bytes, (kxInt)length);
  MIME_CONTENT_TYPE *contentType = mimeContentTypeCreateCstr(type, -1);
  mimeContentTypeSetParameterCstrCstrValue(&contentType, key, -1, value, -1); /* copy-on-write */
  KX_STRING *id = mimeContentIdGenerate();
  MIME_ENTITY *entity = mimeEncode(opt, body, contentType, id); /* chooses 7bit, QP or Base64 */
  kxObjRelease(kxStringObj(id));
  mimeContentTypeRelease(contentType);
  kxObjRelease(kxBufferObj(body));
  return entity;
}

static void printField(const char *name, KX_STRING *value) {
  if (!value) return;
  char *text = kxStringConvertToCstr(value, NULL);
  printf("%s: %s\r\n", name, text);
  kxMemFree(text);
  kxObjRelease(kxStringObj(value));
}

/* Decodes every part and compares it with what was sent; returns the number that came back intact. */
static int compareParts(MIME_OPTIONS *opt, KX_VECTOR *parts, const void *const *sent,
                        const size_t *sentLength) {
  int intact = 0;
  for (kxInt i = 0; i < kxVectorLength(parts) && i < 2; ++i) {
    KX_OBJ *part = kxVectorObjAt(parts, i);
    KX_BUFFER *body = NULL;
    MIME_CONTENT_TYPE *type = NULL;
    if (mimeDecode(mimeEntityFrom(part), opt, &body, &type, NULL) && body && type &&
        kxBufferLength(body) == (kxInt)sentLength[i] &&
        memcmp(kxBufferBacking(body), sent[i], sentLength[i]) == 0) {
      KX_STRING *name = mimeContentTypeName(type);
      char *text = kxStringConvertToCstr(name, NULL);
      fprintf(stderr, "part %d: %s, %lld octets, intact\n", (int)i + 1, text, (long long)sentLength[i]);
      kxMemFree(text);
      kxObjRelease(kxStringObj(name));
      ++intact;
    }
    if (type) mimeContentTypeRelease(type);
    kxObjRelease(kxBufferObj(body)); /* kxObjRelease takes null too */
    kxObjRelease(part);
  }
  return intact;
}

/* The receiver's side: the outer entity from what came off the wire, decoded and unpacked. Returns the
 * number of parts that came back intact. */
static int receive(MIME_OPTIONS *opt, MIME_ENTITY *wire, const void *const *sent, const size_t *sentLength) {
  KX_BUFFER *body = NULL;
  MIME_CONTENT_TYPE *type = NULL;
  int intact = 0;
  if (mimeDecode(wire, opt, &body, &type, NULL) && type && body) {
    KX_VECTOR *parts = mimeMultipartTryUnpack(&type, body, opt);
    if (parts) {
      intact = compareParts(opt, parts, sent, sentLength);
      kxObjRelease(kxVectorObj(parts));
    } else {
      fprintf(stderr, "the body is no multipart body for its boundary\n");
    }
  } else {
    fprintf(stderr, "the message does not decode\n");
  }
  if (type) mimeContentTypeRelease(type);
  kxObjRelease(kxBufferObj(body));
  return intact;
}

int main(void) {
  if (!kxModuleStartup(mimeModule())) return 1;
  MIME_OPTIONS *opt = mimeOptionsCreate(); /* RFC 2231 on, folding at 76, UTF-8 parameters */

  /* The sender: two parts, packed; the boundary is generated and checked against both bodies. */
  KX_VECTOR *entities = kxVectorCreate();
  MIME_ENTITY *text = encodePart(opt, kText, sizeof kText - 1, "text/plain", "charset", "utf-8");
  MIME_ENTITY *image = encodePart(opt, kImage, sizeof kImage, "image/png", "name", "K\xC3\xB6lner Dom.png");
  kxVectorAppendObj(&entities, mimeEntityObj(text));
  kxVectorAppendObj(&entities, mimeEntityObj(image));
  MIME_CONTENT_TYPE *mixed = mimeContentTypeCreateCstr("multipart/mixed", -1);
  KX_BUFFER *packed = mimeMultipartTryPack(&mixed, entities, opt);
  int intact = 0;
  if (packed) {
    MIME_ENTITY *outer = mimeEncode(opt, packed, mixed, NULL);

    /* On the wire: the three header fields, a blank line and the body. */
    printf("MIME-Version: 1.0\r\n");
    printField("Content-Type", mimeEntityContentType(outer));
    printField("Content-Transfer-Encoding", mimeEntityContentTransferEncoding(outer));
    KX_BUFFER *wireBody = mimeEntityBody(outer);
    printf("\r\n%.*s", (int)kxBufferLength(wireBody), (const char *)kxBufferBacking(wireBody));

    /* The receiver sees only text and octets: it builds a fresh entity from them. */
    MIME_ENTITY *received = mimeEntityCreate();
    KX_STRING *typeValue = mimeEntityContentType(outer);
    KX_STRING *cteValue = mimeEntityContentTransferEncoding(outer);
    mimeEntitySetContentType(&received, typeValue);
    mimeEntitySetContentTransferEncoding(&received, cteValue);
    mimeEntitySetBody(&received, wireBody);
    const void *sent[2] = {kText, kImage};
    const size_t sentLength[2] = {sizeof kText - 1, sizeof kImage};
    intact = receive(opt, received, sent, sentLength);

    kxObjRelease(kxStringObj(cteValue));
    kxObjRelease(kxStringObj(typeValue));
    mimeEntityRelease(received);
    kxObjRelease(kxBufferObj(wireBody));
    mimeEntityRelease(outer);
    kxObjRelease(kxBufferObj(packed));
  }
  mimeContentTypeRelease(mixed);
  mimeEntityRelease(image);
  mimeEntityRelease(text);
  kxObjRelease(kxVectorObj(entities));
  mimeOptionsRelease(opt);
  kxModuleShutdown(mimeModule());
  return intact == 2 ? 0 : 1;
}

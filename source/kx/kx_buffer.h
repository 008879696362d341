/* Immutable octet buffers with a bit length. Changers take the address of the caller's reference and copy
 * on write. Every function returning KX_BUFFER * returns a new reference the caller releases. Null buffer
 * arguments abort. */
#ifndef KX_BUFFER_H
#define KX_BUFFER_H

#include "kx/kx_obj.h"

KX_EXTERN_C_BEGIN

typedef struct KX_BUFFER KX_BUFFER;

/* The most octets a buffer may hold. */
#define KX_BUFFER_MAX_LENGTH (KX_INT_C(1) << 40)

/* The sort record; static, no reference. */
KX_EXPORT KX_SORT *kxBufferSort(void);
/* The same pointer as a kx object; no check, no reference. */
KX_EXPORT KX_OBJ *kxBufferObj(KX_BUFFER *b);
/* The same pointer as this kind; null passes, another sort aborts; no reference. */
KX_EXPORT KX_BUFFER *kxBufferFrom(KX_OBJ *obj);

/* A new empty buffer, owned by the caller. */
KX_EXPORT KX_BUFFER *kxBufferCreate(void);
/* A new buffer holding a copy of length octets at bytes, owned by the caller. */
KX_EXPORT KX_BUFFER *kxBufferCreateFromBytes(const void *bytes, kxInt length);
/* A buffer of bitLength bits (the last octet partly used when bitLength is not a multiple of 8). */
KX_EXPORT KX_BUFFER *kxBufferCreateFromBits(const void *bytes, kxInt bitLength);
/* A buffer of length octets whose contents the caller writes through *backing before sharing the buffer;
 * the octets start undefined. *backing is never null. */
KX_EXPORT KX_BUFFER *kxBufferCreateUninitialized(kxInt length, kxByte **backing);
/* Called once the last buffer over memory that kxBufferCreateWrapping wrapped is freed. */
typedef void (*KX_BUFFER_RELEASE_FUNC)(void *context);
/* A buffer over length octets at bytes, which it does not copy: a file mapped into memory, a block another
 * allocator owns. The octets must stay readable and unchanged until release(context) is called, once, when
 * the buffer and every slice read from it are freed (release may be null: nothing to give back). The
 * octets are never written through the buffer: an append copies them first. */
KX_EXPORT KX_BUFFER *kxBufferCreateWrapping(const void *bytes, kxInt length, KX_BUFFER_RELEASE_FUNC release,
                                            void *context);

KX_EXPORT kxInt kxBufferLength(KX_BUFFER *b);    /* octets, a partly used last octet included */
KX_EXPORT kxInt kxBufferBitLength(KX_BUFFER *b); /* bits */
/* The octets; valid while the caller holds its reference and does not change the buffer. Never null (an
 * empty buffer gives a valid pointer to nothing). */
KX_EXPORT const kxByte *kxBufferBacking(KX_BUFFER *b);
/* Octets that may still be appended before KX_BUFFER_MAX_LENGTH (0 when full). */
KX_EXPORT kxInt kxBufferSpace(KX_BUFFER *b);

/* Appending requires whole-octet buffers ("kxBufferBitLength( *b ) % 8 == 0"). */
KX_EXPORT void kxBufferAppend(KX_BUFFER **b, KX_BUFFER *other);
/* Appends a copy of length octets at bytes (a shared *b is copied first). */
KX_EXPORT void kxBufferAppendBytes(KX_BUFFER **b, const void *bytes, kxInt length);
/* Appends one octet (a shared *b is copied first). */
KX_EXPORT void kxBufferAppendByte(KX_BUFFER **b, kxByte byte);
/* Shortens the buffer to length octets (length <= kxBufferLength). */
KX_EXPORT void kxBufferTruncate(KX_BUFFER **b, kxInt length);
/* length octets from offset, as a new buffer (the range must lie inside b). O(1): the result shares b's
 * storage (appending to either copies first), and keeps that storage alive while it lives. */
KX_EXPORT KX_BUFFER *kxBufferRead(KX_BUFFER *b, kxInt offset, kxInt length);

KX_EXTERN_C_END

#endif

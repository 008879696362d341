/* Random integers from a per-thread generator seeded from the kernel. */
#ifndef KX_RANDOM_H
#define KX_RANDOM_H

#include "kx/kx_defs.h"

KX_EXTERN_C_BEGIN

/* A uniformly drawn integer in [min, max], both inclusive; requires 0 <= min <= max. */
KX_EXPORT kxInt kxRandomNonNegativeIntRange(kxInt min, kxInt max);

/* Replaces the random source of the calling thread (for tests): source(context) returns 64 random bits,
 * which kxRandomNonNegativeIntRange maps as it maps its own generator's: a draw below 2^64 mod span is
 * rejected (at most 64 times in a row; the 65th draw is taken), the rest modulo span. Null restores the
 * thread's own generator. */
typedef uint64_t (*KX_RANDOM_SOURCE)(void *context);
/* Installs source (with context, borrowed until replaced) as the calling thread's random source; null
 * restores its own. */
KX_EXPORT void kxRandomSetThreadSource(KX_RANDOM_SOURCE source, void *context);

/* Fills length octets at bytes with random bits straight from the kernel (getrandom), for values that must
 * not be guessable or repeat across processes; unaffected by kxRandomSetThreadSource. */
KX_EXPORT void kxRandomKernelBytes(void *bytes, kxInt length);

KX_EXTERN_C_END

#endif

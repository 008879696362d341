/* Scalar types, export and contract macros shared by every kx header. */
#ifndef KX_DEFS_H
#define KX_DEFS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define KX_EXTERN_C_BEGIN extern "C" {
#define KX_EXTERN_C_END }
#else
#define KX_EXTERN_C_BEGIN
#define KX_EXTERN_C_END
#endif

#define KX_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
#define KX_NORETURN [[noreturn]]
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define KX_NORETURN _Noreturn
#else
#define KX_NORETURN __attribute__((noreturn))
#endif

/* A kxInt constant written as a literal of that type, and a conversion written the way each language
 * wants it, so that the headers' macros stay clean under C++'s -Wold-style-cast. */
#define KX_INT_C(value) INT64_C(value)
#ifdef __cplusplus
#define KX_CAST(type, value) (static_cast<type>(value))
#else
#define KX_CAST(type, value) ((type)(value))
#endif

KX_EXTERN_C_BEGIN

typedef int64_t kxInt;   /* every count, offset, length and enumeration */
typedef int32_t kxBool;  /* results are exactly 0 or 1 */
typedef uint32_t kxChar; /* one Unicode code point */
typedef uint8_t kxByte;

#define KX_INT_MAX INT64_MAX
#define KX_INT_MIN INT64_MIN

/* True when a + b does not overflow kxInt. */
#define KX_INT_ADD_OK(a, b)                                           \
  (((b) >= 0) ? (KX_CAST(kxInt, a) <= KX_INT_MAX - KX_CAST(kxInt, b)) \
              : (KX_CAST(kxInt, a) >= KX_INT_MIN - KX_CAST(kxInt, b)))

/* Writes one line naming file, line, label (may be null) and expression (may be null) to stderr, then
 * aborts. Never returns. Every contract check of kx, rfc and mime ends here. */
KX_NORETURN KX_EXPORT void kx___Abort(const char *label, const char *file, kxInt line, const char *expression);

#define KX_ASSERT(expr) ((expr) ? (void)0 : kx___Abort(NULL, __FILE__, __LINE__, #expr))
#define KX_ASSERT_LABEL(label, expr) ((expr) ? (void)0 : kx___Abort((label), __FILE__, __LINE__, #expr))
/* An abort that carries no expression text. */
#define KX_UNREACHABLE() kx___Abort(NULL, __FILE__, __LINE__, NULL)

/* The smaller of a and b. */
KX_EXPORT kxInt kxIntMin(kxInt a, kxInt b);
/* The larger of a and b. */
KX_EXPORT kxInt kxIntMax(kxInt a, kxInt b);
/* 0 to 15 for the code points 0-9, a-f and A-F; -1 for every other code point. */
KX_EXPORT kxInt kxUnicodeHexadecimalDigitValue(kxChar c);

/* memcmp with kxInt length; negative, 0 or positive. Both pointers may be null when length is 0. */
KX_EXPORT int kxMemCompare(const void *a, const void *b, kxInt length);
/* Frees memory handed out by kx (kxStringConvertToCstr). Null is a no-op. */
KX_EXPORT void kxMemFree(void *p);

KX_EXTERN_C_END

#endif

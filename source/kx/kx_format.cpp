// Formatting strings. A directive is
//   "%" ["~"] ["^"] [["0"] width] ["!" base] conversion
// with the conversions
//   "s"  a KX_STRING           "o"  any object, as kxObjToString gives it
//   "i"  a kxInt               "lc" a NUL-terminated UTF-8 C string
//   "%"  a percent sign
// "~" (only with "s" and "o") makes the formatter release the argument after use; "^" (upper-case digits),
// the width ("0" pads with zeros instead of spaces) and the base (2 to 36, default 10) apply to "i" only.
// Anything else is a broken precondition of the caller and aborts: formats are program text, not input.
#include <cstdarg>
#include <cstring>

#include "kx/kx_string_internal.hpp"

namespace {

struct Directive {
  bool releases = false;
  bool upperCase = false;
  bool zeroPadding = false;
  kxInt width = 0;
  kxInt base = 10;
  char conversion = 0;  // 's', 'o', 'i', 'c' (for "lc") or '%'
};

const char *parseDirective(const char *p, Directive *d);
void appendDirective(KX_STRING *out, const Directive &d, va_list *args);
void appendFormat(KX_STRING *out, const char *format, va_list *args);
void appendInteger(KX_STRING *out, const Directive &d, kxInt value);

}  // namespace

extern "C" {

KX_STRING *kxStringCreateFromFormatCstr(const char *format, ...) {
  va_list args;
  va_start(args, format);
  KX_STRING *s = kxStringCreateFromFormatCstrVa(format, args);
  va_end(args);
  return s;
}

KX_STRING *kxStringCreateFromFormatCstrVa(const char *format, va_list args) {
  KX_ASSERT(format);
  KX_STRING *s = kx::stringCreateWithCapacity(static_cast<kxInt>(std::strlen(format)));
  va_list copy;
  va_copy(copy, args);
  appendFormat(s, format, &copy);
  va_end(copy);
  return s;
}

void kxStringAppendFormatCstr(KX_STRING **s, const char *format, ...) {
  KX_ASSERT(s);
  KX_ASSERT(*s);
  KX_ASSERT(format);
  kx::stringPrepareAppend(s, static_cast<kxInt>(std::strlen(format)));
  va_list args;
  va_start(args, format);
  appendFormat(*s, format, &args);
  va_end(args);
}

}  // extern "C"

// --- directives ---

namespace {

// Literal runs go in as UTF-8 (a format may hold non-ASCII text); each directive consumes its argument.
void appendFormat(KX_STRING *out, const char *format, va_list *args) {
  const char *p = format;
  while (*p) {
    const char *percent = std::strchr(p, '%');
    const char *literalEnd = percent ? percent : p + std::strlen(p);
    kx::stringAppendUtf8(out, reinterpret_cast<const kxByte *>(p), literalEnd - p);
    if (!percent) return;
    Directive d;
    p = parseDirective(percent + 1, &d);
    appendDirective(out, d, args);
  }
}

kxInt parseNumber(const char **p) {
  kxInt value = 0;
  while (**p >= '0' && **p <= '9') {
    KX_ASSERT(value < 1000000);  // a width or base, never a large number
    value = value * 10 + (*(*p)++ - '0');
  }
  return value;
}

// p is just after the '%'; returns the position after the directive.
const char *parseDirective(const char *p, Directive *d) {
  if (*p == '~') d->releases = true, ++p;
  if (*p == '^') d->upperCase = true, ++p;
  if (*p == '0') d->zeroPadding = true, ++p;
  d->width = parseNumber(&p);
  if (*p == '!') {
    ++p;
    d->base = parseNumber(&p);
    KX_ASSERT(d->base >= 2 && d->base <= 36);
  }
  if (p[0] == 'l' && p[1] == 'c') {
    d->conversion = 'c';
    p += 2;
  } else {
    d->conversion = *p;
    KX_ASSERT(*p == 's' || *p == 'o' || *p == 'i' || *p == '%');
    ++p;
  }
  bool integerOptions = d->upperCase || d->zeroPadding || d->width != 0 || d->base != 10;
  KX_ASSERT(!integerOptions || d->conversion == 'i');
  KX_ASSERT(!d->releases || d->conversion == 's' || d->conversion == 'o');
  return p;
}

void appendDirective(KX_STRING *out, const Directive &d, va_list *args) {
  switch (d.conversion) {
    case 's': {
      KX_STRING *s = va_arg(*args, KX_STRING *);
      KX_ASSERT(s);
      KX_ASSERT(kxObjSort(kxStringObj(s)) == kxStringSort());
      kx::stringAppendRaw(out, kxStringBacking(s), kxStringLength(s));
      if (d.releases) kxObjRelease(kxStringObj(s));
      return;
    }
    case 'o': {
      KX_OBJ *obj = va_arg(*args, KX_OBJ *);
      KX_ASSERT(obj);
      kx::Ref<KX_STRING> text(kxObjToString(obj));
      kx::stringAppendRaw(out, kxStringBacking(text.get()), kxStringLength(text.get()));
      if (d.releases) kxObjRelease(obj);
      return;
    }
    case 'i':
      appendInteger(out, d, va_arg(*args, kxInt));
      return;
    case 'c': {
      const char *cstr = va_arg(*args, const char *);
      KX_ASSERT(cstr);
      kx::stringAppendUtf8(out, reinterpret_cast<const kxByte *>(cstr),
                           static_cast<kxInt>(std::strlen(cstr)));
      return;
    }
    default:
      kx::stringAppendAscii(out, "%", 1);
      return;
  }
}

// The sign, then the digits padded to the width (zeros after the sign, or spaces before it).
void appendInteger(KX_STRING *out, const Directive &d, kxInt value) {
  const char *digitSet =
      d.upperCase ? "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ" : "0123456789abcdefghijklmnopqrstuvwxyz";
  // The magnitude as unsigned, so that KX_INT_MIN has one too.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char digits[64];
  int count = 0;
  do {
    digits[count++] = digitSet[magnitude % static_cast<uint64_t>(d.base)];
    magnitude /= static_cast<uint64_t>(d.base);
  } while (magnitude != 0);
  kxInt used = count + (value < 0 ? 1 : 0);
  kxInt padding = d.width > used ? d.width - used : 0;
  if (!d.zeroPadding) {
    for (kxInt i = 0; i < padding; ++i) kx::stringAppendAscii(out, " ", 1);
  }
  if (value < 0) kx::stringAppendAscii(out, "-", 1);
  if (d.zeroPadding) {
    for (kxInt i = 0; i < padding; ++i) kx::stringAppendAscii(out, "0", 1);
  }
  while (count > 0) kx::stringAppendAscii(out, &digits[--count], 1);
}

}  // namespace

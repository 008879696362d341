// The option objects of both codecs. Each holds one field, the output line length, with its default marker;
// the two kinds differ only in their sort, their default and the lengths they accept, so the common work is
// written once as a template over the kind and the public functions of both kinds come from one macro row
// each.
#include "rfc/rfc_internal.hpp"
#include "rfc/rfc_quop.h"

struct RFC_BASE_OPTIONS {
  KX_OBJ obj;
  kxBool outputLineLengthDefault;  // true while the length holds its default
  kxInt outputLineLength;
};

struct RFC_QUOP_OPTIONS {
  KX_OBJ obj;
  kxBool outputLineLengthDefault;
  kxInt outputLineLength;
};

namespace {

kxInt compareOptions(KX_OBJ *a, KX_OBJ *b);

// The store key of the line length, for both kinds.
constexpr const char kLineLengthKey[] = "outputLineLength";

}  // namespace

extern "C" {
KX_SORT rfc___sort_RFC_BASE_OPTIONS = {KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT),
                                       nullptr,
                                       "RFC_BASE_OPTIONS",
                                       nullptr,
                                       compareOptions,
                                       nullptr,
                                       {}};
KX_SORT rfc___sort_RFC_QUOP_OPTIONS = {KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT),
                                       nullptr,
                                       "RFC_QUOP_OPTIONS",
                                       nullptr,
                                       compareOptions,
                                       nullptr,
                                       {}};
}

namespace {

// --- the work common to both kinds ---

template <typename T>
T *createOptions(KX_SORT *sort, kxInt defaultLength) {
  auto *options = reinterpret_cast<T *>(kx___ObjCreate(sizeof(T), sort));
  options->outputLineLengthDefault = 1;
  options->outputLineLength = defaultLength;
  return options;
}

template <typename T>
T *copyOptions(T *source) {
  auto *copy = reinterpret_cast<T *>(kx___ObjCreate(sizeof(T), kxObjSort(kx::asObj(source))));
  copy->outputLineLengthDefault = source->outputLineLengthDefault;
  copy->outputLineLength = source->outputLineLength;
  return copy;
}

template <typename T>
void setLineLength(T **options, kxInt length, bool isDefault) {
  kx::makePrivate(options, copyOptions<T>);
  (*options)->outputLineLength = length;
  (*options)->outputLineLengthDefault = isDefault;
}

template <typename T>
KX_STORE *storeOptions(T *options, kxBool full) {
  KX_STORE *store = kxStoreCreate();
  if (full || !options->outputLineLengthDefault) {
    kxStoreSetValueIntCstr(&store, kLineLengthKey, -1, options->outputLineLength);
  }
  return store;
}

// A store entry sets the length only when it is an integer the kind accepts; anything else leaves the
// default, so that a damaged settings file never stops a program.
template <typename T>
T *restoreOptions(KX_STORE *store, T *created, bool (*usable)(kxInt)) {
  kxInt length = 0;
  if (kxStoreValueIntCstr(store, kLineLengthKey, -1, &length) && usable(length)) {
    setLineLength(&created, length, false);
  }
  return created;
}

// Both kinds share this layout, so one compare serves both (kxObjCompare only calls it for equal sorts).
// The marker first: a length set explicitly sorts before the same length held as the default.
kxInt compareOptions(KX_OBJ *a, KX_OBJ *b) {
  auto *x = reinterpret_cast<RFC_BASE_OPTIONS *>(a);
  auto *y = reinterpret_cast<RFC_BASE_OPTIONS *>(b);
  if (x->outputLineLengthDefault != y->outputLineLengthDefault) {
    return x->outputLineLengthDefault < y->outputLineLengthDefault ? -1 : 1;
  }
  if (x->outputLineLength != y->outputLineLength) return x->outputLineLength < y->outputLineLength ? -1 : 1;
  return 0;
}

}  // namespace

// The common object family of one kind: Sort, Obj, From, Retain, Release, Compare, Equals.
#define RFC_DEFINE_OBJECT_FAMILY(Xxx, KIND)                                                       \
  extern "C" KX_SORT *rfc##Xxx##Sort(void) {                                                      \
    return &rfc___sort_##KIND;                                                                    \
  }                                                                                               \
  extern "C" KX_OBJ *rfc##Xxx##Obj(KIND *x) {                                                     \
    return reinterpret_cast<KX_OBJ *>(x);                                                         \
  }                                                                                               \
  extern "C" KIND *rfc##Xxx##From(KX_OBJ *obj) {                                                  \
    RFC_ASSERT_LABEL("stdfunc from", !obj || kxObjSort(obj) == &rfc___sort_##KIND);               \
    return reinterpret_cast<KIND *>(obj);                                                         \
  }                                                                                               \
  extern "C" KIND *rfc##Xxx##Retain(KIND *obj) {                                                  \
    RFC_ASSERT_LABEL("stdfunc retain", obj);                                                      \
    kxObjRetain(reinterpret_cast<KX_OBJ *>(obj));                                                 \
    return obj;                                                                                   \
  }                                                                                               \
  extern "C" void rfc##Xxx##Release(KIND *obj) {                                                  \
    RFC_ASSERT_LABEL("stdfunc release", obj);                                                     \
    kxObjRelease(reinterpret_cast<KX_OBJ *>(obj));                                                \
  }                                                                                               \
  extern "C" kxInt rfc##Xxx##Compare(KIND *objA, KIND *objB) {                                    \
    RFC_ASSERT_LABEL("stdfunc compare a", objA);                                                  \
    RFC_ASSERT_LABEL("stdfunc compare b", objB);                                                  \
    return kxObjCompare(reinterpret_cast<KX_OBJ *>(objA), reinterpret_cast<KX_OBJ *>(objB));      \
  }                                                                                               \
  extern "C" kxBool rfc##Xxx##Equals(KIND *objA, KIND *objB) {                                    \
    RFC_ASSERT_LABEL("stdfunc equals a", objA);                                                   \
    RFC_ASSERT_LABEL("stdfunc equals b", objB);                                                   \
    return kxObjCompare(reinterpret_cast<KX_OBJ *>(objA), reinterpret_cast<KX_OBJ *>(objB)) == 0; \
  }

RFC_DEFINE_OBJECT_FAMILY(BaseOptions, RFC_BASE_OPTIONS)
RFC_DEFINE_OBJECT_FAMILY(QuopOptions, RFC_QUOP_OPTIONS)

// The public functions of one kind. Each kind is one row below: its default line length and the line
// lengths it accepts, written once (the precondition's text is the setter's abort, and the same test decides
// whether a restored entry is usable).
#define RFC_OPTIONS_KIND(Xxx, KIND, ref, defaultLength, length, precondition)                     \
  namespace {                                                                                     \
  bool usable##Xxx##LineLength(kxInt length) {                                                    \
    return precondition;                                                                          \
  }                                                                                               \
  }                                                                                               \
  extern "C" KIND *rfc##Xxx##OptionsCreate(void) {                                                \
    return createOptions<KIND>(&rfc___sort_##KIND, (defaultLength));                              \
  }                                                                                               \
  extern "C" KIND *rfc##Xxx##OptionsCreateFrom(KIND *source) {                                    \
    RFC_ASSERT(source);                                                                           \
    return copyOptions(source);                                                                   \
  }                                                                                               \
  extern "C" kxInt rfc##Xxx##OptionsOutputLineLength(KIND *ref) {                                 \
    RFC_ASSERT(ref);                                                                              \
    return ref->outputLineLength;                                                                 \
  }                                                                                               \
  extern "C" void rfc##Xxx##OptionsSetOutputLineLength(KIND **ref, kxInt length) {                \
    RFC_ASSERT(ref);                                                                              \
    RFC_ASSERT(*ref);                                                                             \
    if (!usable##Xxx##LineLength(length)) kx___Abort(nullptr, __FILE__, __LINE__, #precondition); \
    setLineLength(ref, length, false);                                                            \
  }                                                                                               \
  extern "C" kxBool rfc##Xxx##OptionsOutputLineLengthDefault(KIND *ref) {                         \
    RFC_ASSERT(ref);                                                                              \
    return ref->outputLineLengthDefault;                                                          \
  }                                                                                               \
  extern "C" void rfc##Xxx##OptionsSetOutputLineLengthDefault(KIND **ref) {                       \
    RFC_ASSERT(ref);                                                                              \
    RFC_ASSERT(*ref);                                                                             \
    setLineLength(ref, (defaultLength), true);                                                    \
  }                                                                                               \
  extern "C" KX_STORE *rfc##Xxx##OptionsStore(KIND *ref, kxBool full) {                           \
    RFC_ASSERT(ref);                                                                              \
    return storeOptions(ref, full);                                                               \
  }                                                                                               \
  extern "C" KIND *rfc##Xxx##OptionsRestore(KX_STORE *store) {                                    \
    RFC_ASSERT(store);                                                                            \
    return restoreOptions(store, rfc##Xxx##OptionsCreate(), usable##Xxx##LineLength);             \
  }

// Base64 lines are unlimited unless asked for (the mime library asks for 76). RFC 2045 allows
// quoted-printable lines of at most 76 characters; below 4 an escape and the "=" of a soft break would not
// fit on one line, and 998 is the longest line a mail transport must carry. 0: no soft breaks.
// The preconditions are stringized: their spacing is the abort text, so no reformatting.
// clang-format off
RFC_OPTIONS_KIND(Base, RFC_BASE_OPTIONS, bo, 0, length, length >= 0)
RFC_OPTIONS_KIND(Quop, RFC_QUOP_OPTIONS, qo, 76, length, length == 0 || (length >= 4 && length <= 998))
// clang-format on

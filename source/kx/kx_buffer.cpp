// Buffers of octets with a bit length. The octets live in a separately reference-counted storage block, so
// that kxBufferRead hands out a slice in O(1) without copying; a buffer appends in place only while both
// the buffer object and its storage have a single holder, and copies first otherwise.
#include "kx/kx_buffer.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "kx/kx_internal.hpp"

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

namespace {

// The octets: capacity octets of data, which follow the record in the same allocation, or which the record
// wraps (release then gives them back to their owner, and the buffer never writes them).
struct Storage {
  kxInt refs;  // changed only atomically
  kxInt capacity;
  kxByte *octets;
  KX_BUFFER_RELEASE_FUNC release;  // null for octets of the record's own allocation
  void *context;
  bool wraps;  // the octets are another owner's: never written, never reallocated
  kxByte *data() { return octets; }
};

}  // namespace

// bytes points into storage (null with it while the buffer is empty). The octets from bytes to the end of
// the storage's data belong to this buffer alone once the storage has a single holder.
struct KX_BUFFER {
  KX_OBJ obj;
  Storage *storage;
  kxByte *bytes;
  kxInt bitLength;
};

namespace {
void freeBuffer(KX_OBJ *obj);
kxInt compareBuffers(KX_OBJ *a, KX_OBJ *b);
KX_BUFFER *asBuffer(KX_OBJ *obj) {
  return reinterpret_cast<KX_BUFFER *>(obj);
}
kxInt octetLength(const KX_BUFFER *b) {
  return (b->bitLength + 7) / 8;
}
KX_BUFFER *createBuffer(Storage *adopted, kxByte *bytes, kxInt bitLength);
Storage *createStorage(kxInt capacity);
Storage *retainStorage(Storage *storage);
bool pointsInto(Storage *storage, const void *p);
void releaseStorage(Storage *storage);
kxByte *prepareAppend(KX_BUFFER **b, kxInt count);
void giveBackUnusedRoom(KX_BUFFER *b);
}  // namespace

KX_SORT kx___sort_KX_BUFFER = {
    KX_OBJ_STATIC_INIT(&kx___sort_KX_SORT), nullptr, "KX_BUFFER", freeBuffer, compareBuffers, nullptr, {}};

KX_DEFINE_KIND_BASICS(Buffer, KX_BUFFER)

extern "C" {

KX_BUFFER *kxBufferCreate(void) {
  return createBuffer(nullptr, nullptr, 0);
}

KX_BUFFER *kxBufferCreateFromBytes(const void *bytes, kxInt length) {
  KX_ASSERT(bytes || length == 0);
  KX_ASSERT(length >= 0 && length <= KX_BUFFER_MAX_LENGTH);
  return kxBufferCreateFromBits(bytes, length * 8);
}

KX_BUFFER *kxBufferCreateFromBits(const void *bytes, kxInt bitLength) {
  KX_ASSERT(bytes || bitLength == 0);
  KX_ASSERT(bitLength >= 0 && bitLength <= KX_BUFFER_MAX_LENGTH * 8);
  kxInt length = (bitLength + 7) / 8;
  if (length == 0) return kxBufferCreate();
  Storage *storage = createStorage(length);
  std::memcpy(storage->data(), bytes, static_cast<size_t>(length));
  return createBuffer(storage, storage->data(), bitLength);
}

KX_BUFFER *kxBufferCreateWrapping(const void *bytes, kxInt length, KX_BUFFER_RELEASE_FUNC release,
                                  void *context) {
  KX_ASSERT(bytes || length == 0);
  KX_ASSERT(length >= 0 && length <= KX_BUFFER_MAX_LENGTH);
  auto *storage = static_cast<Storage *>(std::malloc(sizeof(Storage)));
  KX_ASSERT(storage != nullptr);
  // Never written: the buffer has no room after its octets, so every append moves them to a block of its own.
  storage->refs = 1;
  storage->capacity = length;
  storage->octets = static_cast<kxByte *>(const_cast<void *>(bytes));
  storage->release = release;
  storage->context = context;
  storage->wraps = true;
  return createBuffer(storage, storage->octets, length * 8);
}

KX_BUFFER *kxBufferCreateUninitialized(kxInt length, kxByte **backing) {
  KX_ASSERT(backing);
  KX_ASSERT(length >= 0 && length <= KX_BUFFER_MAX_LENGTH);
  KX_BUFFER *b = kxBufferCreate();
  static kxByte nothing[1];  // a writable place for the zero octets of an empty buffer
  *backing = length == 0 ? nothing : prepareAppend(&b, length);
  b->bitLength = length * 8;
  return b;
}

kxInt kxBufferLength(KX_BUFFER *b) {
  KX_ASSERT(b);
  return octetLength(b);
}

kxInt kxBufferBitLength(KX_BUFFER *b) {
  KX_ASSERT(b);
  return b->bitLength;
}

const kxByte *kxBufferBacking(KX_BUFFER *b) {
  KX_ASSERT(b);
  // Never null, so that callers may hand an empty buffer's backing to memcpy and friends.
  static const kxByte empty[1] = {0};
  return b->bytes ? b->bytes : empty;
}

kxInt kxBufferSpace(KX_BUFFER *b) {
  KX_ASSERT(b);
  return KX_BUFFER_MAX_LENGTH - octetLength(b);
}

void kxBufferAppend(KX_BUFFER **b, KX_BUFFER *other) {
  KX_ASSERT(b);
  KX_ASSERT(*b);
  KX_ASSERT(other);
  // clang-format off
  KX_ASSERT(kxBufferBitLength( *b ) % 8 == 0);
  KX_ASSERT(kxBufferBitLength( other ) % 8 == 0);
  // clang-format on
  // Held for the duration: other may be *b itself, or share its storage, and the append may move it.
  kx::Ref<KX_BUFFER> source = kx::Ref<KX_BUFFER>::retained(other);
  Storage *keep = retainStorage(other->storage);
  kxInt count = octetLength(other);
  kxByte *out = prepareAppend(b, count);
  if (count > 0) std::memcpy(out, source->bytes, static_cast<size_t>(count));
  (*b)->bitLength += count * 8;
  releaseStorage(keep);
}

void kxBufferAppendBytes(KX_BUFFER **b, const void *bytes, kxInt length) {
  KX_ASSERT(b);
  KX_ASSERT(*b);
  KX_ASSERT(bytes || length == 0);
  KX_ASSERT(length >= 0);
  // clang-format off
  KX_ASSERT(kxBufferBitLength( *b ) % 8 == 0);
  // clang-format on
  if (length == 0) return;
  // The source may lie inside the buffer's own storage, which prepareAppend then replaces: keep that
  // storage alive until the copy is done (which also makes the append copy, as it must).
  Storage *keep = pointsInto((*b)->storage, bytes) ? retainStorage((*b)->storage) : nullptr;
  kxByte *out = prepareAppend(b, length);
  std::memmove(out, bytes, static_cast<size_t>(length));
  (*b)->bitLength += length * 8;
  releaseStorage(keep);
}

void kxBufferAppendByte(KX_BUFFER **b, kxByte byte) {
  KX_ASSERT(b);
  KX_ASSERT(*b);
  // clang-format off
  KX_ASSERT(kxBufferBitLength( *b ) % 8 == 0);
  // clang-format on
  *prepareAppend(b, 1) = byte;
  (*b)->bitLength += 8;
}

void kxBufferTruncate(KX_BUFFER **b, kxInt length) {
  KX_ASSERT(b);
  KX_ASSERT(*b);
  KX_ASSERT(length >= 0 && length <= kxBufferLength(*b));
  if (length * 8 >= (*b)->bitLength) return;  // already that short (a partly used last octet stays)
  // Shortening never writes the octets, so the storage may stay shared; only the object is made private.
  kx::makePrivate(b, [](KX_BUFFER *shared) {
    return createBuffer(retainStorage(shared->storage), shared->bytes, shared->bitLength);
  });
  (*b)->bitLength = length * 8;
  giveBackUnusedRoom(*b);
}

KX_BUFFER *kxBufferRead(KX_BUFFER *b, kxInt offset, kxInt length) {
  KX_ASSERT(b);
  KX_ASSERT(offset >= 0 && length >= 0 && offset <= kxBufferLength(b) - length);
  if (length == 0) return kxBufferCreate();
  return createBuffer(retainStorage(b->storage), b->bytes + offset, length * 8);
}

}  // extern "C"

// --- storage blocks ---

namespace {

// Large blocks ask for huge pages: fresh memory is mapped on first touch, page by page, and with 4 KiB
// pages that costs more than writing the octets (a 38 MiB encoding spent twenty times longer in page
// faults than in its encoder). Advice only: where the kernel declines, nothing changes.
void adviseHugePages(void *block, size_t size) {
#ifdef MADV_HUGEPAGE
  constexpr size_t kHugePage = size_t{2} << 20;
  if (size < 2 * kHugePage) return;
  auto first = (reinterpret_cast<std::uintptr_t>(block) + kHugePage - 1) & ~(kHugePage - 1);
  auto last = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(kHugePage - 1);
  if (last > first) madvise(reinterpret_cast<void *>(first), last - first, MADV_HUGEPAGE);
#else
  (void)block;
  (void)size;
#endif
}

Storage *createStorage(kxInt capacity) {
  size_t size = sizeof(Storage) + static_cast<size_t>(capacity);
  auto *storage = static_cast<Storage *>(std::malloc(size));
  KX_ASSERT(storage != nullptr);
  adviseHugePages(storage, size);
  storage->refs = 1;
  storage->capacity = capacity;
  storage->octets = reinterpret_cast<kxByte *>(storage + 1);
  storage->release = nullptr;
  storage->context = nullptr;
  storage->wraps = false;
  return storage;
}

Storage *retainStorage(Storage *storage) {
  if (storage) std::atomic_ref<kxInt>(storage->refs).fetch_add(1, std::memory_order_relaxed);
  return storage;
}

void releaseStorage(Storage *storage) {
  if (storage && std::atomic_ref<kxInt>(storage->refs).fetch_sub(1, std::memory_order_acq_rel) == 1) {
    if (storage->release) storage->release(storage->context);
    std::free(storage);
  }
}

bool pointsInto(Storage *storage, const void *p) {
  if (!storage) return false;
  std::less<const void *> before;
  return !before(p, storage->data()) && before(p, storage->data() + storage->capacity);
}

bool storageIsShared(Storage *storage) {
  return std::atomic_ref<kxInt>(storage->refs).load(std::memory_order_acquire) != 1;
}

KX_BUFFER *createBuffer(Storage *adopted, kxByte *bytes, kxInt bitLength) {
  auto *b = reinterpret_cast<KX_BUFFER *>(kx___ObjCreate(sizeof(KX_BUFFER), &kx___sort_KX_BUFFER));
  b->storage = adopted;
  b->bytes = bytes;
  b->bitLength = bitLength;
  return b;
}

// Octets of the storage after the buffer's last octet.
kxInt roomAfter(const KX_BUFFER *b) {
  if (!b->storage || b->storage->wraps) return 0;  // even after a truncation: those octets are not ours
  return b->storage->capacity - (b->bytes - b->storage->data()) - octetLength(b);
}

// Makes *b private, with private storage that has room for count more octets, and returns where they go.
// A buffer that nobody else can see and whose storage nobody else uses grows in place (doubling, so that a
// run of appends is amortised O(1)); otherwise its octets move to a new block.
kxByte *prepareAppend(KX_BUFFER **b, kxInt count) {
  KX_ASSERT(count <= kxBufferSpace(*b));
  kxInt length = octetLength(*b);
  bool inPlace = !kxObjIsShared(kx::asObj(*b)) && (*b)->storage && !storageIsShared((*b)->storage);
  if (inPlace && roomAfter(*b) >= count) return (*b)->bytes + length;
  kxInt needed = length + count;
  kxInt capacity = inPlace || length > 0 ? std::max(needed, length * 2) : needed;
  capacity = std::min(std::max(capacity, kxInt{16}), KX_BUFFER_MAX_LENGTH);
  Storage *fresh = createStorage(capacity);
  if (length > 0) std::memcpy(fresh->data(), (*b)->bytes, static_cast<size_t>(length));
  if (kxObjIsShared(kx::asObj(*b))) {
    KX_BUFFER *copy = createBuffer(fresh, fresh->data(), (*b)->bitLength);
    kxObjRelease(kx::asObj(*b));
    *b = copy;
  } else {
    releaseStorage((*b)->storage);
    (*b)->storage = fresh;
    (*b)->bytes = fresh->data();
  }
  return (*b)->bytes + length;
}

// A storage block that only this buffer uses and that is mostly unused after a truncation shrinks to the
// buffer's octets: encoders that write into room for the worst case then keep only what they wrote.
void giveBackUnusedRoom(KX_BUFFER *b) {
  Storage *storage = b->storage;
  if (!storage || storage->wraps || storageIsShared(storage) || b->bytes != storage->data()) return;
  kxInt length = std::max(octetLength(b), kxInt{16});
  if (storage->capacity - length < std::max(storage->capacity / 8, kxInt{4096})) return;
  auto *shrunk = static_cast<Storage *>(std::realloc(storage, sizeof(Storage) + static_cast<size_t>(length)));
  if (!shrunk) return;  // the larger block stays valid
  shrunk->capacity = length;
  shrunk->octets = reinterpret_cast<kxByte *>(shrunk + 1);
  b->storage = shrunk;
  b->bytes = shrunk->data();
}

}  // namespace

// --- sort functions ---

namespace {

void freeBuffer(KX_OBJ *obj) {
  KX_BUFFER *b = asBuffer(obj);
  releaseStorage(b->storage);
  b->storage = nullptr;
  b->bytes = nullptr;
}

// Octet by octet (unsigned); then the shorter bit length first.
kxInt compareBuffers(KX_OBJ *a, KX_OBJ *b) {
  KX_BUFFER *x = asBuffer(a);
  KX_BUFFER *y = asBuffer(b);
  kxInt common = std::min(octetLength(x), octetLength(y));
  int order = kxMemCompare(kxBufferBacking(x), kxBufferBacking(y), common);
  if (order != 0) return kx::sign(order);
  return kx::sign(x->bitLength - y->bitLength);
}

}  // namespace

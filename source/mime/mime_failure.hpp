// Internal to the library: recording why a strict function refuses its input (mime_failure.h). A record is
// two plain stores into this thread's slot: no allocation, no formatting, nothing on the success path but
// the clear on entry.
#pragma once

#include <cstddef>

#include "mime/mime_failure.h"

namespace mime {

struct Failure {
  kxInt kind = MIME_FAILURE_NONE;
  kxInt offset = -1;
  const char *subject = "";  // static: what the failing call was reading
};

// Constant-initialised, so that reading and writing it from another file needs no initialisation check.
extern constinit thread_local Failure lastFailure;

// Records the failure of the running strict call; returns false, so that a refusal reads
// `return fail(KIND, offset);` in a function answering bool.
inline bool fail(kxInt kind, kxInt offset = -1) {
  lastFailure.kind = kind;
  lastFailure.offset = offset;
  return false;
}
inline bool fail(kxInt kind, size_t offset) {
  return fail(kind, static_cast<kxInt>(offset));
}

// The start of every strict call: no failure so far, and what it reads (a static text).
inline void clearFailure(const char *subject = "") {
  lastFailure = {MIME_FAILURE_NONE, -1, subject};
}

// What a strict call reads from here on, when it moves to another part of its input.
inline void setFailureSubject(const char *subject) {
  lastFailure.subject = subject;
}

}  // namespace mime

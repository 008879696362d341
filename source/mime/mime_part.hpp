// The layout of MIME_PART, shared by the reader that builds parts and the accessors that read them.
// Internal to the library.
#pragma once

#include <vector>

#include "mime/mime_defect.h"
#include "mime/mime_defs.h"

struct MIME_PART {
  KX_OBJ obj;
  KX_BUFFER *message;                 // owned: the whole message read; every offset counts from its start
  MIME_HEADER *header;                // owned
  MIME_CONTENT_TYPE *contentType;     // owned, never null
  KX_VECTOR *children;                // owned, of MIME_PART; null for a leaf
  std::vector<MIME_DEFECT> *defects;  // owned; null when there are none
  kxInt contentTransferEncoding;      // MIME_CONTENT_TRANSFER_ENCODING_*, or -1: unknown, taken as it is
  kxInt offset;
  kxInt length;
  kxInt bodyOffset;  // within offset .. offset + length
  // Owned; null when the part has no Content-Disposition.
  MIME_CONTENT_DISPOSITION *contentDisposition;
};

namespace mime::part {

// A new part of message with nothing read yet (7bit, no header, no content type: the reader fills them).
MIME_PART *create(KX_BUFFER *message);

// A new part with everything part has (its own references to the same header and values, a copy of its
// defects) but no children.
MIME_PART *copyWithoutChildren(MIME_PART *part);

}  // namespace mime::part

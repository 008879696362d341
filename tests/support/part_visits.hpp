// What a visitor of mimeMessageReadEach sees, and what it must see for the tree mimeMessageRead builds of the
// same message: shared by the reader's tests and its fuzz target.
#pragma once

#include <string>
#include <vector>

#include "mime/mime.h"

namespace part_visits {

// A part as a visitor gets it: "visit depth offset+length defects"; a START's defects are those found so
// far, so they are left out.
inline std::string visitLine(MIME_PART *part, kxInt visit, kxInt depth) {
  std::string line = std::to_string(visit) + " " + std::to_string(depth) + " " +
                     std::to_string(mimePartOffset(part)) + "+" + std::to_string(mimePartLength(part));
  for (kxInt i = 0; visit != MIME_VISIT_START && i < mimePartDefectsLength(part); ++i)
    line += " " + std::to_string(mimePartDefectAt(part, i).kind);
  return line;
}

// What a visitor must get for the tree: each container's START, its parts, its END; leaves.
inline void expectedVisits(MIME_PART *part, kxInt depth, std::vector<std::string> *out) {
  const kxInt children = mimePartChildrenLength(part);
  out->push_back(visitLine(part, children ? MIME_VISIT_START : MIME_VISIT_LEAF, depth));
  for (kxInt i = 0; i < children; ++i) {
    MIME_PART *child = mimePartChildAt(part, i);
    expectedVisits(child, depth + 1, out);
    mimePartRelease(child);
  }
  if (children) out->push_back(visitLine(part, MIME_VISIT_END, depth));
}

// Records each visit (a part handed over with children is recorded as such, to fail any comparison); stops
// the reading at visit number stopAt (from 1; 0 never).
struct Visits {
  std::vector<std::string> lines;
  size_t stopAt = 0;
  static kxBool record(void *context, MIME_PART *part, kxInt visit, kxInt depth) {
    auto *self = static_cast<Visits *>(context);
    self->lines.push_back(mimePartChildrenLength(part) ? "children!" : visitLine(part, visit, depth));
    return self->lines.size() != self->stopAt;
  }
};

}  // namespace part_visits

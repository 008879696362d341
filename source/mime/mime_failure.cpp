// The per-thread record of the last failure of a strict function, and the fixed texts of its kinds.
#include "mime/mime_failure.h"

#include <array>

#include "mime/mime_failure.hpp"
#include "mime/mime_object.hpp"

namespace {

// Indexed by the kind; each names the cause as a caller would put it to a user, after "what: ".
constexpr std::array<const char *, MIME_FAILURE_KIND_COUNT> kReasons = {
    "",
    "quoted string not closed",
    "comment not closed",
    "domain literal not closed",
    "\"[\" inside a domain literal",
    "CR that starts no fold (CR LF SP or CR LF HTAB)",
    "no media type (type \"/\" subtype) at the start",
    "media type holds a character other than letters, digits and \"+-._\"",
    "no disposition type (a token) at the start",
    "disposition type holds a character that is not ASCII",
    "no transfer encoding name",
    "unknown transfer encoding (not 7bit, 8bit, binary, quoted-printable or base64)",
    "text after the value",
    "Content-ID not between \"<\" and \">\"",
    "empty Content-ID",
    "control character in the Content-ID",
    "Base64 text ends in a lone character (too few bits for an octet)",
    "buffer holds a partial octet",
    "no boundary parameter",
    "boundary parameter is not a valid boundary (1 to 70 characters of the boundary set, no space last)",
    "no delimiter line",
    "text after the boundary on a delimiter line",
    "no close delimiter after this part's start",
    "header octets are not UTF-8",
    "header line is neither a field (name \":\" value) nor a fold",
    "Content-Type, Content-Transfer-Encoding or Content-ID given twice in one part",
    "header block starts with a folded line",
    "header field value holds a NUL, or a CR or LF that is not part of a fold",
    "header field value holds a code point UTF-8 cannot carry",
    "every boundary tried occurs in a part's body",
    "result larger than the largest buffer",
};
static_assert(kReasons.back() != nullptr, "a text for every kind");

}  // namespace

namespace mime {

constinit thread_local Failure lastFailure;

}  // namespace mime

extern "C" {

kxInt mimeLastFailure(void) {
  return mime::lastFailure.kind;
}

const char *mimeLastFailureReason(void) {
  return kReasons[static_cast<size_t>(mime::lastFailure.kind)];
}

const char *mimeLastFailureSubject(void) {
  return mime::lastFailure.kind == MIME_FAILURE_NONE ? "" : mime::lastFailure.subject;
}

kxInt mimeLastFailureOffset(void) {
  return mime::lastFailure.offset;
}

const char *mimeFailureReason(kxInt kind) {
  MIME_ASSERT(kind >= 0 && kind < MIME_FAILURE_KIND_COUNT);
  return kReasons[static_cast<size_t>(kind)];
}

void mimeClearLastFailure(void) {
  mime::clearFailure();
}

}  // extern "C"

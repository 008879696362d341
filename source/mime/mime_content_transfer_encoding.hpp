// Internal to the library: the transfer encoding named by a header value's octets, for the message reader,
// which reads a value as it stands before it makes any string of it.
#pragma once

#include <string_view>

#include "mime/mime_defs.h"

namespace mime {

// The encoding (MIME_CONTENT_TRANSFER_ENCODING_*) whose name the octets are, in any letter case, or -1
// when they are anything else (a comment, quotes, another word): mimeContentTransferEncodingTryDecode then
// decides. Where this gives an encoding, that decode gives the same one.
kxInt transferEncodingNamed(std::string_view octets);

}  // namespace mime

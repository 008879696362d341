// mimetool's message files: the header block of a message (or of one entity) read into an entity, and an
// entity written out as header lines, a blank line and its body.
#ifndef MIMETOOL_MESSAGE_HPP
#define MIMETOOL_MESSAGE_HPP

#include <optional>
#include <string>
#include <string_view>

#include "mime/mime.hpp"

namespace mimetool {

// A message as read from a file: its MIME header fields as an entity (values unfolded and trimmed, body
// still transfer-encoded), and the Content-Disposition value, which the entity has no field for.
struct ReadMessage {
  mime::Entity entity;
  std::optional<std::string> contentDisposition;
};

// True when the octets end their first line with a bare LF: a file in the local convention of Unix
// tools, which must be given CR LF line ends before it is read as a message.
bool hasLfLineEnds(std::string_view octets);

// The octets with every LF that no CR precedes turned into CR LF.
std::string withCrLfLineEnds(std::string_view octets);

// Reads the header block of a message (lines ended by CR LF up to the first empty line; folded lines
// joined; a leading mbox "From " line skipped), picks Content-Type, Content-Transfer-Encoding, Content-ID
// and Content-Disposition by their names in any case, and takes the rest as the body (none when the
// header block runs to the end). Throws Failure for a line that is no header field, a continuation line
// with nothing to continue, or one of those four fields given twice.
ReadMessage readMessage(std::string_view octets);

// The entity as a message: "MIME-Version: 1.0" when mimeVersion, then each present field as one header
// field (folds kept) in the order Content-Type, Content-Transfer-Encoding, Content-Id, a blank line, and
// the body. Every line ends in CR LF.
std::string writeMessage(const mime::Entity &entity, bool mimeVersion);

}  // namespace mimetool

#endif

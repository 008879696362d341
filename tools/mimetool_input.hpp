// mimetool's input: a message file mapped into memory rather than copied, and a mailbox file split into its
// messages.
#ifndef MIMETOOL_INPUT_HPP
#define MIMETOOL_INPUT_HPP

#include <string>
#include <vector>

#include "mime/mime.hpp"

namespace mimetool {

// The whole file ("-" reads standard input) as one buffer: a regular file is mapped read-only and wrapped
// without a copy (unmapped when the last slice of it goes); a pipe is read into one block trimmed to its
// size. Throws Failure when it cannot be read.
mime::Buffer mapInput(const std::string &path);

// Gives back the memory that the pages of the mapped input holding the octets take (not the octets: the
// file keeps them, and a page touched again is read again). Keeps peak memory near the largest part rather
// than the whole input. Nothing for octets outside the mapping, nor for less than a mebibyte; returns whether
// it gave anything back.
bool releaseInputPages(std::string_view octets);

// One message of the input, and where its octets stood there.
struct InputMessage {
  mime::Buffer octets;           // a slice of the input, or a copy when mbox quoting was undone
  size_t start = 0;              // the offset in the input of its first octet
  std::vector<size_t> unquoted;  // ascending offsets in octets at which a quoting ">" was removed

  // The offset in the input of the octet at offset in octets.
  [[nodiscard]] size_t inputOffset(size_t offset) const;
};

// The messages of the input. A file whose first line begins "From " is an mbox: each line beginning "From "
// after a blank line starts the next message (the blank line, which the mailbox added, belongs to neither),
// and a body line ">From ", ">>From "... loses one ">" (the quoting mboxrd writers add, and which mboxo
// writers add to "From " alone). Any other file is one message, taken as it is.
std::vector<InputMessage> splitMessages(const mime::Buffer &input);

}  // namespace mimetool

#endif

// mimetool's pack: files into a message a mail program takes as it is, written piece by piece.
#ifndef MIMETOOL_PACK_HPP
#define MIMETOOL_PACK_HPP

#include <optional>
#include <string>
#include <vector>

#include "mime/mime.hpp"
#include "mimetool_files.hpp"

namespace mimetool {

struct PackedFile {
  std::string path;
  std::optional<mime::ContentType> type;  // FILE:TYPE or -t; absent: from the file name's extension
};

// A header field of the message as the user gave it ("To", "a@example.org, b@example.org").
struct MessageField {
  std::string name;
  std::string value;
};

struct PackRequest {
  std::vector<PackedFile> files;
  mime::ContentType multipart;
  std::vector<MessageField> fields;  // From, To, Cc, Subject: written before Date and Message-ID
  bool textAsItIs = false;           // --binary: text files keep their line ends
};

// One file (read whole) as an entity: its content type (the given one, else from its extension; text gets the
// charset its octets show, when they are US-ASCII or UTF-8) with its name in "name" and "filename"
// parameters, RFC 2231 form when it needs it; a fresh Content-ID and the encoded body, its line ends as they
// are. Throws Failure when the file cannot be read.
mime::Entity filePart(const PackedFile &file, const mime::Options &opt);

// Why a field value given on the command line cannot be written; nothing when it can. Only an unstructured
// field (Subject) may hold more than ASCII: it is written with RFC 2047 encoded words.
std::optional<std::string> unwritableFieldValue(std::string_view value, bool unstructured);

// Writes the message to output: the header block (the request's fields, folded; Date; Message-ID;
// MIME-Version; the multipart Content-Type with a fresh boundary; Content-Transfer-Encoding), then per file
// its delimiter line, its part header (with "Content-Disposition: attachment; filename=...") and its encoded
// body, then the close delimiter. Each file is mapped and its body written a piece at a time, encoded as the
// library encodes the whole body, before the next file is opened; text/* files (unless textAsItIs) get CR LF
// line ends on the way. Every file is checked to exist before the first octet is written. Throws Failure
// (the output is then not committed).
void packMessage(const PackRequest &request, const mime::Options &opt, OutputFile *output);

}  // namespace mimetool

#endif

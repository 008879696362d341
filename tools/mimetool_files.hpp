// mimetool's file handling: whole-file reads, writes that never leave a partial file behind, file names
// from messages made safe, and the small table between file name extensions and media types.
#ifndef MIMETOOL_FILES_HPP
#define MIMETOOL_FILES_HPP

#include <stdexcept>
#include <string>
#include <string_view>

namespace mimetool {

// Every failure the tool reports: one line, no trailing newline, shown as "mimetool: <what>".
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The whole file ("-" reads standard input); throws Failure when it cannot be read.
std::string readFile(const std::string &path);

// How writeFileAtomically treats a file that already exists under the name.
enum class Existing { kKeep, kReplace };

// Writes the octets to a temporary file beside path, then renames it to path, so that path either keeps
// what it held or holds all of the octets, never a part. With Existing::kKeep an existing path is left
// alone and the call throws Failure (the check and the rename are one atomic step). Throws Failure on any
// error, after removing the temporary file.
void writeFileAtomically(const std::string &path, std::string_view octets, Existing existing);

// Writes the octets to standard output; throws Failure on a write error.
void writeStdout(std::string_view octets);

// True when something (a file, a directory, a link, even a dangling one) exists under path.
bool pathExists(const std::string &path);

// Creates the directory and its missing parents; throws Failure when it cannot.
void makeDirectories(const std::string &path);

// The last path component of a file name (the text after the last "/").
std::string baseName(std::string_view path);

// A file name taken from a message, made safe to create inside a directory: only the part after the last
// "/" or "\", without control characters, without leading dots and spaces or trailing dots and spaces, at
// most 200 octets of whole UTF-8 characters (the extension kept). Empty when nothing usable is left.
std::string sanitizeFileName(std::string_view name);

// The text with each control character (below 0x20, and 0x7F) written as \xNN and each backslash doubled,
// so that text from a message can never break a line of the tool's output.
std::string printable(std::string_view text);

// The media type for a file name's extension (ASCII case-insensitive), "application/octet-stream" for
// an unknown one.
std::string_view mediaTypeForFileName(std::string_view fileName);

// The extension, with its dot, for a media type: the table's first one, else ".txt" for text/*, ".eml"
// for message/rfc822, ".bin" for anything else.
std::string_view extensionForMediaType(std::string_view mediaType);

}  // namespace mimetool

#endif

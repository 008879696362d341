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
// Appends what is left to read from fd to octets; gives 0, or the errno of the read that failed.
int readAll(int fd, std::string &octets);

// How writeFileAtomically treats a file that already exists under the name.
enum class Existing { kKeep, kReplace };

// A directory held open while files are written into it: each file is created, named and removed relative
// to it, so that the kernel does not walk the directory's path again for every file. Throws Failure when the
// directory cannot be opened.
class OutputDirectory {
 public:
  explicit OutputDirectory(std::string path);
  ~OutputDirectory();
  OutputDirectory(const OutputDirectory &) = delete;
  OutputDirectory &operator=(const OutputDirectory &) = delete;

  [[nodiscard]] const std::string &path() const { return path_; }
  [[nodiscard]] int fd() const { return fd_; }

 private:
  std::string path_;
  int fd_;
};

// A file written piece by piece and given its name by commit(), so that the name either keeps what it held
// or holds all of the octets, never a part. With Existing::kKeep the file is written without any name (where
// the file system allows) and linked to its name by commit(); an existing name is left alone and commit()
// throws Failure (the check and the naming are one atomic step). Otherwise, and where the file system has no
// nameless files, it is written under a temporary name beside its own and renamed. Destroyed without commit
// (an error, an exception), it removes the temporary file; so does SIGINT, SIGTERM or SIGHUP once
// removeTemporaryFilesOnSignals() has run (a nameless file goes with the process). The path "-" writes
// straight to standard output. Every failure throws Failure naming the path. Files may be written on
// several threads at once, each file on one thread at a time.
class OutputFile {
 public:
  OutputFile(std::string path, Existing existing);
  // The file name (one path component) inside a directory, which must outlive the file.
  OutputFile(const OutputDirectory &directory, std::string_view name, Existing existing);
  ~OutputFile();
  OutputFile(const OutputFile &) = delete;
  OutputFile &operator=(const OutputFile &) = delete;

  void write(std::string_view octets);
  void commit();

 private:
  void create();

  std::string path_;       // as reports name it
  int directory_;          // what name_ and temporary_ are relative to: AT_FDCWD for a path
  std::string name_;       // the final name
  std::string temporary_;  // the temporary name while there is one, else empty
  Existing existing_;
  int fd_;                 // -1 once committed or removed; STDOUT_FILENO for standard output
  bool nameless_ = false;  // written without a name, to be linked to name_
  int slot_ = -1;          // where the signal handler finds temporary_, while there is one
};

// Makes SIGINT, SIGTERM and SIGHUP remove the temporary file of every OutputFile being written, on whichever
// thread, then end the process as the signal would have (a signal the process was started ignoring stays
// ignored).
void removeTemporaryFilesOnSignals();

// Writes the octets through an OutputFile and commits it.
void writeFileAtomically(const std::string &path, std::string_view octets, Existing existing);
void writeFileAtomically(const OutputDirectory &directory, std::string_view name, std::string_view octets,
                         Existing existing);

// True when something (a file, a directory, a link, even a dangling one) exists under path.
bool pathExists(const std::string &path);

// Creates the directory and its missing parents; throws Failure when it cannot.
void makeDirectories(const std::string &path);

// The last path component of a file name (the text after the last "/").
std::string baseName(std::string_view path);

// A file name taken from a message, made safe to create inside a directory: only the part after the last
// "/" or "\"; control characters (C0, DEL, C1), bidirectional formatting characters, line and paragraph
// separators, octets that are no UTF-8, and the characters some file systems refuse (< > : " | ? *) each
// replaced by "_"; without leading dots and spaces or trailing dots and spaces; at most 200 octets of whole
// UTF-8 characters (the extension kept). Empty when nothing usable is left.
std::string sanitizeFileName(std::string_view name);

// The text made safe for a terminal and for a line of the tool's output: each control character (C0, DEL)
// and each octet that is no UTF-8 written as \xNN, each C1 control, bidirectional formatting character and
// line or paragraph separator as \uNNNN, each backslash doubled.
std::string printable(std::string_view text);

// The text as a JSON string, quotes included: '"' and '\' escaped, each control character (C0, DEL, C1),
// bidirectional formatting character and line or paragraph separator as \uNNNN, so that the document is safe
// on a terminal too, and each octet that is no UTF-8 as \uFFFD (a JSON string holds characters, not octets).
std::string jsonString(std::string_view text);

// True when the octets are well-formed UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool isUtf8(std::string_view octets);

// printable() without doubling backslashes: for a whole line that may hold printable() text already.
std::string terminalSafe(std::string_view text);

// The media type for a file name's extension (ASCII case-insensitive), "application/octet-stream" for
// an unknown one.
std::string_view mediaTypeForFileName(std::string_view fileName);

// The extension, with its dot, for a media type: the table's first one, else ".txt" for text/*, ".eml"
// for message/rfc822, ".bin" for anything else.
std::string_view extensionForMediaType(std::string_view mediaType);

}  // namespace mimetool

#endif

// mimetool's unpack, show and decode: messages read by the library's tolerant reader, every part of every
// message of the input written out or described, every defect reported.
#ifndef MIMETOOL_UNPACK_HPP
#define MIMETOOL_UNPACK_HPP

#include <string>

#include "mime/mime.hpp"

namespace mimetool {

// The exit code of a command that read messages: 0 when nothing was read past, 3 when it was (each defect
// was reported on standard error). Nothing at all to read is a Failure (exit code 1).
constexpr int kExitDone = 0;
constexpr int kExitDefects = 3;

struct UnpackRequest {
  std::string input;      // a path, "-" for standard input
  std::string directory;  // where the files go
  bool force = false;     // replace files that exist
};

// Writes every leaf part of every message of the input into the directory (an mbox: one folder per
// message, "1", "2", ...; an attached message: a folder of its own beside the parts around it), one part
// decoded and written at a time, and prints a line per file. Unless forced, no file is written when one of
// the names is taken. Returns the exit code; throws Failure.
int unpackMessages(const UnpackRequest &request, const mime::Options &opt);

// Prints the tree of parts of every message of the input, as indented lines or, with json, as one JSON
// document. Returns the exit code; throws Failure.
int showMessages(const std::string &input, bool json, const mime::Options &opt);

// Writes the decoded body of the entity in the input to output ("-": standard output) and its line, as
// unpack prints it, to standard error (to standard output when output is a file). Returns the exit code;
// throws Failure.
int decodeEntity(const std::string &input, const std::string &output, const mime::Options &opt);

}  // namespace mimetool

#endif

// mimetool's help texts.
#include "mimetool_help.hpp"

#include <array>
#include <iterator>
#include <string>

namespace mimetool {

namespace {

constexpr std::string_view kExitCodes =
    "exit status:\n"
    "  0    done\n"
    "  1    failed: one line on standard error says why; no file is left half written\n"
    "  2    a wrong command line\n"
    "  130, 143  stopped by SIGINT or SIGTERM; the file being written was removed\n";

constexpr std::string_view kGeneral =
    "usage: mimetool [OPTIONS] COMMAND [ARGUMENTS]\n"
    "\n"
    "commands:\n"
    "  pack      a MIME message with one part per file\n"
    "  unpack    writes every part of a message into a directory\n"
    "  show      the tree of a message's parts, nothing written\n"
    "  encode    one entity (header fields and encoded body) for a file\n"
    "  decode    the decoded body of one entity\n"
    "  options   the options in force, in the store's text form\n"
    "mimetool COMMAND --help describes a command, with examples; man mimetool says\n"
    "everything.\n"
    "\n"
    "options of every command:\n"
    "  --options FILE         read options saved in the store's text form\n"
    "  --save-options FILE    write the options in force (the explicit ones) to FILE\n"
    "  --fold N               fold header values at N characters (-1: never)\n"
    "  --rfc2231-charset NAME charset of RFC 2231 parameter values (default UTF-8)\n"
    "  --rfc2231-section N    longest RFC 2231 section (-1: never split)\n"
    "  --[no-]parse-rfc2231-headers          join and decode RFC 2231 parameters\n"
    "                                        (default on)\n"
    "  --[no-]generate-rfc2231-headers       write non-ASCII parameters in RFC 2231\n"
    "                                        form (default on)\n"
    "  --[no-]generate-unicode-headers       write them raw in UTF-8 (only without\n"
    "                                        the flag above)\n"
    "  --[no-]generate-eight-bit-body        send every body as it is, labelled\n"
    "                                        binary\n"
    "  --[no-]generate-disable-quoted-printable\n"
    "                         Base64 for every body that is not 7bit\n"
    "  -h, --help             this text, or with a command that command's page\n"
    "  --version              the versions of mimetool and of the mime library\n"
    "\n";

struct Page {
  std::string_view command;
  std::string_view text;
};

constexpr Page kPages[] = {
    {"pack",
     "usage: mimetool [OPTIONS] pack [-t TYPE] [-m MULTIPART] [-o MESSAGE]\n"
     "                               [--from ADDRESS] [--to ADDRESSES] [--cc ADDRESSES]\n"
     "                               [--subject TEXT] [--binary] FILE[:TYPE]...\n"
     "\n"
     "Writes a MIME message with one part per FILE: the given From, To, Cc and\n"
     "Subject, a Date and a Message-ID, MIME-Version, the multipart Content-Type with\n"
     "its boundary, a blank line and the parts, every line ending in CR LF. A part's\n"
     "content type comes from FILE:TYPE, else -t, else the file name's extension\n"
     "(application/octet-stream when unknown); text gets the charset its octets show\n"
     "(us-ascii or utf-8), and its LF line ends become CR LF, as text travels\n"
     "(--binary keeps them). Each part is an attachment: \"Content-Disposition:\n"
     "attachment; filename=...\" and the Content-Type's name, in RFC 2231 form when\n"
     "the name needs it. Each file is written before the next, a piece at a time.\n"
     "Without -o the message goes to standard output.\n"
     "\n"
     "  -t, --part-type TYPE   content type of every part without its own, parameters\n"
     "                         allowed\n"
     "  FILE:TYPE              the content type of that file (a FILE whose own name\n"
     "                         holds a colon and exists is taken whole)\n"
     "  -m, --multipart TYPE   the message's multipart type (default multipart/mixed)\n"
     "  -o, --output FILE      the file to write (written under a temporary name,\n"
     "                         then renamed)\n"
     "  --from ADDRESS, --to ADDRESSES, --cc ADDRESSES, --subject TEXT\n"
     "                         header fields of the message, folded when long\n"
     "                         (addresses in ASCII; the subject any text, in RFC 2047\n"
     "                         encoded words where it is not ASCII)\n"
     "  --binary               send text files as they are, without turning LF into\n"
     "                         CR LF\n"
     "\n"
     "examples:\n"
     "  mimetool pack -o message.eml report.pdf notes.txt\n"
     "  mimetool pack --from me@example.org --to you@example.org \\\n"
     "      --subject 'The figures' figures.csv\n"
     "  mimetool pack 'letter.txt:text/plain; charset=iso-8859-1' scan.dat:image/tiff\n"
     "  mimetool pack -m multipart/alternative plain.txt page.html > message.eml\n"},
    {"unpack",
     "usage: mimetool [OPTIONS] unpack MESSAGE [-d DIR] [--force]\n"
     "\n"
     "Reads the message (- for standard input; a file with LF line ends is read as CR\n"
     "LF, with a note), unpacks multiparts inside multiparts and writes every leaf\n"
     "part into DIR under its file name: Content-Disposition's filename, else\n"
     "Content-Type's filename or name. Names are made safe: only the last path\n"
     "component, control and bidirectional characters and characters file systems\n"
     "refuse replaced by _, no leading dot; a part without a usable name becomes\n"
     "part-INDEX with an extension from its type, and a second part of the same name\n"
     "gets -2. Nothing is overwritten without --force; every name is checked before\n"
     "the first file is written.\n"
     "\n"
     "One line per part, fields separated by tabs: the index (2.1 is the first part\n"
     "of the second part), the content type with its decoded parameters, the transfer\n"
     "encoding, the decoded size in octets, the Content-ID, the file written. A field\n"
     "that is absent is -; text from the message is escaped.\n"
     "\n"
     "  -d, --directory DIR    where the files go (default .; created when missing)\n"
     "  --force                overwrite files that exist\n"
     "\n"
     "examples:\n"
     "  mimetool unpack message.eml -d attachments\n"
     "  mimetool unpack - -d out < message.eml\n"},
    {"show",
     "usage: mimetool [OPTIONS] show MESSAGE\n"
     "\n"
     "Prints the tree of the message's parts, one line each, indented by depth:\n"
     "index, content type with its parameters, transfer encoding, decoded size,\n"
     "Content-ID and file name. Nothing is written. Text from the message is escaped.\n"
     "\n"
     "examples:\n"
     "  mimetool show message.eml\n"},
    {"encode",
     "usage: mimetool [OPTIONS] encode [-t TYPE] [-o ENTITY] FILE\n"
     "\n"
     "Writes one entity for the file: Content-Type, Content-Transfer-Encoding and\n"
     "Content-Id, a blank line and the encoded body, every line ending in CR LF.\n"
     "\n"
     "  -t, --part-type TYPE   content type of the entity (default: from the file\n"
     "                         name's extension)\n"
     "  -o, --output FILE      the file to write (default standard output)\n"
     "\n"
     "examples:\n"
     "  mimetool encode -o logo.entity logo.png\n"
     "  mimetool --generate-disable-quoted-printable encode notes.txt\n"},
    {"decode",
     "usage: mimetool [OPTIONS] decode ENTITY [-o FILE]\n"
     "\n"
     "Reads one entity (- for standard input) and writes its decoded body; its line,\n"
     "as unpack prints it, goes to standard error (to standard output when the body\n"
     "goes to -o FILE).\n"
     "\n"
     "  -o, --output FILE      the file to write (default standard output)\n"
     "\n"
     "examples:\n"
     "  mimetool decode logo.entity -o logo.png\n"},
    {"options",
     "usage: mimetool [OPTIONS] options\n"
     "\n"
     "Prints the options in force (defaults, the --options file, then the switches)\n"
     "in the store's text form, every field shown.\n"
     "\n"
     "examples:\n"
     "  mimetool --fold 40 --save-options mine.txt options\n"
     "  mimetool --options mine.txt pack -o message.eml notes.txt\n"},
};

// The general page ends with the exit codes; each command's page with them and the general options.
constexpr std::string_view kCommonTail =
    "\n"
    "Every command also takes the options of mimetool --help.\n"
    "\n";

std::string pageWithTail(std::string_view text);

}  // namespace

std::string_view generalHelp() {
  static const std::string page = std::string(kGeneral) + std::string(kExitCodes);
  return page;
}

std::optional<std::string_view> commandHelp(std::string_view command) {
  static const auto pages = [] {
    std::array<std::string, std::size(kPages)> built;
    for (size_t i = 0; i < std::size(kPages); ++i) built[i] = pageWithTail(kPages[i].text);
    return built;
  }();
  for (size_t i = 0; i < std::size(kPages); ++i) {
    if (kPages[i].command == command) return pages[i];
  }
  return std::nullopt;
}

namespace {

std::string pageWithTail(std::string_view text) {
  return std::string(text) + std::string(kCommonTail) + std::string(kExitCodes);
}

}  // namespace

}  // namespace mimetool

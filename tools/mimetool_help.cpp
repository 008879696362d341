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
    "  1    failed, or nothing to read: one line on standard error says why; no file\n"
    "       is left half written\n"
    "  2    a wrong command line\n"
    "  3    unpack, show, decode: done, but the message had defects (one line each\n"
    "       on standard error): something was read past or guessed\n"
    "  130, 143  stopped by SIGINT or SIGTERM; every file being written was removed\n";

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
     "Reads the message (- for standard input; CR LF or LF line ends, line by line)\n"
     "and writes every leaf part into DIR under its file name: Content-Disposition's\n"
     "filename, else Content-Type's name (RFC 2231 and RFC 2047 decoded). Multiparts\n"
     "inside multiparts are unpacked; an attached message (message/rfc822) is\n"
     "descended into, its parts in a folder of their own (its file name without\n"
     ".eml, else message-INDEX). An mbox (a file whose first line begins \"From \")\n"
     "gives every message, each in a folder 1, 2, ...; \">From \" lines lose one \">\".\n"
     "\n"
     "Names are made safe: only the last path component, control and bidirectional\n"
     "characters and characters file systems refuse replaced by _, no leading dot; a\n"
     "part without a usable name becomes part-INDEX with an extension from its type,\n"
     "and a second part of the same name gets -2. Nothing is overwritten without\n"
     "--force; every name is checked before the first file is written.\n"
     "\n"
     "One line per part, fields separated by tabs: the index (2.1 is the first part\n"
     "of the second part), the content type with its decoded parameters, the transfer\n"
     "encoding, the decoded size in octets, the Content-ID, the file written; printed\n"
     "in the order of the message once the file is whole (files are written on two\n"
     "threads while the next parts are decoded; after a failure no later file is\n"
     "named). A field that is absent is -; text from the message is escaped. What\n"
     "the reader had to read past is one line each on standard error, and the exit\n"
     "status is 3:\n"
     "  mimetool: message 2, part 3: no-close-delimiter at offset 51234\n"
     "(offsets count octets of the input; no message number outside an mbox). Parts\n"
     "are read and written one at a time, so a part's defects come when it is read\n"
     "whole: a file's before its line, a multipart's after its parts.\n"
     "\n"
     "  -d, --directory DIR    where the files go (default .; created when missing)\n"
     "  --force                overwrite files that exist\n"
     "\n"
     "examples:\n"
     "  mimetool unpack message.eml -d attachments\n"
     "  mimetool unpack mailbox.mbox -d mail\n"
     "  mimetool unpack - -d out < message.eml\n"},
    {"show",
     "usage: mimetool [OPTIONS] show [--json] MESSAGE\n"
     "\n"
     "Prints the tree of every message's parts, one line each, indented by depth:\n"
     "index, content type with its parameters, transfer encoding, decoded size,\n"
     "Content-ID and file name. Nothing is written. Text from the message is escaped;\n"
     "defects are reported as unpack reports them.\n"
     "\n"
     "  --json                 one JSON document instead, {\"messages\": [PART...]}:\n"
     "                         per part index, content_type, parameters,\n"
     "                         disposition, file_name, size, transfer_encoding,\n"
     "                         content_id, defects (kind, offset) and children;\n"
     "                         null for what is absent\n"
     "\n"
     "examples:\n"
     "  mimetool show message.eml\n"
     "  mimetool show --json message.eml | python3 -m json.tool\n"},
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
     "Reads one entity (- for standard input) as unpack reads a message and writes its\n"
     "decoded body; its line, as unpack prints it, goes to standard error (to\n"
     "standard output when the body goes to -o FILE).\n"
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

// mimetool: packs files into a MIME message, unpacks and shows messages, encodes and decodes one entity,
// all through the mime library's C++ interface.
#include <algorithm>
#include <cstdint>
#include <iostream>
#include <map>
#include <new>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "mime/mime.hpp"
#include "mimetool_files.hpp"
#include "mimetool_help.hpp"
#include "mimetool_pack.hpp"
#include "mimetool_unpack.hpp"

namespace {

using mimetool::Failure;

// A mistake in the command line: reported with a hint to --help, exit code 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

struct FlagSwitch {
  std::string_view name;
  kxInt flag;
};
constexpr FlagSwitch kFlagSwitches[] = {
    {"parse-rfc2231-headers", MIME_FLAG_PARSE_RFC2231_HEADERS},
    {"generate-rfc2231-headers", MIME_FLAG_GENERATE_RFC2231_HEADERS},
    {"generate-unicode-headers", MIME_FLAG_GENERATE_UNICODE_HEADERS},
    {"generate-eight-bit-body", MIME_FLAG_GENERATE_EIGHT_BIT_BODY},
    {"generate-disable-quoted-printable", MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE},
};

struct Arguments {
  std::string command;
  std::vector<std::string> operands;
  std::map<std::string, std::string> values;  // option name (long form) -> its value
  bool force = false;
  bool binary = false;   // pack --binary
  bool json = false;     // show --json
  bool help = false;     // --help: the page of the command, or the general one
  bool version = false;  // --version
  kxInt flagsOn = 0;
  kxInt flagsOff = 0;
};

Arguments parseArguments(int argc, char **argv);
mime::Options optionsFrom(const Arguments &args);
void checkApplicable(const Arguments &args, std::initializer_list<std::string_view> allowed,
                     size_t minOperands, size_t maxOperands);
mimetool::PackedFile packedFile(const std::string &operand, const std::optional<mime::ContentType> &partType,
                                const mime::Options &opt);
std::optional<mime::ContentType> typeOption(const Arguments &args, const char *name,
                                            const mime::Options &opt);
std::string outputPath(const Arguments &args);

// --- commands ---

int pack(const Arguments &args, const mime::Options &opt) {
  checkApplicable(args, {"part-type", "multipart", "output", "from", "to", "cc", "subject", "binary"}, 1,
                  SIZE_MAX);
  const std::optional<mime::ContentType> partType = typeOption(args, "part-type", opt);
  std::optional<mime::ContentType> multipart = typeOption(args, "multipart", opt);
  if (!multipart) multipart = mime::ContentType::create("multipart/mixed");
  if (!multipart->isMultipart()) throw UsageError("--multipart needs a multipart/... type");

  mimetool::PackRequest request{{}, *multipart, {}, args.binary};
  for (const std::string &operand : args.operands)
    request.files.push_back(packedFile(operand, partType, opt));
  static constexpr std::pair<const char *, const char *> kFields[] = {
      {"from", "From"}, {"to", "To"}, {"cc", "Cc"}, {"subject", "Subject"}};
  for (const auto &[option, field] : kFields) {
    if (!args.values.contains(option)) continue;
    // White space at either end would only pad the header line.
    std::string value = args.values.at(option);
    value.erase(0, value.find_first_not_of(" \t"));
    value.erase(value.find_last_not_of(" \t") + 1);
    if (const std::optional<std::string> why =
            mimetool::unwritableFieldValue(value, field == std::string_view("Subject")))
      throw UsageError("--" + std::string(option) + ": " + *why);
    request.fields.push_back({field, value});
  }
  // The output is opened first: an interruption while the files are read leaves nothing behind either.
  mimetool::OutputFile output(outputPath(args), mimetool::Existing::kReplace);
  mimetool::packMessage(request, opt, &output);
  output.commit();
  return 0;
}

int unpack(const Arguments &args, const mime::Options &opt) {
  checkApplicable(args, {"directory"}, 1, 1);
  const std::string directory = args.values.contains("directory") ? args.values.at("directory") : ".";
  return mimetool::unpackMessages({args.operands[0], directory, args.force}, opt);
}

int show(const Arguments &args, const mime::Options &opt) {
  checkApplicable(args, {"json"}, 1, 1);
  return mimetool::showMessages(args.operands[0], args.json, opt);
}

int encode(const Arguments &args, const mime::Options &opt) {
  checkApplicable(args, {"part-type", "output"}, 1, 1);
  const mime::Entity entity = mimetool::filePart({args.operands[0], typeOption(args, "part-type", opt)}, opt);
  // The entity's fields through the library's header codec, a blank line, the encoded body.
  mime::Header header;
  if (auto value = entity.contentType()) header.append("Content-Type", *value);
  if (auto value = entity.contentTransferEncoding()) header.append("Content-Transfer-Encoding", *value);
  if (auto value = entity.contentId()) header.append("Content-Id", *value);
  mimetool::OutputFile output(outputPath(args), mimetool::Existing::kReplace);
  output.write(header.encode().view());
  output.write("\r\n");
  if (const std::optional<mime::Buffer> body = entity.body()) output.write(body->view());
  output.commit();
  return 0;
}

int decode(const Arguments &args, const mime::Options &opt) {
  checkApplicable(args, {"output"}, 1, 1);
  return mimetool::decodeEntity(args.operands[0], outputPath(args), opt);
}

int showOptions(const Arguments &args, const mime::Options &opt) {
  checkApplicable(args, {}, 0, 0);
  std::cout << opt.toText(true);
  return 0;
}

int run(int argc, char **argv) {
  const Arguments args = parseArguments(argc, argv);
  if (args.version) {
    std::cout << "mimetool " << MIMETOOL_VERSION << "\nmime library "
              << mime___module_record.productVersionMajor << '.' << mime___module_record.productVersionMinor
              << '.' << mime___module_record.productVersionPatch << ", built "
              << mime___module_record.buildTime << '\n';
    return 0;
  }
  // "mimetool help [COMMAND]" is read as "mimetool [COMMAND] --help".
  const bool helpCommand = args.command == "help";
  if (args.help || helpCommand) {
    const std::string topic = helpCommand ? (args.operands.empty() ? "" : args.operands[0]) : args.command;
    if (topic.empty()) {
      std::cout << mimetool::generalHelp();
      return 0;
    }
    const std::optional<std::string_view> page = mimetool::commandHelp(topic);
    if (!page) throw UsageError("unknown command \"" + mimetool::printable(topic) + "\"");
    std::cout << *page;
    return 0;
  }
  if (args.command.empty()) throw UsageError("no command");
  const mime::Options opt = optionsFrom(args);
  if (args.values.contains("save-options")) {
    mimetool::writeFileAtomically(args.values.at("save-options"), opt.toText(false),
                                  mimetool::Existing::kReplace);
  }
  if (args.command == "pack") return pack(args, opt);
  if (args.command == "unpack") return unpack(args, opt);
  if (args.command == "show") return show(args, opt);
  if (args.command == "encode") return encode(args, opt);
  if (args.command == "decode") return decode(args, opt);
  if (args.command == "options") return showOptions(args, opt);
  throw UsageError("unknown command \"" + mimetool::printable(args.command) + "\"");
}

// --- the command line ---

// Options may stand anywhere; "--" ends them. Long options take their value as "--name=value" or as the
// next argument.
Arguments parseArguments(int argc, char **argv) {
  static const std::map<std::string_view, std::string_view> kShortNames = {
      {"-t", "part-type"}, {"-m", "multipart"}, {"-o", "output"}, {"-d", "directory"}, {"-h", "help"}};
  static const std::set<std::string_view> kValued = {
      "part-type",       "multipart",       "output", "directory", "options", "save-options", "fold",
      "rfc2231-charset", "rfc2231-section", "from",   "to",        "cc",      "subject"};
  Arguments args;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (optionsEnded || arg == "-" || !arg.starts_with("-")) {
      if (args.command.empty()) {
        args.command = arg;
      } else {
        args.operands.emplace_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name;
    std::optional<std::string> value;
    if (arg.starts_with("--")) {
      const size_t equals = arg.find('=');
      name = arg.substr(2, equals == std::string_view::npos ? std::string_view::npos : equals - 2);
      if (equals != std::string_view::npos) value = std::string(arg.substr(equals + 1));
    } else if (auto found = kShortNames.find(arg); found != kShortNames.end()) {
      name = found->second;
    } else {
      throw UsageError("unknown option " + mimetool::printable(arg));
    }
    if (name == "help" || name == "version") {
      // The rest of the line no longer matters, but for the command whose page is asked for.
      (name == "help" ? args.help : args.version) = true;
      for (int k = i + 1; k < argc && args.command.empty(); ++k) {
        if (!std::string_view(argv[k]).starts_with("-")) args.command = argv[k];
      }
      return args;
    }
    if (kValued.contains(name)) {
      if (!value) {
        if (i + 1 >= argc) throw UsageError("option --" + name + " needs a value");
        value = argv[++i];
      }
      if (args.values.contains(name)) throw UsageError("option --" + name + " given twice");
      args.values[name] = *value;
      continue;
    }
    if (value) throw UsageError("option --" + mimetool::printable(name) + " takes no value");
    if (name == "force" || name == "binary" || name == "json") {
      (name == "force" ? args.force : name == "binary" ? args.binary : args.json) = true;
      continue;
    }
    bool known = false;
    for (const FlagSwitch &flag : kFlagSwitches) {
      if (name == flag.name) {
        args.flagsOn |= flag.flag;
        args.flagsOff &= ~flag.flag;
        known = true;
      } else if (name.starts_with("no-") && std::string_view(name).substr(3) == flag.name) {
        args.flagsOff |= flag.flag;
        args.flagsOn &= ~flag.flag;
        known = true;
      }
    }
    if (!known) throw UsageError("unknown option --" + mimetool::printable(name));
  }
  return args;
}

// A whole integer, or nothing.
std::optional<kxInt> integerOf(const std::string &text) {
  size_t used = 0;
  try {
    const long long value = std::stoll(text, &used, 10);
    if (used == text.size()) return value;
  } catch (const std::exception &) {
  }
  return std::nullopt;
}

// The options file first, then the switches of the command line over it.
mime::Options optionsFrom(const Arguments &args) {
  mime::Options opt;
  if (args.values.contains("options")) {
    const std::string &path = args.values.at("options");
    std::optional<mime::Options> read = mime::Options::fromText(mimetool::readFile(path));
    if (!read) throw Failure(path + ": not an options file (the store's text form)");
    opt = *read;
  }
  if (args.flagsOn || args.flagsOff) opt.setFlags((opt.flags() | args.flagsOn) & ~args.flagsOff);
  if (args.values.contains("fold")) {
    const std::optional<kxInt> fold = integerOf(args.values.at("fold"));
    if (!fold || !opt.setWrapLineLength(*fold)) throw UsageError("--fold needs a number of -1 or more");
  }
  if (args.values.contains("rfc2231-section")) {
    const std::optional<kxInt> section = integerOf(args.values.at("rfc2231-section"));
    if (!section || !opt.setRfc2231MaxSegmentLength(*section))
      throw UsageError("--rfc2231-section needs -1 or a number above 0");
  }
  if (args.values.contains("rfc2231-charset") && !opt.setRfc2231Charset(args.values.at("rfc2231-charset")))
    throw UsageError("--rfc2231-charset: unknown charset " +
                     mimetool::printable(args.values.at("rfc2231-charset")));
  return opt;
}

void checkApplicable(const Arguments &args, std::initializer_list<std::string_view> allowed,
                     size_t minOperands, size_t maxOperands) {
  static const std::set<std::string_view> kCommandOptions = {"part-type", "multipart", "output", "directory",
                                                             "from",      "to",        "cc",     "subject"};
  for (const auto &[name, value] : args.values) {
    if (kCommandOptions.contains(name) && std::find(allowed.begin(), allowed.end(), name) == allowed.end())
      throw UsageError("option --" + name + " does not apply to " + args.command);
  }
  if (args.force && std::find(allowed.begin(), allowed.end(), "directory") == allowed.end())
    throw UsageError("option --force does not apply to " + args.command);
  if (args.binary && std::find(allowed.begin(), allowed.end(), "binary") == allowed.end())
    throw UsageError("option --binary does not apply to " + args.command);
  if (args.json && std::find(allowed.begin(), allowed.end(), "json") == allowed.end())
    throw UsageError("option --json does not apply to " + args.command);
  if (args.operands.size() < minOperands) throw UsageError(args.command + ": missing operand");
  if (args.operands.size() > maxOperands)
    throw UsageError(args.command + ": unexpected operand " +
                     mimetool::printable(args.operands[maxOperands]));
}

// --- helpers of the commands ---

// FILE, or FILE:TYPE for a file of its own type: a name that exists whole is a file, else the first colon
// whose left side exists parts the two (so "a:b.txt" stays a file of that name).
mimetool::PackedFile packedFile(const std::string &operand, const std::optional<mime::ContentType> &partType,
                                const mime::Options &opt) {
  if (operand == "-" || mimetool::pathExists(operand)) return {operand, partType};
  for (size_t colon = operand.find(':'); colon != std::string::npos; colon = operand.find(':', colon + 1)) {
    const std::string path = operand.substr(0, colon);
    if (!mimetool::pathExists(path)) continue;
    std::optional<mime::ContentType> type = mime::ContentType::decode(operand.substr(colon + 1), opt);
    if (!type)
      throw UsageError(mimetool::printable(path) +
                       ": not a content type: " + mimetool::printable(operand.substr(colon + 1)));
    return {path, type};
  }
  return {operand, partType};
}

std::optional<mime::ContentType> typeOption(const Arguments &args, const char *name,
                                            const mime::Options &opt) {
  if (!args.values.contains(name)) return std::nullopt;
  const std::string &text = args.values.at(name);
  std::optional<mime::ContentType> type = mime::ContentType::decode(text, opt);
  if (!type)
    throw UsageError("--" + std::string(name) + ": not a content type: " + mimetool::printable(text));
  return type;
}

// The -o file, "-" (standard output) without one.
std::string outputPath(const Arguments &args) {
  return args.values.contains("output") ? args.values.at("output") : "-";
}

}  // namespace

int main(int argc, char **argv) {
  const mime::Module module;
  if (!module) {
    std::cerr << "mimetool: the mime library did not start\n";
    return 1;
  }
  mimetool::removeTemporaryFilesOnSignals();
  // A report may quote the command line or the message: whatever a caller forgot to escape is escaped here.
  try {
    return run(argc, argv);
  } catch (const UsageError &error) {
    std::cerr << "mimetool: " << mimetool::terminalSafe(error.what())
              << " (mimetool --help shows the usage)\n";
    return 2;
  } catch (const std::bad_alloc &) {
    std::cerr << "mimetool: out of memory\n";
  } catch (const std::exception &error) {
    std::cerr << "mimetool: " << mimetool::terminalSafe(error.what()) << '\n';
  }
  return 1;
}

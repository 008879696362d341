// mimetool's unpack, show and decode.
#include "mimetool_unpack.hpp"

#include <dirent.h>

#include <iostream>
#include <set>
#include <vector>

#include "mimetool_files.hpp"
#include "mimetool_input.hpp"
#include "mimetool_tree.hpp"

namespace mimetool {

namespace {

// The input and every message of it, read.
struct ReadInput {
  std::vector<InputMessage> messages;
  std::vector<mime::Part> roots;
  [[nodiscard]] bool isMbox() const { return messages.size() > 1; }
  // The number a report gives message i: 0 for the one message of a file that is no mbox.
  [[nodiscard]] size_t number(size_t i) const { return isMbox() ? i + 1 : 0; }
};

struct PlannedFile {
  mime::Part part;
  size_t message;    // its number in reports
  size_t directory;  // in Plan::directories
  std::string index;
  std::string name;
};

// Every directory and file unpack makes, named before the first is made.
struct Plan {
  std::vector<std::string> directories;  // parents before their folders
  std::vector<PlannedFile> files;
  size_t defects = 0;

  [[nodiscard]] std::string pathOf(const PlannedFile &file) const {
    return directories[file.directory] + "/" + file.name;
  }
};

ReadInput readInput(const std::string &path, const mime::Options &opt);
void planMessage(const ReadInput &read, size_t i, size_t directory, Plan *plan);
void refuseTakenNames(const Plan &plan);
std::string partLine(const PartFacts &facts, const std::string &index, size_t size, const std::string &file);
size_t showPart(const InputMessage &message, size_t number, const mime::Part &part, const std::string &index,
                int depth, const mime::Options &opt);
size_t jsonPart(const InputMessage &message, size_t number, const mime::Part &part, const std::string &index,
                const mime::Options &opt, std::string *out);
std::vector<mime::Defect> defectsWithDecoding(const mime::Part &part, const mime::Options &opt, size_t *size);

}  // namespace

int unpackMessages(const UnpackRequest &request, const mime::Options &opt) {
  const ReadInput read = readInput(request.input, opt);
  Plan plan;
  plan.directories.push_back(request.directory);
  for (size_t i = 0; i < read.roots.size(); ++i) {
    if (read.isMbox()) plan.directories.push_back(request.directory + "/" + std::to_string(i + 1));
    planMessage(read, i, plan.directories.size() - 1, &plan);
  }
  if (!request.force) refuseTakenNames(plan);
  for (const std::string &directory : plan.directories) makeDirectories(directory);

  size_t defects = plan.defects;
  const Existing existing = request.force ? Existing::kReplace : Existing::kKeep;
  std::optional<OutputDirectory> directory;  // the one the last file went to: files come folder by folder
  size_t directoryIndex = 0;
  for (const PlannedFile &file : plan.files) {
    if (!directory || directoryIndex != file.directory) {
      directory.reset();
      directory.emplace(plan.directories[file.directory]);
      directoryIndex = file.directory;
    }
    // One part decoded at a time: its octets are given back before the next part is decoded.
    std::optional<mime::Defect> decoding;
    const mime::Buffer body = file.part.decodedBody(opt, &decoding);
    const std::string path = plan.pathOf(file);
    writeFileAtomically(*directory, file.name, body.view(), existing);
    releaseInputPages(file.part.body().view());
    std::cout << partLine(factsOf(file.part), file.index, body.size(), path) << '\n';
    if (decoding) {
      const size_t i = file.message == 0 ? 0 : file.message - 1;
      defects += reportDefects(read.messages[i], partLabel(file.message, file.index), {*decoding});
    }
  }
  return defects > 0 ? kExitDefects : kExitDone;
}

int showMessages(const std::string &input, bool json, const mime::Options &opt) {
  const ReadInput read = readInput(input, opt);
  size_t defects = 0;
  std::string out = "{\"messages\": [";
  for (size_t i = 0; i < read.roots.size(); ++i) {
    const std::string index = rootIndex(read.roots[i]);
    if (!json) {
      defects += showPart(read.messages[i], read.number(i), read.roots[i], index, 0, opt);
      continue;
    }
    if (i > 0) out += ", ";
    defects += jsonPart(read.messages[i], read.number(i), read.roots[i], index, opt, &out);
  }
  if (json) std::cout << out << "]}\n";
  return defects > 0 ? kExitDefects : kExitDone;
}

int decodeEntity(const std::string &input, const std::string &output, const mime::Options &opt) {
  const ReadInput read = readInput(input, opt);
  const mime::Part &entity = read.roots.front();
  const InputMessage &whole = read.messages.front();  // of an mbox, the first message
  size_t defects = reportDefects(whole, "the entity", entity.defects());
  std::optional<mime::Defect> decoding;
  const mime::Buffer body = entity.decodedBody(opt, &decoding);
  writeFileAtomically(output, body.view(), Existing::kReplace);
  const bool toFile = output != "-";
  (toFile ? std::cout : std::cerr) << partLine(factsOf(entity), "1", body.size(), output) << '\n';
  if (decoding) defects += reportDefects(whole, "the entity", {*decoding});
  return defects > 0 ? kExitDefects : kExitDone;
}

namespace {

// --- reading ---

ReadInput readInput(const std::string &path, const mime::Options &opt) {
  const mime::Buffer input = mapInput(path);
  if (input.empty()) throw Failure(path + ": empty: no message to read");
  ReadInput read;
  read.messages = splitMessages(input);
  read.roots.reserve(read.messages.size());
  for (const InputMessage &message : read.messages)
    read.roots.push_back(mime::readMessage(message.octets, opt));
  // The parts are found: only the part being decoded needs its octets in memory from now on.
  releaseInputPages(input.view());
  return read;
}

// --- planning unpack ---

// A name not yet in *taken: name itself, else "-2", "-3", ... before its extension.
std::string uniqueName(const std::string &name, std::set<std::string> *taken) {
  const size_t dot = name.rfind('.');
  const std::string stem = (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
  const std::string extension = (dot == std::string::npos || dot == 0) ? "" : name.substr(dot);
  std::string chosen = name;
  for (int n = 2; taken->contains(chosen); ++n) chosen = stem + "-" + std::to_string(n) + extension;
  taken->insert(chosen);
  return chosen;
}

// The part's own file name made safe, else "part-INDEX" with the extension of its type.
std::string leafName(const mime::Part &part, const std::string &index) {
  std::string name = sanitizeFileName(part.fileName().value_or(""));
  if (name.empty()) name = "part-" + index + std::string(extensionForMediaType(part.contentType().name()));
  return name;
}

// The folder of an attached message: its file name made safe without an ".eml", else "message-INDEX".
std::string folderName(const mime::Part &part, const std::string &index) {
  std::string name = sanitizeFileName(part.fileName().value_or(""));
  if (name.size() > 4 && name.ends_with(".eml")) name.resize(name.size() - 4);
  return name.empty() ? "message-" + index : name;
}

struct Folder {
  size_t directory;  // in Plan::directories
  std::set<std::string> taken;
};

void planPart(const ReadInput &read, size_t i, const mime::Part &part, const std::string &index,
              Folder *folder, Plan *plan);

void planChildren(const ReadInput &read, size_t i, const mime::Part &part, const std::string &index,
                  Folder *folder, Plan *plan) {
  size_t position = 0;
  for (const mime::Part &child : part.children())
    planPart(read, i, child, childIndex(index, ++position), folder, plan);
}

void planPart(const ReadInput &read, size_t i, const mime::Part &part, const std::string &index,
              Folder *folder, Plan *plan) {
  plan->defects += reportDefects(read.messages[i], partLabel(read.number(i), index), part.defects());
  if (mimePartChildrenLength(part.get()) == 0) {
    plan->files.push_back(
        {part, read.number(i), folder->directory, index, uniqueName(leafName(part, index), &folder->taken)});
    return;
  }
  if (!holdsAttachedMessage(part)) {
    planChildren(read, i, part, index, folder, plan);
    return;
  }
  const std::string name = uniqueName(folderName(part, index), &folder->taken);
  Folder inner{plan->directories.size(), {}};
  plan->directories.push_back(plan->directories[folder->directory] + "/" + name);
  planChildren(read, i, part, index, &inner, plan);
}

// The files of message i: a message that holds parts writes them, its root is no file of its own.
void planMessage(const ReadInput &read, size_t i, size_t directory, Plan *plan) {
  const mime::Part &root = read.roots[i];
  const std::string index = rootIndex(root);
  Folder folder{directory, {}};
  if (index == "1") {
    planPart(read, i, root, index, &folder, plan);
    return;
  }
  plan->defects += reportDefects(read.messages[i], partLabel(read.number(i), index), root.defects());
  planChildren(read, i, root, index, &folder, plan);
}

// True when the directory has no entry, or is not there: nothing in it can be in the way.
bool isMissingOrEmpty(const std::string &path) {
  DIR *dir = opendir(path.c_str());
  if (!dir) return true;  // creating it will say what is wrong, if anything
  bool empty = true;
  while (const dirent *entry = readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      empty = false;
      break;
    }
  }
  closedir(dir);
  return empty;
}

// Throws Failure for the first planned file whose name something holds already. Only directories that
// hold something are looked into, so that unpacking into a new directory costs no look-up per file.
void refuseTakenNames(const Plan &plan) {
  std::vector<bool> occupied;
  for (const std::string &directory : plan.directories) occupied.push_back(!isMissingOrEmpty(directory));
  for (const PlannedFile &file : plan.files) {
    if (occupied[file.directory] && pathExists(plan.pathOf(file)))
      throw Failure(plan.pathOf(file) + ": exists (use --force to overwrite)");
  }
}

// --- lines ---

// index, content type, transfer encoding, size, Content-ID, file: tab-separated, "-" for what is absent.
std::string partLine(const PartFacts &facts, const std::string &index, size_t size, const std::string &file) {
  const std::string id = facts.contentId ? "<" + printable(*facts.contentId) + ">" : "-";
  return index + "\t" + describeType(facts.type) + "\t" +
         (facts.transferEncoding.empty() ? "-" : printable(facts.transferEncoding)) + "\t" +
         std::to_string(size) + "\t" + id + "\t" + printable(file);
}

// The part's defects, with the one its body's decoding found last; *size receives the decoded size.
std::vector<mime::Defect> defectsWithDecoding(const mime::Part &part, const mime::Options &opt,
                                              size_t *size) {
  std::vector<mime::Defect> defects = part.defects();
  std::optional<mime::Defect> decoding;
  *size = part.decodedBody(opt, &decoding).size();
  if (mimePartChildrenLength(part.get()) == 0) releaseInputPages(part.body().view());
  if (decoding) defects.push_back(*decoding);
  return defects;
}

size_t showPart(const InputMessage &message, size_t number, const mime::Part &part, const std::string &index,
                int depth, const mime::Options &opt) {
  size_t size = 0;
  size_t defects = reportDefects(message, partLabel(number, index), defectsWithDecoding(part, opt, &size));
  const PartFacts facts = factsOf(part);
  std::string label = index;
  if (depth == 0)
    label = number > 0 ? "message " + std::to_string(number) : index.empty() ? "message" : index;
  std::string line(static_cast<size_t>(depth) * 2, ' ');
  line += label + "  " + describeType(facts.type) + "  " +
          (facts.transferEncoding.empty() ? "-" : printable(facts.transferEncoding)) + "  " +
          std::to_string(size) + " octets";
  if (facts.contentId) line += "  <" + printable(*facts.contentId) + ">";
  if (facts.fileName) line += "  file \"" + printable(*facts.fileName) + "\"";
  std::cout << line << '\n';
  size_t position = 0;
  for (const mime::Part &child : part.children())
    defects += showPart(message, number, child, childIndex(index, ++position), depth + 1, opt);
  return defects;
}

// --- JSON ---

std::string jsonOptional(const std::optional<std::string> &text) {
  return text ? jsonString(*text) : "null";
}

size_t jsonPart(const InputMessage &message, size_t number, const mime::Part &part, const std::string &index,
                const mime::Options &opt, std::string *out) {
  size_t size = 0;
  const std::vector<mime::Defect> defects = defectsWithDecoding(part, opt, &size);
  size_t reported = reportDefects(message, partLabel(number, index), defects);
  const mime::ContentType type = part.contentType();
  const PartFacts facts = factsOf(part);
  *out += "{\"index\": " + jsonString(index) + ", \"content_type\": " + jsonString(type.name()) +
          ", \"parameters\": {";
  const char *separator = "";
  for (const auto &[key, value] : type.parameters()) {
    *out += separator + jsonString(key) + ": " + jsonString(value);
    separator = ", ";
  }
  *out +=
      "}, \"disposition\": " + jsonOptional(facts.disposition) +
      ", \"file_name\": " + jsonOptional(facts.fileName) + ", \"size\": " + std::to_string(size) +
      ", \"transfer_encoding\": " +
      jsonOptional(facts.transferEncoding.empty() ? std::nullopt : std::optional(facts.transferEncoding)) +
      ", \"content_id\": " + jsonOptional(facts.contentId) + ", \"defects\": [";
  separator = "";
  for (const mime::Defect &defect : defects) {
    *out += separator + ("{\"kind\": " + jsonString(defect.name()) +
                         ", \"offset\": " + std::to_string(message.inputOffset(defect.offset)) + "}");
    separator = ", ";
  }
  *out += "], \"children\": [";
  size_t position = 0;
  for (const mime::Part &child : part.children()) {
    if (position > 0) *out += ", ";
    reported += jsonPart(message, number, child, childIndex(index, ++position), opt, out);
  }
  *out += "]}";
  return reported;
}

}  // namespace

}  // namespace mimetool

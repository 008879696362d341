// mimetool's unpack, show and decode.
#include "mimetool_unpack.hpp"

#include <dirent.h>

#include <iostream>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
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

ReadInput readInput(const std::string &path, const mime::Options &opt);
bool isMissingOrEmpty(const std::string &path);
std::string partLine(const PartFacts &facts, const std::string &index, size_t size, const std::string &file);
size_t showPart(const InputMessage &message, size_t number, const mime::Part &part, const std::string &index,
                int depth, const mime::Options &opt);
size_t jsonPart(const InputMessage &message, size_t number, const mime::Part &part, const std::string &index,
                const mime::Options &opt, std::string *out);
std::vector<mime::Defect> defectsWithDecoding(const mime::Part &part, const mime::Options &opt, size_t *size);

}  // namespace

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

// --- unpack ---

// The names given in a folder, and for each name given twice the next number to try after it.
struct Names {
  std::unordered_set<std::string> taken;
  std::unordered_map<std::string, int> next;
};

// A name not yet taken: name itself, else "-2", "-3", ... before its extension (the smallest free one: the
// numbers below the one remembered are all taken, so a thousand parts of one name cost no more than a
// thousand names).
std::string uniqueName(const std::string &name, Names *names) {
  if (names->taken.insert(name).second) return name;
  const size_t dot = name.rfind('.');
  const std::string stem = (dot == std::string::npos || dot == 0) ? name : name.substr(0, dot);
  const std::string extension = (dot == std::string::npos || dot == 0) ? "" : name.substr(dot);
  int &n = names->next.try_emplace(name, 2).first->second;
  std::string chosen;
  do {
    chosen = stem + "-" + std::to_string(n++) + extension;
  } while (!names->taken.insert(chosen).second);
  return chosen;
}

// The part's own file name made safe, else "part-INDEX" with the extension of its type.
std::string leafName(const mime::Part &part, const PartFacts &facts, const std::string &index) {
  std::string name = sanitizeFileName(facts.fileName.value_or(""));
  if (name.empty()) name = "part-" + index + std::string(extensionForMediaType(part.contentType().name()));
  return name;
}

// The folder of an attached message: its file name made safe without an ".eml", else "message-INDEX".
std::string folderName(const mime::Part &part, const std::string &index) {
  std::string name = sanitizeFileName(part.fileName().value_or(""));
  if (name.size() > 4 && name.ends_with(".eml")) name.resize(name.size() - 4);
  return name.empty() ? "message-" + index : name;
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

// Where files go: a directory, the names given in it so far, and whether something was there before.
struct Folder {
  std::string path;
  bool occupied = false;  // held something before unpack began (only known to the pass that checks names)
  Names taken;
  std::optional<OutputDirectory> open;  // opened for the first file written into it
};

// One pass over the messages, read part by part so that no tree of parts is held: it names every file
// (unique within its folder) and either checks that no name is taken or writes the files, printing a
// line per file and reporting every defect.
class Unpacker {
 public:
  enum class Pass { kCheckNames, kWrite };

  Unpacker(const UnpackRequest &request, const mime::Options &opt, Pass pass)
      : request_(request), opt_(opt), pass_(pass) {}

  // Returns the number of defects reported.
  size_t run(const std::vector<InputMessage> &messages) {
    for (size_t i = 0; i < messages.size(); ++i) {
      message_ = &messages[i];
      number_ = messages.size() > 1 ? i + 1 : 0;
      releasedTo_ = message_->octets.view().data();
      const std::string top =
          number_ == 0 ? request_.directory : request_.directory + "/" + std::to_string(number_);
      folders_.clear();
      frames_.clear();
      newFolder(top);
      mime::readMessageEach(message_->octets, opt_,
                            [this](const mime::Part &part, mime::Visit visit, size_t depth) {
                              this->visit(part, visit, depth);
                              return true;
                            });
    }
    return defects_;
  }

 private:
  // A part that holds parts, while they are read.
  struct Frame {
    std::string index;
    Folder *folder;
    size_t children = 0;
  };

  void visit(const mime::Part &part, mime::Visit visit, size_t depth) {
    if (visit == mime::Visit::kEnd) {
      report(part, frames_.back().index);
      if (frames_.size() > 1 && frames_.back().folder != frames_[frames_.size() - 2].folder)
        folders_.pop_back();
      frames_.pop_back();
      return;
    }
    const std::string index = depth == 0 ? (visit == mime::Visit::kLeaf ? "1" : "")
                                         : childIndex(frames_.back().index, ++frames_.back().children);
    Folder *folder = depth == 0 ? folders_.front().get() : frames_.back().folder;
    if (visit == mime::Visit::kLeaf) {
      leaf(part, index, folder);
    } else if (depth > 0 && !part.contentType().isMultipart()) {  // an attached message: a folder of its own
      const std::string name = uniqueName(folderName(part, index), &folder->taken);
      frames_.push_back({index, newFolder(folder->path + "/" + name)});
    } else {
      frames_.push_back({index, folder});
    }
  }

  Folder *newFolder(const std::string &path) {
    auto folder = std::make_unique<Folder>();
    folder->path = path;
    if (pass_ == Pass::kCheckNames) folder->occupied = !isMissingOrEmpty(path);
    if (pass_ == Pass::kWrite) makeDirectories(path);
    folders_.push_back(std::move(folder));
    return folders_.back().get();
  }

  void leaf(const mime::Part &part, const std::string &index, Folder *folder) {
    const PartFacts facts = factsOf(part);
    const std::string name = uniqueName(leafName(part, facts, index), &folder->taken);
    const std::string path = folder->path + "/" + name;
    if (pass_ == Pass::kCheckNames) {
      if (folder->occupied && pathExists(path)) throw Failure(path + ": exists (use --force to overwrite)");
      return;
    }
    report(part, index);
    // One part decoded at a time: its octets are given back before the next part is decoded.
    std::optional<mime::Defect> decoding;
    const mime::Buffer body = part.decodedBody(opt_, &decoding);
    if (!folder->open) folder->open.emplace(folder->path);
    writeFileAtomically(*folder->open, name, body.view(),
                        request_.force ? Existing::kReplace : Existing::kKeep);
    std::cout << partLine(facts, index, body.size(), path) << '\n';
    if (decoding) defects_ += reportDefects(*message_, partLabel(number_, index), {*decoding});
    releaseReadPages(part);
  }

  void report(const mime::Part &part, const std::string &index) {
    if (pass_ == Pass::kWrite)
      defects_ += reportDefects(*message_, partLabel(number_, index), part.defects());
  }

  // Gives back the pages of the input read up to the end of the part: the parts are read in order, and
  // nothing before the part is needed again (a page touched again is read again from the file).
  void releaseReadPages(const mime::Part &part) {
    const char *end =
        message_->octets.view().data() + part.offset() + static_cast<size_t>(mimePartLength(part.get()));
    if (end <= releasedTo_) return;
    const std::string_view read(releasedTo_, static_cast<size_t>(end - releasedTo_));
    if (releaseInputPages(read)) releasedTo_ = end;
  }

  const UnpackRequest &request_;
  const mime::Options &opt_;
  const Pass pass_;
  const InputMessage *message_ = nullptr;
  size_t number_ = 0;
  const char *releasedTo_ = nullptr;
  std::vector<std::unique_ptr<Folder>> folders_;  // the message's top folder, then one per attached message
  std::vector<Frame> frames_;
  size_t defects_ = 0;
};

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

int unpackMessages(const UnpackRequest &request, const mime::Options &opt) {
  const mime::Buffer input = mapInput(request.input);
  if (input.empty()) throw Failure(request.input + ": empty: no message to read");
  const std::vector<InputMessage> messages = splitMessages(input);
  // Nothing can be in the way in a directory that holds nothing: then the names need no pass of their own.
  if (!request.force && !isMissingOrEmpty(request.directory))
    Unpacker(request, opt, Unpacker::Pass::kCheckNames).run(messages);
  const size_t defects = Unpacker(request, opt, Unpacker::Pass::kWrite).run(messages);
  return defects > 0 ? kExitDefects : kExitDone;
}

}  // namespace mimetool

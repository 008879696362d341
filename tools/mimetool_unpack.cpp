// mimetool's unpack, show and decode.
#include "mimetool_unpack.hpp"

#include <dirent.h>

#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "mimetool_files.hpp"
#include "mimetool_input.hpp"
#include "mimetool_tree.hpp"
#include "mimetool_writer.hpp"

namespace mimetool {

namespace {

mime::Buffer mapInputMessage(const std::string &path);
bool isMissingOrEmpty(const std::string &path);
std::string partLine(const PartFacts &facts, const std::string &index, size_t size, const std::string &file);

}  // namespace

int decodeEntity(const std::string &input, const std::string &output, const mime::Options &opt) {
  const mime::Buffer octets = mapInputMessage(input);
  const std::vector<InputMessage> messages = splitMessages(octets);
  const InputMessage &whole = messages.front();  // of an mbox, the first message
  const mime::Part entity = mime::readMessage(whole.octets, opt);
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

// The input mapped; nothing at all to read is a failure.
mime::Buffer mapInputMessage(const std::string &path) {
  mime::Buffer input = mapInput(path);
  if (input.empty()) throw Failure(path + ": empty: no message to read");
  return input;
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

// Where the part ends in the octets of the message.
const char *endIn(const InputMessage &message, const mime::Part &part) {
  return message.octets.view().data() + part.offset() + static_cast<size_t>(mimePartLength(part.get()));
}

// True when the octets are a slice of the whole, not a copy of its octets.
bool liesWithin(std::string_view octets, std::string_view whole) {
  const std::less_equal<const char *> notAfter;
  return notAfter(whole.data(), octets.data()) &&
         notAfter(octets.data() + octets.size(), whole.data() + whole.size());
}

// The pages of a mapped message given back behind the reading: the parts are read in order, and nothing
// before a part is needed again once it is done (a page touched again is read again from the file).
class ReadPages {
 public:
  void start(const InputMessage &message) {
    message_ = &message;
    releasedTo_ = message.octets.view().data();
  }

  // Gives back what was read up to the end of the part, once there is a mebibyte of it.
  void releaseThrough(const mime::Part &part) { releaseTo(endIn(*message_, part)); }

  // The same up to end, in the message last started.
  void releaseTo(const char *end) {
    if (end > releasedTo_ && releaseInputPages({releasedTo_, static_cast<size_t>(end - releasedTo_)}))
      releasedTo_ = end;
  }

 private:
  const InputMessage *message_ = nullptr;
  const char *releasedTo_ = nullptr;
};

// Where files go: a directory, the names given in it so far, and whether something was there before.
struct Folder {
  std::string path;
  bool occupied = false;  // held something before unpack began (only known to the pass that checks names)
  Names taken;
  std::shared_ptr<const OutputDirectory> open;  // opened for the first file written into it
};

// One pass over the messages, read part by part so that no tree of parts is held: it names every file
// (unique within its folder) and either checks that no name is taken or, handing the files to a writer,
// writes them, printing a line per file and reporting every defect. What it prints, and the pages it gives
// back, follow the files in the writer's order: each file's line once it has its name.
class Unpacker {
 public:
  enum class Pass { kCheckNames, kWrite };

  // writer: for the pass that writes.
  Unpacker(const UnpackRequest &request, const mime::Options &opt, Pass pass, FileWriter *writer = nullptr)
      : request_(request), opt_(opt), pass_(pass), writer_(writer) {}

  // Returns the number of defects reported.
  size_t run(const std::vector<InputMessage> &messages) {
    try {
      walkMessages(messages, opt_, [this](const PartVisit &visit) { this->visit(visit); });
    } catch (...) {
      if (writer_) writer_->finish();  // what was handed over is written and reported, as one by one
      throw;
    }
    if (writer_) writer_->finish();
    return defects_;
  }

 private:
  // A part that holds parts, while they are read: the folder they go to, and whether it made it.
  struct Frame {
    Folder *folder;
    bool ownsFolder;
  };

  void visit(const PartVisit &visit) {
    if (visit.depth == 0 && visit.visit != mime::Visit::kEnd) startMessage(visit);
    Folder *folder = frames_.empty() ? folders_.front().get() : frames_.back().folder;
    switch (visit.visit) {
      case mime::Visit::kLeaf:
        leaf(visit, folder);
        break;
      case mime::Visit::kStart:
        if (visit.depth > 0 && !visit.part.contentType().isMultipart()) {  // an attached message
          const std::string name = uniqueName(folderName(visit.part, visit.index), &folder->taken);
          frames_.push_back({newFolder(folder->path + "/" + name), true});
        } else {
          frames_.push_back({folder, false});
        }
        break;
      case mime::Visit::kEnd:
        report(visit, visit.part.defects());
        if (frames_.back().ownsFolder) folders_.pop_back();
        frames_.pop_back();
        break;
    }
  }

  void startMessage(const PartVisit &visit) {
    inOrder([this, &message = visit.message] { pages_.start(message); });
    folders_.clear();
    frames_.clear();
    newFolder(visit.number == 0 ? request_.directory
                                : request_.directory + "/" + std::to_string(visit.number));
  }

  Folder *newFolder(const std::string &path) {
    auto folder = std::make_unique<Folder>();
    folder->path = path;
    if (pass_ == Pass::kCheckNames) folder->occupied = !isMissingOrEmpty(path);
    if (pass_ == Pass::kWrite) makeDirectories(path);
    folders_.push_back(std::move(folder));
    return folders_.back().get();
  }

  void leaf(const PartVisit &visit, Folder *folder) {
    const mime::Part &part = visit.part;
    const PartFacts facts = factsOf(part);
    const std::string name = uniqueName(leafName(part, facts, visit.index), &folder->taken);
    const std::string path = folder->path + "/" + name;
    if (pass_ == Pass::kCheckNames) {
      if (folder->occupied && pathExists(path)) throw Failure(path + ": exists (use --force to overwrite)");
      return;
    }
    std::optional<mime::Defect> decoding;
    mime::Buffer body = part.decodedBody(opt_, &decoding);
    // Octets decoded into a buffer of their own no longer need the input's; a slice of the input needs
    // them until its file is written.
    if (!liesWithin(body.view(), part.body().view())) releaseInputPages(part.body().view());
    if (!folder->open) folder->open = std::make_shared<const OutputDirectory>(folder->path);
    const std::string line = partLine(facts, visit.index, body.size(), path);
    writer_->submit(folder->open, name, std::move(body),
                    [this, &message = visit.message, number = visit.number, index = visit.index,
                     defects = part.defects(), decoding, line, end = endIn(visit.message, part)] {
                      defects_ += reportDefects(message, partLabel(number, index), defects);
                      std::cout << line << '\n';
                      if (decoding) defects_ += reportDefects(message, partLabel(number, index), {*decoding});
                      pages_.releaseTo(end);
                    });
  }

  // Reports the defects in their turn among the files' lines.
  void report(const PartVisit &visit, std::vector<mime::Defect> defects) {
    if (pass_ != Pass::kWrite || defects.empty()) return;
    inOrder([this, &message = visit.message, where = partLabel(visit.number, visit.index),
             defects = std::move(defects)] { defects_ += reportDefects(message, where, defects); });
  }

  // Runs the action after the actions of the files handed over so far.
  void inOrder(std::function<void()> action) {
    if (writer_) {
      writer_->then(std::move(action));
    } else {
      action();
    }
  }

  const UnpackRequest &request_;
  const mime::Options &opt_;
  const Pass pass_;
  FileWriter *writer_;
  ReadPages pages_;
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

// show: a line per part (indented by depth), or one JSON document of the tree, written as the parts are read.
// A part's defects are reported once the part is complete: a leaf's with its line, a multipart's after its
// parts; the defect its body's decoding found comes with its line.
class Shower {
 public:
  Shower(const mime::Options &opt, bool json) : opt_(opt), json_(json) {
    if (json_) std::cout << "{\"messages\": [";
  }

  void visit(const PartVisit &visit) {
    if (visit.depth == 0 && visit.visit != mime::Visit::kEnd) pages_.start(visit.message);
    std::vector<mime::Defect> defects;
    if (visit.visit == mime::Visit::kEnd) {
      defects = visit.part.defects();
      if (open_.back().decoding) defects.push_back(*open_.back().decoding);
      open_.pop_back();
      finishPart(visit, defects);
      return;
    }
    std::optional<mime::Defect> decoding;
    const size_t size = visit.part.decodedBody(opt_, &decoding).size();
    if (visit.visit == mime::Visit::kStart) {
      startPart(visit, size);
      open_.push_back({decoding, 0});
      return;
    }
    defects = visit.part.defects();
    if (decoding) defects.push_back(*decoding);
    if (!json_) report(visit, defects);  // before its line, as unpack does
    startPart(visit, size);
    if (json_) finishPart(visit, defects);
    pages_.releaseThrough(visit.part);
  }

  // Ends the document; returns the exit code.
  int finish() {
    if (json_) std::cout << "]}\n";
    return defects_ > 0 ? kExitDefects : kExitDone;
  }

 private:
  struct Open {
    std::optional<mime::Defect> decoding;  // what decoding its body found, reported with its own defects
    size_t parts;                          // written so far
  };

  void startPart(const PartVisit &visit, size_t size) {
    const PartFacts facts = factsOf(visit.part);
    if (!json_) {
      std::string label = visit.index;
      if (visit.depth == 0)
        label = visit.number > 0      ? "message " + std::to_string(visit.number)
                : visit.index.empty() ? "message"
                                      : visit.index;
      std::string line(visit.depth * 2, ' ');
      line += label + "  " + describeType(facts.type) + "  " +
              (facts.transferEncoding.empty() ? "-" : printable(facts.transferEncoding)) + "  " +
              std::to_string(size) + " octets";
      if (facts.contentId) line += "  <" + printable(*facts.contentId) + ">";
      if (facts.fileName) line += "  file \"" + printable(*facts.fileName) + "\"";
      std::cout << line << '\n';
      return;
    }
    const bool first = visit.depth == 0 ? messages_++ == 0 : open_.back().parts++ == 0;
    std::cout << (first ? "" : ", ") << jsonHead(visit.index, visit.part.contentType(), facts, size);
  }

  // Reports the defects of a complete part, and in JSON closes its list of children and its object.
  void finishPart(const PartVisit &visit, const std::vector<mime::Defect> &defects) {
    report(visit, defects);
    if (!json_) return;
    std::string out = "], \"defects\": [";
    const char *separator = "";
    for (const mime::Defect &defect : defects) {
      out += separator + ("{\"kind\": " + jsonString(defect.name()) +
                          ", \"offset\": " + std::to_string(visit.message.inputOffset(defect.offset)) + "}");
      separator = ", ";
    }
    std::cout << out << "]}";
  }

  void report(const PartVisit &visit, const std::vector<mime::Defect> &defects) {
    defects_ += reportDefects(visit.message, partLabel(visit.number, visit.index), defects);
  }

  static std::string jsonOptional(const std::optional<std::string> &text) {
    return text ? jsonString(*text) : "null";
  }

  // The part's object up to its list of children, which it opens.
  static std::string jsonHead(const std::string &index, const mime::ContentType &type, const PartFacts &facts,
                              size_t size) {
    std::string out = "{\"index\": " + jsonString(index) + ", \"content_type\": " + jsonString(type.name()) +
                      ", \"parameters\": {";
    const char *separator = "";
    for (const auto &[key, value] : type.parameters()) {
      out += separator + jsonString(key) + ": " + jsonString(value);
      separator = ", ";
    }
    const std::optional<std::string> encoding =
        facts.transferEncoding.empty() ? std::nullopt : std::optional(facts.transferEncoding);
    return out + "}, \"disposition\": " + jsonOptional(facts.disposition) +
           ", \"file_name\": " + jsonOptional(facts.fileName) + ", \"size\": " + std::to_string(size) +
           ", \"transfer_encoding\": " + jsonOptional(encoding) +
           ", \"content_id\": " + jsonOptional(facts.contentId) + ", \"children\": [";
  }

  const mime::Options &opt_;
  const bool json_;
  std::vector<Open> open_;
  size_t messages_ = 0;
  size_t defects_ = 0;
  ReadPages pages_;
};

}  // namespace

int unpackMessages(const UnpackRequest &request, const mime::Options &opt) {
  const mime::Buffer input = mapInputMessage(request.input);
  const std::vector<InputMessage> messages = splitMessages(input);
  // Nothing can be in the way in a directory that holds nothing: then the names need no pass of their own.
  if (!request.force && !isMissingOrEmpty(request.directory))
    Unpacker(request, opt, Unpacker::Pass::kCheckNames).run(messages);
  FileWriter writer(request.force ? Existing::kReplace : Existing::kKeep, kDefaultWriterThreads);
  const size_t defects = Unpacker(request, opt, Unpacker::Pass::kWrite, &writer).run(messages);
  return defects > 0 ? kExitDefects : kExitDone;
}

int showMessages(const std::string &input, bool json, const mime::Options &opt) {
  const mime::Buffer whole = mapInputMessage(input);
  Shower shower(opt, json);
  walkMessages(splitMessages(whole), opt, [&shower](const PartVisit &visit) { shower.visit(visit); });
  return shower.finish();
}

}  // namespace mimetool

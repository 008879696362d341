// mimetool's input.
//
// mbox         := message *( blank-line message ) [ blank-line ]
// message      := envelope-line *line              ; envelope-line := "From " *octet line-end
// blank-line   := line-end                          ; line-end := LF / CR LF
// Inside a message a line "From " after a blank line cannot occur: writers quote it as ">From ".
#include "mimetool_input.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "mimetool_files.hpp"

namespace mimetool {

namespace {

struct Mapping {
  void *address;
  size_t size;
};
Mapping *gMapping = nullptr;  // the input mapped, while it is

mime::Buffer mapped(int fd, size_t size, const std::string &path);
mime::Buffer readWhole(int fd, const std::string &path);
size_t nextEnvelope(std::string_view text, size_t from);
size_t endBeforeBlankLine(std::string_view text, size_t envelope);
size_t endOfLastMessage(std::string_view text);
InputMessage messageOf(const mime::Buffer &input, size_t start, size_t end);

}  // namespace

mime::Buffer mapInput(const std::string &path) {
  const bool standardInput = path == "-";
  const int fd = standardInput ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(path + ": " + std::strerror(errno));
  struct stat info {};
  if (fstat(fd, &info) != 0) info.st_mode = 0;
  if (S_ISDIR(info.st_mode)) {
    if (!standardInput) close(fd);
    throw Failure(path + ": is a directory");
  }
  // Standard input redirected from a file maps as well, when nothing of it has been read yet.
  const bool mappable = S_ISREG(info.st_mode) && info.st_size > 0 && lseek(fd, 0, SEEK_CUR) == 0;
  try {
    mime::Buffer input = mappable ? mapped(fd, static_cast<size_t>(info.st_size), path) : readWhole(fd, path);
    if (!standardInput) close(fd);
    return input;
  } catch (...) {
    if (!standardInput) close(fd);
    throw;
  }
}

bool releaseInputPages(std::string_view octets) {
  // Below a mebibyte the call and the faults that read the pages again cost more than the memory is worth.
  constexpr size_t kWorthReleasing = size_t{1} << 20;
  if (!gMapping || octets.size() < kWorthReleasing) return false;
  const auto base = reinterpret_cast<std::uintptr_t>(gMapping->address);
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  std::uintptr_t from = reinterpret_cast<std::uintptr_t>(octets.data());
  std::uintptr_t to = from + octets.size();
  if (to <= base || from >= base + gMapping->size) return false;
  // Whole pages: dropping one the next part shares is harmless, it is read again from the file.
  from = std::max(from, base) & ~(page - 1);
  to = std::min(to, base + gMapping->size);
  madvise(reinterpret_cast<void *>(from), to - from, MADV_DONTNEED);
  return true;
}

size_t InputMessage::inputOffset(size_t offset) const {
  const auto removedBefore = std::upper_bound(unquoted.begin(), unquoted.end(), offset) - unquoted.begin();
  return start + offset + static_cast<size_t>(removedBefore);
}

std::vector<InputMessage> splitMessages(const mime::Buffer &input) {
  const std::string_view text = input.view();
  if (!text.starts_with("From ")) return {InputMessage{input, 0, {}}};
  std::vector<InputMessage> messages;
  for (size_t start = 0;;) {
    const size_t next = nextEnvelope(text, start);
    if (next == std::string_view::npos) {
      messages.push_back(messageOf(input, start, std::max(start, endOfLastMessage(text))));
      return messages;
    }
    messages.push_back(messageOf(input, start, endBeforeBlankLine(text, next)));
    start = next;
  }
}

namespace {

// --- reading ---

void unmap(void *context) {
  const auto *mapping = static_cast<Mapping *>(context);
  munmap(mapping->address, mapping->size);
  if (gMapping == mapping) gMapping = nullptr;
  delete mapping;
}

void freeBlock(void *context) {
  std::free(context);
}

mime::Buffer mapped(int fd, size_t size, const std::string &path) {
  if (size > static_cast<size_t>(KX_BUFFER_MAX_LENGTH)) throw Failure(path + ": too large");
  void *address = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (address == MAP_FAILED) throw Failure(path + ": " + std::strerror(errno));
  // Read front to back, once: the kernel may read ahead and drop what was read.
  madvise(address, size, MADV_SEQUENTIAL);
  auto *mapping = new Mapping{address, size};
  gMapping = mapping;
  return mime::Buffer(
      mime::Ref<KX_BUFFER>::adopt(kxBufferCreateWrapping(address, static_cast<kxInt>(size), unmap, mapping)));
}

// A pipe has no size to ask for: the block doubles as it fills, then gives back what it did not use.
mime::Buffer readWhole(int fd, const std::string &path) {
  size_t capacity = size_t{1} << 16;
  size_t used = 0;
  auto *block = static_cast<char *>(std::malloc(capacity));
  if (!block) throw std::bad_alloc();
  for (;;) {
    if (used == capacity) {
      auto *grown = static_cast<char *>(std::realloc(block, capacity * 2));
      if (!grown) {
        std::free(block);
        throw std::bad_alloc();
      }
      block = grown;
      capacity *= 2;
    }
    const ssize_t got = read(fd, block + used, capacity - used);
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      std::free(block);
      throw Failure(path + ": " + std::strerror(error));
    }
    used += static_cast<size_t>(got);
  }
  if (auto *trimmed = static_cast<char *>(std::realloc(block, std::max(used, size_t{1})))) block = trimmed;
  return mime::Buffer(
      mime::Ref<KX_BUFFER>::adopt(kxBufferCreateWrapping(block, static_cast<kxInt>(used), freeBlock, block)));
}

// --- mbox ---

// The offset of the next envelope line after from: "From " at a line start, after a blank line.
size_t nextEnvelope(std::string_view text, size_t from) {
  static constexpr std::string_view kLineStart = "\nFrom ";
  for (size_t lf = text.find(kLineStart, from); lf != std::string_view::npos;
       lf = text.find(kLineStart, lf + 1)) {
    const bool afterBlankLine =
        lf >= 1 && (text[lf - 1] == '\n' || (lf >= 2 && text.substr(lf - 2, 2) == "\n\r"));
    if (afterBlankLine) return lf + 1;
  }
  return std::string_view::npos;
}

// The end of the message before the envelope line: before the blank line that precedes it.
size_t endBeforeBlankLine(std::string_view text, size_t envelope) {
  const size_t lf = envelope - 1;
  return text[lf - 1] == '\r' ? lf - 1 : lf;
}

// The end of the last message: before the blank line a mailbox ends with, if it has one.
size_t endOfLastMessage(std::string_view text) {
  if (text.ends_with("\r\n\r\n")) return text.size() - 2;
  if (text.ends_with("\n\n")) return text.size() - 1;
  return text.size();
}

// True when the text starts with a quoted envelope line (">From ", ">>From "...). Reads only the run of ">".
bool isQuotedEnvelope(std::string_view line) {
  const size_t marks = line.find_first_not_of('>');
  return marks != 0 && marks != std::string_view::npos && line.substr(marks).starts_with("From ");
}

// The message from start to end: a slice of the input, or a copy with one ">" taken from each quoted
// "From " line.
InputMessage messageOf(const mime::Buffer &input, size_t start, size_t end) {
  const std::string_view text = input.view().substr(start, end - start);
  InputMessage message{mime::Buffer(), start, {}};
  std::string copy;
  size_t copied = 0;
  for (size_t lf = text.find("\n>"); lf != std::string_view::npos; lf = text.find("\n>", lf + 1)) {
    if (!isQuotedEnvelope(text.substr(lf + 1))) continue;
    if (copy.empty()) copy.reserve(text.size());
    copy.append(text, copied, lf + 1 - copied);
    message.unquoted.push_back(copy.size());
    copied = lf + 2;  // past the first ">"
  }
  if (message.unquoted.empty()) {
    message.octets = mime::Buffer(mime::Ref<KX_BUFFER>::adopt(
        kxBufferRead(input.get(), static_cast<kxInt>(start), static_cast<kxInt>(end - start))));
    return message;
  }
  copy.append(text, copied);
  auto *owned = new std::string(std::move(copy));
  message.octets = mime::Buffer(mime::Ref<KX_BUFFER>::adopt(kxBufferCreateWrapping(
      owned->data(), static_cast<kxInt>(owned->size()),
      [](void *context) { delete static_cast<std::string *>(context); }, owned)));
  return message;
}

}  // namespace

}  // namespace mimetool

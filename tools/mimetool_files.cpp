// mimetool's file handling.
#include "mimetool_files.hpp"

#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <utility>

namespace mimetool {

namespace {

std::string errorText(const std::string &path, int error) {
  return path + ": " + std::strerror(error);
}

bool writeAll(int fd, std::string_view octets);
std::string existsText(const std::string &path);
int createNameless(int directory, const std::string &name);
void nameNameless(int fd, int directory, const std::string &name, const std::string &path);
void renameInto(int directory, const std::string &from, const std::string &to, const std::string &path,
                Existing existing);
std::string createTemporaryBeside(int directory, const std::string &name, const std::string &path, int *fd,
                                  int *slot);
void forgetTemporary(int *slot);
struct Utf8Step {
  char32_t codePoint;
  size_t length;  // 0: the octet at the place begins no well-formed UTF-8 sequence
};
Utf8Step utf8Step(std::string_view text, size_t at);
bool isHazard(char32_t codePoint);
std::string escaped(std::string_view text, bool doubleBackslashes);
bool asciiCaseEqual(std::string_view a, std::string_view b);
std::string_view extensionOf(std::string_view fileName);

// The built-in table: what a file name's extension says about its content. The first row of a media type
// also gives the extension of a part written under that type.
struct TypeRow {
  std::string_view extension;
  std::string_view mediaType;
};
constexpr std::array kTypeTable = {
    TypeRow{".txt", "text/plain"},
    TypeRow{".text", "text/plain"},
    TypeRow{".html", "text/html"},
    TypeRow{".htm", "text/html"},
    TypeRow{".css", "text/css"},
    TypeRow{".csv", "text/csv"},
    TypeRow{".md", "text/markdown"},
    TypeRow{".ics", "text/calendar"},
    TypeRow{".xml", "application/xml"},
    TypeRow{".json", "application/json"},
    TypeRow{".js", "text/javascript"},
    TypeRow{".png", "image/png"},
    TypeRow{".jpg", "image/jpeg"},
    TypeRow{".jpeg", "image/jpeg"},
    TypeRow{".gif", "image/gif"},
    TypeRow{".webp", "image/webp"},
    TypeRow{".svg", "image/svg+xml"},
    TypeRow{".pdf", "application/pdf"},
    TypeRow{".zip", "application/zip"},
    TypeRow{".gz", "application/gzip"},
    TypeRow{".tar", "application/x-tar"},
    TypeRow{".mp3", "audio/mpeg"},
    TypeRow{".wav", "audio/wav"},
    TypeRow{".mp4", "video/mp4"},
    TypeRow{".bin", "application/octet-stream"},
};

constexpr size_t kMaxFileNameOctets = 200;

}  // namespace

std::string readFile(const std::string &path) {
  const bool standardInput = path == "-";
  const int fd = standardInput ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(errorText(path, errno));
  struct stat info {};
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    if (!standardInput) close(fd);
    throw Failure(path + ": is a directory");
  }
  std::string octets;
  const int error = readAll(fd, octets);
  if (!standardInput) close(fd);
  if (error != 0) throw Failure(errorText(path, error));
  return octets;
}

int readAll(int fd, std::string &octets) {
  std::array<char, 1 << 16> chunk{};
  for (;;) {
    const ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got == 0) return 0;
    if (got < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    octets.append(chunk.data(), static_cast<size_t>(got));
  }
}

OutputDirectory::OutputDirectory(std::string path)
    : path_(std::move(path)), fd_(open(path_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
  if (fd_ < 0) throw Failure(errorText(path_, errno));
}

OutputDirectory::~OutputDirectory() {
  close(fd_);
}

OutputFile::OutputFile(std::string path, Existing existing)
    : path_(std::move(path)), directory_(AT_FDCWD), name_(path_), existing_(existing), fd_(STDOUT_FILENO) {
  if (path_ != "-") create();
}

OutputFile::OutputFile(const OutputDirectory &directory, std::string_view name, Existing existing)
    : path_(directory.path() + "/" + std::string(name)),
      directory_(directory.fd()),
      name_(name),
      existing_(existing),
      fd_(-1) {
  create();
}

// Without a name where the file system allows: a link gives a name only where none exists, which is what
// keeping an existing file needs; replacing one takes a rename, so that file gets a temporary name.
void OutputFile::create() {
  fd_ = existing_ == Existing::kKeep ? createNameless(directory_, name_) : -1;
  nameless_ = fd_ >= 0;
  if (!nameless_) temporary_ = createTemporaryBeside(directory_, name_, path_, &fd_, &slot_);
}

OutputFile::~OutputFile() {
  if (nameless_) close(fd_);  // a file without a name goes with its last descriptor
  if (temporary_.empty()) return;
  close(fd_);
  unlinkat(directory_, temporary_.c_str(), 0);
  forgetTemporary(&slot_);
}

void OutputFile::write(std::string_view octets) {
  if (!writeAll(fd_, octets)) throw Failure(errorText(path_ == "-" ? "standard output" : path_, errno));
}

void OutputFile::commit() {
  if (!nameless_ && temporary_.empty()) return;
  const int fd = std::exchange(fd_, -1);
  if (nameless_) {
    nameless_ = false;
    nameNameless(fd, directory_, name_, path_);
    return;
  }
  if (close(fd) != 0) throw Failure(errorText(path_, errno));
  renameInto(directory_, temporary_, name_, path_, existing_);
  temporary_.clear();
  forgetTemporary(&slot_);
}

void writeFileAtomically(const std::string &path, std::string_view octets, Existing existing) {
  OutputFile file(path, existing);
  file.write(octets);
  file.commit();
}

void writeFileAtomically(const OutputDirectory &directory, std::string_view name, std::string_view octets,
                         Existing existing) {
  OutputFile file(directory, name, existing);
  file.write(octets);
  file.commit();
}

bool pathExists(const std::string &path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

void makeDirectories(const std::string &path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (!prefix.empty() && mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
      throw Failure(errorText(prefix, errno));
    if (slash == std::string::npos) break;
  }
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) throw Failure(path + ": not a directory");
}

std::string baseName(std::string_view path) {
  const size_t slash = path.rfind('/');
  return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string sanitizeFileName(std::string_view name) {
  // Only the last component, whichever separator the sender's system used: nothing may climb out.
  const size_t separator = name.find_last_of("/\\");
  if (separator != std::string_view::npos) name.remove_prefix(separator + 1);
  // No NUL, line break or escape sequence, nothing that shows the name in another order than it has, and
  // nothing a file system (FAT, NTFS, SMB shares) would refuse when the file is copied on.
  static constexpr std::string_view kRefused = "<>:\"|?*";
  std::string clean;
  for (size_t i = 0; i < name.size();) {
    const Utf8Step step = utf8Step(name, i);
    const bool keep = step.length > 0 && !isHazard(step.codePoint) &&
                      (step.codePoint >= 0x80 || kRefused.find(name[i]) == std::string_view::npos);
    clean += keep ? name.substr(i, step.length) : "_";
    i += step.length > 0 ? step.length : 1;
  }
  // No hidden files, no "." or "..", no names that look empty.
  const size_t first = clean.find_first_not_of(". ");
  if (first == std::string::npos) return {};
  clean.erase(0, first);
  clean.erase(clean.find_last_not_of(". ") + 1);
  if (clean.size() > kMaxFileNameOctets) {
    std::string extension(extensionOf(clean));
    if (extension.size() > 16) extension.clear();
    size_t keep = kMaxFileNameOctets - extension.size();
    while (keep > 0 && (static_cast<unsigned char>(clean[keep]) & 0xC0) == 0x80) --keep;  // whole characters
    clean = clean.substr(0, keep) + extension;
  }
  return clean;
}

std::string printable(std::string_view text) {
  return escaped(text, true);
}

std::string terminalSafe(std::string_view text) {
  return escaped(text, false);
}

std::string jsonString(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out = "\"";
  out.reserve(text.size() + 2);
  for (size_t i = 0; i < text.size();) {
    const Utf8Step step = utf8Step(text, i);
    const char32_t codePoint = step.length == 0 ? char32_t{0xFFFD} : step.codePoint;
    if (isHazard(codePoint) || step.length == 0) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(codePoint >> shift) & 0xF];
    } else if (codePoint == '"' || codePoint == '\\') {
      out += {'\\', text[i]};
    } else {
      out.append(text, i, step.length);
    }
    i += step.length > 0 ? step.length : 1;
  }
  return out + '"';
}

bool isUtf8(std::string_view octets) {
  for (size_t i = 0; i < octets.size();) {
    const size_t length = utf8Step(octets, i).length;
    if (length == 0) return false;
    i += length;
  }
  return true;
}

std::string_view mediaTypeForFileName(std::string_view fileName) {
  const std::string_view extension = extensionOf(fileName);
  for (const TypeRow &row : kTypeTable) {
    if (asciiCaseEqual(row.extension, extension)) return row.mediaType;
  }
  return "application/octet-stream";
}

std::string_view extensionForMediaType(std::string_view mediaType) {
  for (const TypeRow &row : kTypeTable) {
    if (row.mediaType == mediaType) return row.extension;
  }
  if (mediaType.starts_with("text/")) return ".txt";
  if (mediaType == "message/rfc822") return ".eml";
  return ".bin";
}

namespace {

// --- the temporary files a signal must not leave behind ---

// Several threads may each be writing a file under a temporary name. The handler may make only
// async-signal-safe calls, so each such file has a slot of fixed size, claimed by the thread that creates the
// file and read by the handler through lock-free atomics. A slot is kCreating while its file is being
// created, with the signals held back on the creating thread, so the handler, which runs on another thread
// then, waits that moment out rather than miss a file that is about to exist; once the handler has begun, no
// thread creates another (gStopping). The slots outnumber the files the tool ever has open at once (unpack's
// writer holds at most 128).
enum SlotState : int { kFree, kClaimed, kCreating, kActive };
struct TemporarySlot {
  std::atomic<int> state{kFree};
  int directory = AT_FDCWD;  // what name is relative to
  char name[PATH_MAX];
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "a signal handler may only touch lock-free atomics");
constexpr int kTemporarySlots = 192;
TemporarySlot gTemporarySlots[kTemporarySlots];
std::atomic<bool> gStopping{false};
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void removeTemporaryAndStop(int signal) {
  gStopping.store(true);
  for (TemporarySlot &slot : gTemporarySlots) {
    int state = slot.state.load();
    while (state == kCreating) state = slot.state.load();  // another thread inside one openat
    if (state == kActive) unlinkat(slot.directory, slot.name, 0);
  }
  raise(signal);  // installed with SA_RESETHAND | SA_NODEFER: the default action now ends the process
}

// Holds SIGINT, SIGTERM and SIGHUP back on this thread while a temporary file and its slot change together.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (const int signal : kCleanupSignals) sigaddset(&held, signal);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld &) = delete;
  SignalsHeld &operator=(const SignalsHeld &) = delete;

 private:
  sigset_t previous_;
};

// A name for the next temporary file: a dot (hidden), the tool's name, and six letters that differ from file
// to file and from process to process.
void nextTemporaryName(char *letters) {
  static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  thread_local uint64_t state = [] {
    uint64_t seed = 0;
    if (getrandom(&seed, sizeof seed, 0) != static_cast<ssize_t>(sizeof seed)) seed = 0;
    return seed ^ (static_cast<uint64_t>(gettid()) << 32);
  }();
  state = state * 6364136223846793005u + 1442695040888963407u;  // a step of a 64-bit LCG
  uint64_t bits = state >> 16;
  for (int i = 0; i < 6; ++i, bits /= 62) letters[i] = kLetters[bits % 62];
}

// A free slot, claimed for a temporary file of this thread.
int claimSlot(const std::string &path) {
  for (int i = 0; i < kTemporarySlots; ++i) {
    int expected = kFree;
    if (gTemporarySlots[i].state.compare_exchange_strong(expected, kClaimed)) return i;
  }
  throw Failure(path + ": too many files written at once");
}

// A new empty file beside name (relative to directory; path names it in reports), recorded in a slot for the
// signal handler (*slot); returns its name. Created with mode 0666, so that it has what a plain creat() would
// give under the umask, without asking for the umask per file.
std::string createTemporaryBeside(int directory, const std::string &name, const std::string &path, int *fd,
                                  int *slot) {
  const size_t slash = name.rfind('/');
  const std::string temporary =
      (slash == std::string::npos ? "" : name.substr(0, slash + 1)) + ".mimetool-XXXXXX";
  if (temporary.size() >= PATH_MAX) throw Failure(errorText(path, ENAMETOOLONG));
  *slot = claimSlot(path);
  TemporarySlot &record = gTemporarySlots[*slot];
  record.directory = directory;
  temporary.copy(record.name, temporary.size());
  record.name[temporary.size()] = '\0';
  const SignalsHeld held;
  for (int attempt = 0;; ++attempt) {
    nextTemporaryName(record.name + temporary.size() - 6);
    record.state.store(kCreating);
    if (gStopping.load()) {
      record.state.store(kClaimed);  // no file will be made: the handler, on another thread, need not wait
      for (;;) pause();              // while it ends the process
    }
    *fd = openat(directory, record.name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (*fd >= 0) break;
    const int error = errno;
    record.state.store(kClaimed);
    if (error != EEXIST || attempt == 100) {
      forgetTemporary(slot);
      throw Failure(errorText(path, error));
    }
  }
  record.state.store(kActive);
  return record.name;
}

// A new file without a name in the directory of name (relative to directory), with the mode a named one
// would get; -1 when the directory's file system has none (then no further file tries), or when /proc,
// through which it is named later, is missing.
int createNameless(int directory, const std::string &name) {
  static std::atomic<bool> refused = access("/proc/self/fd", X_OK) != 0;
  if (refused.load(std::memory_order_relaxed)) return -1;
  const size_t slash = name.rfind('/');
  const std::string where = slash == std::string::npos ? "." : name.substr(0, std::max<size_t>(slash, 1));
  const int fd = openat(directory, where.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
  if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
    refused.store(true, std::memory_order_relaxed);
  return fd;
}

// The temporary file is gone or renamed: the handler must no longer touch its name, and the slot is free.
void forgetTemporary(int *slot) {
  if (*slot < 0) return;
  gTemporarySlots[std::exchange(*slot, -1)].state.store(kFree);
}

}  // namespace

void removeTemporaryFilesOnSignals() {
  for (const int signal : kCleanupSignals) {
    struct sigaction previous {};
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = removeTemporaryAndStop;
    action.sa_flags = SA_RESETHAND | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
  }
}

namespace {

// --- writing ---

bool writeAll(int fd, std::string_view octets) {
  while (!octets.empty()) {
    const ssize_t put = write(fd, octets.data(), octets.size());
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    octets.remove_prefix(static_cast<size_t>(put));
  }
  return true;
}

std::string existsText(const std::string &path) {
  return path + ": exists (use --force to overwrite)";
}

// Gives the finished nameless file its name and closes it. The link is made only where nothing exists under
// the name, in one step, so a file that appears in between is never lost. The file systems that have
// nameless files report no write error on close; should one do so, the name is taken away again.
void nameNameless(int fd, int directory, const std::string &name, const std::string &path) {
  // Linking the descriptor itself takes a privilege (ENOENT without it); through /proc anyone may. The first
  // saves looking up a path per file: tried until it is refused once.
  static std::atomic<bool> byDescriptor = true;
  const bool tried = byDescriptor.load(std::memory_order_relaxed);
  bool named = tried && linkat(fd, "", directory, name.c_str(), AT_EMPTY_PATH) == 0;
  if (!named && (!tried || errno == ENOENT)) {
    byDescriptor.store(false, std::memory_order_relaxed);
    char self[32];
    snprintf(self, sizeof self, "/proc/self/fd/%d", fd);
    named = linkat(AT_FDCWD, self, directory, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
  }
  const int linkError = errno;
  if (close(fd) != 0 && named) {
    const int closeError = errno;
    unlinkat(directory, name.c_str(), 0);
    throw Failure(errorText(path, closeError));
  }
  if (!named) throw Failure(linkError == EEXIST ? existsText(path) : errorText(path, linkError));
}

// Moves the finished temporary file to its name (both relative to directory). Without replacing, the check
// that nothing exists there and the move are one step (RENAME_NOREPLACE, or a link where a file system lacks
// it), so a file that appears in between is never lost.
void renameInto(int directory, const std::string &from, const std::string &to, const std::string &path,
                Existing existing) {
  if (existing == Existing::kReplace) {
    if (renameat(directory, from.c_str(), directory, to.c_str()) != 0) throw Failure(errorText(path, errno));
    return;
  }
  if (renameat2(directory, from.c_str(), directory, to.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno == EINVAL || errno == ENOSYS) {
    if (linkat(directory, from.c_str(), directory, to.c_str(), 0) == 0) {
      unlinkat(directory, from.c_str(), 0);
      return;
    }
  }
  if (errno == EEXIST) throw Failure(existsText(path));
  throw Failure(errorText(path, errno));
}

// --- text ---

// One UTF-8 character at the place: no overlong forms, no surrogates, nothing above U+10FFFF.
Utf8Step utf8Step(std::string_view text, size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return {lead, 1};
  const size_t length = lead >= 0xC2 && lead <= 0xDF   ? 2
                        : lead >= 0xE0 && lead <= 0xEF ? 3
                        : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                       : 0;
  if (length == 0 || at + length > text.size()) return {0, 0};
  const auto second = static_cast<unsigned char>(text[at + 1]);
  if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) || (lead == 0xF0 && second < 0x90) ||
      (lead == 0xF4 && second > 0x8F))
    return {0, 0};
  char32_t codePoint = lead & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const auto octet = static_cast<unsigned char>(text[at + k]);
    if ((octet & 0xC0) != 0x80) return {0, 0};
    codePoint = (codePoint << 6) | (octet & 0x3F);
  }
  return {codePoint, length};
}

// A character that may not reach a terminal or a file name as it is: C0 and C1 controls and DEL (they move
// the cursor, ring, start escape sequences), the bidirectional formatting characters (an override makes
// "txt.exe" show as "exe.txt"), and the line and paragraph separators (they break a line without LF).
bool isHazard(char32_t codePoint) {
  return codePoint < 0x20 || (codePoint >= 0x7F && codePoint <= 0x9F) || codePoint == 0x061C ||
         codePoint == 0x200E || codePoint == 0x200F || (codePoint >= 0x2028 && codePoint <= 0x202E) ||
         (codePoint >= 0x2066 && codePoint <= 0x2069);
}

std::string escaped(std::string_view text, bool doubleBackslashes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  // Most text is printable ASCII without a backslash, and stands as it is.
  size_t i = 0;
  while (i < text.size() && text[i] >= ' ' && text[i] < 0x7F && text[i] != '\\') ++i;
  std::string out(text.substr(0, i));
  if (i == text.size()) return out;
  out.reserve(text.size() + 8);
  while (i < text.size()) {
    const Utf8Step step = utf8Step(text, i);
    if (step.length == 0 || (step.codePoint < 0x80 && isHazard(step.codePoint))) {
      const auto octet = static_cast<unsigned char>(text[i]);
      out += {'\\', 'x', kHex[octet >> 4], kHex[octet & 0xF]};
      ++i;
      continue;
    }
    if (isHazard(step.codePoint)) {
      out += "\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(step.codePoint >> shift) & 0xF];
    } else if (text[i] == '\\' && doubleBackslashes) {
      out += "\\\\";
    } else {
      out.append(text, i, step.length);
    }
    i += step.length;
  }
  return out;
}

// --- names ---

bool asciiCaseEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// The extension with its dot ("" when the name has none, or only a leading dot).
std::string_view extensionOf(std::string_view fileName) {
  const size_t dot = fileName.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || fileName.find('/', dot) != std::string_view::npos)
    return {};
  return fileName.substr(dot);
}

}  // namespace

}  // namespace mimetool

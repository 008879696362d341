// mimetool's file handling.
#include "mimetool_files.hpp"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <iostream>

namespace mimetool {

namespace {

std::string errorText(const std::string &path, int error) {
  return path + ": " + std::strerror(error);
}

bool writeAll(int fd, std::string_view octets);
void renameInto(const std::string &from, const std::string &to, Existing existing);
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
    close(fd);
    throw Failure(path + ": is a directory");
  }
  std::string octets;
  std::array<char, 1 << 16> chunk{};
  for (;;) {
    const ssize_t got = read(fd, chunk.data(), chunk.size());
    if (got == 0) break;
    if (got < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      if (!standardInput) close(fd);
      throw Failure(errorText(path, error));
    }
    octets.append(chunk.data(), static_cast<size_t>(got));
  }
  if (!standardInput) close(fd);
  return octets;
}

void writeFileAtomically(const std::string &path, std::string_view octets, Existing existing) {
  const std::string directory =
      path.find('/') == std::string::npos ? "." : path.substr(0, path.rfind('/') + 1);
  std::string temporary = (directory == "." ? "" : directory) + ".mimetool-XXXXXX";
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) throw Failure(errorText(path, errno));
  // mkstemp makes the file private; give it the mode a plain creat() would have given.
  const mode_t mask = umask(0);
  umask(mask);
  const bool written = fchmod(fd, 0666 & ~mask) == 0 && writeAll(fd, octets);
  const int writeError = errno;
  if (close(fd) != 0 || !written) {
    const int error = written ? errno : writeError;
    unlink(temporary.c_str());
    throw Failure(errorText(path, error));
  }
  try {
    renameInto(temporary, path, existing);
  } catch (...) {
    unlink(temporary.c_str());
    throw;
  }
}

void writeStdout(std::string_view octets) {
  if (!writeAll(STDOUT_FILENO, octets)) throw Failure(errorText("standard output", errno));
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
  std::string clean;
  for (const char c : name) {
    const auto octet = static_cast<unsigned char>(c);
    if (octet >= 0x20 && octet != 0x7F) clean += c;  // no NUL, no line break, no escape sequence
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
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    const auto octet = static_cast<unsigned char>(c);
    if (c == '\\') {
      out += "\\\\";
    } else if (octet < 0x20 || octet == 0x7F) {
      out += "\\x";
      out += kHex[octet >> 4];
      out += kHex[octet & 0xF];
    } else {
      out += c;
    }
  }
  return out;
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

// Moves the finished temporary file to its name. Without replacing, the check that nothing exists there and
// the move are one step (RENAME_NOREPLACE, or link() where a file system lacks it), so a file that appears
// in between is never lost.
void renameInto(const std::string &from, const std::string &to, Existing existing) {
  if (existing == Existing::kReplace) {
    if (rename(from.c_str(), to.c_str()) != 0) throw Failure(errorText(to, errno));
    return;
  }
  if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return;
  if (errno == EINVAL || errno == ENOSYS) {
    if (link(from.c_str(), to.c_str()) == 0) {
      unlink(from.c_str());
      return;
    }
  }
  if (errno == EEXIST) throw Failure(to + ": exists (use --force to overwrite)");
  throw Failure(errorText(to, errno));
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

// mimetool's bodies in pieces: a file mapped rather than read, its transfer encoding chosen as the library
// chooses it for the whole body, and the encoded body written a piece at a time, so that packing holds about
// one piece of each file, never a whole encoded body.
#ifndef MIMETOOL_BODY_HPP
#define MIMETOOL_BODY_HPP

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "mime/mime.hpp"

namespace mimetool {

// Octets the pieces of a body are cut from at most this many at a time; at least kSmallestPiece.
inline constexpr size_t kPieceOctets = size_t{1} << 20;
inline constexpr size_t kSmallestPiece = 4096;  // holds a whole line of a 7bit body (998 octets and CR LF)

// The octets of one file: mapped when it is a regular file larger than a piece (kPieceOctets), else read
// whole ("-" reads standard input).
// Throws Failure when the file cannot be opened, mapped or read.
class FileOctets {
 public:
  explicit FileOctets(const std::string &path);
  ~FileOctets();
  FileOctets(const FileOctets &) = delete;
  FileOctets &operator=(const FileOctets &) = delete;

  [[nodiscard]] std::string_view view() const noexcept { return view_; }
  // True when view() is a mapping whose pages may be given back once read (see BodyOctets).
  [[nodiscard]] bool mapped() const noexcept { return mapped_; }
  // Gives the pages of a mapping read so far back to the kernel (they stay in the page cache): after a scan
  // of the whole file, the process need not keep it resident.
  void giveBackPages() const noexcept;

 private:
  std::string read_;  // what could not be mapped
  std::string_view view_;
  bool mapped_ = false;
};

// A body as it travels: the octets, with every LF that no CR precedes made CR LF when canonicalLineEnds
// (text travels with CR LF line ends), read in pieces of at most `piece` octets (kSmallestPiece at least).
// mapped: the octets are a FileOctets mapping, whose pages are given back once read (they stay in the page
// cache), so that a pass over a large file does not keep it resident.
struct BodyOctets {
  std::string_view octets;
  bool canonicalLineEnds = false;
  bool mapped = false;
  size_t piece = kPieceOctets;
};

// The Content-Transfer-Encoding (MIME_CONTENT_TRANSFER_ENCODING_...) mime::encode would choose for the whole
// body, found piece by piece: binary under the eight-bit flag; 7bit for lines of at most 998 octets of
// US-ASCII other than NUL, each ended by CR LF; for a multipart type 8bit or binary; else the strictly
// shorter of quoted-printable and Base64 (Base64 on a tie, or always under the flag disabling
// quoted-printable).
kxInt chooseTransferEncoding(const BodyOctets &body, bool multipart, const mime::Options &opt);

// True when a line of the body, as it is sent unencoded, begins with dashBoundary: at its start, or after
// a CR or an LF (a reader that takes a bare CR or LF as a line end sees a delimiter there too).
bool holdsDelimiterLine(const BodyOctets &body, std::string_view dashBoundary);

// Writes the body in the transfer encoding (one chooseTransferEncoding gave for it) through write, a piece
// at a time: the octets are byte for byte what encoding the whole body at once gives. Whatever write throws
// passes on.
void writeEncodedBody(const BodyOctets &body, kxInt cte, const mime::Options &opt,
                      const std::function<void(std::string_view)> &write);

}  // namespace mimetool

#endif

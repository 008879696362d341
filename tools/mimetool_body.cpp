// mimetool's bodies in pieces.
//
// Every encoding below is cut where encoding the pieces one by one gives the octets of encoding the whole:
//   7bit, 8bit, binary   any cut; the line checks see whole lines (a piece ends after an LF)
//   base64               after whole lines of the encoded text: a multiple of 3 * (line length / 4) octets,
//                        the pieces' texts joined by CR LF (by nothing when there are no line breaks)
//   quoted-printable     after a CR LF (a hard line break starts every line in column 0), or, inside a line
//                        longer than a piece, after a soft line break of the whole line's encoding
#include "mimetool_body.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "mimetool_files.hpp"

namespace mimetool {

namespace {

using mime::Ref;

constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kSoftBreak = "=\r\n";

// The octets of a body as it travels, a piece at a time: fill() gives the octets not yet consumed, as many
// as a piece holds (fewer only at the end of the body); consume(n) drops the first n of them.
class PieceReader {
 public:
  explicit PieceReader(const BodyOctets &body, size_t smallest = 0)
      : body_(body), piece_(std::max({body.piece, kSmallestPiece, smallest})) {}
  PieceReader(const PieceReader &) = delete;
  PieceReader &operator=(const PieceReader &) = delete;

  std::string_view fill();
  // True when the octets fill() gave run to the end of the body.
  [[nodiscard]] bool atEnd() const noexcept { return next_ == body_.octets.size(); }
  void consume(size_t n);

 private:
  const BodyOctets &body_;
  size_t piece_;
  size_t next_ = 0;        // the first octet of body_.octets not yet in a piece
  std::string canonical_;  // with canonical line ends: the octets of the piece, as they travel
  size_t start_ = 0;       // without: the first octet of body_.octets not yet consumed
  size_t released_ = 0;    // the mapped octets before this were given back
};

void releaseBefore(const BodyOctets &body, size_t offset, size_t *released);

// --- transfer encoding choice ---

kxInt base64Length(size_t octets, const mime::Options &opt);
bool surelyLongerAsQuotedPrintable(const BodyOctets &body, size_t octets, size_t maxLength);
bool quotedPrintableWithin(const BodyOctets &body, size_t octets, size_t maxLength, const mime::Options &opt);
bool isLineBody(const BodyOctets &body, kxInt cte);
size_t travellingLength(const BodyOctets &body);

// --- pieces ---

mime::Buffer bufferOf(std::string_view octets) {
  return mime::Buffer(octets);
}

struct QuotedPrintablePiece {
  size_t consumed;   // octets of the body it encodes
  std::string text;  // their encoding, when asked for
  size_t length;     // its length
};
QuotedPrintablePiece nextQuotedPrintablePiece(std::string_view octets, bool atEnd, RFC_QUOP_OPTIONS *options,
                                              bool withText);
void writeBase64(const BodyOctets &body, const mime::Options &opt,
                 const std::function<void(std::string_view)> &write);
void writeQuotedPrintable(const BodyOctets &body, const mime::Options &opt,
                          const std::function<void(std::string_view)> &write);

}  // namespace

FileOctets::FileOctets(const std::string &path) {
  if (path == "-") {
    read_ = readFile(path);
    view_ = read_;
    return;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw Failure(path + ": " + std::strerror(errno));
  struct stat info {};
  // A pipe or a device is read as it comes; so is a file no larger than a piece, which costs no more memory
  // than a piece and less time than a mapping.
  // Read from the descriptor already open: opening a FIFO a second time would let its writer see a broken
  // pipe.
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || static_cast<size_t>(info.st_size) <= kPieceOctets) {
    if (S_ISDIR(info.st_mode)) {
      close(fd);
      throw Failure(path + ": is a directory");
    }
    const int error = readAll(fd, read_);
    close(fd);
    if (error != 0) throw Failure(path + ": " + std::strerror(error));
    view_ = read_;
    return;
  }
  const auto size = static_cast<size_t>(info.st_size);
  void *map = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  const int error = errno;
  close(fd);
  if (map == MAP_FAILED) throw Failure(path + ": " + std::strerror(error));
  madvise(map, size, MADV_SEQUENTIAL);
  view_ = std::string_view(static_cast<const char *>(map), size);
  mapped_ = true;
}

FileOctets::~FileOctets() {
  if (mapped_) munmap(const_cast<char *>(view_.data()), view_.size());
}

void FileOctets::giveBackPages() const noexcept {
  if (mapped_) madvise(const_cast<char *>(view_.data()), view_.size(), MADV_DONTNEED);
}

kxInt chooseTransferEncoding(const BodyOctets &body, bool multipart, const mime::Options &opt) {
  const kxInt flags = opt.flags();
  if (flags & MIME_FLAG_GENERATE_EIGHT_BIT_BODY) return MIME_CONTENT_TRANSFER_ENCODING_BINARY;
  if (isLineBody(body, MIME_CONTENT_TRANSFER_ENCODING_7BIT)) return MIME_CONTENT_TRANSFER_ENCODING_7BIT;
  // A multipart body encoded as a whole would hide its delimiter lines: only 8bit or binary.
  if (multipart) {
    return isLineBody(body, MIME_CONTENT_TRANSFER_ENCODING_8BIT) ? MIME_CONTENT_TRANSFER_ENCODING_8BIT
                                                                 : MIME_CONTENT_TRANSFER_ENCODING_BINARY;
  }
  if (flags & MIME_FLAG_GENERATE_DISABLE_QUOTED_PRINTABLE) return MIME_CONTENT_TRANSFER_ENCODING_BASE64;
  // Quoted-printable only when strictly shorter than Base64; a quick count turns most binary bodies away.
  const size_t octets = travellingLength(body);
  const auto maxLength = static_cast<size_t>(base64Length(octets, opt) - 1);
  if (surelyLongerAsQuotedPrintable(body, octets, maxLength) ||
      !quotedPrintableWithin(body, octets, maxLength, opt))
    return MIME_CONTENT_TRANSFER_ENCODING_BASE64;
  return MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE;
}

bool holdsDelimiterLine(const BodyOctets &body, std::string_view dashBoundary) {
  // A delimiter may straddle two pieces: the last octets of one piece (and a line end standing for the
  // start of the body) are searched again together with the first octets of the next.
  std::string carried = "\n";
  PieceReader reader(body);
  const auto foundIn = [&](std::string_view text, size_t from) {
    for (size_t at = text.find(dashBoundary, from); at != std::string_view::npos;
         at = text.find(dashBoundary, at + 1)) {
      if (at > 0 && (text[at - 1] == '\n' || text[at - 1] == '\r')) return true;
    }
    return false;
  };
  for (std::string_view piece = reader.fill(); !piece.empty(); piece = reader.fill()) {
    const std::string seam = carried + std::string(piece.substr(0, dashBoundary.size()));
    if (foundIn(seam, 1) || foundIn(piece, 1)) return true;
    carried += piece.substr(piece.size() - std::min(piece.size(), dashBoundary.size()));
    carried.erase(0, carried.size() - std::min(carried.size(), dashBoundary.size()));
    reader.consume(piece.size());
  }
  return false;
}

void writeEncodedBody(const BodyOctets &body, kxInt cte, const mime::Options &opt,
                      const std::function<void(std::string_view)> &write) {
  if (cte == MIME_CONTENT_TRANSFER_ENCODING_BASE64) return writeBase64(body, opt, write);
  if (cte == MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE) return writeQuotedPrintable(body, opt, write);
  PieceReader reader(body);
  for (std::string_view piece = reader.fill(); !piece.empty(); piece = reader.fill()) {
    write(piece);
    reader.consume(piece.size());
  }
}

namespace {

// --- reading in pieces ---

std::string_view PieceReader::fill() {
  const std::string_view octets = body_.octets;
  if (!body_.canonicalLineEnds) {
    next_ = std::min(octets.size(), start_ + piece_);
    return octets.substr(start_, next_ - start_);
  }
  // Each LF may become two octets: the piece is full one octet early at worst.
  while (canonical_.size() + 1 < piece_ && next_ < octets.size()) {
    const size_t room = piece_ - 1 - canonical_.size();
    const size_t end = std::min(octets.size(), next_ + room);
    const auto *lf = static_cast<const char *>(std::memchr(octets.data() + next_, '\n', end - next_));
    const size_t runEnd = lf ? static_cast<size_t>(lf - octets.data()) : end;
    canonical_.append(octets, next_, runEnd - next_);
    next_ = runEnd;
    if (!lf) break;
    // The octet before the LF is read from the body itself, so a piece may end between CR and LF.
    canonical_ += (runEnd > 0 && octets[runEnd - 1] == '\r') ? "\n" : "\r\n";
    ++next_;
  }
  releaseBefore(body_, next_, &released_);  // every octet before next_ is copied into the piece
  return canonical_;
}

void PieceReader::consume(size_t n) {
  if (!body_.canonicalLineEnds) {
    start_ += n;
    releaseBefore(body_, start_, &released_);
    return;
  }
  canonical_.erase(0, n);
}

// Gives the pages of a mapped body before offset back to the kernel, a few MiB at a time (*released: how far
// they were given back): a pass over a file keeps about a piece of it resident, however large the file.
void releaseBefore(const BodyOctets &body, size_t offset, size_t *released) {
  constexpr size_t kBatch = size_t{4} << 20;
  if (!body.mapped || offset < *released + kBatch) return;
  static const auto kPage = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  const size_t end = offset / kPage * kPage;  // the mapping starts on a page
  madvise(const_cast<char *>(body.octets.data()) + *released, end - *released, MADV_DONTNEED);
  *released = end;
}

// --- transfer encoding choice ---

// The octets the body travels as: its own, and a CR for every LF that none precedes when canonical.
size_t travellingLength(const BodyOctets &body) {
  const std::string_view octets = body.octets;
  if (!body.canonicalLineEnds) return octets.size();
  size_t added = 0;
  for (size_t at = octets.find('\n'); at != std::string_view::npos; at = octets.find('\n', at + 1))
    added += (at == 0 || octets[at - 1] != '\r');
  return octets.size() + added;
}

// The library's line check on every piece: a piece ends after its last LF, so it holds whole lines. A piece
// without an LF that is not the body's end holds a line longer than any 7bit or 8bit line may be.
bool isLineBody(const BodyOctets &body, kxInt cte) {
  PieceReader reader(body);
  for (std::string_view piece = reader.fill(); !piece.empty(); piece = reader.fill()) {
    const size_t lastLf = piece.rfind('\n');
    if (!reader.atEnd() && lastLf == std::string_view::npos) return false;
    const size_t length = reader.atEnd() ? piece.size() : lastLf + 1;
    if (!mimeContentTransferEncodingCheck(cte, bufferOf(piece.substr(0, length)).get())) return false;
    reader.consume(length);
  }
  return true;
}

kxInt base64Length(size_t octets, const mime::Options &opt) {
  Ref<RFC_BASE_OPTIONS> options = Ref<RFC_BASE_OPTIONS>::adopt(mimeOptionsRfcBaseOptions(opt.get()));
  const kxInt lineLength = rfcBaseOptionsOutputLineLength(options.get());
  const size_t characters = (octets + 2) / 3 * 4;
  if (lineLength == 0 || characters == 0) return static_cast<kxInt>(characters);
  const size_t perLine = lineLength < 4 ? 4 : static_cast<size_t>(lineLength) / 4 * 4;
  const size_t lines = (characters + perLine - 1) / perLine;
  return static_cast<kxInt>(characters + 2 * (lines - 1));
}

// Octets that quoted-printable escapes wherever they stand (not CR and LF, which may be a line break; not SP
// and HTAB, which are escaped only at a line's end): each adds two characters to the one every octet takes.
// A table, not <cctype>: locale-free and exactly this set.
constexpr auto kAlwaysEscaped = [] {
  std::array<unsigned char, 256> table{};
  for (unsigned c = 0; c < 256; ++c)
    table[c] = (c < 32 && c != '\t' && c != '\r' && c != '\n') || c == '=' || c >= 127;
  return table;
}();

// True when the escapes alone make quoted-printable longer than maxLength; counted in blocks only as far as
// needed (random octets give it away within a quarter of the body). Canonical line ends add only CRs, which
// are not counted, so the file's own octets are counted.
bool surelyLongerAsQuotedPrintable(const BodyOctets &body, size_t octets, size_t maxLength) {
  constexpr size_t kBlock = 64 * 1024;
  if (octets > maxLength) return true;
  const size_t allowed = (maxLength - octets) / 2;
  size_t escapes = 0;
  size_t released = 0;
  const std::string_view text = body.octets;
  for (size_t at = 0; at < text.size(); at += kBlock) {
    const size_t end = std::min(text.size(), at + kBlock);
    if (escapes + (text.size() - at) <= allowed) return false;
    for (size_t i = at; i < end; ++i) escapes += kAlwaysEscaped[static_cast<unsigned char>(text[i])];
    if (escapes > allowed) return true;
    releaseBefore(body, end, &released);
  }
  return false;
}

// True when the quoted-printable encoding is at most maxLength characters long: the pieces' exact lengths,
// given up as soon as what is counted and one character per octet left pass it.
bool quotedPrintableWithin(const BodyOctets &body, size_t octets, size_t maxLength,
                           const mime::Options &opt) {
  Ref<RFC_QUOP_OPTIONS> options = Ref<RFC_QUOP_OPTIONS>::adopt(mimeOptionsRfcQuopOptions(opt.get()));
  PieceReader reader(body);
  size_t length = 0;
  size_t left = octets;
  for (std::string_view piece = reader.fill(); !piece.empty(); piece = reader.fill()) {
    const QuotedPrintablePiece next = nextQuotedPrintablePiece(piece, reader.atEnd(), options.get(), false);
    length += next.length;
    left -= next.consumed;
    if (length + left > maxLength) return false;
    reader.consume(next.consumed);
  }
  return true;
}

// --- writing in pieces ---

void writeBase64(const BodyOctets &body, const mime::Options &opt,
                 const std::function<void(std::string_view)> &write) {
  Ref<RFC_BASE_OPTIONS> options = Ref<RFC_BASE_OPTIONS>::adopt(mimeOptionsRfcBaseOptions(opt.get()));
  const kxInt lineLength = rfcBaseOptionsOutputLineLength(options.get());
  const size_t perLine = lineLength == 0 ? 0 : lineLength < 4 ? 4 : static_cast<size_t>(lineLength) / 4 * 4;
  const size_t lineOctets = perLine == 0 ? 3 : perLine / 4 * 3;
  PieceReader reader(body, lineOctets + 1);
  bool first = true;
  for (std::string_view piece = reader.fill(); !piece.empty(); piece = reader.fill()) {
    const size_t length = reader.atEnd() ? piece.size() : piece.size() / lineOctets * lineOctets;
    const mime::Buffer encoded(Ref<KX_BUFFER>::adopt(rfcBaseEncodeWithOptions(
        bufferOf(piece.substr(0, length)).get(), RFC_BASE_SELECTOR_MIME, options.get())));
    if (!first && perLine != 0) write(kCrLf);
    write(encoded.view());
    first = false;
    reader.consume(length);
  }
}

void writeQuotedPrintable(const BodyOctets &body, const mime::Options &opt,
                          const std::function<void(std::string_view)> &write) {
  Ref<RFC_QUOP_OPTIONS> options = Ref<RFC_QUOP_OPTIONS>::adopt(mimeOptionsRfcQuopOptions(opt.get()));
  PieceReader reader(body);
  for (std::string_view piece = reader.fill(); !piece.empty(); piece = reader.fill()) {
    const QuotedPrintablePiece next = nextQuotedPrintablePiece(piece, reader.atEnd(), options.get(), true);
    write(next.text);
    reader.consume(next.consumed);
  }
}

std::string quotedPrintableOf(std::string_view octets, RFC_QUOP_OPTIONS *options) {
  return mime::Buffer(Ref<KX_BUFFER>::adopt(rfcQuopEncodeWithOptions(bufferOf(octets).get(), options)))
      .toString();
}

// The input octets that a stretch of quoted-printable text without hard line breaks encodes: one per literal
// character, one per escape, none for a soft line break.
size_t octetsEncodedBy(std::string_view text) {
  size_t octets = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t equals = std::min(text.find('=', at), text.size());
    octets += equals - at;
    if (equals == text.size()) break;
    octets += text[equals + 1] != '\r';
    at = equals + 3;
  }
  return octets;
}

// The next piece of the quoted-printable encoding: the rest of the body at its end; else its octets up to
// and with the last CR LF; else (a line longer than the piece) the encoding of the line as far as its last
// soft line break that encoding the whole line also makes there. Encoding the piece's octets but the last
// three with an "A" after them places every octet as in the whole line (none of them ends the line, as
// none does there), so every soft break before the "A" is one the whole line has; the "A" itself fits
// where any octet fits. Without soft line breaks (line length 0) the cut is before the "A".
QuotedPrintablePiece nextQuotedPrintablePiece(std::string_view octets, bool atEnd, RFC_QUOP_OPTIONS *options,
                                              bool withText) {
  const size_t lastCrLf = atEnd ? std::string_view::npos : octets.rfind(kCrLf);
  if (atEnd || lastCrLf != std::string_view::npos) {
    const std::string_view lines = atEnd ? octets : octets.substr(0, lastCrLf + 2);
    if (!withText) {
      return {lines.size(), {}, static_cast<size_t>(rfcQuopEncodedLength(bufferOf(lines).get(), options))};
    }
    std::string text = quotedPrintableOf(lines, options);
    const size_t length = text.size();
    return {lines.size(), std::move(text), length};
  }
  std::string probe(octets.substr(0, octets.size() - 3));
  probe += 'A';
  std::string text = quotedPrintableOf(probe, options);
  const size_t softBreak =
      rfcQuopOptionsOutputLineLength(options) == 0 ? std::string::npos : text.rfind(kSoftBreak);
  const size_t cut = softBreak == std::string::npos ? text.size() - 1 : softBreak + kSoftBreak.size();
  const size_t consumed = softBreak == std::string::npos
                              ? probe.size() - 1
                              : octetsEncodedBy(std::string_view(text).substr(0, cut));
  text.resize(cut);
  return {consumed, withText ? std::move(text) : std::string(), cut};
}

}  // namespace

}  // namespace mimetool

// mimetool's pack.
//
// message   := header-block CRLF 1*( delimiter CRLF part ) close-delimiter CRLF
// delimiter := "--" boundary        ; every delimiter but the first follows the CR LF that ends a body
// part      := part-header CRLF body CRLF
// The library's packer joins parts it holds all at once; here each file is mapped, its transfer encoding
// chosen and its body checked against the boundary drawn first, then its encoded body written a piece at a
// time (mimetool_body), so that pack holds a piece of a file, never an encoded body.
#include "mimetool_pack.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "mimetool_body.hpp"

namespace mimetool {

namespace {

constexpr std::string_view kCrLf = "\r\n";
constexpr size_t kFoldAt = 76;        // fold header lines after this many characters where a space allows
constexpr size_t kLongestLine = 998;  // no header line may be longer, folded or not
constexpr std::string_view kBoundaryPrefix = "=_";  // "=_" stands in no Base64 or quoted-printable text

void checkReadable(const std::string &path);
std::string drawBoundary();
std::string messageHeader(const PackRequest &request, const mime::ContentType &multipart,
                          std::string_view transferEncoding, const mime::Options &opt);
mime::ContentType typeOfFile(const PackedFile &file, std::string_view octets, bool inMessage);
// The output, with small writes gathered: a part of a small file costs one write, not four.
class GatheredOutput {
 public:
  explicit GatheredOutput(OutputFile *output) : output_(output) {}
  void write(std::string_view octets) {
    if (pending_.size() + octets.size() > kGathered) flush();
    if (octets.size() > kGathered) {
      output_->write(octets);
    } else {
      pending_ += octets;
    }
  }
  void flush() {
    output_->write(pending_);
    pending_.clear();
  }

 private:
  static constexpr size_t kGathered = 64 * 1024;
  OutputFile *output_;
  std::string pending_;
};

void writePart(const PackedFile &file, const PackRequest &request, const mime::Options &opt,
               std::string_view dashBoundary, GatheredOutput *output);
std::string partHeader(const mime::Entity &entity, std::string_view transferEncoding,
                       const mime::ContentDisposition &disposition, const mime::Options &opt);
mime::ContentDisposition attachmentNamed(std::string_view name);
std::string foldedField(std::string_view name, std::string_view value);
std::string dateNow();
std::string_view transferEncodingOfMessage(const mime::Options &opt);

}  // namespace

mime::Entity filePart(const PackedFile &file, const mime::Options &opt) {
  const mime::Buffer body(readFile(file.path));
  const mime::ContentType type = typeOfFile(file, body.view(), false);
  return *mime::encode(opt, body, type, mime::generateContentId());
}

std::optional<std::string> unwritableFieldValue(std::string_view value, bool unstructured) {
  for (const char c : value) {
    const auto octet = static_cast<unsigned char>(c);
    if (octet == '\r' || octet == '\n') return "a line break would end the header field early";
    if ((octet < 0x20 && octet != '\t') || octet == 0x7F) return "it holds a control character";
    if (octet >= 0x80 && !unstructured) return "only ASCII text can be written there";
  }
  if (!isUtf8(value)) return "it is no UTF-8 text";
  return std::nullopt;
}

void packMessage(const PackRequest &request, const mime::Options &opt, OutputFile *output) {
  for (const PackedFile &file : request.files) checkReadable(file.path);
  const std::string_view messageEncoding = transferEncodingOfMessage(opt);
  mime::ContentType multipart = request.multipart;
  const std::string boundary = drawBoundary();
  multipart.setParameter("boundary", boundary);
  output->write(messageHeader(request, multipart, messageEncoding, opt));

  const std::string dashBoundary = "--" + boundary;
  GatheredOutput gathered(output);
  for (const PackedFile &file : request.files) writePart(file, request, opt, dashBoundary, &gathered);
  gathered.write(dashBoundary + "--\r\n");
  gathered.flush();
}

namespace {

// --- the message header ---

// A missing or unreadable file is reported before anything is written (reading it later may still fail).
void checkReadable(const std::string &path) {
  if (path == "-") return;  // standard input
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) throw Failure(path + ": " + std::strerror(errno));
  if (S_ISDIR(info.st_mode)) throw Failure(path + ": is a directory");
}

// 22 random letters and digits behind "=_": a body the library encodes as Base64 or quoted-printable never
// holds it, and a body sent as it is holds it only by a chance of about 2^-130.
std::string drawBoundary() {
  std::string boundary(kBoundaryPrefix);
  for (int i = 0; i < 2; ++i) {
    boundary += mime::String(mime::Ref<KX_STRING>::adopt(mimeMultipartBoundaryGenerate())).utf8();
  }
  return boundary.substr(0, kBoundaryPrefix.size() + 22);
}

std::string messageHeader(const PackRequest &request, const mime::ContentType &multipart,
                          std::string_view transferEncoding, const mime::Options &opt) {
  std::string header;
  for (const MessageField &field : request.fields) {
    // Subject is free text: RFC 2047 encoded words carry what is not ASCII (and "=?"), folded by the options.
    header +=
        field.name == "Subject"
            ? "Subject: " + mime::encodeEncodedWords(field.value, opt, std::string_view("Subject: ").size()) +
                  "\r\n"
            : foldedField(field.name, field.value);
  }
  header += foldedField("Date", dateNow());
  header += foldedField("Message-ID", "<" + mime::generateContentId() + ">");
  header += "MIME-Version: 1.0\r\n";
  header += "Content-Type: " + multipart.encode(opt) + "\r\n";
  header += "Content-Transfer-Encoding: " + std::string(transferEncoding) + "\r\n";
  header += kCrLf;
  return header;
}

// The part's fields as the library encodes them (folded), then the blank line.
std::string partHeader(const mime::Entity &entity, std::string_view transferEncoding,
                       const mime::ContentDisposition &disposition, const mime::Options &opt) {
  std::string header;
  if (auto value = entity.contentType()) header += "Content-Type: " + *value + "\r\n";
  header += "Content-Transfer-Encoding: " + std::string(transferEncoding) + "\r\n";
  if (auto value = entity.contentId()) header += "Content-Id: " + *value + "\r\n";
  header += "Content-Disposition: " + disposition.encode(opt) + "\r\n";
  header += kCrLf;
  return header;
}

// "attachment; filename=..." (RFC 2231 form when the name needs it): a file to save, not the message's text.
mime::ContentDisposition attachmentNamed(std::string_view name) {
  mime::ContentDisposition disposition = *mime::ContentDisposition::create("attachment");
  disposition.setFilename(name);
  return disposition;
}

// "Name: value" CR LF, folded before a space once a line grows past kFoldAt characters (a fold keeps the
// space: CR LF SP). Throws Failure when a word leaves a line longer than a header line may be.
std::string foldedField(std::string_view name, std::string_view value) {
  std::string out(name);
  out += ':';
  size_t lineStart = 0;
  bool lineHasWord = false;
  const std::string text = " " + std::string(value);
  for (size_t at = 0; at < text.size();) {
    const size_t wordStart = std::min(text.find_first_not_of(' ', at), text.size());
    const size_t wordEnd = std::min(text.find(' ', wordStart), text.size());
    const std::string_view piece = std::string_view(text).substr(at, wordEnd - at);  // spaces, then a word
    if (lineHasWord && out.size() - lineStart + piece.size() > kFoldAt) {
      out += kCrLf;
      lineStart = out.size();
    }
    out += piece;
    if (out.size() - lineStart > kLongestLine)
      throw Failure(std::string(name) + ": a word too long for a header line");
    lineHasWord = true;
    at = wordEnd;
  }
  out += kCrLf;
  return out;
}

// The local time as RFC 5322 writes it: "Sun, 06 Dec 2026 18:50:00 +0100" (C locale names).
std::string dateNow() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  static constexpr const char *kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char *kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char zone[8];
  std::strftime(zone, sizeof zone, "%z", &local);
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %s", kDays[local.tm_wday], local.tm_mday,
                kMonths[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec, zone);
  return text;
}

// What the multipart body may hold, known before any part is encoded: the library writes bodies as they are
// only under the eight-bit flag (labelled binary), and raw UTF-8 parameters only under the Unicode flag
// without RFC 2231; everything else is 7bit.
std::string_view transferEncodingOfMessage(const mime::Options &opt) {
  const kxInt flags = opt.flags();
  if (flags & MIME_FLAG_GENERATE_EIGHT_BIT_BODY) return "binary";
  if ((flags & MIME_FLAG_GENERATE_UNICODE_HEADERS) && !(flags & MIME_FLAG_GENERATE_RFC2231_HEADERS))
    return "8bit";
  return "7bit";
}

// --- parts ---

// The file's content type: the given one, else from its extension; text gets the charset its octets show
// (US-ASCII or UTF-8; line ends do not change it) and the file's name in "name", and in "filename" too
// unless inMessage (a message names it in the part's Content-Disposition).
mime::ContentType typeOfFile(const PackedFile &file, std::string_view octets, bool inMessage) {
  const std::string name = baseName(file.path);
  mime::ContentType type = file.type.value_or(*mime::ContentType::create(mediaTypeForFileName(name)));
  if (type.name().starts_with("text/") && !type.parameter("charset")) {
    if (std::all_of(octets.begin(), octets.end(), [](char c) { return (c & 0x80) == 0; })) {
      type.setParameter("charset", "us-ascii");
    } else if (isUtf8(octets)) {
      type.setParameter("charset", "utf-8");
    }
  }
  // "name" is the parameter older readers take from the Content-Type.
  type.setParameter("name", name);
  if (!inMessage) type.setParameter("filename", name);
  return type;
}

// One part: the delimiter line, the header, the encoded body. The transfer encoding is chosen and an
// unencoded body checked for the boundary before anything of the part is written. Base64 and
// quoted-printable text never holds the boundary: neither writes "=_" (Base64 has no "_", and
// quoted-printable writes "=" only to start an escape or a soft line break).
void writePart(const PackedFile &file, const PackRequest &request, const mime::Options &opt,
               std::string_view dashBoundary, GatheredOutput *output) {
  const FileOctets octets(file.path);
  const mime::ContentType type = typeOfFile(file, octets.view(), true);
  octets.giveBackPages();  // a text file's charset was read from all of it
  const BodyOctets body{octets.view(), !request.textAsItIs && type.name().starts_with("text/"),
                        octets.mapped()};
  const kxInt cte = chooseTransferEncoding(body, type.isMultipart(), opt);
  const bool unencoded =
      cte != MIME_CONTENT_TRANSFER_ENCODING_BASE64 && cte != MIME_CONTENT_TRANSFER_ENCODING_QUOTED_PRINTABLE;
  if (unencoded && holdsDelimiterLine(body, dashBoundary))
    throw Failure(file.path + ": holds the boundary drawn for the message by chance; run pack again");
  const mime::Entity fields = *mime::encode(opt, nullptr, &type, mime::generateContentId());
  const auto offset = static_cast<kxInt>(std::string_view("Content-Transfer-Encoding: ").size());
  const std::string transferEncoding =
      mime::String(mime::Ref<KX_STRING>::adopt(mimeContentTransferEncodingEncode(cte, opt.get(), offset)))
          .utf8();
  output->write(std::string(dashBoundary) + "\r\n" +
                partHeader(fields, transferEncoding, attachmentNamed(baseName(file.path)), opt));
  writeEncodedBody(body, cte, opt, [output](std::string_view piece) { output->write(piece); });
  output->write(kCrLf);
}

}  // namespace

}  // namespace mimetool

// Inputs and checks of the peer comparison. The reference Base64 and quoted-printable codecs below are
// deliberately plain: they run once per process (inputs) or once per benchmark (checks), never in a timed
// loop, and they must be obviously right rather than fast.
#include "peer_workloads.hpp"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <utility>

namespace peers {

namespace {

constexpr std::size_t kMiB = std::size_t{1} << 20;
constexpr std::size_t kLineLength = 76;
// 3360 full lines of 76 characters (57 octets each) and one of 64 characters (48 octets): 256 KiB of text.
constexpr std::size_t kPartOctets = 3360 * 57 + 48;

std::string randomOctets(std::size_t size, std::uint64_t seed);
std::string mostlyText(std::size_t size, std::uint64_t seed);
std::string referenceBase64(std::string_view data, std::string_view lineEnd,
                            std::size_t lineLength = kLineLength);
std::string referenceQuotedPrintable(std::string_view text);
std::string decodeBase64(std::string_view text);
std::string decodeQuotedPrintable(std::string_view text);
std::string firstDifference(std::string_view got, std::string_view expected, std::string_view what);
std::string checkLines(std::string_view encoded, LineEnd lineEnd, bool base64, std::size_t *longest);
MultipartInput buildMultipart();
ReaderInput buildAttachments();
ReaderInput buildSmallParts();
ReaderInput loadCorpus();
std::string compareReadings(const std::vector<MessageLeaves> &messages, const ReaderInput &input,
                            std::size_t *agreeing, std::size_t *octets);
std::string_view lineEndText(LineEnd lineEnd) {
  return lineEnd == LineEnd::CrLf ? "\r\n" : "\n";
}

}  // namespace

// --- workloads ---

std::string_view workloadName(Workload workload) {
  switch (workload) {
    case Workload::Base64Encode:
      return "base64_encode";
    case Workload::Base64Decode:
      return "base64_decode";
    case Workload::QuotedPrintableEncodeText:
      return "qp_encode_text";
    case Workload::QuotedPrintableEncodeBinary:
      return "qp_encode_binary";
    case Workload::QuotedPrintableDecodeText:
      return "qp_decode_text";
    case Workload::ChooseEncodeBinary1MiB:
      return "choose_encode_binary_1MiB";
    case Workload::ChooseEncodeBinary16MiB:
      return "choose_encode_binary_16MiB";
    case Workload::ChooseEncodeText16MiB:
      return "choose_encode_text_16MiB";
    case Workload::ChooseDecodeBinary1MiB:
      return "choose_decode_binary_1MiB";
    case Workload::ChooseDecodeBinary16MiB:
      return "choose_decode_binary_16MiB";
    case Workload::ChooseDecodeText16MiB:
      return "choose_decode_text_16MiB";
    case Workload::MultipartUnpack:
      return "multipart_unpack";
    case Workload::MultipartPack:
      return "multipart_pack";
    case Workload::ContentTypeDecode:
      return "content_type_decode";
    case Workload::ContentTypeEncode:
      return "content_type_encode";
    case Workload::ContentTypeDecodeOctets:
      return "content_type_decode_octets";
    case Workload::ContentDispositionDecodeOctets:
      return "content_disposition_decode_octets";
    case Workload::ReadAttachments:
      return "read_attachments_20x5MiB";
    case Workload::ReadSmallParts:
      return "read_small_parts_20000";
    case Workload::ReadPythonCorpus:
      return "read_python_corpus";
  }
  return "unknown";
}

std::size_t workloadOctets(Workload workload) {
  switch (workload) {
    case Workload::ChooseEncodeBinary1MiB:
    case Workload::ChooseDecodeBinary1MiB:
      return binary1MiB().size();
    case Workload::MultipartUnpack:
    case Workload::MultipartPack:
      return multipart().body.size();
    case Workload::ContentTypeDecode:
    case Workload::ContentTypeEncode:
    case Workload::ContentTypeDecodeOctets:
      return kContentTypeValue.size();
    case Workload::ContentDispositionDecodeOctets:
      return kContentDispositionValue.size();
    case Workload::ReadAttachments:
    case Workload::ReadSmallParts:
    case Workload::ReadPythonCorpus:
      return readerInput(workload).octets;
    default:
      return 16 * kMiB;
  }
}

bool countsOperations(Workload workload) {
  return workload == Workload::ContentTypeDecode || workload == Workload::ContentTypeEncode ||
         workload == Workload::ContentTypeDecodeOctets ||
         workload == Workload::ContentDispositionDecodeOctets;
}

bool readsMessages(Workload workload) {
  return workload == Workload::ReadAttachments || workload == Workload::ReadSmallParts ||
         workload == Workload::ReadPythonCorpus;
}

// --- inputs ---

std::string_view binary16MiB() {
  static const std::string data = randomOctets(16 * kMiB, 2045);
  return data;
}

std::string_view binary1MiB() {
  static const std::string data = randomOctets(kMiB, 1);
  return data;
}

std::string_view text16MiB() {
  static const std::string data = mostlyText(16 * kMiB, 2046);
  return data;
}

std::string_view base64Text(LineEnd lineEnd, std::size_t lineLength) {
  static std::map<std::pair<LineEnd, std::size_t>, std::string> texts;
  std::string &text = texts[{lineEnd, lineLength}];
  if (text.empty()) text = referenceBase64(binary16MiB(), lineEndText(lineEnd), lineLength);
  return text;
}

std::string_view quotedPrintableText() {
  static const std::string text = referenceQuotedPrintable(text16MiB());
  return text;
}

std::string_view chooseBody(Workload workload, bool *text) {
  const bool isText =
      workload == Workload::ChooseEncodeText16MiB || workload == Workload::ChooseDecodeText16MiB;
  if (text) *text = isText;
  if (isText) return text16MiB();
  const bool small =
      workload == Workload::ChooseEncodeBinary1MiB || workload == Workload::ChooseDecodeBinary1MiB;
  return small ? binary1MiB() : binary16MiB();
}

const MultipartInput &multipart() {
  static const MultipartInput input = buildMultipart();
  return input;
}

const ReaderInput &readerInput(Workload workload) {
  static const ReaderInput attachments = buildAttachments();
  static const ReaderInput smallParts = buildSmallParts();
  static const ReaderInput corpus = loadCorpus();
  switch (workload) {
    case Workload::ReadAttachments:
      return attachments;
    case Workload::ReadSmallParts:
      return smallParts;
    default:
      return corpus;
  }
}

// --- checks ---

Verdict judgeBase64(std::string_view encoded, LineEnd lineEnd, std::size_t lineLength) {
  const std::string_view expected = base64Text(lineEnd, lineLength);
  const std::string_view end = lineEndText(lineEnd);
  const std::size_t size = encoded.size();
  if (size == expected.size() + end.size() && encoded.ends_with(end)) encoded.remove_suffix(end.size());
  return {firstDifference(encoded, expected, "Base64 text"), sizeNote(size)};
}

Verdict judgeDecoded(std::string_view decoded, std::string_view original, bool text) {
  std::string error = firstDifference(decoded, original, "decoded octets");
  if (error.empty() || !text) return {error, {}};
  if (firstDifference(decoded, toLf(original), "").empty()) return {{}, "LF line ends"};
  return {error, {}};
}

Verdict judgeQuotedPrintable(std::string_view encoded, std::string_view original, bool text,
                             LineEnd lineEnd) {
  Verdict verdict{{}, sizeNote(encoded.size())};
  std::size_t longest = 0;
  verdict.error = checkLines(encoded, lineEnd, false, &longest);
  if (longest > kLineLength) verdict.note += ", lines up to " + std::to_string(longest);
  if (!verdict.error.empty()) return verdict;
  const std::string decoded = decodeQuotedPrintable(encoded);
  verdict.error = text ? firstDifference(toLf(decoded), toLf(original), "decoded text (line ends as LF)")
                       : firstDifference(decoded, original, "decoded octets");
  return verdict;
}

Verdict judgeTransferEncoded(std::string_view cte, std::string_view encoded, std::string_view original,
                             bool text, LineEnd lineEnd) {
  std::string name(cte);
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  Verdict verdict;
  if (name == "quoted-printable") {
    verdict = judgeQuotedPrintable(encoded, original, text, lineEnd);
  } else if (name == "7bit") {
    verdict = {firstDifference(encoded, original, "7bit body"), sizeNote(encoded.size())};
  } else if (name == "base64") {
    std::size_t longest = 0;
    verdict = {checkLines(encoded, lineEnd, true, &longest), sizeNote(encoded.size())};
    if (longest > kLineLength) verdict.note += ", lines up to " + std::to_string(longest);
    if (verdict.error.empty())
      verdict.error = firstDifference(decodeBase64(encoded), original, "decoded octets");
  } else {
    verdict = {"chose \"" + name + "\", which may not travel as 7bit", {}};
  }
  verdict.note = name + ", " + verdict.note;
  return verdict;
}

std::string checkParts(const std::vector<std::string_view> &bodies) {
  const auto &expected = multipart().partBodies;
  if (bodies.size() != expected.size())
    return std::to_string(bodies.size()) + " parts instead of " + std::to_string(expected.size());
  for (std::size_t i = 0; i < bodies.size(); ++i) {
    std::string error = firstDifference(bodies[i], expected[i], "part " + std::to_string(i) + " body");
    if (!error.empty()) return error;
  }
  return {};
}

std::string checkPacked(std::string_view packed, LineEnd lineEnd) {
  const std::string end(lineEndText(lineEnd));
  const std::string delimiter = "--" + std::string(kBoundary);
  std::size_t at = 0;
  for (int i = 0; i < kParts; ++i) {
    const std::string part = "part " + std::to_string(i);
    at = packed.find(delimiter + end, at);
    if (at == std::string_view::npos) return part + ": no delimiter line";
    const std::size_t headerEnd = packed.find(end + end, at);
    if (headerEnd == std::string_view::npos) return part + ": no blank line after the header";
    const std::string_view header = packed.substr(at, headerEnd - at);
    if (header.find("base64") == std::string_view::npos && header.find("BASE64") == std::string_view::npos)
      return part + ": no Base64 Content-Transfer-Encoding";
    const std::size_t bodyStart = headerEnd + 2 * end.size();
    if (bodyStart > packed.size()) return part + ": no body";
    const std::string body = lineEnd == LineEnd::CrLf
                                 ? multipart().partBodies[static_cast<std::size_t>(i)]
                                 : toLf(multipart().partBodies[static_cast<std::size_t>(i)]);
    const std::string_view got = packed.substr(bodyStart, std::min(body.size(), packed.size() - bodyStart));
    if (std::string error = firstDifference(got, body, part + " body"); !error.empty()) return error;
    at = bodyStart + body.size();
    if (packed.substr(at, end.size() + delimiter.size()) != end + delimiter)
      return part + ": body not followed by a delimiter";
  }
  if (packed.substr(at + end.size(), delimiter.size() + 2) != delimiter + "--") return "no close delimiter";
  return {};
}

std::string checkContentType(const ContentTypeFields &fields) {
  const auto compare = [](std::string_view what, const std::string &got, std::string_view expected) {
    if (got == expected) return std::string();
    return std::string(what) + " is \"" + got + "\", not \"" + std::string(expected) + "\"";
  };
  for (std::string error : {compare("type", fields.mediaType, "multipart/mixed"),
                            compare("boundary", fields.boundary, "----=_Part_123_456.789"),
                            compare("charset", fields.charset, "utf-8"),
                            compare("RFC 2231 title", fields.title, "\xE2\x82\xAC rates for you"),
                            compare("format", fields.format, "flowed")})
    if (!error.empty()) return error;
  return {};
}

std::string checkContentDisposition(const ContentDispositionFields &fields) {
  const auto compare = [](std::string_view what, const std::string &got, std::string_view expected) {
    if (got == expected) return std::string();
    return std::string(what) + " is \"" + got + "\", not \"" + std::string(expected) + "\"";
  };
  for (std::string error :
       {compare("type", fields.type, "attachment"),
        compare("RFC 2231 filename", fields.filename, "\xE2\x82\xAC rates for the second quarter.pdf"),
        compare("size", fields.size, "12345"),
        compare("creation-date", fields.creationDate, "Wed, 12 Feb 1997 16:29:51 -0500")})
    if (!error.empty()) return error;
  return {};
}

namespace {
std::function<std::vector<std::vector<std::string>>()> corpusReference;
const std::vector<std::vector<std::string>> &referenceReading() {
  static const auto reading = corpusReference ? corpusReference() : std::vector<std::vector<std::string>>();
  return reading;
}
}  // namespace

void setCorpusReference(std::function<std::vector<std::vector<std::string>>()> read) {
  corpusReference = std::move(read);
}

Verdict checkReader(Workload workload, const std::vector<MessageLeaves> &messages) {
  const ReaderInput &input = readerInput(workload);
  if (messages.size() != input.messages.size())
    return {std::to_string(messages.size()) + " messages read of " + std::to_string(input.messages.size()),
            {}};
  std::size_t leaves = 0;
  for (const MessageLeaves &message : messages) leaves += message.size();
  const std::string note = std::to_string(leaves) + " leaves";
  if (workload != Workload::ReadPythonCorpus) {
    std::vector<std::string_view> all;
    for (const MessageLeaves &message : messages) all.insert(all.end(), message.begin(), message.end());
    if (all.size() != input.leaves.size())
      return {std::to_string(all.size()) + " leaves instead of " + std::to_string(input.leaves.size()), note};
    for (std::size_t i = 0; i < all.size(); ++i)
      if (std::string error = firstDifference(all[i], input.leaves[i], "leaf " + std::to_string(i));
          !error.empty())
        return {error, note};
    return {{}, note};
  }
  std::size_t agreeing = 0, octets = 0;
  const std::string differences = compareReadings(messages, input, &agreeing, &octets);
  std::size_t referenceOctets = 0;
  for (const auto &message : referenceReading())
    for (const std::string &leaf : message) referenceOctets += leaf.size();
  Verdict verdict{{},
                  note + ", agrees on " + std::to_string(agreeing) + " of " +
                      std::to_string(messages.size()) + differences};
  if (agreeing * 3 < messages.size() * 2) verdict.error = "agrees on too few messages: " + verdict.note;
  if (octets * 3 < referenceOctets * 2)
    verdict.error = "decodes " + std::to_string(octets) + " octets of " + std::to_string(referenceOctets) +
                    ": " + verdict.note;
  return verdict;
}

std::string checkSevenBit(std::string_view text) {
  const auto high = std::find_if(text.begin(), text.end(), [](char c) { return (c & 0x80) != 0; });
  if (high == text.end()) return {};
  return "octet above 127 at offset " + std::to_string(high - text.begin()) + " (not RFC 2231 form)";
}

// --- helpers ---

std::string sizeNote(std::size_t octets) {
  char text[48];
  if (octets >= kMiB)
    std::snprintf(text, sizeof text, "%.2f MiB out", static_cast<double>(octets) / static_cast<double>(kMiB));
  else
    std::snprintf(text, sizeof text, "%zu octets out", octets);
  return text;
}

std::string toLf(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
  return out;
}

namespace {

// --- input generators ---

std::string randomOctets(std::size_t size, std::uint64_t seed) {
  std::mt19937_64 random(seed);
  std::string data(size, '\0');
  for (std::size_t i = 0; i < size; i += 8) {
    const std::uint64_t word = random();
    std::memcpy(data.data() + i, &word, std::min<std::size_t>(8, size - i));
  }
  return data;
}

// Words and spaces in lines of 66 to 74 octets ending in CR LF, 3 % of the octets above 127: the shape of
// a European-language mail body, which quoted-printable encodes shorter than Base64.
std::string mostlyText(std::size_t size, std::uint64_t seed) {
  static constexpr std::string_view kLetters = "etaoinshrdlucmfwypvbgkqjxz.,ETAOIN";
  std::mt19937_64 random(seed);
  std::string data(size, '\0');
  std::size_t column = 0;
  std::size_t lineLength = 70;
  for (std::size_t i = 0; i < size; ++i) {
    if (column >= lineLength && i + 1 < size) {
      data[i++] = '\r';
      data[i] = '\n';
      column = 0;
      lineLength = 66 + random() % 9;
      continue;
    }
    const unsigned roll = static_cast<unsigned>(random() % 100);
    data[i] = roll < 3 ? static_cast<char>(128 + random() % 128)
                       : (roll < 18 ? ' ' : kLetters[random() % kLetters.size()]);
    ++column;
  }
  return data;
}

MultipartInput buildMultipart() {
  MultipartInput input;
  const std::string delimiter = "--" + std::string(kBoundary);
  const std::string header = "Content-Type: " + std::string(kPartContentType) +
                             "\r\nContent-Transfer-Encoding: " + std::string(kPartTransferEncoding) +
                             "\r\n\r\n";
  for (int i = 0; i < kParts; ++i) {
    input.partBodies.push_back(
        referenceBase64(randomOctets(kPartOctets, 100 + static_cast<unsigned>(i)), "\r\n"));
    input.body += delimiter + "\r\n" + header + input.partBodies.back() + "\r\n";
  }
  input.body += delimiter + "--\r\n";
  input.entity =
      "Content-Type: multipart/mixed; boundary=\"" + std::string(kBoundary) + "\"\r\n\r\n" + input.body;
  return input;
}

// 20 parts of 5 MiB of random octets each, Base64 in lines of 76 ended by CR LF, named in both
// Content-Type and Content-Disposition, as a mail client sends files.
ReaderInput buildAttachments() {
  ReaderInput input;
  std::string m =
      "From: a@example.com\r\nTo: b@example.com\r\nSubject: files\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"=_frontier_0123\"\r\n\r\nThis is a MIME message.\r\n";
  for (int i = 0; i < 20; ++i) {
    input.leaves.push_back(randomOctets(5 * kMiB, 500 + static_cast<unsigned>(i)));
    // Appended piece by piece: GCC 12 at -O3 reports a false -Wrestrict for some "literal" + std::string
    // chains.
    const std::string name = std::string("f").append(std::to_string(i)).append(".bin");
    m.append("--=_frontier_0123\r\nContent-Type: application/octet-stream; name=\"").append(name);
    m.append("\"\r\nContent-Disposition: attachment; filename=\"").append(name);
    m.append("\"\r\nContent-Transfer-Encoding: base64\r\n\r\n");
    m.append(referenceBase64(input.leaves.back(), "\r\n")).append("\r\n");
  }
  m += "--=_frontier_0123--\r\n";
  input.octets = m.size();
  input.messages.push_back(std::move(m));
  input.names.push_back("attachments");
  return input;
}

// 20,000 text parts of one line each, each with its own Content-Type and Content-Transfer-Encoding.
ReaderInput buildSmallParts() {
  ReaderInput input;
  std::string m =
      "From: a@example.com\r\nSubject: parts\r\nMIME-Version: 1.0\r\n"
      "Content-Type: multipart/mixed; boundary=\"=_frontier_0123\"\r\n\r\n";
  for (int i = 0; i < 20000; ++i) {
    input.leaves.push_back("Part " + std::to_string(i) + " says hello.");
    m += "--=_frontier_0123\r\nContent-Type: text/plain; charset=utf-8\r\n"
         "Content-Transfer-Encoding: 7bit\r\n\r\n" +
         input.leaves.back() + "\r\n";
  }
  m += "--=_frontier_0123--\r\n";
  input.octets = m.size();
  input.messages.push_back(std::move(m));
  input.names.push_back("small parts");
  return input;
}

ReaderInput loadCorpus() {
  ReaderInput input;
  const char *directory = std::getenv("PEER_EMAIL_CORPUS");
  std::error_code error;
  if (!directory || !std::filesystem::is_directory(directory, error)) return input;
  std::vector<std::filesystem::path> files;
  for (const auto &entry : std::filesystem::directory_iterator(directory, error)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with("msg_") && name.ends_with(".txt")) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  for (const auto &file : files) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    input.messages.push_back(text.str());
    input.octets += input.messages.back().size();
    input.names.push_back(file.filename().string());
  }
  return input;
}

// --- reference codecs ---

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string referenceBase64(std::string_view data, std::string_view lineEnd, std::size_t lineLength) {
  std::string out;
  out.reserve(data.size() / 3 * 4 / lineLength * (lineLength + lineEnd.size()) + lineLength + 4);
  std::size_t column = 0;
  for (std::size_t i = 0; i < data.size(); i += 3) {
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << 16;
    if (i + 1 < data.size())
      group |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i + 1])) << 8;
    if (i + 2 < data.size()) group |= static_cast<unsigned char>(data[i + 2]);
    if (column == lineLength) {
      out += lineEnd;
      column = 0;
    }
    out += kAlphabet[group >> 18];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < data.size() ? kAlphabet[group & 63] : '=';
    column += 4;
  }
  return out;
}

// CR LF hard breaks; octets 33-126 but "=" as they are, SP and HTAB too unless they end a line; every
// other octet escaped; a soft break whenever the next token would take the line past 75 characters, so
// that a line with its "=" never passes 76.
std::string referenceQuotedPrintable(std::string_view text) {
  static constexpr std::string_view kHex = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  std::size_t column = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += "\r\n";
      column = 0;
      ++i;
      continue;
    }
    const bool endsLine = i + 1 == text.size() || text[i + 1] == '\r';
    const bool literal = (c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !endsLine);
    const std::size_t width = literal ? 1 : 3;
    if (column + width > kLineLength - 1) {
      out += "=\r\n";
      column = 0;
    }
    if (literal) {
      out += static_cast<char>(c);
    } else {
      out += '=';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
    column += width;
  }
  return out;
}

int base64Value(char c) {
  const std::size_t at = kAlphabet.find(c);
  return at == std::string_view::npos ? -1 : static_cast<int>(at);
}

std::string decodeBase64(std::string_view text) {
  std::string out;
  out.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    if (c == '=') break;
    const int value = base64Value(c);
    if (value < 0) continue;
    bits = (bits << 6) | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>(bits >> 8);
      out += static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  if (count >= 2) out += static_cast<char>(bits >> (6 * count - 8));
  if (count == 3) out += static_cast<char>(bits >> 2);
  return out;
}

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Soft breaks ("=" CR LF or "=" LF) removed, escapes decoded, everything else kept as it stands.
std::string decodeQuotedPrintable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '=') {
      out += text[i];
    } else if (text.substr(i + 1, 2) == "\r\n") {
      i += 2;
    } else if (text.substr(i + 1, 1) == "\n") {
      i += 1;
    } else if (i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
      i += 2;
    } else {
      out += '=';
    }
  }
  return out;
}

// --- check helpers ---

// Holds each message's reading to the reference's: *agreeing counts the messages with the same leaves,
// *octets the decoded octets read; returns "" or ", differs on <names>" (the first few).
std::string compareReadings(const std::vector<MessageLeaves> &messages, const ReaderInput &input,
                            std::size_t *agreeing, std::size_t *octets) {
  const auto &reference = referenceReading();
  std::string differences;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    for (std::string_view leaf : messages[i]) *octets += leaf.size();
    const bool same = i < reference.size() && reference[i].size() == messages[i].size() &&
                      std::equal(messages[i].begin(), messages[i].end(), reference[i].begin());
    if (same) {
      ++*agreeing;
    } else {
      differences += (differences.empty() ? ", differs on " : " ") + input.names[i];
    }
  }
  return differences;
}

std::string firstDifference(std::string_view got, std::string_view expected, std::string_view what) {
  const auto [gotAt, expectedAt] = std::mismatch(got.begin(), got.end(), expected.begin(), expected.end());
  if (gotAt == got.end() && expectedAt == expected.end()) return {};
  return std::string(what) + " differ from the expected at offset " + std::to_string(gotAt - got.begin()) +
         " (" + std::to_string(got.size()) + " octets, expected " + std::to_string(expected.size()) + ")";
}

// Every line ended as lineEnd says (the last may lack its end), holding only printable ASCII or HTAB (or
// only the Base64 alphabet and "="), with no SP or HTAB right before its end; *longest receives the length
// of the longest line.
std::string checkLines(std::string_view encoded, LineEnd lineEnd, bool base64, std::size_t *longest) {
  *longest = 0;
  std::size_t lineNumber = 0;
  for (std::size_t start = 0; start < encoded.size(); ++lineNumber) {
    std::size_t end = encoded.find('\n', start);
    const bool last = end == std::string_view::npos;
    if (last) end = encoded.size();
    std::string_view line = encoded.substr(start, end - start);
    const std::string where = "line " + std::to_string(lineNumber);
    if (!last && lineEnd == LineEnd::CrLf) {
      if (!line.ends_with('\r')) return where + " ends in a bare LF";
      line.remove_suffix(1);
    }
    *longest = std::max(*longest, line.size());
    for (char c : line) {
      if (c == '\r') return where + " holds a bare CR";
      const bool allowed = base64 ? (base64Value(c) >= 0 || c == '=') : ((c >= 32 && c <= 126) || c == '\t');
      if (!allowed) return where + " holds the octet " + std::to_string(static_cast<unsigned char>(c));
    }
    if (!line.empty() && (line.back() == ' ' || line.back() == '\t')) return where + " ends in white space";
    start = end + 1;
  }
  return {};
}

}  // namespace

}  // namespace peers

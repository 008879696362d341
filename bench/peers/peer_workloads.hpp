// The workloads of the peer comparison: their inputs (made once, from fixed seeds), the checks that every
// library's result must pass before its time counts, and the interface through which each library's adapter
// offers its operations. Nothing here calls a MIME library: the inputs come from small reference codecs of
// our own, so that a fault in any one library cannot spoil the others' inputs.
#ifndef PEERS_PEER_WORKLOADS_HPP
#define PEERS_PEER_WORKLOADS_HPP

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace peers {

// --- workloads ---

enum class Workload {
  Base64Encode,
  Base64Decode,
  QuotedPrintableEncodeText,
  QuotedPrintableEncodeBinary,
  QuotedPrintableDecodeText,
  ChooseEncodeBinary1MiB,
  ChooseEncodeBinary16MiB,
  ChooseEncodeText16MiB,
  ChooseDecodeBinary1MiB,
  ChooseDecodeBinary16MiB,
  ChooseDecodeText16MiB,
  MultipartUnpack,
  MultipartPack,
  ContentTypeDecode,
  ContentTypeEncode,
  ContentTypeDecodeOctets,
  ContentDispositionDecodeOctets,
  ReadAttachments,
  ReadSmallParts,
  ReadPythonCorpus,
};

// The benchmark name of the workload ("base64_encode", ...); the first part of every benchmark name.
std::string_view workloadName(Workload workload);
// The octets a throughput counts: the unencoded data for the codecs (also for the decoders, so that encode
// and decode figures compare directly), the multipart body, the Content-Type value. The memcpy baseline of
// the workload copies this many octets.
std::size_t workloadOctets(Workload workload);
// True for the workloads whose rate is counted in operations per second (the header value codecs).
bool countsOperations(Workload workload);
// True for the message reader workloads.
bool readsMessages(Workload workload);

// Line ends of an encoder's output: CR LF (the form that travels) or a library's native LF.
enum class LineEnd { CrLf, Lf };

// --- inputs: each built on first use and kept for the life of the process ---

std::string_view binary16MiB();  // random octets
std::string_view binary1MiB();   // random octets (another seed)
// Mostly text: lines of about 70 octets ending in CR LF, 3 % of the octets above 127.
std::string_view text16MiB();
// The Base64 form of binary16MiB(): lines of lineLength characters (a multiple of 4), the given line end
// between lines, none after.
std::string_view base64Text(LineEnd lineEnd, std::size_t lineLength = 76);
// The quoted-printable form of text16MiB() (CR LF hard breaks, lines of at most 76): the decoders' input.
std::string_view quotedPrintableText();
// The body a choose-and-encode (or its decode) workload starts from; true in *text for the mostly-text one.
std::string_view chooseBody(Workload workload, bool *text = nullptr);

// The multipart workload: 64 parts, each with a Content-Type and a Base64 Content-Transfer-Encoding header
// and a body of 256 KiB of Base64 text (lines of 76, CR LF), joined with CR LF delimiter lines.
inline constexpr int kParts = 64;
inline constexpr std::string_view kBoundary = "frontier-0123456789";
inline constexpr std::string_view kPartContentType = "application/octet-stream";
inline constexpr std::string_view kPartTransferEncoding = "base64";
struct MultipartInput {
  std::vector<std::string> partBodies;  // the 64 transfer-encoded bodies
  std::string body;                     // the multipart body: delimiters, part headers, bodies
  // The body behind a header block naming its type and boundary, for the peers whose parsers start at the
  // headers of the entity (they read about 70 octets more than our unpack, which is handed the type).
  std::string entity;
};
const MultipartInput &multipart();

// The Content-Type value of the header codec workloads and what it must decode to.
inline constexpr std::string_view kContentTypeValue =
    "multipart/mixed; boundary=\"----=_Part_123_456.789\"; charset=utf-8; "
    "title*0*=UTF-8''%E2%82%AC%20rates; title*1*=%20for%20you; format=flowed";
struct ContentTypeFields {
  std::string mediaType;  // "type/subtype", lower case
  std::string boundary;
  std::string charset;
  std::string title;  // UTF-8, RFC 2231 sections joined and decoded
  std::string format;
};

// The Content-Disposition value of the header codec workload and what it must decode to: an attachment
// whose file name comes in RFC 2231 sections, as mail clients write a long non-ASCII name.
inline constexpr std::string_view kContentDispositionValue =
    "attachment; filename*0*=UTF-8''%E2%82%AC%20rates%20for%20the%20;"
    " filename*1*=second%20quarter.pdf; size=12345; creation-date=\"Wed, 12 Feb 1997 16:29:51 -0500\"";
struct ContentDispositionFields {
  std::string type;  // lower case
  std::string filename;
  std::string size;
  std::string creationDate;
};

// The message reader workloads: whole messages, each read on its own into its parts, every leaf part's body
// decoded from its transfer encoding into memory. Leaves are the parts that are neither multipart nor an
// attached message, taken depth first.
struct ReaderInput {
  std::vector<std::string> messages;
  std::size_t octets = 0;  // of all the messages
  // What every leaf must decode to, message after message; empty where no reference is known beforehand
  // (Python's corpus: see checkReader).
  std::vector<std::string> leaves;
  std::vector<std::string> names;  // of the messages, for the checks' reports
};
// 20 attachments of 5 MiB of random octets, Base64 in lines of 76; 20,000 text parts of a line each; every
// msg_*.txt of Python's email test corpus (the directory in the environment variable PEER_EMAIL_CORPUS),
// each a message of its own. The corpus input is empty when the variable names no such directory.
const ReaderInput &readerInput(Workload workload);

// What one library found reading one message: its leaves' decoded bodies, in order.
using MessageLeaves = std::vector<std::string_view>;

// --- checks ---

// What a check found ("" when the result is right), and a short note to show beside the figure (the chosen
// encoding, the output size, anything unusual about the output that does not make it wrong).
struct Verdict {
  std::string error;
  std::string note;
};

// The Base64 form of binary16MiB() with the given line ends and line length (a line end after the last
// line is allowed).
Verdict judgeBase64(std::string_view encoded, LineEnd lineEnd, std::size_t lineLength = 76);
// decoded equals original octet for octet; for text, LF line ends where original has CR LF also pass (the
// native form of some peers' decoders), with a note saying so.
Verdict judgeDecoded(std::string_view decoded, std::string_view original, bool text);
// A quoted-printable form of original: lines ended as lineEnd says, only printable ASCII and HTAB, no SP or
// HTAB right before a line end, and it decodes to original (for text, up to the form of the line ends).
// Lines longer than 76 characters are noted, not failed: the result is still usable.
Verdict judgeQuotedPrintable(std::string_view encoded, std::string_view original, bool text, LineEnd lineEnd);
// A body that may travel as 7bit: "base64" or "quoted-printable" text of original with line ends as lineEnd
// says, or original itself under "7bit". The note names the encoding.
Verdict judgeTransferEncoded(std::string_view cte, std::string_view encoded, std::string_view original,
                             bool text, LineEnd lineEnd);
// The 64 part bodies of multipart(), transfer-encoded as they stand in the body.
std::string checkParts(const std::vector<std::string_view> &bodies);
// A multipart body with kBoundary that holds the 64 part bodies in order (with the given line ends).
std::string checkPacked(std::string_view packed, LineEnd lineEnd);
// The fields kContentTypeValue holds.
std::string checkContentType(const ContentTypeFields &fields);
// The fields kContentDispositionValue holds.
std::string checkContentDisposition(const ContentDispositionFields &fields);
// A reading of readerInput(workload): every message read, and per message its leaves decoded. For the
// generated messages: as many leaves as expected, each decoded to the expected octets. For Python's
// corpus, whose readings nothing here fixes beforehand, our reader's reading is the reference (the reader's
// tests hold it to Python's own email package): a library passes when it agrees with it, message by
// message in leaf count and decoded octets, on at least two messages in three and decodes at least two
// thirds of the reference's octets over the corpus. The corpus is made of odd and malformed messages,
// which libraries may read in different ways without skipping work (GMime, for one, keeps
// message/external-body a leaf and finds no part where a boundary is broken); the note names the
// messages read otherwise.
Verdict checkReader(Workload workload, const std::vector<MessageLeaves> &messages);
// The reading of the corpus that checkReader holds the libraries to: set by our adapter, run on first use.
void setCorpusReference(std::function<std::vector<std::vector<std::string>>()> read);
// Only octets below 128 (a header value that may travel as it is).
std::string checkSevenBit(std::string_view text);

// --- the adapters' side ---

// One library's way of doing one workload: built untimed from the inputs above, then run once per timed
// iteration. A run drops the previous run's result first and keeps its own until the next run, so every
// iteration pays for making and freeing one result, as a caller would.
class Operation {
 public:
  virtual ~Operation() = default;
  virtual void run() = 0;
  // The verdict on the last run's result.
  virtual Verdict check() = 0;
};

// An operation from two functions: run() returns the result, check(result) judges it.
template <typename Result>
class FunctionOperation final : public Operation {
 public:
  using Run = std::function<Result()>;
  using Check = std::function<Verdict(Result &)>;
  FunctionOperation(Run run, Check check) : run_(std::move(run)), check_(std::move(check)) {}
  void run() override {
    result_.reset();
    result_.emplace(run_());
  }
  Verdict check() override { return result_ ? check_(*result_) : Verdict{"no result", {}}; }

 private:
  Run run_;
  Check check_;
  std::optional<Result> result_;
};

template <typename Result>
std::unique_ptr<Operation> makeOperation(typename FunctionOperation<Result>::Run run,
                                         typename FunctionOperation<Result>::Check check) {
  return std::make_unique<FunctionOperation<Result>>(std::move(run), std::move(check));
}

// One workload a library offers; variant tells two ways of the same library apart ("lf", "crlf").
struct Offer {
  Workload workload;
  std::string variant;
  std::function<std::unique_ptr<Operation>()> make;
};

// A library and every workload it offers (an operation it lacks is simply absent).
struct Library {
  std::string name;
  std::vector<Offer> offers;
};

Library mimeLibrary();
Library gmimeLibrary();
Library vmimeLibrary();
Library mimeticLibrary();

// --- small helpers the adapters share ---

// "12.3 MiB out" and the like: the size of an output, for a note.
std::string sizeNote(std::size_t octets);
// text with every CR LF turned into LF (the native form of some peers).
std::string toLf(std::string_view text);

}  // namespace peers

#endif

// mimetic's side of the peer comparison. mimetic's codecs write LF line ends; its way to CR LF is to chain
// the Lf2CrLf codec behind them, so its encoders are offered as "lf" and "crlf". It has no choice of a
// transfer encoding from the content, so the choose-and-encode workloads are not offered.
// mimetic's codecs copy arrays they have not filled yet and leave a switch without a default; GCC's optimiser
// reports that in whichever file instantiates them, system header or not. The code is mimetic's, so those
// two warnings are silenced for its headers alone.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <mimetic/mimetic.h>
#pragma GCC diagnostic pop

#include <iterator>
#include <memory>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "peer_workloads.hpp"

namespace peers {

namespace {

// A result written into memory the caller owns.
struct Octets {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
  bool overflow = false;
  std::string_view view() const { return {data.get(), size}; }
};

// mimetic's codecs take the output iterator by value, so a plain pointer would not tell where they stopped:
// this one writes through a cursor that the caller keeps, and drops (and remembers) what does not fit.
struct CursorIterator {
  using iterator_category = std::output_iterator_tag;
  using value_type = void;
  using difference_type = std::ptrdiff_t;
  using pointer = void;
  using reference = void;
  char **cursor;
  const char *end;
  bool *overflow;
  CursorIterator &operator*() { return *this; }
  CursorIterator &operator++() { return *this; }
  CursorIterator operator++(int) { return *this; }
  CursorIterator &operator=(unsigned char c) {
    if (*cursor == end) {
      *overflow = true;
      return *this;
    }
    *(*cursor)++ = static_cast<char>(c);
    return *this;
  }
};

Offer base64Encode(LineEnd lineEnd);
Offer base64Decode();
Offer quotedPrintableEncode(Workload workload, LineEnd lineEnd);
Offer quotedPrintableDecode();
Offer multipartUnpack();
Offer multipartPack();
Offer contentTypeDecode();
Offer contentTypeEncode();

}  // namespace

Library mimeticLibrary() {
  return {
      "mimetic",
      {base64Encode(LineEnd::Lf), base64Encode(LineEnd::CrLf), base64Decode(),
       quotedPrintableEncode(Workload::QuotedPrintableEncodeText, LineEnd::Lf),
       quotedPrintableEncode(Workload::QuotedPrintableEncodeText, LineEnd::CrLf),
       quotedPrintableEncode(Workload::QuotedPrintableEncodeBinary, LineEnd::Lf),
       quotedPrintableEncode(Workload::QuotedPrintableEncodeBinary, LineEnd::CrLf), quotedPrintableDecode(),
       multipartUnpack(), multipartPack(), contentTypeDecode(), contentTypeEncode()}};
}

namespace {

// --- codecs ---

template <typename Codec>
struct IsChain : std::false_type {};
template <typename Codec, typename Next>
struct IsChain<mimetic::codec_chain<Codec, Next>> : std::true_type {};

// Runs a codec (or a chain of codecs) over the input into a buffer of the given capacity.
template <typename Codec>
Octets runCodec(std::string_view input, const Codec &codec, std::size_t capacity) {
  Octets out{std::unique_ptr<char[]>(new char[capacity]), 0, false};
  char *cursor = out.data.get();
  const auto *begin = reinterpret_cast<const unsigned char *>(input.data());
  const CursorIterator sink{&cursor, cursor + capacity, &out.overflow};
  Codec fresh = codec;  // codecs keep state (line position, pending octets): each run starts anew
  if constexpr (IsChain<Codec>::value)
    mimetic::code(begin, begin + input.size(), std::as_const(fresh), sink);  // the chain overload takes const
  else
    mimetic::code(begin, begin + input.size(), fresh, sink);
  out.size = static_cast<std::size_t>(cursor - out.data.get());
  return out;
}

// Room for every octet escaped (3 characters) and a soft break ("=" CR LF) after every 72 characters.
std::size_t worstQuotedPrintable(std::size_t size) {
  return size * 3 + size * 3 / 72 * 3 + 16;
}

std::string_view lineEndName(LineEnd lineEnd) {
  return lineEnd == LineEnd::Lf ? "lf" : "crlf";
}

Verdict overflowed() {
  return {"output did not fit the buffer reserved for it", {}};
}

Offer base64Encode(LineEnd lineEnd) {
  return {Workload::Base64Encode, std::string(lineEndName(lineEnd)),
          [lineEnd]() -> std::unique_ptr<Operation> {
            const std::string_view input = binary16MiB();
            const std::size_t capacity = input.size() / 57 * 78 + 128;
            const auto judge = [lineEnd](Octets &out) {
              return out.overflow ? overflowed() : judgeBase64(out.view(), lineEnd);
            };
            if (lineEnd == LineEnd::Lf)
              return makeOperation<Octets>(
                  [=] { return runCodec(input, mimetic::Base64::Encoder(), capacity); }, judge);
            return makeOperation<Octets>(
                [=] { return runCodec(input, mimetic::Base64::Encoder() | mimetic::Lf2CrLf(), capacity); },
                judge);
          }};
}

Offer base64Decode() {
  return {Workload::Base64Decode, "", [] {
            const std::string_view input = base64Text(LineEnd::CrLf);
            return makeOperation<Octets>(
                [=] { return runCodec(input, mimetic::Base64::Decoder(), input.size()); },
                [](Octets &out) {
                  return out.overflow ? overflowed() : judgeDecoded(out.view(), binary16MiB(), false);
                });
          }};
}

// The text workload uses the text mode (the default), the binary one the binary mode, which escapes CR and
// LF.
Offer quotedPrintableEncode(Workload workload, LineEnd lineEnd) {
  return {workload, std::string(lineEndName(lineEnd)), [workload, lineEnd]() -> std::unique_ptr<Operation> {
            const bool text = workload == Workload::QuotedPrintableEncodeText;
            const std::string_view input = text ? text16MiB() : binary16MiB();
            const std::size_t capacity = worstQuotedPrintable(input.size());
            const auto judge = [=](Octets &out) {
              return out.overflow ? overflowed() : judgeQuotedPrintable(out.view(), input, text, lineEnd);
            };
            if (lineEnd == LineEnd::Lf)
              return makeOperation<Octets>(
                  [=] { return runCodec(input, mimetic::QP::Encoder(!text), capacity); }, judge);
            return makeOperation<Octets>(
                [=] { return runCodec(input, mimetic::QP::Encoder(!text) | mimetic::Lf2CrLf(), capacity); },
                judge);
          }};
}

Offer quotedPrintableDecode() {
  return {Workload::QuotedPrintableDecodeText, "", [] {
            const std::string_view input = quotedPrintableText();
            return makeOperation<Octets>(
                [=] { return runCodec(input, mimetic::QP::Decoder(), input.size()); },
                [](Octets &out) {
                  return out.overflow ? overflowed() : judgeDecoded(out.view(), text16MiB(), true);
                });
          }};
}

// --- multipart ---

Offer multipartUnpack() {
  return {Workload::MultipartUnpack, "", [] {
            const std::string_view entity = multipart().entity;
            return makeOperation<std::unique_ptr<mimetic::MimeEntity>>(
                [=] {
                  auto parsed = std::make_unique<mimetic::MimeEntity>();
                  parsed->load(entity.data(), entity.data() + entity.size());
                  return parsed;
                },
                [](std::unique_ptr<mimetic::MimeEntity> &parsed) {
                  std::vector<std::string_view> bodies;
                  for (const mimetic::MimeEntity *part : parsed->body().parts())
                    bodies.push_back(part->body());
                  return Verdict{checkParts(bodies), {}};
                });
          }};
}

// Appends whatever the stream writes to a string reserved at the expected size.
class StringSink : public std::streambuf {
 public:
  explicit StringSink(std::string &out) : out_(out) {}

 protected:
  int_type overflow(int_type c) override {
    if (c != traits_type::eof()) out_.push_back(static_cast<char>(c));
    return traits_type::not_eof(c);
  }
  std::streamsize xsputn(const char *text, std::streamsize count) override {
    out_.append(text, static_cast<std::size_t>(count));
    return count;
  }

 private:
  std::string &out_;
};

// The entity tree is built untimed (it is what "the parts" are in mimetic); the timed call writes it. mimetic
// writes a whole entity, so the output starts with the multipart's own Content-Type header.
std::shared_ptr<mimetic::MimeEntity> buildMultipart() {
  auto root = std::make_shared<mimetic::MimeEntity>();
  root->header().contentType("multipart/mixed; boundary=\"" + std::string(kBoundary) + "\"");
  for (const std::string &body : multipart().partBodies) {
    auto *part = new mimetic::MimeEntity;  // the parent's part list takes it over
    part->header().contentType(std::string(kPartContentType));
    part->header().contentTransferEncoding(std::string(kPartTransferEncoding));
    part->body().assign(body);
    root->body().parts().push_back(part);
  }
  return root;
}

Offer multipartPack() {
  return {
      Workload::MultipartPack, "", [] {
        const auto root = buildMultipart();
        const std::size_t capacity = multipart().body.size() + 4096;
        return makeOperation<std::string>(
            [=] {
              std::string out;
              out.reserve(capacity);
              StringSink sink(out);
              std::ostream stream(&sink);
              stream << *root;
              return out;
            },
            [](std::string &out) {
              return Verdict{checkPacked(out, LineEnd::CrLf), sizeNote(out.size()) + ", with its own header"};
            });
      }};
}

// --- Content-Type header codec ---

ContentTypeFields fieldsOf(const mimetic::ContentType &type) {
  return {type.type() + "/" + type.subtype(), type.param("boundary"), type.param("charset"),
          type.param("title"), type.param("format")};
}

Offer contentTypeDecode() {
  return {Workload::ContentTypeDecode, "", [] {
            const std::string value(kContentTypeValue);
            return makeOperation<mimetic::ContentType>([=] { return mimetic::ContentType(value); },
                                                       [](mimetic::ContentType &type) {
                                                         return Verdict{checkContentType(fieldsOf(type)), {}};
                                                       });
          }};
}

Offer contentTypeEncode() {
  return {Workload::ContentTypeEncode, "", [] {
            const mimetic::ContentType type{std::string(kContentTypeValue)};
            return makeOperation<std::string>([=] { return type.str(); },
                                              [](std::string &out) {
                                                std::string error = checkSevenBit(out);
                                                if (error.empty())
                                                  error =
                                                      checkContentType(fieldsOf(mimetic::ContentType(out)));
                                                return Verdict{error, sizeNote(out.size())};
                                              });
          }};
}

}  // namespace

}  // namespace peers

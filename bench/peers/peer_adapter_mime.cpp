// Our library's side of the peer comparison: the C API of mime/mime.h and rfc/rfc.h, called as a caller
// would (kx buffers and strings in and out, allocation of every result included). mime::Ref from the public
// C++ header only holds the references.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mime/mime.h"
#include "mime/mime.hpp"
#include "peer_workloads.hpp"

namespace peers {

namespace {

using Buffer = mime::Ref<KX_BUFFER>;
using String = mime::Ref<KX_STRING>;
using Vector = mime::Ref<KX_VECTOR>;
using Entity = mime::Ref<MIME_ENTITY>;
using Options = mime::Ref<MIME_OPTIONS>;
using ContentType = mime::Ref<MIME_CONTENT_TYPE>;
using ContentDisposition = mime::Ref<MIME_CONTENT_DISPOSITION>;
using Part = mime::Ref<MIME_PART>;
// A UTF-8 copy of a string, made by kx and freed with kxMemFree.
using Utf8 = std::unique_ptr<char, decltype(&kxMemFree)>;

constexpr kxInt kLineLength = 76;
// Where a Content-Type value starts on its header line ("Content-Type: " is 14 characters).
constexpr kxInt kValueOffset = 14;

Offer base64Encode();
Offer base64Decode();
Offer quotedPrintableEncode(Workload workload);
Offer quotedPrintableDecode();
Offer chooseEncode(Workload workload);
Offer chooseDecode(Workload workload);
Offer multipartUnpack();
Offer multipartPack();
Offer contentTypeDecode(bool fromUtf8);
Offer contentTypeEncode(bool toUtf8);
Offer contentTypeDecodeOctets();
Offer contentDispositionDecodeOctets();
Offer readMessages(Workload workload);
std::vector<std::vector<std::string>> readCorpus();

}  // namespace

Library mimeLibrary() {
  // Every mime call needs the started module; kx counts the startups, so this one stays for the process.
  static const bool started = kxModuleStartup(mimeModule());
  if (!started) return {"mime", {}};
  setCorpusReference(readCorpus);
  return {"mime",
          {base64Encode(),
           base64Decode(),
           quotedPrintableEncode(Workload::QuotedPrintableEncodeText),
           quotedPrintableEncode(Workload::QuotedPrintableEncodeBinary),
           quotedPrintableDecode(),
           chooseEncode(Workload::ChooseEncodeBinary1MiB),
           chooseEncode(Workload::ChooseEncodeBinary16MiB),
           chooseEncode(Workload::ChooseEncodeText16MiB),
           chooseDecode(Workload::ChooseDecodeBinary1MiB),
           chooseDecode(Workload::ChooseDecodeBinary16MiB),
           chooseDecode(Workload::ChooseDecodeText16MiB),
           multipartUnpack(),
           multipartPack(),
           contentTypeDecode(false),
           contentTypeDecode(true),
           contentTypeEncode(false),
           contentTypeEncode(true),
           contentTypeDecodeOctets(),
           contentDispositionDecodeOctets(),
           readMessages(Workload::ReadAttachments),
           readMessages(Workload::ReadSmallParts),
           readMessages(Workload::ReadPythonCorpus)}};
}

namespace {

// --- conversions ---

Buffer bufferOf(std::string_view bytes) {
  return Buffer::adopt(kxBufferCreateFromBytes(bytes.data(), static_cast<kxInt>(bytes.size())));
}

std::string_view viewOf(KX_BUFFER *buffer) {
  if (!buffer) return {};
  return {reinterpret_cast<const char *>(kxBufferBacking(buffer)),
          static_cast<std::size_t>(kxBufferLength(buffer))};
}

String stringOf(std::string_view utf8) {
  return String::adopt(kxStringCreateFromCstr(utf8.data(), static_cast<kxInt>(utf8.size())));
}

std::string utf8Of(KX_STRING *string) {
  if (!string) return {};
  kxInt length = 0;
  Utf8 text(kxStringConvertToCstr(string, &length), &kxMemFree);
  return std::string(text.get(), static_cast<std::size_t>(length));
}

// Takes over a new string a C function returned and gives its UTF-8 text ("" for null).
std::string takeUtf8(KX_STRING *string) {
  const String owned = String::adopt(string);
  return utf8Of(owned.get());
}

Options baseOptions() {
  return Options::adopt(mimeOptionsCreate());
}

// --- codecs ---

Offer base64Encode() {
  return {Workload::Base64Encode, "", [] {
            const Buffer input = bufferOf(binary16MiB());
            mime::Ref<RFC_BASE_OPTIONS> options = mime::Ref<RFC_BASE_OPTIONS>::adopt(rfcBaseOptionsCreate());
            rfcBaseOptionsSetOutputLineLength(options.addr(), kLineLength);
            return makeOperation<Buffer>(
                [=] {
                  return Buffer::adopt(
                      rfcBaseEncodeWithOptions(input.get(), RFC_BASE_SELECTOR_MIME, options.get()));
                },
                [](Buffer &out) { return judgeBase64(viewOf(out.get()), LineEnd::CrLf); });
          }};
}

Offer base64Decode() {
  return {Workload::Base64Decode, "", [] {
            const Buffer input = bufferOf(base64Text(LineEnd::CrLf));
            const mime::Ref<RFC_BASE_OPTIONS> options =
                mime::Ref<RFC_BASE_OPTIONS>::adopt(rfcBaseOptionsCreate());
            return makeOperation<Buffer>(
                [=] {
                  return Buffer::adopt(
                      rfcBaseTryDecodeWithOptions(input.get(), RFC_BASE_SELECTOR_MIME, options.get()));
                },
                [](Buffer &out) { return judgeDecoded(viewOf(out.get()), binary16MiB(), false); });
          }};
}

// Our encoder has one mode: CR LF is a hard line break and every other CR or LF is escaped, so its output
// decodes to the input octet for octet, text or binary alike.
Offer quotedPrintableEncode(Workload workload) {
  return {workload, "", [workload] {
            const bool text = workload == Workload::QuotedPrintableEncodeText;
            const std::string_view original = text ? text16MiB() : binary16MiB();
            const Buffer input = bufferOf(original);
            const mime::Ref<RFC_QUOP_OPTIONS> options =
                mime::Ref<RFC_QUOP_OPTIONS>::adopt(rfcQuopOptionsCreate());
            return makeOperation<Buffer>(
                [=] { return Buffer::adopt(rfcQuopEncodeWithOptions(input.get(), options.get())); },
                [=](Buffer &out) {
                  return judgeQuotedPrintable(viewOf(out.get()), original, text, LineEnd::CrLf);
                });
          }};
}

Offer quotedPrintableDecode() {
  return {Workload::QuotedPrintableDecodeText, "", [] {
            const Buffer input = bufferOf(quotedPrintableText());
            const mime::Ref<RFC_QUOP_OPTIONS> options =
                mime::Ref<RFC_QUOP_OPTIONS>::adopt(rfcQuopOptionsCreate());
            return makeOperation<Buffer>(
                [=] { return Buffer::adopt(rfcQuopTryDecodeWithOptions(input.get(), options.get())); },
                [](Buffer &out) { return judgeDecoded(viewOf(out.get()), text16MiB(), true); });
          }};
}

// --- choose-and-encode (mimeEncode) and its decode (mimeDecode) ---

Verdict judgeEntity(MIME_ENTITY *entity, std::string_view original, bool text) {
  const std::string cte = takeUtf8(mimeEntityContentTransferEncoding(entity));
  const Buffer body = Buffer::adopt(mimeEntityBody(entity));
  return judgeTransferEncoded(cte, viewOf(body.get()), original, text, LineEnd::CrLf);
}

Offer chooseEncode(Workload workload) {
  return {workload, "", [workload] {
            bool text = false;
            const std::string_view original = chooseBody(workload, &text);
            const Buffer body = bufferOf(original);
            const Options options = baseOptions();
            return makeOperation<Entity>(
                [=] { return Entity::adopt(mimeEncode(options.get(), body.get(), nullptr, nullptr)); },
                [=](Entity &entity) { return judgeEntity(entity.get(), original, text); });
          }};
}

Offer chooseDecode(Workload workload) {
  return {workload, "", [workload] {
            bool text = false;
            const std::string_view original = chooseBody(workload, &text);
            const Options options = baseOptions();
            const Entity entity =
                Entity::adopt(mimeEncode(options.get(), bufferOf(original).get(), nullptr, nullptr));
            const std::string cte = takeUtf8(mimeEntityContentTransferEncoding(entity.get()));
            return makeOperation<Buffer>(
                [=] {
                  KX_BUFFER *body = nullptr;
                  mimeDecode(entity.get(), options.get(), &body, nullptr, nullptr);
                  return Buffer::adopt(body);
                },
                [=](Buffer &body) {
                  if (!body) return Verdict{"mimeDecode failed", cte};
                  Verdict verdict = judgeDecoded(viewOf(body.get()), original, text);
                  verdict.note = "from " + cte + (verdict.note.empty() ? "" : ", " + verdict.note);
                  return verdict;
                });
          }};
}

// --- multipart ---

ContentType multipartType() {
  ContentType type = ContentType::adopt(mimeContentTypeCreateCstr("multipart/mixed", -1));
  mimeContentTypeSetParameterCstrCstrValue(type.addr(), "boundary", -1, kBoundary.data(),
                                           static_cast<kxInt>(kBoundary.size()));
  return type;
}

Offer multipartUnpack() {
  return {Workload::MultipartUnpack, "", [] {
            const Buffer content = bufferOf(multipart().body);
            const Options options = baseOptions();
            const ContentType type = multipartType();
            return makeOperation<Vector>(
                [=] {
                  ContentType held = type;  // the call takes the address of a reference; it changes nothing
                  return Vector::adopt(mimeMultipartTryUnpack(held.addr(), content.get(), options.get()));
                },
                [](Vector &parts) {
                  if (!parts) return Verdict{"mimeMultipartTryUnpack failed", {}};
                  std::vector<Buffer> held;
                  std::vector<std::string_view> bodies;
                  for (kxInt i = 0; i < kxVectorLength(parts.get()); ++i) {
                    MIME_ENTITY *entity = mimeEntityFrom(kxVectorBacking(parts.get())[i]);
                    held.push_back(Buffer::adopt(mimeEntityBody(entity)));
                    bodies.push_back(viewOf(held.back().get()));
                  }
                  return Verdict{checkParts(bodies), {}};
                });
          }};
}

Vector partEntities() {
  Vector parts = Vector::adopt(kxVectorCreate());
  const String type = stringOf(kPartContentType);
  const String cte = stringOf(kPartTransferEncoding);
  for (const std::string &body : multipart().partBodies) {
    Entity entity = Entity::adopt(mimeEntityCreate());
    mimeEntitySetContentType(entity.addr(), type.get());
    mimeEntitySetContentTransferEncoding(entity.addr(), cte.get());
    mimeEntitySetBody(entity.addr(), bufferOf(body).get());
    kxVectorAppendObj(parts.addr(), mime::objectOf(entity.get()));
  }
  return parts;
}

Offer multipartPack() {
  return {Workload::MultipartPack, "", [] {
            const Vector parts = partEntities();
            const Options options = baseOptions();
            const ContentType type = multipartType();
            return makeOperation<Buffer>(
                [=] {
                  ContentType held = type;  // a changed boundary would be written to this copy only
                  return Buffer::adopt(mimeMultipartTryPack(held.addr(), parts.get(), options.get()));
                },
                [](Buffer &packed) {
                  if (!packed) return Verdict{"mimeMultipartTryPack failed", {}};
                  return Verdict{checkPacked(viewOf(packed.get()), LineEnd::CrLf),
                                 sizeNote(viewOf(packed.get()).size())};
                });
          }};
}

// --- Content-Type header codec ---

ContentTypeFields fieldsOf(MIME_CONTENT_TYPE *type) {
  if (!type) return {};
  const auto parameter = [type](const char *key) {
    return takeUtf8(mimeContentTypeParameterCstr(type, key, -1));
  };
  return {takeUtf8(mimeContentTypeName(type)), parameter("boundary"), parameter("charset"),
          parameter("title"), parameter("format")};
}

// fromUtf8: the value arrives as UTF-8 octets, as the peers take it, and the timed call makes the KX_STRING.
Offer contentTypeDecode(bool fromUtf8) {
  return {Workload::ContentTypeDecode, fromUtf8 ? "utf8" : "", [fromUtf8] {
            const String value = stringOf(kContentTypeValue);
            const Options options = baseOptions();
            return makeOperation<ContentType>(
                [=] {
                  if (!fromUtf8)
                    return ContentType::adopt(mimeContentTypeTryDecode(value.get(), options.get()));
                  const String text = stringOf(kContentTypeValue);
                  return ContentType::adopt(mimeContentTypeTryDecode(text.get(), options.get()));
                },
                [fromUtf8](ContentType &type) {
                  return Verdict{checkContentType(fieldsOf(type.get())),
                                 fromUtf8 ? "from UTF-8 octets" : "from a KX_STRING"};
                });
          }};
}

// toUtf8: the value leaves as UTF-8 octets, as the peers give it, and the timed call converts the KX_STRING.
Offer contentTypeEncode(bool toUtf8) {
  struct Encoded {
    String string;
    Utf8 text{nullptr, &kxMemFree};
  };
  return {Workload::ContentTypeEncode, toUtf8 ? "utf8" : "", [toUtf8] {
            const Options options = baseOptions();
            const ContentType type = ContentType::adopt(
                mimeContentTypeTryDecode(stringOf(kContentTypeValue).get(), options.get()));
            return makeOperation<Encoded>(
                [=] {
                  Encoded out{String::adopt(mimeContentTypeEncode(type.get(), options.get(), kValueOffset))};
                  if (toUtf8) out.text.reset(kxStringConvertToCstr(out.string.get(), nullptr));
                  return out;
                },
                [=](Encoded &out) {
                  const std::string text = utf8Of(out.string.get());
                  std::string error = checkSevenBit(text);
                  if (error.empty()) {
                    const ContentType again =
                        ContentType::adopt(mimeContentTypeTryDecode(out.string.get(), options.get()));
                    error = checkContentType(fieldsOf(again.get()));
                  }
                  return Verdict{error,
                                 (toUtf8 ? "to UTF-8 octets, " : "to a KX_STRING, ") + sizeNote(text.size())};
                });
          }};
}

// The value arrives as UTF-8 octets, as a header block holds it, and is decoded from them: no KX_STRING of
// the value is made first (the reader's way).
Offer contentTypeDecodeOctets() {
  return {Workload::ContentTypeDecodeOctets, "", [] {
            const Options options = baseOptions();
            return makeOperation<ContentType>(
                [=] {
                  return ContentType::adopt(mimeContentTypeTryDecodeCstr(
                      kContentTypeValue.data(), static_cast<kxInt>(kContentTypeValue.size()), options.get()));
                },
                [](ContentType &type) {
                  return Verdict{checkContentType(fieldsOf(type.get())), {}};
                });
          }};
}

Offer contentDispositionDecodeOctets() {
  return {Workload::ContentDispositionDecodeOctets, "", [] {
            const Options options = baseOptions();
            return makeOperation<ContentDisposition>(
                [=] {
                  return ContentDisposition::adopt(mimeContentDispositionTryDecodeCstr(
                      kContentDispositionValue.data(), static_cast<kxInt>(kContentDispositionValue.size()),
                      options.get()));
                },
                [](ContentDisposition &disposition) {
                  if (!disposition) return Verdict{"mimeContentDispositionTryDecodeCstr failed", {}};
                  MIME_CONTENT_DISPOSITION *d = disposition.get();
                  const auto parameter = [d](const char *key) {
                    return takeUtf8(mimeContentDispositionParameterCstr(d, key, -1));
                  };
                  return Verdict{checkContentDisposition({takeUtf8(mimeContentDispositionType(d)),
                                                          takeUtf8(mimeContentDispositionFilename(d)),
                                                          parameter("size"), parameter("creation-date")}),
                                 {}};
                });
          }};
}

// --- the message reader ---

// What one run read: each message's tree and its leaves' decoded bodies.
struct Reading {
  std::vector<Part> roots;
  std::vector<std::vector<Buffer>> leaves;
};

void decodeLeaves(MIME_PART *part, MIME_OPTIONS *options, std::vector<Buffer> &leaves) {
  const kxInt children = mimePartChildrenLength(part);
  if (children == 0) {
    leaves.push_back(Buffer::adopt(mimePartDecodeBody(part, options, nullptr)));
    return;
  }
  for (kxInt i = 0; i < children; ++i)
    decodeLeaves(Part::adopt(mimePartChildAt(part, i)).get(), options, leaves);
}

Reading read(const std::vector<Buffer> &messages, MIME_OPTIONS *options) {
  Reading reading;
  for (const Buffer &message : messages) {
    reading.roots.push_back(Part::adopt(mimeMessageRead(message.get(), options)));
    decodeLeaves(reading.roots.back().get(), options, reading.leaves.emplace_back());
  }
  return reading;
}

std::vector<Buffer> messageBuffers(Workload workload) {
  std::vector<Buffer> messages;
  for (const std::string &message : readerInput(workload).messages) messages.push_back(bufferOf(message));
  return messages;
}

std::vector<MessageLeaves> viewsOf(const Reading &reading) {
  std::vector<MessageLeaves> views;
  for (const auto &leaves : reading.leaves) {
    MessageLeaves &message = views.emplace_back();
    for (const Buffer &leaf : leaves) message.push_back(viewOf(leaf.get()));
  }
  return views;
}

// The messages are KX_BUFFERs made untimed: the reader's input, as a caller who received the message holds
// it.
Offer readMessages(Workload workload) {
  return {workload, "", [workload] {
            const auto messages = std::make_shared<std::vector<Buffer>>(messageBuffers(workload));
            const Options options = baseOptions();
            return makeOperation<Reading>(
                [=] { return read(*messages, options.get()); },
                [workload](Reading &reading) { return checkReader(workload, viewsOf(reading)); });
          }};
}

std::vector<std::vector<std::string>> readCorpus() {
  const Options options = baseOptions();
  const Reading reading = read(messageBuffers(Workload::ReadPythonCorpus), options.get());
  std::vector<std::vector<std::string>> copies;
  for (const MessageLeaves &message : viewsOf(reading)) copies.emplace_back(message.begin(), message.end());
  return copies;
}

}  // namespace

}  // namespace peers

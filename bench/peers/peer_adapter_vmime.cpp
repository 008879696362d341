// vmime's side of the peer comparison. vmime writes CR LF itself, so each operation is offered once. Its
// Base64 encoder writes one endless line unless told a line length, so every encoder here is given 76; the
// Base64 encoder then writes lines of 72, the longest it writes whatever it is told.
#include <memory>
#include <string>
#include <string_view>
#include <vector>
#include <vmime/contentTypeField.hpp>
#include <vmime/vmime.hpp>

#include "peer_workloads.hpp"

namespace peers {

namespace {

using Encoder = vmime::shared_ptr<vmime::utility::encoder::encoder>;

constexpr std::size_t kLineLength = 76;
constexpr std::size_t kBase64LineLength = 72;

Offer codec(Workload workload);
Offer chooseEncode(Workload workload);
Offer chooseDecode(Workload workload);
Offer multipartUnpack();
Offer multipartPack();
Offer contentTypeDecode();
Offer contentTypeEncode();

}  // namespace

Library vmimeLibrary() {
  return {"vmime",
          {codec(Workload::Base64Encode), codec(Workload::Base64Decode),
           codec(Workload::QuotedPrintableEncodeText), codec(Workload::QuotedPrintableEncodeBinary),
           codec(Workload::QuotedPrintableDecodeText), chooseEncode(Workload::ChooseEncodeBinary1MiB),
           chooseEncode(Workload::ChooseEncodeBinary16MiB), chooseEncode(Workload::ChooseEncodeText16MiB),
           chooseDecode(Workload::ChooseDecodeBinary1MiB), chooseDecode(Workload::ChooseDecodeBinary16MiB),
           chooseDecode(Workload::ChooseDecodeText16MiB), multipartUnpack(), multipartPack(),
           contentTypeDecode(), contentTypeEncode()}};
}

namespace {

// --- codecs ---

// The "text" property makes the quoted-printable encoder read CR LF as a line break; without it (binary
// data) CR and LF are escaped like any other control octet.
Encoder encoderFor(const char *name, bool text) {
  Encoder encoder = vmime::utility::encoder::encoderFactory::getInstance()->create(name);
  encoder->getProperties()["maxlinelength"] = kLineLength;
  if (text) encoder->getProperties()["text"] = true;
  return encoder;
}

// Runs the encoder over the input into a string reserved at the expected size.
std::string runEncoder(vmime::utility::encoder::encoder &encoder, bool encode, std::string_view input,
                       std::size_t capacity) {
  vmime::utility::inputStreamByteBufferAdapter in(reinterpret_cast<const vmime::byte_t *>(input.data()),
                                                  input.size());
  std::string out;
  out.reserve(capacity);
  vmime::utility::outputStreamStringAdapter sink(out);
  if (encode)
    encoder.encode(in, sink);
  else
    encoder.decode(in, sink);
  sink.flush();
  return out;
}

Offer codec(Workload workload) {
  return {workload, "", [workload] {
            const bool base64 = workload == Workload::Base64Encode || workload == Workload::Base64Decode;
            const bool encode =
                workload != Workload::Base64Decode && workload != Workload::QuotedPrintableDecodeText;
            const bool text = workload != Workload::QuotedPrintableEncodeBinary && !base64;
            const std::string_view input = workload == Workload::Base64Decode ? base64Text(LineEnd::CrLf)
                                           : workload == Workload::QuotedPrintableDecodeText
                                               ? quotedPrintableText()
                                           : text ? text16MiB()
                                                  : binary16MiB();
            const std::string_view expected = !encode ? (base64 ? binary16MiB() : text16MiB()) : input;
            const Encoder encoder = encoderFor(base64 ? "base64" : "quoted-printable", text);
            const std::size_t capacity = encode ? input.size() * 3 / 2 : input.size();
            return makeOperation<std::string>(
                [=] { return runEncoder(*encoder, encode, input, capacity); },
                [=](std::string &out) {
                  if (!encode) return judgeDecoded(out, expected, !base64);
                  if (!base64) return judgeQuotedPrintable(out, expected, text, LineEnd::CrLf);
                  Verdict verdict = judgeBase64(out, LineEnd::CrLf, kBase64LineLength);
                  verdict.note += ", lines of 72";
                  return verdict;
                });
          }};
}

// --- choose-and-encode: vmime's encoding decision from the content, then the content written in it ---

struct Chosen {
  std::string encoding;
  std::string text;
};

// The usage hint a caller would give: body text for the mostly-text body, attachment data for the others.
vmime::encoding::EncodingUsage usageFor(bool text) {
  return text ? vmime::encoding::USAGE_TEXT : vmime::encoding::USAGE_BINARY_DATA;
}

Chosen encodeContent(const vmime::shared_ptr<vmime::contentHandler> &content, bool text) {
  const vmime::encoding encoding = vmime::encoding::decide(content, usageFor(text));
  Chosen chosen{encoding.getName(), {}};
  chosen.text.reserve(content->getLength() * 3 / 2);
  vmime::utility::outputStreamStringAdapter sink(chosen.text);
  content->generate(sink, encoding, kLineLength);
  sink.flush();
  return chosen;
}

Offer chooseEncode(Workload workload) {
  return {workload, "", [workload] {
            bool text = false;
            const std::string_view original = chooseBody(workload, &text);
            const vmime::shared_ptr<vmime::contentHandler> content =
                vmime::make_shared<vmime::stringContentHandler>(std::string(original));
            return makeOperation<Chosen>([=] { return encodeContent(content, text); },
                                         [=](Chosen &chosen) {
                                           Verdict verdict = judgeTransferEncoded(
                                               chosen.encoding, chosen.text, original, text, LineEnd::CrLf);
                                           verdict.note += text ? ", usage text" : ", usage binary data";
                                           return verdict;
                                         });
          }};
}

// Decodes what vmime's own choose-and-encode wrote: a content handler holding the encoded text.
Offer chooseDecode(Workload workload) {
  return {
      workload, "", [workload] {
        bool text = false;
        const std::string_view original = chooseBody(workload, &text);
        const Chosen chosen =
            encodeContent(vmime::make_shared<vmime::stringContentHandler>(std::string(original)), text);
        const vmime::shared_ptr<vmime::contentHandler> content =
            vmime::make_shared<vmime::stringContentHandler>(chosen.text, vmime::encoding(chosen.encoding));
        return makeOperation<std::string>(
            [=] {
              std::string out;
              out.reserve(original.size());
              vmime::utility::outputStreamStringAdapter sink(out);
              content->extract(sink);
              sink.flush();
              return out;
            },
            [=](std::string &out) {
              Verdict verdict = judgeDecoded(out, original, text);
              verdict.note = "from " + chosen.encoding + (verdict.note.empty() ? "" : ", " + verdict.note);
              return verdict;
            });
      }};
}

// --- multipart ---

Offer multipartUnpack() {
  return {Workload::MultipartUnpack, "", [] {
            return makeOperation<vmime::shared_ptr<vmime::bodyPart>>(
                [] {
                  auto part = vmime::make_shared<vmime::bodyPart>();
                  part->parse(multipart().entity);
                  return part;
                },
                [](vmime::shared_ptr<vmime::bodyPart> &part) {
                  std::vector<std::string> held;
                  for (const auto &child : part->getBody()->getPartList()) {
                    held.emplace_back();
                    vmime::utility::outputStreamStringAdapter sink(held.back());
                    child->getBody()->getContents()->extractRaw(sink);
                    sink.flush();
                  }
                  return Verdict{checkParts({held.begin(), held.end()}), {}};
                });
          }};
}

// The part tree is built untimed (it is what "the parts" are in vmime); the timed call writes the body.
// Each part's content is the Base64 text, flagged as such, so vmime copies it as it is.
vmime::shared_ptr<vmime::bodyPart> buildMultipart() {
  auto root = vmime::make_shared<vmime::bodyPart>();
  auto type = vmime::dynamicCast<vmime::contentTypeField>(root->getHeader()->ContentType());
  type->setValue(vmime::mediaType("multipart/mixed"));
  type->setBoundary(std::string(kBoundary));
  for (const std::string &body : multipart().partBodies) {
    auto part = vmime::make_shared<vmime::bodyPart>();
    part->getHeader()->ContentType()->setValue(vmime::mediaType(std::string(kPartContentType)));
    part->getHeader()->ContentTransferEncoding()->setValue(
        vmime::encoding(std::string(kPartTransferEncoding)));
    part->getBody()->setContents(vmime::make_shared<vmime::stringContentHandler>(
        body, vmime::encoding(std::string(kPartTransferEncoding))));
    root->getBody()->appendPart(part);
  }
  return root;
}

Offer multipartPack() {
  return {Workload::MultipartPack, "", [] {
            const auto root = buildMultipart();
            const std::size_t capacity = multipart().body.size() + 4096;
            return makeOperation<std::string>(
                [=] {
                  std::string out;
                  out.reserve(capacity);
                  vmime::utility::outputStreamStringAdapter sink(out);
                  root->getBody()->generate(sink);
                  sink.flush();
                  return out;
                },
                [](std::string &out) {
                  return Verdict{checkPacked(out, LineEnd::CrLf), sizeNote(out.size()) + ", with a prologue"};
                });
          }};
}

// --- Content-Type header codec ---

std::string parameterOf(vmime::parameterizedHeaderField &field, const char *name, bool convert) {
  const auto parameter = field.findParameter(name);
  if (!parameter) return {};
  return convert ? parameter->getValue().getConvertedText(vmime::charset("utf-8"))
                 : parameter->getValue().getBuffer();
}

ContentTypeFields fieldsOf(const vmime::shared_ptr<vmime::headerField> &field) {
  const auto parameterized = vmime::dynamicCast<vmime::parameterizedHeaderField>(field);
  const auto type = vmime::dynamicCast<const vmime::mediaType>(field ? field->getValue() : nullptr);
  if (!parameterized || !type) return {};
  return {type->getType() + "/" + type->getSubType(), parameterOf(*parameterized, "boundary", false),
          parameterOf(*parameterized, "charset", false), parameterOf(*parameterized, "title", true),
          parameterOf(*parameterized, "format", false)};
}

vmime::shared_ptr<vmime::headerField> parseContentType(const std::string &value) {
  return vmime::headerFieldFactory::getInstance()->create("Content-Type", value);
}

Offer contentTypeDecode() {
  return {Workload::ContentTypeDecode, "", [] {
            const std::string value(kContentTypeValue);
            return makeOperation<vmime::shared_ptr<vmime::headerField>>(
                [=] { return parseContentType(value); },
                [](vmime::shared_ptr<vmime::headerField> &field) {
                  return Verdict{checkContentType(fieldsOf(field)), {}};
                });
          }};
}

// vmime writes the parameters only as part of the whole field, so its output starts with the field name.
Offer contentTypeEncode() {
  return {Workload::ContentTypeEncode, "", [] {
            const auto field = parseContentType(std::string(kContentTypeValue));
            return makeOperation<std::string>(
                [=] {
                  std::string out;
                  vmime::utility::outputStreamStringAdapter sink(out);
                  field->generate(sink);
                  sink.flush();
                  return out;
                },
                [](std::string &out) {
                  std::string error = checkSevenBit(out);
                  const std::string_view name = "Content-Type: ";
                  if (error.empty() && !std::string_view(out).starts_with(name))
                    error = "no field name in front";
                  if (error.empty())
                    error = checkContentType(fieldsOf(parseContentType(out.substr(name.size()))));
                  return Verdict{error, sizeNote(out.size()) + ", field name included"};
                });
          }};
}

}  // namespace

}  // namespace peers

// GMime 3's side of the peer comparison. GMime writes LF line ends by nature; where its output travels with
// CR LF it has a unix2dos filter (or the DOS newline format of its writers), so the codecs and writers are
// offered twice: "lf" (native) and "crlf" (through that filter).
#include <gmime/gmime.h>

#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "peer_workloads.hpp"

namespace peers {

namespace {

// GMime objects are held through shared_ptr so that the operations' std::function wrappers can copy them.
template <typename T>
std::shared_ptr<T> owned(T *object) {
  return std::shared_ptr<T>(object, [](T *o) {
    if (o) g_object_unref(o);
  });
}

// A result written into memory the caller owns (what the one-shot GMimeEncoding calls fill).
struct Octets {
  std::unique_ptr<char[]> data;
  std::size_t size = 0;
  std::string_view view() const { return {data.get(), size}; }
};

Offer codec(Workload workload, const char *variant, GMimeContentEncoding encoding);
Offer chooseEncode(Workload workload, LineEnd lineEnd);
Offer chooseDecode(Workload workload);
Offer multipartUnpack();
Offer multipartPack(LineEnd lineEnd);
Offer contentTypeDecode();
Offer contentTypeEncode();
Offer contentTypeDecodeOctets();
Offer contentDispositionDecodeOctets();
Offer readMessages(Workload workload);

}  // namespace

Library gmimeLibrary() {
  static const bool initialised = (g_mime_init(), true);
  (void)initialised;
  constexpr auto kBase64 = GMIME_CONTENT_ENCODING_BASE64;
  constexpr auto kQuoted = GMIME_CONTENT_ENCODING_QUOTEDPRINTABLE;
  return {"gmime",
          {codec(Workload::Base64Encode, "lf", kBase64),
           codec(Workload::Base64Encode, "crlf", kBase64),
           codec(Workload::Base64Decode, "", kBase64),
           codec(Workload::QuotedPrintableEncodeText, "lf", kQuoted),
           codec(Workload::QuotedPrintableEncodeText, "crlf", kQuoted),
           codec(Workload::QuotedPrintableEncodeBinary, "lf", kQuoted),
           codec(Workload::QuotedPrintableEncodeBinary, "crlf", kQuoted),
           codec(Workload::QuotedPrintableDecodeText, "", kQuoted),
           chooseEncode(Workload::ChooseEncodeBinary1MiB, LineEnd::Lf),
           chooseEncode(Workload::ChooseEncodeBinary1MiB, LineEnd::CrLf),
           chooseEncode(Workload::ChooseEncodeBinary16MiB, LineEnd::Lf),
           chooseEncode(Workload::ChooseEncodeBinary16MiB, LineEnd::CrLf),
           chooseEncode(Workload::ChooseEncodeText16MiB, LineEnd::Lf),
           chooseEncode(Workload::ChooseEncodeText16MiB, LineEnd::CrLf),
           chooseDecode(Workload::ChooseDecodeBinary1MiB),
           chooseDecode(Workload::ChooseDecodeBinary16MiB),
           chooseDecode(Workload::ChooseDecodeText16MiB),
           multipartUnpack(),
           multipartPack(LineEnd::Lf),
           multipartPack(LineEnd::CrLf),
           contentTypeDecode(),
           contentTypeEncode(),
           contentTypeDecodeOctets(),
           contentDispositionDecodeOctets(),
           readMessages(Workload::ReadAttachments),
           readMessages(Workload::ReadSmallParts),
           readMessages(Workload::ReadPythonCorpus)}};
}

namespace {

// --- streams ---

std::shared_ptr<GByteArray> byteArrayOf(std::string_view bytes) {
  GByteArray *array = g_byte_array_sized_new(static_cast<guint>(bytes.size()));
  g_byte_array_append(array, reinterpret_cast<const guint8 *>(bytes.data()),
                      static_cast<guint>(bytes.size()));
  return std::shared_ptr<GByteArray>(array, [](GByteArray *a) { g_byte_array_free(a, TRUE); });
}

// A stream reading the array in place: the stream does not own it, so nothing is copied.
std::shared_ptr<GMimeStream> streamOver(GByteArray *array) {
  auto stream = owned(g_mime_stream_mem_new_with_byte_array(array));
  g_mime_stream_mem_set_owner(GMIME_STREAM_MEM(stream.get()), FALSE);
  return stream;
}

// An empty memory stream with room for capacity octets, as a caller who knows the size would make it.
std::shared_ptr<GMimeStream> outputStream(std::size_t capacity) {
  return owned(g_mime_stream_mem_new_with_byte_array(g_byte_array_sized_new(static_cast<guint>(capacity))));
}

std::string_view viewOf(GMimeStream *memoryStream) {
  const GByteArray *array = g_mime_stream_mem_get_byte_array(GMIME_STREAM_MEM(memoryStream));
  return {reinterpret_cast<const char *>(array->data), array->len};
}

// Every octet of a (sub)stream, read from its start; for checks only.
std::string readAll(GMimeStream *stream) {
  std::string out;
  char chunk[65536];
  g_mime_stream_reset(stream);
  for (ssize_t n; (n = g_mime_stream_read(stream, chunk, sizeof chunk)) > 0;)
    out.append(chunk, static_cast<std::size_t>(n));
  g_mime_stream_reset(stream);
  return out;
}

// The DOS newline format of GMime's writers (CR LF everywhere), or null for its default (LF).
std::shared_ptr<GMimeFormatOptions> formatFor(LineEnd lineEnd) {
  if (lineEnd == LineEnd::Lf) return nullptr;
  GMimeFormatOptions *options = g_mime_format_options_new();
  g_mime_format_options_set_newline_format(options, GMIME_NEWLINE_FORMAT_DOS);
  return std::shared_ptr<GMimeFormatOptions>(options, g_mime_format_options_free);
}

// --- codecs ---

// The one-shot GMimeEncoding calls into a buffer of the size GMime asks for: its native (LF) codec.
Octets runEncoding(GMimeContentEncoding encoding, bool encode, std::string_view input) {
  GMimeEncoding state;
  if (encode)
    g_mime_encoding_init_encode(&state, encoding);
  else
    g_mime_encoding_init_decode(&state, encoding);
  Octets out{std::unique_ptr<char[]>(new char[g_mime_encoding_outlen(&state, input.size())]), 0};
  out.size = g_mime_encoding_flush(&state, input.data(), input.size(), out.data.get());
  return out;
}

// The encoder as a filter with unix2dos behind it, writing into a memory stream: GMime's CR LF output.
std::shared_ptr<GMimeStream> runFilters(GMimeContentEncoding encoding, std::string_view input) {
  auto out = outputStream(input.size() * 3 / 2);
  auto filtered = owned(g_mime_stream_filter_new(out.get()));
  auto encoder = owned(g_mime_filter_basic_new(encoding, TRUE));
  auto unix2dos = owned(g_mime_filter_unix2dos_new(FALSE));
  g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), encoder.get());
  g_mime_stream_filter_add(GMIME_STREAM_FILTER(filtered.get()), unix2dos.get());
  // Written in 64 KiB pieces, as a stream-to-stream copy feeds it: the filters' buffers stay in the cache.
  constexpr std::size_t kPiece = 64 * 1024;
  for (std::size_t at = 0; at < input.size(); at += kPiece)
    g_mime_stream_write(filtered.get(), input.data() + at, std::min(kPiece, input.size() - at));
  g_mime_stream_flush(filtered.get());
  return out;
}

Verdict judgeCodec(Workload workload, std::string_view out, LineEnd lineEnd) {
  switch (workload) {
    case Workload::Base64Encode:
      return judgeBase64(out, lineEnd);
    case Workload::Base64Decode:
      return judgeDecoded(out, binary16MiB(), false);
    case Workload::QuotedPrintableEncodeText:
      return judgeQuotedPrintable(out, text16MiB(), true, lineEnd);
    case Workload::QuotedPrintableEncodeBinary:
      return judgeQuotedPrintable(out, binary16MiB(), false, lineEnd);
    default:
      return judgeDecoded(out, text16MiB(), true);
  }
}

std::string_view codecInput(Workload workload) {
  switch (workload) {
    case Workload::Base64Decode:
      return base64Text(LineEnd::CrLf);
    case Workload::QuotedPrintableEncodeText:
      return text16MiB();
    case Workload::QuotedPrintableDecodeText:
      return quotedPrintableText();
    default:
      return binary16MiB();
  }
}

// variant "" (a decoder) or "lf": the one-shot calls; "crlf": the filter stream.
Offer codec(Workload workload, const char *variant, GMimeContentEncoding encoding) {
  const bool crlf = std::string_view(variant) == "crlf";
  return {workload, variant, [workload, crlf, encoding]() -> std::unique_ptr<Operation> {
            const std::string_view input = codecInput(workload);
            const bool encode =
                workload != Workload::Base64Decode && workload != Workload::QuotedPrintableDecodeText;
            if (crlf)
              return makeOperation<std::shared_ptr<GMimeStream>>(
                  [=] { return runFilters(encoding, input); },
                  [=](std::shared_ptr<GMimeStream> &out) {
                    return judgeCodec(workload, viewOf(out.get()), LineEnd::CrLf);
                  });
            return makeOperation<Octets>(
                [=] { return runEncoding(encoding, encode, input); },
                [=](Octets &out) { return judgeCodec(workload, out.view(), LineEnd::Lf); });
          }};
}

// --- choose-and-encode: a part picks its best encoding under the 7bit constraint, then writes its content
// ---

struct Chosen {
  GMimeContentEncoding encoding;
  std::shared_ptr<GMimeStream> content;
};

Chosen encodePart(GByteArray *body, GMimeFormatOptions *format) {
  auto part = owned(g_mime_part_new());
  auto source = streamOver(body);
  auto wrapper = owned(g_mime_data_wrapper_new_with_stream(source.get(), GMIME_CONTENT_ENCODING_DEFAULT));
  g_mime_part_set_content(part.get(), wrapper.get());
  g_mime_object_encode(GMIME_OBJECT(part.get()), GMIME_ENCODING_CONSTRAINT_7BIT);
  Chosen chosen{g_mime_part_get_content_encoding(part.get()), outputStream(body->len * 3 / 2)};
  g_mime_object_write_content_to_stream(GMIME_OBJECT(part.get()), format, chosen.content.get());
  return chosen;
}

Offer chooseEncode(Workload workload, LineEnd lineEnd) {
  return {workload, lineEnd == LineEnd::Lf ? "lf" : "crlf", [workload, lineEnd] {
            bool text = false;
            const std::string_view original = chooseBody(workload, &text);
            const auto body = byteArrayOf(original);
            const auto format = formatFor(lineEnd);
            return makeOperation<Chosen>([=] { return encodePart(body.get(), format.get()); },
                                         [=](Chosen &chosen) {
                                           return judgeTransferEncoded(
                                               g_mime_content_encoding_to_string(chosen.encoding),
                                               viewOf(chosen.content.get()), original, text, lineEnd);
                                         });
          }};
}

// Decodes what GMime's own choose-and-encode wrote with CR LF (the form that travels), through a data
// wrapper that names the encoding, as a parsed part's content would be decoded.
Offer chooseDecode(Workload workload) {
  return {workload, "", [workload] {
            bool text = false;
            const std::string_view original = chooseBody(workload, &text);
            const auto format = formatFor(LineEnd::CrLf);
            const Chosen chosen = encodePart(byteArrayOf(original).get(), format.get());
            const auto encodedText = byteArrayOf(viewOf(chosen.content.get()));
            const GMimeContentEncoding encoding = chosen.encoding;
            return makeOperation<std::shared_ptr<GMimeStream>>(
                [=] {
                  auto source = streamOver(encodedText.get());
                  auto wrapper = owned(g_mime_data_wrapper_new_with_stream(source.get(), encoding));
                  auto out = outputStream(original.size());
                  g_mime_data_wrapper_write_to_stream(wrapper.get(), out.get());
                  return out;
                },
                [=](std::shared_ptr<GMimeStream> &out) {
                  Verdict verdict = judgeDecoded(viewOf(out.get()), original, text);
                  verdict.note = std::string("from ") + g_mime_content_encoding_to_string(encoding) +
                                 (verdict.note.empty() ? "" : ", " + verdict.note);
                  return verdict;
                });
          }};
}

// --- multipart ---

Offer multipartUnpack() {
  return {Workload::MultipartUnpack, "", [] {
            const auto entity = byteArrayOf(multipart().entity);
            return makeOperation<std::shared_ptr<GMimeObject>>(
                [=] {
                  auto stream = streamOver(entity.get());
                  auto parser = owned(g_mime_parser_new_with_stream(stream.get()));
                  return owned(g_mime_parser_construct_part(parser.get(), nullptr));
                },
                [](std::shared_ptr<GMimeObject> &object) {
                  if (!object || !GMIME_IS_MULTIPART(object.get())) return Verdict{"no multipart parsed", {}};
                  GMimeMultipart *parts = GMIME_MULTIPART(object.get());
                  std::vector<std::string> held;
                  for (int i = 0; i < g_mime_multipart_get_count(parts); ++i) {
                    GMimeObject *part = g_mime_multipart_get_part(parts, i);
                    if (!GMIME_IS_PART(part)) return Verdict{"a part that is not a leaf", {}};
                    held.push_back(
                        readAll(g_mime_data_wrapper_get_stream(g_mime_part_get_content(GMIME_PART(part)))));
                  }
                  return Verdict{checkParts({held.begin(), held.end()}), {}};
                });
          }};
}

// The multipart with its 64 parts is built untimed (it is what "the parts" are in GMime); the timed call
// writes its content. Each part's content is the Base64 text, flagged as such, so GMime copies it as it is.
std::shared_ptr<GMimeMultipart> buildMultipart(std::vector<std::shared_ptr<GByteArray>> &bodies) {
  auto multipartObject = owned(g_mime_multipart_new_with_subtype("mixed"));
  g_mime_multipart_set_boundary(multipartObject.get(), std::string(kBoundary).c_str());
  for (const std::string &body : multipart().partBodies) {
    bodies.push_back(byteArrayOf(body));
    auto part = owned(g_mime_part_new_with_type("application", "octet-stream"));
    auto source = streamOver(bodies.back().get());
    auto wrapper = owned(g_mime_data_wrapper_new_with_stream(source.get(), GMIME_CONTENT_ENCODING_BASE64));
    g_mime_part_set_content(part.get(), wrapper.get());
    g_mime_part_set_content_encoding(part.get(), GMIME_CONTENT_ENCODING_BASE64);
    g_mime_multipart_add(multipartObject.get(), GMIME_OBJECT(part.get()));
  }
  return multipartObject;
}

Offer multipartPack(LineEnd lineEnd) {
  return {Workload::MultipartPack, lineEnd == LineEnd::Lf ? "lf" : "crlf", [lineEnd] {
            auto bodies = std::make_shared<std::vector<std::shared_ptr<GByteArray>>>();
            const auto multipartObject = buildMultipart(*bodies);
            const auto format = formatFor(lineEnd);
            const std::size_t capacity = multipart().body.size() + 4096;
            return makeOperation<std::shared_ptr<GMimeStream>>(
                [=] {
                  auto out = outputStream(capacity);
                  g_mime_object_write_content_to_stream(GMIME_OBJECT(multipartObject.get()), format.get(),
                                                        out.get());
                  return out;
                },
                [=](std::shared_ptr<GMimeStream> &out) {
                  (void)bodies;  // kept alive with the operation: the parts read them in place
                  return Verdict{checkPacked(viewOf(out.get()), lineEnd), sizeNote(viewOf(out.get()).size())};
                });
          }};
}

// --- Content-Type header codec ---

std::string orEmpty(const char *text) {
  return text ? text : "";
}

ContentTypeFields fieldsOf(GMimeContentType *type) {
  if (!type) return {};
  const auto parameter = [type](const char *name) {
    return orEmpty(g_mime_content_type_get_parameter(type, name));
  };
  return {orEmpty(g_mime_content_type_get_media_type(type)) + "/" +
              orEmpty(g_mime_content_type_get_media_subtype(type)),
          parameter("boundary"), parameter("charset"), parameter("title"), parameter("format")};
}

Offer contentTypeDecode() {
  return {Workload::ContentTypeDecode, "", [] {
            const std::string value(kContentTypeValue);
            return makeOperation<std::shared_ptr<GMimeContentType>>(
                [=] { return owned(g_mime_content_type_parse(nullptr, value.c_str())); },
                [](std::shared_ptr<GMimeContentType> &type) {
                  return Verdict{checkContentType(fieldsOf(type.get())), {}};
                });
          }};
}

using GString = std::unique_ptr<char, decltype(&g_free)>;

Offer contentTypeEncode() {
  return {Workload::ContentTypeEncode, "", [] {
            const auto type =
                owned(g_mime_content_type_parse(nullptr, std::string(kContentTypeValue).c_str()));
            return makeOperation<GString>(
                [=] { return GString(g_mime_content_type_encode(type.get(), nullptr), &g_free); },
                [](GString &text) {
                  std::string error = checkSevenBit(text.get());
                  if (error.empty()) {
                    const auto again = owned(g_mime_content_type_parse(nullptr, text.get()));
                    error = checkContentType(fieldsOf(again.get()));
                  }
                  return Verdict{error, sizeNote(std::string_view(text.get()).size())};
                });
          }};
}

// GMime parses NUL-terminated text: the octets as a header block holds them, with the NUL a caller adds.
Offer contentTypeDecodeOctets() {
  return {Workload::ContentTypeDecodeOctets, "", [] {
            const std::string value(kContentTypeValue);
            return makeOperation<std::shared_ptr<GMimeContentType>>(
                [=] { return owned(g_mime_content_type_parse(nullptr, value.c_str())); },
                [](std::shared_ptr<GMimeContentType> &type) {
                  return Verdict{checkContentType(fieldsOf(type.get())), {}};
                });
          }};
}

Offer contentDispositionDecodeOctets() {
  return {Workload::ContentDispositionDecodeOctets, "", [] {
            const std::string value(kContentDispositionValue);
            return makeOperation<std::shared_ptr<GMimeContentDisposition>>(
                [=] { return owned(g_mime_content_disposition_parse(nullptr, value.c_str())); },
                [](std::shared_ptr<GMimeContentDisposition> &disposition) {
                  GMimeContentDisposition *d = disposition.get();
                  if (!d) return Verdict{"no disposition parsed", {}};
                  const auto parameter = [d](const char *name) {
                    return orEmpty(g_mime_content_disposition_get_parameter(d, name));
                  };
                  return Verdict{checkContentDisposition(
                                     {orEmpty(g_mime_content_disposition_get_disposition(d)),
                                      parameter("filename"), parameter("size"), parameter("creation-date")}),
                                 {}};
                });
          }};
}

// --- the message parser ---

// What one run read: each message parsed, and its leaves' contents decoded into memory streams.
struct Reading {
  std::vector<std::shared_ptr<GMimeMessage>> messages;
  std::vector<std::vector<std::shared_ptr<GMimeStream>>> leaves;
};

void decodeLeaves(GMimeObject *object, std::vector<std::shared_ptr<GMimeStream>> &leaves) {
  if (GMIME_IS_MULTIPART(object)) {
    GMimeMultipart *multipart = GMIME_MULTIPART(object);
    for (int i = 0; i < g_mime_multipart_get_count(multipart); ++i)
      decodeLeaves(g_mime_multipart_get_part(multipart, i), leaves);
    return;
  }
  if (GMIME_IS_MESSAGE_PART(object)) {
    GMimeMessage *message = g_mime_message_part_get_message(GMIME_MESSAGE_PART(object));
    if (message && g_mime_message_get_mime_part(message))
      decodeLeaves(g_mime_message_get_mime_part(message), leaves);
    else
      leaves.push_back(outputStream(0));
    return;
  }
  GMimeDataWrapper *content = GMIME_IS_PART(object) ? g_mime_part_get_content(GMIME_PART(object)) : nullptr;
  const std::size_t size =
      content ? static_cast<std::size_t>(g_mime_stream_length(g_mime_data_wrapper_get_stream(content))) : 0;
  leaves.push_back(outputStream(size));
  if (content) g_mime_data_wrapper_write_to_stream(content, leaves.back().get());
}

Reading read(const std::vector<std::shared_ptr<GByteArray>> &messages) {
  Reading reading;
  for (const auto &message : messages) {
    auto stream = streamOver(message.get());
    auto parser = owned(g_mime_parser_new_with_stream(stream.get()));
    reading.messages.push_back(owned(g_mime_parser_construct_message(parser.get(), nullptr)));
    auto &leaves = reading.leaves.emplace_back();
    GMimeMessage *parsed = reading.messages.back().get();
    if (parsed && g_mime_message_get_mime_part(parsed))
      decodeLeaves(g_mime_message_get_mime_part(parsed), leaves);
    else
      leaves.push_back(outputStream(0));
  }
  return reading;
}

// The messages are byte arrays made untimed, each parsed through a memory stream over it (no copy).
Offer readMessages(Workload workload) {
  return {workload, "", [workload] {
            auto messages = std::make_shared<std::vector<std::shared_ptr<GByteArray>>>();
            for (const std::string &message : readerInput(workload).messages)
              messages->push_back(byteArrayOf(message));
            return makeOperation<Reading>([=] { return read(*messages); },
                                          [workload](Reading &reading) {
                                            std::vector<MessageLeaves> views;
                                            for (const auto &leaves : reading.leaves) {
                                              MessageLeaves &message = views.emplace_back();
                                              for (const auto &leaf : leaves)
                                                message.push_back(viewOf(leaf.get()));
                                            }
                                            return checkReader(workload, views);
                                          });
          }};
}

}  // namespace

}  // namespace peers

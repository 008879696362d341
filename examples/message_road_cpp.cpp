// The road of one message, in C++ (mime/mime.hpp): the same journey as message_road_c.c, with every
// reference owned by an object and every refusal an empty std::optional. Exits 0 when every part came
// back octet for octet.
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "mime/mime.hpp"

namespace {

struct Attachment {
  std::string body;
  std::string type;  // a Content-Type value, parameters included
};

}  // namespace

int main() {
  const mime::Module module;
  if (!module) return 1;
  const mime::Options opt;  // RFC 2231 on, folding at 76, UTF-8 parameters

  const std::vector<Attachment> sent = {
      {"Gr\xC3\xBC\xC3\x9F"
       "e aus K\xC3\xB6ln!\r\n--a line that looks like a delimiter\r\n",
       "text/plain; charset=utf-8"},
      {std::string("\x89PNG\r\n\x1A\n\x00\xFF\x10\x80", 12), "image/png; name=\"K\xC3\xB6lner Dom.png\""},
  };

  // The sender: one entity per part, packed under a boundary that occurs in no body.
  std::vector<mime::Entity> parts;
  for (const Attachment &attachment : sent) {
    const std::optional<mime::ContentType> type = mime::ContentType::decode(attachment.type, opt);
    parts.push_back(*mime::encode(opt, mime::Buffer(attachment.body), *type, mime::generateContentId()));
  }
  mime::ContentType mixed = *mime::ContentType::create("multipart/mixed");
  const std::optional<mime::Buffer> packed = mime::pack(mixed, parts, opt);
  if (!packed) return 1;
  const mime::Entity outer = *mime::encode(opt, *packed, mixed);

  // On the wire: the three header fields, a blank line and the body.
  std::cout << "MIME-Version: 1.0\r\nContent-Type: " << *outer.contentType()
            << "\r\nContent-Transfer-Encoding: " << *outer.contentTransferEncoding() << "\r\n\r\n"
            << outer.body()->view();

  // The receiver builds a fresh entity from the text and octets, then decodes and unpacks it.
  mime::Entity received;
  received.setContentType(*outer.contentType());
  received.setContentTransferEncoding(*outer.contentTransferEncoding());
  received.setBody(mime::Buffer(outer.body()->view()));
  const std::optional<mime::Decoded> message = mime::decode(received, opt);
  if (!message || !message->contentType || !message->body) return 1;
  const std::optional<std::vector<mime::Entity>> entities =
      mime::unpack(*message->contentType, *message->body, opt);
  if (!entities || entities->size() != sent.size()) return 1;

  size_t intact = 0;
  for (size_t i = 0; i < entities->size(); ++i) {
    const std::optional<mime::Decoded> part = mime::decode((*entities)[i], opt);
    if (!part || !part->body || part->body->view() != sent[i].body) continue;
    std::cerr << "part " << i + 1 << ": " << part->contentType->name() << ", " << part->body->size()
              << " octets, intact (name: " << part->contentType->parameter("name").value_or("-") << ")\n";
    ++intact;
  }
  return intact == sent.size() ? 0 : 1;
}

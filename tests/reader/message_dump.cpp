// Test-only: reads each message file named on the command line with mimeMessageRead and prints its parts
// in preorder, one JSON object per line ({"type", "filename", "body" in hex for a leaf, "defects"}), and a
// line "--" after each message, for the corpus comparison with Python's email package.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "kx/kx_internal.hpp"
#include "mime/mime.h"

namespace {

using kx::Ref;

std::string utf8Of(KX_STRING *s) {
  kxInt length = 0;
  char *text = kxStringConvertToCstr(s, &length);
  std::string out(text, static_cast<size_t>(length));
  kxMemFree(text);
  return out;
}

std::string jsonString(const std::string &text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string hexOf(KX_BUFFER *b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  const kxByte *bytes = kxBufferBacking(b);
  for (kxInt i = 0; i < kxBufferLength(b); ++i) {
    out += kDigits[bytes[i] >> 4];
    out += kDigits[bytes[i] & 15];
  }
  return out;
}

void dump(MIME_PART *part, MIME_OPTIONS *opt) {
  Ref<MIME_CONTENT_TYPE> type(mimePartContentType(part));
  Ref<KX_STRING> name(mimeContentTypeName(type.get()));
  std::string line = "{\"type\": " + jsonString(utf8Of(name.get()));
  Ref<KX_STRING> fileName(mimePartFileName(part));
  line += ", \"filename\": " + (fileName ? jsonString(utf8Of(fileName.get())) : std::string("null"));
  if (mimePartChildrenLength(part) == 0) {
    Ref<KX_BUFFER> body(mimePartDecodeBody(part, opt, nullptr));
    line += ", \"body\": \"" + hexOf(body.get()) + "\"";
  }
  line += ", \"defects\": [";
  for (kxInt i = 0; i < mimePartDefectsLength(part); ++i) {
    line += (i ? ", " : "") + jsonString(mimeDefectKindName(mimePartDefectAt(part, i).kind));
  }
  std::puts((line + "]}").c_str());
  for (kxInt i = 0; i < mimePartChildrenLength(part); ++i) {
    Ref<MIME_PART> child(mimePartChildAt(part, i));
    dump(child.get(), opt);
  }
}

}  // namespace

int main(int argc, char **argv) {
  if (!kxModuleStartup(mimeModule())) return 2;
  Ref<MIME_OPTIONS> opt(mimeOptionsCreate());
  for (int i = 1; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    const std::string octets((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    Ref<KX_BUFFER> message(kxBufferCreateFromBytes(octets.data(), static_cast<kxInt>(octets.size())));
    Ref<MIME_PART> root(mimeMessageRead(message.get(), opt.get()));
    dump(root.get(), opt.get());
    std::puts("--");
  }
  kxModuleShutdown(mimeModule());
  return 0;
}

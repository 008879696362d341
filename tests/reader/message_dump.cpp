// Test-only: reads each message file named on the command line with the message reader and prints its
// parts in preorder, one line each: the content type, the file name in hex ("-" for none) and, for a leaf,
// the decoded body in hex ("-" for a container); a line "--" ends each message. For the comparison with
// Python's email package (python_corpus_test.py).
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "mime/mime.hpp"

namespace {

std::string hexOf(std::string_view octets) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : octets) out += {kDigits[c >> 4], kDigits[c & 15]};
  return out;
}

void dump(const mime::Part &part, const mime::Options &opt) {
  const std::vector<mime::Part> children = part.children();
  const std::optional<std::string> name = part.fileName();
  const std::string body = children.empty() ? hexOf(part.decodedBody(opt).view()) : "-";
  std::printf("%s\t%s\t%s\n", part.contentType().name().c_str(), name ? hexOf(*name).c_str() : "-",
              body.c_str());
  for (const mime::Part &child : children) dump(child, opt);
}

}  // namespace

int main(int argc, char **argv) {
  const mime::Module module;
  if (!module) return 2;
  const mime::Options opt;
  for (int i = 1; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    const mime::Buffer message(
        std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()));
    dump(mime::readMessage(message, opt), opt);
    std::puts("--");
  }
  return 0;
}

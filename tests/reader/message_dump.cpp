// Test-only: reads each message file named on the command line with the message reader and prints its
// parts in preorder, one line each, tab-separated: the content type, the file name in hex ("-" for none),
// the Subject text in hex ("-" for none) and, for a leaf, the decoded body in hex ("-" for a container); a
// line "--" ends each message. For the comparisons with Python's email package (tests/reader/*.py). With
// --sizes first, each line holds the content type and the decoded body's length only.
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
  const std::optional<std::string> subject = part.fieldText("Subject");
  const std::string body = children.empty() ? hexOf(part.decodedBody(opt).view()) : "-";
  std::printf("%s\t%s\t%s\t%s\n", part.contentType().name().c_str(), name ? hexOf(*name).c_str() : "-",
              subject ? hexOf(*subject).c_str() : "-", body.c_str());
  for (const mime::Part &child : children) dump(child, opt);
}

// The content type and the decoded body's length of each part: what measuring the reader's memory needs.
void sizes(const mime::Part &part, const mime::Options &opt) {
  const std::vector<mime::Part> children = part.children();
  std::printf("%s\t%zu\n", part.contentType().name().c_str(),
              children.empty() ? part.decodedBody(opt).size() : 0);
  for (const mime::Part &child : children) sizes(child, opt);
}

}  // namespace

int main(int argc, char **argv) {
  const mime::Module module;
  if (!module) return 2;
  const mime::Options opt;
  const bool onlySizes = argc > 1 && std::string_view(argv[1]) == "--sizes";
  for (int i = onlySizes ? 2 : 1; i < argc; ++i) {
    std::ifstream file(argv[i], std::ios::binary);
    const mime::Buffer message(
        std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>()));
    (onlySizes ? sizes : dump)(mime::readMessage(message, opt), opt);
    std::puts("--");
  }
  return 0;
}

// The regular expression that a death test matches against the abort line of kx___Abort: the label (if any)
// and the failed expression, taken literally up to the end of the line. gtest's regex dialect on Linux is
// POSIX extended.
#pragma once

#include <string>

namespace test_support {

inline std::string literalRegex(const std::string &text) {
  std::string out;
  for (char c : text) {
    if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) out += '\\';
    out += c;
  }
  return out;
}

// An abort whose line ends in "label: expression", or in ": expression" when label is empty.
inline std::string abortText(const std::string &label, const std::string &expression) {
  if (label.empty()) return "kx abort: .*[: ]" + literalRegex(expression) + "\n";
  return "kx abort: .* " + literalRegex(label + ": " + expression) + "\n";
}

// An abort that carries no expression text (the line ends after the line number).
inline std::string abortWithoutExpression() {
  return "kx abort: .*:[0-9]+:?\n";
}

}  // namespace test_support

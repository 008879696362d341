// Exact comparison of code-point or byte sequences that, on a mismatch, names the first differing offset and
// shows both sides around it with control and non-ASCII characters escaped.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

namespace test_support {

// Printable form of a sequence: ASCII as is, CR LF TAB as \r \n \t, everything else as \x{...}.
template <typename CharT>
std::string escapeForDisplay(std::basic_string_view<CharT> text) {
  std::ostringstream out;
  for (CharT ch : text) {
    const auto c = static_cast<uint32_t>(static_cast<std::make_unsigned_t<CharT>>(ch));
    constexpr std::string_view kNamed = "\r\n\t\\", kLetters = "rnt\\";
    if (const size_t named = c < 0x80 ? kNamed.find(static_cast<char>(c)) : kNamed.npos; named != kNamed.npos)
      out << '\\' << kLetters[named];
    else if (c >= 0x20 && c < 0x7F)
      out << static_cast<char>(c);
    else
      out << "\\x{" << std::hex << c << std::dec << "}";
  }
  return out.str();
}

template <typename CharT>
testing::AssertionResult exactlyEqual(std::basic_string_view<CharT> actual,
                                      std::basic_string_view<CharT> expected) {
  if (actual == expected) return testing::AssertionSuccess();
  size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  const size_t from = at > 16 ? at - 16 : 0;
  return testing::AssertionFailure() << "first difference at offset " << at << " (lengths " << actual.size()
                                     << " and " << expected.size() << ")\n  actual:   \""
                                     << escapeForDisplay(actual.substr(from, 48)) << "\"\n  expected: \""
                                     << escapeForDisplay(expected.substr(from, 48)) << "\" (from offset "
                                     << from << ")";
}

inline testing::AssertionResult exactlyEqual(const std::u32string &actual, const std::u32string &expected) {
  return exactlyEqual<char32_t>(actual, expected);
}

inline testing::AssertionResult exactlyEqual(const std::string &actual, const std::string &expected) {
  return exactlyEqual<char>(actual, expected);
}

}  // namespace test_support

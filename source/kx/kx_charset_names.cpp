// Charset names: the 51 charsets kx converts, their kx names, IANA names and the aliases found on the wire.
//
// The set is what mail and SIP traffic carries: the ISO-8859 and Windows-125x families, the Cyrillic,
// Japanese, Chinese, Korean and Thai encodings, the Unicode encoding forms, and the DOS and Mac code pages
// that old mail still names. The numbers are part of the interface (stores keep names, but callers keep
// numbers): 0 US-ASCII, 1 ISO-8859-1 and 44 UTF-8 are fixed, and no number may ever change meaning.
#include <algorithm>
#include <array>
#include <string_view>

#include "kx/kx_charset_internal.hpp"
#include "kx/kx_internal.hpp"

namespace {

using kx::charset::Names;

constexpr std::array<Names, KX_CHARSET_COUNT> kCharsets = {{
    {"US_ASCII", "US-ASCII", "ANSI_X3.4-1968"},  // 0
    {"ISO_8859_1", "ISO-8859-1", "ISO-8859-1"},
    {"ISO_8859_2", "ISO-8859-2", "ISO-8859-2"},
    {"ISO_8859_3", "ISO-8859-3", "ISO-8859-3"},
    {"ISO_8859_4", "ISO-8859-4", "ISO-8859-4"},
    {"ISO_8859_5", "ISO-8859-5", "ISO-8859-5"},  // 5
    {"ISO_8859_6", "ISO-8859-6", "ISO-8859-6"},
    {"ISO_8859_7", "ISO-8859-7", "ISO-8859-7"},
    {"ISO_8859_8", "ISO-8859-8", "ISO-8859-8"},
    {"ISO_8859_9", "ISO-8859-9", "ISO-8859-9"},
    {"ISO_8859_10", "ISO-8859-10", "ISO-8859-10"},  // 10
    {"ISO_8859_13", "ISO-8859-13", "ISO-8859-13"},
    {"ISO_8859_14", "ISO-8859-14", "ISO-8859-14"},
    {"ISO_8859_15", "ISO-8859-15", "ISO-8859-15"},
    {"ISO_8859_16", "ISO-8859-16", "ISO-8859-16"},
    {"WINDOWS_1250", "windows-1250", "CP1250"},  // 15
    {"WINDOWS_1251", "windows-1251", "CP1251"},
    {"WINDOWS_1252", "windows-1252", "CP1252"},
    {"WINDOWS_1253", "windows-1253", "CP1253"},
    {"WINDOWS_1254", "windows-1254", "CP1254"},
    {"WINDOWS_1255", "windows-1255", "CP1255"},  // 20
    {"WINDOWS_1256", "windows-1256", "CP1256"},
    {"WINDOWS_1257", "windows-1257", "CP1257"},
    {"WINDOWS_1258", "windows-1258", "CP1258"},
    {"KOI8_R", "KOI8-R", "KOI8-R"},
    {"KOI8_U", "KOI8-U", "KOI8-U"},  // 25
    {"UTF_16", "UTF-16", "UTF-16"},
    {"UTF_16BE", "UTF-16BE", "UTF-16BE"},
    {"UTF_16LE", "UTF-16LE", "UTF-16LE"},
    {"UTF_32", "UTF-32", "UTF-32"},
    {"UTF_32BE", "UTF-32BE", "UTF-32BE"},  // 30
    {"UTF_32LE", "UTF-32LE", "UTF-32LE"},
    {"SHIFT_JIS", "Shift_JIS", "SHIFT_JIS"},
    {"EUC_JP", "EUC-JP", "EUC-JP"},
    {"ISO_2022_JP", "ISO-2022-JP", "ISO-2022-JP"},
    {"GB18030", "GB18030", "GB18030"},  // 35
    {"GBK", "GBK", "GBK"},
    {"GB2312", "GB2312", "EUC-CN"},  // the MIME name means the EUC form of GB 2312
    {"BIG5", "Big5", "BIG5"},
    {"EUC_KR", "EUC-KR", "EUC-KR"},
    {"IBM437", "IBM437", "IBM437"},  // 40
    {"IBM850", "IBM850", "IBM850"},
    {"MACINTOSH", "macintosh", "MACINTOSH"},
    // ISO-8859-11 is TIS-620 plus NO-BREAK SPACE at 0xA0; decoding with it accepts what Thai senders write.
    {"TIS_620", "TIS-620", "ISO-8859-11"},
    {"UTF_8", "UTF-8", "UTF-8"},
    {"WINDOWS_874", "windows-874", "CP874"},  // 45
    {"BIG5_HKSCS", "Big5-HKSCS", "BIG5-HKSCS"},
    {"WINDOWS_31J", "Windows-31J", "CP932"},
    {"ISO_2022_KR", "ISO-2022-KR", "ISO-2022-KR"},
    {"UTF_7", "UTF-7", "UTF-7"},
    {"IBM866", "IBM866", "IBM866"},  // 50
}};

static_assert(std::string_view(kCharsets[KX_CHARSET_US_ASCII].iana) == "US-ASCII");
static_assert(std::string_view(kCharsets[KX_CHARSET_ISO_8859_1].iana) == "ISO-8859-1");
static_assert(std::string_view(kCharsets[KX_CHARSET_UTF_8].iana) == "UTF-8");
static_assert(std::string_view(kCharsets[kx::charset::kUtf16].iana) == "UTF-16");
static_assert(std::string_view(kCharsets[kx::charset::kUtf16Be].iana) == "UTF-16BE");
static_assert(std::string_view(kCharsets[kx::charset::kUtf16Le].iana) == "UTF-16LE");
static_assert(std::string_view(kCharsets[kx::charset::kUtf32].iana) == "UTF-32");
static_assert(std::string_view(kCharsets[kx::charset::kUtf32Be].iana) == "UTF-32BE");
static_assert(std::string_view(kCharsets[kx::charset::kUtf32Le].iana) == "UTF-32LE");

struct Alias {
  std::string_view name;  // lower case
  kxInt charset;
};

// Every name a charset goes by on the wire, in lower case: the IANA name and aliases, and the spellings
// that mail programs and SIP stacks are known to send (cp1252, x-sjis, utf8, ...). Each name belongs to
// exactly one charset; the preferred IANA names must be here as well (checked below).
// One group of lines per charset, kept as written:
// clang-format off
constexpr Alias kAliases[] = {
    {"us-ascii", 0}, {"ascii", 0}, {"us", 0}, {"iso-ir-6", 0}, {"ansi_x3.4-1968", 0}, {"ansi_x3.4-1986", 0},
    {"iso_646.irv:1991", 0}, {"iso646-us", 0}, {"ibm367", 0}, {"cp367", 0}, {"csascii", 0}, {"646", 0},
    // The IANA name as some programs rewrite it, with "-" for "_".
    {"ansi-x3.4-1968", 0}, {"ansi-x3.4-1986", 0},

    {"iso-8859-1", 1}, {"iso_8859-1", 1}, {"iso_8859-1:1987", 1}, {"iso-ir-100", 1}, {"latin1", 1},
    {"latin-1", 1}, {"l1", 1}, {"ibm819", 1}, {"cp819", 1}, {"csisolatin1", 1}, {"iso8859-1", 1},
    {"iso88591", 1}, {"iso8859_1", 1},

    {"iso-8859-2", 2}, {"iso_8859-2", 2}, {"iso_8859-2:1987", 2}, {"iso-ir-101", 2}, {"latin2", 2},
    {"latin-2", 2}, {"l2", 2}, {"csisolatin2", 2}, {"iso8859-2", 2}, {"iso88592", 2},

    {"iso-8859-3", 3}, {"iso_8859-3", 3}, {"iso_8859-3:1988", 3}, {"iso-ir-109", 3}, {"latin3", 3},
    {"l3", 3}, {"csisolatin3", 3}, {"iso8859-3", 3}, {"iso88593", 3},

    {"iso-8859-4", 4}, {"iso_8859-4", 4}, {"iso_8859-4:1988", 4}, {"iso-ir-110", 4}, {"latin4", 4},
    {"l4", 4}, {"csisolatin4", 4}, {"iso8859-4", 4}, {"iso88594", 4},

    {"iso-8859-5", 5}, {"iso_8859-5", 5}, {"iso_8859-5:1988", 5}, {"iso-ir-144", 5}, {"cyrillic", 5},
    {"csisolatincyrillic", 5}, {"iso8859-5", 5}, {"iso88595", 5},

    {"iso-8859-6", 6}, {"iso_8859-6", 6}, {"iso_8859-6:1987", 6}, {"iso-ir-127", 6}, {"ecma-114", 6},
    {"asmo-708", 6}, {"arabic", 6}, {"csisolatinarabic", 6}, {"iso8859-6", 6}, {"iso88596", 6},
    {"iso-8859-6-i", 6}, {"iso-8859-6-e", 6}, {"iso_8859-6-i", 6}, {"iso_8859-6-e", 6}, {"csiso88596i", 6},
    {"csiso88596e", 6},

    {"iso-8859-7", 7}, {"iso_8859-7", 7}, {"iso_8859-7:1987", 7}, {"iso-ir-126", 7}, {"elot_928", 7},
    {"ecma-118", 7}, {"greek", 7}, {"greek8", 7}, {"csisolatingreek", 7}, {"iso8859-7", 7}, {"iso88597", 7},

    // ISO-8859-8-I (logical order) and -E (explicit) carry the same octets as visual ISO-8859-8.
    {"iso-8859-8", 8}, {"iso_8859-8", 8}, {"iso_8859-8:1988", 8}, {"iso-ir-138", 8}, {"hebrew", 8},
    {"csisolatinhebrew", 8}, {"iso8859-8", 8}, {"iso88598", 8}, {"iso-8859-8-i", 8}, {"iso-8859-8-e", 8},
    {"csiso88598i", 8}, {"csiso88598e", 8}, {"iso_8859-8-i", 8}, {"iso_8859-8-e", 8},

    {"iso-8859-9", 9}, {"iso_8859-9", 9}, {"iso_8859-9:1989", 9}, {"iso-ir-148", 9}, {"latin5", 9},
    {"l5", 9}, {"csisolatin5", 9}, {"iso8859-9", 9}, {"iso88599", 9},

    {"iso-8859-10", 10}, {"iso_8859-10", 10}, {"iso_8859-10:1992", 10}, {"iso-ir-157", 10}, {"latin6", 10},
    {"l6", 10}, {"csisolatin6", 10}, {"iso8859-10", 10}, {"iso885910", 10},

    {"iso-8859-13", 11}, {"iso_8859-13", 11}, {"latin7", 11}, {"l7", 11}, {"csiso885913", 11},
    {"iso8859-13", 11}, {"iso885913", 11},

    {"iso-8859-14", 12}, {"iso_8859-14", 12}, {"iso_8859-14:1998", 12}, {"iso-ir-199", 12}, {"latin8", 12},
    {"l8", 12}, {"iso-celtic", 12}, {"csiso885914", 12}, {"iso8859-14", 12}, {"iso885914", 12},

    {"iso-8859-15", 13}, {"iso_8859-15", 13}, {"latin-9", 13}, {"latin9", 13}, {"csiso885915", 13},
    {"iso8859-15", 13}, {"iso885915", 13},

    {"iso-8859-16", 14}, {"iso_8859-16", 14}, {"iso_8859-16:2001", 14}, {"iso-ir-226", 14}, {"latin10", 14},
    {"l10", 14}, {"csiso885916", 14}, {"iso8859-16", 14}, {"iso885916", 14},

    {"windows-1250", 15}, {"cp1250", 15}, {"x-cp1250", 15}, {"cswindows1250", 15},
    {"windows-1251", 16}, {"cp1251", 16}, {"x-cp1251", 16}, {"cswindows1251", 16},
    {"windows-1252", 17}, {"cp1252", 17}, {"x-cp1252", 17}, {"cswindows1252", 17},
    {"windows-1253", 18}, {"cp1253", 18}, {"x-cp1253", 18}, {"cswindows1253", 18},
    {"windows-1254", 19}, {"cp1254", 19}, {"x-cp1254", 19}, {"cswindows1254", 19},
    {"windows-1255", 20}, {"cp1255", 20}, {"x-cp1255", 20}, {"cswindows1255", 20},
    {"windows-1256", 21}, {"cp1256", 21}, {"x-cp1256", 21}, {"cswindows1256", 21},
    {"windows-1257", 22}, {"cp1257", 22}, {"x-cp1257", 22}, {"cswindows1257", 22},
    {"windows-1258", 23}, {"cp1258", 23}, {"x-cp1258", 23}, {"cswindows1258", 23},

    {"koi8-r", 24}, {"koi8r", 24}, {"cskoi8r", 24},
    {"koi8-u", 25}, {"koi8u", 25}, {"cskoi8u", 25},

    {"utf-16", 26}, {"utf16", 26}, {"csutf16", 26},
    {"utf-16be", 27}, {"utf16be", 27}, {"csutf16be", 27},
    {"utf-16le", 28}, {"utf16le", 28}, {"csutf16le", 28},
    {"utf-32", 29}, {"utf32", 29}, {"csutf32", 29},
    {"utf-32be", 30}, {"utf32be", 30}, {"csutf32be", 30},
    {"utf-32le", 31}, {"utf32le", 31}, {"csutf32le", 31},

    {"shift_jis", 32}, {"shift-jis", 32}, {"sjis", 32}, {"x-sjis", 32}, {"ms_kanji", 32}, {"csshiftjis", 32},
    {"euc-jp", 33}, {"eucjp", 33}, {"x-euc-jp", 33}, {"cseucpkdfmtjapanese", 33},
    {"extended_unix_code_packed_format_for_japanese", 33},
    {"iso-2022-jp", 34}, {"csiso2022jp", 34},

    {"gb18030", 35}, {"csgb18030", 35},
    {"gbk", 36}, {"cp936", 36}, {"ms936", 36}, {"windows-936", 36}, {"csgbk", 36}, {"x-gbk", 36},
    {"gb2312", 37}, {"csgb2312", 37}, {"euc-cn", 37}, {"euccn", 37}, {"x-euc-cn", 37}, {"x-gb2312", 37},
    {"eucgb2312_cn", 37},  // the codec name that Python's legacy header API writes
    // GB 2312's own name labels its EUC form in mail as well.
    {"gb_2312-80", 37}, {"gb_2312", 37}, {"chinese", 37}, {"iso-ir-58", 37}, {"csiso58gb231280", 37},
    {"big5", 38}, {"big-5", 38}, {"csbig5", 38}, {"cn-big5", 38}, {"x-x-big5", 38}, {"x-big5", 38},
    {"big5_tw", 38},
    // Korean mail labels EUC-KR text with the name of its character set, KS C 5601.
    {"euc-kr", 39}, {"euckr", 39}, {"cseuckr", 39}, {"ks_c_5601-1987", 39}, {"ks_c_5601-1989", 39},
    {"ksc_5601", 39}, {"ksc5601", 39}, {"korean", 39}, {"csksc56011987", 39}, {"iso-ir-149", 39},

    {"ibm437", 40}, {"cp437", 40}, {"437", 40}, {"cspc8codepage437", 40},
    {"ibm850", 41}, {"cp850", 41}, {"850", 41}, {"cspc850multilingual", 41},
    {"macintosh", 42}, {"mac", 42}, {"csmacintosh", 42}, {"x-mac-roman", 42}, {"macroman", 42},
    {"mac-roman", 42}, {"x-mac", 42},
    {"tis-620", 43}, {"tis620", 43}, {"cstis620", 43}, {"iso-8859-11", 43}, {"iso8859-11", 43},
    {"iso885911", 43},

    {"utf-8", 44}, {"utf8", 44}, {"unicode-1-1-utf-8", 44}, {"unicode-2-0-utf-8", 44}, {"x-unicode20utf8", 44},
    {"csutf8", 44},

    {"windows-874", 45}, {"cp874", 45}, {"x-cp874", 45}, {"ms874", 45}, {"dos-874", 45}, {"cswindows874", 45},
    {"big5-hkscs", 46}, {"big5hkscs", 46}, {"csbig5hkscs", 46},
    {"windows-31j", 47}, {"cp932", 47}, {"ms932", 47}, {"x-ms-cp932", 47}, {"cswindows31j", 47},
    {"iso-2022-kr", 48}, {"csiso2022kr", 48},
    {"utf-7", 49}, {"utf7", 49}, {"unicode-1-1-utf-7", 49}, {"csunicode11utf7", 49}, {"csutf7", 49},
    {"ibm866", 50}, {"cp866", 50}, {"866", 50}, {"csibm866", 50},
};
// clang-format on

constexpr char lowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

constexpr auto sortedAliases() {
  std::array<Alias, std::size(kAliases)> sorted{};
  std::copy(std::begin(kAliases), std::end(kAliases), sorted.begin());
  std::sort(sorted.begin(), sorted.end(), [](const Alias &a, const Alias &b) { return a.name < b.name; });
  return sorted;
}

constexpr auto kSortedAliases = sortedAliases();

constexpr bool aliasesWellFormed() {
  for (size_t i = 0; i < kSortedAliases.size(); ++i) {
    const Alias &alias = kSortedAliases[i];
    if (alias.charset < 0 || alias.charset >= KX_CHARSET_COUNT) return false;
    for (char c : alias.name) {
      if (c != lowerAscii(c)) return false;
    }
    if (i > 0 && kSortedAliases[i - 1].name == alias.name) return false;  // one name, one charset
  }
  return true;
}
static_assert(aliasesWellFormed(), "aliases must be lower case, unique and name a charset 0 to 50");

constexpr kxInt lookUpLowerCase(std::string_view lower) {
  auto found = std::lower_bound(kSortedAliases.begin(), kSortedAliases.end(), lower,
                                [](const Alias &alias, std::string_view name) { return alias.name < name; });
  return found != kSortedAliases.end() && found->name == lower ? found->charset : -1;
}

constexpr bool everyIanaNameIsAnAlias() {
  for (kxInt charset = 0; charset < KX_CHARSET_COUNT; ++charset) {
    std::string_view iana = kCharsets[static_cast<size_t>(charset)].iana;
    char lower[64] = {};
    if (iana.size() >= sizeof lower) return false;
    for (size_t i = 0; i < iana.size(); ++i) lower[i] = lowerAscii(iana[i]);
    if (lookUpLowerCase(std::string_view(lower, iana.size())) != charset) return false;
  }
  return true;
}
static_assert(everyIanaNameIsAnAlias(), "kxCharsetFromIanaName must invert kxCharsetToIanaName");

constexpr size_t longestAlias() {
  size_t longest = 0;
  for (const Alias &alias : kAliases) longest = std::max(longest, alias.name.size());
  return longest;
}

// A longer name cannot be a charset name.
constexpr size_t kLongestAlias = longestAlias();

// The name in lower case when it is ASCII and short enough to be a charset name; false otherwise.
bool lowerCaseName(const kxChar *chars, kxInt count, char (&lower)[kLongestAlias + 1], size_t &length);

}  // namespace

extern "C" {

KX_STRING *kxCharsetToString(kxInt charset) {
  KX_ASSERT(KX_CHARSET_OK(charset));
  return kxStringCreateFromCstr(kCharsets[static_cast<size_t>(charset)].kx, -1);
}

kxInt kxCharsetFromString(KX_STRING *name) {
  KX_ASSERT(name);
  for (kxInt charset = 0; charset < KX_CHARSET_COUNT; ++charset) {
    // ASCII case-insensitive, so that a person editing a stored "UTF_8" may write "utf_8".
    if (kxStringEqualsCaseFoldCstr(name, kCharsets[static_cast<size_t>(charset)].kx, -1)) return charset;
  }
  return -1;
}

KX_STRING *kxCharsetToIanaName(kxInt charset) {
  KX_ASSERT(KX_CHARSET_OK(charset));
  return kxStringCreateFromCstr(kCharsets[static_cast<size_t>(charset)].iana, -1);
}

kxInt kxCharsetFromIanaName(KX_STRING *name) {
  KX_ASSERT(name);
  return kxCharsetFromIanaNameChars(kxStringBacking(name), kxStringLength(name));
}

kxInt kxCharsetFromIanaNameChars(const kxChar *name, kxInt length) {
  KX_ASSERT(length >= 0);
  KX_ASSERT(name || length == 0);
  char lower[kLongestAlias + 1];
  size_t lowerLength;
  if (!lowerCaseName(name, length, lower, lowerLength)) return -1;
  return lookUpLowerCase(std::string_view(lower, lowerLength));
}

}  // extern "C"

namespace kx::charset {

const Names &namesOf(kxInt charset) {
  KX_ASSERT(KX_CHARSET_OK(charset));
  return kCharsets[static_cast<size_t>(charset)];
}

kxInt unitSizeOf(kxInt charset) {
  std::string_view iana = namesOf(charset).iana;
  if (iana.starts_with("UTF-16")) return 2;
  if (iana.starts_with("UTF-32")) return 4;
  return 1;
}

}  // namespace kx::charset

// --- lookup ---

namespace {

bool lowerCaseName(const kxChar *chars, kxInt count, char (&lower)[kLongestAlias + 1], size_t &length) {
  if (count == 0 || count > static_cast<kxInt>(kLongestAlias)) return false;
  for (kxInt i = 0; i < count; ++i) {
    if (chars[i] >= 0x80) return false;  // every alias is ASCII; no folding of other characters
    lower[i] = lowerAscii(static_cast<char>(chars[i]));
  }
  length = static_cast<size_t>(count);
  return true;
}

}  // namespace

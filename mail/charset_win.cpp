#include "mail/charset.h"

#include <windows.h>

#include <utility>

#include "platform/ascii.h"
#include "platform/windows_api.h"

namespace {

struct TCodePageName {
  const char* name;
  UINT codePage;
};

// The names mail uses for the character sets Windows converts (those iconv
// knows too); a name not here converts nothing, as iconv's unknown ones.
constexpr TCodePageName kCodePages[] = {
    {"iso-8859-1", 28591}, {"iso8859-1", 28591},   {"iso_8859-1", 28591},   {"latin1", 28591},
    {"latin-1", 28591},    {"l1", 28591},          {"iso-8859-2", 28592},   {"iso8859-2", 28592},
    {"latin2", 28592},     {"l2", 28592},          {"iso-8859-3", 28593},   {"iso-8859-4", 28594},
    {"iso-8859-5", 28595}, {"iso8859-5", 28595},   {"iso-8859-6", 28596},   {"iso-8859-7", 28597},
    {"iso8859-7", 28597},  {"iso-8859-8", 28598},  {"iso-8859-8-i", 38598}, {"iso-8859-9", 28599},
    {"latin5", 28599},     {"iso-8859-13", 28603}, {"iso-8859-15", 28605},  {"iso8859-15", 28605},
    {"latin-9", 28605},    {"windows-1250", 1250}, {"cp1250", 1250},        {"windows-1251", 1251},
    {"cp1251", 1251},      {"windows-1252", 1252}, {"cp1252", 1252},        {"windows-1253", 1253},
    {"cp1253", 1253},      {"windows-1254", 1254}, {"cp1254", 1254},        {"windows-1255", 1255},
    {"cp1255", 1255},      {"windows-1256", 1256}, {"cp1256", 1256},        {"windows-1257", 1257},
    {"cp1257", 1257},      {"windows-1258", 1258}, {"cp1258", 1258},        {"windows-874", 874},
    {"cp874", 874},        {"tis-620", 874},       {"koi8-r", 20866},       {"koi8-u", 21866},
    {"ibm437", 437},       {"cp437", 437},         {"ibm850", 850},         {"cp850", 850},
    {"ibm852", 852},       {"cp852", 852},         {"ibm866", 866},         {"cp866", 866},
    {"macintosh", 10000},  {"mac", 10000},         {"shift_jis", 932},      {"shift-jis", 932},
    {"sjis", 932},         {"ms_kanji", 932},      {"windows-31j", 932},    {"cp932", 932},
    {"euc-jp", 20932},     {"iso-2022-jp", 50220}, {"gb2312", 936},         {"euc-cn", 936},
    {"gbk", 936},          {"cp936", 936},         {"gb18030", 54936},      {"big5", 950},
    {"cp950", 950},        {"euc-kr", 949},        {"ks_c_5601-1987", 949}, {"cp949", 949},
    {"utf-7", 65000},
};

UINT CodePageOf(const std::string& name) {
  for (const auto& [n, cp] : kCodePages) {
    if (name == n) return cp;
  }
  return 0;
}

// Code pages that refuse MB_ERR_INVALID_CHARS (the stateful ones).
bool TakesErrorFlag(UINT codePage) {
  return codePage != 65000 && (codePage < 50220 || codePage > 50229);
}

// UTF-16 needs no code page. For "utf-16" a byte-order mark decides; with
// none, glibc's iconv takes the machine's order, little-endian on x86, and so
// does this.
bool Utf16ToWide(const std::string& name, std::string_view bytes, std::wstring& wide) {
  bool big = name == "utf-16be";
  if (name == "utf-16" && bytes.size() >= 2) {
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    if ((b0 == 0xFF && b1 == 0xFE) || (b0 == 0xFE && b1 == 0xFF)) {
      big = b0 == 0xFE;
      bytes.remove_prefix(2);
    }
  }
  if (bytes.size() % 2 != 0) return false;
  for (std::size_t i = 0; i < bytes.size(); i += 2) {
    const auto hi = static_cast<unsigned char>(bytes[big ? i : i + 1]);
    const auto lo = static_cast<unsigned char>(bytes[big ? i + 1 : i]);
    wide += static_cast<wchar_t>(hi << 8 | lo);
  }
  return true;
}

bool ToWide(const std::string& name, std::string_view bytes, std::wstring& wide) {
  if (name == "utf-16" || name == "utf-16be" || name == "utf-16le") {
    return Utf16ToWide(name, bytes, wide);
  }
  const UINT codePage = CodePageOf(name);
  if (codePage == 0 || !IsValidCodePage(codePage)) return false;
  if (bytes.empty()) return true;
  const DWORD flags = TakesErrorFlag(codePage) ? MB_ERR_INVALID_CHARS : 0;
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
  if (n <= 0) return false;
  wide.resize(static_cast<std::size_t>(n));
  return MultiByteToWideChar(codePage, flags, bytes.data(), size, wide.data(), n) == n;
}

}  // namespace

bool CharsetToUtf8(std::string_view charset, std::string_view bytes, std::string& out) {
  if (IsUtf8Charset(charset)) {
    out.assign(bytes);
    return true;
  }
  std::wstring wide;
  if (!ToWide(AsciiLower(charset), bytes, wide)) return false;
  // A lone surrogate has no UTF-8 form: iconv refuses it too.
  const int size = static_cast<int>(wide.size());
  if (size > 0 && WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr, 0,
                                      nullptr, nullptr) <= 0) {
    return false;
  }
  out = Utf8Text(wide);
  return true;
}

// The local clock, and the character sets of server pages and device texts
// through the platform's code pages.
#include <windows.h>

#include "base/clock_win.h"
#include "base/text.h"

namespace stub {
namespace {

struct Charset {
  const char* name;
  UINT codePage;
};

const Charset kCharsets[] = {
    {"gbk", 936},          {"gb2312", 936},       {"x-gbk", 936},        {"cp936", 936},
    {"gb18030", 54936},    {"big5", 950},         {"shift_jis", 932},    {"euc-kr", 949},
    {"windows-1252", 1252}, {"windows-1251", 1251}, {"koi8-r", 20866},   {"iso-8859-2", 28592},
    {"iso-8859-15", 28605}, {"utf-16le", 1200},
};

bool SameName(std::string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i]; ++i) {
    char c = a[i];
    if (c >= 'A' && c <= 'Z') c += 32;
    if (c != b[i]) return false;
  }
  return i == a.size() && !b[i];
}

}  // namespace

bool DecodeCharset(std::string_view charset, std::string_view bytes, std::u16string& out) {
  // No charset means the system's ANSI code page, by its number: CP_ACP is 0,
  // which below means "not found".
  UINT cp = charset.empty() ? GetACP() : 0;
  for (const Charset& c : kCharsets)
    if (!cp && SameName(charset, c.name)) cp = c.codePage;
  if (!cp) return false;
  out.clear();
  if (bytes.empty()) return true;
  if (bytes.size() > 0x7FFFFFFF) return false;
  if (cp == 1200) {
    out.assign(reinterpret_cast<const char16_t*>(bytes.data()), bytes.size() / 2);
    return true;
  }
  const int n = MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  if (n <= 0) return false;
  out.resize(n);
  return MultiByteToWideChar(cp, 0, bytes.data(), static_cast<int>(bytes.size()),
                             reinterpret_cast<wchar_t*>(&out[0]), n) == n;
}

LocalTime LocalNow() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

}  // namespace stub

#include "decor/report.h"

#include <cstdint>

namespace stub {
namespace {

// The reports name the class that owns the engine.
constexpr char16_t kClassName[] = u"aShadow";

std::u16string HexText(uint32_t value) {
  char16_t digits[8];
  int n = 0;
  do {
    digits[n++] = u"0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  std::u16string out;
  while (n > 0) out.push_back(digits[--n]);
  return out;
}

}  // namespace

std::u16string MessageNotFoundText(uint32_t message) {
  return u"Message &H" + HexText(message) + u" not found in table";
}

std::u16string ReportLogText(std::u16string_view routine, std::u16string_view message) {
  std::u16string out(kClassName);
  out += u'.';
  out += routine;
  out += u": ";
  out += message;
  return out;
}

std::u16string ReportBoxText(std::u16string_view message) {
  std::u16string out(message);
  out += u'.';
  return out;
}

std::u16string ReportBoxTitle(std::u16string_view routine) {
  std::u16string out(u"Error in ");
  out += kClassName;
  out += u'.';
  out += routine;
  return out;
}

}  // namespace stub

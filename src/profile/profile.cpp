#include "profile/profile.h"

#include "base/text.h"

namespace stub {
namespace {

struct OsVersion {
  uint32_t major, minor;
  const char16_t* name;
};

// Only major and minor decide; platform id, build and service pack do not.
constexpr OsVersion kOsVersions[] = {
    {3, 10, u"Win3.10"}, {3, 51, u"Win3.51"}, {4, 0, u"Win95"},   {4, 10, u"Win98"},
    {4, 90, u"WinMe"},   {5, 0, u"Win2000"},  {5, 1, u"WinXP"},   {5, 2, u"Win2003"},
    {6, 0, u"Vista"},    {6, 1, u"Win7"},     {6, 2, u"Win8"},
};

}  // namespace

std::u16string OsName(uint32_t major, uint32_t minor) {
  for (const OsVersion& v : kOsVersions)
    if (v.major == major && v.minor == minor) return v.name;
  return u"NotFind";
}

std::u16string ScrText(int32_t width, int32_t height) {
  return DecimalText(width) + u"*" + DecimalText(height);
}

std::u16string OsBitText(bool process64, bool wow64) { return process64 || wow64 ? u"64" : u"32"; }

}  // namespace stub

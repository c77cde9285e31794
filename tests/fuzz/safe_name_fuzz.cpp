// Any UTF-16 text as a download URL: UrlFileName and SafeFileName give one creatable name in the folder.
#include "download/services.h"
#include "fuzz_check.h"

namespace stub::fuzz { namespace {

// What Windows takes for a device: the part before the first dot, trailing spaces ignored, any case, is CON, PRN,
// AUX, NUL, or COM/LPT and a digit 1-9 or a superscript 1-3.
bool IsDeviceName(std::u16string_view name) {
  std::u16string stem(name.substr(0, name.find(u'.')));
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  for (char16_t& c : stem) c = (c >= u'a' && c <= u'z') ? c - 32 : c;
  if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL") return true;
  if (stem.size() != 4 || (stem.compare(0, 3, u"COM") != 0 && stem.compare(0, 3, u"LPT") != 0)) return false;
  return (stem[3] >= u'1' && stem[3] <= u'9') || stem[3] == 0xB9 || stem[3] == 0xB2 || stem[3] == 0xB3;
}

void CheckSafe(std::u16string_view name) {
  for (char16_t c : name)
    FUZZ_CHECK(c >= 0x20 && c != 0x7F && std::u16string_view(u"\\/:*?\"<>|").find(c) == std::u16string_view::npos,
               "no control character and none that Windows refuses in a name");
  FUZZ_CHECK(name.empty() || (name.back() != u'.' && name.back() != u' '), "no trailing dot or space");
  FUZZ_CHECK(!IsDeviceName(name), "not a device name");
}

}}  // namespace stub::fuzz

FUZZ_TARGET(in) {
  using namespace stub;
  const std::u16string url = fuzz::Units(in);
  const std::u16string name = UrlFileName(url);
  FUZZ_CHECK(name.find(u'/') == std::u16string::npos, "the last segment has no '/'");
  FUZZ_CHECK(url.size() >= name.size() && url.compare(url.size() - name.size(), name.size(), name) == 0,
             "the last segment ends the URL");
  const std::u16string safe = SafeFileName(name);
  fuzz::CheckSafe(safe);
  FUZZ_CHECK(SafeFileName(safe) == safe, "a safe name stays as it is");
  fuzz::CheckSafe(SafeFileName(url));  // the name alone follows the same rules
}

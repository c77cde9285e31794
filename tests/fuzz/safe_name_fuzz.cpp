// Any UTF-16 text as a download URL: UrlFileName and SafeFileName give one creatable name in the folder.
#include "download/services.h"
#include "fuzz_check.h"

// Windows' reserved device names, as its documentation lists them (COM and LPT with a superscript digit too).
constexpr std::u16string_view kDevices[] = {
    u"CON", u"PRN", u"AUX", u"NUL", u"COM1", u"COM2", u"COM3", u"COM4", u"COM5", u"COM6", u"COM7", u"COM8", u"COM9",
    u"LPT1", u"LPT2", u"LPT3", u"LPT4", u"LPT5", u"LPT6", u"LPT7", u"LPT8", u"LPT9",
    u"COM\u00B9", u"COM\u00B2", u"COM\u00B3", u"LPT\u00B9", u"LPT\u00B2", u"LPT\u00B3"};

// A name Windows takes for a device: its part before the first dot, trailing spaces ignored, in any case.
static bool IsDeviceName(std::u16string_view name) {
  std::u16string stem(name.substr(0, name.find(u'.')));
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  for (char16_t& c : stem) c = (c >= u'a' && c <= u'z') ? c - 32 : c;
  for (std::u16string_view device : kDevices)
    if (stem == device) return true;
  return false;
}

static void CheckSafe(std::u16string_view name) {
  for (char16_t c : name)
    FUZZ_CHECK(c >= 0x20 && c != 0x7F && std::u16string_view(u"\\/:*?\"<>|").find(c) == std::u16string_view::npos,
               "no control character and none that Windows refuses in a name");
  FUZZ_CHECK(name.empty() || (name.back() != u'.' && name.back() != u' '), "no trailing dot or space");
  FUZZ_CHECK(!IsDeviceName(name), "not a device name");
}

FUZZ_TARGET(in) {
  const std::u16string url = Units(in);
  const std::u16string name = UrlFileName(url);
  FUZZ_CHECK(name.find(u'/') == std::u16string::npos, "the last segment has no '/'");
  FUZZ_CHECK(url.size() >= name.size() && url.compare(url.size() - name.size(), name.size(), name) == 0,
             "the last segment ends the URL");
  const std::u16string safe = SafeFileName(name);
  CheckSafe(safe);
  FUZZ_CHECK(SafeFileName(safe) == safe, "a safe name stays as it is");
  CheckSafe(SafeFileName(url));  // the name alone follows the same rules
}

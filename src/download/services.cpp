#include "download/services.h"

#include <cmath>

#include "base/text.h"

namespace stub {
namespace {

// Beyond this the texts are nonsense anyway; the cap keeps the integer
// conversions below defined for any input.
constexpr double kMaxScaled = 1e17;

double Finite(double v) { return std::isfinite(v) ? v : 0.0; }

double Capped(double v) {
  if (v > kMaxScaled) return kMaxScaled;
  if (v < -kMaxScaled) return -kMaxScaled;
  return v;
}

// Nearest whole number, ties to the even neighbour.
double RoundHalfEven(double v) {
  const double low = std::floor(v);
  const double rest = v - low;
  if (rest > 0.5) return low + 1;
  if (rest < 0.5) return low;
  return std::fmod(low, 2.0) == 0 ? low : low + 1;
}

bool IsReservedDeviceName(std::u16string_view name) {
  // Windows resolves the part before the first dot (trailing spaces ignored)
  // to a device, whatever extension follows.
  std::u16string stem = ToUpper(name.substr(0, name.find(u'.')));
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  if (stem == u"CON" || stem == u"PRN" || stem == u"AUX" || stem == u"NUL") return true;
  if (stem.size() != 4 || (stem.compare(0, 3, u"COM") != 0 && stem.compare(0, 3, u"LPT") != 0))
    return false;
  // Windows counts the Latin-1 superscripts 1, 2 and 3 as port digits too.
  const char16_t digit = stem[3];
  return (digit >= u'1' && digit <= u'9') || digit == 0xB9 || digit == 0xB2 || digit == 0xB3;
}

}  // namespace

std::u16string FormatRounded(double value, int decimals) {
  const double scale = decimals > 0 ? 10.0 : 1.0;
  const double scaled = Capped(std::round(std::fabs(Finite(value)) * scale));
  if (scaled == 0) return decimals > 0 ? u".0" : u"";
  const int64_t units = static_cast<int64_t>(scaled);
  std::u16string out = value < 0 ? u"-" : u"";
  if (decimals <= 0) return out + DecimalText(units);
  if (units >= 10) out += DecimalText(units / 10);
  out += u'.';
  out += static_cast<char16_t>(u'0' + units % 10);
  return out;
}

std::u16string ToKBMB(double size) {
  const double mb = size / 1024 / 1024;
  if (mb > 1) return FormatRounded(mb, 1) + u"MB";
  return FormatRounded(size / 1024, 0) + u"KB";
}

std::u16string FormatSeconds(double seconds, std::u16string_view decimalSeparator) {
  const double hundredths = RoundHalfEven(Capped(Finite(seconds) * 100));
  int64_t units = static_cast<int64_t>(hundredths);
  std::u16string out;
  if (units < 0) {
    out = u"-";
    units = -units;
  }
  out += DecimalText(units / 100);
  const int64_t frac = units % 100;
  if (frac != 0) {
    out += decimalSeparator;
    out += static_cast<char16_t>(u'0' + frac / 10);
    if (frac % 10 != 0) out += static_cast<char16_t>(u'0' + frac % 10);
  }
  return out;
}

std::u16string StripHttp(std::u16string_view url) { return ReplaceAll(url, u"http://", u""); }

std::u16string UrlFileName(std::u16string_view url) {
  const size_t slash = url.rfind(u'/');
  return std::u16string(slash == std::u16string_view::npos ? url : url.substr(slash + 1));
}

// The rules that keep a name from the network a single, creatable name in the
// chosen folder: separators, the other characters Windows refuses and the
// control characters (DEL too: it would be invisible in the name) become "_"
// (so "..\" cannot climb out of the folder), trailing dots and spaces go
// (Windows drops them silently, so "setup.exe." would name another file), and
// device names such as "CON", "nul.txt" or "COM¹" get a leading "_" because
// opening them reaches a device instead of a file.
std::u16string SafeFileName(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& c : out) {
    if (c < 0x20 || c == 0x7F ||
        std::u16string_view(u"\\/:*?\"<>|").find(c) != std::u16string_view::npos)
      c = u'_';
  }
  while (!out.empty() && (out.back() == u'.' || out.back() == u' ')) out.pop_back();
  if (IsReservedDeviceName(out)) out.insert(out.begin(), u'_');
  return out;
}

std::u16string SaveFileName(std::u16string_view url) {
  return SafeFileName(UrlFileName(url.substr(0, url.find_first_of(u"?#"))));
}

LaunchAs LaunchKind(std::u16string_view path) {
  const std::u16string name = ToUpper(path.substr(path.find_last_of(u"\\/") + 1));
  const auto endsWith = [&](std::u16string_view ext) {
    return name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0;
  };
  return endsWith(u".EXE") || endsWith(u".MSI") ? LaunchAs::Handler : LaunchAs::Program;
}

bool IsWebAddress(std::u16string_view url) {
  return ContainsText(url.substr(0, 7), u"http://") == 1 || ContainsText(url.substr(0, 8), u"https://") == 1;
}

bool TrustedOwner(std::u16string_view owner, std::u16string_view user) {
  // The user counts only as a well-formed identifier: two unreadable ones are not the same owner.
  return owner.empty() || (owner == user && owner.substr(0, 2) == u"S-") || owner == u"S-1-5-18" || owner == u"S-1-5-32-544" ||
         owner == u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
}

void AppendDownCode(std::u16string& trail, int32_t code) {
  const std::u16string item = DecimalText(code) + u",";
  // Whole codes are compared between commas, so "1," is not found inside "11,".
  const std::u16string listed = u"," + trail + u",";
  if (listed.find(u"," + item) == std::u16string::npos) trail += item;
}

int32_t DiskFreeMB(uint32_t sectorsPerCluster, uint32_t bytesPerSector, uint32_t freeClusters) {
  const uint64_t clusterBytes = uint64_t{sectorsPerCluster} * bytesPerSector;
  // A product beyond 64 bits is far beyond 2^31 megabytes as well.
  if (clusterBytes != 0 && freeClusters > UINT64_MAX / clusterBytes) return 0;
  const uint64_t mb = clusterBytes * freeClusters / 1048576;
  return mb > INT32_MAX ? 0 : static_cast<int32_t>(mb);
}

std::u16string NsisSoftTitle(std::u16string_view NISITitle, std::u16string_view NISIVer) {
  std::u16string title(NISITitle);
  title += u' ';
  title += NISIVer;
  title += u"  安装 ";
  return title;
}

}  // namespace stub

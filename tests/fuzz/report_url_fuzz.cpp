// Report and info URLs on the wire; one input line per value: server URL, key, data, TimeID, softId, PcId,
// SoftVer, Channel, Scr, OS, OSBit, DPI (decimal), OSLanguage.
#include <cstdlib>
#include "base/run_state.h"
#include "fuzz_check.h"
#include "net/exchange.h"
#include "net/wire.h"

// What a URL carries as it is: printable ASCII but the space and "<>\ ('%' passes, so escapes already in an
// address stay as they were).
constexpr std::string_view kPlain =
    "!#$%&'()*+,-./0123456789:;=?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{|}~";

// The wire form: UTF-8 before the first '#' (U+FFFD for a lone surrogate), "%XY" for every other byte.
static void CheckWire(std::u16string_view url) {
  std::string expected;
  for (const char c : Utf16ToUtf8Lossy(url.substr(0, url.find(u'#')))) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "%%%02X", static_cast<uint8_t>(c));
    expected += kPlain.find(c) != std::string_view::npos ? std::string(1, c) : hex;
  }
  FUZZ_CHECK(WireUrl(url) == expected, "the wire form is the escaped UTF-8 before any '#'");
}

FUZZ_TARGET(in) {
  const auto f = Fields(in, 13);
  RunState s;
  s.ServerUrl = f[0], s.TimeID = f[3], s.SoftId = f[4], s.PcId = f[5], s.SoftVer = f[6], s.Channel = f[7];
  s.Scr = f[8], s.OS = f[9], s.OSBit = f[10], s.OSLanguage = f[12];
  s.DPI = static_cast<int32_t>(std::strtoll(Utf16ToUtf8Lossy(f[11].substr(0, 12)).c_str(), nullptr, 10));
  const std::u16string profile = ProfileQuery(s);
  FUZZ_CHECK(profile.find(u'#') == std::u16string::npos, "the profile never holds '#'");
  const std::u16string report = ReportUrl(s, f[1], f[2]);
  FUZZ_CHECK(report.compare(0, s.ServerUrl.size(), s.ServerUrl) == 0, "a report starts with the server URL");
  FUZZ_CHECK(report.size() >= profile.size() && report.substr(report.size() - profile.size()) == profile,
             "a report ends with the profile");
  CheckWire(report);
  CheckWire(InfoRequestUrl(s));
}

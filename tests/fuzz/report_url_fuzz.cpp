// Report and information-request URLs as they go on the wire. Each input line
// is one value (see FieldText): server URL, key, data, TimeID, softId, PcId,
// SoftVer, Channel, Scr, OS, OSBit, DPI (decimal), OSLanguage.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/run_state.h"
#include "fuzz_check.h"
#include "net/exchange.h"
#include "net/wire.h"

namespace stub::fuzz {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads one "%XY" escape (upper-case hex) at `w`; -1 when there is none.
int Escaped(std::string_view wire, size_t& w) {
  if (w + 3 > wire.size() || wire[w] != '%') return -1;
  const int hi = HexValue(wire[w + 1]), lo = HexValue(wire[w + 2]);
  if (hi < 0 || lo < 0) return -1;
  w += 3;
  return hi * 16 + lo;
}

// Checks the wire form against the built URL unit by unit: what may travel
// as it is does so, everything else is the UTF-8 of its code point (U+FFFD for
// a lone surrogate) in "%XY" escapes, and the text ends at the first '#'.
void CheckWire(std::u16string_view url, std::string_view wire) {
  for (char c : wire) {
    const auto b = static_cast<uint8_t>(c);
    FUZZ_CHECK(b > 0x20 && b < 0x7F, "wire text is printable ASCII without spaces");
    FUZZ_CHECK(std::string_view("\"<>\\#").find(c) == std::string_view::npos,
               "wire text has no '\"', '<', '>', '\\' or '#'");
  }
  size_t w = 0;
  for (size_t i = 0; i < url.size(); ++i) {
    const char16_t c = url[i];
    if (c == u'#') break;
    if (c > 0x20 && c < 0x7F && c != u'"' && c != u'<' && c != u'>' && c != u'\\') {
      FUZZ_CHECK(w < wire.size() && wire[w] == static_cast<char>(c), "plain characters travel as they are");
      ++w;
      continue;
    }
    uint32_t cp = c;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < url.size() && url[i + 1] >= 0xDC00 && url[i + 1] <= 0xDFFF)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (url[++i] - 0xDC00);
    else if (c >= 0xD800 && c <= 0xDFFF)
      cp = 0xFFFD;
    const int lead = Escaped(wire, w);
    FUZZ_CHECK(lead >= 0, "an escaped character starts with %XY");
    const int more = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : 1;
    uint32_t got = more == 0 ? lead : more == 1 ? lead & 0x1F : more == 2 ? lead & 0x0F : lead & 0x07;
    for (int k = 0; k < more; ++k) {
      const int b = Escaped(wire, w);
      FUZZ_CHECK(b >= 0 && (b & 0xC0) == 0x80, "every UTF-8 byte is escaped");
      got = got << 6 | (b & 0x3F);
    }
    FUZZ_CHECK(got == cp, "escapes carry the character's UTF-8");
  }
  FUZZ_CHECK(w == wire.size(), "nothing is added after the last character");
}

int32_t Number(std::u16string_view text) {
  std::string ascii;
  for (char16_t c : text.substr(0, 12)) ascii.push_back(c < 0x80 ? static_cast<char>(c) : '?');
  return static_cast<int32_t>(std::strtoll(ascii.c_str(), nullptr, 10));
}

}  // namespace
}  // namespace stub::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace stub;
  using namespace stub::fuzz;
  const auto lines = Lines(Bytes(data, size), 13);
  RunState s;
  s.ServerUrl = FieldText(lines[0]);
  const std::u16string key = FieldText(lines[1]);
  const std::u16string value = FieldText(lines[2]);
  s.TimeID = FieldText(lines[3]);
  s.SoftId = FieldText(lines[4]);
  s.PcId = FieldText(lines[5]);
  s.SoftVer = FieldText(lines[6]);
  s.Channel = FieldText(lines[7]);
  s.Scr = FieldText(lines[8]);
  s.OS = FieldText(lines[9]);
  s.OSBit = FieldText(lines[10]);
  s.DPI = Number(FieldText(lines[11]));
  s.OSLanguage = FieldText(lines[12]);

  const std::u16string profile = ProfileQuery(s);
  FUZZ_CHECK(profile.find(u'#') == std::u16string::npos, "the profile never holds '#'");

  const std::u16string report = ReportUrl(s, key, value);
  FUZZ_CHECK(report.compare(0, s.ServerUrl.size(), s.ServerUrl) == 0, "a report starts with the server URL");
  FUZZ_CHECK(report.size() >= profile.size() &&
                 report.compare(report.size() - profile.size(), profile.size(), profile) == 0,
             "a report ends with the profile");
  CheckWire(report, WireUrl(report));

  const std::u16string info = InfoRequestUrl(s);
  CheckWire(info, WireUrl(info));
  return 0;
}

#include "net/exchange.h"

#include "base/text.h"
#include "codec/codec.h"
#include "net/redirect.h"
#include "net/wire.h"

namespace stub {
namespace {

struct ReplyKey {
  std::u16string_view key;
  std::u16string RunState::*field;  // null: accepted, stores nothing
  uint32_t bit;
  size_t maxUnits;  // a longer value counts as absent
};

// In the order the keys are tested within a record. Every value is bounded:
// an address by what browsers and servers accept, a title or name by the
// longest file name, a digest by the longest hex digest.
constexpr ReplyKey kReplyKeys[] = {
    {u"DownUrl==", &RunState::DownUrl, kReplyDownUrl, kMaxReplyUrl},
    {u"FileMD5==", &RunState::FileMD5, kReplyFileMD5, kMaxReplyDigest},
    {u"SetupName==", &RunState::SetupName, kReplySetupName, kMaxReplyName},
    {u"NameTitle==", &RunState::NameTitle, kReplyNameTitle, kMaxReplyName},
    {u"NameVer==", nullptr, 0, 0},
    {u"NISITitle==", &RunState::NISITitle, kReplyNISITitle, kMaxReplyName},
    {u"NISIVer==", &RunState::NISIVer, kReplyNISIVer, kMaxReplyName},
    {u"FileSHA256==", &RunState::FileSHA256, kReplyFileSHA256, kMaxReplyDigest},
};

constexpr std::u16string_view kRecordSeparator = u"<#>";
constexpr std::u16string_view kValueSeparator = u"==";

// The second piece of `record` split at "==": what lies between its first
// and its second "==" (or its end). Only called for records that hold a key,
// and every key ends in "==", so the first "==" exists.
std::u16string_view ValueOf(std::u16string_view record) {
  const size_t first = record.find(kValueSeparator);
  if (first == std::u16string_view::npos) return {};
  const size_t begin = first + kValueSeparator.size();
  const size_t second = record.find(kValueSeparator, begin);
  return record.substr(begin, second == std::u16string_view::npos ? std::u16string_view::npos
                                                                   : second - begin);
}

uint32_t ParseRecord(RunState& s, std::u16string_view record) {
  uint32_t seen = 0;
  for (const ReplyKey& k : kReplyKeys) {
    if (ContainsText(record, k.key) == 0) continue;
    const std::u16string_view value = ValueOf(record);
    if (k.field != nullptr && value.size() <= k.maxUnits) {
      s.*k.field = std::u16string(value);
      seen |= k.bit;
    }
  }
  return seen;
}

}  // namespace

std::string ReportWire(const RunState& s, std::u16string_view key, std::u16string_view data) {
  std::string wire = WireUrl(ReportUrl(s, key, data));
  if (wire.size() <= kMaxReportWireUrl) return wire;
  const auto fits = [&](size_t n) {
    return WireUrl(ReportUrl(s, key, data.substr(0, n))).size() <= kMaxReportWireUrl;
  };
  return WireUrl(ReportUrl(s, key, data.substr(0, LongestFitting(data, data.size(), fits))));
}

bool IsReplyAddress(std::u16string_view url) {
  // A TLS server's reply counts as much as a plain one; an empty host
  // ("http:///") never does.
  return (ContainsText(url, u"http://") != 0 && ContainsText(url, u"http:///") == 0) ||
         (ContainsText(url, u"https://") != 0 && ContainsText(url, u"https:///") == 0);
}

std::u16string ReplaceHash(std::u16string_view text) { return ReplaceAll(text, u"#", u"--"); }

std::u16string ProfileQuery(const RunState& s) {
  std::u16string q;
  q.append(u"&softId=").append(s.SoftId);
  q.append(u"&PcId_C=").append(s.PcId_C);
  q.append(u"&SoftVer=").append(s.SoftVer);
  q.append(u"&Channel=").append(s.Channel);
  q.append(u"&PcId=").append(s.PcId);
  q.append(u"&Scr=").append(s.Scr);
  q.append(u"&OS=").append(s.OS);
  q.append(u"&OSBit=").append(s.OSBit);
  q.append(u"&DPI=").append(DecimalText(s.DPI));
  q.append(u"&OSLanguage=").append(s.OSLanguage);
  return ReplaceHash(q);
}

std::u16string InfoRequestUrl(const RunState& s) {
  std::u16string url = s.ServerUrl;
  url.append(u"?Key=Info&TimeID=").append(s.TimeID);
  url.append(ProfileQuery(s));
  return url;
}

std::u16string ReportUrl(const RunState& s, std::u16string_view key, std::u16string_view data) {
  std::u16string url = s.ServerUrl;
  url.append(u"?Key=").append(key);
  url.append(u"&Data=").append(data);
  url.append(u"&TimeID=").append(s.TimeID);
  url.append(ProfileQuery(s));
  return url;
}

uint32_t ParseNetInfoFields(RunState& s, std::u16string_view reply) {
  if (reply.empty()) return 0;
  const std::u16string lower = ToLower(reply);
  const std::u16string_view text = lower;
  uint32_t seen = 0;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(kRecordSeparator, begin);
    if (end == std::u16string_view::npos) {
      seen |= ParseRecord(s, text.substr(begin));
      break;
    }
    seen |= ParseRecord(s, text.substr(begin, end - begin));
    begin = end + kRecordSeparator.size();
  }
  // An announced SHA-256 binds even when its value is malformed: a damaged
  // value must refuse the file, not switch the check off.
  if (seen & kReplyFileSHA256) s.FileSHA256Given = true;
  return seen;
}

void ParseNetInfo(RunState& s, std::u16string_view reply) { ParseNetInfoFields(s, reply); }

void UseDefaultDownload(RunState& s) {
  s.DownUrl = s.DefaultDownUrl;
  s.FileMD5 = s.DefaultFileMD5;
  // A SHA-256 from the reply describes the reply's download, not this one.
  s.FileSHA256.clear();
  s.FileSHA256Given = false;
}

bool FinishGetNet(RunState& s, std::u16string& reportData) {
  const std::u16string raw = s.NetText;
  if (!s.NetText.empty()) {
    s.NetText = CodeText(raw, u"A", kCodecKey);
    ParseNetInfo(s, s.NetText);
  }
  // A reply that came over TLS but names a download outside it would hand
  // the installer to anyone on the path: it counts as no usable reply.
  if (!s.DownUrl.empty() && (!IsHttpsAddress(s.ServerUrl) || IsHttpsAddress(s.DownUrl)))
    return false;
  UseDefaultDownload(s);
  // The raw text goes into a URL: a page of up to 1 MiB would make a request
  // no server accepts, and the report would be lost. The cap counts units and
  // also the report's size on the wire, where a Chinese unit takes nine
  // bytes. A usable reply is far shorter, so real replies arrive whole.
  const auto data = [&](size_t n) { return u"GetNetIsnull='" + raw.substr(0, n) + u"'"; };
  const auto fits = [&](size_t n) {
    return WireUrl(ReportUrl(s, u"Setup", data(n))).size() <= kMaxReportWireUrl;
  };
  const size_t low = LongestFitting(raw, kMaxRawInReport, fits);
  reportData = data(low);
  return true;
}

}  // namespace stub

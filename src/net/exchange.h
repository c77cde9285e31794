// The server exchange: the information request and its reply, and the URLs
// of the event reports with the machine profile they all carry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/run_state.h"

namespace stub {

// True when a document fetched from `url` can be the server's reply: the
// address holds "http://" or "https://" (any case) with a host after it, so
// a blank or malformed address leaves the wait to its time-out.
bool IsReplyAddress(std::u16string_view url);

// Every "#" replaced by "--".
std::u16string ReplaceHash(std::u16string_view text);

// "&softId=..&PcId_C=..&SoftVer=..&Channel=..&PcId=..&Scr=..&OS=..&OSBit=..
// &DPI=..&OSLanguage=..", with ReplaceHash applied to the whole.
std::u16string ProfileQuery(const RunState& s);

// ServerUrl + "?Key=Info&TimeID=" + TimeID + ProfileQuery.
std::u16string InfoRequestUrl(const RunState& s);

// ServerUrl + "?Key=" + key + "&Data=" + data + "&TimeID=" + TimeID +
// ProfileQuery. `key` and `data` are inserted raw.
std::u16string ReportUrl(const RunState& s, std::u16string_view key, std::u16string_view data);

// The fields a reply can set, as bits of the mask ParseNetInfoFields returns.
enum ReplyField : uint32_t {
  kReplyDownUrl = 1u << 0,
  kReplyFileMD5 = 1u << 1,
  kReplySetupName = 1u << 2,
  kReplyNameTitle = 1u << 3,
  kReplyNISITitle = 1u << 4,
  kReplyNISIVer = 1u << 5,
  kReplyFileSHA256 = 1u << 6,
};

// Applies a decoded reply to `s`: the whole reply lower-cased, split at
// "<#>"; in each record, for each key in table order that occurs in it (case
// ignored), the field takes the text after the record's first "==" up to its
// second "==" or its end. No trimming; later records win; "NameVer==" is
// accepted with no effect. An empty reply does nothing. A "FileSHA256=="
// record also sets FileSHA256Given, whatever its value.
void ParseNetInfo(RunState& s, std::u16string_view reply);

// ParseNetInfo that also tells which fields it set (a mask of ReplyField).
uint32_t ParseNetInfoFields(RunState& s, std::u16string_view reply);

// DownUrl = DefaultDownUrl, FileMD5 = DefaultFileMD5, and no SHA-256.
void UseDefaultDownload(RunState& s);

// Most units of a raw reply that the fallback report carries, and the most
// bytes a report's URL may take on the wire, so that the request line stays
// under the 8 KiB that common web servers accept.
inline constexpr size_t kMaxRawInReport = 2000;
inline constexpr size_t kMaxReportWireUrl = 8000;

// The longest reply values taken, in units; a longer one counts as absent
// (an over-long DownUrl then leads to the built-in download, and the raw
// reply is shown in its report).
inline constexpr size_t kMaxReplyUrl = 2048;
inline constexpr size_t kMaxReplyName = 260;
inline constexpr size_t kMaxReplyDigest = 64;

// ReportUrl as sent on the wire (WireUrl), with `data` cut to its longest
// prefix (surrogate pairs whole) that keeps it within kMaxReportWireUrl
// bytes: no report is lost for its length.
std::string ReportWire(const RunState& s, std::u16string_view key, std::u16string_view data);

// The most wire bytes a download address takes inside a report, so that the
// fields after it (and the machine profile) always fit.
inline constexpr size_t kMaxReportUrlField = 4096;

// The information exchange after the fetch: s.NetText holds the text as
// fetched. When it is not empty it is decoded (mode "A", the codec key) into
// NetText and parsed. If DownUrl is then empty, or ServerUrl is https:// and
// DownUrl is not, the built-in download is used and true is returned with
// `reportData` = "GetNetIsnull='" + raw + "'" (raw = the text as fetched).
// Returns false, `reportData` untouched, when no report is due.
bool FinishGetNet(RunState& s, std::u16string& reportData);

}  // namespace stub

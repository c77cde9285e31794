// Runs of the stub as the server records them, for the figures and the stores.
#pragma once

#include <string>
#include <vector>

#include "server/stats/figures.h"
#include "server/store/store.h"

namespace stub::server::testing {

inline RecordedRequest Row(const std::string& target, const std::string& time = "2024-05-01T08:30:00.000Z") {
  RecordedRequest r;
  r.event_id = NewEventId(), r.time = time, r.client = "127.0.0.1", r.method = "GET", r.target = target;
  return r.fields = DecodeQuery(target), r;
}

inline const char kOk[] = "DownFinish=OK:3.5 DownCode=1,2,4,14,5,6, SavePath=C:\\Temp\\ url=127.0.0.1/a.exe";
inline const char kOkSigned[] = "DownFinish=OK:3.5 DownCode=1,2,4,14,5,6, SavePath=C:\\Temp\\ url=127.0.0.1/a.exe Sign=ok";
inline const char kMismatch[] =
    "DownFinish=Not:2 DownCode=1,2,4,14,5,6, DiskSpace=900 URLMon=1 SavePath=C:\\Temp\\ "
    "DownMD5=AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA FileMD5=BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB url=127.0.0.1/a.exe";
inline const char kUnreadableFullDisk[] =
    "DownFinish=Not:0.5 DownCode=1, DiskSpace=0 URLMon= SavePath=C:\\Program Files\\app\\ "
    "DownMD5=* ERR: CANNOT OPEN FILE FileMD5=BBBBBBBBBBBBBBBBBBBBBBBBBBBBBBBB url=127.0.0.1/a.exe";

// One run: TimeID, PcId, the time (on 2026-12-DD) of its "Info" request, then its "Setup" reports (time, Data).
struct Run {
  const char *time_id, *pc, *info;
  std::vector<std::pair<const char*, const char*>> setup;
};
inline const Run kRuns[] = {
    {"t1", "pc1", "05T10:00:00.000",  // clean install: 10 s from the request to the install
     {{"05T10:00:01.100", "frmLoad"}, {"05T10:00:01.700", "BeginDown"}, {"05T10:00:10.000", kOk}}},
    {"t2b", "pc2", "05T10:00:02.000",  // a retry that installs: 40 s
     {{"05T10:00:02.600", "frmLoad"}, {"05T10:00:03.000", "BeginDown"}, {"05T10:00:20.000", kMismatch},
      {"05T10:00:21.000", "AutoReDown"}, {"05T10:00:22.000", "BeginDown"}, {"05T10:00:42.000", kOk}}},
    {"t1", "pc3", "05T11:00:00.000",  // same TimeID, another machine: a run reusing the file, 2 s
     {{"05T11:00:01.100", "frmLoad"}, {"05T11:00:02.000", "IsDownEmp=OK"}}},
    {"t4b", "pc1", "06T09:00:00.000",  // a double failure, then the browser
     {{"06T09:00:01.100", "frmLoad"}, {"06T09:00:02.000", "BeginDown"}, {"06T09:00:03.000", kUnreadableFullDisk},
      {"06T09:00:04.000", "AutoReDown"}, {"06T09:00:05.000", "BeginDown"}, {"06T09:00:09.000", kMismatch},
      {"06T09:00:30.000", "Image4_Click"}}},
    {"t5", "pc2", "06T09:10:00.000",  // closed during the download
     {{"06T09:10:01.100", "frmLoad"}, {"06T09:10:02.000", "BeginDown"}}},
    {"t6", "pc2", "06T09:10:03.000", {}},  // a second instance of it: asks, reports nothing else
    {"t7", "pc3", "06T09:20:00.000",  // no usable reply nor writable folder, installs: 20 s
     {{"06T09:20:05.000", "GetNetIsnull=''"}, {"06T09:20:06.100", "frmLoad"}, {"06T09:20:07.000", "TestEmp=Not"},
      {"06T09:20:07.100", "BeginDown"}, {"06T09:20:20.000", kOkSigned}}},
};

// The runs as recorded, after a download: TimeIDs holding "b" are channel `beta`, pc2 is a 32-bit XP machine.
inline std::vector<RecordedRequest> Scenarios(const std::string& beta = "beta") {
  std::vector<RecordedRequest> out = {Row("/a.exe", "2026-12-05T10:00:01.800Z")};
  for (const Run& run : kRuns) {
    const bool xp = std::string(run.pc) == "pc2", b = std::string(run.time_id).find('b') != std::string::npos;
    const std::string rest = std::string("&SoftVer=V3.1.1&TimeID=") + run.time_id + "&PcId=" + run.pc + "&Channel=" +
                             (b ? beta : "wlpq") + (xp ? "&OS=WinXP&OSBit=32" : "&OS=Win7&OSBit=64");
    out.push_back(Row("/?Key=Info&Data=" + rest, std::string("2026-12-") + run.info + "Z"));
    for (const auto& [time, data] : run.setup)
      out.push_back(Row(std::string("/?Key=Setup&Data=") + data + rest, std::string("2026-12-") + time + "Z"));
  }
  return out;
}

inline std::vector<RunEvent> RunEvents(const std::vector<RecordedRequest>& rows = Scenarios()) {
  std::vector<RunEvent> out;
  for (const auto& r : rows) out.push_back(ToRunEvent(r));
  return out;
}

}  // namespace stub::server::testing

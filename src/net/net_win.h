// The server exchange on Windows: the page fetch with its time-out, the
// event reports, and the information exchange at start.
#pragma once

#include <cstdint>
#include <string>

#include "base/clock_win.h"
#include "base/run_state.h"
#include "net/page_text.h"

namespace stub {

// Fetches the page text of `url` into s.NetText (empty when nothing usable
// arrived in time) and sets s.NetDone. The thread keeps dispatching window
// messages while it waits, without spinning.
void FetchPage(RunState& s, const std::u16string& url, int32_t timeoutSeconds);

// Queues one report for the background sender and returns at once.
void SendReport(const std::u16string& key, const std::u16string& data);

// Gives queued reports up to `ms` in total to leave; called on the way out.
void FlushReports(DWORD ms);

// Asks the server for the download data, falling back to the built-in
// download (and reporting that) when none came.
void GetNet(RunState& s);

}  // namespace stub

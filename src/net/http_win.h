// HTTP(S) GET over the system's internet stack (WinINet: the user's proxy,
// cache and cookie settings).
#pragma once

#include <windows.h>

#include <string>

namespace stub {

// GETs `wireUrl` (already percent-encoded for the wire) with per-operation
// time-outs of `timeoutMs`; the wait for the answer once the request is sent
// is `answerMs` instead when that is not 0. Reads at most `maxBytes` of the
// body. True when a response arrived (any status: an error page is still a page).
bool HttpGet(const std::u16string& wireUrl, DWORD timeoutMs, size_t maxBytes,
             std::string* contentType, std::string* body, DWORD answerMs = 0);

// The wire form of a URL as wide text.
std::u16string WireUrlText(const std::u16string& url);

}  // namespace stub

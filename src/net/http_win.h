// HTTP(S) GET over the system's internet stack (WinINet: the user's proxy,
// cache and cookie settings).
#pragma once

#include <windows.h>

#include <string>

namespace stub {

// Why a GET brought no response, told apart so that callers and tests can
// see which step failed.
enum class HttpFailure {
  kNone,         // a response arrived (any status: an error page is still a page)
  kBadUrl,       // not an http(s) address
  kSetup,        // the internet stack could not be opened
  kLookup,       // the host name could not be resolved
  kRefused,      // the host answered but refused the connection
  kTimeout,      // the server stayed silent past the time-out
  kCertificate,  // the server's certificate is not trusted for this host
  kRedirect,     // redirected to a weaker scheme, away from the web, or too often
  kOther,        // any other failure; `error` says which
};

// One GET's outcome. `error` is the system error taken at the call that
// failed (0 when a response arrived).
struct HttpResult {
  HttpFailure failure = HttpFailure::kSetup;
  DWORD error = 0;
  DWORD status = 0;  // the HTTP status code, when a response arrived
  std::string contentType;
  std::string body;  // at most the bytes asked for

  bool ok() const { return failure == HttpFailure::kNone; }
};

// GETs `wireUrl` (already percent-encoded for the wire) with per-operation
// time-outs of `timeoutMs`; the wait for the answer once the request is sent
// is `answerMs` instead when that is not 0. Reads at most `maxBytes` of the
// body. Follows at most kMaxRedirects redirects, each only where
// RedirectAllowed lets it go.
HttpResult HttpGet(const std::u16string& wireUrl, DWORD timeoutMs, size_t maxBytes,
                   DWORD answerMs = 0);

// The wire form of a URL as wide text.
std::u16string WireUrlText(const std::u16string& url);

}  // namespace stub

#include "net/http_win.h"

#include <wininet.h>

#include "base/shell_win.h"
#include "base/handle_win.h"
#include "base/system_dll_win.h"
#include "base/text.h"
#include "net/redirect.h"
#include "net/wire.h"

namespace stub {
namespace {

// A common browser's agent string: servers and proxies that sniff it answer as to a browser.
constexpr wchar_t kUserAgent[] = L"Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)";

// `waitedMs` tells a silent server from one that dropped the connection:
// some implementations end a request whose answer never came with "aborted"
// rather than "timed out" once the receive time-out passes. A tenth of the
// wait is allowed for the tick count's coarse steps.
HttpFailure Classify(DWORD error, DWORD waitedMs, DWORD answerMs) {
  switch (error) {
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
      return waitedMs >= answerMs - answerMs / 10 ? HttpFailure::kTimeout : HttpFailure::kOther;
    case ERROR_INTERNET_NAME_NOT_RESOLVED: return HttpFailure::kLookup;
    case ERROR_INTERNET_CANNOT_CONNECT: return HttpFailure::kRefused;
    case ERROR_INTERNET_TIMEOUT: return HttpFailure::kTimeout;
    case ERROR_INTERNET_INVALID_CA:
    case ERROR_INTERNET_SEC_CERT_CN_INVALID:
    case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
    case ERROR_INTERNET_SEC_CERT_ERRORS:
    case ERROR_INTERNET_SEC_CERT_REVOKED:
    case ERROR_INTERNET_SEC_INVALID_CERT:
    case ERROR_INTERNET_SECURITY_CHANNEL_ERROR: return HttpFailure::kCertificate;
    default: return HttpFailure::kOther;
  }
}

// Records the failure of the call just made, with its system error.
HttpResult Failed(HttpFailure failure) {
  HttpResult r;
  r.error = GetLastError();
  r.failure = failure;
  return r;
}

void SetTimeouts(HINTERNET h, DWORD ms) {
  // Time-outs set on the session handle are ignored by some implementations;
  // set them on every handle. Failures only mean the platform default stays.
  Net().InternetSetOptionW(h, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms);
  Net().InternetSetOptionW(h, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof ms);
  Net().InternetSetOptionW(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
}

HttpResult Get(const std::u16string& wireUrl, DWORD timeoutMs, size_t maxBytes, DWORD answerMs,
               int redirectsLeft) {
  // Zero buffers with non-zero lengths ask for pointers into the URL itself.
  URL_COMPONENTSW uc = {};
  uc.dwStructSize = sizeof uc;
  uc.dwHostNameLength = uc.dwUrlPathLength = uc.dwExtraInfoLength = 1;
  if (!Net().InternetCrackUrlW(W(wireUrl), 0, 0, &uc)) return Failed(HttpFailure::kBadUrl);
  if (uc.nScheme != INTERNET_SCHEME_HTTP && uc.nScheme != INTERNET_SCHEME_HTTPS) {
    HttpResult r;
    r.failure = HttpFailure::kBadUrl;
    return r;
  }
  const auto part = [](const wchar_t* p, DWORD n) {
    return p ? std::u16string(reinterpret_cast<const char16_t*>(p), n) : std::u16string();
  };
  const std::u16string host = part(uc.lpszHostName, uc.dwHostNameLength);
  std::u16string object = part(uc.lpszUrlPath, uc.dwUrlPathLength) +
                          part(uc.lpszExtraInfo, uc.dwExtraInfoLength);
  if (object.empty()) object = u"/";

  UniqueInternet session(
      Net().InternetOpenW(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return Failed(HttpFailure::kSetup);
  SetTimeouts(session.get(), timeoutMs);
  UniqueInternet connection(Net().InternetConnectW(session.get(), W(host), uc.nPort, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return Failed(HttpFailure::kSetup);
  SetTimeouts(connection.get(), timeoutMs);
  // NO_UI: a problem never turns into a dialog. NB: do NOT add any
  // INTERNET_FLAG_IGNORE_CERT_* or SECURITY_FLAG_IGNORE_* here - a certificate
  // the system does not trust, for another host or out of date must fail the
  // request (the caller then falls back or drops the report).
  // NO_AUTO_REDIRECT: a redirect is judged below before it is followed, so a
  // request that began over TLS is never sent again in the clear (some
  // implementations follow such redirects silently).
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_UI | INTERNET_FLAG_NO_AUTO_REDIRECT;
  if (uc.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  UniqueInternet request(
      Net().HttpOpenRequestW(connection.get(), L"GET", W(object), nullptr, nullptr, nullptr, flags, 0));
  if (!request) return Failed(HttpFailure::kSetup);
  SetTimeouts(request.get(), timeoutMs);
  // A failure here keeps the request's own (per-handle) time-out.
  if (answerMs)
    Net().InternetSetOptionW(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &answerMs, sizeof answerMs);
  const DWORD sent = GetTickCount();
  if (!Net().HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) {
    const DWORD error = GetLastError();
    HttpResult r;
    r.failure = Classify(error, GetTickCount() - sent, answerMs ? answerMs : timeoutMs);
    r.error = error;
    return r;
  }

  HttpResult r;
  r.failure = HttpFailure::kNone;
  DWORD status = 0, statusLen = sizeof status;
  if (Net().HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                     &statusLen, nullptr))
    r.status = status;
  if (status >= 300 && status < 400 && status != 304) {
    // Followed only where it may go; the system resolves a relative Location
    // against this address. A Location too long for the buffers leaves
    // `next` empty: refused. A redirect status without a Location is an
    // answer like any other.
    wchar_t location[kMaxRedirectUrl + 1], next[kMaxRedirectUrl + 1];
    DWORD length = sizeof location, nextLength = kMaxRedirectUrl + 1;
    const bool found =
        Net().HttpQueryInfoW(request.get(), HTTP_QUERY_LOCATION, location, &length, nullptr);
    if (found || GetLastError() != ERROR_HTTP_HEADER_NOT_FOUND) {
      if (!found || !Net().InternetCombineUrlW(W(wireUrl), location, next, &nextLength, 0))
        next[0] = 0;
      const std::u16string to = reinterpret_cast<const char16_t*>(next);
      if (redirectsLeft > 0 && RedirectAllowed(wireUrl, to))
        return Get(to, timeoutMs, maxBytes, answerMs, redirectsLeft - 1);
      r.failure = HttpFailure::kRedirect;
      return r;
    }
  }
  wchar_t type[256];
  DWORD len = sizeof type;
  // No Content-Type header leaves the type empty.
  if (Net().HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_TYPE, type, &len, nullptr))
    r.contentType = Utf16ToUtf8Lossy(
        std::u16string_view(reinterpret_cast<const char16_t*>(type), len / sizeof(wchar_t)));
  char buf[16384];
  for (;;) {
    DWORD got = 0;
    if (!Net().InternetReadFile(request.get(), buf, sizeof buf, &got)) break;  // keep what came
    if (got == 0) break;
    const size_t room = maxBytes - r.body.size();
    r.body.append(buf, got < room ? got : room);
    if (r.body.size() >= maxBytes) break;
  }
  return r;
}

}  // namespace

std::u16string WireUrlText(const std::u16string& url) { return Widen(WireUrl(url)); }

HttpResult HttpGet(const std::u16string& wireUrl, DWORD timeoutMs, size_t maxBytes,
                   DWORD answerMs) {
  return Get(wireUrl, timeoutMs, maxBytes, answerMs, kMaxRedirects);
}

}  // namespace stub

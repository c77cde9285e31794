#include "net/http_win.h"

#include <wininet.h>

#include "base/shell_win.h"
#include "base/handle_win.h"
#include "base/text.h"
#include "net/wire.h"

namespace stub {
namespace {

void SetTimeouts(HINTERNET h, DWORD ms) {
  // Time-outs set on the session handle are ignored by some implementations;
  // set them on every handle. Failures only mean the platform default stays.
  InternetSetOptionW(h, INTERNET_OPTION_CONNECT_TIMEOUT, &ms, sizeof ms);
  InternetSetOptionW(h, INTERNET_OPTION_SEND_TIMEOUT, &ms, sizeof ms);
  InternetSetOptionW(h, INTERNET_OPTION_RECEIVE_TIMEOUT, &ms, sizeof ms);
}

}  // namespace

std::u16string WireUrlText(const std::u16string& url) { return Widen(WireUrl(url)); }

bool HttpGet(const std::u16string& wireUrl, DWORD timeoutMs, size_t maxBytes,
             std::string* contentType, std::string* body, DWORD answerMs) {
  // Zero buffers with non-zero lengths ask for pointers into the URL itself.
  URL_COMPONENTSW uc = {};
  uc.dwStructSize = sizeof uc;
  uc.dwHostNameLength = uc.dwUrlPathLength = uc.dwExtraInfoLength = 1;
  if (!InternetCrackUrlW(W(wireUrl), 0, 0, &uc)) return false;
  if (uc.nScheme != INTERNET_SCHEME_HTTP && uc.nScheme != INTERNET_SCHEME_HTTPS) return false;
  const auto part = [](const wchar_t* p, DWORD n) {
    return p ? std::u16string(reinterpret_cast<const char16_t*>(p), n) : std::u16string();
  };
  const std::u16string host = part(uc.lpszHostName, uc.dwHostNameLength);
  std::u16string object = part(uc.lpszUrlPath, uc.dwUrlPathLength) +
                          part(uc.lpszExtraInfo, uc.dwExtraInfoLength);
  if (object.empty()) object = u"/";

  UniqueInternet session(InternetOpenW(L"Mozilla/4.0 (compatible; MSIE 8.0; Windows NT 6.1)",
                                       INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
  if (!session) return false;
  SetTimeouts(session.get(), timeoutMs);
  UniqueInternet connection(InternetConnectW(session.get(), W(host), uc.nPort, nullptr, nullptr,
                                             INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return false;
  SetTimeouts(connection.get(), timeoutMs);
  // NO_UI: a problem never turns into a dialog. NB: do NOT add any
  // INTERNET_FLAG_IGNORE_CERT_* or SECURITY_FLAG_IGNORE_* here - a certificate
  // the system does not trust, for another host or out of date must fail the
  // request (the caller then falls back or drops the report).
  DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                INTERNET_FLAG_NO_UI;
  if (uc.nScheme == INTERNET_SCHEME_HTTPS) flags |= INTERNET_FLAG_SECURE;
  UniqueInternet request(
      HttpOpenRequestW(connection.get(), L"GET", W(object), nullptr, nullptr, nullptr, flags, 0));
  if (!request) return false;
  SetTimeouts(request.get(), timeoutMs);
  if (answerMs)
    InternetSetOptionW(request.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, &answerMs, sizeof answerMs);
  if (!HttpSendRequestW(request.get(), nullptr, 0, nullptr, 0)) return false;

  if (contentType) {
    wchar_t type[256];
    DWORD len = sizeof type;
    contentType->clear();
    if (HttpQueryInfoW(request.get(), HTTP_QUERY_CONTENT_TYPE, type, &len, nullptr))
      *contentType = Utf16ToUtf8Lossy(
          std::u16string_view(reinterpret_cast<const char16_t*>(type), len / sizeof(wchar_t)));
  }
  if (body) body->clear();
  char buf[16384];
  size_t total = 0;
  for (;;) {
    DWORD got = 0;
    if (!InternetReadFile(request.get(), buf, sizeof buf, &got)) break;  // keep what came
    if (got == 0) break;
    const size_t take = got < maxBytes - total ? got : maxBytes - total;
    if (body) body->append(buf, take);
    total += take;
    if (total >= maxBytes) break;
  }
  return true;
}

}  // namespace stub

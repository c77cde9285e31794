// Which redirects the program follows: never from https:// to anything
// weaker, never to anything but a web address. Used by the HTTP GET of the
// information request and the reports, and by the download engine.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace stub {

// The longest address a redirect may lead to (the longest URL the system's
// browser takes); a longer one is refused.
inline constexpr size_t kMaxRedirectUrl = 2083;
// Redirects followed in a row before the request counts as failed.
inline constexpr int kMaxRedirects = 5;

// True when `url` starts with "https://" in any case.
bool IsHttpsAddress(std::u16string_view url);

// True when a transfer of `from` may go on at `to`: `to` is a whole http://
// or https:// address with a host, at most kMaxRedirectUrl units, without
// spaces or control characters, and https:// when `from` is. A relative
// `to` is refused: it is resolved against `from` first.
bool RedirectAllowed(std::u16string_view from, std::u16string_view to);

}  // namespace stub

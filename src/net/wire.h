// The form in which a built URL travels to the server.
#pragma once

#include <string>
#include <string_view>

namespace stub {

// The URL as sent on the wire: spaces, control characters (< 0x20 and 0x7F),
// '"', '<', '>', '\' and every non-ASCII character percent-encoded as UTF-8
// (upper-case hex; a lone surrogate encodes as U+FFFD); '#' and everything
// after it dropped, since a fragment is never sent. Everything else
// (including '%', '=', '&' and ':') stays as it is.
std::string WireUrl(std::u16string_view url);

// The longest n <= limit for which fits(n) holds (fits turns false as n
// grows and holds for 0), moved back by one where it would end after the
// first unit of a surrogate pair of `text`.
template <typename Fits>
size_t LongestFitting(std::u16string_view text, size_t limit, const Fits& fits) {
  size_t low = 0, high = text.size() < limit ? text.size() : limit;
  while (low < high) {
    const size_t mid = low + (high - low + 1) / 2;
    if (fits(mid)) low = mid;
    else high = mid - 1;
  }
  if (low > 0 && text[low - 1] >= 0xD800 && text[low - 1] <= 0xDBFF) --low;  // keep pairs whole
  return low;
}

// The longest prefix of `text` (pairs whole) whose wire form takes at most
// `maxWireBytes`: a field of a report that must leave room for what follows.
std::u16string WireBoundedText(std::u16string_view text, size_t maxWireBytes);

}  // namespace stub

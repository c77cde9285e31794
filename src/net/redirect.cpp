#include "net/redirect.h"

#include "base/text.h"

namespace stub {
namespace {

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return ContainsText(text.substr(0, prefix.size()), prefix) == 1;
}

}  // namespace

bool IsHttpsAddress(std::u16string_view url) { return StartsWithNoCase(url, u"https://"); }

bool RedirectAllowed(std::u16string_view from, std::u16string_view to) {
  if (to.size() > kMaxRedirectUrl) return false;
  // A space or a control character never belongs in an address on the wire:
  // a target holding one is garbage, whatever the platform would make of it.
  for (const char16_t c : to)
    if (c <= u' ' || c == 0x7F) return false;
  // Where the host begins; 0 for anything but a web address.
  const size_t host = IsHttpsAddress(to) ? 8 : StartsWithNoCase(to, u"http://") ? 7 : 0;
  if (host == 0 || host == to.size() || std::u16string_view(u"/?#\\").find(to[host]) != to.npos)
    return false;
  // A transfer that began over TLS never goes on in the clear.
  return host == 8 || !IsHttpsAddress(from);
}

}  // namespace stub

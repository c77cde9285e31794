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

}  // namespace stub

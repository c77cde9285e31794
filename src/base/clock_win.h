// The platform's local clock and code pages, shared by the subsystems that
// stamp, time and decode what they send and receive.
#pragma once

#include <string>
#include <string_view>

#include "base/clock.h"

namespace stub {

// The local date and time now.
LocalTime LocalNow();

// Decodes bytes of a named character set (empty: the ANSI code page).
bool DecodeCharset(std::string_view charset, std::string_view bytes, std::u16string& out);

}  // namespace stub

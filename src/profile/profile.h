// The texts of the machine profile that every server request carries.
#pragma once

#include <cstdint>
#include <string>

namespace stub {

// The Windows version name for a major.minor pair; any pair outside the
// table (later Windows versions included) gives "NotFind".
std::u16string OsName(uint32_t major, uint32_t minor);

// Screen size as "width*height", e.g. "1366*768".
std::u16string ScrText(int32_t width, int32_t height);

}  // namespace stub

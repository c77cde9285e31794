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

// The system's bitness: "64" for a 64-bit process (which runs only on a
// 64-bit system) or a 32-bit one under the 64-bit emulation layer, "32"
// otherwise. IsWow64Process says false for a native 64-bit process, so that
// flag alone would call every x64 machine 32-bit in the 64-bit build.
std::u16string OsBitText(bool process64, bool wow64);

}  // namespace stub

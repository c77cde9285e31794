// Pure helpers of the download flow: size and duration texts, URL and file
// name rules, the status-code trail and the free-space arithmetic. No state,
// no platform calls.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace stub {

// `value` in the "#" (decimals 0) or "#.0" (decimals 1) display format: rounded
// half away from zero, no digit before the point when the whole part is 0
// (0 -> "", 0.5 -> ".5" with one decimal). Non-finite input counts as 0.
std::u16string FormatRounded(double value, int decimals);

// A byte count as "1KB", "1.4MB"...: megabytes from just above 1 MiB.
std::u16string ToKBMB(double size);

// Seconds rounded to hundredths (half to even), shortest form: "12.5", "3", "-0.25".
std::u16string FormatSeconds(double seconds, std::u16string_view decimalSeparator);

// `url` with every "http://" (exact case) removed.
std::u16string StripHttp(std::u16string_view url);

// The last "/"-separated piece of `url` (query included); "" when it ends in "/".
std::u16string UrlFileName(std::u16string_view url);

// `name` made a valid single Windows file name; see the definition for the rules.
std::u16string SafeFileName(std::u16string_view name);

// The name a download from `url` is saved under: the last segment of the
// address before its first "?" or "#", made safe.
std::u16string SaveFileName(std::u16string_view url);

// How a saved file is started: ".exe" and ".msi" through the handlers the
// system has for them; any other name (say "_con", or "setup" without an
// extension) as a program, since its own handler would be a "choose an app"
// dialog or another program altogether.
enum class LaunchAs { Handler, Program };
LaunchAs LaunchKind(std::u16string_view path);

// True when `url` starts with "http://" or "https://" in any case.
bool IsWebAddress(std::u16string_view url);

// Whether a folder owned by `owner` (a security identifier as text,
// "S-1-5-...") is one nobody else controls: owned by `user` (whom this
// program runs as), the system, the administrators or the Windows module
// installer. The owner of a folder may change its access list, so any other
// owner could replace the files in it. "" stands for a file system that
// keeps no owners (FAT); an owner that could not be read ("?") counts as
// another, even when the user could not be read either.
bool TrustedOwner(std::u16string_view owner, std::u16string_view user);

// The status a transfer ended for a refused redirect carries in the trail,
// above every status the URL download service reports.
inline constexpr int32_t kRedirectRefused = 1003;

// Appends `code` and "," to `trail` unless the code is listed already.
void AppendDownCode(std::u16string& trail, int32_t code);

// Whole free megabytes from the drive numbers; 0 when the value does not fit
// a signed 32-bit number.
int32_t DiskFreeMB(uint32_t sectorsPerCluster, uint32_t bytesPerSector, uint32_t freeClusters);

// The caption of the installer's main window.
std::u16string NsisSoftTitle(std::u16string_view NISITitle, std::u16string_view NISIVer);

}  // namespace stub

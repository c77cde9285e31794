// The values built into the program and the start-up step that loads them.
#pragma once

#include <string>
#include <string_view>

#include "base/run_state.h"

namespace stub {

// The publisher's build-time settings, as the build generated them.
struct BuiltIns {
  std::u16string_view ServerUrl;
  std::u16string_view DefaultDownUrl;
  std::u16string_view DefaultFileMD5;
  std::u16string_view CodedTitle1;  // 10 units, coded
  std::u16string_view CodedTitle2;  // 6 units, coded
  std::u16string_view Channel = u"wlpq";  // the publisher's channel name
  std::u16string_view InstallerSigners = {};  // pinned signing certificates, "hex,hex,..."
};

// The settings this executable was built with.
const BuiltIns& BuiltInSettings();

// Title 1 when the executable's name (no folder, no extension) holds
// "vh2vh6" in exactly that case, else title 2; decoded.
std::u16string DefaultSetupName(const BuiltIns& b, std::u16string_view exeName);

// Fills the built-in fields in their fixed order; `getPcId` computes the
// machine identifier when its turn comes.
void LoadDefaults(RunState& s, const BuiltIns& b, std::u16string_view exeName,
                  std::u16string (*getPcId)());

// Checks of the publisher's settings, made by the build before it writes them.
// "http" or "https": the scheme of the fallback download address.
bool IsDownloadScheme(std::u16string_view scheme);
// "SCHEME://HOST/" with SCHEME http or https (lower case) and a bare HOST.
bool IsServerBaseUrl(std::u16string_view url);
// A bare "host[:port]": not empty, no "/", space, "?" or "#".
bool IsBareHost(std::u16string_view host);
// SCHEME + "://" + HOST + the fallback installer's fixed path.
std::u16string FallbackDownUrl(std::u16string_view scheme, std::u16string_view host);

// The executable's name without folder and extension, from its full path.
std::u16string ExeBaseName(std::u16string_view path);

}  // namespace stub

// The machine profile and identifier, read from the platform.
#pragma once

#include <string>

#include "base/run_state.h"

namespace stub {

// OS, Scr, OSBit, DPI, OSLanguage, then the run's TimeID.
void GetOSInfo(RunState& s);

// The machine identifier: disk serials through the SMART driver interface,
// else the processor id through WMI; empty when neither answers.
std::u16string GetPcId();

}  // namespace stub

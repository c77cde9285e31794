// The options of report-server-faults that play a faulty server. They are
// taken out of its arguments first; what is left is report-server's own
// command line.
#pragma once

#include <string>
#include <vector>

#include "server/faults/faulty_answers.h"

namespace stub::server {

// Moves every fault option (its value as the next argument or after '=')
// from `args` into `out`; false with a message for the user.
bool TakeFaultOptions(std::vector<std::string>& args, Faults& out, std::string& error);

// The fault options' part of --help.
std::string FaultUsageText();

}  // namespace stub::server

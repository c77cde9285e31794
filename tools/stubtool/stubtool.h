// The host tool's commands, independent of how the process gets its I/O.
#pragma once

#include <string>
#include <vector>

namespace stub {

// Runs one command line (without the program name). `in` is standard input,
// read only by the commands that need it. Returns the exit code: 0 success,
// 1 failure of the work itself, 2 bad usage or bad input.
int RunStubTool(const std::vector<std::string>& args, const std::string& in, std::string& out,
                std::string& err);

// True when the command reads standard input.
bool StubToolReadsInput(const std::vector<std::string>& args);

}  // namespace stub

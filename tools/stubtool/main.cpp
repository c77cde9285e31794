// Process entry of the host tool: arguments in UTF-8, binary standard I/O.
#include <cstdio>
#include <string>
#include <vector>

#include "stubtool/stubtool.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "base/text.h"
#endif

namespace {

int Run(const std::vector<std::string>& args) {
  std::string in, out, err;
  if (stub::StubToolReadsInput(args)) {
    char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, stdin)) > 0;) in.append(buf, n);
  }
  const int code = stub::RunStubTool(args, in, out, err);
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fwrite(err.data(), 1, err.size(), stderr);
  std::fflush(stdout);
  return code;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.push_back(stub::Utf16ToUtf8Lossy(reinterpret_cast<const char16_t*>(argv[i])));
  return Run(args);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif

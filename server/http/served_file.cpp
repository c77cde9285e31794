#include "server/http/served_file.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "server/http/query.h"

namespace stub::server {
namespace {

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

std::string_view StripAbsoluteForm(std::string_view path) {
  for (std::string_view scheme : {"http://", "https://"}) {
    if (path.substr(0, scheme.size()) == scheme) {
      const size_t slash = path.find('/', scheme.size());
      return slash == std::string_view::npos ? std::string_view("/") : path.substr(slash);
    }
  }
  return path;
}

}  // namespace

std::string JoinUnderRoot(const std::string& root, std::string_view target) {
  const std::string path = PercentDecode(StripAbsoluteForm(PathOf(target)));
  if (path.find('\0') != std::string::npos) return "";
  std::string out = root;
  size_t segments = 0;
  for (size_t start = 0; start <= path.size();) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string_view seg = std::string_view(path).substr(start, end - start);
    if (seg == "..") return "";
    if (!seg.empty() && seg != ".") {
      out += '/';
      out += seg;
      ++segments;
    }
    start = end + 1;
  }
  return segments ? out : "";
}

std::string ResolveServedFile(const std::string& root, std::string_view target) {
  const std::string real_root = RealPath(root);
  if (real_root.empty()) return "";
  const std::string joined = JoinUnderRoot(real_root, target);
  if (joined.empty()) return "";
  const std::string real = RealPath(joined);
  const std::string prefix = real_root == "/" ? "/" : real_root + "/";
  if (real.size() <= prefix.size() || real.compare(0, prefix.size(), prefix) != 0) return "";
  struct stat st;
  if (stat(real.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  return real;
}

}  // namespace stub::server

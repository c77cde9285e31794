#include "server/base/option_values.h"

#include <cmath>
#include <cstdlib>

namespace stub::server {

bool ParseCount(const std::string& text, int64_t min, int64_t max, int64_t& out) {
  if (text.empty() || text.size() > 18) return false;
  int64_t n = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    n = n * 10 + (c - '0');
  }
  if (n < min || n > max) return false;
  out = n;
  return true;
}

bool Refuse(std::string& error, const std::string& message) {
  error = message;
  return false;
}

bool ParseSeconds(const std::string& text, double& out) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos) return false;
  char* end = nullptr;
  const double v = std::strtod(text.c_str(), &end);
  if (*end != '\0' || !std::isfinite(v) || v < 0 || v > 86400.0 * 365) return false;
  out = v;
  return true;
}

}  // namespace stub::server

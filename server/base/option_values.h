// Values of command-line options, read strictly: digits only, in range.
#pragma once

#include <cstdint>
#include <string>

namespace stub::server {

// A decimal count from `min` to `max`; false (out unchanged) otherwise.
bool ParseCount(const std::string& text, int64_t min, int64_t max, int64_t& out);

// Sets `error` to `message` and returns false, for `return Refuse(...)`.
bool Refuse(std::string& error, const std::string& message);

// Seconds as a decimal fraction ("2", "0.25"), up to a year; false otherwise.
bool ParseSeconds(const std::string& text, double& out);

}  // namespace stub::server

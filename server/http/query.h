// Decoding of request targets: percent-decoding and the query fields the
// server records. Accepts any bytes.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace stub::server {

// The query fields that are recorded, in column order. Names match exactly.
constexpr std::array<const char*, 13> kFieldNames = {
    "Key", "Data", "TimeID", "softId", "PcId_C", "SoftVer", "Channel",
    "PcId", "Scr", "OS", "OSBit", "DPI", "OSLanguage"};
constexpr size_t kFieldCount = kFieldNames.size();
constexpr size_t kKeyField = 0;

// Decoded field values (valid UTF-8); nullopt when the query has no such field.
using QueryFields = std::array<std::optional<std::string>, kFieldCount>;

// Replaces each "%XY" (two hex digits) by its byte. A '%' not followed by two
// hex digits stays as it is; '+' stays '+'.
std::string PercentDecode(std::string_view in);

// `bytes` as valid UTF-8: every byte that is not part of a well-formed
// sequence becomes U+FFFD.
std::string ValidUtf8(std::string_view bytes);

// The query of `target`: everything after its first '?', or empty.
std::string_view QueryOf(std::string_view target);
// The path of `target`: everything before its first '?'.
std::string_view PathOf(std::string_view target);

// Splits the query at '&', each piece at its first '=' (a piece without one is
// a name with an empty value), percent-decodes name and value and reads them
// as UTF-8. When a name comes more than once, its first value counts.
QueryFields DecodeQuery(std::string_view target);

}  // namespace stub::server

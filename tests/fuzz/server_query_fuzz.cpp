// Any bytes as a request target: query fields, percent escapes, UTF-8 repair, the mapping onto the served folder.
#include "fuzz_check.h"
#include "server/http/query.h"
#include "server/http/served_file.h"

FUZZ_TARGET(target) {
  using namespace stub::server;
  for (const auto& field : DecodeQuery(target)) FUZZ_CHECK(!field || IsUtf8(*field), "a field is valid UTF-8");
  FUZZ_CHECK(PercentDecode(target).size() <= target.size(), "decoding never grows");
  const std::string valid = ValidUtf8(target);
  FUZZ_CHECK(IsUtf8(valid) && ValidUtf8(valid) == valid, "repaired UTF-8 is valid and stays");
  FUZZ_CHECK(!IsUtf8(target) || valid == target, "valid UTF-8 is kept as it is");
  const std::string_view path = PathOf(target), query = QueryOf(target);
  FUZZ_CHECK(path.size() < target.size() ? std::string(path) + "?" + std::string(query) == target : query.empty(),
             "the target is the path, or the path, '?' and the query");
  // A served file always lies under the root: no ".." segment, no NUL.
  const std::string joined = JoinUnderRoot("/srv/files", target);
  if (!joined.empty()) {
    FUZZ_CHECK(joined.compare(0, 11, "/srv/files/") == 0, "under the root");
    FUZZ_CHECK(joined.find('\0') == std::string::npos, "no NUL byte");
    const std::string rest = joined.substr(10) + "/";
    FUZZ_CHECK(rest.find("/../") == std::string::npos && rest.find("/./") == std::string::npos &&
                   rest.find("//") == std::string::npos,
               "only plain segments");
  }
}

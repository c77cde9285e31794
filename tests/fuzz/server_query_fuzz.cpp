// The report server's reading of a request target: query fields, percent
// escapes, UTF-8 repair and the mapping onto the served folder, for any bytes.
#include <cstdint>
#include <string>
#include <string_view>

#include "app/text.h"
#include "fuzz_check.h"
#include "server/file_path.h"
#include "server/query.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace stub;
  using namespace stub::server;
  using namespace stub::fuzz;
  const std::string_view target = Bytes(data, size);

  std::u16string text;
  for (const auto& field : DecodeQuery(target))
    FUZZ_CHECK(!field || Utf8ToUtf16(*field, text), "a field is valid UTF-8");

  FUZZ_CHECK(PercentDecode(target).size() <= target.size(), "decoding never grows");
  const std::string valid = ValidUtf8(target);
  FUZZ_CHECK(Utf8ToUtf16(valid, text) && ValidUtf8(valid) == valid, "repaired UTF-8 is valid and stays");
  if (Utf8ToUtf16(target, text)) FUZZ_CHECK(valid == target, "valid UTF-8 is kept as it is");

  const std::string_view path = PathOf(target), query = QueryOf(target);
  if (path.size() < target.size())
    FUZZ_CHECK(std::string(path) + "?" + std::string(query) == target, "path '?' query is the target");
  else
    FUZZ_CHECK(query.empty(), "no query without '?'");

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
  return 0;
}

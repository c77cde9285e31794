// Any bytes as a spool file found at start-up: it opens (a torn end cut, a damaged file moved aside, an
// older format given a header) or is refused with a reason, never crashes; what it then holds reads back
// whole, and a request appended after it follows those.
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "fuzz_check.h"
#include "server/store/spool.h"

FUZZ_TARGET(bytes) {
  using namespace stub::server;
  size_t good = 0;
  const auto records = DecodeSpoolRecords(bytes, &good);
  FUZZ_CHECK(good <= bytes.size(), "the intact records lie inside the bytes");
  std::string again;
  for (const auto& r : records) again += EncodeSpoolRecord(r);
  FUZZ_CHECK(again == bytes.substr(0, good), "intact records encode to the bytes they came from");

  static const std::string dir =
      (std::filesystem::temp_directory_path() / ("spool-fuzz-" + std::to_string(getpid()))).string();
  const std::string path = dir + "/spool";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::ofstream(path, std::ios::binary) << bytes;
  Spool spool;
  std::string error;
  if (!spool.Open(path, &error)) {
    FUZZ_CHECK(!error.empty(), "a refusal says why");
    return;
  }
  const uint64_t waiting = spool.rows();
  RecordedRequest last;
  last.event_id = "e", last.time = "t", last.client = "c", last.method = "GET", last.target = "/?Data=last";
  FUZZ_CHECK(spool.Append({&last}, &error), "a request is appended");
  std::vector<RecordedRequest> chunk;
  uint64_t end = 0, read = 0;
  std::string target;
  while (!spool.empty()) {
    FUZZ_CHECK(spool.ReadChunk(1000, 1 << 20, &chunk, &end, &error), "the waiting requests are read");
    FUZZ_CHECK(!chunk.empty(), "an opened spool reads back whole");
    read += chunk.size();
    target = chunk.back().target;
    FUZZ_CHECK(spool.Consumed(end, chunk.size(), &error), "read requests are consumed");
  }
  FUZZ_CHECK(read == waiting + 1 && target == last.target, "every waiting request, then the appended one");
}

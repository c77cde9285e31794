// Any bytes as the host tool's input: refused with exit code 2 unless UTF-8, which round-trips unchanged.
#include "fuzz_check.h"
#include "stubtool/stubtool.h"

static int Run(const std::vector<std::string>& args, const std::string& in, std::string& out) {
  std::string err;
  out.clear();
  const int code = RunStubTool(args, in, out, err);
  FUZZ_CHECK(code == 0 || code == 2, "exit code is 0 or 2");
  FUZZ_CHECK((code == 0) == err.empty(), "an error message exactly when refused");
  return code;
}

FUZZ_TARGET(bytes) {
  const std::string in(bytes);
  const bool valid = IsUtf8(in);
  std::string coded, back, out;
  FUZZ_CHECK((Run({"encode"}, in, coded) == 0) == valid && (Run({"decode"}, in, out) == 0) == valid,
             "valid UTF-8 is accepted, other input refused");
  if (valid) {
    FUZZ_CHECK(Run({"decode"}, coded, back) == 0 && back == in, "decode(encode(x)) == x");
    FUZZ_CHECK(Run({"encode"}, out, back) == 0 && back == in, "encode(decode(x)) == x");
    FUZZ_CHECK(Run({"encode", "--mode", "B", "--key", "-77"}, in, coded) == 0 &&
                   Run({"decode", "--mode", "B", "--key", "77"}, coded, back) == 0 && back == in,
               "mode B round-trips, the key's sign does not matter");
  }
  for (const std::vector<std::string>& args : {std::vector<std::string>{"reply"}, {"reply", "--plain"}}) {
    FUZZ_CHECK((Run(args, in, out) == 0) == valid, "reply accepts exactly valid UTF-8");
    if (!valid) continue;
    // One JSON object on one line, valid UTF-8, no raw control character.
    FUZZ_CHECK(out.size() >= 3 && out.front() == '{' && out.compare(out.size() - 2, 2, "}\n") == 0,
               "one JSON object and a newline");
    for (size_t i = 0; i + 1 < out.size(); ++i)
      FUZZ_CHECK(static_cast<uint8_t>(out[i]) >= 0x20, "no raw control character in JSON");
    FUZZ_CHECK(IsUtf8(out), "JSON is valid UTF-8");
  }
}

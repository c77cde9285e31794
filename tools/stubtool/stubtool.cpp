#include "stubtool/stubtool.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/text.h"
#include "codec/codec.h"
#include "codec/md5_file.h"
#include "net/exchange.h"
#include "stubtool/sha256.h"

namespace stub {
namespace {

constexpr char kUsage[] =
    "usage: stubtool COMMAND [OPTIONS]\n"
    "\n"
    "commands:\n"
    "  decode [--mode A|B] [--key N]  decode UTF-8 text on stdin (default mode A, key 4713)\n"
    "  encode [--mode A|B] [--key N]  make the coded form of UTF-8 text on stdin\n"
    "  md5 FILE                       print the file digest text of FILE\n"
    "  sha256 FILE                    print the SHA-256 of FILE (a reply's FileSHA256)\n"
    "  reply [--plain]                show the fields a server reply on stdin sets, as JSON\n"
    "\n"
    "Run 'stubtool COMMAND --help' for one command.\n";

constexpr char kCodecHelp[] =
    "usage: stubtool %s [--mode A|B] [--key N]\n"
    "Reads UTF-8 text on stdin and writes the %s text as UTF-8 on stdout, nothing\n"
    "added. Mode A and key 4713 are what the setup program and its server use.\n"
    "Exit codes: 0 done, 2 bad usage or input that is not valid UTF-8.\n";

constexpr char kMd5Help[] =
    "usage: stubtool md5 FILE\n"
    "Prints the digest text of FILE and a newline: 32 lower-case hex digits, an\n"
    "empty line when FILE does not exist, or a text starting \"* ERR:\" when it\n"
    "cannot be read. Exit codes: 0 digest printed, 1 missing or unreadable, 2 bad usage.\n";

constexpr char kSha256Help[] =
    "usage: stubtool sha256 FILE\n"
    "Prints the SHA-256 of FILE and a newline: 64 lower-case hex digits (the value\n"
    "of a reply's FileSHA256 record), an empty line when FILE does not exist, or a\n"
    "text starting \"* ERR:\" when it cannot be read. Exit codes: 0 digest printed,\n"
    "1 missing or unreadable, 2 bad usage.\n";

constexpr char kReplyHelp[] =
    "usage: stubtool reply [--plain]\n"
    "Reads a server reply as UTF-8 on stdin, exactly as the setup program would get\n"
    "it (a trailing newline counts as part of the last value), decodes it with mode A\n"
    "and key 4713 unless --plain says it is already plain, parses it as the setup\n"
    "program does and prints one JSON object with the fields it sets:\n"
    "  {\"DownUrl\":...,\"FileMD5\":...,\"SetupName\":...,\"NameTitle\":...,\"NISITitle\":...,\"NISIVer\":...,\n"
    "   \"FileSHA256\":...}\n"
    "A field the reply does not set is null. Values come out in lower case, as the\n"
    "setup program uses them. Exit codes: 0 done, 2 bad usage or input that is not\n"
    "valid UTF-8.\n";

bool WantsHelp(const std::vector<std::string>& args) {
  for (const auto& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

std::string Format(const char* fmt, const char* a, const char* b) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, a, b);
  return buf;
}

bool ParseKey(const std::string& text, int32_t& key) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0') return false;
  // INT32_MIN has no 32-bit absolute value, so the codec cannot take it.
  if (v <= INT32_MIN || v > INT32_MAX) return false;
  key = static_cast<int32_t>(v);
  return true;
}

int Codec(const std::vector<std::string>& args, bool decode, const std::string& in,
          std::string& out, std::string& err) {
  const char* name = decode ? "decode" : "encode";
  if (WantsHelp(args)) {
    out = Format(kCodecHelp, name, decode ? "decoded" : "coded");
    return 0;
  }
  std::u16string mode = u"A";
  int32_t key = kCodecKey;
  for (size_t i = 1; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--mode" && hasValue && (args[i + 1] == "A" || args[i + 1] == "B")) {
      mode = Widen(args[++i]);
    } else if (args[i] == "--key" && hasValue && ParseKey(args[i + 1], key)) {
      ++i;
    } else {
      err = std::string("stubtool ") + name + ": bad argument '" + args[i] +
            "' (mode is A or B; key is a whole number from -2147483647 to 2147483647)\n";
      return 2;
    }
  }
  std::u16string text;
  if (!Utf8ToUtf16(in, text)) {
    err = std::string("stubtool ") + name + ": input is not valid UTF-8\n";
    return 2;
  }
  const std::u16string result = decode ? CodeText(text, mode, key) : Encode(text, mode, key);
  if (!Utf16ToUtf8(result, out)) {
    // A lone surrogate can only come out when one went in.
    err = std::string("stubtool ") + name + ": the result holds a lone surrogate\n";
    out.clear();
    return 2;
  }
  return 0;
}

// A digest command: its help, or the digest text of its one FILE argument
// (`digest` of the path in UTF-8 and UTF-16) and a newline; exit code 0 when
// the text has `digits` hex digits, 1 when the file could not be hashed, 2
// for bad usage.
int DigestCommand(const char* name, const char* help, size_t digits,
                  std::string (*digest)(const std::string&, const std::u16string&),
                  const std::vector<std::string>& args, std::string& out, std::string& err) {
  if (WantsHelp(args)) {
    out = help;
    return 0;
  }
  std::u16string path;
  if (args.size() != 2 || !Utf8ToUtf16(args[1], path)) {
    err = std::string("stubtool ") + name + ": expects exactly one FILE argument in UTF-8\n";
    return 2;
  }
  const std::string text = digest(args[1], path);
  out = text + "\n";
  return text.size() == digits ? 0 : 1;
}

int Md5(const std::vector<std::string>& args, std::string& out, std::string& err) {
  return DigestCommand("md5", kMd5Help, 32,
                       [](const std::string&, const std::u16string& path) { return Utf16ToUtf8Lossy(MD5File(path)); },
                       args, out, err);
}

// The SHA-256 text of a file, with the same answers as the MD5 text for a
// missing path (""), a folder or a file that cannot be opened, and a failed
// read.
std::string Sha256Text(const std::string& path_utf8) {
  namespace fs = std::filesystem;
  const fs::path path = fs::u8path(path_utf8);
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) return "";
  std::ifstream in;
  if (!fs::is_directory(status)) in.open(path, std::ios::binary);
  if (!in.is_open()) return Utf16ToUtf8Lossy(kErrOpen);
  Sha256 sha256;
  std::vector<char> buf(64 * 1024);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    sha256.Update(buf.data(), static_cast<size_t>(in.gcount()));
  }
  const std::string digest = sha256.Finish();
  return in.bad() || digest.empty() ? Utf16ToUtf8Lossy(kErrRead) : digest;
}

int Sha256File(const std::vector<std::string>& args, std::string& out, std::string& err) {
  return DigestCommand("sha256", kSha256Help, 64,
                       [](const std::string& path, const std::u16string&) { return Sha256Text(path); }, args,
                       out, err);
}

int Reply(const std::vector<std::string>& args, const std::string& in, std::string& out,
          std::string& err) {
  if (WantsHelp(args)) {
    out = kReplyHelp;
    return 0;
  }
  bool plain = false;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] != "--plain") {
      err = "stubtool reply: bad argument '" + args[i] + "' (the only option is --plain)\n";
      return 2;
    }
    plain = true;
  }
  std::u16string text;
  if (!Utf8ToUtf16(in, text)) {
    err = "stubtool reply: input is not valid UTF-8\n";
    return 2;
  }
  if (!plain) text = CodeText(text, u"A", kCodecKey);
  RunState s;
  const uint32_t seen = ParseNetInfoFields(s, text);
  const struct {
    const char* name;
    uint32_t bit;
    const std::u16string& value;
  } fields[] = {
      {"DownUrl", kReplyDownUrl, s.DownUrl},       {"FileMD5", kReplyFileMD5, s.FileMD5},
      {"SetupName", kReplySetupName, s.SetupName}, {"NameTitle", kReplyNameTitle, s.NameTitle},
      {"NISITitle", kReplyNISITitle, s.NISITitle}, {"NISIVer", kReplyNISIVer, s.NISIVer},
      {"FileSHA256", kReplyFileSHA256, s.FileSHA256},
  };
  // A lone surrogate has no UTF-8 form and becomes U+FFFD.
  nlohmann::ordered_json json;
  for (const auto& f : fields)
    json[f.name] = (seen & f.bit) ? nlohmann::ordered_json(Utf16ToUtf8Lossy(f.value)) : nullptr;
  out = json.dump() + "\n";
  return 0;
}

}  // namespace

bool StubToolReadsInput(const std::vector<std::string>& args) {
  return !args.empty() &&
         (args[0] == "decode" || args[0] == "encode" || args[0] == "reply") && !WantsHelp(args);
}

int RunStubTool(const std::vector<std::string>& args, const std::string& in, std::string& out,
                std::string& err) {
  if (args.empty()) {
    err = kUsage;
    return 2;
  }
  const std::string& cmd = args[0];
  if (cmd == "--help" || cmd == "-h" || cmd == "help") {
    out = kUsage;
    return 0;
  }
  if (cmd == "decode" || cmd == "encode") return Codec(args, cmd == "decode", in, out, err);
  if (cmd == "md5") return Md5(args, out, err);
  if (cmd == "sha256") return Sha256File(args, out, err);
  if (cmd == "reply") return Reply(args, in, out, err);
  err = "stubtool: unknown command '" + cmd + "'\n\n" + kUsage;
  return 2;
}

}  // namespace stub

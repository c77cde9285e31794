#include "server/rules/release_rules.h"

#include "base/text.h"
#include "codec/codec.h"
#include "net/page_text.h"
#include "server/http/served_file.h"
#include "server/rules/info_reply.h"

namespace stub::server {
namespace {

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualsNoCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

bool FieldMatches(const std::vector<std::string>& wanted, const std::optional<std::string>& got) {
  if (wanted.empty()) return true;
  if (!got) return false;
  for (const auto& w : wanted)
    if (EqualsNoCase(w, *got)) return true;
  return false;
}

size_t FieldIndex(const char* name) {
  for (size_t i = 0; i < kFieldCount; ++i)
    if (std::string_view(kFieldNames[i]) == name) return i;
  return 0;
}

bool IsDownUrlField(const std::string& field) { return EqualsNoCase(field, "DownUrl"); }

void Append(std::string& reply, const char* key, const std::string& value) {
  if (value.empty()) return;
  if (!reply.empty()) reply += "<#>";
  reply += key;
  reply += "==";
  reply += value;
}

}  // namespace

const Rule* MatchRule(const RuleSet& set, const QueryFields& r) {
  static const size_t soft = FieldIndex("softId"), channel = FieldIndex("Channel"),
                      ver = FieldIndex("SoftVer"), os = FieldIndex("OS"), bits = FieldIndex("OSBit");
  for (const Rule& rule : set.rules) {
    const RuleMatch& m = rule.match;
    if (FieldMatches(m.softId, r[soft]) && FieldMatches(m.Channel, r[channel]) &&
        FieldMatches(m.SoftVer, r[ver]) && FieldMatches(m.OS, r[os]) &&
        FieldMatches(m.OSBit, r[bits]))
      return &rule;
  }
  return nullptr;
}

std::string PlainReplyFor(const Release& rel, const FileDigests& digests) {
  std::string reply;
  Append(reply, "DownUrl", rel.url);
  Append(reply, "FileMD5", digests.md5);
  Append(reply, "FileSHA256", digests.sha256);
  Append(reply, "SetupName", rel.SetupName);
  Append(reply, "NameTitle", rel.NameTitle);
  Append(reply, "NISITitle", rel.NISITitle);
  Append(reply, "NISIVer", rel.NISIVer);
  return reply;
}

std::string ServedPath(const std::string& files_dir, const std::string& file) {
  if (file.empty()) return "";
  return ResolveServedFile(files_dir, "/" + file);
}

std::string CheckValue(const std::string& field, const std::string& value) {
  std::u16string text;
  if (!Utf8ToUtf16(value, text)) return "is not valid UTF-8, which the codec cannot carry";
  if (value.empty()) return "is empty (leave the field out instead)";
  if (value.find("<#>") != std::string::npos) return "holds \"<#>\", which ends a record";
  if (value.find("==") != std::string::npos) return "holds \"==\", which ends a value";
  if (value.find_first_of("\r\n") != std::string::npos)
    return "holds a line break, which the page text does not keep";
  for (const char c : value)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
      return "holds a control character, which the page text does not keep";
  if (value.find("  ") != std::string::npos)
    return "holds a run of spaces, which the page text does not keep";
  if (value.front() == ' ' || value.back() == ' ')
    return "starts or ends with a space, which the page text does not keep";
  if (IsDownUrlField(field)) {
    if (ToLower(text) != text)
      return "has upper-case letters; the stub lower-cases every value, so name the file "
             "and its folders in lower case";
    if (value.find(' ') != std::string::npos) return "holds a space";
    const size_t scheme = value.rfind("http://", 0) == 0 ? 7 : value.rfind("https://", 0) == 0 ? 8 : 0;
    if (scheme == 0) return "is not an http:// or https:// address";
    if (value.size() == scheme || value[scheme] == '/') return "names no host";
  }
  const size_t digits = field == "md5" ? 32 : field == "sha256" ? 64 : 0;
  if (digits &&
      (value.size() != digits || value.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos))
    return "is not " + std::to_string(digits) + " hexadecimal digits";
  return "";
}

std::string CheckReply(const std::string& rule, const std::string& plain) {
  const std::string where = "rule '" + rule + "': ";
  std::u16string text;
  if (!Utf8ToUtf16(plain, text)) return where + "the reply is not valid UTF-8";
  // Each record as the stub reads it: a key before its first "==", the value
  // after it.
  size_t begin = 0;
  for (;;) {
    const size_t end = plain.find("<#>", begin);
    const std::string record =
        plain.substr(begin, end == std::string::npos ? std::string::npos : end - begin);
    const size_t eq = record.find("==");
    const std::string field = eq == std::string::npos ? record : record.substr(0, eq);
    // An empty value is meaningful in a reply (it clears the field), so only
    // values with text are checked.
    const std::string value = eq == std::string::npos ? record : record.substr(eq + 2);
    const std::string problem = value.empty() ? "" : CheckValue(field, value);
    if (!problem.empty())
      return where + (eq == std::string::npos ? "record '" + record + "'" : field) + " " + problem;
    if (end == std::string::npos) break;
    begin = end + 3;
  }
  // The whole way to the stub: coded, served as text/plain, taken as page
  // text and decoded. Whatever does not come back is something the codec or
  // the page text cannot carry.
  const std::string body = CodedReply(plain);
  const std::u16string back =
      CodeText(PageText("text/plain; charset=utf-8", body, nullptr), u"A", kCodecKey);
  if (back != text) {
    size_t i = 0;
    while (i < back.size() && i < text.size() && back[i] == text[i]) ++i;
    return where + "the reply does not survive coding and the page text from character " +
           std::to_string(i + 1) + " on";
  }
  return "";
}

bool LoadFixedReply(const std::string& bytes, RuleSet& out, std::string& error, bool tls) {
  out = RuleSet();
  out.fixed = true;
  out.fixed_reply = PlainReply(bytes);
  if (out.fixed_reply.empty()) return true;
  error = CheckReply("--reply", out.fixed_reply);
  // The stub finds the key anywhere in a record, in any case.
  const std::u16string lower = ToLower(Utf8ToUtf16Lossy(out.fixed_reply));
  if (error.empty() && tls && lower.find(u"downurl==http://") != std::u16string::npos)
    error = std::string("--reply: DownUrl ") + kClearUnderTls;
  return error.empty();
}

}  // namespace stub::server

#include "server/rules/info_reply.h"

#include "base/text.h"
#include "codec/codec.h"

namespace stub::server {

std::string PlainReply(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (bytes.size() >= 2 && bytes.substr(bytes.size() - 2) == "\r\n") bytes.remove_suffix(2);
  else if (!bytes.empty() && bytes.back() == '\n') bytes.remove_suffix(1);
  return std::string(bytes);
}

std::string CodedReply(std::string_view plain_utf8) {
  return Utf16ToUtf8Lossy(Encode(Utf8ToUtf16Lossy(plain_utf8), u"A", kCodecKey));
}

}  // namespace stub::server

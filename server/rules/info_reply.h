// The answer to an "Info" request: the plain reply text, coded the way the
// program decodes it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace stub::server {

// The plain reply held in a reply file's bytes: a leading UTF-8 byte-order
// mark and one trailing line end (LF or CRLF) are dropped.
std::string PlainReply(std::string_view file_bytes);

// The coded form of a UTF-8 text (mode "A", the built-in key), as UTF-8.
std::string CodedReply(std::string_view plain_utf8);

// Reply files are read up to this size; a page fetch of the program reads no
// more than this either.
constexpr size_t kMaxReplyBytes = 1 << 20;

}  // namespace stub::server

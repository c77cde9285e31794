// How the bytes of a fetched page become text: the media type and charset of
// the Content-Type header, a <meta> declaration, byte-order marks, and the
// UTF-8 / ANSI code page fallback.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "net/page_text.h"

namespace stub {

// How far into an HTML body a <meta> charset declaration is looked for.
inline constexpr size_t kMetaScanBytes = 1024;

struct ContentTypeParts {
  std::string_view media;    // trimmed, case as sent ("" when absent)
  std::string_view charset;  // trimmed and unquoted ("" when absent)
};
ContentTypeParts SplitContentType(std::string_view contentType);

// text/html or application/xhtml+xml, case ignored.
bool IsHtmlMediaType(std::string_view media);

// True when the body, after an optional byte-order mark and whitespace,
// starts with '<'.
bool StartsWithMarkup(std::string_view body);

// The charset named by a <meta charset> or <meta http-equiv="Content-Type"
// content="...charset=..."> element within the first kMetaScanBytes bytes;
// "" when there is none.
std::string_view MetaCharset(std::string_view body);

// Decodes a page body. A byte-order mark decides first; then `charset` (from
// the header), then, when `sniffMeta`, a <meta> declaration; a charset that
// cannot be decoded counts as none. Without one: UTF-8 when the bytes are
// valid UTF-8 (an incomplete sequence at the end is allowed when `cut`, since
// the body was cut there), else the ANSI code page through `decoder`, else
// Latin-1.
std::u16string DecodePage(std::string_view charset, std::string_view body, bool sniffMeta,
                          bool cut, CharsetDecoder decoder);

}  // namespace stub

// The text of a fetched page: what a reader of the page would see, with the
// page-frame tags taken out, as the information exchange expects it.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "base/text.h"  // CharsetDecoder

namespace stub {

// Page body bound: callers read at most this many bytes.
inline constexpr size_t kMaxPageBytes = 1 << 20;

// Visible text of a page. text/plain: the body as text. text/html (or no type
// and a body that starts with markup): the text outside tags, comments and
// the contents of script, style and head, character references decoded,
// whitespace runs collapsed to one space, trimmed.
// Character set: a byte-order mark, else the Content-Type's charset, else a
// <meta> declaration near the start of an HTML page, else UTF-8 when the bytes
// are valid UTF-8, else the ANSI code page (`decoder` with an empty name;
// Latin-1 without a decoder). UTF-8, UTF-16, US-ASCII and ISO-8859-1 are
// decoded here, others through `decoder`; when that fails, the UTF-8/ANSI
// rule applies. Bodies longer than kMaxPageBytes are cut to it first.
// Accepts any bytes.
std::u16string VisibleText(std::string_view contentType, std::string_view body,
                           CharsetDecoder decoder);

// Removes every occurrence of "<HTML>", "<HEAD>", "</HEAD>", "<BODY>",
// "</BODY>", "</HTML>", "<html>", "<head>", "</head>", "<body>", "</body>",
// "</html>" (exact case, in that order). Nothing else.
std::u16string RemovePageTags(std::u16string_view text);

// What the fetch stores in NetText: RemovePageTags(VisibleText(...)).
std::u16string PageText(std::string_view contentType, std::string_view body,
                        CharsetDecoder decoder);

}  // namespace stub

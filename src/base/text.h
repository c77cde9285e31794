// Text helpers shared by the portable core: UTF conversions at the edges,
// case mapping, and the small searches the program uses everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace stub {

// Strict UTF-8 -> UTF-16. Returns false (and leaves `out` unspecified) on
// malformed input, overlong forms, encoded surrogates or values > U+10FFFF.
bool Utf8ToUtf16(std::string_view in, std::u16string& out);

// Strict UTF-16 -> UTF-8. Returns false on a lone surrogate.
bool Utf16ToUtf8(std::u16string_view in, std::string& out);

// Lenient forms for texts that must never fail (reports, logs): malformed
// input becomes U+FFFD.
std::u16string Utf8ToUtf16Lossy(std::string_view in);
std::string Utf16ToUtf8Lossy(std::u16string_view in);

// Latin-1 bytes -> UTF-16 (each byte one unit); used for plain ASCII literals.
std::u16string Widen(std::string_view ascii);

char16_t ToUpperUnit(char16_t c);
char16_t ToLowerUnit(char16_t c);
std::u16string ToUpper(std::u16string_view s);
std::u16string ToLower(std::u16string_view s);

// 1-based position of `part` in `text`, both compared in upper case; 0 when
// absent. An empty `part` gives 1.
int32_t ContainsText(std::u16string_view text, std::u16string_view part);

// Every occurrence of `from` (exact case) replaced by `to`.
std::u16string ReplaceAll(std::u16string_view text, std::u16string_view from,
                          std::u16string_view to);

// Decimal text of a signed 32-bit value.
std::u16string DecimalText(int64_t value);

// Decodes bytes in a named character set (or, for an empty name, the system
// ANSI code page). Provided by the Windows shell (DecodeCharset); may be null.
// Returns false when it does not know the character set or cannot convert.
using CharsetDecoder = bool (*)(std::string_view charset, std::string_view bytes,
                                std::u16string& out);

}  // namespace stub

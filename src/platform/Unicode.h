#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Conversions between the program's UTF-8 text and the encodings of its files and peers.
// Malformed UTF-8 input decodes each bad byte as U+FFFD, so nothing is ever dropped silently.
std::u32string Utf8ToUtf32(std::string_view utf8);
std::string Utf32ToUtf8(std::u32string_view text);
std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// Characters up to U+00FF become that byte, every other character "?".
std::string Utf8ToLatin1Lossy(std::string_view utf8);

// Number of characters (code points) in a UTF-8 text, and its first `count` characters.
std::size_t Utf8Length(std::string_view utf8);
std::string Utf8Prefix(std::string_view utf8, std::size_t count);

// The text with every control character written out (\n, \r, \t, \x1b, \x85), the line and paragraph
// separators as \u2028 and \u2029, and bytes that are no UTF-8 as \xNN: a text from outside stays on
// the one line it is written on, and cannot move a terminal's cursor.
std::string EscapeControlCharacters(std::string_view utf8);

// Upper-cases the ASCII letters a to z only, as the name comparisons of the protocol do.
std::string AsciiUpper(std::string_view text);
std::string AsciiLower(std::string_view text);

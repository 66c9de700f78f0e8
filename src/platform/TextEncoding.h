#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class CodePage;
class IconvConverter;

// What the bytes of a text file say about their encoding (a byte-order mark, valid UTF-8, the
// encoding an XML declaration or an HTML page's Content-Type names) and their conversion through
// iconv. The description files on pen drives, the settings file and the printing of plain-text
// documents all go by it. Stateless; any thread.
class TextEncoding {
public:
    enum class Mark { None, Utf8, Utf16LittleEndian, Utf16BigEndian, Utf32LittleEndian, Utf32BigEndian };

    // A declaration that names the encoding lies within this many bytes of the start.
    static constexpr std::size_t kDeclarationWindow = 1024;

    // The byte-order mark `bytes` begin with. FF FE 00 00 is the UTF-32 mark only when `utf32` is
    // set; otherwise it is the UTF-16 mark and a NUL character.
    static Mark MarkOf(std::string_view bytes, bool utf32);
    static std::string_view MarkBytes(Mark mark);
    // The iconv name of the encoding a mark stands for; empty for none.
    static std::string IconvName(Mark mark);

    // The offset of the first byte that is no part of a well-formed UTF-8 sequence, if any.
    static std::optional<std::size_t> InvalidUtf8At(std::string_view text);
    // The looser test description files are read by: every byte with the top bit set starts a
    // sequence whose length its bits 5, 4 and 3 give, and every further byte of it has its top bit set.
    static bool HasUtf8Shape(std::string_view text);

    // The encoding named by the XML declaration at the very start of `text` (its "<?xml" in any
    // letter case) or, with `htmlMeta` and no declaration, by the Content-Type meta element in an
    // HTML page's head. Empty when nothing names one.
    static std::string DeclaredEncoding(std::string_view text, bool htmlMeta);

    // Runs `converter` over `text`; nothing when the text has a byte sequence that stands for no
    // character, whose offset then goes to `failedAt`.
    static std::optional<std::string> ConvertStrictly(IconvConverter& converter, std::string_view text,
                                                      std::size_t& failedAt);

    // The bytes of a plain-text file as UTF-8: in the encoding its byte-order mark names, else as
    // UTF-8 when they are valid UTF-8, else in `fallback` (the code page of the device that wrote it).
    // Sequences that stand for no character become U+FFFD.
    static std::string PlainTextToUtf8(std::string_view bytes, const CodePage& fallback);
};

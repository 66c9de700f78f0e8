#pragma once

#include <string>
#include <string_view>

// An 8-bit Windows code page (1252, 1250, 1251, ...) converted through iconv. Devices speak in one
// of these; inside the program text is UTF-8.
class CodePage {
public:
    explicit CodePage(int windowsCodePage);

    int Number() const { return number; }
    // UTF-8 to the code page; characters the code page cannot hold become "?".
    std::string Encode(std::string_view utf8) const;
    // Code page to UTF-8; a byte without a character in the code page becomes the control character of
    // its number, as Windows reads it, and Encode gives that byte back.
    std::string Decode(std::string_view bytes) const;
    // Whether every character of `utf8` has a place in the code page, so that Encode puts no "?" for it.
    bool CanEncode(std::string_view utf8) const;
    // Whether iconv knows this code page.
    bool IsSupported() const;

    // The code page of the wire (Windows-1252 unless the settings name another).
    static const CodePage& Wire();
    static void SetWire(int windowsCodePage);

private:
    int number;
};

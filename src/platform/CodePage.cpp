#include "platform/CodePage.h"

#include <algorithm>
#include <atomic>
#include <string>

#include "platform/CodePageNames.h"
#include "platform/IconvConverter.h"
#include "platform/Unicode.h"

namespace {

constexpr const char* kUtf8 = "UTF-8";

// The table's name where it has one: iconv knows 28591 as ISO-8859-1, not as CP28591.
std::string IconvName(int number) {
    const std::string known = CodePageNames::IconvNameOf(number);
    return known.empty() ? "CP" + std::to_string(number) : known;
}

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

std::size_t Utf8CharLength(std::string_view rest) {
    return std::max<std::size_t>(1, Utf8Prefix(rest, 1).size());
}

std::atomic<int> wireNumber = 1252;

// Whether `byte` has no character in the code page; such bytes stand for the control character of the
// same number, as Windows reads them (0x81, 0x8D, 0x8F, 0x90 and 0x9D of Windows-1252).
bool IsUndefinedByte(int number, unsigned char byte) {
    IconvConverter converter(kUtf8, IconvName(number));
    if (!converter.Valid()) {
        return false;
    }
    bool undefined = false;
    const char text[1] = {static_cast<char>(byte)};
    converter.Run(std::string_view(text, 1), [&](std::string_view, std::string&) {
        undefined = true;
        return std::size_t{1};
    });
    return undefined;
}

std::string ControlCharacterOf(unsigned char byte) {
    const char32_t character = byte;
    return Utf32ToUtf8(std::u32string_view(&character, 1));
}

} // namespace

CodePage::CodePage(int windowsCodePage) : number(windowsCodePage) {}

bool CodePage::IsSupported() const {
    // Text on the wire and in 8-bit files is 8-bit: the UTF-16 and UTF-32 pages cannot carry it.
    return !CodePageNames::IsWide(number) && IconvConverter(kUtf8, IconvName(number)).Valid();
}

std::string CodePage::Encode(std::string_view utf8) const {
    if (IsAscii(utf8)) {
        return std::string(utf8);
    }
    IconvConverter converter(IconvName(number), kUtf8);
    if (!converter.Valid()) {
        return Utf8ToLatin1Lossy(utf8);
    }
    const int codePage = number;
    return converter.Run(utf8, [codePage](std::string_view rest, std::string& out) {
        const std::u32string character = Utf8ToUtf32(Utf8Prefix(rest, 1));
        if (character.size() == 1 && character[0] >= 0x80 && character[0] <= 0xFF &&
            IsUndefinedByte(codePage, static_cast<unsigned char>(character[0]))) {
            out.push_back(static_cast<char>(character[0]));
        } else {
            out.push_back('?');
        }
        return Utf8CharLength(rest);
    });
}

bool CodePage::CanEncode(std::string_view utf8) const {
    return Decode(Encode(utf8)) == utf8;
}

std::string CodePage::Decode(std::string_view bytes) const {
    if (IsAscii(bytes)) {
        return std::string(bytes);
    }
    IconvConverter converter(kUtf8, IconvName(number));
    if (!converter.Valid()) {
        std::u32string latin1(bytes.begin(), bytes.end());
        for (auto& c : latin1) {
            c = static_cast<unsigned char>(c);
        }
        return Utf32ToUtf8(latin1);
    }
    return converter.Run(bytes, [](std::string_view rest, std::string& out) {
        out += ControlCharacterOf(static_cast<unsigned char>(rest[0]));
        return std::size_t{1};
    });
}

const CodePage& CodePage::Wire() {
    // One object per code page number in use; the wire code page changes only when settings load.
    static thread_local CodePage current(wireNumber.load());
    if (current.number != wireNumber.load()) {
        current = CodePage(wireNumber.load());
    }
    return current;
}

void CodePage::SetWire(int windowsCodePage) {
    wireNumber = CodePage(windowsCodePage).IsSupported() ? windowsCodePage : 1252;
}

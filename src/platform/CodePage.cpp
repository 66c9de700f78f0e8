#include "platform/CodePage.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <iconv.h>
#include <string>

#include "platform/Unicode.h"

namespace {

constexpr const char* kUtf8 = "UTF-8";

std::string IconvName(int number) {
    return "CP" + std::to_string(number);
}

bool IsAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

// One conversion descriptor for the life of a call: iconv_t is not safe to share between threads.
class Converter {
public:
    Converter(const std::string& to, const std::string& from) : cd(iconv_open(to.c_str(), from.c_str())) {}
    ~Converter() {
        if (Valid()) {
            iconv_close(cd);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool Valid() const { return cd != reinterpret_cast<iconv_t>(-1); }

    // Converts `in`; on a character it cannot convert it appends `substitute(rest)` and skips `skip(rest)`
    // bytes, `rest` being the input from that character on.
    template <typename Substitute, typename Skip>
    std::string Run(std::string_view in, Substitute substituteFor, Skip skip) {
        std::string out;
        out.resize(in.size() * 4 + 16);
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        char* outPtr = out.data();
        std::size_t outLeft = out.size();
        while (inLeft > 0) {
            if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
                break;
            }
            if (errno == E2BIG) {
                const std::size_t used = static_cast<std::size_t>(outPtr - out.data());
                out.resize(out.size() * 2);
                outPtr = out.data() + used;
                outLeft = out.size() - used;
                continue;
            }
            // EILSEQ or EINVAL: substitute and step over the offending input.
            const std::string substitute = substituteFor(std::string_view(inPtr, inLeft));
            const std::size_t used = static_cast<std::size_t>(outPtr - out.data());
            if (outLeft < substitute.size()) {
                out.resize(out.size() * 2);
                outPtr = out.data() + used;
                outLeft = out.size() - used;
            }
            for (char c : substitute) {
                *outPtr++ = c;
                --outLeft;
            }
            const std::size_t step = skip(std::string_view(inPtr, inLeft));
            inPtr += step;
            inLeft -= step;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
        out.resize(static_cast<std::size_t>(outPtr - out.data()));
        return out;
    }

private:
    iconv_t cd;
};

std::size_t Utf8CharLength(std::string_view rest) {
    return std::max<std::size_t>(1, Utf8Prefix(rest, 1).size());
}

std::atomic<int> wireNumber = 1252;

// Whether `byte` has no character in the code page; such bytes stand for the control character of the
// same number, as Windows reads them (0x81, 0x8D, 0x8F, 0x90 and 0x9D of Windows-1252).
bool IsUndefinedByte(int number, unsigned char byte) {
    Converter converter(kUtf8, IconvName(number));
    if (!converter.Valid()) {
        return false;
    }
    bool undefined = false;
    const char text[1] = {static_cast<char>(byte)};
    converter.Run(std::string_view(text, 1), [&](std::string_view) {
        undefined = true;
        return std::string();
    }, [](std::string_view) { return std::size_t{1}; });
    return undefined;
}

std::string ControlCharacterOf(unsigned char byte) {
    const char32_t character = byte;
    return Utf32ToUtf8(std::u32string_view(&character, 1));
}

} // namespace

CodePage::CodePage(int windowsCodePage) : number(windowsCodePage) {}

bool CodePage::IsSupported() const {
    return Converter(kUtf8, IconvName(number)).Valid();
}

std::string CodePage::Encode(std::string_view utf8) const {
    if (IsAscii(utf8)) {
        return std::string(utf8);
    }
    Converter converter(IconvName(number), kUtf8);
    if (!converter.Valid()) {
        return Utf8ToLatin1Lossy(utf8);
    }
    const int codePage = number;
    return converter.Run(
        utf8,
        [codePage](std::string_view rest) {
            const std::u32string character = Utf8ToUtf32(Utf8Prefix(rest, 1));
            if (character.size() == 1 && character[0] >= 0x80 && character[0] <= 0xFF &&
                IsUndefinedByte(codePage, static_cast<unsigned char>(character[0]))) {
                return std::string(1, static_cast<char>(character[0]));
            }
            return std::string("?");
        },
        Utf8CharLength);
}

std::string CodePage::Decode(std::string_view bytes) const {
    if (IsAscii(bytes)) {
        return std::string(bytes);
    }
    Converter converter(kUtf8, IconvName(number));
    if (!converter.Valid()) {
        std::u32string latin1(bytes.begin(), bytes.end());
        for (auto& c : latin1) {
            c = static_cast<unsigned char>(c);
        }
        return Utf32ToUtf8(latin1);
    }
    return converter.Run(
        bytes, [](std::string_view rest) { return ControlCharacterOf(static_cast<unsigned char>(rest[0])); },
        [](std::string_view) { return std::size_t{1}; });
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

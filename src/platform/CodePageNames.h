#pragma once

#include <optional>
#include <string>
#include <string_view>

// Encoding names as documents declare them, the Windows code pages they stand for, and the iconv
// names that convert those code pages.
class CodePageNames {
public:
    static constexpr int kUtf16LittleEndian = 1200;
    static constexpr int kUtf16BigEndian = 1201;
    static constexpr int kUtf32LittleEndian = 12000;
    static constexpr int kUtf32BigEndian = 12001;
    // What any name beginning with "UTF-32" stands for.
    static constexpr int kUtf32Any = 65005;
    static constexpr int kUtf8 = 65001;
    // Names this long or longer are never looked up.
    static constexpr std::size_t kNameLengthLimit = 100;

    // The code page of an encoding name (ASCII letters compared without case); none when unknown.
    static std::optional<int> CodePageOf(std::string_view name);
    // The iconv name of a code page; empty when iconv cannot convert it.
    static std::string IconvNameOf(int codePage);
    // Code pages whose characters are 16 or 32 bits wide, which no 8-bit text can be in.
    static bool IsWide(int codePage);
};

#include "app/UTF16File.h"

#include <fstream>
#include <iterator>

#include "platform/Unicode.h"

namespace {

std::string Utf16LeBytes(const std::u16string& text) {
    std::string bytes;
    bytes.reserve(text.size() * 2);
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

} // namespace

UTF16File::~UTF16File() {
    Close();
}

void UTF16File::Open(const std::string& filePath, bool create) {
    path = filePath;
    if (!create) {
        return;
    }
    Close();
    file = std::fopen(path.c_str(), "wb");
    if (file != nullptr) {
        static constexpr unsigned char kByteOrderMark[] = {0xFF, 0xFE};
        std::fwrite(kByteOrderMark, 1, sizeof kByteOrderMark, file);
    }
}

void UTF16File::Close() {
    if (file != nullptr) {
        std::fclose(file);
        file = nullptr;
    }
}

void UTF16File::WriteLine(const std::string& text) {
    Write(text + "\n");
}

void UTF16File::Write(const std::string& text) {
    if (file == nullptr) {
        return;
    }
    const std::string bytes = Utf16LeBytes(Utf8ToUtf16(text));
    std::fwrite(bytes.data(), 1, bytes.size(), file);
}

std::string UTF16File::ReadAll() {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return {};
    }
    const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (bytes.size() < 2) {
        return {};
    }
    std::u16string text;
    text.reserve((bytes.size() - 2) / 2);
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return Utf16ToUtf8(text);
}

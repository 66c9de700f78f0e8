#pragma once

#include <cstdio>
#include <string>

#include "app/ISimpleTextFile.h"

// UTF-16 little-endian text file with a byte-order mark; texts are UTF-8 inside the program.
class UTF16File : public ISimpleTextFile {
public:
    UTF16File() = default;
    ~UTF16File() override;
    UTF16File(const UTF16File&) = delete;
    UTF16File& operator=(const UTF16File&) = delete;

    void Open(const std::string& path, bool create) override;
    void Close() override;
    void WriteLine(const std::string& text) override;
    void Write(const std::string& text) override;
    std::string ReadAll() override;
    std::string GetPath() const override { return path; }

private:
    std::string path;
    std::FILE* file = nullptr;
};

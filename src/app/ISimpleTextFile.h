#pragma once

#include <string>

// A small text file of UTF-16 little-endian text.
class ISimpleTextFile {
public:
    virtual ~ISimpleTextFile() = default;
    virtual void Open(const std::string& path, bool create) = 0;
    virtual void Close() = 0;
    virtual void WriteLine(const std::string& text) = 0;
    virtual void Write(const std::string& text) = 0;
    virtual std::string ReadAll() = 0;
    virtual std::string GetPath() const = 0;
};

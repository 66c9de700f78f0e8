#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

// One iconv conversion descriptor for the life of a call: iconv_t is not safe to share between threads.
class IconvConverter {
public:
    // Called where iconv cannot convert the input: appends to `out` what stands for the start of
    // `rest` and returns how many input bytes that used (at least one).
    using Fallback = std::function<std::size_t(std::string_view rest, std::string& out)>;

    IconvConverter(const std::string& to, const std::string& from);
    ~IconvConverter();
    IconvConverter(const IconvConverter&) = delete;
    IconvConverter& operator=(const IconvConverter&) = delete;

    bool Valid() const;
    std::string Run(std::string_view in, const Fallback& fallback);

private:
    void* descriptor;
};

#include "platform/IconvConverter.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace {

iconv_t Handle(void* descriptor) {
    return static_cast<iconv_t>(descriptor);
}

const iconv_t kInvalid = reinterpret_cast<iconv_t>(-1);

} // namespace

IconvConverter::IconvConverter(const std::string& to, const std::string& from)
    : descriptor(iconv_open(to.c_str(), from.c_str())) {}

IconvConverter::~IconvConverter() {
    if (Valid()) {
        iconv_close(Handle(descriptor));
    }
}

bool IconvConverter::Valid() const {
    return Handle(descriptor) != kInvalid;
}

std::string IconvConverter::Run(std::string_view in, const Fallback& fallback) {
    std::string out;
    if (!Valid()) {
        return out;
    }
    out.resize(in.size() * 2 + 16);
    char* inPtr = const_cast<char*>(in.data());
    std::size_t inLeft = in.size();
    std::size_t used = 0;
    std::string substitute;
    while (true) {
        char* outPtr = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t result = iconv(Handle(descriptor), &inPtr, &inLeft, &outPtr, &outLeft);
        used = static_cast<std::size_t>(outPtr - out.data());
        if (result != static_cast<std::size_t>(-1)) {
            if (inLeft == 0) {
                // Stateful encodings end with a shift back to their initial state.
                outPtr = out.data() + used;
                outLeft = out.size() - used;
                if (iconv(Handle(descriptor), nullptr, nullptr, &outPtr, &outLeft) ==
                        static_cast<std::size_t>(-1) &&
                    errno == E2BIG) {
                    out.resize(out.size() + 64);
                    continue;
                }
                used = static_cast<std::size_t>(outPtr - out.data());
                break;
            }
            continue;
        }
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        // EILSEQ or EINVAL: the fallback stands in for the input iconv cannot take.
        substitute.clear();
        const std::size_t step =
            std::clamp<std::size_t>(fallback(std::string_view(inPtr, inLeft), substitute), 1, inLeft);
        out.resize(std::max(out.size(), used + substitute.size()));
        std::copy(substitute.begin(), substitute.end(), out.begin() + static_cast<std::ptrdiff_t>(used));
        used += substitute.size();
        inPtr += step;
        inLeft -= step;
        iconv(Handle(descriptor), nullptr, nullptr, nullptr, nullptr);
        if (inLeft == 0) {
            break;
        }
    }
    out.resize(used);
    return out;
}

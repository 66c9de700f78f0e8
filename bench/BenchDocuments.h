#pragma once

#include "support/SamplePdf.h"

#include <cstddef>
#include <random>
#include <string>

// The documents the benchmarks print.
namespace benchdocuments {

inline constexpr std::size_t kDocumentSize = 1024 * 1024;

// A PDF as devices send them: its content is a compressed stream, which the archive's LZMA hardly
// shrinks (random bytes stand for it).
inline std::string RealisticPdf() {
    std::mt19937 random(7);
    std::string stream(kDocumentSize, '\0');
    for (char& byte : stream) {
        byte = static_cast<char>(random());
    }
    const std::string content = "BT /F1 24 Tf 72 700 Td (Qopra) Tj ET";
    return PdfOfObjects({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
        "<< /Length " + std::to_string(stream.size()) + " /Filter /FlateDecode >>\nstream\n" + stream +
            "\nendstream",
    });
}

} // namespace benchdocuments

#pragma once

#include <cstddef>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

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
    std::string pdf = "%PDF-1.4\n";
    std::vector<std::size_t> offsets;
    const auto object = [&](const std::string& body) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    object("<< /Type /Catalog /Pages 2 0 R >>");
    object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    object("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] /Contents 4 0 R >>");
    const std::string content = "BT /F1 24 Tf 72 700 Td (Qopra) Tj ET";
    object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    object("<< /Length " + std::to_string(stream.size()) + " /Filter /FlateDecode >>\nstream\n" + stream +
           "\nendstream");
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (const std::size_t offset : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        pdf += line;
    }
    pdf += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) + " /Root 1 0 R >>\nstartxref\n" +
           std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace benchdocuments

// What registering a printed document costs the thread that asks (the GUI thread), for a register of
// 20 000 entries, and how long until the register is on disk. Prints figures; asserts nothing.
#include "archive/PrintedDocuments.h"
#include "support/TempDir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

using Clock = std::chrono::steady_clock;

int main() {
    constexpr int kEntries = 20000;
    constexpr int kAdds = 50;
    TempDir folder;
    std::filesystem::create_directories(folder / "kept");
    {
        PrintedDocuments documents(folder / "printed.xml");
        for (int i = 0; i < kEntries; ++i) {
            documents.AddPrintedDocument("doc.7z", "Office", "doc.pdf", (folder / "kept").string(),
                                         static_cast<std::uint32_t>(i));
        }
    }
    PrintedDocuments documents(folder / "printed.xml");
    std::vector<double> asked;
    const auto start = Clock::now();
    for (int i = 0; i < kAdds; ++i) {
        const auto before = Clock::now();
        documents.AddPrintedDocument("doc.7z", "Office", "doc.pdf", (folder / "kept").string(),
                                     static_cast<std::uint32_t>(kEntries + i));
        asked.push_back(std::chrono::duration<double, std::milli>(Clock::now() - before).count());
    }
    documents.Flush();
    const double total = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::sort(asked.begin(), asked.end());
    std::printf(
        "register of %d entries (%ju bytes): an add costs the asking thread median %.3f ms (first, with "
        "the reading of the file: %.1f ms); %d adds on disk after %.0f ms\n",
        kEntries, static_cast<std::uintmax_t>(std::filesystem::file_size(folder / "printed.xml")),
        asked[asked.size() / 2], asked.back(), kAdds, total);
    return 0;
}

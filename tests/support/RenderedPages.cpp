#include "support/RenderedPages.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <sstream>

#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

// A binary portable pixmap ("P6"), as pdftoppm writes it.
bool ReadPixmap(const std::filesystem::path& file, RenderedPage& page) {
    std::ifstream in(file, std::ios::binary);
    std::string magic;
    int maximum = 0;
    in >> magic >> page.width >> page.height >> maximum;
    in.get();
    if (magic != "P6" || maximum != 255 || page.width <= 0 || page.height <= 0) {
        return false;
    }
    page.rgb.resize(static_cast<std::size_t>(page.width) * static_cast<std::size_t>(page.height) * 3);
    in.read(reinterpret_cast<char*>(page.rgb.data()), static_cast<std::streamsize>(page.rgb.size()));
    return static_cast<std::size_t>(in.gcount()) == page.rgb.size();
}

} // namespace

double RenderedPage::Share(const std::function<bool(int, int, int)>& is) const {
    if (rgb.empty()) {
        return 0;
    }
    std::size_t count = 0;
    for (std::size_t i = 0; i + 2 < rgb.size(); i += 3) {
        count += is(rgb[i], rgb[i + 1], rgb[i + 2]) ? 1 : 0;
    }
    return static_cast<double>(count) / static_cast<double>(rgb.size() / 3);
}

std::vector<RenderedPage> RenderPdf(const std::filesystem::path& pdf, int dpi) {
    TempDir folder;
    ChildProcess render("/usr/bin/pdftoppm",
                        {"-r", std::to_string(dpi), pdf.string(), (folder / "page").string()});
    if (render.Wait(std::chrono::seconds(60)) != 0) {
        return {};
    }
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path())) {
        files.push_back(entry.path());
    }
    // page-1.ppm, page-2.ppm, ... (with leading zeros beyond nine pages): sorted by name is in order.
    std::sort(files.begin(), files.end());
    std::vector<RenderedPage> pages;
    for (const std::filesystem::path& file : files) {
        RenderedPage page;
        if (ReadPixmap(file, page)) {
            pages.push_back(std::move(page));
        }
    }
    return pages;
}

std::string PdfText(const std::filesystem::path& pdf) {
    TempDir folder;
    ChildProcess read("/usr/bin/pdftotext", {"-enc", "UTF-8", pdf.string(), (folder / "text.txt").string()});
    if (read.Wait(std::chrono::seconds(60)) != 0) {
        return {};
    }
    return ReadFileBytes(folder / "text.txt");
}

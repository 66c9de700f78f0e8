#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// What came out of a printer, as a person would look at it: the pages of a PDF rendered to pixels
// (pdftoppm) and its text (pdftotext).
struct RenderedPage {
    int width = 0;
    int height = 0;
    // Red, green, blue for every pixel, row by row.
    std::vector<std::uint8_t> rgb;

    // The share of the page's pixels for which `is` holds (0 to 1).
    double Share(const std::function<bool(int red, int green, int blue)>& is) const;
    bool Landscape() const { return width > height; }
};

// Every page of `pdf` at `dpi` dots per inch; nothing when it cannot be rendered.
std::vector<RenderedPage> RenderPdf(const std::filesystem::path& pdf, int dpi = 20);
// The text of `pdf`, pages separated by form feeds.
std::string PdfText(const std::filesystem::path& pdf);

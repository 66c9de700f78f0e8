#include <gtest/gtest.h>

#include <unistd.h>

#include "core/PrintTestFiles.h"
#include "e2e/PrintingServer.h"
#include "print/Spooler.h"
#include "removable/DriveDocumentPrinting.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "support/RenderedPages.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

// What comes out of the printer for each kind of document a device sends: the real qopra2 -headless
// prints what the real qopra-pad sends on a PDF printer of the private scheduler, whose output is
// rendered and read as a person would look at the paper. Where the spooler prints the type itself,
// `lp` of the same file on the same queue is the reference.
namespace fs = std::filesystem;

namespace {

constexpr const char* kQueue = "qopra-fidelity";

bool Red(int red, int green, int blue) {
    return red > 180 && green < 110 && blue < 90;
}
bool Blue(int red, int green, int blue) {
    return blue > 170 && red < 110 && green < 130;
}
bool Dark(int red, int green, int blue) {
    return red < 50 && green < 50 && blue < 50;
}

class FidelityTest : public testing::Test {
protected:
    void SetUp() override {
        if (!printtest::HaveScheduler()) {
            GTEST_SKIP() << "no private scheduler (CUPS_SERVER)";
        }
        server.emplace("<backup>0</backup><printers><printer>" + std::string(kQueue) +
                       "</printer></printers><aliases><alias>" + kQueue + "|Proof</alias></aliases>");
        ASSERT_TRUE(server->running) << server->process->Output();
    }

    static fs::path Output() {
        return fs::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / (std::string(kQueue) + ".out");
    }

    // The pages that came out once the printer has written them (kept as `name` for a look).
    std::vector<RenderedPage> Printed(const std::string& name) {
        EXPECT_TRUE(WaitUntil([] {
            std::error_code error;
            return fs::file_size(Output(), error) > 0 && !error;
        }));
        fs::copy_file(Output(), dir / name, fs::copy_options::overwrite_existing);
        text = PdfText(dir / name);
        return RenderPdf(dir / name);
    }

    // Sends `file` from a device to the printer offered as "Proof" and returns what came out.
    std::vector<RenderedPage> PrintFromDevice(const fs::path& file, int copies = 1,
                                              const std::string& preview = {}) {
        fs::remove(Output());
        std::vector<std::string> arguments = {"print", file.string(), "--printer",
                                              "Proof", "--copies",    std::to_string(copies)};
        if (!preview.empty()) {
            arguments.insert(arguments.end(), {"--preview", preview});
        }
        const e2eprint::PadRun run = server->Pad(arguments);
        EXPECT_EQ(run.exitCode, 0) << run.output << server->Log();
        EXPECT_NE(run.output.find("RESULT 0"), std::string::npos) << run.output;
        return Printed(file.filename().string() + ".device.pdf");
    }

    // What `lp` of the same file on the same queue puts out.
    std::vector<RenderedPage> PrintWithLp(const fs::path& file) {
        fs::remove(Output());
        ChildProcess lp("/usr/bin/lp", {"-d", kQueue, "-t", "lp-" + file.filename().string(), file.string()});
        EXPECT_EQ(lp.Wait(std::chrono::seconds(60)), 0) << lp.Output();
        WaitForCompletion("lp-" + file.filename().string());
        return Printed(file.filename().string() + ".lp.pdf");
    }

    // The output file is whole once the job of that name has completed.
    static void WaitForCompletion(const std::string& jobName) {
        std::optional<Spooler::JobInfo> job;
        EXPECT_TRUE(WaitUntil([&] { return (job = printtest::FindJob(kQueue, jobName)).has_value(); }));
        if (job) {
            EXPECT_TRUE(printtest::WaitForJobState(kQueue, job->id, Spooler::JobState::Completed));
        }
    }

    fs::path Picture(const std::string& name, int width, int height) const {
        const fs::path file = dir / name;
        // Red, with a blue block in the middle: a picture whose colours are easy to find again.
        const std::string block = "rectangle " + std::to_string(width / 4) + "," +
                                  std::to_string(height / 4) + " " + std::to_string(3 * width / 4) + "," +
                                  std::to_string(3 * height / 4);
        ChildProcess convert("/usr/bin/convert",
                             {"-size", std::to_string(width) + "x" + std::to_string(height), "xc:#e03010",
                              "-fill", "#2040e0", "-draw", block, file.string()});
        EXPECT_EQ(convert.Wait(std::chrono::seconds(60)), 0) << convert.Output();
        return file;
    }

    TempDir dir;
    std::optional<e2eprint::PrintingServer> server;
    std::string text;
};

} // namespace

TEST_F(FidelityTest, MultiPagePdfComesOutWithItsPagesItsTextAndItsCopies) {
    const fs::path pdf = dir / "three-pages.pdf";
    WriteFileBytes(dir / "three.ps", "/Helvetica findfont 28 scalefont setfont\n"
                                     "72 700 moveto (Fidelity page one) show showpage\n"
                                     "72 700 moveto (Fidelity page two) show showpage\n"
                                     "72 700 moveto (Fidelity page three) show showpage\n");
    ChildProcess gs("/usr/bin/gs", {"-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=pdfwrite", "-o",
                                    pdf.string(), (dir / "three.ps").string()});
    ASSERT_EQ(gs.Wait(std::chrono::seconds(60)), 0) << gs.Output();

    EXPECT_EQ(PrintFromDevice(pdf).size(), 3u);
    EXPECT_NE(text.find("Fidelity page one"), std::string::npos) << text;
    EXPECT_NE(text.find("Fidelity page three"), std::string::npos) << text;
    EXPECT_LT(text.find("page one"), text.find("page two"));
    // Two copies are the pages twice, as `lp -n 2` makes them.
    EXPECT_EQ(PrintFromDevice(pdf, 2).size(), 6u);
}

TEST_F(FidelityTest, HtmlWithAPictureAndChineseTextComesOutWithBoth) {
    const fs::path folder = dir / "receipt";
    fs::create_directories(folder);
    ChildProcess convert("/usr/bin/convert",
                         {"-size", "400x200", "xc:#10b030", (folder / "logo.png").string()});
    ASSERT_EQ(convert.Wait(std::chrono::seconds(60)), 0);
    WriteFileBytes(folder / "receipt.htm",
                   "<html><head><meta charset=\"utf-8\"></head><body><h1>Receipt 42</h1>"
                   "<p>\xE6\x89\x93\xE5\x8D\xB0\xE6\xB5\x8B\xE8\xAF\x95</p>" // 打印测试
                   "<img src=\"logo.png\" width=\"400\" height=\"200\"></body></html>");
    // The device sends the page with its picture.
    const std::vector<RenderedPage> pages = PrintFromDevice(folder, 1, "receipt.htm");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_NE(text.find("Receipt 42"), std::string::npos) << text;
    EXPECT_NE(text.find("\xE6\x89\x93\xE5\x8D\xB0\xE6\xB5\x8B\xE8\xAF\x95"), std::string::npos) << text;
    EXPECT_GT(pages[0].Share([](int r, int g, int b) { return g > 140 && r < 80 && b < 100; }), 0.02)
        << "the picture is on the page";
}

TEST_F(FidelityTest, PhotosComeOutAsThePictureFittedToThePageAsLpPrintsThem) {
    for (const auto& [name, width, height] : std::vector<std::tuple<std::string, int, int>>{
             {"photo.jpg", 600, 400}, {"portrait.png", 400, 600}, {"animation.gif", 600, 400}}) {
        SCOPED_TRACE(name);
        const fs::path photo = Picture(name, width, height);
        const std::vector<RenderedPage> pages = PrintFromDevice(photo);
        ASSERT_EQ(pages.size(), 1u);
        const double red = pages[0].Share(Red);
        const double blue = pages[0].Share(Blue);
        // The picture covers a good part of the page, in its colours; the page is not black.
        EXPECT_GT(red + blue, 0.4) << server->Log();
        EXPECT_GT(blue, 0.1);
        EXPECT_LT(pages[0].Share(Dark), 0.05);

        const std::vector<RenderedPage> reference = PrintWithLp(photo);
        ASSERT_EQ(reference.size(), 1u);
        EXPECT_NEAR(red, reference[0].Share(Red), 0.05);
        EXPECT_NEAR(blue, reference[0].Share(Blue), 0.05);
    }
}

TEST_F(FidelityTest, APenDrivePhotoComesOutAsThePicture) {
    const fs::path folder = dir / "drive" / "doc1";
    fs::create_directories(folder);
    const fs::path photo = Picture("drive/doc1/holiday.jpg", 800, 600);
    fs::remove(Output());
    EXPECT_EQ(DriveDocumentPrinting::PrintDriveDocument(kQueue, photo, 1, folder, 1, nullptr),
              DriveDocumentPrinting::HandOver::Taken);
    WaitForCompletion("holiday.jpg");
    const std::vector<RenderedPage> pages = Printed("drive.pdf");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_GT(pages[0].Share(Red) + pages[0].Share(Blue), 0.4);
    EXPECT_LT(pages[0].Share(Dark), 0.05);
}

TEST_F(FidelityTest, TextInEachEncodingComesOutWithItsCharacters) {
    // "Prüfé 5 €" in UTF-8, in the devices' code page Windows-1252, and in UTF-16 with a byte-order
    // mark, the last with a Japanese word besides.
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"; // 日本語
    WriteFileBytes(dir / "utf8.txt", "Pr\xC3\xBC"
                                     "f\xC3\xA9 5 \xE2\x82\xAC\n");
    WriteFileBytes(dir / "ansi.txt", "Pr\xFC"
                                     "f\xE9 5 \x80\r\n");
    std::string utf16 = "\xFF\xFE";
    for (const char16_t unit : std::u16string(u"Pr\u00FCf\u00E9 5 \u20AC \u65E5\u672C\u8A9E\n")) {
        utf16.push_back(static_cast<char>(unit & 0xFF));
        utf16.push_back(static_cast<char>(unit >> 8));
    }
    WriteFileBytes(dir / "wide.txt", utf16);
    for (const char* name : {"utf8.txt", "ansi.txt", "wide.txt"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(PrintFromDevice(dir / name).size(), 1u);
        EXPECT_NE(text.find("Pr\xC3\xBC"
                            "f\xC3\xA9 5 \xE2\x82\xAC"),
                  std::string::npos)
            << text;
    }
    EXPECT_NE(text.find(japanese), std::string::npos) << text;
}

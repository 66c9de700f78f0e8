#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "app/EventLog.h"
#include "archive/PrintedDocuments.h"
#include "platform/Unicode.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

std::string Utf16LeWithBom(const std::string& utf8) {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : Utf8ToUtf16(utf8)) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

// The register's text as UTF-8; empty when the file does not start with the UTF-16 LE mark.
std::string RegisterText(const std::filesystem::path& path) {
    const std::string bytes = ReadFileBytes(path);
    if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) {
        return {};
    }
    std::u16string text;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    }
    return Utf16ToUtf8(text);
}

ino_t InodeOf(const std::filesystem::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_ino;
}

const std::string kEmptyRegister = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><prints></prints>";

class PrintedDocumentsTest : public testing::Test {
protected:
    void SetUp() override {
        EventLog::Global().SetFileName(dir / "qopra.log");
        std::filesystem::create_directories(dir / "job1");
        std::filesystem::create_directories(dir / "job2");
    }
    void TearDown() override { EventLog::Global().SetFileName({}); }

    std::vector<PrintJobRecord> Load() {
        std::vector<PrintJobRecord> records;
        documents.LoadPrintedDocuments(
            [&](std::unique_ptr<PrintJobRecord> record) { records.push_back(*record); });
        return records;
    }
    std::string Folder(const std::string& name) const { return (dir / name).string(); }
    // The file once every change so far is saved.
    std::string Saved() {
        EXPECT_TRUE(documents.Flush());
        return ReadFileBytes(documents.Path());
    }
    std::string SavedText() {
        EXPECT_TRUE(documents.Flush());
        return RegisterText(documents.Path());
    }
    std::string Log() const { return ReadFileBytes(dir / "qopra.log"); }

    TempDir dir;
    PrintedDocuments documents{dir / "printed.xml"};
};

TEST_F(PrintedDocumentsTest, FirstAddCreatesTheRegisterAndRemovingTheEntryLeavesTheExactInitialBytes) {
    ASSERT_TRUE(documents.AddPrintedDocument("doc.7z", "Office", "index.htm", Folder("job1"), 42));

    const std::string text = SavedText();
    EXPECT_EQ(text.rfind("<?xml version=\"1.0\" encoding=\"UTF-16\"?><prints><print id=\"42\"", 0), 0u)
        << text;
    EXPECT_TRUE(text.ends_with("</prints>")) << text;

    ASSERT_TRUE(documents.RemovePrintedDocument(42));
    EXPECT_EQ(Saved(), Utf16LeWithBom(kEmptyRegister));
}

TEST_F(PrintedDocumentsTest, EntriesAreAppendedInOrderWithAttributesInFixedOrderAndLoadBackUnchanged) {
    ASSERT_TRUE(documents.AddPrintedDocument("a.7z", "Office", "a.htm", Folder("job1"), 1));
    ASSERT_TRUE(documents.AddPrintedDocument("ü.7z", "R&D \"colour\" <2>", "Prüfbericht 報告 's.htm",
                                             Folder("job2"), 2));

    const std::string text = SavedText();
    const std::regex entry("<print id=\"(\\d+)\" date=\"\\d\\d\\.\\d\\d\\.\\d{4} \\d\\d:\\d\\d:\\d\\d\" "
                           "zip=\"([^\"]*)\" prn=\"([^\"]*)\" index=\"([^\"]*)\" dir=\"([^\"]*)\"");
    std::vector<std::smatch> found;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), entry); it != std::sregex_iterator();
         ++it) {
        found.push_back(*it);
    }
    ASSERT_EQ(found.size(), 2u) << text;
    EXPECT_EQ(found[0][1], "1");
    EXPECT_EQ(found[0][2], "a.7z");
    EXPECT_EQ(found[0][3], "Office");
    EXPECT_EQ(found[0][4], "a.htm");
    EXPECT_EQ(found[0][5], Folder("job1"));
    EXPECT_EQ(found[1][1], "2");

    const std::vector<PrintJobRecord> records = Load();
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].printerName, "Office");
    EXPECT_EQ(records[0].receivedFileName, "a.7z");
    EXPECT_EQ(records[0].documentName, "a.htm");
    EXPECT_EQ(records[0].workingFolder, Folder("job1"));
    EXPECT_EQ(records[0].copies, 1);
    EXPECT_EQ(records[0].id, 1u);
    EXPECT_EQ(records[1].receivedFileName, "ü.7z");
    EXPECT_EQ(records[1].printerName, "R&D \"colour\" <2>");
    EXPECT_EQ(records[1].documentName, "Prüfbericht 報告 's.htm");
}

TEST_F(PrintedDocumentsTest, IdsFromTwoToTheThirtyFirstAreWrittenNegativeAndStillFoundForRemoval) {
    const std::uint32_t high = 0x80000005u;
    ASSERT_TRUE(documents.AddPrintedDocument("a.7z", "Office", "a.htm", Folder("job1"), high));
    ASSERT_TRUE(documents.AddPrintedDocument("b.7z", "Office", "b.htm", Folder("job2"), 0xFFFFFFFFu));

    const std::string text = SavedText();
    EXPECT_NE(text.find("id=\"-2147483643\""), std::string::npos) << text;
    EXPECT_NE(text.find("id=\"-1\""), std::string::npos) << text;
    const std::vector<PrintJobRecord> loaded = Load();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].id, high);
    EXPECT_EQ(loaded[1].id, 0xFFFFFFFFu);

    ASSERT_TRUE(documents.RemovePrintedDocument(high));
    const std::vector<PrintJobRecord> left = Load();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].documentName, "b.htm");
}

TEST_F(PrintedDocumentsTest, RemovalRewritesTheFileAndTakesOnlyTheFirstOfEqualIds) {
    ASSERT_TRUE(documents.AddPrintedDocument("first.7z", "Office", "a.htm", Folder("job1"), 7));
    ASSERT_TRUE(documents.AddPrintedDocument("second.7z", "Office", "a.htm", Folder("job2"), 7));

    const std::string before = Saved();
    const ino_t inodeBefore = (documents.Flush(), InodeOf(documents.Path()));
    ASSERT_TRUE(documents.RemovePrintedDocument(8));
    EXPECT_EQ(Saved(), before);
    EXPECT_NE((documents.Flush(), InodeOf(documents.Path())), inodeBefore)
        << "an unknown id still saves the register (by replacing it)";

    ASSERT_TRUE(documents.RemovePrintedDocument(7));
    const std::vector<PrintJobRecord> left = Load();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].receivedFileName, "second.7z");

    ASSERT_TRUE(documents.Flush());
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << "temporary file left: " << entry.path();
    }
}

TEST_F(PrintedDocumentsTest, EntriesWhoseFolderIsGoneAreSkippedButKeptAndMissingAttributesReadEmpty) {
    const std::string before = Utf16LeWithBom("<?xml version=\"1.0\" encoding=\"UTF-16\"?><prints>"
                                              "<print id=\"1\" dir=\"" +
                                              Folder("gone") +
                                              "\"/>"
                                              "<print id=\"abc\" dir=\"" +
                                              Folder("job2") + "\"/></prints>");
    WriteFileBytes(documents.Path(), before);

    const std::vector<PrintJobRecord> records = Load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].id, 0u) << "an id that is not a number reads as 0";
    EXPECT_EQ(records[0].printerName, "");
    EXPECT_EQ(records[0].workingFolder, Folder("job2"));
    EXPECT_EQ(Saved(), before);
}

TEST_F(PrintedDocumentsTest, BrokenRegisterIsMovedAsideWholeAndNewEntriesAreKept) {
    const std::string broken =
        Utf16LeWithBom("<?xml version=\"1.0\" encoding=\"UTF-16\"?><prints><print id=\"1\"");
    WriteFileBytes(documents.Path(), broken);

    EXPECT_TRUE(Load().empty());
    EXPECT_FALSE(documents.RemovePrintedDocument(1));
    EXPECT_EQ(Saved(), broken) << "reading and removing change nothing";

    ASSERT_TRUE(documents.AddPrintedDocument("a.7z", "Office", "a.htm", Folder("job1"), 5));
    const std::vector<PrintJobRecord> records = Load();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].id, 5u);
    std::vector<std::filesystem::path> aside;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        if (entry.path().filename().string().starts_with("printed.xml.unreadable-")) {
            aside.push_back(entry.path());
        }
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_TRUE(
        std::regex_match(aside[0].filename().string(), std::regex(R"(printed\.xml\.unreadable-\d{8}-\d{6})")))
        << aside[0];
    EXPECT_EQ(ReadFileBytes(aside[0]), broken);

    // A second unreadable register of the same second gets a name of its own; the file is read again
    // when it was changed by hand.
    ASSERT_TRUE(documents.Flush());
    WriteFileBytes(documents.Path(), Utf16LeWithBom("<other/>"));
    ASSERT_TRUE(documents.AddPrintedDocument("b.7z", "Office", "b.htm", Folder("job2"), 6));
    ASSERT_EQ(Load().size(), 1u);
    std::size_t asideCount = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        asideCount += entry.path().filename().string().starts_with("printed.xml.unreadable-") ? 1 : 0;
    }
    EXPECT_EQ(asideCount, 2u);

    const std::string log = Log();
    EXPECT_NE(log.find("Failed to load printed document from XML."), std::string::npos) << log;
    EXPECT_NE(log.find("Failed to remove printed document 1 from XML."), std::string::npos) << log;
    EXPECT_NE(log.find("[WARNING] Register " + documents.Path().string() + " cannot be read ("),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("moved to " + aside[0].string() + ", a new one is started"), std::string::npos) << log;

    PrintedDocuments unwritable(dir / "no-such-folder" / "printed.xml");
    unwritable.AddPrintedDocument("a.7z", "Office", "a.htm", Folder("job1"), 1);
    EXPECT_FALSE(unwritable.Flush());
    EXPECT_NE(Log().find("Failed to save printed document information."), std::string::npos);
    PrintedDocuments absent(dir / "absent.xml");
    EXPECT_TRUE(absent.RemovePrintedDocument(1) == false && !std::filesystem::exists(absent.Path()));
}

} // namespace

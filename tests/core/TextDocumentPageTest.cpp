#include <gtest/gtest.h>

#include <sys/stat.h>

#include "archive/TextDocumentPage.h"
#include "platform/CodePage.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

TEST(TextDocumentPage, TextBecomesAnEscapedPageBesideItOnlyFromARegularFileOfItsFolder) {
    const std::string page = TextDocumentPage::Html("\r\nx < y & <b>\xE9</b>", "a&b.txt", CodePage(1252));
    EXPECT_NE(page.find("<meta charset=\"utf-8\"><title>a&amp;b.txt</title>"), std::string::npos) << page;
    // The text's own first line break survives the one the parser drops after <pre>.
    EXPECT_NE(page.find("<pre>\n\r\nx &lt; y &amp; &lt;b&gt;\xC3\xA9&lt;/b&gt;</pre>"), std::string::npos)
        << page;

    TempDir dir;
    CodePage::SetWire(1251);
    WriteFileBytes(dir / "note.txt", "\xC4\xE0");
    std::unique_ptr<TextDocumentPage> written = TextDocumentPage::Write(dir.Path(), "note.txt");
    ASSERT_TRUE(written);
    CodePage::SetWire(1252);
    EXPECT_EQ(written->Path().parent_path(), dir.Path());
    EXPECT_TRUE(written->Path().filename().string().starts_with("."));
    EXPECT_NE(ReadFileBytes(written->Path()).find("<pre>\n\xD0\x94\xD0\xB0</pre>"), std::string::npos);
    // A second page never takes the place of the first, nor of any file already there.
    const std::unique_ptr<TextDocumentPage> second = TextDocumentPage::Write(dir.Path(), "note.txt");
    ASSERT_TRUE(second);
    EXPECT_NE(second->Path(), written->Path());
    const std::filesystem::path first = written->Path();
    written.reset();
    EXPECT_FALSE(std::filesystem::exists(first)) << "the page goes with its object";

    // Nothing is read through a link (it may lead out of the folder), from a pipe, from a name
    // that reaches elsewhere, or beyond the size limit.
    WriteFileBytes(dir / "secret", "SECRET");
    std::filesystem::create_directory(dir / "work");
    std::filesystem::create_symlink(dir / "secret", dir / "work" / "link.txt");
    ::mkfifo((dir / "work" / "pipe.txt").c_str(), 0600);
    std::filesystem::resize_file(dir / "secret", TextDocumentPage::kSizeLimit + 1);
    std::filesystem::copy_file(dir / "secret", dir / "work" / "large.txt");
    for (const char* name : {"link.txt", "pipe.txt", "../secret", "large.txt", "missing.txt"}) {
        EXPECT_FALSE(TextDocumentPage::Write(dir / "work", name)) << name;
    }
    EXPECT_FALSE(TextDocumentPage::Write(dir / "none", "note.txt"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "work"), {}), 3);
}

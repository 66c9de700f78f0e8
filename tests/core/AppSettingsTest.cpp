#include <gtest/gtest.h>

#include <sys/stat.h>

#include "config/AppSettings.h"
#include "platform/NetworkAdapters.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

namespace {

class AppSettingsFile : public testing::Test {
protected:
    std::string Write(const std::string& body) {
        WriteFileBytes(file, "<?xml version=\"1.0\"?>\n<settings>" + body + "</settings>\n");
        return file.string();
    }
    std::string Content() const { return ReadFileBytes(file); }

    TempDir dir;
    std::filesystem::path file = dir / "qopra.xml";
    AppSettings settings;
};

} // namespace

TEST_F(AppSettingsFile, MissingFileKeepsDefaultsAndSaveWritesNothing) {
    EXPECT_FALSE(settings.Load(file.string()));
    EXPECT_EQ(settings.local_port, "2001");
    EXPECT_EQ(settings.pad_port, "2000");
    EXPECT_EQ(settings.local_address, "");
    EXPECT_FALSE(settings.backup);
    EXPECT_TRUE(settings.Printers().empty());
    EXPECT_EQ(settings.language, 0);
    EXPECT_EQ(settings.delay, 30000);
    EXPECT_EQ(settings.path, file.string());
    EXPECT_FALSE(settings.Save());
    EXPECT_FALSE(std::filesystem::exists(file));
}

TEST_F(AppSettingsFile, ValuesAreReadAsTheyStand) {
    settings.Load(
        Write("<local_port></local_port><pad_port>9100</pad_port><local_address>10.0.0.2</local_address>"
              "<mac>AA-BB-CC-DD-EE-FF</mac><printers><printer>B</printer><printer>A</printer>"
              "<printer>B</printer></printers><lang>it-IT</lang><delay>  -45ms</delay>"));
    EXPECT_EQ(settings.local_port, "");
    EXPECT_EQ(settings.pad_port, "9100");
    EXPECT_EQ(settings.local_address, "10.0.0.2");
    EXPECT_EQ(settings.mac, "AA-BB-CC-DD-EE-FF");
    EXPECT_EQ(settings.Printers(), (std::vector<std::string>{"B", "A", "B"}));
    EXPECT_EQ(settings.language, 1040);
    EXPECT_EQ(settings.delay, -45);
}

TEST_F(AppSettingsFile, LanguageAndDelayFallbacks) {
    struct Case {
        std::string body;
        std::uint16_t language;
        std::int32_t delay;
    };
    for (const Case& c : {Case{"", 2057, 30000}, Case{"<lang>EN-GB</lang><delay>abc</delay>", 0, 0},
                          Case{"<lang>en_GB</lang><delay></delay>", 0, 0},
                          Case{"<lang></lang><delay>12</delay>", 0, 12}, Case{"<lang>de</lang>", 7, 30000}}) {
        AppSettings fresh;
        fresh.Load(Write(c.body));
        EXPECT_EQ(fresh.language, c.language) << c.body;
        EXPECT_EQ(fresh.delay, c.delay) << c.body;
    }
}

TEST_F(AppSettingsFile, BackupIsOnOnlyForExactlyOne) {
    for (const auto& [body, on] :
         {std::pair{"<backup>1</backup>", true}, std::pair{"<backup> 1</backup>", false},
          std::pair{"<backup></backup>", false}, std::pair{"<backup>yes</backup>", false},
          std::pair{"", false}}) {
        AppSettings fresh;
        fresh.Load(Write(body));
        EXPECT_EQ(fresh.backup, on) << body;
    }
}

TEST_F(AppSettingsFile, AliasesSplitAtTheFirstBarAndLaterEntriesWin) {
    settings.Load(Write(
        "<aliases><alias>P1|Desk|2</alias><alias>P2|</alias><alias>P3</alias>"
        "<alias>P4|Old</alias><alias>P4|New</alias><alias>P5|Gone</alias><alias>P5|</alias></aliases>"));
    EXPECT_EQ(settings.Aliases(), (std::map<std::string, std::string>{{"P1", "Desk|2"}, {"P4", "New"}}));
    EXPECT_EQ(settings.GetAlias("P1"), "Desk|2");
    EXPECT_EQ(settings.GetAlias("p1"), "p1");
}

TEST_F(AppSettingsFile, ResolveAndPublishThroughAliases) {
    settings.SetPrinters({"Office Laser", "Hall"});
    settings.SetAlias("Office Laser", "Desk");
    settings.SetAlias("Zeta", "Same");
    settings.SetAlias("Alpha", "Same");
    EXPECT_EQ(settings.GetPublishedPrinters(), (std::vector<std::string>{"Desk", "Hall"}));
    EXPECT_EQ(settings.ResolvePrinterName("dESK"), "Office Laser");
    EXPECT_EQ(settings.ResolvePrinterName("same"), "Alpha");
    EXPECT_EQ(settings.ResolvePrinterName("Hall"), "Hall");
    // Only a to z fold: other letters must match as they are.
    settings.SetAlias("Caf", "caf\xC3\xA9");
    EXPECT_EQ(settings.ResolvePrinterName("CAF\xC3\xA9"), "Caf");
    EXPECT_EQ(settings.ResolvePrinterName("CAF\xC3\x89"), "CAF\xC3\x89");
    settings.SetAlias("Office Laser", "");
    EXPECT_EQ(settings.GetAlias("Office Laser"), "Office Laser");
}

TEST_F(AppSettingsFile, SaveUpdatesExistingElementsAndAppendsMissingOnes) {
    settings.Load(Write(
        "<!-- kept --><pad_port>2000</pad_port><lang>fr-FR</lang><delay>5</delay><extra a=\"1\">x</extra>"
        "<aliases><alias>B|b</alias>text</aliases>"));
    settings.pad_port = "2100";
    settings.local_port = "2200";
    settings.backup = true;
    settings.SetPrinters({"Z", "A & B"});
    settings.SetAlias("Z", "zed");
    settings.SetAlias("B", "");
    settings.SetAlias("A & B", "ab");
    ASSERT_TRUE(settings.Save());
    EXPECT_EQ(Content(),
              "<?xml version=\"1.0\"?><settings><!-- kept --><pad_port>2100</pad_port><lang>fr-FR</lang>"
              "<delay>5</delay><extra a=\"1\">x</extra><aliases><alias>A &amp; B|ab</alias>"
              "<alias>Z|zed</alias></aliases><mac/><backup>1</backup><printers><printer>Z</printer>"
              "<printer>A &amp; B</printer></printers></settings>");
}

TEST_F(AppSettingsFile, SaveWritesTheMacOfTheChosenAddress) {
    const auto adapters = ListNetworkAdapters();
    const auto withAddress = std::find_if(adapters.begin(), adapters.end(), [](const NetworkAdapter& a) {
        return !a.addresses.empty() && !a.mac.empty();
    });
    if (withAddress == adapters.end()) {
        GTEST_SKIP() << "no network adapter with an IPv4 address";
    }
    settings.Load(Write("<local_address>x</local_address><mac>old</mac>"));
    settings.local_address = withAddress->addresses.front();
    ASSERT_TRUE(settings.Save());
    EXPECT_NE(Content().find("<mac>" + withAddress->mac + "</mac>"), std::string::npos);
    EXPECT_EQ(settings.mac, "old");
    EXPECT_EQ(AppSettings::GetMacForAddress("192.0.2.254"), "");
}

TEST_F(AppSettingsFile, FailedSaveLeavesTheOldFileIntact) {
    // A document without a settings element cannot take the new elements.
    WriteFileBytes(file, "<other><settings_not/></other>");
    settings.Load(file.string());
    EXPECT_FALSE(settings.Save());
    EXPECT_EQ(Content(), "<other><settings_not/></other>");

    // A folder that cannot be written: the rename never happens and the old file stays.
    settings.Load(Write("<pad_port>1</pad_port>"));
    settings.pad_port = "2";
    chmod(dir.Path().c_str(), 0500);
    const bool saved = settings.Save();
    chmod(dir.Path().c_str(), 0700);
    if (geteuid() != 0) {
        EXPECT_FALSE(saved);
        EXPECT_NE(Content().find("<pad_port>1</pad_port>"), std::string::npos);
    }
    EXPECT_TRUE(std::filesystem::directory_iterator(dir.Path()) != std::filesystem::directory_iterator());
}

TEST_F(AppSettingsFile, SaveKeepsTheEncodingTheFileDeclares) {
    const std::string body = "<?xml version=\"1.0\" encoding=\"UTF-16\"?><settings><printers/></settings>";
    std::string utf16 = "\xFF\xFE";
    for (char c : body) {
        utf16 += c;
        utf16 += '\0';
    }
    WriteFileBytes(file, utf16);
    ASSERT_TRUE(settings.Load(file.string()));
    settings.SetPrinters({"P"});
    ASSERT_TRUE(settings.Save());
    const std::string saved = Content();
    ASSERT_GE(saved.size(), 4u);
    EXPECT_EQ(saved.substr(0, 4), std::string("\xFF\xFE<\0", 4));
    AppSettings reread;
    ASSERT_TRUE(reread.Load(file.string()));
    EXPECT_EQ(reread.Printers(), std::vector<std::string>{"P"});
}

TEST_F(AppSettingsFile, DeeplyNestedValuesDoNotEndTheProgram) {
    std::string deep;
    for (int i = 0; i < 300000; ++i) {
        deep += "<n>";
    }
    deep += "2101";
    for (int i = 0; i < 300000; ++i) {
        deep += "</n>";
    }
    ASSERT_TRUE(settings.Load(Write("<local_port>" + deep + "</local_port>")));
    EXPECT_EQ(settings.local_port, "2101");
}

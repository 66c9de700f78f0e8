#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <thread>

#include "config/AppSettings.h"
#include "config/LocalizedStrings.h"
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

    // Devices print only on what is offered: a printer of the list, reached by its name or its alias.
    settings.SetAlias("Hall", "Lobby");
    EXPECT_TRUE(settings.IsOffered(settings.ResolvePrinterName("lobby")));
    EXPECT_TRUE(settings.IsOffered(settings.ResolvePrinterName("Hall")));
    EXPECT_FALSE(settings.IsOffered(settings.ResolvePrinterName("same")));
    EXPECT_FALSE(settings.IsOffered(settings.ResolvePrinterName("hall")));
    EXPECT_FALSE(settings.IsOffered("Other queue"));
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

TEST_F(AppSettingsFile, FilesThatAreNotWellFormedGiveTheDefaultsSayWhyAndAreNeverOverwritten) {
    struct Case {
        std::string bytes;
        std::string reason;
    };
    const std::string good = "<local_port>3001</local_port><lang>it-IT</lang>";
    for (const Case& c :
         {Case{"<settings>" + good + "</settings><settings/>", "more than one root element"},
          Case{"<settings>" + good + "</settings>trailing text", "text beside the root element"},
          Case{"<settings><local_port>&foo;</local_port></settings>", "an undefined entity"},
          Case{"<settings><local_port>&#0;</local_port></settings>", "a reference to no legal character"},
          Case{"<settings><local_port>a & b</local_port></settings>", "a bare \"&\""},
          Case{"<settings a=\"1\" a=\"2\"/>", "an attribute named twice"},
          Case{"<settings><local_port>3001</settings>", "not well-formed: "},
          Case{"<?xml version=\"1.0\" encoding=\"x-no-such-code\"?><settings/>",
               "the unknown encoding x-no-such-code"},
          Case{"<settings>\xff\xfe</settings>", "not valid UTF-8 at byte 10"},
          Case{"\r<?xml version=\"1.0\"?><settings/>", "an XML declaration that is not at the start"},
          Case{"<?xml version=\"1.<local_port>\"?><settings/>", "a broken XML declaration"},
          Case{"<?xml version=\"1.0\" encoding=\"UTF-7\"?><settings/>", "does not write markup as ASCII"},
          Case{"", "no root element"}}) {
        WriteFileBytes(file, c.bytes);
        AppSettings fresh;
        EXPECT_FALSE(fresh.Load(file.string())) << c.bytes;
        EXPECT_NE(fresh.LoadProblem().find(c.reason), std::string::npos)
            << c.bytes << ": " << fresh.LoadProblem();
        EXPECT_EQ(fresh.local_port, "2001") << c.bytes;
        EXPECT_EQ(fresh.language, 0) << c.bytes;
        // Mended in the meantime or not, the file the program could not read is not written over.
        WriteFileBytes(file, "<settings>" + good + "</settings>");
        fresh.local_port = "9999";
        EXPECT_FALSE(fresh.Save());
        EXPECT_EQ(Content(), "<settings>" + good + "</settings>");
    }
    AppSettings missing;
    EXPECT_FALSE(missing.Load((dir / "absent.xml").string()));
    EXPECT_EQ(missing.LoadProblem(), "No such file or directory");

    // What a conforming parser accepts still loads: references, comments and blanks around the root.
    WriteFileBytes(file,
                   "<?xml version=\"1.0\"?>\n<!-- c --><settings><pad_port>&#x33;&#49;&lt;&amp;</pad_port>"
                   "<aliases><alias>A|&quot;x&apos;</alias></aliases></settings>\n<!-- end -->\n");
    AppSettings fine;
    ASSERT_TRUE(fine.Load(file.string())) << fine.LoadProblem();
    EXPECT_EQ(fine.pad_port, "31<&");
    EXPECT_EQ(fine.GetAlias("A"), "\"x'");
}

TEST_F(AppSettingsFile, EightBitEncodingsAndTheByteOrderMarkAreKeptBothWays) {
    // "Caf\xe9" in windows-1252 and ISO-8859-1; the euro sign exists in the first only.
    for (const std::string encoding : {"windows-1252", "ISO-8859-1"}) {
        WriteFileBytes(file, "<?xml version=\"1.0\" encoding=\"" + encoding +
                                 "\"?><settings><printers><printer>Caf\xe9</printer></printers></settings>");
        AppSettings settings8;
        ASSERT_TRUE(settings8.Load(file.string())) << encoding << ": " << settings8.LoadProblem();
        EXPECT_EQ(settings8.Printers(), std::vector<std::string>{"Caf\xc3\xa9"}) << encoding;
        settings8.SetPrinters({"Caf\xc3\xa9", "\xe2\x82\xac 5", "\xe6\x97\xa5"});
        ASSERT_TRUE(settings8.Save());
        const std::string euro = encoding == "windows-1252" ? "\x80 5" : "&#8364; 5";
        EXPECT_NE(Content().find("<printer>Caf\xe9</printer><printer>" + euro +
                                 "</printer><printer>&#26085;</printer>"),
                  std::string::npos)
            << encoding << ": " << Content();
        EXPECT_EQ(Content().find('?', Content().find("<settings>")), std::string::npos) << Content();
        AppSettings reread;
        ASSERT_TRUE(reread.Load(file.string()));
        EXPECT_EQ(reread.Printers(),
                  (std::vector<std::string>{"Caf\xc3\xa9", "\xe2\x82\xac 5", "\xe6\x97\xa5"}));
    }
    // A byte that windows-1252 does not define is no text of that encoding.
    WriteFileBytes(file, "<?xml version=\"1.0\" encoding=\"windows-1252\"?><settings>\x81</settings>");
    AppSettings undefined;
    EXPECT_FALSE(undefined.Load(file.string()));
    EXPECT_NE(undefined.LoadProblem().find("not valid windows-1252"), std::string::npos)
        << undefined.LoadProblem();

    WriteFileBytes(file, "\xEF\xBB\xBF<settings><pad_port>1</pad_port></settings>");
    AppSettings marked;
    ASSERT_TRUE(marked.Load(file.string())) << marked.LoadProblem();
    EXPECT_EQ(marked.pad_port, "1");
    marked.pad_port = "2";
    ASSERT_TRUE(marked.Save());
    EXPECT_EQ(Content().substr(0, 13), "\xEF\xBB\xBF<settings>");
    EXPECT_NE(Content().find("<pad_port>2</pad_port>"), std::string::npos);
}

TEST_F(AppSettingsFile, ShippedSettingsFollowTheUsersLocale) {
    AppSettings shipped;
    ASSERT_TRUE(shipped.Load(std::string(QOPRA_SOURCE_DIR) + "/resources/qopra.xml"))
        << shipped.LoadProblem();
    EXPECT_EQ(shipped.language, 0);
    const char* saved[] = {std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"), std::getenv("LANG")};
    const std::string kept[] = {saved[0] ? saved[0] : "", saved[1] ? saved[1] : "", saved[2] ? saved[2] : ""};
    unsetenv("LC_ALL");
    unsetenv("LC_MESSAGES");
    setenv("LANG", "it_IT.UTF-8", 1);
    std::string text;
    LoadLocalizedString(142, shipped.language, text);
    const char* names[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    for (int i = 0; i < 3; ++i) {
        if (saved[i] != nullptr) {
            setenv(names[i], kept[i].c_str(), 1);
        } else {
            unsetenv(names[i]);
        }
    }
    EXPECT_EQ(text, "Stampa");
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

TEST_F(AppSettingsFile, ReadersSeeTheOldPrintersOrTheNewOnesNeverAMixture) {
    settings.SetPrintersAndAliases({"Office", "Lab"}, {{"Office", "Front"}, {"Lab", "Back"}});
    const std::vector<std::string> before = {"Front", "Back"};
    const std::vector<std::string> after = {"Desk A", "Desk B", "Desk C"};
    std::atomic<bool> reading = true;
    std::atomic<int> mixtures = 0;
    std::thread reader([&] {
        while (reading) {
            const auto seen = settings.GetPublishedPrinters();
            if (seen != before && seen != after) {
                ++mixtures;
            }
        }
    });
    for (int round = 0; round < 2000; ++round) {
        if (round % 2 == 0) {
            settings.SetPrintersAndAliases({"Office", "Lab", "Hall"},
                                           {{"Office", "Desk A"}, {"Lab", "Desk B"}, {"Hall", "Desk C"}});
        } else {
            settings.SetPrintersAndAliases({"Office", "Lab"}, {{"Office", "Front"}, {"Lab", "Back"}});
        }
    }
    reading = false;
    reader.join();
    EXPECT_EQ(mixtures, 0);
}

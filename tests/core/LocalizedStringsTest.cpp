#include "config/LocalizedStrings.h"
#include "app/EventLog.h"
#include "config/CultureTable.h"
#include "config/StringTable.h"
#include "platform/Unicode.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr std::uint16_t kEnglish = 2057;
constexpr const char* kUntouched = "<untouched>";

std::set<unsigned> Ids(std::initializer_list<std::pair<unsigned, unsigned>> ranges) {
    std::set<unsigned> ids;
    for (const auto& [first, last] : ranges) {
        for (unsigned id = first; id <= last; ++id) {
            ids.insert(id);
        }
    }
    return ids;
}

// Every language holds every text: the program's own, the port message and the notifications.
const std::set<unsigned> kAll = Ids({{136, 172}, {192, 226}});

// The placeholders each text must keep: a lost one would show a file or printer nowhere, an extra one
// would read garbage.
std::string Placeholders(unsigned id) {
    switch (id) {
    case 161:
    case 170:
        return "%s";
    case 194:
    case 195:
        return "%1%2%3";
    case 197:
    case 200:
    case 201:
    case 222:
        return "%1";
    case 198:
    case 202:
    case 203:
    case 216:
    case 219:
        return "%1%2";
    case 224:
        return "%1%2%3%4";
    default:
        return "";
    }
}

const StringTable* Stored(std::uint16_t language) {
    for (const StringTable& table : EmbeddedStringTables()) {
        if (table.language == language) {
            return &table;
        }
    }
    return nullptr;
}

std::string StoredText(std::uint16_t language, unsigned id) {
    for (const StringTableEntry& entry : Stored(language)->entries) {
        if (entry.id == id) {
            return std::string(entry.text);
        }
    }
    return {};
}

std::string Loaded(unsigned id, std::uint16_t language) {
    std::string text = kUntouched;
    LoadLocalizedString(id, language, text);
    return text;
}

// Every program text in `language` comes from the table of `source` for `translated`, else English.
void ExpectTexts(std::uint16_t language, std::uint16_t source, const std::set<unsigned>& translated) {
    for (unsigned id : kAll) {
        const std::uint16_t from = translated.contains(id) ? source : kEnglish;
        std::string text;
        const int length = LoadLocalizedString(id, language, text);
        EXPECT_EQ(text, StoredText(from, id)) << "language " << language << ", id " << id;
        EXPECT_EQ(length, static_cast<int>(Utf8Length(text))) << "language " << language << ", id " << id;
    }
}

} // namespace

TEST(StringTables, EachLanguageHoldsEveryTextWithItsPlaceholders) {
    const std::set<std::uint16_t> languages = {2057, 1036, 1040, 3082, 7,    1037, 1053, 2052, 2074,
                                               22,   1026, 1029, 1030, 1032, 1035, 1038, 1041, 1043,
                                               1045, 1048, 1049, 1050, 1055, 1060, 1065, 2070, 14337};
    EXPECT_EQ(EmbeddedStringTables().size(), languages.size());
    for (const std::uint16_t language : languages) {
        const StringTable* table = Stored(language);
        ASSERT_NE(table, nullptr) << "no table for " << language;
        EXPECT_EQ(LanguageFromCultureName(table->culture), std::optional<std::uint16_t>(language));
        std::set<unsigned> stored;
        for (const StringTableEntry& entry : table->entries) {
            stored.insert(entry.id);
            const std::string text(entry.text);
            EXPECT_FALSE(text.empty()) << language << "/" << entry.id;
            EXPECT_EQ(Utf8ToUtf32(text).find(U'\uFFFD'), std::u32string::npos) << language << "/" << entry.id;
            // Languages put the placeholders in their own order.
            std::vector<std::string> found;
            for (std::size_t at = text.find('%'); at != std::string::npos; at = text.find('%', at + 2)) {
                found.push_back(text.substr(at, 2));
            }
            std::sort(found.begin(), found.end());
            std::string sorted;
            for (const std::string& each : found) {
                sorted += each;
            }
            EXPECT_EQ(sorted, Placeholders(entry.id)) << language << "/" << entry.id << ": " << text;
            // A text is not left in English, unless the language writes it the same way.
            static const std::set<std::string> shared = {"Printer", "UDP port", "TCP port",    "Program",
                                                         "Status",  "Date",     "Description", "Copies",
                                                         "File",    "offline"};
            if (language != kEnglish && !shared.contains(text)) {
                EXPECT_NE(text, StoredText(kEnglish, entry.id)) << language << "/" << entry.id;
            }
        }
        EXPECT_EQ(stored, kAll) << "language " << language;
    }
}

TEST(StringTables, EnglishTextsAreExact) {
    // clang-format off
    const std::vector<std::string> english = {
        "UDP port", "UDP address", "TCP port", "Automatic Startup", "Save a print copy", "Available printers",
        "Print", "Settings", "Connect", "ARCHIVE", "Events", "DELETE", "PREVIEW", "Configure",
        "Wi-Fi print service", "Date", "File", "Printer", "Double click to activate", "Open", "Close", "Cancel",
        "Original name", "Personal name", "Setting printer name", "Cannot find the file %s",
        "Documents on removable drives", "Program", "Description", "Date", "Status", "Printed", "Not printed",
        "Select a document", "File %s cannot be deleted", "Copies",
        "Attention!\nAre you sure you wish to delete the selected documents?",
    };
    // clang-format on
    for (unsigned id = 136; id <= 172; ++id) {
        std::string text;
        EXPECT_EQ(LoadLocalizedString(id, kEnglish, text), static_cast<int>(english[id - 136].size()));
        EXPECT_EQ(text, english[id - 136]) << id;
    }
}

TEST(LocalizedStrings, EachLanguageFallsBackToEnglishTextByText) {
    ExpectTexts(1040, 1040, kAll); // it-IT: every text Italian
    ExpectTexts(7, 7, kAll);       // de
    ExpectTexts(1041, 1041, kAll); // ja-JP
    ExpectTexts(14337, 14337, kAll);
    ExpectTexts(2052, 2052, kAll);
    ExpectTexts(1033, kEnglish, {}); // en-US has no table of its own
    ExpectTexts(1042, kEnglish, {}); // ko-KR: no Korean table at all
    ExpectTexts(127, kEnglish, {});  // invariant
}

TEST(LocalizedStrings, RegionalVariantsUseTheirLanguagesTable) {
    ExpectTexts(1031, 7, kAll);     // de-DE finds German stored without country
    ExpectTexts(3079, 7, kAll);     // de-AT
    ExpectTexts(1046, 22, kAll);    // pt-BR: the neutral Portuguese table, not the one of Portugal
    ExpectTexts(2070, 2070, kAll);  // pt-PT keeps its own
    ExpectTexts(2058, 3082, kAll);  // es-MX
    ExpectTexts(3084, 1036, kAll);  // fr-CA
    ExpectTexts(3098, 2074, kAll);  // sr-Cyrl: Serbian, not Croatian, which shares the primary language
    ExpectTexts(1050, 1050, kAll);  // hr-HR
    ExpectTexts(1025, 14337, kAll); // ar-SA
}

TEST(LocalizedStrings, LengthCountsCharactersNotBytes) {
    std::string text;
    EXPECT_EQ(LoadLocalizedString(148, 1041, text), 5); // "プレビュー": 15 bytes
    EXPECT_EQ(LoadLocalizedString(162, 1040, text), 29);
    EXPECT_EQ(text, "Documenti su unità rimovibili");
}

TEST(LocalizedStrings, MissingTextLeavesTheCallersTextAndLogsOnlyAMissingGroup) {
    TempDir dir;
    const auto previousLog = EventLog::Global().FileName();
    EventLog::Global().SetFileName(dir / "qopra.log");
    for (unsigned id : {0u, 100u, 127u, 176u, 70000u}) {
        std::string text = kUntouched;
        EXPECT_EQ(LoadLocalizedString(id, 1040, text), 0) << id;
        EXPECT_EQ(text, kUntouched) << id;
    }
    // 128..135 and 173..175 share a group with program texts but have none themselves.
    for (unsigned id : {128u, 135u, 173u, 175u}) {
        EXPECT_EQ(Loaded(id, kEnglish), kUntouched) << id;
    }
    EventLog::Global().SetFileName(previousLog);

    const std::string log = ReadFileBytes(dir / "qopra.log");
    for (const char* id : {" 0 ", " 100 ", " 127 ", " 176 ", " 70000 "}) {
        EXPECT_NE(log.find(std::string("[ERROR] Interface text") + id + "not found."), std::string::npos)
            << id;
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 5);
}

class LocalizedStringsOfLocale : public testing::Test {
protected:
    void SetUp() override {
        for (const char* name : kVariables) {
            const char* value = std::getenv(name);
            saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
            unsetenv(name);
        }
    }
    void TearDown() override {
        for (const auto& [name, value] : saved) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
    }
    static constexpr const char* kVariables[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
    std::map<std::string, std::optional<std::string>> saved;
};

TEST_F(LocalizedStringsOfLocale, IdentifierZeroFollowsTheUsersLocale) {
    setenv("LANG", "it_IT.UTF-8", 1);
    ExpectTexts(0, 1040, kAll);
    setenv("LC_MESSAGES", "ja_JP.UTF-8", 1); // overrides LANG
    ExpectTexts(0, 1041, kAll);
    setenv("LC_ALL", "de_CH.UTF-8", 1); // overrides both
    ExpectTexts(0, 7, kAll);
    setenv("LC_ALL", "", 1); // empty counts as unset
    ExpectTexts(0, 1041, kAll);
}

TEST_F(LocalizedStringsOfLocale, UnrecognisedCultureNameGivesTheLocalesLanguage) {
    // A settings file's "EN-GB" or "en_GB" is not found, so the language stays 0.
    ASSERT_FALSE(LanguageFromCultureName("EN-GB").has_value());
    ASSERT_FALSE(LanguageFromCultureName("en_GB").has_value());
    setenv("LANG", "fr_FR.UTF-8", 1);
    EXPECT_EQ(Loaded(142, 0), "Imprimer");
    setenv("LANG", "pt_BR.UTF-8", 1);
    EXPECT_EQ(Loaded(143, 0), StoredText(22, 143));
    setenv("LANG", "sr_RS@latin", 1);
    EXPECT_EQ(Loaded(142, 0), "Štampaj");
    setenv("LANG", "sr_RS", 1);
    EXPECT_EQ(Loaded(142, 0), "Štampaj");
    for (const char* locale : {"C", "C.UTF-8", "POSIX", "xx_YY", "en_US.UTF-8"}) {
        setenv("LANG", locale, 1);
        EXPECT_EQ(Loaded(142, 0), "Print") << locale;
    }
    unsetenv("LANG");
    EXPECT_EQ(Loaded(142, 0), "Print");
}

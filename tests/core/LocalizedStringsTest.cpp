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

const std::set<unsigned> kAll = Ids({{136, 172}});
// The languages with every program text also translate the settings window's port message.
const std::set<unsigned> kFull = Ids({{136, 172}, {192, 192}});
const std::set<unsigned> kTo160 = Ids({{136, 160}});
const std::set<unsigned> kNo139 = Ids({{136, 138}, {140, 160}});
const std::set<unsigned> kArabic = Ids({{142, 145}, {147, 148}, {151, 152}, {155, 157}});

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

TEST(StringTables, EachLanguageHoldsExactlyItsIdsWithUsableTexts) {
    const std::map<std::uint16_t, std::set<unsigned>> expected = {
        {2057, kFull},  {1036, kFull},  {1040, kFull},    {3082, kFull},  {7, kFull},     {1037, kTo160},
        {1053, kTo160}, {2052, kTo160}, {2074, kTo160},   {22, kNo139},   {1026, kNo139}, {1029, kNo139},
        {1030, kNo139}, {1032, kNo139}, {1035, kNo139},   {1038, kNo139}, {1041, kNo139}, {1043, kNo139},
        {1045, kNo139}, {1048, kNo139}, {1049, kNo139},   {1050, kNo139}, {1055, kNo139}, {1060, kNo139},
        {1065, kNo139}, {2070, kNo139}, {14337, kArabic},
    };
    EXPECT_EQ(EmbeddedStringTables().size(), expected.size());
    for (const auto& [language, ids] : expected) {
        const StringTable* table = Stored(language);
        ASSERT_NE(table, nullptr) << "no table for " << language;
        EXPECT_EQ(LanguageFromCultureName(table->culture), std::optional<std::uint16_t>(language));
        std::set<unsigned> stored;
        for (const StringTableEntry& entry : table->entries) {
            stored.insert(entry.id);
            const std::string text(entry.text);
            EXPECT_FALSE(text.empty()) << language << "/" << entry.id;
            EXPECT_EQ(Utf8ToUtf32(text).find(U'\uFFFD'), std::u32string::npos) << language << "/" << entry.id;
            // A lost placeholder would print the file name nowhere; an extra one would read garbage.
            const bool placeholder = text.find("%s") != std::string::npos;
            EXPECT_EQ(placeholder, entry.id == 161 || entry.id == 170) << language << "/" << entry.id;
            EXPECT_EQ(std::count(text.begin(), text.end(), '%'), placeholder ? 1 : 0)
                << language << "/" << entry.id;
        }
        EXPECT_EQ(stored, ids) << "language " << language;
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
    ExpectTexts(1040, 1040, kAll);   // it-IT: every text Italian
    ExpectTexts(7, 7, kAll);         // de
    ExpectTexts(1041, 1041, kNo139); // ja-JP: 139 and 161..172 English
    ExpectTexts(14337, 14337, kArabic);
    ExpectTexts(2052, 2052, kTo160);
    ExpectTexts(1033, kEnglish, {}); // en-US has no table of its own
    ExpectTexts(1042, kEnglish, {}); // ko-KR: no Korean table at all
    ExpectTexts(127, kEnglish, {});  // invariant
}

TEST(LocalizedStrings, RegionalVariantsUseTheirLanguagesTable) {
    ExpectTexts(1031, 7, kAll);        // de-DE finds German stored without country
    ExpectTexts(3079, 7, kAll);        // de-AT
    ExpectTexts(1046, 22, kNo139);     // pt-BR: the neutral Portuguese table, not the one of Portugal
    ExpectTexts(2070, 2070, kNo139);   // pt-PT keeps its own
    ExpectTexts(2058, 3082, kAll);     // es-MX
    ExpectTexts(3084, 1036, kAll);     // fr-CA
    ExpectTexts(3098, 2074, kTo160);   // sr-Cyrl: Serbian, not Croatian, which shares the primary language
    ExpectTexts(1050, 1050, kNo139);   // hr-HR
    ExpectTexts(1025, 14337, kArabic); // ar-SA
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
    ExpectTexts(0, 1041, kNo139);
    setenv("LC_ALL", "de_CH.UTF-8", 1); // overrides both
    ExpectTexts(0, 7, kAll);
    setenv("LC_ALL", "", 1); // empty counts as unset
    ExpectTexts(0, 1041, kNo139);
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

#include "config/CultureTable.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Every culture name a settings file may carry, in the order they are looked up.
const std::vector<std::string> kNames = {
    "iv",      "af",      "af-ZA",  "sq",    "sq-AL", "ar",      "ar-DZ",   "ar-BH", "ar-EG",   "ar-IQ",
    "ar-JO",   "ar-KW",   "ar-LB",  "ar-LY", "ar-MA", "ar-OM",   "ar-QA",   "ar-SA", "ar-SY",   "ar-TN",
    "ar-AE",   "ar-YE",   "hy",     "hy-AM", "az",    "az-Cyrl", "az-Latn", "eu",    "eu-ES",   "be",
    "be-BY",   "bg",      "bg-BG",  "ca",    "ca-ES", "zh-HK",   "zh-MO",   "zh-CN", "zh-CHS",  "zh-SG",
    "zh-TW",   "zh-CHT",  "hr",     "hr-HR", "cs",    "cs-CZ",   "da",      "da-DK", "div",     "div-MV",
    "nl",      "nl-BE",   "nl-NL",  "en",    "en-AU", "en-BZ",   "en-CA",   "en-CB", "en-IE",   "en-JM",
    "en-NZ",   "en-PH",   "en-ZA",  "en-TT", "en-GB", "en-US",   "en-ZW",   "et",    "et-EE",   "fo",
    "fo-FO",   "fa",      "fa-IR",  "fi",    "fi-FI", "fr",      "fr-BE",   "fr-CA", "fr-FR",   "fr-LU",
    "fr-MC",   "fr-CH",   "gl",     "gl-ES", "ka",    "ka-GE",   "de",      "de-AT", "de-DE",   "de-LI",
    "de-LU",   "de-CH",   "el",     "el-GR", "gu",    "gu-IN",   "he",      "he-IL", "hi",      "hi-IN",
    "hu",      "hu-HU",   "is",     "is-IS", "id",    "id-ID",   "it",      "it-IT", "it-CH",   "ja",
    "ja-JP",   "kn",      "kn-IN",  "kk",    "kk-KZ", "kok",     "kok-IN",  "ko",    "ko-KR",   "ky",
    "ky-KZ",   "lv",      "lv-LV",  "lt",    "lt-LT", "mk",      "mk-MK",   "ms",    "ms-BN",   "ms-MY",
    "mr",      "mr-IN",   "mn",     "mn-MN", "no",    "nb-NO",   "nn-NO",   "pl",    "pl-PL",   "pt",
    "pt-BR",   "pt-PT",   "pa",     "pa-IN", "ro",    "ro-RO",   "ru",      "ru-RU", "sa",      "sa-IN",
    "sr-Cyrl", "sr-Latn", "sk",     "sk-SK", "sl",    "sl-SI",   "es",      "es-AR", "es-BO",   "es-CL",
    "es-CO",   "es-CR",   "es-DO",  "es-EC", "es-SV", "es-GT",   "es-HN",   "es-MX", "es-NI",   "es-PA",
    "es-PY",   "es-PE",   "es-PR",  "es-ES", "es-UY", "es-VE",   "sw",      "sw-KE", "sv",      "sv-FI",
    "sv-SE",   "syr",     "syr-SY", "ta",    "ta-IN", "tt",      "tt-RU",   "te",    "te-IN",   "th",
    "th-TH",   "tr",      "tr-TR",  "uk",    "uk-UA", "ur",      "ur-PK",   "uz",    "uz-Cyrl", "uz-Latn",
    "vi",      "vi-VN",
};

std::uint16_t Primary(std::uint16_t language) {
    return language & 0x3FF;
}

} // namespace

TEST(CultureTable, EveryNameIsFoundWithAnIdentifierConsistentWithItsLanguage) {
    ASSERT_EQ(kNames.size(), 202u);
    std::map<std::string, std::uint16_t> byName;
    std::set<std::uint16_t> identifiers;
    for (const std::string& name : kNames) {
        const auto language = LanguageFromCultureName(name);
        ASSERT_TRUE(language.has_value()) << name;
        byName[name] = *language;
        EXPECT_TRUE(identifiers.insert(*language).second) << name << " repeats identifier " << *language;
    }
    for (const auto& [name, language] : byName) {
        const auto dash = name.find('-');
        if (dash == std::string::npos) {
            EXPECT_EQ(language >> 10, 0) << name << " should carry the neutral sub-language";
        } else if (const auto base = byName.find(name.substr(0, dash)); base != byName.end()) {
            EXPECT_EQ(Primary(language), Primary(base->second)) << name;
        }
    }
    // Norwegian's country names do not start with its language name.
    EXPECT_EQ(Primary(byName["nb-NO"]), byName["no"]);
    EXPECT_EQ(Primary(byName["nn-NO"]), byName["no"]);
}

TEST(CultureTable, PublishedIdentifiersOfOrdinaryAndUnusualNames) {
    const std::map<std::string, std::uint16_t> expected = {
        {"de", 7},         {"en", 9},        {"pt", 22},        {"ar", 1},         {"no", 20},
        {"en-GB", 2057},   {"en-US", 1033},  {"it-IT", 1040},   {"de-DE", 1031},   {"fr-FR", 1036},
        {"es-ES", 3082},   {"pt-PT", 2070},  {"pt-BR", 1046},   {"zh-CN", 2052},   {"ar-AE", 14337},
        {"he-IL", 1037},   {"fa-IR", 1065},  {"nb-NO", 1044},   {"nn-NO", 2068},   {"en-CB", 9225},
        {"iv", 127},       {"zh-CHS", 4},    {"zh-CHT", 31748}, {"sr-Latn", 2074}, {"sr-Cyrl", 3098},
        {"div", 101},      {"div-MV", 1125}, {"az-Latn", 1068}, {"az-Cyrl", 2092}, {"uz-Latn", 1091},
        {"uz-Cyrl", 2115}, {"kok-IN", 1111}, {"syr-SY", 1114},  {"ky-KZ", 1088},   {"es-PR", 20490},
        {"es-HN", 18442},  {"en-PH", 13321}, {"ms-BN", 2110},   {"sv-FI", 2077},   {"zh-MO", 5124},
    };
    for (const auto& [name, language] : expected) {
        EXPECT_EQ(LanguageFromCultureName(name), std::optional<std::uint16_t>(language)) << name;
    }
}

TEST(CultureTable, MatchIsExactAndCaseSensitive) {
    for (const char* name : {"EN-GB", "en-gb", "en_GB", "en-GB ", " en-GB", "", "en-", "sr", "zh", "xx-XX"}) {
        EXPECT_FALSE(LanguageFromCultureName(name).has_value()) << '"' << name << '"';
    }
}

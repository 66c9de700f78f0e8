#include "config/CultureTable.h"

#include <iterator>

namespace {

struct Culture {
    std::string_view name;
    std::uint16_t language;
};

// Windows language identifiers of the culture names a settings file may hold. The order is the order
// of lookup; names of a language alone carry its neutral sub-language.
constexpr Culture kCultures[] = {
    {"iv", 127},       {"af", 54},        {"af-ZA", 1078},  {"sq", 28},        {"sq-AL", 1052},
    {"ar", 1},         {"ar-DZ", 5121},   {"ar-BH", 15361}, {"ar-EG", 3073},   {"ar-IQ", 2049},
    {"ar-JO", 11265},  {"ar-KW", 13313},  {"ar-LB", 12289}, {"ar-LY", 4097},   {"ar-MA", 6145},
    {"ar-OM", 8193},   {"ar-QA", 16385},  {"ar-SA", 1025},  {"ar-SY", 10241},  {"ar-TN", 7169},
    {"ar-AE", 14337},  {"ar-YE", 9217},   {"hy", 43},       {"hy-AM", 1067},   {"az", 44},
    {"az-Cyrl", 2092}, {"az-Latn", 1068}, {"eu", 45},       {"eu-ES", 1069},   {"be", 35},
    {"be-BY", 1059},   {"bg", 2},         {"bg-BG", 1026},  {"ca", 3},         {"ca-ES", 1027},
    {"zh-HK", 3076},   {"zh-MO", 5124},   {"zh-CN", 2052},  {"zh-CHS", 4},     {"zh-SG", 4100},
    {"zh-TW", 1028},   {"zh-CHT", 31748}, {"hr", 26},       {"hr-HR", 1050},   {"cs", 5},
    {"cs-CZ", 1029},   {"da", 6},         {"da-DK", 1030},  {"div", 101},      {"div-MV", 1125},
    {"nl", 19},        {"nl-BE", 2067},   {"nl-NL", 1043},  {"en", 9},         {"en-AU", 3081},
    {"en-BZ", 10249},  {"en-CA", 4105},   {"en-CB", 9225},  {"en-IE", 6153},   {"en-JM", 8201},
    {"en-NZ", 5129},   {"en-PH", 13321},  {"en-ZA", 7177},  {"en-TT", 11273},  {"en-GB", 2057},
    {"en-US", 1033},   {"en-ZW", 12297},  {"et", 37},       {"et-EE", 1061},   {"fo", 56},
    {"fo-FO", 1080},   {"fa", 41},        {"fa-IR", 1065},  {"fi", 11},        {"fi-FI", 1035},
    {"fr", 12},        {"fr-BE", 2060},   {"fr-CA", 3084},  {"fr-FR", 1036},   {"fr-LU", 5132},
    {"fr-MC", 6156},   {"fr-CH", 4108},   {"gl", 86},       {"gl-ES", 1110},   {"ka", 55},
    {"ka-GE", 1079},   {"de", 7},         {"de-AT", 3079},  {"de-DE", 1031},   {"de-LI", 5127},
    {"de-LU", 4103},   {"de-CH", 2055},   {"el", 8},        {"el-GR", 1032},   {"gu", 71},
    {"gu-IN", 1095},   {"he", 13},        {"he-IL", 1037},  {"hi", 57},        {"hi-IN", 1081},
    {"hu", 14},        {"hu-HU", 1038},   {"is", 15},       {"is-IS", 1039},   {"id", 33},
    {"id-ID", 1057},   {"it", 16},        {"it-IT", 1040},  {"it-CH", 2064},   {"ja", 17},
    {"ja-JP", 1041},   {"kn", 75},        {"kn-IN", 1099},  {"kk", 63},        {"kk-KZ", 1087},
    {"kok", 87},       {"kok-IN", 1111},  {"ko", 18},       {"ko-KR", 1042},   {"ky", 64},
    {"ky-KZ", 1088},   {"lv", 38},        {"lv-LV", 1062},  {"lt", 39},        {"lt-LT", 1063},
    {"mk", 47},        {"mk-MK", 1071},   {"ms", 62},       {"ms-BN", 2110},   {"ms-MY", 1086},
    {"mr", 78},        {"mr-IN", 1102},   {"mn", 80},       {"mn-MN", 1104},   {"no", 20},
    {"nb-NO", 1044},   {"nn-NO", 2068},   {"pl", 21},       {"pl-PL", 1045},   {"pt", 22},
    {"pt-BR", 1046},   {"pt-PT", 2070},   {"pa", 70},       {"pa-IN", 1094},   {"ro", 24},
    {"ro-RO", 1048},   {"ru", 25},        {"ru-RU", 1049},  {"sa", 79},        {"sa-IN", 1103},
    {"sr-Cyrl", 3098}, {"sr-Latn", 2074}, {"sk", 27},       {"sk-SK", 1051},   {"sl", 36},
    {"sl-SI", 1060},   {"es", 10},        {"es-AR", 11274}, {"es-BO", 16394},  {"es-CL", 13322},
    {"es-CO", 9226},   {"es-CR", 5130},   {"es-DO", 7178},  {"es-EC", 12298},  {"es-SV", 17418},
    {"es-GT", 4106},   {"es-HN", 18442},  {"es-MX", 2058},  {"es-NI", 19466},  {"es-PA", 6154},
    {"es-PY", 15370},  {"es-PE", 10250},  {"es-PR", 20490}, {"es-ES", 3082},   {"es-UY", 14346},
    {"es-VE", 8202},   {"sw", 65},        {"sw-KE", 1089},  {"sv", 29},        {"sv-FI", 2077},
    {"sv-SE", 1053},   {"syr", 90},       {"syr-SY", 1114}, {"ta", 73},        {"ta-IN", 1097},
    {"tt", 68},        {"tt-RU", 1092},   {"te", 74},       {"te-IN", 1098},   {"th", 30},
    {"th-TH", 1054},   {"tr", 31},        {"tr-TR", 1055},  {"uk", 34},        {"uk-UA", 1058},
    {"ur", 32},        {"ur-PK", 1056},   {"uz", 67},       {"uz-Cyrl", 2115}, {"uz-Latn", 1091},
    {"vi", 42},        {"vi-VN", 1066},
};
static_assert(std::size(kCultures) == 202);

} // namespace

std::optional<std::uint16_t> LanguageFromCultureName(std::string_view name) {
    for (const Culture& culture : kCultures) {
        if (culture.name == name) {
            return culture.language;
        }
    }
    return std::nullopt;
}

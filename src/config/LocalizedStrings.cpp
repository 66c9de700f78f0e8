#include "config/LocalizedStrings.h"

#include "app/EventLog.h"
#include "config/CultureTable.h"
#include "config/StringTable.h"
#include "platform/Unicode.h"

#include <cstdlib>
#include <initializer_list>
#include <optional>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint16_t kFallbackLanguage = 2057;
constexpr unsigned kGroupSize = 16;
constexpr std::uint16_t kPrimaryLanguageMask = 0x03FF;
constexpr int kSubLanguageShift = 10;

std::uint16_t PrimaryLanguage(std::uint16_t language) {
    return language & kPrimaryLanguageMask;
}

int SubLanguage(std::uint16_t language) {
    return language >> kSubLanguageShift;
}

const StringTable* ExactTable(std::uint16_t language) {
    for (const StringTable& table : EmbeddedStringTables()) {
        if (table.language == language) {
            return &table;
        }
    }
    return nullptr;
}

// The stored table that serves `language`: its own, else one of the same primary language, the
// neutral one first, then the nearest sub-language (Serbian Cyrillic 3 and Latin 2 sit next to each
// other, Croatian 1 shares their primary language). Null when only English can serve it.
const StringTable* MatchingTable(std::uint16_t language) {
    if (const StringTable* exact = ExactTable(language)) {
        return exact;
    }
    const StringTable* best = nullptr;
    int bestDistance = 0;
    for (const StringTable& table : EmbeddedStringTables()) {
        if (PrimaryLanguage(table.language) != PrimaryLanguage(language)) {
            continue;
        }
        const int sub = SubLanguage(table.language);
        const int distance = sub == 0 ? -1 : std::abs(sub - SubLanguage(language));
        if (best == nullptr || distance < bestDistance) {
            best = &table;
            bestDistance = distance;
        }
    }
    return best;
}

// "it_IT.UTF-8@euro" and the like; a script modifier ("@latin") picks the culture of that script.
std::optional<std::uint16_t> LanguageFromLocaleName(std::string_view locale) {
    std::string_view modifier;
    if (const auto at = locale.find('@'); at != std::string_view::npos) {
        modifier = locale.substr(at + 1);
        locale = locale.substr(0, at);
    }
    locale = locale.substr(0, locale.find('.'));
    const auto underscore = locale.find('_');
    const std::string base(locale.substr(0, underscore));

    std::vector<std::string> candidates;
    if (modifier == "latin") {
        candidates.push_back(base + "-Latn");
    } else if (modifier == "cyrillic") {
        candidates.push_back(base + "-Cyrl");
    }
    if (underscore != std::string_view::npos) {
        candidates.push_back(base + "-" + std::string(locale.substr(underscore + 1)));
    }
    candidates.push_back(base);
    // A language known only by its scripts (Serbian) takes the script its locales default to.
    candidates.push_back(base + "-Cyrl");
    for (const std::string& candidate : candidates) {
        if (const auto language = LanguageFromCultureName(candidate)) {
            return language;
        }
    }
    return std::nullopt;
}

// The user's interface language, from the locale variables in their order of precedence.
std::uint16_t UserLocaleLanguage() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && *value != '\0') {
            return LanguageFromLocaleName(value).value_or(kFallbackLanguage);
        }
    }
    return kFallbackLanguage;
}

bool HasGroup(const StringTable& table, unsigned id) {
    for (const StringTableEntry& entry : table.entries) {
        if (entry.id / kGroupSize == id / kGroupSize) {
            return true;
        }
    }
    return false;
}

std::string_view EntryText(const StringTable& table, unsigned id) {
    for (const StringTableEntry& entry : table.entries) {
        if (entry.id == id) {
            return entry.text;
        }
    }
    return {};
}

} // namespace

int LoadLocalizedString(unsigned id, std::uint16_t language, std::string& text) {
    const StringTable* chosen = MatchingTable(language == 0 ? UserLocaleLanguage() : language);
    const StringTable* english = ExactTable(kFallbackLanguage);

    bool groupFound = false;
    std::string_view entry;
    if (chosen != nullptr && HasGroup(*chosen, id)) {
        groupFound = true;
        entry = EntryText(*chosen, id);
    }
    if (entry.empty() && english != nullptr && HasGroup(*english, id)) {
        groupFound = true;
        entry = EntryText(*english, id);
    }
    if (!groupFound) {
        EventLog::Write("[ERROR] Interface text %u not found.", id);
        return 0;
    }
    // An id without text in either table keeps whatever the window already shows.
    if (entry.empty()) {
        return 0;
    }
    text.assign(entry);
    return static_cast<int>(Utf8Length(entry));
}

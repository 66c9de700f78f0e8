#include "platform/CodePageNames.h"

#include <string>
#include <unordered_map>

#include "platform/EncodingTables.h"
#include "platform/Unicode.h"

namespace {

const std::unordered_map<std::string, int>& NameIndex() {
    static const std::unordered_map<std::string, int> index = [] {
        std::unordered_map<std::string, int> built;
        for (const CodePageName& entry : EmbeddedCodePageNames()) {
            built.emplace(entry.name, entry.codePage);
        }
        return built;
    }();
    return index;
}

const std::unordered_map<int, std::string>& ConverterIndex() {
    static const std::unordered_map<int, std::string> index = [] {
        std::unordered_map<int, std::string> built;
        for (const CodePageConverter& entry : EmbeddedCodePageConverters()) {
            built.emplace(entry.codePage, entry.iconvName);
        }
        return built;
    }();
    return index;
}

} // namespace

std::optional<int> CodePageNames::CodePageOf(std::string_view name) {
    if (name.empty() || name.size() >= kNameLengthLimit) {
        return std::nullopt;
    }
    if (name.starts_with("UTF-32")) {
        return kUtf32Any;
    }
    const auto found = NameIndex().find(AsciiLower(name));
    if (found == NameIndex().end()) {
        return std::nullopt;
    }
    return found->second;
}

std::string CodePageNames::IconvNameOf(int codePage) {
    const auto found = ConverterIndex().find(codePage);
    return found == ConverterIndex().end() ? std::string() : found->second;
}

bool CodePageNames::IsWide(int codePage) {
    return codePage == kUtf16LittleEndian || codePage == kUtf16BigEndian || codePage == kUtf32LittleEndian ||
           codePage == kUtf32BigEndian || codePage == kUtf32Any;
}

#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// One interface text of a language: UTF-8, with real line breaks.
struct StringTableEntry {
    std::uint16_t id;
    std::string_view text;
};

// The interface texts of one language, in ascending id order. Ids the language does not translate
// are absent.
struct StringTable {
    std::uint16_t language;
    std::string_view culture;
    std::span<const StringTableEntry> entries;
};

// The tables of every language, compiled into the program from resources/strings at build time.
std::span<const StringTable> EmbeddedStringTables();

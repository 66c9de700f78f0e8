#pragma once

#include <span>

// Tables compiled from data files at build time (cmake/EmbedEncodingTables.cmake).

// An encoding name a document may declare (lower case) and the Windows code page it stands for.
struct CodePageName {
    const char* name;
    int codePage;
};

// How iconv converts a code page; an empty name when it cannot.
struct CodePageConverter {
    int codePage;
    const char* iconvName;
};

// A character entity of HTML 4 (and "apos") with its character, names in their original case.
struct CharacterEntity {
    const char* name;
    char32_t character;
};

std::span<const CodePageName> EmbeddedCodePageNames();
std::span<const CodePageConverter> EmbeddedCodePageConverters();
std::span<const CharacterEntity> EmbeddedCharacterEntities();

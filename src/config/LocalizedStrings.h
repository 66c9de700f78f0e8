#pragma once

#include <cstdint>
#include <string>

// Interface texts by id (136..172, 192..215) in the given language, with the English (United Kingdom, 2057)
// fallback per group and per entry. Identifier 0 means the language of the user's locale.
// Returns the number of characters; 0 leaves `text` unchanged.
int LoadLocalizedString(unsigned id, std::uint16_t language, std::string& text);

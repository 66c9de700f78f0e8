#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

// Culture name ("en-GB") to Windows language identifier (2057): exact, case-sensitive match in the
// table's order. Nothing found gives std::nullopt (the caller then uses identifier 0).
std::optional<std::uint16_t> LanguageFromCultureName(std::string_view name);

#pragma once

#include <QString>
#include <cstdint>

// The interface text `id` in `language`, or the window's own text when the tables have none.
QString LocalizedText(unsigned id, std::uint16_t language, const char* windowText);

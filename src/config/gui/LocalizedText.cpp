#include "config/gui/LocalizedText.h"

#include <string>

#include "config/LocalizedStrings.h"

QString LocalizedText(unsigned id, std::uint16_t language, const char* windowText) {
    std::string text = windowText;
    LoadLocalizedString(id, language, text);
    return QString::fromStdString(text);
}

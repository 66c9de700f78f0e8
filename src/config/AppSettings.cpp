#include "config/AppSettings.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>
#include <pugixml.hpp>

#include "app/EventLog.h"
#include "config/CultureTable.h"
#include "platform/CodePage.h"
#include "platform/NetworkAdapters.h"
#include "platform/Unicode.h"
#include "xml/EncodedXmlFile.h"
#include "xml/XmlFile.h"

namespace {

constexpr const char* kDefaultCulture = "en-GB";

// Keep everything a person may have put in the file: Save writes it back as it was read.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration | pugi::parse_comments |
                                   pugi::parse_pi | pugi::parse_doctype | pugi::parse_ws_pcdata;

pugi::xml_node First(const pugi::xml_document& document, const char* query) {
    return document.select_node(query).node();
}

// As the C library's wide-string-to-long conversion reads it: blanks, a sign, digits up to the first
// other character; no digits give 0. Values beyond 32 bits are held at the limits.
std::int32_t LeadingInteger(const std::string& text) {
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<std::int32_t>(value);
}

pugi::xml_node FirstOrAppended(pugi::xml_document& document, const char* query, const char* name) {
    pugi::xml_node node = First(document, query);
    if (node) {
        return node;
    }
    pugi::xml_node settings = First(document, "//settings");
    if (!settings) {
        throw std::runtime_error("no settings element");
    }
    return settings.append_child(name);
}

void SetText(pugi::xml_node node, const std::string& text) {
    while (node.first_child()) {
        node.remove_child(node.first_child());
    }
    if (!text.empty()) {
        node.append_child(pugi::node_pcdata).set_value(text.c_str());
    }
}

} // namespace

AppSettings& AppSettings::Instance() {
    static AppSettings settings;
    return settings;
}

bool AppSettings::Load(const std::string& filePath) {
    path = filePath;
    EncodedXmlFile file;
    loadFailed = !file.Load(filePath, kParseOptions);
    loadProblem = file.Problem();
    if (loadFailed) {
        return false;
    }
    const pugi::xml_document& document = file.Document();
    try {
        for (auto [query, field] :
             {std::pair{"//settings/local_port", &local_port}, std::pair{"//settings/pad_port", &pad_port},
              std::pair{"//settings/local_address", &local_address}, std::pair{"//settings/mac", &mac}}) {
            if (pugi::xml_node node = First(document, query)) {
                *field = XmlFile::TextContent(node);
            }
        }
        const pugi::xml_node backupNode = First(document, "//settings/backup");
        backup = backupNode && XmlFile::TextContent(backupNode) == "1";
        const pugi::xml_node notifyNode = First(document, "//settings/notify_printed");
        notify_printed = !notifyNode || XmlFile::TextContent(notifyNode) != "0";
        const pugi::xml_node routedNode = First(document, "//settings/allow_routed");
        allowRouted = routedNode && XmlFile::TextContent(routedNode) == "1";

        {
            std::lock_guard guard(listLock);
            for (const pugi::xpath_node& printer : document.select_nodes("//settings/printers/printer")) {
                printers.push_back(XmlFile::TextContent(printer.node()));
            }
            for (const pugi::xpath_node& alias : document.select_nodes("//settings/aliases/alias")) {
                const std::string text = XmlFile::TextContent(alias.node());
                const std::size_t bar = text.find('|');
                if (bar != std::string::npos) {
                    SetAliasLocked(text.substr(0, bar), text.substr(bar + 1));
                }
            }
        }

        const pugi::xml_node langNode = First(document, "//settings/lang");
        const std::string culture = langNode ? XmlFile::TextContent(langNode) : kDefaultCulture;
        language = LanguageFromCultureName(culture).value_or(0);

        const pugi::xml_node delayNode = First(document, "//settings/delay");
        delay = delayNode ? LeadingInteger(XmlFile::TextContent(delayNode)) : kDefaultDelay;

        if (const pugi::xml_node codepageNode = First(document, "//settings/codepage")) {
            const int number = LeadingInteger(XmlFile::TextContent(codepageNode));
            if (CodePage(number).IsSupported()) {
                codepage = number;
            } else {
                EventLog::Write("[WARNING] Unknown code page %d, using %d", number, codepage);
            }
        }
        CodePage::SetWire(codepage);
    } catch (const std::exception&) {
        EventLog::Write("Loading settings failed.");
    }
    return true;
}

bool AppSettings::Save() {
    // A file that could not be read is the person's to mend; writing the defaults over it would lose it.
    EncodedXmlFile file;
    if (loadFailed || !file.Load(path, kParseOptions)) {
        return false;
    }
    pugi::xml_document& document = file.Document();
    try {
        for (auto [query, field] :
             {std::pair{"//settings/local_port", &local_port}, std::pair{"//settings/pad_port", &pad_port},
              std::pair{"//settings/local_address", &local_address}}) {
            if (pugi::xml_node node = First(document, query)) {
                SetText(node, *field);
            }
        }
        SetText(FirstOrAppended(document, "//settings/mac", "mac"), GetMacForAddress(local_address));
        SetText(FirstOrAppended(document, "//settings/backup", "backup"), backup ? "1" : "0");
        // Files without the element keep the default without it.
        if (!notify_printed || First(document, "//settings/notify_printed")) {
            SetText(FirstOrAppended(document, "//settings/notify_printed", "notify_printed"),
                    notify_printed ? "1" : "0");
        }

        std::lock_guard guard(listLock);
        pugi::xml_node printersNode = FirstOrAppended(document, "//settings/printers", "printers");
        while (printersNode.first_child()) {
            printersNode.remove_child(printersNode.first_child());
        }
        for (const std::string& name : printers) {
            SetText(printersNode.append_child("printer"), name);
        }
        pugi::xml_node aliasesNode = FirstOrAppended(document, "//settings/aliases", "aliases");
        while (aliasesNode.first_child()) {
            aliasesNode.remove_child(aliasesNode.first_child());
        }
        for (const auto& [printer, alias] : aliases) {
            SetText(aliasesNode.append_child("alias"), printer + "|" + alias);
        }
    } catch (const std::exception&) {
        EventLog::Write("Saving settings failed.");
        return false;
    }
    return file.SaveAtomically(path);
}

void AppSettings::SetAlias(const std::string& printerName, const std::string& alias) {
    std::lock_guard guard(listLock);
    SetAliasLocked(printerName, alias);
}

void AppSettings::SetAliasLocked(const std::string& printerName, const std::string& alias) {
    if (alias.empty()) {
        aliases.erase(printerName);
    } else {
        aliases[printerName] = alias;
    }
}

std::string AppSettings::GetAlias(const std::string& printerName) const {
    std::lock_guard guard(listLock);
    const auto found = aliases.find(printerName);
    return found == aliases.end() ? printerName : found->second;
}

std::string AppSettings::ResolvePrinterName(const std::string& name) const {
    const std::string wanted = AsciiUpper(name);
    std::lock_guard guard(listLock);
    for (const auto& [printer, alias] : aliases) {
        if (AsciiUpper(alias) == wanted) {
            return printer;
        }
    }
    return name;
}

std::vector<std::string> AppSettings::GetPublishedPrinters() const {
    std::lock_guard guard(listLock);
    std::vector<std::string> published;
    published.reserve(printers.size());
    for (const std::string& printer : printers) {
        const auto found = aliases.find(printer);
        published.push_back(found == aliases.end() ? printer : found->second);
    }
    return published;
}

bool AppSettings::IsOffered(const std::string& printerName) const {
    std::lock_guard guard(listLock);
    return std::find(printers.begin(), printers.end(), printerName) != printers.end();
}

std::string AppSettings::GetMacForAddress(const std::string& ipv4Text) {
    for (const NetworkAdapter& adapter : ListNetworkAdapters()) {
        for (const std::string& address : adapter.addresses) {
            if (address == ipv4Text) {
                return adapter.mac;
            }
        }
    }
    return {};
}

std::vector<std::string> AppSettings::Printers() const {
    std::lock_guard guard(listLock);
    return printers;
}

void AppSettings::SetPrinters(std::vector<std::string> names) {
    std::lock_guard guard(listLock);
    printers = std::move(names);
}

void AppSettings::SetPrintersAndAliases(
    std::vector<std::string> names, const std::vector<std::pair<std::string, std::string>>& printerAliases) {
    std::lock_guard guard(listLock);
    for (const auto& [printer, alias] : printerAliases) {
        SetAliasLocked(printer, alias);
    }
    printers = std::move(names);
}

std::map<std::string, std::string> AppSettings::Aliases() const {
    std::lock_guard guard(listLock);
    return aliases;
}

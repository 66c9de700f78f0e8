#include "PadMessages.h"

#include "platform/CodePage.h"

#include <pugixml.hpp>

#include <sstream>

namespace {

pugi::xml_node AddCommand(pugi::xml_document& document, const char* type) {
    pugi::xml_node command = document.append_child("commands").append_child("command");
    command.append_attribute("type") = type;
    return command;
}

void AddParameter(pugi::xml_node parameters, const char* type, const std::string& value) {
    pugi::xml_node parameter = parameters.append_child("parameter");
    parameter.append_attribute("type") = type;
    parameter.text().set(value.c_str());
}

std::string ToWire(const pugi::xml_document& document) {
    std::ostringstream text;
    document.save(text, "", pugi::format_raw | pugi::format_no_declaration);
    return CodePage::Wire().Encode(text.str());
}

bool Load(pugi::xml_document& document, const std::string& wireBytes, const char* expectedType) {
    const std::string text = CodePage::Wire().Decode(wireBytes);
    if (!document.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8)) {
        return false;
    }
    const pugi::xml_node command = document.select_node("//command").node();
    return command && std::string(command.attribute("type").value()) == expectedType;
}

} // namespace

std::string PadMessages::PrintFile(const std::string& archiveName, const std::string& base64,
                                   const std::string& preview, const std::string& printer, int copies) {
    pugi::xml_document document;
    pugi::xml_node parameters = AddCommand(document, "PFL").append_child("parameters");
    AddParameter(parameters, "FILE_NAME", archiveName);
    AddParameter(parameters, "FILE_PREVIEW", preview);
    AddParameter(parameters, "PRINTER", printer);
    AddParameter(parameters, "COPIES", std::to_string(copies));
    AddParameter(parameters, "FILE_CONTENT", base64);
    return ToWire(document);
}

std::string PadMessages::CloseRequest() {
    pugi::xml_document document;
    AddCommand(document, "PRF");
    return ToWire(document);
}

std::optional<PrinterList> PadMessages::ReadPrinterList(const std::string& wireBytes) {
    pugi::xml_document document;
    if (!Load(document, wireBytes, "PLS")) {
        return std::nullopt;
    }
    PrinterList list;
    for (const pugi::xpath_node& found : document.select_nodes("//parameter")) {
        const std::string type = found.node().attribute("type").value();
        if (type == "HOST_NAME") {
            list.hostName = found.node().text().get();
        } else if (type == "PRN_NAME") {
            list.printers.emplace_back(found.node().text().get());
        }
    }
    return list;
}

std::optional<PrintAnswer> PadMessages::ReadPrintResult(const std::string& wireBytes) {
    pugi::xml_document document;
    if (!Load(document, wireBytes, "PRP")) {
        return std::nullopt;
    }
    const pugi::xml_node result = document.select_node("//parameter[@type='RESULT']").node();
    if (!result) {
        return std::nullopt;
    }
    PrintAnswer answer;
    answer.result = result.text().as_int();
    answer.reason = static_cast<unsigned long>(document.select_node("//error").node().text().as_ullong());
    return answer;
}

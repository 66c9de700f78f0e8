#include "PadOptions.h"

#include <charconv>
#include <filesystem>
#include <string_view>
#include <vector>

namespace {

bool ParseNumber(const std::string& text, int& value, int minimum) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= minimum;
}

} // namespace

const char* PadOptions::Usage() {
    return "usage: qopra-pad [--server ADDR] [--udp-port 2001] [--pad-port 2000] [--bind ADDR] "
           "[--broadcast]\n"
           "                 [--timeout SECONDS] [--raw]\n"
           "                 list | print FILE --printer NAME [--copies N] [--preview NAME] [--name "
           "ARCHIVE.7z]"
           " | close\n";
}

std::optional<PadOptions> PadOptions::Parse(int argc, char** argv, std::string& error) {
    PadOptions options;
    std::vector<std::string> words;
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&]() -> std::optional<std::string> {
            if (i + 1 >= arguments.size()) {
                error = argument + " needs a value";
                return std::nullopt;
            }
            return arguments[++i];
        };
        std::optional<std::string> text;
        if (argument == "--broadcast") {
            options.broadcast = true;
        } else if (argument == "--raw") {
            options.raw = true;
        } else if (argument.rfind("--", 0) != 0) {
            words.push_back(argument);
        } else if (!(text = value())) {
            return std::nullopt;
        } else if (argument == "--server") {
            options.server = *text;
        } else if (argument == "--udp-port") {
            options.udpPort = *text;
        } else if (argument == "--pad-port") {
            options.padPort = *text;
        } else if (argument == "--bind") {
            options.bindAddress = *text;
        } else if (argument == "--printer") {
            options.printer = *text;
        } else if (argument == "--preview") {
            options.preview = *text;
        } else if (argument == "--name") {
            options.archiveName = *text;
        } else if (argument == "--copies") {
            if (!ParseNumber(*text, options.copies, 0)) {
                error = "--copies needs a number";
                return std::nullopt;
            }
        } else if (argument == "--timeout") {
            if (!ParseNumber(*text, options.timeoutSeconds, 1)) {
                error = "--timeout needs a positive number of seconds";
                return std::nullopt;
            }
        } else {
            error = "unknown option " + argument;
            return std::nullopt;
        }
    }
    if (words.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    if (words[0] == "list" && words.size() == 1) {
        options.action = Action::List;
    } else if (words[0] == "close" && words.size() == 1) {
        options.action = Action::Close;
    } else if (words[0] == "print" && words.size() == 2) {
        options.action = Action::Print;
        options.file = words[1];
        if (options.printer.empty()) {
            error = "print needs --printer NAME";
            return std::nullopt;
        }
        const std::string fileName = std::filesystem::path(options.file).filename().string();
        if (options.preview.empty()) {
            options.preview = fileName;
        }
        if (options.archiveName.empty()) {
            options.archiveName = fileName + ".7z";
        }
    } else {
        error = "unknown command or wrong number of arguments";
        return std::nullopt;
    }
    if (options.broadcast) {
        options.server = "255.255.255.255";
    }
    return options;
}

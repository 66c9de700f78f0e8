#include "PadOptions.h"

#include "platform/CodePage.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <iterator>
#include <string_view>
#include <vector>

namespace {

constexpr std::string_view kValueOptions[] = {"--server",  "--udp-port", "--pad-port", "--bind",
                                              "--printer", "--preview",  "--name",     "--copies",
                                              "--timeout", "--codepage"};

bool ParseNumber(const std::string& text, int& value, int minimum) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= minimum;
}

} // namespace

std::string PadOptions::Synopsis() {
    return "usage: qopra-pad [OPTIONS] list | print FILE --printer NAME [--copies N] | close\n"
           "       qopra-pad --help lists every option\n";
}

std::string PadOptions::Usage() {
    const PadOptions defaults;
    return "usage: qopra-pad [OPTIONS] list\n"
           "       qopra-pad [OPTIONS] print FILE --printer NAME [--copies N] [--preview NAME] [--name "
           "ARCHIVE.7z]\n"
           "       qopra-pad [OPTIONS] close\n"
           "Plays a tablet or phone against a Qopra server: sends the discovery datagram, waits for the\n"
           "server to connect back, and shows its printer list (list), the result of a print (print) or\n"
           "that it closed the connection (close).\n"
           "\n"
           "Options (default in brackets):\n"
           "  --server HOST     the server's name or IPv4 address [" +
           defaults.server +
           "]\n"
           "  --broadcast       send the discovery datagram to 255.255.255.255 instead of --server\n"
           "  --udp-port PORT   the server's discovery port, local_port of its settings [" +
           defaults.udpPort +
           "]\n"
           "  --pad-port PORT   the TCP port here that the server connects to, pad_port of its settings [" +
           defaults.padPort +
           "]\n"
           "  --bind HOST       the local address to send from and listen on [any]\n"
           "  --timeout SECONDS time limit for the whole exchange [" +
           std::to_string(defaults.timeoutSeconds) +
           "]\n"
           "  --codepage N      the Windows code page of the texts sent and received, codepage of the\n"
           "                    server's settings (932 Japanese, 1251 Cyrillic, ...) [" +
           std::to_string(defaults.codePage) +
           "]\n"
           "  --raw             print the printer list as the bytes received and the result as\n"
           "                    \"RESULT n REASON n\", for scripts\n"
           "  -h, --help        show this text\n"
           "Options of print:\n"
           "  --printer NAME    the printer, by the name the server offers (required)\n"
           "  --copies N        copies [" +
           std::to_string(defaults.copies) +
           "]\n"
           "  --preview NAME    the document inside the archive [the file's name]; FILE may be a folder,\n"
           "                    sent whole (a page with its pictures), with --preview naming the page\n"
           "  --name NAME       the archive's name [the file's name and .7z]\n"
           "\n"
           "Exit status: 0 done (printed), 1 the server answered that printing failed, 2 a usage or\n"
           "network error.\n";
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
        if (argument == "--help" || argument == "-h") {
            PadOptions help;
            help.help = true;
            return help;
        } else if (argument == "--broadcast") {
            options.broadcast = true;
        } else if (argument == "--raw") {
            options.raw = true;
        } else if (argument.rfind("--", 0) != 0) {
            words.push_back(argument);
        } else if (std::find(std::begin(kValueOptions), std::end(kValueOptions), argument) ==
                   std::end(kValueOptions)) {
            error = "unknown option " + argument;
            return std::nullopt;
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
        } else if (argument == "--codepage") {
            if (!ParseNumber(*text, options.codePage, 1) || !CodePage(options.codePage).IsSupported()) {
                error = "--codepage needs the number of an 8-bit Windows code page that this system can "
                        "convert, such as 1252 or 932";
                return std::nullopt;
            }
        } else if (argument == "--timeout") {
            if (!ParseNumber(*text, options.timeoutSeconds, 1)) {
                error = "--timeout needs a positive number of seconds";
                return std::nullopt;
            }
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

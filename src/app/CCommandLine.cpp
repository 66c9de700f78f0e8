#include "app/CCommandLine.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>

#include "app/EventLog.h"
#include "platform/Unicode.h"

namespace {

constexpr std::string_view kForceAdmin = "forceAdmin";
constexpr std::string_view kAutostartCheck = "autostartcheck";
constexpr std::string_view kCheckState = "checkstate";
constexpr std::string_view kCheckStateAssignment = "checkstate=";
constexpr std::string_view kHeadless = "headless";
// Matched whole after the leading "-" or "/": "-hx" asks for nothing.
constexpr std::string_view kHelpNames[] = {"h", "-help", "help"};
constexpr std::string_view kVersionNames[] = {"-version", "version"};
constexpr std::string_view kRetire = "retire";

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && AsciiLower(text.substr(0, prefix.size())) == AsciiLower(prefix);
}

} // namespace

StartupFlags& CCommandLine::Flags() {
    static StartupFlags flags;
    return flags;
}

void CCommandLine::Parse(const std::vector<std::string>& arguments, StartupFlags& flags) {
    for (const std::string& argument : arguments) {
        ParseParam(argument, flags);
    }
}

void CCommandLine::ParseParam(const std::string& parameter, StartupFlags& flags) {
    if (parameter.empty() || (parameter[0] != '-' && parameter[0] != '/')) {
        return;
    }
    const std::string_view option = std::string_view(parameter).substr(1);
    if (StartsWithIgnoringCase(option, kForceAdmin)) {
        flags.forceAdmin = true;
    } else if (StartsWith(option, kAutostartCheck)) {
        flags.autostartCheck = true;
        EventLog::Write("autostartcheck = %d", 1);
    } else if (StartsWith(option, kCheckState)) {
        std::string rest = AsciiLower(option);
        for (std::size_t at = rest.find(kCheckStateAssignment); at != std::string::npos;
             at = rest.find(kCheckStateAssignment)) {
            rest.erase(at, kCheckStateAssignment.size());
        }
        flags.checkState = static_cast<int>(std::strtol(rest.c_str(), nullptr, 10));
        EventLog::Write("checkstate = %d", flags.checkState);
    } else if (StartsWithIgnoringCase(option, kHeadless)) {
        flags.headless = true;
    } else if (std::find(std::begin(kHelpNames), std::end(kHelpNames), option) != std::end(kHelpNames)) {
        flags.help = true;
    } else if (option == kRetire) {
        flags.retire = true;
    } else if (std::find(std::begin(kVersionNames), std::end(kVersionNames), option) !=
               std::end(kVersionNames)) {
        flags.version = true;
    } else {
        flags.unknownOptions.push_back(parameter);
    }
}

std::string CCommandLine::Usage(const std::filesystem::path& dataFolder,
                                const std::filesystem::path& defaults) {
    const std::string folder = dataFolder.empty()
                                   ? std::string("none (neither XDG_DATA_HOME nor HOME is set)")
                                   : dataFolder.string();
    return "Usage: qopra2 [-headless] [-forceAdmin] [-autostartcheck [-checkstate=N]]\n"
           "Prints on this computer's printers what tablets and phones of the local network send.\n"
           "\n"
           "  -headless        run as a service: no window, no tray icon, the network trace on\n"
           "                   standard output (also chosen when there is no display)\n"
           "  -forceAdmin      start even while another instance runs\n"
           "  -autostartcheck  open the settings window shortly after the start\n"
           "  -checkstate=N    with -autostartcheck: show \"Auto Startup\" ticked when N is 1\n"
           "  -retire          as administrator: only retire the old installation in /opt/Tavelko and\n"
           "                   its autostart entry, then exit (0: nothing of it is left)\n"
           "  -h, --help       show this text and exit\n"
           "  --version        show the version and exit\n"
           "\n"
           "Files:\n"
           "  " +
           folder +
           "\n"
           "      qopra.xml (settings: ports, printers offered, their names), qopra.log (the log of\n"
           "      the current run), printed.xml and the received documents\n"
           "  " +
           defaults.string() +
           "\n"
           "      the defaults copied into a new data folder\n"
           "\n"
           "See qopra2(1).\n";
}

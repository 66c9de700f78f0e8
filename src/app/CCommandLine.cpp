#include "app/CCommandLine.h"

#include <cstdlib>
#include <strings.h>

#include "app/EventLog.h"
#include "platform/Unicode.h"

namespace {

constexpr std::string_view kForceAdmin = "forceAdmin";
constexpr std::string_view kAutostartCheck = "autostartcheck";
constexpr std::string_view kCheckState = "checkstate";
constexpr std::string_view kCheckStateAssignment = "checkstate=";
constexpr std::string_view kHeadless = "headless";

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
    }
}

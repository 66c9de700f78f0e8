#pragma once

#include <optional>
#include <string>

// The command line of qopra-pad.
struct PadOptions {
    enum class Action { List, Print, Close };

    std::string server = "127.0.0.1";
    std::string udpPort = "2001";
    std::string padPort = "2000";
    std::string bindAddress; // empty: any address
    bool broadcast = false;
    bool raw = false;
    bool help = false;
    int timeoutSeconds = 60;
    // The Windows code page of the texts on the wire, the server's `codepage` setting.
    int codePage = 1252;
    Action action = Action::List;
    std::string file;
    std::string printer;
    int copies = 1;
    std::string preview;     // empty: the file's own name
    std::string archiveName; // empty: the file's name and ".7z"

    // Nothing, with `error` set, when the command line is not usable. With "--help" or "-h" only
    // `help` is set.
    static std::optional<PadOptions> Parse(int argc, char** argv, std::string& error);
    // Every option with its default.
    static std::string Usage();
    // The short form shown after a mistake.
    static std::string Synopsis();
};

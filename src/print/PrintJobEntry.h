#pragma once

#include <cstdint>
#include <ctime>
#include <string>

// One job of a printer snapshot.
struct PrintJobEntry {
    // Job status bits.
    static constexpr std::uint32_t kPaused = 0x001;
    static constexpr std::uint32_t kError = 0x002;
    static constexpr std::uint32_t kDeleting = 0x004;
    static constexpr std::uint32_t kSpooling = 0x008;
    static constexpr std::uint32_t kPrinting = 0x010;
    static constexpr std::uint32_t kOffline = 0x020;
    static constexpr std::uint32_t kPaperOut = 0x040;
    static constexpr std::uint32_t kPrinted = 0x080;
    static constexpr std::uint32_t kDeleted = 0x100;
    static constexpr std::uint32_t kBlockedDevice = 0x200;
    static constexpr std::uint32_t kUserIntervention = 0x400;
    static constexpr std::uint32_t kRestarting = 0x800;

    int jobId = 0;
    // The job's name; empty when the spooler gave none.
    std::string documentName;
    std::string userName;
    std::string statusText;
    std::uint32_t status = 0;
    int copies = 1;
    int pagesPrinted = 0;
    int totalPages = 0;
    std::int64_t size = 0;
    std::time_t submitted = 0;
};

#pragma once

#include <cstdint>
#include <string>

// How one print request ended: the result code the device hears, the printer status reported with
// it, and, when it did not print, why in words (for the trace, the log and the person at the desktop).
struct PrintResult {
    enum class Code : int {
        Printed = 0,
        ReceivedFileMissing = 1,
        DecompressFailed = 2,
        DocumentMissing = 3,
        PrintFailed = 4,
    };

    Code code = Code::PrintFailed;
    std::uint32_t printerStatus = 0;
    std::string reason;

    static PrintResult Printed(std::uint32_t status = 0) { return {Code::Printed, status, {}}; }
    static PrintResult Failed(Code code, std::string why, std::uint32_t status = 0) {
        return {code, status, std::move(why)};
    }
    static PrintResult PrintFailed(std::string why, std::uint32_t status = 0) {
        return {Code::PrintFailed, status, std::move(why)};
    }

    bool IsPrinted() const { return code == Code::Printed; }
    // The number the device reads in the print result.
    int Number() const { return static_cast<int>(code); }
};

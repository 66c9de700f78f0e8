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

    // What kept a document from printing, for the person at the desktop.
    enum class Cause {
        None,
        // The printer's state: paused, out of paper, ... (`printerStatus` says which).
        PrinterState,
        NotAPrinter,
        UnsupportedType,
        SpoolerUnreachable,
        // The document did not arrive whole (results 1 to 3).
        NotReceived,
        // The end of the service cut the print short.
        Ended,
        Other,
    };

    Code code = Code::PrintFailed;
    std::uint32_t printerStatus = 0;
    std::string reason;
    Cause cause = Cause::None;

    static PrintResult Printed(std::uint32_t status = 0) { return {Code::Printed, status, {}, Cause::None}; }
    static PrintResult Failed(Code code, std::string why, std::uint32_t status = 0) {
        return {code, status, std::move(why),
                code == Code::PrintFailed ? CauseOf(status) : Cause::NotReceived};
    }
    static PrintResult PrintFailed(std::string why, std::uint32_t status = 0, Cause cause = Cause::None) {
        return {Code::PrintFailed, status, std::move(why), cause == Cause::None ? CauseOf(status) : cause};
    }

    bool IsPrinted() const { return code == Code::Printed; }
    static Cause CauseOf(std::uint32_t status) { return status != 0 ? Cause::PrinterState : Cause::Other; }
    // The number the device reads in the print result.
    int Number() const { return static_cast<int>(code); }
};

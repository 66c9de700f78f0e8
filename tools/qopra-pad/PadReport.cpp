#include "PadReport.h"

#include "print/PrintResult.h"
#include "print/PrinterStatus.h"

#include <cstdio>
#include <utility>

namespace {

constexpr std::pair<unsigned long, const char*> kReasonNames[] = {
    {PrinterStatus::kPaused, "paused"},
    {PrinterStatus::kError, "error"},
    {PrinterStatus::kPendingDeletion, "being deleted"},
    {PrinterStatus::kPaperJam, "paper jam"},
    {PrinterStatus::kPaperOut, "paper out"},
    {PrinterStatus::kManualFeed, "manual feed"},
    {PrinterStatus::kOffline, "offline"},
    {PrinterStatus::kPrinting, "printing"},
    {PrinterStatus::kOutputBinFull, "output bin full"},
    {PrinterStatus::kNotAvailable, "not accepting jobs"},
    {PrinterStatus::kTonerLow, "toner low"},
    {PrinterStatus::kNoToner, "no toner"},
    {PrinterStatus::kDoorOpen, "door open"},
    {PrinterStatus::kServerUnknown, "printer unknown"},
};

std::string Hex(unsigned long value) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

} // namespace

std::string PadReport::Listing(const PrinterList& list) {
    std::string text = "host name: " + list.hostName + "\n";
    for (const std::string& printer : list.printers) {
        text += "printer: " + printer + "\n";
    }
    if (list.printers.empty()) {
        text += "no printers offered\n";
    }
    return text;
}

std::string PadReport::ResultWords(int result) {
    switch (static_cast<PrintResult::Code>(result)) {
    case PrintResult::Code::Printed:
        return "printed";
    case PrintResult::Code::ReceivedFileMissing:
        return "received file not found";
    case PrintResult::Code::DecompressFailed:
        return "archive program not started";
    case PrintResult::Code::DocumentMissing:
        return "document not found";
    case PrintResult::Code::PrintFailed:
        return "print failed";
    }
    return "unknown result";
}

std::string PadReport::ReasonWords(unsigned long reason) {
    if (reason == 0) {
        return "none";
    }
    std::string words;
    unsigned long unnamed = reason;
    for (const auto& [bit, name] : kReasonNames) {
        if ((reason & bit) != 0) {
            words += (words.empty() ? "" : ", ") + std::string(name);
            unnamed &= ~bit;
        }
    }
    if (unnamed != 0) {
        words += (words.empty() ? "other " : ", other ") + Hex(unnamed);
    }
    return words;
}

std::string PadReport::Result(const PrintAnswer& result) {
    return "RESULT " + std::to_string(result.result) + " (" + ResultWords(result.result) + ") REASON " +
           Hex(result.reason) + " (" + ReasonWords(result.reason) + ")";
}

#include "print/PrinterStatus.h"

#include <array>

namespace {

struct Condition {
    std::uint32_t bit;
    const char* words;
};

// The order in which a person reads them: what stops the printer first.
constexpr std::array<Condition, 11> kConditions{{
    {PrinterStatus::kNotAvailable, "not accepting jobs"},
    {PrinterStatus::kPaused, "paused"},
    {PrinterStatus::kOffline, "offline"},
    {PrinterStatus::kPaperOut, "out of paper"},
    {PrinterStatus::kPaperJam, "paper jam"},
    {PrinterStatus::kDoorOpen, "door open"},
    {PrinterStatus::kNoToner, "out of toner"},
    {PrinterStatus::kOutputBinFull, "output bin full"},
    {PrinterStatus::kPendingDeletion, "job deleted"},
    {PrinterStatus::kServerUnknown, "unknown to the spooler"},
    {PrinterStatus::kError, "printer error"},
}};

} // namespace

std::string PrinterStatus::Describe(std::uint32_t status) {
    std::string words;
    for (const Condition& condition : kConditions) {
        if ((status & condition.bit) != 0) {
            words += words.empty() ? "" : ", ";
            words += condition.words;
        }
    }
    return words;
}

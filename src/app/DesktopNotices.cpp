#include "app/DesktopNotices.h"

#include "config/AppSettings.h"
#include "config/LocalizedStrings.h"

#include <array>
#include <utility>

namespace {

enum TextId : unsigned {
    kPrintedTitle = 167,
    kFailedTitle = 193,
    kFailedText = 194,
    kPrintedText = 195,
    kCannotServeTitle = 196,
};

struct ReasonText {
    DesktopNotices::FailureReason reason;
    unsigned id;
    const char* english;
};

constexpr std::array<ReasonText, 11> kReasons = {{
    {DesktopNotices::FailureReason::Paused, 204, "paused"},
    {DesktopNotices::FailureReason::PaperOut, 205, "out of paper"},
    {DesktopNotices::FailureReason::PaperJam, 206, "paper jam"},
    {DesktopNotices::FailureReason::DoorOpen, 207, "a door is open"},
    {DesktopNotices::FailureReason::TonerEmpty, 208, "out of toner"},
    {DesktopNotices::FailureReason::Offline, 209, "offline"},
    {DesktopNotices::FailureReason::PrinterError, 210, "printer error"},
    {DesktopNotices::FailureReason::NotAPrinterHere, 211, "not a printer here"},
    {DesktopNotices::FailureReason::UnsupportedType, 212, "cannot print this type"},
    {DesktopNotices::FailureReason::SpoolerUnreachable, 213, "the print spooler cannot be reached"},
    {DesktopNotices::FailureReason::NotReceived, 214, "the document did not arrive whole"},
}};

// Printer status bits, the most telling first: what the person can mend at the printer.
constexpr std::array<std::pair<std::uint32_t, DesktopNotices::FailureReason>, 8> kStatusReasons = {{
    {0x10, DesktopNotices::FailureReason::PaperOut},
    {0x8, DesktopNotices::FailureReason::PaperJam},
    {0x400000, DesktopNotices::FailureReason::DoorOpen},
    {0x40000, DesktopNotices::FailureReason::TonerEmpty},
    {0x80, DesktopNotices::FailureReason::Offline},
    {0x1, DesktopNotices::FailureReason::Paused},
    {0x1000, DesktopNotices::FailureReason::Paused},
    {0x2, DesktopNotices::FailureReason::PrinterError},
}};

} // namespace

std::string DesktopNotices::ReasonWords(FailureReason reason) {
    for (const ReasonText& entry : kReasons) {
        if (entry.reason == reason) {
            return Text(entry.id, entry.english);
        }
    }
    return {};
}

DesktopNotices::FailureReason DesktopNotices::ReasonOf(std::uint32_t printerStatus) {
    for (const auto& [bit, reason] : kStatusReasons) {
        if ((printerStatus & bit) != 0) {
            return reason;
        }
    }
    return FailureReason::PrinterError;
}

std::string DesktopNotices::Text(unsigned id, const char* english,
                                 std::initializer_list<std::string> arguments) {
    std::string text = english;
    LoadLocalizedString(id, AppSettings::Instance().language, text);
    // Replaced from the last to the first, so that "%1" never eats the start of "%10".
    std::size_t number = arguments.size();
    for (auto argument = std::rbegin(arguments); argument != std::rend(arguments); ++argument, --number) {
        const std::string marker = "%" + std::to_string(number);
        const std::size_t at = text.find(marker);
        if (at != std::string::npos) {
            text.replace(at, marker.size(), *argument);
        }
    }
    return text;
}

void DesktopNotices::PrintFailed(const std::string& document, const std::string& device,
                                 const std::string& reason) {
    if (notifier == nullptr) {
        return;
    }
    notifier->Notify(IDesktopNotifier::Urgency::Normal, Text(kFailedTitle, "Printing failed"),
                     Text(kFailedText, "%1 from %2 was not printed: %3.", {document, device, reason}));
}

void DesktopNotices::Printed(const std::string& document, const std::string& device,
                             const std::string& printer) {
    if (notifier == nullptr || !AppSettings::Instance().notify_printed) {
        return;
    }
    notifier->Notify(IDesktopNotifier::Urgency::Low, Text(kPrintedTitle, "Printed"),
                     Text(kPrintedText, "%1 from %2 was printed on %3.", {document, device, printer}));
}

void DesktopNotices::CannotServe(const std::string& problem) {
    if (notifier == nullptr) {
        return;
    }
    notifier->Notify(IDesktopNotifier::Urgency::Critical,
                     Text(kCannotServeTitle, "Qopra cannot serve the devices"), problem);
}

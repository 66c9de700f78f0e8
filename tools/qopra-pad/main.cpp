// qopra-pad: plays a client device against a running server, for tests and for checking an installation.
#include "ArchivePacker.h"
#include "PadConnection.h"
#include "PadMessages.h"
#include "PadOptions.h"
#include "PadReport.h"
#include "platform/CodePage.h"
#include "protocol/Base64.h"

#include <iostream>

namespace {

constexpr int kSuccess = 0;
constexpr int kPrintFailed = 1;
constexpr int kUsageOrNetworkError = 2;

int Failure(const std::string& what) {
    std::cerr << "qopra-pad: " << what << "\n";
    return kUsageOrNetworkError;
}

// Names go to the server in the wire code page; one it cannot hold would arrive with "?" in its place
// and name nothing there.
bool NamesFitTheCodePage(const PadOptions& options, std::string& error) {
    for (const std::string* name : {&options.preview, &options.archiveName, &options.printer}) {
        if (!CodePage::Wire().CanEncode(*name)) {
            error = "the name " + *name + " cannot be sent in code page " +
                    std::to_string(CodePage::Wire().Number()) +
                    "; --codepage gives the server's code page (its codepage setting)";
            return false;
        }
    }
    return true;
}

int ShowPrinterList(const std::string& wireBytes, bool raw) {
    if (raw) {
        std::cout.write(wireBytes.data(), static_cast<std::streamsize>(wireBytes.size()));
        std::cout.flush();
        return kSuccess;
    }
    const auto list = PadMessages::ReadPrinterList(wireBytes);
    if (!list) {
        return Failure("the server's first message is not a printer list");
    }
    std::cout << PadReport::Listing(*list);
    return kSuccess;
}

int Print(PadConnection& connection, const PadOptions& options, const std::string& archive) {
    const std::string command = PadMessages::PrintFile(options.archiveName, Base64::Encode(archive),
                                                       options.preview, options.printer, options.copies);
    if (!connection.SendMessage(command)) {
        return Failure(connection.Error());
    }
    const auto answer = connection.ReadMessage();
    if (!answer) {
        return Failure(connection.Error());
    }
    const auto result = PadMessages::ReadPrintResult(*answer);
    if (!result) {
        return Failure("the answer is not a print result");
    }
    if (options.raw) {
        std::cout << "RESULT " << result->result << " REASON " << result->reason << "\n";
    } else {
        std::cout << PadReport::Result(*result) << "\n";
    }
    return result->result == 0 ? kSuccess : kPrintFailed;
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    const auto options = PadOptions::Parse(argc, argv, error);
    if (!options) {
        std::cerr << "qopra-pad: " << error << "\n" << PadOptions::Synopsis();
        return kUsageOrNetworkError;
    }
    if (options->help) {
        std::cout << PadOptions::Usage();
        return kSuccess;
    }
    CodePage::SetWire(options->codePage);
    // The document is packed first: a name that cannot be sent, a missing file or a missing 7za needs
    // no server.
    std::string archive;
    if (options->action == PadOptions::Action::Print) {
        if (!NamesFitTheCodePage(*options, error)) {
            return Failure(error);
        }
        const auto packed = ArchivePacker::Pack(options->file, options->archiveName, error);
        if (!packed) {
            return Failure(error);
        }
        archive = *packed;
    }
    PadConnection connection(std::chrono::steady_clock::now() +
                             std::chrono::seconds(options->timeoutSeconds));
    if (!connection.Listen(options->bindAddress, options->padPort) ||
        !connection.Aim(options->server, options->udpPort, options->bindAddress)) {
        return Failure(connection.Error());
    }
    if (!options->raw) {
        std::cerr << "qopra-pad: asking " << options->server << " (" << connection.TargetText()
                  << ") for a connection; waiting up to " << options->timeoutSeconds
                  << " s for it to connect to TCP port " << options->padPort << " here\n";
    }
    if (!connection.Discover(options->broadcast)) {
        return Failure(connection.Error());
    }
    const auto printerList = connection.ReadMessage();
    if (!printerList) {
        return Failure(connection.Error());
    }
    const int shown = ShowPrinterList(*printerList, options->raw);
    if (shown != kSuccess || options->action == PadOptions::Action::List) {
        return shown;
    }
    if (options->action == PadOptions::Action::Print) {
        return Print(connection, *options, archive);
    }
    if (!connection.SendMessage(PadMessages::CloseRequest()) || !connection.WaitClosed()) {
        return Failure(connection.Error());
    }
    std::cout << "closed\n";
    return kSuccess;
}

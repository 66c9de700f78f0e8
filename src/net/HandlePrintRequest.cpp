#include "net/HandlePrintRequest.h"

#include <cstdint>
#include <filesystem>
#include <string>

#include "net/ITCPClient.h"
#include "net/TCPXmlManager.h"
#include "print/DocumentStaging.h"
#include "print/PrintStop.h"
#include "protocol/PrintCommand.h"

void HandlePrintRequest(TCPXmlManager& handler, ITCPClient& connection) {
    PrintCommand& command = handler.Command();
    const std::string id = connection.Id();
    const std::string& fileName = command.FileName();
    const std::string printer = command.ResolvedPrinter();
    handler.TraceFrom(connection.Host(), id + " received " + fileName);

    std::filesystem::path folder;
    std::uint32_t tick = 0;
    DocumentStaging::CreateJobFolder(folder, tick);
    DocumentStaging::CreateFolderTree(folder);
    // A name that would reach outside the working folder is never written; staging reports it as
    // a missing received file.
    if (!folder.empty() && DocumentStaging::IsPlainFileName(fileName)) {
        DocumentStaging::WriteReceivedFile(folder / fileName, command.FileContent());
    }

    std::uint32_t printerStatus = 0;
    const int result =
        DocumentStaging::PrintReceivedDocument(fileName, printer, command.FilePreview(), command.Copies(),
                                               folder, tick, handler.MainWindow(), printerStatus);
    switch (result) {
    case DocumentStaging::kResultPrinted:
        handler.TraceFrom(connection.Host(), id + ": " + fileName + " printed successfully n." +
                                                 command.CopiesText() + " copies on " + printer);
        break;
    case DocumentStaging::kResultReceivedFileMissing:
        handler.TraceFrom(connection.Host(), id + ": unable to find " + fileName);
        break;
    case DocumentStaging::kResultDecompressFailed:
        handler.TraceFrom(connection.Host(), id + ": unable to decompress " + fileName);
        break;
    case DocumentStaging::kResultDocumentMissing:
        handler.TraceFrom(connection.Host(), id + ": unable to find preview file  " + command.FilePreview());
        break;
    case DocumentStaging::kResultPrintFailed:
        handler.TraceFrom(connection.Host(), id + ": " + fileName + " print failed on " + printer);
        break;
    default:
        break;
    }
    connection.Send(command.BuildPrintResult(result, printerStatus));
}

void CancelPrintRequests() {
    PrintStop::Request();
}

void AllowPrintRequests() {
    PrintStop::Clear();
}

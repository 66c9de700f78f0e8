#include "net/HandlePrintRequest.h"

#include <string>

#include "net/ITCPClient.h"
#include "net/TCPXmlManager.h"
#include "print/DocumentStaging.h"
#include "print/PrintContext.h"
#include "print/PrintResult.h"
#include "protocol/IPrintCommand.h"
#include "protocol/PrintRequest.h"
#include "ui/IMainWindowPort.h"

std::vector<std::string> ResultTraceLines(const PrintRequest& request, const PrintResult& result) {
    const std::string& id = request.connectionId;
    std::vector<std::string> lines;
    switch (result.code) {
    case PrintResult::Code::Printed:
        lines.push_back(id + ": " + request.fileName + " printed successfully n." +
                        std::to_string(request.copies) + " copies on " + request.printer);
        break;
    case PrintResult::Code::ReceivedFileMissing:
        lines.push_back(id + ": unable to find " + request.fileName);
        break;
    case PrintResult::Code::DecompressFailed:
        lines.push_back(id + ": unable to decompress " + request.fileName);
        break;
    case PrintResult::Code::DocumentMissing:
        lines.push_back(id + ": unable to find preview file  " + request.documentName);
        break;
    case PrintResult::Code::PrintFailed:
        lines.push_back(id + ": " + request.fileName + " print failed on " + request.printer);
        break;
    }
    if (!result.IsPrinted() && !result.reason.empty()) {
        lines.push_back(id + ": " + result.reason);
    }
    return lines;
}

PrintReport ReportOf(const PrintRequest& request, const PrintResult& result) {
    PrintReport report;
    report.device = request.device;
    report.connectionId = request.connectionId;
    report.receivedFileName = request.fileName;
    report.documentName = request.documentName;
    report.printer = request.printer;
    report.copies = request.copies;
    report.workingFolder = request.workingFolder.string();
    report.registerId = request.registerId;
    report.kept = request.folderKept;
    report.result = result;
    return report;
}

void HandlePrintRequest(TCPXmlManager& handler, ITCPClient& connection, PrintRequest request) {
    request.connectionId = connection.Id();
    request.device = connection.Host();
    handler.TraceRecord(request.device, request.connectionId + " received " + request.fileName);

    // The received file is written on this thread, before the request waits for anything: its
    // Base64 is let go of at once.
    if (DocumentStaging::CreateJobFolder(request) && DocumentStaging::IsPlainFileName(request.fileName)) {
        // A name that would reach outside the working folder is never written; staging reports it as
        // a missing received file.
        DocumentStaging::WriteReceivedFile(request.workingFolder / request.fileName, request.content.View());
    }
    request.content.Release();

    const PrintResult result = DocumentStaging::PrintReceivedDocument(request, handler.Context());
    for (const std::string& line : ResultTraceLines(request, result)) {
        handler.TraceRecord(request.device, line);
    }
    connection.Send(handler.Command().BuildPrintResult(result.Number(), result.printerStatus));
    handler.Folders().Retire(request, result.IsPrinted());
    if (IMainWindowPort* mainWindow = handler.Context().mainWindow) {
        mainWindow->PostPrintReport(ReportOf(request, result));
    }
}

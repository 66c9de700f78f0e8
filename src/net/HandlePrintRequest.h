#pragma once

#include <string>
#include <vector>

class TCPXmlManager;
class ITCPClient;
struct PrintRequest;
struct PrintResult;
struct PrintReport;

// Carries out one print request on the connection that delivered it: its working folder, the received
// file, staging and printing; then answers the device with a print result and traces what became of
// the request. Runs on the connection's own thread.
void HandlePrintRequest(TCPXmlManager& handler, ITCPClient& connection, PrintRequest request);

// What the main window is told of a finished request.
PrintReport ReportOf(const PrintRequest& request, const PrintResult& result);

// The trace lines that tell what became of a request: the result's own line, then why it did not
// print when that is known.
std::vector<std::string> ResultTraceLines(const PrintRequest& request, const PrintResult& result);

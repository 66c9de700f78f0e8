#pragma once

class TCPXmlManager;
class ITCPClient;

// Carries out the print command that `handler`'s command object has just read, on the connection that
// delivered it, and answers the device with a print result.
void HandlePrintRequest(TCPXmlManager& handler, ITCPClient& connection);

// The end of the network service: the print requests under way end at once (and answer that they
// failed); Allow lets later requests print again.
void CancelPrintRequests();
void AllowPrintRequests();

#include "net/NetworkService.h"

#include "config/AppSettings.h"
#include "net/HandlePrintRequest.h"
#include "net/MacToAddress.h"
#include "net/TCPXmlManager.h"
#include "net/UDPServer.h"
#include "net/UDPXmlManager.h"
#include "protocol/PrintCommand.h"

// Declared so that they are destroyed in the right order: the discovery socket first, then the
// connection attempts, then the connections, and the command object they all use last.
struct NetworkService::Members {
    PrintCommand command;
    TCPXmlManager tcpManager;
    UDPXmlManager udpManager;
    UDPServer udpServer;
};

NetworkService::NetworkService() : members(std::make_unique<Members>()) {}

NetworkService::~NetworkService() {
    Stop();
}

void NetworkService::SetTraceSink(ITraceSink* sink) {
    traceSink = sink;
}

void NetworkService::SetMainWindow(IMainWindowPort* port) {
    mainWindow = port;
}

bool NetworkService::StartNetworkService(const std::string& localPort) {
    AppSettings& settings = AppSettings::Instance();
    members->udpServer.SetTraceSink(traceSink);
    members->tcpManager.SetTraceSink(traceSink);
    members->tcpManager.SetDevicePort(settings.pad_port);
    members->tcpManager.SetMainWindow(mainWindow);
    members->tcpManager.SetCommand(&members->command);
    members->udpManager.SetTCPManager(&members->tcpManager);
    members->udpServer.SetManager(&members->udpManager);

    const std::vector<std::string> addresses = CSocketComm::LocalAddressList();
    if (!addresses.empty()) {
        const std::string byMac = MacToAddress(settings.mac);
        settings.local_address = byMac.empty() ? addresses.front() : byMac;
    }
    // A repeated start replaces a socket that is still open instead of failing on it.
    members->udpServer.Stop();
    return members->udpServer.Start(settings.local_address, localPort);
}

int NetworkService::StartError() const {
    return members->udpServer.OpenError();
}

void NetworkService::Stop() {
    members->udpServer.Stop();
    members->tcpManager.AbortConnects();
    members->udpManager.Stop();
    // A print under way ends at once and answers its device; then the connections close.
    CancelPrintRequests();
    members->tcpManager.Stop();
    AllowPrintRequests();
}

#include "net/NetworkService.h"

#include "config/AppSettings.h"
#include "net/MacToAddress.h"
#include "net/TCPXmlManager.h"
#include "net/UDPServer.h"
#include "net/UDPXmlManager.h"
#include "print/DocumentStaging.h"
#include "protocol/PrintCommand.h"

// Declared so that they are destroyed in the right order: the discovery socket first, then the
// connection attempts, then the connections, and the command object they all use last.
struct NetworkService::Members {
    Members(ITraceSink* traceSink, IMainWindowPort* mainWindow) : tcpManager(command, traceSink, mainWindow) {
        udpManager.SetTCPManager(&tcpManager);
        udpServer.SetManager(&udpManager);
        udpServer.SetTraceSink(traceSink);
    }

    PrintCommand command;
    TCPXmlManager tcpManager;
    UDPXmlManager udpManager;
    UDPServer udpServer;
    bool started = false;
};

NetworkService::NetworkService(ITraceSink* traceSink, IMainWindowPort* mainWindow)
    : members(std::make_unique<Members>(traceSink, mainWindow)) {}

NetworkService::~NetworkService() {
    Stop();
}

bool NetworkService::StartNetworkService(const std::string& localPort) {
    AppSettings& settings = AppSettings::Instance();
    if (!members->started) {
        // What an earlier run left of its requests' folders; no request runs yet.
        DocumentStaging::ClearSingleJobFolder();
        members->started = true;
    }
    members->tcpManager.SetDevicePort(settings.pad_port);

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
    // A print under way ends at once and answers its device; then the connections close.
    members->tcpManager.AbortConnects();
    members->udpManager.Stop();
    members->tcpManager.Stop();
}

std::uint16_t NetworkService::LocalPort() const {
    return members->udpServer.LocalPort();
}

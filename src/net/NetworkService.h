#pragma once

#include <memory>
#include <string>

class ITraceSink;
class IMainWindowPort;

// The network objects of the main window (UDP server, TCP handler, UDP handler, command object) and
// their start. Used alike by the desktop window and the headless service.
class NetworkService {
public:
    NetworkService();
    ~NetworkService();
    NetworkService(const NetworkService&) = delete;
    NetworkService& operator=(const NetworkService&) = delete;

    void SetTraceSink(ITraceSink* sink);
    void SetMainWindow(IMainWindowPort* port);

    // Chooses the local address again and starts the discovery server on `localPort`; false when the
    // socket could not be opened (the caller retries later).
    bool StartNetworkService(const std::string& localPort);
    // The system's error of the last start that failed (0: none), and the address it tried.
    int StartError() const;
    // Closes the discovery socket and every device connection, joining their threads.
    void Stop();

private:
    struct Members;
    std::unique_ptr<Members> members;
    ITraceSink* traceSink = nullptr;
    IMainWindowPort* mainWindow = nullptr;
};

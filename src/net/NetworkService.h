#pragma once

#include <cstdint>
#include <memory>
#include <string>

class ITraceSink;
class IMainWindowPort;

// The network objects of the main window (UDP server, TCP handler, UDP handler, command object) and
// their start. Used alike by the desktop window and the headless service. Everything the threads of
// the service read is handed over when the service is made, before any thread runs.
class NetworkService {
public:
    NetworkService(ITraceSink* traceSink, IMainWindowPort* mainWindow);
    ~NetworkService();
    NetworkService(const NetworkService&) = delete;
    NetworkService& operator=(const NetworkService&) = delete;

    // Chooses the local address again and starts the discovery server on `localPort`; false when the
    // socket could not be opened (the caller retries later). Connections to devices stay as they are.
    bool StartNetworkService(const std::string& localPort);
    // The system's error of the last start that failed (0: none).
    int StartError() const;
    // Ends the prints under way (their devices hear that they failed), closes the discovery socket and
    // every device connection, joining their threads. The service may be started again.
    void Stop();
    // The discovery port in use (0: none), as the kernel chose it when started on port "0".
    std::uint16_t LocalPort() const;

private:
    struct Members;
    std::unique_ptr<Members> members;
};

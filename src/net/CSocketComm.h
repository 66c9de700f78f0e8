#pragma once

#include <netinet/in.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

// One IPv4 socket (a datagram socket or a stream connection) and the thread that watches it. The watch
// thread blocks until data arrives, collects what is there as one burst and hands it to the derived
// class. Connections are always opened by this side; there is no listening stream socket.
class CSocketComm {
public:
    // What HandleSocketEvent reports.
    enum SocketEvent : int {
        kAccepted = 0,
        kAcceptFailed = 1,
        kReadFailed = 2,
        kEmptyDatagram = 3,
    };

    static constexpr std::size_t kAddressSize = sizeof(sockaddr_in);
    static constexpr std::size_t kWatchBufferSize = 409600;
    // A connection's bursts are framed into messages as they come, so a smaller buffer costs nothing
    // but keeps sixty-four busy connections from holding 25 MB of buffers.
    static constexpr std::size_t kStreamBufferSize = 64 * 1024;
    static constexpr std::chrono::milliseconds kConnectTimeout{5000};
    static constexpr std::chrono::milliseconds kDefaultSendTimeout{5000};
    // Datagram peers remembered; beyond this the oldest is forgotten, so that datagrams from ever new
    // source addresses and ports cannot make the list (and the work on every datagram) grow for ever.
    static constexpr std::size_t kMaxPeers = 1024;

    CSocketComm();
    virtual ~CSocketComm();
    CSocketComm(const CSocketComm&) = delete;
    CSocketComm& operator=(const CSocketComm&) = delete;

    // Opens a UDP socket with broadcast allowed, bound to the wildcard address and `port`. With a host,
    // that address must be one of this machine's and only datagrams for it are accepted (addressed to
    // it, arriving on its interface, or arriving on the loopback); without one every datagram is.
    bool CreateDatagramSocket(const std::optional<std::string>& host, const std::string& port);
    // The system's error of the last socket that could not be opened or bound (0: none).
    int OpenError() const { return openError; }
    // Opens a TCP connection to host:port, giving up after kConnectTimeout or when Stop is called.
    bool ConnectTo(const std::string& host, const std::string& port);
    // Takes a stream socket that is already connected (made by a connection attempt elsewhere).
    bool AdoptStream(int fd);
    bool StartWatch();
    // Closes the socket, wakes and joins the watch thread and forgets the datagram peers. A thread that
    // waits on its socket is woken at once; one inside a handler is joined when the handler returns, so
    // that no thread is ever left running on a destroyed object. Called on the watch thread itself it
    // only closes the socket (the owner stops the object again from another thread).
    void Stop();

    // Reads what has arrived by now without waiting: bytes read, 0 when nothing is there (or the datagram
    // was not for us), -1 on failure or a closed connection.
    int ReadData(char* buffer, std::size_t size);
    // Writes the whole buffer, waiting at most the send time-out for the peer to take it: bytes written,
    // 0 when there is no socket or buffer, -1 on failure or time-out.
    int WriteData(const char* buffer, std::size_t length);

    bool IsOpen() const { return sock.load() >= 0; }
    bool IsDatagram() const { return isDatagram.load(); }
    void SetServer(bool value) { isServer = value; }
    void SetPrefixAddress(bool value) { prefixAddress = value; }
    void SetSendTimeout(std::chrono::milliseconds timeout) { sendTimeout = timeout; }
    std::vector<sockaddr_in> Peers() const;
    // The local port the socket is bound to (0 when closed).
    std::uint16_t LocalPort() const;

    static std::uint16_t PortFromText(const std::string& text);
    // Host order; the all-ones address when the text is neither an address nor a known host name. No
    // text means the local host name.
    static std::uint32_t AddressFromText(const std::optional<std::string>& text);
    static bool FillAddress(sockaddr_in& address, const std::optional<std::string>& host,
                            const std::string& port);
    // The host's official name, or the name itself when it cannot be resolved; empty on failure.
    static std::string LocalHostName();
    static std::optional<std::string> LocalAddressText();
    static std::string AddressText(const sockaddr_in& address);
    // IPv4 addresses of the interfaces that are up and not the loopback, in interface order.
    static std::vector<std::string> LocalAddressList();
    static bool SamePeer(const sockaddr_in& a, const sockaddr_in& b);

protected:
    // Called on the watch thread with each burst; `data` is valid only during the call.
    virtual void HandleReceived(const char* data, std::size_t length);
    virtual void HandleSocketEvent(int code);
    virtual void WatchLoop();
    // Called on the watch thread as its last act, after the loop has ended for any reason.
    virtual void HandleWatchEnded() {}

    // Marks the socket closed and wakes the watch thread; the descriptor itself is released once the
    // watch thread has let go of it. Safe from any thread, the watch thread included.
    void CloseSocket();
    std::optional<sockaddr_in> PeerAddress() const;

private:
    struct Filter {
        in_addr address{};
        unsigned interfaceIndex = 0;
    };

    bool WaitReadable();
    bool WaitWritable(std::chrono::milliseconds timeout);
    int ReadDatagram(char* buffer, std::size_t size);
    bool AcceptDatagram(const in_addr& destination, unsigned interfaceIndex) const;
    void RememberPeer(const sockaddr_in& sender, bool received);
    void ReleaseDescriptor();
    void Wake();
    void RunWatch();

    std::atomic<int> sock{-1};
    int wakeFd = -1;
    int heldFd = -1; // the descriptor, kept until nobody can be using it
    std::thread watchThread;
    bool isServer = false;
    bool prefixAddress = false;
    std::atomic<bool> isDatagram = false;
    std::vector<sockaddr_in> peerList;
    mutable std::mutex peerLock;
    std::optional<Filter> filter;
    unsigned loopbackIndex = 0;
    std::chrono::milliseconds sendTimeout = kDefaultSendTimeout;
    int openError = 0;
};

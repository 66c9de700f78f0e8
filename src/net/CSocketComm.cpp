#include "net/CSocketComm.h"

#include "platform/CodePage.h"
#include "platform/NetworkAdapters.h"
#include "platform/Unicode.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <system_error>

namespace {

constexpr std::uint32_t kAllOnes = 0xFFFFFFFFu;
constexpr std::size_t kHostNameCapacity = 260;

sockaddr_in WildcardAddress(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return address;
}

const sockaddr* AsSockaddr(const sockaddr_in& address) {
    return reinterpret_cast<const sockaddr*>(&address);
}

sockaddr* AsSockaddr(sockaddr_in& address) {
    return reinterpret_cast<sockaddr*>(&address);
}

int PollTimeout(std::chrono::steady_clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<int>(std::clamp<std::chrono::milliseconds::rep>(left.count(), 0, INT_MAX));
}

// Interface index of the interface that carries `address`, 0 when none of ours does.
unsigned InterfaceOf(const in_addr& address) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return 0;
    }
    unsigned index = 0;
    for (const ifaddrs* entry = list; entry != nullptr && index == 0; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) {
            continue;
        }
        const auto* inet = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
        if (inet->sin_addr.s_addr == address.s_addr) {
            index = if_nametoindex(entry->ifa_name);
        }
    }
    freeifaddrs(list);
    return index;
}

unsigned LoopbackInterface() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return 0;
    }
    unsigned index = 0;
    for (const ifaddrs* entry = list; entry != nullptr && index == 0; entry = entry->ifa_next) {
        if ((entry->ifa_flags & IFF_LOOPBACK) != 0) {
            index = if_nametoindex(entry->ifa_name);
        }
    }
    freeifaddrs(list);
    return index;
}

} // namespace

CSocketComm::CSocketComm() : wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CSocketComm::~CSocketComm() {
    Stop();
    if (wakeFd >= 0) {
        close(wakeFd);
    }
}

bool CSocketComm::CreateDatagramSocket(const std::optional<std::string>& host, const std::string& port) {
    if (IsOpen() || heldFd >= 0) {
        openError = EBUSY;
        return false;
    }
    openError = 0;
    std::optional<Filter> wanted;
    if (host.has_value() && !host->empty()) {
        Filter chosen;
        chosen.address.s_addr = htonl(AddressFromText(host));
        chosen.interfaceIndex = InterfaceOf(chosen.address);
        if (chosen.interfaceIndex == 0) {
            openError = EADDRNOTAVAIL; // not an address of this machine
            return false;
        }
        wanted = chosen;
    }
    const std::uint16_t portNumber = PortFromText(port);
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        openError = errno;
        return false;
    }
    // No SO_REUSEADDR: with it a second server could bind the same port and unicast datagrams would
    // reach only one of the two, so the second start has to fail instead.
    const int on = 1;
    const sockaddr_in bound = WildcardAddress(portNumber);
    if (setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on) != 0 ||
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on) != 0 ||
        bind(fd, AsSockaddr(bound), sizeof bound) != 0) {
        openError = errno;
        close(fd);
        return false;
    }
    filter = wanted;
    loopbackIndex = LoopbackInterface();
    isDatagram = true;
    heldFd = fd;
    sock = fd;
    return true;
}

bool CSocketComm::ConnectTo(const std::string& host, const std::string& port) {
    if (IsOpen() || heldFd >= 0) {
        return false;
    }
    sockaddr_in target{};
    if (!FillAddress(target, host, port)) {
        return false;
    }
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return false;
    }
    // The kernel chooses the source address: the host name may well resolve to a loopback address.
    if (connect(fd, AsSockaddr(target), sizeof target) != 0) {
        if (errno != EINPROGRESS) {
            close(fd);
            return false;
        }
        const auto deadline = std::chrono::steady_clock::now() + kConnectTimeout;
        pollfd waits[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
        int ready = 0;
        do {
            ready = poll(waits, 2, PollTimeout(deadline));
        } while (ready < 0 && errno == EINTR);
        int error = 0;
        socklen_t errorSize = sizeof error;
        if (ready <= 0 || (waits[1].revents & POLLIN) != 0 ||
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &errorSize) != 0 || error != 0) {
            close(fd);
            return false;
        }
    }
    heldFd = fd;
    sock = fd;
    return true;
}

bool CSocketComm::AdoptStream(int fd) {
    if (fd < 0 || IsOpen() || heldFd >= 0) {
        return false;
    }
    heldFd = fd;
    sock = fd;
    return true;
}

bool CSocketComm::StartWatch() {
    if (watchThread.joinable() || !IsOpen()) {
        return false;
    }
    try {
        watchThread = std::thread(&CSocketComm::RunWatch, this);
    } catch (const std::system_error&) {
        return false; // the system has no thread to give: a failure, not the end of the process
    }
    return true;
}

void CSocketComm::RunWatch() {
    WatchLoop();
    HandleWatchEnded();
}

void CSocketComm::Stop() {
    CloseSocket();
    if (watchThread.joinable()) {
        if (watchThread.get_id() == std::this_thread::get_id()) {
            return; // joining itself would never end
        }
        watchThread.join();
    }
    ReleaseDescriptor();
    if (wakeFd >= 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] const auto drained = read(wakeFd, &count, sizeof count);
    }
    std::lock_guard guard(peerLock);
    peerList.clear();
}

void CSocketComm::CloseSocket() {
    const int fd = sock.exchange(-1);
    if (fd >= 0) {
        shutdown(fd, SHUT_RDWR);
        isDatagram = false;
    }
    Wake();
}

void CSocketComm::Wake() {
    if (wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = write(wakeFd, &one, sizeof one);
    }
}

void CSocketComm::ReleaseDescriptor() {
    if (heldFd >= 0) {
        close(heldFd);
        heldFd = -1;
    }
    filter.reset();
}

std::optional<sockaddr_in> CSocketComm::PeerAddress() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (heldFd < 0 || getpeername(heldFd, AsSockaddr(address), &size) != 0) {
        return std::nullopt;
    }
    std::memset(address.sin_zero, 0, sizeof address.sin_zero);
    return address;
}

std::uint16_t CSocketComm::LocalPort() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (heldFd < 0 || getsockname(heldFd, AsSockaddr(address), &size) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

std::vector<sockaddr_in> CSocketComm::Peers() const {
    std::lock_guard guard(peerLock);
    return peerList;
}

void CSocketComm::HandleReceived(const char*, std::size_t) {}

void CSocketComm::HandleSocketEvent(int) {}

bool CSocketComm::WaitReadable() {
    pollfd waits[2] = {{heldFd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    int ready = 0;
    do {
        ready = poll(waits, 2, -1);
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (waits[1].revents & POLLIN) == 0 && IsOpen();
}

void CSocketComm::WatchLoop() {
    const std::size_t prefix = prefixAddress ? kAddressSize : 0;
    const std::size_t capacity = (IsDatagram() ? kWatchBufferSize : kStreamBufferSize) + prefix;
    // Not initialised: pages the bursts never reach are never touched, which keeps idle connections small.
    const auto buffer = std::make_unique_for_overwrite<char[]>(capacity);
    while (IsOpen() && WaitReadable()) {
        std::size_t total = 0;
        bool failed = false;
        if (IsDatagram()) {
            // Every datagram is a burst of its own: two devices heard at once are two requests.
            const int count = ReadData(buffer.get(), capacity);
            failed = count < 0;
            total = failed ? 0 : static_cast<std::size_t>(count);
        } else {
            for (;;) {
                const int count = ReadData(buffer.get() + total, capacity - total);
                if (count < 0) {
                    failed = true;
                }
                if (count <= 0) {
                    break;
                }
                total += static_cast<std::size_t>(count);
            }
        }
        if (failed) {
            // A device may send its last message and close at once: what came before the end is
            // still its message.
            if (!IsDatagram() && total > 0 && IsOpen()) {
                HandleReceived(buffer.get(), total);
            }
            if (IsOpen()) {
                HandleSocketEvent(kReadFailed);
            }
            if (!IsDatagram()) {
                break;
            }
            continue;
        }
        if (prefixAddress && total == kAddressSize) {
            HandleSocketEvent(kEmptyDatagram);
        } else if (total > 0) {
            HandleReceived(buffer.get(), total);
        }
    }
}

int CSocketComm::ReadData(char* buffer, std::size_t size) {
    if (buffer == nullptr || size == 0 || heldFd < 0) {
        return 0;
    }
    if (IsDatagram() || prefixAddress) {
        return ReadDatagram(buffer, size);
    }
    const ssize_t count = recv(heldFd, buffer, std::min<std::size_t>(size, INT_MAX), MSG_DONTWAIT);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return 0;
    }
    return count <= 0 ? -1 : static_cast<int>(count);
}

int CSocketComm::ReadDatagram(char* buffer, std::size_t size) {
    const std::size_t prefix = prefixAddress ? kAddressSize : 0;
    if (size < prefix) {
        return -1;
    }
    sockaddr_in sender{};
    iovec part{buffer + prefix, std::min<std::size_t>(size - prefix, INT_MAX)};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t count = recvmsg(heldFd, &message, MSG_DONTWAIT);
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
        return 0;
    }
    for (cmsghdr* header = CMSG_FIRSTHDR(&message); header != nullptr && count >= 0;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == IPPROTO_IP && header->cmsg_type == IP_PKTINFO) {
            in_pktinfo info{};
            std::memcpy(&info, CMSG_DATA(header), sizeof info);
            if (!AcceptDatagram(info.ipi_addr, static_cast<unsigned>(info.ipi_ifindex))) {
                return 0;
            }
        }
    }
    std::memset(sender.sin_zero, 0, sizeof sender.sin_zero);
    RememberPeer(sender, count >= 0);
    if (count < 0) {
        return -1;
    }
    std::size_t total = static_cast<std::size_t>(count);
    if (prefixAddress) {
        std::memcpy(buffer, &sender, kAddressSize);
        total += kAddressSize;
    }
    return total == 0 ? -1 : static_cast<int>(total);
}

bool CSocketComm::AcceptDatagram(const in_addr& destination, unsigned interfaceIndex) const {
    if (!filter.has_value()) {
        return true;
    }
    return destination.s_addr == filter->address.s_addr || interfaceIndex == filter->interfaceIndex ||
           (loopbackIndex != 0 && interfaceIndex == loopbackIndex);
}

void CSocketComm::RememberPeer(const sockaddr_in& sender, bool received) {
    std::lock_guard guard(peerLock);
    std::erase_if(peerList, [&](const sockaddr_in& peer) { return SamePeer(peer, sender); });
    if (received) {
        if (peerList.size() >= kMaxPeers) {
            peerList.erase(peerList.begin());
        }
        peerList.push_back(sender);
    }
}

bool CSocketComm::WaitWritable(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd waits[2] = {{heldFd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    int ready = 0;
    do {
        ready = poll(waits, 2, PollTimeout(deadline));
    } while (ready < 0 && errno == EINTR);
    return ready > 0 && (waits[1].revents & POLLIN) == 0 && (waits[0].revents & POLLOUT) != 0;
}

int CSocketComm::WriteData(const char* buffer, std::size_t length) {
    if (!IsOpen() || buffer == nullptr) {
        return 0;
    }
    const auto deadline = std::chrono::steady_clock::now() + sendTimeout;
    // A device that never reads must not hold the sender for ever: wait for room up to the deadline.
    const auto waitForRoom = [&]() {
        return (errno == EAGAIN || errno == EWOULDBLOCK) &&
               WaitWritable(std::chrono::duration_cast<std::chrono::milliseconds>(
                   deadline - std::chrono::steady_clock::now()));
    };
    const auto sendStream = [&](const char* data, std::size_t size) {
        std::size_t done = 0;
        while (done < size) {
            const ssize_t count = send(heldFd, data + done, size - done, MSG_DONTWAIT | MSG_NOSIGNAL);
            if (count >= 0) {
                done += static_cast<std::size_t>(count);
            } else if (errno != EINTR && !waitForRoom()) {
                return false;
            }
        }
        return true;
    };
    const auto sendTo = [&](const char* data, std::size_t size, const sockaddr_in& to) {
        for (;;) {
            if (sendto(heldFd, data, size, MSG_DONTWAIT | MSG_NOSIGNAL, AsSockaddr(to), sizeof to) >= 0) {
                return true;
            }
            if (errno != EINTR && !waitForRoom()) {
                return false;
            }
        }
    };

    if (!IsDatagram() && !prefixAddress) {
        return sendStream(buffer, length) ? static_cast<int>(std::min<std::size_t>(length, INT_MAX)) : -1;
    }
    const char* payload = buffer;
    std::size_t payloadLength = length;
    if (prefixAddress) {
        if (length < kAddressSize) {
            return -1;
        }
        sockaddr_in destination{};
        std::memcpy(&destination, buffer, kAddressSize);
        payload += kAddressSize;
        payloadLength -= kAddressSize;
        if (destination.sin_addr.s_addr != htonl(kAllOnes)) {
            return sendTo(payload, payloadLength, destination) ? static_cast<int>(payloadLength) : -1;
        }
    }
    std::lock_guard guard(peerLock);
    std::erase_if(peerList, [&](const sockaddr_in& peer) { return !sendTo(payload, payloadLength, peer); });
    return static_cast<int>(payloadLength);
}

std::uint16_t CSocketComm::PortFromText(const std::string& text) {
    if (!text.empty() && text[0] >= '0' && text[0] <= '9') {
        // Read as a C int is read: a number too large for it is held at the largest int, and that
        // value is then cut to 16 bits like any other.
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
            value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(text[i] - '0'), INT_MAX);
        }
        return static_cast<std::uint16_t>(value);
    }
    if (text.empty()) {
        return 0;
    }
    const std::string name = CodePage::Wire().Encode(text);
    // The reentrant form: ports are read on several threads at once.
    servent entry{};
    servent* service = nullptr;
    char scratch[1024];
    if (getservbyname_r(name.c_str(), nullptr, &entry, scratch, sizeof scratch, &service) != 0 ||
        service == nullptr) {
        return 0;
    }
    return ntohs(static_cast<std::uint16_t>(service->s_port));
}

std::uint32_t CSocketComm::AddressFromText(const std::optional<std::string>& text) {
    std::string name = text.has_value() ? *text : LocalHostName();
    name = CodePage::Wire().Encode(name);
    if (name.size() > kHostNameCapacity) {
        name.resize(kHostNameCapacity);
    }
    if (name == "255.255.255.255") {
        return kAllOnes;
    }
    const in_addr_t dotted = inet_addr(name.c_str());
    if (dotted != INADDR_NONE) {
        return ntohl(dotted);
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (name.empty() || getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return kAllOnes;
    }
    const auto* first = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    const std::uint32_t address = ntohl(first->sin_addr.s_addr);
    freeaddrinfo(found);
    return address;
}

bool CSocketComm::FillAddress(sockaddr_in& address, const std::optional<std::string>& host,
                              const std::string& port) {
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(AddressFromText(host));
    address.sin_port = htons(PortFromText(port));
    return address.sin_addr.s_addr != 0 || address.sin_port != 0;
}

std::string CSocketComm::LocalHostName() {
    char name[kHostNameCapacity + 1] = {};
    if (gethostname(name, kHostNameCapacity) != 0) {
        return {};
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_flags = AI_CANONNAME;
    addrinfo* found = nullptr;
    std::string official = name;
    if (getaddrinfo(name, nullptr, &hints, &found) == 0 && found != nullptr) {
        if (found->ai_canonname != nullptr && found->ai_canonname[0] != '\0') {
            official = found->ai_canonname;
        }
        freeaddrinfo(found);
    }
    // The kernel and the resolver hold names in UTF-8, the program's own text; a name that is not
    // valid UTF-8 came from an 8-bit configuration and is read in the wire code page.
    if (Utf32ToUtf8(Utf8ToUtf32(official)) == official) {
        return official;
    }
    return CodePage::Wire().Decode(official);
}

std::optional<std::string> CSocketComm::LocalAddressText() {
    char name[kHostNameCapacity + 1] = {};
    if (gethostname(name, kHostNameCapacity) != 0) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    sockaddr_in first{};
    std::memcpy(&first, found->ai_addr, sizeof first);
    freeaddrinfo(found);
    return AddressText(first);
}

std::string CSocketComm::AddressText(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}

std::vector<std::string> CSocketComm::LocalAddressList() {
    return ListLocalAddresses();
}

bool CSocketComm::SamePeer(const sockaddr_in& a, const sockaddr_in& b) {
    return a.sin_family == b.sin_family && a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
}

#include "net/TCPClient.h"

#include "net/ITCPManager.h"
#include "platform/CodePage.h"
#include "platform/TickCount.h"
#include "protocol/PrintCommand.h"

#include <algorithm>
#include <cstring>

TCPClient::TCPClient()
    : id(NextId()), lastActivity(std::chrono::steady_clock::now().time_since_epoch().count()) {}

TCPClient::~TCPClient() {
    // Stopped here, not in the base, so that the watch thread never calls into a half-destroyed object.
    Stop();
}

std::string TCPClient::NextId() {
    // The tick count names the connection; two connections made within one millisecond still get
    // different names, so that their trace lines can be told apart.
    static std::atomic<std::uint32_t> last{0};
    std::uint32_t tick = TickCount();
    std::uint32_t previous = last.load();
    do {
        if (tick <= previous && previous - tick < 0x80000000u) {
            tick = previous + 1;
        }
    } while (!last.compare_exchange_weak(previous, tick));
    return "ID" + std::to_string(tick);
}

bool TCPClient::Connect(const std::string& hostText, const std::string& portText) {
    host = hostText;
    port = portText;
    if (!ConnectTo(hostText, portText)) {
        return false;
    }
    if (const auto peer = PeerAddress()) {
        peerAddress = *peer;
    }
    if (!StartWatch()) {
        Stop(); // a connection that nobody watches would never be released
        return false;
    }
    return true;
}

void TCPClient::Close() {
    CloseSocket();
}

void TCPClient::Send(const std::string& text) {
    if (text.empty()) {
        return;
    }
    // The whole message goes out with its 0 byte, however long it is.
    std::string bytes = CodePage::Wire().Encode(text);
    bytes.push_back('\0');
    int written = 0;
    {
        std::lock_guard guard(sendLock);
        written = WriteData(bytes.data(), bytes.size());
    }
    Trace(id + " sent [" + text + "] to " + host, traceSink);
    if (written < 0 && IsOpen()) {
        Trace(id + " unable to send, closing connection.", traceSink);
        Close();
    }
}

std::chrono::steady_clock::time_point TCPClient::LastActivity() const {
    return std::chrono::steady_clock::time_point(std::chrono::steady_clock::duration(lastActivity.load()));
}

void TCPClient::Touch() {
    lastActivity = std::chrono::steady_clock::now().time_since_epoch().count();
}

void TCPClient::HandleReceived(const char* data, std::size_t length) {
    Touch();
    // A print command is megabytes of Base64: the trace shows its beginning, as for any long message.
    const std::size_t textLength = strnlen(data, std::min(length, PrintCommand::kTraceTextLimit));
    Trace(id + " receive [" + CodePage::Wire().Decode(std::string_view(data, textLength)) + "] from " + host,
          traceSink);
    if (manager != nullptr) {
        manager->HandleMessage(data, length, *this);
    }
}

void TCPClient::HandleSocketEvent(int code) {
    switch (code) {
    case kAccepted:
        Trace(id + " connection established", traceSink);
        break;
    case kAcceptFailed:
        Trace(id + " connection failed", traceSink);
        break;
    case kReadFailed:
        Trace(id + " connection closed", traceSink);
        break;
    case kEmptyDatagram:
        Trace(id + " zero length message", traceSink);
        break;
    default:
        Trace(id + " unknown socket event", traceSink);
        break;
    }
}

void TCPClient::HandleWatchEnded() {
    // An unfinished message of a device that went away is dropped with its connection.
    receiveBuffer.Clear();
    if (manager != nullptr) {
        manager->ConnectionEnded(*this);
    }
}

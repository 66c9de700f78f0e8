#include "net/TCPClient.h"

#include "net/ITCPManager.h"
#include "platform/CodePage.h"
#include "platform/TickCount.h"
#include "protocol/PrintCommand.h"

#include <algorithm>
#include <cstring>
#include <unistd.h>

TCPClient::TCPClient()
    : id(NextId()), lastActivity(std::chrono::steady_clock::now().time_since_epoch().count()) {
    SetSendTimeout(kSendPatience);
}

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

bool TCPClient::Adopt(int fd, const std::string& hostText, const std::string& portText) {
    host = hostText;
    port = portText;
    if (!AdoptStream(fd)) {
        ::close(fd);
        return false;
    }
    if (const auto peer = PeerAddress()) {
        peerAddress = *peer;
    }
    if (!StartWatch()) {
        Stop();
        return false;
    }
    return true;
}

void TCPClient::TraceLine(const std::string& text) {
    if (manager != nullptr) {
        manager->TraceDevice(*this, text);
    } else {
        Trace(text, traceSink);
    }
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
    // Only what really went out is traced as sent.
    if (written > 0) {
        TraceLine(id + " sent [" + text + "] to " + host);
    } else if (IsOpen()) {
        TraceLine(id + " unable to send, closing connection.");
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
    // One line for the beginning of each message, not one per burst: a device that sends a message
    // in a million pieces must not write a million lines. A print command is megabytes of Base64, so
    // the line shows the beginning, as for any long message.
    if (!receiveBuffer.InMessage()) {
        const std::size_t textLength = strnlen(data, std::min(length, PrintCommand::kTraceTextLimit));
        TraceLine(id + " receive [" + CodePage::Wire().Decode(std::string_view(data, textLength)) +
                  "] from " + host);
    }
    if (manager != nullptr) {
        manager->HandleMessage(data, length, *this);
    }
}

void TCPClient::HandleSocketEvent(int code) {
    switch (code) {
    case kAccepted:
        TraceLine(id + " connection established");
        break;
    case kAcceptFailed:
        TraceLine(id + " connection failed");
        break;
    case kReadFailed:
        TraceLine(id + " connection closed");
        break;
    case kEmptyDatagram:
        TraceLine(id + " zero length message");
        break;
    default:
        TraceLine(id + " unknown socket event");
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

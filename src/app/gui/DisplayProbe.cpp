#include "app/gui/DisplayProbe.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

bool WaylandAnswers(const std::string& display) {
    std::filesystem::path socketPath = display;
    if (socketPath.is_relative()) {
        const std::string runtime = Environment("XDG_RUNTIME_DIR");
        if (runtime.empty()) {
            return false;
        }
        socketPath = std::filesystem::path(runtime) / display;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.native().size() >= sizeof address.sun_path) {
        return false;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.native().size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool answered =
        fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return answered;
}

} // namespace

std::string DisplayProbe::WhyNoDisplay() {
    const std::string wayland = Environment("WAYLAND_DISPLAY");
    if (!wayland.empty() && WaylandAnswers(wayland)) {
        return {};
    }
    const std::string x11 = Environment("DISPLAY");
    if (x11.empty()) {
        return wayland.empty() ? "no DISPLAY or WAYLAND_DISPLAY is set"
                               : "WAYLAND_DISPLAY " + wayland + " does not answer";
    }
    xcb_connection_t* connection = xcb_connect(x11.c_str(), nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    return failed ? "the display " + x11 + " cannot be opened" : std::string();
}

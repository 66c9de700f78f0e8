#pragma once

#include <cstdint>
#include <functional>
#include <memory>

// The end of the server reaches the prints under way: their waits end at once and a running helper
// program is killed, so that a request answers "print failed" within moments instead of holding the
// end of the program for the length of a print.
class PrintStop {
public:
    // Until it goes, `wake` runs when a stop is requested (at once when it already is).
    class Registration {
    public:
        ~Registration();
        Registration(const Registration&) = delete;
        Registration& operator=(const Registration&) = delete;

    private:
        friend class PrintStop;
        explicit Registration(std::uint64_t id) : id(id) {}
        std::uint64_t id;
    };

    static void Request();
    // Prints may run again (the network service starts anew).
    static void Clear();
    static bool Requested();
    // Readable while a stop is requested, for waits that poll descriptors.
    static int WakeFd();
    static std::unique_ptr<Registration> OnRequest(std::function<void()> wake);
};

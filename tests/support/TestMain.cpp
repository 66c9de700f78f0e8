#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

// The default destination lives in the client folder of the spooler rig; tests running side by side
// each switch it, so every test program gets a client folder of its own.
void UsePrivateSpoolerClientFolder() {
    const char* shared = std::getenv("CUPS_SERVERROOT");
    if (shared == nullptr || shared[0] == '\0') {
        return;
    }
    const std::filesystem::path own = std::filesystem::path(shared) / ("test-" + std::to_string(::getpid()));
    std::error_code error;
    std::filesystem::create_directories(own, error);
    if (!error) {
        ::setenv("CUPS_SERVERROOT", own.c_str(), 1);
    }
}

} // namespace

int main(int argc, char** argv) {
    UsePrivateSpoolerClientFolder();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

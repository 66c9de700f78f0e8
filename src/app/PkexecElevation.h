#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

#include "app/IElevation.h"

// Elevation through polkit's pkexec. pkexec clears the environment, so the display variables of this
// session are handed to the elevated program through env(1); pkexec ends with the program's own exit
// code, or with 126 or 127 when the person refused or could not be authenticated.
class PkexecElevation : public IElevation {
public:
    static constexpr const char* kElevator = "pkexec";
    static constexpr const char* kEnvProgram = "/usr/bin/env";
    // pkexec's exit codes for a dismissed prompt and a failed authorisation.
    static constexpr int kDismissed = 126;
    static constexpr int kNotAuthorised = 127;
    static constexpr std::array<const char*, 4> kKeptVariables = {"DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY",
                                                                  "XDG_RUNTIME_DIR"};

    // `elevator` is looked up on PATH when it holds no "/".
    explicit PkexecElevation(std::filesystem::path elevator = kElevator);

    unsigned EffectiveUserId() const override;
    // Waits while the prompt is open and the program runs.
    std::optional<int> RunElevated(const std::filesystem::path& program,
                                   const std::vector<std::string>& arguments) override;

    // The elevator's command line for `program` and `arguments`, with the kept variables of this
    // environment.
    std::vector<std::string> CommandLine(const std::filesystem::path& program,
                                         const std::vector<std::string>& arguments) const;

private:
    std::filesystem::path elevator;
};

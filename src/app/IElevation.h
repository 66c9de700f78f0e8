#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// The administrator rights of this process and the way to gain them for one step: the effective
// user, and a run of a program through the desktop's elevation prompt. Tests replace it.
class IElevation {
public:
    virtual ~IElevation() = default;
    // 0 is the administrator.
    virtual unsigned EffectiveUserId() const = 0;
    // Runs `program` with `arguments` as administrator and waits for it to end: its exit code;
    // nothing when it could not be started or the person refused.
    virtual std::optional<int> RunElevated(const std::filesystem::path& program,
                                           const std::vector<std::string>& arguments) = 0;
};

#pragma once

#include <filesystem>
#include <string>
#include <vector>

// The administrator rights of this process and the way to gain them: the effective user, and a
// start of a program through the desktop's elevation prompt. Tests replace it.
class IElevation {
public:
    virtual ~IElevation() = default;
    // 0 is the administrator.
    virtual unsigned EffectiveUserId() const = 0;
    // Starts `program` with `arguments` as administrator, on the display of this session. True once
    // the elevated program runs; false when it could not be started or the person refused.
    virtual bool StartElevated(const std::filesystem::path& program,
                               const std::vector<std::string>& arguments) = 0;
};

#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/IElevation.h"
#include "support/AnsweredDialogs.h"

// The elevation prompt cannot run here: this one answers as told and records what was asked.
class FakeElevation : public IElevation {
public:
    struct Launch {
        std::filesystem::path program;
        std::vector<std::string> arguments;
    };

    explicit FakeElevation(unsigned userId = 0) : userId(userId) {}
    unsigned EffectiveUserId() const override { return userId; }
    std::optional<int> RunElevated(const std::filesystem::path& program,
                                   const std::vector<std::string>& arguments) override {
        launches.push_back(Launch{program, arguments});
        if (whileElevated) {
            whileElevated();
        }
        return agrees ? std::optional<int>(0) : std::nullopt;
    }

    unsigned userId;
    bool agrees = true;
    // What the elevated program does (the retiring step, done by the test).
    std::function<void()> whileElevated;
    std::vector<Launch> launches;
};

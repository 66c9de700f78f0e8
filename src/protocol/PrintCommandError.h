#pragma once

#include <stdexcept>
#include <string>

// A print command that lacks one of its required parameters.
class PrintCommandError : public std::runtime_error {
public:
    explicit PrintCommandError(const std::string& what) : std::runtime_error(what) {}
};

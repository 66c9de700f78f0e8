#pragma once

#include <memory>
#include <string>
#include <string_view>

// A piece of text that lives inside a larger buffer and keeps that buffer alive: the Base64 of a
// print command is megabytes, and copying it out of its message would double what a print takes.
class SharedText {
public:
    SharedText() = default;
    SharedText(std::shared_ptr<const std::string> holder, std::string_view text)
        : holder(std::move(holder)), text(text) {}
    explicit SharedText(std::string own)
        : holder(std::make_shared<const std::string>(std::move(own))), text(*holder) {}

    std::string_view View() const { return text; }
    std::size_t Size() const { return text.size(); }
    // Lets go of the buffer (once the text has been used).
    void Release() {
        holder.reset();
        text = {};
    }

private:
    std::shared_ptr<const std::string> holder;
    std::string_view text;
};

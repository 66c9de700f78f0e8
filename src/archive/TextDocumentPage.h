#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

class CodePage;

// The page a plain-text document prints through: its text decoded (by its byte-order mark, as UTF-8
// when it is valid UTF-8, else in the device's code page), escaped, and set in a monospace font with
// the margins of a text printout, as a UTF-8 HTML page written beside the document, so that the
// preview page loads it from the document's own folder. The page file goes with the object. Any
// thread.
class TextDocumentPage {
public:
    // A larger document is left to the browser as it stands.
    static constexpr std::uintmax_t kSizeLimit = 16 * 1024 * 1024;

    // The page of a text whose bytes are `bytes`, in `fallback` when they are neither marked nor
    // UTF-8; `title` names it.
    static std::string Html(std::string_view bytes, std::string_view title, const CodePage& fallback);

    // Writes the page of the document `name` of `folder` into that folder, under a new name that no
    // file there has (a hidden one), with the wire code page as the fallback. Nothing when the
    // document is no regular file of its own (a link, a pipe, too large) or the page cannot be written.
    static std::unique_ptr<TextDocumentPage> Write(const std::filesystem::path& folder,
                                                   const std::string& name);

    // Takes the page file over; it is removed with the object.
    explicit TextDocumentPage(std::filesystem::path page) : path(std::move(page)) {}
    ~TextDocumentPage();
    TextDocumentPage(const TextDocumentPage&) = delete;
    TextDocumentPage& operator=(const TextDocumentPage&) = delete;

    const std::filesystem::path& Path() const { return path; }

private:
    std::filesystem::path path;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A light XML document kept as one UTF-16 text plus an index of where each element lies in it. It
// reads a file in whatever encoding the file uses, walks from element to element, reads and
// replaces element text, adds elements, and writes the text back in the encoding it came in. Edits
// change the text in place, so everything the caller does not touch (comments, declarations, white
// space, attribute order, bytes that are not valid in the file's encoding) is written back exactly.
//
// Callers give and get UTF-8. Bytes of an 8-bit file that its encoding cannot convert are kept in
// the text as the code units U+DC00 + byte, so that saving writes them back as they were.
class XmlTextDocument {
public:
    enum class ByteOrderMark { None, Utf8, Utf16LittleEndian, Utf16BigEndian };

    // The result log stops growing past this length.
    static constexpr std::size_t kResultLogLimit = 999;
    // A larger file is refused; description files are a few hundred bytes.
    static constexpr std::uintmax_t kFileSizeLimit = 64 * 1024 * 1024;

    // Replaces the document by the file's content and parses it; the position goes back to the
    // document level. False when the file cannot be read (the document is then empty) or is not
    // well-formed (the text and as much of the index as the scan built stay usable).
    bool LoadFile(const std::filesystem::path& path);
    // Writes the text in the form it was loaded in, replacing the file atomically.
    bool SaveFile(const std::filesystem::path& path);

    // Searches the elements under the current parent for the next one named `name`, starting after
    // the current element (or at the first child when there is none). On failure nothing moves.
    bool FindNextElement(std::string_view name);
    // Makes the current element the parent, with no current element under it.
    bool EnterElement();
    // The decoded text content of the current element; empty when there is none, when it is empty,
    // or when it has child elements.
    std::string GetElementText() const;
    // Replaces the content of the current element; false when there is none or it has child elements.
    bool SetElementText(std::string_view text);
    bool SetElementText(int number);
    // Adds <name>text</name> and CR LF after the current element, or at the end of the current
    // parent's content when there is no current element; the new element becomes current.
    bool AppendElement(std::string_view name, std::string_view text);

    // What the last load, parse or save met, as XML result elements; kept for diagnosis.
    const std::string& GetResultLog() const { return resultLog; }
    bool IsWellFormed() const { return wellFormed; }
    ByteOrderMark GetByteOrderMark() const { return mark; }
    const std::u16string& GetText() const { return text; }

    static std::u16string DecodeReferences(std::u16string_view content);
    static std::u16string EncodeText(std::u16string_view content);

private:
    struct Element {
        std::size_t offset = 0;
        std::size_t length = 0;
        std::size_t startTagLength = 0;
        std::size_t endTagLength = 0;
        std::uint32_t parent = 0;
        std::uint32_t firstChild = 0;
        std::uint32_t lastChild = 0;
        std::uint32_t nextSibling = 0;
        std::uint32_t previousSibling = 0;
        // Written as an empty-element tag: the start tag is the whole element.
        bool emptyElementTag = false;
        // Closed by the end of the text or by the end tag of an element around it.
        bool unended = false;
    };
    using Attributes = std::vector<std::pair<const char*, std::string>>;

    void Clear();
    void Decode(std::string_view bytes);
    void Parse();
    std::size_t ParseStartTag(std::size_t at, std::vector<std::uint32_t>& open);
    std::size_t ParseEndTag(std::size_t at, std::vector<std::uint32_t>& open);
    std::size_t ParseExclamation(std::size_t at);
    void CloseElement(std::uint32_t index, std::size_t end, std::size_t endTagLength);
    std::uint32_t AddElement(std::uint32_t parent, std::uint32_t after, const Element& element);
    std::u16string_view ElementName(std::uint32_t index) const;
    std::size_t ContentStart(std::uint32_t index) const;
    std::size_t ContentEnd(std::uint32_t index) const;
    // Replaces text[at, at + removed) inside `container`, shifting the index behind it.
    void Edit(std::size_t at, std::size_t removed, std::u16string_view inserted, std::uint32_t container);
    std::u16string OpenedStartTag(std::uint32_t index) const;
    std::string EncodeForSaving(int& codePage);
    void Record(const char* event, const Attributes& attributes = {});
    void RecordFileError(int error, const char* message = nullptr);

    std::u16string text;
    // Entry 0 is the document level.
    std::vector<Element> elements{Element{}};
    std::uint32_t currentParent = 0;
    std::uint32_t currentElement = 0;
    ByteOrderMark mark = ByteOrderMark::None;
    // The code page an 8-bit file was read with; none before a load.
    std::optional<int> loadedCodePage;
    // The last byte of a UTF-16 file of odd length, written back after the text.
    std::optional<char> oddByte;
    bool wellFormed = false;
    std::string resultLog;
};

#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The Base64 of the document inside a print command. Decoding is tolerant, as devices write it in
// many ways: characters outside the alphabet (padding, line breaks, blanks) are skipped, a last group
// of three characters gives two bytes, of two one byte, of one nothing, and a 0 character where a
// group would start ends the text.
class Base64 {
public:
    // Room that decoding `textLength` characters needs at most (the decoded bytes plus the slack the
    // fast path writes past them).
    static constexpr std::size_t MaxDecodedSize(std::size_t textLength) { return textLength / 4 * 3 + 4; }

    // Decodes a text that comes in pieces, as it is written to a file: a group may span two pieces.
    class Decoder {
    public:
        // Decodes one piece into `out`, which holds at least MaxDecodedSize(piece size) bytes;
        // returns the number of bytes written.
        std::size_t Feed(std::string_view piece, char* out);
        // The bytes of a group the text ended in (at most two); the decoder is then fresh.
        std::size_t Finish(char* out);

    private:
        std::uint32_t group = 0;
        std::size_t count = 0;
        // A 0 character where a group would start ended the text.
        bool ended = false;
    };

    static std::string Decode(std::string_view text);
    // Decodes into `out`, which holds at least MaxDecodedSize(text.size()) bytes; returns the number
    // of bytes decoded.
    static std::size_t DecodeInto(std::string_view text, char* out);

    // Standard alphabet with "=" padding, no line breaks.
    static std::string Encode(std::string_view bytes);
};

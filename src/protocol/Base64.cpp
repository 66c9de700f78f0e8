#include "protocol/Base64.h"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr std::uint8_t kSkip = 0x80;
constexpr std::uint8_t kEnd = 0xC0; // the 0 character: ends the text where a group would start
constexpr std::size_t kGroupChars = 4;
constexpr std::size_t kGroupBytes = 3;

constexpr std::array<std::uint8_t, 256> MakeDecodeTable() {
    std::array<std::uint8_t, 256> table{};
    for (auto& value : table) {
        value = kSkip;
    }
    for (std::uint8_t i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i])] = i;
    }
    table[0] = kEnd;
    return table;
}

constexpr std::array<std::uint8_t, 256> kDecode = MakeDecodeTable();

// Writes the three bytes of a 24-bit group as a 4-byte store; the fourth byte is overwritten by the
// next group or lies in the slack that MaxDecodedSize leaves.
inline void StoreGroup(char* out, std::uint32_t group) {
    std::uint32_t word = group << 8;
    if constexpr (std::endian::native == std::endian::little) {
        word = __builtin_bswap32(word);
    }
    std::memcpy(out, &word, sizeof word);
}

} // namespace

std::size_t Base64::Decoder::Feed(std::string_view text, char* out) {
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    const auto* const end = in + text.size();
    char* const outStart = out;
    while (!ended) {
        if (count == 0) {
            // Runs of whole groups without skipped characters: no per-character branches.
            while (end - in >= static_cast<std::ptrdiff_t>(kGroupChars)) {
                const std::uint32_t a = kDecode[in[0]];
                const std::uint32_t b = kDecode[in[1]];
                const std::uint32_t c = kDecode[in[2]];
                const std::uint32_t d = kDecode[in[3]];
                if (((a | b | c | d) & kSkip) != 0) {
                    break;
                }
                StoreGroup(out, (a << 18) | (b << 12) | (c << 6) | d);
                out += kGroupBytes;
                in += kGroupChars;
            }
        }
        // One group character by character, skipping what is not in the alphabet.
        while (in < end && count < kGroupChars) {
            const std::uint8_t value = kDecode[*in];
            if (value == kEnd && count == 0) {
                ended = true;
                break;
            }
            ++in;
            if ((value & kSkip) == 0) {
                group = (group << 6) | value;
                ++count;
            }
        }
        if (count < kGroupChars) {
            break; // the piece ended inside a group: it goes on with the next piece
        }
        StoreGroup(out, group);
        out += kGroupBytes;
        group = 0;
        count = 0;
    }
    return static_cast<std::size_t>(out - outStart);
}

std::size_t Base64::Decoder::Finish(char* out) {
    std::size_t written = 0;
    // The text ended inside a group.
    if (count == 3) {
        const std::uint32_t bits = group << 6;
        out[0] = static_cast<char>(bits >> 16);
        out[1] = static_cast<char>(bits >> 8);
        written = 2;
    } else if (count == 2) {
        const std::uint32_t bits = group << 12;
        out[0] = static_cast<char>(bits >> 16);
        written = 1;
    }
    group = 0;
    count = 0;
    ended = false;
    return written;
}

std::size_t Base64::DecodeInto(std::string_view text, char* out) {
    Decoder decoder;
    const std::size_t decoded = decoder.Feed(text, out);
    return decoded + decoder.Finish(out + decoded);
}

std::string Base64::Decode(std::string_view text) {
    std::string bytes(MaxDecodedSize(text.size()), '\0');
    bytes.resize(DecodeInto(text, bytes.data()));
    return bytes;
}

std::string Base64::Encode(std::string_view bytes) {
    std::string text;
    text.reserve((bytes.size() + kGroupBytes - 1) / kGroupBytes * kGroupChars);
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t left = bytes.size();
    for (; left >= kGroupBytes; left -= kGroupBytes, in += kGroupBytes) {
        const std::uint32_t group = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
        text.push_back(kAlphabet[(group >> 18) & 0x3F]);
        text.push_back(kAlphabet[(group >> 12) & 0x3F]);
        text.push_back(kAlphabet[(group >> 6) & 0x3F]);
        text.push_back(kAlphabet[group & 0x3F]);
    }
    if (left > 0) {
        const std::uint32_t group =
            (std::uint32_t{in[0]} << 16) | (left == 2 ? std::uint32_t{in[1]} << 8 : 0);
        text.push_back(kAlphabet[(group >> 18) & 0x3F]);
        text.push_back(kAlphabet[(group >> 12) & 0x3F]);
        text.push_back(left == 2 ? kAlphabet[(group >> 6) & 0x3F] : '=');
        text.push_back('=');
    }
    return text;
}

#include "protocol/Base64.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace std::string_literals;

TEST(Base64Decode, ToleratesPaddingBlanksAndLineBreaks) {
    for (const std::string text : {"YWJj", "YWJj=", "YWJj\r\n", "Y W\r\nJ\tj ", "=Y=W=J=j=", "YW Jj\n\n"}) {
        EXPECT_EQ(Base64::Decode(text), "abc") << text;
    }
}

TEST(Base64Decode, ShortLastGroups) {
    EXPECT_EQ(Base64::Decode("YWI="), "ab");
    EXPECT_EQ(Base64::Decode("YWI"), "ab");
    EXPECT_EQ(Base64::Decode("YQ=="), "a");
    EXPECT_EQ(Base64::Decode("YWJjY"), "abc");
    EXPECT_EQ(Base64::Decode("Y"), "");
    EXPECT_EQ(Base64::Decode(""), "");
    EXPECT_EQ(Base64::Decode("===\n"), "");
}

TEST(Base64Decode, ZeroCharacterEndsTheTextOnlyWhereAGroupWouldStart) {
    EXPECT_EQ(Base64::Decode("YWJj\0YWJj"s), "abc");
    EXPECT_EQ(Base64::Decode("\0YWJj"s), "");
    EXPECT_EQ(Base64::Decode("YW\0Jj"s), "abc");
}

TEST(Base64Decode, BytesOutsideTheAlphabetAreSkipped) {
    EXPECT_EQ(Base64::Decode("Y\xE9W\xFFJj\x80"), "abc");
    EXPECT_EQ(Base64::Decode("-_YWJj*"), "abc");
}

TEST(Base64Encode, KnownVectors) {
    EXPECT_EQ(Base64::Encode(""), "");
    EXPECT_EQ(Base64::Encode("f"), "Zg==");
    EXPECT_EQ(Base64::Encode("fo"), "Zm8=");
    EXPECT_EQ(Base64::Encode("foo"), "Zm9v");
    EXPECT_EQ(Base64::Encode("foob"), "Zm9vYg==");
    EXPECT_EQ(Base64::Encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(Base64::Encode("foobar"), "Zm9vYmFy");
    EXPECT_EQ(Base64::Encode("\xFB\xFF"), "+/8=");
}

TEST(Base64RoundTrip, RandomBytesOfEveryShortLengthAndWithLineBreaks) {
    std::mt19937 random(42);
    auto bytesOf = [&](std::size_t length) {
        std::string bytes(length, '\0');
        for (char& c : bytes) {
            c = static_cast<char>(random());
        }
        return bytes;
    };
    for (std::size_t length = 0; length < 70; ++length) {
        const std::string bytes = bytesOf(length);
        ASSERT_EQ(Base64::Decode(Base64::Encode(bytes)), bytes) << length;
    }

    const std::string bytes = bytesOf(100000);
    const std::string text = Base64::Encode(bytes);
    std::string wrapped;
    for (std::size_t at = 0; at < text.size(); at += 76) {
        wrapped += text.substr(at, 76) + "\r\n";
    }
    EXPECT_TRUE(Base64::Decode(wrapped) == bytes);
}

#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "platform/Unicode.h"

TEST(CodePageConversion, Windows1252RoundTripsItsCharactersAndReplacesOthers) {
    const CodePage western(1252);
    EXPECT_EQ(western.Encode("Stampante \xE2\x82\xAC caf\xC3\xA9"), "Stampante \x80 caf\xE9");
    EXPECT_EQ(western.Decode("Stampante \x80 caf\xE9"), "Stampante \xE2\x82\xAC caf\xC3\xA9");
    EXPECT_EQ(western.Encode("\xE4\xB8\xAD\xE6\x96\x87 ok"), "?? ok");
    // The five bytes without a character read as the control characters of their numbers, as Windows
    // reads them, without swallowing what follows, and a name holding them survives the round trip.
    const std::string undefined = "a\x81\x8D\x8F\x90\x9Dz";
    EXPECT_EQ(western.Decode(undefined), "a\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9Dz");
    EXPECT_EQ(western.Encode(western.Decode(undefined)), undefined);
    // A control character whose byte means something else in the code page is not representable.
    EXPECT_EQ(western.Encode("\xC2\x80"), "?");
}

TEST(CodePageConversion, OtherCodePagesAndUnknownNumbers) {
    EXPECT_EQ(CodePage(1251).Encode("\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBD\xD1\x82\xD0\xB5\xD1\x80"),
              "\xCF\xF0\xE8\xED\xF2\xE5\xF0");
    EXPECT_EQ(CodePage(1250).Decode("\x9A"), "\xC5\xA1");
    EXPECT_TRUE(CodePage(1252).IsSupported());
    EXPECT_FALSE(CodePage(99999).IsSupported());
}

TEST(UnicodeText, MalformedInputAndCounting) {
    EXPECT_EQ(Utf8Length("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x96\xA8"), 4u);
    EXPECT_EQ(Utf8Prefix("a\xC3\xA9"
                         "b",
                         2),
              "a\xC3\xA9");
    EXPECT_EQ(Utf8ToLatin1Lossy("\xC3\xA9\xFF\xE2\x82"), "\xE9???");
    EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xF0\x9F\x96\xA8 x")), "\xF0\x9F\x96\xA8 x");
    EXPECT_EQ(AsciiUpper("a\xC3\xA9z"), "A\xC3\xA9Z");
}

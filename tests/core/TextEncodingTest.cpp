#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "platform/TextEncoding.h"
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
    // Whether a name can go on the wire as it is, a question mark of its own included.
    const std::string menu = "\u30E1\u30CB\u30E5\u30FC?.html";
    EXPECT_TRUE(CodePage(932).CanEncode(menu));
    EXPECT_FALSE(CodePage(1252).CanEncode(menu));
    EXPECT_TRUE(CodePage(1252).CanEncode("caf\u00E9 \u20AC?"));
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

TEST(TextEncodingDetection, MarksUtf8DeclarationsAndPlainTextInEachEncoding) {
    using Mark = TextEncoding::Mark;
    EXPECT_EQ(TextEncoding::MarkOf("\xEF\xBB\xBF<a/>", false), Mark::Utf8);
    EXPECT_EQ(TextEncoding::MarkOf("\xFE\xFF", false), Mark::Utf16BigEndian);
    // FF FE 00 00 is UTF-32 only where asked for; otherwise UTF-16 beginning with a NUL.
    const std::string_view utf32{"\xFF\xFE\0\0", 4};
    EXPECT_EQ(TextEncoding::MarkOf(utf32, false), Mark::Utf16LittleEndian);
    EXPECT_EQ(TextEncoding::MarkOf(utf32, true), Mark::Utf32LittleEndian);
    EXPECT_EQ(TextEncoding::MarkOf(std::string_view("\0\0\xFE\xFF", 4), true), Mark::Utf32BigEndian);
    EXPECT_EQ(TextEncoding::MarkOf("\xEF\xBB", true), Mark::None);

    // Strict UTF-8 refuses overlong forms, surrogates and cut sequences; the shape test lets them by.
    EXPECT_FALSE(TextEncoding::InvalidUtf8At("caf\xC3\xA9 \xF0\x9F\x96\xA8"));
    EXPECT_EQ(TextEncoding::InvalidUtf8At("ab\xC0\x80"), 2u);
    EXPECT_EQ(TextEncoding::InvalidUtf8At("\xED\xA0\x80"), 0u);
    EXPECT_EQ(TextEncoding::InvalidUtf8At("a\xE2\x82"), 1u);
    EXPECT_TRUE(TextEncoding::HasUtf8Shape("ab\xC0\x80"));
    EXPECT_FALSE(TextEncoding::HasUtf8Shape("caf\xE9 x"));
    EXPECT_FALSE(TextEncoding::HasUtf8Shape("\xF8\x80\x80\x80\x80"));

    EXPECT_EQ(TextEncoding::DeclaredEncoding("<?XML version='1.0' Encoding = \"windows-1252\" ?><a/>", false),
              "windows-1252");
    EXPECT_EQ(TextEncoding::DeclaredEncoding("<?xml version=\"1.0\"?><a encoding=\"x\"/>", true), "");
    EXPECT_EQ(TextEncoding::DeclaredEncoding("<?xmlx encoding='x'?>", false), "");
    const std::string html = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
                             "charset=iso-8859-2\"></head></html>";
    EXPECT_EQ(TextEncoding::DeclaredEncoding(html, true), "iso-8859-2");
    EXPECT_EQ(TextEncoding::DeclaredEncoding(html, false), "");
    // Past the window nothing is looked for.
    EXPECT_EQ(
        TextEncoding::DeclaredEncoding(
            "<html><head>" + std::string(TextEncoding::kDeclarationWindow, ' ') + html.substr(12), true),
        "");

    // A plain text: by its mark, else UTF-8 when valid, else the device's code page.
    const CodePage western(1252);
    const std::string expected = "Men\xC3\xBC \xE2\x82\xAC";
    EXPECT_EQ(TextEncoding::PlainTextToUtf8(expected, western), expected);
    EXPECT_EQ(TextEncoding::PlainTextToUtf8("\xEF\xBB\xBF" + expected, western), expected);
    EXPECT_EQ(TextEncoding::PlainTextToUtf8("Men\xFC \x80", western), expected);
    EXPECT_EQ(TextEncoding::PlainTextToUtf8("\xCF\xF0\xE8", CodePage(1251)), "\xD0\x9F\xD1\x80\xD0\xB8");
    EXPECT_EQ(TextEncoding::PlainTextToUtf8(std::string("\xFF\xFEM\0\xFC\0 \0\xAC\x20\xE5\x65", 12), western),
              "M\xC3\xBC \xE2\x82\xAC\xE6\x97\xA5");
    EXPECT_EQ(TextEncoding::PlainTextToUtf8(std::string("\xFE\xFF\0M\x20\xAC", 6), western), "M\xE2\x82\xAC");
    // What stands for no character is replaced, and nothing after it is lost.
    EXPECT_EQ(TextEncoding::PlainTextToUtf8(std::string("\xFF\xFE\x00\xD8x\0y", 7), western),
              "\xEF\xBF\xBDx\xEF\xBF\xBD");
    EXPECT_EQ(TextEncoding::PlainTextToUtf8("\xEF\xBB\xBF"
                                            "a\xFF"
                                            "b",
                                            western),
              "a\xEF\xBF\xBD"
              "b");
}

#include <gtest/gtest.h>

#include <string>

#include "platform/CodePage.h"
#include "platform/CodePageNames.h"
#include "platform/EncodingTables.h"
#include "platform/IconvConverter.h"
#include "support/FileBytes.h"
#include "support/TempDir.h"
#include "xml/XmlTextDocument.h"

namespace {

const std::string kDescription = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                                 "<!-- written by the pad -->\r\n"
                                 "<document>\r\n"
                                 "  <title  lang='it' >Fattura</title>\r\n"
                                 "  <description>Caff\xC3\xA8 &amp; cornetto</description>\r\n"
                                 "  <copies>2</copies>\r\n"
                                 "  <printed>0</printed>\r\n"
                                 "</document>\r\n";

std::string Utf16(const std::string& ascii, bool bigEndian) {
    std::string out;
    for (char c : ascii) {
        out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    }
    return out;
}

// Loads `bytes` from a file, changes nothing, saves to a second file and returns its bytes.
std::string RoundTrip(const std::string& bytes, XmlTextDocument& document) {
    TempDir dir;
    WriteFileBytes(dir / "in.xml", bytes);
    document.LoadFile(dir / "in.xml");
    EXPECT_TRUE(document.SaveFile(dir / "out.xml"));
    return ReadFileBytes(dir / "out.xml");
}

std::string Loaded(const std::string& bytes, XmlTextDocument& document, bool expectWellFormed = true) {
    TempDir dir;
    WriteFileBytes(dir / "in.xml", bytes);
    EXPECT_EQ(document.LoadFile(dir / "in.xml"), expectWellFormed) << document.GetResultLog();
    return document.GetResultLog();
}

std::string TextOf(const std::string& body) {
    XmlTextDocument document;
    TempDir dir;
    WriteFileBytes(dir / "in.xml", "<a>" + body + "</a>");
    document.LoadFile(dir / "in.xml");
    EXPECT_TRUE(document.FindNextElement("a"));
    return document.GetElementText();
}

} // namespace

TEST(XmlTextDocumentEncodings, MarksAndDeclaredEncodingsRoundTripByteForByte) {
    const std::string body = "<?xml version=\"1.0\"?>\r\n<document><title>x</title></document>\r\n";
    {
        XmlTextDocument document;
        const std::string file = "\xFF\xFE" + Utf16(body, false);
        EXPECT_EQ(RoundTrip(file, document), file);
        EXPECT_EQ(document.GetByteOrderMark(), XmlTextDocument::ByteOrderMark::Utf16LittleEndian);
    }
    {
        XmlTextDocument document;
        const std::string file = "\xFE\xFF" + Utf16(body, true);
        EXPECT_EQ(RoundTrip(file, document), file);
        EXPECT_NE(document.GetResultLog().find("<endian_swap/>"), std::string::npos);
    }
    {
        XmlTextDocument document;
        const std::string file = "\xEF\xBB\xBF" + kDescription;
        EXPECT_EQ(RoundTrip(file, document), file);
        EXPECT_TRUE(document.IsWellFormed());
    }
    {
        // Declared ISO-8859-1: read and written in 28591, so 0xE8 stays one byte and reads as U+00E8.
        XmlTextDocument document;
        const std::string file = "<?xml version='1.0' encoding='ISO-8859-1'?><d><t>caff\xE8 \x80</t></d>";
        EXPECT_EQ(RoundTrip(file, document), file);
        ASSERT_TRUE(document.FindNextElement("d") && document.EnterElement() &&
                    document.FindNextElement("t"));
        EXPECT_EQ(document.GetElementText(), "caff\xC3\xA8 \xC2\x80");
        EXPECT_NE(document.GetResultLog().find("encoding=\"ISO-8859-1\""), std::string::npos);
    }
    {
        // No mark, no declaration: UTF-8 in, UTF-8 out, no mark added.
        XmlTextDocument document;
        const std::string file = "<d>\xE2\x82\xAC</d>";
        EXPECT_EQ(RoundTrip(file, document), file);
        ASSERT_TRUE(document.FindNextElement("d"));
        EXPECT_EQ(document.GetElementText(), "\xE2\x82\xAC");
    }
    {
        // The name of an HTML page's Content-Type meta element counts too.
        XmlTextDocument document;
        Loaded("<html><head><title>t</title><META HTTP-EQUIV=\"content-type\" "
               "content=\"text/html; charset = windows-1251\"></head><body>\xCF</body></html>",
               document, false);
        ASSERT_TRUE(document.FindNextElement("html") && document.EnterElement() &&
                    document.FindNextElement("body"));
        EXPECT_EQ(document.GetElementText(), "\xD0\x9F");
    }
}

TEST(XmlTextDocumentEncodings, UndeclaredNonUtf8TextIsReadInTheWireCodePageAndKeptInIt) {
    CodePage::SetWire(1252);
    XmlTextDocument document;
    // Not starting with '<', no declaration, 0xE9 not followed by a continuation byte.
    const std::string file = " <d>caf\xE9 \x81</d>";
    EXPECT_EQ(RoundTrip(file, document), file);
    EXPECT_NE(document.GetResultLog().find("CP1252"), std::string::npos);
    XmlTextDocument again;
    Loaded(file, again);
    ASSERT_TRUE(again.FindNextElement("d"));
    // 0x81 has no character in 1252: it reads as a replacement character, and is written back as it was.
    EXPECT_EQ(again.GetElementText(), "caf\xC3\xA9 \xEF\xBF\xBD");
    ASSERT_TRUE(again.SetElementText("\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD"));
    TempDir dir;
    ASSERT_TRUE(again.SaveFile(dir / "out.xml"));
    EXPECT_EQ(ReadFileBytes(dir / "out.xml"), " <d>\xE9t\xE9 ?</d>");
    EXPECT_NE(again.GetResultLog().find("<conversion_loss count=\"1\"/>"), std::string::npos);

    // Invalid bytes in a file that declares UTF-8 survive an edit elsewhere in the file.
    XmlTextDocument declared;
    const std::string broken = "<?xml version=\"1.0\" encoding=\"utf-8\"?><d><a>\xFF\xC3</a><b>1</b></d>";
    Loaded(broken, declared);
    ASSERT_TRUE(declared.FindNextElement("d") && declared.EnterElement() && declared.FindNextElement("b"));
    ASSERT_TRUE(declared.SetElementText(7));
    ASSERT_TRUE(declared.SaveFile(dir / "broken.xml"));
    EXPECT_EQ(ReadFileBytes(dir / "broken.xml"),
              "<?xml version=\"1.0\" encoding=\"utf-8\"?><d><a>\xFF\xC3</a><b>7</b></d>");
}

TEST(XmlTextDocumentEncodings, NulUnitsDisappearAndOddBytesStay) {
    XmlTextDocument eight;
    const std::string log = Loaded(std::string("<d>a\0b\0</d>", 11), eight);
    EXPECT_NE(log.find("<nulls_removed count=\"2\"/>"), std::string::npos);
    ASSERT_TRUE(eight.FindNextElement("d"));
    EXPECT_EQ(eight.GetElementText(), "ab");

    XmlTextDocument wide;
    Loaded("\xFF\xFE" + Utf16("<d>", false) + std::string("\0\0", 2) + Utf16("x</d>", false), wide);
    ASSERT_TRUE(wide.FindNextElement("d"));
    EXPECT_EQ(wide.GetElementText(), "x");
    EXPECT_NE(wide.GetResultLog().find("<nulls_removed count=\"1\"/>"), std::string::npos);

    // A UTF-16 file of odd length keeps its last byte.
    XmlTextDocument odd;
    const std::string file = "\xFF\xFE" + Utf16("<d/>", false) + "Z";
    EXPECT_EQ(RoundTrip(file, odd), file);
}

TEST(XmlTextDocumentEncodings, NameTableAndConverters) {
    EXPECT_EQ(CodePageNames::CodePageOf("utf-8"), 65001);
    EXPECT_EQ(CodePageNames::CodePageOf("UTF-16"), 1200);
    EXPECT_EQ(CodePageNames::CodePageOf("utf-16be"), 1201);
    EXPECT_EQ(CodePageNames::CodePageOf("UnicodeFFFE"), 1201);
    EXPECT_EQ(CodePageNames::CodePageOf("ISO-8859-1"), 28591);
    EXPECT_EQ(CodePageNames::CodePageOf("Latin1"), 28591);
    EXPECT_EQ(CodePageNames::CodePageOf("windows-1252"), 1252);
    EXPECT_EQ(CodePageNames::CodePageOf("CP1252"), 1252);
    EXPECT_EQ(CodePageNames::CodePageOf("US-ASCII"), 20127);
    EXPECT_EQ(CodePageNames::CodePageOf("ascii"), 20127);
    EXPECT_EQ(CodePageNames::CodePageOf("Shift_JIS"), 932);
    EXPECT_EQ(CodePageNames::CodePageOf("UTF-32BE"), 65005);
    EXPECT_EQ(CodePageNames::CodePageOf("utf-32be"), 12001);
    EXPECT_EQ(CodePageNames::CodePageOf(""), std::nullopt);
    EXPECT_EQ(CodePageNames::CodePageOf("klingon"), std::nullopt);
    EXPECT_EQ(CodePageNames::CodePageOf(std::string(100, 'a')), std::nullopt);
    // Every converter the table names exists in this iconv.
    for (const CodePageConverter& page : EmbeddedCodePageConverters()) {
        if (page.iconvName[0] != '\0') {
            EXPECT_TRUE(IconvConverter("UTF-16LE", page.iconvName).Valid()) << page.iconvName;
        }
    }
    EXPECT_GT(EmbeddedCodePageNames().size(), 365u);
    EXPECT_EQ(EmbeddedCharacterEntities().size(), 253u);
    // The wire accepts 8-bit pages by their table names, never a 16-bit one.
    EXPECT_TRUE(CodePage(28591).IsSupported());
    EXPECT_FALSE(CodePage(1200).IsSupported());
}

TEST(XmlTextDocumentSearch, ForwardSearchEnterAndFailedSearches) {
    XmlTextDocument document;
    Loaded(kDescription, document);
    EXPECT_EQ(document.GetElementText(), "");
    EXPECT_FALSE(document.EnterElement());
    EXPECT_FALSE(document.FindNextElement("title"));
    ASSERT_TRUE(document.FindNextElement("document"));
    ASSERT_TRUE(document.EnterElement());
    // Out of document order: copies first, then description is behind and no longer found.
    ASSERT_TRUE(document.FindNextElement("copies"));
    EXPECT_EQ(document.GetElementText(), "2");
    EXPECT_FALSE(document.FindNextElement("description"));
    EXPECT_FALSE(document.FindNextElement("missing"));
    // The failed searches left the position at copies.
    ASSERT_TRUE(document.FindNextElement("printed"));
    EXPECT_EQ(document.GetElementText(), "0");
    EXPECT_FALSE(document.FindNextElement("Printed"));
    EXPECT_FALSE(document.FindNextElement("print"));

    XmlTextDocument again;
    Loaded(kDescription, again);
    ASSERT_TRUE(again.FindNextElement("document") && again.EnterElement());
    ASSERT_TRUE(again.FindNextElement("title"));
    EXPECT_EQ(again.GetElementText(), "Fattura");
    ASSERT_TRUE(again.FindNextElement("description"));
    EXPECT_EQ(again.GetElementText(), "Caff\xC3\xA8 & cornetto");
}

TEST(XmlTextDocumentText, ReferencesDecodeOneLevelAndEntityNamesKeepTheirLetterCase) {
    EXPECT_EQ(TextOf("&amp;lt;"), "&lt;");
    EXPECT_EQ(TextOf("&#65;&#x41;&#X41;&#x4a;"), "AAAJ");
    EXPECT_EQ(TextOf("&nosuch; & b &#0; &#x110000; &#xD800; &;"), "&nosuch; & b &#0; &#x110000; &#xD800; &;");
    // A name is case-sensitive; one that matches an entity only in another letter case still finds
    // it, the capital letter's where two differ only in case.
    EXPECT_EQ(TextOf("&uuml;&eacute;&Uuml;&Eacute;&rarr;&rArr;&AMP;&Amp;&EACUTE;&apos;&euro;&nbsp;"),
              "\xC3\xBC\xC3\xA9\xC3\x9C\xC3\x89\xE2\x86\x92\xE2\x87\x92&&\xC3\x89'\xE2\x82\xAC\xC2\xA0");
    EXPECT_EQ(TextOf("&#128424;"), "\xF0\x9F\x96\xA8");
    // Ten characters before the ';' are too many for a reference.
    EXPECT_EQ(TextOf("&#0000000065;&#00000065;"), "&#0000000065;A");
    // Only ASCII makes a reference name.
    EXPECT_EQ(TextOf("&\xC3\xA9;"), "&\xC3\xA9;");
    // CDATA as it stands, comments and processing instructions left out, stray '<' kept.
    EXPECT_EQ(TextOf("a&lt;<![CDATA[&amp;<x>]]><!-- c -->b<?pi x?>&gt; <"), "a<&amp;<x>b> <");
    EXPECT_EQ(TextOf("x<b>y</b>"), "");
}

TEST(XmlTextDocumentEdits, SetTextEncodesOpensEmptyTagsAndKeepsTheRest) {
    XmlTextDocument document;
    Loaded(kDescription, document);
    EXPECT_FALSE(document.SetElementText("x"));
    ASSERT_TRUE(document.FindNextElement("document"));
    // An element with child elements is left alone.
    EXPECT_FALSE(document.SetElementText("x"));
    ASSERT_TRUE(document.EnterElement() && document.FindNextElement("description"));
    ASSERT_TRUE(document.SetElementText("1 < 2 & \"3\" > 0"));
    EXPECT_EQ(document.GetElementText(), "1 < 2 & \"3\" > 0");
    ASSERT_TRUE(document.FindNextElement("printed"));
    ASSERT_TRUE(document.SetElementText(1));
    TempDir dir;
    ASSERT_TRUE(document.SaveFile(dir / "out.xml"));
    std::string expected = kDescription;
    expected.replace(expected.find("Caff"), std::string("Caff\xC3\xA8 &amp; cornetto").size(),
                     "1 &lt; 2 &amp; \"3\" &gt; 0");
    expected.replace(expected.find("<printed>0"), 10, "<printed>1");
    EXPECT_EQ(ReadFileBytes(dir / "out.xml"), expected);

    // Reloaded, the index after the edited spots is where the text is.
    XmlTextDocument reloaded;
    ASSERT_TRUE(reloaded.LoadFile(dir / "out.xml"));
    ASSERT_TRUE(reloaded.FindNextElement("document") && reloaded.EnterElement() &&
                reloaded.FindNextElement("printed"));
    EXPECT_EQ(reloaded.GetElementText(), "1");

    XmlTextDocument empty;
    Loaded("<d><e a=\"1\" /><f//></d>", empty);
    ASSERT_TRUE(empty.FindNextElement("d") && empty.EnterElement() && empty.FindNextElement("e"));
    ASSERT_TRUE(empty.SetElementText("v"));
    ASSERT_TRUE(empty.FindNextElement("f"));
    ASSERT_TRUE(empty.SetElementText(""));
    EXPECT_EQ(empty.GetText(), u"<d><e a=\"1\" >v</e><f></f></d>");
}

TEST(XmlTextDocumentEdits, AppendPlacesElementsAndOpensAnEmptyParent) {
    {
        // After the current element, past the white space before the parent's end tag.
        XmlTextDocument document;
        Loaded("<document>\r\n  <copies>1</copies>\r\n</document>", document);
        ASSERT_TRUE(document.FindNextElement("document") && document.EnterElement() &&
                    document.FindNextElement("copies"));
        ASSERT_TRUE(document.AppendElement("printed", "0"));
        EXPECT_EQ(document.GetElementText(), "0");
        EXPECT_EQ(document.GetText(),
                  u"<document>\r\n  <copies>1</copies>\r\n<printed>0</printed>\r\n</document>");
        // The new element is current: the next one goes after it, and an empty text gives an empty tag.
        ASSERT_TRUE(document.AppendElement("note", ""));
        EXPECT_EQ(document.GetText(),
                  u"<document>\r\n  <copies>1</copies>\r\n<printed>0</printed>\r\n<note/>\r\n</document>");
        EXPECT_FALSE(document.AppendElement("bad name", "x"));
        EXPECT_FALSE(document.AppendElement("", "x"));
    }
    {
        // Text follows the current element: directly after it.
        XmlTextDocument document;
        Loaded("<d><a/>tail</d>", document);
        ASSERT_TRUE(document.FindNextElement("d") && document.EnterElement() &&
                    document.FindNextElement("a"));
        ASSERT_TRUE(document.AppendElement("b", "x&y"));
        EXPECT_EQ(document.GetText(), u"<d><a/><b>x&amp;y</b>\r\ntail</d>");
    }
    {
        // No current element: before the parent's end tag; a parent written as an empty tag is opened.
        XmlTextDocument document;
        Loaded("<d><p x='1'/><q>z</q></d>", document);
        ASSERT_TRUE(document.FindNextElement("d") && document.EnterElement() &&
                    document.FindNextElement("p"));
        ASSERT_TRUE(document.EnterElement());
        ASSERT_TRUE(document.AppendElement("printed", "0"));
        EXPECT_EQ(document.GetText(), u"<d><p x='1'>\r\n<printed>0</printed>\r\n</p><q>z</q></d>");
        XmlTextDocument other;
        Loaded("<d><q>z</q></d>", other);
        ASSERT_TRUE(other.FindNextElement("d") && other.EnterElement());
        ASSERT_TRUE(other.AppendElement("r", "1"));
        EXPECT_EQ(other.GetText(), u"<d><q>z</q><r>1</r>\r\n</d>");
        // Elements after the edits are still found where they are.
        XmlTextDocument reread;
        TempDir dir;
        ASSERT_TRUE(document.SaveFile(dir / "o.xml"));
        ASSERT_TRUE(reread.LoadFile(dir / "o.xml"));
        ASSERT_TRUE(reread.FindNextElement("d") && reread.EnterElement() && reread.FindNextElement("q"));
        EXPECT_EQ(reread.GetElementText(), "z");
    }
}

TEST(XmlTextDocumentParsing, IllFormedDocumentsKeepWhatTheScanFound) {
    {
        XmlTextDocument document;
        const std::string log = Loaded("<a>1</a><b>2</b>", document, false);
        EXPECT_NE(log.find("<root_has_sibling"), std::string::npos);
        ASSERT_TRUE(document.FindNextElement("a"));
        EXPECT_EQ(document.GetElementText(), "1");
        ASSERT_TRUE(document.FindNextElement("b"));
    }
    {
        XmlTextDocument document;
        const std::string log = Loaded("<d><x><y>t</d></z>< 1<!x<!-x<![x", document, false);
        for (const char* event : {"unended_start_tag", "lone_end_tag", "first_tag_syntax",
                                  "exclamation_tag_syntax", "comment_tag_syntax", "cdata_section_syntax"}) {
            EXPECT_NE(log.find(event), std::string::npos) << event << " in " << log;
        }
        ASSERT_TRUE(document.FindNextElement("d") && document.EnterElement() &&
                    document.FindNextElement("x"));
        ASSERT_TRUE(document.EnterElement() && document.FindNextElement("y"));
        EXPECT_EQ(document.GetElementText(), "t");
    }
    for (const auto& [text, type] : std::initializer_list<std::pair<const char*, const char*>>{
             {"<d><e a='>", "start_tag"},
             {"<d></d", "end_tag"},
             {"<d/><![CDATA[x", "cdata_section"},
             {"<d/><?pi", "processing_instruction"},
             {"<d/><!-- x", "comment"},
             {"<d/><!DOCTYPE d [<!ENTITY e 'x'>", "document_type"},
             {"<d/><", "tag"}}) {
        XmlTextDocument document;
        const std::string log = Loaded(text, document, false);
        EXPECT_NE(log.find(std::string("type=\"") + type + "\""), std::string::npos) << text << ": " << log;
    }
    {
        XmlTextDocument document;
        EXPECT_NE(
            Loaded("<!DOCTYPE d [<!ENTITY e '>'>]><?pi ?><d><![CDATA[<e>]]></d>", document).find("read"),
            std::string::npos);
        ASSERT_TRUE(document.FindNextElement("d"));
        EXPECT_FALSE(document.FindNextElement("e"));
        EXPECT_NE(Loaded("<!DOCTYPEd>", document, false).find("doctype_tag_syntax"), std::string::npos);
        EXPECT_NE(Loaded("<!-- only -->", document, false).find("no_root_element"), std::string::npos);
        EXPECT_NE(Loaded("", document, false).find("no_root_element"), std::string::npos);
    }
}

TEST(XmlTextDocumentFiles, UnreadableFilesAndFailedSaves) {
    TempDir dir;
    XmlTextDocument document;
    EXPECT_FALSE(document.LoadFile(dir / "missing.xml"));
    EXPECT_NE(document.GetResultLog().find("<file_error n=\"2\" msg=\"No such file or directory\"/>"),
              std::string::npos);
    EXPECT_TRUE(document.GetText().empty());
    EXPECT_FALSE(document.LoadFile(dir.Path()));
    EXPECT_NE(document.GetResultLog().find("not a regular file"), std::string::npos);

    WriteFileBytes(dir / "d.xml", "<d>1</d>");
    ASSERT_TRUE(document.LoadFile(dir / "d.xml"));
    EXPECT_FALSE(document.SaveFile(dir / "no-folder" / "d.xml"));
    EXPECT_NE(document.GetResultLog().find("file_error"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(dir / "d.xml"), "<d>1</d>");
}

#include "protocol/PrintCommand.h"
#include "config/AppSettings.h"
#include "protocol/Base64.h"
#include "protocol/PrintCommandError.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <climits>
#include <string>

using namespace std::string_literals;

namespace {

std::string Parameter(const std::string& type, const std::string& value) {
    return "<parameter type=\"" + type + "\">" + value + "</parameter>";
}

std::string PrintFile(const std::string& extraParameters, const std::string& printer = "Office") {
    return "<commands><command type=\"PFL\"><parameters>" + Parameter("FILE_CONTENT", "YWJj") +
           Parameter("FILE_NAME", "doc.7z") + Parameter("PRINTER", printer) +
           Parameter("FILE_PREVIEW", "doc.pdf") + extraParameters + "</parameters></command></commands>";
}

} // namespace

TEST(PrintCommandRead, PrintFileSetsEveryParameter) {
    PrintCommand command;
    ASSERT_EQ(command.ReadMessage(PrintFile(Parameter("COPIES", "3"), "A &amp; B")),
              IPrintCommand::kComplete);
    EXPECT_EQ(command.CommandType(), PrintCommand::kCommandPFL);
    EXPECT_EQ(Base64::Decode(command.FileContent()), "abc");
    EXPECT_EQ(command.FileName(), "doc.7z");
    EXPECT_EQ(command.FilePreview(), "doc.pdf");
    EXPECT_EQ(command.PrinterName(), "A & B");
    EXPECT_EQ(command.Copies(), 3);
    EXPECT_EQ(command.CopiesText(), "3");
}

TEST(PrintCommandRead, CommandTypesAreComparedExactly) {
    PrintCommand command;
    const auto typeOf = [&](const std::string& type) {
        EXPECT_EQ(command.ReadMessage("<commands><command type=\"" + type + "\"/></commands>"),
                  IPrintCommand::kComplete);
        return command.CommandType();
    };
    EXPECT_EQ(typeOf("PRQ"), PrintCommand::kCommandPRQ);
    EXPECT_EQ(typeOf("PRF"), PrintCommand::kCommandPRF);
    EXPECT_EQ(typeOf("prq"), PrintCommand::kCommandNone);
    EXPECT_EQ(typeOf("PFL "), PrintCommand::kCommandNone);
    EXPECT_EQ(typeOf("PRF\"/><command type=\"PRQ"), PrintCommand::kCommandPRF);
    EXPECT_EQ(command.ReadMessage("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
                                  "<commands><command type=\"PRQ\"/></commands>\r\n"),
              IPrintCommand::kComplete);
    EXPECT_EQ(command.CommandType(), PrintCommand::kCommandPRQ);
}

TEST(PrintCommandRead, MalformedOrCommandlessMessagesAreReported) {
    PrintCommand command;
    EXPECT_EQ(command.ReadMessage(""), IPrintCommand::kLoadError);
    EXPECT_EQ(command.ReadMessage("<commands><command type=\"PRQ\">"), IPrintCommand::kLoadError);
    EXPECT_EQ(command.ReadMessage("<a/><b/>"), IPrintCommand::kLoadError);
    EXPECT_EQ(command.ReadMessage("text<a/>"), IPrintCommand::kLoadError);
    EXPECT_EQ(command.ReadMessage("<a/>text"), IPrintCommand::kLoadError);
    EXPECT_EQ(command.ReadMessage("<commands><other type=\"PRQ\"/></commands>"), IPrintCommand::kParseError);
    EXPECT_EQ(command.ReadMessage("<commands><command kind=\"PRQ\"/></commands>"),
              IPrintCommand::kParseError);
    EXPECT_EQ(command.CommandType(), PrintCommand::kCommandNone);
}

TEST(PrintCommandRead, MessagesThatAreNotWellFormedAreLoadErrors) {
    PrintCommand command;
    const std::string prq = "<commands><command type=\"PRQ\"/></commands>";
    for (const std::string& bad : {
             PrintFile("", "&foo;"),
             PrintFile("", "a & b"),
             PrintFile("", "&#0;"),
             PrintFile("", "&#xD800;"),
             PrintFile("", "&#x110000;"),
             PrintFile("", "&#65"),
             PrintFile("", "a\x01b"),
             PrintFile("", "a]]>b"),
             "<commands><command type=\"PRQ\" type=\"PRF\"/></commands>"s,
             "<commands><command type=\"P<Q\"/></commands>"s,
             // An entity of the internal subset is never expanded, so it is undefined.
             "<!DOCTYPE commands [<!ENTITY p \"PRQ\">]><commands><command type=\"&p;\"/></commands>"s,
         }) {
        EXPECT_EQ(command.ReadMessage(bad), IPrintCommand::kLoadError) << bad;
        EXPECT_EQ(command.CommandType(), PrintCommand::kCommandNone);
    }
    // What well-formed XML allows still reads: references in text and attributes, CDATA, a subset
    // that declares nothing used, markup in comments.
    ASSERT_EQ(command.ReadMessage(PrintFile("", "A&#38;B &lt;&#x263A;&gt; &quot;&apos;<![CDATA[&x;]]>")),
              IPrintCommand::kComplete);
    EXPECT_EQ(command.PrinterName(), "A&B <\u263A> \"'&x;");
    EXPECT_EQ(command.ReadMessage("<!DOCTYPE commands [<!ENTITY p \"x\">]><!-- <&> -->"
                                  "<commands><command type=\"P&#82;F\"/></commands>"),
              IPrintCommand::kComplete);
    EXPECT_EQ(command.CommandType(), PrintCommand::kCommandPRF);
}

TEST(PrintCommandRead, DeepNestingAndMarkupFloodsGiveADefinedAnswer) {
    const auto nested = [](int depth, const std::string& text) {
        std::string xml;
        for (int i = 0; i < depth; ++i) {
            xml += "<a>";
        }
        xml += text;
        for (int i = 0; i < depth; ++i) {
            xml += "</a>";
        }
        return xml;
    };
    PrintCommand command;
    // Deep but within the markup bound: every parameter reads as its text.
    ASSERT_EQ(command.ReadMessage(PrintFile(Parameter("COPIES", nested(5000, "2")), nested(120000, "y"))),
              IPrintCommand::kComplete);
    EXPECT_EQ(command.PrinterName(), "y");
    EXPECT_EQ(command.Copies(), 2);
    // Past the bound (deeper still, or a flood of empty elements) the message is refused unparsed.
    EXPECT_EQ(command.ReadMessage(PrintFile("", nested(150000, "z"))), IPrintCommand::kLoadError);
    std::string empties;
    for (int i = 0; i < 300000; ++i) {
        empties += "<e/>";
    }
    EXPECT_EQ(command.ReadMessage("<commands><command type=\"PRQ\"/>" + empties + "</commands>"),
              IPrintCommand::kLoadError);
}

TEST(PrintCommandRead, PrintFileWithoutARequiredParameterThrowsAndCarriesNoCommand) {
    PrintCommand command;
    ASSERT_EQ(command.ReadMessage(PrintFile("")), IPrintCommand::kComplete);
    for (const std::string missing : {"FILE_CONTENT", "FILE_NAME", "PRINTER", "FILE_PREVIEW"}) {
        std::string message = PrintFile("", "Elsewhere");
        const std::string type = "type=\"" + missing + "\"";
        message.replace(message.find(type), type.size(), "type=\"UNKNOWN\"");
        EXPECT_THROW(command.ReadMessage(message), PrintCommandError) << missing;
        EXPECT_EQ(command.CommandType(), PrintCommand::kCommandNone);
        EXPECT_EQ(command.PrinterName(), "Office");
    }
}

TEST(PrintCommandRead, CopiesForms) {
    PrintCommand command;
    const auto copiesOf = [&](const std::string& extra) {
        EXPECT_EQ(command.ReadMessage(PrintFile(extra)), IPrintCommand::kComplete);
        return command.Copies();
    };
    EXPECT_EQ(copiesOf(""), 1);
    EXPECT_EQ(copiesOf(Parameter("COPIES", "2abc")), 2);
    EXPECT_EQ(copiesOf(Parameter("COPIES", "abc")), 0);
    EXPECT_EQ(copiesOf(Parameter("COPIES", " 12")), 12);
    EXPECT_EQ(copiesOf(Parameter("COPIES", "-3")), 0);
    EXPECT_EQ(copiesOf(Parameter("COPIES", "99999999999999999999")), INT_MAX);
    EXPECT_EQ(copiesOf(Parameter("COPIES", "4") + Parameter("COPIES", "5")), 4);
}

TEST(PrintCommandRead, ParametersAreFoundAnywhereInTheDocument) {
    PrintCommand command;
    const std::string message = "<commands><extra>" + Parameter("COPIES", "<![CDATA[7]]>") +
                                "</extra><command type=\"PFL\">" + Parameter("FILE_CONTENT", "YW\nJj") +
                                Parameter("FILE_NAME", "a.7z") + Parameter("PRINTER", "P") +
                                Parameter("FILE_PREVIEW", "<b>a</b>.htm") + "</command></commands>";
    ASSERT_EQ(command.ReadMessage(message), IPrintCommand::kComplete);
    EXPECT_EQ(command.Copies(), 7);
    EXPECT_EQ(command.FileContent(), "YW\nJj");
    EXPECT_EQ(command.FilePreview(), "a.htm");
}

TEST(PrintCommandRead, Windows1252MessageWithAnAccentedPrinterName) {
    AppSettings::Instance().SetAlias("Imprimante-Etage", "Imprimante \xC3\xA9tage");
    PrintCommand command;
    // "é" is the single byte E9 on the wire.
    ASSERT_EQ(command.ReadMessage(PrintFile("", "Imprimante \xE9tage")), IPrintCommand::kComplete);
    EXPECT_EQ(command.PrinterName(), "Imprimante \xC3\xA9tage");
    EXPECT_EQ(command.ResolvedPrinter(), "Imprimante-Etage");
    EXPECT_NE(command.LastReceivedText().find("Imprimante \xC3\xA9tage"), std::string::npos);
}

TEST(PrintCommandRead, LastReceivedTextIsCutForTheTrace) {
    PrintCommand command;
    const std::string content(3 * PrintCommand::kTraceTextLimit, 'Q');
    const std::string message = "<c>\xE9" + content + "</c>";
    command.ReadMessage(message);
    const std::string text = command.LastReceivedText();
    EXPECT_EQ(text.size(), PrintCommand::kTraceTextLimit + 1); // one two-byte character
    EXPECT_EQ(text.substr(0, 5), "<c>\xC3\xA9");

    command.ReadMessage("<commands><command type=\"PRQ\"/></commands>");
    EXPECT_EQ(command.LastReceivedText(), "<commands><command type=\"PRQ\"/></commands>");
}

TEST(PrintCommandBuild, PrintResultIsExact) {
    PrintCommand command;
    EXPECT_EQ(command.BuildPrintResult(4, 0),
              "<commands><command type=\"PRP\"><parameters><parameter type =\"RESULT\">4</parameter>"
              "<error reason =\"RESULT\">0</error></parameters></command></commands>");
    EXPECT_NE(command.BuildPrintResult(-1, 0xFFFFFFFFu)
                  .find(">-1</parameter><error reason =\"RESULT\">4294967295<"),
              std::string::npos);
}

TEST(PrintCommandBuild, PrinterListIsExactAndEscapesMarkup) {
    PrintCommand command;
    EXPECT_EQ(command.BuildPrinterList("desk-1", {"Office", "Imprimante \xC3\xA9tage"}),
              "<commands><command type=\"PLS\"><parameters><parameter type =\"HOST_NAME\">desk-1</parameter>"
              "<parameter type =\"PRN_NAME\">Office</parameter>"
              "<parameter type =\"PRN_NAME\">Imprimante \xC3\xA9tage</parameter>"
              "</parameters></command></commands>");

    const std::string list = command.BuildPrinterList("a<b", {"R&D \"1\" >"});
    EXPECT_NE(list.find(">a&lt;b</parameter>"), std::string::npos);
    EXPECT_NE(list.find(">R&amp;D &quot;1&quot; &gt;</parameter>"), std::string::npos);

    // Escaped names read back as they were.
    pugi::xml_document document;
    ASSERT_TRUE(document.load_string(list.c_str()));
    EXPECT_STREQ(document.select_node("//parameter[@type=\"PRN_NAME\"]").node().child_value(), "R&D \"1\" >");
}

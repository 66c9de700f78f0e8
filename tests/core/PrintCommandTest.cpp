#include "protocol/PrintCommand.h"
#include "config/AppSettings.h"
#include "protocol/Base64.h"

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <climits>
#include <string>
#include <thread>
#include <utility>
#include <vector>

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

// The print request a message makes; an empty request when it makes none.
PrintRequest RequestOf(const PrintCommand& command, const std::string& message) {
    CommandMessage read = command.ReadMessage(message);
    EXPECT_EQ(read.status, IPrintCommand::kComplete) << message.substr(0, 200);
    return read.print.value_or(PrintRequest{});
}

TEST(PrintCommandRead, PrintFileMakesARequestOfItsOwn) {
    const PrintCommand command;
    const PrintRequest request = RequestOf(command, PrintFile(Parameter("COPIES", "3"), "A &amp; B"));
    EXPECT_EQ(Base64::Decode(request.content.View()), "abc");
    EXPECT_EQ(request.fileName, "doc.7z");
    EXPECT_EQ(request.documentName, "doc.pdf");
    EXPECT_EQ(request.printerName, "A & B");
    EXPECT_EQ(request.copies, 3);

    // Nothing of a message stays in the command object: two requests read one after the other, or
    // at the same time, each keep their own parameters and document.
    const std::string big(3 * 1024 * 1024, 'Q');
    std::vector<PrintRequest> requests(8);
    std::vector<std::thread> readers;
    for (std::size_t i = 0; i < requests.size(); ++i) {
        readers.emplace_back([&, i] {
            requests[i] = RequestOf(command, "<commands><command type=\"PFL\">" +
                                                 Parameter("FILE_CONTENT", big + "Q" + std::to_string(i)) +
                                                 Parameter("FILE_NAME", "n" + std::to_string(i)) +
                                                 Parameter("PRINTER", "P") + Parameter("FILE_PREVIEW", "d") +
                                                 "</command></commands>");
        });
    }
    for (std::thread& reader : readers) {
        reader.join();
    }
    for (std::size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].fileName, "n" + std::to_string(i));
        EXPECT_EQ(requests[i].content.Size(), big.size() + 1 + std::to_string(i).size());
        EXPECT_TRUE(requests[i].content.View().ends_with("Q" + std::to_string(i)));
    }
}

TEST(PrintCommandRead, CommandTypesAreComparedExactly) {
    PrintCommand command;
    const auto typeOf = [&](const std::string& type) {
        const CommandMessage read =
            command.ReadMessage("<commands><command type=\"" + type + "\"/></commands>");
        EXPECT_EQ(read.status, IPrintCommand::kComplete);
        return read.commandType;
    };
    EXPECT_EQ(typeOf("PRQ"), PrintCommand::kCommandPRQ);
    EXPECT_EQ(typeOf("PRF"), PrintCommand::kCommandPRF);
    EXPECT_EQ(typeOf("prq"), PrintCommand::kCommandNone);
    EXPECT_EQ(typeOf("PFL "), PrintCommand::kCommandNone);
    EXPECT_EQ(typeOf("PRF\"/><command type=\"PRQ"), PrintCommand::kCommandPRF);
    const CommandMessage declared =
        command.ReadMessage("<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n"
                            "<commands><command type=\"PRQ\"/></commands>\r\n");
    EXPECT_EQ(declared.status, IPrintCommand::kComplete);
    EXPECT_EQ(declared.commandType, PrintCommand::kCommandPRQ);
}

TEST(PrintCommandRead, MalformedOrCommandlessMessagesAreReported) {
    PrintCommand command;
    const auto statusOf = [&](const std::string& message) {
        const CommandMessage read = command.ReadMessage(message);
        EXPECT_EQ(read.commandType, PrintCommand::kCommandNone);
        return read.status;
    };
    EXPECT_EQ(statusOf(""), IPrintCommand::kLoadError);
    EXPECT_EQ(statusOf("<commands><command type=\"PRQ\">"), IPrintCommand::kLoadError);
    EXPECT_EQ(statusOf("<a/><b/>"), IPrintCommand::kLoadError);
    EXPECT_EQ(statusOf("text<a/>"), IPrintCommand::kLoadError);
    EXPECT_EQ(statusOf("<a/>text"), IPrintCommand::kLoadError);
    EXPECT_EQ(statusOf("<commands><other type=\"PRQ\"/></commands>"), IPrintCommand::kParseError);
    EXPECT_EQ(statusOf("<commands><command kind=\"PRQ\"/></commands>"), IPrintCommand::kParseError);
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
        const CommandMessage read = command.ReadMessage(bad);
        EXPECT_EQ(read.status, IPrintCommand::kLoadError) << bad;
        EXPECT_EQ(read.commandType, PrintCommand::kCommandNone);
    }
    // What well-formed XML allows still reads: references in text and attributes, CDATA, a subset
    // that declares nothing used, markup in comments.
    EXPECT_EQ(
        RequestOf(command, PrintFile("", "A&#38;B &lt;&#x263A;&gt; &quot;&apos;<![CDATA[&x;]]>")).printerName,
        "A&B <\u263A> \"'&x;");
    const CommandMessage close = command.ReadMessage("<!DOCTYPE commands [<!ENTITY p \"x\">]><!-- <&> -->"
                                                     "<commands><command type=\"P&#82;F\"/></commands>");
    EXPECT_EQ(close.status, IPrintCommand::kComplete);
    EXPECT_EQ(close.commandType, PrintCommand::kCommandPRF);
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
    const PrintRequest deep =
        RequestOf(command, PrintFile(Parameter("COPIES", nested(5000, "2")), nested(120000, "y")));
    EXPECT_EQ(deep.printerName, "y");
    EXPECT_EQ(deep.copies, 2);
    // Past the bound (deeper still, or a flood of empty elements) the message is refused unparsed.
    EXPECT_EQ(command.ReadMessage(PrintFile("", nested(150000, "z"))).status, IPrintCommand::kLoadError);
    std::string empties;
    for (int i = 0; i < 300000; ++i) {
        empties += "<e/>";
    }
    EXPECT_EQ(command.ReadMessage("<commands><command type=\"PRQ\"/>" + empties + "</commands>").status,
              IPrintCommand::kLoadError);
}

TEST(PrintCommandRead, PrintFileWithoutARequiredParameterCarriesNoCommand) {
    PrintCommand command;
    for (const std::string missing : {"FILE_CONTENT", "FILE_NAME", "PRINTER", "FILE_PREVIEW"}) {
        std::string message = PrintFile("", "Elsewhere");
        const std::string type = "type=\"" + missing + "\"";
        message.replace(message.find(type), type.size(), "type=\"UNKNOWN\"");
        const CommandMessage read = command.ReadMessage(message);
        EXPECT_EQ(read.status, IPrintCommand::kParameterMissing) << missing;
        EXPECT_EQ(read.commandType, PrintCommand::kCommandNone);
        EXPECT_FALSE(read.print.has_value());
    }
}

TEST(PrintCommandRead, CopiesForms) {
    PrintCommand command;
    // What the device asked for, and what every road prints: at least one, at most 999.
    const auto copiesOf = [&](const std::string& extra) {
        const PrintRequest request = RequestOf(command, PrintFile(extra));
        return std::pair(request.requestedCopies, request.copies);
    };
    EXPECT_EQ(copiesOf(""), std::pair(1, 1));
    EXPECT_EQ(copiesOf(Parameter("COPIES", "2abc")), std::pair(2, 2));
    EXPECT_EQ(copiesOf(Parameter("COPIES", "abc")), std::pair(0, 1));
    EXPECT_EQ(copiesOf(Parameter("COPIES", "")), std::pair(0, 1));
    EXPECT_EQ(copiesOf(Parameter("COPIES", " 12")), std::pair(12, 12));
    EXPECT_EQ(copiesOf(Parameter("COPIES", "-3")), std::pair(0, 1));
    EXPECT_EQ(copiesOf(Parameter("COPIES", "99999999999999999999")), std::pair(INT_MAX, 999));
    EXPECT_EQ(copiesOf(Parameter("COPIES", "4") + Parameter("COPIES", "5")), std::pair(4, 4));
}

TEST(PrintCommandRead, ParametersAreFoundAnywhereInTheDocument) {
    PrintCommand command;
    const std::string message = "<commands><extra>" + Parameter("COPIES", "<![CDATA[7]]>") +
                                "</extra><command type=\"PFL\">" + Parameter("FILE_CONTENT", "YW\nJj") +
                                Parameter("FILE_NAME", "a.7z") + Parameter("PRINTER", "P") +
                                Parameter("FILE_PREVIEW", "<b>a</b>.htm") + "</command></commands>";
    const PrintRequest request = RequestOf(command, message);
    EXPECT_EQ(request.copies, 7);
    EXPECT_EQ(request.content.View(), "YW\nJj");
    EXPECT_EQ(request.documentName, "a.htm");
}

TEST(PrintCommandRead, Windows1252MessageWithAnAccentedPrinterName) {
    AppSettings::Instance().SetAlias("Imprimante-Etage", "Imprimante \xC3\xA9tage");
    PrintCommand command;
    // "é" is the single byte E9 on the wire.
    const PrintRequest request = RequestOf(command, PrintFile("", "Imprimante \xE9tage"));
    EXPECT_EQ(request.printerName, "Imprimante \xC3\xA9tage");
    EXPECT_EQ(request.printer, "Imprimante-Etage");
    EXPECT_EQ(Base64::Decode(request.content.View()), "abc");
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

#include <gtest/gtest.h>

#include <QImage>
#include <QPdfDocument>
#include <QPdfSelection>
#include <QPointer>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "archive/gui/CBrowserDlg.h"
#include "gui/SpoolerTestEnvironment.h"
#include "platform/CodePage.h"
#include "print/BrowserPrintOutcome.h"
#include "support/ChildProcess.h"
#include "support/FileBytes.h"
#include "ui/MainWindowFlags.h"

using namespace spoolertest;

namespace {

constexpr const char* kNullQueue = "qopra-null";
constexpr const char* kPdfQueue = "qopra-pdf";
// Only this test prints there, so the queue's output file is this test's.
constexpr const char* kProofQueue = "qopra-proof";
// Only the test of hostile documents prints there and reads what came out.
constexpr const char* kHtmlQueue = "qopra-html";
// Only the test of text documents prints there and reads what came out.
constexpr const char* kTextQueue = "qopra-text";
// Bounds on waiting for the browser and the spooler; a healthy run takes a fraction of this.
constexpr int kWaitMs = 120000;

// A document that never arrives: a named pipe without a writer keeps the browser reading until the
// pipe is released.
class NeverEndingDocument {
public:
    explicit NeverEndingDocument(std::filesystem::path file) : path(std::move(file)) {
        ::mkfifo(path.c_str(), 0644);
    }
    ~NeverEndingDocument() {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
            ::close(fd);
        }
    }
    NeverEndingDocument(const NeverEndingDocument&) = delete;
    NeverEndingDocument& operator=(const NeverEndingDocument&) = delete;

private:
    std::filesystem::path path;
};

class BrowserPrintTest : public testing::Test {
protected:
    void SetUp() override {
        if (!HaveScheduler()) {
            GTEST_SKIP() << "CUPS_SERVER is not set: no test spooler";
        }
        Application();
        std::filesystem::create_directories(dir / "data" / "Htm");
        WriteFileBytes(dir / "data" / "Htm" / "waiting.htm", "<html><body>Please wait</body></html>");
        DataFolder::SetPath(dir / "data");
        EventLog::Global().SetFileName(dir / "qopra.log");
        MainWindowFlags::shown = false;
        MainWindowFlags::previewIsPdf = false;
        tag =
            std::to_string(::getpid()) + "-" + testing::UnitTest::GetInstance()->current_test_info()->name();
        // The user's own default; printing on other queues never changes it.
        ASSERT_TRUE(SetDefaultDestination(kPdfQueue));
    }

    void TearDown() override {
        EventLog::Global().SetFileName({});
        DataFolder::SetPath({});
    }

    // An HTML page showing a picture beside it, in the test's working folder.
    std::string HtmlDocument(const std::string& stem) const {
        const std::string name = stem + "-" + tag + ".htm";
        QImage picture(120, 80, QImage::Format_RGB32);
        picture.fill(Qt::darkGreen);
        picture.save(QString::fromStdString((dir / "picture.png").string()), "PNG");
        WriteFileBytes(dir / name, "<html><head><meta charset=\"utf-8\"></head><body><h1>Report</h1>"
                                   "<img src=\"picture.png\" width=\"120\" height=\"80\"></body></html>");
        return name;
    }

    std::unique_ptr<PrintJobRecord> Record(const std::string& printer, const std::string& document,
                                           int copies) const {
        auto record = std::make_unique<PrintJobRecord>();
        record->printerName = printer;
        record->documentName = document;
        record->copies = copies;
        record->workingFolder = dir.Path().string();
        return record;
    }

    std::string Log() const { return ReadFileBytes(dir / "qopra.log"); }

    // What came out of a queue of the rig, as pdftotext reads it (with -bbox, the words' boxes).
    static std::string PrintedText(const std::string& queue, const std::string& option = "-enc") {
        const std::filesystem::path out =
            std::filesystem::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / (queue + ".out");
        std::vector<std::string> arguments = {option};
        if (option == "-enc") {
            arguments.push_back("UTF-8");
        }
        arguments.insert(arguments.end(), {out.string(), "-"});
        ChildProcess reader("/usr/bin/pdftotext", arguments);
        EXPECT_EQ(reader.Wait(std::chrono::seconds(30)), 0) << reader.Output();
        return reader.Output();
    }

    TempDir dir;
    std::string tag;
};

TEST_F(BrowserPrintTest,
       HtmlPageGivesOneJobWithItsCopiesOnTheRecordsPrinterWithItsPictureAndLeavesTheDefault) {
    // A space and a non-ASCII letter: the loaded document must still be recognised as this record's.
    const std::string document = HtmlDocument("Prüf bericht");
    const std::string single = HtmlDocument("single");
    CBrowserDlg browser;
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);

    std::unique_ptr<PrintJobRecord> record = Record(kNullQueue, document, 2);
    record->outcome = std::make_shared<BrowserPrintOutcome>();
    const std::shared_ptr<BrowserPrintOutcome> outcome = record->outcome;
    browser.PrintDocument(std::move(record));
    browser.PrintDocument(Record(kProofQueue, single, 1));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 2; }, kWaitMs)) << Log();

    EXPECT_TRUE(done.at(0).at(0).toBool()) << Log();
    EXPECT_EQ(done.at(0).at(1).toInt(), 1);
    // The request that waits learns the job it is to watch: the document is spooled once.
    ASSERT_TRUE(outcome->Get());
    EXPECT_TRUE(outcome->Get()->printed);
    EXPECT_EQ(outcome->Get()->jobIds.size(), 1u);
    EXPECT_EQ(JobsNamed(kNullQueue, document).count, 1);
    EXPECT_EQ(JobsNamed(kNullQueue, document).copies, 2);
    EXPECT_EQ(JobsNamed(kPdfQueue, document).count, 0);
    EXPECT_EQ(DefaultDestination(), kPdfQueue);
    EXPECT_FALSE(browser.IsBusy());

    // The PDF queue writes what it printed to a file of the rig: the picture must be in it.
    ASSERT_TRUE(WaitFor([&] { return JobsNamed(kProofQueue, single).completed == 1; }, kWaitMs));
    const std::string printed = ReadFileBytes(
        std::filesystem::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / "qopra-proof.out");
    EXPECT_NE(printed.find(single.substr(0, 40)), std::string::npos) << "the output is not this job's";
    EXPECT_NE(printed.find("%PDF"), std::string::npos);
    EXPECT_NE(printed.find("/Image"), std::string::npos) << "the picture did not make it into the print";
}

TEST_F(BrowserPrintTest, TextInUtf8TheDevicesCodePageOrUtf16PrintsItsCharactersAsATextPrintout) {
    const std::string words = "Men\xC3\xBC: caf\xC3\xA9 \xC3\xBC 5 \xE2\x82\xAC";
    const std::string japanese = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
    const std::string markup = "a < b && <b>c</b> &amp; <script>x</script>";
    std::string wide = "\xFF\xFE";
    for (const char16_t unit :
         std::u16string_view(u"Men\u00FC: caf\u00E9 \u00FC 5 \u20AC \u65E5\u672C\u8A9E\r\n")) {
        wide += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    }
    struct Text {
        std::string name;
        std::string bytes;
        int wireCodePage;
        std::vector<std::string> expected;
    };
    // The same words in each encoding; only UTF-8 and UTF-16 can hold the Japanese one. A text that is
    // neither marked nor UTF-8 is in the devices' code page, the wire's, whatever the browser would guess.
    const std::vector<Text> texts = {
        {"utf8-" + tag + ".txt",
         words + " " + japanese + "\r\n" + markup + "\r\n",
         1252,
         {words, japanese, markup}},
        {"ansi-" + tag + ".TXT",
         "Men\xFC: caf\xE9 \xFC 5 \x80\r\n" + markup + "\r\n",
         1252,
         {words + "\n" + markup}},
        // Two letters are too few for the browser to guess their code page from.
        {"cyrillic-" + tag + ".txt", "\xC4\xE0\r\n", 1251, {"\xD0\x94\xD0\xB0"}},
        {"wide-" + tag + ".txt", wide, 1252, {words, japanese}},
    };
    CBrowserDlg browser;
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const Text& text = texts[i];
        CodePage::SetWire(text.wireCodePage);
        WriteFileBytes(dir / text.name, text.bytes);
        browser.PrintDocument(Record(kTextQueue, text.name, 1));
        ASSERT_TRUE(WaitFor([&] { return done.count() == static_cast<int>(i) + 1; }, kWaitMs)) << Log();
        ASSERT_TRUE(done.at(static_cast<int>(i)).at(0).toBool()) << text.name << Log();
        // The job keeps the document's own name; the queue's output file is this job's once it completed.
        ASSERT_TRUE(WaitFor([&] { return JobsNamed(kTextQueue, text.name).completed == 1; }, kWaitMs))
            << text.name;
        const std::string printed = PrintedText(kTextQueue);
        for (const std::string& expected : text.expected) {
            EXPECT_NE(printed.find(expected), std::string::npos) << text.name << ":\n" << printed;
        }

        // A text printout's margins: about 20 mm (57 points) to the first word on the left and on top.
        const std::string boxes = PrintedText(kTextQueue, "-bbox");
        double left = 1000;
        double top = 1000;
        for (std::size_t at = boxes.find("<word xMin=\""); at != std::string::npos;
             at = boxes.find("<word xMin=\"", at + 1)) {
            left = std::min(left, std::stod(boxes.substr(at + 12)));
            top = std::min(top, std::stod(boxes.substr(boxes.find("yMin=\"", at) + 6)));
        }
        EXPECT_GT(left, 50.0) << text.name;
        EXPECT_LT(left, 100.0) << text.name;
        EXPECT_GT(top, 50.0) << text.name;
        EXPECT_LT(top, 100.0) << text.name;
    }
    CodePage::SetWire(1252);
    EXPECT_EQ(Log().find("PrintFileOnBrowser error."), std::string::npos) << Log();
    // The pages printed through went with their documents.
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
    }
}

TEST_F(BrowserPrintTest, PdfDocumentIsNotPrintedAndAsksForTheWaitingPageUnlessThePdfIsOnShow) {
    const std::string document = "scan-" + tag + ".Pdf";
    WriteFileBytes(dir / document, "%PDF-1.4\n%%EOF\n");
    CBrowserDlg browser;
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);
    QSignalSpy waitingPage(&browser, &CBrowserDlg::waitingPageRequested);

    browser.PrintDocument(Record(kNullQueue, document, 3));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 1; }, kWaitMs));
    EXPECT_EQ(waitingPage.count(), 1);
    EXPECT_EQ(DefaultDestination(), kPdfQueue);

    MainWindowFlags::shown = true;
    MainWindowFlags::previewIsPdf = true;
    browser.PrintDocument(Record(kNullQueue, document, 1));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 2; }, kWaitMs));
    EXPECT_EQ(waitingPage.count(), 1) << "the PDF the user is looking at must stay on show";
    EXPECT_EQ(JobsNamed(kNullQueue, document).count, 0);
    EXPECT_EQ(Log().find("PrintFileOnBrowser error."), std::string::npos);
}

TEST_F(BrowserPrintTest, FailuresAreLoggedPrintNothingOnTheDefaultQueueAndStillRestoreIt) {
    const std::string document = HtmlDocument("fail");
    CBrowserDlg browser;
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);

    browser.PrintDocument(Record(kNullQueue, "missing-" + tag + ".htm", 1));
    browser.PrintDocument(Record("no-such-queue", document, 1));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 2; }, kWaitMs));

    EXPECT_FALSE(done.at(0).at(0).toBool());
    EXPECT_FALSE(done.at(1).at(0).toBool());
    EXPECT_EQ(JobsNamed(kPdfQueue, document).count, 0);
    EXPECT_EQ(JobsNamed(kNullQueue, document).count, 0);
    EXPECT_EQ(DefaultDestination(), kPdfQueue);
    const std::string log = Log();
    const std::size_t first = log.find("PrintFileOnBrowser error.");
    ASSERT_NE(first, std::string::npos) << log;
    EXPECT_NE(log.find("PrintFileOnBrowser error.", first + 1), std::string::npos) << log;
}

TEST_F(BrowserPrintTest, CopiesAreOneJobAndBeyondTheLimitArePrintedUpToTheLimit) {
    const std::string document = HtmlDocument("many");
    CBrowserDlg browser;
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);
    browser.PrintDocument(Record(kNullQueue, document, 1000000));
    browser.PrintDocument(Record(kNullQueue, document, 0));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 2; }, kWaitMs));
    EXPECT_TRUE(done.at(0).at(0).toBool());
    EXPECT_EQ(done.at(0).at(1).toInt(), 1);
    EXPECT_TRUE(done.at(1).at(0).toBool()) << "no usable count still prints one copy";
    EXPECT_EQ(JobsNamed(kNullQueue, document).count, 2);
    EXPECT_EQ(JobsNamed(kNullQueue, document).copies, 999 + 1);
    EXPECT_NE(Log().find("[WARNING] 1000000 copies asked of " + document + ", printing 999"),
              std::string::npos);
}

TEST_F(BrowserPrintTest, DocumentThatNeverFinishesLoadingIsGivenUpAndTheQueuedOnesStillPrint) {
    const std::string hanging = "hanging-" + tag + ".htm";
    const NeverEndingDocument never(dir / hanging);
    const std::string good = HtmlDocument("after");
    CBrowserDlg browser(nullptr, std::chrono::milliseconds(300));
    const QPointer<QWebEnginePage> firstPage(browser.Page());
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);
    QSignalSpy idle(&browser, &CBrowserDlg::idle);
    // Only the hanging document gets the short limit; the ones queued behind it get all the time.
    QObject::connect(&browser, &CBrowserDlg::documentDone, &browser,
                     [&browser] { browser.SetPrintTimeLimit(std::chrono::milliseconds(kWaitMs)); });

    browser.PrintDocument(Record(kNullQueue, hanging, 1));
    browser.PrintDocument(Record(kNullQueue, good, 0));
    browser.PrintDocument(Record(kNullQueue, good, 1));
    EXPECT_TRUE(browser.IsBusy());
    ASSERT_TRUE(WaitFor([&] { return idle.count() == 1; }, kWaitMs)) << Log();

    ASSERT_EQ(done.count(), 3);
    EXPECT_FALSE(done.at(0).at(0).toBool());
    EXPECT_TRUE(done.at(1).at(0).toBool()) << "no usable count of copies prints one";
    EXPECT_EQ(done.at(1).at(1).toInt(), 1);
    EXPECT_TRUE(done.at(2).at(0).toBool()) << Log();
    EXPECT_EQ(JobsNamed(kNullQueue, hanging).count, 0);
    EXPECT_EQ(JobsNamed(kNullQueue, good).count, 2);
    EXPECT_EQ(DefaultDestination(), kPdfQueue);
    EXPECT_NE(Log().find("PrintFileOnBrowser error."), std::string::npos);
    EXPECT_TRUE(firstPage.isNull()) << "the page that gave up goes, with its renderer";
}

TEST_F(BrowserPrintTest, DocumentReadsNoFileOutsideItsFolderRunsNoScriptAndReachesNoNetwork) {
    const std::filesystem::path outside = dir / "outside";
    const std::filesystem::path work = dir / "work";
    std::filesystem::create_directories(outside);
    std::filesystem::create_directories(work);
    WriteFileBytes(outside / "secret.htm", "<html><body>SECRET-IFRAME-TEXT</body></html>");
    WriteFileBytes(outside / "linked.htm", "<html><body>SECRET-LINK-TEXT</body></html>");
    std::filesystem::create_symlink(outside / "linked.htm", work / "link.htm");
    WriteFileBytes(work / "style.css", "h1::after { content: ' STYLED-OK'; }");
    QImage picture(120, 80, QImage::Format_RGB32);
    picture.fill(Qt::darkGreen);
    picture.save(QString::fromStdString((work / "picture.png").string()), "PNG");

    // A listener that a page reaching out to the network would connect to.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size);
    const std::string remote = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/remote.png";

    const std::string name = "hostile-" + tag + ".htm";
    WriteFileBytes(work / name,
                   "<html><head><link rel=\"stylesheet\" href=\"style.css\"></head><body><h1>Report</h1>"
                   "<img src=\"picture.png\" width=\"120\" height=\"80\">"
                   "<iframe src=\"file://" +
                       (outside / "secret.htm").string() +
                       "\"></iframe>"
                       "<iframe src=\"link.htm\"></iframe>"
                       "<img src=\"" +
                       remote +
                       "\">"
                       "<script>document.body.insertAdjacentText('beforeend', 'SCRIPT-RAN');"
                       "fetch('file:///etc/hostname').then(r => r.text())"
                       ".then(t => document.body.insertAdjacentText('beforeend', 'FETCHED ' + t));</script>"
                       "<noscript>SCRIPTS-OFF</noscript></body></html>");
    CBrowserDlg browser;
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);
    std::unique_ptr<PrintJobRecord> record = Record(kHtmlQueue, name, 1);
    record->workingFolder = work.string();
    browser.PrintDocument(std::move(record));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 1; }, kWaitMs)) << Log();
    ASSERT_TRUE(done.at(0).at(0).toBool()) << Log();
    ASSERT_TRUE(WaitFor([&] { return JobsNamed(kHtmlQueue, name).completed == 1; }, kWaitMs));

    QPdfDocument printed;
    ASSERT_EQ(printed.load(QString::fromStdString(
                  (std::filesystem::path(std::getenv("CUPS_SERVER")).parent_path() / "out" / "qopra-html.out")
                      .string())),
              QPdfDocument::Error::None);
    QString text;
    for (int page = 0; page < printed.pageCount(); ++page) {
        text += printed.getAllText(page).text();
    }
    const std::string all = text.toStdString();
    EXPECT_NE(all.find("Report"), std::string::npos) << all;
    EXPECT_NE(all.find("STYLED-OK"), std::string::npos) << "its own style sheet loads: " << all;
    EXPECT_NE(all.find("SCRIPTS-OFF"), std::string::npos) << all;
    EXPECT_EQ(all.find("SCRIPT-RAN"), std::string::npos) << all;
    EXPECT_EQ(all.find("FETCHED"), std::string::npos) << all;
    EXPECT_EQ(all.find("SECRET-IFRAME-TEXT"), std::string::npos) << all;
    EXPECT_EQ(all.find("SECRET-LINK-TEXT"), std::string::npos) << all;
    EXPECT_NE(ReadFileBytes(std::filesystem::path(std::getenv("CUPS_SERVER")).parent_path() / "out" /
                            "qopra-html.out")
                  .find("/Image"),
              std::string::npos)
        << "its own picture loads";
    const int reached = ::accept(listener, nullptr, nullptr);
    EXPECT_LT(reached, 0) << "the page reached out to the network";
    ::close(listener);
    EXPECT_NE(Log().find("[WARNING] Refused file://" + (outside / "secret.htm").string()), std::string::npos)
        << Log();
}

TEST_F(BrowserPrintTest, PageWithAnEndlessScriptPrintsAndSoDoesTheNextOne) {
    const std::string looping = "loop-" + tag + ".htm";
    WriteFileBytes(dir / looping,
                   "<html><body><p>before</p><script>while (true) {}</script><p>after</p></body></html>");
    const std::string next = HtmlDocument("next");
    CBrowserDlg browser;
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);
    browser.PrintDocument(Record(kNullQueue, looping, 1));
    browser.PrintDocument(Record(kNullQueue, next, 1));
    ASSERT_TRUE(WaitFor([&] { return done.count() == 2; }, kWaitMs)) << Log();
    EXPECT_TRUE(done.at(0).at(0).toBool()) << Log();
    EXPECT_TRUE(done.at(1).at(0).toBool()) << Log();
    EXPECT_EQ(JobsNamed(kNullQueue, next).count, 1);
}

TEST_F(BrowserPrintTest, DocumentTheBrowserCannotShowFailsAtOnceAndDroppedRecordsAreReported) {
    const std::string docx = "letter-" + tag + ".docx";
    WriteFileBytes(dir / docx, std::string("PK\x03\x04", 4) + std::string(200, '\x01'));
    const std::string binary = "blob-" + tag + ".bin";
    WriteFileBytes(dir / binary, std::string("\x7f"
                                             "ELF\x02\x01\x01",
                                             7) +
                                     std::string(500, '\0'));
    CBrowserDlg browser;
    QSignalSpy done(&browser, &CBrowserDlg::documentDone);
    std::vector<std::shared_ptr<BrowserPrintOutcome>> outcomes;
    for (const std::string& name : {docx, binary}) {
        std::unique_ptr<PrintJobRecord> record = Record(kNullQueue, name, 1);
        record->outcome = std::make_shared<BrowserPrintOutcome>();
        outcomes.push_back(record->outcome);
        browser.PrintDocument(std::move(record));
    }
    ASSERT_TRUE(WaitFor([&] { return done.count() == 2; }, kWaitMs)) << Log();
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        EXPECT_FALSE(done.at(static_cast<int>(i)).at(0).toBool());
        ASSERT_TRUE(outcomes[i]->Get());
        EXPECT_FALSE(outcomes[i]->Get()->printed);
    }
    EXPECT_EQ(JobsNamed(kNullQueue, docx).count, 0);
    EXPECT_NE(Log().find(docx + " cannot be printed: the browser cannot show a document of its type"),
              std::string::npos)
        << Log();
    EXPECT_NE(Log().find(binary + " cannot be printed"), std::string::npos) << Log();

    // A page that goes while records wait tells their requests at once.
    const std::string hanging = "hanging-" + tag + ".htm";
    const NeverEndingDocument never(dir / hanging);
    auto current = std::make_shared<BrowserPrintOutcome>();
    auto queued = std::make_shared<BrowserPrintOutcome>();
    {
        CBrowserDlg leaving;
        std::unique_ptr<PrintJobRecord> first = Record(kNullQueue, hanging, 1);
        first->outcome = current;
        std::unique_ptr<PrintJobRecord> second = Record(kNullQueue, HtmlDocument("queued"), 1);
        second->outcome = queued;
        leaving.PrintDocument(std::move(first));
        leaving.PrintDocument(std::move(second));
    }
    ASSERT_TRUE(current->Get() && queued->Get());
    EXPECT_FALSE(current->Get()->printed);
    EXPECT_FALSE(queued->Get()->printed);
}

} // namespace

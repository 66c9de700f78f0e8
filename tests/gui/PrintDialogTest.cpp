#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QTest>
#include <QTimer>
#include <functional>

#include "gui/SettingsWindowApplication.h"
#include "ui/QtPrintDialog.h"

namespace {

struct Offered {
    QStringList printers;
    bool pageRangeHidden = false;
    bool copiesHidden = false;
};

// Opens `dialog` as the program does, looks at the real print dialog a person would see, and chooses
// the first printer.
Offered Look(QtPrintDialog& dialog, QPrinter& printer, bool& accepted) {
    Offered offered;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* shown = qobject_cast<QPrintDialog*>(QApplication::activeModalWidget());
        if (shown == nullptr) {
            return;
        }
        poll.stop();
        if (auto* printers = shown->findChild<QComboBox*>("printers")) {
            for (int i = 0; i < printers->count(); ++i) {
                offered.printers << printers->itemText(i);
            }
            printers->setCurrentIndex(0);
        }
        QWidget* range = shown->findChild<QWidget*>(QtPrintDialog::kPageRangeGroup);
        QWidget* copies = shown->findChild<QWidget*>(QtPrintDialog::kCopiesBox);
        EXPECT_TRUE(range != nullptr && copies != nullptr) << "the print dialog names its parts otherwise";
        offered.pageRangeHidden = range != nullptr && range->isHidden();
        offered.copiesHidden = copies != nullptr && copies->parentWidget()->isHidden();
        shown->accept();
    });
    poll.start(20);
    accepted = dialog.Ask(printer, nullptr);
    return offered;
}

} // namespace

TEST(DrivePrintDialog, OffersOnlyThePrinterSoNoChoiceIsSilentlyIgnored) {
    if (std::getenv("CUPS_SERVER") == nullptr) {
        GTEST_SKIP() << "CUPS_SERVER is not set: no test spooler";
    }
    windowtest::Application();
    const QString toFile = QPrintDialog::tr("Print to File (PDF)");

    // The main window's print dialog offers everything it prints.
    QtPrintDialog ordinary;
    QPrinter first;
    bool accepted = false;
    const Offered all = Look(ordinary, first, accepted);
    EXPECT_TRUE(accepted);
    EXPECT_TRUE(all.printers.contains(toFile));
    EXPECT_FALSE(all.copiesHidden);

    // The pen drive's: all pages, the description's copies, never a file.
    QtPrintDialog drive = QtPrintDialog::ForDriveDocuments();
    QPrinter printer;
    const Offered some = Look(drive, printer, accepted);
    EXPECT_TRUE(accepted);
    EXPECT_FALSE(some.printers.isEmpty());
    EXPECT_FALSE(some.printers.contains(toFile)) << some.printers.join(", ").toStdString();
    EXPECT_TRUE(some.pageRangeHidden);
    EXPECT_TRUE(some.copiesHidden);
    EXPECT_EQ(printer.printerName(), some.printers.front());
    EXPECT_TRUE(printer.outputFileName().isEmpty());
    EXPECT_EQ(printer.printRange(), QPrinter::AllPages);
    EXPECT_EQ(printer.copyCount(), 1);
}

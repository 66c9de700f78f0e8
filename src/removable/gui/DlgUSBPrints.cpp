#include "removable/gui/DlgUSBPrints.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QHideEvent>
#include <QMetaObject>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <memory>
#include <system_error>
#include <utility>

#include "app/EventLog.h"
#include "app/IConfirmBox.h"
#include "app/IMessageBox.h"
#include "archive/KeptFolder.h"
#include "config/gui/LocalizedText.h"
#include "platform/Unicode.h"
#include "removable/DocumentScan.h"
#include "removable/gui/PrintProcessThread.h"
#include "ui/DeleteKey.h"
#include "ui/Mnemonics.h"

namespace fs = std::filesystem;

namespace {

enum TextId : unsigned {
    kPrintText = 142,
    kDeleteText = 147,
    kPreviewText = 148,
    kServiceText = 150,
    kCloseText = 156,
    kMissingFileText = 161,
    kDocumentsText = 162,
    kProgramText = 163,
    kDescriptionText = 164,
    kDateText = 165,
    kStatusText = 166,
    kPrintedText = 167,
    kNotPrintedText = 168,
    kSelectText = 169,
    kCopiesText = 171,
    kDeleteQuestionText = 172,
};

constexpr int kDefaultWidth = 680;
constexpr int kDefaultHeight = 320;
// Room around a cell's or a heading's text, and around the list in the window.
constexpr int kTextPadding = 14;
constexpr int kListMargin = 48;
// The widest date the list shows (digits are equally wide in the fonts of desktops).
constexpr const char* kWidestDate = " 00.00.0000 00:00:00";
constexpr const char* kWidestCopies = "9999";
constexpr const char* kFileMarker = "%s";

QTableWidgetItem* Cell(const QString& text) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return item;
}

QTableWidgetItem* CheckBox() {
    auto* item = new QTableWidgetItem;
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
    return item;
}

} // namespace

DlgUSBPrints::DlgUSBPrints(std::uint16_t interfaceLanguage, Parts windowParts, QWidget* parent)
    : QDialog(parent), language(interfaceLanguage), parts(std::move(windowParts)), folders(parts.sources),
      list(new QTableWidget(0, kColumns, this)), printButton(new QPushButton("Print", this)),
      previewButton(new QPushButton("Preview", this)), deleteButton(new QPushButton("Delete", this)),
      closeButton(new QPushButton("Close", this)), placement(*this, kPlacementSection) {
    setObjectName("DlgUSBPrints");
    list->setObjectName("documentList");
    printButton->setObjectName("printButton");
    previewButton->setObjectName("previewButton");
    deleteButton->setObjectName("deleteButton");
    closeButton->setObjectName("closeButton");

    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setWordWrap(false);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->horizontalHeader()->setStretchLastSection(false);
    // The check box column is narrower than the style's smallest column.
    list->horizontalHeader()->setMinimumSectionSize(kCheckWidth);
    list->setColumnWidth(kCheckColumn, kCheckWidth);

    // Enter in the list must not press Delete or Print.
    for (QPushButton* button : {printButton, previewButton, deleteButton, closeButton}) {
        button->setAutoDefault(false);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(printButton);
    buttons->addWidget(previewButton);
    buttons->addWidget(deleteButton);
    buttons->addStretch();
    buttons->addWidget(closeButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list, 1);
    layout->addLayout(buttons);

    DeleteKey::Attach(list, [this] { Delete(); });
    connect(printButton, &QPushButton::clicked, this, &DlgUSBPrints::Print);
    connect(previewButton, &QPushButton::clicked, this, &DlgUSBPrints::Preview);
    connect(deleteButton, &QPushButton::clicked, this, &DlgUSBPrints::Delete);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::hide);
    connect(list, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == kCheckColumn) {
            UpdatePreviewButton();
        }
    });

    SetTexts();
    FitColumns();
    int listWidth = 0;
    for (int column = 0; column < kColumns; ++column) {
        listWidth += list->columnWidth(column);
    }
    resize(std::max(kDefaultWidth, listWidth + kListMargin), kDefaultHeight);
    RefreshDocumentList();
    placement.Restore();
}

DlgUSBPrints::~DlgUSBPrints() {
    // The workers end first: a question still open counts as cancelled, and no batch is posted after.
    scan.reset();
    prints.clear();
}

QString DlgUSBPrints::Text(unsigned id, const char* windowText) const {
    return LocalizedText(id, language, windowText);
}

void DlgUSBPrints::SetTexts() {
    setWindowTitle(QString("%1 - %2").arg(Text(kServiceText, "Wi-Fi print service"),
                                          Text(kDocumentsText, "Documents on removable drives")));
    printButton->setText(Text(kPrintText, "Print"));
    previewButton->setText(Text(kPreviewText, "Preview"));
    deleteButton->setText(Text(kDeleteText, "Delete"));
    closeButton->setText(Text(kCloseText, "Close"));
    list->setAccessibleName(Text(kDocumentsText, "Documents on removable drives"));
    AssignMnemonics({printButton, previewButton, deleteButton, closeButton});
    list->setHorizontalHeaderLabels({QString(), Text(kProgramText, "Program"),
                                     Text(kDescriptionText, "Description"), Text(kDateText, "Date"),
                                     Text(kStatusText, "Status"), Text(kCopiesText, "Copies")});
}

void DlgUSBPrints::FitColumns() {
    const QFontMetrics cellMetrics(list->font());
    const QFontMetrics headingMetrics(list->horizontalHeader()->font());
    const auto fit = [&](int column, int width, const QStringList& texts) {
        width = std::max(width, headingMetrics.horizontalAdvance(list->horizontalHeaderItem(column)->text()) +
                                    kTextPadding);
        for (const QString& text : texts) {
            width = std::max(width, cellMetrics.horizontalAdvance(text) + kTextPadding);
        }
        list->setColumnWidth(column, width);
    };
    fit(kProgramColumn, kProgramWidth, {});
    fit(kDescriptionColumn, kDescriptionWidth, {});
    fit(kDateColumn, kDateWidth, {kWidestDate});
    fit(kStatusColumn, kStatusWidth, {Text(kPrintedText, "Printed"), Text(kNotPrintedText, "Not printed")});
    fit(kCopiesColumn, kCopiesWidth, {kWidestCopies});
}

void DlgUSBPrints::RefreshDocumentList() {
    // The worker of the last scan ends before the next document folder; what it posted meanwhile is
    // dropped by its number.
    scan.reset();
    const std::uint64_t serial = ++scanSerial;
    documents.clear();
    {
        const QSignalBlocker quiet(list);
        list->setRowCount(0);
    }
    UpdatePreviewButton();
    // The window ends the scan before it goes, so the posts always find it.
    scan = std::make_unique<DocumentScan>(
        folders,
        [this, serial](std::vector<RemovableDocument> batch) {
            QMetaObject::invokeMethod(
                this,
                [this, serial, batch = std::move(batch)]() mutable {
                    AddDocuments(serial, std::move(batch));
                },
                Qt::QueuedConnection);
        },
        [this, serial] {
            QMetaObject::invokeMethod(
                this, [this, serial] { OnScanEnded(serial); }, Qt::QueuedConnection);
        });
}

void DlgUSBPrints::OnScanEnded(std::uint64_t serial) {
    if (serial != scanSerial) {
        return;
    }
    scan.reset();
    emit documentListFilled();
    if (printFinishedPending) {
        printFinishedPending = false;
        emit printFinished();
    }
}

void DlgUSBPrints::AddDocuments(std::uint64_t serial, std::vector<RemovableDocument> batch) {
    if (serial != scanSerial) {
        return;
    }
    const int first = RowCount();
    documents.insert(documents.end(), std::make_move_iterator(batch.begin()),
                     std::make_move_iterator(batch.end()));
    const QString printed = Text(kPrintedText, "Printed");
    const QString notPrinted = Text(kNotPrintedText, "Not printed");
    {
        // Filling the rows is no ticking.
        const QSignalBlocker quiet(list);
        list->setRowCount(RowCount());
        for (int row = first; row < RowCount(); ++row) {
            const RemovableDocument& document = DocumentAt(row);
            list->setItem(row, kCheckColumn, CheckBox());
            list->setItem(row, kProgramColumn, Cell(QString::fromStdString(document.application)));
            list->setItem(row, kDescriptionColumn, Cell(QString::fromStdString(document.description)));
            list->setItem(
                row, kDateColumn,
                Cell(QString::fromStdString(DocumentFolders::FormatDocumentDate(document.datetime))));
            list->setItem(row, kStatusColumn, Cell(document.printed ? printed : notPrinted));
            list->setItem(row, kCopiesColumn, Cell(QString::number(document.copies)));
        }
    }
    // The new rows come unticked, so the Preview button stays as it is (looking at every row after
    // each batch would cost a big drive's list more than filling it).
}

std::vector<int> DlgUSBPrints::TickedRows() const {
    std::vector<int> rows;
    for (int row = 0; row < list->rowCount() && row < RowCount(); ++row) {
        const QTableWidgetItem* box = list->item(row, kCheckColumn);
        if (box != nullptr && box->checkState() == Qt::Checked) {
            rows.push_back(row);
        }
    }
    return rows;
}

void DlgUSBPrints::UpdatePreviewButton() {
    previewButton->setEnabled(TickedRows().size() == 1);
    // With no document at all there is nothing to print or delete.
    printButton->setEnabled(RowCount() > 0);
    deleteButton->setEnabled(RowCount() > 0);
}

void DlgUSBPrints::Print() {
    std::vector<PrintProcessThread::TickedDocument> ticked;
    for (const int row : TickedRows()) {
        const RemovableDocument& document = DocumentAt(row);
        ticked.push_back({document.documentPath, document.copies, document.folderPath, document.filename});
    }
    if (ticked.empty()) {
        parts.messages.Show(Text(kSelectText, "Select a document").toStdString());
        return;
    }
    auto print = std::make_unique<PrintProcessThread>(std::move(ticked), documents, parts.printDialog, this,
                                                      parts.mainWindow);
    PrintProcessThread* started = print.get();
    // Cancelled: nothing was printed, so the list stays as the person left it, ticks and all.
    auto declined = std::make_shared<bool>(false);
    connect(started, &PrintProcessThread::printerDeclined, this, [this, declined] {
        *declined = true;
        show();
        raise();
        activateWindow();
    });
    connect(started, &PrintProcessThread::documentMissing, this, &DlgUSBPrints::ShowMissingFile);
    connect(started, &PrintProcessThread::finished, this,
            [this, started, declined] { OnPrintFinished(started, !*declined); });
    prints.push_back(std::move(print));
    started->Start();
}

void DlgUSBPrints::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) {
        hiddenAt = pos();
    }
    QDialog::hideEvent(event);
}

void DlgUSBPrints::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (hiddenAt && !event->spontaneous()) {
        move(*hiddenAt);
    }
}

void DlgUSBPrints::ShowMissingFile(const QString& path) {
    QString text = Text(kMissingFileText, "Cannot find the file %s");
    const qsizetype marker = text.indexOf(kFileMarker);
    if (marker >= 0) {
        text.replace(marker, static_cast<qsizetype>(std::char_traits<char>::length(kFileMarker)), path);
    }
    parts.messages.Show(text.toStdString());
}

void DlgUSBPrints::OnPrintFinished(PrintProcessThread* print, bool printed) {
    const auto found =
        std::find_if(prints.begin(), prints.end(),
                     [print](const std::unique_ptr<PrintProcessThread>& p) { return p.get() == print; });
    if (found != prints.end()) {
        prints.erase(found);
    }
    // Cancelled: nothing was printed, so the list stays as the person left it, ticks and all.
    if (printed) {
        printFinishedPending = true;
        RefreshDocumentList();
    } else {
        emit printFinished();
    }
}

void DlgUSBPrints::Preview() {
    const std::vector<int> rows = TickedRows();
    if (rows.size() != 1) {
        parts.messages.Show(Text(kSelectText, "Select a document").toStdString());
        return;
    }
    const RemovableDocument& document = DocumentAt(rows.front());
    if (document.documentPath.empty()) {
        // The description names no file of its folder: there is nothing to show.
        ShowMissingFile(QString::fromStdString((document.folderPath / document.filename).string()));
        return;
    }
    previewPath = document.documentPath;
    hide();
    emit previewRequested(QString::fromStdString(previewPath.string()));
}

void DlgUSBPrints::Delete() {
    const std::vector<int> rows = TickedRows();
    if (rows.empty()) {
        parts.messages.Show(Text(kSelectText, "Select a document").toStdString());
        return;
    }
    const QString question =
        Text(kDeleteQuestionText, "Attention!\nAre you sure you wish to delete the selected documents?");
    if (!parts.confirmation.Confirm(question.toStdString())) {
        return;
    }
    // The rows change with the refresh below: the folders are taken first.
    std::vector<fs::path> ticked;
    for (const int row : rows) {
        ticked.push_back(DocumentAt(row).folderPath);
    }
    for (const fs::path& folder : ticked) {
        RemoveDocumentFolder(folder);
    }
    RefreshDocumentList();
}

bool DlgUSBPrints::RemoveDocumentFolder(const fs::path& folder) {
    // The folder must still sit in a document root, itself no link, of a drive that is still there:
    // a link put in its way since the listing could lead anywhere on this machine.
    const fs::path root = folder.parent_path();
    const std::vector<fs::path> drives = folders.ListRemovableDrives();
    std::error_code error;
    const bool documentFolder =
        folder.has_filename() &&
        std::find(drives.begin(), drives.end(), root.parent_path()) != drives.end() &&
        AsciiUpper(root.filename().string()) == AsciiUpper(DocumentFolders::kDocumentRootName) &&
        fs::symlink_status(root, error).type() == fs::file_type::directory &&
        KeptFolder::LiesInside(folder, root);
    if (!documentFolder) {
        EventLog::Write("[WARNING] %s is not a document folder of a removable drive and is not removed",
                        folder.c_str());
        return false;
    }
    // A link in place of the folder, or inside it, goes by itself; what it points at stays.
    fs::remove_all(folder, error);
    if (error) {
        EventLog::Write("[ERROR] Cannot delete folder %s: %s", folder.c_str(), error.message().c_str());
    }
    EventLog::Write("Delete folder: %s", folder.c_str());
    return !error;
}

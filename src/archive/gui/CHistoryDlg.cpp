#include "archive/gui/CHistoryDlg.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <exception>
#include <utility>

#include "app/DataFolder.h"
#include "app/EventLog.h"
#include "app/IConfirmBox.h"
#include "archive/KeptFolder.h"
#include "config/gui/LocalizedText.h"
#include "ui/DeleteKey.h"
#include "ui/Mnemonics.h"

namespace {

enum TextId : unsigned {
    kCaptionText = 145,
    kDeleteText = 147,
    kPreviewText = 148,
    kDateText = 151,
    kFileText = 152,
    kPrinterText = 153,
    kDeleteQuestionText = 172,
};

enum Column { kDateColumn = 0, kFileColumn = 1, kPrinterColumn = 2, kColumns = 3 };

constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 320;

QTableWidgetItem* Cell(const std::string& text) {
    return new QTableWidgetItem(QString::fromStdString(text));
}

} // namespace

CHistoryDlg::CHistoryDlg(std::uint16_t language, PrintedDocuments& documents, QWidget* parent)
    : QDialog(parent), language(language), documents(documents), list(new QTableWidget(0, kColumns, this)),
      previewButton(new QPushButton("Preview", this)), deleteButton(new QPushButton("Delete", this)),
      placement(*this, kPlacementSection) {
    setObjectName("CHistoryDlg");
    list->setObjectName("historyList");
    previewButton->setObjectName("previewButton");
    deleteButton->setObjectName("deleteButton");

    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setShowGrid(true);
    list->setWordWrap(false);
    list->verticalHeader()->hide();
    list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list->horizontalHeader()->setStretchLastSection(false);
    list->setColumnWidth(kDateColumn, kDateWidth);
    list->setColumnWidth(kFileColumn, kFileWidth);
    list->setColumnWidth(kPrinterColumn, kPrinterWidth);

    // Enter in the list must not press Delete.
    for (QPushButton* button : {previewButton, deleteButton}) {
        button->setAutoDefault(false);
        button->setEnabled(false);
    }

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(previewButton);
    buttons->addWidget(deleteButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list, 1);
    layout->addLayout(buttons);

    // The keyboard reaches everything: Delete in the list, Enter previews.
    DeleteKey::Attach(list, [this] { Delete(); });
    connect(list, &QTableWidget::activated, this, &CHistoryDlg::Preview);
    connect(previewButton, &QPushButton::clicked, this, &CHistoryDlg::Preview);
    connect(deleteButton, &QPushButton::clicked, this, &CHistoryDlg::Delete);
    connect(list->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CHistoryDlg::UpdateButtons);

    SetTexts(language);
    resize(kDefaultWidth, kDefaultHeight);
    placement.Restore();
}

void CHistoryDlg::SetTexts(std::uint16_t language) {
    setWindowTitle(LocalizedText(kCaptionText, language, "History"));
    previewButton->setText(LocalizedText(kPreviewText, language, "Preview"));
    deleteButton->setText(LocalizedText(kDeleteText, language, "Delete"));
    list->setHorizontalHeaderLabels({LocalizedText(kDateText, language, "Date"),
                                     LocalizedText(kFileText, language, "File"),
                                     LocalizedText(kPrinterText, language, "Printer")});
    list->setAccessibleName(windowTitle());
    AssignMnemonics({previewButton, deleteButton});
}

void CHistoryDlg::AddHistoryEntry(const PrintJobRecord& record) {
    try {
        records.push_back(record);
        const int row = list->rowCount();
        list->insertRow(row);
        list->setItem(row, kDateColumn, Cell(record.date));
        list->setItem(row, kFileColumn, Cell(record.documentName));
        list->setItem(row, kPrinterColumn, Cell(record.printerName));
    } catch (const std::exception&) {
        EventLog::Write("AddDocument error.");
        // Rows and records stay pairs: a row without its record goes again.
        if (list->rowCount() > RowCount()) {
            list->removeRow(list->rowCount() - 1);
        }
    }
}

int CHistoryDlg::FirstSelectedRow() const {
    int first = -1;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) {
        if (first < 0 || index.row() < first) {
            first = index.row();
        }
    }
    return first;
}

void CHistoryDlg::UpdateButtons() {
    const bool selected = list->selectionModel()->hasSelection();
    previewButton->setEnabled(selected);
    deleteButton->setEnabled(selected);
}

void CHistoryDlg::Preview() {
    list->setFocus();
    const int row = FirstSelectedRow();
    if (row < 0) {
        return;
    }
    // A copy: what the receiver does may add or delete rows meanwhile.
    const PrintJobRecord record = RecordAt(row);
    emit showDocumentRequested(record);
}

std::vector<int> CHistoryDlg::SelectedRowsDescending() const {
    std::vector<int> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) {
        rows.push_back(index.row());
    }
    std::sort(rows.rbegin(), rows.rend());
    return rows;
}

void CHistoryDlg::Delete() {
    const std::vector<int> rows = SelectedRowsDescending();
    if (rows.empty()) {
        return;
    }
    const QString question = LocalizedText(
        kDeleteQuestionText, language, "Attention!\nAre you sure you wish to delete the selected documents?");
    if (confirmation != nullptr && !confirmation->Confirm(question.toStdString())) {
        return;
    }
    // The highest first, so that the rows still to go keep their numbers.
    for (const int row : rows) {
        DeleteRow(row);
    }
    UpdateButtons();
}

void CHistoryDlg::DeleteRow(int row) {
    try {
        const PrintJobRecord& record = RecordAt(row);
        documents.RemovePrintedDocument(record.id);
        // A folder that is gone or cannot go does not keep the row.
        KeptFolder::Remove(record.workingFolder, DataFolder::Path());
    } catch (const std::exception&) {
        EventLog::Write("DeleteDocument error.");
    }
    records.erase(records.begin() + row);
    list->removeRow(row);
}

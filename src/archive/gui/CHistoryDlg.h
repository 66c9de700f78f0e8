#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

#include "archive/PrintedDocuments.h"
#include "print/PrintJobRecord.h"
#include "ui/WindowPlacement.h"

class IConfirmBox;
class QPushButton;
class QTableWidget;

// The history window: the documents kept in the register of printed documents, one row each (date,
// document, printer), with Preview (shows the kept document in the main window) and Delete (removes
// the register entry, the kept working folder and the row). Made hidden once with the main window,
// filled at start-up and by each recorded print; rows leave only by Delete. Lives on the GUI thread.
class CHistoryDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kDateWidth = 180;
    static constexpr int kFileWidth = 260;
    static constexpr int kPrinterWidth = 140;
    static constexpr const char* kPlacementSection = "QopraDocs";

    // Texts in `language`; entries are deleted from `documents`.
    CHistoryDlg(std::uint16_t language, PrintedDocuments& documents, QWidget* parent = nullptr);

    // The question before Delete; without one Delete asks nothing.
    void SetConfirmation(IConfirmBox* question) { confirmation = question; }

    int RowCount() const { return static_cast<int>(records.size()); }
    // The record of a row; the window keeps it until the row is deleted.
    const PrintJobRecord& RecordAt(int row) const { return records.at(static_cast<std::size_t>(row)); }

public slots:
    // Appends a row for a copy of `record` (connect to MainWindowController::historyEntryAdded).
    void AddHistoryEntry(const PrintJobRecord& record);
    // The Preview button: asks for the first selected row's document to be shown.
    void Preview();
    // The Delete button and the Delete key: after one question, deletes the register entries, kept
    // folders and rows of every selected row.
    void Delete();

signals:
    // The main window's view should show this kept document.
    void showDocumentRequested(const PrintJobRecord& record);

private:
    void SetTexts(std::uint16_t language);
    // The lowest selected row, or -1.
    int FirstSelectedRow() const;
    // Every selected row, the highest first.
    std::vector<int> SelectedRowsDescending() const;
    void DeleteRow(int row);
    // Preview and Delete are usable while a row is selected.
    void UpdateButtons();

    std::uint16_t language;
    PrintedDocuments& documents;
    IConfirmBox* confirmation = nullptr;
    std::vector<PrintJobRecord> records; // one per row, in row order
    QTableWidget* list;
    QPushButton* previewButton;
    QPushButton* deleteButton;
    WindowPlacement placement;
};

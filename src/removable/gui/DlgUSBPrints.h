#pragma once

#include <QDialog>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <vector>

#include "removable/DocumentFolders.h"
#include "removable/RemovableDocument.h"
#include "removable/VolumeSources.h"
#include "ui/WindowPlacement.h"

class DocumentScan;
class IConfirmBox;
class IMainWindowPort;
class IMessageBox;
class IPrintDialog;
class PrintProcessThread;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

// The documents window: the documents found on removable drives, one row each with a check box
// (program, description, date, status, copies), with Print (the ticked documents, on a worker of
// their own), Preview (the one ticked document, shown in the main window), Delete (the ticked
// document folders) and Close (hides the window). Made hidden once with the main window; its list
// follows the drives through RefreshDocumentList, whose scan runs on a worker: the rows come as the
// drive is read, and the GUI thread never waits for a drive. Lives on the GUI thread.
class DlgUSBPrints : public QDialog {
    Q_OBJECT

public:
    // Column widths; a column is wider where its heading or its texts need more in the desktop's font.
    static constexpr int kCheckWidth = 20;
    static constexpr int kProgramWidth = 130;
    static constexpr int kDescriptionWidth = 200;
    static constexpr int kDateWidth = 120;
    static constexpr int kStatusWidth = 80;
    static constexpr int kCopiesWidth = 60;
    static constexpr const char* kPlacementSection = "QopraUSB";

    enum Column {
        kCheckColumn = 0,
        kProgramColumn,
        kDescriptionColumn,
        kDateColumn,
        kStatusColumn,
        kCopiesColumn,
        kColumns
    };

    // What the window works with; each outlives it.
    struct Parts {
        // Asks for the printer of a Print command.
        IPrintDialog& printDialog;
        // "Select a document", "Cannot find the file %s".
        IMessageBox& messages;
        // The question before Delete.
        IConfirmBox& confirmation;
        // Takes the documents that are no PDF as print-job records (the main window's controller);
        // null: only PDF documents print.
        IMainWindowPort* mainWindow = nullptr;
        // Where the removable volumes are learnt from.
        VolumeSources sources = {};
    };

    // Texts in `language`; the list is filled at once.
    DlgUSBPrints(std::uint16_t language, Parts parts, QWidget* parent = nullptr);
    ~DlgUSBPrints() override;

    int RowCount() const { return static_cast<int>(documents.size()); }
    // The record of a row, in row order.
    const RemovableDocument& DocumentAt(int row) const { return documents.at(static_cast<std::size_t>(row)); }
    // The document chosen by the last Preview.
    const std::filesystem::path& PreviewPath() const { return previewPath; }
    // Print commands whose worker has not finished yet.
    int PrintsRunning() const { return static_cast<int>(prints.size()); }
    // The drives are being read for the list.
    bool Scanning() const { return scan != nullptr; }

public slots:
    // Empties the list and fills it again from the removable drives (also called by the main window
    // when a drive comes or goes): the rows come as the scan finds them, until documentListFilled. A
    // scan still running is given up.
    void RefreshDocumentList();
    // The Print button, and Print in the main window during a pen-drive preview: prints the ticked
    // documents on the printer the print dialog gives.
    void Print();
    // The Preview button: hides this window and asks the main window to show the ticked document.
    void Preview();
    // The Delete button: after the question, removes the ticked document folders from the drives.
    void Delete();

protected:
    // A window manager places a window shown again by its frame, not by its contents: without this
    // the window would move down by its title bar after every Preview.
    void hideEvent(QHideEvent* event) override;
    void showEvent(QShowEvent* event) override;

signals:
    // The main window should show this document (a pen-drive preview).
    void previewRequested(const QString& path);
    // A Print command has handed over its documents (or was cancelled) and the list is fresh.
    void printFinished();
    // The scan of the last RefreshDocumentList is over: the list holds every document found.
    void documentListFilled();

private:
    void SetTexts();
    // Rows for a batch of the scan numbered `serial`; batches of a scan given up are dropped.
    void AddDocuments(std::uint64_t serial, std::vector<RemovableDocument> batch);
    void OnScanEnded(std::uint64_t serial);
    // Widens the columns whose heading or fixed-format texts would be cut.
    void FitColumns();
    QString Text(unsigned id, const char* windowText) const;
    // The ticked rows, in row order.
    std::vector<int> TickedRows() const;
    // Preview is usable with exactly one ticked row.
    void UpdatePreviewButton();
    // "Cannot find the file %s" with `path`.
    void ShowMissingFile(const QString& path);
    // `printed`: the documents were handed over (not cancelled), so the list is read again.
    void OnPrintFinished(PrintProcessThread* print, bool printed);
    // Removes one document folder when it is still a folder of a document root on a removable drive;
    // links are never followed out of it.
    bool RemoveDocumentFolder(const std::filesystem::path& folder);

    std::uint16_t language;
    Parts parts;
    DocumentFolders folders;
    std::vector<RemovableDocument> documents; // one per row, in row order
    std::filesystem::path previewPath;
    // Where the window was when it was last hidden.
    std::optional<QPoint> hiddenAt;
    QTableWidget* list;
    QPushButton* printButton;
    QPushButton* previewButton;
    QPushButton* deleteButton;
    QPushButton* closeButton;
    std::vector<std::unique_ptr<PrintProcessThread>> prints;
    std::unique_ptr<DocumentScan> scan;
    std::uint64_t scanSerial = 0;
    // A print has finished: printFinished waits for the fresh list.
    bool printFinishedPending = false;
    WindowPlacement placement;
};

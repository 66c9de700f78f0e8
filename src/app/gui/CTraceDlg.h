#pragma once

#include <QDialog>
#include <QStringList>

#include "ui/WindowPlacement.h"

class QPlainTextEdit;

// The trace window: one text box with the network conversation, line by line, each with its time
// stamp. Made hidden once; lines arrive whether it is shown or not and stay for the next showing.
// Only the last kKeptLines lines are kept, so a long run cannot make the window slow or huge.
// Lives on the GUI thread; other threads reach it through TraceWindowSink.
class CTraceDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kKeptLines = 50000;
    static constexpr const char* kPlacementSection = "QopraTrace";

    explicit CTraceDlg(QWidget* parent = nullptr);

    // Adds the lines at the end, each on a line of its own; the view follows them while it shows the
    // end of the text.
    void AppendLines(const QStringList& lines);
    void AppendLine(const QString& line) { AppendLines(QStringList{line}); }

    QString Text() const;
    int LineCount() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The view follows new lines while the newest line is in sight.
    bool ShowsNewestLine() const;
    void ShowNewestLine();

    QPlainTextEdit* text;
    WindowPlacement placement;
};

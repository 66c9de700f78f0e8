#include "app/gui/CTraceDlg.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int kDefaultWidth = 640;
constexpr int kDefaultHeight = 240;

} // namespace

CTraceDlg::CTraceDlg(QWidget* parent)
    : QDialog(parent), text(new QPlainTextEdit(this)), placement(*this, kPlacementSection) {
    setObjectName("CTraceDlg");
    setWindowTitle("Trace");
    text->setObjectName("traceText");
    text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    text->setMaximumBlockCount(kKeptLines);
    text->setUndoRedoEnabled(false); // an undo history of every line would grow without end

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(text);
    resize(kDefaultWidth, kDefaultHeight);
    placement.Restore();
}

void CTraceDlg::AppendLines(const QStringList& lines) {
    if (lines.isEmpty()) {
        return;
    }
    // One insertion for the whole batch: the text box lays out and trims once, not once per line.
    const qsizetype first = std::max<qsizetype>(0, lines.size() - kKeptLines);
    const bool following = ShowsNewestLine();
    text->appendPlainText(first == 0 ? lines.join('\n') : lines.sliced(first).join('\n'));
    if (following) {
        ShowNewestLine();
    }
}

bool CTraceDlg::ShowsNewestLine() const {
    const QScrollBar* bar = text->verticalScrollBar();
    if (bar->value() == bar->maximum()) {
        return true;
    }
    QTextCursor end(text->document());
    end.movePosition(QTextCursor::End);
    return text->viewport()->rect().contains(text->cursorRect(end).bottomLeft());
}

void CTraceDlg::ShowNewestLine() {
    text->verticalScrollBar()->setValue(text->verticalScrollBar()->maximum());
}

QString CTraceDlg::Text() const {
    return text->toPlainText();
}

int CTraceDlg::LineCount() const {
    return text->document()->isEmpty() ? 0 : text->blockCount();
}

void CTraceDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // Lines that came while the window was hidden: open on the newest.
    ShowNewestLine();
}

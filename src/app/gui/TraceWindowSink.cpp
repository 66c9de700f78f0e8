#include "app/gui/TraceWindowSink.h"

#include <QMetaObject>
#include <QStringList>
#include <utility>

#include "app/gui/CTraceDlg.h"

TraceWindowSink::TraceWindowSink(CTraceDlg* window, QObject* parent) : QObject(parent), window(window) {}

void TraceWindowSink::SetWindow(CTraceDlg* traceWindow) {
    window = traceWindow;
}

void TraceWindowSink::TraceLine(const std::string& line) {
    QString text = QString::fromStdString(line);
    bool post = false;
    {
        std::lock_guard guard(lock);
        pending.push_back(std::move(text));
        if (pending.size() > static_cast<std::size_t>(CTraceDlg::kKeptLines)) {
            pending.pop_front();
        }
        post = !deliveryPosted;
        deliveryPosted = true;
    }
    if (post) {
        QMetaObject::invokeMethod(this, &TraceWindowSink::Deliver, Qt::QueuedConnection);
    }
}

void TraceWindowSink::Deliver() {
    std::deque<QString> lines;
    {
        std::lock_guard guard(lock);
        lines.swap(pending);
        deliveryPosted = false;
    }
    if (window) {
        window->AppendLines(
            QStringList(std::make_move_iterator(lines.begin()), std::make_move_iterator(lines.end())));
    }
}

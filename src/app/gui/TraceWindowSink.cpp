#include "app/gui/TraceWindowSink.h"

#include <QMetaObject>
#include <QStringList>
#include <algorithm>
#include <utility>

#include "app/gui/CTraceDlg.h"
#include "platform/Unicode.h"

TraceWindowSink::TraceWindowSink(CTraceDlg* window, QObject* parent) : QObject(parent), window(window) {}

void TraceWindowSink::SetWindow(CTraceDlg* traceWindow) {
    window = traceWindow;
}

void TraceWindowSink::TraceLine(const std::string& line) {
    // What devices send is traced: none of it may start a line of its own.
    QString text = QString::fromStdString(EscapeControlCharacters(line));
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
    QStringList lines;
    bool more = false;
    {
        std::lock_guard guard(lock);
        const std::size_t count = std::min(pending.size(), kDeliveryBatch);
        lines.reserve(static_cast<qsizetype>(count));
        for (std::size_t i = 0; i < count; ++i) {
            lines.append(std::move(pending.front()));
            pending.pop_front();
        }
        more = !pending.empty();
        deliveryPosted = more;
    }
    // The rest after the events that came meanwhile: a flood never holds up clicks and painting.
    if (more) {
        QMetaObject::invokeMethod(this, &TraceWindowSink::Deliver, Qt::QueuedConnection);
    }
    if (window) {
        window->AppendLines(lines);
    }
}

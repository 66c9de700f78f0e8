#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

#include "app/ITraceSink.h"

class CTraceDlg;

// The trace of the desktop program: lines from any thread reach the trace window on the GUI thread,
// their control characters written out (EscapeControlCharacters).
// A network thread only queues its line and, for the first line of a batch, posts one delivery; it
// never waits for the GUI thread. What was queued meanwhile goes to the window in appends of up to
// kDeliveryBatch lines, with the GUI thread's other events in between. The queue keeps no more lines
// than the window would, so a GUI thread that is held up costs no memory beyond that. Made and destroyed on
// the GUI thread, after and before the threads that trace.
class TraceWindowSink : public QObject, public ITraceSink {
    Q_OBJECT

public:
    static constexpr std::size_t kDeliveryBatch = 1000;

    explicit TraceWindowSink(CTraceDlg* window = nullptr, QObject* parent = nullptr);

    // GUI thread. Lines delivered while there is no window are dropped.
    void SetWindow(CTraceDlg* window);
    // Any thread.
    void TraceLine(const std::string& line) override;

private:
    void Deliver();

    QPointer<CTraceDlg> window;
    std::mutex lock;
    std::deque<QString> pending;
    bool deliveryPosted = false;
};

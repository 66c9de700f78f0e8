#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <deque>
#include <mutex>
#include <string>

#include "app/ITraceSink.h"

class CTraceDlg;

// The trace of the desktop program: lines from any thread reach the trace window on the GUI thread.
// A network thread only queues its line and, for the first line of a batch, posts one delivery; it
// never waits for the GUI thread. Everything queued meanwhile goes to the window in one append. The
// queue keeps no more lines than the window would, so a GUI thread that is held up costs no memory
// beyond that. Made and destroyed on the GUI thread, after and before the threads that trace.
class TraceWindowSink : public QObject, public ITraceSink {
    Q_OBJECT

public:
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

#pragma once

#include <QObject>
#include <QString>

// Watches the characters typed in any window of the program for a fixed sequence; a wrong character
// starts the count over. Installed on the application, it sees each key press once, at the widget
// that first receives it.
class KeySequenceWatcher : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kTraceSequence = "53814026";

    explicit KeySequenceWatcher(QString sequence = kTraceSequence, QObject* parent = nullptr);

signals:
    void sequenceTyped();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Take(QChar character);

    QString sequence;
    int matched = 0;
};

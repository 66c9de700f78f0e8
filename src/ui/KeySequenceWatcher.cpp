#include "ui/KeySequenceWatcher.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

KeySequenceWatcher::KeySequenceWatcher(QString wanted, QObject* parent)
    : QObject(parent), sequence(std::move(wanted)) {}

bool KeySequenceWatcher::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        // A key press a widget does not take goes on to its parents; only its first receiver counts.
        QWidget* first = QApplication::focusWidget() != nullptr ? QApplication::focusWidget()
                                                                : QApplication::activeWindow();
        const QString text = static_cast<QKeyEvent*>(event)->text();
        if ((first == nullptr || watched == first) && text.size() == 1) {
            Take(text[0]);
        }
    }
    return QObject::eventFilter(watched, event);
}

void KeySequenceWatcher::Take(QChar character) {
    if (character == sequence[matched]) {
        if (++matched == sequence.size()) {
            matched = 0;
            emit sequenceTyped();
        }
    } else {
        matched = 0;
    }
}

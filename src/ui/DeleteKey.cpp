#include "ui/DeleteKey.h"

#include <QAbstractItemView>
#include <QEvent>
#include <QKeyEvent>
#include <QKeySequence>

#include <utility>

DeleteKey::DeleteKey(QObject* parent, std::function<void()> onDelete)
    : QObject(parent), onDelete(std::move(onDelete)) {}

void DeleteKey::Attach(QAbstractItemView* list, std::function<void()> onDelete) {
    list->installEventFilter(new DeleteKey(list, std::move(onDelete)));
}

bool DeleteKey::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->matches(QKeySequence::Delete)) {
        onDelete();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

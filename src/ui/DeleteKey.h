#pragma once

#include <QObject>

#include <functional>

class QAbstractItemView;

// Makes the Delete key in `list` do what a window's Delete button does; the filter lives as long as
// the list.
class DeleteKey : public QObject {
public:
    static void Attach(QAbstractItemView* list, std::function<void()> onDelete);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DeleteKey(QObject* parent, std::function<void()> onDelete);

    std::function<void()> onDelete;
};

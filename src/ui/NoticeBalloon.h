#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>

class QLabel;

// A notification of the program's own, where the desktop has no notification service and no tray:
// a small frame at the lower right corner of the screen with a title and a text, in the colours of
// the desktop's tool tips. It never takes the keyboard focus; a click or its time closes it.
class NoticeBalloon : public QWidget {
    Q_OBJECT

public:
    NoticeBalloon(const QString& title, const QString& text, int milliseconds);

    QString Title() const;
    QString Text() const;
    // Shows it at the corner of the primary screen without activating it.
    void Pop();

protected:
    void mousePressEvent(QMouseEvent* event) override;

private:
    QLabel* titleLabel;
    QLabel* textLabel;
    QTimer timeout;
};

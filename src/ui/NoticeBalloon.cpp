#include "ui/NoticeBalloon.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>

#include "ui/ProgramIcons.h"

namespace {

constexpr int kWidth = 360;
constexpr int kScreenMargin = 16;

} // namespace

NoticeBalloon::NoticeBalloon(const QString& title, const QString& text, int milliseconds)
    : QWidget(nullptr, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus),
      titleLabel(new QLabel(title, this)), textLabel(new QLabel(text, this)) {
    setObjectName("NoticeBalloon");
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);
    setFocusPolicy(Qt::NoFocus);
    setWindowIcon(ProgramIcons::Application());
    // Its own name on the screen, so that nothing takes it for the tray icon or a window.
    setWindowTitle(title);
    setAccessibleName(title);
    // The colours of tool tips in the desktop's theme, light or dark.
    setBackgroundRole(QPalette::ToolTipBase);
    setForegroundRole(QPalette::ToolTipText);
    setAutoFillBackground(true);
    for (QLabel* label : {titleLabel, textLabel}) {
        label->setForegroundRole(QPalette::ToolTipText);
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
    }
    titleLabel->setObjectName("noticeTitle");
    textLabel->setObjectName("noticeText");
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(titleLabel);
    layout->addWidget(textLabel);
    setFixedWidth(kWidth);
    timeout.setSingleShot(true);
    timeout.setInterval(milliseconds);
    connect(&timeout, &QTimer::timeout, this, &QWidget::close);
}

QString NoticeBalloon::Title() const {
    return titleLabel->text();
}

QString NoticeBalloon::Text() const {
    return textLabel->text();
}

void NoticeBalloon::Pop() {
    // The texts wrap: the height is what they need at the balloon's width.
    layout()->activate();
    setFixedHeight(layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(kWidth)
                                                 : sizeHint().height());
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.right() - width() - kScreenMargin, area.bottom() - height() - kScreenMargin);
    }
    show();
    timeout.start();
}

void NoticeBalloon::mousePressEvent(QMouseEvent*) {
    close();
}

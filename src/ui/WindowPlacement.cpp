#include "ui/WindowPlacement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QSettings>
#include <QStringList>
#include <QWidget>
#include <algorithm>
#include <limits>
#include <utility>

namespace {

constexpr int kNumbers = 6;

// Squared distance from `point` to the nearest pixel of `area` (0 inside it).
qint64 DistanceSquared(const QPoint& point, const QRect& area) {
    const qint64 dx =
        std::max({qint64{area.left()} - point.x(), qint64{0}, qint64{point.x()} - area.right()});
    const qint64 dy =
        std::max({qint64{area.top()} - point.y(), qint64{0}, qint64{point.y()} - area.bottom()});
    return dx * dx + dy * dy;
}

bool ShownEnough(const QRect& rect, const QRect& screen) {
    const QRect shown = rect.intersected(screen);
    return shown.width() >= std::min(WindowPlacement::kMinimumVisible, rect.width()) &&
           shown.height() >= std::min(WindowPlacement::kMinimumVisible, rect.height()) && !shown.isEmpty();
}

QList<QRect> AvailableScreens() {
    QList<QRect> areas;
    for (const QScreen* screen : QGuiApplication::screens()) {
        areas.append(screen->availableGeometry());
    }
    return areas;
}

} // namespace

WindowPlacement::WindowPlacement(QWidget& window, QString section)
    : window(window), section(std::move(section)) {
    window.installEventFilter(this);
}

WindowPlacement::~WindowPlacement() {
    // Members go before the window's own destruction, which would otherwise end a shown window unsaved.
    if (window.isVisible()) {
        Save();
    }
}

std::optional<WindowPlacement::Placement> WindowPlacement::Parse(const QString& text) {
    const QStringList fields = text.split(',');
    if (fields.size() != kNumbers) {
        return std::nullopt;
    }
    int numbers[kNumbers] = {};
    for (int i = 0; i < kNumbers; ++i) {
        bool ok = false;
        numbers[i] = fields[i].trimmed().toInt(&ok, 10);
        if (!ok) {
            return std::nullopt;
        }
    }
    const qint64 width = qint64{numbers[2]} - numbers[0];
    const qint64 height = qint64{numbers[3]} - numbers[1];
    if (width <= 0 || height <= 0 || width > std::numeric_limits<int>::max() ||
        height > std::numeric_limits<int>::max()) {
        return std::nullopt;
    }
    Placement placement;
    placement.normal = QRect(numbers[0], numbers[1], static_cast<int>(width), static_cast<int>(height));
    placement.showState = numbers[4];
    placement.flags = numbers[5];
    return placement;
}

QString WindowPlacement::Format(const Placement& placement) {
    const QRect& normal = placement.normal;
    return QString::asprintf(kFormat, normal.left(), normal.top(), normal.left() + normal.width(),
                             normal.top() + normal.height(), placement.showState, placement.flags);
}

QRect WindowPlacement::OntoScreens(const QRect& rect, const QList<QRect>& screens) {
    if (screens.isEmpty()) {
        return rect;
    }
    const QRect* nearest = &screens.front();
    qint64 nearestDistance = std::numeric_limits<qint64>::max();
    for (const QRect& screen : screens) {
        if (ShownEnough(rect, screen)) {
            return rect;
        }
        const qint64 distance = DistanceSquared(rect.center(), screen);
        if (distance < nearestDistance) {
            nearestDistance = distance;
            nearest = &screen;
        }
    }
    const QSize size = rect.size().boundedTo(nearest->size());
    const int left =
        std::clamp(rect.left(), nearest->left(), nearest->left() + nearest->width() - size.width());
    const int top =
        std::clamp(rect.top(), nearest->top(), nearest->top() + nearest->height() - size.height());
    return QRect(QPoint(left, top), size);
}

std::optional<WindowPlacement::Placement> WindowPlacement::Stored(const QString& section) {
    QSettings settings(kOrganisation, kApplication);
    settings.beginGroup(section);
    const QVariant value = settings.value(kKey);
    settings.endGroup();
    // An entry written by hand without quotes reads back as a list of its comma-separated parts.
    const QString text =
        value.typeId() == QMetaType::QStringList ? value.toStringList().join(',') : value.toString();
    return Parse(text);
}

bool WindowPlacement::Restore() {
    const std::optional<Placement> stored = Stored(section);
    if (!stored) {
        return false;
    }
    window.setGeometry(OntoScreens(stored->normal, AvailableScreens()));
    // A window that was minimized comes back as it was before: maximized or normal.
    const bool maximized =
        stored->showState == kShowMaximized ||
        (stored->showState == kShowMinimized && (stored->flags & kRestoreToMaximized) != 0);
    Qt::WindowStates states = window.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (maximized) {
        states |= Qt::WindowMaximized;
    }
    window.setWindowState(states);
    return true;
}

void WindowPlacement::Save() const {
    Placement placement;
    placement.normal = window.normalGeometry();
    if (!placement.normal.isValid()) {
        placement.normal = window.geometry();
    }
    const Qt::WindowStates states = window.windowState();
    if (states & Qt::WindowMinimized) {
        placement.showState = kShowMinimized;
        placement.flags = (states & Qt::WindowMaximized) ? kRestoreToMaximized : 0;
    } else if (states & Qt::WindowMaximized) {
        placement.showState = kShowMaximized;
    }
    QSettings settings(kOrganisation, kApplication);
    settings.beginGroup(section);
    settings.setValue(kKey, Format(placement));
    settings.endGroup();
}

bool WindowPlacement::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &window && event->type() == QEvent::Hide) {
        Save();
    }
    return QObject::eventFilter(watched, event);
}

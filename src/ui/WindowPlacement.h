#pragma once

#include <QList>
#include <QObject>
#include <QRect>
#include <QString>
#include <optional>

class QWidget;

// Keeps a top-level window's placement between runs: the normal-position rectangle, the show state and
// the placement flags, as the text "left,top,right,bottom,show state,flags" under the window's section
// of the program's settings profile. A window holds one as a member, calls Restore() at the end of its
// construction, and the placement is saved whenever the window is hidden (closed) and when it is
// destroyed while shown. A window that was never shown does not overwrite what an earlier run saved.
class WindowPlacement : public QObject {
    Q_OBJECT

public:
    static constexpr const char* kOrganisation = "Local AppWizard-Generated Applications";
    static constexpr const char* kApplication = "qopra2";
    static constexpr const char* kKey = "WindowPlacement";
    static constexpr const char* kFormat = "%d,%d,%d,%d,%d,%d";

    // Show states and flags as the profile has always held them.
    enum ShowState { kShowNormal = 1, kShowMinimized = 2, kShowMaximized = 3 };
    static constexpr int kRestoreToMaximized = 2;
    // A window counts as on a screen when at least this much of it (or all of a smaller window) is.
    static constexpr int kMinimumVisible = 32;

    struct Placement {
        QRect normal; // right and bottom of the text lie one past the rectangle's last pixel
        int showState = kShowNormal;
        int flags = 0;
    };

    WindowPlacement(QWidget& window, QString section);
    ~WindowPlacement() override;
    WindowPlacement(const WindowPlacement&) = delete;
    WindowPlacement& operator=(const WindowPlacement&) = delete;

    // Applies the stored placement to the (hidden) window, moved onto a screen when it lies off every
    // screen; the window is not shown. False when nothing usable is stored.
    bool Restore();
    // Stores the window's current placement.
    void Save() const;

    // The six numbers of `text`, separated by commas (blanks around them allowed); nothing when the text
    // does not give exactly six numbers or the rectangle is empty.
    static std::optional<Placement> Parse(const QString& text);
    static QString Format(const Placement& placement);
    // `rect` itself when enough of it lies on one of `screens`, else the same size (cut to the screen)
    // moved wholly onto the screen nearest to it. Without screens `rect` is kept.
    static QRect OntoScreens(const QRect& rect, const QList<QRect>& screens);
    // The placement stored for `section`, as stored (not moved onto a screen).
    static std::optional<Placement> Stored(const QString& section);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget& window;
    QString section;
};

#include "ui/CSystemTray.h"

#include <QAction>
#include <QMenu>
#include <array>

#include "config/gui/LocalizedText.h"
#include "ui/Mnemonics.h"
#include "ui/ProgramIcons.h"

namespace {

// The menu of old, by position; the history entry added after OPEN has no position of its own.
constexpr std::array<CSystemTray::Command, 4> kPositions = {
    CSystemTray::kOpen, CSystemTray::kSettings, CSystemTray::kPenDriveDocuments, CSystemTray::kClose};

struct EntryText {
    CSystemTray::Command command;
    unsigned id;
    const char* english;
};

constexpr std::array<EntryText, 5> kEntries = {{
    {CSystemTray::kOpen, 155, "OPEN"},
    {CSystemTray::kHistory, 145, "ARCHIVE"},
    {CSystemTray::kSettings, 149, "SETTINGS"},
    {CSystemTray::kPenDriveDocuments, 162, "DOCUMENTS ON PEN DRIVE"},
    {CSystemTray::kClose, 156, "CLOSE"},
}};

} // namespace

CSystemTray::CSystemTray(QObject* parent)
    : QObject(parent), menu(std::make_unique<QMenu>()), language([] { return std::uint16_t{0}; }),
      penDrivePresent([] { return false; }) {
    for (const EntryText& entry : kEntries) {
        AddEntry(entry.command);
    }
    normalIcon = ProgramIcons::Tray();
    frames = {ProgramIcons::ArrivalFirst(), ProgramIcons::ArrivalSecond()};
    icon.setIcon(normalIcon);
    icon.setContextMenu(menu.get());
    connect(menu.get(), &QMenu::aboutToShow, this, &CSystemTray::PrepareMenu);
    connect(&icon, &QSystemTrayIcon::activated, this, &CSystemTray::OnActivated);
    connect(&animation, &QTimer::timeout, this, &CSystemTray::NextAnimationFrame);
    PrepareMenu();
}

CSystemTray::~CSystemTray() {
    DeleteTrayIcon();
}

QAction* CSystemTray::AddEntry(Command command) {
    QAction* action = menu->addAction(QString());
    action->setData(static_cast<int>(command));
    connect(action, &QAction::triggered, this, [this, command] { emit commandChosen(command); });
    entries.push_back(action);
    return action;
}

bool CSystemTray::ShowTrayIcon(const QString& tooltip) {
    icon.setToolTip(tooltip.left(kTooltipLimit));
    // Shown even without a tray host: Qt docks the icon as soon as one appears, and again after a
    // restart of the host.
    icon.show();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void CSystemTray::DeleteTrayIcon() {
    animation.stop();
    icon.hide();
}

bool CSystemTray::IsVisible() const {
    return icon.isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

bool CSystemTray::ShowMessage(const QString& title, const QString& text, bool warning) {
    if (!IsVisible() || !QSystemTrayIcon::supportsMessages()) {
        return false;
    }
    icon.showMessage(title, text, warning ? QSystemTrayIcon::Warning : QSystemTrayIcon::Information,
                     kMessageMilliseconds);
    return true;
}

QIcon CSystemTray::CurrentIcon() const {
    return icon.icon();
}

void CSystemTray::SetDefaultEntry(int item, bool byPosition) {
    defaultItem = item;
    defaultByPosition = byPosition;
    const int command = DefaultCommand();
    for (QAction* action : entries) {
        if (action->data().toInt() == command) {
            menu->setDefaultAction(action);
        }
    }
}

int CSystemTray::DefaultCommand() const {
    if (!defaultByPosition) {
        return defaultItem;
    }
    return defaultItem >= 0 && static_cast<std::size_t>(defaultItem) < kPositions.size()
               ? kPositions[defaultItem]
               : 0;
}

void CSystemTray::PrepareMenu() {
    const std::uint16_t interfaceLanguage = language();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        entries[i]->setText(LocalizedText(kEntries[i].id, interfaceLanguage, kEntries[i].english));
        if (kEntries[i].command == kPenDriveDocuments) {
            entries[i]->setEnabled(penDrivePresent());
        }
    }
    AssignMenuMnemonics(QList<QAction*>(entries.begin(), entries.end()));
}

void CSystemTray::OnActivated(QSystemTrayIcon::ActivationReason reason) {
    // Many tray hosts report only single clicks: a click opens the window as a double click does.
    if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
        if (const int command = DefaultCommand(); command != 0) {
            emit commandChosen(command);
        }
    }
}

void CSystemTray::StartIconAnimation(std::chrono::milliseconds step, std::chrono::seconds duration) {
    animation.stop();
    frame = 0;
    animationDuration = duration;
    animationClock.start();
    icon.setIcon(frames[frame]);
    animation.start(step);
}

void CSystemTray::NextAnimationFrame() {
    if (animationClock.elapsed() >
        std::chrono::duration_cast<std::chrono::milliseconds>(animationDuration).count()) {
        EndIconAnimation();
        return;
    }
    frame = (frame + 1) % frames.size();
    icon.setIcon(frames[frame]);
}

void CSystemTray::EndIconAnimation() {
    animation.stop();
    icon.setIcon(normalIcon);
}

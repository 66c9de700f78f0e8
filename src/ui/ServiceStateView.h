#pragma once

#include <QWidget>

#include "ui/MainWindowController.h"

class QLabel;
class QListWidget;

// The main window's account of the service, for a person at a glance: whether and where devices are
// served, the printers offered under the names devices see, the last documents with what became of
// them, and what is wrong when something is. Texts in the interface language. GUI thread.
class ServiceStateView : public QWidget {
    Q_OBJECT

public:
    explicit ServiceStateView(QWidget* parent = nullptr);

    void Show(const MainWindowController::ServiceState& state);

    // What the person reads, for tests.
    QString ServingText() const;
    QStringList Printers() const;
    QStringList RecentPrints() const;
    QString ProblemsText() const;

private:
    QLabel* serving;
    QLabel* problems;
    QLabel* printersTitle;
    QListWidget* printers;
    QLabel* recentTitle;
    QListWidget* recent;
};

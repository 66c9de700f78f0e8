#pragma once

#include <QAction>
#include <QList>
#include <QWidget>

// Keyboard access for a window: every button, check box and label (with a buddy) among `widgets` gets
// an Alt+letter of its own, chosen from its text in the interface language: the first letter of a
// word where it is still free, else any free letter. An "&" that is part of a text stays a character.
// Call again after the texts change.
void AssignMnemonics(const QList<QWidget*>& widgets);
// The same for the entries of a menu.
void AssignMenuMnemonics(const QList<QAction*>& actions);

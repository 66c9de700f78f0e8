#include "ui/Mnemonics.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSet>

namespace {

QString Plain(const QString& text) {
    // The marks of an earlier call go; a doubled "&" is a character.
    QString plain;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) {
            ++i;
        }
        plain += text[i];
    }
    return plain;
}

QString Marked(const QString& plain, qsizetype at) {
    QString marked;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        if (i == at) {
            marked += '&';
        }
        marked += plain[i] == '&' ? QStringLiteral("&&") : QString(plain[i]);
    }
    return marked;
}

// Where the mark goes: a free letter at the start of a word first, then any free letter; -1 if none.
qsizetype Choose(const QString& plain, QSet<QChar>& used) {
    for (const bool wordStart : {true, false}) {
        for (qsizetype i = 0; i < plain.size(); ++i) {
            const QChar c = plain[i];
            const bool startsWord = i == 0 || !plain[i - 1].isLetterOrNumber();
            if (c.isLetterOrNumber() && (!wordStart || startsWord) && !used.contains(c.toLower())) {
                used.insert(c.toLower());
                return i;
            }
        }
    }
    return -1;
}

} // namespace

void AssignMnemonics(const QList<QWidget*>& widgets) {
    QSet<QChar> used;
    for (QWidget* widget : widgets) {
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            const QString plain = Plain(button->text());
            button->setText(Marked(plain, Choose(plain, used)));
        } else if (auto* label = qobject_cast<QLabel*>(widget);
                   label != nullptr && label->buddy() != nullptr) {
            const QString plain = Plain(label->text());
            label->setText(Marked(plain, Choose(plain, used)));
        }
    }
}

void AssignMenuMnemonics(const QList<QAction*>& actions) {
    QSet<QChar> used;
    for (QAction* action : actions) {
        const QString plain = Plain(action->text());
        action->setText(Marked(plain, Choose(plain, used)));
    }
}

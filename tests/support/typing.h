#pragma once
// Typing into a widget as a keyboard would, Cyrillic included (QTest::keyClicks takes
// Latin-1 only).

#include <QCoreApplication>
#include <QKeyEvent>
#include <QWidget>

namespace testsupport {

inline void typeText(QWidget *widget, const QString &text)
{
    for (const QChar character : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QCoreApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(character));
        QCoreApplication::sendEvent(widget, &release);
    }
}

} // namespace testsupport

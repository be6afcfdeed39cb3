#pragma once

#include <QString>
#include <QTest>
#include <QWidget>

// Types text as a user would, character by character: QTest::keyClicks takes
// Latin-1 only, and a Russian keyboard sends its letters as text.
inline void typeText(QWidget* widget, const QString& text)
{
    for (const QChar letter : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(letter), Qt::NoModifier);
}

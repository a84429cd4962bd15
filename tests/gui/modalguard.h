// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>
#include <QTest>
#include <QTimer>
#include <QWidget>

// Once a check of the running test function has failed, every modal window
// that is open or opens is closed. A check that fails while a test drives a
// real modal window (from QTimer::singleShot, inside the window's own event
// loop) would otherwise leave that window waiting for a click that never
// comes, until QtTest's watchdog ends the whole run minutes later. Call it
// once, from initTestCase().
inline void closeModalWindowsOnFailure()
{
    static QTimer* const guard = [] {
        auto* timer = new QTimer(qApp);
        timer->setInterval(20);
        QObject::connect(timer, &QTimer::timeout, [] {
            if (!QTest::currentTestFailed())
                return;
            while (QWidget* modal = QApplication::activeModalWidget()) {
                modal->hide();
                if (modal->isVisible())
                    break;
            }
        });
        timer->start();
        return timer;
    }();
    Q_UNUSED(guard);
}

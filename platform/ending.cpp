// SPDX-License-Identifier: GPL-3.0-or-later
#include "ending.h"

#include <QApplication>
#include <QThread>

namespace platform {

void endProgram()
{
    QApplication::closeAllWindows();
    // Asking a loop that is not running to exit would make the next loop
    // started (a message box) return at once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::exit(0);
}

} // namespace platform

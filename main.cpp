// SPDX-License-Identifier: GPL-3.0-or-later
#include "frmmain.h"

#include <QApplication>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    // Ties the window to its desktop entry: the Wayland app id, and the end
    // of the start-up notification.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tessaly.Tessaly"));
    frmMain window;
    window.Form_Load();
    return app.exec();
}

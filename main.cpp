// SPDX-License-Identifier: GPL-3.0-or-later
#include "elevation.h"
#include "frmmain.h"
#include "guard.h"

#include <QApplication>

#include <csignal>

int main(int argc, char* argv[])
{
#ifdef SIGXFSZ
    // A file size limit must not kill a save half way (started as root by
    // hand, the editor rewrites the file itself): the write fails instead,
    // and the old bytes are put back.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    platform::forgetUserEnvironmentIfElevated();
    QApplication app(argc, argv);
    // Ties the window to its desktop entry: the Wayland app id, and the end
    // of the start-up notification.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.tessaly.Tessaly"));
    frmMain window;
    platform::runGuarded([&] { window.Form_Load(); });
    return app.exec();
}

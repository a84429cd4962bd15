// SPDX-License-Identifier: GPL-3.0-or-later
#include "guard.h"

#include "filetext.h"
#include "messagebox.h"

#include <exception>

namespace platform {
namespace {

void tell(const QString& reason)
{
    // Should even the message fail, the window still stays.
    try {
        showMessage(QStringLiteral("Tessaly could not finish what it was doing:\r\n%1\r\n\r\nThe window and your "
                                   "changes are kept.")
                        .arg(reason),
                    MessageButtons::Ok, MessageIcon::Exclamation, QStringLiteral("Error"));
    } catch (...) {
    }
}

} // namespace

void runGuarded(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& error) {
        tell(textFromFile(error.what()));
    } catch (...) {
        tell(QStringLiteral("An unexpected error."));
    }
}

} // namespace platform

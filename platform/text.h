// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "filetext.h"

#include <QString>

class QLineEdit;

namespace platform {

// Removes space characters (code 32) at both ends; TABs and other white
// space stay.
QString trimSpaces(const QString& text);

// Makes the text box hold one line of what the system will read as shown: a
// line break, TAB, vertical tab, form feed or NUL typed, pasted or set
// becomes a blank, so that no entry can carry one into the hosts file. On
// Windows, characters that the ANSI code page cannot hold are left out, with
// a tooltip that says so, instead of being written as "?" or a look-alike.
void keepSingleLine(QLineEdit* box);

} // namespace platform

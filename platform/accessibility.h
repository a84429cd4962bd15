// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QAccessibleInterface;
class QObject;
class QString;

namespace platform {

// Accessible interfaces Tessaly's own widgets need beyond Qt's: a window of
// ours that is a plain QWidget is a window, not a "filler" (a client area),
// a SeparatorLine (controls.h) is a separator, and a text box speaks as
// textboxaccessible.h says. A factory for
// QAccessible::installFactory.
QAccessibleInterface* tessalyWidgetAccessible(const QString& className, QObject* object);

// Installs `factory` once per process, before any interface it makes is
// asked for.
void installAccessibleFactory(QAccessibleInterface* (*factory)(const QString&, QObject*));

} // namespace platform

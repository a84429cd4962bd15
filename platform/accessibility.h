// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QFrame>

class QAccessibleInterface;
class QObject;
class QString;

namespace platform {

// A horizontal rule between parts of a window: shown as a thin line in the
// given colour, announced to screen readers as a separator with no name.
class SeparatorLine : public QFrame {
    Q_OBJECT

public:
    SeparatorLine(QWidget* parent, const QColor& colour);
};

// Accessible interfaces the windows need beyond Qt's own: a plain window
// (a direct QWidget) is a window, not a "filler" (a client area), and a
// SeparatorLine is a separator. A factory for QAccessible::installFactory.
QAccessibleInterface* windowsAccessible(const QString& className, QObject* object);

// Installs `factory` once per process, before any interface it makes is
// asked for.
void installAccessibleFactory(QAccessibleInterface* (*factory)(const QString&, QObject*));

} // namespace platform

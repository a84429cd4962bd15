// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QAccessibleInterface;
class QObject;
class QString;

// The accessible interface of the list of entries, as a screen reader reads
// it: a table (column headers, one row of cells per entry) whose cells offer
// "press", which opens the entry as a double-click does, and "toggle", which
// selects its row; the table itself can take the focus. Children are laid
// out as Qt's own table interface lays them out (a corner, the column
// headers, then per row its row header and its cells), since the list view
// numbers the children of its focus and selection events that way.
//
// A factory for QAccessible::installFactory.
QAccessibleInterface* hostsListAccessible(const QString& className, QObject* object);

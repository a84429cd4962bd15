// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostslistview.h"

#include <QAccessible>
#include <QItemSelectionModel>

HostsListView::HostsListView(QWidget* parent) : QTableView(parent)
{
}

void HostsListView::openRow(int row)
{
    QMetaObject::invokeMethod(
        this,
        [this, row] {
            if (!model() || row < 0 || row >= model()->rowCount())
                return;
            const QModelIndex index = model()->index(row, 0);
            selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            emit doubleClicked(index);
        },
        Qt::QueuedConnection);
}

int accessibleCellIndex(const QModelIndex& index)
{
    return (index.row() + 1) * (index.model()->columnCount() + 1) + index.column() + 1;
}

void HostsListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    // Qt's table view tells assistive tools that the new current cell has the
    // focus even while the list does not have it (a rebuild after ADD or
    // REMOVE, with the keyboard on a button): they would then act as if the
    // keyboard were in the list. Only the list with the focus says so.
    if (hasFocus())
        QTableView::currentChanged(current, previous);
    else
        QAbstractItemView::currentChanged(current, previous);
    // The cell that shows the focus stays on the selected row (Ctrl with the
    // arrow keys would move it alone), so what is read out and what REMOVE
    // and Enter act on is one row.
    if (current.isValid() && selectionModel() && !selectionModel()->isRowSelected(current.row(), {}))
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void HostsListView::focusInEvent(QFocusEvent* event)
{
    QTableView::focusInEvent(event);
    // Taking the focus, the list also tells which cell is current, as a move
    // with the arrow keys does. Qt tells of the list itself once this event
    // is handled, and a screen reader speaks what the last focus event
    // names: the cell's event is sent after that one.
    QMetaObject::invokeMethod(
        this,
        [this] {
            const QModelIndex current = currentIndex();
            if (!QAccessible::isActive() || !hasFocus() || !current.isValid())
                return;
            QAccessibleEvent focus(this, QAccessible::Focus);
            focus.setChild(accessibleCellIndex(current));
            QAccessible::updateAccessibility(&focus);
        },
        Qt::QueuedConnection);
}

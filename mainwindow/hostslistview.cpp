// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostslistview.h"

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

void HostsListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    // The cell that shows the focus stays on the selected row (Ctrl with the
    // arrow keys would move it alone), so what is read out and what REMOVE
    // and Enter act on is one row.
    if (current.isValid() && selectionModel() && !selectionModel()->isRowSelected(current.row(), {}))
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

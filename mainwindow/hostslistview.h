// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QTableView>

// The list of entries. A class of its own so that screen readers get its own
// accessible interface (hostslistaccessible.h): Qt's table interface offers
// a row no action that opens it and cannot take the focus.
class HostsListView : public QTableView {
    Q_OBJECT

public:
    explicit HostsListView(QWidget* parent = nullptr);

    // Opens the row's entry as a double-click does: the row is selected and
    // doubleClicked is sent, after the caller has returned (an assistive
    // tool that asks must not wait in the editor's modal loop).
    void openRow(int row);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void focusInEvent(QFocusEvent* event) override;
};

// The number of a cell among the list's accessible children, as Qt numbers
// those of a table view's events: a row of column headers first, and a
// row-header cell at the start of each row.
int accessibleCellIndex(const QModelIndex& index);

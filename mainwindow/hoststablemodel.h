// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "hostcollection.h"

#include <QAbstractTableModel>

// The rows of the list: one per entry, in collection order, with the columns
// Host, IP and Comment. Rebuilt as a whole from the collection, never patched.
class HostsTableModel : public QAbstractTableModel {
public:
    enum Column { HostColumn, IpColumn, CommentColumn, ColumnCount };

    using QAbstractTableModel::QAbstractTableModel;

    void rebuild(const HostCollection& hosts);

    // The row's key: the hostname under which its entry is stored.
    std::string_view keyAt(int row) const { return hosts_->at(static_cast<std::size_t>(row)).host(); }
    // The row's text, as shown in the Host column.
    QString textAt(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    // Read in place, never copied: the list is rebuilt after every change
    // of the collection, before anything can read it again.
    const HostCollection* hosts_ = nullptr;
    int rows_ = 0;
};

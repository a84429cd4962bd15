// SPDX-License-Identifier: GPL-3.0-or-later
#include "hoststablemodel.h"

#include "text.h"

void HostsTableModel::rebuild(const HostCollection& hosts)
{
    beginResetModel();
    hosts_ = &hosts;
    rows_ = static_cast<int>(hosts.size());
    endResetModel();
}

QString HostsTableModel::textAt(int row) const
{
    return platform::textFromFile(keyAt(row));
}

int HostsTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : rows_;
}

int HostsTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant HostsTableModel::data(const QModelIndex& index, int role) const
{
    // A row past the collection's end (read after a change, before the
    // rebuild that follows it) shows nothing rather than another's memory.
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        || static_cast<std::size_t>(index.row()) >= hosts_->size())
        return {};
    const HostEntry& entry = hosts_->at(static_cast<std::size_t>(index.row()));
    switch (index.column()) {
    case HostColumn:
        return platform::textFromFile(entry.host());
    case IpColumn:
        return platform::textFromFile(entry.ip());
    case CommentColumn:
        return platform::textFromFile(entry.comment());
    default:
        return {};
    }
}

QVariant HostsTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case HostColumn:
        return QStringLiteral("Host");
    case IpColumn:
        return QStringLiteral("IP");
    case CommentColumn:
        return QStringLiteral("Comment");
    default:
        return {};
    }
}

Qt::ItemFlags HostsTableModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

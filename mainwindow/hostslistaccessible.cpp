// SPDX-License-Identifier: GPL-3.0-or-later
#include "hostslistaccessible.h"

#include "hostslistview.h"

#include <QAccessibleWidget>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPointer>

namespace {

// What every cell of the list is: a leaf of the table, with no object of
// its own and no text to set.
class ListCell : public QAccessibleInterface {
public:
    explicit ListCell(HostsListView* view) : view_(view) {}

    bool isValid() const override { return view_ && view_->model(); }
    QObject* object() const override { return nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(view_); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    void setText(QAccessible::Text, const QString&) override {}

protected:
    QPointer<HostsListView> view_;
};

// A header cell: a column's title, a row's (hidden) header, or the corner.
class HeaderCell : public ListCell {
public:
    HeaderCell(HostsListView* view, Qt::Orientation orientation, int section)
        : ListCell(view)
        , orientation_(orientation)
        , section_(section)
    {
    }

    QAccessible::Role role() const override
    {
        if (section_ < 0)
            return QAccessible::Pane;
        return orientation_ == Qt::Horizontal ? QAccessible::ColumnHeader : QAccessible::RowHeader;
    }
    QString text(QAccessible::Text t) const override
    {
        if (t != QAccessible::Name || section_ < 0)
            return {};
        return view_->model()->headerData(section_, orientation_, Qt::DisplayRole).toString();
    }
    QRect rect() const override
    {
        const QHeaderView* header = orientation_ == Qt::Horizontal ? view_->horizontalHeader()
                                                                   : view_->verticalHeader();
        if (section_ < 0 || !header->isVisible())
            return {};
        const QPoint origin = header->mapToGlobal(QPoint(0, 0));
        return orientation_ == Qt::Horizontal
            ? QRect(origin.x() + header->sectionViewportPosition(section_), origin.y(), header->sectionSize(section_),
                    header->height())
            : QRect(origin.x(), origin.y() + header->sectionViewportPosition(section_), header->width(),
                    header->sectionSize(section_));
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        const QHeaderView* header = orientation_ == Qt::Horizontal ? view_->horizontalHeader()
                                                                   : view_->verticalHeader();
        state.invisible = section_ < 0 || !header->isVisible();
        return state;
    }

private:
    Qt::Orientation orientation_;
    int section_; // -1: the corner
};

// A cell of an entry's row.
class EntryCell : public ListCell, public QAccessibleTableCellInterface, public QAccessibleActionInterface {
public:
    EntryCell(HostsListView* view, int row, int column) : ListCell(view), row_(row), column_(column) {}

    bool isValid() const override
    {
        return ListCell::isValid() && row_ < view_->model()->rowCount() && column_ < view_->model()->columnCount();
    }
    QAccessible::Role role() const override { return QAccessible::Cell; }
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Name ? index().data(Qt::DisplayRole).toString() : QString();
    }
    QRect rect() const override
    {
        const QRect cell = view_->visualRect(index());
        return QRect(view_->viewport()->mapToGlobal(cell.topLeft()), cell.size());
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        state.selectable = true;
        state.focusable = true;
        state.selected = isSelected();
        state.focused = view_->hasFocus() && view_->currentIndex() == index();
        state.invisible = !view_->viewport()->rect().intersects(view_->visualRect(index()));
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface*>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }

    bool isSelected() const override { return view_->selectionModel()->isRowSelected(row_, {}); }
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return column_; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

    QStringList actionNames() const override { return {pressAction(), toggleAction()}; }
    QString localizedActionDescription(const QString& name) const override
    {
        if (name == pressAction())
            return QStringLiteral("Edit the entry");
        if (name == toggleAction())
            return QStringLiteral("Select the entry");
        return {};
    }
    void doAction(const QString& name) override
    {
        if (name == pressAction())
            view_->openRow(row_);
        else if (name == toggleAction())
            view_->selectionModel()->setCurrentIndex(index(),
                                                     QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    QStringList keyBindingsForAction(const QString& name) const override
    {
        return name == pressAction() ? QStringList{QStringLiteral("Return")} : QStringList();
    }

private:
    QModelIndex index() const { return view_->model()->index(row_, column_); }

    int row_;
    int column_;
};

class HostsListTable : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit HostsListTable(HostsListView* view) : QAccessibleWidget(view, QAccessible::Table) {}
    ~HostsListTable() override { forgetChildren(); }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface*>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    int childCount() const override { return (rows() + 1) * (columns() + 1); }
    QAccessibleInterface* child(int index) const override
    {
        if (index < 0 || index >= childCount())
            return nullptr;
        if (const auto known = childIds_.constFind(index); known != childIds_.constEnd())
            return QAccessible::accessibleInterface(known.value());
        const int row = index / (columns() + 1) - 1;
        const int column = index % (columns() + 1) - 1;
        QAccessibleInterface* made = nullptr;
        if (row < 0)
            made = new HeaderCell(view(), Qt::Horizontal, column);
        else if (column < 0)
            made = new HeaderCell(view(), Qt::Vertical, row);
        else
            made = new EntryCell(view(), row, column);
        childIds_.insert(index, QAccessible::registerAccessibleInterface(made));
        return made;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (auto known = childIds_.constBegin(); known != childIds_.constEnd(); ++known)
            if (QAccessible::accessibleInterface(known.value()) == child)
                return known.key();
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
        return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        const QModelIndex current = view()->currentIndex();
        return current.isValid() ? cellAt(current.row(), current.column()) : nullptr;
    }

    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override
    {
        if (row < 0 || row >= rows() || column < 0 || column >= columns())
            return nullptr;
        return child(accessibleCellIndex(view()->model()->index(row, column)));
    }
    QAccessibleInterface* columnHeader(int column) const { return child(column + 1); }
    int selectedCellCount() const override { return selectedRowCount() * columns(); }
    QList<QAccessibleInterface*> selectedCells() const override
    {
        QList<QAccessibleInterface*> cells;
        for (const int row : selectedRows())
            for (int column = 0; column < columns(); ++column)
                cells.append(cellAt(row, column));
        return cells;
    }
    QString columnDescription(int column) const override
    {
        return view()->model()->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString();
    }
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override { return static_cast<int>(selectedRows().size()); }
    int columnCount() const override { return columns(); }
    int rowCount() const override { return rows(); }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override
    {
        QList<int> rows;
        for (const QModelIndex& index : view()->selectionModel()->selectedRows())
            rows.append(index.row());
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override { return view()->selectionModel()->isRowSelected(row, {}); }
    bool selectRow(int row) override
    {
        if (row < 0 || row >= rows())
            return false;
        view()->selectionModel()->setCurrentIndex(view()->model()->index(row, 0),
                                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectRow(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    // The list is rebuilt as a whole, never patched: every change makes all
    // children anew.
    void modelChange(QAccessibleTableModelChangeEvent*) override { forgetChildren(); }

private:
    HostsListView* view() const { return static_cast<HostsListView*>(widget()); }
    int rows() const { return view()->model() ? view()->model()->rowCount() : 0; }
    int columns() const { return view()->model() ? view()->model()->columnCount() : 0; }
    void forgetChildren()
    {
        for (const QAccessible::Id id : std::as_const(childIds_))
            QAccessible::deleteAccessibleInterface(id);
        childIds_.clear();
    }

    mutable QHash<int, QAccessible::Id> childIds_;
};

QList<QAccessibleInterface*> EntryCell::columnHeaderCells() const
{
    auto* table = static_cast<HostsListTable*>(parent());
    return {table->columnHeader(column_)};
}

} // namespace

QAccessibleInterface* hostsListAccessible(const QString& className, QObject* object)
{
    if (className == QLatin1String("HostsListView") && object && object->isWidgetType())
        return new HostsListTable(static_cast<HostsListView*>(object));
    return nullptr;
}

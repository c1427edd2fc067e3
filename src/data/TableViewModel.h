#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QStringList>

namespace bv::data {

class TableView;

// A grid's view of a TableView: the rows in the view's order, the chosen
// fields as columns. Rows are read in blocks as the grid asks for them.
class TableViewModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    struct Column
    {
        QString field;
        QString caption;
    };

    TableViewModel(TableView& view, QList<Column> columns, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    TableView& view() const { return m_view; }
    QString fieldAt(int column) const { return m_columns.value(column).field; }

private:
    const QVariantList* rowAt(int row) const;

    TableView& m_view;
    QList<Column> m_columns;
    QList<int> m_fieldIndexes;
    mutable QHash<qint64, QVariantList> m_cache;
};

} // namespace bv::data

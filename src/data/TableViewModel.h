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
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;

    // Lets the grid change text and number fields in place; each change is
    // written through the view (edit, setValue, post) as it is made. Off by
    // default.
    void setEditable(bool on) { m_editable = on; }
    bool isEditable() const { return m_editable; }

    TableView& view() const { return m_view; }
    QString fieldAt(int column) const { return m_columns.value(column).field; }

signals:
    // A change made in the grid was not written; the engine's text.
    void editFailed(const QString& message);

private:
    const QVariantList* rowAt(int row) const;
    bool editableField(int column) const;

    TableView& m_view;
    QList<Column> m_columns;
    QList<int> m_fieldIndexes;
    mutable QHash<qint64, QVariantList> m_cache;
    bool m_detached = false; // the view is gone
    bool m_editable = false;
};

} // namespace bv::data

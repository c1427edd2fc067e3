#include "TableViewModel.h"

#include "Schema.h"
#include "TableView.h"

namespace bv::data {

namespace {
constexpr int BlockRows = 256;
}

TableViewModel::TableViewModel(TableView& view, QList<Column> columns, QObject* parent)
    : QAbstractTableModel(parent), m_view(view), m_columns(std::move(columns))
{
    const QStringList fields = view.fieldNames();
    for (const Column& c : std::as_const(m_columns)) {
        int idx = -1;
        for (int i = 0; i < fields.size(); ++i)
            if (fields.at(i).compare(c.field, Qt::CaseInsensitive) == 0)
                idx = i;
        if (idx < 0)
            throw DbError(QStringLiteral("Field \"%1\" not found in table %2.").arg(c.field, view.tableName()));
        m_fieldIndexes << idx;
    }
    // A grid may outlive the view it shows (a window's members go before its
    // child widgets): from then on the model is empty and reads nothing.
    connect(&view, &TableView::aboutToBeDestroyed, this, [this] {
        beginResetModel();
        m_detached = true;
        m_cache.clear();
        endResetModel();
        disconnect(&m_view, nullptr, this, nullptr);
    });
    // The view tells before and after every change, so the grid always sees
    // counts and rows that agree.
    connect(&view, &TableView::rowsAboutToBeReset, this, [this] { beginResetModel(); });
    connect(&view, &TableView::rowsReset, this, [this] {
        m_cache.clear();
        endResetModel();
    });
    connect(&view, &TableView::rowAboutToBeInserted, this,
            [this](int position) { beginInsertRows(QModelIndex(), position, position); });
    connect(&view, &TableView::rowInserted, this, [this] { endInsertRows(); });
    connect(&view, &TableView::rowAboutToBeRemoved, this, [this](int position) {
        m_cache.remove(m_view.rowidAt(position));
        beginRemoveRows(QModelIndex(), position, position);
    });
    connect(&view, &TableView::rowRemoved, this, [this] { endRemoveRows(); });
    connect(&view, &TableView::rowChanged, this, [this](int position) {
        m_cache.remove(m_view.rowidAt(position));
        emit dataChanged(index(position, 0), index(position, columnCount() - 1));
    });
}

int TableViewModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid() || m_detached || !m_view.isOpen())
        return 0;
    return m_view.snapshotSize();
}

int TableViewModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_columns.size());
}

const QVariantList* TableViewModel::rowAt(int row) const
{
    const qint64 id = m_view.rowidAt(row);
    if (!id)
        return nullptr;
    auto it = m_cache.constFind(id);
    if (it != m_cache.constEnd())
        return &it.value();
    if (m_cache.size() > 8 * BlockRows)
        m_cache.clear();
    // Read the block around the row in one statement.
    const int from = (row / BlockRows) * BlockRows;
    const int to = qMin(rowCount(), from + BlockRows);
    QStringList ids;
    for (int r = from; r < to; ++r)
        ids << QString::number(m_view.rowidAt(r));
    const ResultSet rs = m_view.connection().select(
        QStringLiteral("SELECT rowid, * FROM \"%1\" WHERE rowid IN (%2)")
            .arg(m_view.tableName(), ids.join(QLatin1Char(','))));
    for (const QVariantList& r : rs.rows)
        m_cache.insert(r.at(0).toLongLong(), r.mid(1));
    it = m_cache.constFind(id);
    return it == m_cache.constEnd() ? nullptr : &it.value();
}

QVariant TableViewModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= columnCount())
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole && role != Qt::CheckStateRole)
        return {};
    const QVariantList* row = rowAt(index.row());
    if (!row)
        return {};
    const QVariant v = row->value(m_fieldIndexes.at(index.column()));
    const bool logical = m_view.definition().fields[size_t(m_fieldIndexes.at(index.column()))].type ==
                         FieldType::Logical;
    if (logical) {
        if (role == Qt::CheckStateRole)
            return v.toBool() ? Qt::Checked : Qt::Unchecked;
        return {};
    }
    if (role == Qt::CheckStateRole)
        return {};
    return v;
}

QVariant TableViewModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Horizontal)
        return m_columns.value(section).caption;
    return section + 1;
}

bool TableViewModel::editableField(int column) const
{
    if (!m_editable || m_detached || column < 0 || column >= columnCount())
        return false;
    const FieldType type = m_view.definition().fields[size_t(m_fieldIndexes.at(column))].type;
    return type != FieldType::Logical && type != FieldType::AutoIncrement;
}

Qt::ItemFlags TableViewModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (index.isValid() && editableField(index.column()))
        f |= Qt::ItemIsEditable;
    return f;
}

bool TableViewModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !index.isValid() || index.row() >= rowCount() ||
        !editableField(index.column()))
        return false;
    if (data(index, Qt::EditRole) == value)
        return true;
    try {
        if (!m_view.moveTo(index.row()))
            return false;
        m_view.edit();
        m_view.setValue(m_columns.at(index.column()).field, value);
        // The view tells the grid of the change, or of the row's move when
        // the change reorders it.
        m_view.post();
    } catch (const DbError& e) {
        m_view.cancel();
        emit editFailed(e.message());
        return false;
    }
    return true;
}

} // namespace bv::data

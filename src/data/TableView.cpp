#include "TableView.h"

#include "Dialect.h"
#include "Schema.h"

#include <QDateTime>
#include <QHash>

#include <algorithm>
#include <mutex>

namespace bv::data {

namespace {

// Which views hold which tables open, across all connections of the process.
struct OpenTables
{
    struct Use
    {
        int shared = 0;
        bool exclusive = false;
    };
    std::mutex mutex;
    QHash<QString, Use> uses;

    static QString key(const Connection& c, const QString& table)
    {
        return c.databasePath() + QLatin1Char('|') + table.toUpper();
    }
};

OpenTables& openTables()
{
    static OpenTables t;
    return t;
}

QString q(const QString& identifier)
{
    return QLatin1Char('"') + identifier + QLatin1Char('"');
}

QVariant defaultValue(const FieldDef& f)
{
    if (f.type == FieldType::Logical)
        return QVariant(false);
    return {};
}

QVariant normalised(const FieldDef& f, const QVariant& v)
{
    if (v.isNull())
        return v;
    switch (f.type) {
    case FieldType::Logical:
        if (v.typeId() == QMetaType::QString) {
            const QString s = v.toString().trimmed();
            if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
                s.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0)
                return true;
            if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0 ||
                s.compare(QLatin1String("no"), Qt::CaseInsensitive) == 0 || s.isEmpty())
                return false;
            bool ok = false;
            const int n = s.toInt(&ok);
            if (!ok)
                throw DbError(QStringLiteral("'%1' is not a valid value for the field %2.").arg(s, f.name));
            return n != 0;
        }
        return v.toBool();
    case FieldType::Integer:
    case FieldType::AutoIncrement: {
        bool ok = false;
        const qlonglong n = v.toLongLong(&ok);
        if (!ok)
            throw DbError(QStringLiteral("'%1' is not a valid value for the field %2.")
                              .arg(v.toString(), f.name));
        return n;
    }
    case FieldType::Character: {
        QString s = v.toString().left(f.width);
        while (!f.keepBlanks && s.endsWith(QLatin1Char(' ')))
            s.chop(1);
        return s;
    }
    case FieldType::Timestamp:
        if (v.typeId() == QMetaType::QDateTime)
            return v.toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        return sortableTimestamp(v.toString());
    case FieldType::Memo:
        return v.toString();
    }
    return v;
}

} // namespace

TableView::TableView(Connection& connection, const QString& tableName, QObject* parent)
    : QObject(parent), m_connection(connection), m_def(table(tableName))
{
    if (!m_def)
        throw DbError(QStringLiteral("Table \"%1\" not found.").arg(tableName));
}

TableView::~TableView()
{
    // Grids built on the view let go of it here; closing then tells no one.
    emit aboutToBeDestroyed();
    m_signals = false;
    close();
}

QString TableView::tableName() const
{
    return m_def->name;
}

QStringList TableView::fieldNames() const
{
    return m_def->fieldNames();
}

void TableView::open(OpenMode mode)
{
    if (m_open)
        return;
    if (!m_connection.isOpen())
        throw DbError(QStringLiteral("The database connection is not open."));
    {
        OpenTables& t = openTables();
        std::lock_guard lock(t.mutex);
        OpenTables::Use& use = t.uses[OpenTables::key(m_connection, m_def->name)];
        if (use.exclusive || (mode == OpenMode::Exclusive && use.shared > 0))
            throw DbError(QStringLiteral("The table %1 is in use and cannot be opened %2.")
                              .arg(m_def->name, mode == OpenMode::Exclusive
                                                     ? QStringLiteral("exclusively")
                                                     : QStringLiteral("while it is held exclusively")));
        if (mode == OpenMode::Exclusive)
            use.exclusive = true;
        else
            ++use.shared;
    }
    m_mode = mode;
    m_open = true;
    m_state = EditState::Browse;
    m_currentRowid = 0;
    try {
        reload(0);
    } catch (...) {
        close();
        throw;
    }
}

void TableView::close()
{
    if (!m_open)
        return;
    {
        OpenTables& t = openTables();
        std::lock_guard lock(t.mutex);
        const QString key = OpenTables::key(m_connection, m_def->name);
        OpenTables::Use& use = t.uses[key];
        if (m_mode == OpenMode::Exclusive)
            use.exclusive = false;
        else
            --use.shared;
        if (!use.exclusive && use.shared <= 0)
            t.uses.remove(key);
    }
    if (m_signals)
        emit rowsAboutToBeReset();
    m_open = false;
    m_state = EditState::Browse;
    m_rowids.clear();
    m_pos = 0;
    m_currentRowid = 0;
    m_cacheRowid = -1;
    if (m_signals)
        emit rowsReset();
}

void TableView::refresh()
{
    requireOpen();
    reload(m_currentRowid);
}

bool TableView::resolveOrdering(const QString& name, QString* field, bool* descending) const
{
    if (const IndexDef* i = m_def->index(name)) {
        *field = i->field;
        *descending = i->descending;
        return true;
    }
    // Any field orders the view, and "<field>Desc" orders it backwards, as the
    // list window's column titles ask.
    const FieldDef* f = m_def->field(name);
    *descending = false;
    if (!f && name.endsWith(QLatin1String("Desc"), Qt::CaseInsensitive)) {
        f = m_def->field(name.chopped(4));
        *descending = true;
    }
    if (!f)
        return false;
    *field = f->name;
    return true;
}

void TableView::setIndexName(const QString& name)
{
    QString field;
    bool descending = false;
    if (!name.isEmpty() && !resolveOrdering(name, &field, &descending))
        throw DbError(QStringLiteral("Index \"%1\" not found in table %2.").arg(name, m_def->name));
    m_indexName = name;
    if (m_open)
        reload(m_currentRowid);
}

void TableView::setFilter(const QString& expression)
{
    m_filter = expression;
    if (m_open && m_filtered)
        reload(m_currentRowid);
}

void TableView::setFiltered(bool on)
{
    if (m_filtered == on)
        return;
    m_filtered = on;
    if (m_open)
        reload(m_currentRowid);
}

QString TableView::whereClause() const
{
    if (!m_filtered || m_filter.trimmed().isEmpty())
        return {};
    return QStringLiteral(" WHERE (") + rewriteExpression(m_filter) + QLatin1Char(')');
}

QString TableView::orderClause() const
{
    QString field;
    bool descending = false;
    if (m_indexName.isEmpty() || !resolveOrdering(m_indexName, &field, &descending))
        return QStringLiteral(" ORDER BY rowid");
    return QStringLiteral(" ORDER BY %1%2, rowid").arg(q(field), descending ? QStringLiteral(" DESC") : QString());
}

int TableView::recordCount() const
{
    requireOpen();
    return m_connection.scalar(QStringLiteral("SELECT count(*) FROM ") + q(m_def->name) + whereClause())
        .toInt();
}

bool TableView::isEmpty()
{
    return snapshotSize() == 0;
}

void TableView::reload(qint64 keepRowid)
{
    if (m_signals)
        emit rowsAboutToBeReset();
    m_rowids = m_connection.selectIntegers(QStringLiteral("SELECT rowid FROM ") + q(m_def->name) + whereClause()
                                           + orderClause());
    m_cacheRowid = -1;
    m_pos = 0;
    if (keepRowid) {
        const auto it = std::find(m_rowids.begin(), m_rowids.end(), keepRowid);
        if (it != m_rowids.end())
            m_pos = int(it - m_rowids.begin());
    }
    m_currentRowid = m_pos < int(m_rowids.size()) ? m_rowids[size_t(m_pos)] : 0;
    if (m_signals) {
        emit rowsReset();
        emit currentChanged();
    }
}

void TableView::ensureLoaded()
{
    requireOpen();
}

int TableView::orderedPosition(qint64 rowid) const
{
    QString field;
    bool descending = false;
    QString compare;
    if (!m_indexName.isEmpty() && resolveOrdering(m_indexName, &field, &descending)) {
        // The engine compares, so that its collation and type rules decide as
        // they do in the view's ORDER BY (NULL first, last when descending).
        const QString k = q(field);
        const QString x = descending ? QStringLiteral("y.") + k : QStringLiteral("x.") + k;
        const QString y = descending ? QStringLiteral("x.") + k : QStringLiteral("y.") + k;
        compare = QStringLiteral("SELECT CASE WHEN x.%1 IS y.%1 THEN x.rowid < y.rowid WHEN %2 IS NULL THEN 1 "
                                 "WHEN %3 IS NULL THEN 0 ELSE %2 < %3 END FROM %4 x, %4 y "
                                 "WHERE x.rowid = :a AND y.rowid = :b")
                      .arg(k, x, y, q(m_def->name));
    }
    // Whether row a comes before row b in the view's order.
    const auto before = [&](qint64 a, qint64 b) {
        if (compare.isEmpty())
            return a < b;
        const QVariant v = m_connection.scalar(compare, {{QStringLiteral("a"), a}, {QStringLiteral("b"), b}});
        // A row deleted behind the view has no place; it sorts first.
        return !v.isValid() || v.toBool();
    };
    int lo = 0;
    int hi = int(m_rowids.size());
    while (lo < hi) {
        const int mid = lo + (hi - lo) / 2;
        if (before(m_rowids[size_t(mid)], rowid))
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

void TableView::insertRow(int position, qint64 rowid)
{
    if (m_signals)
        emit rowAboutToBeInserted(position);
    m_rowids.insert(m_rowids.begin() + position, rowid);
    if (m_signals)
        emit rowInserted(position);
}

void TableView::removeRow(int position)
{
    if (m_signals)
        emit rowAboutToBeRemoved(position);
    m_rowids.erase(m_rowids.begin() + position);
    if (m_signals)
        emit rowRemoved(position);
}

int TableView::positionOf(qint64 rowid) const
{
    if (m_pos < int(m_rowids.size()) && m_rowids[size_t(m_pos)] == rowid)
        return m_pos;
    const auto it = std::find(m_rowids.begin(), m_rowids.end(), rowid);
    return it == m_rowids.end() ? -1 : int(it - m_rowids.begin());
}

DbError TableView::vanishedRow() const
{
    return DbError(QStringLiteral("The current record of table %1 was deleted meanwhile; "
                                  "the change was not saved.").arg(m_def->name));
}

void TableView::requireOpen() const
{
    if (!m_open)
        throw DbError(QStringLiteral("The view of table %1 is not open.").arg(m_def->name));
}

void TableView::moveToPosition(int position)
{
    m_pos = std::clamp(position, 0, int(m_rowids.size()));
    m_currentRowid = m_pos < int(m_rowids.size()) ? m_rowids[size_t(m_pos)] : 0;
    m_bof = false;
    if (m_signals)
        emit currentChanged();
}

void TableView::first()
{
    ensureLoaded();
    moveToPosition(0);
    m_bof = true;
}

void TableView::next()
{
    ensureLoaded();
    if (m_pos < int(m_rowids.size()))
        moveToPosition(m_pos + 1);
}

void TableView::prior()
{
    ensureLoaded();
    if (m_pos > 0)
        moveToPosition(m_pos - 1);
    else
        m_bof = true;
}

void TableView::last()
{
    ensureLoaded();
    moveToPosition(qMax(0, int(m_rowids.size()) - 1));
}

bool TableView::eof() const
{
    if (!m_open)
        return true;
    return m_pos >= int(m_rowids.size());
}

bool TableView::bof() const
{
    return !m_open || m_bof || m_rowids.empty();
}

int TableView::recNo()
{
    if (!m_open)
        return -1;
    ensureLoaded();
    return m_pos < int(m_rowids.size()) ? m_pos : -1;
}

bool TableView::moveTo(int position)
{
    ensureLoaded();
    if (position < 0 || position >= int(m_rowids.size()))
        return false;
    moveToPosition(position);
    return true;
}

bool TableView::locate(const QString& fieldName, const QVariant& value, bool ignoreCase)
{
    ensureLoaded();
    const FieldDef* f = m_def->field(fieldName);
    if (!f)
        throw DbError(QStringLiteral("Field \"%1\" not found in table %2.").arg(fieldName, m_def->name));
    const QString cond = ignoreCase ? QStringLiteral("upper(%1) = upper(:v)").arg(q(f->name))
                                    : QStringLiteral("%1 = :v").arg(q(f->name));
    QString where = whereClause();
    where = where.isEmpty() ? QStringLiteral(" WHERE ") + cond : where + QStringLiteral(" AND ") + cond;
    const QVariant found = m_connection.scalar(QStringLiteral("SELECT rowid FROM ") + q(m_def->name) +
                                                   where + orderClause() + QStringLiteral(" LIMIT 1"),
                                               {{QStringLiteral("v"), normalised(*f, value)}});
    if (!found.isValid())
        return false;
    const auto it = std::find(m_rowids.begin(), m_rowids.end(), found.toLongLong());
    if (it == m_rowids.end()) {
        // Added since the view was read.
        reload(found.toLongLong());
        return m_currentRowid == found.toLongLong();
    }
    moveToPosition(int(it - m_rowids.begin()));
    return true;
}

bool TableView::findKey(const QVariant& value)
{
    if (m_indexName.isEmpty())
        throw DbError(QStringLiteral("No index is set on the view of table %1.").arg(m_def->name));
    QString field;
    bool descending = false;
    resolveOrdering(m_indexName, &field, &descending);
    return locate(field, value, false);
}

void TableView::loadCurrent() const
{
    if (m_cacheRowid == m_currentRowid)
        return;
    m_cacheRow.clear();
    m_cacheRowid = m_currentRowid;
    if (!m_currentRowid)
        return;
    const ResultSet rs = m_connection.select(QStringLiteral("SELECT * FROM ") + q(m_def->name) +
                                                 QStringLiteral(" WHERE rowid = :r"),
                                             {{QStringLiteral("r"), m_currentRowid}});
    if (!rs.isEmpty())
        m_cacheRow = rs.rows.front();
}

QVariant TableView::value(const QString& fieldName) const
{
    const int idx = fieldIndex(fieldName);
    if (m_state != EditState::Browse)
        return m_buffer.value(idx);
    if (!m_open)
        return {};
    loadCurrent();
    return m_cacheRow.value(idx);
}

int TableView::fieldIndex(const QString& fieldName) const
{
    for (int i = 0; i < int(m_def->fields.size()); ++i)
        if (m_def->fields[size_t(i)].name.compare(fieldName, Qt::CaseInsensitive) == 0)
            return i;
    throw DbError(QStringLiteral("Field \"%1\" not found in table %2.").arg(fieldName, m_def->name));
}

void TableView::setValue(const QString& fieldName, const QVariant& v)
{
    const int idx = fieldIndex(fieldName);
    if (m_state == EditState::Browse)
        throw DbError(QStringLiteral("The view of table %1 is not in edit or insert mode.").arg(m_def->name));
    if (idx >= m_buffer.size())
        throw vanishedRow();
    const FieldDef& f = m_def->fields[size_t(idx)];
    if (f.type == FieldType::AutoIncrement)
        throw DbError(QStringLiteral("The field %1 is read-only.").arg(f.name));
    m_buffer[idx] = normalised(f, v);
    m_modified[size_t(idx)] = true;
}

void TableView::append()
{
    requireOpen();
    if (m_state != EditState::Browse)
        post();
    m_buffer.clear();
    for (const FieldDef& f : m_def->fields)
        m_buffer.append(defaultValue(f));
    m_modified.assign(m_def->fields.size(), false);
    m_state = EditState::Insert;
}

void TableView::edit()
{
    requireOpen();
    if (m_state == EditState::Edit)
        return;
    if (m_state == EditState::Insert)
        post();
    ensureLoaded();
    if (!m_currentRowid)
        throw DbError(QStringLiteral("The view of table %1 has no current row to edit.").arg(m_def->name));
    m_cacheRowid = -1; // the row as it is now, not as it was read
    loadCurrent();
    if (m_cacheRow.size() != int(m_def->fields.size()))
        throw vanishedRow();
    m_buffer = m_cacheRow;
    m_modified.assign(m_def->fields.size(), false);
    m_editRowid = m_currentRowid;
    m_state = EditState::Edit;
}

bool TableView::passesFilter(qint64 rowid) const
{
    if (whereClause().isEmpty())
        return true;
    return m_connection
        .scalar(QStringLiteral("SELECT 1 FROM %1%2 AND rowid = :r").arg(q(m_def->name), whereClause()),
                {{QStringLiteral("r"), rowid}})
        .isValid();
}

void TableView::post()
{
    requireOpen();
    if (m_state == EditState::Browse)
        return;
    QStringList cols;
    QStringList marks;
    Params params;
    for (size_t i = 0; i < m_def->fields.size(); ++i) {
        const FieldDef& f = m_def->fields[i];
        if (f.type == FieldType::AutoIncrement)
            continue;
        if (m_state == EditState::Edit && !m_modified[i])
            continue;
        const QString p = QStringLiteral("p%1").arg(i);
        cols << q(f.name);
        marks << QLatin1Char(':') + p;
        params.append({p, m_buffer.at(int(i))});
    }
    if (m_state == EditState::Insert) {
        const QString sql = cols.isEmpty()
                                ? QStringLiteral("INSERT INTO %1 DEFAULT VALUES").arg(q(m_def->name))
                                : QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
                                      .arg(q(m_def->name), cols.join(QLatin1Char(',')),
                                           marks.join(QLatin1Char(',')));
        qint64 rowid = 0;
        {
            std::lock_guard lock(m_connection.mutex());
            m_connection.execute(sql, params);
            rowid = m_connection.lastInsertRowid();
        }
        m_state = EditState::Browse;
        m_buffer.clear();
        m_cacheRowid = -1;
        // The new row takes its place in the view's order and becomes current.
        if (passesFilter(rowid)) {
            const int position = orderedPosition(rowid);
            insertRow(position, rowid);
            moveToPosition(position);
        }
        return;
    }

    int changed = 1;
    if (!cols.isEmpty()) {
        QStringList sets;
        for (int i = 0; i < cols.size(); ++i)
            sets << cols.at(i) + QStringLiteral(" = ") + marks.at(i);
        params.append({QStringLiteral("rowid_"), m_editRowid});
        changed = m_connection.execute(QStringLiteral("UPDATE %1 SET %2 WHERE rowid = :rowid_")
                                           .arg(q(m_def->name), sets.join(QStringLiteral(", "))),
                                       params);
    }
    QString orderField;
    bool descending = false;
    const bool keyChanged = !m_indexName.isEmpty() && resolveOrdering(m_indexName, &orderField, &descending) &&
                            m_modified[size_t(fieldIndex(orderField))];
    m_state = EditState::Browse;
    m_buffer.clear();
    m_cacheRowid = -1;
    const int position = positionOf(m_editRowid);
    if (changed == 0) {
        // Deleted by a statement since the edit began: the view lets it go,
        // and the caller hears that nothing was saved.
        if (position >= 0) {
            removeRow(position);
            moveToPosition(qMin(m_pos, int(m_rowids.size())));
        }
        throw vanishedRow();
    }
    if (position < 0) {
        emitCurrentChanged();
        return;
    }
    if (!passesFilter(m_editRowid)) {
        // The row leaves the view; the next passing row becomes current.
        removeRow(position);
        moveToPosition(position);
        return;
    }
    if (keyChanged) {
        // The row moves to its new place and stays current.
        removeRow(position);
        const int to = orderedPosition(m_editRowid);
        insertRow(to, m_editRowid);
        moveToPosition(to);
        return;
    }
    if (m_signals)
        emit rowChanged(position);
    emitCurrentChanged();
}

void TableView::emitCurrentChanged()
{
    if (m_signals)
        emit currentChanged();
}

void TableView::cancel()
{
    m_state = EditState::Browse;
    m_buffer.clear();
}

void TableView::deleteRecord()
{
    requireOpen();
    if (m_state == EditState::Insert) {
        cancel();
        return;
    }
    m_state = EditState::Browse;
    ensureLoaded();
    if (!m_currentRowid)
        throw DbError(QStringLiteral("The view of table %1 has no current row to delete.").arg(m_def->name));
    m_connection.execute(QStringLiteral("DELETE FROM %1 WHERE rowid = :r").arg(q(m_def->name)),
                         {{QStringLiteral("r"), m_currentRowid}});
    m_cacheRowid = -1;
    const int position = positionOf(m_currentRowid);
    if (position >= 0)
        removeRow(position);
    // The row after the deleted one becomes current; after the last, the view is at its end.
    moveToPosition(position >= 0 ? position : m_pos);
}

void TableView::rebuildIndexes()
{
    m_connection.execute(QStringLiteral("REINDEX %1").arg(q(m_def->name)));
}

void TableView::pack()
{
    // Deleted rows are gone at once; giving their pages back to the file is all
    // that is left to do.
    m_connection.execute(QStringLiteral("PRAGMA incremental_vacuum"));
}

void TableView::disableControls()
{
    m_signals = false;
}

void TableView::enableControls()
{
    if (m_signals)
        return;
    m_signals = true;
    if (m_open) {
        emit rowsAboutToBeReset();
        emit rowsReset();
        emit currentChanged();
    }
}

void TableView::forEachRow(const QStringList& fields,
                           const std::function<bool(const QVariantList& row)>& fn) const
{
    requireOpen();
    QStringList columns;
    for (const QString& f : fields)
        columns << q(m_def->fields[size_t(fieldIndex(f))].name);
    m_connection.forEachRow(QStringLiteral("SELECT %1 FROM %2%3%4")
                                .arg(columns.join(QLatin1Char(',')), q(m_def->name), whereClause(),
                                     orderClause()),
                            {}, [&fn](const QStringList&, const QVariantList& row) { return fn(row); });
}

int TableView::snapshotSize()
{
    if (!m_open)
        return 0;
    ensureLoaded();
    return int(m_rowids.size());
}

qint64 TableView::rowidAt(int position)
{
    ensureLoaded();
    if (position < 0 || position >= int(m_rowids.size()))
        return 0;
    return m_rowids[size_t(position)];
}

qint64 TableView::currentRowid() const
{
    return m_currentRowid;
}

} // namespace bv::data

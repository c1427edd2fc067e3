#pragma once

#include "data/Database.h"

#include <QObject>
#include <QVariant>

#include <functional>
#include <vector>

namespace bv::data {

struct TableDef;

enum class OpenMode { Shared, Exclusive };
enum class EditState { Browse, Edit, Insert };

// A cursor over one table: ordered by an index name, optionally filtered by an
// expression in the program's syntax ("(Error = False) and (Sent = False)"),
// with positioned append, edit, post and delete.
class TableView : public QObject
{
    Q_OBJECT
public:
    TableView(Connection& connection, const QString& table, QObject* parent = nullptr);
    ~TableView() override;

    Connection& connection() const { return m_connection; }
    QString tableName() const;
    const TableDef& definition() const { return *m_def; }
    QStringList fieldNames() const;

    // Shared, or exclusive: no other view may have the table open meanwhile.
    // Throws DbError when the table is held exclusively elsewhere.
    void open(OpenMode mode = OpenMode::Shared);
    void close();
    bool isOpen() const { return m_open; }
    // Re-reads the rows, keeping the current row where it still passes.
    void refresh();

    // Ordering by an index name of the table ("EMAIL", "EmailDesc"); empty is
    // stored order.
    void setIndexName(const QString& name);
    QString indexName() const { return m_indexName; }

    void setFilter(const QString& expression);
    QString filter() const { return m_filter; }
    void setFiltered(bool on);
    bool filtered() const { return m_filtered; }

    // Rows that pass the filter (all rows when filtering is off), counted anew.
    int recordCount() const;
    bool isEmpty();

    void first();
    void next();
    void prior();
    void last();
    bool eof() const;
    bool bof() const;
    // Position of the current row in the view, counted from 0; -1 with none.
    int recNo();
    bool moveTo(int position);
    // Moves to the first row (in view order) whose field equals value, exactly
    // or ignoring letter case. Returns false and stays put when none does.
    bool locate(const QString& field, const QVariant& value, bool ignoreCase = false);
    // Looks up value on the field of the current index.
    bool findKey(const QVariant& value);

    QVariant value(const QString& field) const;
    void setValue(const QString& field, const QVariant& value);

    void append();
    void edit();
    // Writes the row being appended or edited. A row that no longer passes
    // the filter leaves the view; the next passing row becomes current. An
    // edited row that a statement deleted meanwhile raises DbError.
    void post();
    void cancel();
    void deleteRecord();
    EditState state() const { return m_state; }

    void rebuildIndexes();
    void pack();

    // Bulk work: no signals until enableControls(), which then tells once
    // that everything changed.
    void disableControls();
    void enableControls();

    // Reads the chosen fields of every row the view shows, in its order,
    // straight from the table; fn returns false to stop.
    void forEachRow(const QStringList& fields, const std::function<bool(const QVariantList& row)>& fn) const;

    // Rows as the view currently holds them, for grids.
    int snapshotSize();
    qint64 rowidAt(int position);
    qint64 currentRowid() const;

signals:
    // The current row moved, or its data changed.
    void currentChanged();
    // The set of rows is about to be read again / was read again.
    void rowsAboutToBeReset();
    void rowsReset();
    // One row comes into or leaves the view at position (before and after).
    void rowAboutToBeInserted(int position);
    void rowInserted(int position);
    void rowAboutToBeRemoved(int position);
    void rowRemoved(int position);
    // The row at position was written through the view.
    void rowChanged(int position);
    // The view is going away; nothing may read it after this.
    void aboutToBeDestroyed();

private:
    // The field and direction an index name (or a field name, with or
    // without "Desc") orders by; false when it names neither.
    bool resolveOrdering(const QString& name, QString* field, bool* descending) const;
    QString whereClause() const;
    QString orderClause() const;
    void reload(qint64 keepRowid);
    void ensureLoaded();
    // Where a row belongs among the view's rows.
    int orderedPosition(qint64 rowid) const;
    int positionOf(qint64 rowid) const;
    void insertRow(int position, qint64 rowid);
    void removeRow(int position);
    void emitCurrentChanged();
    DbError vanishedRow() const;
    void moveToPosition(int position);
    void loadCurrent() const;
    int fieldIndex(const QString& fieldName) const;
    bool passesFilter(qint64 rowid) const;
    void requireOpen() const;

    Connection& m_connection;
    const TableDef* m_def;
    bool m_open = false;
    OpenMode m_mode = OpenMode::Shared;
    QString m_indexName;
    QString m_filter;
    bool m_filtered = false;
    bool m_bof = true;
    bool m_signals = true;
    std::vector<qint64> m_rowids;
    int m_pos = 0;
    qint64 m_currentRowid = 0;
    EditState m_state = EditState::Browse;
    QVariantList m_buffer;
    std::vector<bool> m_modified;
    qint64 m_editRowid = 0;
    mutable qint64 m_cacheRowid = -1;
    mutable QVariantList m_cacheRow;
};

} // namespace bv::data

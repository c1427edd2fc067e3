#pragma once

#include "data/Database.h"

#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

namespace bv::lists {

// Appends many rows to one table inside one transaction: a million rows take
// seconds instead of the minutes their separate commits would. A row the
// engine refuses throws its DbError while the transaction stays open, so the
// caller decides whether the rows before it are committed (commit()) or the
// next row is tried. Nothing is kept unless commit() is called.
class BulkAppend
{
public:
    // fitted: every value already fits its field (cut to its width, no
    // trailing blanks), so the engine need not fit each row again.
    BulkAppend(data::Connection& connection, const QString& table, const QStringList& fields,
               bool fitted);

    // values in the order of the fields.
    void append(const QVariantList& values);
    void commit();
    int count() const { return m_count; }

private:
    data::Connection& m_connection;
    std::optional<data::Transaction> m_transaction;
    QString m_sql;
    data::Params m_params;
    int m_count = 0;
};

// Keeps the rows appended before a refused one; a failure of the commit
// itself is swallowed, so that the refusal is what reaches the user.
void commitBeforeFailure(BulkAppend& rows);

} // namespace bv::lists

#include "BulkAppend.h"

namespace bv::lists {

BulkAppend::BulkAppend(data::Connection& connection, const QString& table,
                       const QStringList& fields, bool fitted)
    : m_connection(connection)
{
    QStringList columns;
    QStringList marks;
    for (qsizetype i = 0; i < fields.size(); ++i) {
        const QString name = QStringLiteral("v%1").arg(i);
        columns << QLatin1Char('"') + fields.at(i) + QLatin1Char('"');
        marks << QLatin1Char(':') + name;
        m_params.append({name, QVariant()});
    }
    m_sql = QStringLiteral("insert into \"%1\" (%2) values (%3)")
                .arg(table, columns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
    m_transaction.emplace(connection);
    if (fitted)
        m_transaction->insertFittedRows(table);
}

void BulkAppend::append(const QVariantList& values)
{
    for (qsizetype i = 0; i < m_params.size(); ++i)
        m_params[i].second = values.value(i);
    m_connection.execute(m_sql, m_params);
    ++m_count;
}

void BulkAppend::commit()
{
    m_transaction->commit();
}

void commitBeforeFailure(BulkAppend& rows)
{
    try {
        rows.commit();
    } catch (const data::DbError&) {
        // The engine gave the transaction up with the failure.
    }
}

} // namespace bv::lists

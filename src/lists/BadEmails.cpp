#include "BadEmails.h"

#include "data/Database.h"

namespace bv::lists {

QString badEmailsStatement()
{
    const QString t = QStringLiteral("ltrim(rtrim(Email))");
    const QString at = QStringLiteral("POSITION('@' IN %1)").arg(t);
    QStringList conditions{QStringLiteral("(Email is null)"), QStringLiteral("(%1 = '')").arg(t)};
    for (const char* c : {" ", "(", ")", "/", "\\", "''", "\"", "[", "]", ";", ":", ",", ">", "<"})
        conditions << QStringLiteral("(POSITION('%1' IN %2) > 0)").arg(QLatin1String(c), t);
    conditions << QStringLiteral("(%1 < 2)").arg(at)
               << QStringLiteral("(POSITION('@' IN SubString(%1, %2 + 1, 100)) > 0)").arg(t, at)
               << QStringLiteral("(POSITION('.' IN SubString(%1, %2 + 2, 100)) = 0)").arg(t, at)
               << QStringLiteral("(POSITION('..' IN %1) > 0)").arg(t);
    return QStringLiteral("select Email, FirstName, LastName, ROWID from RecipientList\nwhere ") +
           conditions.join(QStringLiteral("\n   or ")) + QStringLiteral("\norder by Email");
}

std::vector<BadEmailRow> QueryBadEmails(data::Connection& connection)
{
    std::vector<BadEmailRow> out;
    connection.forEachRow(badEmailsStatement(), {}, [&](const QStringList&, const QVariantList& row) {
        out.push_back({row.at(3).toLongLong(), row.at(0).toString(), row.at(1).toString(),
                       row.at(2).toString()});
        return true;
    });
    return out;
}

int recipientCount(data::Connection& connection)
{
    return connection.scalar(QStringLiteral("select count(*) from RecipientList")).toInt();
}

int RemoveBadEmails(data::Connection& connection, const std::vector<BadEmailRow>& rows,
                    QString* error)
{
    // By row, not by address: a missing address matches no "=" lookup, and
    // its row could never be removed.
    int count = 0;
    try {
        for (const BadEmailRow& r : rows)
            count += connection.execute(QStringLiteral("delete from RecipientList where ROWID = :id"),
                                        {{QStringLiteral("id"), r.rowid}});
    } catch (const data::DbError& e) {
        if (error)
            *error = e.message();
    }
    return count;
}

QString badFoundText(int count)
{
    return QString::number(count) + QStringLiteral(" Bad addresses found.");
}

QString totalAddressesText(int count)
{
    return QString::number(count) + QStringLiteral(" Email addresses.");
}

QString removedMessage(int count)
{
    return QString::number(count) + QStringLiteral(" Invalid ") +
           (count == 1 ? QStringLiteral("address") : QStringLiteral("addresses")) +
           QStringLiteral(" deleted.");
}

void BadEmailsModel::setRows(std::vector<BadEmailRow> rows)
{
    beginResetModel();
    m_rows = std::move(rows);
    endResetModel();
}

int BadEmailsModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int BadEmailsModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 3;
}

QVariant BadEmailsModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount() || role != Qt::DisplayRole)
        return {};
    const BadEmailRow& r = m_rows[size_t(index.row())];
    switch (index.column()) {
    case 0:
        return r.email;
    case 1:
        return r.firstName;
    case 2:
        return r.lastName;
    default:
        return {};
    }
}

QVariant BadEmailsModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section > 2)
        return {};
    static const char* const names[] = {"Email", "FirstName", "LastName"};
    return QString::fromLatin1(names[section]);
}

} // namespace bv::lists

#include "Inbox.h"

#include "data/Database.h"

namespace bv::returned {

int Inbox::store(const QByteArray& fetched)
{
    const QString text = storedMessageText(fetched);
    // The lock keeps the number and the row together should another thread
    // ever share the connection.
    std::lock_guard lock(m_connection.mutex());
    const int index =
        m_connection.scalar(QStringLiteral("select max(Index) from IncomingEmail")).toInt() + 1;
    m_connection.execute(
        QStringLiteral("insert into IncomingEmail (Index, EmailMessage) values (:ix, :msg)"),
        {{QStringLiteral("ix"), index}, {QStringLiteral("msg"), text}});
    return index;
}

void Inbox::renumber()
{
    const std::vector<qint64> rowids = m_connection.selectIntegers(
        QStringLiteral("select ROWID from IncomingEmail order by Index, ROWID"));
    int number = 0;
    for (qint64 rowid : rowids)
        m_connection.execute(
            QStringLiteral("update IncomingEmail set Index = :ix where ROWID = :r"),
            {{QStringLiteral("ix"), ++number}, {QStringLiteral("r"), rowid}});
}

int Inbox::count()
{
    return m_connection.scalar(QStringLiteral("select count(*) from IncomingEmail")).toInt();
}

QList<Inbox::Message> Inbox::messages()
{
    QList<Message> out;
    m_connection.forEachRow(
        QStringLiteral("select Index, EmailMessage from IncomingEmail order by Index, ROWID"), {},
        [&out](const QStringList&, const QVariantList& row) {
            out.append({row.value(0).toInt(), row.value(1).toString()});
            return true;
        });
    return out;
}

std::optional<QString> Inbox::messageText(int index)
{
    const data::ResultSet rows = m_connection.select(
        QStringLiteral("select EmailMessage from IncomingEmail where Index = :ix"),
        {{QStringLiteral("ix"), index}});
    if (rows.isEmpty())
        return std::nullopt;
    return rows.rows.front().value(0).toString();
}

int Inbox::trashAll()
{
    const int ct =
        m_connection.scalar(QStringLiteral("select count(*) as \"CT\" from IncomingEmail")).toInt();
    m_connection.execute(QStringLiteral("Delete from IncomingEmail"));
    return ct;
}

bool Inbox::trash(int index)
{
    return m_connection.execute(QStringLiteral("delete from IncomingEmail where Index = :ix"),
                                {{QStringLiteral("ix"), index}}) > 0;
}

QStringList Inbox::harvestTexts(const MailFields& fields)
{
    return QStringList{fields.from, fields.body, fields.subject} + fields.partTexts;
}

} // namespace bv::returned

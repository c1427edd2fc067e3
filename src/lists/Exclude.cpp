#include "EmailUtils.h"

#include "data/Database.h"

#include <QSet>

namespace bv::lists {

using data::Connection;

namespace {

// The collected recipients that their list does not exclude yet, joined with
// the BadEmail rows naming them; and every collected recipient. BadEmail, the
// small table, comes first: with the recipients on the left of the outer join
// the engine would read every recipient of every list.
const char* const NotYetExcluded =
    " from BadEmail be cross join RecipientList rl left outer join ExclusionList el on  "
    "(el.list = rl.list) and Upper(el.email)=Upper(rl.email) where Upper(be.list) = "
    "Upper(rl.List) and Upper(be.emailmemo) = Upper(rl.email) and (el.email is null)";

const char* const Collected =
    " from BadEmail be cross join RecipientList rl where Upper(rl.list)=Upper(be.list) and "
    "Upper(rl.Email) = Upper(be.emailmemo)";

QString upperAscii(QString s)
{
    for (QChar& c : s)
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            c = QChar(c.unicode() - 'a' + 'A');
    return s;
}

} // namespace

QString TExclude::collectStatement(const QString& listName)
{
    return QStringLiteral("insert into bademail (emailmemo,list) select distinct r.email,r.list from "
                          "recipientlist r left outer join bademail b on r.email=b.emailmemo and "
                          "r.list=b.list where (b.emailmemo is null) and Upper(r.email) = Upper(:eml) "
                          "and (") +
           data::quoted(listName) + QStringLiteral("='' or Upper(r.list) = Upper(") +
           data::quoted(listName) + QStringLiteral("))");
}

TExclude::ExcludeStatements TExclude::excludeStatements()
{
    // Counted and copied by recipient row: an address collected in two letter
    // cases for one list gives two BadEmail rows, and joining with both would
    // copy and count its recipients twice.
    const QString notYetExcluded = QLatin1String(NotYetExcluded);
    const QString collected = QLatin1String(Collected);
    return {
        QStringLiteral("select count(distinct rl.ROWID) as \"NewExclusions\"") + notYetExcluded,
        QStringLiteral("Insert Into ExclusionList select rl.FirstName,rl.LastName,rl.Email,rl.List,"
                       "rl.Salutation,rl.SendTo from RecipientList rl where rl.ROWID in (select "
                       "rl.ROWID") + notYetExcluded + QLatin1Char(')'),
        QStringLiteral("Select Count(distinct rl.ROWID) as \"DeletedRecipients\"") + collected,
        QStringLiteral("delete from RecipientList where ROWID in (select rl.ROWID") + collected +
            QLatin1Char(')'),
    };
}

TExclude::TExclude(QString programFolder) : m_folder(std::move(programFolder)) {}

void TExclude::status(int pos, int max) const
{
    if (OnStatus)
        OnStatus(pos, max);
}

void TExclude::CollectAddresses(const QString& listName, const QStringList& ignoreList,
                                const QStringList& lines)
{
    Connection xConn(QStringLiteral("xConn"));
    xConn.open(m_folder);
    xConn.execute(QStringLiteral("delete from bademail"));

    data::Query insert(xConn);
    insert.setSql(collectStatement(listName));

    QSet<QString> skip;
    for (const QString& a : ignoreList)
        skip.insert(upperAscii(a));
    // A second run for an address already looked up adds nothing: the join
    // leaves out the pairs already collected.
    const int lineCount = int(lines.size());
    HarvestAddresses(
        lines, [&](qsizetype i) { status(int(i), lineCount); },
        [&](const QString& address) {
            if (skip.contains(address))
                return;
            skip.insert(address);
            insert.setParam(QStringLiteral("eml"), address);
            insert.execSql();
        });
    xConn.close();
}

void TExclude::ExcludeCollected()
{
    Connection xConn(QStringLiteral("xConn"));
    xConn.open(m_folder);
    status(0, 200);

    const ExcludeStatements sql = excludeStatements();
    NewExclusions = xConn.select(sql.countNew).value(0, QStringLiteral("NewExclusions")).toInt();
    xConn.execute(sql.copy, {}, [this](int percent) { status(percent, 200); });
    DeletedRecipients =
        xConn.select(sql.countDeleted).value(0, QStringLiteral("DeletedRecipients")).toInt();
    xConn.execute(sql.remove);

    status(200, 200);
    xConn.close();
}

} // namespace bv::lists

#include "ClearDups.h"

#include "core/Dialogs.h"
#include "data/Database.h"
#include "data/TableView.h"

#include <QStringList>

namespace bv::lists {

namespace {

// The condition both statements share, from "WHERE" to the last bracket.
QStringList duplicateCondition()
{
    return {
        QStringLiteral("WHERE (List = :lst) and ROWID in"),
        QStringLiteral("//-- List 1 - all rows that have duplicates"),
        QStringLiteral("(Select ROWID from RecipientList where (List = :lst) and Email in"),
        QStringLiteral("   (select Email from RecipientList where (List = :lst) group by Email having Count(Email) > 1)"),
        QStringLiteral("Group By ROWID"),
        QStringLiteral("Having RowID not in"),
        QStringLiteral("//-- List 2 - one row from each set of duplicates"),
        QStringLiteral("(select min(ROWID)"),
        QStringLiteral("From RecipientList"),
        QStringLiteral("where (List = :lst) and Email in"),
        QStringLiteral("   (select Email from RecipientList where (List = :lst) group by Email having Count(Email) > 1)  "),
        QStringLiteral("group by Email"),
        QStringLiteral("  ) )"),
    };
}

} // namespace

QString aqDupsSql()
{
    QStringList lines{QStringLiteral("Select rl.Email, rl.FirstName, rl.LastName"), QStringLiteral("FROM RecipientList rl")};
    lines << duplicateCondition() << QStringLiteral("Order By Email");
    return lines.join(QLatin1Char('\n'));
}

QString delDupsSql()
{
    QStringList lines{QStringLiteral("DELETE"), QStringLiteral("FROM RecipientList")};
    lines << duplicateCondition();
    return lines.join(QLatin1Char('\n'));
}

int deleteDuplicateRecipients(data::Connection& data, const QString& list)
{
    data::Query delDups(data);
    delDups.setSql(delDupsSql());
    delDups.setParam(QStringLiteral("lst"), list);
    return delDups.execSql();
}

QString duplicatesDeletedText(int count)
{
    return QString::number(count) + QStringLiteral(" Duplicate records deleted.");
}

int RemoveDuplicateExclusions(data::TableView& exclusions, data::TableView& recipients, Dialogs& dialogs)
{
    if (dialogs.ask(QStringLiteral("Remove the extra copies of Exclusions whose email address is in list more "
                                   "than once?"),
                    Buttons::YesNo) != Answer::Yes)
        return 0;
    const QString order = exclusions.indexName();
    int removed = 0;
    exclusions.disableControls();
    try {
        exclusions.setIndexName(QStringLiteral("EMAIL"));
        exclusions.first();
        QVariant kept;
        while (!exclusions.eof()) {
            const QVariant email = exclusions.value(QStringLiteral("Email"));
            // Exact equality, letter case included; a missing (NULL) address equals
            // nothing, as in the recipients' statement.
            if (!kept.isNull() && !email.isNull() && email.toString() == kept.toString()) {
                exclusions.deleteRecord(); // the next row becomes current
                ++removed;
                continue;
            }
            kept = email;
            exclusions.next();
        }
        exclusions.setIndexName(order);
    } catch (...) {
        exclusions.setIndexName(order);
        exclusions.enableControls();
        throw;
    }
    exclusions.enableControls();
    exclusions.refresh();
    recipients.refresh();
    dialogs.message(QString::number(removed) + QStringLiteral(" Exclusion(s) Removed."));
    return removed;
}

} // namespace bv::lists

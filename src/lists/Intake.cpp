#include "Intake.h"

#include "data/Schema.h"

namespace bv::lists {

using data::Connection;
using data::Query;

namespace {

const QString Eml = QStringLiteral("eml");
const QString Lst = QStringLiteral("lst");

// The address of a BadEmail row as the intake uses it.
const char* const TrimmedMemo = "ltrim(rtrim(EmailMemo))";

int emailWidth()
{
    return data::table(QStringLiteral("RecipientList"))->field(QStringLiteral("Email"))->width;
}

// Characters as the engine counts them.
int characters(const QString& s)
{
    return int(s.toUcs4().size());
}

} // namespace

FileRequest mailboxFileRequest(const QString& programFolder)
{
    FileRequest r;
    r.title = QStringLiteral("Open Eudora MBX File");
    r.filter = QStringLiteral("Eudora Mailbox (*.MBX)|*.MBX|Any File (*.*)|*.*");
    r.defaultExt = QStringLiteral("MBX");
    r.initialDir = programFolder;
    return r;
}

QStringList badEmailAddresses(Connection& connection, const QList<qint64>& rows)
{
    QStringList out;
    Query read(connection);
    read.setSql(QStringLiteral("select EmailMemo from BadEmail where ROWID = :r"));
    for (qint64 row : rows) {
        read.setParam(QStringLiteral("r"), row);
        read.open();
        if (!read.eof())
            out << read.value(0).toString().trimmed();
        read.close();
    }
    return out;
}

AddResult AddSelected(Connection& connection, const QString& list, const QList<qint64>& rows)
{
    AddResult result;
    const int width = emailWidth();
    Query insert(connection);
    insert.setSql(QStringLiteral("insert into RecipientList (FirstName,LastName,Email,List,Salutation,"
                                 "SendTo) values ('','',:eml,:lst,'',True)"));
    insert.setParam(Lst, list);
    for (const QString& address : badEmailAddresses(connection, rows)) {
        if (address.isEmpty())
            continue;
        if (characters(address) > width) {
            ++result.tooLong;
            continue;
        }
        insert.setParam(Eml, address);
        insert.execSql();
        ++result.added;
    }
    return result;
}

QString addAllStatement()
{
    const QString memo = QLatin1String(TrimmedMemo);
    return QStringLiteral("insert into RecipientList (FirstName,LastName,Email,List,Salutation,SendTo) "
                          "select '','',%1,:lst,'',True from BadEmail where %1 <> '' and "
                          "length(%1) <= %2 order by EmailMemo")
        .arg(memo)
        .arg(emailWidth());
}

AddResult AddAll(Connection& connection, const QString& list, const data::ProgressFn& progress)
{
    AddResult result;
    result.tooLong = connection
                         .scalar(QStringLiteral("select count(*) from BadEmail where length(%1) > %2")
                                     .arg(QLatin1String(TrimmedMemo))
                                     .arg(emailWidth()))
                         .toInt();
    result.added = connection.execute(addAllStatement(), {{Lst, list}}, progress);
    return result;
}

ExcludeSelectedStatements excludeSelectedStatements()
{
    return {
        QStringLiteral("select top 1 ROWID from RecipientList where UCase(Email) = UCase(:eml) "
                       "order by Email, ROWID"),
        QStringLiteral("select count(*) from ExclusionList where UCase(Email) = UCase(:eml)"),
        QStringLiteral("Insert Into ExclusionList (FirstName,LastName,Email,List) select FirstName,"
                       "LastName,Email,List from RecipientList where ROWID = :r"),
        QStringLiteral("delete from RecipientList where ROWID = :r"),
    };
}

ExcludeCounts ExcludeSelected(Connection& connection, const QList<qint64>& rows)
{
    // One recipient per selected address: the first in address order. A
    // second recipient of the address stays until the address is chosen again.
    const ExcludeSelectedStatements sql = excludeSelectedStatements();
    ExcludeCounts counts;
    for (const QString& address : badEmailAddresses(connection, rows)) {
        if (address.isEmpty())
            continue;
        const QVariant recipient = connection.scalar(sql.first, {{Eml, address}});
        if (!recipient.isValid())
            continue;
        if (connection.scalar(sql.excluded, {{Eml, address}}).toInt() == 0)
            counts.newExclusions += connection.execute(sql.copy, {{QStringLiteral("r"), recipient}});
        counts.removedRecipients += connection.execute(sql.remove, {{QStringLiteral("r"), recipient}});
    }
    return counts;
}

ExcludeAllStatements excludeAllStatements()
{
    // Both sides upper-cased and trimmed: BadEmail may hold an address the
    // user corrected in the grid, or the recipient-match form of the last
    // inbox harvest with addresses as stored. Copied by recipient row, so
    // that an address standing twice in BadEmail still copies its recipients
    // once. BadEmail, the small table, drives the join.
    return {
        QStringLiteral("Insert Into ExclusionList select rl.FirstName,rl.LastName,rl.Email,rl.List,"
                       "rl.Salutation,rl.SendTo from RecipientList rl where rl.ROWID in (select r.ROWID "
                       "from BadEmail be cross join RecipientList r left outer join ExclusionList el on "
                       "Ucase(el.email)=Ucase(r.email) where UCase(r.email) = "
                       "UCase(ltrim(rtrim(be.EmailMemo))) and (el.email is null))"),
        QStringLiteral("Delete from RecipientList where UCase(Email) in (Select "
                       "UCase(ltrim(rtrim(EmailMemo))) from BadEmail)"),
    };
}

void ExcludeAll(Connection& connection, const std::function<void(int position)>& progress)
{
    const ExcludeAllStatements sql = excludeAllStatements();
    auto report = [&](int base) -> data::ProgressFn {
        if (!progress)
            return {};
        return [&progress, base](int percent) { progress(base + percent); };
    };
    connection.execute(sql.copy, {}, report(0));
    connection.execute(sql.remove, {}, report(100));
}

int ClearBadEmails(Connection& connection, const QList<qint64>& rows)
{
    Query remove(connection);
    remove.setSql(QStringLiteral("delete from BadEmail where ROWID = :r"));
    int count = 0;
    for (qint64 row : rows) {
        remove.setParam(QStringLiteral("r"), row);
        count += remove.execSql();
    }
    return count;
}

QString recipientsInAllListsText(int count)
{
    return QString::number(count) + QStringLiteral(" Recipients Addresses in All Lists.");
}

QString newAddressesAddedMessage(int count)
{
    return QString::number(count) + QStringLiteral(" New Email Addresses Added.");
}

QString addAllQuestion(const QString& list)
{
    return QStringLiteral("All Emails in this list will be added to the current list: \"") + list +
           QLatin1Char('"');
}

QString addedAllMessage(int count)
{
    return QString::number(count) + QStringLiteral(" Email Addresses added successfully.");
}

QString tooLongMessage(int count)
{
    return QStringLiteral("%1 %2 longer than %3 characters, the most an address of a recipient can "
                          "hold, and %4 not added.")
        .arg(count)
        .arg(count == 1 ? QStringLiteral("address is") : QStringLiteral("addresses are"))
        .arg(emailWidth())
        .arg(count == 1 ? QStringLiteral("was") : QStringLiteral("were"));
}

QString excludedSelectedMessage(const ExcludeCounts& counts)
{
    return QString::number(counts.newExclusions) + QStringLiteral(" New Exclusions Added. ") +
           QString::number(counts.removedRecipients) + QStringLiteral(" Recipients found and removed.");
}

QString excludeAllQuestion()
{
    return QStringLiteral("Recipients matching the Returned Emails will be transferred to the "
                          "Exclusions Lists.  Continue?");
}

QString excludedAllMessage()
{
    return QStringLiteral("Returned Email Addresses removed successfully.");
}

QString clearSelectedQuestion(int count)
{
    return QStringLiteral("Clear The ") + QString::number(count) + QStringLiteral(" Selected Emails?");
}

QString clearedMessage(int count)
{
    return QString::number(count) + QStringLiteral(" Emails cleared and will not be Excluded.");
}

QString selectListFirstText()
{
    return QStringLiteral("Please, select an email list first.");
}

QString unreadableFileMessage(const QString& path, const QString& reason)
{
    return QStringLiteral("The file \"%1\" could not be read: %2").arg(path, reason);
}

} // namespace bv::lists

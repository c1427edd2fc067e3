// Every statement text the program runs, on a small data set, with the rows
// each must give.
#include "DataSet.h"
#include "TempProgramFolder.h"
#include "data/Database.h"

#include <QDir>
#include <QtTest>

using namespace bv;
using namespace bv::data;

namespace {

const QString dupCondition = QStringLiteral(
    "WHERE (List = :lst) and ROWID in\n"
    "//-- List 1 - all rows that have duplicates\n"
    "(Select ROWID from RecipientList where (List = :lst) and Email in\n"
    "   (select Email from RecipientList where (List = :lst) group by Email having Count(Email) > 1)\n"
    "Group By ROWID\n"
    "Having RowID not in\n"
    "//-- List 2 - one row from each set of duplicates\n"
    "(select min(ROWID)\n"
    "From RecipientList\n"
    "where (List = :lst) and Email in\n"
    "   (select Email from RecipientList where (List = :lst) group by Email having Count(Email) > 1)  \n"
    "group by Email\n"
    "  ) )");

const QString excludeJoin = QStringLiteral(
    " from RecipientList rl left outer join ExclusionList el on  (el.list = rl.list) and "
    "Upper(el.email)=Upper(rl.email),BadEmail be where Upper(be.list) = Upper(rl.List) and "
    "Upper(be.emailmemo) = Upper(rl.email) and (el.email is null)");

const QString collect = QStringLiteral(
    "insert into bademail (emailmemo,list) select distinct r.email,r.list from recipientlist r "
    "left outer join bademail b on r.email=b.emailmemo and r.list=b.list where (b.emailmemo is null) "
    "and Upper(r.email) = Upper(:eml) and ('%1'='' or Upper(r.list) = Upper('%1'))");

const QString history = QStringLiteral(
    "Insert Into EmailHistory (StartTime, EndTime, Subject, List, \"From\", ListCount, AttemptCount, "
    "Operation) values ('%1','01/01/1900 01:01:01','%2','O''Neil''s','Ann <ann@x.com>',4,4,'New Mailing')");

QString search(const QString& table, const QString& view, const QString& list, const QStringList& conds)
{
    return QStringLiteral("Select '%1' as \"TableNm\", Salutation, FirstName, LastName, Email From %2 "
                          "where List = '%3' and (")
               .arg(view, table, list) +
           conds.join(QStringLiteral("\nor\n")) + QStringLiteral(") ");
}

} // namespace

class TestDialect : public QObject
{
    Q_OBJECT
private slots:
    void statements_data();
    void statements();
    void queueFill_withTimestampLiteral();
};

void TestDialect::statements_data()
{
    QTest::addColumn<QStringList>("setup");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QString>("params");
    QTest::addColumn<QString>("check");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<bool>("ordered");

    const QStringList none;

    // The list registry and the list operations.
    QTest::newRow("load list names") << none << "Select List From Lists" << "" << ""
                                     << QStringList{"L1", "O'Neil's", "L2"} << true;
    QTest::newRow("add list name with quote")
        << none << "Insert Into Lists (List) values ('Don''t miss')" << ""
        << "select List from Lists where List = 'Don''t miss'" << QStringList{"Don't miss"} << true;
    QTest::newRow("delete list name with quotes")
        << none << "Delete From Lists where List = 'O''Neil''s'" << ""
        << "select List from Lists" << QStringList{"L1", "L2"} << true;
    QTest::newRow("rename list name")
        << none << "Update Lists set List = 'L9' where List = 'L2'" << ""
        << "select List from Lists order by List" << QStringList{"L1", "L9", "O'Neil's"} << true;
    QTest::newRow("rename recipients")
        << none << "update RecipientList set List = 'L1b' where List = 'L1'" << ""
        << "select count(*) from RecipientList where List = 'L1b'" << QStringList{"6"} << true;
    QTest::newRow("duplicate list copies six fields")
        << none
        << "INSERT INTO RecipientList (Salutation,SendTo,FirstName,LastName,Email,List) SELECT "
           "Salutation,SendTo,FirstName,LastName,Email,'Copy' as \"List\" FROM RECIPIENTLIST where List = 'O''Neil''s'"
        << ""
        << "select FirstName, LastName, Email, List, Salutation, SendTo, New from RecipientList where List = 'Copy'"
        << QStringList{"Dee|O'Neil|dee@y.com|Copy|Dr.|True|False"} << true;
    QTest::newRow("duplicate exclusions")
        << none
        << "INSERT INTO ExclusionList (Salutation,SendTo,FirstName,LastName,Email,List) SELECT "
           "Salutation,SendTo,FirstName,LastName,Email,'Copy' as \"List\" FROM ExclusionList where List = 'L1'"
        << "" << "select Email from ExclusionList where List = 'Copy' order by rowid"
        << QStringList{"bob@x.com", "zed@x.com", "zed@x.com"} << true;

    // The main window's count of a list less its exclusions.
    QTest::newRow("list count Ct")
        << none
        << "Select count(r.Email) as \"Ct\" From RecipientList r Where r.list = 'L1' and not (r.Email in "
           "(select e.email from ExclusionList e where e.List = 'L1'))"
        << "" << "" << QStringList{"5"} << true;

    // Duplicates: every row of an address but the one with the smallest ROWID.
    QTest::newRow("duplicate deletion")
        << none << "DELETE\nFROM RecipientList\n" + dupCondition << "lst=L1"
        << "select FirstName, LastName from RecipientList where List = 'L1' order by rowid"
        << QStringList{"Ann|Smith", "Bob|Goldsmith", "Cy|Jones", "Fay|Kim"} << true;
    QTest::newRow("duplicate listing")
        << none
        << "Select rl.Email, rl.FirstName, rl.LastName\nFROM RecipientList rl\n" + dupCondition +
               "\nOrder By Email"
        << "lst=L1" << "" << QStringList{"ann@x.com|Ann|Smithers", "ann@x.com|Ed|Park"} << false;
    QTest::newRow("duplicate listing other list") << none
        << "Select rl.Email, rl.FirstName, rl.LastName\nFROM RecipientList rl\n" + dupCondition +
               "\nOrder By Email"
        << "lst=L2" << "" << QStringList{} << true;

    // The search across one or both tables.
    const QStringList lastName{"POSITION('SMITH' IN Upper(LastName)) > 0"};
    QTest::newRow("search both tables")
        << none
        << search("RecipientList", "tbRecipients", "L1", lastName) + "\n UNION ALL \n" +
               search("ExclusionList", "tbExclusions", "L1", lastName) + " Order By LastName"
        << "" << ""
        << QStringList{"tbRecipients|Mr.|Bob|Goldsmith|bob@x.com", "tbExclusions|Mr.|Bob|Goldsmith|bob@x.com",
                       "tbRecipients|Ms.|Ann|Smith|ann@x.com", "tbRecipients|Mrs.|Ann|Smithers|ann@x.com"}
        << false;
    QTest::newRow("search all fields descending")
        << none
        << search("RecipientList", "tbRecipients", "O''Neil''s",
                  {"POSITION('O''N' IN Upper(FirstName)) > 0", "POSITION('O''N' IN Upper(LastName)) > 0",
                   "POSITION('O''N' IN Upper(Email)) > 0", "POSITION('O''N' IN Upper(Salutation)) > 0"}) +
               " Order By Email DESC"
        << "" << "" << QStringList{"tbRecipients|Dr.|Dee|O'Neil|dee@y.com"} << true;
    QTest::newRow("position is zero when absent")
        << none << "select POSITION('q' IN 'abc'), POSITION('c' IN 'abc')" << "" << ""
        << QStringList{"0|3"} << true;

    // Address collection and exclusion.
    QTest::newRow("collect addresses, any list")
        << QStringList{"delete from bademail"} << collect.arg("") << "eml=ann@X.com"
        << "select emailmemo, list from bademail order by emailmemo"
        << QStringList{"ANN@X.COM|L1", "ann@x.com|L1"} << true;
    QTest::newRow("collect addresses twice adds nothing")
        << QStringList{"delete from bademail", collect.arg("l1")} << collect.arg("l1") << "eml=ANN@X.COM"
        << "select count(*) from bademail" << QStringList{"2"} << true;
    QTest::newRow("collect addresses, other list")
        << QStringList{"delete from bademail"} << collect.arg("L2") << "eml=ann@x.com"
        << "select count(*) from bademail" << QStringList{"0"} << true;
    const QStringList bad{"delete from bademail",
                          "insert into bademail (emailmemo, list) values ('ann@x.com','L1')",
                          "insert into bademail (emailmemo, list) values ('bob@x.com','L1')"};
    QTest::newRow("new exclusions count")
        << bad << "select count(*) as \"NewExclusions\"" + excludeJoin << "" << ""
        << QStringList{"4"} << true;
    QTest::newRow("exclude collected")
        << bad
        << "Insert Into ExclusionList select rl.FirstName,rl.LastName,rl.Email,rl.List,rl.Salutation,rl.SendTo" +
               excludeJoin
        << "" << "select FirstName, Email from ExclusionList where List = 'L1' order by rowid"
        << QStringList{"Bob|bob@x.com", "Zed|zed@x.com", "Zed|zed@x.com", "Ann|ann@x.com", "Ann|ann@x.com",
                       "Ed|ann@x.com", "Fay|ANN@X.COM"}
        << false;
    QTest::newRow("deleted recipients count")
        << bad
        << "Select Count(*) as \"DeletedRecipients\" from RecipientList rl left outer join bademail be on "
           "Upper(rl.list)=Upper(be.list) and Upper(rl.Email) = Upper(be.emailmemo) where not(be.emailmemo is null)"
        << "" << "" << QStringList{"5"} << true;
    const QStringList returned{"delete from bademail", "insert into bademail (emailmemo) values ('ANN@X.COM')",
                               "insert into bademail (emailmemo) values ('GUS@Z.COM')"};
    QTest::newRow("exclude all returned")
        << returned
        << "Insert Into ExclusionList select rl.FirstName,rl.LastName,rl.Email,rl.List,rl.Salutation,rl.SendTo "
           "from RecipientList rl left outer join ExclusionList el on Ucase(el.email)=Ucase(rl.email),BadEmail be "
           "where be.emailmemo = UCase(rl.email) and (el.email is null)"
        << "" << "select count(*) from ExclusionList" << QStringList{"9"} << true;
    QTest::newRow("delete returned recipients")
        << returned << "Delete from RecipientList where UCase(Email) in (Select EmailMemo from BadEmail)" << ""
        << "select FirstName from RecipientList order by rowid" << QStringList{"Bob", "Cy", "Dee"} << true;

    // Restore from a table file named in double quotes.
    QTest::newRow("restore from table file")
        << QStringList{"delete from RecipientList"} << "insert into RecipientList select * from \"$BACKUP\""
        << "" << "select count(*), min(LastName), max(Email) from RecipientList"
        << QStringList{"8|Goldsmith|gus@z.com"} << true;

    // The send queue and the run record.
    QTest::newRow("queue fill")
        << QStringList{"delete from emailbeingsent"}
        << "Insert into emailbeingsent (Salutation, FirstName,LastName,Email,List,Sent,Error,EmailDate) Select "
           "r.Salutation, r.FirstName, r.LastName, r.Email, r.List, False, False,'2026-12-08 13:15:33'From "
           "RecipientList r Where r.SendTo = True and r.list = 'L1' and not (r.Email in (select e.email from "
           "ExclusionList e where e.List = 'L1'))"
        << "" << "select EmailNo, FirstName, Email, Sent, Error, ErrorMsg, EmailDate from emailbeingsent order by EmailNo"
        << QStringList{"1|Ann|ann@x.com|False|False|NULL|2026-12-08 13:15:33",
                       "2|Ann|ann@x.com|False|False|NULL|2026-12-08 13:15:33",
                       "3|Ed|ann@x.com|False|False|NULL|2026-12-08 13:15:33",
                       "4|Fay|ANN@X.COM|False|False|NULL|2026-12-08 13:15:33"}
        << true;
    QTest::newRow("eligible count ct")
        << none
        << "select count(*) as \"ct\" from RecipientList r Where r.SendTo = True and r.list = 'L1' and not "
           "(r.Email in (select e.email from ExclusionList e where e.List = 'L1'))"
        << "" << "" << QStringList{"4"} << true;
    QTest::newRow("run record")
        << none << history.arg("12/08/2026 13:15:33", "Don''t miss") << ""
        << "select StartTime, EndTime, Subject, List, \"From\", ListCount, AttemptCount, Operation, SuccessCount "
           "from EmailHistory"
        << QStringList{"2026-12-08 13:15:33|1900-01-01 01:01:01|Don't miss|O'Neil's|Ann <ann@x.com>|4|4|New Mailing|NULL"}
        << true;
    QTest::newRow("run record completed by start time")
        << QStringList{history.arg("12/08/2026 13:15:33", "a"), history.arg("12/08/2026 13:15:33", "b"),
                       history.arg("12/08/2026 13:15:34", "c")}
        << "Update EmailHistory set SuccessCount = 3, EndTime ='2026-12-08 13:20:00' where StartTime = "
           "'12/08/2026 13:15:33'"
        << "" << "select Subject, SuccessCount, EndTime from EmailHistory order by EmailID"
        << QStringList{"a|3|2026-12-08 13:20:00", "b|3|2026-12-08 13:20:00", "c|NULL|1900-01-01 01:01:01"} << true;

    // The activity reports.
    const QStringList runs{history.arg("12/08/2026 13:15:33", "December"), history.arg("01/02/2027 09:00:00", "January"),
                           history.arg("11/30/2026 23:59:59", "November")};
    QTest::newRow("history newest first")
        << runs << "select * from EmailHistory order by StartTime DESC" << ""
        << "select Subject from EmailHistory order by StartTime DESC"
        << QStringList{"January", "December", "November"} << true;
    QTest::newRow("last run summary")
        << runs << "select top 1 * from EmailHistory order by StartTime DESC" << "" << ""
        << QStringList{"2|2027-01-02 09:00:00|1900-01-01 01:01:01|January|O'Neil's|Ann <ann@x.com>|4|4|New Mailing|NULL"}
        << true;
    QTest::newRow("top 1 of an empty table")
        << none << "select top 1 * from EmailHistory order by StartTime DESC" << "" << "" << QStringList{} << true;
    const QStringList queue{
        "insert into EmailBeingSent (FirstName, Email, List, Sent, Error, EmailDate) values ('s','s@x.com','L1',True,False,'2026-12-08 10:00:00')",
        "insert into EmailBeingSent (FirstName, Email, List, Sent, Error, EmailDate) values ('f','f@x.com','L1',False,True,'2026-12-08 10:00:01')",
        "insert into EmailBeingSent (FirstName, Email, List, Sent, Error, EmailDate) values ('p','p@x.com','L1',False,False,'2026-12-08 10:00:02')",
        "insert into EmailBeingSent (FirstName, Email, List, Sent, Error, EmailDate) values ('d','d@x.com','L1',True,True,'2026-12-08 10:00:03')"};
    QTest::newRow("last email all, false first")
        << queue << "select * from emailbeingsent order by sent, error" << ""
        << "select FirstName from emailbeingsent order by sent, error" << QStringList{"p", "f", "s", "d"} << true;
    QTest::newRow("last email errors")
        << queue << "select * from emailbeingsent where error = True" << ""
        << "select FirstName from emailbeingsent where error = True order by EmailNo" << QStringList{"f", "d"} << true;
    QTest::newRow("last email successes")
        << queue << "select FirstName from emailbeingsent where Sent=True and Error=False" << "" << ""
        << QStringList{"s"} << true;
    QTest::newRow("clear history")
        << runs << "Delete from EmailHistory" << "" << "select count(*) from EmailHistory" << QStringList{"0"} << true;

    // Direct delivery records its failures.
    QTest::newRow("error report failure row")
        << queue
        << "insert into EmailBeingSent (\"FirstName\",\"LastName\",\"Email\",\"List\",\"Sent\", \"ErrorMsg\", "
           "\"Error\",\"Salutation\",\"EmailDate\") select \"FirstName\",\"LastName\",\"Email\",\"List\",\"Sent\", "
           "'Error while emailing error for Email # 1: 550 it''s gone' as \"ErrorMsg\", True as \"Error\","
           "\"Salutation\",\"EmailDate\" from EmailBeingSent where EmailNo = 1"
        << "" << "select EmailNo, FirstName, Sent, Error, ErrorMsg, EmailDate from EmailBeingSent where EmailNo = 5"
        << QStringList{"5|s|True|True|Error while emailing error for Email # 1: 550 it's gone|2026-12-08 10:00:00"}
        << true;
    QTest::newRow("delivery failure")
        << queue << "update EmailBeingSent set Error = True, ErrorMsg = 'Email Address Domain Name not found.' where EmailNo = 3"
        << "" << "select Sent, Error, ErrorMsg from EmailBeingSent where EmailNo = 3"
        << QStringList{"False|True|Email Address Domain Name not found."} << true;

    // The inbox, whose column Index is a reserved word.
    const QStringList inbox{"insert into IncomingEmail (Index, EmailMessage) values (2, 'second')",
                            "insert into IncomingEmail (Index, EmailMessage) values (1, 'first')"};
    QTest::newRow("inbox count CT") << inbox << "select count(*) as \"CT\" from IncomingEmail" << "" << ""
                                    << QStringList{"2"} << true;
    QTest::newRow("inbox by Index") << inbox << "select Index, EmailMessage from IncomingEmail order by Index"
                                    << "" << "" << QStringList{"1|first", "2|second"} << true;
    QTest::newRow("inbox emptied") << inbox << "Delete from IncomingEmail" << ""
                                   << "select count(*) from IncomingEmail" << QStringList{"0"} << true;
    QTest::newRow("default pop account")
        << QStringList{"insert into PopAccounts (EmailAddress, Port, Default) values ('a@x.com', 110, False)",
                       "insert into PopAccounts (EmailAddress, Port, Default) values ('b@x.com', 995, True)"}
        << "select EmailAddress, Port from PopAccounts where Default = True" << "" << ""
        << QStringList{"b@x.com|995"} << true;

    // The rest of what the dialect must mean.
    QTest::newRow("send to none")
        << none << "update RecipientList set SendTo = False where List = 'L1'" << ""
        << "select FirstName from RecipientList where SendTo = True order by rowid" << QStringList{"Dee", "Gus"} << true;
    QTest::newRow("import marks cleared")
        << QStringList{"update RecipientList set New = True where List = 'L2'"} << "update RecipientList set New = False"
        << "" << "select count(*) from RecipientList where New = True" << QStringList{"0"} << true;
    QTest::newRow("order by column number")
        << none << "select FirstName, LastName, Email from RecipientList where List = 'L2' or List = 'O''Neil''s' order by 3"
        << "" << "" << QStringList{"Dee|O'Neil|dee@y.com", "Gus|Lee|gus@z.com"} << true;
    QTest::newRow("logical order false first")
        << none << "select FirstName from RecipientList where List = 'L1' order by SendTo, FirstName" << "" << ""
        << QStringList{"Cy", "Ann", "Ann", "Bob", "Ed", "Fay"} << true;
    QTest::newRow("names in any letter case")
        << none << "SELECT COUNT(*) FROM recipientlist WHERE LIST = 'L1'" << "" << "" << QStringList{"6"} << true;
    QTest::newRow("equality is exact but ignores trailing blanks")
        << none << "select count(*) from RecipientList where Email = 'ann@x.com   '" << "" << ""
        << QStringList{"3"} << true;
    QTest::newRow("upper on both sides ignores case")
        << none << "select count(*) from RecipientList where UCase(Email) = Upper('Ann@x.com')" << "" << ""
        << QStringList{"4"} << true;
    QTest::newRow("upper changes ascii letters only")
        << none << "select UCase('straße é'), Upper('abc')" << "" << "" << QStringList{"STRAßE é|ABC"} << true;
    QTest::newRow("substring distinct")
        << none << "select distinct SubString(Email, 1, 3) from RecipientList where List = 'L1' order by 1" << ""
        << "" << QStringList{"ANN", "ann", "bob", "cy@"} << true;
    QTest::newRow("trims") << none << "select length(ltrim('  x')), length(rtrim('y  '))" << "" << ""
                           << QStringList{"1|1"} << true;
    QTest::newRow("constants in select list")
        << none << "select False, True as \"SendTo\", '' as \"Salutation\", 'note' as \"ErrorMsg\"" << "" << ""
        << QStringList{"0|1||note"} << true;
    QTest::newRow("not in subquery")
        << none << "select FirstName from RecipientList where List = 'L1' and Email not in (select Email from ExclusionList) order by rowid"
        << "" << "" << QStringList{"Ann", "Cy", "Ann", "Ed", "Fay"} << true;
    QTest::newRow("block comment") << none << "select /* how many */ count(*) from Lists" << "" << ""
                                   << QStringList{"3"} << true;
    QTest::newRow("insert column list in double quotes")
        << none << "insert into Lists (\"List\") values ('Q')" << "" << "select count(*) from Lists where List = 'Q'"
        << QStringList{"1"} << true;
    QTest::newRow("text cut to its width")
        << none << "insert into Lists (List) values ('123456789012345678901234567890   ')" << ""
        << "select List from Lists where List like '1234%'" << QStringList{"12345678901234567890"} << true;
    QTest::newRow("trailing blanks stripped on update")
        << none << "update Lists set List = 'spaced   ' where List = 'L2'" << ""
        << "select length(List) from Lists where List = 'spaced'" << QStringList{"6"} << true;
}

void TestDialect::statements()
{
    QFETCH(QStringList, setup);
    QFETCH(QString, sql);
    QFETCH(QString, params);
    QFETCH(QString, check);
    QFETCH(QStringList, expected);
    QFETCH(bool, ordered);

    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    test::fillSmallDataSet(c);

    const QString backupDir = folder.path() + QStringLiteral("Backups/Jän 'x' 1");
    QDir().mkpath(backupDir);
    const QString backup = backupDir + QStringLiteral("/RecipientList.adt");
    c.copyTableToFile(QStringLiteral("RecipientList"), backup);
    sql.replace(QStringLiteral("$BACKUP"), backup);

    Params p;
    for (const QString& pair : params.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        p.append({pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1)});

    for (const QString& s : setup)
        c.execute(s, p);

    QStringList rows;
    try {
        if (check.isEmpty()) {
            rows = test::rowsOf(c.select(sql, p));
        } else {
            c.execute(sql, p);
            rows = test::rowsOf(c.select(check));
        }
    } catch (const DbError& e) {
        QFAIL(qPrintable(QStringLiteral("engine error: ") + e.message()));
    }
    if (!ordered) {
        rows.sort();
        expected.sort();
    }
    QCOMPARE(rows, expected);
}

void TestDialect::queueFill_withTimestampLiteral()
{
    // The aliases that later code reads by name come back as written.
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    test::fillSmallDataSet(c);
    const ResultSet rs = c.select(
        "Select count(r.Email) as \"Ct\" From RecipientList r Where r.list = 'O''Neil''s' and not (r.Email in "
        "(select e.email from ExclusionList e where e.List = 'O''Neil''s'))");
    QCOMPARE(rs.columns, QStringList{"Ct"});
    // An exclusion that differs only in letter case does not exclude.
    QCOMPARE(rs.value(0, "ct").toInt(), 1);
}

QTEST_GUILESS_MAIN(TestDialect)
#include "tst_dialect.moc"

#include "core/TextFile.h"
#include "data/Database.h"
#include "data/Schema.h"
#include "data/TableView.h"
#include "DataSet.h"
#include "TempProgramFolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <atomic>
#include <thread>

#include <sys/stat.h>

using namespace bv;
using namespace bv::data;

class TestConnection : public QObject
{
    Q_OBJECT
private slots:
    void newDatabase_hasElevenTablesInStoredOrder();
    void passwordFiles_readableByTheOwnerOnly();
    void quoted_data();
    void quoted();
    void longValues_areCutNotFatal();
    void namedParameter_usedSeveralTimes();
    void engineErrors_carryEngineText();
    void notADatabase_isReportedAndLeftAlone();
    void unwritableFolder_isReported();
    void missingTableFile_isReportedAndNothingAttached();
    void progress_risesToHundred();
    void workLimit_stopsRunawayStatementsOnly();
    void concurrentWriters_loseNothing();
    void timestamps_sortChronologically();
    void trailingBlanks_keptInMemosOnly_data();
    void trailingBlanks_keptInMemosOnly();
    void open_whileAnotherProgramWrites();
    void fittedBulkInsert_triggerComesBack_data();
    void fittedBulkInsert_triggerComesBack();
    void olderDatabase_isBroughtUpToDate_data();
    void olderDatabase_isBroughtUpToDate();
};

// The database holds POP passwords and the settings file the SMTP password:
// nobody but the user may read them, whatever the umask.
void TestConnection::passwordFiles_readableByTheOwnerOnly()
{
    test::TempProgramFolder folder;
    const mode_t saved = ::umask(022);
    const auto mode = [](const QString& path) {
        struct stat st
        {
        };
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
    };
    Connection c;
    c.open(folder.path());
    c.execute("insert into PopAccounts (EmailAddress) values ('a@b.c')");
    QCOMPARE(mode(folder.file("Brevicast.db")), 0600);
    QCOMPARE(mode(folder.file("Brevicast.db-wal")), 0600);

    const QString settings = folder.file("BrevicastSettings.ini");
    QVERIFY(replaceFileContents(settings, "old"));
    QCOMPARE(mode(settings), 0644);
    QVERIFY(replaceFileContents(settings, "[Defaults]", nullptr, FileAccess::OwnerOnly));
    QCOMPARE(mode(settings), 0600);

    // A database made before it was narrowed is narrowed when opened.
    c.close();
    QCOMPARE(::chmod(QFile::encodeName(folder.file("Brevicast.db")).constData(), 0644), 0);
    c.open(folder.path());
    QCOMPARE(mode(folder.file("Brevicast.db")), 0600);
    ::umask(saved);
}

void TestConnection::newDatabase_hasElevenTablesInStoredOrder()
{
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    QCOMPARE(
        c.scalar(
             "select count(*) from sqlite_master where type = 'table' and name not like 'sqlite%'")
            .toInt(),
        11);
    // select * gives the fields in their stored order, which insert-by-position relies on.
    QCOMPARE(
        c.select("select * from RecipientList").columns,
        QStringList({"FirstName", "LastName", "Email", "List", "Salutation", "SendTo", "New"}));
    QCOMPARE(c.select("select * from ExclusionList").columns,
             QStringList({"FirstName", "LastName", "Email", "List", "Salutation", "SendTo"}));
    QCOMPARE(c.select("select * from EmailBeingSent").columns,
             QStringList({"EmailNo", "FirstName", "LastName", "Email", "List", "Sent", "ErrorMsg",
                          "Error", "Salutation", "EmailDate"}));
    QCOMPARE(c.select("select * from EmailHistory").columns,
             QStringList({"EmailID", "StartTime", "EndTime", "Subject", "List", "From", "ListCount",
                          "AttemptCount", "Operation", "SuccessCount"}));
    QCOMPARE(c.select("select * from tmpRecipientList").columns.size(), 13);
    // The unique identifier index refuses a second copy.
    c.execute("insert into MessageIDs (MimeMessageID) values ('<a@b>')");
    QVERIFY_THROWS_EXCEPTION(DbError,
                             c.execute("insert into MessageIDs (MimeMessageID) values ('<a@b>')"));
    // Autoincrement never hands out a number twice, even after deletes.
    c.execute("insert into EmailBeingSent (Email) values ('a@b.c')");
    c.execute("insert into EmailBeingSent (Email) values ('a@b.c')");
    c.execute("delete from EmailBeingSent");
    c.execute("insert into EmailBeingSent (Email) values ('a@b.c')");
    QCOMPARE(c.scalar("select EmailNo from EmailBeingSent").toInt(), 3);
    // Reopening an existing database keeps its rows.
    c.close();
    Connection again;
    again.open(folder.path());
    QCOMPARE(again.scalar("select count(*) from EmailBeingSent").toInt(), 1);
}

void TestConnection::quoted_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("O'Neil") << "O'Neil";
    QTest::newRow("Don't miss") << "Don't miss";
    QTest::newRow("quotes only") << "''''";
    QTest::newRow("backslashes") << "C:\\Data\\x\\";
    QTest::newRow("comment dashes") << "a -- b";
    QTest::newRow("semicolon") << "x'; delete from Lists; --";
    QTest::newRow("double quote") << "say \"hi\"";
    QTest::newRow("comment slashes") << "\n// not a comment\n";
    QTest::newRow("non-ascii") << "Jürgen Ølstad 日本";
    QTest::newRow("timestamp-looking") << "12/08/2026 13:15:33";
}

void TestConnection::quoted()
{
    QFETCH(QString, value);
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    c.execute("insert into Lists (List) values ('keep')");
    c.execute("insert into RecipientList (FirstName, List) values (" + data::quoted(value) +
              ", 'L')");
    const QString stored = value.left(30);
    QCOMPARE(c.scalar("select FirstName from RecipientList").toString(), stored);
    QCOMPARE(c.scalar("select count(*) from RecipientList where FirstName = " +
                      data::quoted(value.left(30)))
                 .toInt(),
             1);
    QCOMPARE(c.scalar("select count(*) from Lists").toInt(), 1);
}

void TestConnection::longValues_areCutNotFatal()
{
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    const QString huge(10000, QLatin1Char('x'));
    c.execute("insert into RecipientList (Email, List) values (" + data::quoted(huge) + ", 'L')");
    QCOMPARE(c.scalar("select length(Email) from RecipientList").toInt(), 60);
    TableView v(c, "RecipientList");
    v.open();
    v.append();
    v.setValue("LastName", huge + QStringLiteral("é"));
    v.setValue("List", "L");
    v.post();
    QCOMPARE(c.scalar("select max(length(LastName)) from RecipientList").toInt(), 30);
    // Memo fields keep everything.
    c.execute("insert into EmailBeingSent (ErrorMsg) values (" + data::quoted(huge) + ")");
    QCOMPARE(c.scalar("select length(ErrorMsg) from EmailBeingSent").toInt(), 10000);
}

void TestConnection::namedParameter_usedSeveralTimes()
{
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    test::fillSmallDataSet(c);
    Query q(c);
    q.setSql("select count(*) as \"n\" from RecipientList where (List = :lst) and Email in "
             "(select Email from RecipientList where (List = :LST) and SendTo = True)");
    for (const auto& [list, n] : {std::pair{"L1", 5}, std::pair{"L2", 1}, std::pair{"none", 0}}) {
        q.setParam("lst", QString::fromLatin1(list));
        q.open();
        QCOMPARE(q.value("N").toInt(), n);
    }
}

void TestConnection::engineErrors_carryEngineText()
{
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    try {
        c.execute("select * from NoSuchTable");
        QFAIL("no error");
    } catch (const DbError& e) {
        QVERIFY2(e.message().contains("no such table"), qPrintable(e.message()));
    }
    try {
        c.execute("selec 1");
        QFAIL("no error");
    } catch (const DbError& e) {
        QVERIFY2(e.message().contains("syntax error"), qPrintable(e.message()));
    }
    // The connection stays usable after a failed statement.
    QCOMPARE(c.scalar("select 1").toInt(), 1);
}

void TestConnection::notADatabase_isReportedAndLeftAlone()
{
    test::TempProgramFolder folder;
    const QString path = folder.file(Connection::databaseFileName());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    const QByteArray garbage = QByteArray("This is a letter, not a database.\r\n").repeated(200);
    f.write(garbage);
    f.close();
    Connection c;
    try {
        c.open(folder.path());
        QFAIL("opened a text file as a database");
    } catch (const DbError& e) {
        QVERIFY2(e.message().contains("not a database"), qPrintable(e.message()));
    }
    QVERIFY(!c.isOpen());
    QFile back(path);
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.readAll(), garbage);
}

void TestConnection::unwritableFolder_isReported()
{
    Connection c;
    try {
        c.open("/proc/no-such-folder/");
        QFAIL("opened a database in a folder that does not exist");
    } catch (const DbError& e) {
        QVERIFY(!e.message().isEmpty());
    }
    QVERIFY(!c.isOpen());
}

void TestConnection::missingTableFile_isReportedAndNothingAttached()
{
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    test::fillSmallDataSet(c);
    const QString missing = folder.path() + "Backups/none/RecipientList.adt";
    QVERIFY_THROWS_EXCEPTION(
        DbError, c.execute("insert into RecipientList select * from \"" + missing + "\""));
    QVERIFY(!QFile::exists(missing));
    QCOMPARE(c.scalar("select count(*) from pragma_database_list").toInt(), 1);
    QCOMPARE(c.scalar("select count(*) from RecipientList").toInt(), 8);
}

void TestConnection::progress_risesToHundred()
{
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    c.execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
              "INSERT INTO RecipientList (Email, List, SendTo) SELECT 'a' || i || '@x.com', 'L', "
              "True FROM n");
    QList<int> seen;
    c.execute("Insert Into ExclusionList select FirstName,LastName,Email,List,Salutation,SendTo "
              "from RecipientList",
              {}, [&seen](int p) { seen << p; });
    QVERIFY(seen.size() >= 3);
    QCOMPARE(seen.first(), 0);
    QCOMPARE(seen.last(), 100);
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY(seen.at(i) > seen.at(i - 1));
    QCOMPARE(c.scalar("select count(*) from ExclusionList").toInt(), 20000);
}

void TestConnection::workLimit_stopsRunawayStatementsOnly()
{
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    const QString endless = "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n) "
                            "SELECT count(*) FROM n";
    {
        WorkLimit limit(c, 1000000);
        QVERIFY_THROWS_EXCEPTION(DbError, c.scalar(endless));
        QVERIFY(limit.exceeded());
    }
    QList<int> seen;
    c.execute("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
              "INSERT INTO Lists (List) SELECT 'L' || i FROM n",
              {}, [&seen](int p) { seen << p; });
    QCOMPARE(seen.last(), 100);
    QCOMPARE(c.scalar("select count(*) from Lists").toInt(), 100000);
}

void TestConnection::concurrentWriters_loseNothing()
{
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    constexpr int Threads = 15;
    constexpr int Rows = 60;
    std::atomic<int> failures{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> workers;
    for (int t = 0; t < Threads; ++t) {
        workers.emplace_back([&c, &failures, t] {
            try {
                for (int i = 0; i < Rows; ++i) {
                    const QString email = QStringLiteral("w%1-%2@x.com").arg(t).arg(i);
                    c.execute("insert into EmailBeingSent (Email, List, Sent, Error) values (:e, "
                              "'L', False, False)",
                              {{"e", email}});
                    c.execute("update EmailBeingSent set Error = True, ErrorMsg = 'it''s ' || :e "
                              "where Email = :e",
                              {{"e", email}});
                }
            } catch (const std::exception&) {
                ++failures;
            }
        });
    }
    // Meanwhile the user-interface thread reads through a view.
    TableView view(c, "EmailBeingSent");
    view.setFilter("(Error = False) and (Sent = False)");
    view.setFiltered(true);
    view.open();
    int reads = 0;
    std::thread watcher([&] {
        for (auto& w : workers)
            w.join();
        done = true;
    });
    while (!done) {
        view.refresh();
        for (view.first(); !view.eof(); view.next())
            QVERIFY(view.value("Email").toString().endsWith("@x.com"));
        // Each writer has at most its one row between insert and update pending.
        QVERIFY(view.recordCount() <= Threads);
        ++reads;
    }
    watcher.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(c.scalar("select count(*) from EmailBeingSent").toInt(), Threads * Rows);
    QCOMPARE(c.scalar("select count(distinct EmailNo) from EmailBeingSent").toInt(),
             Threads * Rows);
    QCOMPARE(c.scalar("select count(*) from EmailBeingSent where Error = True and ErrorMsg = "
                      "'it''s ' || Email")
                 .toInt(),
             Threads * Rows);
    QCOMPARE(c.scalar("pragma integrity_check").toString(), QStringLiteral("ok"));
    QVERIFY(reads > 0);
}

void TestConnection::timestamps_sortChronologically()
{
    QCOMPARE(sortableTimestamp("12/08/2026 13:15:33"), QStringLiteral("2026-12-08 13:15:33"));
    QCOMPARE(sortableTimestamp("2026-12-08 13:15:33"), QStringLiteral("2026-12-08 13:15:33"));
    QCOMPARE(sortableTimestamp("Subject"), QStringLiteral("Subject"));
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    // A text field that happens to look like a timestamp stays as written.
    c.execute("insert into EmailHistory (StartTime, Subject) values ('01/02/2027 00:00:00', "
              "'12/08/2026 13:15:33')");
    c.execute("insert into EmailHistory (StartTime, Subject) values ('2026-12-31 23:59:59', 'x')");
    QCOMPARE(
        test::rowsOf(c.select("select StartTime, Subject from EmailHistory order by StartTime")),
        QStringList({"2026-12-31 23:59:59|x", "2027-01-02 00:00:00|12/08/2026 13:15:33"}));
    QCOMPARE(
        c.scalar("select count(*) from EmailHistory where Subject = '12/08/2026 13:15:33'").toInt(),
        1);
    QCOMPARE(c.scalar("select count(*) from EmailHistory where StartTime = '01/02/2027 00:00:00'")
                 .toInt(),
             1);
}

void TestConnection::trailingBlanks_keptInMemosOnly_data()
{
    QTest::addColumn<QString>("write");
    QTest::addColumn<bool>("bound");
    QTest::addColumn<QString>("errorMsg");
    QTest::addColumn<QString>("email");
    QTest::newRow("bound insert") << "insert into EmailBeingSent (ErrorMsg, Email) values (:m, :e)"
                                  << true << "failed:  "
                                  << "a@x.com";
    QTest::newRow("literal insert")
        << "insert into EmailBeingSent (ErrorMsg, Email) values ('failed:  ', 'a@x.com  ')" << false
        << "failed:  "
        << "a@x.com";
    QTest::newRow("bound update") << "update EmailBeingSent set ErrorMsg = :m, Email = :e" << true
                                  << "failed:  "
                                  << "a@x.com";
    QTest::newRow("literal update")
        << "update EmailBeingSent set ErrorMsg = 'failed:  ', Email = 'a@x.com  '" << false
        << "failed:  "
        << "a@x.com";
}

void TestConnection::trailingBlanks_keptInMemosOnly()
{
    QFETCH(QString, write);
    QFETCH(bool, bound);
    QFETCH(QString, errorMsg);
    QFETCH(QString, email);
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    c.execute("insert into EmailBeingSent (ErrorMsg, Email) values ('', '')");
    Params params;
    if (bound)
        params = {{"m", QStringLiteral("failed:  ")}, {"e", QStringLiteral("a@x.com  ")}};
    c.execute(write, params);
    QCOMPARE(
        test::rowsOf(c.select("select ErrorMsg, Email from EmailBeingSent where ErrorMsg <> ''")),
        QStringList{errorMsg + "|" + email});
    // Compared text still ignores trailing blanks, bound or written; a memo is
    // compared as it stands.
    QCOMPARE(c.scalar("select count(*) from EmailBeingSent where Email = :e", {{"e", "a@x.com   "}})
                 .toInt(),
             1);
    QCOMPARE(c.scalar("select count(*) from EmailBeingSent where Email = 'a@x.com '").toInt(), 1);
    QCOMPARE(c.scalar("select count(*) from EmailBeingSent where ErrorMsg = 'failed:  '").toInt(),
             1);
    QCOMPARE(
        c.scalar("select count(*) from EmailBeingSent where ErrorMsg = :m", {{"m", "failed:  "}})
            .toInt(),
        1);
    QCOMPARE(c.scalar("select count(*) from EmailBeingSent where ErrorMsg = 'failed:'").toInt(), 0);
}

void TestConnection::open_whileAnotherProgramWrites()
{
    test::TempProgramFolder folder;
    {
        Connection first;
        first.open(folder.path());
        first.execute("insert into Lists (List) values ('L1')");
    }
    // The sqlite3 shell holds a write transaction until its input ends.
    QProcess shell;
    shell.start("sqlite3", {QDir(folder.path()).filePath(Connection::databaseFileName())});
    QVERIFY(shell.waitForStarted());
    shell.write("BEGIN IMMEDIATE;\ninsert into Lists (List) values ('held');\nselect 'holding';\n");
    QVERIFY(shell.waitForReadyRead(10000));
    QElapsedTimer timer;
    timer.start();
    Connection c;
    c.open(folder.path());
    // Opening reads; it must not wait for the other program's lock.
    QVERIFY2(timer.elapsed() < Connection::DefaultBusyTimeoutMs / 2,
             qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(c.scalar("select count(*) from Lists").toInt(), 1);
    shell.closeWriteChannel();
    QVERIFY(shell.waitForFinished(10000));
}

void TestConnection::fittedBulkInsert_triggerComesBack_data()
{
    QTest::addColumn<bool>("commit");
    QTest::newRow("committed") << true;
    QTest::newRow("rolled back") << false;
}

void TestConnection::fittedBulkInsert_triggerComesBack()
{
    QFETCH(bool, commit);
    test::TempProgramFolder folder;
    Connection c;
    c.open(folder.path());
    const QString triggers =
        "select count(*) from sqlite_master where type = 'trigger' and tbl_name = 'BadEmail'";
    QCOMPARE(c.scalar(triggers).toInt(), 2);
    {
        Transaction t(c);
        t.insertFittedRows("BadEmail");
        QCOMPARE(c.scalar(triggers).toInt(), 1);
        c.execute("insert into BadEmail (EmailMemo) values ('A@B.C')");
        if (commit)
            t.commit();
    }
    QCOMPARE(c.scalar(triggers).toInt(), 2);
    QCOMPARE(c.scalar("select count(*) from BadEmail").toInt(), commit ? 1 : 0);
    // Rows written afterwards are fitted again.
    c.execute("insert into BadEmail (EmailMemo) values (:m)", {{"m", QString(95, 'x') + "  "}});
    QCOMPARE(c.scalar("select max(length(EmailMemo)) from BadEmail").toInt(), 90);
}

void TestConnection::olderDatabase_isBroughtUpToDate_data()
{
    QTest::addColumn<QString>("older"); // statements of an older program's database
    QTest::addColumn<QString>("then");  // run after opening it
    QTest::addColumn<QString>("select");
    QTest::addColumn<QStringList>("rows"); // empty: opening is refused

    QTest::newRow("POP accounts gain the plain-password choice, off; a password keeps its blanks")
        << "CREATE TABLE \"PopAccounts\" (\"EmailAddress\" VARCHAR(50), \"PopServer\" "
           "VARCHAR(50), \"Port\" INTEGER, \"Account\" VARCHAR(50), \"Password\" VARCHAR(50), "
           "\"Default\" BOOLEAN NOT NULL DEFAULT 0); INSERT INTO PopAccounts VALUES ('a@x.test', "
           "'pop.x.test', 110, 'me', 'pw', 1);"
        << "insert into PopAccounts (EmailAddress, Password) values ('b@x.test  ', 'pw  ')"
        << "select * from PopAccounts"
        << QStringList{"a@x.test|pop.x.test|110|me|pw|True|False",
                       "b@x.test|NULL|NULL|NULL|pw  |False|False"};
    QTest::newRow("a new timestamp column is fitted like the others")
        << "CREATE TABLE \"EmailBeingSent\" (\"EmailNo\" INTEGER PRIMARY KEY AUTOINCREMENT, "
           "\"FirstName\" VARCHAR(30), \"LastName\" VARCHAR(30), \"Email\" VARCHAR(60), "
           "\"List\" VARCHAR(20), \"Sent\" BOOLEAN NOT NULL DEFAULT 0, \"ErrorMsg\" TEXT, "
           "\"Error\" BOOLEAN NOT NULL DEFAULT 0, \"Salutation\" VARCHAR(10)); INSERT INTO "
           "EmailBeingSent (Email, List) VALUES ('a@x.test', 'L');"
        << "insert into EmailBeingSent (Email, EmailDate) values ('b@x.test', '12/08/2026 "
           "13:15:33')"
        << "select EmailNo, Email, List, EmailDate from EmailBeingSent"
        << QStringList{"1|a@x.test|L|NULL", "2|b@x.test|NULL|2026-12-08 13:15:33"};
    QTest::newRow("columns in another order: refused, not misread")
        << "CREATE TABLE \"Lists\" (\"Other\" TEXT, \"List\" VARCHAR(20)); INSERT INTO Lists "
           "VALUES ('x', 'L1');"
        << QString() << "select * from Lists" << QStringList();
}

void TestConnection::olderDatabase_isBroughtUpToDate()
{
    QFETCH(QString, older);
    QFETCH(QStringList, rows);
    test::TempProgramFolder folder;
    const QString path = folder.file(Connection::databaseFileName());
    QCOMPARE(QProcess::execute("sqlite3", {path, older + "PRAGMA user_version = 3;"}), 0);
    Connection c;
    if (rows.isEmpty()) {
        QVERIFY_THROWS_EXCEPTION(DbError, c.open(folder.path()));
        QProcess shell;
        shell.start("sqlite3", {path, "PRAGMA user_version; select * from Lists;"});
        QVERIFY(shell.waitForFinished(10000));
        QCOMPARE(shell.readAllStandardOutput(), QByteArray("3\nx|L1\n"));
        return;
    }
    c.open(folder.path());
    QFETCH(QString, then);
    c.execute(then);
    QFETCH(QString, select);
    const ResultSet result = c.select(select);
    QTEST(test::rowsOf(result), "rows");
    if (select == "select * from PopAccounts")
        QCOMPARE(result.columns, table("PopAccounts")->fieldNames());
    // Opened again, nothing more changes.
    c.close();
    Connection again;
    again.open(folder.path());
    QTEST(test::rowsOf(again.select(select)), "rows");
}

QTEST_GUILESS_MAIN(TestConnection)
#include "tst_connection.moc"

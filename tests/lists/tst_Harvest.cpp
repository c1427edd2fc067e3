#include "DataSet.h"
#include "QueryPlan.h"
#include "TempProgramFolder.h"
#include "TestClock.h"
#include "data/Database.h"
#include "lists/EmailUtils.h"
#include "lists/HarvestFile.h"

#include <QFile>
#include <sqlite3.h>
#include <QtTest>

using namespace bv;
using namespace bv::data;
using namespace bv::lists;

namespace {

QStringList rows(Connection& c, const QString& sql)
{
    QStringList out = test::rowsOf(c.select(sql));
    out.sort();
    return out;
}

void addRecipient(Connection& c, const QString& first, const QString& email, const QString& list)
{
    c.execute("insert into RecipientList (FirstName,LastName,Email,List,Salutation,SendTo) values "
              "(:f,'Last',:e,:l,'Mr.',True)",
              {{"f", first}, {"e", email}, {"l", list}});
}

class CountingClock : public test::TestClock
{
public:
    void processEvents() override { ++handled; }
    int handled = 0;
};

} // namespace

class TestHarvest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void uniqueHarvest_data();
    void uniqueHarvest();
    void uniqueHarvest_unreadableFile_keepsLastHarvest();
    void eventThrottle_handlesEventsAtItsRate();

    void collect_data();
    void collect();
    void exclude_data();
    void exclude();
    void exclude_copyFails_removesNoRecipient();
    void upperIndexes_existingDatabaseGetsThem();
    void statements_lookUpByIndex_data();
    void statements_lookUpByIndex();

private:
    std::unique_ptr<test::TempProgramFolder> m_home;
    std::unique_ptr<Connection> m_c;
};

void TestHarvest::init()
{
    m_home = std::make_unique<test::TempProgramFolder>();
    m_c = std::make_unique<Connection>("AdsConnection1");
    m_c->open(m_home->path());
    test::fillSmallDataSet(*m_c);
    addRecipient(*m_c, "Jörg", "jörg@müller.de", "Müller's");
    addRecipient(*m_c, "Hal", "ann@x.com", "L2");
}

void TestHarvest::cleanup()
{
    m_c.reset();
    m_home.reset();
}

void TestHarvest::uniqueHarvest_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("ignore");
    QTest::addColumn<QStringList>("badEmail");

    QTest::newRow("same address in two cases once")
        << QByteArray("From: a@b.c\r\nTo: A@B.C, x@y.z\r\n") << QStringList{}
        << QStringList{"A@B.C|", "X@Y.Z|"};
    QTest::newRow("ignored address never recorded")
        << QByteArray("me@x.com wrote to a@b.c\nMe@X.com") << QStringList{"ME@X.COM"}
        << QStringList{"A@B.C|"};
    QTest::newRow("no address") << QByteArray("nothing\n\n@\n") << QStringList{} << QStringList{};
    QTest::newRow("UTF-8 letters kept, ASCII upper-cased")
        << QByteArray("j\xC3\xB6rg@m\xC3\xBCller.de") << QStringList{}
        << QStringList{"JöRG@MüLLER.DE|"};
    QTest::newRow("8-bit file read as code page 1252")
        << QByteArray("j\xF6rg@m\xFCller.de \x8a\x9a@x.de") << QStringList{}
        << QStringList{"JöRG@MüLLER.DE|", "Šš@X.DE|"};
    QTest::newRow("signs that statements must carry safely")
        << QByteArray("a%_`{x}|?#$!@b.c ~^*@b.c") << QStringList{}
        << QStringList{"A%_`{X}|?#$!@B.C|", "~^*@B.C|"};
    // Cut to the field's 90 characters, two such addresses are one row.
    QTest::newRow("longer than the field")
        << QByteArray(QByteArray(100, 'a') + "@b.c " + QByteArray(100, 'a') + "@b.d") << QStringList{}
        << QStringList{QString(90, 'A') + "|"};
}

void TestHarvest::uniqueHarvest()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, ignore);
    QFETCH(QStringList, badEmail);
    m_c->execute("insert into BadEmail (EmailMemo, List) values ('OLD@ROW.X', 'L1')");
    const QString path = m_home->file("mailbox.mbx");
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();

    QList<QPair<qsizetype, qsizetype>> steps;
    const int count = HarvestUniqueAddresses(*m_c, path, ignore, [&](qsizetype i, qsizetype n) {
        steps.append({i, n});
    });
    QCOMPARE(rows(*m_c, "select EmailMemo, coalesce(List, '') from BadEmail"), badEmail);
    QCOMPARE(count, badEmail.size());
    QCOMPARE(uniqueAddressesMessage(count),
             QString("Email File Processed. %1 Unique Addresses Found.").arg(badEmail.size()));
    // One step before each line, counted from 0 out of the number of lines.
    const qsizetype lines = countLines(file);
    QCOMPARE(steps.size(), lines);
    for (qsizetype i = 0; i < lines; ++i)
        QCOMPARE(steps[i], qMakePair(i, lines));
}

void TestHarvest::uniqueHarvest_unreadableFile_keepsLastHarvest()
{
    m_c->execute("insert into BadEmail (EmailMemo) values ('OLD@ROW.X')");
    try {
        HarvestUniqueAddresses(*m_c, m_home->file("missing.mbx"), {});
        QFAIL("no error");
    } catch (const HarvestError& e) {
        QVERIFY(!e.message().isEmpty());
    }
    QCOMPARE(m_c->scalar("select EmailMemo from BadEmail").toString(), QString("OLD@ROW.X"));
    QCOMPARE(m_c->scalar("select count(*) from BadEmail").toInt(), 1);
}

void TestHarvest::eventThrottle_handlesEventsAtItsRate()
{
    CountingClock clock;
    EventThrottle throttle(clock, 50);
    for (int i = 0; i < 1000; ++i) {
        throttle.tick();
        clock.advance(1);
    }
    QCOMPARE(clock.handled, 19); // at 50, 100, ... 950 ms
}

void TestHarvest::collect_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("ignore");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QStringList>("badEmail");

    const QStringList mail{"From: ANN@x.com", "To: gus@Z.com, nobody@nowhere.org", "", "ann@x.com"};
    QTest::newRow("empty name: every list, each case as stored")
        << "" << QStringList{} << mail
        << QStringList{"ANN@X.COM|L1", "ann@x.com|L1", "ann@x.com|L2", "gus@z.com|L2"};
    QTest::newRow("named list only, ignoring its case")
        << "l2" << QStringList{} << mail << QStringList{"ann@x.com|L2", "gus@z.com|L2"};
    QTest::newRow("ignored address never collected")
        << "" << QStringList{"ANN@X.COM"} << mail << QStringList{"gus@z.com|L2"};
    QTest::newRow("quotes in the list name")
        << "O'Neil's" << QStringList{} << QStringList{"dee@Y.com ann@x.com"}
        << QStringList{"dee@y.com|O'Neil's"};
    QTest::newRow("a list name cannot widen the match")
        << "x') or ('1'='1" << QStringList{} << mail << QStringList{};
    QTest::newRow("non-ASCII letters match only as they are")
        << "Müller's" << QStringList{} << QStringList{"JöRG@MüLLER.DE", "JÖRG@MÜLLER.DE"}
        << QStringList{"jörg@müller.de|Müller's"};
    QTest::newRow("non-ASCII letters in another case do not")
        << "" << QStringList{} << QStringList{"JÖRG@MÜLLER.DE"} << QStringList{};
}

void TestHarvest::collect()
{
    QFETCH(QString, list);
    QFETCH(QStringList, ignore);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, badEmail);
    m_c->execute("insert into BadEmail (EmailMemo, List) values ('OLD@ROW.X', 'L1')");

    TExclude x(m_home->path());
    QList<QPair<int, int>> status;
    x.OnStatus = [&](int pos, int max) { status.append({pos, max}); };
    x.CollectAddresses(list, ignore, lines);

    QCOMPARE(rows(*m_c, "select EmailMemo, List from BadEmail"), badEmail);
    QCOMPARE(status.size(), lines.size());
    for (int i = 0; i < status.size(); ++i)
        QCOMPARE(status[i], qMakePair(i, int(lines.size())));
}

void TestHarvest::exclude_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("mail");
    QTest::addColumn<int>("newExclusions");
    QTest::addColumn<int>("deletedRecipients");
    QTest::addColumn<QStringList>("added");   // exclusion rows added
    QTest::addColumn<QStringList>("removed"); // recipients removed

    QTest::newRow("already excluded: removed, not added")
        << "L1" << "bob@x.com" << 0 << 1 << QStringList{} << QStringList{"Bob|bob@x.com|L1"};
    QTest::newRow("excluded in another case: removed, not added")
        << "" << "dee@y.com" << 0 << 1 << QStringList{} << QStringList{"Dee|dee@y.com|O'Neil's"};
    // ann@x.com and ANN@X.COM are two BadEmail rows of L1: still one copy and
    // one count per recipient.
    QTest::newRow("each recipient copied and counted once")
        << "L1" << "Ann@x.com" << 4 << 4
        << QStringList{"Ann|Smith|ann@x.com|L1|Ms.|True", "Ann|Smithers|ann@x.com|L1|Mrs.|True",
                       "Ed|Park|ann@x.com|L1||True", "Fay|Kim|ANN@X.COM|L1|Ms.|True"}
        << QStringList{"Ann|ann@x.com|L1", "Ann|ann@x.com|L1", "Ed|ann@x.com|L1", "Fay|ANN@X.COM|L1"};
    QTest::newRow("other lists stay")
        << "L2" << "ann@x.com cy@x.com" << 1 << 1 << QStringList{"Hal|Last|ann@x.com|L2|Mr.|True"}
        << QStringList{"Hal|ann@x.com|L2"};
    QTest::newRow("non-ASCII list and address")
        << "Müller's" << "jörg@MÜLLER.de Jörg@müller.DE" << 1 << 1
        << QStringList{"Jörg|Last|jörg@müller.de|Müller's|Mr.|True"}
        << QStringList{"Jörg|jörg@müller.de|Müller's"};
    QTest::newRow("nothing collected") << "" << "x@nowhere.org" << 0 << 0 << QStringList{} << QStringList{};
}

void TestHarvest::exclude()
{
    QFETCH(QString, list);
    QFETCH(QString, mail);
    QFETCH(int, newExclusions);
    QFETCH(int, deletedRecipients);
    QFETCH(QStringList, added);
    QFETCH(QStringList, removed);
    const QString recipients = "select FirstName, Email, List from RecipientList";
    const QString exclusions = "select * from ExclusionList";
    const QStringList recipientsBefore = rows(*m_c, recipients);
    const QStringList exclusionsBefore = rows(*m_c, exclusions);

    TExclude x(m_home->path());
    x.CollectAddresses(list, {}, {mail});
    QList<int> status;
    x.OnStatus = [&](int pos, int max) {
        QCOMPARE(max, 200);
        status << pos;
    };
    x.ExcludeCollected();

    QCOMPARE(x.NewExclusions, newExclusions);
    QCOMPARE(x.DeletedRecipients, deletedRecipients);
    QStringList exclusionsAfter = exclusionsBefore + added;
    exclusionsAfter.sort();
    QCOMPARE(rows(*m_c, exclusions), exclusionsAfter);
    QStringList recipientsAfter = recipientsBefore;
    for (const QString& r : removed)
        QVERIFY2(recipientsAfter.removeOne(r), qPrintable(r));
    QCOMPARE(rows(*m_c, recipients), recipientsAfter);

    // 0 first, the engine's percentages rising, 200 last.
    QVERIFY(status.size() >= 3);
    QCOMPARE(status.first(), 0);
    QCOMPARE(status.last(), 200);
    for (int i = 1; i + 1 < status.size(); ++i) {
        QVERIFY(status[i] >= status[i - 1]);
        QVERIFY(status[i] <= 100);
    }
    QCOMPARE(status[status.size() - 2], 100);
}

void TestHarvest::exclude_copyFails_removesNoRecipient()
{
    TExclude x(m_home->path());
    x.CollectAddresses("", {}, {"ann@x.com gus@z.com"});
    QCOMPARE(sqlite3_exec(m_c->handle(),
                          "CREATE TRIGGER refuse BEFORE INSERT ON ExclusionList "
                          "BEGIN SELECT RAISE(ABORT, 'disk full'); END",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    const QStringList before = rows(*m_c, "select * from RecipientList");
    try {
        x.ExcludeCollected();
        QFAIL("no error");
    } catch (const DbError& e) {
        QCOMPARE(e.message(), QString("disk full"));
    }
    QCOMPARE(rows(*m_c, "select * from RecipientList"), before);
}

void TestHarvest::upperIndexes_existingDatabaseGetsThem()
{
    const QString count = "select count(*) from sqlite_master where type = 'index' and sql like '%upper(%'";
    QCOMPARE(m_c->scalar(count).toInt(), 2);
    // A database made before the indexes existed gets them at its next open.
    // Straight to the engine: the dialect would take "index" for the column.
    QCOMPARE(sqlite3_exec(m_c->handle(),
                          "drop index RecipientList_x2; drop index ExclusionList_x2; "
                          "PRAGMA user_version = 1",
                          nullptr, nullptr, nullptr),
             SQLITE_OK);
    QCOMPARE(m_c->scalar(count).toInt(), 0);
    m_c->close();
    m_c->open(m_home->path());
    QCOMPARE(m_c->scalar(count).toInt(), 2);
}

void TestHarvest::statements_lookUpByIndex_data()
{
    QTest::addColumn<QString>("sql");
    const auto ex = TExclude::excludeStatements();
    QTest::newRow("collect, every list") << TExclude::collectStatement("");
    QTest::newRow("collect, one list") << TExclude::collectStatement("L1");
    QTest::newRow("count new") << ex.countNew;
    QTest::newRow("copy") << ex.copy;
    QTest::newRow("count deleted") << ex.countDeleted;
    QTest::newRow("remove") << ex.remove;
}

void TestHarvest::statements_lookUpByIndex()
{
    QFETCH(QString, sql);
    test::verifyUpperIndexes(*m_c, sql);
}

QTEST_GUILESS_MAIN(TestHarvest)
#include "tst_Harvest.moc"

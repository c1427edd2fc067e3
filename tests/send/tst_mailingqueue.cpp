#include "DataSet.h"
#include "TempProgramFolder.h"
#include "TestClock.h"
#include "data/Database.h"
#include "data/TableView.h"
#include "send/MailingQueue.h"

#include <QtTest>

using namespace bv;
using namespace bv::send;

namespace {

struct QueueFixture
{
    test::TempProgramFolder folder;
    test::TestClock clock{QDateTime(QDate(2026, 12, 9), QTime(9, 30, 5))};
    data::Connection db;
    std::unique_ptr<data::TableView> pending;
    std::unique_ptr<TMailingQueue> queue;
    bool skipAnswer = true;
    int spoolCleared = 0;

    QueueFixture()
    {
        db.open(folder.path());
        test::fillSmallDataSet(db);
        pending = std::make_unique<data::TableView>(db, "EmailBeingSent");
        pending->setFilter(pendingFilter());
        pending->setFiltered(true);
        queue = std::make_unique<TMailingQueue>(
            db, *pending, clock, [this] { return skipAnswer; }, [this] { ++spoolCleared; });
    }
    void choose(const QString& list, bool skip = false, const QString& skipText = QString())
    {
        QueueChoices c;
        c.listName = list;
        c.skipTheFirst = skip;
        c.skipText = skipText;
        c.subject = "Jo's news";
        c.senderText = "Ann O'Hara <ann@example.com>";
        queue->setChoices(c);
    }
    QStringList queued()
    {
        return test::rowsOf(db.select("select FirstName, Email, List, Sent, Error from EmailBeingSent order by EmailNo"));
    }
};

} // namespace

class TestMailingQueue : public QObject
{
    Q_OBJECT
private slots:
    void fill_queuesTheEligibleRecipientsOnce_data();
    void fill_queuesTheEligibleRecipientsOnce();
    void skipTheFirst_data();
    void skipTheFirst();
    void redo_keepsTheQueueAsItIs();
    void runRecord_startAndFinish();
};

void TestMailingQueue::fill_queuesTheEligibleRecipientsOnce_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QStringList>("rows");
    // SendTo false and exact exclusions stay out; a second row with the same
    // address is queued again; an exclusion in other letters does not exclude.
    QTest::newRow("L1") << "L1"
                        << QStringList{"Ann|ann@x.com|L1|False|False", "Ann|ann@x.com|L1|False|False",
                                       "Ed|ann@x.com|L1|False|False", "Fay|ANN@X.COM|L1|False|False"};
    QTest::newRow("quote in the list name") << "O'Neil's" << QStringList{"Dee|dee@y.com|O'Neil's|False|False"};
    QTest::newRow("unknown list") << "none" << QStringList{};
}

void TestMailingQueue::fill_queuesTheEligibleRecipientsOnce()
{
    QFETCH(QString, list);
    QFETCH(QStringList, rows);
    QueueFixture f;
    f.db.execute("insert into EmailBeingSent (Email, List, Sent, Error) values ('old@x.com', 'L1', False, False)");
    f.choose(list);
    QCOMPARE(f.queue->FillQueue(false), QString());
    QCOMPARE(f.queued(), rows);
    QCOMPARE(f.spoolCleared, 1);
    QCOMPARE(f.pending->recordCount(), rows.size());
    QCOMPARE(f.queue->eligibleCount(), rows.size());
    QCOMPARE(f.db.scalar("select count(*) from EmailBeingSent where EmailDate = '2026-12-09 09:30:05'").toInt(),
             rows.size());
}

void TestMailingQueue::skipTheFirst_data()
{
    QTest::addColumn<QString>("skipText");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<QString>("result");
    QTest::addColumn<QString>("firstPending");
    QTest::addColumn<int>("pendingCount");
    const QString all = "You are skipping all of the records than exist in the list you are sending to.";
    const QString more = "You are skipping more records than exist in the list you are sending to.";
    QTest::newRow("4 of 4") << "4" << true << all << "ann@x.com" << 4;
    QTest::newRow("5 of 4") << "5" << true << more << "ann@x.com" << 4;
    QTest::newRow("3 of 4") << "3" << true << "" << "ANN@X.COM" << 1;
    QTest::newRow("not a number") << "abc" << true << "" << "ann@x.com" << 4;
    QTest::newRow("a fraction skips nothing") << "1.5" << true << "" << "ann@x.com" << 4;
    QTest::newRow("negative") << "-2" << true << "" << "ann@x.com" << 4;
    QTest::newRow("answered No") << "3" << false << "" << "ann@x.com" << 4;
}

void TestMailingQueue::skipTheFirst()
{
    QFETCH(QString, skipText);
    QFETCH(bool, answer);
    QFETCH(QString, result);
    QFETCH(QString, firstPending);
    QFETCH(int, pendingCount);
    QueueFixture f;
    f.skipAnswer = answer;
    f.choose("L1", true, skipText);
    QCOMPARE(f.queue->FillQueue(false), result);
    QVERIFY(f.pending->isOpen());
    QCOMPARE(f.pending->recordCount(), pendingCount);
    QCOMPARE(f.pending->value("Email").toString(), firstPending);
}

void TestMailingQueue::redo_keepsTheQueueAsItIs()
{
    QueueFixture f;
    f.choose("L1");
    QCOMPARE(f.queue->FillQueue(false), QString());
    f.db.execute("update EmailBeingSent set Sent = True where FirstName = 'Ann'");
    f.db.execute("update EmailBeingSent set Error = True where FirstName = 'Ed'");
    const QStringList before = f.queued();
    // A redo with "Skip The First" chosen neither asks nor skips.
    f.skipAnswer = false;
    f.choose("L2", true, "1");
    QCOMPARE(f.queue->FillQueue(true), QString());
    QCOMPARE(f.queued(), before);
    QCOMPARE(f.spoolCleared, 1);
    QCOMPARE(f.pending->recordCount(), 1);
    QCOMPARE(f.pending->value("FirstName").toString(), QString("Fay"));
}

void TestMailingQueue::runRecord_startAndFinish()
{
    QueueFixture f;
    f.choose("L1");
    QCOMPARE(f.queue->FillQueue(false), QString());
    f.db.execute("update EmailBeingSent set Sent = True where FirstName = 'Ed'");
    const QString first = f.queue->StartRunRecord("Resend");
    const QString test = f.queue->StartRunRecord("Test");
    QCOMPARE(first, QString("12/09/2026 09:30:05"));
    QCOMPARE(test, first);
    QCOMPARE(test::rowsOf(f.db.select("select StartTime, EndTime, Subject, List, \"From\", ListCount, AttemptCount, "
                                      "Operation, SuccessCount from EmailHistory order by EmailID")),
             QStringList({"2026-12-09 09:30:05|1900-01-01 01:01:01|Jo's news|L1|Ann O'Hara "
                          "<ann@example.com>|4|3|Resend|NULL",
                          "2026-12-09 09:30:05|1900-01-01 01:01:01|Jo's news|L1|Ann O'Hara "
                          "<ann@example.com>|4|1|Test|NULL"}));
    // Two runs begun within the same second share their start text: the
    // finish of either completes both.
    f.clock.advance(61000);
    f.queue->FinishRunRecord(first, 7);
    QCOMPARE(test::rowsOf(f.db.select("select EndTime, SuccessCount from EmailHistory")),
             QStringList({"2026-12-09 09:31:06|7", "2026-12-09 09:31:06|7"}));
}

QTEST_GUILESS_MAIN(TestMailingQueue)
#include "tst_mailingqueue.moc"

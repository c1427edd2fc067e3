#include "ExchangerPeers.h"
#include "TempProgramFolder.h"
#include "TestClock.h"
#include "compose/ComposeMessage.h"
#include "compose/MailMessage.h"
#include "data/Database.h"
#include "send/DirectMail.h"

#include <QDir>
#include <QSet>
#include <QtTest>

using namespace bv;
using namespace bv::send;

namespace {

// count queued rows and their spool files "BVC_n_.eml", to r<n>@<domain>.
void spool(data::Connection& db, const QString& folder, const Clock& clock, int count, const QString& domain)
{
    for (int i = 0; i < count; ++i) {
        db.execute(QString("insert into EmailBeingSent (Email, List, Sent, Error) values ('r%1@%2', 'L1', True, "
                           "False)")
                       .arg(i)
                       .arg(domain));
        const QString no = db.scalar("select max(EmailNo) from EmailBeingSent").toString();
        compose::TIpMailMessage m(clock);
        compose::ComposeMessage(m, {"Ann <ann@" + domain + ">", "News", "Hello", ""}, "", "", "");
        m.setMailTo({QString("r%1@%2").arg(i).arg(domain)});
        m.SaveToFile(folder + "BVC_" + no + "_.eml");
    }
}

} // namespace

class TestDirectMail : public QObject
{
    Q_OBJECT
private slots:
    void pass_neverMoreThanFifteenWorkers_eachMessageOnce();
    void clearSpool_onlyTheMaskOfTheLastPass();
};

void TestDirectMail::pass_neverMoreThanFifteenWorkers_eachMessageOnce()
{
    test::Exchanger exchanger;
    QVERIFY2(exchanger.start(test::Exchanger::Accept), qPrintable(exchanger.error()));
    test::Dnsmasq dns;
    QVERIFY2(dns.start({"--mx-host=good.test," + exchanger.address() + ",10"}), qPrintable(dns.error()));
    test::TempProgramFolder home;
    test::TestClock clock;
    data::Connection db;
    db.open(home.path());
    const QString folder = home.file("spool/");
    QVERIFY(QDir().mkpath(folder));
    spool(db, folder, clock, 40, "good.test");

    TDirectMail pool(clock, [&](const QString& path, const TSettings& s) {
        TSpoolDelivery d(db, clock, {s.DNSServer, s.HeloName}, [](const QString&) {});
        return d.DeliverAndRecord(path);
    });
    int maxThreads = 0;
    int maxLocks = 0;
    int completions = 0;
    connect(&pool, &TDirectMail::OnThreadCountChanged, this, [&](int, int threads) {
        maxThreads = qMax(maxThreads, threads);
        maxLocks = qMax(maxLocks, int(QDir(folder).entryList({"*.lock"}, QDir::Files).size()));
    });
    connect(&pool, &TDirectMail::OnComplete, this, [&] { ++completions; });
    QTimer sampler;
    connect(&sampler, &QTimer::timeout, this, [&] {
        maxLocks = qMax(maxLocks, int(QDir(folder).entryList({"*.lock"}, QDir::Files).size()));
    });
    sampler.start(2);
    pool.setFileMask("BVC_*.eml");
    pool.RunDeliveryPass(dns.server(), "sender.test", folder);

    QCOMPARE(completions, 1);
    QCOMPARE(pool.Successes(), 40);
    QCOMPARE(pool.runningCount(), 0);
    QVERIFY2(maxThreads <= TDirectMail::MaxWorkers && maxThreads > 1, qPrintable(QString::number(maxThreads)));
    QVERIFY2(maxLocks <= TDirectMail::MaxWorkers, qPrintable(QString::number(maxLocks)));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList());
    QSet<QString> recipients;
    for (const QJsonObject& e : exchanger.envelopes())
        recipients.insert(e.value("rcpt_tos").toArray().first().toString());
    QCOMPARE(exchanger.envelopes().size(), 40);
    QCOMPARE(recipients.size(), 40);
}

void TestDirectMail::clearSpool_onlyTheMaskOfTheLastPass()
{
    test::TempProgramFolder home;
    test::TestClock clock;
    const QString folder = home.file("spool/");
    QVERIFY(QDir().mkpath(folder));
    for (const char* name : {"BVC_1_.eml", "BVC_1_.eml.lock", "ERR_BVC_2_.eml", "other.txt"}) {
        QFile f(folder + name);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    TDirectMail pool(clock, {});
    // Before any pass nothing is deleted.
    pool.ClearSpool(folder);
    QCOMPARE(QDir(folder).entryList(QDir::Files).size(), 4);
    pool.setFileMask("BVC_*.eml");
    pool.ClearSpool(folder);
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList({"ERR_BVC_2_.eml", "other.txt"}));
}

QTEST_GUILESS_MAIN(TestDirectMail)
#include "tst_directmail.moc"

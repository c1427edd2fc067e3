#include "RunFixture.h"

#include <QProcess>
#include <QRandomGenerator>

#include <signal.h>

using namespace bv;
using bv::test::AiosmtpdServer;

// A run killed at random moments and finished by "Redo" reaches every
// recipient, each once except at most the message in flight at each kill,
// and its queue rows agree with what the server received.
class TestMailingKill : public QObject
{
    Q_OBJECT
private slots:
    void killedRuns_redoFinishesWithoutLosingOrRepeating();
};

void TestMailingKill::killedRuns_redoFinishesWithoutLosingOrRepeating()
{
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    test::TempProgramFolder home;
    {
        test::RunFixture setup(home.path());
        setup.addRecipients(500);
    }
    const QString runner = QCoreApplication::applicationDirPath() + "/mailing_runner";
    QRandomGenerator random(20261209);
    int kills = 0;
    QString mode = "new";
    for (int attempt = 0; attempt < 40; ++attempt) {
        QProcess p;
        p.start(runner, {home.path(), server.server(), mode});
        QVERIFY(p.waitForStarted());
        const bool finished = p.waitForFinished(attempt < 6 ? int(random.bounded(60, 500)) : 120000);
        if (!finished) {
            ::kill(pid_t(p.processId()), SIGKILL);
            QVERIFY(p.waitForFinished());
            ++kills;
        } else {
            QCOMPARE(p.exitCode(), 0);
            const QString out = QString::fromUtf8(p.readAllStandardOutput());
            if (out.contains("All Done"))
                break;
            QVERIFY2(out.contains("Proceed?") || out.contains("No messages to Redo."), qPrintable(out));
            if (out.contains("No messages to Redo.")) {
                data::Connection check;
                check.open(home.path());
                // Killed after the last message: the run was complete.
                if (check.scalar("select count(*) from EmailBeingSent").toInt() > 0)
                    break;
                // Killed before the new queue was written: nothing was sent yet.
                mode = "new";
                continue;
            }
        }
        mode = "redo";
    }
    QVERIFY(kills >= 3);

    data::Connection db;
    db.open(home.path());
    QCOMPARE(db.scalar("select count(*) from EmailBeingSent where Sent = True and Error = False").toInt(), 500);
    QVERIFY(server.waitForMessages(500));
    QMap<QString, int> received;
    for (const auto& m : server.messages())
        for (const QString& to : m.rcptTos)
            ++received[to];
    QCOMPARE(received.size(), 500);
    int repeated = 0;
    for (auto it = received.cbegin(); it != received.cend(); ++it) {
        QVERIFY2(it.value() <= 2, qPrintable(it.key()));
        repeated += it.value() - 1;
    }
    QVERIFY2(repeated <= kills, qPrintable(QString("%1 repeated, %2 kills").arg(repeated).arg(kills)));
}

QTEST_GUILESS_MAIN(TestMailingKill)
#include "tst_mailingkill.moc"

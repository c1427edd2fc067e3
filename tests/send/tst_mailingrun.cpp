#include "DataSet.h"
#include "RunFixture.h"

#include "data/TableView.h"
#include "send/MailingLock.h"
#include "send/SpoolMessage.h"

#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>

using namespace bv;
using namespace bv::send;
using bv::test::AiosmtpdServer;
using bv::test::RunFixture;
using bv::test::ScriptedSmtpServer;

namespace {

QString recipient(int i)
{
    return QStringLiteral("\"F%1 L%1\" <r%1@example.org>").arg(i);
}

QString successLine(int i, int processed)
{
    return recipient(i) + QStringLiteral("  ") + QString::number(processed) + QStringLiteral(" success.");
}

// A port on loopback where nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

} // namespace

class TestMailingRun : public QObject
{
    Q_OBJECT
private slots:
    void formatRecipient_data();
    void formatRecipient();
    void checks_endTheRunBeforeAnythingIsWritten_data();
    void checks_endTheRunBeforeAnythingIsWritten();
    void smtpRun_recordsEveryOutcome();
    void connectErrors_theThirdEndsTheRun_redoFinishesIt();
    void stalledServer_timesOutLikeASocketError();
    void pauseResumeCancel_finishTheCurrentRecipientFirst();
    void testRun_oneMessageToTheTestAddress();
    void newMailing_withPendingRows_asksRedoMsg();
    void sendingError_endsTheRun_rowStaysPending();
    void directMode_spoolsEveryRowAndSkipsInvalidOnes();
    void hostileRecipients_reachOnlyTheirOwnAddress_data();
    void hostileRecipients_reachOnlyTheirOwnAddress();
    void unwritableSpoolFile_failsThatRowAndGoesOn();
    void longPause_answersTheWindow_cancelEndsIt();
    void secondCopy_isRefusedWhileOneSends();
    void passwordInTheClear_failsTheRowAndStopsTheRun_data();
    void passwordInTheClear_failsTheRowAndStopsTheRun();
};

void TestMailingRun::formatRecipient_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("expected");
    QTest::newRow("sal first last") << 0 << "John  " << "\" John Smith\" <js@x.com>";
    QTest::newRow("first last") << 1 << "John  " << "\"John Smith\" <js@x.com>";
    QTest::newRow("last, first") << 2 << "John  " << "\"Smith, John\" <js@x.com>";
    QTest::newRow("first") << 3 << "John  " << "\"John\" <js@x.com>";
    QTest::newRow("last") << 4 << "John  " << "\"Smith\" <js@x.com>";
    QTest::newRow("address as name") << 5 << "John  " << "\"js@x.com\" <js@x.com>";
    QTest::newRow("custom, no quotes") << 6 << "John  " << "Friend of 'X' <js@x.com>";
    QTest::newRow("none chosen") << -1 << "John  " << "";
    QTest::newRow("quote and backslash escaped") << 3 << R"(Jo"hn\)" << R"("Jo\"hn\\" <js@x.com>)";
}

void TestMailingRun::formatRecipient()
{
    QFETCH(int, format);
    QFETCH(QString, first);
    QFETCH(QString, expected);
    // An empty salutation is kept: the name then begins with a blank.
    QCOMPARE(FormatRecipient(format, "Friend of 'X'", "", first, "Smith ", "js@x.com  "), expected);
}

void TestMailingRun::checks_endTheRunBeforeAnythingIsWritten_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("message");
    QTest::newRow("test address") << int(RunKind::Test) << "testAddress"
                                  << "Enter Test Email Address is not a valid email address.";
    QTest::newRow("no list") << int(RunKind::NewMailing) << "list" << "Please select a List to Send To.";
    QTest::newRow("no sender") << int(RunKind::Redo) << "sender" << "Please select a From Address.";
    QTest::newRow("no subject") << int(RunKind::Test) << "subject" << "Please give this email a Subject.";
}

void TestMailingRun::checks_endTheRunBeforeAnythingIsWritten()
{
    QFETCH(int, kind);
    QFETCH(QString, field);
    QFETCH(QString, message);
    RunFixture f;
    f.addRecipients(2);
    if (field == "testAddress")
        f.settings.testAddress = "Enter Test Email Address";
    f.settings.listPicked = field != "list";
    f.settings.senderPicked = field != "sender";
    if (field == "subject")
        f.settings.subject.clear();
    f.run->btnSendClick(RunKind(kind));
    QCOMPARE(f.dialogs.texts(), QStringList{message});
    QCOMPARE(f.db.scalar("select count(*) from EmailHistory").toInt(), 0);
    QCOMPARE(f.db.scalar("select count(*) from EmailBeingSent").toInt(), 0);
    QVERIFY(!QFile::exists(f.home.file("Stats.txt")));
    QVERIFY(!f.run->inProgress());
}

// One run of 21 recipients: delivered messages, a refused recipient, a
// connection dropped during the message text with its error report, and the
// pause after every 20th row.
void TestMailingRun::smtpRun_recordsEveryOutcome()
{
    AiosmtpdServer::Options options;
    options.refusedRecipients = {"r2@example.org"};
    options.dropInDataRecipients = {"r3@example.org"};
    AiosmtpdServer server(options);
    QVERIFY2(server.start(), qPrintable(server.error()));
    RunFixture f;
    f.settings.smtpServer = server.server();
    f.addRecipients(21);
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);

    QCOMPARE(f.dialogs.texts(), QStringList({"About to send 21 emails to Recipients in L1 list. Proceed?",
                                             "All Done - Emails Attempted: 21 messages."}));
    const QStringList rows = f.rows();
    QCOMPARE(rows.size(), 21);
    QCOMPARE(rows.at(0), QString("r1@example.org|T|F|"));
    const QString refusal = recipient(2) + " (Error): -- 5.1.1 <r2@example.org>: Recipient address rejected: "
                                           "User unknown\r\n-- while Sending MailTo info";
    QCOMPARE(rows.at(1), "r2@example.org|F|T|" + refusal);
    QVERIFY2(rows.at(2).startsWith("r3@example.org|F|T|" + recipient(3) + ": "), qPrintable(rows.at(2)));
    const QString dropText = rows.at(2).section('|', 3).mid(recipient(3).size() + 2);
    QVERIFY(!dropText.isEmpty());
    for (int i = 3; i < 21; ++i)
        QCOMPARE(rows.at(i), QString("r%1@example.org|T|F|").arg(i + 1));

    // The guard ran once, for the refused recipient; the 20th row paused.
    QCOMPARE(f.waited("paint", 100), 40);
    QCOMPARE(f.waited("paint", 20000), 1);
    QCOMPARE(f.totalErrors, QString("Total Errors: 2"));

    // The reply keeps its own line end, so the refusal's line breaks before
    // "-- while".
    QStringList log = f.logLines();
    QCOMPARE(log.mid(0, 7), QStringList({successLine(1, 1), refusal.section("\r\n", 0, 0),
                                         refusal.section("\r\n", 1), successLine(2, 2),
                                         recipient(3) + " (Error): " + dropText, successLine(3, 3),
                                         successLine(4, 4)}));
    QCOMPARE(log.size(), 24);
    QCOMPARE(log.last(), successLine(21, 21));

    // 19 messages and the report about r3, to the sender.
    QVERIFY(server.waitForMessages(20));
    const QList<bv::test::ReceivedMail> mails = server.messages();
    QCOMPARE(mails.size(), 20);
    int reports = 0;
    for (const auto& m : mails) {
        QCOMPARE(m.mailFrom, QString("ann@example.com"));
        if (m.rcptTos == QStringList{"ann@example.com"}) {
            ++reports;
            QVERIFY(m.data.contains("Subject: " + recipient(3).toUtf8() + "  Error: " + dropText.toUtf8()));
            QVERIFY(m.data.contains("Original Message had Subject: News\r\n"));
        } else {
            QVERIFY(m.data.contains("\r\nDate: "));
            QVERIFY(m.data.contains("\r\nMessage-ID: <"));
        }
    }
    QCOMPARE(reports, 1);
    QCOMPARE(f.db.scalar("select SuccessCount from EmailHistory").toInt(), 21);
    QVERIFY(f.statusLines.contains("Task Complete*"));
}

void TestMailingRun::connectErrors_theThirdEndsTheRun_redoFinishesIt()
{
    RunFixture f;
    f.addRecipients(4);
    const quint16 port = closedPort();
    f.settings.smtpServer = "127.0.0.1:" + QString::number(port);
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);
    QCOMPARE(f.dialogs.texts().mid(1),
             QStringList({"3 connect errors - quitting. Check your internect connection or your SMTP settings.",
                          "Operation Cancelled."}));
    const QString refused = " -- 10061: Connection refused";
    QCOMPARE(f.rows(), QStringList({"r1@example.org|F|T|" + recipient(1) + refused,
                                    "r2@example.org|F|T|" + recipient(2) + refused,
                                    "r3@example.org|F|T|" + recipient(3) + refused, "r4@example.org|F|F|"}));
    QCOMPARE(f.logLines().first(), recipient(1) + " (Error): -- 10061: Connection refused");
    QCOMPARE(f.statusLines.mid(0, 2),
             QStringList({"A connection error has occured: 10061", QString(16, ' ') + "Connection refused"}));

    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    f.settings.smtpServer = server.server();
    f.dialogs.clear();
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::Redo);
    QCOMPARE(f.dialogs.texts(),
             QStringList({"About to Redo/Reattempt  1 emails to Recipients in L1 list. Proceed?",
                          "All Done - Emails Attempted: 1 messages."}));
    QCOMPARE(f.rows().last(), QString("r4@example.org|T|F|"));
    QVERIFY(server.waitForMessages(1));
    QCOMPARE(server.messages().first().rcptTos, QStringList{"r4@example.org"});
}

// A server that greets and then says nothing: the time limit ends the message
// like a socket error, and the report to the sender meets the same fate.
void TestMailingRun::stalledServer_timesOutLikeASocketError()
{
    ScriptedSmtpServer server(ScriptedSmtpServer::conversation({"220 hello", ScriptedSmtpServer::stall()}));
    QVERIFY2(server.start(), qPrintable(server.error()));
    RunFixture f;
    send::SmtpTimeLimits limits;
    limits.other = limits.greeting = 300;
    f.run->setClientTimeLimits(limits);
    f.settings.smtpServer = server.server();
    f.addRecipients(1);
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);
    const QStringList rows = f.rows();
    QVERIFY2(QRegularExpression("^r1@example.org\\|F\\|T\\|.*: .*[Tt]imed out").match(rows.first()).hasMatch(),
             qPrintable(rows.first()));
    QCOMPARE(server.connections(), 2);
    QCOMPARE(f.totalErrors, QString("Total Errors: 2"));
    QCOMPARE(f.dialogs.lastText(), QString("All Done - Emails Attempted: 1 messages."));
}

void TestMailingRun::pauseResumeCancel_finishTheCurrentRecipientFirst()
{
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    RunFixture f;
    f.settings.smtpServer = server.server();
    f.addRecipients(4);
    int completed = 0;
    f.onStatusLine = [&](const QString& line) {
        if (!line.startsWith("Task Complete"))
            return;
        ++completed;
        // Pause during the first message, resume later; pause during the
        // second, then cancel while paused.
        f.run->btnPauseClick();
        QTimer::singleShot(20, f.run.get(), completed == 1 ? &TMailingRun::btnPauseClick : &TMailingRun::Action3Execute);
    };
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);
    QCOMPARE(f.dialogs.lastText(), QString("Operation Cancelled."));
    QCOMPARE(f.rows(), QStringList({"r1@example.org|T|F|", "r2@example.org|T|F|", "r3@example.org|F|F|",
                                    "r4@example.org|F|F|"}));
    QCOMPARE(f.pauseCaption, QString("Resume"));
    QCOMPARE(f.directCancels, 4);
    QCOMPARE(f.db.scalar("select SuccessCount from EmailHistory").toInt(), 2);

    // Pause during the last message ends the run as paused.
    f.onStatusLine = [&](const QString& line) {
        if (line.startsWith("Task Complete") && f.run->pendingView().recordCount() == 1)
            f.run->btnPauseClick();
    };
    f.dialogs.clear();
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::Redo);
    QCOMPARE(f.dialogs.lastText(), QString("Activity Paused, Press Resume to continue."));
    QCOMPARE(f.rows().mid(2), QStringList({"r3@example.org|T|F|", "r4@example.org|T|F|"}));
}

void TestMailingRun::testRun_oneMessageToTheTestAddress()
{
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    RunFixture f;
    f.settings.smtpServer = server.server();
    f.addRecipients(2);
    f.db.execute("insert into EmailBeingSent (Email, List, Sent, Error) values ('old@x.com', 'L1', True, False)");
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::Test);
    QCOMPARE(f.dialogs.texts(), QStringList({"About to send a TEST email to \"test@example.com\". Proceed?",
                                             "All Done - Emails Attempted: 1 messages."}));
    QCOMPARE(f.rows(), QStringList{"old@x.com|T|F|"});
    QVERIFY(server.waitForMessages(1));
    QCOMPARE(server.messages().first().rcptTos, QStringList{"test@example.com"});
    QVERIFY(server.messages().first().data.contains("Dear Mr. LastName"));
    QCOMPARE(f.logLines(), QStringList{"test@example.com  1 success."});
    QCOMPARE(test::rowsOf(f.db.select("select Operation, AttemptCount, SuccessCount, ListCount from EmailHistory")),
             QStringList{"Test|1|1|2"});
}

void TestMailingRun::newMailing_withPendingRows_asksRedoMsg()
{
    RunFixture f;
    f.addRecipients(2);
    f.db.execute("insert into EmailBeingSent (Email, List, Sent, Error) values ('left@x.com', 'L1', False, False)");
    f.questionAnswers = {false};
    f.run->btnSendClick(RunKind::NewMailing);
    QCOMPARE(f.questionsAsked, QStringList{"RedoMsg"});
    QCOMPARE(f.rows(), QStringList{"left@x.com|F|F|"});
    QCOMPARE(f.db.scalar("select count(*) from EmailHistory").toInt(), 0);

    // Answered Yes, the queue is refilled; declining the confirmation still
    // completes the run record.
    f.questionAnswers = {true};
    f.dialogs.queueAnswer(Answer::No);
    f.run->btnSendClick(RunKind::NewMailing);
    QCOMPARE(f.rows(), QStringList({"r1@example.org|F|F|", "r2@example.org|F|F|"}));
    QCOMPARE(test::rowsOf(f.db.select("select Operation, AttemptCount, SuccessCount from EmailHistory")),
             QStringList{"New Mailing|2|0"});
    QVERIFY(f.db.scalar("select EndTime from EmailHistory").toString().startsWith("2026-12-08"));
}

// A fault that is not the recipient's ends the run; the row keeps its place
// in the queue and says why, and the next attempt starts without that text.
void TestMailingRun::sendingError_endsTheRun_rowStaysPending()
{
    RunFixture f;
    f.addRecipients(2);
    f.settings.smtpServer.clear();
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);
    const QString why = "Destination address required";
    QCOMPARE(f.dialogs.lastText(), sendingErrorText(why));
    QCOMPARE(f.rows(), QStringList({"r1@example.org|F|F|" + recipient(1) + ": " + why, "r2@example.org|F|F|"}));
    QCOMPARE(f.activities.last(), "Sending stopped: " + why);
    QCOMPARE(f.logLines(), QStringList{recipient(1) + " (Error): " + why});
    QCOMPARE(f.db.scalar("select SuccessCount from EmailHistory").toInt(), 0);
    QVERIFY(!f.run->inProgress());

    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    f.settings.smtpServer = server.server();
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::Redo);
    QCOMPARE(f.rows(), QStringList({"r1@example.org|T|F|", "r2@example.org|T|F|"}));
}

// Direct mode writes every row to the spool and records it sent; rows with
// invalid addresses are skipped before the first message; the pause after
// every 200th row applies in this mode too, the one after every 20th does not.
void TestMailingRun::directMode_spoolsEveryRowAndSkipsInvalidOnes()
{
    RunFixture f;
    f.addRecipients(201);
    f.db.execute("update RecipientList set Email = 'not an address' where FirstName in ('F1', 'F2')");
    f.settings.direct = true;
    const QString spool = f.home.file("spool/");
    QVERIFY(QDir().mkpath(spool));
    f.settings.emailPath = spool;
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);
    QCOMPARE(f.activities.at(1), QString("Saving Email 2 of 201"));
    QCOMPARE(f.sendDirectCalls, 1);
    const QStringList rows = f.rows("EmailNo, Sent, Error, ErrorMsg");
    QCOMPARE(rows.at(0), QString("1|F|T|Skipped due to Invalid Email Address."));
    QCOMPARE(rows.at(1), QString("2|F|T|Skipped due to Invalid Email Address."));
    QCOMPARE(rows.at(2), QString("3|T|F|"));
    QCOMPARE(QDir(spool).entryList(QDir::Files).size(), 199);
    QVERIFY(QFile::exists(spool + "BVC_201_.eml"));
    // The window answers during the pause: 100 s of waits that handle events.
    QCOMPARE(f.waitedInAll("events"), 100000);
    QCOMPARE(f.waited("paint", 20000), 0);
    QCOMPARE(f.count, QString("Saved: 201 of 201"));
    QCOMPARE(f.run->attemptedCount(), 199);
    QCOMPARE(f.db.scalar("select SuccessCount from EmailHistory").toInt(), 201);
}

void TestMailingRun::hostileRecipients_reachOnlyTheirOwnAddress_data()
{
    QTest::addColumn<bool>("direct");
    QTest::newRow("SMTP") << false;
    QTest::newRow("spool file") << true;
}

// Names that close the quotes or look like addresses, and an address with a
// line break: each message goes to its row's address or nowhere, and the run
// goes on.
void TestMailingRun::hostileRecipients_reachOnlyTheirOwnAddress()
{
    QFETCH(bool, direct);
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    RunFixture f;
    f.settings.smtpServer = server.server();
    f.settings.direct = direct;
    f.settings.emailPath = f.home.file("spool/");
    QVERIFY(QDir().mkpath(f.settings.emailPath));
    f.addRecipients(5);
    f.db.execute(R"(update RecipientList set FirstName = 'a"<e@evil.test>' where FirstName = 'F1')");
    f.db.execute("update RecipientList set FirstName = '<b>bold</b>' where FirstName = 'F2'");
    f.db.execute(R"(update RecipientList set FirstName = 'x\' where FirstName = 'F3')");
    f.db.execute("update RecipientList set Email = 'r4@example.org' || char(13) || char(10) || 'RSET' "
                 "where FirstName = 'F4'");
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);

    QCOMPARE(f.dialogs.texts().mid(1), direct ? QStringList() : QStringList{"All Done - Emails Attempted: 4 messages."});
    const QStringList rows = f.rows("Sent, Error, ErrorMsg");
    QCOMPARE(rows, QStringList({"T|F|", "T|F|", "T|F|", "F|T|Skipped due to Invalid Email Address.", "T|F|"}));
    const QStringList to = {R"(To: "a\"<e@evil.test> L1" <r1@example.org>)", R"(To: "<b>bold</b> L2" <r2@example.org>)",
                            R"(To: "x\\ L3" <r3@example.org>)", R"(To: "F5 L5" <r5@example.org>)"};
    const QStringList addresses = {"r1@example.org", "r2@example.org", "r3@example.org", "r5@example.org"};
    if (direct) {
        for (int i = 0; i < 4; ++i) {
            const QString path = f.settings.emailPath + QString("BVC_%1_.eml").arg(i < 3 ? i + 1 : 5);
            QString error;
            const auto spooled = SpoolMessage::read(path, &error);
            QVERIFY2(spooled, qPrintable(error));
            QCOMPARE(spooled->recipientAddresses(), QStringList{addresses[i]});
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY2(file.readAll().contains(to[i].toUtf8() + "\r\n"), qPrintable(to[i]));
        }
        return;
    }
    QVERIFY(server.waitForMessages(4));
    const QList<bv::test::ReceivedMail> mails = server.messages();
    QCOMPARE(mails.size(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(mails[i].rcptTos, QStringList{addresses[i]});
        QVERIFY2(mails[i].data.contains(to[i].toUtf8() + "\r\n"), mails[i].data.constData());
    }
}

// A message of one recipient that cannot be handed over fails that row with
// the reason; the next recipient is sent as usual.
void TestMailingRun::unwritableSpoolFile_failsThatRowAndGoesOn()
{
    RunFixture f;
    f.settings.direct = true;
    f.settings.emailPath = f.home.file("spool/");
    QVERIFY(QDir().mkpath(f.settings.emailPath + "BVC_2_.eml"));
    f.addRecipients(3);
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);

    QCOMPARE(f.sendDirectCalls, 1);
    const QStringList rows = f.rows("Sent, Error, ErrorMsg");
    QCOMPARE(rows.at(0), QString("T|F|"));
    QCOMPARE(rows.at(2), QString("T|F|"));
    const QString prefix = "F|T|" + recipient(2) + ": ";
    QVERIFY2(rows.at(1).startsWith(prefix) && rows.at(1).contains("BVC_2_.eml"), qPrintable(rows.at(1)));
    const QString reason = rows.at(1).mid(prefix.size());
    QVERIFY(f.activities.contains("Not sent to " + recipient(2) + ": " + reason));
    QCOMPARE(f.logLines().mid(1, 2), QStringList({recipient(2) + " (Error): " + reason, successLine(2, 2)}));
    QCOMPARE(f.totalErrors, QString("Total Errors: 1"));
}

// The pause after every 200th row handles the window's events, and Cancel
// ends it at once instead of after 100 s.
void TestMailingRun::longPause_answersTheWindow_cancelEndsIt()
{
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    RunFixture f;
    f.settings.smtpServer = server.server();
    f.addRecipients(201);
    // Rows 2 to 200 are skipped, so the first message brings the count to 200.
    f.db.execute("update RecipientList set Email = 'invalid' where FirstName not in ('F1', 'F201')");
    f.clock.setProcessRealEvents(true);
    f.onStatusLine = [&](const QString& line) {
        if (line.startsWith("Task Complete"))
            QTimer::singleShot(0, f.run.get(), &TMailingRun::Action3Execute);
    };
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);

    QCOMPARE(f.dialogs.lastText(), QString("Operation Cancelled."));
    QCOMPARE(f.rows().first(), QString("r1@example.org|T|F|"));
    QCOMPARE(f.rows().last(), QString("r201@example.org|F|F|"));
    QVERIFY2(f.waitedInAll("events") <= 250, qPrintable(QString::number(f.waitedInAll("events"))));
    QCOMPARE(f.waitedInAll("paint"), 0);
}

// A second copy (here a second run on the same program folder) may not send
// while the first one does; a real second process is refused as well.
void TestMailingRun::secondCopy_isRefusedWhileOneSends()
{
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    RunFixture first;
    first.settings.smtpServer = server.server();
    first.addRecipients(2);
    RunFixture second(first.folder);
    second.settings.smtpServer = server.server();
    const QString refusal = "Another copy of Brevicast is sending from this program folder ("
                            + QDir::cleanPath(first.folder) + "). Wait until its mailing has ended, then try again.";
    first.onStatusLine = [&](const QString& line) {
        if (!line.startsWith("Task Complete") || !second.dialogs.texts().isEmpty())
            return;
        for (RunKind kind : {RunKind::NewMailing, RunKind::Redo, RunKind::Test})
            second.run->btnSendClick(kind);
    };
    first.dialogs.queueAnswer(Answer::Yes);
    first.run->btnSendClick(RunKind::NewMailing);
    QCOMPARE(second.dialogs.texts(), QStringList({refusal, refusal, refusal}));
    QCOMPARE(first.dialogs.lastText(), QString("All Done - Emails Attempted: 2 messages."));
    QCOMPARE(first.rows(), QStringList({"r1@example.org|T|F|", "r2@example.org|T|F|"}));

    // Free again once the run is over.
    second.dialogs.clear();
    second.run->btnSendClick(RunKind::Redo);
    QCOMPARE(second.dialogs.texts(), QStringList{"No messages to Redo."});

    send::MailingLock held(first.folder);
    QVERIFY(held.tryLock(nullptr));
    QProcess runner;
    runner.start(QCoreApplication::applicationDirPath() + "/mailing_runner",
                 {first.folder, server.server(), "redo"});
    QVERIFY(runner.waitForFinished(60000));
    QCOMPARE(QString::fromUtf8(runner.readAllStandardOutput()).trimmed(), refusal);
}

void TestMailingRun::passwordInTheClear_failsTheRowAndStopsTheRun_data()
{
    QTest::addColumn<bool>("allowPlain");
    QTest::newRow("not allowed") << false;
    QTest::newRow("allowed") << true;
}

// A distant server that offers no encryption never gets the password unless
// the user allows it; the first row fails with the reason and the run stops
// there rather than fail every row the same way.
void TestMailingRun::passwordInTheClear_failsTheRowAndStopsTheRun()
{
    QFETCH(bool, allowPlain);
    AiosmtpdServer::Options options;
    options.auth = AiosmtpdServer::Auth::LoginAndPlain;
    AiosmtpdServer server(options);
    QVERIFY2(server.start(), qPrintable(server.error()));
    RunFixture f;
    f.distantServer = true;
    f.settings.smtpServer = server.server();
    f.settings.auth = true;
    f.settings.user = "user";
    f.settings.password = "secret";
    f.settings.allowPlainPassword = allowPlain;
    f.addRecipients(2);
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);

    if (allowPlain) {
        QCOMPARE(f.rows(), QStringList({"r1@example.org|T|F|", "r2@example.org|T|F|"}));
        QCOMPARE(server.authAttempts().size(), 2);
        return;
    }
    const QString why = passwordWithheldText("127.0.0.1");
    QCOMPARE(f.dialogs.texts().mid(1), QStringList({why, "Operation Cancelled."}));
    QCOMPARE(f.rows(), QStringList({"r1@example.org|F|T|" + recipient(1) + ": " + why, "r2@example.org|F|F|"}));
    QVERIFY(server.authAttempts().isEmpty());
    QCOMPARE(server.messageCount(), 0);
}

QTEST_GUILESS_MAIN(TestMailingRun)
#include "tst_mailingrun.moc"

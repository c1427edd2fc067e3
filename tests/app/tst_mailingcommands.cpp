#include "MainWindowFixture.h"
#include "DataSet.h"
#include "ExchangerPeers.h"
#include "HostileText.h"
#include "SmtpPeers.h"

#include "app/BrevicastMainUi.h"
#include "app/DirectMailFrame.h"
#include "app/MailingCommands.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QJsonObject>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>

using namespace bv;
using bv::test::AiosmtpdServer;

namespace {

// Three recipients in list L1, one sender, a subject: ready to send.
void prepare(test::MainWindowFixture& f, const QString& server)
{
    for (int i = 1; i <= 3; ++i)
        f.dataModule->AdsConnection1.execute(
            QString("insert into RecipientList (FirstName, LastName, Email, List, Salutation, SendTo) values "
                    "('F%1', 'L%1', 'r%1@example.org', 'L1', 'Mr.', True)")
                .arg(i));
    f.dataModule->AdsConnection1.execute("insert into Lists (List) values ('L1')");
    QFile accounts(f.home.file("Accounts.txt"));
    QVERIFY(accounts.open(QIODevice::WriteOnly));
    accounts.write("Ann Sender\r\nann@example.com\r\n");
    accounts.close();
    app::TfrmBrevicastMain& w = *f.window;
    w.loadListNames();
    w.loadSenderNames();
    w.cbCurrentList->setCurrentIndex(0);
    w.cbFromEmail->setCurrentIndex(0);
    w.cbEmailSubject->setEditText("Hello");
    w.cbRecipientEmailFormat->setCurrentIndex(1);
    w.memTextMessage->setPlainText("Dear {{-firstname-}}");
    w.txtSMTPServer->setText(server);
    w.cbxSMTP->setChecked(true);
    w.cbxAuth->setChecked(false);
    w.fraDirectMail1->cbxDirect->setChecked(false);
    w.txtTestEmail->setEditText("me@example.com");
}

} // namespace

class TestMailingCommands : public QObject
{
    Q_OBJECT
private slots:
    void send_showsItsProgressInTheStatusArea();
    void exitDuringARun_closesAfterTheCurrentRecipient();
    void directMode_deliversAndSendsTheErrorReports();
    void directMode_emptyFolder_spoolsInTheProgramFolder();
    void outsideText_showsAsWritten_data() { test::addHostileTextRows(); }
    void outsideText_showsAsWritten();
};

void TestMailingCommands::send_showsItsProgressInTheStatusArea()
{
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    test::MainWindowFixture f;
    QVERIFY(f.start());
    prepare(f, server.server());
    app::TfrmBrevicastMain& w = *f.window;
    f.dialogs.queueAnswer(Answer::Yes);
    w.Action1->trigger();

    QCOMPARE(f.dialogs.texts(), QStringList({"About to send 3 emails to Recipients in L1 list. Proceed?",
                                             "All Done - Emails Attempted: 3 messages."}));
    QCOMPARE(w.PageControl2->currentWidget(), w.TabSheet3);
    QCOMPARE(w.lblCount->text(), QString("Finished processing: 3 of 3"));
    QCOMPARE(w.lblTotalErrors->text(), QString("Total Errors: 0"));
    QCOMPARE(w.lblLastError->text(), QString("None"));
    QCOMPARE(w.lblCurrentEmail->text(), QString("\"F3 L3\" <r3@example.org>"));
    QCOMPARE(w.memStatus->toPlainText(), QString("Task Complete*\nTask Complete**\nTask Complete***"));
    QCOMPARE(w.pbEmailProgress->value(), 0);
    QVERIFY(!w.Action3->isEnabled() && !w.Action4->isEnabled() && w.Action1->isEnabled());
    QCOMPARE(w.txtTestEmail->itemText(0), QString("me@example.com"));
    QVERIFY(server.waitForMessages(3));
    QVERIFY(server.messages().first().data.contains("Dear F1"));
    // The window's client is the last one the run made: idle, no connection.
    QCOMPARE(w.smtpClient().state(), send::ssNoOp);
}

void TestMailingCommands::exitDuringARun_closesAfterTheCurrentRecipient()
{
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    test::MainWindowFixture f;
    QVERIFY(f.start());
    prepare(f, server.server());
    app::TfrmBrevicastMain& w = *f.window;
    f.dialogs.queueAnswer(Answer::Yes);
    QTimer::singleShot(0, &w, [&w] { w.Exit->trigger(); });
    w.Action1->trigger();
    QCOMPARE(f.dialogs.lastText(), QString("Operation Cancelled."));
    QVERIFY(!w.isVisible());
    QVERIFY(QFile::exists(f.home.file("BrevicastSettings.ini")));
    QCOMPARE(f.dataModule->AdsConnection1.scalar("select count(*) from EmailBeingSent where Sent = True").toInt(), 1);
}

// Direct mode: the run spools every message, the first pass delivers them to
// the exchangers of each domain, the second delivers the error reports.
void TestMailingCommands::directMode_deliversAndSendsTheErrorReports()
{
    test::Exchanger good, bad;
    QVERIFY2(good.start(test::Exchanger::Accept), qPrintable(good.error()));
    QVERIFY2(bad.start(test::Exchanger::Refuse), qPrintable(bad.error()));
    test::Dnsmasq dns;
    QVERIFY2(dns.start({"--mx-host=example.org," + good.address() + ",10",
                        "--mx-host=example.com," + good.address() + ",10",
                        "--mx-host=bad.test," + bad.address() + ",10"}),
             qPrintable(dns.error()));
    test::MainWindowFixture f;
    QVERIFY(f.start());
    prepare(f, QString());
    f.dataModule->AdsConnection1.execute("update RecipientList set Email = 'x' || Email where FirstName = 'F2'");
    f.dataModule->AdsConnection1.execute("update RecipientList set Email = 'y@bad.test' where FirstName = 'F3'");
    app::TfrmBrevicastMain& w = *f.window;
    w.cbxSMTP->setChecked(false);
    w.fraDirectMail1->cbxDirect->setChecked(true);
    w.fraDirectMail1->txtDNS->setText(dns.server());
    w.fraDirectMail1->txtEmailPath->setText(f.home.file("spool"));
    QVERIFY(QDir().mkpath(f.home.file("spool")));
    w.cbxErrorsByEmail->setChecked(true);
    f.dialogs.queueAnswer(Answer::Yes);
    w.Action1->trigger();

    QCOMPARE(f.dialogs.texts().mid(1), QStringList{"All Done - Emails Attempted: 3 messages, 1 error messages."});
    QCOMPARE(w.fraDirectMail1->txtEmailPath->text(), f.home.file("spool/"));
    const QStringList rows = test::rowsOf(f.dataModule->AdsConnection1.select(
        "select Email, Sent, Error from EmailBeingSent order by EmailNo"));
    QCOMPARE(rows, QStringList({"r1@example.org|True|False", "xr2@example.org|True|False", "y@bad.test|True|True"}));
    QVERIFY(f.dataModule->AdsConnection1.scalar("select ErrorMsg from EmailBeingSent where Email = 'y@bad.test'")
                .toString()
                .contains("mailbox is unavailable"));
    QCOMPARE(w.lblTotalErrors->text(), QString("Total Errors: 1"));
    QCOMPARE(w.lblSenderActiveThreads->text(), QString("0"));
    // Two messages and the report about y@bad.test, sent to the sender.
    QTRY_COMPARE(good.envelopes().size(), 3);
    QCOMPARE(QDir(f.home.file("spool")).entryList(QDir::Files), QStringList());
}

// On first start the folder field is empty: the spool files go into the
// program folder's own spool folder, made for them, and never into "/".
void TestMailingCommands::directMode_emptyFolder_spoolsInTheProgramFolder()
{
    test::Exchanger good;
    QVERIFY2(good.start(test::Exchanger::Accept), qPrintable(good.error()));
    test::Dnsmasq dns;
    QVERIFY2(dns.start({"--mx-host=example.org," + good.address() + ",10"}), qPrintable(dns.error()));
    test::MainWindowFixture f;
    QVERIFY(f.start());
    prepare(f, QString());
    app::TfrmBrevicastMain& w = *f.window;
    w.cbxSMTP->setChecked(false);
    w.fraDirectMail1->cbxDirect->setChecked(true);
    w.fraDirectMail1->txtDNS->setText(dns.server());
    w.fraDirectMail1->txtEmailPath->clear();
    w.cbxErrorsByEmail->setChecked(false);
    const QStringList rootBefore = QDir("/").entryList({"BVC_*"}, QDir::Files);
    f.dialogs.queueAnswer(Answer::Yes);
    w.Action1->trigger();

    QCOMPARE(f.dialogs.texts().mid(1), QStringList{"All Done - Emails Attempted: 3 messages."});
    QTRY_COMPARE(good.envelopes().size(), 3);
    QVERIFY(QDir(f.home.file("Spool")).exists());
    QCOMPARE(QDir(f.home.file("Spool")).entryList(QDir::Files), QStringList());
    QCOMPARE(QDir("/").entryList({"BVC_*"}, QDir::Files), rootBefore);
    QCOMPARE(w.fraDirectMail1->txtEmailPath->text(), QString());
}

// A recipient's name and a server's refusal reach the status area as the
// characters they hold: read as markup, an image of /dev/zero ended the program.
void TestMailingCommands::outsideText_showsAsWritten()
{
    QFETCH(QString, text);
    AiosmtpdServer::Options options;
    options.dataReply = "550 " + text.left(200);
    AiosmtpdServer server(options);
    QVERIFY2(server.start(), qPrintable(server.error()));
    test::MainWindowFixture f;
    QVERIFY(f.start());
    prepare(f, server.server());
    f.sql("delete from RecipientList where FirstName <> 'F1'");
    f.localConnect.execute("update RecipientList set FirstName = :t", {{"t", text}});
    const QString stored = f.localConnect.scalar("select FirstName from RecipientList").toString();
    app::TfrmBrevicastMain& w = *f.window;
    f.dialogs.queueAnswer(Answer::Yes);
    w.Action1->trigger();
    w.grab();

    // Both name the recipient; the error adds the server's reply.
    const QString recipient = "\"" + stored + " L1\" <r1@example.org>";
    QCOMPARE(test::shownText(w.lblCurrentEmail), recipient);
    QVERIFY2(test::shownText(w.lblLastError).startsWith(recipient + " (Error): "),
             qPrintable(test::shownText(w.lblLastError)));
    QVERIFY(test::shownToolTip(w.lblLastError->toolTip()).startsWith(recipient + " (Error): "));
}

QTEST_MAIN(TestMailingCommands)
#include "tst_mailingcommands.moc"

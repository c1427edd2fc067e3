// A mailing from a domain with signing keys: every route (SMTP server, Test,
// spool files delivered straight to an exchanger, the error reports) carries
// signatures that two independent verifiers accept; a key that cannot be
// used stops the run before its first message.
#include "DkimVerifiers.h"
#include "ExchangerPeers.h"
#include "RunFixture.h"

#include "compose/DkimKeys.h"
#include "send/DeliverSpool.h"

#include <QDir>
#include <QProcess>

using namespace bv;
using namespace bv::send;
using bv::test::AiosmtpdServer;
using bv::test::RunFixture;

namespace {

// Lines the wire changes (dot-stuffing) and lines relaxed canonicalisation
// changes (blanks at the end, empty lines at the end).
struct SignedRunFixture : RunFixture
{
    void composeMessage(compose::TIpMailMessage& message, const QString& salutation,
                        const QString& firstName, const QString& lastName) override
    {
        compose::ComposeMessage(
            message,
            {settings.senderText, settings.subject,
             QStringLiteral("Dear {{-salutation-}} {{-lastname-}},  \r\n.\r\n..two\r\n.start\r\n\r\n\r\n"),
             QStringLiteral("<p>Grüße, {{-firstname-}}</p>\r\n.\r\n")},
            salutation, firstName, lastName);
    }
};

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestSignedMailing : public QObject
{
    Q_OBJECT
private slots:
    void keyedDomain_everyRouteSigns_bothVerifiersPass();
    void unusableKey_stopsTheRunBeforeItsFirstMessage_data();
    void unusableKey_stopsTheRunBeforeItsFirstMessage();
};

void TestSignedMailing::keyedDomain_everyRouteSigns_bothVerifiersPass()
{
    SignedRunFixture f;
    const compose::DkimKeyFile rsa = compose::CreateDkimKey(f.folder, "example.com", "bv202612");
    const QString edPath = compose::DkimFolder(f.folder, "example.com") + "ed1.pem";
    QProcess openssl;
    openssl.start("openssl", {"genpkey", "-algorithm", "ed25519", "-out", edPath});
    QVERIFY(openssl.waitForFinished(30000) && openssl.exitCode() == 0);
    const auto ed = compose::DkimKey::load(edPath);
    test::DkimVerifiers verifiers;
    QVERIFY2(verifiers.start({{"bv202612._domainkey.example.com", rsa.key->txtRecord()},
                              {"ed1._domainkey.example.com", ed->txtRecord()}}),
             qPrintable(verifiers.error()));

    QList<QByteArray> messages;
    QStringList routes;

    // Through the SMTP server, and a Test.
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    f.settings.smtpServer = server.server();
    f.addRecipients(2);
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::Test);
    QVERIFY(server.waitForMessages(3));
    for (const auto& mail : server.messages()) {
        messages << mail.data;
        routes << "SMTP to " + mail.rcptTos.join(',');
    }
    QVERIFY(messages.first().contains("\r\n..two\r\n") && messages.first().contains("X-Mailer: "));

    // Direct: the spool files, and one of them handed to an exchanger.
    test::Exchanger exchanger;
    QVERIFY2(exchanger.start(test::Exchanger::Accept), qPrintable(exchanger.error()));
    test::Dnsmasq dns;
    QVERIFY2(dns.start({"--mx-host=example.org," + exchanger.address() + ",10"}), qPrintable(dns.error()));
    const QString spool = f.home.file("spool/");
    QVERIFY(QDir().mkpath(spool));
    f.settings.direct = true;
    f.settings.emailPath = spool;
    f.db.execute("update RecipientList set Email = 'nobody@nomx.test' where FirstName = 'F2'");
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind::NewMailing);
    QVERIFY(f.run->signer());
    const QStringList spooled = QDir(spool).entryList({"BVC_*.eml"}, QDir::Files, QDir::Name);
    QCOMPARE(spooled.size(), 2);
    for (const QString& name : spooled) {
        messages << readFile(spool + name);
        routes << "spool file " + name;
    }
    TSpoolDelivery delivery(f.db, f.clock, {dns.server(), "brevicast.test", f.run->signer()}, {});
    for (const QString& name : spooled)
        delivery.DeliverSpoolFile(spool + name);
    QCOMPARE(exchanger.messages().size(), 1);
    messages << exchanger.messages().first();
    routes << "exchanger";
    const QStringList reports = QDir(spool).entryList({"ERR_BVC_*.eml"}, QDir::Files);
    QCOMPARE(reports.size(), 1);
    messages << readFile(spool + reports.first());
    routes << "error report " + reports.first();

    const auto verdicts = verifiers.verify(messages);
    QVERIFY2(verdicts.size() == messages.size(), qPrintable(verifiers.error()));
    for (qsizetype i = 0; i < messages.size(); ++i) {
        QVERIFY2(messages[i].startsWith("DKIM-Signature: v=1; a=rsa-sha256;"), qPrintable(routes[i]));
        QVERIFY2(verdicts[i].python == "pass,pass",
                 qPrintable(routes[i] + ": " + verdicts[i].python));
        // Debian's Mail::DKIM knows no Ed25519 and ignores that signature.
        QVERIFY2(verdicts[i].perl.startsWith("pass,invalid(") &&
                     verdicts[i].perl.contains("unsupported algorithm ed25519"),
                 qPrintable(routes[i] + ": " + verdicts[i].perl));
    }
}

void TestSignedMailing::unusableKey_stopsTheRunBeforeItsFirstMessage_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("direct");
    QTest::newRow("new mailing through the SMTP server") << int(RunKind::NewMailing) << false;
    QTest::newRow("test through the SMTP server") << int(RunKind::Test) << false;
    QTest::newRow("new mailing in direct mode") << int(RunKind::NewMailing) << true;
}

void TestSignedMailing::unusableKey_stopsTheRunBeforeItsFirstMessage()
{
    QFETCH(int, kind);
    QFETCH(bool, direct);
    RunFixture f;
    compose::CreateDkimKey(f.folder, "example.com", "good");
    const QString broken = compose::DkimFolder(f.folder, "example.com") + "broken.pem";
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("not a key\n") > 0);
    file.close();
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    f.settings.smtpServer = server.server();
    f.settings.direct = direct;
    const QString spool = f.home.file("spool/");
    QVERIFY(QDir().mkpath(spool));
    f.settings.emailPath = spool;
    f.addRecipients(2);
    f.dialogs.queueAnswer(Answer::Yes);
    f.run->btnSendClick(RunKind(kind));

    const QStringList shown = f.dialogs.texts();
    QCOMPARE(shown.size(), 1);
    QVERIFY2(shown.first().startsWith("The signing key \"" + QDir::toNativeSeparators(broken) +
                                      "\" cannot be used: it holds no private key"),
             qPrintable(shown.first()));
    QVERIFY(shown.first().endsWith("Nothing has been sent."));
    QVERIFY(f.rows().isEmpty());
    QCOMPARE(f.db.scalar("select count(*) from EmailHistory").toInt(), 0);
    QCOMPARE(QDir(spool).entryList(QDir::Files).size(), 0);
    QCOMPARE(f.sendDirectCalls, 0);
    QTest::qWait(200);
    QCOMPARE(server.messageCount(), 0);
}

QTEST_GUILESS_MAIN(TestSignedMailing)
#include "tst_signedmailing.moc"

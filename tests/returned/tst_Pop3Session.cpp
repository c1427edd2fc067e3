#include "data/Database.h"
#include "Fuzz.h"
#include "Pop3Peers.h"
#include "ProgramDatabase.h"
#include "returned/Pop3Reply.h"
#include "returned/Pop3Session.h"

#include <QFile>
#include <QHostAddress>
#include <QTcpSocket>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace bv;
using namespace bv::returned;

namespace {

int logoutCount(const QString& logout, const char* key)
{
    const QRegularExpression re(QLatin1String(key) + QStringLiteral("=(\\d+)"));
    return re.match(logout).captured(1).toInt();
}

} // namespace

class TestPop3Session : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void dovecotCheck_data();
    void dovecotCheck();
    void scriptedFault_data();
    void scriptedFault();
    void password_data();
    void password();
    void cancel_dropsTheConnectionWithoutQuit();
    void reading_givesTheMessageAsSent_data();
    void reading_givesTheMessageAsSent();
    void failureAtThree_closeUndoesDeletions_nothingFetchedTwice();
    void tls_data();
    void tls();
    void messageId_data();
    void messageId();
    void loopback_data();
    void loopback();
    void replies_fuzz();

private:
    // Runs one check to its end; false when it did not end in time.
    bool check(const QString& server, int port = 110);
    bool endSession();
    QStringList storedIds();
    void record(const QStringList& ids);

    std::unique_ptr<test::ProgramDatabase> m_db;
    data::Connection* m_conn = nullptr;
    std::unique_ptr<Pop3Session> m_session;
    QList<QByteArray> m_stored;
    QStringList m_status;
    QStringList m_notices;
    bool m_ok = false;
    QString m_error;
};

void TestPop3Session::init()
{
    m_db = std::make_unique<test::ProgramDatabase>();
    m_conn = &m_db->conn;
    m_stored.clear();
    m_status.clear();
    m_notices.clear();
    m_session = std::make_unique<Pop3Session>(*m_conn, [this](const QByteArray& m) {
        m_stored << m;
        return int(m_stored.size());
    });
    connect(m_session.get(), &Pop3Session::status, this,
            [this](const QString& t) { m_status << t; });
    connect(m_session.get(), &Pop3Session::notice, this,
            [this](const QString& t) { m_notices << t; });
    connect(m_session.get(), &Pop3Session::finished, this, [this](bool ok, const QString& e) {
        m_ok = ok;
        m_error = e;
    });
}

void TestPop3Session::cleanup()
{
    m_session.reset();
    m_db.reset();
}

bool TestPop3Session::check(const QString& server, int port)
{
    QSignalSpy done(m_session.get(), &Pop3Session::finished);
    Pop3Account account{server, port, test::Dovecot::user(), test::Dovecot::password()};
    if (!m_session->checkMail(account))
        return false;
    return done.wait(20000);
}

bool TestPop3Session::endSession()
{
    QSignalSpy done(m_session.get(), &Pop3Session::finished);
    return m_session->endSession() && done.wait(20000);
}

QStringList TestPop3Session::storedIds()
{
    QStringList ids;
    for (const QVariantList& row :
         m_conn->select(QStringLiteral("select MimeMessageID from MessageIDs")).rows)
        ids << row.value(0).toString();
    ids.sort();
    return ids;
}

void TestPop3Session::record(const QStringList& ids)
{
    for (const QString& id : ids)
        m_conn->execute(QStringLiteral("insert into MessageIDs (MimeMessageID) values (:id)"),
                        {{"id", id}});
}

void TestPop3Session::dovecotCheck_data()
{
    QTest::addColumn<QStringList>("mailbox");
    QTest::addColumn<QStringList>("known");
    QTest::addColumn<bool>("leave");
    QTest::addColumn<int>("checks");
    QTest::addColumn<int>("fetched");
    QTest::addColumn<int>("onServer");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<int>("retr"); // of the last session dovecot logged; -1: still connected
    QTest::addColumn<int>("dele");

    const QString postfixId = QStringLiteral("<20260303091502.4F2A81C0392@mx.our-shop.test>");
    const QString eximId = QStringLiteral("<E1vQ2xZ-0003Kc-1f@relay.elsewhere.test>");
    const QString plainId = QStringLiteral("<202603091602.LAA01234@old.test>");
    QTest::newRow("fetched and deleted")
        << QStringList{"postfix-report.eml", "exim-report.eml", "plain-report.eml"} << QStringList()
        << false << 1 << 3 << 0 << QStringList{plainId, postfixId, eximId} << 3 << 3;
    QTest::newRow("left on server: the second check fetches nothing and deletes nothing")
        << QStringList{"postfix-report.eml", "exim-report.eml"} << QStringList() << true << 2 << 2
        << 2 << QStringList{postfixId, eximId} << 0 << 0;
    QTest::newRow("without Message-ID: the second is skipped and stays")
        << QStringList{"no-message-id-1.eml", "no-message-id-2.eml"} << QStringList() << false << 1
        << 1 << 1 << QStringList{QString()} << 1 << 1;
    QTest::newRow("known is not fetched; gone is forgotten, other case counts as seen")
        << QStringList{"postfix-report.eml", "exim-report.eml"}
        << QStringList{"<gone@old.test>", eximId, postfixId.toLower()} << false << 1 << 1 << 1
        << QStringList{postfixId, postfixId.toLower(), eximId} << 1 << 1;
    QTest::newRow("empty server keeps the identifiers and the connection; the next check quits it")
        << QStringList() << QStringList{"<gone@old.test>"} << false << 2 << 0 << 0
        << QStringList{"<gone@old.test>"} << -1 << 0;
}

void TestPop3Session::dovecotCheck()
{
    QFETCH(QStringList, mailbox);
    QFETCH(QStringList, known);
    QFETCH(bool, leave);
    QFETCH(int, checks);

    test::Dovecot server;
    for (const QString& name : mailbox)
        server.addMessage(test::returnedFixture(name));
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    record(known);
    m_session->setLeaveMailOnServer(leave);

    for (int i = 0; i < checks; ++i) {
        m_status.clear();
        QVERIFY(check(server.server()));
        QVERIFY2(m_ok, qPrintable(m_error));
    }
    QTEST(int(m_stored.size()), "fetched");
    QTEST(server.messagesOnServer(), "onServer");
    QFETCH(QStringList, ids);
    ids.sort();
    QCOMPARE(storedIds(), ids);

    QFETCH(int, retr);
    if (retr < 0) {
        QVERIFY(m_session->connected());
        QCOMPARE(m_status.last(), noMessagesText());
        QTRY_COMPARE(server.logouts().size(), checks - 1);
    } else {
        QVERIFY(!m_session->connected());
        // dovecot writes its log line after the connection has gone.
        QTRY_COMPARE(server.logouts().size(), checks);
        const QStringList logouts = server.logouts();
        QCOMPARE(logoutCount(logouts.last(), "retr"), retr);
        QTEST(logoutCount(logouts.last(), "del"), "dele");
        QCOMPARE(m_status.last(), notConnectedText());
        QVERIFY(m_status.contains(QStringLiteral("Connecting to 127.0.0.1.")));
        QVERIFY(m_status.contains(QStringLiteral("Connected")));
        for (int i = 1; i <= mailbox.size(); ++i)
            QVERIFY2(m_status.contains(messageOfText(i, int(mailbox.size()))),
                     qPrintable(m_status.join('|')));
    }
}

void TestPop3Session::scriptedFault_data()
{
    QTest::addColumn<QString>("fault"); // empty: nothing listens
    QTest::addColumn<int>("messages");
    QTest::addColumn<QString>("limits"); // "name=value ..." of the session's limits
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("transcript");
    QTest::addColumn<int>("stored");
    QTest::addColumn<QStringList>("ids");
    QTest::addColumn<QString>("notice"); // pattern

    const QString login = "--|CAPA|USER bounce|PASS secret";
    QTest::newRow("no CAPA: the plain conversation, byte for byte")
        << "capa-err" << 1 << QString() << QString() << login + "|STAT|LIST|TOP 1 0|RETR 1|DELE 1|QUIT"
        << 1 << QStringList{"<1@bounce.test>"} << QString();
    QTest::newRow("-ERR at PASS") << "pass-err" << 3 << QString() << "[AUTH] Authentication failed."
                                  << login << 0 << QStringList() << QString();
    QTest::newRow("-ERR at TOP 2 keeps message 1")
        << "top-err:2" << 3 << QString() << "no such message"
        << login + "|STAT|LIST|TOP 1 0|RETR 1|DELE 1|TOP 2 0" << 1
        << QStringList{"<1@bounce.test>"} << QString();
    QTest::newRow("dropped in the middle of RETR 2")
        << "retr-drop:2" << 3 << QString() << "Socket error 10054: Connection reset by peer (RETR 2)"
        << login + "|STAT|LIST|TOP 1 0|RETR 1|DELE 1|TOP 2 0|RETR 2" << 1
        << QStringList{"<1@bounce.test>"} << QString();
    QTest::newRow("stalled at STAT")
        << "stall:STAT" << 3 << "reply=300"
        << "Socket error 10060: Connection timed out (no answer to STAT within 0.3 s)"
        << login + "|STAT" << 0 << QStringList() << QString();
    QTest::newRow("a byte at a time is no answer for ever")
        << "trickle:STAT" << 3 << "reply=300 command=1200"
        << "Socket error 10060: Connection timed out (the answer to STAT took longer than 1.2 s)"
        << login + "|STAT" << 0 << QStringList() << QString();
    QTest::newRow("endless greeting line")
        << "endless-greeting" << 3 << QString()
        << "The server sent a line longer than 65536 bytes; the connection was closed." << "--" << 0
        << QStringList() << QString();
    QTest::newRow("endless line in RETR")
        << "endless-retr:1" << 3 << "message=65536"
        << "The server sent a line longer than 65536 bytes (RETR 1); the connection was closed."
        << login + "|STAT|LIST|TOP 1 0|RETR 1" << 0 << QStringList() << QString();
    QTest::newRow("endless CAPA")
        << "endless:CAPA" << 3 << "reply-bytes=300000"
        << "The server's answer went on beyond 300000 bytes (CAPA); the connection was closed."
        << "--|CAPA" << 0 << QStringList() << QString();
    QTest::newRow("endless LIST")
        << "endless:LIST" << 3 << "command=1500"
        << "Socket error 10060: Connection timed out (the answer to LIST took longer than 1.5 s)"
        << login + "|STAT|LIST" << 0 << QStringList() << QString();
    QTest::newRow("endless header from TOP")
        << "endless:TOP" << 3 << "reply-bytes=2000000"
        << "The server's answer went on beyond 2000000 bytes (TOP 1 0); the connection was closed."
        << login + "|STAT|LIST|TOP 1 0" << 0 << QStringList() << QString();
    QTest::newRow("STAT claims two billion messages: they are asked for one by one")
        << "huge-stat" << 3 << QString() << "what?"
        << login + "|STAT|LIST|TOP 1 0|RETR 1|DELE 1|TOP 2 0|RETR 2|DELE 2|TOP 3 0|RETR 3|DELE "
                   "3|TOP 4 0"
        << 3 << QStringList{"<1@bounce.test>", "<2@bounce.test>", "<3@bounce.test>"} << QString();
    QTest::newRow("oversized message despite LIST: left, the rest fetched")
        << "big-retr:1" << 3 << "message=65536" << QString()
        << login + "|STAT|LIST|TOP 1 0|RETR 1|TOP 2 0|RETR 2|DELE 2|TOP 3 0|RETR 3|DELE 3|QUIT"
        << 2 << QStringList{"<2@bounce.test>", "<3@bounce.test>"}
        << "^Message 1 \\(\\d{6} bytes\\) is larger than 65536 bytes; it was left on the "
           "server\\.$";
    QTest::newRow("STLS offered but refused: no password sent")
        << "stls-refused" << 3 << QString()
        << "The server offers STLS but refused it (TLS not available here); the password was not "
           "sent unencrypted."
        << "--|CAPA|STLS" << 0 << QStringList() << QString();
    QTest::newRow("connection refused")
        << QString() << 0 << QString() << "Socket error 10061: Connection refused" << QString() << 0
        << QStringList() << QString();
}

void TestPop3Session::scriptedFault()
{
    QFETCH(QString, fault);
    QFETCH(int, messages);
    QFETCH(QString, limits);

    test::ScriptedPop3 server(fault, messages);
    QString where = QStringLiteral("127.0.0.1:1");
    if (!fault.isEmpty()) {
        QString error;
        QVERIFY2(server.start(&error), qPrintable(error));
        where = server.server();
    }
    Pop3TimeLimits times;
    times.reply = 10000;
    Pop3SizeLimits sizes;
    for (const QString& setting : limits.split(' ', Qt::SkipEmptyParts)) {
        const int value = setting.section('=', 1).toInt();
        const QString name = setting.section('=', 0, 0);
        if (name == "reply")
            times.reply = value;
        else if (name == "command")
            times.command = value;
        else if (name == "message")
            sizes.message = value;
        else if (name == "reply-bytes")
            sizes.reply = value;
        else
            QFAIL(qPrintable(setting));
    }
    m_session->setTimeLimits(times);
    m_session->setSizeLimits(sizes);
    QVERIFY(check(where));
    QTEST(m_error, "error");
    QCOMPARE(m_ok, m_error.isEmpty());
    if (!fault.isEmpty())
        QTEST(server.transcript().join('|'), "transcript");
    QTEST(int(m_stored.size()), "stored");
    QTEST(storedIds(), "ids");
    QFETCH(QString, notice);
    if (notice.isEmpty()) {
        QVERIFY2(m_notices.isEmpty(), qPrintable(m_notices.join('|')));
    } else {
        QCOMPARE(m_notices.size(), 1);
        QVERIFY2(QRegularExpression(notice).match(m_notices.first()).hasMatch(),
                 qPrintable(m_notices.first()));
    }
}

void TestPop3Session::password_data()
{
    QTest::addColumn<bool>("remote"); // the loopback server stands in for one elsewhere
    QTest::addColumn<bool>("allow");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("transcript");
    QTest::addColumn<QString>("error");

    const QString fetched = "--|CAPA|USER bounce|PASS secret|STAT|LIST|TOP 1 0|RETR 1|DELE 1|QUIT";
    QTest::newRow("loopback, no encryption: sent") << false << false << "secret" << fetched
                                                   << QString();
    QTest::newRow("elsewhere, no encryption: stopped before the log-in")
        << true << false << "secret" << "--|CAPA" << plainPasswordRefusedText("127.0.0.1");
    QTest::newRow("elsewhere, the account allows it: sent")
        << true << true << "secret" << fetched << QString();
    QTest::newRow("a line break in the password: nothing sent")
        << false << false << "secret\r\nDELE 1" << "--|CAPA"
        << "The log-in name or the password of this account holds a line break, so it was not "
           "sent. Correct it under Setup Accounts.";
}

void TestPop3Session::password()
{
    QFETCH(bool, remote);
    QFETCH(bool, allow);
    QFETCH(QString, password);
    test::ScriptedPop3 server(QStringLiteral("none"), 1);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    m_session->setTrustLoopback(!remote);
    QSignalSpy done(m_session.get(), &Pop3Session::finished);
    QVERIFY(m_session->checkMail({server.server(), 0, test::Dovecot::user(), password, allow}));
    QVERIFY(done.wait(20000));
    QTEST(m_error, "error");
    QTEST(server.transcript().join('|'), "transcript");
}

void TestPop3Session::cancel_dropsTheConnectionWithoutQuit()
{
    test::ScriptedPop3 server(QStringLiteral("stall:TOP 2"), 3);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    QSignalSpy done(m_session.get(), &Pop3Session::finished);
    QVERIFY(m_session->checkMail({server.server(), 0, test::Dovecot::user(), "secret"}));
    QTRY_VERIFY_WITH_TIMEOUT(server.transcript().contains("TOP 2 0"), 20000);
    QVERIFY(m_session->busy());
    m_session->cancel();
    QCOMPARE(done.size(), 1);
    QCOMPARE(m_error, cancelledText());
    QVERIFY(!m_session->busy());
    QVERIFY(!m_session->connected());
    // Message 1 was stored and marked, but without QUIT the server keeps it;
    // its identifier keeps it from being fetched again.
    QVERIFY(check(server.server()));
    QVERIFY2(m_ok, qPrintable(m_error));
    const QStringList transcript = server.transcript();
    QCOMPARE(transcript.mid(transcript.lastIndexOf("--")).join('|'),
             QStringLiteral("--|CAPA|USER bounce|PASS secret|STAT|LIST|TOP 1 0|TOP 2 0|RETR 2|DELE "
                            "2|TOP 3 0|RETR 3|DELE 3|QUIT"));
    QCOMPARE(m_stored.size(), 3);
}

void TestPop3Session::reading_givesTheMessageAsSent_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("headerLimit");  // 0: the default
    QTest::addColumn<QByteArray>("first"); // the first message as stored

    const QByteArray header = "From: MAILER-DAEMON@bounce.test\r\nTo: sender@our.test\r\n"
                              "Subject: Undelivered 1\r\nMessage-ID: <1@bounce.test>\r\n";
    // Dot lines unstuffed, the end line told from a line ".", every line
    // ending in CR LF, however the reply is cut into reads.
    const QByteArray odd = header +
                           "\r\n.leading dot\r\n..two dots\r\n.\r\n.\r\r\nbare LF\r\n"
                           "after it\r\n\r\n" +
                           QByteArray(300, 'y') + "\r\nno line end\r\n";
    QTest::newRow("odd lines, a byte a read") << "odd-lines:1" << 0 << odd;
    QTest::newRow("odd lines, seven bytes a read") << "odd-lines:7" << 0 << odd;
    QTest::newRow("odd lines, in one piece") << "odd-lines:100000" << 0 << odd;
    QByteArray pad = "X-Pad: " + QByteArray(60, 'p') + "\r\n\t" + QByteArray(60, 'p') + "\r\n";
    for (int i = 0; i < 72; ++i)
        pad += "X-Pad-" + QByteArray::number(i) + ": " + QByteArray(60, 'p') + "\r\n";
    QTest::newRow("header beyond what TOP keeps: the Message-ID still counts")
        << "big-top:1" << 1024 << header + pad + "\r\nThe address user1@far.test was rejected.\r\n";
}

void TestPop3Session::reading_givesTheMessageAsSent()
{
    QFETCH(QString, fault);
    QFETCH(int, headerLimit);
    test::ScriptedPop3 server(fault, 3);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    if (headerLimit) {
        Pop3SizeLimits sizes;
        sizes.header = headerLimit;
        m_session->setSizeLimits(sizes);
    }
    QVERIFY(check(server.server()));
    QVERIFY2(m_ok, qPrintable(m_error));
    QCOMPARE(m_stored.size(), 3);
    QTEST(m_stored.first(), "first");
    QCOMPARE(storedIds(), (QStringList{"<1@bounce.test>", "<2@bounce.test>", "<3@bounce.test>"}));
}

void TestPop3Session::failureAtThree_closeUndoesDeletions_nothingFetchedTwice()
{
    test::ScriptedPop3 server(QStringLiteral("top-err:3"), 5);
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));

    QVERIFY(check(server.server()));
    QCOMPARE(m_error, QStringLiteral("no such message"));
    QCOMPARE(m_stored.size(), 2);
    QVERIFY(m_session->connected());
    QVERIFY(endSession());
    QCOMPARE(m_status.last(), notConnectedText());
    QCOMPARE(server.transcript().mid(11).join('|'), QStringLiteral("DELE 2|TOP 3 0|RSET|QUIT"));

    // RSET kept messages 1 and 2 on the server; their identifiers keep them
    // from being fetched again.
    QVERIFY(check(server.server()));
    QVERIFY2(m_ok, qPrintable(m_error));
    const QStringList second = server.transcript().mid(server.transcript().lastIndexOf("--"));
    QCOMPARE(
        second.join('|'),
        QStringLiteral("--|CAPA|USER bounce|PASS secret|STAT|LIST|TOP 1 0|TOP 2 0|TOP 3 0|RETR "
                       "3|DELE 3|TOP 4 0|RETR 4|DELE 4|TOP 5 0|RETR 5|DELE 5|QUIT"));
    QCOMPARE(m_stored.size(), 5);
    QCOMPARE(storedIds().size(), 5);
}

void TestPop3Session::tls_data()
{
    QTest::addColumn<bool>("implicit");
    QTest::addColumn<bool>("trusted");

    QTest::newRow("STLS, trusted authority") << false << true;
    QTest::newRow("STLS, unknown authority") << false << false;
    QTest::newRow("port 995, trusted authority") << true << true;
    QTest::newRow("port 995, unknown authority") << true << false;
}

void TestPop3Session::tls()
{
    QFETCH(bool, implicit);
    QFETCH(bool, trusted);

    test::Dovecot server(implicit ? test::Dovecot::Tls::Implicit : test::Dovecot::Tls::Stls);
    server.addMessage(test::returnedFixture(QStringLiteral("postfix-report.eml")));
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    if (trusted)
        m_session->setExtraCaCertificates(server.authority().ca());
    // Encrypted, the password may go to any server.
    m_session->setTrustLoopback(false);

    QVERIFY(check(server.host(), server.port()));
    if (trusted) {
        QVERIFY2(m_ok, qPrintable(m_error));
        QCOMPARE(m_stored.size(), 1);
        QCOMPARE(server.messagesOnServer(), 0);
        QVERIFY2(server.log().contains(QStringLiteral("Login: user=<bounce>")),
                 qPrintable(server.log()));
        QVERIFY2(server.log().contains(QStringLiteral(", TLS")), qPrintable(server.log()));
    } else {
        QVERIFY(!m_ok);
        QVERIFY2(m_error.startsWith(QStringLiteral("The secure connection to ") + server.host() +
                                    QStringLiteral(" failed: ")),
                 qPrintable(m_error));
        QVERIFY2(!server.log().contains(QStringLiteral("Login:")), qPrintable(server.log()));
        QCOMPARE(server.messagesOnServer(), 1);
    }
}

void TestPop3Session::messageId_data()
{
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("id");

    QTest::newRow("as received") << QByteArray("Subject: x\r\nMessage-ID: <A.b@C>\r\n\r\n")
                                 << "<A.b@C>";
    QTest::newRow("other letter case, folded")
        << QByteArray("message-id:\r\n\t <f@x.test> \r\nX: y\r\n") << "<f@x.test>";
    QTest::newRow("none; a body line does not count")
        << QByteArray("Subject: x\r\n\r\nMessage-ID: <body@x>\r\n") << QString();
    QTest::newRow("longer than MessageIDs holds: cut as stored")
        << QByteArray("Message-ID: <" + QByteArray(250, 'a') + "@x>\r\n")
        << "<" + QString(199, 'a');
}

void TestPop3Session::messageId()
{
    QFETCH(QByteArray, header);
    QTEST(messageIdOf(header), "id");
}

void TestPop3Session::loopback_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("loopback");
    QTest::newRow("127.0.0.1") << "127.0.0.1" << true;
    QTest::newRow("anywhere in 127/8") << "127.200.1.9" << true;
    QTest::newRow("::1") << "::1" << true;
    QTest::newRow("IPv4 loopback written as IPv6") << "::ffff:127.0.0.1" << true;
    QTest::newRow("private network") << "10.0.0.1" << false;
    QTest::newRow("private network written as IPv6") << "::ffff:10.0.0.1" << false;
    QTest::newRow("next to 127/8") << "128.0.0.1" << false;
}

void TestPop3Session::loopback()
{
    QFETCH(QString, address);
    QTEST(isLoopbackAddress(QHostAddress(address)), "loopback");
}

// The answers of a real server to a whole session, read back in pieces of
// changing size, then damaged: whatever comes, every answer stays within its
// limits.
void TestPop3Session::replies_fuzz()
{
    test::Dovecot server;
    for (const char* name : {"postfix-report.eml", "exim-report.eml", "out-of-office.eml"})
        server.addMessage(test::returnedFixture(QString::fromLatin1(name)));
    QString error;
    QVERIFY2(server.start(&error), qPrintable(error));
    QTcpSocket socket;
    socket.connectToHost(server.host(), quint16(server.port()));
    QVERIFY(socket.waitForConnected(10000));
    // dovecot takes the commands in one go and answers them in order.
    socket.write("CAPA\r\nUSER bounce\r\nPASS secret\r\nSTAT\r\nLIST\r\nTOP 1 0\r\n"
                 "RETR 1\r\nRETR 2\r\nRETR 3\r\nQUIT\r\n");
    QByteArray transcript;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000))
        transcript += socket.readAll();
    transcript += socket.readAll();
    QVERIFY2(transcript.endsWith("\r\n") && transcript.count("\r\n.\r\n") == 6,
             transcript.constData());

    using Kind = Pop3Reply::Kind;
    const Kind kinds[] = {Kind::Single, Kind::Listed, Kind::Single, Kind::Single,
                          Kind::Single, Kind::Listed, Kind::Kept,   Kind::Kept,
                          Kind::Kept,   Kind::Kept,   Kind::Single};
    Pop3Reply::Limits limits;
    limits.statusLine = 120;
    limits.dataLine = 900;
    limits.keep = 3000;
    limits.total = 20000;
    int done = 0;
    test::fuzz("POP3 replies", {transcript}, [&](const QByteArray& input) {
        Pop3Reply reply;
        qsizetype listed = 0;
        reply.onLine = [&](QByteArrayView line) {
            listed += line.size();
            QVERIFY(line.size() <= limits.statusLine + 2);
        };
        size_t k = 0;
        reply.start(kinds[0], limits);
        qint64 pos = 0;
        while (pos < input.size()) {
            // Pieces of 1 to 97 bytes, as the network might cut them.
            const qint64 piece = qMin<qint64>(1 + uchar(input.at(pos)) % 97, input.size() - pos);
            qint64 used = 0;
            const Pop3Reply::Progress progress = reply.feed(input.constData() + pos, piece, &used);
            QVERIFY(used >= 0 && used <= piece);
            QVERIFY(reply.data().size() <= limits.keep + 2);
            QVERIFY(reply.statusLine().size() <= limits.statusLine + 2);
            QVERIFY(reply.received() <= limits.total);
            pos += used;
            if (progress == Pop3Reply::Progress::Failed)
                return;
            if (progress == Pop3Reply::Progress::Done) {
                if (!reply.data().isEmpty())
                    QVERIFY(reply.data().endsWith("\r\n"));
                ++done;
                reply.start(kinds[++k % std::size(kinds)], limits);
            }
        }
    });
    QVERIFY(done > 0);
}

QTEST_MAIN(TestPop3Session)
#include "tst_Pop3Session.moc"

#include "compose/ComposeMessage.h"
#include "send/SmtpClient.h"
#include "SmtpPeers.h"
#include "TestClock.h"

#include <QtTest>

#include <memory>

using namespace bv::send;
using bv::test::AiosmtpdServer;
using bv::test::ScriptedSmtpServer;

namespace {

const char* const stateNames[] = {
    "ssNoOp",        "ssConnect", "ssEhlo", "ssHelo",      "ssMailFrom", "ssRcptTo",
    "ssRcptCc",      "ssRcptBcc", "ssData", "ssRSet",      "ssHelp",     "ssSendEnvelope",
    "ssSendMessage", "ssSpecial", "ssQuit", "ssAuthLogin", "ssAuthUser", "ssAuthPass"};

// Everything the client reports, in the order it arrives.
struct Recorder
{
    QStringList events; // responses, errors, next-message questions
    QList<int> states;
    QList<int> tasks;
    QList<qint64> progress;
    bool nextMessage = false; // the answer to OnNextMessage
    std::function<void()> onNext;

    void attach(TIpSmtpClient& c)
    {
        QObject::connect(
            &c, &TIpSmtpClient::OnResponse,
            [this](TIpSmtpClient*, TIpSmtpStates s, int code, const QString& r) {
                events << QString("response %1 %2 %3").arg(stateNames[s]).arg(code).arg(r);
            });
        QObject::connect(&c, &TIpSmtpClient::OnMultiLineResponse,
                         [this](TIpSmtpClient*, TIpSmtpStates s, const QStringList& lines) {
                             events << QString("multi %1 %2").arg(stateNames[s], lines.join(""));
                         });
        QObject::connect(&c, &TIpSmtpClient::OnConnectError,
                         [this](TIpSmtpClient*, int code, const QString& text) {
                             events << QString("connectError %1 %2").arg(code).arg(text);
                         });
        QObject::connect(&c, &TIpSmtpClient::OnError,
                         [this](TIpSmtpClient*, int code, const QString& text) {
                             events << QString("error %1 %2").arg(code).arg(text);
                         });
        QObject::connect(&c, &TIpSmtpClient::OnStateChange,
                         [this](TIpSmtpClient*, TIpSmtpStates s) { states << s; });
        QObject::connect(&c, &TIpSmtpClient::OnTaskComplete,
                         [this](TIpSmtpClient*, TIpSmtpTasks t) { tasks << t; });
        QObject::connect(&c, &TIpSmtpClient::OnProgress,
                         [this](TIpSmtpClient*, qint64 n) { progress << n; });
        QObject::connect(&c, &TIpSmtpClient::OnNextMessage, [this](TIpSmtpClient*, bool& ready) {
            events << "next";
            if (nextMessage && onNext) {
                nextMessage = false;
                onNext();
                ready = true;
            }
        });
    }
    QString last() const { return events.isEmpty() ? QString() : events.last(); }
};

// Runs the event loop the way the mailing run does: until the client is idle,
// then the events queued to it.
bool runUntilIdle(bv::Clock& clock, TIpSmtpClient& client, int ms = 15000)
{
    QDeadlineTimer deadline(ms);
    while (client.state() != ssNoOp && !deadline.hasExpired())
        clock.waitForEvents(50);
    QCoreApplication::sendPostedEvents(&client, QEvent::MetaCall);
    return client.state() == ssNoOp;
}

void setPlainMessage(bv::compose::TIpMailMessage& m, const QString& from, const QStringList& to,
                     const QStringList& body, const QStringList& cc = {},
                     const QStringList& bcc = {})
{
    m.Clear();
    m.setFrom(from);
    m.setMailTo(to);
    m.setCc(cc);
    m.setBcc(bcc);
    m.setSubject("Hi");
    m.appendBodyLines(body);
}

// "!stall", "!close", "!endless-line <prefix>", "!endless-lines <line>" and,
// last, "!drop-after <bytes>" stand for steps; every other text is a reply.
QList<ScriptedSmtpServer::Step> script(const QStringList& replies)
{
    QList<ScriptedSmtpServer::Reply> r;
    for (const QString& t : replies) {
        if (t == "!stall") {
            r << ScriptedSmtpServer::stall();
        } else if (t.startsWith("!drop-after ")) {
            // Reads part of the message text, then goes.
            return ScriptedSmtpServer::conversation(r)
                   << ScriptedSmtpServer::readBytes(t.mid(12).toInt())
                   << ScriptedSmtpServer::close();
        } else if (t == "!close") {
            r << ScriptedSmtpServer::close();
        } else if (t.startsWith("!endless-lines ")) {
            r << ScriptedSmtpServer::endlessLines(t.mid(15));
        } else if (t.startsWith("!endless-line ")) {
            r << ScriptedSmtpServer::endlessLine(t.mid(14));
        } else {
            r << t;
        }
    }
    return ScriptedSmtpServer::conversation(r);
}

QStringList chopped(const QList<QByteArray>& lines)
{
    QStringList out;
    for (const QByteArray& l : lines)
        out << QString::fromUtf8(l.endsWith("\r\n") ? l.chopped(2) : l + "<no CR LF>");
    return out;
}

const QStringList okToEnd = {"220 hello",   "250 ok",       "250 sender ok",
                             "250 rcpt ok", "354 go ahead", "250 queued"};
const QStringList plainHead = {"From: Ann <ann@x.com>", "To: bob@y.org", "Subject: Hi"};
const QStringList plainText = plainHead + QStringList{"", "Hello", "."};

SmtpTimeLimits shortLimits(int ms)
{
    SmtpTimeLimits l;
    l.connect = l.greeting = l.mailFrom = l.rcptTo = l.dataInit = l.dataBlock = l.dataTermination =
        l.other = ms;
    return l;
}

// A client set up for a scripted server, with a plain message to bob@y.org.
struct ScriptedRun
{
    explicit ScriptedRun(const QStringList& replies, int limitMs = 5000)
        : server(script(replies)), client(clock)
    {
        client.setDomain("client.test");
        client.setXMailer(QString());
        client.setTimeLimits(shortLimits(limitMs));
        rec.attach(client);
        setPlainMessage(client.message(), "Ann <ann@x.com>", {"bob@y.org"}, {"Hello"});
    }
    ScriptedSmtpServer server;
    bv::test::TestClock clock;
    TIpSmtpClient client;
    Recorder rec;
};

// "LOGIN user accepted tls" for every AUTH attempt the server saw.
QStringList authAttemptsSeen(const AiosmtpdServer& server)
{
    QStringList seen;
    for (const bv::test::AuthAttempt& a : server.authAttempts())
        seen << QString("%1 %2 %3 %4")
                    .arg(a.mechanism, a.login, a.accepted ? "accepted" : "refused",
                         a.tls ? "tls" : "clear");
    return seen;
}

// Connects as a client does to port 465, on whatever port the test server has.
class ImplicitTlsClient : public TIpSmtpClient
{
public:
    using TIpSmtpClient::TIpSmtpClient;

protected:
    bool startsEncrypted(quint16) const override { return true; }
};

// Takes its loopback server for one across the network.
class DistantClient : public TIpSmtpClient
{
public:
    DistantClient(bv::Clock& clock, bool implicitTls) : TIpSmtpClient(clock), m_implicit(implicitTls) {}

protected:
    bool startsEncrypted(quint16 port) const override { return m_implicit || TIpSmtpClient::startsEncrypted(port); }
    bool peerIsLoopback() const override { return false; }

private:
    bool m_implicit;
};

} // namespace

Q_DECLARE_METATYPE(AiosmtpdServer::Options)

class TestSmtpClient : public QObject
{
    Q_OBJECT
private slots:
    void stateTexts_data();
    void stateTexts();
    void newClient_isIdleWithAnEmptyMessage();
    void replaceMessage_startsEmptyAndKeepsTheProgressHandler();

    void conversation_isByteExact_data();
    void conversation_isByteExact();
    void success_leavesTheClientIdleAndConnected_data();
    void success_leavesTheClientIdleAndConnected();
    void nextMessage_goesOnTheSameConnection();
    void quit_data();
    void quit();
    void serverTextWithoutPort_usesPort25();
    void faults_endTheTaskWithAClearError_data();
    void faults_endTheTaskWithAClearError();
    void sendMail_refusesWhatItCannotSend_data();
    void sendMail_refusesWhatItCannotSend();
    void idleTimeout_isRaisedUntilReset_data();
    void idleTimeout_isRaisedUntilReset();
    void aiosmtpd_interoperates_data();
    void aiosmtpd_interoperates();
    void tlsFailure_sendsNoPassword_data();
    void tlsFailure_sendsNoPassword();
    void password_goesInTheClearOnlyToLoopbackOrWhenAllowed_data();
    void password_goesInTheClearOnlyToLoopbackOrWhenAllowed();
    void envelopeAddress_isTheAddressWhateverTheName_data();
    void envelopeAddress_isTheAddressWhateverTheName();
    void envelopeRecipients_replaceTheToText();
    void largeMessage_arrivesWholeWithProgress();
};

void TestSmtpClient::stateTexts_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<QString>("text");
    const char* texts[] = {"No operation",
                           "Connecting",
                           "Logging on with EHLO",
                           "Logging on with HELO",
                           "Sending sender's info",
                           "Sending MailTo info",
                           "Sending CC info",
                           "Sending BCC info",
                           "Sending Data",
                           "Resetting server",
                           "Help",
                           "Sending Envelope",
                           "Sending Message",
                           "Sending special command",
                           "Quit",
                           "Requesting authentication",
                           "Authenticating username",
                           "Authenticating password"};
    for (int i = 0; i < int(std::size(texts)); ++i)
        QTest::newRow(texts[i]) << i << QString(texts[i]);
}

void TestSmtpClient::stateTexts()
{
    QFETCH(int, state);
    QFETCH(QString, text);
    QCOMPARE(SmtpStateText(TIpSmtpStates(state)), text);
}

void TestSmtpClient::newClient_isIdleWithAnEmptyMessage()
{
    bv::test::TestClock clock;
    TIpSmtpClient client(clock);
    QCOMPARE(client.state(), ssNoOp);
    QCOMPARE(client.task(), stNoTask);
    QCOMPARE(client.xMailer(), QString("Internet Professional v1.15"));
    QCOMPARE(client.property("XMailer").toString(), QString("Internet Professional v1.15"));
    QCOMPARE(client.idleTimeout(), 0);
    QVERIFY(!client.includeBCC());
    QCOMPARE(client.message().Encode(), QByteArray("\r\n"));
}

void TestSmtpClient::replaceMessage_startsEmptyAndKeepsTheProgressHandler()
{
    bv::test::TestClock clock;
    TIpSmtpClient client(clock);
    int reports = 0;
    client.message().setOnCodingProgress(
        [&](bv::compose::TIpMailMessage&, int, bool&) { ++reports; });
    bv::compose::ComposeMessage(client.message(), {"A <a@x.com>", "S", "p", "h"}, "", "", "");
    client.message().setMailTo({"b@y.org"});
    const auto* before = &client.message();
    client.replaceMessage();
    QVERIFY(&client.message() != before);
    QCOMPARE(client.message().Encode(), QByteArray("\r\n"));
    QVERIFY(client.message().mailTo().isEmpty());
    reports = 0;
    bv::compose::ComposeMessage(client.message(), {"A <a@x.com>", "S", "p", "h"}, "", "", "");
    QCOMPARE(reports, 20);
}

void TestSmtpClient::conversation_isByteExact_data()
{
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QStringList>("cc");
    QTest::addColumn<QStringList>("bcc");
    QTest::addColumn<QStringList>("body");
    QTest::addColumn<bool>("enableAuth");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("task");
    QTest::addColumn<QString>("event");  // must be among the events
    QTest::addColumn<QString>("absent"); // no event may begin with it
    QTest::addColumn<bool>("open");      // the connection afterwards

    const QString ann = "Ann <ann@x.com>";
    const QStringList hello = {"Hello"};
    const QStringList envelope = {"MAIL FROM:<ann@x.com>", "RCPT TO:<bob@y.org>", "DATA"};
    const QStringList sent = envelope + plainText;
    const QStringList none;
    auto row = [&](const char* name, const QStringList& replies, bool auth,
                   const QStringList& lines, int task, const QString& event,
                   const QString& absent = {}, bool open = true) {
        QTest::newRow(name) << replies << ann << none << none << hello << auth << lines << task
                            << event << absent << open;
    };

    row("EHLO, no AUTH", okToEnd, false, QStringList{"EHLO client.test"} + sent, stSendMail,
        "response ssSendMessage 250 queued\r\n");
    row("EHLO 502: HELO, and no AUTH although it is enabled",
        {"220 hi", "502 no", "250 helo ok", "250 s", "250 r", "354 go", "250 q"}, true,
        QStringList{"EHLO client.test", "HELO client.test"} + sent, stSendMail,
        "response ssHelo 250 helo ok\r\n", "response ssAuth");
    row("multi-line EHLO: one OnMultiLineResponse, no OnResponse",
        {"220 hi", "250-peer\r\n250-SIZE 100\r\n250 HELP", "250 s", "250 r", "354 go", "250 q"},
        false, QStringList{"EHLO client.test"} + sent, stSendMail,
        "multi ssEhlo 250-peer\r\n250-SIZE 100\r\n", "response ssEhlo");
    row("AUTH LOGIN in three steps",
        {"220 hi", "250 ok", "334 VXNlcm5hbWU6", "334 UGFzc3dvcmQ6", "235 ok", "250 s", "250 r",
         "354 go", "250 q"},
        true, QStringList{"EHLO client.test", "AUTH LOGIN", "dXNlcg==", "c2VjcmV0"} + sent,
        stSendMail, "response ssAuthPass 235 ok\r\n");
    row("AUTH LOGIN 503: straight on with MAIL FROM",
        {"220 hi", "250 ok", "503 no auth here", "250 s", "250 r", "354 go", "250 q"}, true,
        QStringList{"EHLO client.test", "AUTH LOGIN"} + sent, stSendMail,
        "response ssAuthLogin 503 no auth here\r\n");
    row("password refused: sent without authentication",
        {"220 hi", "250 ok", "334 a", "334 b", "535 bad", "250 s", "250 r", "354 go", "250 q"},
        true, QStringList{"EHLO client.test", "AUTH LOGIN", "dXNlcg==", "c2VjcmV0"} + sent,
        stSendMail, "response ssAuthPass 535 bad\r\n");
    row("AUTH LOGIN refused, PLAIN advertised: AUTH PLAIN",
        {"220 hi", "250-peer\r\n250 AUTH PLAIN", "504 5.5.4 unrecognized", "235 ok", "250 s",
         "250 r", "354 go", "250 q"},
        true, QStringList{"EHLO client.test", "AUTH LOGIN", "AUTH PLAIN AHVzZXIAc2VjcmV0"} + sent,
        stSendMail, "response ssAuthPass 235 ok\r\n");
    row("550 to RCPT TO fails the task", {"220 hi", "250 ok", "250 s", "550 5.1.1 no such user"},
        false, {"EHLO client.test", "MAIL FROM:<ann@x.com>", "RCPT TO:<bob@y.org>"}, stFailed,
        "response ssRcptTo 550 5.1.1 no such user\r\n");
    row("400 to MAIL FROM counts as success",
        {"220 hi", "250 ok", "400 odd", "250 r", "354 go", "250 q"}, false,
        QStringList{"EHLO client.test"} + sent, stSendMail, "response ssMailFrom 400 odd\r\n");
    row("401 to MAIL FROM fails the task", {"220 hi", "250 ok", "401 no"}, false,
        {"EHLO client.test", "MAIL FROM:<ann@x.com>"}, stFailed, "response ssMailFrom 401 no\r\n");
    row("greeting refused: no use for the connection", {"554 go away"}, false, {}, stFailed,
        "response ssConnect 554 go away\r\n", {}, false);
    row("HELO refused after EHLO", {"220 hi", "502 no", "550 no"}, false,
        {"EHLO client.test", "HELO client.test"}, stFailed, "response ssHelo 550 no\r\n", {},
        false);
    row("STARTTLS offered and refused: the message fails, nothing more is sent",
        {"220 hi", "250-peer\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN", "454 TLS not available"},
        true, {"EHLO client.test", "STARTTLS"}, stFailed,
        "error 10053 The server offered STARTTLS and then refused it: 454 TLS not available",
        "response ssAuth", false);

    const QStringList threeRcpts = {"220 hi", "250 ok", "250 s",  "250 r1",
                                    "250 r2", "250 r3", "354 go", "250 q"};
    QTest::newRow("address forms; Cc and Bcc in the envelope, Bcc not in the text")
        << threeRcpts << "\"Ann A.\" <ann@x.com> (work)" << QStringList{"Cy <cy@z.net>"}
        << QStringList{"<dee@w.com>"} << hello << false
        << QStringList{"EHLO client.test",
                       "MAIL FROM:<ann@x.com>",
                       "RCPT TO:<bob@y.org>",
                       "RCPT TO:<cy@z.net>",
                       "RCPT TO:<dee@w.com>",
                       "DATA",
                       "From: \"Ann A.\" <ann@x.com> (work)",
                       "To: bob@y.org",
                       "Cc: Cy <cy@z.net>",
                       "Subject: Hi",
                       "",
                       "Hello",
                       "."}
        << int(stSendMail) << "response ssSendMessage 250 q\r\n"
        << QString() << true;
    QTest::newRow("empty sender: MAIL FROM: with nothing after the colon")
        << okToEnd << QString() << none << none << hello << false
        << QStringList{"EHLO client.test",
                       "MAIL FROM:",
                       "RCPT TO:<bob@y.org>",
                       "DATA",
                       "To: bob@y.org",
                       "Subject: Hi",
                       "",
                       "Hello",
                       "."}
        << int(stSendMail) << "response ssMailFrom 250 sender ok\r\n"
        << QString() << true;
    QTest::newRow("dot-stuffing") << okToEnd << ann << none << none
                                  << QStringList{".hidden", ".", "..x", "a.b", ""} << false
                                  << QStringList{"EHLO client.test"} + envelope + plainHead +
                                         QStringList{"", "..hidden", "..", "...x", "a.b", "", "."}
                                  << int(stSendMail) << "next" << QString() << true;
}

void TestSmtpClient::conversation_isByteExact()
{
    QFETCH(QStringList, replies);
    QFETCH(QString, from);
    QFETCH(QStringList, cc);
    QFETCH(QStringList, bcc);
    QFETCH(QStringList, body);
    QFETCH(bool, enableAuth);
    QFETCH(QStringList, lines);
    QFETCH(int, task);
    QFETCH(QString, event);
    QFETCH(QString, absent);
    QFETCH(bool, open);

    ScriptedRun run(replies);
    QVERIFY2(run.server.start(), qPrintable(run.server.error()));
    run.client.setUserID("user");
    run.client.setPassword("secret");
    run.client.setEnableAuth(enableAuth);
    setPlainMessage(run.client.message(), from, {"bob@y.org"}, body, cc, bcc);

    run.client.SendMail(run.server.server(), false);
    QVERIFY(runUntilIdle(run.clock, run.client));
    QCOMPARE(run.rec.tasks, QList<int>{task});
    QVERIFY(run.server.waitForLines(int(lines.size())));
    QCOMPARE(chopped(run.server.received()), lines);
    QVERIFY2(run.rec.events.contains(event), qPrintable(run.rec.events.join('|')));
    for (const QString& e : std::as_const(run.rec.events))
        QVERIFY2(absent.isEmpty() || !e.startsWith(absent), qPrintable(e));
    QCOMPARE(run.client.connected(), open);
}

void TestSmtpClient::success_leavesTheClientIdleAndConnected_data()
{
    QTest::addColumn<bool>("quitAfterSend");
    QTest::addColumn<QStringList>("lastLines");
    QTest::addColumn<QList<int>>("states");
    QTest::newRow("no QUIT: idle and connected; destroying it sends no QUIT")
        << false << QStringList{"Hello", "."}
        << QList<int>{ssConnect, ssEhlo, ssMailFrom, ssRcptTo, ssData, ssSendMessage, ssNoOp};
    QTest::newRow("quit after send: QUIT, then the task is complete")
        << true << QStringList{"Hello", ".", "QUIT"}
        << QList<int>{ssConnect, ssEhlo,        ssMailFrom, ssRcptTo,
                      ssData,    ssSendMessage, ssQuit,     ssNoOp};
}

void TestSmtpClient::success_leavesTheClientIdleAndConnected()
{
    QFETCH(bool, quitAfterSend);
    QFETCH(QStringList, lastLines);
    QFETCH(QList<int>, states);

    ScriptedSmtpServer server(script(okToEnd + QStringList{"221 bye"}));
    QVERIFY2(server.start(), qPrintable(server.error()));
    bv::test::TestClock clock;
    auto client = std::make_unique<TIpSmtpClient>(clock);
    client->setDomain("client.test");
    client->setXMailer(QString());
    Recorder rec;
    rec.attach(*client);
    setPlainMessage(client->message(), "Ann <ann@x.com>", {"bob@y.org"}, {"Hello"});
    const qint64 size = client->message().Encode().size();

    client->SendMail(server.server(), quitAfterSend);
    QCOMPARE(client->state(), ssConnect);
    QVERIFY(runUntilIdle(clock, *client));
    QCOMPARE(rec.tasks, QList<int>{stSendMail});
    QCOMPARE(rec.states, states);
    QCOMPARE(rec.events.count("next"), 1);
    QVERIFY(!rec.progress.isEmpty());
    QCOMPARE(rec.progress.last(), size);
    QVERIFY(std::is_sorted(rec.progress.cbegin(), rec.progress.cend()));
    QCOMPARE(client->task(), stSendMail);
    QCOMPARE(client->connected(), !quitAfterSend);
    QVERIFY(client->message().mailTo().isEmpty()); // a new, empty message

    client.reset();
    QVERIFY(server.waitForClosed());
    QCOMPARE(chopped(server.received()).mid(server.received().size() - lastLines.size()),
             lastLines);
}

void TestSmtpClient::nextMessage_goesOnTheSameConnection()
{
    ScriptedRun run(okToEnd + QStringList{"250 s2", "250 r2", "354 go", "250 q2"});
    QVERIFY2(run.server.start(), qPrintable(run.server.error()));
    run.client.setXMailer("Mailer 2");
    run.rec.nextMessage = true;
    run.rec.onNext = [&] {
        setPlainMessage(run.client.message(), "Ann <ann@x.com>", {"cy@z.net"}, {"Second"});
    };
    setPlainMessage(run.client.message(), "Ann <ann@x.com>", {"bob@y.org"}, {"First"});
    run.client.SendMail(run.server.server(), false);
    QVERIFY(runUntilIdle(run.clock, run.client));
    QCOMPARE(run.rec.tasks, QList<int>{stSendMail});
    QCOMPARE(run.rec.events.count("next"), 2);
    QCOMPARE(run.server.connections(), 1);
    const auto message = [](const QString& to, const QString& body) {
        return QStringList{"MAIL FROM:<ann@x.com>",
                           "RCPT TO:<" + to + ">",
                           "DATA",
                           "From: Ann <ann@x.com>",
                           "To: " + to,
                           "Subject: Hi",
                           "X-Mailer: Mailer 2",
                           "",
                           body,
                           "."};
    };
    QCOMPARE(chopped(run.server.received()), QStringList{"EHLO client.test"} +
                                                 message("bob@y.org", "First") +
                                                 message("cy@z.net", "Second"));
}

void TestSmtpClient::quit_data()
{
    QTest::addColumn<int>("when"); // the state in which Quit is called
    QTest::addColumn<QList<int>>("tasks");
    QTest::addColumn<bool>("quitSent");
    QTest::newRow("not connected: idle at once") << int(ssNoOp) << QList<int>() << false;
    QTest::newRow("idle connection: QUIT, the task stays complete")
        << int(ssNoOp) << QList<int>{stSendMail} << true;
    QTest::newRow("waiting for RCPT TO: QUIT, the message failed")
        << int(ssRcptTo) << QList<int>{stFailed} << true;
    QTest::newRow("message text on its way: closed at once, no QUIT inside the text")
        << int(ssSendMessage) << QList<int>{stFailed} << false;
}

void TestSmtpClient::quit()
{
    QFETCH(int, when);
    QFETCH(QList<int>, tasks);
    QFETCH(bool, quitSent);
    const bool afterSuccess = tasks == QList<int>{stSendMail};
    ScriptedRun run(when == ssRcptTo ? QStringList{"220 hi", "250 ok", "250 s", "!stall"}
                    : afterSuccess   ? okToEnd + QStringList{"221 bye"}
                                     : okToEnd.mid(0, 5) + QStringList{"!stall"},
                    500);
    QVERIFY2(run.server.start(), qPrintable(run.server.error()));
    QStringList body;
    for (int i = 0; i < 20000; ++i)
        body << "A line of a message text";
    setPlainMessage(run.client.message(), "Ann <ann@x.com>", {"bob@y.org"}, body);
    if (!tasks.isEmpty()) {
        run.client.SendMail(run.server.server(), false);
        if (afterSuccess)
            QVERIFY(runUntilIdle(run.clock, run.client));
        else
            QVERIFY(run.server.waitUntil([&] { return run.client.state() == when; }));
    }
    run.client.Quit();
    QCOMPARE(run.client.state(), quitSent ? ssQuit : ssNoOp);
    if (quitSent) {
        QVERIFY(
            run.server.waitUntil([&] { return run.server.receivedBytes().endsWith("QUIT\r\n"); }));
        // The reply to RCPT TO never comes: the QUIT time limit ends it.
        QVERIFY(runUntilIdle(run.clock, run.client));
    }
    QCoreApplication::sendPostedEvents(&run.client, QEvent::MetaCall);
    QCOMPARE(run.rec.tasks, tasks);
    QVERIFY(!run.client.connected());
    if (!tasks.isEmpty()) {
        QVERIFY(run.server.waitForClosed());
        QCOMPARE(run.server.receivedBytes().count("QUIT\r\n"), quitSent ? 1 : 0);
    }
}

void TestSmtpClient::serverTextWithoutPort_usesPort25()
{
    // Port 25 of a loopback address of its own (the tests run as root).
    const QString address =
        QString("127.77.%1.%2").arg(QCoreApplication::applicationPid() % 250 + 1).arg(25);
    ScriptedRun run(okToEnd);
    QVERIFY2(run.server.start(address, 25), qPrintable(run.server.error()));
    run.client.SendMail(address, false);
    QVERIFY(runUntilIdle(run.clock, run.client));
    QCOMPARE(run.rec.tasks, QList<int>{stSendMail});
}

void TestSmtpClient::faults_endTheTaskWithAClearError_data()
{
    QTest::addColumn<QStringList>("replies");
    QTest::addColumn<int>("bodyLines");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("lastLine");

    const QStringList toData = {"220 hi", "250 ok", "250 s", "250 r"};
    QTest::newRow("no greeting: connect error, timed out")
        << QStringList{"!stall"} << 1 << "connectError 10060 Connection timed out" << QString();
    QTest::newRow("no reply to EHLO") << QStringList{"220 hi", "!stall"} << 1
                                      << "error 10060 Timed out waiting for the server's reply "
                                         "to EHLO"
                                      << "EHLO client.test";
    QTest::newRow("no reply to DATA")
        << toData + QStringList{"!stall"} << 1
        << "error 10060 Timed out waiting for the server's reply to DATA"
        << "DATA";
    QTest::newRow("no reply to the end of the text")
        << toData + QStringList{"354 go", "!stall"} << 1
        << "error 10060 Timed out waiting for the server's reply to the end of the message text"
        << ".";
    QTest::newRow("endless reply line")
        << QStringList{"220 hi", "!endless-line 250 "} << 1
        << "error 10053 The server sent a reply line longer than 65536 bytes; the connection was "
           "closed."
        << "EHLO client.test";
    QTest::newRow("endless greeting line: still connecting")
        << QStringList{"!endless-line 220 "} << 1
        << "connectError 10053 The server sent a reply line longer than 65536 bytes; the "
           "connection was closed."
        << QString();
    QTest::newRow("reply of endless lines")
        << QStringList{"220 hi", "!endless-lines 250-x"} << 1
        << "error 10053 The server sent a reply of more than 1000 lines or 1048576 bytes; the "
           "connection was closed."
        << "EHLO client.test";
    QTest::newRow("drop in the middle of the text")
        << toData + QStringList{"354 go", "!drop-after 1000"} << 100000
        << "error 10054 Connection reset by peer" << QString();
    QTest::newRow("server goes while RCPT TO waits")
        << QStringList{"220 hi", "250 ok", "250 s", "!close"} << 1
        << "error 10054 Connection reset by peer"
        << "RCPT TO:<bob@y.org>";
    QTest::newRow("connection refused")
        << QStringList{"!refused"} << 1 << "connectError 10061 Connection refused" << QString();
    QTest::newRow("host not found")
        << QStringList{"!unknown host"} << 1 << "connectError 11001 Host not found" << QString();
}

void TestSmtpClient::faults_endTheTaskWithAClearError()
{
    QFETCH(QStringList, replies);
    QFETCH(int, bodyLines);
    QFETCH(QString, event);
    QFETCH(QString, lastLine);

    ScriptedRun run(replies, 400);
    QVERIFY2(run.server.start(), qPrintable(run.server.error()));
    QString address = run.server.server();
    if (replies == QStringList{"!refused"})
        run.server.stop(); // nothing listens on that port any more
    if (replies == QStringList{"!unknown host"})
        address = "no-such-host.invalid";
    QStringList body;
    for (int i = 0; i < bodyLines; ++i)
        body << QString("Line %1 of a long message text, long enough to keep the client busy")
                    .arg(i);
    setPlainMessage(run.client.message(), "Ann <ann@x.com>", {"bob@y.org"}, body);

    run.client.SendMail(address, false);
    QVERIFY(runUntilIdle(run.clock, run.client));
    QCOMPARE(run.rec.tasks, QList<int>{stFailed});
    QCOMPARE(run.rec.last(), event);
    QCOMPARE(run.client.task(), stFailed);
    QVERIFY(!run.client.connected());
    const QStringList sent = chopped(run.server.received());
    if (!lastLine.isEmpty())
        QCOMPARE(sent.value(sent.size() - 1), lastLine);
}

void TestSmtpClient::sendMail_refusesWhatItCannotSend_data()
{
    QTest::addColumn<QString>("server"); // %1: a live server
    QTest::addColumn<QStringList>("to");
    QTest::addColumn<QString>("domain");
    QTest::addColumn<bool>("busy");
    QTest::addColumn<QString>("error");
    const QStringList bob = {"bob@y.org"};
    QTest::newRow("busy: the running conversation is untouched")
        << "%1" << bob << "d" << true << "Can not comply, wrong state";
    QTest::newRow("empty server text")
        << "" << bob << "d" << false << "Destination address required";
    QTest::newRow("no recipients")
        << "%1" << QStringList() << "d" << false << "No recipients specified";
    QTest::newRow("port that is no number")
        << "127.0.0.1:smtp" << bob << "d" << false
        << "The port of the server address \"127.0.0.1:smtp\" is not a number from 1 to 65535.";
    QTest::newRow("line break in a recipient")
        << "%1" << QStringList{"<bob@y.org\r\nRCPT TO:eve@z.org>"} << "d" << false
        << "The address \"<bob@y.org RCPT TO:eve@z.org>\" holds a line break or another control "
           "character.";
    QTest::newRow("line break in the domain")
        << "%1" << bob << "a\r\nMAIL FROM:<eve@z.org>" << false
        << "The domain \"a MAIL FROM:<eve@z.org>\" holds a line break or another control "
           "character.";
}

void TestSmtpClient::sendMail_refusesWhatItCannotSend()
{
    QFETCH(QString, server);
    QFETCH(QStringList, to);
    QFETCH(QString, domain);
    QFETCH(bool, busy);
    QFETCH(QString, error);

    ScriptedSmtpServer peer(script({"!stall"}));
    QVERIFY2(peer.start(), qPrintable(peer.error()));
    bv::test::TestClock clock;
    TIpSmtpClient client(clock);
    client.setDomain(domain);
    setPlainMessage(client.message(), "Ann <ann@x.com>", to, {"Hello"});
    const QString text = server.contains("%1") ? server.arg(peer.server()) : server;
    if (busy) {
        client.SendMail(text, false);
        QVERIFY(peer.waitUntil([&] { return peer.connections() == 1; }));
    }
    try {
        client.SendMail(text, false);
        QFAIL("SendMail went ahead");
    } catch (const SmtpError& e) {
        QCOMPARE(e.text(), error);
    }
    QCOMPARE(client.state(), busy ? ssConnect : ssNoOp);
    QCOMPARE(client.connected(), busy);
    QCOMPARE(peer.connections(), busy ? 1 : 0);
}

void TestSmtpClient::idleTimeout_isRaisedUntilReset_data()
{
    QTest::addColumn<bool>("reset");
    QTest::addColumn<int>("raised");
    QTest::newRow("reset restarts the idle clock") << true << 1;
    QTest::newRow("without reset it is raised at every check") << false << 3;
}

void TestSmtpClient::idleTimeout_isRaisedUntilReset()
{
    QFETCH(bool, reset);
    QFETCH(int, raised);
    ScriptedRun run(okToEnd);
    QVERIFY2(run.server.start(), qPrintable(run.server.error()));
    int count = 0;
    connect(&run.client, &TIpSmtpClient::OnIdleTimeout, [&](TIpSmtpClient*, bool& r) {
        ++count;
        r = reset;
    });
    run.client.setIdleTimeout(1000);
    run.client.SendMail(run.server.server(), false);
    QVERIFY(runUntilIdle(run.clock, run.client));
    QVERIFY(run.client.connected());
    run.clock.advance(1000); // checks at +500 and +1000: not longer than the timeout
    QCOMPARE(count, 0);
    run.clock.advance(1500); // checks at +1500, +2000, +2500
    QCOMPARE(count, raised);
    run.client.setIdleTimeout(0); // off
    run.clock.advance(5000);
    QCOMPARE(count, raised);
}

void TestSmtpClient::aiosmtpd_interoperates_data()
{
    using Auth = AiosmtpdServer::Auth;
    using Tls = AiosmtpdServer::Tls;
    QTest::addColumn<AiosmtpdServer::Options>("options");
    QTest::addColumn<bool>("enableAuth");
    QTest::addColumn<QString>("password");
    QTest::addColumn<int>("task");
    QTest::addColumn<QString>("event");        // among the events, when given
    QTest::addColumn<QStringList>("attempts"); // AUTH attempts the server saw
    QTest::addColumn<QString>("login");        // of the stored message; "-": none stored

    auto options = [](Auth auth, Tls tls = Tls::None) {
        AiosmtpdServer::Options o;
        o.auth = auth;
        o.tls = tls;
        return o;
    };
    QTest::newRow("no AUTH") << options(Auth::None) << false << "secret" << int(stSendMail)
                             << QString() << QStringList() << QString();
    QTest::newRow("AUTH LOGIN") << options(Auth::LoginAndPlain) << true << "secret"
                                << int(stSendMail) << QString()
                                << QStringList{"LOGIN user accepted clear"} << "user";
    QTest::newRow("AUTH PLAIN after AUTH LOGIN is refused")
        << options(Auth::PlainOnly) << true << "secret" << int(stSendMail)
        << "response ssAuthLogin 504 5.5.4 Unrecognized authentication type\r\n"
        << QStringList{"PLAIN user accepted clear"} << "user";
    QTest::newRow("wrong password: sent without authentication")
        << options(Auth::LoginAndPlain) << true << "wrong" << int(stSendMail)
        << "response ssAuthPass 535 5.7.8 Authentication credentials invalid\r\n"
        << QStringList{"LOGIN user refused clear"} << QString();
    QTest::newRow("STARTTLS before AUTH, with the test authority")
        << options(Auth::LoginAndPlain, Tls::StartTls) << true << "secret" << int(stSendMail)
        << QString() << QStringList{"LOGIN user accepted tls"} << "user";
    QTest::newRow("implicit TLS") << options(Auth::LoginAndPlain, Tls::Implicit) << true << "secret"
                                  << int(stSendMail) << QString()
                                  << QStringList{"LOGIN user accepted tls"} << "user";
    AiosmtpdServer::Options o = options(Auth::LoginAndPlain);
    o.refuseEhlo = true;
    QTest::newRow("EHLO refused: HELO, no AUTH")
        << o << true << "secret" << int(stSendMail) << "response ssHelo 250 peer.test\r\n"
        << QStringList() << QString();
    o = options(Auth::None);
    o.refusedRecipients = QStringList{"bob@y.org"};
    QTest::newRow("recipient refused")
        << o << false << "secret" << int(stFailed)
        << "response ssRcptTo 550 5.1.1 <bob@y.org>: Recipient address rejected: User "
           "unknown\r\n"
        << QStringList() << "-";
    o = options(Auth::None);
    o.dataReply = "554 5.7.1 Rejected for policy reasons";
    QTest::newRow("message text refused")
        << o << false << "secret" << int(stFailed)
        << "response ssSendMessage 554 5.7.1 Rejected for policy reasons\r\n"
        << QStringList() << "-";
    o = options(Auth::None);
    o.dropInDataRecipients = QStringList{"bob@y.org"};
    QTest::newRow("connection dropped instead of the reply to the text")
        << o << false << "secret" << int(stFailed) << "error 10054 Connection reset by peer"
        << QStringList() << "-";
}

void TestSmtpClient::aiosmtpd_interoperates()
{
    QFETCH(AiosmtpdServer::Options, options);
    QFETCH(bool, enableAuth);
    QFETCH(QString, password);
    QFETCH(int, task);
    QFETCH(QString, event);
    QFETCH(QStringList, attempts);
    QFETCH(QString, login);

    AiosmtpdServer server(options);
    QVERIFY2(server.start(), qPrintable(server.error()));
    const bool implicit = options.tls == AiosmtpdServer::Tls::Implicit;
    // One client takes the authority from the default every new client starts with.
    if (implicit)
        TIpSmtpClient::setDefaultExtraCaCertificates(server.caCertificates());
    const auto noDefault = qScopeGuard([] { TIpSmtpClient::setDefaultExtraCaCertificates({}); });
    bv::test::TestClock clock;
    std::unique_ptr<TIpSmtpClient> client(implicit ? new ImplicitTlsClient(clock)
                                                   : new TIpSmtpClient(clock));
    if (!implicit)
        client->setExtraCaCertificates(server.caCertificates());
    client->setDomain("client.test");
    client->setUserID("user");
    client->setPassword(password);
    client->setEnableAuth(enableAuth);
    client->setTimeLimits(shortLimits(10000));
    Recorder rec;
    rec.attach(*client);
    bv::compose::TIpMailMessage& m = client->message();
    bv::compose::ComposeMessage(
        m, {"Ann <ann@x.com>", "Hi", ".first line\n..second\nend", "<p>Hi</p>"}, "", "", "");
    m.setMailTo({"\"Bob B.\" <bob@y.org>"});
    m.setBcc({"dee@w.com"});
    const QStringList fields = m.userFields();
    m.setUserFields(fields + QStringList{"X-Mailer: Internet Professional v1.15"});
    const QByteArray text = m.Encode(); // Bcc included: the client sets it aside
    m.setUserFields(fields);

    client->SendMail(server.server(), false);
    QVERIFY(runUntilIdle(clock, *client));
    QVERIFY2(rec.tasks == QList<int>{task}, qPrintable(rec.events.join('|')));
    if (!event.isEmpty())
        QVERIFY2(rec.events.contains(event), qPrintable(rec.events.join('|')));
    QCOMPARE(authAttemptsSeen(server), attempts);
    const QList<bv::test::ReceivedMail> mails = server.messages();
    if (login == "-") {
        QVERIFY(mails.isEmpty());
        return;
    }
    QCOMPARE(mails.size(), 1);
    QCOMPARE(mails[0].mailFrom, QString("ann@x.com"));
    QCOMPARE(mails[0].rcptTos, (QStringList{"bob@y.org", "dee@w.com"}));
    QVERIFY(!mails[0].data.contains("Bcc:"));
    QCOMPARE(mails[0].data, QByteArray(text).replace("Bcc: dee@w.com\r\n", ""));
    QCOMPARE(mails[0].login, login);
    QCOMPARE(mails[0].tls, options.tls != AiosmtpdServer::Tls::None);
    QCOMPARE(mails[0].helo, QString("client.test"));
}

void TestSmtpClient::tlsFailure_sendsNoPassword_data()
{
    using Tls = AiosmtpdServer::Tls;
    QTest::addColumn<int>("tls");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("trusted");
    QTest::addColumn<QString>("event"); // how the event begins
    QTest::addColumn<QString>("why");   // what it says
    const QString starttls = "error 10053 The TLS handshake with 127.0.0.1 failed: ";
    const QString implicit = "connectError 10053 The TLS handshake with 127.0.0.1 failed: ";
    const QString wrongName =
        "The host name did not match any of the valid hosts for this certificate";
    const QString unknownCa =
        "The issuer certificate of a locally looked up certificate could not be found";
    QTest::newRow("STARTTLS, certificate for another host")
        << int(Tls::StartTls) << QStringList{"mail.example.test"} << true << starttls << wrongName;
    QTest::newRow("STARTTLS, unknown authority")
        << int(Tls::StartTls) << QStringList{"127.0.0.1"} << false << starttls << unknownCa;
    QTest::newRow("implicit TLS, certificate for another host")
        << int(Tls::Implicit) << QStringList{"mail.example.test"} << true << implicit << wrongName;
    QTest::newRow("implicit TLS, unknown authority")
        << int(Tls::Implicit) << QStringList{"127.0.0.1"} << false << implicit << unknownCa;
}

void TestSmtpClient::tlsFailure_sendsNoPassword()
{
    QFETCH(int, tls);
    QFETCH(QStringList, names);
    QFETCH(bool, trusted);
    QFETCH(QString, event);
    QFETCH(QString, why);

    AiosmtpdServer::Options o;
    o.auth = AiosmtpdServer::Auth::LoginAndPlain; // offered in the clear too
    o.tls = AiosmtpdServer::Tls(tls);
    o.certificateNames = names;
    AiosmtpdServer server(o);
    QVERIFY2(server.start(), qPrintable(server.error()));
    bv::test::TestClock clock;
    std::unique_ptr<TIpSmtpClient> client(o.tls == AiosmtpdServer::Tls::Implicit
                                              ? new ImplicitTlsClient(clock)
                                              : new TIpSmtpClient(clock));
    if (trusted)
        client->setExtraCaCertificates(server.caCertificates());
    client->setUserID("user");
    client->setPassword("secret");
    client->setEnableAuth(true);
    Recorder rec;
    rec.attach(*client);
    setPlainMessage(client->message(), "Ann <ann@x.com>", {"bob@y.org"}, {"Hello"});
    client->SendMail(server.server(), false);
    QVERIFY(runUntilIdle(clock, *client));
    QCOMPARE(rec.tasks, QList<int>{stFailed});
    QVERIFY2(rec.last().startsWith(event) && rec.last().contains(why), qPrintable(rec.last()));
    QVERIFY(server.authAttempts().isEmpty());
    QVERIFY(server.messages().isEmpty());
}

void TestSmtpClient::password_goesInTheClearOnlyToLoopbackOrWhenAllowed_data()
{
    using Tls = AiosmtpdServer::Tls;
    QTest::addColumn<int>("tls");
    QTest::addColumn<bool>("distant");
    QTest::addColumn<bool>("allowPlain");
    QTest::addColumn<QStringList>("attempts"); // AUTH attempts the server saw
    QTest::addColumn<bool>("sent");
    const QStringList clear = {"LOGIN user accepted clear"};
    const QStringList tls = {"LOGIN user accepted tls"};
    QTest::newRow("distant, no STARTTLS: stopped before AUTH")
        << int(Tls::None) << true << false << QStringList() << false;
    QTest::newRow("distant, no STARTTLS, allowed") << int(Tls::None) << true << true << clear << true;
    QTest::newRow("distant, STARTTLS") << int(Tls::StartTls) << true << false << tls << true;
    QTest::newRow("distant, implicit TLS") << int(Tls::Implicit) << true << false << tls << true;
    QTest::newRow("loopback, no STARTTLS") << int(Tls::None) << false << false << clear << true;
}

void TestSmtpClient::password_goesInTheClearOnlyToLoopbackOrWhenAllowed()
{
    QFETCH(int, tls);
    QFETCH(bool, distant);
    QFETCH(bool, allowPlain);
    QFETCH(QStringList, attempts);
    QFETCH(bool, sent);

    AiosmtpdServer::Options o;
    o.auth = AiosmtpdServer::Auth::LoginAndPlain;
    o.tls = AiosmtpdServer::Tls(tls);
    AiosmtpdServer server(o);
    QVERIFY2(server.start(), qPrintable(server.error()));
    bv::test::TestClock clock;
    const bool implicit = o.tls == AiosmtpdServer::Tls::Implicit;
    std::unique_ptr<TIpSmtpClient> client(distant ? new DistantClient(clock, implicit)
                                                  : new TIpSmtpClient(clock));
    client->setExtraCaCertificates(server.caCertificates());
    client->setUserID("user");
    client->setPassword("secret");
    client->setEnableAuth(true);
    client->setAllowPlainPassword(allowPlain);
    Recorder rec;
    rec.attach(*client);
    setPlainMessage(client->message(), "Ann <ann@x.com>", {"bob@y.org"}, {"Hello"});
    client->SendMail(server.server(), false);
    QVERIFY(runUntilIdle(clock, *client));

    QCOMPARE(authAttemptsSeen(server), attempts);
    QCOMPARE(rec.tasks, QList<int>{sent ? stSendMail : stFailed});
    QCOMPARE(client->passwordWithheld(), !sent);
    if (!sent) {
        QCOMPARE(rec.last(), "error 10053 " + passwordWithheldText("127.0.0.1"));
        QVERIFY(server.messages().isEmpty());
    } else {
        QVERIFY(server.waitForMessages(1));
    }
}

void TestSmtpClient::envelopeAddress_isTheAddressWhateverTheName_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("envelope");
    QTest::newRow("bare") << "bob@y.org" << "<bob@y.org>";
    QTest::newRow("escaped quote and bracket in the name")
        << R"("a\"<e@evil.test> L" <r1@x.org>)" << "<r1@x.org>";
    QTest::newRow("markup in the name") << R"("<b>bold</b> L" <r2@x.org>)" << "<r2@x.org>";
    QTest::newRow("escaped backslash ends the name") << R"("a\\" <r3@x.org>)" << "<r3@x.org>";
    QTest::newRow("comment after the address") << R"("Ann A." <ann@x.com> (see <w@x.org>))"
                                                << "<ann@x.com>";
    QTest::newRow("unquoted name with brackets: the last pair") << "a<e@evil.test> <r4@x.org>"
                                                               << "<r4@x.org>";
    QTest::newRow("quotes that do not pair: the last pair")
        << R"("a"<e@evil.test>" <r5@x.org>)" << "<r5@x.org>";
    QTest::newRow("doubled brackets") << R"("F" <<a@b.c>>)" << "<a@b.c>";
    QTest::newRow("bracket never closed") << "<a@b.c" << "<a@b.c>";
    QTest::newRow("empty") << "" << "";
}

void TestSmtpClient::envelopeAddress_isTheAddressWhateverTheName()
{
    QFETCH(QString, text);
    QFETCH(QString, envelope);
    QCOMPARE(envelopeAddress(text), envelope);
}

// The run hands the row's address over by itself: the To text, whatever it
// holds, never decides where the message goes.
void TestSmtpClient::envelopeRecipients_replaceTheToText()
{
    ScriptedRun run(okToEnd);
    QVERIFY2(run.server.start(), qPrintable(run.server.error()));
    setPlainMessage(run.client.message(), "Ann <ann@x.com>", {"\"x\" <e@evil.test>"}, {"Hello"});
    run.client.setEnvelopeRecipients({"bob@y.org"});
    run.client.SendMail(run.server.server(), false);
    QVERIFY(runUntilIdle(run.clock, run.client));
    QVERIFY(run.server.waitForLines(3));
    QCOMPARE(chopped(run.server.received()).mid(1, 2),
             QStringList({"MAIL FROM:<ann@x.com>", "RCPT TO:<bob@y.org>"}));
    // A new message starts without them.
    QCOMPARE(run.client.envelopeRecipients(), QStringList());

    bv::test::TestClock clock;
    TIpSmtpClient client(clock);
    setPlainMessage(client.message(), "Ann <ann@x.com>", {"bob@y.org"}, {"Hello"});
    client.setEnvelopeRecipients({"bob@y.org\r\nRSET"});
    try {
        client.SendMail(run.server.server(), false);
        QFAIL("SendMail went ahead");
    } catch (const SmtpError& e) {
        QVERIFY(e.recipientAtFault());
    }
}

void TestSmtpClient::largeMessage_arrivesWholeWithProgress()
{
    AiosmtpdServer server;
    QVERIFY2(server.start(), qPrintable(server.error()));
    bv::test::TestClock clock;
    TIpSmtpClient client(clock);
    Recorder rec;
    rec.attach(client);
    // Past the staging threshold: the text is read from a temporary file.
    QString plain;
    for (int i = 0; i < 120000; ++i)
        plain += QString(".%1 a line of the plain body that takes some room\n").arg(i);
    bv::compose::TIpMailMessage& m = client.message();
    bv::compose::ComposeMessage(m, {"Ann <ann@x.com>", "Big", plain, "<p>Big</p>"}, "", "", "");
    m.setMailTo({"bob@y.org"});
    m.setUserFields({"X-Mailer: Internet Professional v1.15"});
    const QByteArray text = m.Encode();
    QVERIFY(text.size() > 5 * 1024 * 1024);

    client.SendMail(server.server(), false);
    QVERIFY(runUntilIdle(clock, client, 60000));
    QCOMPARE(rec.tasks, QList<int>{stSendMail});
    QVERIFY(server.waitForMessages(1));
    QCOMPARE(server.messages().value(0).data, text);
    QVERIFY(rec.progress.size() > 10);
    QVERIFY(std::is_sorted(rec.progress.cbegin(), rec.progress.cend()));
    QCOMPARE(rec.progress.last(), qint64(text.size()));
    QCOMPARE(rec.progress.value(rec.progress.size() - 2), qint64(text.size()));
}

QTEST_GUILESS_MAIN(TestSmtpClient)
#include "tst_SmtpClient.moc"

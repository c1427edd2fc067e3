#include "compose/ComposeMessage.h"
#include "compose/MailMessage.h"
#include "data/Database.h"
#include "ExchangerPeers.h"
#include "Fuzz.h"
#include "send/DeliverSpool.h"
#include "send/MailingRun.h"
#include "send/SpoolMessage.h"
#include "TempProgramFolder.h"
#include "TestClock.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QtTest>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace bv;
using namespace bv::send;

namespace {

const QString kSender = QStringLiteral("Sam Sender <sam@origin.test>");

// Makes a file undeletable, as an immutable file on a real file system is,
// for as long as the object lives.
class Immutable
{
public:
    explicit Immutable(const QString& path) : m_path(path) { m_on = set(true); }
    ~Immutable()
    {
        if (m_on)
            set(false);
    }
    bool on() const { return m_on; }

private:
    bool set(bool on)
    {
        const int fd = ::open(QFile::encodeName(m_path).constData(), O_RDONLY);
        int flags = 0;
        bool ok = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ok && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0)
            ::close(fd);
        return ok;
    }
    QString m_path;
    bool m_on = false;
};

void setAge(const QString& path, int seconds)
{
    const QDateTime when = QDateTime::currentDateTime().addSecs(-seconds);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.setFileTime(when, QFileDevice::FileModificationTime));
}

QByteArray contents(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
}

// A plain message of several pieces of the spool reader, with full stops
// at line starts everywhere, a lone one included.
QByteArray largeMessage(const QString& to)
{
    QByteArray text =
        "From: " + kSender.toUtf8() + "\r\nTo: " + to.toUtf8() + "\r\nSubject: Large\r\n\r\n";
    QRandomGenerator random(7);
    while (text.size() < 3 * 1024 * 1024) {
        const int kind = int(random.bounded(6));
        QByteArray line(int(random.bounded(kind == 0 ? 998 : 120)), 'a' + char(random.bounded(26)));
        if (kind == 1)
            line = "." + line;
        else if (kind == 2)
            line = ".";
        text += line + "\r\n";
    }
    return text;
}

// One SMTP conversation from a script, on port 25 of a loopback address:
// every command gets the reply given for its whole line, else for its verb
// ("250 OK" when none, no reply at all for an empty one); what the client
// said is kept.
class ScriptedExchanger
{
public:
    ScriptedExchanger(QByteArray greeting, QMap<QByteArray, QByteArray> replies)
        : m_greeting(std::move(greeting)), m_replies(std::move(replies))
    {
        m_address = test::freeExchangerAddress();
        m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_port = htons(25);
        ::inet_pton(AF_INET, m_address.toLatin1().constData(), &in.sin_addr);
        m_listening = ::bind(m_listener, reinterpret_cast<sockaddr*>(&in), sizeof in) == 0 &&
                      ::listen(m_listener, 4) == 0;
        m_thread = std::thread([this] { serve(); });
    }
    ~ScriptedExchanger()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_listener);
    }
    bool listening() const { return m_listening; }
    QString address() const { return m_address; }
    QStringList commands()
    {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }

private:
    bool readable(int fd)
    {
        pollfd p{fd, POLLIN, 0};
        while (!m_stop)
            if (::poll(&p, 1, 50) > 0)
                return true;
        return false;
    }
    void say(int fd, const QByteArray& reply)
    {
        if (!reply.isEmpty())
            ::send(fd, reply.constData(), size_t(reply.size()), MSG_NOSIGNAL);
    }
    void serve()
    {
        if (!m_listening || !readable(m_listener))
            return;
        const int fd = ::accept(m_listener, nullptr, nullptr);
        say(fd, m_greeting);
        QByteArray buffer;
        bool inData = false;
        char chunk[4096];
        while (readable(fd)) {
            const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
            if (got <= 0)
                break;
            buffer.append(chunk, got);
            qsizetype end;
            while ((end = buffer.indexOf("\r\n")) >= 0) {
                const QByteArray line = buffer.left(end);
                buffer.remove(0, end + 2);
                if (inData && line != ".")
                    continue;
                inData = false;
                {
                    std::lock_guard lock(m_mutex);
                    m_commands << QString::fromLatin1(line);
                }
                const QByteArray verb = line.split(' ').first().split(':').first().toUpper();
                const QByteArray fallback = verb == "DATA"   ? "354 Go on\r\n"
                                            : verb == "QUIT" ? "221 Bye\r\n"
                                                             : "250 OK\r\n";
                const QByteArray reply = m_replies.value(line, m_replies.value(verb, fallback));
                inData = verb == "DATA" && reply.startsWith("354");
                say(fd, reply);
            }
        }
        ::close(fd);
    }

    QByteArray m_greeting;
    QMap<QByteArray, QByteArray> m_replies;
    QString m_address;
    int m_listener = -1;
    bool m_listening = false;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    QStringList m_commands;
    std::thread m_thread;
};

} // namespace

class TestDeliverSpool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void deliver_data();
    void deliver();
    void conversation_data();
    void conversation();
    void addressHeaders_reachTheWireAsStored_data();
    void addressHeaders_reachTheWireAsStored();
    void controlCharacterInAnAddress_isNeverSent();
    void recipientNames_neverBendTheAddress_fuzzed();
    void spoolHeader_fuzzed();
    void heldLock_leavesFileAndLockAlone();
    void undeletableFile_isNeverDeliveredAgain();
    void unwritableErrorReport_isShownAndTheWorkerGoesOn();
    void recordDeliveryFailure_readsTheFileNameOnly_data();
    void recordDeliveryFailure_readsTheFileNameOnly();
    void lockFile_data();
    void lockFile();
    void racingLockTakers_oneWins_data();
    void racingLockTakers_oneWins();

private:
    int addQueueRow(const QString& email);
    QString spoolPath(int emailNo, bool report = false) const;
    void writeSpool(const QString& path, const QString& kind, const QString& to);
    QStringList queueRows();
    TSpoolDelivery delivery();

    QTemporaryDir m_authorityFolder;
    test::TestAuthority m_authority;
    test::Dnsmasq m_dns;
    std::map<QString, std::unique_ptr<test::Exchanger>> m_exchangers;
    test::SmtpSink m_sink;
    test::TestClock m_clock;
    std::unique_ptr<test::TempProgramFolder> m_folder;
    std::unique_ptr<data::Connection> m_db;
    QStringList m_shown;
};

void TestDeliverSpool::initTestCase()
{
    QVERIFY2(m_authority.create(m_authorityFolder.path()), qPrintable(m_authority.error()));
    const std::pair<const char*, test::Exchanger::Mode> peers[] = {
        {"accept", test::Exchanger::Accept},    {"fifth", test::Exchanger::Accept},
        {"refuse", test::Exchanger::Refuse},    {"tls", test::Exchanger::StartTls},
        {"badtls", test::Exchanger::BrokenTls}, {"stall", test::Exchanger::Stall}};
    for (const auto& [name, mode] : peers) {
        auto peer = std::make_unique<test::Exchanger>();
        QVERIFY2(peer->start(mode, &m_authority), qPrintable(peer->error()));
        m_exchangers[QString::fromLatin1(name)] = std::move(peer);
    }
    QVERIFY2(m_sink.start(), qPrintable(m_sink.error()));
    QStringList closed;
    for (int i = 0; i < 4; ++i)
        closed << test::freeExchangerAddress();
    auto at = [this](const char* name) {
        return m_exchangers.at(QString::fromLatin1(name))->address();
    };
    auto mx = [](const QString& domain, const QString& host, int preference) {
        return QStringLiteral("--mx-host=%1,%2,%3").arg(domain, host).arg(preference);
    };
    QVERIFY2(
        m_dns.start({mx("accept.test", at("accept"), 10), mx("second.test", closed[0], 10),
                     mx("second.test", m_sink.address(), 20), mx("refused.test", at("refuse"), 10),
                     mx("refused.test", at("accept"), 20), mx("none.test", closed[0], 10),
                     mx("none.test", closed[1], 20), mx("five.test", closed[0], 10),
                     mx("five.test", closed[1], 20), mx("five.test", closed[2], 30),
                     mx("five.test", closed[3], 40), mx("five.test", at("fifth"), 50),
                     mx("stall.test", at("stall"), 10), mx("stall.test", m_sink.address(), 20),
                     mx("tls.test", at("tls"), 10), mx("badtls.test", at("badtls"), 10)}),
        qPrintable(m_dns.error()));
}

void TestDeliverSpool::init()
{
    for (auto& [name, peer] : m_exchangers)
        peer->clear();
    m_shown.clear();
    m_folder = std::make_unique<test::TempProgramFolder>();
    QVERIFY(QDir().mkpath(m_folder->file(QStringLiteral("spool"))));
    m_db = std::make_unique<data::Connection>(QStringLiteral("LocalConnect"));
    m_db->open(m_folder->path());
}

void TestDeliverSpool::cleanup()
{
    m_db.reset();
    m_folder.reset();
}

int TestDeliverSpool::addQueueRow(const QString& email)
{
    m_db->execute(
        QStringLiteral("insert into EmailBeingSent (FirstName,LastName,Email,List,Sent,Error,"
                       "Salutation,EmailDate) values ('Ann','Smith',%1,'L1',True,False,'Ms.',"
                       "'2026-12-08 13:15:33')")
            .arg(data::quoted(email)));
    return m_db->scalar(QStringLiteral("select max(EmailNo) from EmailBeingSent")).toInt();
}

QString TestDeliverSpool::spoolPath(int emailNo, bool report) const
{
    return m_folder->file(
        QStringLiteral("spool/%1BVC_%2_.eml").arg(report ? "ERR_" : "").arg(emailNo));
}

void TestDeliverSpool::writeSpool(const QString& path, const QString& kind, const QString& to)
{
    if (kind == QLatin1String("composed") || kind == QLatin1String("report")) {
        compose::TIpMailMessage message(m_clock);
        compose::ComposeMessage(
            message,
            {kSender, QStringLiteral("Spring offer"),
             QStringLiteral("Dear {{-firstname-}},\r\n.hidden line\r\n.\r\nBye"),
             QStringLiteral("<p>Dear {{-firstname-}}</p>")},
            QStringLiteral("Ms."), QStringLiteral("Ann"), QStringLiteral("Smith"));
        message.setMailTo({to});
        message.SaveToFile(path);
        return;
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    if (kind == QLatin1String("large"))
        file.write(largeMessage(to));
    else // no To field
        file.write("From: " + kSender.toUtf8() + "\r\nSubject: Lost\r\n\r\nText\r\n");
}

QStringList TestDeliverSpool::queueRows()
{
    QStringList rows;
    for (const QVariantList& r :
         m_db
             ->select(QStringLiteral(
                 "select EmailNo, Sent, Error, ErrorMsg from EmailBeingSent order by EmailNo"))
             .rows)
        rows << QStringLiteral("%1|%2|%3|%4")
                    .arg(r[0].toString(), r[1].toBool() ? "True" : "False",
                         r[2].toBool() ? "True" : "False", r[3].toString());
    return rows;
}

TSpoolDelivery TestDeliverSpool::delivery()
{
    return TSpoolDelivery(*m_db, m_clock, {m_dns.server(), QStringLiteral("brevicast.test")},
                          [this](const QString& text) { m_shown << text; });
}

void TestDeliverSpool::deliver_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QString>("storedBy"); // the exchanger that must hold it, if one can tell
    QTest::addColumn<bool>("tls");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<bool>("report");

    const QStringList untouched = {"1|True|False|"};
    QTest::newRow("delivered as stored") << "accept.test"
                                         << "composed"
                                         << ""
                                         << "accept" << false << untouched << false;
    QTest::newRow("large, full stops at line starts") << "accept.test"
                                                      << "large"
                                                      << ""
                                                      << "accept" << false << untouched << false;
    QTest::newRow("first refuses the connection, second accepts")
        << "second.test"
        << "composed"
        << ""
        << "" << false << untouched << false;
    QTest::newRow("silent first exchanger, second accepts") << "stall.test"
                                                            << "composed"
                                                            << ""
                                                            << "" << false << untouched << false;
    QTest::newRow("STARTTLS offered: used") << "tls.test"
                                            << "composed"
                                            << ""
                                            << "tls" << true << untouched << false;
    QTest::newRow("handshake fails: again without TLS") << "badtls.test"
                                                        << "composed"
                                                        << ""
                                                        << "badtls" << false << untouched << false;
    const QString refusal =
        QStringLiteral("<ann@refused.test>: the user's mailbox is unavailable\r\n");
    QTest::newRow("recipient refused: no second exchanger")
        << "refused.test"
        << "composed" << refusal << "" << false << QStringList{"1|True|True|" + refusal} << true;
    const QString none = QStringLiteral("No mail exchanger of none.test accepted a connection.");
    QTest::newRow("no exchanger accepts a connection")
        << "none.test"
        << "composed" << none << "" << false << QStringList{"1|True|True|" + none} << true;
    const QString five = QStringLiteral("No mail exchanger of five.test accepted a connection.");
    QTest::newRow("five exchangers: the fifth is not tried")
        << "five.test"
        << "composed" << five << "" << false << QStringList{"1|True|True|" + five} << true;
    const QString notFound = QStringLiteral("Email Address Domain Name not found.");
    QTest::newRow("domain without exchanger")
        << "nx.test"
        << "composed" << notFound << "" << false << QStringList{"1|True|True|" + notFound} << true;
    const QString noTo =
        QStringLiteral("The message file \"BVC_1_.eml\" names no recipient in its To field.");
    QTest::newRow("no recipient: recorded, not passed as success")
        << "accept.test"
        << "noTo" << noTo << "" << false << QStringList{"1|True|True|" + noTo} << true;
    QTest::newRow("failed error report: a copied row, no further file")
        << "nx.test"
        << "report" << notFound << "" << false
        << QStringList{"1|True|False|",
                       "2|True|True|Error while emailing error for Email # 1: " + notFound}
        << false;
}

void TestDeliverSpool::deliver()
{
    QFETCH(QString, domain);
    QFETCH(QString, kind);
    QFETCH(QString, error);
    QFETCH(QString, storedBy);
    QFETCH(bool, tls);
    QFETCH(QStringList, rows);
    QFETCH(bool, report);

    const QString recipient = QStringLiteral("ann@") + domain;
    const int emailNo = addQueueRow(recipient);
    const bool isReport = kind == QLatin1String("report");
    const QString path = spoolPath(emailNo, isReport);
    writeSpool(path, kind, QStringLiteral("Ann Smith <%1>").arg(recipient));
    const QByteArray stored = contents(path);

    QElapsedTimer timer;
    timer.start();
    TSpoolDelivery worker = delivery();
    const TSpoolDelivery::WorkerResult result = worker.DeliverAndRecord(path);
    QVERIFY2(result.outcome.delivered == error.isEmpty(), qPrintable(result.outcome.errorText));
    QCOMPARE(result.outcome.errorText, error);
    QCOMPARE(result.raiseError, !error.isEmpty());
    if (kind != QLatin1String("noTo"))
        QCOMPARE(result.outcome.recipient, recipient);
    if (domain == QLatin1String("stall.test"))
        QVERIFY2(timer.elapsed() >= 2900 && timer.elapsed() < 6000,
                 qPrintable(QString::number(timer.elapsed())));

    QVERIFY(!QFile::exists(path));
    QVERIFY(!QFile::exists(path + ".lock"));
    QCOMPARE(queueRows(), rows);
    QCOMPARE(m_shown, QStringList());

    for (auto& [name, peer] : m_exchangers) {
        const QList<QByteArray> messages = peer->messages();
        QCOMPARE(messages.size(), name == storedBy ? 1 : 0);
        if (name != storedBy)
            continue;
        QCOMPARE(messages.first(), stored);
        const QJsonObject envelope = peer->envelopes().first();
        QCOMPARE(envelope["mail_from"].toString(), QString("sam@origin.test"));
        QCOMPARE(envelope["rcpt_tos"].toArray(), QJsonArray{recipient});
        QCOMPARE(envelope["helo"].toString(), QString("brevicast.test"));
        QCOMPARE(envelope["tls"].toBool(), tls);
    }

    const QString reportPath = ErrorReportPath(path);
    QCOMPARE(QFile::exists(reportPath), report);
    if (isReport)
        QVERIFY(!QFile::exists(ErrorReportPath(path)));
    if (report) {
        QString readError;
        const auto back = SpoolMessage::read(reportPath, &readError);
        QVERIFY2(back, qPrintable(readError));
        QCOMPARE(back->from(), kSender);
        QCOMPARE(back->mailTo(), QStringList{kSender});
        const QString to =
            kind == QLatin1String("noTo") ? QString() : "Ann Smith <" + recipient + ">";
        QCOMPARE(back->subject(), (to + "  Error: " + error.trimmed()).trimmed());
        const QByteArray text = contents(reportPath);
        QVERIFY(text.contains(("\r\n\r\nError when sending mail to: " + to + "\r\n").toUtf8()));
        QVERIFY(text.contains(("Original Message had Subject: " +
                               QString(kind == "noTo" ? "Lost" : "Spring offer") + "\r\n")
                                  .toUtf8()));
        QVERIFY(text.contains(("\r\nError: " + error).toUtf8()));
    }
}

void TestDeliverSpool::conversation_data()
{
    using Replies = QMap<QByteArray, QByteArray>;
    QTest::addColumn<QByteArray>("greeting");
    QTest::addColumn<Replies>("replies");
    QTest::addColumn<bool>("done");
    QTest::addColumn<QString>("error");
    QTest::addColumn<QStringList>("commands");

    const QByteArray hello = "220 mx.test ready\r\n";
    const QStringList start = {"EHLO brevicast.test", "RSET", "MAIL FROM: <sam@origin.test>"};
    const QStringList rcpts = {"RCPT TO:<ann@x.test>", "RCPT TO:<bob@x.test>"};
    QTest::newRow("delivered, one of two recipients refused")
        << hello << Replies{{"RCPT TO:<ann@x.test>", "550 5.1.1 No ann\r\n"}} << true << ""
        << start + rcpts + QStringList{"DATA", ".", "QUIT"};
    QTest::newRow("EHLO refused, HELO accepted")
        << hello << Replies{{"EHLO", "502 5.5.2 Not here\r\n"}} << true << ""
        << QStringList{"EHLO brevicast.test", "HELO brevicast.test", "RSET",
                       "MAIL FROM: <sam@origin.test>"} +
               rcpts + QStringList{"DATA", ".", "QUIT"};
    QTest::newRow("greeting refused: not done")
        << QByteArray("554 5.3.2 Go away\r\n") << Replies{} << false << "" << QStringList{"QUIT"};
    QTest::newRow("garbage greeting: not done")
        << QByteArray("hello there\r\n") << Replies{} << false << "" << QStringList{};
    QTest::newRow("multi-line refusal: codes and enhanced codes left out, then RSET")
        << hello << Replies{{"RCPT", "550-5.1.1 No such user\r\n550 5.1.1 here: it's 'bob'\r\n"}}
        << true << "No such user\r\nhere: it's 'bob'\r\n"
        << start + rcpts + QStringList{"RSET", "QUIT"};
    QTest::newRow("a bare code is the text, never success")
        << hello << Replies{{"RCPT", "550\r\n"}} << true << "550\r\n"
        << start + rcpts + QStringList{"RSET", "QUIT"};
    QTest::newRow("sender refused: no RSET after it")
        << hello << Replies{{"MAIL", "451 4.3.0 Try later\r\n"}} << true << "Try later\r\n"
        << start + QStringList{"QUIT"};
    QTest::newRow("end of data refused")
        << hello << Replies{{".", "554 5.7.1 Looks like spam\r\n"}} << true << "Looks like spam\r\n"
        << start + rcpts + QStringList{"DATA", ".", "RSET", "QUIT"};
    QTest::newRow("silence after MAIL FROM: the last reply's text")
        << hello << Replies{{"RSET", "250 2.0.0 Flushed\r\n"}, {"MAIL", ""}} << true
        << "Flushed\r\n"
        << start;
    QTest::newRow("garbage reply: the last reply's text")
        << hello << Replies{{"RSET", "250 2.0.0 Flushed\r\n"}, {"MAIL", "OK then\r\n"}} << true
        << "Flushed\r\n"
        << start;
}

void TestDeliverSpool::conversation()
{
    using Replies = QMap<QByteArray, QByteArray>;
    QFETCH(QByteArray, greeting);
    QFETCH(Replies, replies);
    QFETCH(bool, done);
    QFETCH(QString, error);
    QFETCH(QStringList, commands);
    ScriptedExchanger peer(greeting, replies);
    QVERIFY(peer.listening());
    const QString path = spoolPath(1);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("From: " + kSender.toUtf8() +
               "\r\nTo: Ann <ann@x.test>\r\nCc: bob@x.test\r\n\r\nHi\r\n");
    file.close();
    QString readError;
    const auto message = SpoolMessage::read(path, &readError);
    QVERIFY2(message, qPrintable(readError));

    const ExchangerAnswer answer =
        SendToExchanger(peer.address(), *message, QStringLiteral("brevicast.test"));
    QCOMPARE(answer.done, done);
    QCOMPARE(answer.errorText, error);
    QCOMPARE(peer.commands(), commands);
}

void TestDeliverSpool::addressHeaders_reachTheWireAsStored_data()
{
    QTest::addColumn<QByteArray>("to");
    QTest::addColumn<QString>("rcpt");
    // An encoded word is display text: it is never decoded into an address.
    QTest::newRow("encoded word as the address")
        << QByteArray("Ann <=?utf-8?q?ann=0D=0ARSET?=@x.test>") << "RCPT TO:<=?utf-8?q?ann=0D=0ARSET?=@x.test>";
    QTest::newRow("encoded word that decodes to an address")
        << QByteArray("=?utf-8?q?=3Ce=40evil=2Etest=3E?=") << "RCPT TO:<=?utf-8?q?=3Ce=40evil=2Etest=3E?=>";
    QTest::newRow("escaped quote and brackets in the name")
        << QByteArray(R"("a\"<e@evil.test> L" <ann@x.test>)") << "RCPT TO:<ann@x.test>";
    QTest::newRow("brackets in a comment") << QByteArray("<ann@x.test> (not <e@evil.test>)")
                                           << "RCPT TO:<ann@x.test>";
}

void TestDeliverSpool::addressHeaders_reachTheWireAsStored()
{
    QFETCH(QByteArray, to);
    QFETCH(QString, rcpt);
    ScriptedExchanger peer("220 mx.test ready\r\n", {});
    QVERIFY(peer.listening());
    const QString path = spoolPath(1);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("From: " + kSender.toUtf8() + "\r\nTo: " + to + "\r\n\r\nHi\r\n");
    file.close();
    QString readError;
    const auto message = SpoolMessage::read(path, &readError);
    QVERIFY2(message, qPrintable(readError));
    const ExchangerAnswer answer = SendToExchanger(peer.address(), *message, QStringLiteral("brevicast.test"));
    QVERIFY(answer.done);
    QCOMPARE(answer.errorText, QString());
    QCOMPARE(peer.commands().mid(3, 2), QStringList({rcpt, "DATA"}));
}

// A control character in a stored address fails the message before any
// exchanger is asked; nothing reaches a wire.
void TestDeliverSpool::controlCharacterInAnAddress_isNeverSent()
{
    const int emailNo = addQueueRow(QStringLiteral("ann@accept.test"));
    const QString path = spoolPath(emailNo);
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("From: " + kSender.toUtf8() + "\r\nTo: Ann <ann@accept.test>, <bob" + QByteArray(1, '\0')
               + "RSET@accept.test>\r\n\r\nHi\r\n");
    file.close();
    TSpoolDelivery worker = delivery();
    const TSpoolDelivery::WorkerResult result = worker.DeliverAndRecord(path);
    QVERIFY(!result.outcome.delivered);
    QVERIFY2(result.outcome.errorText.contains("control character"), qPrintable(result.outcome.errorText));
    QCOMPARE(queueRows(), QStringList{"1|True|True|" + result.outcome.errorText});
    for (auto& [name, peer] : m_exchangers)
        QCOMPARE(peer->messages().size(), 0);
}

// Whatever a recipient's name holds, in any of the quoted forms, the spool
// file's reader finds the row's address and nothing else.
void TestDeliverSpool::recipientNames_neverBendTheAddress_fuzzed()
{
    const QList<QByteArray> names = {R"(a"<e@evil.test>)", "<b>bold</b>", "x\\", "Smith, John",
                                     "Jos\xc3\xa9 \"J\" <j@e.test>", "=?utf-8?q?a=0D=0ARSET?=",
                                     "(c) <x@y.test>", "", "a\\\" <e@evil.test>, b"};
    const QString address = QStringLiteral("r1@example.org");
    const QString path = spoolPath(1);
    int round = 0;
    test::fuzz("recipient name", names, [&](const QByteArray& bytes) {
        if (QTest::currentTestFailed())
            return;
        const QString name = QString::fromUtf8(bytes);
        compose::TIpMailMessage message(m_clock);
        message.setFrom(kSender);
        message.setSubject(QStringLiteral("Offer"));
        const QString to = FormatRecipient(round++ % 6, {}, name, name, name, address);
        message.setMailTo({to});
        message.SaveToFile(path);
        QString error;
        const auto back = SpoolMessage::read(path, &error);
        QVERIFY2(back, qPrintable(error));
        QVERIFY2(back->recipientAddresses() == QStringList{address}, qPrintable(to));
    }, 3);
}

// Spool files damaged at random: read without fault, and no address read
// from them holds a line break.
void TestDeliverSpool::spoolHeader_fuzzed()
{
    QList<QByteArray> corpus;
    for (const QString& to : {QStringLiteral("\"a\\\"<e@evil.test> L\" <r1@example.org>"),
                              QStringLiteral("=?utf-8?B?Sm9zw6k=?= <r2@example.org>, c@d.test"),
                              QStringLiteral("Ann (note) <r3@example.org>")}) {
        writeSpool(spoolPath(1), QStringLiteral("composed"), to);
        corpus << contents(spoolPath(1));
    }
    const QString path = spoolPath(2);
    test::fuzz("spool header", corpus, [&](const QByteArray& bytes) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
            return;
        file.close();
        QString error;
        const auto message = SpoolMessage::read(path, &error);
        if (!message)
            return;
        for (const QString& a : message->recipientAddresses() + QStringList{message->fromAddress()})
            if (a.contains(u'\r') || a.contains(u'\n'))
                QFAIL(qPrintable("line break in " + a));
    }, 2);
}

void TestDeliverSpool::heldLock_leavesFileAndLockAlone()
{
    const int emailNo = addQueueRow(QStringLiteral("ann@accept.test"));
    const QString path = spoolPath(emailNo);
    writeSpool(path, QStringLiteral("composed"), QStringLiteral("ann@accept.test"));
    QVERIFY(TakeLockFile(path + ".lock", kLockAgeMinutes));
    setAge(path + ".lock", 4 * 60);
    const QDateTime lockTime = QFileInfo(path + ".lock").lastModified();

    TSpoolDelivery worker = delivery();
    const TSpoolDelivery::WorkerResult result = worker.DeliverAndRecord(path);
    QVERIFY(!result.outcome.delivered);
    QCOMPARE(result.outcome.errorText, QString());
    QVERIFY(!result.raiseError);
    QVERIFY(QFile::exists(path));
    QCOMPARE(QFileInfo(path + ".lock").lastModified(), lockTime);
    QCOMPARE(m_exchangers.at("accept")->messages().size(), 0);
    QCOMPARE(queueRows(), QStringList{"1|True|False|"});
}

void TestDeliverSpool::undeletableFile_isNeverDeliveredAgain()
{
    const int emailNo = addQueueRow(QStringLiteral("ann@accept.test"));
    const QString path = spoolPath(emailNo);
    writeSpool(path, QStringLiteral("composed"), QStringLiteral("ann@accept.test"));
    Immutable undeletable(path);
    QVERIFY2(undeletable.on(), "the file system must support immutable files");

    TSpoolDelivery worker = delivery();
    QVERIFY(worker.DeliverSpoolFile(path).delivered);
    QVERIFY(QFile::exists(path));
    QCOMPARE(contents(path + ".lock"), QByteArray("Attempted\r\n"));
    QVERIFY(SpoolFileFinished(path));
    QCOMPARE(ListSpoolFiles(m_folder->file("spool"), QStringLiteral("BVC_*.eml")), QStringList());

    // Handed out again, in this pass or a later one, even long after.
    for (int age : {0, 3600}) {
        setAge(path + ".lock", age);
        const DeliveryOutcome again = worker.DeliverSpoolFile(path);
        QVERIFY(!again.delivered);
        QCOMPARE(again.errorText, QString());
    }
    QCOMPARE(m_exchangers.at("accept")->messages().size(), 1);
}

void TestDeliverSpool::unwritableErrorReport_isShownAndTheWorkerGoesOn()
{
    const int emailNo = addQueueRow(QStringLiteral("ann@nx.test"));
    const QString path = spoolPath(emailNo);
    writeSpool(path, QStringLiteral("composed"), QStringLiteral("ann@nx.test"));
    QVERIFY(QDir().mkpath(ErrorReportPath(path))); // a folder where the report should go

    TSpoolDelivery worker = delivery();
    const TSpoolDelivery::WorkerResult result = worker.DeliverAndRecord(path);
    QVERIFY(result.raiseError);
    QCOMPARE(m_shown.size(), 1);
    QVERIFY2(m_shown.first().contains(QDir::toNativeSeparators(ErrorReportPath(path))),
             qPrintable(m_shown.first()));
    QVERIFY(!QFile::exists(path));
    QVERIFY(!QFile::exists(path + ".lock"));
    QCOMPARE(queueRows(), QStringList{"1|True|True|Email Address Domain Name not found."});
}

void TestDeliverSpool::recordDeliveryFailure_readsTheFileNameOnly_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("a message") << "spool/BVC_1_.eml"
                               << QStringList{"1|True|True|it's gone", "2|True|False|"};
    QTest::newRow("an error report")
        << "spool/ERR_BVC_2_.eml"
        << QStringList{"1|True|False|", "2|True|False|",
                       "3|True|True|Error while emailing error for Email # 2: it's gone"};
    QTest::newRow("a folder named like a spool file")
        << "BVC_2_.old/ERR_x/BVC_1_.eml" << QStringList{"1|True|True|it's gone", "2|True|False|"};
    QTest::newRow("a number that is not one")
        << "spool/BVC_1 or 1=1_.eml" << QStringList{"1|True|False|", "2|True|False|"};
}

void TestDeliverSpool::recordDeliveryFailure_readsTheFileNameOnly()
{
    QFETCH(QString, relativePath);
    QFETCH(QStringList, rows);
    addQueueRow(QStringLiteral("ann@x.test"));
    addQueueRow(QStringLiteral("bob@x.test"));
    TSpoolDelivery worker = delivery();
    const bool recorded =
        worker.RecordDeliveryFailure(m_folder->file(relativePath), QStringLiteral("it's gone"));
    QCOMPARE(queueRows(), rows);
    QCOMPARE(recorded, rows.size() != 2 || rows.first() != "1|True|False|");

    // A statement that fails is reported, so that no error event follows.
    m_db->close();
    QVERIFY(!worker.RecordDeliveryFailure(m_folder->file("spool/BVC_1_.eml"), QStringLiteral("x")));
}

void TestDeliverSpool::lockFile_data()
{
    QTest::addColumn<int>("ageSeconds"); // -1: no lock
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("taken");
    QTest::newRow("no lock") << -1 << QByteArray() << true;
    QTest::newRow("fresh lock") << 0 << QByteArray("X\r\n") << false;
    QTest::newRow("4 minutes old") << 4 * 60 << QByteArray("X\r\n") << false;
    QTest::newRow("4:59 old") << 5 * 60 - 1 << QByteArray("X\r\n") << false;
    QTest::newRow("5 minutes old: taken over") << 5 * 60 << QByteArray("X\r\n") << true;
    QTest::newRow("a day old, empty: taken over") << 86400 << QByteArray() << true;
    QTest::newRow("finished mark, a day old") << 86400 << QByteArray("Attempted\r\n") << false;
}

void TestDeliverSpool::lockFile()
{
    QFETCH(int, ageSeconds);
    QFETCH(QByteArray, content);
    QFETCH(bool, taken);
    const QString lock = m_folder->file("spool/BVC_1_.eml.lock");
    if (ageSeconds >= 0) {
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        setAge(lock, ageSeconds);
    }
    const QDateTime before = QFileInfo(lock).lastModified();
    QCOMPARE(TakeLockFile(lock, kLockAgeMinutes), taken);
    if (taken) {
        QCOMPARE(contents(lock), QByteArray("X\r\n"));
        QVERIFY(QFileInfo(lock).lastModified().secsTo(QDateTime::currentDateTime()) < 5);
    } else {
        QCOMPARE(contents(lock), content);
        QCOMPARE(QFileInfo(lock).lastModified(), before);
    }
}

void TestDeliverSpool::racingLockTakers_oneWins_data()
{
    QTest::addColumn<int>("ageSeconds");
    QTest::newRow("no lock") << -1;
    QTest::newRow("abandoned lock") << 600;
}

void TestDeliverSpool::racingLockTakers_oneWins()
{
    QFETCH(int, ageSeconds);
    constexpr int threads = 16;
    constexpr int rounds = 150;
    for (int round = 0; round < rounds; ++round) {
        const QString lock = m_folder->file(QStringLiteral("spool/BVC_%1_.eml.lock").arg(round));
        if (ageSeconds >= 0) {
            QVERIFY(TakeLockFile(lock, kLockAgeMinutes));
            setAge(lock, ageSeconds);
        }
        std::atomic<bool> go{false};
        std::atomic<int> ready{0};
        std::atomic<int> winners{0};
        std::vector<std::thread> takers;
        for (int t = 0; t < threads; ++t)
            takers.emplace_back([&] {
                ++ready;
                while (!go.load())
                    std::this_thread::yield();
                if (TakeLockFile(lock, kLockAgeMinutes))
                    ++winners;
            });
        while (ready.load() < threads)
            std::this_thread::yield();
        go = true;
        for (std::thread& t : takers)
            t.join();
        QCOMPARE(winners.load(), 1);
    }
}

QTEST_GUILESS_MAIN(TestDeliverSpool)
#include "tst_deliverspool.moc"

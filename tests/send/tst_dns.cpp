#include "ExchangerPeers.h"
#include "send/DNS.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QtTest>
#include <QUdpSocket>

#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace bv::send;

namespace {

QByteArray u16(int v)
{
    const char bytes[2] = {char((v >> 8) & 0xFF), char(v & 0xFF)};
    return QByteArray(bytes, 2);
}

// A name as labels; "" is the root.
QByteArray wireName(const QByteArray& dotted)
{
    QByteArray out;
    if (!dotted.isEmpty())
        for (const QByteArray& label : dotted.split('.'))
            out += char(label.size()) + label;
    return out + '\0';
}

QByteArray pointer(int offset)
{
    return u16(0xC000 | offset);
}

QByteArray header(int id, int flags, int qd, int an, int ns, int ar)
{
    return u16(id) + u16(flags) + u16(qd) + u16(an) + u16(ns) + u16(ar);
}

QByteArray record(const QByteArray& owner, int type, const QByteArray& data)
{
    return owner + u16(type) + u16(1) + QByteArray("\0\0\0\x3c", 4) + u16(int(data.size())) + data;
}

QByteArray mx(int preference, const QByteArray& exchange)
{
    return u16(preference) + exchange;
}

constexpr int kId = 0x1234;
// A reply to "x.test" (question at offset 12) with the given record counts.
QByteArray replyHead(int an, int ns = 0, int ar = 0, int flags = 0x8180)
{
    return header(kId, flags, 1, an, ns, ar) + wireName("x.test") + u16(15) + u16(1);
}

const QByteArray kQuestionName = pointer(12);

// Answers each query on a loopback UDP port with whatever the test's
// function makes of it; an empty reply is silence.
class ScriptedDnsServer
{
public:
    using Responder = std::function<QByteArray(const QByteArray& query)>;

    ScriptedDnsServer()
    {
        m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in in{};
        in.sin_family = AF_INET;
        in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof in;
        ::bind(m_fd, reinterpret_cast<sockaddr*>(&in), sizeof in);
        ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&in), &length);
        m_port = ntohs(in.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~ScriptedDnsServer()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_fd);
    }
    void setResponder(Responder responder)
    {
        std::lock_guard lock(m_mutex);
        m_responder = std::move(responder);
        m_queries.clear();
    }
    QList<QByteArray> queries()
    {
        std::lock_guard lock(m_mutex);
        return m_queries;
    }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(m_port); }

private:
    void run()
    {
        while (!m_stop) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0)
                continue;
            QByteArray query(9000, '\0');
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            const ssize_t got = ::recvfrom(m_fd, query.data(), size_t(query.size()), 0,
                                           reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (got <= 0)
                continue;
            query.truncate(got);
            QByteArray reply;
            {
                std::lock_guard lock(m_mutex);
                m_queries << query;
                if (m_responder)
                    reply = m_responder(query);
            }
            if (!reply.isEmpty())
                ::sendto(m_fd, reply.constData(), size_t(reply.size()), 0,
                         reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    }

    int m_fd = -1;
    quint16 m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    Responder m_responder;
    QList<QByteArray> m_queries;
    std::thread m_thread;
};

// The question of a query, echoed at the start of a reply.
QByteArray echoHead(const QByteArray& query, int flags, int an, int ns, int ar, int idDelta = 0)
{
    return header((uchar(query[0]) << 8 | uchar(query[1])) + idDelta, flags, 1, an, ns, ar) +
           query.mid(12);
}

// The name asked for in a query, as dotted text.
QByteArray askedName(const QByteArray& query)
{
    QByteArray name;
    for (int pos = 12; pos < query.size() && query[pos] != 0; pos += 1 + query[pos])
        name += (name.isEmpty() ? "" : ".") + query.mid(pos + 1, query[pos]);
    return name;
}

enum ReplyKind
{
    MxInAnswer,
    EqualPreferences,
    MxInAdditional,
    MxInAuthority,
    WrongId,
    NotAResponse,
    ServerFailure,
    ShortHeader,
    CountsLie,
    Silence
};

QByteArray scriptedReply(ReplyKind kind, const QByteArray& query)
{
    const QByteArray twoMx = record(kQuestionName, 15, mx(20, wireName("b.example"))) +
                             record(kQuestionName, 15, mx(10, wireName("a.example")));
    const QByteArray address = record(kQuestionName, 1, QByteArray("\x7f\0\0\x02", 4));
    switch (kind) {
    case MxInAnswer:
        return echoHead(query, 0x8180, 2, 0, 0) + twoMx;
    case EqualPreferences:
        return echoHead(query, 0x8180, 5, 0, 0) +
               record(kQuestionName, 15, mx(10, wireName("mail2.x"))) +
               record(kQuestionName, 15, mx(10, wireName("MAIL1.x"))) +
               record(kQuestionName, 15, mx(10, wireName("MAIL2.y"))) +
               record(kQuestionName, 15, mx(10, wireName("mail1.y"))) +
               record(kQuestionName, 15, mx(10, wireName("mail1.y")));
    case MxInAdditional:
        return echoHead(query, 0x8180, 1, 0, 2) + address + twoMx;
    case MxInAuthority:
        return echoHead(query, 0x8180, 0, 1, 1) + twoMx;
    case WrongId:
        return echoHead(query, 0x8180, 2, 0, 0, 1) + twoMx;
    case NotAResponse:
        return echoHead(query, 0x0180, 2, 0, 0) + twoMx;
    case ServerFailure:
        return echoHead(query, 0x8182, 2, 0, 0) + twoMx;
    case ShortHeader:
        return query.left(11);
    case CountsLie:
        return echoHead(query, 0x8180, 3, 0, 0) + twoMx;
    case Silence:
        return {};
    }
    return {};
}

bool isPlainHost(const QString& host)
{
    if (host.isEmpty() || host.size() > 253 || host.startsWith(QLatin1Char('.')) ||
        host.endsWith(QLatin1Char('.')) || host.contains(QLatin1String("..")))
        return false;
    return std::all_of(host.cbegin(), host.cend(),
                       [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F; });
}

} // namespace

class TestDns : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void lookup_data();
    void lookup();
    void scripted_data();
    void scripted();
    void decode_data();
    void decode();
    void decodeTxt_data();
    void decodeTxt();
    void txtAndMxLookups_data();
    void txtAndMxLookups();
    void systemDnsServer_data();
    void systemDnsServer();
    void queryIds_areRandomAndNever65535();
    void decoder_survivesMutatedReplies();

private:
    bv::test::Dnsmasq m_dnsmasq;
    ScriptedDnsServer m_scripted;
    QList<QPair<QByteArray, quint16>> m_realReplies;
};

void TestDns::initTestCase()
{
    QVERIFY2(m_dnsmasq.start({
                 QStringLiteral("--mx-host=order.test,127.0.0.10,10"),
                 QStringLiteral("--mx-host=order.test,127.0.0.5,5"),
                 QStringLiteral("--mx-host=order.test,127.0.0.100,100"),
                 QStringLiteral("--mx-host=eq.test,mail1.eq.test,10"),
                 QStringLiteral("--mx-host=eq.test,mail2.eq.test,10"),
                 QStringLiteral("--host-record=aonly.test,127.0.0.9"),
                 QStringLiteral("--txt-record=multi.test,v=DKIM1; k=rsa; ,p=abc"),
                 QStringLiteral("--txt-record=spf.test,v=spf1 -all"),
                 QStringLiteral("--txt-record=spf.test,v=spf1 mx -all"),
             }),
             qPrintable(m_dnsmasq.error()));
    // Real replies seed the fuzzing of the decoder.
    const quint16 port = quint16(m_dnsmasq.server().section(QLatin1Char(':'), 1).toUInt());
    for (const char* domain : {"order.test", "eq.test", "aonly.test", "nx.test"}) {
        const quint16 id = NewQueryId();
        QUdpSocket socket;
        socket.writeDatagram(BuildMxQuery(QString::fromLatin1(domain), id), QHostAddress::LocalHost,
                             port);
        QVERIFY(socket.waitForReadyRead(3000));
        QByteArray reply(int(socket.pendingDatagramSize()), '\0');
        socket.readDatagram(reply.data(), reply.size());
        m_realReplies << qMakePair(reply, id);
    }
    const quint16 id = NewQueryId();
    QUdpSocket socket;
    socket.writeDatagram(BuildTxtQuery(QStringLiteral("multi.test"), id), QHostAddress::LocalHost,
                         port);
    QVERIFY(socket.waitForReadyRead(3000));
    QByteArray reply(int(socket.pendingDatagramSize()), '\0');
    socket.readDatagram(reply.data(), reply.size());
    m_realReplies << qMakePair(reply, id);
}

void TestDns::lookup_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("hosts");
    const QString ordered = QStringLiteral("127.0.0.5\r\n127.0.0.10\r\n127.0.0.100\r\n");
    QTest::newRow("preferences 10, 5, 100 as numbers") << "ann@order.test" << ordered;
    QTest::newRow("no @: the whole text is the domain") << "order.test" << ordered;
    QTest::newRow("absolute domain") << "ann@order.test." << ordered;
    // dnsmasq answers in reverse order and lower-cases its names; the
    // letter case is the scripted server's.
    QTest::newRow("equal preference: by name") << "ann@eq.test"
                                               << "mail1.eq.test\r\nmail2.eq.test\r\n";
    QTest::newRow("name error") << "ann@nx.test"
                                << "";
    QTest::newRow("address record only, no fall-back") << "ann@aonly.test"
                                                       << "";
    QTest::newRow("empty domain is not asked") << "ann@"
                                               << "";
    QTest::newRow("empty label is not asked") << "ann@order..test"
                                              << "";
    QTest::newRow("label over 63 bytes is not asked") << "ann@" + QString(64, 'a') + ".test"
                                                      << "";
}

void TestDns::lookup()
{
    QFETCH(QString, address);
    QFETCH(QString, hosts);
    QCOMPARE(GetMXHosts(address, m_dnsmasq.server(), 3000), hosts);
}

void TestDns::scripted_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("asked");
    QTest::addColumn<QString>("hosts");
    const QString both = QStringLiteral("a.example\r\nb.example\r\n");
    QTest::newRow("answer section") << "ann@x.test" << int(MxInAnswer) << "x.test" << both;
    QTest::newRow("two @: all after the first asked")
        << "ann@b@x.test" << int(MxInAnswer) << "b@x.test" << both;
    QTest::newRow("equal preference: case ignored, duplicates stay")
        << "ann@x.test" << int(EqualPreferences) << "x.test"
        << "MAIL1.x\r\nmail1.y\r\nmail1.y\r\nmail2.x\r\nMAIL2.y\r\n";
    QTest::newRow("MX in the additional section")
        << "ann@x.test" << int(MxInAdditional) << "x.test" << both;
    QTest::newRow("MX in the authority section")
        << "ann@x.test" << int(MxInAuthority) << "x.test" << both;
    QTest::newRow("other identifier") << "ann@x.test" << int(WrongId) << "x.test"
                                      << "";
    QTest::newRow("a query, not a response") << "ann@x.test" << int(NotAResponse) << "x.test"
                                             << "";
    QTest::newRow("response code 2") << "ann@x.test" << int(ServerFailure) << "x.test"
                                     << "";
    QTest::newRow("shorter than the header") << "ann@x.test" << int(ShortHeader) << "x.test"
                                             << "";
    QTest::newRow("more answers counted than sent") << "ann@x.test" << int(CountsLie) << "x.test"
                                                    << "";
    QTest::newRow("silence") << "ann@x.test" << int(Silence) << "x.test"
                             << "";
}

void TestDns::scripted()
{
    QFETCH(QString, address);
    QFETCH(int, kind);
    QFETCH(QString, asked);
    QFETCH(QString, hosts);
    m_scripted.setResponder(
        [kind](const QByteArray& q) { return scriptedReply(ReplyKind(kind), q); });
    constexpr int timeoutMs = 700;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(GetMXHosts(address, m_scripted.server(), timeoutMs), hosts);
    const qint64 elapsed = timer.elapsed();
    if (kind == Silence)
        QVERIFY2(elapsed >= timeoutMs - 20 && elapsed < timeoutMs + 1500,
                 qPrintable(QString::number(elapsed)));
    else
        QVERIFY2(elapsed < timeoutMs, qPrintable(QString::number(elapsed)));

    const QList<QByteArray> queries = m_scripted.queries();
    QCOMPARE(queries.size(), 1);
    const QByteArray& q = queries.first();
    // Recursion desired, one question, nothing else.
    QCOMPARE(q.mid(2, 10).toHex(), QByteArray("01000001000000000000"));
    QCOMPARE(QString::fromLatin1(askedName(q)), asked);
    QCOMPARE(q.right(4).toHex(), QByteArray("000f0001"));
    QCOMPARE(q.size(), 12 + int(asked.size()) + 2 + 4);
}

void TestDns::decode_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("hosts");
    const QByteArray mxA = record(kQuestionName, 15, mx(10, wireName("a.example")));
    const QStringList none;

    // "mx1" + pointer to "example" of the first exchange (offset of its
    // second label), and an owner name reached through a chain of pointers.
    {
        const QByteArray head = replyHead(3);
        const int firstExchange = int(head.size()) + 2 + 10 + 2;
        QByteArray r = head + mxA;
        const int secondExchange = int(r.size()) + 2 + 10 + 2;
        r += record(kQuestionName, 15, mx(5, QByteArray("\x03mx1") + pointer(firstExchange + 2)));
        r += record(pointer(secondExchange), 15, mx(5, pointer(firstExchange)));
        QTest::newRow("compressed names, chained pointers")
            << r << QStringList{"a.example", "mx1.example", "a.example"};
    }
    QTest::newRow("a duplicate stays twice")
        << replyHead(2) + mxA + mxA << QStringList{"a.example", "a.example"};
    QTest::newRow("null MX names no host")
        << replyHead(2) + record(kQuestionName, 15, mx(0, wireName(""))) + mxA
        << QStringList{"a.example"};
    QTest::newRow("other types ignored")
        << replyHead(3) + record(kQuestionName, 5, wireName("alias.example")) +
               record(kQuestionName, 16, QByteArray("\x05hello", 6)) + mxA
        << QStringList{"a.example"};
    {
        const QByteArray head = replyHead(1);
        const int at = int(head.size()) + 2 + 10 + 2;
        QTest::newRow("pointer to itself")
            << head + record(kQuestionName, 15, mx(1, pointer(at))) << none;
        QTest::newRow("pointer loop through a label")
            << head + record(kQuestionName, 15, mx(1, QByteArray("\x01z") + pointer(at))) << none;
        QTest::newRow("pointer forward")
            << head + record(kQuestionName, 15, mx(1, pointer(at + 2) + wireName("a.example")))
            << none;
    }
    QTest::newRow("pointer into the header")
        << replyHead(1) + record(kQuestionName, 15, mx(1, pointer(4))) << none;
    QTest::newRow("pointer past the end")
        << replyHead(1) + record(kQuestionName, 15, mx(1, pointer(0x3FFF))) << none;
    QTest::newRow("label type 01 (length 64)")
        << replyHead(1) + record(kQuestionName, 15, mx(1, char(64) + QByteArray(64, 'a') + '\0'))
        << none;
    {
        // 127 labels of one byte: 254 bytes and the root, exactly 255.
        QByteArray longest;
        for (int i = 0; i < 127; ++i)
            longest += "\x01z";
        QString host = QStringLiteral("z");
        for (int i = 1; i < 127; ++i)
            host += QStringLiteral(".z");
        QTest::newRow("name of 255 bytes")
            << replyHead(1) + record(kQuestionName, 15, mx(1, longest + '\0')) << QStringList{host};
        QTest::newRow("name of 257 bytes")
            << replyHead(1) + record(kQuestionName, 15, mx(1, longest + "\x01z" + '\0')) << none;
        // The limit holds across pointers too.
        const QByteArray head = replyHead(2);
        const int at = int(head.size()) + 2 + 10 + 2;
        QTest::newRow("name over 255 bytes through a pointer")
            << head + record(kQuestionName, 15, mx(1, longest + '\0')) +
                   record(kQuestionName, 15, mx(1, "\x01y\x01y" + pointer(at)))
            << none;
    }
    QTest::newRow("record cut short") << (replyHead(1) + mxA).chopped(3) << none;
    QTest::newRow("data length beyond the exchange")
        << replyHead(1) + record(kQuestionName, 15, mx(1, wireName("a.example") + "junk")) << none;
    QTest::newRow("data length too short for MX")
        << replyHead(1) + record(kQuestionName, 15, QByteArray("\0", 1)) << none;
    QTest::newRow("exchange runs past its data")
        << replyHead(2) + kQuestionName + u16(15) + u16(1) + QByteArray(4, '\0') + u16(4) + u16(1) +
               "\x01"
               "a" +
               mxA
        << none;
    QTest::newRow("line break inside a label") << replyHead(1) + record(kQuestionName, 15,
                                                                        mx(1, QByteArray("\x04"
                                                                                         "a\r\nb\0",
                                                                                         6)))
                                               << none;
    QTest::newRow("dot inside a label") << replyHead(1) + record(kQuestionName, 15,
                                                                 mx(1, QByteArray("\x03"
                                                                                  "a.b\x04test\0",
                                                                                  10)))
                                        << none;
    QTest::newRow("no records") << replyHead(0) << none;
}

void TestDns::decode()
{
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, hosts);
    QStringList got;
    for (const MxRecord& r : DecodeMxReply(reply, kId))
        got << r.host;
    QCOMPARE(got, hosts);
}

namespace {

QByteArray txt(const QList<QByteArray>& strings)
{
    QByteArray data;
    for (const QByteArray& s : strings)
        data += char(s.size()) + s;
    return record(kQuestionName, 16, data);
}

QString statusText(DnsStatus status)
{
    switch (status) {
    case DnsStatus::Answered:
        return QStringLiteral("answered");
    case DnsStatus::NoSuchName:
        return QStringLiteral("no such name");
    case DnsStatus::Truncated:
        return QStringLiteral("truncated");
    case DnsStatus::Failed:
        return QStringLiteral("failed");
    }
    return {};
}

} // namespace

void TestDns::decodeTxt_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QByteArray>("records"); // joined by "|"
    const QByteArray spf = txt({"v=spf1 -all"});
    QTest::newRow("strings of one record joined")
        << replyHead(1) + txt({"v=DKIM1; ", "p=", "abc"}) << "answered" << QByteArray("v=DKIM1; p=abc");
    QTest::newRow("several records, empty strings")
        << replyHead(3) + spf + txt({"", "x"}) + txt({""}) << "answered"
        << QByteArray("v=spf1 -all|x|");
    QTest::newRow("a string of 255 bytes")
        << replyHead(1) + txt({QByteArray(255, 'k'), "z"}) << "answered"
        << QByteArray(255, 'k') + "z";
    QTest::newRow("other types and other sections ignored")
        << replyHead(2, 1, 1) + record(kQuestionName, 5, wireName("alias.example")) + spf +
               txt({"authority"}) + txt({"additional"})
        << "answered" << QByteArray("v=spf1 -all");
    QTest::newRow("no records") << replyHead(0) << "answered" << QByteArray();
    QTest::newRow("string longer than its record")
        << replyHead(1) + record(kQuestionName, 16, QByteArray("\x05" "abc", 4)) << "failed"
        << QByteArray();
    QTest::newRow("record longer than the reply")
        << (replyHead(1) + spf).chopped(2) << "failed" << QByteArray();
    QTest::newRow("name error") << replyHead(0, 0, 0, 0x8183) << "no such name" << QByteArray();
    QTest::newRow("server failure") << replyHead(1, 0, 0, 0x8182) + spf << "failed" << QByteArray();
    QTest::newRow("truncated") << replyHead(1, 0, 0, 0x8380) + spf << "truncated" << QByteArray();
    QTest::newRow("a query, not a reply") << replyHead(1, 0, 0, 0x0100) + spf << "failed"
                                          << QByteArray();
}

void TestDns::decodeTxt()
{
    QFETCH(QByteArray, reply);
    QFETCH(QString, status);
    QFETCH(QByteArray, records);
    const TxtAnswer answer = DecodeTxtReply(reply, kId);
    QCOMPARE(statusText(answer.status), status);
    QCOMPARE(answer.records.join('|'), records);
    QCOMPARE(DecodeTxtReply(reply, kId + 1).status, DnsStatus::Failed);
}

void TestDns::txtAndMxLookups_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("txt");
    QTest::addColumn<QString>("mx");
    QTest::newRow("TXT in two strings") << "multi.test" << "answered: v=DKIM1; k=rsa; p=abc"
                                        << "answered: ";
    QTest::newRow("two TXT records") << "spf.test" << "answered: v=spf1 -all|v=spf1 mx -all"
                                     << "answered: ";
    QTest::newRow("MX only") << "order.test" << "answered: "
                             << "answered: 127.0.0.5|127.0.0.10|127.0.0.100";
    QTest::newRow("no such name") << "nx.test" << "no such name: " << "no such name: ";
}

void TestDns::txtAndMxLookups()
{
    QFETCH(QString, name);
    QFETCH(QString, txt);
    QFETCH(QString, mx);
    const TxtAnswer t = LookupTxt(name, m_dnsmasq.server(), 3000);
    QList<QByteArray> records = t.records;
    std::sort(records.begin(), records.end());
    QCOMPARE(statusText(t.status) + ": " + QString::fromLatin1(records.join('|')), txt);
    const MxAnswer m = LookupMx(name, m_dnsmasq.server(), 3000);
    QCOMPARE(statusText(m.status) + ": " + m.hosts.join('|'), mx);
    // A server that never answers: failed, within the time limit.
    QCOMPARE(LookupTxt(name, m_scripted.server(), 100).status, DnsStatus::Failed);
}

void TestDns::systemDnsServer_data()
{
    QTest::addColumn<QByteArray>("conf");
    QTest::addColumn<QString>("server");
    QTest::newRow("first nameserver")
        << QByteArray("# local\nsearch x.test\nnameserver 10.0.0.53\nnameserver 10.0.0.54\n")
        << "10.0.0.53";
    QTest::newRow("blanks and tabs") << QByteArray("  nameserver\t192.0.2.1  \r\n") << "192.0.2.1";
    QTest::newRow("IPv6") << QByteArray("nameserver ::1\n") << "::1";
    QTest::newRow("not an address is passed over")
        << QByteArray("nameserver resolver.test\nnameserver 192.0.2.7\n") << "192.0.2.7";
    QTest::newRow("none") << QByteArray("search x.test\n") << "";
}

void TestDns::systemDnsServer()
{
    QFETCH(QByteArray, conf);
    QFETCH(QString, server);
    QTemporaryDir dir;
    QFile file(dir.filePath("resolv.conf"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(conf) == conf.size());
    file.close();
    QCOMPARE(SystemDnsServer(file.fileName()), server);
    QCOMPARE(SystemDnsServer(dir.filePath("missing")), QString());
}

void TestDns::queryIds_areRandomAndNever65535()
{
    QSet<quint16> seen;
    for (int i = 0; i < 400000; ++i)
        seen.insert(NewQueryId());
    QVERIFY(!seen.contains(65535));
    // 400000 draws leave about 150 of the 65535 values unseen.
    QVERIFY2(seen.size() > 65000, qPrintable(QString::number(seen.size())));
}

void TestDns::decoder_survivesMutatedReplies()
{
    // The real replies and one made here with every section and pointers.
    QList<QPair<QByteArray, quint16>> seeds = m_realReplies;
    const QByteArray head = replyHead(3, 1, 1);
    const int firstExchange = int(head.size()) + 2 + 10 + 2;
    seeds << qMakePair(
        head + record(kQuestionName, 15, mx(10, wireName("a.example"))) +
            record(kQuestionName, 15, mx(5, QByteArray("\x03mx1") + pointer(firstExchange + 2))) +
            record(kQuestionName, 1, QByteArray(4, '\x7f')) +
            record(pointer(firstExchange), 15, mx(7, pointer(firstExchange))) +
            record(kQuestionName, 15, mx(9, wireName("c.example"))),
        quint16(kId));
    QRandomGenerator random(20261208);
    int withHosts = 0;
    for (int i = 0; i < 300000; ++i) {
        const auto& [seed, id] = seeds[int(random.bounded(seeds.size()))];
        QByteArray r = seed;
        const int mutations = 1 + int(random.bounded(4));
        for (int m = 0; m < mutations && !r.isEmpty(); ++m) {
            const int at = int(random.bounded(r.size()));
            switch (random.bounded(7)) {
            case 0:
                r[at] = char(r[at] ^ (1 << random.bounded(8)));
                break;
            case 1:
                r[at] = char(random.bounded(256));
                break;
            case 2: // a pointer anywhere
                r[at] = char(0xC0 | random.bounded(64));
                if (at + 1 < r.size())
                    r[at + 1] = char(random.bounded(256));
                break;
            case 3:
                r.truncate(at);
                break;
            case 4:
                r.insert(at, QByteArray(1 + int(random.bounded(8)), char(random.bounded(256))));
                break;
            case 5: // a count that lies
                if (r.size() >= 12)
                    r[4 + int(random.bounded(8))] = char(random.bounded(256));
                break;
            case 6:
                r.insert(at, r.mid(int(random.bounded(r.size())), 1 + int(random.bounded(40))));
                break;
            }
        }
        const TxtAnswer txt = DecodeTxtReply(r, id);
        qsizetype txtBytes = 0;
        for (const QByteArray& t : txt.records)
            txtBytes += t.size();
        QVERIFY2(txtBytes <= r.size(), qPrintable(r.toHex()));
        QVERIFY(txt.status == DnsStatus::Answered || txt.records.isEmpty());
        const std::vector<MxRecord> records = DecodeMxReply(r, id);
        if (!records.empty())
            ++withHosts;
        for (const MxRecord& rec : records)
            QVERIFY2(isPlainHost(rec.host), qPrintable(r.toHex()));
    }
    // The mutations must also reach the records, not only spoil the header.
    QVERIFY2(withHosts > 10000, qPrintable(QString::number(withHosts)));
}

QTEST_GUILESS_MAIN(TestDns)
#include "tst_dns.moc"

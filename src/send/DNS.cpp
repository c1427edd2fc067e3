#include "DNS.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QRandomGenerator>
#include <QUrl>

#include <algorithm>
#include <optional>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bv::send {

namespace {

constexpr int kHeaderSize = 12;
constexpr int kMaxName = 255; // octets on the wire, terminating zero included
constexpr int kMaxLabel = 63;
constexpr int kMaxReply = 8192;
constexpr quint16 kTypeMx = 15;
constexpr quint16 kTypeTxt = 16;
constexpr quint16 kTypeOpt = 41;
constexpr quint16 kEdnsPayload = 4096;
constexpr qint64 kMaxResolvConf = 64 * 1024;
constexpr quint16 kClassIn = 1;

quint16 read16(QByteArrayView bytes, qsizetype at)
{
    return quint16((uchar(bytes[at]) << 8) | uchar(bytes[at + 1]));
}

void put16(QByteArray& out, quint16 value)
{
    out += char(value >> 8);
    out += char(value & 0xFF);
}

// A host name we connect to and print one per line: a dot inside a label, a
// blank or a control byte would change what it names.
bool isPlainLabel(QByteArrayView label)
{
    return std::all_of(label.begin(), label.end(),
                       [](char c) { return uchar(c) > 0x20 && uchar(c) < 0x7F && c != '.'; });
}

// A name at pos, compression included; pos moves past the name's own bytes.
// Every pointer must lead strictly before the place where the part of the
// name that holds it began, so a chain of pointers always ends. *plain tells
// whether every label is fit for a host name.
std::optional<QByteArray> readName(QByteArrayView msg, qsizetype& pos, bool* plain = nullptr)
{
    QByteArray name;
    qsizetype cur = pos;
    qsizetype segmentStart = pos;
    bool jumped = false;
    int wireLength = 0;
    for (;;) {
        if (cur >= msg.size())
            return std::nullopt;
        const uchar len = uchar(msg[cur]);
        if ((len & 0xC0) == 0xC0) {
            if (cur + 1 >= msg.size())
                return std::nullopt;
            const qsizetype target = qsizetype(read16(msg, cur) & 0x3FFF);
            if (target < kHeaderSize || target >= segmentStart)
                return std::nullopt;
            if (!jumped)
                pos = cur + 2;
            jumped = true;
            cur = segmentStart = target;
            continue;
        }
        if (len > kMaxLabel) // the reserved label types 01 and 10
            return std::nullopt;
        wireLength += 1 + len;
        if (wireLength > kMaxName)
            return std::nullopt;
        if (len == 0) {
            if (!jumped)
                pos = cur + 1;
            return name;
        }
        if (cur + 1 + len > msg.size())
            return std::nullopt;
        const QByteArrayView label = msg.sliced(cur + 1, len);
        if (plain && !isPlainLabel(label))
            *plain = false;
        if (!name.isEmpty())
            name += '.';
        name += label;
        cur += 1 + len;
    }
}

struct ServerText
{
    QString host;
    quint16 port = 53;
};

// "host", "host:port", "[v6]", "[v6]:port"; a bare IPv6 address has no port.
std::optional<ServerText> parseServer(const QString& text)
{
    ServerText server;
    QString rest = text.trimmed();
    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        server.host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (!after.isEmpty()) {
            if (!after.startsWith(QLatin1Char(':')))
                return std::nullopt;
            portText = after.mid(1);
        }
    } else if (rest.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        server.host = rest.left(colon);
        portText = rest.mid(colon + 1);
    } else {
        server.host = rest;
    }
    if (server.host.isEmpty())
        return std::nullopt;
    if (!portText.isNull()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return std::nullopt;
        server.port = quint16(port);
    }
    return server;
}

std::optional<QHostAddress> resolve(const QString& host)
{
    QHostAddress address(host);
    if (!address.isNull())
        return address;
    const QList<QHostAddress> found = QHostInfo::fromName(host).addresses();
    for (const QHostAddress& a : found)
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a;
    if (!found.isEmpty())
        return found.first();
    return std::nullopt;
}

class Socket
{
public:
    explicit Socket(int fd) : m_fd(fd) {}
    ~Socket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return m_fd; }

private:
    int m_fd;
};

// One datagram out to a connected socket (the kernel then drops datagrams
// from anyone else), at most one in.
QByteArray exchange(const QHostAddress& address, quint16 port, const QByteArray& query,
                    int timeoutMs)
{
    sockaddr_storage peer{};
    socklen_t peerLength = 0;
    bool v4 = false;
    const quint32 ip4 = address.toIPv4Address(&v4);
    if (v4) {
        auto* in = reinterpret_cast<sockaddr_in*>(&peer);
        in->sin_family = AF_INET;
        in->sin_port = htons(port);
        in->sin_addr.s_addr = htonl(ip4);
        peerLength = sizeof(sockaddr_in);
    } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* in6 = reinterpret_cast<sockaddr_in6*>(&peer);
        in6->sin6_family = AF_INET6;
        in6->sin6_port = htons(port);
        const Q_IPV6ADDR ip6 = address.toIPv6Address();
        std::copy(std::begin(ip6.c), std::end(ip6.c), in6->sin6_addr.s6_addr);
        in6->sin6_scope_id = address.scopeId().toUInt();
        peerLength = sizeof(sockaddr_in6);
    } else {
        return {};
    }
    Socket socket(::socket(peer.ss_family, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (socket.fd() < 0 ||
        ::connect(socket.fd(), reinterpret_cast<sockaddr*>(&peer), peerLength) != 0)
        return {};
    if (::send(socket.fd(), query.constData(), size_t(query.size()), MSG_NOSIGNAL) != query.size())
        return {};
    QDeadlineTimer deadline(std::max(timeoutMs, 0));
    pollfd p{socket.fd(), POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&p, 1, int(deadline.remainingTime()));
        if (ready > 0)
            break;
        if (ready == 0 || errno != EINTR)
            return {};
    }
    QByteArray reply(kMaxReply, Qt::Uninitialized);
    const ssize_t got = ::recv(socket.fd(), reply.data(), size_t(reply.size()), 0);
    if (got <= 0)
        return {};
    reply.truncate(qsizetype(got));
    return reply;
}

} // namespace

QString MxDomain(const QString& address)
{
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    return at < 0 ? address : address.mid(at + 1);
}

quint16 NewQueryId()
{
    return quint16(QRandomGenerator::global()->bounded(65535));
}

namespace {

QByteArray buildQuery(const QString& domain, quint16 type, quint16 id, bool edns)
{
    QByteArray name = domain.toUtf8();
    const bool ascii =
        std::all_of(name.cbegin(), name.cend(), [](char c) { return uchar(c) < 0x80; });
    if (!ascii)
        name = QUrl::toAce(domain);
    if (name.endsWith('.'))
        name.chop(1);
    if (name.isEmpty())
        return {};
    QByteArray query;
    query.reserve(kHeaderSize + name.size() + 17);
    put16(query, id);
    put16(query, 0x0100); // QUERY, recursion desired
    put16(query, 1);
    put16(query, 0);
    put16(query, 0);
    put16(query, edns ? 1 : 0);
    for (const QByteArray& label : name.split('.')) {
        if (label.isEmpty() || label.size() > kMaxLabel)
            return {};
        query += char(label.size());
        query += label;
    }
    query += '\0';
    if (query.size() - kHeaderSize > kMaxName)
        return {};
    put16(query, type);
    put16(query, kClassIn);
    if (edns) {
        query += '\0'; // the root name
        put16(query, kTypeOpt);
        put16(query, kEdnsPayload);
        put16(query, 0); // extended code and version
        put16(query, 0); // flags
        put16(query, 0); // no options
    }
    return query;
}

// Response code 0 or 3 of a reply to our query; nullopt for anything else.
std::optional<DnsStatus> replyStatus(QByteArrayView reply, quint16 id)
{
    if (reply.size() < kHeaderSize || read16(reply, 0) != id)
        return std::nullopt;
    const quint16 flags = read16(reply, 2);
    if (!(flags & 0x8000))
        return std::nullopt;
    if ((flags & 0x000F) == 3)
        return DnsStatus::NoSuchName;
    if ((flags & 0x000F) != 0)
        return std::nullopt;
    if (flags & 0x0200)
        return DnsStatus::Truncated;
    return DnsStatus::Answered;
}

} // namespace

QByteArray BuildMxQuery(const QString& domain, quint16 id)
{
    return buildQuery(domain, kTypeMx, id, false);
}

QByteArray BuildTxtQuery(const QString& name, quint16 id)
{
    return buildQuery(name, kTypeTxt, id, true);
}

TxtAnswer DecodeTxtReply(QByteArrayView reply, quint16 id)
{
    TxtAnswer answer;
    const std::optional<DnsStatus> status = replyStatus(reply, id);
    if (!status)
        return answer;
    if (*status != DnsStatus::Answered) {
        answer.status = *status;
        return answer;
    }
    const int questions = read16(reply, 4);
    const int answers = read16(reply, 6);
    qsizetype pos = kHeaderSize;
    for (int i = 0; i < questions; ++i) {
        if (!readName(reply, pos) || pos + 4 > reply.size())
            return answer;
        pos += 4;
    }
    // Only the answer section: a record elsewhere in the reply is not the
    // name's own.
    QList<QByteArray> records;
    for (int i = 0; i < answers; ++i) {
        if (!readName(reply, pos) || pos + 10 > reply.size())
            return answer;
        const quint16 type = read16(reply, pos);
        const quint16 klass = read16(reply, pos + 2);
        const qsizetype dataLength = read16(reply, pos + 8);
        pos += 10;
        const qsizetype dataEnd = pos + dataLength;
        if (dataEnd > reply.size())
            return answer;
        if (type == kTypeTxt && klass == kClassIn) {
            QByteArray text;
            for (qsizetype at = pos; at < dataEnd;) {
                const qsizetype length = uchar(reply[at]);
                if (at + 1 + length > dataEnd)
                    return answer;
                text += reply.sliced(at + 1, length);
                at += 1 + length;
            }
            records << text;
        }
        pos = dataEnd;
    }
    answer.status = DnsStatus::Answered;
    answer.records = records;
    return answer;
}

std::vector<MxRecord> DecodeMxReply(QByteArrayView reply, quint16 id)
{
    const std::optional<DnsStatus> status = replyStatus(reply, id);
    if (!status || *status == DnsStatus::NoSuchName)
        return {};
    const int questions = read16(reply, 4);
    const int records = read16(reply, 6) + read16(reply, 8) + read16(reply, 10);
    qsizetype pos = kHeaderSize;
    for (int i = 0; i < questions; ++i) {
        if (!readName(reply, pos) || pos + 4 > reply.size())
            return {};
        pos += 4;
    }
    std::vector<MxRecord> found;
    for (int i = 0; i < records; ++i) {
        if (!readName(reply, pos) || pos + 10 > reply.size())
            return {};
        const quint16 type = read16(reply, pos);
        const qsizetype dataLength = read16(reply, pos + 8);
        pos += 10;
        const qsizetype dataEnd = pos + dataLength;
        if (dataEnd > reply.size())
            return {};
        if (type == kTypeMx) {
            if (dataLength < 3)
                return {};
            const quint16 preference = read16(reply, pos);
            qsizetype namePos = pos + 2;
            bool plain = true;
            const std::optional<QByteArray> exchange = readName(reply, namePos, &plain);
            if (!exchange || namePos != dataEnd || !plain)
                return {};
            if (!exchange->isEmpty())
                found.push_back({preference, QString::fromLatin1(*exchange)});
        }
        pos = dataEnd;
    }
    return found;
}

QStringList OrderedMxHosts(std::vector<MxRecord> records)
{
    std::stable_sort(records.begin(), records.end(), [](const MxRecord& a, const MxRecord& b) {
        if (a.preference != b.preference)
            return a.preference < b.preference;
        return a.host.compare(b.host, Qt::CaseInsensitive) < 0;
    });
    QStringList hosts;
    hosts.reserve(qsizetype(records.size()));
    for (MxRecord& r : records)
        hosts << std::move(r.host);
    return hosts;
}

namespace {

// The reply to query from the server text; empty on any failure.
QByteArray ask(const QByteArray& query, const QString& dnsServer, int timeoutMs)
{
    const std::optional<ServerText> server = parseServer(dnsServer);
    if (query.isEmpty() || !server)
        return {};
    const std::optional<QHostAddress> serverAddress = resolve(server->host);
    if (!serverAddress)
        return {};
    return exchange(*serverAddress, server->port, query, timeoutMs);
}

} // namespace

QString GetMXHosts(const QString& address, const QString& dnsServer, int timeoutMs)
{
    const quint16 id = NewQueryId();
    const QByteArray reply = ask(BuildMxQuery(MxDomain(address), id), dnsServer, timeoutMs);
    QString text;
    for (const QString& host : OrderedMxHosts(DecodeMxReply(reply, id)))
        text += host + QLatin1String("\r\n");
    return text;
}

TxtAnswer LookupTxt(const QString& name, const QString& dnsServer, int timeoutMs)
{
    const quint16 id = NewQueryId();
    return DecodeTxtReply(ask(BuildTxtQuery(name, id), dnsServer, timeoutMs), id);
}

MxAnswer LookupMx(const QString& domain, const QString& dnsServer, int timeoutMs)
{
    const quint16 id = NewQueryId();
    const QByteArray reply = ask(BuildMxQuery(domain, id), dnsServer, timeoutMs);
    MxAnswer answer;
    const std::optional<DnsStatus> status = replyStatus(reply, id);
    if (!status)
        return answer;
    answer.status = *status;
    answer.hosts = OrderedMxHosts(DecodeMxReply(reply, id));
    return answer;
}

QString SystemDnsServer(const QString& resolvConf)
{
    QFile file(resolvConf);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.read(kMaxResolvConf);
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> words = line.simplified().split(' ');
        if (words.size() >= 2 && words[0] == "nameserver") {
            const QString server = QString::fromLatin1(words[1]);
            // A bare IPv6 address takes brackets only when a port follows;
            // parseServer reads it whole.
            if (!QHostAddress(server).isNull())
                return server;
        }
    }
    return {};
}

QString DnsServerOrSystem(const QString& setting)
{
    const QString trimmed = setting.trimmed();
    return trimmed.isEmpty() ? SystemDnsServer() : trimmed;
}

} // namespace bv::send

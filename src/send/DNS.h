#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <vector>

// uDNS: the mail exchangers of a recipient's domain, asked of one DNS server
// with our own query, so the system's resolver configuration never matters.
namespace bv::send {

struct MxRecord
{
    quint16 preference = 0;
    QString host; // without a trailing dot
};

// The domain asked for: the text after the first "@", or the whole address.
QString MxDomain(const QString& address);

// A random query identifier, 0 to 65534; safe from any thread.
quint16 NewQueryId();

// One RFC 1035 query for the MX records of domain, recursion desired. Empty
// when the domain cannot be written as a DNS name (empty label, a label over
// 63 bytes, a name over 255 bytes).
QByteArray BuildMxQuery(const QString& domain, quint16 id);

// The MX records of every section of a reply, in the order they stand. The
// reply is untrusted: anything short, of another identifier, not a response,
// with an error code or malformed in any way gives no records at all. Null
// MX records (an empty exchange) name no host and are left out.
std::vector<MxRecord> DecodeMxReply(QByteArrayView reply, quint16 id);

// Host names by preference, then by name ignoring letter case; duplicates stay.
QStringList OrderedMxHosts(std::vector<MxRecord> records);

// The exchangers of the address's domain, one per line, each ended by CR LF,
// the first to be tried first. dnsServer is an address or host name, with an
// optional ":port" (53 otherwise). Never fails: no answer within timeoutMs,
// or any fault at all, gives the empty text.
QString GetMXHosts(const QString& address, const QString& dnsServer, int timeoutMs);

// What one query found, for checks that must tell a missing record from a
// server that did not answer.
enum class DnsStatus
{
    Answered,   // response code 0; the records may still be none
    NoSuchName, // response code 3
    Truncated,  // the answer did not fit the reply
    Failed      // no reply in time, another response code, or a malformed reply
};

struct TxtAnswer
{
    DnsStatus status = DnsStatus::Failed;
    // One entry per TXT record of the answer section, its strings joined.
    QList<QByteArray> records;
};

struct MxAnswer
{
    DnsStatus status = DnsStatus::Failed;
    QStringList hosts; // in the order they are tried
};

// A query for the TXT records (type 16) of name. It offers EDNS0 with a
// 4096-byte payload, since a key's record can pass the 512 bytes of plain
// DNS. Empty when the name cannot be written as a DNS name.
QByteArray BuildTxtQuery(const QString& name, quint16 id);
// The TXT records of the answer section of an untrusted reply. Anything
// malformed gives Failed with no records.
TxtAnswer DecodeTxtReply(QByteArrayView reply, quint16 id);

// One query each, to the one server, within timeoutMs.
TxtAnswer LookupTxt(const QString& name, const QString& dnsServer, int timeoutMs);
MxAnswer LookupMx(const QString& domain, const QString& dnsServer, int timeoutMs);

// The first "nameserver" of a resolv.conf file; empty when there is none.
QString SystemDnsServer(const QString& resolvConf = QStringLiteral("/etc/resolv.conf"));
// The server the setting names, or the system's first one when it is blank.
QString DnsServerOrSystem(const QString& setting);

} // namespace bv::send

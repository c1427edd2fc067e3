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

} // namespace bv::send

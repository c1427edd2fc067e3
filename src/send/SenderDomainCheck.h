#pragma once

#include "send/DNS.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// "Check DNS" of the Sender Domains window: what the large mailbox providers
// look up before they accept a domain's mail, asked of the program's own DNS
// server and told as one line per finding with what to do about it.
namespace bv::send {

struct DkimCheckKey
{
    QString selector;
    QByteArray publicKey; // the p= value the record must hold
};

// What the lookups of one domain found; filled by LookUpSenderDomain, read by
// the text functions below (tests feed them their own answers).
struct SenderDomainAnswers
{
    QList<TxtAnswer> keys; // one per key, in the order given
    TxtAnswer domainTxt;   // for SPF
    TxtAnswer dmarc;
    MxAnswer mx;
};

// Every lookup at once, each within timeoutMs. Blocks: call it off the
// user-interface thread.
SenderDomainAnswers LookUpSenderDomain(const QString& domain, const QList<DkimCheckKey>& keys,
                                       const QString& dnsServer, int timeoutMs);

QString DkimKeyLine(const QString& domain, const DkimCheckKey& key, const TxtAnswer& answer);
QString SpfLine(const QString& domain, const TxtAnswer& answer);
QString DmarcLine(const QString& domain, const TxtAnswer& answer);
QString MxLine(const QString& domain, const MxAnswer& answer);

// All lines, keys first. No key: a line saying one must be made.
QStringList SenderDomainLines(const QString& domain, const QList<DkimCheckKey>& keys,
                              const SenderDomainAnswers& answers);

// The value of tag in a "tag=value; tag=value" record: blanks around it
// gone, null when the record has no such tag.
QByteArray TagValue(const QByteArray& record, const QByteArray& tag);

} // namespace bv::send

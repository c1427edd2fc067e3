#include "SenderDomainCheck.h"

#include <future>

namespace bv::send {

namespace {

constexpr qsizetype kMaxShown = 200;

// A record as a line may quote it: printable ASCII only, and not too long.
QString shown(const QByteArray& value)
{
    QString out;
    for (const char c : value.left(kMaxShown))
        out += (uchar(c) >= 0x20 && uchar(c) < 0x7F) ? QChar::fromLatin1(c) : QChar(u'?');
    if (value.size() > kMaxShown)
        out += QStringLiteral("...");
    return out;
}

bool startsWithTag(const QByteArray& record, const QByteArray& version)
{
    const QByteArray trimmed = record.trimmed();
    if (!trimmed.toLower().startsWith(version.toLower()))
        return false;
    return trimmed.size() == version.size() || trimmed.at(version.size()) == ' ' ||
           trimmed.at(version.size()) == ';';
}

QList<QByteArray> recordsStarting(const TxtAnswer& answer, const QByteArray& version)
{
    QList<QByteArray> out;
    for (const QByteArray& r : answer.records)
        if (startsWithTag(r, version))
            out << r;
    return out;
}

QString noAnswer(const TxtAnswer& answer)
{
    return answer.status == DnsStatus::Truncated
               ? QStringLiteral("the answer was too large for the DNS server to send")
               : QStringLiteral("no answer from the DNS server");
}

QByteArray withoutBlanks(QByteArray value)
{
    value.replace(' ', "").replace('\t', "");
    return value;
}

} // namespace

QByteArray TagValue(const QByteArray& record, const QByteArray& tag)
{
    for (const QByteArray& item : record.split(';')) {
        const qsizetype eq = item.indexOf('=');
        if (eq < 0)
            continue;
        if (item.left(eq).trimmed().compare(tag, Qt::CaseInsensitive) == 0)
            return item.mid(eq + 1).trimmed();
    }
    return {};
}

SenderDomainAnswers LookUpSenderDomain(const QString& domain, const QList<DkimCheckKey>& keys,
                                       const QString& dnsServer, int timeoutMs)
{
    const auto txt = [&](const QString& name) {
        return std::async(std::launch::async,
                          [name, dnsServer, timeoutMs] { return LookupTxt(name, dnsServer, timeoutMs); });
    };
    std::vector<std::future<TxtAnswer>> keyLookups;
    for (const DkimCheckKey& key : keys)
        keyLookups.push_back(txt(key.selector + QStringLiteral("._domainkey.") + domain));
    auto spf = txt(domain);
    auto dmarc = txt(QStringLiteral("_dmarc.") + domain);
    auto mx = std::async(std::launch::async,
                         [domain, dnsServer, timeoutMs] { return LookupMx(domain, dnsServer, timeoutMs); });
    SenderDomainAnswers answers;
    for (auto& k : keyLookups)
        answers.keys << k.get();
    answers.domainTxt = spf.get();
    answers.dmarc = dmarc.get();
    answers.mx = mx.get();
    return answers;
}

QString DkimKeyLine(const QString& domain, const DkimCheckKey& key, const TxtAnswer& answer)
{
    const QString name = key.selector + QStringLiteral("._domainkey.") + domain;
    const QString head = QStringLiteral("DKIM key \"%1\": ").arg(key.selector);
    if (answer.status == DnsStatus::Failed || answer.status == DnsStatus::Truncated)
        return head + QStringLiteral("%1 could not be looked up (%2). Try again later.")
                          .arg(name, noAnswer(answer));
    QList<QByteArray> found;
    for (const QByteArray& r : answer.records)
        if (startsWithTag(r, "v=DKIM1") || !TagValue(r, "p").isNull())
            found << r;
    if (found.isEmpty())
        return head + QStringLiteral("missing. Publish the TXT record shown above as %1.").arg(name);
    const QByteArray wanted = withoutBlanks(key.publicKey);
    bool revoked = false;
    for (const QByteArray& r : found) {
        const QByteArray p = withoutBlanks(TagValue(r, "p"));
        if (p == wanted)
            return head + QStringLiteral("found at %1, and it matches the key. Nothing to do.").arg(name);
        revoked |= p.isEmpty();
    }
    if (revoked)
        return head + QStringLiteral("the record at %1 revokes the key (its p= is empty). Publish "
                                     "the TXT record shown above instead.")
                          .arg(name);
    return head + QStringLiteral("the record at %1 holds a different key. Replace it with the TXT "
                                 "record shown above.")
                      .arg(name);
}

QString SpfLine(const QString& domain, const TxtAnswer& answer)
{
    if (answer.status == DnsStatus::Failed || answer.status == DnsStatus::Truncated)
        return QStringLiteral("SPF: the TXT records of %1 could not be looked up (%2). Try again later.")
            .arg(domain, noAnswer(answer));
    const QList<QByteArray> spf = recordsStarting(answer, "v=spf1");
    if (spf.isEmpty())
        return QStringLiteral("SPF: missing. Publish one TXT record at %1 that starts with \"v=spf1\" "
                              "and names every server that sends its mail, for instance "
                              "\"v=spf1 mx -all\".")
            .arg(domain);
    if (spf.size() > 1)
        return QStringLiteral("SPF: %1 records at %2 start with \"v=spf1\"; receivers then treat SPF "
                              "as failed. Merge them into one record.")
            .arg(spf.size())
            .arg(domain);
    const QByteArray record = spf.first().simplified();
    if (record.endsWith(" +all") || record.endsWith(" all"))
        return QStringLiteral("SPF: found \"%1\", but it lets every server on the Internet send as "
                              "%2. End it with \"-all\" or \"~all\".")
            .arg(shown(record), domain);
    return QStringLiteral("SPF: found \"%1\". Make sure it names every server this program sends "
                          "through (in direct mode: this computer's address).")
        .arg(shown(record));
}

QString DmarcLine(const QString& domain, const TxtAnswer& answer)
{
    const QString name = QStringLiteral("_dmarc.") + domain;
    if (answer.status == DnsStatus::Failed || answer.status == DnsStatus::Truncated)
        return QStringLiteral("DMARC: %1 could not be looked up (%2). Try again later.")
            .arg(name, noAnswer(answer));
    const QList<QByteArray> dmarc = recordsStarting(answer, "v=DMARC1");
    if (dmarc.isEmpty())
        return QStringLiteral("DMARC: missing. Publish a TXT record at %1, for instance "
                              "\"v=DMARC1; p=none; rua=mailto:postmaster@%2\".")
            .arg(name, domain);
    if (dmarc.size() > 1)
        return QStringLiteral("DMARC: %1 records at %2; receivers ignore them all. Keep one.")
            .arg(dmarc.size())
            .arg(name);
    const QByteArray policy = TagValue(dmarc.first(), "p").toLower();
    if (policy == "none")
        return QStringLiteral("DMARC: found, policy p=none: receivers only report. Once your mail "
                              "passes, raise it to p=quarantine or p=reject.");
    if (policy == "quarantine" || policy == "reject")
        return QStringLiteral("DMARC: found, policy p=%1. Nothing to do.")
            .arg(QString::fromLatin1(policy));
    return QStringLiteral("DMARC: found \"%1\", but without a valid policy (p=none, quarantine or "
                          "reject), so receivers ignore it. Add one.")
        .arg(shown(dmarc.first()));
}

QString MxLine(const QString& domain, const MxAnswer& answer)
{
    switch (answer.status) {
    case DnsStatus::Failed:
    case DnsStatus::Truncated:
        return QStringLiteral("MX: %1 could not be looked up (no answer from the DNS server). Try "
                              "again later.")
            .arg(domain);
    case DnsStatus::NoSuchName:
        return QStringLiteral("MX: the domain %1 does not exist in DNS. Correct the sender address "
                              "or register the domain.")
            .arg(domain);
    case DnsStatus::Answered:
        break;
    }
    if (answer.hosts.isEmpty())
        return QStringLiteral("MX: none. Replies and returned mail to %1 cannot arrive; publish an MX "
                              "record.")
            .arg(domain);
    QStringList hosts;
    for (const QString& h : answer.hosts)
        hosts << shown(h.toLatin1());
    return QStringLiteral("MX: %1. Nothing to do.").arg(hosts.join(QStringLiteral(", ")));
}

QStringList SenderDomainLines(const QString& domain, const QList<DkimCheckKey>& keys,
                              const SenderDomainAnswers& answers)
{
    QStringList lines;
    if (keys.isEmpty())
        lines << QStringLiteral("DKIM: %1 has no signing key, so its mail goes out unsigned. Create "
                                "a key and publish its record.")
                     .arg(domain);
    for (qsizetype i = 0; i < keys.size() && i < answers.keys.size(); ++i)
        lines << DkimKeyLine(domain, keys.at(i), answers.keys.at(i));
    lines << SpfLine(domain, answers.domainTxt) << DmarcLine(domain, answers.dmarc)
          << MxLine(domain, answers.mx);
    return lines;
}

} // namespace bv::send

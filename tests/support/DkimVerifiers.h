#pragma once

#include "ExchangerPeers.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QTemporaryDir>

namespace bv::test {

// Two independent DKIM verifiers: Python's dkimpy, handed the records through
// its DNS hook, and Perl's Mail::DKIM, which asks a dnsmasq on loopback that
// serves them as TXT records cut into strings of 255 bytes.
class DkimVerifiers
{
public:
    // records: "<selector>._domainkey.<domain>" -> TXT value.
    bool start(const QMap<QString, QByteArray>& records);
    QString error() const { return m_error; }

    struct Verdicts
    {
        QString python; // "pass", "pass,pass", "fail(...)", "none", one per signature
        QString perl;
    };
    // One entry per message, in order; empty when a verifier could not run.
    QList<Verdicts> verify(const QList<QByteArray>& messages);

private:
    QStringList run(const QString& program, const QStringList& args);

    QMap<QString, QByteArray> m_records;
    Dnsmasq m_dns;
    QTemporaryDir m_dir;
    QString m_error;
    int m_batch = 0;
};

} // namespace bv::test

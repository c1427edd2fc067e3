#include "DkimVerifiers.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

namespace bv::test {

bool DkimVerifiers::start(const QMap<QString, QByteArray>& records)
{
    m_records = records;
    QStringList args;
    for (auto it = records.cbegin(); it != records.cend(); ++it) {
        QString strings;
        for (qsizetype pos = 0; pos < it.value().size(); pos += 255)
            strings += u',' + (QString::fromLatin1(it.value().mid(pos, 255)));
        args << QStringLiteral("--txt-record=") + it.key() + strings;
    }
    if (!m_dns.start(args)) {
        m_error = m_dns.error();
        return false;
    }
    QJsonObject json;
    for (auto it = records.cbegin(); it != records.cend(); ++it)
        json.insert(it.key(), QString::fromLatin1(it.value()));
    QFile file(m_dir.filePath(QStringLiteral("records.json")));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(json).toJson()) < 0) {
        m_error = file.errorString();
        return false;
    }
    return true;
}

QStringList DkimVerifiers::run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        m_error = program + QStringLiteral(": ") + QString::fromUtf8(p.readAllStandardError());
        return {};
    }
    QStringList verdicts;
    for (const QByteArray& line : p.readAllStandardOutput().split('\n'))
        if (!line.isEmpty())
            verdicts << QString::fromUtf8(line.mid(line.indexOf(": ") + 2));
    return verdicts;
}

QList<DkimVerifiers::Verdicts> DkimVerifiers::verify(const QList<QByteArray>& messages)
{
    QStringList files;
    ++m_batch;
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const QString path = m_dir.filePath(QStringLiteral("b%1-%2.eml").arg(m_batch).arg(i));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(messages[i]) != messages[i].size())
            return {};
        files << path;
    }
    const QStringList python =
        run(QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral("-I"), QStringLiteral(BV_SUPPORT_DIR "/dkim_verify.py"),
                        m_dir.filePath(QStringLiteral("records.json"))} +
                files);
    const QStringList perl =
        run(QStringLiteral("/usr/bin/perl"),
            QStringList{QStringLiteral(BV_SUPPORT_DIR "/dkim_verify.pl"),
                        m_dns.server().section(u':', 1)} +
                files);
    if (python.size() != messages.size() || perl.size() != messages.size())
        return {};
    QList<Verdicts> out;
    for (qsizetype i = 0; i < messages.size(); ++i)
        out << Verdicts{python[i], perl[i]};
    return out;
}

} // namespace bv::test

#pragma once

#include "SmtpPeers.h"

#include <QFile>
#include <QTemporaryDir>

namespace bv::test {

// tests/support/update_site.py serving the files of a private folder on
// loopback, with the faults asked for; it records every request.
class UpdateSitePeer : public PythonPeer
{
public:
    struct Faults
    {
        QStringList stall;              // names that get headers only
        QList<QPair<QString, int>> cut; // names cut off after so many bytes
        QStringList unsized;            // names sent without their size
        QList<QPair<QString, QString>> redirect; // names redirected to addresses
    };

    bool start(const Faults& faults = {})
    {
        QStringList args{QStringLiteral("--root"), m_root.path()};
        for (const QString& name : faults.stall)
            args << QStringLiteral("--stall") << name;
        for (const auto& [name, bytes] : faults.cut)
            args << QStringLiteral("--break") << name + QLatin1Char(':') + QString::number(bytes);
        for (const QString& name : faults.unsized)
            args << QStringLiteral("--unsized") << name;
        for (const auto& [name, address] : faults.redirect)
            args << QStringLiteral("--redirect") << name + QLatin1Char(':') + address;
        return startScript(QStringLiteral("update_site.py"), QStringLiteral("127.0.0.1"), args);
    }
    bool serve(const QString& name, const QByteArray& bytes)
    {
        QFile f(m_root.filePath(name));
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    QString address() const { return QStringLiteral("http://%1/").arg(server()); }
    // "GET /APP_NAME.TXT Brevicast/1.0 | text/html, */*"
    const QStringList& requests() const { return m_requests; }

protected:
    void handleLine(const QByteArray& line) override { m_requests << QString::fromUtf8(line); }

private:
    QTemporaryDir m_root;
    QStringList m_requests;
};

} // namespace bv::test

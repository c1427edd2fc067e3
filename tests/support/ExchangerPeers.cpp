#include "ExchangerPeers.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QUdpSocket>

namespace bv::test {

quint16 freeLoopbackPort()
{
    for (int attempt = 0; attempt < 50; ++attempt) {
        QUdpSocket udp;
        if (!udp.bind(QHostAddress::LocalHost, 0))
            continue;
        QTcpServer tcp;
        if (tcp.listen(QHostAddress::LocalHost, udp.localPort()))
            return udp.localPort();
    }
    return 0;
}

PeerProcess::PeerProcess() = default;

PeerProcess::~PeerProcess()
{
    stop();
}

bool PeerProcess::start(const QString& program, const QStringList& arguments,
                        const std::function<bool(const QByteArray&)>& ready, int timeoutMs)
{
    stop();
    m_output.clear();
    m_error.clear();
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(program, arguments);
    if (!m_process->waitForStarted(timeoutMs)) {
        m_error = program + QStringLiteral(" did not start: ") + m_process->errorString();
        return false;
    }
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        m_process->waitForReadyRead(50);
        m_output += m_process->readAll();
        if (ready(m_output))
            return true;
        if (m_process->state() != QProcess::Running) {
            m_error = program + QStringLiteral(" ended: ") + QString::fromUtf8(m_output);
            return false;
        }
    }
    m_error = program + QStringLiteral(" did not get ready: ") + QString::fromUtf8(m_output);
    return false;
}

void PeerProcess::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(3000)) {
            m_process->kill();
            m_process->waitForFinished(3000);
        }
    }
    m_process.reset();
}

bool Dnsmasq::start(const QStringList& records)
{
    m_port = freeLoopbackPort();
    QStringList args = {QStringLiteral("--keep-in-foreground"),
                        QStringLiteral("--conf-file=/dev/null"),
                        QStringLiteral("--no-resolv"),
                        QStringLiteral("--no-hosts"),
                        QStringLiteral("--listen-address=127.0.0.1"),
                        QStringLiteral("--bind-interfaces"),
                        QStringLiteral("--port=%1").arg(m_port),
                        QStringLiteral("--local=/#/"),
                        QStringLiteral("--pid-file="),
                        QStringLiteral("--log-facility=-")};
    args += records;
    return m_process.start(QStringLiteral("/usr/sbin/dnsmasq"), args,
                           [](const QByteArray& out) { return out.contains("started, version"); });
}

QString Dnsmasq::server() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

QString freeExchangerAddress()
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        QRandomGenerator* random = QRandomGenerator::global();
        const QString address = QStringLiteral("127.%1.%2.%3")
                                    .arg(64 + random->bounded(190))
                                    .arg(random->bounded(256))
                                    .arg(1 + random->bounded(254));
        QTcpServer probe;
        if (probe.listen(QHostAddress(address), 25))
            return address;
    }
    return {};
}

namespace {

QString peerScript()
{
    return QStringLiteral(BV_SOURCE_DIR "/tests/support/exchanger_peer.py");
}

} // namespace

bool Exchanger::start(Mode mode, TestAuthority* authority)
{
    static const char* const names[] = {"accept", "refuse", "starttls", "brokentls", "stall"};
    m_address = freeExchangerAddress();
    QStringList args = {QStringLiteral("-I"),      peerScript(),
                        QStringLiteral("--host"),  m_address,
                        QStringLiteral("--mode"),  QString::fromLatin1(names[mode]),
                        QStringLiteral("--store"), m_store.path()};
    if (authority) {
        QString certificate, key;
        if (!authority->issue({QStringLiteral("mx.example.test")}, certificate, key))
            return false;
        args << QStringLiteral("--cert") << certificate << QStringLiteral("--key") << key
             << QStringLiteral("--ca") << authority->certificateFile();
    }
    return m_process.start(QStringLiteral("/usr/bin/python3"), args,
                           [](const QByteArray& out) { return out.contains("ready\n"); });
}

QList<QByteArray> Exchanger::stored(const QString& suffix) const
{
    QList<QByteArray> out;
    for (int n = m_first;; ++n) {
        QFile file(m_store.filePath(QString::number(n) + suffix));
        if (!file.open(QIODevice::ReadOnly))
            return out;
        out << file.readAll();
    }
}

QList<QByteArray> Exchanger::messages() const
{
    return stored(QStringLiteral(".eml"));
}

QList<QJsonObject> Exchanger::envelopes() const
{
    QList<QJsonObject> out;
    for (const QByteArray& json : stored(QStringLiteral(".json")))
        out << QJsonDocument::fromJson(json).object();
    return out;
}

void Exchanger::clear()
{
    m_first += int(messages().size());
}

bool SmtpSink::start()
{
    m_address = freeExchangerAddress();
    const QString address = m_address;
    return m_process.start(QStringLiteral("/usr/sbin/smtp-sink"),
                           {QStringLiteral("-u"), QStringLiteral("nobody"), QStringLiteral("-a"),
                            address + QStringLiteral(":25"), QStringLiteral("64")},
                           [address](const QByteArray&) {
                               QTcpSocket probe;
                               probe.connectToHost(address, 25);
                               return probe.waitForConnected(100);
                           });
}

} // namespace bv::test

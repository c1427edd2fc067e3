#include "ExchangerPeers.h"

#include <QDeadlineTimer>
#include <QTcpServer>
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

} // namespace bv::test

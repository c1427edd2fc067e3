#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace bv::test {

// A port free for both UDP and TCP on 127.0.0.1.
quint16 freeLoopbackPort();

// A started peer process, ended by its own id when the object goes.
class PeerProcess
{
public:
    PeerProcess();
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    // Starts program and waits until ready() holds for what it has written
    // (stdout and stderr together), at most timeoutMs. False with the reason
    // in error() when it ended or never got ready.
    bool start(const QString& program, const QStringList& arguments,
               const std::function<bool(const QByteArray& output)>& ready, int timeoutMs = 10000);
    void stop();
    QString error() const { return m_error; }
    QByteArray output() const { return m_output; }

private:
    std::unique_ptr<QProcess> m_process;
    QByteArray m_output;
    QString m_error;
};

// dnsmasq answering from its own configuration only, on a free port of
// 127.0.0.1; names it does not know are NXDOMAIN.
class Dnsmasq
{
public:
    // Options such as "--mx-host=example.test,127.0.0.2,10".
    bool start(const QStringList& records);
    // The DNS server text for GetMXHosts: "127.0.0.1:port".
    QString server() const;
    QString error() const { return m_process.error(); }

private:
    PeerProcess m_process;
    quint16 m_port = 0;
};

} // namespace bv::test

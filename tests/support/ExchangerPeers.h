#pragma once

#include "SmtpPeers.h"

#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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

// A loopback address with nothing on port 25, drawn from 127.64.0.0 and up so
// that tests of other units running at once keep to their own.
QString freeExchangerAddress();

// A mail exchanger on port 25 of a loopback address of its own.
class Exchanger
{
public:
    enum Mode
    {
        Accept,
        Refuse,
        StartTls,
        BrokenTls,
        Stall
    };

    // StartTls and BrokenTls need the authority, which signs the server's
    // certificate.
    bool start(Mode mode, TestAuthority* authority = nullptr);
    QString address() const { return m_address; }
    QString error() const { return m_process.error(); }

    // What it stored, oldest first: the message bytes, and the envelope
    // ("mail_from", "rcpt_tos", "tls", "helo").
    QList<QByteArray> messages() const;
    QList<QJsonObject> envelopes() const;
    // Forgets what is stored so far.
    void clear();

private:
    QList<QByteArray> stored(const QString& suffix) const;

    PeerProcess m_process;
    QTemporaryDir m_store;
    QString m_address;
    int m_first = 1;
};

// postfix's smtp-sink, which accepts everything and keeps nothing.
class SmtpSink
{
public:
    bool start();
    QString address() const { return m_address; }
    QString error() const { return m_process.error(); }

private:
    PeerProcess m_process;
    QString m_address;
};

} // namespace bv::test

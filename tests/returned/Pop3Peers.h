#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace bv::test {

// A private test authority and a server certificate it signed, for the names
// localhost, 127.0.0.1 and the given address. Made with openssl.
struct TestAuthority
{
    QString caFile;
    QString certFile;
    QString keyFile;
    QList<QSslCertificate> ca() const;
};
bool makeTestAuthority(const QString& folder, const QString& address, TestAuthority& out,
                       QString* error);

// dovecot's POP3 server on loopback, from a private configuration in a
// temporary folder, with a Maildir owned by nobody. Stopped by its own
// process id when the object goes.
class Dovecot
{
public:
    enum class Tls
    {
        None,
        Stls,
        Implicit
    };

    explicit Dovecot(Tls tls = Tls::None);
    ~Dovecot();

    static QString user() { return QStringLiteral("bounce"); }
    static QString password() { return QStringLiteral("secret"); }

    // Messages are numbered by the server in the order they were added.
    void addMessage(const QByteArray& text);
    bool start(QString* error);
    void stop();

    QString host() const { return m_host; }
    int port() const { return m_port; }
    // "host:port" for the account's server field.
    QString server() const;
    const TestAuthority& authority() const { return m_authority; }

    int messagesOnServer() const;
    QString log() const;
    // The "top=…, retr=…, del=…" part of every logout line so far.
    QStringList logouts() const;

private:
    QTemporaryDir m_dir;
    Tls m_tls;
    QProcess m_process;
    QString m_host = QStringLiteral("127.0.0.1");
    int m_port = 0;
    int m_added = 0;
    TestAuthority m_authority;
};

// pop3_script.py: one scripted fault (see the script for the list). The
// mailbox outlives connections, so a second check sees what the first left.
class ScriptedPop3
{
public:
    explicit ScriptedPop3(const QString& fault, int messages = 3);
    ~ScriptedPop3();

    bool start(QString* error);
    int port() const { return m_port; }
    QString server() const { return QStringLiteral("127.0.0.1:") + QString::number(m_port); }
    // Every line the client sent, in order; "--" where a connection began.
    QStringList transcript() const;

private:
    QTemporaryDir m_dir;
    QString m_fault;
    int m_messages;
    QProcess m_process;
    int m_port = 0;
};

} // namespace bv::test

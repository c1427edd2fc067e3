#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <map>

namespace bv::test {

// A peer server run as a Python script of ours (/usr/bin/python3 -I) on
// loopback. start() returns once the script has printed "READY <port>"; the
// process ends with the object, stopped by its process id.
class PythonPeer
{
public:
    PythonPeer();
    virtual ~PythonPeer();
    PythonPeer(const PythonPeer&) = delete;
    PythonPeer& operator=(const PythonPeer&) = delete;

    quint16 port() const { return m_port; }
    QString bindAddress() const { return m_bindAddress; }
    // "address:port", the server text a client is given.
    QString server() const { return m_bindAddress + ':' + QString::number(m_port); }
    // Why start() or a wait failed: the script's own error output included.
    QString error() const { return m_error; }
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    void stop();

    // Handles events until condition holds, at most timeoutMs; false on timeout.
    bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 10000);

protected:
    bool startScript(const QString& script, const QString& bindAddress, const QStringList& args);
    void setError(const QString& error) { m_error = error; }
    // Every line the script prints after its ready line, without the newline.
    virtual void handleLine(const QByteArray&) {}

private:
    void readLines();

    QProcess m_process;
    QString m_bindAddress;
    quint16 m_port = 0;
    bool m_ready = false;
    QString m_error;
};

// A private certificate authority made with openssl for one test, and server
// certificates it signs.
class TestAuthority
{
public:
    // Makes the authority's key and certificate in folder.
    bool create(const QString& folder);
    // A server certificate for names (host names or IP addresses): paths of
    // the certificate and its key.
    bool issue(const QStringList& names, QString& certificateFile, QString& keyFile);
    QList<QSslCertificate> certificates() const;
    QString certificateFile() const { return m_folder + "/ca.pem"; }
    QString error() const { return m_error; }

private:
    bool openssl(const QStringList& args);

    QString m_folder;
    QString m_error;
    int m_issued = 0;
};

struct ReceivedMail
{
    QString mailFrom;
    QStringList rcptTos;
    QByteArray data; // as received, dot-stuffing undone
    QString helo;    // the EHLO or HELO name
    bool tls = false;
    QString login; // the user name of a successful AUTH, or empty
};

struct AuthAttempt
{
    QString mechanism; // "LOGIN" or "PLAIN"
    QString login;
    QString password;
    bool accepted = false;
    bool tls = false;
};

// aiosmtpd with a handler of ours. Every accepted message is stored as two
// files in folder(): NNNN.eml (the data) and NNNN.json (the envelope).
class AiosmtpdServer : public PythonPeer
{
public:
    enum class Auth
    {
        None,          // no AUTH offered
        LoginAndPlain, // "AUTH LOGIN PLAIN"
        PlainOnly      // "AUTH PLAIN": AUTH LOGIN gets 504
    };
    enum class Tls
    {
        None,
        StartTls, // offered in the EHLO reply
        Implicit  // the connection starts encrypted
    };
    struct Options
    {
        QString bindAddress = QStringLiteral("127.0.0.1");
        quint16 port = 0; // 0: a free port
        Auth auth = Auth::None;
        // The one log-in accepted; every attempt is recorded either way.
        QString user = QStringLiteral("user");
        QString password = QStringLiteral("secret");
        Tls tls = Tls::None;
        // Names of the server certificate, signed by caCertificates().
        QStringList certificateNames = {QStringLiteral("localhost"), QStringLiteral("127.0.0.1")};
        bool refuseEhlo = false;          // EHLO gets 502; HELO works
        QStringList refusedRecipients;    // RCPT TO gets "550 5.1.1 ..."
        QString dataReply;                // reply to the message text; empty: "250 OK"
        QStringList dropInDataRecipients; // the connection drops instead of the reply
    };

    AiosmtpdServer();
    explicit AiosmtpdServer(const Options& options);
    bool start();
    const Options& options() const { return m_options; }

    // The private authority behind the server certificate (TLS options only).
    QList<QSslCertificate> caCertificates() const { return m_authority.certificates(); }
    QString caCertificateFile() const { return m_authority.certificateFile(); }

    QString folder() const { return m_folder.path(); }
    QList<ReceivedMail> messages() const;
    QList<AuthAttempt> authAttempts() const;
    int messageCount() const { return m_messages; }
    bool waitForMessages(int count, int timeoutMs = 10000);

protected:
    void handleLine(const QByteArray& line) override;

private:
    Options m_options;
    QTemporaryDir m_folder;
    TestAuthority m_authority;
    int m_messages = 0;
};

// Plays a script to every connection and records what the client sends,
// byte for byte, for faults a real server will not produce.
class ScriptedSmtpServer : public PythonPeer
{
public:
    struct Step
    {
        QJsonObject json;
    };
    static Step send(const QString& text);
    static Step readLine();
    static Step readData();
    static Step readBytes(int count);
    static Step stall();
    static Step close();
    // The prefix, then "x" for ever: a line without end.
    static Step endlessLine(const QString& prefix);
    // line + CR LF again and again: a reply without end.
    static Step endlessLines(const QString& line);

    // A reply text (CR LF added unless it ends with one) or a step.
    struct Reply
    {
        Reply(const char* text) : Reply(QString::fromUtf8(text)) {}
        Reply(const QString& text) : step(send(text.endsWith("\r\n") ? text : text + "\r\n")) {}
        Reply(Step step) : step(std::move(step)) {}
        Step step;
    };
    // The common shape: the greeting, then each further reply or step after
    // one line from the client, or after the message text when the reply
    // before it began with "354".
    static QList<Step> conversation(const QList<Reply>& replies);

    explicit ScriptedSmtpServer(QList<Step> script);
    bool start(const QString& bindAddress = QStringLiteral("127.0.0.1"), quint16 port = 0);

    int connections() const { return int(m_received.size()); }
    // What the client sent on a connection, in lines each with its line end
    // (the last one without it when the client left it unfinished).
    QList<QByteArray> received(int connection = 0) const;
    QByteArray receivedBytes(int connection = 0) const;
    bool isClosed(int connection = 0) const;
    bool waitForClosed(int connection = 0, int timeoutMs = 10000);
    // Waits until the client has sent at least count lines.
    bool waitForLines(int count, int connection = 0, int timeoutMs = 10000);

protected:
    void handleLine(const QByteArray& line) override;

private:
    QList<Step> m_script;
    std::map<int, QByteArray> m_received;
    std::map<int, bool> m_closed;
};

} // namespace bv::test

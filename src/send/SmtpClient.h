#pragma once

#include "compose/MailMessage.h"
#include "send/SmtpWire.h"

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

#include <deque>
#include <memory>
#include <stdexcept>

class QIODevice;
class QSslSocket;
class QTimer;

namespace bv {
class Clock;
class Timer;
} // namespace bv

namespace bv::send {

enum TIpSmtpStates
{
    ssNoOp = 0,
    ssConnect,
    ssEhlo,
    ssHelo,
    ssMailFrom,
    ssRcptTo,
    ssRcptCc,
    ssRcptBcc,
    ssData,
    ssRSet,
    ssHelp,
    ssSendEnvelope,
    ssSendMessage,
    ssSpecial,
    ssQuit,
    ssAuthLogin,
    ssAuthUser,
    ssAuthPass
};

enum TIpSmtpTasks
{
    stNoTask = 0,
    stLogon,
    stSendMail,
    stFailed
};

// The text the main window quotes for a state in its error messages.
QString SmtpStateText(TIpSmtpStates state);

// Raised by SendMail: "Can not comply, wrong state", "Destination address
// required", "Socket is already connected", "No recipients specified".
class SmtpError : public std::runtime_error
{
public:
    explicit SmtpError(const QString& text, bool recipientAtFault = false)
        : std::runtime_error(text.toStdString()), m_recipientAtFault(recipientAtFault)
    {
    }
    QString text() const { return QString::fromStdString(what()); }
    // A recipient's address cannot go on the wire: the fault is that
    // message's, not the server's or the sender's.
    bool recipientAtFault() const { return m_recipientAtFault; }

private:
    bool m_recipientAtFault;
};

// Why the client stopped before sending the password to server.
QString passwordWithheldText(const QString& server);

// How long the client waits before it gives up on its peer, in milliseconds.
// The reply limits are the minimums of RFC 5321 section 4.5.3.2; a passed
// limit is reported like a socket error (10060) with a text that says what
// timed out.
struct SmtpTimeLimits
{
    int connect = 60 * 1000;
    int greeting = 5 * 60 * 1000;
    int mailFrom = 5 * 60 * 1000;
    int rcptTo = 5 * 60 * 1000;
    int dataInit = 2 * 60 * 1000;
    // Without any progress while the message text is written.
    int dataBlock = 3 * 60 * 1000;
    int dataTermination = 10 * 60 * 1000;
    // EHLO, HELO, STARTTLS, AUTH, QUIT and the TLS handshake.
    int other = 5 * 60 * 1000;
};

// The SMTP client of the main window. It owns the message that ComposeMessage
// fills and that is saved or sent; callers reach the message through the
// client and must not keep it across a new client or a completed send.
class TIpSmtpClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString Domain READ domain WRITE setDomain)
    Q_PROPERTY(QString UserID READ userID WRITE setUserID)
    Q_PROPERTY(QString Password READ password WRITE setPassword)
    Q_PROPERTY(bool EnableAuth READ enableAuth WRITE setEnableAuth)
    Q_PROPERTY(int IdleTimeout READ idleTimeout WRITE setIdleTimeout)
    Q_PROPERTY(int TimerInterval READ timerInterval WRITE setTimerInterval)
    Q_PROPERTY(QString XMailer READ xMailer WRITE setXMailer)
    Q_PROPERTY(bool IncludeBCC READ includeBCC WRITE setIncludeBCC)

public:
    static QString defaultXMailer() { return QStringLiteral("Internet Professional v1.15"); }

    explicit TIpSmtpClient(Clock& clock, QObject* parent = nullptr);
    ~TIpSmtpClient() override;

    compose::TIpMailMessage& message() { return *m_message; }
    const compose::TIpMailMessage& message() const { return *m_message; }
    // After a message was accepted the client starts over with an empty one;
    // the coding-progress handler stays connected and the signer set.
    void replaceMessage();

    TIpSmtpStates state() const { return m_state; }
    TIpSmtpTasks task() const { return m_task; }

    // Name sent with EHLO and HELO; empty means the computer's host name.
    QString domain() const { return m_domain; }
    void setDomain(const QString& domain) { m_domain = domain; }
    QString userID() const { return m_userID; }
    void setUserID(const QString& user) { m_userID = user; }
    QString password() const { return m_password; }
    void setPassword(const QString& password) { m_password = password; }
    bool enableAuth() const { return m_enableAuth; }
    void setEnableAuth(bool on) { m_enableAuth = on; }
    // Milliseconds without traffic before the idle event; 0 is off.
    int idleTimeout() const { return m_idleTimeout; }
    void setIdleTimeout(int ms) { m_idleTimeout = ms; }
    // Milliseconds between idle checks.
    int timerInterval() const { return m_timerInterval; }
    void setTimerInterval(int ms) { m_timerInterval = ms; }
    // Value of the X-Mailer line added when sending; empty adds none.
    QString xMailer() const { return m_xMailer; }
    void setXMailer(const QString& value) { m_xMailer = value; }
    bool includeBCC() const { return m_includeBCC; }
    void setIncludeBCC(bool on) { m_includeBCC = on; }
    // The RCPT TO addresses of the current message, when they must not be
    // read back from its To, Cc and Bcc texts; a new message clears them.
    QStringList envelopeRecipients() const { return m_envelopeRecipients; }
    void setEnvelopeRecipients(const QStringList& addresses) { m_envelopeRecipients = addresses; }
    // Whether the password may go over a connection that is not encrypted to
    // a server that is not on this computer. Off: the client stops before
    // AUTH and reports why (passwordWithheld()).
    bool allowPlainPassword() const { return m_allowPlainPassword; }
    void setAllowPlainPassword(bool on) { m_allowPlainPassword = on; }
    // The last task failed because the password would have gone in the clear.
    bool passwordWithheld() const { return m_passwordWithheld; }

    const SmtpTimeLimits& timeLimits() const { return m_timeLimits; }
    void setTimeLimits(const SmtpTimeLimits& limits) { m_timeLimits = limits; }
    // Authorities trusted besides the system's, for TLS; tests hand their
    // private authority in here. Verification itself is never switched off.
    void setExtraCaCertificates(const QList<QSslCertificate>& certificates)
    {
        m_extraCa = certificates;
    }
    // Every new client starts with these (the program sets none).
    static void setDefaultExtraCaCertificates(const QList<QSslCertificate>& certificates);

    // Starts the stSendMail task on the server text ("host" or "host:port").
    // Throws SmtpError.
    void SendMail(const QString& server, bool quitAfterSend);
    // Sends QUIT when connected; otherwise the client is idle at once.
    void Quit();
    bool connected() const;

signals:
    // For a reply line that ends a reply and is not the end of a multi-line
    // reply, before the client acts on it. response is the line from its
    // fifth character on, CR LF included.
    void OnResponse(TIpSmtpClient* client, TIpSmtpStates responseTo, int code,
                    const QString& response);
    // The end line of a multi-line reply, instead of OnResponse: every line but
    // the last.
    void OnMultiLineResponse(TIpSmtpClient* client, TIpSmtpStates responseTo,
                             const QStringList& response);
    // Queued to the owning thread's event loop.
    void OnTaskComplete(TIpSmtpClient* client, TIpSmtpTasks task);
    // A socket error while connecting: Windows Sockets number and text.
    void OnConnectError(TIpSmtpClient* client, int errCode, const QString& errStr);
    // A socket error in any other state.
    void OnError(TIpSmtpClient* client, int errCode, const QString& errStr);
    void OnIdleTimeout(TIpSmtpClient* client, bool& reset);
    void OnProgress(TIpSmtpClient* client, qint64 charsTransferred);
    // Queued to the owning thread's event loop.
    void OnStateChange(TIpSmtpClient* client, TIpSmtpStates state);
    // After a message was accepted; true sends the new message object on the
    // same connection.
    void OnNextMessage(TIpSmtpClient* client, bool& nextMsgReady);

protected:
    Clock& clock() const { return m_clock; }
    // Whether a connection to port starts encrypted (implicit TLS); tests
    // use it to reach a TLS server on a free port.
    virtual bool startsEncrypted(quint16 port) const { return port == 465; }
    // Whether the server is this computer, where nobody on the way can read
    // a password; tests use it to stand for a distant server.
    virtual bool peerIsLoopback() const;

private:
    // The command whose reply the client waits for; the public State is
    // coarser (STARTTLS and its handshake run in ssEhlo, AUTH PLAIN in
    // ssAuthPass).
    enum class Await
    {
        Nothing,
        Connect,
        Handshake,
        Greeting,
        Ehlo,
        StartTls,
        TlsUpgrade,
        Helo,
        AuthLogin,
        AuthUser,
        AuthPass,
        AuthPlain,
        MailFrom,
        RcptTo,
        Data,
        Text,
        EndOfText,
        Quit
    };

    void setState(TIpSmtpStates state);
    void endTask(TIpSmtpTasks task);
    void sendCommand(const QByteArray& command, TIpSmtpStates state, Await await);
    struct Limit
    {
        int ms;       // 0: none
        QString what; // what timed out, for the error text
    };
    Limit currentLimit() const;
    void restartLimit();
    // Throws SmtpError for a message that cannot be sent.
    void checkMessage() const;
    QStringList envelope() const;
    QString ehloName() const;

    void onConnected();
    void onEncrypted();
    void onBytesWritten(qint64 bytes);
    void onSocketError();
    void onLimitPassed();
    void onIdleCheck();

    // False when the connection was given up meanwhile.
    bool readReplies();
    void handleLine(const QByteArray& line);
    void handleReply(int code, const QString& endLine);
    void takeNextStep(int code, const QString& endLine);
    void readCapabilities();

    // Throw SmtpError or compose::MessageError; steps reached from a socket
    // event go through guarded(), which turns the error into a failure.
    void afterLogon();
    void startMessage();
    template <typename Step> void guarded(Step step);
    void sendNextRecipient();
    void pumpText();
    void messageAccepted();
    void quitReplied();
    void closedByServer();

    // Ends the conversation like a socket error: the connection closed, the
    // event for the state, State ssNoOp, a running task failed.
    void fail(int errCode, const QString& errStr);
    void closeConnection();

    Clock& m_clock;
    std::unique_ptr<compose::TIpMailMessage> m_message;
    TIpSmtpStates m_state = ssNoOp;
    TIpSmtpTasks m_task = stNoTask;
    QString m_domain;
    QString m_userID;
    QString m_password;
    bool m_enableAuth = false;
    int m_idleTimeout = 0;
    int m_timerInterval = 500;
    QString m_xMailer = defaultXMailer();
    bool m_includeBCC = false;
    QStringList m_envelopeRecipients;
    bool m_allowPlainPassword = false;
    bool m_passwordWithheld = false;
    SmtpTimeLimits m_timeLimits;
    QList<QSslCertificate> m_extraCa;

    QSslSocket* m_socket = nullptr;
    QTimer* m_limit = nullptr;
    Timer* m_idleTimer = nullptr;
    qint64 m_lastTraffic = 0;
    QString m_host;
    bool m_implicitTls = false;
    // Counts connections; a handler that closed the connection ends the
    // handling of the one it was called for.
    quint64 m_connection = 0;
    Await m_await = Await::Nothing;
    bool m_taskRunning = false;
    bool m_quitAfterSend = false;
    bool m_accepted = false;
    bool m_authenticated = false;
    bool m_loggedOn = false; // EHLO or HELO done on this connection

    QByteArray m_input;
    QStringList m_continuation;
    qint64 m_continuationBytes = 0;
    QStringList m_lastReply;
    bool m_offersStartTls = false;
    bool m_offersPlain = false;
    bool m_tlsActive = false;
    QStringList m_sslErrors;

    QStringList m_envelope;
    std::unique_ptr<QIODevice> m_text;
    qint64 m_textSize = 0;
    qint64 m_textSent = 0;
    DotStuffer m_stuffer;
    // Bytes handed to the socket per piece of the text, to count progress
    // in bytes of the message text as the socket writes them.
    struct Piece
    {
        qint64 wire;
        qint64 text;
    };
    std::deque<Piece> m_pieces;
    qint64 m_wireWritten = 0;
    qint64 m_wireCounted = 0;
    bool m_reading = false;
};

} // namespace bv::send

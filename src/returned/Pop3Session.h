#pragma once

#include "returned/Pop3Reply.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSslCertificate>
#include <QString>
#include <QStringList>

#include <functional>

class QHostAddress;
class QSslSocket;
class QTimer;

namespace bv::data {
class Connection;
}

namespace bv::returned {

// The account settings of one check, copied from a PopAccounts row. A server
// text may carry ":port" after the host, which then wins over port.
struct Pop3Account
{
    QString server;
    int port = 110;
    QString user;
    QString password;
    // The password may go out unencrypted when the server offers no STLS.
    // Without it only a server on this machine (loopback) gets it so.
    bool allowPlainPassword = false;
};

// How long the session waits before it gives up on its peer, in
// milliseconds.
struct Pop3TimeLimits
{
    int connect = 60 * 1000; // name lookup, TCP connect and, on port 995, the TLS handshake
    // Without a byte from the server.
    int reply = 2 * 60 * 1000;
    // For one whole answer, however steadily it trickles in.
    int command = 10 * 60 * 1000;
    // For each answer to RSET and QUIT when the window closes: the user is
    // waiting for the window to go.
    int goodbye = 5 * 1000;
};

// What the session keeps in memory at the most.
struct Pop3SizeLimits
{
    // A larger message is left on the server, unrecorded, with a notice.
    qint64 message = 32 * 1024 * 1024;
    // A status line, or a line of CAPA or LIST, longer than this, or a
    // message line longer than the message limit, means a broken server: the
    // connection is dropped.
    int replyLine = 64 * 1024;
    // What is kept of a TOP answer; the Message-ID stands in the header.
    qint64 header = 1024 * 1024;
    // The most one answer may send, kept or not (what goes beyond the message
    // limit is read only to reach the next message).
    qint64 reply = 64 * 1024 * 1024;
};

// Stores one fetched message in the inbox and answers its Index; throws
// (bv::data::DbError or std::runtime_error) when it cannot.
using StoreMessage = std::function<int(const QByteArray& message)>;

// The status texts of the session.
QString messageOfText(int i, int n); // "Messsage %d of %d", as the program has always written it
QString notConnectedText();
QString noMessagesText();
QString retrievingText();
// A socket error as the system describes it: the Windows Sockets number and
// its English description where there is one ("Socket error 10061:
// Connection refused").
QString socketErrorText(QAbstractSocket::SocketError error, const QString& fallback);
// The notice for a message that is larger than the size limit.
QString tooLargeText(int i, qint64 size, qint64 limit);
// Why a check stopped before the log-in on an unencrypted connection.
QString plainPasswordRefusedText(const QString& host);
QString cancelledText();

// 127.0.0.0/8 and ::1, also written as IPv4 in IPv6.
bool isLoopbackAddress(const QHostAddress& address);

// The Message-ID of a header block, as received (angle brackets included,
// unfolded, blanks around it removed) and cut the way MessageIDs stores it;
// empty when the header has none.
QString messageIdOf(const QByteArray& header);

// The POP3 conversation of the returned-mail window, driven by the socket's
// events on the user-interface thread. MessageIDs (on the given connection)
// records the messages fetched before, so that they are not fetched again.
//
// Beyond the plain conversation: STLS when the server offers it (the password
// then never travels unencrypted: a failed upgrade ends the check), implicit
// TLS on port 995, the server verified against the system's authorities and
// the extra ones handed in, no password in the clear except to loopback or
// where the account allows it, time limits, and bounded reads.
class Pop3Session : public QObject
{
    Q_OBJECT
public:
    Pop3Session(bv::data::Connection& connection, StoreMessage store, QObject* parent = nullptr);
    ~Pop3Session() override;

    bool leaveMailOnServer() const { return m_leaveMail; }
    void setLeaveMailOnServer(bool on) { m_leaveMail = on; }
    const Pop3TimeLimits& timeLimits() const { return m_timeLimits; }
    void setTimeLimits(const Pop3TimeLimits& limits) { m_timeLimits = limits; }
    const Pop3SizeLimits& sizeLimits() const { return m_sizeLimits; }
    void setSizeLimits(const Pop3SizeLimits& limits) { m_sizeLimits = limits; }
    // Authorities trusted besides the system's; tests hand their private
    // authority in here. Verification itself is never switched off.
    void setExtraCaCertificates(const QList<QSslCertificate>& certificates)
    {
        m_extraCa = certificates;
    }
    // Every new session starts with these (the program sets none).
    static void setDefaultExtraCaCertificates(const QList<QSslCertificate>& certificates);
    // Off: a server on loopback counts as remote, so tests can stand in for
    // one elsewhere.
    void setTrustLoopback(bool on) { m_trustLoopback = on; }

    // A check or the closing conversation is running: commands that use the
    // connection must wait.
    bool busy() const { return m_step != Step::Idle; }
    // A connection is open, left by a check that failed or found no message.
    bool connected() const;

    // Starts a mailbox check; false (and nothing happens) while busy.
    // finished() tells the end.
    bool checkMail(const Pop3Account& account);
    // When connected: RSET, so that deletions marked in an unfinished check
    // are undone, then QUIT; finished() follows. False when there is nothing
    // to close or the session is busy.
    bool endSession();
    // Ends whatever runs at once and drops the connection without QUIT, so
    // the server deletes nothing this connection marked. A running check or
    // closing conversation then reports finished(false, cancelledText()).
    void cancel();

signals:
    void status(const QString& text);
    // The number of messages on the server, after STAT.
    void messageCount(int count);
    // A message that was left on the server for a reason the user must know.
    void notice(const QString& text);
    void finished(bool ok, const QString& error);

private:
    enum class Step
    {
        Idle,
        QuitOld,
        Connecting,
        Greeting,
        Capa,
        Stls,
        Handshake,
        CapaAgain,
        User,
        Pass,
        Stat,
        List,
        Top,
        Retr,
        Dele,
        Quit,
        Rset,
        CloseQuit
    };

    void connectToServer();
    void send(const QByteArray& command, Step step, bool multiLine, const QString& shown = {});
    void onReadyRead();
    bool awaitingReply() const;
    void failOnReply();
    void takeListedLine(QByteArrayView line);
    void onReply();
    void onSocketError(QAbstractSocket::SocketError error);
    void onStateChanged(QAbstractSocket::SocketState state);
    void onEncrypted();
    void onReplyTimeout(bool whole);
    void startReplyTimer();
    void stopTimers();
    bool closing() const { return m_step == Step::Rset || m_step == Step::CloseQuit; }
    void logIn();
    void nextMessage();
    void fetchCurrent();
    void finishLoop();
    void succeed();
    void fail(const QString& text, bool dropConnection = false);
    void dropSocket();
    QString replyText() const;

    bool hasMessageId(const QString& id);
    void recordMessageId(const QString& id);
    void pruneMessageIds();

    bv::data::Connection& m_connection;
    StoreMessage m_store;
    bool m_leaveMail = false;
    Pop3TimeLimits m_timeLimits;
    Pop3SizeLimits m_sizeLimits;
    QList<QSslCertificate> m_extraCa;

    QSslSocket* m_socket = nullptr;
    QTimer* m_connectTimer;
    QTimer* m_replyTimer;   // without progress
    QTimer* m_commandTimer; // the whole answer
    bool m_trustLoopback = true;
    Step m_step = Step::Idle;
    bool m_checking = false; // the steps belong to a check, not to endSession
    Pop3Account m_account;
    QString m_host;
    quint16 m_port = 110;
    QString m_shownCommand; // what a failure names: the command without its secret
    QStringList m_sslErrors;

    Pop3Reply m_reply; // the answer being read

    bool m_offersStls = false;
    int m_count = 0;
    int m_current = 0;
    // From LIST, by message number, as far as the listing came in order; a
    // message beyond it has no known size.
    QList<qint64> m_sizes;
    QString m_currentId;
    QSet<QString> m_seen; // upper-cased
};

} // namespace bv::returned

#include "DeliverSpool.h"
#include "SpoolMessage.h"

#include "core/TextFile.h"

#include <QDeadlineTimer>
#include <QHostInfo>
#include <QRegularExpression>
#include <QSslSocket>

#include <cctype>

namespace bv::send {

namespace {

constexpr quint16 kSmtpPort = 25;
// Far beyond RFC 5321's limits; a peer sending more is not an exchanger.
constexpr qsizetype kMaxReplyLine = 4096;
constexpr int kMaxReplyLines = 1000;
// Message text waiting in the socket before we wait for the peer to read.
constexpr qint64 kWriteBacklog = 256 * 1024;

struct Reply
{
    int code = 0;
    QList<QByteArray> lines; // as received, without the line break
};

// Each line from its fifth character on, an enhanced status code at its
// start left out, each followed by CR LF.
QString replyText(const Reply& reply)
{
    static const QRegularExpression enhanced(
        QStringLiteral("^[245]\\.\\d{1,3}\\.\\d{1,3}(\\s+|$)"));
    QString text;
    bool anyText = false;
    for (const QByteArray& line : reply.lines) {
        QString t = decodeText(line.mid(4));
        t.remove(enhanced);
        anyText = anyText || !t.isEmpty();
        text += t + QLatin1String("\r\n");
    }
    if (anyText)
        return text;
    // A bare code says no more than itself; an empty text would read as
    // success to the caller.
    text.clear();
    for (const QByteArray& line : reply.lines)
        text += decodeText(line) + QLatin1String("\r\n");
    return text;
}

class Conversation
{
public:
    explicit Conversation(const QString& host) : m_host(host) {}
    ~Conversation() { m_socket.abort(); }

    bool connect()
    {
        m_socket.connectToHost(m_host, kSmtpPort);
        return m_socket.waitForConnected(kExchangerTimeLimitMs);
    }

    // One whole reply within the time limit; false on a time-out, a lost
    // connection or a line that is no reply line.
    bool await(Reply& reply)
    {
        reply = Reply();
        QDeadlineTimer deadline(kExchangerTimeLimitMs);
        for (;;) {
            const qsizetype lf = m_buffer.indexOf('\n');
            if (lf < 0) {
                if (m_buffer.size() > kMaxReplyLine)
                    return broken();
                if (deadline.hasExpired() || !m_socket.isOpen() ||
                    (!m_socket.waitForReadyRead(int(deadline.remainingTime())) &&
                     m_socket.bytesAvailable() == 0))
                    return broken();
                m_buffer += m_socket.readAll();
                continue;
            }
            QByteArray line = m_buffer.left(lf);
            m_buffer.remove(0, lf + 1);
            if (line.endsWith('\r'))
                line.chop(1);
            const bool digits = line.size() >= 3 && std::isdigit(uchar(line[0])) &&
                                std::isdigit(uchar(line[1])) && std::isdigit(uchar(line[2]));
            if (!digits || (line.size() > 3 && line[3] != ' ' && line[3] != '-') ||
                reply.lines.size() >= kMaxReplyLines)
                return broken();
            reply.lines << line;
            if (line.size() > 3 && line[3] == '-')
                continue;
            reply.code = line.left(3).toInt();
            m_last = reply;
            return true;
        }
    }

    bool send(QByteArrayView bytes)
    {
        if (m_broken || m_socket.write(bytes.data(), bytes.size()) != bytes.size())
            return broken();
        while (m_socket.bytesToWrite() > kWriteBacklog)
            if (!m_socket.waitForBytesWritten(kExchangerTimeLimitMs))
                return broken();
        return true;
    }

    bool command(const QByteArray& line, Reply& reply)
    {
        // A value with a line end of its own would smuggle in a command.
        if (line.contains('\r') || line.contains('\n') || line.contains('\0'))
            return broken();
        return send(line + "\r\n") && flush() && await(reply);
    }

    bool flush()
    {
        while (m_socket.bytesToWrite() > 0)
            if (!m_socket.waitForBytesWritten(kExchangerTimeLimitMs))
                return broken();
        return true;
    }

    bool startTls()
    {
        m_buffer.clear(); // nothing said before the handshake counts after it
        m_socket.setPeerVerifyMode(QSslSocket::VerifyNone);
        m_socket.startClientEncryption();
        return m_socket.waitForEncrypted(kExchangerTimeLimitMs);
    }

    // The text of a failure that is no reply: the last reply's.
    QString lastReplyText() const
    {
        if (!m_last.lines.isEmpty())
            return replyText(m_last);
        return m_socket.errorString() + QLatin1String("\r\n");
    }

    // Polite when the peer still listens; any failure is of no account.
    void quit()
    {
        if (!m_broken && m_socket.state() == QAbstractSocket::ConnectedState) {
            Reply ignored;
            command("QUIT", ignored);
            m_socket.disconnectFromHost();
            if (m_socket.state() != QAbstractSocket::UnconnectedState)
                m_socket.waitForDisconnected(kExchangerTimeLimitMs);
        }
        m_socket.abort();
    }

private:
    bool broken()
    {
        m_broken = true;
        return false;
    }

    QString m_host;
    QSslSocket m_socket;
    QByteArray m_buffer;
    Reply m_last;
    bool m_broken = false;
};

bool offersStartTls(const Reply& ehlo)
{
    for (qsizetype i = 1; i < ehlo.lines.size(); ++i)
        if (ehlo.lines[i].mid(4).trimmed().split(' ').value(0).toUpper() == "STARTTLS")
            return true;
    return false;
}

// EHLO, or HELO when EHLO is refused; the EHLO reply in *ehlo.
bool greet(Conversation& c, const QByteArray& name, Reply* ehlo)
{
    Reply reply;
    if (!c.command("EHLO " + name, reply))
        return false;
    if (reply.code == 250) {
        *ehlo = reply;
        return true;
    }
    *ehlo = Reply();
    return c.command("HELO " + name, reply) && reply.code == 250;
}

struct Attempt
{
    ExchangerAnswer answer;
    bool tlsFailed = false;
};

Attempt converse(const QString& host, SpoolMessage& message, const QByteArray& name, bool useTls)
{
    Attempt attempt;
    Conversation c(host);
    Reply reply;
    if (!c.connect())
        return attempt;
    Reply ehlo;
    if (!c.await(reply) || reply.code != 220 || !greet(c, name, &ehlo)) {
        c.quit();
        return attempt;
    }
    if (useTls && offersStartTls(ehlo) && QSslSocket::supportsSsl()) {
        if (!c.command("STARTTLS", reply)) {
            c.quit();
            return attempt;
        }
        if (reply.code == 220) {
            if (!c.startTls()) {
                attempt.tlsFailed = true;
                return attempt;
            }
            if (!greet(c, name, &ehlo)) {
                c.quit();
                return attempt;
            }
        }
    }
    attempt.answer.done = true;
    auto fail = [&](bool isReply, bool reset) {
        attempt.answer.errorText = isReply ? replyText(reply) : c.lastReplyText();
        if (reset) {
            Reply ignored;
            c.command("RSET", ignored);
        }
        c.quit();
        return attempt;
    };

    if (!c.command("RSET", reply))
        return fail(false, false);
    if (!c.command("MAIL FROM: <" + message.fromAddress().toUtf8() + ">", reply))
        return fail(false, false);
    if (reply.code != 250)
        return fail(true, false);
    bool accepted = false;
    Reply refusal;
    for (const QString& address : message.recipientAddresses()) {
        if (!c.command("RCPT TO:<" + address.toUtf8() + ">", reply))
            return fail(false, false);
        if (reply.code == 250 || reply.code == 251)
            accepted = true;
        else
            refusal = reply;
    }
    if (!accepted) {
        reply = refusal;
        return fail(true, true);
    }
    if (!c.command("DATA", reply))
        return fail(false, false);
    if (reply.code != 354)
        return fail(true, true);
    QString readError;
    bool sent = message.writeData([&c](QByteArrayView piece) { return c.send(piece); }, &readError);
    if (!sent && !readError.isEmpty()) {
        // Without the final full stop the exchanger drops what it has.
        attempt.answer.errorText = readError + QLatin1String("\r\n");
        return attempt;
    }
    if (!sent || !c.command(".", reply))
        return fail(false, false);
    if (reply.code != 250)
        return fail(true, true);
    c.quit();
    return attempt;
}

} // namespace

ExchangerAnswer SendToExchanger(const QString& host, SpoolMessage& message, const QString& heloName)
{
    const QByteArray name = (heloName.isEmpty() ? QHostInfo::localHostName() : heloName).toUtf8();
    Attempt attempt = converse(host, message, name, true);
    if (attempt.tlsFailed)
        attempt = converse(host, message, name, false);
    return attempt.answer;
}

} // namespace bv::send

#include "SmtpWire.h"

namespace bv::send {

std::optional<ServerAddress> parseServerText(const QString& text, QString& error)
{
    const QString t = text.trimmed();
    ServerAddress a;
    QString port;
    if (t.startsWith('[')) {
        const qsizetype close = t.indexOf(']');
        if (close < 0 || (close + 1 < t.size() && t.at(close + 1) != ':')) {
            error = QStringLiteral("The server address \"%1\" is not valid.").arg(text);
            return std::nullopt;
        }
        a.host = t.mid(1, close - 1);
        if (close + 1 < t.size())
            port = t.mid(close + 2);
        else
            port = QStringLiteral("25");
    } else if (t.count(':') == 1) {
        a.host = t.section(':', 0, 0);
        port = t.section(':', 1);
    } else {
        a.host = t;
        port = QStringLiteral("25");
    }
    a.host = a.host.trimmed();
    if (a.host.isEmpty()) {
        error = QStringLiteral("Destination address required");
        return std::nullopt;
    }
    bool ok = false;
    const uint n = port.trimmed().toUInt(&ok);
    if (!ok || n == 0 || n > 65535) {
        error = QStringLiteral("The port of the server address \"%1\" is not a number from 1 "
                               "to 65535.")
                    .arg(text);
        return std::nullopt;
    }
    a.port = quint16(n);
    return a;
}

namespace {

// The span inside the last "<...>" of text; with quotes, only brackets
// outside quoted strings and comments count, and a quote or comment left open
// at the end finds nothing.
bool lastAngleAddress(const QString& text, bool honourQuotes, qsizetype& from, qsizetype& to)
{
    bool quoted = false;
    int comment = 0;
    qsizetype open = -1;
    bool found = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (honourQuotes && (quoted || comment > 0)) {
            if (c == u'\\')
                ++i;
            else if (quoted && c == u'"')
                quoted = false;
            else if (!quoted && c == u'(')
                ++comment;
            else if (!quoted && c == u')')
                --comment;
            continue;
        }
        if (honourQuotes && open < 0 && c == u'"')
            quoted = true;
        else if (honourQuotes && open < 0 && c == u'(')
            comment = 1;
        else if (c == u'<')
            open = i;
        else if (c == u'>' && open >= 0) {
            from = open + 1;
            to = i;
            found = true;
            open = -1;
        }
    }
    return found && !quoted && comment <= 0;
}

} // namespace

QString addressOfEntry(const QString& entry)
{
    qsizetype from = 0;
    qsizetype to = 0;
    // An entry whose quotes do not pair is not one we wrote: its last
    // brackets are taken as they stand.
    if (lastAngleAddress(entry, true, from, to) || lastAngleAddress(entry, false, from, to))
        return entry.mid(from, to - from).trimmed();
    return entry.trimmed();
}

QString envelopeAddress(const QString& text)
{
    QString a = addressOfEntry(text);
    if (a.isEmpty())
        return a;
    if (!a.startsWith(u'<'))
        a.prepend(u'<');
    if (!a.endsWith(u'>'))
        a.append(u'>');
    return a;
}

bool hasControlCharacter(const QString& text)
{
    for (const QChar c : text)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

int replyCode(const QByteArray& line)
{
    if (line.size() < 5)
        return 0;
    int code = 0;
    for (int i = 0; i < 3; ++i) {
        const char c = line.at(i);
        if (c < '0' || c > '9')
            return 0;
        code = code * 10 + (c - '0');
    }
    return code;
}

WinsockError winsockError(QAbstractSocket::SocketError error)
{
    using S = QAbstractSocket;
    switch (error) {
    case S::ConnectionRefusedError:
    case S::ProxyConnectionRefusedError:
        return {10061, QStringLiteral("Connection refused")};
    case S::RemoteHostClosedError:
    case S::ProxyConnectionClosedError:
        return {10054, QStringLiteral("Connection reset by peer")};
    case S::HostNotFoundError:
    case S::ProxyNotFoundError:
        return {11001, QStringLiteral("Host not found")};
    case S::SocketTimeoutError:
    case S::ProxyConnectionTimeoutError:
        return {10060, QStringLiteral("Connection timed out")};
    case S::SocketAccessError:
        return {10013, QStringLiteral("Permission denied")};
    case S::SocketResourceError:
        return {10055, QStringLiteral("No buffer space available")};
    case S::DatagramTooLargeError:
        return {10040, QStringLiteral("Message too long")};
    case S::NetworkError:
        return {10065, QStringLiteral("No route to host")};
    case S::AddressInUseError:
        return {10048, QStringLiteral("Address already in use")};
    case S::SocketAddressNotAvailableError:
        return {10049, QStringLiteral("Cannot assign requested address")};
    case S::UnsupportedSocketOperationError:
        return {10045, QStringLiteral("Operation not supported")};
    case S::UnfinishedSocketOperationError:
        return {10036, QStringLiteral("Operation now in progress")};
    case S::TemporaryError:
        return {10035, QStringLiteral("Resource temporarily unavailable")};
    case S::OperationError:
        return {10022, QStringLiteral("Invalid argument")};
    case S::ProxyAuthenticationRequiredError:
    case S::ProxyProtocolError:
    case S::SslHandshakeFailedError:
    case S::SslInternalError:
    case S::SslInvalidUserDataError:
    case S::UnknownSocketError:
        break;
    }
    return connectionAborted();
}

WinsockError connectionAborted()
{
    return {10053, QStringLiteral("Software caused connection abort")};
}

QByteArray DotStuffer::feed(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size() + text.size() / 32 + 4);
    for (const char c : text) {
        if (m_pendingCr) {
            m_pendingCr = false;
            out += "\r\n";
            m_atLineStart = true;
            if (c == '\n')
                continue;
        }
        if (c == '\r') {
            m_pendingCr = true;
            continue;
        }
        if (c == '\n') {
            out += "\r\n";
            m_atLineStart = true;
            continue;
        }
        if (m_atLineStart && c == '.')
            out += '.';
        out += c;
        m_atLineStart = false;
    }
    return out;
}

QByteArray DotStuffer::finish()
{
    QByteArray out;
    if (m_pendingCr || !m_atLineStart)
        out += "\r\n";
    m_pendingCr = false;
    m_atLineStart = true;
    return out + ".\r\n";
}

} // namespace bv::send

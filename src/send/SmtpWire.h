#pragma once

#include <QAbstractSocket>
#include <QByteArray>
#include <QString>

#include <optional>

// The pieces of the SMTP conversation that need no socket: server texts,
// envelope addresses, reply codes, the message text as it goes on the wire
// and the Windows Sockets errors the program reports.
namespace bv::send {

struct ServerAddress
{
    QString host;
    quint16 port = 25;
};

// "host" or "host:port" ("[v6 address]:port" too); a text with more than one
// colon and no brackets is an IPv6 address on port 25. nullopt with error set
// for a text that names no host or no valid port.
std::optional<ServerAddress> parseServerText(const QString& text, QString& error);

// The address of one entry of an address list ("Name" <a@b.c> (note)): the
// text inside the last angle brackets that stand outside quoted strings and
// comments, so that nothing a display name holds can pass for the address;
// the whole entry when it has none. Trimmed.
QString addressOfEntry(const QString& entry);

// MAIL FROM / RCPT TO form of an address text: the address of the entry in
// angle brackets. Empty stays empty.
QString envelopeAddress(const QString& text);

// Whether text holds CR, LF or another control character, which would end
// a command line early and let the rest be read as a command of its own.
bool hasControlCharacter(const QString& text);

// The reply code of a line (terminator included): its first three characters
// as a decimal number when the line has at least 5 characters, else 0.
int replyCode(const QByteArray& line);

// A Windows Sockets error number and its English text.
struct WinsockError
{
    int code;
    QString text;
};
WinsockError winsockError(QAbstractSocket::SocketError error);
// The client gave up the connection itself: a TLS failure, a reply beyond
// the bounds, a refused STARTTLS.
WinsockError connectionAborted();
// A time limit passed.
constexpr int kTimedOut = 10060;

// Turns the message text into the DATA stream piece by piece: every line
// ends in CR LF (a lone CR or LF ends a line too, so no bare line end can
// smuggle a "." line through), and a line that begins with "." gets one more.
class DotStuffer
{
public:
    QByteArray feed(const QByteArray& text);
    // The end of the last line and the "." line.
    QByteArray finish();

private:
    bool m_atLineStart = true;
    bool m_pendingCr = false;
};

} // namespace bv::send

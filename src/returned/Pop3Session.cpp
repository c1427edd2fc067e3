#include "Pop3Session.h"

#include "data/Database.h"
#include "lists/EmailUtils.h"
#include "send/SmtpWire.h"

#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringDecoder>
#include <QTimer>

#include <cstring>
#include <exception>

namespace bv::returned {

namespace {

// The width of MessageIDs.MimeMessageID: a longer identifier is stored cut,
// and must be looked up cut, or it would be fetched again at every check.
constexpr int kMessageIdWidth = 200;
constexpr qint64 kReadChunk = 64 * 1024;

QString seconds(int ms)
{
    return QString::number(ms / 1000.0) + QStringLiteral(" s");
}

// UTF-8 when the bytes are UTF-8, otherwise one byte per character.
QString decodeText(const QByteArray& bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(bytes);
    if (utf8.hasError())
        text = QString::fromLatin1(bytes);
    return text;
}

} // namespace

QString messageOfText(int i, int n)
{
    return QStringLiteral("Messsage %1 of %2").arg(i).arg(n);
}

QString notConnectedText()
{
    return QStringLiteral("Not connected");
}

QString noMessagesText()
{
    return QStringLiteral("No messages on server");
}

QString retrievingText()
{
    return QStringLiteral("Retrieving messages");
}

QString socketErrorText(QAbstractSocket::SocketError error, const QString& fallback)
{
    // The one table of Windows Sockets numbers, shared with the SMTP client;
    // an error it has no number for keeps Qt's own text.
    const send::WinsockError known = send::winsockError(error);
    if (known.code == send::connectionAborted().code)
        return fallback;
    return QStringLiteral("Socket error %1: %2").arg(known.code).arg(known.text);
}

QString tooLargeText(int i, qint64 size, qint64 limit)
{
    return QStringLiteral(
               "Message %1 (%2 bytes) is larger than %3 bytes; it was left on the server.")
        .arg(i)
        .arg(size)
        .arg(limit);
}

QString messageIdOf(const QByteArray& header)
{
    QByteArray value;
    bool inId = false;
    for (QByteArray line : header.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty())
            break;
        if (line.front() == ' ' || line.front() == '\t') {
            if (inId)
                value += line;
            continue;
        }
        if (inId)
            break;
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 &&
            line.left(colon).trimmed().compare("message-id", Qt::CaseInsensitive) == 0) {
            inId = true;
            value = line.mid(colon + 1);
        }
    }
    QString id = decodeText(value.trimmed()).left(kMessageIdWidth);
    while (id.endsWith(QLatin1Char(' ')))
        id.chop(1);
    return id;
}

namespace {
QList<QSslCertificate>& defaultExtraCa()
{
    static QList<QSslCertificate> certificates;
    return certificates;
}
} // namespace

void Pop3Session::setDefaultExtraCaCertificates(const QList<QSslCertificate>& certificates)
{
    defaultExtraCa() = certificates;
}

Pop3Session::Pop3Session(bv::data::Connection& connection, StoreMessage store, QObject* parent)
    : QObject(parent), m_connection(connection), m_store(std::move(store)),
      m_extraCa(defaultExtraCa()), m_connectTimer(new QTimer(this)), m_replyTimer(new QTimer(this))
{
    m_connectTimer->setSingleShot(true);
    m_replyTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        fail(socketErrorText(QAbstractSocket::SocketTimeoutError, {}) +
                 QStringLiteral(" (connecting to ") + m_host + QLatin1Char(':') +
                 QString::number(m_port) + QStringLiteral(" for more than ") +
                 seconds(m_timeLimits.connect) + QLatin1Char(')'),
             true);
    });
    connect(m_replyTimer, &QTimer::timeout, this, &Pop3Session::onReplyTimeout);
}

Pop3Session::~Pop3Session()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

bool Pop3Session::connected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool Pop3Session::checkMail(const Pop3Account& account)
{
    if (busy())
        return false;
    m_checking = true;
    m_account = account;
    QString server = account.server.trimmed();
    m_port = quint16(account.port > 0 ? account.port : 110);
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    if (server.startsWith(QLatin1Char('['))) {
        const qsizetype close = server.indexOf(QLatin1Char(']'));
        if (close > 0 && server.mid(close + 1, 1) == QLatin1String(":"))
            m_port = quint16(server.mid(close + 2).toUInt());
        server = server.mid(1, close > 0 ? close - 1 : -1);
    } else if (colon > 0 && server.count(QLatin1Char(':')) == 1) {
        bool ok = false;
        const uint port = server.mid(colon + 1).toUInt(&ok);
        if (ok && port > 0 && port < 65536)
            m_port = quint16(port);
        server = server.left(colon);
    }
    m_host = server;
    m_sslErrors.clear();
    if (connected()) {
        // Deletions marked in the earlier check take effect now.
        send("QUIT", Step::QuitOld, false);
        return true;
    }
    dropSocket();
    connectToServer();
    return true;
}

bool Pop3Session::endSession()
{
    if (busy() || !connected())
        return false;
    m_checking = false;
    send("RSET", Step::Rset, false);
    return true;
}

void Pop3Session::connectToServer()
{
    m_socket = new QSslSocket(this);
    // Qt keeps no more than this unread; the rest waits in the kernel.
    m_socket->setReadBufferSize(kReadChunk);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    if (!m_extraCa.isEmpty())
        tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + m_extraCa);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    m_socket->setSslConfiguration(tls);
    connect(m_socket, &QSslSocket::readyRead, this, &Pop3Session::onReadyRead);
    connect(m_socket, &QSslSocket::errorOccurred, this, &Pop3Session::onSocketError);
    connect(m_socket, &QSslSocket::stateChanged, this, &Pop3Session::onStateChanged);
    connect(m_socket, &QSslSocket::encrypted, this, &Pop3Session::onEncrypted);
    connect(m_socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        for (const QSslError& e : errors)
            m_sslErrors << e.errorString();
    });

    m_step = Step::Connecting;
    m_shownCommand.clear();
    m_connectTimer->start(m_timeLimits.connect);
    if (m_port == 995)
        m_socket->connectToHostEncrypted(m_host, m_port);
    else
        m_socket->connectToHost(m_host, m_port);
}

void Pop3Session::onStateChanged(QAbstractSocket::SocketState state)
{
    switch (state) {
    case QAbstractSocket::HostLookupState:
        emit status(QStringLiteral("Resolving hostname %1.").arg(m_host));
        break;
    case QAbstractSocket::ConnectingState:
        emit status(QStringLiteral("Connecting to %1.").arg(m_host));
        break;
    case QAbstractSocket::ConnectedState:
        emit status(QStringLiteral("Connected."));
        if (m_step == Step::Connecting && m_port != 995) {
            m_connectTimer->stop();
            send(QByteArray(), Step::Greeting, false);
        }
        break;
    case QAbstractSocket::ClosingState:
        emit status(QStringLiteral("Disconnecting."));
        break;
    case QAbstractSocket::UnconnectedState:
        emit status(QStringLiteral("Disconnected."));
        break;
    default:
        break;
    }
}

void Pop3Session::onEncrypted()
{
    if (m_step == Step::Connecting) {
        m_connectTimer->stop();
        send(QByteArray(), Step::Greeting, false);
    } else if (m_step == Step::Handshake) {
        // What the server offered before the upgrade no longer counts.
        send("CAPA", Step::CapaAgain, true);
    }
}

void Pop3Session::send(const QByteArray& command, Step step, bool multiLine, const QString& shown)
{
    m_step = step;
    m_multiLine = multiLine;
    m_haveStatus = false;
    m_ok = false;
    m_statusLine.clear();
    m_line.clear();
    m_lineLength = 0;
    m_data.clear();
    m_lineStart = 0;
    m_overflow = false;
    m_received = 0;
    m_keepLimit = step == Step::Top ? m_sizeLimits.header : m_sizeLimits.message;
    m_shownCommand = shown.isEmpty() ? QString::fromLatin1(command) : shown;
    if (!command.isEmpty()) {
        m_socket->write(command + "\r\n");
        // Out now rather than at the next turn of the event loop: the reply
        // is what the check waits for.
        m_socket->flush();
    }
    startReplyTimer();
}

void Pop3Session::startReplyTimer()
{
    m_replyTimer->start(m_timeLimits.reply);
}

void Pop3Session::onReadyRead()
{
    if (!m_socket)
        return;
    char buffer[kReadChunk];
    while (m_socket && m_socket->bytesAvailable() > 0) {
        const qint64 got = m_socket->read(buffer, sizeof buffer);
        if (got <= 0)
            break;
        if (m_step == Step::Idle || m_step == Step::Connecting || m_step == Step::Handshake)
            continue; // nothing is asked: stray bytes
        m_received += got;
        startReplyTimer();
        feed(buffer, got);
    }
}

void Pop3Session::feed(const char* data, qint64 size)
{
    qint64 pos = 0;
    while (pos < size) {
        const void* nl = std::memchr(data + pos, '\n', size_t(size - pos));
        const qint64 end = nl ? static_cast<const char*>(nl) - data + 1 : size;
        const qint64 length = end - pos;
        m_lineLength += length;
        const qint64 lineLimit = m_haveStatus ? m_sizeLimits.message : m_sizeLimits.replyLine;
        if (m_lineLength > lineLimit + 2) {
            fail(QStringLiteral(
                     "The server sent a line longer than %1 bytes%2; the connection was closed.")
                     .arg(lineLimit)
                     .arg(m_shownCommand.isEmpty()
                              ? QString()
                              : QStringLiteral(" (") + m_shownCommand + QLatin1Char(')')),
                 true);
            return;
        }
        if (!m_haveStatus) {
            m_line.append(data + pos, length);
        } else {
            if (!m_overflow && m_data.size() + length > m_keepLimit) {
                // Only whole lines are kept; the rest of the reply is only
                // watched for its end line.
                m_overflow = true;
                m_line = m_data.mid(m_lineStart, 3);
                m_data.truncate(m_lineStart);
            }
            // Body lines go straight into the reply: no copy a line.
            if (!m_overflow)
                m_data.append(data + pos, length);
            else
                m_line.append(data + pos, qMin<qint64>(length, qMax<qint64>(0, 3 - m_line.size())));
        }
        pos = end;
        if (nl) {
            if (m_haveStatus)
                completeDataLine();
            else
                completeStatusLine();
            if (m_step == Step::Idle)
                return;
        }
    }
}

void Pop3Session::completeStatusLine()
{
    QByteArray line = m_line;
    m_line.clear();
    m_lineLength = 0;
    if (line.endsWith('\n'))
        line.chop(1);
    if (line.endsWith('\r'))
        line.chop(1);
    m_statusLine = line;
    m_ok = line.startsWith("+OK");
    if (m_ok && m_multiLine) {
        m_haveStatus = true;
        return;
    }
    m_replyTimer->stop();
    onReply();
}

void Pop3Session::completeDataLine()
{
    const qint64 length = m_lineLength;
    m_lineLength = 0;
    if (m_overflow) {
        QByteArray line = m_line;
        m_line.clear();
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        if (length <= 3 && line == ".") {
            m_replyTimer->stop();
            onReply();
        }
        return;
    }
    // The line stands at the end of the reply: its end becomes CR LF, a
    // leading dot is unstuffed, and the line "." ends the reply.
    char* line = m_data.data() + m_lineStart;
    qsizetype n = m_data.size() - m_lineStart;
    if (n > 0 && line[n - 1] == '\n')
        --n;
    if (n > 0 && line[n - 1] == '\r')
        --n;
    if (n == 1 && line[0] == '.') {
        m_data.truncate(m_lineStart);
        m_replyTimer->stop();
        onReply();
        return;
    }
    if (n > 0 && line[0] == '.') {
        std::memmove(line, line + 1, size_t(n - 1));
        --n;
    }
    m_data.truncate(m_lineStart + n);
    m_data.append("\r\n", 2);
    m_lineStart = m_data.size();
}

QString Pop3Session::replyText() const
{
    QByteArray text = m_statusLine;
    if (text.startsWith("-ERR"))
        text = text.mid(4).trimmed();
    else if (text.startsWith("+OK"))
        text = text.mid(3).trimmed();
    if (text.isEmpty())
        text = m_statusLine.isEmpty() ? QByteArray("-ERR") : m_statusLine;
    return decodeText(text);
}

void Pop3Session::onReply()
{
    switch (m_step) {
    case Step::QuitOld:
        dropSocket();
        connectToServer();
        return;
    case Step::Greeting:
        if (!m_ok)
            return fail(replyText());
        send("CAPA", Step::Capa, true);
        return;
    case Step::Capa:
        m_capabilities.clear();
        if (m_ok) {
            for (const QByteArray& line : m_data.split('\n'))
                if (!line.trimmed().isEmpty())
                    m_capabilities
                        << QString::fromLatin1(line.trimmed().split(' ').front()).toUpper();
        }
        if (m_capabilities.contains(QStringLiteral("STLS")) && !m_socket->isEncrypted()) {
            send("STLS", Step::Stls, false);
            return;
        }
        logIn();
        return;
    case Step::Stls:
        if (!m_ok)
            return fail(
                QStringLiteral("The server offers STLS but refused it (%1); the password was not "
                               "sent unencrypted.")
                    .arg(replyText()));
        m_step = Step::Handshake;
        startReplyTimer();
        m_socket->startClientEncryption();
        return;
    case Step::CapaAgain:
        logIn();
        return;
    case Step::User:
        if (!m_ok)
            return fail(replyText());
        send("PASS " + m_account.password.toUtf8(), Step::Pass, false, QStringLiteral("PASS"));
        return;
    case Step::Pass:
        if (!m_ok)
            return fail(replyText());
        emit status(QStringLiteral("Connected"));
        send("STAT", Step::Stat, false);
        return;
    case Step::Stat: {
        if (!m_ok)
            return fail(replyText());
        bool number = false;
        m_count =
            QString::fromLatin1(m_statusLine.mid(3).trimmed().split(' ').front()).toInt(&number);
        if (!number)
            return fail(QStringLiteral("The server's answer to STAT holds no message count: ") +
                        decodeText(m_statusLine));
        send("LIST", Step::List, true);
        return;
    }
    case Step::List:
        m_sizes = QList<qint64>(qMax(0, m_count), -1);
        if (m_ok) {
            for (const QByteArray& line : m_data.split('\n')) {
                const QList<QByteArray> fields = line.trimmed().split(' ');
                bool ok = false;
                const int number = fields.front().toInt(&ok);
                if (ok && fields.size() > 1 && number >= 1 && number <= m_count)
                    m_sizes[number - 1] = fields.at(1).toLongLong();
            }
        }
        emit messageCount(m_count);
        if (m_count <= 0) {
            emit status(noMessagesText());
            succeed();
            return;
        }
        m_seen.clear();
        m_current = 0;
        nextMessage();
        return;
    case Step::Top:
        if (!m_ok)
            return fail(replyText());
        m_currentId = messageIdOf(m_data);
        m_seen.insert(bv::lists::upperAscii(m_currentId));
        try {
            if (hasMessageId(m_currentId))
                return nextMessage();
        } catch (const bv::data::DbError& e) {
            return fail(e.message());
        }
        if (m_sizes.value(m_current - 1, -1) > m_sizeLimits.message) {
            emit notice(tooLargeText(m_current, m_sizes.at(m_current - 1), m_sizeLimits.message));
            return nextMessage();
        }
        emit status(retrievingText());
        send("RETR " + QByteArray::number(m_current), Step::Retr, true);
        // LIST's size spares the reply its reallocations as it grows.
        if (const qint64 listed = m_sizes.value(m_current - 1, -1); listed > 0)
            m_data.reserve(qMin(listed + 2, m_keepLimit));
        return;
    case Step::Retr:
        if (!m_ok)
            return fail(replyText());
        if (m_overflow) {
            emit notice(tooLargeText(m_current, m_received, m_sizeLimits.message));
            emit status(messageOfText(m_current, m_count));
            return nextMessage();
        }
        try {
            m_store(m_data);
            m_data.clear();
            emit status(messageOfText(m_current, m_count));
            // Recorded before DELE: a refused DELE must not get the stored
            // message fetched a second time.
            recordMessageId(m_currentId);
        } catch (const bv::data::DbError& e) {
            return fail(e.message());
        } catch (const std::exception& e) {
            return fail(QString::fromUtf8(e.what()));
        }
        if (!m_leaveMail)
            send("DELE " + QByteArray::number(m_current), Step::Dele, false);
        else
            nextMessage();
        return;
    case Step::Dele:
        if (!m_ok)
            return fail(replyText());
        nextMessage();
        return;
    case Step::Quit:
        return finishLoop();
    case Step::Rset:
        send("QUIT", Step::CloseQuit, false);
        return;
    case Step::CloseQuit:
        dropSocket();
        emit status(notConnectedText());
        succeed();
        return;
    default:
        return;
    }
}

void Pop3Session::logIn()
{
    send("USER " + m_account.user.toUtf8(), Step::User, false);
}

void Pop3Session::nextMessage()
{
    ++m_current;
    if (m_current > m_count) {
        send("QUIT", Step::Quit, false);
        return;
    }
    emit status(messageOfText(m_current, m_count));
    send("TOP " + QByteArray::number(m_current) + " 0", Step::Top, true);
}

void Pop3Session::finishLoop()
{
    const bool quitOk = m_ok;
    const QString quitText = replyText();
    dropSocket();
    emit status(notConnectedText());
    try {
        pruneMessageIds();
    } catch (const bv::data::DbError& e) {
        return fail(e.message());
    }
    if (!quitOk)
        return fail(quitText);
    succeed();
}

void Pop3Session::succeed()
{
    m_step = Step::Idle;
    m_connectTimer->stop();
    m_replyTimer->stop();
    emit finished(true, QString());
}

void Pop3Session::fail(const QString& text, bool dropConnection)
{
    const Step was = m_step;
    m_step = Step::Idle;
    m_connectTimer->stop();
    m_replyTimer->stop();
    if (dropConnection)
        dropSocket();
    // Closing the window goes on whatever the server does.
    if (!m_checking && (was == Step::Rset || was == Step::CloseQuit)) {
        dropSocket();
        emit status(notConnectedText());
        emit finished(true, QString());
        return;
    }
    emit finished(false, text);
}

void Pop3Session::dropSocket()
{
    if (!m_socket)
        return;
    QSslSocket* socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    if (socket->state() != QAbstractSocket::UnconnectedState) {
        emit status(QStringLiteral("Disconnecting."));
        socket->abort();
        emit status(QStringLiteral("Disconnected."));
    }
    socket->deleteLater();
}

void Pop3Session::onSocketError(QAbstractSocket::SocketError error)
{
    switch (m_step) {
    case Step::Idle:
        // The connection a check left open has gone; nothing is lost.
        dropSocket();
        return;
    case Step::QuitOld:
        dropSocket();
        connectToServer();
        return;
    default:
        break;
    }
    if (error == QAbstractSocket::SslHandshakeFailedError) {
        const QString why = m_sslErrors.isEmpty() ? m_socket->errorString()
                                                  : m_sslErrors.join(QStringLiteral("; "));
        fail(QStringLiteral("The secure connection to %1 failed: %2").arg(m_host, why), true);
        return;
    }
    QString text = socketErrorText(error, m_socket->errorString());
    if (!m_shownCommand.isEmpty())
        text += QStringLiteral(" (") + m_shownCommand + QLatin1Char(')');
    fail(text, true);
}

void Pop3Session::onReplyTimeout()
{
    if (m_step == Step::QuitOld) {
        dropSocket();
        connectToServer();
        return;
    }
    const QString what = m_step == Step::Handshake  ? QStringLiteral("TLS handshake")
                         : m_shownCommand.isEmpty() ? QStringLiteral("greeting")
                                                    : m_shownCommand;
    fail(socketErrorText(QAbstractSocket::SocketTimeoutError, {}) +
             QStringLiteral(" (no answer to ") + what + QStringLiteral(" within ") +
             seconds(m_timeLimits.reply) + QLatin1Char(')'),
         true);
}

bool Pop3Session::hasMessageId(const QString& id)
{
    return m_connection
               .scalar(QStringLiteral("select count(*) from MessageIDs where MimeMessageID = :id"),
                       {{QStringLiteral("id"), id}})
               .toInt() > 0;
}

void Pop3Session::recordMessageId(const QString& id)
{
    // One statement: the look-up and the insert of every fetched message.
    m_connection.execute(QStringLiteral("insert into MessageIDs (MimeMessageID) select :id where "
                                        "not exists (select 1 from MessageIDs where MimeMessageID "
                                        "= :id)"),
                         {{QStringLiteral("id"), id}});
}

void Pop3Session::pruneMessageIds()
{
    const bv::data::ResultSet stored =
        m_connection.select(QStringLiteral("select MimeMessageID from MessageIDs"));
    for (const QVariantList& row : stored.rows) {
        const QString id = row.value(0).toString();
        if (!m_seen.contains(bv::lists::upperAscii(id)))
            m_connection.execute(QStringLiteral("delete from MessageIDs where MimeMessageID = :id"),
                                 {{QStringLiteral("id"), id}});
    }
}

} // namespace bv::returned

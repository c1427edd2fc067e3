#include "Pop3Session.h"

#include "core/SingleLine.h"
#include "data/Database.h"
#include "lists/EmailUtils.h"
#include "send/SmtpWire.h"

#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringDecoder>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <exception>

namespace bv::returned {

namespace {

// The width of MessageIDs.MimeMessageID: a longer identifier is stored cut,
// and must be looked up cut, or it would be fetched again at every check.
constexpr int kMessageIdWidth = 200;
constexpr qint64 kReadChunk = 64 * 1024;
// LIST's size spares a message its reallocations as it arrives, but a size
// the server merely claims never reserves more than this.
constexpr qint64 kMostReserved = 1024 * 1024;

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

QString plainPasswordRefusedText(const QString& host)
{
    return QStringLiteral(
               "The server %1 offers no encryption (STLS), so the password was not sent. To send "
               "it unencrypted anyway, tick \"Allow password without encryption\" for this "
               "account under Setup Accounts.")
        .arg(host);
}

QString cancelledText()
{
    return QStringLiteral("Cancelled: the connection was closed without QUIT, so the server "
                          "deletes nothing.");
}

bool isLoopbackAddress(const QHostAddress& address)
{
    bool v4 = false;
    const quint32 ip = address.toIPv4Address(&v4);
    return v4 ? (ip >> 24) == 127 : address.isLoopback();
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
      m_extraCa(defaultExtraCa()), m_connectTimer(new QTimer(this)), m_replyTimer(new QTimer(this)),
      m_commandTimer(new QTimer(this))
{
    m_connectTimer->setSingleShot(true);
    m_replyTimer->setSingleShot(true);
    m_commandTimer->setSingleShot(true);
    connect(m_connectTimer, &QTimer::timeout, this, [this] {
        fail(socketErrorText(QAbstractSocket::SocketTimeoutError, {}) +
                 QStringLiteral(" (connecting to ") + m_host + QLatin1Char(':') +
                 QString::number(m_port) + QStringLiteral(" for more than ") +
                 seconds(m_timeLimits.connect) + QLatin1Char(')'),
             true);
    });
    m_reply.onLine = [this](QByteArrayView line) { takeListedLine(line); };
    connect(m_replyTimer, &QTimer::timeout, this, [this] { onReplyTimeout(false); });
    connect(m_commandTimer, &QTimer::timeout, this, [this] { onReplyTimeout(true); });
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

void Pop3Session::cancel()
{
    const bool wasBusy = busy();
    m_step = Step::Idle;
    stopTimers();
    dropSocket();
    emit status(notConnectedText());
    if (wasBusy)
        emit finished(false, cancelledText());
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
    const bool listed = step == Step::Capa || step == Step::CapaAgain || step == Step::List;
    Pop3Reply::Limits limits;
    limits.statusLine = m_sizeLimits.replyLine;
    limits.dataLine = m_sizeLimits.message;
    limits.keep = step == Step::Top ? m_sizeLimits.header : m_sizeLimits.message;
    limits.total = m_sizeLimits.reply;
    m_reply.start(!multiLine ? Pop3Reply::Kind::Single
                  : listed   ? Pop3Reply::Kind::Listed
                             : Pop3Reply::Kind::Kept,
                  limits);
    m_shownCommand = shown.isEmpty() ? QString::fromLatin1(command) : shown;
    if (step == Step::Capa || step == Step::CapaAgain)
        m_offersStls = false;
    if (step == Step::List)
        m_sizes.clear();
    if (!command.isEmpty()) {
        m_socket->write(command + "\r\n");
        // Out now rather than at the next turn of the event loop: the reply
        // is what the check waits for.
        m_socket->flush();
    }
    m_commandTimer->start(closing() ? qMin(m_timeLimits.command, m_timeLimits.goodbye)
                                    : m_timeLimits.command);
    startReplyTimer();
}

void Pop3Session::startReplyTimer()
{
    m_replyTimer->start(closing() ? qMin(m_timeLimits.reply, m_timeLimits.goodbye)
                                  : m_timeLimits.reply);
}

void Pop3Session::stopTimers()
{
    m_connectTimer->stop();
    m_replyTimer->stop();
    m_commandTimer->stop();
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
        if (awaitingReply())
            startReplyTimer();
        qint64 pos = 0;
        // A piece may end one answer and begin the next.
        while (pos < got && m_socket && awaitingReply()) {
            qint64 used = 0;
            const Pop3Reply::Progress progress = m_reply.feed(buffer + pos, got - pos, &used);
            pos += used;
            if (progress == Pop3Reply::Progress::More)
                break;
            if (progress == Pop3Reply::Progress::Failed)
                return failOnReply();
            stopTimers();
            onReply();
        }
    }
}

bool Pop3Session::awaitingReply() const
{
    // Otherwise nothing is asked: stray bytes.
    return m_step != Step::Idle && m_step != Step::Connecting && m_step != Step::Handshake;
}

void Pop3Session::failOnReply()
{
    const QString command =
        m_shownCommand.isEmpty() ? QString() : QStringLiteral(" (") + m_shownCommand + QLatin1Char(')');
    if (m_reply.failure() == Pop3Reply::Failure::LineTooLong)
        fail(QStringLiteral(
                 "The server sent a line longer than %1 bytes%2; the connection was closed.")
                 .arg(m_reply.failedLimit())
                 .arg(command),
             true);
    else
        fail(QStringLiteral("The server's answer went on beyond %1 bytes%2; the connection was "
                            "closed.")
                 .arg(m_reply.failedLimit())
                 .arg(command),
             true);
}

void Pop3Session::takeListedLine(QByteArrayView line)
{
    line = line.trimmed();
    const qsizetype blank = line.indexOf(' ');
    const QByteArrayView first = blank < 0 ? line : line.first(blank);
    if (m_step == Step::List) {
        // Grown from the lines that come, never from a count the server
        // claims: a listing out of order only loses the sizes.
        bool ok = false;
        const qint64 number = first.toLongLong(&ok);
        const qint64 size = blank < 0 ? -1 : line.sliced(blank + 1).trimmed().toLongLong();
        if (!ok || number < 1 || number > m_count)
            return;
        if (number == m_sizes.size() + 1)
            m_sizes.append(size);
        else if (number <= m_sizes.size())
            m_sizes[number - 1] = size;
    } else if (first.compare("STLS", Qt::CaseInsensitive) == 0) {
        m_offersStls = true;
    }
}

QString Pop3Session::replyText() const
{
    const QByteArray& status = m_reply.statusLine();
    QByteArray text = status;
    if (text.startsWith("-ERR"))
        text = text.mid(4).trimmed();
    else if (text.startsWith("+OK"))
        text = text.mid(3).trimmed();
    if (text.isEmpty())
        text = status.isEmpty() ? QByteArray("-ERR") : status;
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
        if (!m_reply.ok())
            return fail(replyText());
        send("CAPA", Step::Capa, true);
        return;
    case Step::Capa:
        if (m_offersStls && m_reply.ok() && !m_socket->isEncrypted()) {
            send("STLS", Step::Stls, false);
            return;
        }
        logIn();
        return;
    case Step::Stls:
        if (!m_reply.ok())
            return fail(
                QStringLiteral("The server offers STLS but refused it (%1); the password was not "
                               "sent unencrypted.")
                    .arg(replyText()));
        m_step = Step::Handshake;
        m_commandTimer->start(m_timeLimits.command);
        startReplyTimer();
        m_socket->startClientEncryption();
        return;
    case Step::CapaAgain:
        logIn();
        return;
    case Step::User:
        if (!m_reply.ok())
            return fail(replyText());
        send("PASS " + m_account.password.toUtf8(), Step::Pass, false, QStringLiteral("PASS"));
        return;
    case Step::Pass:
        if (!m_reply.ok())
            return fail(replyText());
        emit status(QStringLiteral("Connected"));
        send("STAT", Step::Stat, false);
        return;
    case Step::Stat: {
        if (!m_reply.ok())
            return fail(replyText());
        bool number = false;
        m_count =
            QString::fromLatin1(m_reply.statusLine().mid(3).trimmed().split(' ').front())
                .toInt(&number);
        if (!number)
            return fail(QStringLiteral("The server's answer to STAT holds no message count: ") +
                        decodeText(m_reply.statusLine()));
        send("LIST", Step::List, true);
        return;
    }
    case Step::List:
        if (!m_reply.ok())
            m_sizes.clear();
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
        if (!m_reply.ok())
            return fail(replyText());
        m_currentId = messageIdOf(m_reply.data());
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
        if (const qint64 listed = m_sizes.value(m_current - 1, -1); listed > 0)
            m_reply.data().reserve(std::min({listed + 2, m_sizeLimits.message, kMostReserved}));
        return;
    case Step::Retr:
        if (!m_reply.ok())
            return fail(replyText());
        if (m_reply.overflow()) {
            emit notice(tooLargeText(m_current, m_reply.received(), m_sizeLimits.message));
            emit status(messageOfText(m_current, m_count));
            return nextMessage();
        }
        try {
            m_store(m_reply.data());
            m_reply.data().clear();
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
        if (!m_reply.ok())
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
    // Anyone on the path can strip STLS from the server's capabilities: the
    // password goes out in the clear only where the user said it may.
    if (!m_socket->isEncrypted() && !m_account.allowPlainPassword &&
        !(m_trustLoopback && isLoopbackAddress(m_socket->peerAddress())))
        return fail(plainPasswordRefusedText(m_host));
    // A line break would end the command early and send the rest as another.
    if (!isSingleLine(m_account.user) || !isSingleLine(m_account.password))
        return fail(QStringLiteral("The log-in name or the password of this account holds a line "
                                   "break, so it was not sent. Correct it under Setup Accounts."));
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
    const bool quitOk = m_reply.ok();
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
    stopTimers();
    emit finished(true, QString());
}

void Pop3Session::fail(const QString& text, bool dropConnection)
{
    const Step was = m_step;
    m_step = Step::Idle;
    stopTimers();
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

void Pop3Session::onReplyTimeout(bool whole)
{
    if (m_step == Step::QuitOld) {
        dropSocket();
        connectToServer();
        return;
    }
    const QString what = m_step == Step::Handshake  ? QStringLiteral("TLS handshake")
                         : m_shownCommand.isEmpty() ? QStringLiteral("greeting")
                                                    : m_shownCommand;
    const int limit = whole ? m_timeLimits.command : m_timeLimits.reply;
    const QString why =
        whole ? QStringLiteral(" (the answer to ") + what + QStringLiteral(" took longer than ")
              : QStringLiteral(" (no answer to ") + what + QStringLiteral(" within ");
    fail(socketErrorText(QAbstractSocket::SocketTimeoutError, {}) + why +
             seconds(closing() ? qMin(limit, m_timeLimits.goodbye) : limit) + QLatin1Char(')'),
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

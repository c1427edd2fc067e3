#include "SmtpClient.h"

#include "core/Clock.h"

#include <QHostInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTimer>

#include <algorithm>

namespace bv::send {

namespace {

// Bounds on what the server may send: a reply line, the lines and bytes of
// one multi-line reply. RFC 5321 allows 512 bytes a line; these are generous.
constexpr qsizetype kMaxLine = 64 * 1024;
constexpr int kMaxReplyLines = 1000;
constexpr qint64 kMaxReplyBytes = 1024 * 1024;
constexpr qint64 kReadChunk = 64 * 1024;
constexpr qint64 kReadBuffer = 256 * 1024;
// The message text is read and written in pieces, and no more is queued
// than the socket can write soon, so memory stays flat for any size.
constexpr qint64 kTextChunk = 64 * 1024;
constexpr qint64 kWriteAhead = 256 * 1024;

QList<QSslCertificate>& defaultExtraCa()
{
    static QList<QSslCertificate> certificates;
    return certificates;
}

QByteArray base64(const QString& text)
{
    return text.toUtf8().toBase64();
}

} // namespace

QString SmtpStateText(TIpSmtpStates state)
{
    switch (state) {
    case ssNoOp:
        return QStringLiteral("No operation");
    case ssConnect:
        return QStringLiteral("Connecting");
    case ssEhlo:
        return QStringLiteral("Logging on with EHLO");
    case ssHelo:
        return QStringLiteral("Logging on with HELO");
    case ssMailFrom:
        return QStringLiteral("Sending sender's info");
    case ssRcptTo:
        return QStringLiteral("Sending MailTo info");
    case ssRcptCc:
        return QStringLiteral("Sending CC info");
    case ssRcptBcc:
        return QStringLiteral("Sending BCC info");
    case ssData:
        return QStringLiteral("Sending Data");
    case ssRSet:
        return QStringLiteral("Resetting server");
    case ssHelp:
        return QStringLiteral("Help");
    case ssSendEnvelope:
        return QStringLiteral("Sending Envelope");
    case ssSendMessage:
        return QStringLiteral("Sending Message");
    case ssSpecial:
        return QStringLiteral("Sending special command");
    case ssQuit:
        return QStringLiteral("Quit");
    case ssAuthLogin:
        return QStringLiteral("Requesting authentication");
    case ssAuthUser:
        return QStringLiteral("Authenticating username");
    case ssAuthPass:
        return QStringLiteral("Authenticating password");
    }
    return QString();
}

QString passwordWithheldText(const QString& server)
{
    return QStringLiteral("The password was not sent: the SMTP server %1 offered no encryption "
                          "(STARTTLS), so anyone on the way could have read it. To send it "
                          "anyway, tick \"Allow password without encryption\" on the \"Send By "
                          "SMTP\" page.")
        .arg(server);
}

TIpSmtpClient::TIpSmtpClient(Clock& clock, QObject* parent)
    : QObject(parent), m_clock(clock), m_message(std::make_unique<compose::TIpMailMessage>(clock)),
      m_extraCa(defaultExtraCa())
{
    m_socket = new QSslSocket(this);
    m_socket->setReadBufferSize(kReadBuffer);
    connect(m_socket, &QSslSocket::connected, this, &TIpSmtpClient::onConnected);
    connect(m_socket, &QSslSocket::encrypted, this, &TIpSmtpClient::onEncrypted);
    connect(m_socket, &QSslSocket::readyRead, this, [this] {
        m_lastTraffic = m_clock.uptimeMs();
        readReplies();
    });
    connect(m_socket, &QSslSocket::bytesWritten, this, &TIpSmtpClient::onBytesWritten);
    connect(m_socket, &QSslSocket::errorOccurred, this, &TIpSmtpClient::onSocketError);
    connect(m_socket, &QSslSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        for (const QSslError& e : errors)
            m_sslErrors << e.errorString();
    });
    m_limit = new QTimer(this);
    m_limit->setSingleShot(true);
    connect(m_limit, &QTimer::timeout, this, &TIpSmtpClient::onLimitPassed);
    m_idleTimer = m_clock.createTimer(this);
    connect(m_idleTimer, &Timer::timeout, this, &TIpSmtpClient::onIdleCheck);
}

TIpSmtpClient::~TIpSmtpClient()
{
    // At once and without QUIT; no event of the socket reaches a client
    // that is going away.
    m_socket->disconnect(this);
    m_socket->abort();
}

void TIpSmtpClient::setDefaultExtraCaCertificates(const QList<QSslCertificate>& certificates)
{
    defaultExtraCa() = certificates;
}

void TIpSmtpClient::replaceMessage()
{
    auto fresh = std::make_unique<compose::TIpMailMessage>(m_clock);
    fresh->setOnCodingProgress(m_message->codingProgressHandler());
    fresh->setSigner(m_message->signer());
    m_message = std::move(fresh);
    m_envelopeRecipients.clear();
}

bool TIpSmtpClient::peerIsLoopback() const
{
    return m_socket->peerAddress().isLoopback();
}

bool TIpSmtpClient::connected() const
{
    return m_socket->state() == QAbstractSocket::ConnectedState;
}

void TIpSmtpClient::setState(TIpSmtpStates state)
{
    if (state == m_state)
        return;
    m_state = state;
    QMetaObject::invokeMethod(
        this, [this, state] { emit OnStateChange(this, state); }, Qt::QueuedConnection);
}

void TIpSmtpClient::endTask(TIpSmtpTasks task)
{
    m_task = task;
    m_taskRunning = false;
    QMetaObject::invokeMethod(
        this, [this, task] { emit OnTaskComplete(this, task); }, Qt::QueuedConnection);
}

QString TIpSmtpClient::ehloName() const
{
    return m_domain.isEmpty() ? QHostInfo::localHostName() : m_domain;
}

QStringList TIpSmtpClient::envelope() const
{
    if (!m_envelopeRecipients.isEmpty()) {
        QStringList out;
        for (const QString& a : m_envelopeRecipients)
            out << envelopeAddress(a);
        return out;
    }
    QStringList out;
    for (const QString& r : m_message->mailTo() + m_message->cc() + m_message->bcc())
        out << envelopeAddress(r);
    return out;
}

void TIpSmtpClient::checkMessage() const
{
    const auto refuse = [](const QString& kind, const QString& value, bool recipient) {
        throw SmtpError(QStringLiteral("The %1 \"%2\" holds a line break or another control "
                                       "character.")
                            .arg(kind, value.simplified()),
                        recipient);
    };
    const QStringList recipients = envelope();
    if (recipients.isEmpty())
        throw SmtpError(QStringLiteral("No recipients specified"));
    if (hasControlCharacter(envelopeAddress(m_message->from())))
        refuse(QStringLiteral("address"), envelopeAddress(m_message->from()), false);
    for (const QString& address : recipients)
        if (hasControlCharacter(address))
            refuse(QStringLiteral("address"), address, true);
    if (hasControlCharacter(ehloName()))
        refuse(QStringLiteral("domain"), ehloName(), false);
}

void TIpSmtpClient::SendMail(const QString& server, bool quitAfterSend)
{
    if (m_state != ssNoOp)
        throw SmtpError(QStringLiteral("Can not comply, wrong state"));
    QString error;
    const std::optional<ServerAddress> address = parseServerText(server, error);
    if (!address)
        throw SmtpError(error);
    checkMessage();

    m_passwordWithheld = false;
    m_task = stSendMail;
    m_taskRunning = true;
    m_quitAfterSend = quitAfterSend;
    if (connected()) {
        const auto abandon = [this] {
            m_await = Await::Nothing;
            m_limit->stop();
            m_task = stFailed;
            m_taskRunning = false;
            setState(ssNoOp);
        };
        try {
            afterLogon();
        } catch (const SmtpError&) {
            abandon();
            throw;
        } catch (const compose::MessageError& e) {
            abandon();
            throw SmtpError(e.message());
        }
        return;
    }

    closeConnection();
    m_host = address->host;
    m_implicitTls = startsEncrypted(address->port);
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    if (!m_extraCa.isEmpty())
        tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + m_extraCa);
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    m_socket->setSslConfiguration(tls);
    setState(ssConnect);
    m_await = Await::Connect;
    restartLimit();
    if (m_implicitTls)
        m_socket->connectToHostEncrypted(address->host, address->port);
    else
        m_socket->connectToHost(address->host, address->port);
}

void TIpSmtpClient::Quit()
{
    const bool inData =
        m_await == Await::Data || m_await == Await::Text || m_await == Await::EndOfText;
    if (connected() && !inData) {
        sendCommand("QUIT", ssQuit, Await::Quit);
        return;
    }
    // Not connected, or the server reads a message text that a QUIT line
    // would become part of: the connection ends here.
    closeConnection();
    setState(ssNoOp);
    if (m_taskRunning)
        endTask(stFailed);
}

void TIpSmtpClient::sendCommand(const QByteArray& command, TIpSmtpStates state, Await await)
{
    // The values were checked before; a line end here would start a command
    // nobody meant, so the conversation ends instead.
    if (command.contains('\r') || command.contains('\n') || command.contains('\0')) {
        setState(state);
        fail(connectionAborted().code,
             QStringLiteral("A command held a line break or a NUL; the connection was closed."));
        return;
    }
    setState(state);
    m_await = await;
    restartLimit();
    m_socket->write(command + "\r\n");
}

TIpSmtpClient::Limit TIpSmtpClient::currentLimit() const
{
    const SmtpTimeLimits& l = m_timeLimits;
    const auto reply = [](int ms, const char* what) {
        return Limit{ms, QStringLiteral("Timed out waiting for the server's reply to %1")
                             .arg(QLatin1String(what))};
    };
    switch (m_await) {
    case Await::Nothing:
        break;
    case Await::Connect:
    case Await::Handshake:
        return {l.connect, QString()};
    case Await::Greeting:
        return {l.greeting, QString()};
    case Await::Ehlo:
        return reply(l.other, "EHLO");
    case Await::StartTls:
        return reply(l.other, "STARTTLS");
    case Await::TlsUpgrade:
        return {l.other, QStringLiteral("Timed out during the TLS handshake")};
    case Await::Helo:
        return reply(l.other, "HELO");
    case Await::AuthLogin:
        return reply(l.other, "AUTH LOGIN");
    case Await::AuthUser:
        return reply(l.other, "the user name");
    case Await::AuthPass:
        return reply(l.other, "the password");
    case Await::AuthPlain:
        return reply(l.other, "AUTH PLAIN");
    case Await::MailFrom:
        return reply(l.mailFrom, "MAIL FROM");
    case Await::RcptTo:
        return reply(l.rcptTo, "RCPT TO");
    case Await::Data:
        return reply(l.dataInit, "DATA");
    case Await::Text:
        return {l.dataBlock, QStringLiteral("Timed out sending the message text")};
    case Await::EndOfText:
        return reply(l.dataTermination, "the end of the message text");
    case Await::Quit:
        return reply(l.other, "QUIT");
    }
    return {0, QString()};
}

void TIpSmtpClient::restartLimit()
{
    const int ms = currentLimit().ms;
    if (ms > 0)
        m_limit->start(ms);
    else
        m_limit->stop();
}

void TIpSmtpClient::onLimitPassed()
{
    // While connecting the text is the socket error's own.
    fail(kTimedOut,
         m_state == ssConnect ? QStringLiteral("Connection timed out") : currentLimit().what);
}

void TIpSmtpClient::onConnected()
{
    // One command waits for one reply: nothing is gained by holding small
    // segments back.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_lastTraffic = m_clock.uptimeMs();
    if (m_timerInterval > 0) {
        m_idleTimer->setInterval(m_timerInterval);
        m_idleTimer->start();
    }
    if (m_implicitTls) {
        m_await = Await::Handshake; // the connect limit goes on
        return;
    }
    m_await = Await::Greeting;
    restartLimit();
}

void TIpSmtpClient::onEncrypted()
{
    m_tlsActive = true;
    if (m_await == Await::Handshake) {
        m_await = Await::Greeting;
        restartLimit();
    } else if (m_await == Await::TlsUpgrade) {
        // What the server offered in the clear no longer counts.
        m_offersStartTls = false;
        m_offersPlain = false;
        sendCommand("EHLO " + ehloName().toUtf8(), ssEhlo, Await::Ehlo);
    }
}

void TIpSmtpClient::onIdleCheck()
{
    if (m_idleTimeout <= 0 || !connected() || m_clock.uptimeMs() - m_lastTraffic <= m_idleTimeout)
        return;
    bool reset = false;
    emit OnIdleTimeout(this, reset);
    if (reset)
        m_lastTraffic = m_clock.uptimeMs();
}

void TIpSmtpClient::onSocketError()
{
    const QAbstractSocket::SocketError error = m_socket->error();
    if (error == QAbstractSocket::RemoteHostClosedError) {
        // A last reply may have come with the close.
        if (readReplies())
            closedByServer();
        return;
    }
    if (error == QAbstractSocket::SslHandshakeFailedError ||
        error == QAbstractSocket::SslInternalError ||
        error == QAbstractSocket::SslInvalidUserDataError) {
        const QString why = m_sslErrors.isEmpty() ? m_socket->errorString()
                                                  : m_sslErrors.join(QStringLiteral("; "));
        fail(connectionAborted().code,
             QStringLiteral("The TLS handshake with %1 failed: %2").arg(m_host, why));
        return;
    }
    const WinsockError w = winsockError(error);
    fail(w.code, w.text);
}

void TIpSmtpClient::closedByServer()
{
    if (m_state == ssQuit) {
        quitReplied();
        return;
    }
    if (m_taskRunning) {
        // The server went away before it accepted the message.
        const WinsockError w = winsockError(QAbstractSocket::RemoteHostClosedError);
        fail(w.code, w.text);
        return;
    }
    closeConnection();
    setState(ssNoOp);
    m_task = stNoTask;
}

void TIpSmtpClient::fail(int errCode, const QString& errStr)
{
    closeConnection();
    if (m_state == ssConnect)
        emit OnConnectError(this, errCode, errStr);
    else
        emit OnError(this, errCode, errStr);
    setState(ssNoOp);
    if (m_taskRunning)
        endTask(stFailed);
}

void TIpSmtpClient::closeConnection()
{
    ++m_connection;
    m_limit->stop();
    m_idleTimer->stop();
    m_await = Await::Nothing;
    m_input.clear();
    m_continuation.clear();
    m_continuationBytes = 0;
    m_offersStartTls = false;
    m_offersPlain = false;
    m_tlsActive = false;
    m_loggedOn = false;
    m_authenticated = false;
    m_sslErrors.clear();
    m_text.reset();
    m_pieces.clear();
    m_socket->abort();
}

bool TIpSmtpClient::readReplies()
{
    const quint64 connection = m_connection;
    // A handler that runs an event loop must not read the lines of the
    // reply being handled a second time.
    if (m_reading)
        return true;
    m_reading = true;
    const auto done = qScopeGuard([this] { m_reading = false; });
    while (m_socket->bytesAvailable() > 0) {
        m_input += m_socket->read(kReadChunk);
        qsizetype start = 0;
        for (qsizetype end; (end = m_input.indexOf('\n', start)) >= 0; start = end + 1) {
            handleLine(m_input.mid(start, end + 1 - start));
            if (connection != m_connection)
                return false;
        }
        m_input.remove(0, start);
        if (m_input.size() > kMaxLine) {
            fail(connectionAborted().code,
                 QStringLiteral("The server sent a reply line longer than %1 bytes; the "
                                "connection was closed.")
                     .arg(kMaxLine));
            return false;
        }
    }
    return true;
}

void TIpSmtpClient::handleLine(const QByteArray& line)
{
    if (line.size() > kMaxLine) {
        fail(connectionAborted().code,
             QStringLiteral("The server sent a reply line longer than %1 bytes; the connection "
                            "was closed.")
                 .arg(kMaxLine));
        return;
    }
    const int code = replyCode(line);
    const QString text = QString::fromUtf8(line);
    if (line.size() > 4 && line.at(3) == '-') {
        m_continuation << text;
        m_continuationBytes += line.size();
        if (m_continuation.size() > kMaxReplyLines || m_continuationBytes > kMaxReplyBytes)
            fail(connectionAborted().code,
                 QStringLiteral("The server sent a reply of more than %1 lines or %2 bytes; "
                                "the connection was closed.")
                     .arg(kMaxReplyLines)
                     .arg(kMaxReplyBytes));
        return;
    }
    const quint64 connection = m_connection;
    m_lastReply = std::exchange(m_continuation, {});
    m_continuationBytes = 0;
    if (!m_lastReply.isEmpty())
        emit OnMultiLineResponse(this, m_state, m_lastReply);
    else
        emit OnResponse(this, m_state, code, text.mid(4));
    m_lastReply << text;
    if (connection == m_connection)
        handleReply(code, text);
}

void TIpSmtpClient::handleReply(int code, const QString& endLine)
{
    const bool exempt = m_state == ssEhlo || m_state == ssAuthLogin || m_state == ssAuthUser ||
                        m_state == ssAuthPass;
    if (code > 400 && !exempt && m_taskRunning) {
        // The server's stream is out of step when it refuses part way
        // through the message text; the connection cannot be used again.
        // Nor can a connection that never got through its log-on.
        const bool unusable = m_await == Await::Text || !m_loggedOn;
        m_await = Await::Nothing;
        m_limit->stop();
        m_text.reset();
        endTask(stFailed);
        setState(ssNoOp);
        if (unusable)
            closeConnection();
        else if (m_quitAfterSend)
            m_socket->write("QUIT\r\n");
        return;
    }
    takeNextStep(code, endLine);
}

template <typename Step> void TIpSmtpClient::guarded(Step step)
{
    try {
        step();
    } catch (const SmtpError& e) {
        fail(connectionAborted().code, e.text());
    } catch (const compose::MessageError& e) {
        fail(connectionAborted().code, e.message());
    }
}

void TIpSmtpClient::takeNextStep(int code, const QString& endLine)
{
    switch (m_await) {
    case Await::Greeting:
        sendCommand("EHLO " + ehloName().toUtf8(), ssEhlo, Await::Ehlo);
        break;
    case Await::Ehlo:
        if (code != 250) {
            sendCommand("HELO " + ehloName().toUtf8(), ssHelo, Await::Helo);
        } else {
            readCapabilities();
            if (m_offersStartTls && !m_tlsActive)
                sendCommand("STARTTLS", ssEhlo, Await::StartTls);
            else
                guarded([this] { afterLogon(); });
        }
        break;
    case Await::StartTls:
        if (code / 100 != 2) {
            fail(connectionAborted().code,
                 QStringLiteral("The server offered STARTTLS and then refused it: %1")
                     .arg(endLine.trimmed()));
            break;
        }
        // Nothing sent in the clear after the reply may pass for a reply
        // that came through TLS.
        m_input.clear();
        m_socket->readAll();
        m_await = Await::TlsUpgrade;
        restartLimit();
        m_socket->startClientEncryption();
        break;
    case Await::Helo:
        m_loggedOn = true;
        guarded([this] { startMessage(); });
        break;
    case Await::AuthLogin:
        if (code == 334)
            sendCommand(base64(m_userID), ssAuthUser, Await::AuthUser);
        else if (m_offersPlain)
            sendCommand("AUTH PLAIN " + base64(QChar(0) + m_userID + QChar(0) + m_password),
                        ssAuthPass, Await::AuthPlain);
        else {
            m_enableAuth = false;
            guarded([this] { startMessage(); });
        }
        break;
    case Await::AuthUser:
        if (code == 334) {
            sendCommand(base64(m_password), ssAuthPass, Await::AuthPass);
        } else {
            m_enableAuth = false;
            guarded([this] { startMessage(); });
        }
        break;
    case Await::AuthPass:
    case Await::AuthPlain:
        m_authenticated = code == 235;
        if (!m_authenticated)
            m_enableAuth = false;
        guarded([this] { startMessage(); });
        break;
    case Await::MailFrom:
    case Await::RcptTo:
        sendNextRecipient();
        break;
    case Await::Data:
        setState(ssSendMessage);
        m_await = Await::Text;
        m_wireWritten = 0;
        m_wireCounted = 0;
        m_textSent = 0;
        m_pieces.clear();
        m_stuffer = DotStuffer();
        restartLimit();
        pumpText();
        break;
    case Await::Text:
        // Taken as it stands, this would report a message the server never
        // had whole as sent.
        fail(connectionAborted().code,
             QStringLiteral("The server replied before the end of the message text: %1")
                 .arg(endLine.trimmed()));
        break;
    case Await::EndOfText:
        messageAccepted();
        break;
    case Await::Quit:
        quitReplied();
        break;
    case Await::Nothing:
    case Await::Connect:
    case Await::Handshake:
    case Await::TlsUpgrade:
        break;
    }
}

void TIpSmtpClient::readCapabilities()
{
    m_offersStartTls = false;
    m_offersPlain = false;
    static const QRegularExpression separators(QStringLiteral("[ =]"));
    for (qsizetype i = 1; i < m_lastReply.size(); ++i) {
        const QStringList words =
            m_lastReply[i].mid(4).trimmed().toUpper().split(separators, Qt::SkipEmptyParts);
        if (words.isEmpty())
            continue;
        if (words[0] == QLatin1String("STARTTLS"))
            m_offersStartTls = true;
        else if (words[0] == QLatin1String("AUTH") && words.contains(QLatin1String("PLAIN")))
            m_offersPlain = true;
    }
}

void TIpSmtpClient::afterLogon()
{
    m_loggedOn = true;
    if (!m_enableAuth || m_authenticated) {
        startMessage();
        return;
    }
    // Whoever can strip STARTTLS from the server's reply would read the
    // password otherwise.
    if (!m_tlsActive && !m_allowPlainPassword && !peerIsLoopback()) {
        m_passwordWithheld = true;
        throw SmtpError(passwordWithheldText(m_host));
    }
    sendCommand("AUTH LOGIN", ssAuthLogin, Await::AuthLogin);
}

void TIpSmtpClient::startMessage()
{
    checkMessage();
    compose::TIpMailMessage& message = *m_message;
    m_accepted = false;
    m_envelope = envelope();
    if (!m_xMailer.isEmpty()) {
        QStringList fields = message.userFields();
        const bool has = std::any_of(fields.cbegin(), fields.cend(), [](const QString& f) {
            return f.left(9).toUpper().contains(QLatin1String("X-MAILER:"));
        });
        if (!has) {
            fields << QStringLiteral("X-Mailer: ") + m_xMailer;
            message.setUserFields(fields);
        }
    }
    const QStringList bcc = message.bcc();
    if (!m_includeBCC)
        message.setBcc({});
    const auto restore = qScopeGuard([&] { message.setBcc(bcc); });
    m_text = message.EncodeStaged();
    m_textSize = m_text->size();
    sendCommand("MAIL FROM:" + envelopeAddress(message.from()).toUtf8(), ssMailFrom,
                Await::MailFrom);
}

void TIpSmtpClient::sendNextRecipient()
{
    if (m_envelope.isEmpty()) {
        sendCommand("DATA", ssData, Await::Data);
        return;
    }
    sendCommand("RCPT TO:" + m_envelope.takeFirst().toUtf8(), ssRcptTo, Await::RcptTo);
}

void TIpSmtpClient::pumpText()
{
    while (m_await == Await::Text && m_socket->bytesToWrite() < kWriteAhead) {
        const QByteArray chunk = m_text->read(kTextChunk);
        if (chunk.isEmpty() && !m_text->atEnd()) {
            fail(connectionAborted().code,
                 QStringLiteral("Cannot read the message text. %1").arg(m_text->errorString()));
            return;
        }
        const QByteArray wire = chunk.isEmpty() ? m_stuffer.finish() : m_stuffer.feed(chunk);
        m_pieces.push_back({wire.size(), chunk.size()});
        m_socket->write(wire);
        if (chunk.isEmpty()) {
            m_text.reset();
            m_await = Await::EndOfText;
            restartLimit();
        }
    }
}

void TIpSmtpClient::onBytesWritten(qint64 bytes)
{
    m_lastTraffic = m_clock.uptimeMs();
    if (m_state != ssSendMessage)
        return;
    m_wireWritten += bytes;
    const qint64 before = m_textSent;
    while (!m_pieces.empty() && m_wireCounted + m_pieces.front().wire <= m_wireWritten) {
        m_wireCounted += m_pieces.front().wire;
        m_textSent += m_pieces.front().text;
        m_pieces.pop_front();
    }
    restartLimit();
    if (m_textSent != before)
        emit OnProgress(this, m_textSent);
    pumpText();
}

void TIpSmtpClient::messageAccepted()
{
    const quint64 connection = m_connection;
    m_await = Await::Nothing;
    m_limit->stop();
    m_accepted = true;
    emit OnProgress(this, m_textSize);
    replaceMessage();
    bool nextMsgReady = false;
    emit OnNextMessage(this, nextMsgReady);
    if (connection != m_connection)
        return;
    if (nextMsgReady)
        guarded([this] { startMessage(); });
    else if (m_quitAfterSend)
        sendCommand("QUIT", ssQuit, Await::Quit);
    else {
        setState(ssNoOp);
        endTask(stSendMail);
    }
}

void TIpSmtpClient::quitReplied()
{
    m_authenticated = false;
    closeConnection();
    setState(ssNoOp);
    if (m_taskRunning)
        endTask(m_accepted ? stSendMail : stFailed);
}

} // namespace bv::send

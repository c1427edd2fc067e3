#include "app/HttpDownload.h"

#include "app/UpdateSite.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSaveFile>

namespace bv::app {

HttpDownload::HttpDownload(QNetworkAccessManager& network, QObject* parent)
    : QObject(parent), m_network(network)
{
}

HttpDownload::~HttpDownload()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    if (m_file)
        m_file->cancelWriting();
}

void HttpDownload::start(const QUrl& source, const QString& target, int stallTimeoutMs,
                         const Checks& checks)
{
    m_checks = checks;
    m_hash.reset();
    m_expected = -1;
    m_received = 0;
    m_started = false;
    m_aborted = false;
    m_tooLarge = false;
    m_failure = Failure::None;
    m_writeError.clear();
    if (!isSecureAddress(source))
        return fail(Failure::Refused, source.toString());
    m_file = std::make_unique<QSaveFile>(target);
    if (!m_file->open(QIODevice::WriteOnly)) {
        const QString reason = m_file->errorString();
        m_file.reset();
        return fail(Failure::Local, reason);
    }

    emit statusChanged(QStringLiteral("Connecting to %1...").arg(source.host()));
    m_reply = siteGet(m_network, source, stallTimeoutMs);
    connect(m_reply, &QNetworkReply::metaDataChanged, this, &HttpDownload::onMetaData);
    connect(m_reply, &QNetworkReply::readyRead, this, &HttpDownload::onReadyRead);
    connect(m_reply, &QNetworkReply::finished, this, &HttpDownload::onFinished);
}

bool HttpDownload::isRunning() const
{
    return !m_reply.isNull();
}

void HttpDownload::abort()
{
    if (!m_reply)
        return;
    m_aborted = true;
    m_reply->abort();
}

void HttpDownload::onMetaData()
{
    if (m_started || !m_reply)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Headers of a redirection are not yet the file's.
    if (status >= 300 && status < 400)
        return;
    m_started = true;
    bool known = false;
    const qint64 length = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    m_expected = known ? length : -1;
    // Refused before a byte of it is written.
    if (m_checks.maxBytes >= 0 && m_expected > m_checks.maxBytes && status >= 200 && status < 300) {
        m_tooLarge = true;
        m_reply->abort();
        return;
    }
    emit statusChanged(QStringLiteral("Connected."));
    emit transferStarted(m_expected);
}

void HttpDownload::onReadyRead()
{
    if (!m_reply || !m_file || !m_reply->isOpen() || m_tooLarge)
        return;
    const int status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray data = m_reply->readAll();
    // A server's error page is no installer.
    if (status < 200 || status >= 300)
        return;
    // No more than announced, nor than the ceiling when nothing was.
    const qint64 limit = m_expected >= 0 ? m_expected : m_checks.maxBytes;
    if (limit >= 0 && m_received + data.size() > limit) {
        m_tooLarge = true;
        m_reply->abort();
        return;
    }
    if (m_file->write(data) != data.size()) {
        m_writeError = m_file->errorString();
        m_reply->abort();
        return;
    }
    m_hash.addData(data);
    m_received += data.size();
    emit transferProgress(m_received);
}

void HttpDownload::onFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    onReadyRead();
    m_reply = nullptr;
    reply->deleteLater();
    emit statusChanged(QStringLiteral("Disconnected."));

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    if (!m_writeError.isEmpty())
        return fail(Failure::Local, m_writeError);
    if (m_aborted)
        return fail(Failure::Site, QStringLiteral("The download was cancelled."));
    if (const QUrl refused = refusedRedirection(reply); refused.isValid())
        return fail(Failure::Refused, refused.toString());
    if (m_tooLarge)
        return fail(Failure::TooLarge, tooLargeText(m_checks.maxBytes));
    if (reply->error() != QNetworkReply::NoError)
        return fail(Failure::Site, reply->errorString());
    if (status < 200 || status >= 300)
        return fail(Failure::Site, QStringLiteral("The server answered %1.").arg(status));
    // A connection closed early can look like a normal end.
    if (m_expected >= 0 && m_received != m_expected)
        return fail(Failure::Site, QStringLiteral("The download broke off after %1 of %2 bytes.")
                                       .arg(m_received)
                                       .arg(m_expected));
    if (!m_checks.sha256.isEmpty() && m_hash.result() != m_checks.sha256)
        return fail(Failure::Mismatch, QString());
    if (!m_file->commit()) {
        const QString reason = m_file->errorString();
        m_file.reset();
        return fail(Failure::Local, reason);
    }
    m_file.reset();
    emit finished(true, QString());
}

void HttpDownload::fail(Failure failure, const QString& error)
{
    m_failure = failure;
    if (m_file) {
        m_file->cancelWriting();
        m_file->commit(); // discards the temporary file
        m_file.reset();
    }
    emit finished(false, error);
}

} // namespace bv::app

#pragma once

#include <QCryptographicHash>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;

namespace bv::app {

struct DownloadChecks
{
    qint64 maxBytes = -1; // -1: no ceiling besides the size announced
    QByteArray sha256;    // empty: no sum to match
};

// One HTTP GET from a secure address into a file. The file appears under its
// name only once the whole body has arrived and passed the checks: a transfer
// that breaks off, stalls, is refused, is aborted, grows too large or does not
// match its sum leaves no part of it behind.
class HttpDownload : public QObject
{
    Q_OBJECT
public:
    HttpDownload(QNetworkAccessManager& network, QObject* parent = nullptr);
    ~HttpDownload() override;

    using Checks = DownloadChecks;
    enum class Failure
    {
        None,
        Site,     // the server's fault or the connection's
        Local,    // the target file could not be written
        Refused,  // an address that is not secure; the error names it
        TooLarge, // more than Checks::maxBytes
        Mismatch  // not the sum of Checks::sha256
    };

    // Gives up when no data arrives for stallTimeoutMs.
    void start(const QUrl& source, const QString& target, int stallTimeoutMs,
               const Checks& checks = {});
    // Stops a running transfer; finished() follows with ok false.
    void abort();
    bool isRunning() const;
    qint64 received() const { return m_received; }
    Failure failure() const { return m_failure; }
    // The last failure was the target file's, not the server's.
    bool failedLocally() const { return m_failure == Failure::Local; }

signals:
    // The expected size in bytes, -1 when the server does not tell it.
    void transferStarted(qint64 expected);
    void transferProgress(qint64 received);
    // What the connection is doing, for the window to show.
    void statusChanged(const QString& text);
    // error is empty when ok.
    void finished(bool ok, const QString& error);

private:
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void fail(Failure failure, const QString& error);

    QNetworkAccessManager& m_network;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QSaveFile> m_file;
    Checks m_checks;
    QCryptographicHash m_hash{QCryptographicHash::Sha256};
    qint64 m_expected = -1;
    qint64 m_received = 0;
    bool m_started = false;
    bool m_aborted = false;
    bool m_tooLarge = false;
    Failure m_failure = Failure::None;
    QString m_writeError;
};

} // namespace bv::app

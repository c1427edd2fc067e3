#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QSaveFile;

namespace bv::app {

// One HTTP GET into a file. The file appears under its name only once the
// whole body has arrived: a transfer that breaks off, stalls, is refused or
// is aborted leaves no part of it behind.
class HttpDownload : public QObject
{
    Q_OBJECT
public:
    HttpDownload(QNetworkAccessManager& network, QObject* parent = nullptr);
    ~HttpDownload() override;

    // Gives up when no data arrives for stallTimeoutMs.
    void start(const QUrl& source, const QString& target, int stallTimeoutMs);
    // Stops a running transfer; finished() follows with ok false.
    void abort();
    bool isRunning() const;
    qint64 received() const { return m_received; }
    // The last failure was the target file's, not the server's.
    bool failedLocally() const { return m_local; }

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
    void fail(const QString& error);

    QNetworkAccessManager& m_network;
    QPointer<QNetworkReply> m_reply;
    std::unique_ptr<QSaveFile> m_file;
    qint64 m_expected = -1;
    qint64 m_received = 0;
    bool m_started = false;
    bool m_aborted = false;
    bool m_local = false;
    QString m_writeError;
};

} // namespace bv::app

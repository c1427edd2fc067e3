#pragma once

#include "app/HttpDownload.h"

#include <QDialog>
#include <QUrl>

class QLabel;
class QNetworkAccessManager;
class QProgressBar;
class QPushButton;

namespace bv {
struct Services;
class Timer;
} // namespace bv

namespace bv::app {

// "Download Progress": fetches the installer into the target file shortly
// after it opens, showing the connection's status and the bytes received.
// Closes accepted when the file is complete, rejected when cancelled or
// failed; a target that is not complete is not left behind.
class TfrmDownloadProgress : public QDialog
{
    Q_OBJECT
public:
    static constexpr int kStartDelayMs = 444;
    static constexpr int kCloseDelayMs = 100;

    // site names the update site in the failure message.
    TfrmDownloadProgress(Services& services, QNetworkAccessManager& network, const QString& site,
                         int stallTimeoutMs, QWidget* parent = nullptr);
    ~TfrmDownloadProgress() override;

    QUrl source;
    QString target;
    HttpDownload::Checks checks;

    QLabel* lblTitle = nullptr;
    QLabel* lblStatusCaption = nullptr;
    QLabel* lblStatus = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* Button1 = nullptr;
    Timer* Timer1 = nullptr; // closes the window as cancelled
    Timer* Timer2 = nullptr; // starts the download once the window is up

    HttpDownload& download() const { return *m_download; }

public slots:
    // Closing the window by its frame or Escape cancels as Cancel does.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Timer2Timer();
    void Timer1Timer();
    void Button1Click();
    void transferEnded(bool ok, const QString& error);
    QString failureText(const QString& error) const;

    Services& m_services;
    QString m_site;
    int m_stallTimeoutMs;
    HttpDownload* m_download = nullptr;
    bool m_shownOnce = false;
    bool m_cancelling = false;
};

} // namespace bv::app

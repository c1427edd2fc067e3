#include "app/DownloadProgress.h"

#include "app/HttpDownload.h"
#include "app/UpdateSite.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/PlainText.h"
#include "core/Services.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace bv::app {

TfrmDownloadProgress::TfrmDownloadProgress(Services& services, QNetworkAccessManager& network,
                                           const QString& site, int stallTimeoutMs, QWidget* parent)
    : QDialog(parent), m_services(services), m_site(site), m_stallTimeoutMs(stallTimeoutMs)
{
    setObjectName(QStringLiteral("frmDownloadProgress"));
    setWindowTitle(QStringLiteral("Download Progress"));

    lblTitle = new QLabel(QStringLiteral("Brevicast Update:  Download in Progress"), this);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblStatusCaption = new QLabel(QStringLiteral("Status:"), this);
    lblStatusCaption->setObjectName(QStringLiteral("lblStatusCaption"));
    lblStatus = new QLabel(this);
    lblStatus->setObjectName(QStringLiteral("lblStatus"));
    lblStatus->setMinimumWidth(260);
    lblStatusCaption->setBuddy(lblStatus);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));

    auto* grid = new QGridLayout;
    grid->addWidget(lblStatusCaption, 0, 0);
    grid->addWidget(lblStatus, 0, 1);
    grid->setColumnStretch(1, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblTitle);
    layout->addLayout(grid);
    layout->addWidget(ProgressBar1);
    layout->addWidget(Button1, 0, Qt::AlignHCenter);

    Timer2 = services.clock.createTimer(this);
    Timer2->setInterval(kStartDelayMs);
    Timer1 = services.clock.createTimer(this);
    Timer1->setInterval(kCloseDelayMs);
    connect(Timer2, &Timer::timeout, this, &TfrmDownloadProgress::Timer2Timer);
    connect(Timer1, &Timer::timeout, this, &TfrmDownloadProgress::Timer1Timer);
    connect(Button1, &QPushButton::clicked, this, &TfrmDownloadProgress::Button1Click);

    m_download = new HttpDownload(network, this);
    connect(m_download, &HttpDownload::statusChanged, lblStatus,
            [this](const QString& text) { showPlainText(lblStatus, text); });
    connect(m_download, &HttpDownload::transferStarted, this, [this](qint64 expected) {
        // A size the bar cannot hold, or none, shows as busy.
        ProgressBar1->setRange(0, expected > 0 && expected <= INT_MAX ? int(expected) : 0);
        ProgressBar1->setValue(0);
    });
    connect(m_download, &HttpDownload::transferProgress, this, [this](qint64 received) {
        if (ProgressBar1->maximum() > 0)
            ProgressBar1->setValue(int(qMin<qint64>(received, ProgressBar1->maximum())));
    });
    connect(m_download, &HttpDownload::finished, this,
            [this](bool ok, const QString& error) { transferEnded(ok, error); });

    setMinimumWidth(380);
}

TfrmDownloadProgress::~TfrmDownloadProgress() = default;

void TfrmDownloadProgress::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Once: a window shown again after being minimised starts nothing new.
    if (!m_shownOnce)
        Timer2->start();
    m_shownOnce = true;
}

void TfrmDownloadProgress::Timer2Timer()
{
    Timer2->stop();
    if (QFileInfo::exists(target)) {
        if (m_services.dialogs.ask(overwriteQuestion(target), Buttons::YesNoCancel) !=
            Answer::Yes) {
            Timer1->start();
            return;
        }
        if (!QFile::remove(target)) {
            m_services.dialogs.message(notOverwrittenText(), Severity::Error);
            done(QDialog::Rejected);
            return;
        }
    }
    m_download->start(source, target, m_stallTimeoutMs, checks);
}

void TfrmDownloadProgress::transferEnded(bool ok, const QString& error)
{
    if (ok) {
        done(QDialog::Accepted);
        return;
    }
    // Cancelled by the user: nothing went wrong with the site.
    if (m_cancelling)
        return;
    m_services.dialogs.message(failureText(error), Severity::Error);
    done(QDialog::Rejected);
}

QString TfrmDownloadProgress::failureText(const QString& error) const
{
    switch (m_download->failure()) {
    case HttpDownload::Failure::Local: // no fault of the site's
        return targetNotWrittenText(target, error);
    case HttpDownload::Failure::Refused:
        return insecureAddressText(error);
    case HttpDownload::Failure::TooLarge:
        return error;
    case HttpDownload::Failure::Mismatch:
        return sumMismatchText(target);
    case HttpDownload::Failure::None:
    case HttpDownload::Failure::Site:
        break;
    }
    return siteDifficultiesText(m_site);
}

void TfrmDownloadProgress::Button1Click()
{
    Timer1->start();
}

void TfrmDownloadProgress::Timer1Timer()
{
    Timer1->stop();
    Timer2->stop();
    // The transfer stops with the window: a half file is never kept.
    m_cancelling = true;
    m_download->abort();
    done(QDialog::Rejected);
}

void TfrmDownloadProgress::reject()
{
    Timer2->stop();
    Button1Click();
}

} // namespace bv::app

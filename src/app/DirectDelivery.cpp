#include "DirectDelivery.h"

#include "app/BrevicastMain.h"
#include "app/DirectMailFrame.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "send/MailingRun.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>

namespace bv::app {

namespace {

struct PassError
{
    QString text;
};

} // namespace

DirectDelivery::DirectDelivery(TfrmBrevicastMain& window, send::TMailingRun& run, send::DeliveryJob job)
    : QObject(&window), m_window(window), m_run(run), m_pool(window.services().clock, std::move(job))
{
}

void DirectDelivery::ClearSpool()
{
    m_pool.ClearSpool(m_window.fraDirectMail1->spoolFolder(false));
}

void DirectDelivery::runPass(const QString& mask)
{
    TfraDirectMail& frame = *m_window.fraDirectMail1;
    m_pool.setFileMask(mask);
    m_pool.setSigner(m_run.signer());
    m_pool.RunDeliveryPass(frame.txtDNS->text(), frame.txtHELO->text(), frame.spoolFolder(true));
}

void DirectDelivery::SendDirect()
{
    m_pool.disconnect(this);
    try {
        TfraDirectMail& frame = *m_window.fraDirectMail1;
        frame.normaliseFolderField();
        if (!QDir(frame.spoolFolder(true)).exists())
            throw PassError{QStringLiteral("The Temporary Folder you specified does not exist, please re-enter.")};
        connect(&m_pool, &send::TDirectMail::OnThreadCountChanged, this,
                &DirectDelivery::DirectMailThreadCountChange);
        connect(&m_pool, &send::TDirectMail::OnComplete, this, &DirectDelivery::DirectMailComplete);
        connect(&m_pool, &send::TDirectMail::OnError, this, &DirectDelivery::DirectMailError);
        runPass(QStringLiteral("BVC_*.eml"));
    } catch (const PassError& e) {
        m_window.services().dialogs.message(QStringLiteral("Email processing stopped with error: ") + e.text);
    } catch (const std::exception& e) {
        m_window.services().dialogs.message(QStringLiteral("Email processing stopped with error: ")
                                            + QString::fromUtf8(e.what()));
    }
    m_pool.disconnect(this);
}

void DirectDelivery::SendErrorMails()
{
    m_pool.disconnect(this);
    try {
        finished = false;
        m_window.pbEmailProgress->setValue(0);
        m_window.pbEmailProgress->setMaximum(errorReports);
        connect(&m_pool, &send::TDirectMail::OnThreadCountChanged, this,
                &DirectDelivery::ErrorMailThreadCountChange);
        connect(&m_pool, &send::TDirectMail::OnComplete, this, &DirectDelivery::ErrorMailComplete);
        for (int i = 0; i < 20; ++i)
            m_window.services().clock.waitProcessingEvents(30);
        runPass(QStringLiteral("ERR_BVC_*.eml"));
    } catch (const std::exception& e) {
        m_window.services().dialogs.message(QStringLiteral("Email processing stopped with error: ")
                                            + QString::fromUtf8(e.what()));
    }
}

void DirectDelivery::showThreadCount(int successes, int threadCount, const QString& activity)
{
    m_window.lblSenderActiveThreads->setText(QString::number(threadCount));
    if (finished)
        return;
    QProgressBar* progress = m_window.pbEmailProgress;
    if (progress->value() < successes) {
        progress->setValue(qMin(successes, progress->maximum()));
        m_window.ShowActivity(activity + QString::number(successes) + QStringLiteral(" of ")
                              + QString::number(progress->maximum()));
    }
}

void DirectDelivery::DirectMailThreadCountChange(int successes, int threadCount)
{
    showThreadCount(successes, threadCount, QStringLiteral("Sending Email "));
}

void DirectDelivery::ErrorMailThreadCountChange(int successes, int threadCount)
{
    showThreadCount(successes, threadCount, QStringLiteral("Sending Error By Email "));
}

void DirectDelivery::DirectMailError(const QString& recipient, const QString&, const QString& error)
{
    m_run.ReportSendError(recipient, error);
    if (m_window.cbxErrorsByEmail->isChecked())
        ++errorReports;
}

void DirectDelivery::DirectMailComplete()
{
    QProgressBar* progress = m_window.pbEmailProgress;
    progress->setValue(progress->maximum());
    m_window.ShowActivity(QStringLiteral("Email Complete"));
    const bool reports = m_window.cbxErrorsByEmail->isChecked();
    if (!reports)
        m_window.services().dialogs.message(QStringLiteral("All Done - Emails Attempted: ")
                                            + QString::number(progress->maximum()) + QStringLiteral(" messages."));
    m_attempted = progress->maximum();
    progress->setValue(0);
    m_window.ShowActivity(QString());
    finished = true;
    if (reports) {
        while (m_window.lblSenderActiveThreads->text() != QLatin1String("0"))
            m_window.services().clock.waitForEvents(50);
        SendErrorMails();
    }
}

void DirectDelivery::ErrorMailComplete()
{
    QProgressBar* progress = m_window.pbEmailProgress;
    progress->setValue(progress->maximum());
    m_window.ShowActivity(QStringLiteral("Complete: Errors Sent By Email"));
    m_window.services().dialogs.message(QStringLiteral("All Done - Emails Attempted: ") + QString::number(m_attempted)
                                        + QStringLiteral(" messages, ") + QString::number(progress->maximum())
                                        + QStringLiteral(" error messages."));
    progress->setValue(0);
    m_window.ShowActivity(QString());
    finished = true;
}

} // namespace bv::app

#include "MailingCommands.h"

#include "app/BrevicastMain.h"
#include "app/BrevicastMainUi.h"
#include "app/DirectDelivery.h"
#include "app/DirectMailFrame.h"
#include "app/MessageDlgBVC.h"
#include "compose/ComposeMessage.h"
#include "core/Dialogs.h"
#include "core/PlainText.h"
#include "data/BrevicastData.h"
#include "core/SenderAccounts.h"
#include "send/DeliverSpool.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTabWidget>

namespace bv::app {

MailingCommands::MailingCommands(TfrmBrevicastMain& window) : QObject(&window), m_window(window)
{
    m_run = new send::TMailingRun(window.services(), window.dataModule()->AdsConnection1, *this, this);
    Services& services = window.services();
    data::Connection& localConnect = window.localConnect();
    QWidget* ui = &window;
    // Runs on the delivery workers' threads; a message box they ask for is
    // shown on the user-interface thread.
    auto job = [&services, &localConnect, ui](const QString& path, const send::TSettings& settings) {
        send::TSpoolDelivery delivery(localConnect, services.clock, {settings.DNSServer, settings.HeloName, settings.Signer},
                                      [&services, ui](const QString& text) {
                                          QMetaObject::invokeMethod(
                                              ui, [&services, text] { services.dialogs.message(text); },
                                              Qt::QueuedConnection);
                                      });
        return delivery.DeliverAndRecord(path);
    };
    m_direct = new DirectDelivery(window, *m_run, std::move(job));
    connect(window.Action1, &QAction::triggered, this, [this] { start(send::RunKind::NewMailing); });
    connect(window.Action2, &QAction::triggered, this, [this] { start(send::RunKind::Redo); });
    connect(window.Action20, &QAction::triggered, this, [this] { start(send::RunKind::Test); });
    connect(window.Action4, &QAction::triggered, m_run, &send::TMailingRun::btnPauseClick);
    connect(window.Action3, &QAction::triggered, m_run, &send::TMailingRun::Action3Execute);
}

MailingCommands::~MailingCommands() = default;

void MailingCommands::start(send::RunKind kind)
{
    // A second run is not accepted while one is in progress.
    if (m_run->inProgress())
        return;
    m_run->btnSendClick(kind);
    if (m_closeAfterRun) {
        m_closeAfterRun = false;
        m_window.close();
    }
}

bool MailingCommands::closeRequested()
{
    if (!m_run->inProgress())
        return true;
    m_run->exitRequested();
    m_closeAfterRun = true;
    return false;
}

send::RunSettings MailingCommands::runSettings()
{
    TfrmBrevicastMain& w = m_window;
    send::RunSettings s;
    s.testAddress = w.txtTestEmail->currentText();
    s.listPicked = w.cbCurrentList->currentIndex() >= 0;
    s.listName = w.cbCurrentList->currentText();
    s.senderPicked = w.cbFromEmail->currentIndex() >= 0;
    try {
        s.senderText = FormatSender(w.services().programFolder, w.cbFromEmail->currentText());
    } catch (const std::exception&) {
        // Unreadable accounts: the run shows the reason when it composes.
    }
    s.subject = w.cbEmailSubject->currentText();
    s.skipTheFirst = w.rgSendTo->itemIndex() == 1;
    s.skipText = w.txtSkipTheFirst->text();
    s.recipientFormat = w.cbRecipientEmailFormat->currentIndex();
    s.customName = w.txtCustomRecipientName->text();
    s.smtpServer = w.txtSMTPServer->text();
    s.user = w.txtUser->text();
    s.password = w.txtPassword->text();
    s.auth = w.cbxAuth->isChecked();
    s.allowPlainPassword = w.cbxAllowPlainPassword->isChecked();
    s.domain = w.txtDomain->text();
    s.direct = w.fraDirectMail1->cbxDirect->isChecked();
    // As the field reads once it is left: the spool files go into the folder,
    // not beside it.
    s.emailPath = w.fraDirectMail1->spoolFolder(s.direct);
    return s;
}

void MailingCommands::runStarting()
{
    TfrmBrevicastMain& w = m_window;
    w.PageControl2->setCurrentWidget(w.TabSheet3);
    for (QAction* a : {w.Action1, w.Action2, w.Action20})
        a->setEnabled(false);
    w.Action3->setEnabled(true);
    w.Action4->setEnabled(true);
    setPauseCaption(QStringLiteral("Pause"));
    w.memStatus->clear();
}

void MailingCommands::runEnded()
{
    TfrmBrevicastMain& w = m_window;
    w.Action3->setEnabled(false);
    w.Action4->setEnabled(false);
    for (QAction* a : {w.Action1, w.Action2, w.Action20})
        a->setEnabled(true);
}

void MailingCommands::setLastError(const QString& text)
{
    // A server's reply keeps its line ends; on the label they would push the
    // text out of its two lines. The whole text stays in the tool tip.
    showPlainText(m_window.lblLastError, text.simplified());
    m_window.lblLastError->setToolTip(plainToolTip(text));
}

void MailingCommands::setTotalErrors(const QString& text)
{
    showPlainText(m_window.lblTotalErrors, text);
}

void MailingCommands::setCount(const QString& text)
{
    showPlainText(m_window.lblCount, text);
}

void MailingCommands::setCurrentEmail(const QString& text)
{
    showPlainText(m_window.lblCurrentEmail, text);
}

void MailingCommands::setPauseCaption(const QString& caption)
{
    m_window.Action4->setText(u'&' + caption);
}

void MailingCommands::setProgress(int position, int maximum)
{
    m_window.pbEmailProgress->setMaximum(qMax(0, maximum));
    m_window.pbEmailProgress->setValue(qBound(0, position, qMax(0, maximum)));
}

void MailingCommands::ShowActivity(const QString& text)
{
    m_window.ShowActivity(text);
}

void MailingCommands::AddStatusLine(const QString& text)
{
    m_window.AddStatusLine(text);
}

bool MailingCommands::askQuestion(const QString& key)
{
    return AskQuestion(m_window.services().dialogs, m_window.services().programFolder, key) == Answer::Yes;
}

void MailingCommands::rememberTestAddress()
{
    QComboBox* box = m_window.txtTestEmail;
    const QString text = box->currentText();
    if (box->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive) >= 0)
        return;
    if (box->count() > 5)
        box->removeItem(box->count() - 1);
    box->insertItem(0, text);
    box->setEditText(text);
}

send::TIpSmtpClient& MailingCommands::newClient()
{
    // Destroying the client closes its connection without QUIT.
    delete m_window.IpSmtpClient1;
    m_window.IpSmtpClient1 = new send::TIpSmtpClient(m_window.services().clock, &m_window);
    return *m_window.IpSmtpClient1;
}

void MailingCommands::composeMessage(compose::TIpMailMessage& message, const QString& salutation,
                                     const QString& firstName, const QString& lastName)
{
    compose::ComposeMessage(message, m_window.composeInput(), salutation, firstName, lastName);
}

void MailingCommands::setDirectCancel()
{
    m_direct->pool().Cancel = true;
}

void MailingCommands::clearDeliveryMarks()
{
    m_direct->finished = false;
    m_direct->errorReports = 0;
}

void MailingCommands::sendDirect()
{
    m_direct->SendDirect();
}

void MailingCommands::clearSpool()
{
    m_direct->ClearSpool();
}

} // namespace bv::app

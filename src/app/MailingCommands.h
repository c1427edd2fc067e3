#pragma once

#include "send/MailingRun.h"

#include <QObject>

class QCloseEvent;

namespace bv::app {

class DirectDelivery;
class TfrmBrevicastMain;

// "Send", "Redo", "Test", "Pause" / "Resume" and "Cancel" of the main window:
// the mailing run, fed with the window's controls and showing its progress
// in the window's status area.
class MailingCommands : public QObject, public send::MailingRunHost
{
    Q_OBJECT
public:
    explicit MailingCommands(TfrmBrevicastMain& window);
    ~MailingCommands() override;

    send::TMailingRun& run() { return *m_run; }
    DirectDelivery& directDelivery() { return *m_direct; }
    // The window is closing: while a run is in progress it ends after the
    // current recipient and the window closes then. Returns false when the
    // close has to wait.
    bool closeRequested();

    send::RunSettings runSettings() override;
    void runStarting() override;
    void runEnded() override;
    void setLastError(const QString& text) override;
    void setTotalErrors(const QString& text) override;
    void setCount(const QString& text) override;
    void setCurrentEmail(const QString& text) override;
    void setPauseCaption(const QString& caption) override;
    void setProgress(int position, int maximum) override;
    void ShowActivity(const QString& text) override;
    void AddStatusLine(const QString& text) override;
    bool askQuestion(const QString& key) override;
    void rememberTestAddress() override;
    send::TIpSmtpClient& newClient() override;
    void composeMessage(compose::TIpMailMessage& message, const QString& salutation, const QString& firstName,
                        const QString& lastName) override;
    void setDirectCancel() override;
    void clearDeliveryMarks() override;
    void sendDirect() override;
    void clearSpool() override;

private:
    void start(send::RunKind kind);

    TfrmBrevicastMain& m_window;
    send::TMailingRun* m_run = nullptr;
    DirectDelivery* m_direct = nullptr;
    bool m_closeAfterRun = false;
};

} // namespace bv::app

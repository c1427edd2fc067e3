#pragma once

#include "send/MailingQueue.h"
#include "send/SmtpClient.h"

#include <QFile>
#include <QObject>
#include <QString>

#include <memory>

namespace bv {
struct Services;
}

namespace bv::compose {
class DkimSigner;
class TIpMailMessage;
} // namespace bv::compose

namespace bv::send {

enum class RunKind { NewMailing, Redo, Test };

// The main window's controls as a run reads them.
struct RunSettings
{
    QString testAddress; // txtTestEmail
    bool listPicked = false;
    QString listName; // cbCurrentList
    bool senderPicked = false;
    QString senderText; // FormatSender of the picked sender; empty when not found
    QString subject; // cbEmailSubject
    bool skipTheFirst = false; // rgSendTo item 1
    QString skipText; // txtSkipTheFirst
    int recipientFormat = -1; // cbRecipientEmailFormat: 0..6, -1 none
    QString customName; // txtCustomRecipientName
    QString smtpServer; // txtSMTPServer
    QString user;
    QString password;
    bool auth = false;
    bool allowPlainPassword = false; // cbxAllowPlainPassword
    QString domain; // txtDomain
    bool direct = false; // cbxDirect
    QString emailPath; // txtEmailPath, the spool folder with its separator
};

// What the run needs of the main window: its controls, its status area and
// the message it composes. The dialogs go through the services.
class MailingRunHost
{
public:
    virtual ~MailingRunHost() = default;
    virtual RunSettings runSettings() = 0;
    // The "Status" page, "Cancel" and "Pause" enabled with the caption
    // "Pause", memStatus cleared.
    virtual void runStarting() = 0;
    // "Cancel" and "Pause" disabled.
    virtual void runEnded() = 0;
    virtual void setLastError(const QString& text) = 0;
    virtual void setTotalErrors(const QString& text) = 0;
    virtual void setCount(const QString& text) = 0;
    virtual void setCurrentEmail(const QString& text) = 0;
    virtual void setPauseCaption(const QString& caption) = 0;
    virtual void setProgress(int position, int maximum) = 0;
    virtual void ShowActivity(const QString& text) = 0;
    virtual void AddStatusLine(const QString& text) = 0;
    // The question of key that can be switched off ("RedoMsg", "SkipMsg"):
    // true for Yes, and without asking while it is switched off.
    virtual bool askQuestion(const QString& key) = 0;
    // The test address becomes the first entry of its drop-down list.
    virtual void rememberTestAddress() = 0;
    // Destroys the current SMTP client (closing its connection without QUIT)
    // and makes a new idle one owned by the window.
    virtual TIpSmtpClient& newClient() = 0;
    // Builds the message for one recipient; throws compose::MessageError.
    virtual void composeMessage(compose::TIpMailMessage& message, const QString& salutation,
                                const QString& firstName, const QString& lastName) = 0;
    // The direct-delivery frame's Cancel flag.
    virtual void setDirectCancel() = 0;
    // Clears the finished mark and the error-report counter of direct delivery.
    virtual void clearDeliveryMarks() = 0;
    // Delivers the spool folder after a direct-mode run.
    virtual void sendDirect() = 0;
    // The direct-delivery spool folder is emptied for a new mailing.
    virtual void clearSpool() = 0;
};

// Recipient text of a queued message for the entry of cbRecipientEmailFormat
// (0..6; any other value gives an empty text). Values lose trailing blanks.
QString FormatRecipient(int format, const QString& customName, const QString& salutation,
                        const QString& firstName, const QString& lastName, const QString& email);

// The text shown when sending ends on an error.
QString sendingErrorText(const QString& error);

// The mailing run: Send, Redo and Test, Pause / Resume, Cancel and Exit.
class TMailingRun : public QObject
{
    Q_OBJECT
public:
    TMailingRun(Services& services, data::Connection& connection, MailingRunHost& host,
                QObject* parent = nullptr);
    ~TMailingRun() override;

    static QString runLogName() { return QStringLiteral("Stats.txt"); }

    void btnSendClick(RunKind kind);
    void btnPauseClick();
    void Action3Execute();
    // "Exit" while a run is in progress: the run ends after the current recipient.
    void exitRequested();

    bool inProgress() const { return m_inProgress; }
    bool paused() const { return m_inProgress && !m_notPaused; }
    // The display part of an error: last error, run log, status line, count.
    void ReportSendError(const QString& recipient, const QString& error);

    // Applied to every client the run creates (tests shorten them).
    void setClientTimeLimits(const SmtpTimeLimits& limits) { m_timeLimits = limits; }

    // The signer of the sender's domain for the run in progress, or null.
    const std::shared_ptr<const compose::DkimSigner>& signer() const { return m_signer; }

    data::TableView& pendingView() { return *m_pending; }
    int processedCount() const { return m_processed; }
    int attemptedCount() const { return m_attempted; }
    int errorCount() const { return m_errorCount; }
    int queueCount() const { return m_queueCount; }

private:
    bool checksPass();
    bool prepare();
    void sendingLoop();
    void oneRecipient();
    void endOfRun();
    void sendAndWait(TIpSmtpClient& client);
    void sendErrorReport();
    void recordOutcome();
    void throttle20();
    void throttle200();
    // This recipient's message cannot be made or handed over: the row fails
    // with the reason and the run goes on.
    void failRow(const QString& reason);
    // Sending ends on a fault that is not the recipient's: the row keeps its
    // place in the queue and the reason.
    void sendingStopped(const QString& reason);
    void clearStaleRowError();
    // The next queued recipient; rows with invalid addresses become skipped.
    QString NextRecipient(int& skipped);
    QString recipientOfCurrentRow() const;
    TIpSmtpClient& createClient();
    void setRowError(const QString& text);
    void setTotalErrors();
    void logLine(const QString& line);
    void openLog();
    void closeLog();
    void showMessage(const QString& text);

    void IpSmtpClient1ConnectError(TIpSmtpClient* client, int code, const QString& text);
    void IpSmtpClient1Error(TIpSmtpClient* client, int code, const QString& text);
    void IpSmtpClient1Response(TIpSmtpClient* client, TIpSmtpStates state, int code, const QString& reply);
    void SmtpTaskComplete(TIpSmtpClient* client, TIpSmtpTasks task);

    Services& m_services;
    data::Connection& m_connection;
    MailingRunHost& m_host;
    std::unique_ptr<data::TableView> m_pending;
    std::unique_ptr<TMailingQueue> m_queue;
    SmtpTimeLimits m_timeLimits;

    RunKind m_kind = RunKind::NewMailing;
    RunSettings m_settings;
    std::shared_ptr<const compose::DkimSigner> m_signer;
    bool m_inProgress = false;
    bool m_running = false;
    bool m_notPaused = false;
    // "Pause" reads "Resume".
    bool m_captionResume = false;
    bool m_waiting = false;
    bool m_failed = false;
    bool m_reportNeeded = false;
    // The handlers write ErrorMsg only for a queued message, never for a test
    // or an error report.
    bool m_rowInFlight = false;
    QString m_reportText;
    // Shown once the current recipient is dealt with; the run then ends.
    QString m_stopMessage;
    QString m_current;
    int m_errorCount = 0;
    int m_connectErrors = 0;
    int m_processed = 0;
    int m_attempted = 0;
    int m_queueCount = 0;
    int m_progress = 0;
    int m_taskCounter = 0;
    bool m_recordStarted = false;
    QString m_startText;
    QFile m_log;
};

} // namespace bv::send

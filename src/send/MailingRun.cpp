#include "MailingRun.h"

#include "compose/ComposeMessage.h"
#include "compose/DkimKeys.h"
#include "compose/MailMessage.h"
#include "core/Clock.h"
#include "core/Dialogs.h"
#include "core/Services.h"
#include "data/Database.h"
#include "data/TableView.h"
#include "lists/ValidateEmail.h"
#include "send/MailingLock.h"

#include <QCoreApplication>

#include <utility>

namespace bv::send {

namespace {

// Raised by the preparation with a text of its own (a skip refusal, an
// engine error met while filling the queue).
struct PreparationError
{
    QString text;
};

QString trimmedRight(const QString& value)
{
    qsizetype end = value.size();
    while (end > 0 && value.at(end - 1) == u' ')
        --end;
    return value.left(end);
}

QString operationText(RunKind kind)
{
    switch (kind) {
    case RunKind::NewMailing:
        return QStringLiteral("New Mailing");
    case RunKind::Redo:
        return QStringLiteral("Resend");
    case RunKind::Test:
        return QStringLiteral("Test");
    }
    return QString();
}

constexpr int kWaitSliceMs = 250;
// The long pause is waited in slices, so that Cancel ends it at once.
constexpr int kPauseSliceMs = 250;

QString quotedName(const QString& name)
{
    QString out;
    out.reserve(name.size() + 2);
    out += u'"';
    for (const QChar c : name) {
        if (c == u'"' || c == u'\\')
            out += u'\\';
        out += c;
    }
    out += u'"';
    return out;
}

} // namespace

QString FormatRecipient(int format, const QString& customName, const QString& salutation,
                        const QString& firstName, const QString& lastName, const QString& email)
{
    const QString sal = trimmedRight(salutation);
    const QString first = trimmedRight(firstName);
    const QString last = trimmedRight(lastName);
    const QString address = QStringLiteral(" <") + trimmedRight(email) + QStringLiteral(">");
    // A quote or backslash in a name is escaped: left bare, it would end the
    // quoted name and let the rest pass for an address.
    const auto named = [&](const QString& name) { return quotedName(name) + address; };
    switch (format) {
    case 0:
        return named(sal + u' ' + first + u' ' + last);
    case 1:
        return named(first + u' ' + last);
    case 2:
        return named(last + QStringLiteral(", ") + first);
    case 3:
        return named(first);
    case 4:
        return named(last);
    case 5:
        return named(trimmedRight(email));
    case 6:
        return customName + address;
    default:
        return QString();
    }
}

QString sendingErrorText(const QString& error)
{
    return QStringLiteral("An Internet Connection wasn't made or another error has occured.  Some Connection "
                          "errors are caused by Firewalls blocking access.")
           + QStringLiteral("\n\n")
           + QStringLiteral("Try changing computer settings, making sure you are connected to the internet "
                            "and then send again.")
           + QStringLiteral("\n\n") + QStringLiteral("Technically speaking:") + QStringLiteral("\n") + error;
}

TMailingRun::TMailingRun(Services& services, data::Connection& connection, MailingRunHost& host,
                         QObject* parent)
    : QObject(parent), m_services(services), m_connection(connection), m_host(host),
      m_pending(std::make_unique<data::TableView>(connection, QStringLiteral("EmailBeingSent")))
{
    m_queue = std::make_unique<TMailingQueue>(
        connection, *m_pending, services.clock,
        [this] { return m_host.askQuestion(QStringLiteral("SkipMsg")); },
        [this] { m_host.clearSpool(); });
}

TMailingRun::~TMailingRun() = default;

void TMailingRun::showMessage(const QString& text)
{
    m_services.dialogs.message(text);
}

bool TMailingRun::checksPass()
{
    if (m_kind == RunKind::Test && !lists::IsValidEmail(m_settings.testAddress)) {
        showMessage(m_settings.testAddress + QStringLiteral(" is not a valid email address."));
        return false;
    }
    if (m_kind != RunKind::Redo && !m_settings.listPicked) {
        showMessage(QStringLiteral("Please select a List to Send To."));
        return false;
    }
    if (!m_settings.senderPicked) {
        showMessage(QStringLiteral("Please select a From Address."));
        return false;
    }
    if (m_settings.subject.isEmpty()) {
        showMessage(QStringLiteral("Please give this email a Subject."));
        return false;
    }
    return true;
}

void TMailingRun::btnSendClick(RunKind kind)
{
    if (m_inProgress)
        return;
    // Held until the run and its delivery passes are over.
    MailingLock lock(m_services.programFolder);
    QString lockRefusal;
    if (!lock.tryLock(&lockRefusal)) {
        showMessage(lockRefusal);
        return;
    }
    m_inProgress = true;
    m_kind = kind;
    m_settings = m_host.runSettings();
    m_stopMessage.clear();
    m_rowInFlight = false;
    m_recordStarted = false;
    m_running = false;
    m_notPaused = false;
    m_processed = 0;
    m_attempted = 0;
    m_captionResume = false;
    m_host.runStarting();

    bool send = false;
    try {
        send = prepare();
    } catch (const PreparationError& e) {
        m_services.dialogs.showError(e.text);
    } catch (const data::DbError& e) {
        m_services.dialogs.showError(e.message());
    } catch (const std::exception& e) {
        m_services.dialogs.showError(QString::fromUtf8(e.what()));
    }

    if (send) {
        m_running = true;
        m_notPaused = true;
        try {
            sendingLoop();
            endOfRun();
        } catch (const data::DbError& e) {
            sendingStopped(e.message());
        } catch (const compose::MessageError& e) {
            sendingStopped(e.message());
        } catch (const SmtpError& e) {
            sendingStopped(e.text());
        } catch (const std::exception& e) {
            sendingStopped(QString::fromUtf8(e.what()));
        }
    }
    closeLog();

    m_host.runEnded();
    m_running = false;
    m_inProgress = false;
    if (m_recordStarted) {
        m_recordStarted = false;
        try {
            m_queue->FinishRunRecord(m_startText, m_processed);
        } catch (const data::DbError& e) {
            m_services.dialogs.showError(e.message());
        }
    }
}

// Checks, queue, run record and confirmation; true when sending may begin.
bool TMailingRun::prepare()
{
    m_host.setLastError(QStringLiteral("None"));
    m_host.setTotalErrors(QStringLiteral("Total Errors: 0"));
    if (!checksPass())
        return false;
    // Before anything is queued or sent: a key that was meant to sign and
    // cannot must never let the mailing go out unsigned.
    try {
        m_signer = compose::DkimSignerForSender(m_services.programFolder, m_settings.senderText);
    } catch (const compose::DkimError& e) {
        m_signer.reset();
        throw PreparationError{e.message() + QStringLiteral(" Nothing has been sent.")};
    }

    m_errorCount = 0;
    m_connectErrors = 0;
    m_pending->close();
    m_pending->setFilter(pendingFilter());
    m_pending->setFiltered(true);
    m_pending->open();

    if (m_kind == RunKind::NewMailing && m_pending->recordCount() > 0
        && !m_host.askQuestion(QStringLiteral("RedoMsg")))
        return false;

    QueueChoices choices;
    choices.listName = m_settings.listName;
    choices.skipTheFirst = m_settings.skipTheFirst;
    choices.skipText = m_settings.skipText;
    choices.subject = m_settings.subject;
    choices.senderText = m_settings.senderText;
    m_queue->setChoices(choices);

    if (m_kind != RunKind::Test) {
        m_host.ShowActivity(QStringLiteral("Building List"));
        const QString error = m_queue->FillQueue(m_kind == RunKind::Redo);
        if (!error.isEmpty())
            throw PreparationError{error};
        m_pending->close();
        m_pending->open();
        m_queueCount = m_pending->recordCount();
    } else {
        m_queueCount = 1;
    }

    m_startText = m_queue->StartRunRecord(operationText(m_kind));
    m_recordStarted = true;

    const int pendingCount = m_pending->recordCount();
    if (m_kind == RunKind::Redo && pendingCount == 0) {
        showMessage(QStringLiteral("No messages to Redo."));
        return false;
    }
    if (m_queueCount < 1) {
        showMessage(QStringLiteral("No messages to Send."));
        return false;
    }

    QString question;
    switch (m_kind) {
    case RunKind::Test:
        question = QStringLiteral("About to send a TEST email to \"") + m_settings.testAddress
                   + QStringLiteral("\". Proceed?");
        break;
    case RunKind::Redo:
        question = QStringLiteral("About to Redo/Reattempt  ") + QString::number(pendingCount)
                   + QStringLiteral(" emails to ") + QStringLiteral("Recipients in ") + m_settings.listName
                   + QStringLiteral(" list. Proceed?");
        break;
    case RunKind::NewMailing:
        question = QStringLiteral("About to send ") + QString::number(pendingCount) + QStringLiteral(" emails to ")
                   + QStringLiteral("Recipients in ") + m_settings.listName + QStringLiteral(" list. Proceed?");
        break;
    }
    if (m_services.dialogs.ask(question, Buttons::YesNo) != Answer::Yes)
        return false;

    m_host.rememberTestAddress();
    m_progress = 0;
    m_host.setProgress(0, m_queueCount);

    int skipped = 0;
    if (m_kind == RunKind::Test)
        m_current = m_settings.testAddress;
    else
        m_current = NextRecipient(skipped);

    openLog();
    m_processed = skipped;
    m_attempted = 0;
    if (m_current.isEmpty()) {
        showMessage(QStringLiteral("No Recipients to Send your email to."));
        return false;
    }
    return true;
}

void TMailingRun::openLog()
{
    closeLog();
    m_log.setFileName(m_services.programFolder + runLogName());
    // Unbuffered: every line is on disk before the next recipient, so the
    // log of a killed run is complete up to its last outcome.
    if (!m_log.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        throw PreparationError{QStringLiteral("Unable to write to %1: %2")
                                   .arg(m_log.fileName(), m_log.errorString())};
}

void TMailingRun::closeLog()
{
    if (m_log.isOpen())
        m_log.close();
}

void TMailingRun::logLine(const QString& line)
{
    if (m_log.isOpen())
        m_log.write(line.toUtf8() + "\r\n");
}

QString TMailingRun::recipientOfCurrentRow() const
{
    return FormatRecipient(m_settings.recipientFormat, m_settings.customName,
                           m_pending->value(QStringLiteral("Salutation")).toString(),
                           m_pending->value(QStringLiteral("FirstName")).toString(),
                           m_pending->value(QStringLiteral("LastName")).toString(),
                           m_pending->value(QStringLiteral("Email")).toString());
}

QString TMailingRun::NextRecipient(int& skipped)
{
    if (!m_pending->isOpen())
        m_pending->open();
    m_pending->first();
    skipped = 0;
    while (!m_pending->eof()) {
        if (lists::IsValidEmail(m_pending->value(QStringLiteral("Email")).toString()))
            break;
        m_pending->edit();
        m_pending->setValue(QStringLiteral("Sent"), false);
        m_pending->setValue(QStringLiteral("Error"), true);
        m_pending->setValue(QStringLiteral("ErrorMsg"), QStringLiteral("Skipped due to Invalid Email Address."));
        m_pending->post();
        ++skipped;
    }
    m_pending->first();
    if (m_pending->eof())
        return QString();
    return recipientOfCurrentRow();
}

TIpSmtpClient& TMailingRun::createClient()
{
    m_settings = m_host.runSettings();
    TIpSmtpClient& client = m_host.newClient();
    client.setPassword(m_settings.password);
    client.setEnableAuth(m_settings.auth);
    client.setUserID(m_settings.user);
    client.setAllowPlainPassword(m_settings.allowPlainPassword);
    client.setDomain(m_settings.domain);
    client.setTimerInterval(500);
    client.setTimeLimits(m_timeLimits);
    client.message().setSigner(m_signer);
    connect(&client, &TIpSmtpClient::OnConnectError, this, &TMailingRun::IpSmtpClient1ConnectError);
    connect(&client, &TIpSmtpClient::OnError, this, &TMailingRun::IpSmtpClient1Error);
    connect(&client, &TIpSmtpClient::OnResponse, this, &TMailingRun::IpSmtpClient1Response);
    connect(&client, &TIpSmtpClient::OnTaskComplete, this, &TMailingRun::SmtpTaskComplete);
    return client;
}

void TMailingRun::sendingLoop()
{
    for (;;) {
        while (m_notPaused && m_running && !m_current.isEmpty())
            oneRecipient();
        if (m_notPaused || !m_running || m_current.isEmpty())
            return;
        // Paused with a recipient still to go: idle until Resume or Cancel,
        // with no connection left open meanwhile.
        m_host.newClient();
        while (!m_notPaused && m_running)
            m_services.clock.waitForEvents(kWaitSliceMs);
    }
}

void TMailingRun::oneRecipient()
{
    m_reportNeeded = false;
    m_reportText.clear();
    const bool test = m_kind == RunKind::Test;
    const bool direct = m_settings.direct;

    TIpSmtpClient& client = createClient();
    compose::TIpMailMessage& message = client.message();
    m_failed = false;
    m_waiting = true;
    m_rowInFlight = !test;
    if (!test)
        clearStaleRowError();
    try {
        if (test)
            m_host.composeMessage(message, QStringLiteral("Mr."), QStringLiteral("FirstName"),
                                  QStringLiteral("LastName"));
        else
            m_host.composeMessage(message, m_pending->value(QStringLiteral("Salutation")).toString(),
                                  m_pending->value(QStringLiteral("FirstName")).toString(),
                                  m_pending->value(QStringLiteral("LastName")).toString());
        message.setMailTo({m_current});
        // The envelope takes the row's address itself, never what a reader
        // of the To text would make of it.
        if (!test)
            client.setEnvelopeRecipients({m_pending->value(QStringLiteral("Email")).toString()});
        m_host.setCurrentEmail(m_current);

        if (direct) {
            m_host.ShowActivity(QStringLiteral("Saving Email ") + QString::number(m_processed)
                                + QStringLiteral(" of ") + QString::number(m_queueCount));
            // A test goes under the number of the first pending row, if any.
            m_pending->first();
            const QString number =
                m_pending->eof() ? QString() : m_pending->value(QStringLiteral("EmailNo")).toString();
            try {
                message.SaveToFile(m_settings.emailPath + QStringLiteral("BVC_") + number
                                   + QStringLiteral("_.eml"));
            } catch (const compose::MessageError& e) {
                failRow(e.message());
                m_reportText = QStringLiteral("(Direct) Error On Save");
            }
            m_waiting = false;
        } else {
            m_host.ShowActivity(QStringLiteral("Sending Email ") + QString::number(m_processed)
                                + QStringLiteral(" of ") + QString::number(m_queueCount));
            sendAndWait(client);
        }
    } catch (const SmtpError& e) {
        if (!e.recipientAtFault())
            throw;
        failRow(e.text());
    }

    if (!test)
        recordOutcome();
    m_rowInFlight = false;

    ++m_processed;
    ++m_attempted;
    if (!direct && m_processed % 20 == 0)
        throttle20();
    m_host.setProgress(++m_progress, m_queueCount);
    m_host.setCount((direct ? QStringLiteral("Saved: ") : QStringLiteral("Finished processing: "))
                    + QString::number(m_processed) + QStringLiteral(" of ") + QString::number(m_queueCount));
    logLine(m_current + QStringLiteral("  ") + QString::number(m_processed) + QStringLiteral(" success."));

    if (m_reportNeeded)
        sendErrorReport();
    if (!m_stopMessage.isEmpty())
        showMessage(std::exchange(m_stopMessage, QString()));

    if (test) {
        m_current.clear();
    } else {
        int skipped = 0;
        m_current = NextRecipient(skipped);
        m_progress += skipped;
        m_host.setProgress(m_progress, m_queueCount);
        m_processed += skipped;
    }
    if (m_processed % 200 == 0)
        throttle200();
}

void TMailingRun::clearStaleRowError()
{
    // A reason left by a run that stopped at this row belongs to that
    // attempt, not to this one.
    if (m_pending->value(QStringLiteral("ErrorMsg")).toString().isEmpty())
        return;
    m_pending->edit();
    m_pending->setValue(QStringLiteral("ErrorMsg"), QString());
    m_pending->post();
}

void TMailingRun::failRow(const QString& reason)
{
    m_failed = true;
    m_waiting = false;
    m_reportNeeded = false;
    m_reportText = reason;
    setRowError(m_current + QStringLiteral(": ") + reason);
    ReportSendError(m_current, reason);
    m_host.ShowActivity(QStringLiteral("Not sent to ") + m_current + QStringLiteral(": ") + reason);
}

void TMailingRun::sendingStopped(const QString& reason)
{
    if (m_rowInFlight) {
        m_rowInFlight = false;
        logLine(m_current + QStringLiteral(" (Error): ") + reason);
        try {
            m_pending->cancel();
            m_pending->edit();
            m_pending->setValue(QStringLiteral("ErrorMsg"), m_current + QStringLiteral(": ") + reason);
            m_pending->post();
        } catch (const data::DbError&) {
            // The fault was the database's: the box below says so.
        }
    }
    m_host.ShowActivity(QStringLiteral("Sending stopped: ") + reason);
    showMessage(sendingErrorText(reason));
}

// Hands the message to the client and waits until the client is idle; then
// the 4-second guard for a task that ended without success or socket error.
void TMailingRun::sendAndWait(TIpSmtpClient& client)
{
    client.SendMail(m_settings.smtpServer, false);
    while (client.state() != ssNoOp)
        m_services.clock.waitForEvents(kWaitSliceMs);
    // The task-complete event is queued behind the reply that ended the task.
    QCoreApplication::sendPostedEvents(&client, QEvent::MetaCall);
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    if (m_waiting && !m_failed) {
        for (int i = 0; i < 40; ++i)
            m_services.clock.waitWithoutInput(100);
        m_failed = true;
        m_reportText = QStringLiteral("Timeout Sending Mail");
        m_reportNeeded = false;
    }
}

void TMailingRun::recordOutcome()
{
    m_pending->edit();
    if (m_failed) {
        m_pending->setValue(QStringLiteral("Sent"), false);
        m_pending->setValue(QStringLiteral("Error"), true);
    } else {
        m_pending->setValue(QStringLiteral("Sent"), true);
        m_pending->setValue(QStringLiteral("Error"), false);
        const QString logged = m_pending->value(QStringLiteral("ErrorMsg")).toString();
        if (!logged.isEmpty())
            m_pending->setValue(QStringLiteral("ErrorMsg"),
                                QStringLiteral("Your message was sent, but also logged this error: ") + logged);
    }
    m_pending->setValue(QStringLiteral("EmailDate"), m_services.clock.now());
    m_pending->post();
}

void TMailingRun::sendErrorReport()
{
    TIpSmtpClient& client = createClient();
    compose::ComposeErrorReport(client.message(), m_settings.senderText, m_current, m_settings.subject,
                                m_reportText);
    m_host.setCurrentEmail(m_settings.senderText);
    m_failed = false;
    m_waiting = true;
    m_rowInFlight = false;
    sendAndWait(client);
}

void TMailingRun::throttle20()
{
    m_services.clock.waitWithoutInput(20000);
}

void TMailingRun::throttle200()
{
    // The window answers throughout; Cancel and Exit end the pause at once,
    // Pause takes effect when it is over.
    for (int i = 0; i < 20 && m_running; ++i)
        for (int left = 5000; left > 0 && m_running; left -= kPauseSliceMs)
            m_services.clock.waitProcessingEvents(qMin(left, kPauseSliceMs));
}

void TMailingRun::endOfRun()
{
    if (!m_running) {
        showMessage(QStringLiteral("Operation Cancelled."));
        return;
    }
    if (!m_notPaused) {
        showMessage(QStringLiteral("Activity Paused, Press Resume to continue."));
        return;
    }
    m_pending->setFiltered(false);
    m_pending->setFilter(QString());
    m_progress = 0;
    m_host.setProgress(0, m_queueCount);
    m_host.clearDeliveryMarks();
    if (m_settings.direct) {
        m_host.sendDirect();
        return;
    }
    m_host.ShowActivity(QStringLiteral("Email Complete"));
    m_host.setProgress(m_queueCount, m_queueCount);
    showMessage(QStringLiteral("All Done - Emails Attempted: ") + QString::number(m_attempted)
                + QStringLiteral(" messages."));
    m_host.ShowActivity(QString());
    m_host.setProgress(0, m_queueCount);
}

void TMailingRun::btnPauseClick()
{
    m_captionResume = !m_captionResume;
    m_host.setPauseCaption(m_captionResume ? QStringLiteral("Resume") : QStringLiteral("Pause"));
    m_notPaused = !m_captionResume;
    m_host.setDirectCancel();
}

void TMailingRun::Action3Execute()
{
    m_running = false;
    m_host.setDirectCancel();
}

void TMailingRun::exitRequested()
{
    m_running = false;
}

void TMailingRun::setRowError(const QString& text)
{
    if (!m_rowInFlight)
        return;
    m_pending->edit();
    m_pending->setValue(QStringLiteral("ErrorMsg"), text);
    m_pending->post();
}

void TMailingRun::setTotalErrors()
{
    m_host.setTotalErrors(QStringLiteral("Total Errors: ") + QString::number(m_errorCount));
}

void TMailingRun::ReportSendError(const QString& recipient, const QString& error)
{
    const QString last = recipient + QStringLiteral(": ") + error;
    m_host.setLastError(last);
    logLine(recipient + QStringLiteral(" (Error): ") + error);
    m_host.AddStatusLine(last);
    ++m_errorCount;
    setTotalErrors();
}

void TMailingRun::IpSmtpClient1ConnectError(TIpSmtpClient* client, int code, const QString& text)
{
    m_host.AddStatusLine(QStringLiteral("A connection error has occured: ") + QString::number(code));
    m_host.AddStatusLine(QString(16, u' ') + text);
    const QString last = m_current + QStringLiteral(" -- ") + QString::number(code) + QStringLiteral(": ") + text;
    m_host.setLastError(last);
    setRowError(last);
    ++m_errorCount;
    ++m_connectErrors;
    if (m_connectErrors > 2) {
        client->Quit();
        m_running = false;
        showMessage(QStringLiteral(
            "3 connect errors - quitting. Check your internect connection or your SMTP settings."));
    }
    setTotalErrors();
    logLine(m_current + QStringLiteral(" (Error): -- ") + QString::number(code) + QStringLiteral(": ") + text);
    m_failed = true;
    m_reportText = QStringLiteral("Connect Error");
    m_reportNeeded = false;
    m_waiting = false;
}

void TMailingRun::IpSmtpClient1Error(TIpSmtpClient* client, int, const QString& text)
{
    setRowError(m_current + QStringLiteral(": ") + text);
    m_waiting = false;
    m_failed = true;
    m_reportText = text;
    m_reportNeeded = true;
    ReportSendError(m_current, text);
    if (client && client->passwordWithheld()) {
        // Every further message, and the report, would meet the same refusal.
        m_reportNeeded = false;
        if (m_running) {
            m_running = false;
            m_stopMessage = text;
        }
    }
}

void TMailingRun::IpSmtpClient1Response(TIpSmtpClient*, TIpSmtpStates state, int code, const QString& reply)
{
    if (code < 400 || state == ssEhlo)
        return;
    const QString t = m_current + QStringLiteral(" (Error): -- ") + reply + QStringLiteral("-- while ")
                      + SmtpStateText(state);
    m_host.setLastError(t);
    setRowError(t);
    ++m_errorCount;
    setTotalErrors();
    logLine(t);
    m_host.AddStatusLine(t);
}

void TMailingRun::SmtpTaskComplete(TIpSmtpClient*, TIpSmtpTasks task)
{
    ++m_taskCounter;
    if (task == stSendMail) {
        m_waiting = false;
        m_host.AddStatusLine(QStringLiteral("Task Complete") + QString(m_taskCounter % 5, u'*'));
    } else if (task == stLogon) {
        m_host.AddStatusLine(QStringLiteral("Connected."));
    }
}

} // namespace bv::send

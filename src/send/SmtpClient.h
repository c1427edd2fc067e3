#pragma once

#include "compose/MailMessage.h"

#include <QObject>
#include <QString>

#include <memory>

namespace bv {
class Clock;
}

namespace bv::send {

enum TIpSmtpStates {
    ssNoOp = 0,
    ssConnect,
    ssEhlo,
    ssHelo,
    ssMailFrom,
    ssRcptTo,
    ssRcptCc,
    ssRcptBcc,
    ssData,
    ssRSet,
    ssHelp,
    ssSendEnvelope,
    ssSendMessage,
    ssSpecial,
    ssQuit,
    ssAuthLogin,
    ssAuthUser,
    ssAuthPass
};

enum TIpSmtpTasks { stNoTask = 0, stLogon, stSendMail, stFailed };

// The text the main window quotes for a state in its error messages.
QString SmtpStateText(TIpSmtpStates state);

// The SMTP client of the main window. It owns the message that ComposeMessage
// fills and that is saved or sent; callers reach the message through the
// client and must not keep it across a new client or a completed send.
class TIpSmtpClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString Domain READ domain WRITE setDomain)
    Q_PROPERTY(QString UserID READ userID WRITE setUserID)
    Q_PROPERTY(QString Password READ password WRITE setPassword)
    Q_PROPERTY(bool EnableAuth READ enableAuth WRITE setEnableAuth)
    Q_PROPERTY(int IdleTimeout READ idleTimeout WRITE setIdleTimeout)
    Q_PROPERTY(int TimerInterval READ timerInterval WRITE setTimerInterval)
    Q_PROPERTY(QString XMailer READ xMailer WRITE setXMailer)
    Q_PROPERTY(bool IncludeBCC READ includeBCC WRITE setIncludeBCC)

public:
    static QString defaultXMailer() { return QStringLiteral("Internet Professional v1.15"); }

    explicit TIpSmtpClient(Clock& clock, QObject* parent = nullptr);
    ~TIpSmtpClient() override;

    compose::TIpMailMessage& message() { return *m_message; }
    const compose::TIpMailMessage& message() const { return *m_message; }
    // After a message was accepted the client starts over with an empty one;
    // the coding-progress handler stays connected.
    void replaceMessage();

    TIpSmtpStates state() const { return m_state; }
    TIpSmtpTasks task() const { return m_task; }

    // Name sent with EHLO and HELO; empty means the computer's host name.
    QString domain() const { return m_domain; }
    void setDomain(const QString& domain) { m_domain = domain; }
    QString userID() const { return m_userID; }
    void setUserID(const QString& user) { m_userID = user; }
    QString password() const { return m_password; }
    void setPassword(const QString& password) { m_password = password; }
    bool enableAuth() const { return m_enableAuth; }
    void setEnableAuth(bool on) { m_enableAuth = on; }
    // Milliseconds without traffic before the idle event; 0 is off.
    int idleTimeout() const { return m_idleTimeout; }
    void setIdleTimeout(int ms) { m_idleTimeout = ms; }
    // Milliseconds between idle checks.
    int timerInterval() const { return m_timerInterval; }
    void setTimerInterval(int ms) { m_timerInterval = ms; }
    // Value of the X-Mailer line added when sending; empty adds none.
    QString xMailer() const { return m_xMailer; }
    void setXMailer(const QString& value) { m_xMailer = value; }
    bool includeBCC() const { return m_includeBCC; }
    void setIncludeBCC(bool on) { m_includeBCC = on; }

protected:
    Clock& clock() const { return m_clock; }

private:
    Clock& m_clock;
    std::unique_ptr<compose::TIpMailMessage> m_message;
    TIpSmtpStates m_state = ssNoOp;
    TIpSmtpTasks m_task = stNoTask;
    QString m_domain;
    QString m_userID;
    QString m_password;
    bool m_enableAuth = false;
    int m_idleTimeout = 0;
    int m_timerInterval = 500;
    QString m_xMailer = defaultXMailer();
    bool m_includeBCC = false;
};

} // namespace bv::send

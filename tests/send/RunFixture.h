#pragma once

#include "ScriptedDialogs.h"
#include "SmtpPeers.h"
#include "TempProgramFolder.h"
#include "TestClock.h"
#include "compose/ComposeMessage.h"
#include "core/Services.h"
#include "core/Shell.h"
#include "data/Database.h"
#include "send/MailingRun.h"

#include <QFile>
#include <QtTest>

#include <deque>
#include <functional>
#include <memory>

namespace bv::test {

class NoShell : public Shell
{
public:
    bool openUrl(const QUrl&) override { return true; }
    bool startProgram(const QString&, const QStringList&) override { return true; }
};

// Takes its loopback server for one across the network, where a password
// must not go in the clear.
class DistantSmtpClient : public send::TIpSmtpClient
{
public:
    using TIpSmtpClient::TIpSmtpClient;

protected:
    bool peerIsLoopback() const override { return false; }
};

// The mailing run with a host that records what the main window would show.
struct RunFixture : send::MailingRunHost
{
    TempProgramFolder home;
    TestClock clock;
    ScriptedDialogs dialogs;
    NoShell shell;
    // The program folder: a fresh one, or the one a runner process is given.
    QString folder;
    Services services;
    data::Connection db{QStringLiteral("AdsConnection1")};
    send::RunSettings settings;
    std::unique_ptr<send::TMailingRun> run;
    std::unique_ptr<send::TIpSmtpClient> client;
    QStringList statusLines;
    QStringList activities;
    QStringList currentEmails;
    QString lastError, totalErrors, count, pauseCaption;
    int progress = 0, progressMax = 0;
    std::deque<bool> questionAnswers;
    QStringList questionsAsked;
    int directCancels = 0;
    int sendDirectCalls = 0;
    // The run's clients take the server for a distant one.
    bool distantServer = false;
    // Called for every status line: lets a test press Pause or Cancel at a
    // chosen moment.
    std::function<void(const QString&)> onStatusLine;

    explicit RunFixture(const QString& programFolder = QString())
        : folder(programFolder.isEmpty() ? home.path() : programFolder), services{clock, dialogs, shell, folder}
    {
        db.open(folder);
        settings.testAddress = QStringLiteral("test@example.com");
        settings.listPicked = true;
        settings.listName = QStringLiteral("L1");
        settings.senderPicked = true;
        settings.senderText = QStringLiteral("Ann Sender <ann@example.com>");
        settings.subject = QStringLiteral("News");
        settings.recipientFormat = 1;
        run = std::make_unique<send::TMailingRun>(services, db, *this);
        send::SmtpTimeLimits limits;
        limits.connect = limits.greeting = limits.mailFrom = limits.rcptTo = limits.dataInit = limits.dataBlock =
            limits.dataTermination = limits.other = 3000;
        run->setClientTimeLimits(limits);
    }
    ~RunFixture() override
    {
        run.reset();
        client.reset();
    }

    void addRecipients(int n, const QString& list = QStringLiteral("L1"), int from = 1)
    {
        data::Transaction t(db);
        for (int i = from; i < from + n; ++i)
            db.execute(QStringLiteral("insert into RecipientList (FirstName, LastName, Email, List, Salutation, "
                                      "SendTo) values ('F%1', 'L%1', 'r%1@example.org', '%2', 'Mr.', True)")
                           .arg(i)
                           .arg(list));
        t.commit();
    }
    QStringList rows(const QString& fields = QStringLiteral("Email, Sent, Error, ErrorMsg"))
    {
        QStringList out;
        for (const QVariantList& r : db.select(QStringLiteral("select ") + fields
                                               + QStringLiteral(" from EmailBeingSent order by EmailNo"))
                                         .rows) {
            QStringList cells;
            for (const QVariant& v : r)
                cells << (v.typeId() == QMetaType::Bool ? QString(v.toBool() ? "T" : "F") : v.toString());
            out << cells.join(u'|');
        }
        return out;
    }
    QStringList logLines() const
    {
        QFile f(folder + QStringLiteral("Stats.txt"));
        if (!f.open(QIODevice::ReadOnly))
            return {};
        QString text = QString::fromUtf8(f.readAll());
        if (text.endsWith(QStringLiteral("\r\n")))
            text.chop(2);
        return text.isEmpty() ? QStringList() : text.split(QStringLiteral("\r\n"));
    }
    int waited(const QString& kind, int ms) const
    {
        int n = 0;
        for (const auto& w : clock.waits())
            n += w.kind == kind && w.ms == ms;
        return n;
    }
    int waitedInAll(const QString& kind) const
    {
        int ms = 0;
        for (const auto& w : clock.waits())
            ms += w.kind == kind ? w.ms : 0;
        return ms;
    }

    send::RunSettings runSettings() override { return settings; }
    void runStarting() override { statusLines.clear(); }
    void runEnded() override {}
    void setLastError(const QString& text) override { lastError = text; }
    void setTotalErrors(const QString& text) override { totalErrors = text; }
    void setCount(const QString& text) override { count = text; }
    void setCurrentEmail(const QString& text) override { currentEmails << text; }
    void setPauseCaption(const QString& caption) override { pauseCaption = caption; }
    void setProgress(int position, int maximum) override
    {
        progress = position;
        progressMax = maximum;
    }
    void ShowActivity(const QString& text) override { activities << text; }
    void AddStatusLine(const QString& text) override
    {
        statusLines << text;
        if (onStatusLine)
            onStatusLine(text);
    }
    bool askQuestion(const QString& key) override
    {
        questionsAsked << key;
        if (questionAnswers.empty())
            return false;
        const bool yes = questionAnswers.front();
        questionAnswers.pop_front();
        return yes;
    }
    void rememberTestAddress() override {}
    send::TIpSmtpClient& newClient() override
    {
        client = distantServer ? std::make_unique<DistantSmtpClient>(clock)
                               : std::make_unique<send::TIpSmtpClient>(clock);
        return *client;
    }
    void composeMessage(compose::TIpMailMessage& message, const QString& salutation, const QString& firstName,
                        const QString& lastName) override
    {
        compose::ComposeMessage(message,
                                {settings.senderText, settings.subject,
                                 QStringLiteral("Dear {{-salutation-}} {{-lastname-}}"), QString()},
                                salutation, firstName, lastName);
    }
    void setDirectCancel() override { ++directCancels; }
    void clearDeliveryMarks() override {}
    void sendDirect() override { ++sendDirectCalls; }
    void clearSpool() override {}
};

} // namespace bv::test

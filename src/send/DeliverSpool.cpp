#include "DeliverSpool.h"

#include "DNS.h"
#include "SpoolMessage.h"
#include "lists/ValidateEmail.h"

#include "compose/ComposeMessage.h"
#include "compose/MailMessage.h"
#include "data/Database.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>

#include <thread>

namespace bv::send {

namespace {

// A long transfer refreshes its lock this often, so that nobody takes it
// for abandoned while it still goes on.
constexpr int kLockRefreshMs = 60 * 1000;

QString fileNameOf(const QString& path)
{
    return QFileInfo(path).fileName();
}

QString folderOf(const QString& path)
{
    return path.left(path.size() - fileNameOf(path).size());
}

// The first address of the message that cannot go into a command line.
QString unsendableAddress(const SpoolMessage& message)
{
    for (const QString& a : QStringList{message.fromAddress()} + message.recipientAddresses())
        if (lists::hasControlCharacter(a))
            return a;
    return {};
}

} // namespace

// The name alone counts: a folder called "BVC_..." or "ERR_..." must not
// change what a file is.
QString SpoolEmailNo(const QString& path)
{
    const QString name = fileNameOf(path);
    const qsizetype start = name.indexOf(QLatin1String("BVC_"));
    if (start < 0)
        return {};
    const qsizetype end = name.indexOf(QLatin1String("_."), start + 4);
    if (end < 0)
        return {};
    const QString number = name.mid(start + 4, end - start - 4);
    const bool digits =
        !number.isEmpty() && std::all_of(number.cbegin(), number.cend(), [](QChar c) {
            return c >= QLatin1Char('0') && c <= QLatin1Char('9');
        });
    return digits ? number : QString();
}

bool IsErrorReport(const QString& path)
{
    return fileNameOf(path).contains(QLatin1String("ERR_"));
}

QString ErrorReportPath(const QString& path)
{
    QString name = fileNameOf(path);
    const qsizetype at = name.indexOf(QLatin1String("BVC_"));
    if (at >= 0)
        name.insert(at, QLatin1String("ERR_"));
    return folderOf(path) + name;
}

TSpoolDelivery::TSpoolDelivery(data::Connection& localConnect, const Clock& clock,
                               DirectDeliverySettings settings, MessageBox showMessage)
    : m_connection(localConnect), m_clock(clock), m_settings(std::move(settings)),
      m_showMessage(std::move(showMessage))
{
}

DeliveryOutcome TSpoolDelivery::DeliverSpoolFile(const QString& path)
{
    DeliveryOutcome outcome;
    const QString lock = path + QStringLiteral(".lock");
    if (!TakeLockFile(lock, kLockAgeMinutes))
        return outcome;
    // Delivered meanwhile by a worker whose lock had grown old.
    if (!QFileInfo::exists(path)) {
        QFile::remove(lock);
        return outcome;
    }

    QString readError;
    std::unique_ptr<SpoolMessage> message = SpoolMessage::read(path, &readError);
    if (!message) {
        outcome.errorText = readError;
    } else if (message->mailTo().isEmpty()) {
        outcome.errorText =
            QStringLiteral("The message file \"%1\" names no recipient in its To field.")
                .arg(fileNameOf(path));
    } else if (message->fromAddress().isEmpty()) {
        outcome.errorText =
            QStringLiteral("The message file \"%1\" names no sender in its From field.")
                .arg(fileNameOf(path));
    } else if (const QString bad = unsendableAddress(*message); !bad.isEmpty()) {
        outcome.errorText = QStringLiteral("The message file \"%1\" cannot be sent. %2")
                                .arg(fileNameOf(path), lists::addressRefusal(bad));
    } else if (lists::hasControlCharacter(m_settings.HeloName)) {
        outcome.errorText = QStringLiteral("The HELO name holds a line break or another control "
                                           "character.");
    } else {
        outcome.recipient = message->recipientAddresses().value(0);
        const QStringList hosts = GetMXHosts(outcome.recipient, m_settings.DNSServer, kMxTimeoutMs)
                                      .split(QStringLiteral("\r\n"), Qt::SkipEmptyParts)
                                      .mid(0, kMaxExchangers);
        if (hosts.isEmpty())
            outcome.errorText = QStringLiteral("Email Address Domain Name not found.");
        bool answered = false;
        QDeadlineTimer refresh(kLockRefreshMs);
        message->setProgressHandler([&] {
            if (refresh.hasExpired()) {
                RefreshLockFile(lock);
                refresh.setRemainingTime(kLockRefreshMs);
            }
        });
        for (qsizetype i = 0; i < hosts.size() && !answered; ++i) {
            if (i > 0)
                std::this_thread::yield();
            const ExchangerAnswer answer = SendToExchanger(hosts[i], *message, m_settings.HeloName);
            answered = answer.done;
            if (answer.done && answer.errorText.isEmpty())
                outcome.delivered = true;
            else if (answer.done)
                outcome.errorText = answer.errorText;
        }
        message->setProgressHandler({});
        if (!hosts.isEmpty() && !answered)
            outcome.errorText = QStringLiteral("No mail exchanger of %1 accepted a connection.")
                                    .arg(MxDomain(outcome.recipient));
    }

    QFile spool(path);
    const bool deleted = spool.remove() || !spool.exists();
    if (!deleted) {
        // Left where it is, it must never be delivered again: the lock stays
        // as its mark, and listings leave the file out.
        MarkSpoolFileFinished(lock);
        return outcome;
    }
    if (!outcome.errorText.isEmpty() && !IsErrorReport(path) && message &&
        !message->fromAddress().isEmpty())
        writeErrorReport(path, *message, outcome.errorText);
    QFile::remove(lock);
    return outcome;
}

void TSpoolDelivery::writeErrorReport(const QString& path, const SpoolMessage& message,
                                      const QString& errorText)
{
    try {
        compose::TIpMailMessage report(m_clock);
        report.setSigner(m_settings.signer);
        compose::ComposeErrorReport(report, message.from(),
                                    message.recipientEntries().join(QStringLiteral(", ")),
                                    message.subject(), errorText);
        report.SaveToFile(ErrorReportPath(path));
    } catch (const compose::MessageError& e) {
        if (m_showMessage)
            m_showMessage(e.message());
    }
}

bool TSpoolDelivery::RecordDeliveryFailure(const QString& path, const QString& errorText)
{
    const QString emailNo = SpoolEmailNo(path);
    if (emailNo.isEmpty())
        return false;
    QString sql;
    if (IsErrorReport(path))
        sql =
            QStringLiteral(
                "insert into EmailBeingSent "
                "(\"FirstName\",\"LastName\",\"Email\",\"List\",\"Sent\", "
                "\"ErrorMsg\", \"Error\",\"Salutation\",\"EmailDate\") select \"FirstName\","
                "\"LastName\",\"Email\",\"List\",\"Sent\", ") +
            data::quoted(QStringLiteral("Error while emailing error for Email # ") + emailNo +
                         QStringLiteral(": ") + errorText) +
            QStringLiteral(" as \"ErrorMsg\", True as \"Error\",\"Salutation\",\"EmailDate\" from "
                           "EmailBeingSent where EmailNo = ") +
            emailNo;
    else
        sql = QStringLiteral("update EmailBeingSent set Error = True, ErrorMsg = ") +
              data::quoted(errorText) + QStringLiteral(" where EmailNo = ") + emailNo;
    try {
        data::Query query(m_connection);
        query.setSql(sql);
        query.execSql();
        return true;
    } catch (const data::DbError&) {
        return false;
    }
}

TSpoolDelivery::WorkerResult TSpoolDelivery::DeliverAndRecord(const QString& path)
{
    WorkerResult result;
    result.outcome = DeliverSpoolFile(path);
    if (!result.outcome.delivered && !result.outcome.errorText.isEmpty())
        result.raiseError = RecordDeliveryFailure(path, result.outcome.errorText);
    return result;
}

} // namespace bv::send

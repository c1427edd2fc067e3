#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace bv {
class Clock;
}

namespace bv::data {
class Connection;
}

namespace bv::compose {
class DkimSigner;
}

// DirectMail, the worker's side: the delivery of one spool file straight to a
// mail exchanger of its recipient's domain. Everything here runs on delivery
// worker threads, up to 15 at once, with blocking sockets.
namespace bv::send {

class SpoolMessage;

// The settings a pass copies for its workers.
struct DirectDeliverySettings
{
    QString DNSServer; // address or host name, ":port" optional
    QString HeloName;  // empty: the computer's host name
    std::shared_ptr<const compose::DkimSigner> signer = nullptr; // signs the error reports
};

struct DeliveryOutcome
{
    bool delivered = false;
    QString recipient;
    QString errorText; // empty when there is none
};

struct ExchangerAnswer
{
    bool done = false; // the exchanger accepted a connection and a greeting
    QString errorText;
};

constexpr int kLockAgeMinutes = 5;
constexpr int kMxTimeoutMs = 5000;
constexpr int kMaxExchangers = 4;
constexpr int kExchangerTimeLimitMs = 3000;

// EmailNo of a spool file: the digits between "BVC_" and "_." of its file
// name; empty when they are not all digits (the number goes into SQL text).
QString SpoolEmailNo(const QString& path);
// An error report: a file name holding "ERR_".
bool IsErrorReport(const QString& path);
// "BVC_12_.eml" -> "ERR_BVC_12_.eml", in the same folder.
QString ErrorReportPath(const QString& path);

// Atomic: of any number of threads or processes asking at once, one at most
// gets yes. An existing lock is taken over when its last change is ageMinutes
// or more in the past, unless it marks a finished file.
bool TakeLockFile(const QString& lockPath, int ageMinutes);

// Keeps a held lock young while a long delivery goes on.
void RefreshLockFile(const QString& lockPath);
// Turns a held lock into the mark of a finished spool file (below).
bool MarkSpoolFileFinished(const QString& lockPath);

// A spool file that had its attempt but could not be deleted: its lock stays
// as a mark, so it is never delivered again. A pass's listing must leave it
// out, or the pass would never run out of files.
bool SpoolFileFinished(const QString& spoolPath);
// The files of folder matching mask ("BVC_*.eml"), in listing order, full
// paths, less the finished ones.
QStringList ListSpoolFiles(const QString& folder, const QString& mask);

// One SMTP conversation on port 25 of host. Not done: no connection, or no
// greeting and greeting answer. When the exchanger offers STARTTLS it is used
// without certificate checks; a failed handshake is followed by a second
// conversation without TLS.
ExchangerAnswer SendToExchanger(const QString& host, SpoolMessage& message,
                                const QString& heloName);

class TSpoolDelivery
{
public:
    // Shown on the user-interface thread by the caller's implementation.
    using MessageBox = std::function<void(const QString& text)>;

    // localConnect: the program connection, shared by every worker. The clock
    // dates the error reports' parts.
    TSpoolDelivery(data::Connection& localConnect, const Clock& clock,
                   DirectDeliverySettings settings, MessageBox showMessage);

    DeliveryOutcome DeliverSpoolFile(const QString& path);
    // Writes a failure into EmailBeingSent; false when the statement failed
    // (the worker then raises no error event).
    bool RecordDeliveryFailure(const QString& path, const QString& errorText);

    // The worker's job: deliver, and record a failure that has a text.
    // raiseError: the failure was recorded and its event is due.
    struct WorkerResult
    {
        DeliveryOutcome outcome;
        bool raiseError = false;
    };
    WorkerResult DeliverAndRecord(const QString& path);

private:
    void writeErrorReport(const QString& path, const SpoolMessage& message,
                          const QString& errorText);

    data::Connection& m_connection;
    const Clock& m_clock;
    DirectDeliverySettings m_settings;
    MessageBox m_showMessage;
};

} // namespace bv::send

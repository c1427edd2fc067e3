#include "DirectMail.h"

#include "core/Clock.h"

#include <QDir>
#include <QThread>

namespace bv::send {

namespace {

// One worker: delivers one file on its own thread and frees itself.
class TSend : public QThread
{
public:
    TSend(const QString& path, const TSettings& settings, const DeliveryJob& job, std::atomic<int>& successes,
          std::function<void(const DeliveryOutcome&)> onError)
        : m_path(path), m_settings(settings), m_job(job), m_successes(successes), m_onError(std::move(onError))
    {
    }

protected:
    void run() override
    {
        TSpoolDelivery::WorkerResult result;
        try {
            result = m_job(m_path, m_settings);
        } catch (const std::exception&) {
            // The job reports its own failures; nothing may escape the thread.
            return;
        }
        if (result.outcome.delivered)
            m_successes.fetch_add(1);
        else if (result.raiseError)
            m_onError(result.outcome);
    }

private:
    QString m_path;
    TSettings m_settings;
    DeliveryJob m_job;
    std::atomic<int>& m_successes;
    std::function<void(const DeliveryOutcome&)> m_onError;
};


} // namespace

TDirectMail::TDirectMail(Clock& clock, DeliveryJob job, QObject* parent)
    : QObject(parent), m_clock(clock), m_job(std::move(job))
{
}

TDirectMail::~TDirectMail()
{
    // Workers report to this object; it may not go before them.
    while (true) {
        {
            std::lock_guard lock(m_lock);
            if (m_started <= 0)
                break;
        }
        m_clock.waitForEvents(50);
    }
}

int TDirectMail::runningCount() const
{
    std::lock_guard lock(m_lock);
    return m_running;
}

void TDirectMail::ClearSpool(const QString& folder)
{
    QDir dir(folder);
    if (folder.isEmpty() || m_settings.FileMask.isEmpty() || !dir.exists())
        return;
    // A file's lock goes with it: a mark of a file that could not be deleted
    // once would otherwise outlive the file.
    for (const QString& name : dir.entryList({m_settings.FileMask}, QDir::Files)) {
        dir.remove(name);
        dir.remove(name + QStringLiteral(".lock"));
    }
}

bool TDirectMail::StartWorker(const QString& path)
{
    {
        std::lock_guard lock(m_lock);
        if (m_started >= MaxWorkers)
            return false;
        ++m_started;
    }
    const QString emailNo = SpoolEmailNo(path);
    auto* worker = new TSend(path, m_settings, m_job, m_successes, [this, emailNo](const DeliveryOutcome& outcome) {
        // One failure at a time, on the user-interface thread.
        QMetaObject::invokeMethod(
            this, [this, emailNo, outcome] { emit OnError(outcome.recipient, emailNo, outcome.errorText); },
            Qt::QueuedConnection);
    });
    connect(worker, &QThread::finished, this, &TDirectMail::workerEnded, Qt::QueuedConnection);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start(QThread::NormalPriority);
    return true;
}

void TDirectMail::workerEnded()
{
    int running;
    {
        std::lock_guard lock(m_lock);
        --m_started;
        running = --m_running;
    }
    emit OnThreadCountChanged(Successes(), running);
}

void TDirectMail::RunDeliveryPass(const QString& dnsServer, const QString& heloName, const QString& folder)
{
    m_successes = 0;
    m_settings.DNSServer = dnsServer;
    m_settings.HeloName = heloName;
    m_settings.EmailPath = folder;
    Cancel = false;

    while (!Cancel) {
        const QStringList files =
            m_settings.FileMask.isEmpty() ? QStringList() : ListSpoolFiles(folder, m_settings.FileMask);
        if (files.isEmpty())
            break;
        for (qsizetype i = 0; i < files.size() && !Cancel;) {
            const bool started = StartWorker(files.at(i));
            if (started) {
                int running;
                {
                    std::lock_guard lock(m_lock);
                    running = ++m_running;
                }
                emit OnThreadCountChanged(Successes(), running);
                ++i;
            } else if (Cancel) {
                break;
            }
            if (m_dispatchWaitMs > 0)
                m_clock.waitProcessingEvents(m_dispatchWaitMs);
            // The ends of workers arrive as events, whatever the clock; with
            // every worker busy there is nothing to do until one ends.
            m_clock.waitForEvents(started ? 0 : 50);
        }
    }
    while (runningCount() > 0)
        m_clock.waitForEvents(100);
    emit OnComplete();
}

} // namespace bv::send

#pragma once

#include "send/DeliverSpool.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <mutex>

namespace bv {
class Clock;
}

namespace bv::send {

// The settings of the current delivery pass: written by the pass before any of
// its workers starts, only read by the workers.
struct TSettings
{
    QString DNSServer;
    QString FileMask; // "BVC_*.eml" or "ERR_BVC_*.eml"; empty before the first pass
    QString EmailPath; // the spool folder, ending with a separator
    QString HeloName;
    // Signs the error reports the workers write; null when the domain has no key.
    std::shared_ptr<const compose::DkimSigner> Signer = nullptr;
};

// The job of one worker: deliver the file and record a failure. Runs on the
// worker's own thread.
using DeliveryJob = std::function<TSpoolDelivery::WorkerResult(const QString& path, const TSettings& settings)>;

// The direct-delivery pool: hands the spool files of a pass to at most 15
// worker threads and reports on the user-interface thread.
class TDirectMail : public QObject
{
    Q_OBJECT
public:
    static constexpr int MaxWorkers = 15;

    TDirectMail(Clock& clock, DeliveryJob job, QObject* parent = nullptr);
    // Waits for workers still running.
    ~TDirectMail() override;

    const TSettings& settings() const { return m_settings; }
    void setFileMask(const QString& mask) { m_settings.FileMask = mask; }
    void setSigner(std::shared_ptr<const compose::DkimSigner> signer)
    {
        m_settings.Signer = std::move(signer);
    }
    // 0 turns the 200 ms wait of the dispatch loop off (benchmarks).
    void setDispatchWaitMs(int ms) { m_dispatchWaitMs = ms; }

    int Successes() const { return m_successes.load(); }
    int runningCount() const;
    bool Cancel = false;

    // Deletes the files of the folder that match the mask of the last pass.
    void ClearSpool(const QString& folder);
    // One pass over the files of folder that match FileMask; returns after
    // OnComplete has been raised and handled.
    void RunDeliveryPass(const QString& dnsServer, const QString& heloName, const QString& folder);
    // A worker for path when fewer than 15 run.
    bool StartWorker(const QString& path);

signals:
    // On the user-interface thread after a worker starts and after one ends.
    void OnThreadCountChanged(int successes, int threadCount);
    // On the user-interface thread, one failure at a time.
    void OnError(const QString& recipient, const QString& emailNo, const QString& error);
    void OnComplete();

private:
    void workerEnded();

    Clock& m_clock;
    DeliveryJob m_job;
    TSettings m_settings;
    std::atomic<int> m_successes{0};
    // The DirectMail lock: the running count.
    mutable std::mutex m_lock;
    int m_running = 0;
    int m_started = 0; // workers alive, started here and not yet ended
    int m_dispatchWaitMs = 200;
};

} // namespace bv::send

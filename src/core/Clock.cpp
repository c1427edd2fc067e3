#include "Clock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <time.h>

namespace bv {

namespace {

class SystemTimer : public Timer
{
public:
    explicit SystemTimer(QObject* parent) : Timer(parent), m_timer(this)
    {
        connect(&m_timer, &QTimer::timeout, this, &Timer::timeout);
    }
    void setInterval(int ms) override { m_timer.setInterval(ms); }
    int interval() const override { return m_timer.interval(); }
    void start() override { m_timer.start(); }
    void stop() override { m_timer.stop(); }
    bool isActive() const override { return m_timer.isActive(); }

private:
    QTimer m_timer;
};

} // namespace

QDateTime SystemClock::now() const
{
    return QDateTime::currentDateTime();
}

qint64 SystemClock::uptimeMs() const
{
    timespec ts{};
    clock_gettime(CLOCK_BOOTTIME, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SystemClock::sleep(int ms)
{
    if (ms > 0)
        QThread::msleep(ulong(ms));
}

void SystemClock::processEvents()
{
    QCoreApplication::processEvents();
}

void SystemClock::waitProcessingEvents(int ms)
{
    QDeadlineTimer deadline(ms);
    do {
        QCoreApplication::processEvents(
            QEventLoop::AllEvents,
            int(qMax<qint64>(1, qMin<qint64>(deadline.remainingTime(), 50))));
        if (!deadline.hasExpired())
            QThread::msleep(ulong(qMin<qint64>(deadline.remainingTime(), 5)));
    } while (!deadline.hasExpired());
}

void SystemClock::waitWithoutInput(int ms)
{
    QDeadlineTimer deadline(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents,
                                        int(qMax<qint64>(1, qMin<qint64>(deadline.remainingTime(), 50))));
        if (!deadline.hasExpired())
            QThread::msleep(ulong(qMin<qint64>(deadline.remainingTime(), 20)));
    } while (!deadline.hasExpired());
}

void SystemClock::waitForEvents(int maxMs)
{
    waitForRealEvents(maxMs);
}

void waitForRealEvents(int maxMs)
{
    // The single-shot timer bounds the blocking wait when nothing else comes.
    QTimer bound;
    bound.setSingleShot(true);
    bound.start(qMax(0, maxMs));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

Timer* SystemClock::createTimer(QObject* parent)
{
    return new SystemTimer(parent);
}

} // namespace bv

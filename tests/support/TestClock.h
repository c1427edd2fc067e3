#pragma once

#include "core/Clock.h"

#include <QList>
#include <QPointer>

namespace bv::test {

// Instant time for tests: every wait returns at once, advances the virtual
// clock and is recorded; timers fire only when the test advances the clock.
class TestClock : public Clock
{
public:
    struct Wait
    {
        QString kind; // "sleep", "events" or "paint"
        int ms;
    };

    explicit TestClock(QDateTime start = QDateTime(QDate(2026, 12, 8), QTime(13, 15, 33)));

    QDateTime now() const override { return m_now; }
    qint64 uptimeMs() const override { return m_uptime; }
    void sleep(int ms) override;
    void processEvents() override;
    void waitProcessingEvents(int ms) override;
    void waitWithoutInput(int ms) override;
    void waitForEvents(int maxMs) override { waitForRealEvents(maxMs); }
    Timer* createTimer(QObject* parent) override;

    // Moves the virtual time on by ms, firing every due timer in time order.
    void advance(int ms);
    void setNow(const QDateTime& now) { m_now = now; }

    const QList<Wait>& waits() const { return m_waits; }
    int totalWaitedMs() const;
    void clearWaits() { m_waits.clear(); }
    // Whether waits also let queued Qt events run (off by default).
    void setProcessRealEvents(bool on) { m_processRealEvents = on; }

private:
    friend class TestTimer;
    void moveOn(int ms);

    QDateTime m_now;
    qint64 m_uptime = 123456789;
    qint64 m_elapsed = 0; // virtual ms since construction
    QList<Wait> m_waits;
    QList<QPointer<class TestTimer>> m_timers;
    bool m_processRealEvents = false;
};

} // namespace bv::test

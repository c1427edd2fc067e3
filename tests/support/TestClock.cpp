#include "TestClock.h"

#include <QCoreApplication>

namespace bv::test {

class TestTimer : public Timer
{
public:
    TestTimer(TestClock& clock, QObject* parent) : Timer(parent), m_clock(clock) {}
    void setInterval(int ms) override
    {
        m_interval = ms;
        if (m_active)
            m_due = m_clock.m_elapsed + qMax(1, m_interval);
    }
    int interval() const override { return m_interval; }
    void start() override
    {
        m_active = true;
        m_due = m_clock.m_elapsed + qMax(1, m_interval);
    }
    void stop() override { m_active = false; }
    bool isActive() const override { return m_active; }

    TestClock& m_clock;
    int m_interval = 0;
    bool m_active = false;
    qint64 m_due = 0;
};

TestClock::TestClock(QDateTime start) : m_now(std::move(start)) {}

void TestClock::sleep(int ms)
{
    m_waits.append({QStringLiteral("sleep"), ms});
    moveOn(ms);
}

void TestClock::processEvents()
{
    if (m_processRealEvents)
        QCoreApplication::processEvents();
}

void TestClock::waitProcessingEvents(int ms)
{
    m_waits.append({QStringLiteral("events"), ms});
    moveOn(ms);
    processEvents();
}

void TestClock::waitWithoutInput(int ms)
{
    m_waits.append({QStringLiteral("paint"), ms});
    moveOn(ms);
}

Timer* TestClock::createTimer(QObject* parent)
{
    auto* t = new TestTimer(*this, parent);
    m_timers.append(t);
    return t;
}

void TestClock::advance(int ms)
{
    moveOn(ms);
}

void TestClock::moveOn(int ms)
{
    const qint64 target = m_elapsed + qMax(0, ms);
    for (;;) {
        // The earliest due timer within the span fires first.
        TestTimer* next = nullptr;
        for (const auto& t : std::as_const(m_timers))
            if (t && t->m_active && t->m_due <= target && (!next || t->m_due < next->m_due))
                next = t;
        if (!next)
            break;
        const qint64 step = next->m_due - m_elapsed;
        m_elapsed = next->m_due;
        m_now = m_now.addMSecs(step);
        m_uptime += step;
        next->m_due = m_elapsed + qMax(1, next->m_interval);
        emit next->timeout();
    }
    const qint64 rest = target - m_elapsed;
    m_elapsed = target;
    m_now = m_now.addMSecs(rest);
    m_uptime += rest;
    m_timers.removeAll(nullptr);
}

int TestClock::totalWaitedMs() const
{
    int total = 0;
    for (const Wait& w : m_waits)
        total += w.ms;
    return total;
}

} // namespace bv::test

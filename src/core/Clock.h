#pragma once

#include <QDateTime>
#include <QObject>

namespace bv {

// A repeating timer whose ticks come from the clock service, so that tests can
// drive splash and status timers without real time passing.
class Timer : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;
signals:
    void timeout();
};

// Every wait of the program goes through here: the throttling pauses, the
// activity wait, the splash and status timers.
class Clock
{
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // Milliseconds since the computer started.
    virtual qint64 uptimeMs() const = 0;
    // Blocks for ms without handling user-interface events.
    virtual void sleep(int ms) = 0;
    // Lets the user interface handle the events that are pending.
    virtual void processEvents() = 0;
    // Waits ms while the user interface keeps handling events.
    virtual void waitProcessingEvents(int ms) = 0;
    // Waits ms while the window repaints but takes no command: input events
    // wait until it is over.
    virtual void waitWithoutInput(int ms) = 0;
    // Blocks until at least one event arrives, at most maxMs, and handles the
    // pending ones: how the program waits on its network peers. It is never a
    // program pause, so a test clock waits for real here too.
    virtual void waitForEvents(int maxMs) = 0;
    // A timer owned by parent (Qt ownership).
    virtual Timer* createTimer(QObject* parent) = 0;
};

// The real wait behind Clock::waitForEvents, for every clock.
void waitForRealEvents(int maxMs);

class SystemClock : public Clock
{
public:
    QDateTime now() const override;
    qint64 uptimeMs() const override;
    void sleep(int ms) override;
    void processEvents() override;
    void waitProcessingEvents(int ms) override;
    void waitWithoutInput(int ms) override;
    void waitForEvents(int maxMs) override;
    Timer* createTimer(QObject* parent) override;
};

} // namespace bv

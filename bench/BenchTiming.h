#pragma once

#include <QElapsedTimer>
#include <QFile>

#include <functional>

namespace bv::bench {

// Seconds fn takes, wall clock.
inline double timeIt(const std::function<void()>& fn)
{
    QElapsedTimer t;
    t.start();
    fn();
    return t.nsecsElapsed() / 1e9;
}

// Resident memory of this process in KB, 0 where /proc does not tell.
inline long residentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return 0;
}

} // namespace bv::bench

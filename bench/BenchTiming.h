#pragma once

#include <QElapsedTimer>

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

} // namespace bv::bench

#ifndef BENCH_EVENT_LOOP_H
#define BENCH_EVENT_LOOP_H

// How long the window's event loop goes unanswered: the longest gap
// between ticks of a 1 ms timer, run until `done` says so.

#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTimer>

#include <algorithm>
#include <functional>

namespace bench {

// In milliseconds; `done` is asked on every tick.
inline double LongestPause(const std::function<bool()> &done) {
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed(), longest = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QEventLoop loop;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        longest = std::max(longest, now - last);
        last = now;
        if (done())
            loop.quit();
    });
    tick.start(1);
    loop.exec();
    return longest / 1e6;
}

}  // namespace bench

#endif

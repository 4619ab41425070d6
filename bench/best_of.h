#ifndef BENCH_BEST_OF_H
#define BENCH_BEST_OF_H

// Timing two ways of doing the same work in one run, for a ratio that does
// not depend on how fast the machine is.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <utility>

namespace bench {

using Clock = std::chrono::steady_clock;

// Best of `rounds` runs of each, alternating, in milliseconds.
inline std::pair<double, double> BestOf(int rounds, const std::function<void()> &ours, const std::function<void()> &theirs) {
    double a = 1e18, b = 1e18;
    ours();
    theirs();
    for (int i = 0; i < rounds; ++i) {
        auto t0 = Clock::now();
        ours();
        auto t1 = Clock::now();
        theirs();
        auto t2 = Clock::now();
        a = std::min(a, std::chrono::duration<double, std::milli>(t1 - t0).count());
        b = std::min(b, std::chrono::duration<double, std::milli>(t2 - t1).count());
    }
    return {a, b};
}

inline void Report(const char *what, const char *reference, std::pair<double, double> t, double target) {
    std::printf("%-44s %8.2f ms   %-34s %8.2f ms   ratio %.3f (target <= %.2f)\n", what, t.first, reference,
                t.second, t.first / t.second, target);
}

}  // namespace bench

#endif

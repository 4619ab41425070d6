#ifndef BENCH_BEST_OF_H
#define BENCH_BEST_OF_H

// Timing two ways of doing the same work in one run, for a ratio that does
// not depend on how fast the machine is.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <utility>
#include <vector>

extern char **environ;

namespace bench {

using Clock = std::chrono::steady_clock;

// Best of `rounds` runs of each, alternating, in milliseconds.
inline std::pair<double, double> BestOf(int rounds, const std::function<void()> &ours,
                                        const std::function<void()> &theirs) {
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

// Runs a program with its output silenced; false when it fails.
// `peakMb`, when given, gets its peak memory (and its children's) in MB;
// the system counts this process's own peak in it too, so keep that small.
inline bool RunQuietly(std::vector<std::string> args, double *peakMb = nullptr) {
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    struct rusage usage {};
    const bool ok =
        spawned == 0 && wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (peakMb)
        *peakMb = double(usage.ru_maxrss) / 1024;
    return ok;
}

inline void Report(const char *what, const char *reference, std::pair<double, double> t, double target) {
    std::printf("%-44s %8.2f ms   %-34s %8.2f ms   ratio %.3f (target <= %.2f)\n", what, t.first, reference, t.second,
                t.first / t.second, target);
}

}  // namespace bench

#endif

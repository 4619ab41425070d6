#ifndef RENDER_RENDER_SCHEDULER_H
#define RENDER_RENDER_SCHEDULER_H

#include "ravel/ravel.h"
#include "render/page_source.h"
#include "render/page_turns.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace render {

// The background rendering of one open document: jobs with priorities run
// on at most a few render threads, each with a page source of its own (a
// rendering-library handle is used by one thread at a time).
//
// Rules:
//   - Submit, Cancel and Stop may be called from any thread; jobs run on the
//     render threads and hand their results on themselves (the caller's
//     job typically posts a queued call to the window's thread).
//   - The most urgent job waiting runs first (lower Priority first; the
//     older first among equals).
//   - A job more urgent than every running one, with no thread free, stops
//     the least urgent running job, which goes back to wait its turn: the
//     page the user asked for never waits behind a read-ahead.
//   - Stop drops what waits, cancels what runs and joins the threads; it
//     never waits for a slow page to finish. No thread is ever terminated.
//   - A job that throws ends as if it had finished: the failure is told
//     (the failure handler, else standard error) and the thread goes on
//     with the next job.
class RenderScheduler {
public:
    enum Priority : int { kRequested = 0, kVisible = 1, kReadAhead = 2, kThumbnail = 3, kBackground = 4 };

    // What a job is given: the thread's own page source of the document
    // (null when it cannot be opened) and the cancel flag of this run, to
    // pass to the cancellable renders. A job that returns false was
    // cancelled and is run again later when it was only put aside.
    using Job = std::function<bool(PageSource *source, LS_CancelFlag *cancel)>;

    explicit RenderScheduler(std::string path, int threads = 2);
    // For a locked document: every thread opens its source with `password`,
    // which the scheduler holds until it goes.
    RenderScheduler(std::string path, int threads, std::shared_ptr<const platform::Secret> password);
    // Every thread's source draws pages turned as `turns` holds them.
    RenderScheduler(std::string path, int threads, std::shared_ptr<const platform::Secret> password,
                    std::shared_ptr<const PageTurns> turns);
    ~RenderScheduler();
    RenderScheduler(const RenderScheduler &) = delete;
    RenderScheduler &operator=(const RenderScheduler &) = delete;

    uint64_t Submit(Priority priority, Job job);
    // Drops the job if it waits, stops it if it runs; false when it is
    // neither (done or unknown).
    bool Cancel(uint64_t id);
    void Stop();
    // Jobs waiting and running.
    size_t Pending() const;

    // Told on the render thread, with what the exception said, when a job
    // throws. It must not throw itself, and must not call Stop.
    using FailureHandler = std::function<void(const std::string &what)>;
    void SetFailureHandler(FailureHandler handler);
    // Jobs that have ended by throwing.
    uint64_t Failures() const;

private:
    struct Entry {
        uint64_t id = 0;
        Priority priority = kBackground;
        Job job;
    };
    struct Running {
        uint64_t id = 0;
        Priority priority = kBackground;
        LS_CancelFlag *cancel = nullptr;
        bool putAside = false;   // cancelled to make room, to run again
        bool cancelled = false;  // cancelled for good: never run again
    };

    void ThreadMain(size_t index);
    void ReportFailure(const std::string &what);
    // Under the lock: the waiting entry to run next, taken out.
    bool TakeNext(Entry &entry);

    const std::string m_path;
    const std::shared_ptr<const platform::Secret> m_password;
    const std::shared_ptr<const PageTurns> m_turns;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Entry> m_waiting;
    std::vector<Running> m_running;  // one per thread; id 0 when idle
    std::vector<std::thread> m_threads;
    uint64_t m_nextId = 1;
    bool m_stopping = false;
    FailureHandler m_onFailure;
    uint64_t m_failures = 0;
};

}  // namespace render

#endif

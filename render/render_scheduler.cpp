#include "render/render_scheduler.h"

#include "render/rendering_library.h"

#include <algorithm>
#include <cstdio>
#include <new>

namespace render {

RenderScheduler::RenderScheduler(std::string path, int threads) : RenderScheduler(std::move(path), threads, nullptr) {}

RenderScheduler::RenderScheduler(std::string path, int threads, std::shared_ptr<const platform::Secret> password)
    : RenderScheduler(std::move(path), threads, std::move(password), nullptr) {}

RenderScheduler::RenderScheduler(std::string path, int threads, std::shared_ptr<const platform::Secret> password,
                                 std::shared_ptr<const PageTurns> turns)
    : m_path(std::move(path)), m_password(std::move(password)), m_turns(std::move(turns)) {
    const size_t n = size_t(std::clamp(threads, 1, 8));
    m_running.resize(n);
    for (size_t i = 0; i < n; ++i)
        m_threads.emplace_back([this, i] { ThreadMain(i); });
}

RenderScheduler::~RenderScheduler() { Stop(); }

uint64_t RenderScheduler::Submit(Priority priority, Job job) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping)
        return 0;
    const uint64_t id = m_nextId++;
    m_waiting.push_back(Entry{id, priority, std::move(job)});
    // No thread free: the least urgent running job less urgent than this
    // one makes room.
    const bool anyIdle = std::any_of(m_running.begin(), m_running.end(), [](const Running &r) { return r.id == 0; });
    if (!anyIdle) {
        Running *least = nullptr;
        for (Running &r : m_running)
            if (r.priority > priority && !r.putAside && !r.cancelled && (!least || r.priority > least->priority))
                least = &r;
        if (least) {
            least->putAside = true;
            Ravel().Cancel(least->cancel);
        }
    }
    m_wake.notify_one();
    return id;
}

bool RenderScheduler::Cancel(uint64_t id) {
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto waiting = std::find_if(m_waiting.begin(), m_waiting.end(), [id](const Entry &e) { return e.id == id; });
    if (waiting != m_waiting.end()) {
        m_waiting.erase(waiting);
        return true;
    }
    for (Running &r : m_running)
        if (r.id == id) {
            r.cancelled = true;  // stopped for good
            Ravel().Cancel(r.cancel);
            return true;
        }
    return false;
}

void RenderScheduler::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stopping && m_threads.empty())
            return;
        m_stopping = true;
        m_waiting.clear();
        for (Running &r : m_running)
            if (r.id) {
                r.cancelled = true;
                Ravel().Cancel(r.cancel);
            }
    }
    m_wake.notify_all();
    for (std::thread &t : m_threads)
        t.join();
    m_threads.clear();
}

size_t RenderScheduler::Pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiting.size() +
           size_t(std::count_if(m_running.begin(), m_running.end(), [](const Running &r) { return r.id != 0; }));
}

void RenderScheduler::SetFailureHandler(FailureHandler handler) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_onFailure = std::move(handler);
}

uint64_t RenderScheduler::Failures() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_failures;
}

void RenderScheduler::ReportFailure(const std::string &what) {
    FailureHandler handler;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_failures;
        handler = m_onFailure;
    }
    try {
        if (handler) {
            handler(what);
            return;
        }
    } catch (...) {
    }
    std::fprintf(stderr, "A background job failed: %s\n", what.c_str());
}

bool RenderScheduler::TakeNext(Entry &entry) {
    if (m_waiting.empty())
        return false;
    // Most urgent first; among equals the one submitted first (a job put
    // aside keeps its place by its id).
    const auto next = std::min_element(m_waiting.begin(), m_waiting.end(), [](const Entry &a, const Entry &b) {
        return a.priority != b.priority ? a.priority < b.priority : a.id < b.id;
    });
    entry = std::move(*next);
    m_waiting.erase(next);
    return true;
}

void RenderScheduler::ThreadMain(size_t index) {
    // This thread's own handle of the document, opened on first use.
    std::unique_ptr<PageSource> source;
    for (;;) {
        Entry entry;
        LS_CancelFlag *cancel = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stopping || !m_waiting.empty(); });
            if (m_stopping)
                break;
            if (!TakeNext(entry))
                continue;
            cancel = Ravel().NewCancel();
            m_running[index] = Running{entry.id, entry.priority, cancel, false, false};
        }
        bool finished = true;
        try {
            // Opened on first use; a file that could not be opened (briefly
            // unreadable) is tried again by the next job.
            if (!source) {
                source = PageSource::Open(m_path, 1, m_password.get(), nullptr);
                if (source)
                    source->FollowTurns(m_turns);
            }
            // A job cancelled while the document opened does not start.
            finished = Ravel().IsCancelled(cancel) ? false : entry.job(source.get(), cancel);
        } catch (const std::bad_alloc &) {
            ReportFailure("there was not enough memory");
        } catch (const std::exception &e) {
            ReportFailure(e.what());
        } catch (...) {
            ReportFailure("an unknown error");
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const bool again = !finished && m_running[index].putAside && !m_running[index].cancelled && !m_stopping;
            m_running[index] = Running{};
            if (again) {
                // Put aside for a more urgent job: it waits its turn again.
                m_waiting.push_back(std::move(entry));
                m_wake.notify_one();
            }
        }
        Ravel().DeleteCancel(cancel);
    }
}

}  // namespace render

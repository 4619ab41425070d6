// The render scheduler: priorities, a more urgent job putting a slow one
// aside, cancelling, a prompt stop, and a page source for each thread.

#include "render/render_scheduler.h"
#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <condition_variable>
#include <mutex>
#include <set>
#include <vector>

using render::RenderScheduler;

namespace {

class RenderSchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(render::LoadRenderingLibrary());
        fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {612, 792}});
        // Many drawing operations, so a cancel is seen between them soon.
        for (fixtures::PagePlan &page : plan.pages) {
            page.richContent = true;
            for (int i = 0; i < 20000; ++i)
                page.blackRects.push_back(
                    fixtures::Box{10.0 + i % 500, 10.0 + i % 700, 30.0 + i % 500, 30.0 + i % 700});
        }
        path = dir.file("doc.pdf");
        fixtures::WritePdf(plan, path);
    }
    // A render large enough to take a while, stopped by its cancel flag.
    static bool SlowRender(render::PageSource *source, LS_CancelFlag *cancel) {
        return source && source->RenderRegion(1, 6435, 8330, 0, 0, 3000, 3000, cancel) != nullptr;
    }
    void Record(const std::string &what) {
        std::lock_guard<std::mutex> lock(mutex);
        order.push_back(what);
        changed.notify_all();
    }
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return order.size() >= count; });
    }

    fixtures::TempDir dir;
    std::string path;
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> order;
};

TEST_F(RenderSchedulerTest, TheMostUrgentWaitingJobRunsFirst) {
    RenderScheduler scheduler(path, 1);
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    scheduler.Submit(RenderScheduler::kBackground, [&](render::PageSource *, LS_CancelFlag *) {
        Record("first");
        std::lock_guard<std::mutex> wait(gate);  // until the others wait
        return true;
    });
    ASSERT_TRUE(WaitFor(1));
    for (auto [priority, name] :
         {std::pair{RenderScheduler::kThumbnail, "thumbnail"}, std::pair{RenderScheduler::kReadAhead, "read ahead"},
          std::pair{RenderScheduler::kThumbnail, "second thumbnail"}, std::pair{RenderScheduler::kVisible, "visible"}})
        scheduler.Submit(priority, [this, name = std::string(name)](render::PageSource *, LS_CancelFlag *) {
            Record(name);
            return true;
        });
    held.unlock();
    ASSERT_TRUE(WaitFor(5));
    EXPECT_EQ(order, (std::vector<std::string>{"first", "visible", "read ahead", "thumbnail", "second thumbnail"}));
}

TEST_F(RenderSchedulerTest, ThePageAskedForPutsASlowThumbnailAsideWhichRunsAgainAfter) {
    RenderScheduler scheduler(path, 1);
    int thumbnailRuns = 0;
    scheduler.Submit(RenderScheduler::kThumbnail, [&](render::PageSource *source, LS_CancelFlag *cancel) {
        ++thumbnailRuns;
        Record(thumbnailRuns == 1 ? "thumbnail started" : "thumbnail again");
        if (thumbnailRuns > 1)
            return true;
        return SlowRender(source, cancel);
    });
    ASSERT_TRUE(WaitFor(1));
    scheduler.Submit(RenderScheduler::kRequested, [&](render::PageSource *source, LS_CancelFlag *) {
        Record(source ? "page" : "no source");
        return true;
    });
    ASSERT_TRUE(WaitFor(3));
    EXPECT_EQ(order, (std::vector<std::string>{"thumbnail started", "page", "thumbnail again"}));
}

TEST_F(RenderSchedulerTest, CancelDropsAWaitingJobAndStopsARunningOne) {
    RenderScheduler scheduler(path, 1);
    bool slowFinished = true;
    const uint64_t slow =
        scheduler.Submit(RenderScheduler::kBackground, [&](render::PageSource *source, LS_CancelFlag *cancel) {
            Record("slow");
            slowFinished = SlowRender(source, cancel);
            Record("slow ended");
            return slowFinished;
        });
    const uint64_t waiting = scheduler.Submit(RenderScheduler::kBackground, [&](render::PageSource *, LS_CancelFlag *) {
        Record("never");
        return true;
    });
    ASSERT_TRUE(WaitFor(1));
    EXPECT_TRUE(scheduler.Cancel(waiting));
    EXPECT_TRUE(scheduler.Cancel(slow));
    ASSERT_TRUE(WaitFor(2));
    EXPECT_FALSE(slowFinished);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(order, (std::vector<std::string>{"slow", "slow ended"}));
    EXPECT_FALSE(scheduler.Cancel(slow)) << "done";
    EXPECT_EQ(scheduler.Pending(), 0u);
}

TEST_F(RenderSchedulerTest, AJobCancelledForGoodIsNotPutAsideAndRunAgain) {
    RenderScheduler scheduler(path, 1);
    std::atomic<int> runs{0};
    // A job that, once cancelled, still takes a while to end (a page it
    // cannot stop part way).
    const uint64_t slow =
        scheduler.Submit(RenderScheduler::kReadAhead, [&](render::PageSource *, LS_CancelFlag *cancel) {
            ++runs;
            Record("slow");
            while (!render::Ravel().IsCancelled(cancel))
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            return false;
        });
    ASSERT_TRUE(WaitFor(1));
    EXPECT_TRUE(scheduler.Cancel(slow));
    // A more urgent job while it ends: nothing is put aside for it.
    scheduler.Submit(RenderScheduler::kRequested, [&](render::PageSource *, LS_CancelFlag *) {
        Record("asked");
        return true;
    });
    ASSERT_TRUE(WaitFor(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(scheduler.Pending(), 0u);
}

TEST_F(RenderSchedulerTest, StopDoesNotWaitForSlowPagesAndEachThreadHasItsOwnSource) {
    auto scheduler = std::make_unique<RenderScheduler>(path, 2);
    std::mutex sourcesMutex;
    std::set<render::PageSource *> sources;
    // Each job renders slow pages until it is stopped, or until it is let
    // go once Stop has returned: a stop that waited for the jobs to end by
    // themselves would see them let go, not stopped.
    std::atomic<bool> letGo{false};
    std::atomic<int> stopped{0}, ended{0};
    for (int i = 0; i < 6; ++i)
        scheduler->Submit(RenderScheduler::kThumbnail, [&](render::PageSource *source, LS_CancelFlag *cancel) {
            {
                std::lock_guard<std::mutex> lock(sourcesMutex);
                sources.insert(source);
            }
            Record("slow");
            for (int round = 0; round < 200 && !letGo && SlowRender(source, cancel); ++round) {
            }
            if (render::Ravel().IsCancelled(cancel) && !letGo)
                ++stopped;
            ++ended;
            return false;
        });
    ASSERT_TRUE(WaitFor(2));
    scheduler->Stop();
    letGo = true;
    EXPECT_EQ(ended.load(), 2) << "the stop returned while a page was still being rendered";
    EXPECT_EQ(stopped.load(), 2) << "the stop waited for the pages being rendered";
    EXPECT_EQ(
        scheduler->Submit(RenderScheduler::kRequested, [](render::PageSource *, LS_CancelFlag *) { return true; }), 0u);
    scheduler.reset();
    EXPECT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources.count(nullptr), 0u);
}

}  // namespace

TEST_F(RenderSchedulerTest, AJobThatThrowsIsToldAndTheThreadGoesOnWithTheNext) {
    RenderScheduler scheduler(path, 1);
    std::string told;
    scheduler.SetFailureHandler([&](const std::string &what) { Record("told " + what); });
    scheduler.Submit(RenderScheduler::kBackground,
                     [](render::PageSource *, LS_CancelFlag *) -> bool { throw std::runtime_error("broken page"); });
    scheduler.Submit(RenderScheduler::kBackground,
                     [](render::PageSource *, LS_CancelFlag *) -> bool { throw std::bad_alloc(); });
    scheduler.Submit(RenderScheduler::kBackground, [this](render::PageSource *source, LS_CancelFlag *) {
        Record(source ? "next" : "no source");
        return true;
    });
    ASSERT_TRUE(WaitFor(3));
    EXPECT_EQ(order, (std::vector<std::string>{"told broken page", "told there was not enough memory", "next"}));
    EXPECT_EQ(scheduler.Failures(), 2u);
}

// The thumbnail worker: the fit of a page in its cell, the picture types,
// which items are in view, the refresh results, each item made once, the
// temporary pictures removed, and a prompt stop. The worker runs on a
// render scheduler or, step by step, on the test's own thread.

#include "render/render_scheduler.h"
#include "render/rendering_library.h"
#include "panes/thumbnail_worker.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/render/image_writers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <mutex>
#include <vector>

using panes::StripLayout;
using panes::ThumbnailWorker;

namespace {

// Records what the worker hands over, as the strip's thread would get it.
class RecordingSink : public panes::ThumbnailSink {
public:
    void ItemsFilled(int total) override {
        std::lock_guard<std::mutex> lock(mutex);
        filled = total;
        changed.notify_all();
    }
    void PictureReady(int item, const QImage &cell) override {
        std::lock_guard<std::mutex> lock(mutex);
        items.push_back(item);
        cells.push_back(cell);
        changed.notify_all();
    }
    template <typename Pred>
    bool WaitUntil(Pred pred, int ms = 30000) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, std::chrono::milliseconds(ms), pred);
    }
    size_t Count() {
        std::lock_guard<std::mutex> lock(mutex);
        return items.size();
    }
    bool Has(int item) {
        std::lock_guard<std::mutex> lock(mutex);
        return std::find(items.begin(), items.end(), item) != items.end();
    }

    std::mutex mutex;
    std::condition_variable changed;
    int filled = -1;
    std::vector<int> items;
    std::vector<QImage> cells;
};

// One item a row, 130 pixels apart: rows first .. first + shown - 1 are in
// view, the first a little above the top edge, the last cut by the bottom.
StripLayout Rows(int first, int shown) {
    StripLayout layout;
    layout.columns = 1;
    layout.rowPitch = layout.itemHeight = 130;
    layout.firstTop = -first * 130 - 5;
    layout.clientHeight = shown * 130 - 10;
    return layout;
}

class ThumbnailWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(render::LoadRenderingLibrary());
        // The worker's temporary pictures go to a folder of the test's own.
        temp = dir.file("tmp");
        std::filesystem::create_directory(temp);
        previousTemp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
        setenv("TMPDIR", temp.c_str(), 1);
    }
    void TearDown() override {
        if (previousTemp.empty())
            unsetenv("TMPDIR");
        else
            setenv("TMPDIR", previousTemp.c_str(), 1);
    }
    std::string Pdf(int pages) {
        const std::string path = dir.file("doc" + std::to_string(pages) + ".pdf");
        fixtures::WritePdf(fixtures::ManyPages(pages, true), path);
        return path;
    }
    // The files in the temporary folder, the program's private folder's
    // included.
    size_t TempFiles() const {
        namespace fs = std::filesystem;
        return size_t(std::count_if(fs::recursive_directory_iterator(temp), fs::recursive_directory_iterator(),
                                    [](const fs::directory_entry &e) { return !e.is_directory(); }));
    }

    fixtures::TempDir dir;
    std::string temp, previousTemp;
    RecordingSink sink;
};

TEST(ThumbnailCellTest, ThePageFitsTheCellAndThePictureTypeComesFromTheNamesEnd) {
    auto fit = [](int w, int h) {
        const panes::CellFit f = panes::FitInCell(w, h);
        return std::vector<int>{f.x, f.y, f.w, f.h};
    };
    EXPECT_EQ(fit(612, 792), (std::vector<int>{1, 0, 77, 100}));   // portrait: top to bottom, centred across
    EXPECT_EQ(fit(792, 612), (std::vector<int>{0, 19, 80, 61}));   // landscape: side to side, centred down
    EXPECT_EQ(fit(800, 1000), (std::vector<int>{0, 0, 80, 100}));  // exactly the cell's shape fills it

    EXPECT_EQ(panes::PictureTypeFromName("/a/scan.WBMP"), 9);  // not taken for bmp
    EXPECT_EQ(panes::PictureTypeFromName("/a/scan.bmp"), 1);
    EXPECT_EQ(panes::PictureTypeFromName("/a/scanbmp"), 1);  // no dot needed
    EXPECT_EQ(panes::PictureTypeFromName("x.jpeg"), 3);
    EXPECT_EQ(panes::PictureTypeFromName("x.Tiff"), 6);
    EXPECT_EQ(panes::PictureTypeFromName("x.jng"), 17);
    EXPECT_EQ(panes::PictureTypeFromName("x.pgm"), 14);
    EXPECT_EQ(panes::PictureTypeFromName("x.pdf"), 0);
    EXPECT_EQ(panes::PictureTypeFromName(""), 0);
    EXPECT_TRUE(panes::IsPdfForCounting("/a/b.BAK"));
    EXPECT_FALSE(panes::IsPdfName("/a/b.bak"));
    EXPECT_FALSE(panes::IsPdfName("/a.pdf/b"));  // a folder's dot is no extension

    const QImage empty = panes::PlaceholderCell();
    EXPECT_EQ(empty.size(), QSize(80, 100));
    EXPECT_EQ(empty.pixel(0, 0), qRgb(192, 192, 192));
    EXPECT_EQ(empty.pixel(79, 99), qRgb(192, 192, 192));
    EXPECT_EQ(empty.pixel(40, 50), qRgb(255, 255, 255));
}

TEST(ThumbnailLayoutTest, TheVisibleRangeRunsFromTheFirstItemShownToTheRowCutByTheBottom) {
    EXPECT_EQ(panes::GetVisibleRange(Rows(0, 4), 40, 39), std::make_pair(0, 3));
    EXPECT_EQ(panes::GetVisibleRange(Rows(10, 4), 40, 39), std::make_pair(10, 13));
    // Two columns: whole rows.
    StripLayout two = Rows(1, 3);
    two.columns = 2;
    EXPECT_EQ(panes::GetVisibleRange(two, 40, 39), std::make_pair(2, 7));
    // Nothing cut by the bottom (the items end above it): the default last.
    EXPECT_EQ(panes::GetVisibleRange(Rows(0, 10), 3, 2), std::make_pair(0, 2));
    EXPECT_EQ(panes::GetVisibleRange(Rows(0, 4), 0, -1), std::make_pair(-1, -1));
}

TEST_F(ThumbnailWorkerTest, RefreshesMakeWhatCameIntoViewAndSayWhetherMoreWaits) {
    const std::string path = Pdf(12);
    std::unique_ptr<render::PageSource> source = render::PageSource::Open(path, 1);
    ASSERT_TRUE(source);
    const auto worker = ThumbnailWorker::Create(nullptr, {{path, -1}}, &sink);
    worker->PublishLayout(Rows(0, 4));
    // The fill makes every item and the first four pictures.
    EXPECT_EQ(worker->FillList(source.get(), nullptr), 3);
    EXPECT_EQ(sink.filled, 12);
    EXPECT_EQ(sink.items, (std::vector<int>{0, 1, 2, 3}));

    worker->PublishLayout(Rows(6, 3));
    EXPECT_EQ(worker->RefreshVisible(source.get(), nullptr), 3);
    EXPECT_TRUE(worker->IsDone(6) && worker->IsDone(8) && !worker->IsDone(5));

    // Items 0 to 11 shown, 0-3 and 6-8 made: the run 4-5 is made and more
    // may wait (2); the next refresh makes 9-11 (3); then nothing is left.
    worker->PublishLayout(Rows(0, 13));
    EXPECT_EQ(worker->RefreshVisible(source.get(), nullptr), 2);
    EXPECT_TRUE(worker->IsDone(4) && worker->IsDone(5) && !worker->IsDone(9));
    EXPECT_EQ(worker->RefreshVisible(source.get(), nullptr), 3);
    EXPECT_EQ(worker->RefreshVisible(source.get(), nullptr), 1);

    // Each item once, each a page picture inside the frame.
    ASSERT_EQ(sink.items.size(), 12u);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(worker->Produced(i), 1) << i;
    const QImage &cell = sink.cells.front();
    EXPECT_EQ(cell.size(), QSize(80, 100));
    EXPECT_EQ(cell.pixel(0, 50), qRgb(192, 192, 192));
    EXPECT_NE(cell, panes::PlaceholderCell());
    // The temporary pictures are gone as soon as they were read.
    EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(ThumbnailWorkerTest, OnTheSchedulerTheWorkerFillsFollowsTheViewAndEndsWhenAllIsMade) {
    const std::string path = Pdf(30);
    auto scheduler = std::make_shared<render::RenderScheduler>(path, 2);
    const auto worker = ThumbnailWorker::Create(scheduler, {{path, -1}}, &sink);
    worker->PublishLayout(Rows(0, 3));
    ASSERT_TRUE(worker->StartWorker());
    ASSERT_TRUE(sink.WaitUntil([&] { return sink.items.size() >= 3; }));
    EXPECT_EQ(sink.filled, 30);
    worker->PublishLayout(Rows(20, 3));
    EXPECT_TRUE(worker->WakeWorker());
    ASSERT_TRUE(sink.WaitUntil([&] { return sink.items.size() >= 6; }));
    EXPECT_TRUE(sink.Has(20) && sink.Has(22));
    EXPECT_FALSE(sink.Has(10));
    // Everything shown: the rest is made, and the next refresh ends it.
    worker->PublishLayout(Rows(0, 40));
    EXPECT_TRUE(worker->WakeWorker());
    ASSERT_TRUE(sink.WaitUntil([&] { return sink.items.size() >= 30; }));
    for (int i = 0; i < 30 && worker->IsRunning(); ++i) {
        worker->WakeWorker();
        sink.WaitUntil([] { return false; }, 50);
    }
    EXPECT_FALSE(worker->IsRunning());
    EXPECT_FALSE(worker->WakeWorker());
    EXPECT_EQ(sink.Count(), 30u);
    EXPECT_EQ(TempFiles(), 0u);
}

TEST_F(ThumbnailWorkerTest, AStopMidRangeEndsBeforeTheNextPageAndNothingArrivesAfterIt) {
    const std::string path = Pdf(300);
    auto scheduler = std::make_shared<render::RenderScheduler>(path, 2);
    const auto worker = ThumbnailWorker::Create(scheduler, {{path, -1}}, &sink);
    worker->PublishLayout(Rows(0, 400));  // every page in view: one long range
    ASSERT_TRUE(worker->StartWorker());
    ASSERT_TRUE(sink.WaitUntil([&] { return sink.items.size() >= 3; }));
    worker->StopWorker();
    EXPECT_TRUE(worker->Idle()) << "the stop waited out its limit";
    const size_t atStop = sink.Count();
    EXPECT_LT(atStop, 300u);
    sink.WaitUntil([] { return false; }, 200);
    EXPECT_EQ(sink.Count(), atStop);
    EXPECT_FALSE(worker->IsRunning());
    EXPECT_FALSE(worker->WakeWorker());
    EXPECT_EQ(TempFiles(), 0u);
    // Started again, it fills afresh.
    sink.filled = -1;
    ASSERT_TRUE(worker->StartWorker());
    EXPECT_TRUE(sink.WaitUntil([&] { return sink.filled == 300; }));
    worker->StopWorker();
}

TEST_F(ThumbnailWorkerTest, AMoreUrgentRenderPutsTheWorkerAsideAndItGoesOnWithoutMakingAnItemTwice) {
    const std::string path = Pdf(60);
    // Declared before the scheduler, so that they outlive its jobs.
    std::mutex m;
    std::condition_variable cv;
    int urgent = 0;
    auto scheduler = std::make_shared<render::RenderScheduler>(path, 1);
    const auto worker = ThumbnailWorker::Create(scheduler, {{path, -1}}, &sink);
    worker->PublishLayout(Rows(0, 70));
    ASSERT_TRUE(worker->StartWorker());
    ASSERT_TRUE(sink.WaitUntil([&] { return sink.items.size() >= 2; }));
    for (int i = 0; i < 3; ++i) {
        scheduler->Submit(render::RenderScheduler::kRequested, [&](render::PageSource *, LS_CancelFlag *) {
            std::lock_guard<std::mutex> lock(m);
            ++urgent;
            cv.notify_all();
            return true;
        });
        std::unique_lock<std::mutex> lock(m);
        ASSERT_TRUE(cv.wait_for(lock, std::chrono::seconds(30), [&] { return urgent == i + 1; }));
    }
    ASSERT_TRUE(sink.WaitUntil([&] { return sink.items.size() >= 60; }));
    for (int i = 0; i < 60; ++i)
        EXPECT_EQ(worker->Produced(i), 1) << i;
    worker->StopWorker();
}

TEST_F(ThumbnailWorkerTest, APictureDocumentGivesOneItemPerFrameEachFromItsOwnFrame) {
    const std::string tiff = dir.file("frames.tif");
    testimages::Save(tiff, testimages::Tiff({testimages::Pattern(40, 80), testimages::Pattern(80, 40, false, 2),
                                             testimages::Pattern(80, 100, false, 3)},
                                            5));
    auto scheduler = std::make_shared<render::RenderScheduler>(tiff, 1);
    const auto worker = ThumbnailWorker::Create(scheduler, {{tiff, 0}, {tiff, 1}, {tiff, 2}}, &sink);
    worker->PublishLayout(Rows(0, 4));
    ASSERT_TRUE(worker->StartWorker());
    ASSERT_TRUE(sink.WaitUntil([&] { return sink.items.size() >= 3; }));
    EXPECT_EQ(sink.filled, 3);
    std::lock_guard<std::mutex> lock(sink.mutex);
    ASSERT_EQ(sink.items, (std::vector<int>{0, 1, 2}));
    // Tall, wide, and the cell's own shape: white where the fit leaves room.
    EXPECT_EQ(sink.cells[0].pixel(5, 50), qRgb(255, 255, 255));
    EXPECT_NE(sink.cells[0].pixel(40, 50), qRgb(255, 255, 255));
    EXPECT_EQ(sink.cells[1].pixel(40, 5), qRgb(255, 255, 255));
    EXPECT_NE(sink.cells[1].pixel(40, 50), qRgb(255, 255, 255));
    EXPECT_NE(sink.cells[2].pixel(5, 5), qRgb(255, 255, 255));
}

}  // namespace

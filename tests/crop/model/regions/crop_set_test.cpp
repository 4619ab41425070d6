// The regions of every page: adding up to the limit, selecting, reading
// order; the edits of the shown page as steps of the history.

#include "crop/model/regions/crop_set.h"
#include "crop/model/regions/page_editing.h"
#include "crop/model/regions/region_edits.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

using crop::CropRect;
using crop::CropSet;

namespace {

TEST(CropSet, RegionsAreAddedSelectedAndRemovedUpToTheLimit) {
    CropSet set(3);
    EXPECT_EQ(set.Add(2, {0, 0, 100, 100}), CropSet::Result::Done);
    EXPECT_EQ(set.Add(2, {100, 0, 200, 100}), CropSet::Result::Done);
    EXPECT_EQ(set.Selected(2), 1) << "a new region is selected";
    EXPECT_TRUE(set.SelectNext(2, false));
    EXPECT_EQ(set.Selected(2), 0) << "round the end";
    EXPECT_TRUE(set.SelectNext(2, true));
    EXPECT_EQ(set.Selected(2), 1);
    EXPECT_EQ(set.Add(4, {0, 0, 1, 1}), CropSet::Result::NoSuchPage);
    EXPECT_EQ(set.Remove(2, 5), CropSet::Result::NoSuchRegion);
    for (int i = 2; i < CropSet::kMaxRegions; ++i)
        ASSERT_EQ(set.Add(2, {double(i), 0, double(i) + 1, 1}), CropSet::Result::Done);
    EXPECT_EQ(set.Add(2, {0, 0, 5, 5}), CropSet::Result::TooMany);
    EXPECT_EQ(set.RegionCount(2), CropSet::kMaxRegions);
    EXPECT_EQ(set.Remove(2, 0), CropSet::Result::Done);
    EXPECT_EQ(set.Selected(2), 0);
    EXPECT_EQ(set.Clear(2), CropSet::Result::Done);
    EXPECT_EQ(set.Selected(2), -1);
    EXPECT_EQ(set.Clear(2), CropSet::Result::Unchanged);
    EXPECT_EQ(set.OutputPageCount(), 3);
}

TEST(CropSet, OutputOrderIsRowsFromTheTopThenAcrossEitherWay) {
    CropSet set(1);
    // Two columns over a footer, drawn in no order; the right column's top
    // a little lower than the left's.
    set.Add(1, {0, 700, 600, 780});   // footer
    set.Add(1, {310, 60, 600, 690});  // right column
    set.Add(1, {300, 650, 0, 50});    // left column, drawn backwards
    const std::vector<CropRect> order = set.InOutputOrder(1, false);
    ASSERT_EQ(order.size(), 3u);
    EXPECT_EQ(order[0], (CropRect{0, 50, 300, 650}));
    EXPECT_EQ(order[1], (CropRect{310, 60, 600, 690}));
    EXPECT_EQ(order[2], (CropRect{0, 700, 600, 780}));
    const std::vector<CropRect> rtl = set.InOutputOrder(1, true);
    EXPECT_EQ(rtl[0], order[1]);
    EXPECT_EQ(rtl[1], order[0]);
    EXPECT_EQ(rtl[2], order[2]);
    EXPECT_EQ(set.OutputPageCount(), 3);
}

// Each edit of the shown page as one step, read through the history.
struct EditingFixture {
    QTemporaryDir folder;
    bool autoShrink = false;
    int changed = 0;
    std::vector<QString> notes;
    crop::PageEditing editing{folder.path().toStdString(), Host()};

    crop::PageEditing::Host Host() {
        crop::PageEditing::Host host;
        host.mayEdit = [] { return true; };
        host.autoShrink = [this] { return autoShrink; };
        host.shrink = [](const CropRect &r) {
            return std::optional(CropRect{r.left + 5, r.top + 5, r.right - 5, r.bottom - 5});
        };
        host.pageSize = [](int) { return std::optional(crop::PageEditing::Size{600, 800}); };
        host.pageSizes = [] { return std::vector<crop::PageEditing::Size>(4, {600, 800}); };
        host.status = [this](const QString &text) { notes.push_back(text); };
        host.changed = [this](bool) { ++changed; };
        return host;
    }
    EditingFixture() {
        editing.Reset(4);
        editing.Show(1, 600, 800, true);
    }
};

TEST(RegionHistory, EachEditIsOneStepWrittenOnceAndUndoingBackToTheSaveIsClean) {
    EditingFixture f;
    crop::PageEditing &e = f.editing;
    crop::RegionHistory &history = e.History();
    const int writes = e.File().Writes();
    e.SetCurrentPageRect({10, 20, 110, 220}, true);
    EXPECT_EQ(e.File().Writes(), writes + 1) << "one write per push";
    EXPECT_EQ(history.UndoText(), QStringLiteral("Draw Rectangle"));
    history.SetClean();
    e.ApplyRectToPages({2, 3, 4});
    EXPECT_EQ(e.File().Writes(), writes + 2) << "a change of many pages is one write";
    EXPECT_EQ(history.UndoText(), QStringLiteral("Crop All Pages"));
    EXPECT_FALSE(history.IsClean());
    EXPECT_EQ(history.Undo(), 1) << "the step tells the page it was made on";
    EXPECT_EQ(e.File().Writes(), writes + 3);
    EXPECT_TRUE(history.IsClean()) << "back to what was saved";
    EXPECT_EQ(e.Set().RegionCount(3), 0);
    EXPECT_EQ(history.Redo(), 1);
    EXPECT_EQ(e.Set().RegionCount(3), 1);
    // A selection alone, and an edit that changes nothing, are no steps.
    const int steps = history.Stack().count();
    e.SelectRegion(0);
    e.SetCurrentPageRect(e.CropRectangle(), false);
    EXPECT_EQ(history.Stack().count(), steps);
    // A new edit drops what could be made again.
    history.Undo();
    e.DeleteCurrentPageRect();
    EXPECT_FALSE(history.CanRedo());
    EXPECT_EQ(history.UndoText(), QStringLiteral("Remove Cropbox"));
}

TEST(RegionHistory, ArrowKeyMovesJoinWithinTheWindowOnOnePageOnly) {
    struct Row {
        const char *name;
        std::chrono::milliseconds window;
        bool otherEditBetween;
        int steps;  // the moves' steps after three moves
    } rows[] = {
        {"within the window: one step", std::chrono::hours(1), false, 1},
        {"past the window: a step each", std::chrono::milliseconds(0), false, 3},
        {"another edit between: the moves after it a step", std::chrono::hours(1), true, 2},
    };
    for (const Row &row : rows) {
        EditingFixture f;
        crop::PageEditing &e = f.editing;
        e.SetCurrentPageRect({10, 20, 110, 220}, false);
        e.History().SetJoinWindow(row.window);
        const int before = e.History().Stack().count();
        for (int i = 0; i < 3; ++i) {
            e.NudgeSelectedRegion(1, 0, 1, 0);
            if (row.otherEditBetween && i == 0) {
                e.AddRegion({300, 300, 400, 400}, false);
                e.SelectRegion(0);
            }
        }
        EXPECT_EQ(e.CropRectangle(), (CropRect{13, 20, 113, 220})) << row.name;
        EXPECT_EQ(e.History().Stack().count() - before - (row.otherEditBetween ? 1 : 0), row.steps) << row.name;
        while (e.History().Stack().index() > before)
            e.History().Undo();
        e.Reload();
        EXPECT_EQ(e.CropRectangle(), (CropRect{10, 20, 110, 220})) << row.name;
    }
}

TEST(RegionHistory, RegionsKeepTheFilesRoundingAndTheShownPageItsSelection) {
    EditingFixture f;
    crop::PageEditing &e = f.editing;
    f.autoShrink = true;
    e.SetCurrentPageRect({10.004, 20, 110, 220}, true);
    EXPECT_EQ(e.CropRectangle(), (CropRect{15, 25, 105, 215})) << "drawn and shrunk: as the file holds it";
    EXPECT_EQ(e.File().StoredValue(1), std::string("15.00,775.00,105.00,585.00"));
    e.AddRegion({300, 300, 400, 400}, false);
    e.SelectRegion(0);
    e.ApplyRectToPages({1, 2});
    EXPECT_EQ(e.SelectedRegion(), 0);
    EXPECT_EQ(e.Set().Regions(2), e.Set().Regions(1));
    // From a page without a region, Crop all pages spreads its empty one;
    // a rectangle drawn there afterwards takes its place.
    e.Show(3, 600, 800, true);
    e.ApplyRectToPages({3, 4});
    e.SetCurrentPageRect({50, 50, 150, 150}, false);
    EXPECT_EQ(e.Set().RegionCount(3), 1);
    EXPECT_EQ(crop::ShownFrom(crop::StoredFrom({1.234, 2, 3, 4}, 800), 800), (CropRect{double(1.23f), 2, 3, 4}))
        << "through single precision, as the crop tool reads it";
}

}  // namespace

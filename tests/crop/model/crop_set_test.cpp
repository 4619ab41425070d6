// The regions of every page: adding up to the limit, selecting, reading
// order, and undo in steps.

#include "crop/model/crop_set.h"

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
    set.Add(1, {0, 700, 600, 780});    // footer
    set.Add(1, {310, 60, 600, 690});   // right column
    set.Add(1, {300, 650, 0, 50});     // left column, drawn backwards
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

TEST(CropSet, EachChangeIsOneUndoStepAndAStepMaySpanPages) {
    CropSet set(4);
    // A step whose changes cancel out leaves nothing to undo.
    set.BeginStep();
    set.Add(4, {0, 0, 1, 1});
    set.Remove(4, 0);
    set.EndStep();
    EXPECT_FALSE(set.CanUndo());
    set.Add(1, {0, 0, 10, 10});
    set.Change(1, 0, {0, 0, 20, 20});
    set.BeginStep();
    for (int page = 2; page <= 4; ++page)
        set.SetRegions(page, {{0, 0, 5, 5}, {5, 0, 10, 5}});
    set.SetRegions(4, {});  // taken back within the step
    set.EndStep();
    EXPECT_EQ(set.RegionCount(3), 2);
    EXPECT_EQ(set.Undo(), 2) << "the step tells the page it began on";
    EXPECT_EQ(set.RegionCount(2), 0);
    EXPECT_EQ(set.RegionCount(3), 0);
    EXPECT_EQ(set.Undo(), 1);
    EXPECT_EQ(set.Regions(1).front(), (CropRect{0, 0, 10, 10}));
    EXPECT_EQ(set.Redo(), 1);
    EXPECT_EQ(set.Regions(1).front(), (CropRect{0, 0, 20, 20}));
    // A new change drops what could be made again.
    set.Remove(1, 0);
    EXPECT_FALSE(set.CanRedo());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(set.Undo(), 1) << "the removal, the change, the addition";
    EXPECT_FALSE(set.CanUndo());
    EXPECT_EQ(set.Undo(), 0);
    EXPECT_TRUE(set.Regions(1).empty());
}

}  // namespace

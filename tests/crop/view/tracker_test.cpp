// The rectangle tracker: handle sizes and visibility, hit testing, cursors,
// the drag state machine and the minimum size.

#include "crop/view/handle_tracker.h"

#include <QImage>
#include <QPainter>
#include <QPen>

#include <gtest/gtest.h>

using crop::CCropTracker;
using crop::CHandleTracker;
using crop::IntRect;

namespace {

constexpr unsigned kPageViewStyle =
    CHandleTracker::kSolidLine | CHandleTracker::kDottedLine | CHandleTracker::kResizeInside;

CCropTracker Tracker(IntRect rect, int handleSize = 6, unsigned style = kPageViewStyle) {
    CCropTracker t;
    t.SetRect(rect);
    t.SetHandleSize(handleSize);
    t.SetStyle(style);
    return t;
}

TEST(Tracker, StartsWithTheDefaultHandleAndTwiceItAsTheMinimum) {
    const CCropTracker t;
    EXPECT_EQ(t.Style(), 0u);
    EXPECT_EQ(t.HandleSizeField(), 4);
    EXPECT_EQ(t.MinimumSize(), QSize(8, 8));
    EXPECT_EQ(t.Rect(), IntRect{});
}

TEST(Tracker, SideHandlesShowOnlyWhereThereIsRoomAndHandlesShrinkOnSmallRectangles) {
    EXPECT_EQ(Tracker({0, 0, 30, 30}).VisibleHandleMask(), 0xFFu);  // 30 - 18 = 12 > 4
    EXPECT_EQ(Tracker({0, 0, 22, 22}).VisibleHandleMask(), 0x0Fu);  // 22 - 18 = 4
    EXPECT_EQ(Tracker({0, 0, 30, 22}).VisibleHandleMask(), 0x5Fu);  // top and bottom only
    EXPECT_EQ(Tracker({30, 22, 0, 0}).VisibleHandleMask(), 0x5Fu);  // inverted: the same
    EXPECT_EQ(Tracker({0, 0, 8, 100}).HandleSize(), 4);             // 8 / 2
    EXPECT_EQ(Tracker({0, 0, 8, 100}, 6, CHandleTracker::kResizeOutside).HandleSize(), 6);
    const IntRect other{0, 0, 100, 5};
    EXPECT_EQ(Tracker({0, 0, 100, 100}).HandleSize(&other), 2);
}

TEST(Tracker, HandlesSitInsideTheOutlinedRectangle) {
    const CCropTracker t = Tracker({10, 20, 110, 120});
    // The outline adds a pixel all round: 9..111 x 19..121.
    EXPECT_EQ(t.TrueRect(), (IntRect{9, 19, 111, 121}));
    EXPECT_EQ(t.HandleRect(0), (IntRect{9, 19, 15, 25}));
    EXPECT_EQ(t.HandleRect(2), (IntRect{105, 115, 111, 121}));
    EXPECT_EQ(t.HandleRect(4), (IntRect{57, 19, 63, 25}));  // 9 + (102 - 6) / 2
    EXPECT_EQ(t.HandleRect(5), (IntRect{105, 67, 111, 73}));
    const CCropTracker outside = Tracker({10, 20, 110, 120}, 6, CHandleTracker::kResizeOutside);
    EXPECT_EQ(outside.TrueRect(), (IntRect{5, 15, 115, 125}));
    EXPECT_EQ(outside.HandleRect(0), (IntRect{5, 15, 11, 21}));
}

TEST(Tracker, CornersBeatSidesAndTheOnePixelBandIsTheInterior) {
    // On 100 x 100 the corner and side squares lie apart; on a rectangle
    // 12 wide forced to show its side handles they overlap.
    CCropTracker t = Tracker({0, 0, 100, 100});
    EXPECT_EQ(t.HitTest({0, 0}), CHandleTracker::kHitTopLeft);
    EXPECT_EQ(t.HitTest({99, 99}), CHandleTracker::kHitBottomRight);
    EXPECT_EQ(t.HitTest({50, -1}), CHandleTracker::kHitTop);
    EXPECT_EQ(t.HitTest({-1, 50}), CHandleTracker::kHitLeft);
    EXPECT_EQ(t.HitTest({50, 50}), CHandleTracker::kHitMiddle);
    // A pixel left of the left edge, halfway down, away from the handles:
    // in the band; two pixels left: outside.
    EXPECT_EQ(t.HitTest({-1, 30}), CHandleTracker::kHitMiddle);
    EXPECT_EQ(t.HitTest({-2, 30}), CHandleTracker::kHitNothing);
    EXPECT_EQ(t.HitTest({100, 30}), CHandleTracker::kHitMiddle);
    EXPECT_EQ(t.HitTest({101, 30}), CHandleTracker::kHitNothing);

    struct Overlapping : CCropTracker {
        unsigned VisibleHandleMask() const override { return 0xFF; }
    } small;
    small.SetRect({0, 0, 12, 40});
    small.SetHandleSize(6);
    small.SetStyle(kPageViewStyle);
    // Corner 0 covers x -1..4, side 4 covers x 3..8 on the top row.
    ASSERT_TRUE(small.HandleRect(4).Contains({3, 0}));
    EXPECT_EQ(small.HitTest({3, 0}), CHandleTracker::kHitTopLeft);
}

TEST(Tracker, AnInvertedRectangleNamesItsHandlesByTheStoredEdges) {
    const CCropTracker t = Tracker({100, 0, 0, 100});  // drawn right to left
    EXPECT_EQ(t.NormalizeHit(1), 0);
    EXPECT_EQ(t.NormalizeHit(CHandleTracker::kHitMiddle), CHandleTracker::kHitMiddle);
    EXPECT_EQ(t.HitTest({0, 0}), 1) << "the top-left on screen is the stored right edge";
    EXPECT_EQ(t.CursorAt({0, 0}), Qt::SizeFDiagCursor);
    EXPECT_EQ(t.CursorAt({99, 0}), Qt::SizeBDiagCursor);
    EXPECT_EQ(t.CursorAt({50, 0}), Qt::SizeVerCursor);
    EXPECT_EQ(t.CursorAt({0, 50}), Qt::SizeHorCursor);
    EXPECT_EQ(t.CursorAt({50, 50}), Qt::SizeAllCursor);
    EXPECT_EQ(t.CursorAt({300, 50}), std::nullopt);
    const CCropTracker both = Tracker({100, 100, 0, 0});
    EXPECT_EQ(both.NormalizeHit(0), 2);
    EXPECT_EQ(both.NormalizeHit(4), 6);
}

TEST(Tracker, TheInteriorMovesTheRectangleAndKeepsItsSize) {
    CCropTracker t = Tracker({10, 10, 110, 60});
    ASSERT_TRUE(t.BeginTrack({50, 30}, false));
    EXPECT_FALSE(t.BeginTrack({50, 30}, false)) << "one drag at a time";
    EXPECT_EQ(t.DragFrame(), std::nullopt);
    EXPECT_TRUE(t.TrackMove({70, 50}));
    EXPECT_EQ(t.DragFrame(), (IntRect{30, 30, 130, 80}));
    EXPECT_TRUE(t.TrackRelease({75, 50}));
    EXPECT_EQ(t.Rect(), (IntRect{35, 30, 135, 80}));
    EXPECT_FALSE(t.IsTracking());
}

TEST(Tracker, AnEdgeDraggedPastTheOppositeEdgeStopsAtTheMinimum) {
    CCropTracker t = Tracker({100, 100, 200, 200});
    ASSERT_TRUE(t.BeginTrack({99, 150}, false));  // the left side handle
    t.TrackMove({249, 150});
    EXPECT_TRUE(t.TrackRelease({249, 150}));
    EXPECT_EQ(t.Rect(), (IntRect{192, 100, 200, 200}));

    // With allow invert the rectangle turns over; the minimum holds for
    // its absolute size.
    CCropTracker inverting = Tracker({100, 100, 200, 200});
    ASSERT_TRUE(inverting.BeginTrack({99, 150}, true));
    inverting.TrackMove({249, 150});
    EXPECT_EQ(inverting.Rect(), (IntRect{250, 100, 200, 200}));
    inverting.TrackMove({203, 150});
    EXPECT_EQ(inverting.Rect(), (IntRect{208, 100, 200, 200}));
}

TEST(Tracker, AHandleOfARectangleDrawnBackwardsCollapsesItToTheMinimumBesideTheOtherEdge) {
    CCropTracker t = Tracker({300, 100, 100, 200});  // left > right
    // The stored left edge is on screen at the right; grab its side handle.
    ASSERT_EQ(t.HitTest({299, 150}), CHandleTracker::kHitLeft);
    ASSERT_TRUE(t.BeginTrack({299, 150}, false));
    EXPECT_TRUE(t.TrackMove({310, 150}));
    EXPECT_EQ(t.Rect(), (IntRect{92, 100, 100, 200}));
}

TEST(Tracker, EscapeTheRightButtonAndAStillReleaseChangeNothing) {
    CCropTracker t = Tracker({10, 10, 110, 60});
    ASSERT_TRUE(t.BeginTrack({50, 30}, false));
    t.TrackMove({90, 90});
    EXPECT_FALSE(t.TrackCancel());
    EXPECT_EQ(t.Rect(), (IntRect{10, 10, 110, 60}));

    ASSERT_TRUE(t.BeginTrack({50, 30}, false));
    EXPECT_FALSE(t.TrackRelease({50, 30}));
    EXPECT_EQ(t.Rect(), (IntRect{10, 10, 110, 60}));

    // A release away from the press with no move between: no move, no change.
    ASSERT_TRUE(t.BeginTrack({50, 30}, false));
    EXPECT_FALSE(t.TrackRelease({80, 30}));
    EXPECT_EQ(t.Rect(), (IntRect{10, 10, 110, 60}));

    EXPECT_FALSE(t.BeginTrack({500, 500}, false)) << "a press outside starts nothing";
}

TEST(Tracker, LosingTheMouseEndsTheDragWhereItIs) {
    CCropTracker t = Tracker({10, 10, 110, 60});
    ASSERT_TRUE(t.BeginTrack({50, 30}, false));
    t.TrackMove({60, 30});
    EXPECT_TRUE(t.TrackLost());
    EXPECT_EQ(t.Rect(), (IntRect{20, 10, 120, 60}));
    ASSERT_TRUE(t.BeginTrack({50, 30}, false));
    EXPECT_FALSE(t.TrackLost()) << "never moved: left as it was";
    EXPECT_EQ(t.Rect(), (IntRect{20, 10, 120, 60}));
}

TEST(Tracker, DrawsWithTheCallersPenAndLeavesThePainterAsItWas) {
    QImage image(60, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    const CCropTracker t = Tracker({10, 10, 50, 50});
    QPainter painter(&image);
    painter.translate(5, 5);
    const QPen before = painter.pen();
    t.DrawWithPen(painter, QPen(QColor(255, 0, 0), 2));
    EXPECT_EQ(painter.transform(), QTransform::fromTranslate(5, 5));
    EXPECT_EQ(painter.pen(), before);
    painter.end();
    EXPECT_EQ(image.pixelColor(9, 40), QColor(255, 0, 0)) << "outline a pixel outside, between the handles";
    EXPECT_EQ(image.pixelColor(12, 12), QColor(255, 0, 0)) << "a handle inside, in the pen's colour";
    EXPECT_EQ(image.pixelColor(30, 30), QColor(Qt::white));
    EXPECT_EQ(image.pixelColor(5, 5), QColor(Qt::white));

    // Without the dotted-line bit the plain drawing is used: black.
    QImage plain(60, 60, QImage::Format_RGB32);
    plain.fill(Qt::white);
    QPainter p2(&plain);
    Tracker({10, 10, 50, 50}, 6, CHandleTracker::kSolidLine | CHandleTracker::kResizeInside)
        .DrawWithPen(p2, QPen(Qt::red, 2));
    p2.end();
    EXPECT_EQ(plain.pixelColor(9, 40), QColor(Qt::black));
}

}  // namespace

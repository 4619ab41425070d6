// Crop editing driven through the real page view with mouse and keys: the
// rubber band and its rules, moving and resizing with the handles, Escape,
// page changes and zoom, Auto Shrink, and the commands that remove.

#include "crop/model/regions/crop_file.h"
#include "crop/model/document.h"
#include "crop/view/orvane_view.h"
#include "res/command_ids.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using crop::CropRect;
using crop::IntRect;
using namespace res;

namespace {

// Three pages of 612 x 792 points; page 1 has a black box 100..300 across
// and 200..400 up from the bottom (392..592 down from the top).
fixtures::DocPlan Pages() {
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {612, 792}, {612, 792}});
    plan.pages[0].blackRects.push_back(fixtures::Box{100, 200, 300, 400});
    return plan;
}

class CropEditingTest : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string path = dir.file("pages.pdf");
        fixtures::WritePdf(Pages(), path);
        view.resize(700, 600);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        QString reason;
        ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason)) << reason.toStdString();
        QApplication::processEvents();
    }
    QWidget *Port() { return view.viewport(); }
    void Press(QPoint at) { QTest::mousePress(Port(), Qt::LeftButton, Qt::NoModifier, at); }
    void MoveHeld(QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), Port()->mapToGlobal(QPointF(at)), Qt::NoButton, Qt::LeftButton,
                         Qt::NoModifier);
        QApplication::sendEvent(Port(), &move);
    }
    void Release(QPoint at) { QTest::mouseRelease(Port(), Qt::LeftButton, Qt::NoModifier, at); }
    void Drag(QPoint from, QPoint to) {
        Press(from);
        MoveHeld((from + to) / 2);
        MoveHeld(to);
        Release(to);
        QApplication::processEvents();
    }
    std::string File() { return fixtures::ReadFileBytes(document.Pages().File().Path()); }
    std::string Line(int page) {
        const std::string file = File();
        const std::string key = "page" + std::to_string(page) + "=";
        const size_t at = file.find(key);
        return at == std::string::npos ? std::string() : file.substr(at, file.find('\n', at) - at);
    }

    fixtures::TempDir dir;
    crop::COrvaneDoc document;
    crop::COrvaneView view{document};
};

TEST_F(CropEditingTest, ABandDrawnOnThePageIsStoredAsDrawnInPagePoints) {
    Drag({50, 60}, {200, 300});
    EXPECT_EQ(Line(1), "page1=50.00,732.00,200.00,492.00");
    EXPECT_EQ(view.Editor().DrawnRect(view.Geometry()), (IntRect{50, 60, 200, 300}));
    EXPECT_EQ(view.Editor().Tracker().Style(), 11u);
    EXPECT_EQ(view.Editor().Tracker().HandleSizeField(), 6);

    // Drawn from bottom-right to top-left: stored so, drawn normalised.
    view.OnCommand(ID_NEXT_PAGE);
    Drag({300, 400}, {100, 150});
    EXPECT_EQ(Line(2), "page2=300.00,392.00,100.00,642.00");
    EXPECT_EQ(document.Editing().CropRectangle(), (CropRect{300, 400, 100, 150}));
}

TEST_F(CropEditingTest, BandsOfTenPixelsOrLessOrBesideThePageAreRejected) {
    Drag({50, 60}, {58, 200});    // 8 across
    Drag({50, 60}, {200, 70});    // 10 down
    Drag({650, 60}, {690, 300});  // wholly right of the 612-pixel page
    EXPECT_EQ(Line(1), "");
    EXPECT_EQ(view.Editor().Tracker().Style(), 11u) << "a rejected band still sets the style";
    Drag({50, 60}, {61, 71});
    EXPECT_EQ(Line(1), "page1=50.00,732.00,61.00,721.00");
}

TEST_F(CropEditingTest, ABandPastThePageIsStoredUnclampedAndDrawnClamped) {
    Drag({500, 100}, {690, 300});
    EXPECT_EQ(Line(1), "page1=500.00,692.00,690.00,492.00");
    EXPECT_EQ(view.Editor().DrawnRect(view.Geometry()), (IntRect{500, 100, 612, 300}));
}

TEST_F(CropEditingTest, AtZoom200TheBandIsHalvedIntoPointsAndTheRectangleFollowsTheZoom) {
    view.OnCommand(ID_ACTUAL_SIZE);
    Drag({100, 100}, {300, 500});
    view.OnCommand(ID_ZOOM_OUT);  // 90%
    EXPECT_EQ(view.Editor().DrawnRect(view.Geometry()), (IntRect{90, 90, 270, 450}));

    // The editor itself at zoom 200, scrolled: a band from logical
    // (100, 100) to (300, 500) is 50, 50, 150, 250 points.
    crop::CropEditor editor(document);
    const crop::PageGeometry g(QSize(612, 792), 200, QPoint(40, 30));
    editor.Press(QPoint(60, 70), g);
    editor.Move(QPoint(260, 470), g);
    editor.Release(QPoint(260, 470), g);
    EXPECT_EQ(document.Editing().CropRectangle(), (CropRect{50, 50, 150, 250}));
    EXPECT_EQ(editor.DrawnRect(g), (IntRect{60, 70, 260, 470}));
}

TEST_F(CropEditingTest, TheRectangleMovesByItsInteriorAndResizesByItsHandles) {
    Drag({100, 100}, {300, 250});
    Drag({200, 175}, {230, 195});  // the interior
    EXPECT_EQ(Line(1), "page1=130.00,672.00,330.00,522.00");
    // The bottom-right corner handle lies just inside the corner.
    Drag({328, 268}, {400, 300});
    EXPECT_EQ(Line(1), "page1=130.00,672.00,402.00,490.00");
    // Over the left side handle the cursor is the sideways one.
    QMouseEvent hover(QEvent::MouseMove, QPointF(129, 210), Port()->mapToGlobal(QPointF(129, 210)), Qt::NoButton,
                      Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(Port(), &hover);
    EXPECT_EQ(Port()->cursor().shape(), Qt::SizeHorCursor);
    // The left side past the right edge stops at the minimum width; the
    // right edge stays where it is (402 / 100 * 100 is 401.99999999999994).
    Drag({129, 210}, {600, 210});
    EXPECT_EQ(Line(1), "page1=394.00,672.00,402.00,490.00");
}

TEST_F(CropEditingTest, EscapeAndTheRightButtonCancelADragAndKeysWaitForItsEnd) {
    Drag({100, 100}, {300, 250});
    const std::string before = File();
    view.setFocus();
    Press({200, 175});
    MoveHeld({250, 220});
    EXPECT_TRUE(view.Editor().Tracker().DragFrame().has_value());
    const int scrolled = view.verticalScrollBar()->value();
    QTest::keyClick(&view, Qt::Key_PageDown);  // swallowed during the drag
    EXPECT_EQ(view.verticalScrollBar()->value(), scrolled);
    QTest::keyClick(&view, Qt::Key_Escape);
    Release({250, 220});
    EXPECT_EQ(File(), before);
    QTest::keyClick(&view, Qt::Key_PageDown);  // no drag: the view scrolls
    EXPECT_GT(view.verticalScrollBar()->value(), scrolled);

    Press({200, 175});
    MoveHeld({250, 220});
    QTest::mousePress(Port(), Qt::RightButton, Qt::NoModifier, {250, 220});
    Release({250, 220});
    EXPECT_EQ(File(), before);

    // A band is cancelled by Escape too.
    Press({400, 400});
    MoveHeld({500, 500});
    ASSERT_TRUE(view.Editor().Band().has_value());
    QTest::keyClick(&view, Qt::Key_Escape);
    Release({500, 500});
    EXPECT_EQ(File(), before);
}

TEST_F(CropEditingTest, TheRectangleStaysWithItsPageAcrossPageChanges) {
    Drag({100, 100}, {300, 250});
    view.OnCommand(ID_NEXT_PAGE);
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());
    EXPECT_EQ(view.Editor().DrawnRect(view.Geometry()), std::nullopt);
    // Nothing to grab where page 1's rectangle was: a press there draws.
    Drag({200, 175}, {250, 230});
    EXPECT_EQ(Line(2), "page2=200.00,617.00,250.00,562.00");
    view.OnCommand(ID_PREVIOUS_PAGE);
    EXPECT_EQ(document.Editing().CropRectangle(), (CropRect{100, 100, 300, 250}));
    EXPECT_EQ(view.Editor().DrawnRect(view.Geometry()), (IntRect{100, 100, 300, 250}));
}

TEST_F(CropEditingTest, WithAutoShrinkABandAroundTheBlackBoxShrinksToItWithinOneRenderedPixel) {
    view.OnCommand(ID_AUTO_SHRINK);
    ASSERT_TRUE(document.AutoShrink());
    Drag({60, 350}, {350, 640});
    const CropRect r = document.Editing().CropRectangle();
    const double pixel = 612.0 / view.PagePicture().Width();
    EXPECT_NEAR(r.left, 100, pixel);
    EXPECT_NEAR(r.top, 392, pixel);
    EXPECT_NEAR(r.right, 300, pixel);  // the last content column inside
    EXPECT_NEAR(r.bottom, 592, pixel);
    // One step undoes the band and its shrink.
    document.Undo();
    EXPECT_EQ(Line(1), "");
    // Shrink Current Page on a plain band does the same.
    view.OnCommand(ID_AUTO_SHRINK);
    Drag({60, 350}, {350, 640});
    view.OnCommand(ID_SHRINK_CURRENT_PAGE);
    EXPECT_EQ(document.Editing().CropRectangle(), r);
    // Again and again: it stays.
    view.OnCommand(ID_SHRINK_CURRENT_PAGE);
    view.OnCommand(ID_SHRINK_CURRENT_PAGE);
    EXPECT_EQ(document.Editing().CropRectangle(), r);
    // A band drawn from bottom-right to top-left shrinks the same.
    view.OnCommand(ID_AUTO_SHRINK);
    Drag({350, 640}, {60, 350});
    EXPECT_EQ(document.Editing().CropRectangle(), r);
}

TEST_F(CropEditingTest, ARectangleDrawnBackwardsWidensWhenItsHandleIsPulledOutward) {
    Drag({300, 400}, {100, 150});  // stored right to left, upwards
    // The right edge on screen is the stored left; its side handle is
    // just inside it.
    Drag({298, 275}, {350, 275});
    EXPECT_EQ(document.Editing().CropRectangle(), (CropRect{100, 150, 352, 400}));
}

TEST_F(CropEditingTest, AMovedRectangleKeepsItsSizeAndComesBackFromBeyondThePageWhole) {
    view.OnCommand(ID_ZOOM_OUT);  // 90%: a pixel is 1.11 points
    Drag({100, 100}, {300, 250});
    const CropRect drawn = document.Editing().CropRectangle();
    Drag({200, 175}, {207, 180});
    Drag({207, 180}, {200, 175});
    EXPECT_NEAR(document.Editing().CropRectangle().left, drawn.left, 1e-9);
    EXPECT_NEAR(document.Editing().CropRectangle().right, drawn.right, 1e-9);
    EXPECT_NEAR(document.Editing().CropRectangle().bottom, drawn.bottom, 1e-9);
    // Dragged almost off the page and back, it is the same rectangle.
    Drag({200, 175}, {640, 175});
    EXPECT_GT(document.Editing().CropRectangle().right, 612.0) << "past the page, as dragged";
    const std::optional<IntRect> strip = view.Editor().DrawnRect(view.Geometry());
    ASSERT_TRUE(strip.has_value());
    ASSERT_EQ(strip->Width(), 10) << "drawn clamped to the last 10 pixels of the page";
    const int middle = (strip->left + strip->right) / 2;  // between its side handles
    Drag({middle, 175}, {middle - 440, 175});
    EXPECT_NEAR(document.Editing().CropRectangle().left, drawn.left, 1e-9);
    EXPECT_NEAR(document.Editing().CropRectangle().right, drawn.right, 1e-9);
}

TEST_F(CropEditingTest, RemoveCropboxAndDeleteRectangleRemoveTheShownPagesRectangle) {
    Drag({100, 100}, {300, 250});
    view.OnCommand(ID_REMOVE_CROPBOX);
    EXPECT_EQ(Line(1), "");
    Drag({100, 100}, {300, 250});
    view.OnCommand(ID_DELETE_RECTANGLE);
    EXPECT_EQ(Line(1), "");
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());
    document.Undo();
    EXPECT_EQ(Line(1), "page1=100.00,692.00,300.00,542.00");
}

TEST_F(CropEditingTest, StretchingABandRepaintsOnlyWhereTheBandWasAndIs) {
    QApplication::processEvents();
    Press({100, 100});
    MoveHeld({300, 300});
    QApplication::processEvents();
    const int64_t before = view.Counters().paintedPixels;
    MoveHeld({305, 305});
    QApplication::processEvents();
    const int64_t painted = view.Counters().paintedPixels - before;
    EXPECT_GT(painted, 0);
    EXPECT_LT(painted, 700 * 600 / 10);
    Release({305, 305});
}

}  // namespace

TEST_F(CropEditingTest, CtrlDragAddsARegionAClickOrTabSelectsOneAndDeleteTakesOnlyIt) {
    Drag({50, 60}, {200, 300});
    QTest::mousePress(Port(), Qt::LeftButton, Qt::ControlModifier, {300, 60});
    MoveHeld({400, 200});
    MoveHeld({450, 300});
    QTest::mouseRelease(Port(), Qt::LeftButton, Qt::ControlModifier, {450, 300});
    ASSERT_EQ(document.Editing().PageRegions().size(), 2u);
    EXPECT_EQ(document.Editing().SelectedRegion(), 1);
    EXPECT_EQ(view.Editor().DrawnRect(view.Geometry()), (IntRect{300, 60, 450, 300})) << "the new one has the handles";
    // A click inside the other selects it, and leaves both as they were.
    QTest::mouseClick(Port(), Qt::LeftButton, Qt::NoModifier, {120, 150});
    EXPECT_EQ(document.Editing().SelectedRegion(), 0);
    EXPECT_EQ(document.Editing().PageRegions().size(), 2u);
    EXPECT_EQ(Line(1), "page1=50.00,732.00,200.00,492.00");
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_Tab);
    EXPECT_EQ(document.Editing().SelectedRegion(), 1);
    QTest::keyClick(&view, Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(document.Editing().SelectedRegion(), 0);
    view.OnCommand(ID_DELETE_RECTANGLE);
    ASSERT_EQ(document.Editing().PageRegions().size(), 1u);
    EXPECT_EQ(Line(1), "page1=300.00,732.00,450.00,492.00");
    document.Undo();
    EXPECT_EQ(document.Editing().PageRegions().size(), 2u);
}

TEST_F(CropEditingTest, ArrowKeysMoveGrowAndShrinkTheSelectedRegionAndQuickMovesAreOneStep) {
    Drag({50, 60}, {200, 300});
    const CropRect drawn = document.Editing().CropRectangle();
    document.Pages().History().SetJoinWindow(std::chrono::hours(1));  // every move follows the one before in time
    view.setFocus();
    // Keys no desktop takes: Ctrl+Alt with an arrow switches desktops.
    QTest::keyClick(&view, Qt::Key_Right);
    QTest::keyClick(&view, Qt::Key_Right, Qt::ControlModifier);                   // ten points
    QTest::keyClick(&view, Qt::Key_Left, Qt::ShiftModifier);                      // grown leftwards
    QTest::keyClick(&view, Qt::Key_Up, Qt::ControlModifier | Qt::ShiftModifier);  // shrunk from the top
    EXPECT_EQ(document.Editing().CropRectangle(),
              (CropRect{drawn.left + 10, drawn.top + 1, drawn.right + 11, drawn.bottom}));
    document.Undo();
    EXPECT_EQ(document.Editing().CropRectangle(), drawn) << "the quick moves are one step";
    EXPECT_TRUE(document.Pages().History().CanUndo()) << "the band is a step of its own";
    // Moves apart in time are steps of their own.
    document.Pages().History().SetJoinWindow(std::chrono::milliseconds(0));
    QTest::keyClick(&view, Qt::Key_Down);
    QTest::keyClick(&view, Qt::Key_Down);
    document.Undo();
    EXPECT_EQ(document.Editing().CropRectangle().top, drawn.top + 1);
}

TEST_F(CropEditingTest, ShrinkCurrentPageNamesWhatSetsEachEdgeAndAShiftDragLeavesAnAreaOut) {
    Drag({60, 350}, {350, 640});
    view.OnCommand(ID_SHRINK_CURRENT_PAGE);
    const std::vector<crop::EdgeSetter> setters = document.Whole().SettersOn(1);
    ASSERT_EQ(setters.size(), 4u);
    const std::optional<crop::EdgeSetter> under = view.Notes().SetterAt({200, 394}, view.Geometry());
    ASSERT_TRUE(under);
    EXPECT_EQ(view.Notes().Describe(*under).toStdString(), "figure: sets the top, bottom, left and right edges");

    // Shift held, a band is an area left out of every page: the box's top
    // part goes, in one step.
    const CropRect shrunk = document.Editing().CropRectangle();
    QTest::mousePress(Port(), Qt::LeftButton, Qt::ShiftModifier, {80, 380});
    MoveHeld({200, 420});
    QTest::mouseRelease(Port(), Qt::LeftButton, Qt::ShiftModifier, {320, 450});
    ASSERT_TRUE(QTest::qWaitFor([this] { return document.Busy() == crop::Busy::None; }, 30000));
    EXPECT_NEAR(document.Editing().CropRectangle().top, 451, 1.5);
    EXPECT_NEAR(document.Editing().CropRectangle().bottom, shrunk.bottom, 0.01);
    const std::vector<CropRect> areas = document.Whole().IgnoredOn(2);
    ASSERT_EQ(areas.size(), 1u);
    const CropRect without = document.Editing().CropRectangle();
    // Counted again, the area comes back into the crop.
    QString reason;
    ASSERT_TRUE(document.Whole().UnignoreArea(areas[0], reason)) << reason.toStdString();
    ASSERT_TRUE(QTest::qWaitFor([this] { return document.Busy() == crop::Busy::None; }, 30000));
    EXPECT_NEAR(document.Editing().CropRectangle().top, shrunk.top, 0.01);
    document.Undo();
    EXPECT_EQ(document.Editing().CropRectangle(), without);
    // The crop the setters explained is gone with the step.
    EXPECT_TRUE(document.Whole().SettersOn(1).empty());
    // What is ignored goes back with the crops: the area, then nothing.
    EXPECT_EQ(document.Whole().IgnoredOn(2).size(), 1u);
    document.Undo();
    EXPECT_EQ(document.Editing().CropRectangle(), shrunk);
    EXPECT_TRUE(document.Whole().IgnoredOn(2).empty());
}

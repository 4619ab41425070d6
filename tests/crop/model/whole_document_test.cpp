// Whole-document work on the document model: Shrink All Pages (in the
// background, one undo step, the document held meanwhile, a stop that
// changes nothing) and the overlay of all pages with Crop all pages from it.

#include "crop/detect/skew.h"
#include "crop/model/document.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/scan_page.h"
#include "tests/fixtures/temp_dir.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using crop::COrvaneDoc;
using crop::CropRect;
using fixtures::Box;
using fixtures::PagePlan;

namespace {

// A US Letter page with black blocks from (x0, top) to (x1, bottom), in
// points from the page's top-left corner.
PagePlan Content(double x0, double top, double x1, double bottom, double width = 612, double height = 792) {
    PagePlan p;
    p.own.mediaBox = Box{0, 0, width, height};
    p.blackRects = {{x0, height - top - 20, x0 + 40, height - top},
                    {x1 - 30, height - bottom, x1, height - bottom + 15}};
    return p;
}

class WholeDocument : public ::testing::Test {
protected:
    bool Open(const fixtures::DocPlan &plan) {
        const std::string path = dir.file("doc.pdf");
        fixtures::WritePdf(plan, path);
        QString reason;
        return document.OpenDocument(QString::fromStdString(path), reason);
    }
    // The rectangle of `page` as the crop file holds it, from its top-left
    // corner.
    CropRect Stored(int page, int height = 792) const {
        return crop::RectFromPageValue(document.Pages().File().PageValue(page), height);
    }
    bool WaitForShrink() {
        return QTest::qWaitFor([this] { return document.Busy() != crop::Busy::ShrinkAll; }, 30000);
    }
    bool WaitForOverlay() {
        return QTest::qWaitFor([this] { return document.Overlay().Shown() || !document.Overlay().Wanted(); }, 30000) &&
               document.Overlay().Shown();
    }

    fixtures::TempDir dir;
    COrvaneDoc document;
};

void ExpectNear(const CropRect &a, const CropRect &b, double tolerance) {
    EXPECT_NEAR(a.left, b.left, tolerance);
    EXPECT_NEAR(a.top, b.top, tolerance);
    EXPECT_NEAR(a.right, b.right, tolerance);
    EXPECT_NEAR(a.bottom, b.bottom, tolerance);
}

}  // namespace

TEST_F(WholeDocument, ShrinkAllPagesGivesEveryPageItsContentInOneUndoStep) {
    fixtures::DocPlan plan;
    plan.pages = {Content(100, 80, 500, 700), Content(60, 50, 560, 740), PagePlan{}, Content(120, 100, 480, 650)};
    plan.pages[3].blackRects.push_back({20, 20, 30, 30});  // a mark outside the page's own rectangle
    ASSERT_TRUE(Open(plan));
    // Page 4 already has a rectangle: it is shrunk inside it.
    document.ShowPage(4);
    document.Editing().SetCurrentPageRect({90, 90, 520, 700}, false);
    document.ShowPage(1);
    const int undoSteps = document.Pages().History().CanUndo();

    crop::AutoCropOptions options;
    options.margin = 3;
    QString reason;
    ASSERT_TRUE(document.Whole().ShrinkAllPages(options, reason)) << reason.toStdString();
    EXPECT_EQ(document.Busy(), crop::Busy::ShrinkAll);
    // Held meanwhile: no edit, no open, no second run, no save.
    document.Editing().SetCurrentPageRect({1, 2, 3, 4}, false);
    EXPECT_FALSE(document.Whole().ShrinkAllPages(options, reason));
    EXPECT_FALSE(document.OpenDocument(QString::fromStdString(dir.file("doc.pdf")), reason));
    EXPECT_NE(reason.indexOf("Shrink All Pages"), -1);
    EXPECT_FALSE(document.Save().Run(QString::fromStdString(dir.file("out.pdf")), reason));
    ASSERT_TRUE(WaitForShrink());

    ExpectNear(Stored(1), {97, 77, 503, 703}, 1.0);
    ExpectNear(Stored(2), {57, 47, 563, 743}, 1.0);
    EXPECT_FALSE(document.Pages().File().StoredValue(3));  // blank: left as it was
    ExpectNear(Stored(4), {117, 97, 483, 653}, 1.0);
    ExpectNear(document.Editing().CropRectangle(), Stored(1), 0);
    // The blank page is one to check.
    EXPECT_TRUE(std::any_of(document.Whole().Outliers().begin(), document.Whole().Outliers().end(),
                            [](const crop::Outlier &o) { return o.page == 3 && o.brief == "blank"; }));

    // One step takes it all back.
    document.Undo();
    EXPECT_EQ(int(document.Pages().History().CanUndo()), undoSteps);
    EXPECT_FALSE(document.Pages().File().StoredValue(1));
    EXPECT_FALSE(document.Pages().File().StoredValue(2));
    ExpectNear(Stored(4), {90, 90, 520, 700}, 0.01);

    // Asked to, the blank page is left out in the same step.
    options.leaveOutBlank = true;
    ASSERT_TRUE(document.Whole().ShrinkAllPages(options, reason)) << reason.toStdString();
    ASSERT_TRUE(WaitForShrink());
    EXPECT_TRUE(document.Pages().Set().LeftOut(3));
    EXPECT_TRUE(document.Pages().File().PageLeftOut(3));
    EXPECT_EQ(document.Pages().Set().OutputPageCount(), 3);
    document.Undo();
    EXPECT_FALSE(document.Pages().Set().LeftOut(3));
}

TEST_F(WholeDocument, MarksLeftOutOfTheCropsAreKeptToBeShownUntilAnotherDocument) {
    fixtures::DocPlan plan;
    for (int i = 1; i <= 8; ++i) {
        PagePlan p = Content(100, 100, 500, 600);
        p.texts.push_back({i % 2 ? 480.0 : 100.0, 60, 10, std::to_string(i)});  // at the outer corner of the foot
        plan.pages.push_back(p);
    }
    ASSERT_TRUE(Open(plan));
    crop::AutoCropOptions options;
    options.ignore = crop::kPageNumbers;
    QString reason;
    ASSERT_TRUE(document.Whole().ShrinkAllPages(options, reason)) << reason.toStdString();
    ASSERT_TRUE(WaitForShrink());
    for (int page = 1; page <= 8; ++page) {
        SCOPED_TRACE(page);
        const std::vector<crop::EdgeBlock> &marks = document.Whole().MarksOn(page);
        ASSERT_EQ(marks.size(), 1u);
        EXPECT_EQ(marks[0].kind, unsigned(crop::kPageNumbers));
        EXPECT_GT(marks[0].box.top, 720);
        EXPECT_LT(Stored(page).bottom - Stored(page).top, 520) << "the number is outside the crop";
    }
    document.Whole().Reset();
    EXPECT_TRUE(document.Whole().MarksOn(1).empty());

    // Without Body only the number sets each page's bottom edge; ignored
    // "like this on all pages", every page is measured again in one step.
    document.Undo();
    ASSERT_TRUE(document.Whole().ShrinkAllPages({}, reason)) << reason.toStdString();
    ASSERT_TRUE(WaitForShrink());
    const std::vector<crop::EdgeSetter> setters = document.Whole().SettersOn(2);
    const auto bottom = std::find_if(setters.begin(), setters.end(),
                                     [](const crop::EdgeSetter &s) { return s.edge == crop::EdgeBlock::Bottom; });
    ASSERT_NE(bottom, setters.end());
    EXPECT_EQ(crop::SetterName(*bottom), "page number");
    // A crop changed by hand since is kept.
    document.ShowPage(5);
    document.Editing().SetCurrentPageRect({90, 90, 520, 760}, false);
    const CropRect byHand = Stored(5);
    ASSERT_TRUE(document.Whole().IgnoreLike(2, *bottom, true, reason)) << reason.toStdString();
    ASSERT_TRUE(WaitForShrink());
    for (int page = 1; page <= 8; ++page)
        EXPECT_TRUE(page == 5 ? Stored(page) == byHand : Stored(page).bottom < 720) << page;
    document.Undo();  // one step: every page has its number back
    for (int page = 1; page <= 8; ++page)
        EXPECT_GT(Stored(page).bottom, 720) << page;
}

TEST_F(WholeDocument, OneCommonSizeCoversBlankPagesAndAStopChangesNothing) {
    fixtures::DocPlan plan;
    for (int i = 0; i < 4; ++i)
        plan.pages.push_back(i % 2 ? Content(60, 70, 480, 720) : Content(130, 70, 550, 700));
    plan.pages.push_back(PagePlan{});
    ASSERT_TRUE(Open(plan));
    crop::AutoCropOptions options;
    options.uniform = true;
    QString reason;
    ASSERT_TRUE(document.Whole().ShrinkAllPages(options, reason));
    ASSERT_TRUE(WaitForShrink());
    const CropRect first = Stored(1);
    // The shown page shows its new rectangle.
    ExpectNear(document.Editing().CropRectangle(), first, 0);
    for (int page = 1; page <= 5; ++page) {
        SCOPED_TRACE(page);
        const CropRect r = Stored(page);
        EXPECT_NEAR(r.right - r.left, first.right - first.left, 0.02);
        EXPECT_NEAR(r.bottom - r.top, first.bottom - first.top, 0.02);
    }
    // Odd pages sit further right than even ones, as their content does.
    EXPECT_GT(Stored(1).left, Stored(2).left + 50);

    // Stopped at once: every rectangle stays as it was, no step is added.
    document.Undo();
    ASSERT_TRUE(document.Whole().ShrinkAllPages(options, reason));
    document.StopWork();
    EXPECT_NE(document.Busy(), crop::Busy::ShrinkAll);
    QTest::qWait(300);
    for (int page = 1; page <= 5; ++page)
        EXPECT_FALSE(document.Pages().File().StoredValue(page)) << page;
    EXPECT_FALSE(document.Pages().History().CanUndo());
}

TEST_F(WholeDocument, TheOverlayDarkensEveryPageIntoOnePictureAndCropsEachFromItsOwnCorner) {
    fixtures::DocPlan plan;
    plan.pages = {Content(100, 100, 300, 300), Content(350, 500, 500, 700), Content(50, 40, 200, 150, 300, 400)};
    ASSERT_TRUE(Open(plan));
    const QSize pagePicture(int(document.PagePicture().Width()), int(document.PagePicture().Height()));
    QString reason;
    ASSERT_TRUE(document.ShowOverlay(crop::PagesOf(crop::PageSet::All, document.PageCount()), reason));
    ASSERT_TRUE(WaitForOverlay());
    const crop::CPagePicture &overlay = document.PagePicture();
    EXPECT_EQ(overlay.PageRect(), QRect(0, 0, 612, 792));  // the largest page
    EXPECT_EQ(QSize(int(overlay.Width()), int(overlay.Height())), pagePicture);
    // Each page's blocks are there, at their place from the top-left corner.
    const double density = overlay.Width() / 612.0;
    auto dark = [&](double x, double top) {
        const render::RgbQuad c =
            overlay.PixelAt(int(x * density), int(overlay.Height() - 1 - int(top * density)), false);
        return c.red < 64 && c.green < 64 && c.blue < 64;
    };
    EXPECT_TRUE(dark(110, 110));  // page 1
    EXPECT_TRUE(dark(360, 510));  // page 2
    EXPECT_TRUE(dark(60, 50));    // page 3, the small one
    EXPECT_FALSE(dark(250, 600));

    // Shrinking on the overlay finds what every page holds.
    document.Editing().SetCurrentPageRect({10, 10, 600, 780}, false);
    document.Editing().ShrinkCurrentPageRect();
    ExpectNear(document.Editing().CropRectangle(), {50, 40, 500, 700}, 1.0);

    // Drawn on the overlay, a rectangle belongs to no page yet.
    document.Editing().SetCurrentPageRect({40, 30, 520, 720}, true);
    EXPECT_FALSE(document.Pages().File().StoredValue(1));
    EXPECT_FALSE(document.Pages().History().CanUndo());
    // Crop all pages: the same place on each page, converted with its own
    // height and clipped to it.
    document.Editing().ApplyRectToPages(crop::PagesOf(crop::PageSet::All, document.PageCount()));
    ExpectNear(Stored(1), {40, 30, 520, 720}, 0.01);
    ExpectNear(Stored(2), {40, 30, 520, 720}, 0.01);
    ExpectNear(Stored(3, 400), {40, 30, 300, 400}, 0.01);

    // The shown page chosen again, or another: the overlay goes.
    document.ShowPage(1);
    EXPECT_FALSE(document.Overlay().Wanted());
    ExpectNear(document.Editing().CropRectangle(), Stored(1), 0);
    ASSERT_TRUE(document.ShowOverlay(crop::PagesOf(crop::PageSet::Odd, document.PageCount()), reason));
    document.ShowPage(2);
    EXPECT_FALSE(document.Overlay().Wanted());
    EXPECT_EQ(document.PagePicture().PageRect(), QRect(0, 0, 612, 792));

    // Undo with a rectangle drawn on the overlay, given to its pages when
    // asked: that is the change made, and nothing older is taken back.
    document.Overlay().SetQuestion([](int) { return crop::Overlay::Exit::Give; });
    ASSERT_TRUE(document.ShowOverlay(crop::PagesOf(crop::PageSet::All, document.PageCount()), reason));
    ASSERT_TRUE(WaitForOverlay());
    document.Editing().SetCurrentPageRect({20, 20, 200, 200}, true);
    document.Undo();
    EXPECT_FALSE(document.Overlay().Wanted());
    ExpectNear(Stored(1), {20, 20, 200, 200}, 0.01);
    ExpectNear(Stored(3, 400), {20, 20, 200, 200}, 0.01);
}

TEST_F(WholeDocument, CropAllPagesPlacesTheRectangleAsSeenFromEachPagesTopLeftCorner) {
    fixtures::DocPlan plan;
    plan.pages = {Content(100, 100, 300, 300), Content(100, 100, 300, 300, 792, 612), Content(100, 100, 300, 300),
                  Content(100, 100, 200, 200, 300, 400), Content(10, 10, 50, 50, 90, 40)};
    ASSERT_TRUE(Open(plan));
    document.Editing().SetCurrentPageRect({500, 700, 100, 50}, false);  // drawn upwards, from the right
    const std::string shown = *document.Pages().File().StoredValue(1);
    document.Editing().ApplyRectToPages(crop::PagesOf(crop::PageSet::All, document.PageCount()));
    // A page of the shown page's size gets the stored value itself.
    EXPECT_EQ(document.Pages().File().StoredValue(3), shown);
    // Others: the same distance from their top-left corner, clipped.
    ExpectNear(Stored(2, 612), {100, 50, 500, 612}, 0.01);
    ExpectNear(Stored(4, 400), {100, 50, 300, 400}, 0.01);
    EXPECT_FALSE(document.Pages().File().StoredValue(5)) << "nothing of it lies on a page that small";
    // One step takes it all back.
    document.Undo();
    for (int page = 2; page <= 5; ++page)
        EXPECT_FALSE(document.Pages().File().StoredValue(page)) << page;
}

TEST_F(WholeDocument, StraightenPagesTurnsScansLevelInOneStepThatTheViewTheListAndUndoFollow) {
    const double tilts[] = {-2.5, 1.5};
    fixtures::DocPlan plan;
    for (size_t i = 0; i < std::size(tilts); ++i) {
        fixtures::ScanOptions o;
        o.seed = unsigned(i + 21);
        o.dpi = 150;
        o.tilt = tilts[i];
        plan.pages.push_back(fixtures::ScanPagePlan(fixtures::MakeScanPage(o)));
    }
    plan.pages.push_back(Content(100, 80, 500, 700));  // typeset
    ASSERT_TRUE(Open(plan));
    auto shownSkew = [this] { return crop::MeasureSkew(crop::PixelView::Of(document.PagePicture())); };
    EXPECT_NEAR(shownSkew().degrees, tilts[0], 0.1);
    QSignalSpy redrawn(&document, &COrvaneDoc::PagesRedrawn);

    QString reason;
    ASSERT_TRUE(document.Whole().StraightenPages({1, 2, 3}, true, reason)) << reason.toStdString();
    EXPECT_EQ(document.Busy(), crop::Busy::Straighten);
    ASSERT_TRUE(QTest::qWaitFor([this] { return document.Busy() == crop::Busy::None; }, 30000));
    for (int page : {1, 2})
        EXPECT_NEAR(document.Pages().Set().Turn(page), tilts[page - 1], 0.1) << "page " << page;
    EXPECT_EQ(document.Pages().Set().Turn(3), 0) << "a typeset page stays as it is";
    // The shown page is drawn level, the others' pictures are made again,
    // and the crop list straightens the pages without a rectangle.
    const crop::Skew level = shownSkew();
    EXPECT_TRUE(level.measured);
    EXPECT_LE(std::fabs(level.degrees), 0.1);
    ASSERT_EQ(redrawn.size(), 1);
    EXPECT_EQ(redrawn[0][0].value<std::vector<int>>(), (std::vector<int>{1, 2}));
    // Straightened alone, the pages are something to save, and to keep.
    EXPECT_EQ(document.Save().Check(true), crop::CropSave::Refused::No);
    EXPECT_TRUE(document.HasUnsavedRectangles());
    const std::string list = document.Save().ExportCropList();
    EXPECT_NE(list.find("Page 1, [0.00,0.00,0.00,0.00,"), std::string::npos) << list;
    EXPECT_NE(list.find("Page 3, [0.00,0.00,0.00,0.00]\n"), std::string::npos) << list;

    // Straightened again, a level page stays as it is.
    ASSERT_TRUE(document.Whole().StraightenPages({1}, true, reason));
    ASSERT_TRUE(QTest::qWaitFor([this] { return document.Busy() == crop::Busy::None; }, 30000));
    EXPECT_NEAR(document.Pages().Set().Turn(1), tilts[0], 0.1);

    // One step takes it back, and the page is drawn as scanned again.
    document.Undo();
    EXPECT_EQ(document.Pages().Set().Turn(1), 0);
    EXPECT_EQ(document.Pages().Set().Turn(2), 0);
    EXPECT_NEAR(shownSkew().degrees, tilts[0], 0.1);
}

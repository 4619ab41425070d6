// The page view with real widgets over a real document: scroll sizes, zoom,
// the fit commands, navigation, the wheel, Close, and what painting costs.

#include "crop/model/document.h"
#include "crop/view/orvane_view.h"
#include "render/page_source.h"
#include "res/command_ids.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace res;

namespace {

// Pages of 612 x 792, 400 x 500 and 300 x 300 points, each black all over.
fixtures::DocPlan BlackPages() {
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {400, 500}, {300, 300}});
    for (fixtures::PagePlan &page : plan.pages) {
        const fixtures::Box box = *page.own.mediaBox;
        page.blackRects.push_back(box);
    }
    return plan;
}

void Settle() { QApplication::processEvents(); }

class PageViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        path = dir.file("black.pdf");
        fixtures::WritePdf(BlackPages(), path);
        view.resize(700, 600);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    void Open() {
        QString reason;
        ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason)) << reason.toStdString();
        Settle();
    }
    // Resizes the view so that its client area, without scroll bars, is
    // `client`.
    void SetClient(QSize client) {
        view.resize(client + (view.size() - view.maximumViewportSize()));
        Settle();
        ASSERT_EQ(view.maximumViewportSize(), client);
    }
    void Wheel(QPoint at, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWheelEvent e(QPointF(at), view.viewport()->mapToGlobal(QPointF(at)), QPoint(), QPoint(0, delta), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &e);
        Settle();
    }

    fixtures::TempDir dir;
    std::string path;
    crop::COrvaneDoc document;
    crop::COrvaneView view{document};
};

TEST_F(PageViewTest, APageOf612By792PointsScrollsAt100PercentAndFollowsTheZoom) {
    EXPECT_FALSE(view.HasPicture());
    Open();
    EXPECT_TRUE(view.HasPicture());
    EXPECT_EQ(view.PagePicture().Width(), 1287u);
    EXPECT_EQ(view.PagePicture().Height(), 1666u);
    EXPECT_EQ(view.ScrollSize(), QSize(612, 792));
    QSignalSpy zoomed(&view, &crop::COrvaneView::ZoomChanged);
    view.OnCommand(ID_ZOOM_IN);
    EXPECT_EQ(view.ScrollSize(), QSize(673, 871));
    view.OnCommand(ID_ZOOM_OUT);
    EXPECT_NEAR(view.Zoom(), 99.0, 1e-9);
    view.OnCommand(ID_ACTUAL_SIZE);
    EXPECT_EQ(view.Zoom(), 100.0);
    for (int i = 0; i < 3; ++i)
        view.OnCommand(ID_ZOOM_IN);
    EXPECT_NEAR(view.Zoom(), 133.1, 1e-9);
    EXPECT_EQ(zoomed.count(), 6);
    Settle();
    EXPECT_EQ(view.verticalScrollBar()->maximum(), view.ScrollSize().height() - view.viewport()->height());
    // The zoom and the scroll position survive a page change.
    view.verticalScrollBar()->setValue(60);
    view.OnCommand(ID_NEXT_PAGE);
    EXPECT_NEAR(view.Zoom(), 133.1, 1e-9);
    EXPECT_EQ(view.ScrollSize(), QSize(532, 665));
    EXPECT_EQ(view.verticalScrollBar()->value(), 60);
    // A document opened starts at its top.
    Open();
    EXPECT_EQ(view.verticalScrollBar()->value(), 0);
    EXPECT_NEAR(view.Zoom(), 133.1, 1e-9);
}

TEST_F(PageViewTest, FitCommandsFitTheClientAreaWithoutAnyScrollBarTooMany) {
    view.OnCommand(ID_ZOOM_FIT);  // nothing without a picture
    EXPECT_EQ(view.Zoom(), 100.0);
    Open();
    // A 500 x 400 client: height-limited, 100 x 400 / 792, no scroll bar.
    SetClient(QSize(500, 400));
    view.OnCommand(ID_ZOOM_FIT);
    Settle();
    EXPECT_NEAR(view.Zoom(), 50.505, 0.001);
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.viewport()->size(), QSize(500, 400));

    // Fit Width from a small page (no bars) makes the page taller than the
    // client: it takes the width beside the vertical bar, so no horizontal
    // bar appears, at the first press.
    const int bar = view.style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view.verticalScrollBar());
    view.OnCommand(ID_ZOOM_OUT);
    view.OnCommand(ID_ZOOM_FIT_WIDTH);
    Settle();
    EXPECT_NEAR(view.Zoom(), 100.0 * (500 - bar) / 612, 1e-9);
    EXPECT_GT(view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    EXPECT_LE(view.ScrollSize().width(), view.viewport()->width());
    // Pressed again, it stays.
    view.OnCommand(ID_ZOOM_FIT_WIDTH);
    Settle();
    EXPECT_NEAR(view.Zoom(), 100.0 * (500 - bar) / 612, 1e-9);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    // Back to Zoom Fit from there: both bars go.
    view.OnCommand(ID_ZOOM_FIT);
    Settle();
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);

    // A wide page whose fitted height needs no bar fits the whole width.
    SetClient(QSize(900, 1200));
    view.OnCommand(ID_ZOOM_FIT_WIDTH);
    EXPECT_NEAR(view.Zoom(), 100.0 * 900 / 612, 1e-9);
}

TEST_F(PageViewTest, ZoomFitFromBothScrollBarsLeavesNone) {
    // A landscape page in a landscape client, zoomed in until both bars
    // show: fitted, it fills the client without bars, which only fits
    // once both bars are gone.
    const std::string landscape = dir.file("landscape.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{792, 612}}), landscape);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(landscape), reason));
    SetClient(QSize(858, 663));
    for (int i = 0; i < 4; ++i)
        view.OnCommand(ID_ZOOM_IN);
    Settle();
    ASSERT_GT(view.horizontalScrollBar()->maximum(), 0);
    ASSERT_GT(view.verticalScrollBar()->maximum(), 0);
    view.OnCommand(ID_ZOOM_FIT);
    Settle();
    EXPECT_NEAR(view.Zoom(), 100.0 * 858 / 792, 1e-9);
    EXPECT_EQ(view.horizontalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(view.viewport()->size(), QSize(858, 663));
}

TEST_F(PageViewTest, NavigationAsksTheDocumentForTheNeighbouringPageAndNothingAtTheEnds) {
    view.OnCommand(ID_NEXT_PAGE);  // nothing open: nothing
    EXPECT_EQ(document.CurrentPage(), 0);
    Open();
    QSignalSpy shown(&document, &crop::COrvaneDoc::PageShown);
    view.OnCommand(ID_PREVIOUS_PAGE);
    view.OnCommand(ID_FIRST_PAGE);
    EXPECT_EQ(shown.count(), 0);
    view.OnCommand(ID_NEXT_PAGE);
    EXPECT_EQ(document.CurrentPage(), 2);
    view.OnCommand(ID_LAST_PAGE);
    EXPECT_EQ(document.CurrentPage(), 3);
    view.OnCommand(ID_NEXT_PAGE);
    view.OnCommand(ID_LAST_PAGE);
    EXPECT_EQ(shown.count(), 2);
    view.OnCommand(ID_PREVIOUS_PAGE);
    EXPECT_EQ(document.CurrentPage(), 2);
    view.OnCommand(ID_FIRST_PAGE);
    EXPECT_EQ(document.CurrentPage(), 1);
    EXPECT_EQ(view.ScrollSize(), QSize(612, 792));
}

TEST_F(PageViewTest, TheWheelScrollsLinesOfAHundredthOfThePage) {
    Open();
    view.OnCommand(ID_ZOOM_IN);
    view.OnCommand(ID_ZOOM_IN);  // 741 x 958, taller than the client
    QApplication::setWheelScrollLines(3);
    const int line = view.verticalScrollBar()->singleStep();
    EXPECT_EQ(line, view.ScrollSize().height() / 100);
    Wheel({50, 50}, -120);
    EXPECT_EQ(view.verticalScrollBar()->value(), 3 * line);
    Wheel({50, 50}, 40);
    EXPECT_EQ(view.verticalScrollBar()->value(), 2 * line);
    Wheel({50, 50}, 20);  // less than a line: nothing
    EXPECT_EQ(view.verticalScrollBar()->value(), 2 * line);
}

TEST_F(PageViewTest, CtrlWheelZoomsAboutThePointer) {
    Open();
    view.OnCommand(ID_ZOOM_IN);
    view.OnCommand(ID_ZOOM_IN);  // wider and taller than the client
    const QPoint at(300, 250);
    const QPointF before = view.Geometry().WindowToPage(at);
    Wheel(at, 120, Qt::ControlModifier);
    EXPECT_NEAR(view.Zoom(), 133.1, 1e-9);
    Wheel(at, 240, Qt::ControlModifier);
    EXPECT_NEAR(view.Zoom(), 161.051, 1e-9);
    const QPointF after = view.Geometry().WindowToPage(at);
    EXPECT_NEAR(after.x(), before.x(), 1.0);
    EXPECT_NEAR(after.y(), before.y(), 1.0);
    // High-resolution steps add up to a notch.
    Wheel(at, -60, Qt::ControlModifier);
    EXPECT_NEAR(view.Zoom(), 161.051, 1e-9);
    Wheel(at, -60, Qt::ControlModifier);
    EXPECT_NEAR(view.Zoom(), 144.9459, 1e-9);
}

TEST_F(PageViewTest, CloseEmptiesTheViewAndKeepsTheZoom) {
    view.OnCommand(ID_CLOSE);  // nothing open: nothing happens
    Open();
    view.OnCommand(ID_ZOOM_IN);
    QSignalSpy closed(&document, &crop::COrvaneDoc::DocumentClosed);
    view.OnCommand(ID_CLOSE);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_FALSE(view.HasPicture());
    EXPECT_FALSE(document.IsOpen());
    EXPECT_NEAR(view.Zoom(), 110.0, 1e-9);
}

TEST_F(PageViewTest, ThePageIsPaintedWithGreyStripsBesideAndBelow) {
    const QRgb shadow = view.palette().color(QPalette::Dark).rgb();
    QImage empty = view.viewport()->grab().toImage();
    EXPECT_EQ(empty.pixel(10, 10), shadow);
    Open();
    view.OnCommand(ID_ZOOM_OUT);
    view.OnCommand(ID_ZOOM_OUT);
    view.OnCommand(ID_ZOOM_OUT);  // 446 x 577: smaller than the client
    QImage shot = view.viewport()->grab().toImage();
    const QSize page = view.ScrollSize();
    EXPECT_EQ(shot.pixel(page.width() / 2, page.height() / 2), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(page.width() - 5, page.height() - 5), qRgb(0, 0, 0));
    EXPECT_EQ(shot.pixel(page.width() + 5, 10), shadow);
    EXPECT_EQ(shot.pixel(10, page.height() + 5), shadow);
}

TEST_F(PageViewTest, AScrollPaintsOnlyTheUncoveredStripAndAnOverlayRepaintScalesNothing) {
    Open();
    view.OnCommand(ID_ZOOM_IN);
    view.OnCommand(ID_ZOOM_IN);
    Settle();
    const auto first = view.Counters();
    const QSize client = view.viewport()->size();
    // Scrolled into view once, the whole area is scaled once.
    EXPECT_GE(first.scaledPixels, int64_t(client.width()) * client.height() * 9 / 10);

    const int line = view.verticalScrollBar()->singleStep();
    view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    Settle();
    const auto scrolled = view.Counters();
    EXPECT_GT(scrolled.paintedPixels, first.paintedPixels);
    EXPECT_LE(scrolled.paintedPixels - first.paintedPixels, int64_t(line) * client.width());

    // A small area repainted, as a rubber band does: copied, not scaled.
    view.viewport()->repaint(QRect(100, 100, 40, 30));
    const auto overlay = view.Counters();
    EXPECT_EQ(overlay.scaledPixels, scrolled.scaledPixels);
    EXPECT_EQ(overlay.paintedPixels - scrolled.paintedPixels, 40 * 30);
    // The picture stays right after all that.
    const QImage shot = view.viewport()->grab().toImage();
    EXPECT_EQ(shot.pixel(120, 110), qRgb(0, 0, 0));
}

TEST(PageViewInWindow, APaneAtAnOffsetInItsWindowIsPaintedWhole) {
    // A widget paints into its window's backing store at its offset there;
    // the visible area must still be the whole pane.
    fixtures::TempDir dir;
    const std::string path = dir.file("black.pdf");
    fixtures::WritePdf(BlackPages(), path);
    QWidget window;
    window.resize(800, 700);
    crop::COrvaneDoc document;
    crop::COrvaneView view(document, &window);
    view.setGeometry(150, 80, 640, 600);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    const QImage shot = window.grab().toImage();
    const QRect viewport(view.viewport()->mapTo(&window, QPoint(0, 0)), view.viewport()->size());
    for (int y = viewport.top(); y <= viewport.bottom(); y += 7)
        for (int x = viewport.left(); x < viewport.left() + 612 && x <= viewport.right(); x += 7)
            ASSERT_EQ(shot.pixel(x, y), qRgb(0, 0, 0)) << x << "," << y;
}

TEST_F(PageViewTest, PastThePicturesDensityThePartInViewIsRenderedSharpAtTheScreensDensity) {
    // A page of fine text.
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}});
    plan.pages[0].richContent = true;
    path = dir.file("text.pdf");
    fixtures::WritePdf(plan, path);
    Open();
    QSignalSpy ready(&document, &crop::COrvaneDoc::SharpRegionReady);
    // At 100 % the picture has pixels enough: nothing more is rendered.
    QTest::qWait(200);
    EXPECT_EQ(ready.count(), 0);
    while (view.Zoom() < 500)
        view.OnCommand(ID_ZOOM_IN);
    view.horizontalScrollBar()->setValue(view.horizontalScrollBar()->maximum() / 3);
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 3);
    ASSERT_TRUE(ready.wait(10000));
    const crop::PagePrefetch::SharpRegion &sharp = document.Prefetch().Sharp();
    const QRect inView =
        QRect(QPoint(view.horizontalScrollBar()->value(), view.verticalScrollBar()->value()), view.viewport()->size());
    EXPECT_TRUE(sharp.area.contains(inView));
    // What the view shows is the page rendered at that density, pixel for
    // pixel, not the picture enlarged.
    const QImage shown = view.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    std::unique_ptr<render::PageSource> source = render::PageSource::Open(path, 1);
    const QSize pageSize = view.ScrollSize();
    render::BitmapHandle fresh = source->RenderRegion(1, pageSize.width(), pageSize.height(), inView.x(), inView.y(),
                                                      inView.width(), inView.height());
    ASSERT_TRUE(fresh);
    int differing = 0, dark = 0;
    for (int y = 0; y < inView.height(); ++y)
        for (int x = 0; x < inView.width(); ++x) {
            const uint8_t *bgr = fresh->bits + size_t(fresh->height - 1 - y) * size_t(fresh->stride) + size_t(x) * 3;
            const QRgb expected = qRgb(bgr[2], bgr[1], bgr[0]);
            differing += shown.pixel(x, y) != expected;
            dark += qGray(expected) < 128;
        }
    EXPECT_GT(dark, 100);  // there is text in view
    EXPECT_EQ(differing, 0);
    // Another page or zoom: the sharp part of this one is not drawn.
    view.OnCommand(ID_ZOOM_OUT);
    EXPECT_FALSE(sharp.Matches(document.CurrentPage(), document.Generation(), view.ScrollSize()));
}

}  // namespace

// The page view's coordinates: window, logical and page points, the
// scroll size, and the fit zooms.

#include "crop/view/page_geometry.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using crop::PageGeometry;

TEST(PageGeometry, ConvertsBetweenWindowLogicalAndPagePoints) {
    struct Row {
        const char *name;
        double zoom;
        QPoint scroll, window;
        QPointF page;
    };
    const Row rows[] = {
        {"actual size", 100, {0, 0}, {150, 40}, {150, 40}},
        {"scrolled", 100, {30, 500}, {150, 40}, {180, 540}},
        {"zoom 200", 200, {0, 0}, {100, 100}, {50, 50}},
        {"zoom 200, far corner", 200, {0, 0}, {300, 500}, {150, 250}},
        {"zoom 50, scrolled", 50, {10, 20}, {90, 80}, {200, 200}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        const PageGeometry g(QSize(612, 792), r.zoom, r.scroll);
        EXPECT_EQ(g.WindowToLogical(r.window), r.window + r.scroll);
        EXPECT_EQ(g.LogicalToWindow(r.window + r.scroll), r.window);
        const QPointF page = g.WindowToPage(r.window);
        EXPECT_DOUBLE_EQ(page.x(), r.page.x());
        EXPECT_DOUBLE_EQ(page.y(), r.page.y());
        EXPECT_EQ(g.PageToWindow(r.page), r.window);
    }
}

TEST(PageGeometry, PageToLogicalTruncatesAndTheRoundTripStaysWithinAPixel) {
    const PageGeometry g(QSize(612, 792), 133.1, QPoint(17, 230));
    // 7.9 points at 133.1 % are 10.5149 pixels: truncated to 10.
    EXPECT_EQ(g.PageToWindow(QPointF(7.9, 7.9)), QPoint(10 - 17, 10 - 230));
    for (int x = -40; x < 700; x += 37)
        for (int y = -40; y < 900; y += 41) {
            const QPoint back = g.PageToWindow(g.WindowToPage(QPoint(x, y)));
            EXPECT_LE(std::abs(back.x() - x), 1);
            EXPECT_LE(std::abs(back.y() - y), 1);
        }
}

TEST(PageGeometry, TheScrollSizeIsThePageAtTheZoomTruncated) {
    EXPECT_EQ(PageGeometry(QSize(612, 792), 100).ScrollSize(), QSize(612, 792));
    EXPECT_EQ(PageGeometry(QSize(612, 792), 100 * 1.1).ScrollSize(), QSize(673, 871));
    EXPECT_EQ(PageGeometry(QSize(612, 792), 99).ScrollSize(), QSize(605, 784));
    EXPECT_EQ(PageGeometry(QSize(0, 0), 300).ScrollSize(), QSize(0, 0));
    const PageGeometry scrolled(QSize(612, 792), 200, QPoint(100, 50));
    EXPECT_EQ(scrolled.PageInWindow(), QRect(-100, -50, 1224, 1584));
}

TEST(PageGeometry, ScrollKeepingPutsThePagePointUnderTheWindowPoint) {
    const PageGeometry before(QSize(612, 792), 100, QPoint(40, 60));
    const QPoint at(300, 200);
    const QPointF page = before.WindowToPage(at);
    const PageGeometry zoomed(QSize(612, 792), 250, QPoint());
    const PageGeometry after(QSize(612, 792), 250, zoomed.ScrollKeeping(page, at));
    EXPECT_NEAR(after.WindowToPage(at).x(), page.x(), 0.5);
    EXPECT_NEAR(after.WindowToPage(at).y(), page.y(), 0.5);
}

TEST(PageGeometry, ZoomFitTakesTheSmallerRatioAndTheHeightOnATie) {
    // A 612 x 792 page in a 500 x 400 client: height-limited, 100 x 400 / 792.
    EXPECT_NEAR(PageGeometry::FitPageZoom(QSize(612, 792), QSize(500, 400)), 50.505, 0.001);
    // Width-limited.
    EXPECT_NEAR(PageGeometry::FitPageZoom(QSize(612, 792), QSize(306, 2000)), 50.0, 1e-12);
    // A tie: the height ratio, through single precision.
    EXPECT_DOUBLE_EQ(PageGeometry::FitPageZoom(QSize(300, 300), QSize(700, 700)), 100 * double(float(700.0 / 300)));
    // No page box: no zoom.
    EXPECT_EQ(PageGeometry::FitPageZoom(QSize(0, 792), QSize(500, 400)), 0);
    // Whatever the ratio, the fitted page fits.
    for (int w = 100; w < 1300; w += 97)
        for (int h = 100; h < 1300; h += 89) {
            const PageGeometry g(QSize(595, 842), PageGeometry::FitPageZoom(QSize(595, 842), QSize(w, h)));
            EXPECT_LE(g.ScrollSize().width(), w);
            EXPECT_LE(g.ScrollSize().height(), h);
        }
}

TEST(PageGeometry, ZoomFitWidthLeavesRoomForTheVerticalBarWhenThePageNeedsIt) {
    // Tall: the fitted page is taller than the client, so the width beside
    // a 15-pixel bar is fitted.
    EXPECT_NEAR(PageGeometry::FitWidthZoom(QSize(612, 792), QSize(500, 400), 15), 100.0 * 485 / 612, 1e-12);
    // Short enough: the whole width.
    EXPECT_NEAR(PageGeometry::FitWidthZoom(QSize(792, 612), QSize(500, 400), 15), 100.0 * 500 / 792, 1e-12);
    EXPECT_NEAR(PageGeometry::FitWidthZoom(QSize(612, 792), QSize(500, 400), 0), 100.0 * 500 / 612, 1e-12);
    EXPECT_EQ(PageGeometry::FitWidthZoom(QSize(612, 0), QSize(500, 400), 15), 0);
    for (int w = 120; w < 1300; w += 97)
        for (int h = 100; h < 1300; h += 89) {
            const double zoom = PageGeometry::FitWidthZoom(QSize(595, 842), QSize(w, h), 15);
            const QSize page = PageGeometry(QSize(595, 842), zoom).ScrollSize();
            // Beside the vertical bar when there is one.
            EXPECT_LE(page.width(), page.height() > h ? w - 15 : w) << w << "x" << h;
        }
}

TEST(PageGeometry, TheClientBesideTheBarsCountsTheRoomEachBarTakes) {
    const QSize client(500, 400);
    struct Row {
        const char *name;
        QSize total, beside;
    };
    const Row rows[] = {
        {"fits", {500, 400}, {500, 400}},
        {"taller", {300, 900}, {485, 400}},
        {"wider", {900, 300}, {500, 385}},
        {"both", {900, 900}, {485, 385}},
        {"taller, then too wide beside the bar", {490, 401}, {485, 385}},
        {"wider, then too tall above the bar", {501, 390}, {485, 385}},
        {"taller, still narrow enough beside the bar", {485, 401}, {485, 400}},
    };
    for (const Row &r : rows)
        EXPECT_EQ(PageGeometry::ClientBesideBars(r.total, client, 15, 15), r.beside) << r.name;
}

}  // namespace

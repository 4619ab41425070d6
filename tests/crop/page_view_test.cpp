// The page view with real widgets: page picture, scroll sizes, zoom,
// navigation, wheel, Close and painting.

#include "crop/orvane_view.h"
#include "res/command_ids.h"

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

using namespace res;

namespace {

class FakeNavigator : public crop::PageNavigator {
public:
    int pages = 3, current = 1, closed = 0;
    std::vector<int> selected;
    int PageCount() const override { return pages; }
    int CurrentPage() const override { return current; }
    void SelectPage(int index) override { selected.push_back(index); }
    void CloseDocument() override { ++closed; }
};

// A picture of a rendered 612 x 792 page: 1287 x 1666 pixels, one colour.
render::BitmapHandle PageBitmap(int w = 1287, int h = 1666, uint8_t blue = 200) {
    render::PageImage image;
    image.Allocate(uint32_t(w), uint32_t(h), 24, 0);
    for (int y = 0; y < h; ++y) {
        uint8_t *row = image.Row(uint32_t(y));
        for (int x = 0; x < w; ++x) {
            row[x * 3] = blue;
            row[x * 3 + 1] = 100;
            row[x * 3 + 2] = 50;
        }
    }
    return image.ToBitmap();
}

class PageViewTest : public ::testing::Test {
protected:
    void SetUp() override {
        view.SetNavigator(&navigator);
        view.resize(700, 600);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }
    void Show() {
        render::BitmapHandle bitmap = PageBitmap();
        ASSERT_TRUE(view.SetPagePicture(bitmap.get(), QRect(0, 0, 612, 792)));
        view.UpdateScrollSizes();
    }
    FakeNavigator navigator;
    crop::COrvaneView view;
};

TEST_F(PageViewTest, APageOf612By792PointsScrollsAt100PercentAndFollowsTheZoom) {
    EXPECT_FALSE(view.HasPicture());
    Show();
    EXPECT_TRUE(view.HasPicture());
    EXPECT_EQ(view.PagePicture().Width(), 1287u);
    EXPECT_EQ(view.PagePicture().Height(), 1666u);
    EXPECT_EQ(view.ScrollSize(), QSize(612, 792));
    view.OnCommand(ID_ZOOM_IN);
    EXPECT_EQ(view.ScrollSize(), QSize(673, 871));
    view.OnCommand(ID_ZOOM_OUT);
    EXPECT_NEAR(view.Zoom(), 99.0, 1e-9);
    view.OnCommand(ID_ACTUAL_SIZE);
    EXPECT_EQ(view.Zoom(), 100.0);
    for (int i = 0; i < 3; ++i)
        view.OnCommand(ID_ZOOM_IN);
    EXPECT_NEAR(view.Zoom(), 133.1, 1e-9);
    EXPECT_EQ(view.verticalScrollBar()->maximum(), view.ScrollSize().height() - view.viewport()->height());
}

TEST_F(PageViewTest, FitCommandsUseTheClientArea) {
    view.OnCommand(ID_ZOOM_FIT);  // nothing without a picture
    EXPECT_EQ(view.Zoom(), 100.0);
    Show();
    view.OnCommand(ID_ZOOM_FIT);
    const double cw = view.viewport()->width(), ch = view.viewport()->height();
    EXPECT_NEAR(view.Zoom(), 100 * std::min(cw / 612, double(float(ch / 792))), 1e-9);
    // A 500 x 400 client: height-limited, 100 x 400 / 792.
    view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    view.resize(500 + view.width() - view.viewport()->width(), 400 + view.height() - view.viewport()->height());
    ASSERT_EQ(view.viewport()->size(), QSize(500, 400));
    view.OnCommand(ID_ZOOM_FIT);
    EXPECT_NEAR(view.Zoom(), 50.505, 0.001);
    view.OnCommand(ID_ZOOM_FIT_WIDTH);
    EXPECT_NEAR(view.Zoom(), 100.0 * 500 / 612, 1e-9);
}

TEST_F(PageViewTest, NavigationSelectsTheNeighbouringItemAndNothingAtTheEnds) {
    view.OnCommand(ID_NEXT_PAGE);  // no picture: nothing
    EXPECT_TRUE(navigator.selected.empty());
    Show();
    navigator.current = 1;
    view.OnCommand(ID_PREVIOUS_PAGE);
    view.OnCommand(ID_FIRST_PAGE);
    EXPECT_TRUE(navigator.selected.empty());
    view.OnCommand(ID_NEXT_PAGE);
    view.OnCommand(ID_LAST_PAGE);
    navigator.current = 3;
    view.OnCommand(ID_NEXT_PAGE);
    view.OnCommand(ID_LAST_PAGE);
    view.OnCommand(ID_PREVIOUS_PAGE);
    view.OnCommand(ID_FIRST_PAGE);
    EXPECT_EQ(navigator.selected, (std::vector<int>{1, 2, 1, 0}));
}

TEST_F(PageViewTest, TheWheelScrollsLinesOfAHundredthOfThePage) {
    Show();
    view.OnCommand(ID_ZOOM_IN);
    view.OnCommand(ID_ZOOM_IN);  // 741 x 958, taller than the client
    QApplication::setWheelScrollLines(3);
    const int line = view.verticalScrollBar()->singleStep();
    EXPECT_EQ(line, view.ScrollSize().height() / 100);
    auto wheel = [&](int delta) {
        QWheelEvent e(QPointF(50, 50), view.viewport()->mapToGlobal(QPointF(50, 50)), QPoint(), QPoint(0, delta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &e);
    };
    wheel(-120);
    EXPECT_EQ(view.verticalScrollBar()->value(), 3 * line);
    wheel(40);
    EXPECT_EQ(view.verticalScrollBar()->value(), 2 * line);
    wheel(20);  // less than a line: nothing
    EXPECT_EQ(view.verticalScrollBar()->value(), 2 * line);
}

TEST_F(PageViewTest, CloseEmptiesTheViewAndKeepsTheZoom) {
    QSignalSpy closed(&view, &crop::COrvaneView::DocumentClosed);
    view.OnCommand(ID_CLOSE);  // nothing open: nothing happens
    EXPECT_EQ(closed.count(), 0);
    EXPECT_EQ(navigator.closed, 0);
    Show();
    view.OnCommand(ID_ZOOM_IN);
    view.OnCommand(ID_CLOSE);
    EXPECT_EQ(closed.count(), 1);
    EXPECT_EQ(navigator.closed, 1);
    EXPECT_FALSE(view.HasPicture());
    EXPECT_NEAR(view.Zoom(), 110.0, 1e-9);
}

TEST_F(PageViewTest, ThePageIsPaintedWithGreyStripsBesideAndBelow) {
    const QRgb shadow = view.palette().color(QPalette::Dark).rgb();
    QImage empty = view.viewport()->grab().toImage();
    EXPECT_EQ(empty.pixel(10, 10), shadow);
    Show();
    view.OnCommand(ID_ZOOM_OUT);
    view.OnCommand(ID_ZOOM_OUT);
    view.OnCommand(ID_ZOOM_OUT);  // 446 x 577: smaller than the client
    QImage shot = view.viewport()->grab().toImage();
    const QSize page = view.ScrollSize();
    EXPECT_EQ(shot.pixel(page.width() / 2, page.height() / 2), qRgb(50, 100, 200));
    EXPECT_EQ(shot.pixel(page.width() + 5, 10), shadow);
    EXPECT_EQ(shot.pixel(10, page.height() + 5), shadow);
    // A bitmap that cannot be copied leaves the view empty.
    EXPECT_FALSE(view.SetPagePicture(nullptr, QRect(0, 0, 612, 792)));
    EXPECT_FALSE(view.HasPicture());
}

TEST(PageViewInWindow, APaneAtAnOffsetInItsWindowIsPaintedWhole) {
    // A widget paints into its window's backing store at its offset there;
    // the visible area must still be the whole pane.
    QWidget window;
    window.resize(800, 700);
    crop::COrvaneView view(&window);
    view.setGeometry(150, 80, 640, 600);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    render::BitmapHandle bitmap = PageBitmap();
    view.SetPagePicture(bitmap.get(), QRect(0, 0, 612, 792));
    view.UpdateScrollSizes();
    const QImage shot = window.grab().toImage();
    const QRect viewport(view.viewport()->mapTo(&window, QPoint(0, 0)), view.viewport()->size());
    for (int y = viewport.top(); y <= viewport.bottom(); y += 7)
        for (int x = viewport.left(); x < viewport.left() + 612 && x <= viewport.right(); x += 7)
            ASSERT_EQ(shot.pixel(x, y), qRgb(50, 100, 200)) << x << "," << y;
}

}  // namespace

// The thumbnail strip in a real left pane: its worker fills it in the
// background, follows the scrolling, makes each item once, and lets go of
// a document promptly when it is closed or another one is opened.

#include "panes/left_view.h"
#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/render/image_writers.h"

#include <QApplication>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <set>

namespace {

using panes::CThumbnailListCtrl;

class ThumbnailStripTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(render::LoadRenderingLibrary());
        left.resize(150, 500);
        left.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&left));
    }
    QString Pdf(const std::string &name, int pages) {
        const std::string path = dir.file(name);
        fixtures::WritePdf(fixtures::ManyPages(pages, true), path);
        return QString::fromStdString(path);
    }
    bool Open(const QString &path) {
        QString reason;
        return document.OpenDocument(path, reason);
    }
    CThumbnailListCtrl &Strip() { return *left.Strip(); }
    bool Filled(int count) {
        return QTest::qWaitFor([&] { return Strip().ItemCount() == count; }, 10000);
    }
    // The items whose cells are at least partly in view.
    std::set<int> InView() {
        std::set<int> items;
        for (int i = 0; i < Strip().ItemCount(); ++i)
            if (Strip().visualRect(Strip().model()->index(i, 0)).intersects(Strip().viewport()->rect()))
                items.insert(i);
        return items;
    }
    bool AllMade(const std::set<int> &items) {
        return QTest::qWaitFor(
            [&] {
                for (int i : items)
                    if (!Strip().Model().HasPicture(i))
                        return false;
                return true;
            },
            10000);
    }

    fixtures::TempDir dir;
    crop::COrvaneDoc document;
    panes::CLeftView left{document};
};

TEST_F(ThumbnailStripTest, TheItemsInViewGetTheirPicturesAndAScrollBringsTheRestOnceEach) {
    QSignalSpy arrived(&Strip(), &CThumbnailListCtrl::PictureArrived);
    ASSERT_TRUE(Open(Pdf("many.pdf", 80)));
    ASSERT_TRUE(Filled(80));
    const std::set<int> first = InView();
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(AllMade(first));
    QTest::qWait(100);
    EXPECT_FALSE(Strip().Model().HasPicture(60));  // out of view: not made
    // Scrolled to the end (as the keyboard or a page turn would): once it
    // rests, what came into view is made.
    Strip().verticalScrollBar()->setValue(Strip().verticalScrollBar()->maximum());
    const std::set<int> last = InView();
    ASSERT_TRUE(last.count(79));
    EXPECT_TRUE(AllMade(last));
    // Back to the top: nothing is made twice.
    Strip().verticalScrollBar()->setValue(0);
    QTest::qWait(300);
    std::multiset<int> made;
    for (const QList<QVariant> &args : arrived)
        made.insert(args.at(0).toInt());
    for (int item : made)
        EXPECT_EQ(made.count(item), 1u) << item;
    EXPECT_EQ(Strip().Model().Picture(0).size(), QSize(80, 100));
}

TEST_F(ThumbnailStripTest, ClosingOrOpeningAnotherDocumentMidRangeStopsTheWorkerAtOnce) {
    left.resize(150, 4000);  // a tall strip: a long first range
    ASSERT_TRUE(Open(Pdf("long.pdf", 400)));
    ASSERT_TRUE(Filled(400));
    QSignalSpy arrived(&Strip(), &CThumbnailListCtrl::PictureArrived);
    ASSERT_TRUE(QTest::qWaitFor([&] { return arrived.count() >= 2; }, 10000));
    document.CloseDocument();
    EXPECT_TRUE(!Strip().Worker() || Strip().Worker()->Idle()) << "the stop waited out its limit";
    EXPECT_EQ(Strip().ItemCount(), 0);
    const int atClose = int(arrived.count());
    QTest::qWait(200);
    EXPECT_EQ(arrived.count(), atClose);  // nothing of the closed document arrives
    EXPECT_TRUE(!Strip().Worker() || !Strip().Worker()->IsRunning());

    // Another document opened while the first one's pictures are made: the
    // strip holds the new one's items and pictures only.
    ASSERT_TRUE(Open(Pdf("long.pdf", 400)));
    ASSERT_TRUE(Filled(400));
    ASSERT_TRUE(QTest::qWaitFor([&] { return arrived.count() >= atClose + 2; }, 10000));
    arrived.clear();
    ASSERT_TRUE(Open(Pdf("short.pdf", 3)));
    ASSERT_TRUE(Filled(3));
    EXPECT_TRUE(AllMade({0, 1, 2}));
    QTest::qWait(200);
    // Only the short document's three pictures came.
    std::multiset<int> made;
    for (const QList<QVariant> &args : arrived)
        made.insert(args.at(0).toInt());
    EXPECT_EQ(made, (std::multiset<int>{0, 1, 2}));
    EXPECT_EQ(Strip().ItemCount(), 3);
}

TEST_F(ThumbnailStripTest, AThreeFrameTiffGivesThreeItemsAndTheThirdShowsPageThree) {
    const std::string tiff = dir.file("frames.tif");
    testimages::Save(tiff, testimages::Tiff({testimages::Pattern(40, 30), testimages::Pattern(50, 20, false, 2),
                                             testimages::Pattern(60, 10, false, 3)},
                                            5));
    ASSERT_TRUE(Open(QString::fromStdString(tiff)));
    ASSERT_TRUE(Filled(3));
    EXPECT_TRUE(AllMade({0, 1, 2}));
    EXPECT_EQ(Strip().model()->index(2, 0).data().toString(), "3");
    const QRect third = Strip().visualRect(Strip().model()->index(2, 0));
    QTest::mouseClick(Strip().viewport(), Qt::LeftButton, Qt::NoModifier, third.center());
    EXPECT_EQ(document.CurrentPage(), 3);
    EXPECT_EQ(document.PagePicture().PageRect(), QRect(0, 0, 60, 10));
}

}  // namespace

TEST_F(ThumbnailStripTest, APageWithRegionsWearsABadgeWithTheirCount) {
    ASSERT_TRUE(Open(Pdf("four.pdf", 4)));
    ASSERT_TRUE(Filled(4));
    document.Editing().SetCurrentPageRect(crop::CropRect{0, 0, 300, 792}, false);
    document.Editing().AddRegion(crop::CropRect{312, 0, 612, 792}, false);
    EXPECT_TRUE(Strip().BadgeRect(1).isEmpty()) << "page 2 has none";
    const QRect badge = Strip().BadgeRect(0);
    ASSERT_FALSE(badge.isEmpty());
    const QImage shot = Strip().viewport()->grab().toImage();
    const QColor middle = shot.pixelColor(badge.center() + QPoint(badge.width() / 4, 0));
    EXPECT_GT(middle.red(), 150);
    EXPECT_LT(middle.green(), 80) << "red, round the count";
}

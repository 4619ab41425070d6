// The document model without any window: opening, failing to open, page
// changes, Close and reopening, and pages that cannot be shown.

#include "crop/model/document.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/render/image_writers.h"

#include <QDir>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

using crop::COrvaneDoc;

// Every signal of the document, counted.
struct Spies {
    explicit Spies(COrvaneDoc &d)
        : opened(&d, &COrvaneDoc::DocumentOpened),
          shown(&d, &COrvaneDoc::PageShown),
          failed(&d, &COrvaneDoc::ShowPageFailed),
          closed(&d, &COrvaneDoc::DocumentClosed),
          changed(&d, &COrvaneDoc::Changed),
          pageText(&d, &COrvaneDoc::PageNumberShown),
          status(&d, &COrvaneDoc::StatusMessage) {}
    int Total() const {
        return int(opened.count() + shown.count() + failed.count() + closed.count() + changed.count() +
                   pageText.count() + status.count());
    }
    // The page pane's text for the last number told.
    QString LastPageText() const {
        return pageText.isEmpty() ? QString() : QStringLiteral("Page No: %1").arg(pageText.last().at(0).toInt());
    }
    QString LastStatus() const { return status.isEmpty() ? QString() : status.last().at(0).toString(); }
    QSignalSpy opened, shown, failed, closed, changed, pageText, status;
};

class DocumentTest : public ::testing::Test {
protected:
    QString Pdf(const std::string &name, const fixtures::DocPlan &plan) {
        const std::string path = dir.file(name);
        fixtures::WritePdf(plan, path);
        return QString::fromStdString(path);
    }
    QString Three() { return Pdf("three.pdf", fixtures::PagesOfSizes({{595, 842}, {400, 500}, {300, 300}})); }
    bool Open(const QString &path) {
        QString reason;
        return document.OpenDocument(path, reason);
    }

    fixtures::TempDir dir;
    COrvaneDoc document;
};

TEST_F(DocumentTest, OpeningShowsPageOneAndSaysSo) {
    EXPECT_FALSE(document.IsOpen());
    EXPECT_EQ(document.Title(), "Untitled");
    Spies spies(document);
    const QString path = Three();
    ASSERT_TRUE(Open(path));
    EXPECT_EQ(spies.opened.count(), 1);
    EXPECT_EQ(spies.shown.count(), 0);
    EXPECT_EQ(document.Title(), "three.pdf");
    EXPECT_TRUE(spies.changed.last().at(0).value<crop::Changes>() & crop::Change::Title);
    EXPECT_EQ(spies.LastPageText(), "Page No: 1");
    EXPECT_TRUE(document.IsOpen());
    EXPECT_EQ(document.PathName(), path);
    EXPECT_EQ(document.PageCount(), 3);
    EXPECT_EQ(document.CurrentPage(), 1);
    // An A4 page renders at 1251 x 1771 pixels with the rectangle 595 x 842.
    EXPECT_EQ(document.PagePicture().Width(), 1251u);
    EXPECT_EQ(document.PagePicture().Height(), 1771u);
    EXPECT_EQ(document.PagePicture().PageRect(), QRect(0, 0, 595, 842));
    EXPECT_EQ(document.PageSource()->Kind(), render::SourceKind::Pdf);

    // A relative path is recorded whole.
    const uint64_t generation = document.Generation();
    QDir::setCurrent(QString::fromStdString(dir.path().string()));
    ASSERT_TRUE(Open("three.pdf"));
    EXPECT_EQ(document.PathName(), path);
    EXPECT_GT(document.Generation(), generation);
}

TEST_F(DocumentTest, PagesChangeOnlyToPagesThatExist) {
    ASSERT_TRUE(Open(Three()));
    Spies spies(document);
    EXPECT_TRUE(document.ShowPage(2));
    ASSERT_EQ(spies.shown.count(), 1);
    EXPECT_EQ(spies.shown.last().at(0).toInt(), 2);
    EXPECT_EQ(document.CurrentPage(), 2);
    EXPECT_EQ(document.PagePicture().PageRect(), QRect(0, 0, 400, 500));
    EXPECT_EQ(spies.LastPageText(), "Page No: 2");
    // The shown page again: the text only, nothing rendered.
    EXPECT_TRUE(document.ShowPage(2));
    EXPECT_EQ(spies.shown.count(), 1);
    EXPECT_EQ(spies.pageText.count(), 2);
    // Out of range: the text says what was asked, nothing else changes.
    for (int page : {0, 4, -1}) {
        EXPECT_FALSE(document.ShowPage(page));
        EXPECT_EQ(spies.LastPageText(), QStringLiteral("Page No: %1").arg(page));
    }
    EXPECT_EQ(document.CurrentPage(), 2);
    EXPECT_EQ(spies.shown.count(), 1);
}

TEST_F(DocumentTest, AFileThatCannotBeOpenedChangesNothingThatIsShown) {
    const QString good = Three();
    ASSERT_TRUE(Open(good));
    ASSERT_TRUE(document.ShowPage(2));
    const uint64_t generation = document.Generation();
    const render::PageSource *source = document.PageSource();

    fixtures::DocPlan lockedPlan = fixtures::PagesOfSizes({{612, 792}});
    lockedPlan.encryption = fixtures::Encryption::UserPassword;
    const QString locked = Pdf("locked.pdf", lockedPlan);
    fixtures::WriteTruncated(good.toStdString(), dir.file("truncated.pdf"), 0.3);
    testimages::Save(dir.file("text.pdf"), {'n', 'o', 't', ' ', 'a', ' ', 'P', 'D', 'F'});
    testimages::Save(dir.file("noise.png"), testimages::Bytes(300, 7));
    std::filesystem::create_directories(dir.path() / "folder.pdf");
    const struct {
        QString path;
        const char *reason;
    } cases[] = {
        {QString::fromStdString(dir.file("missing.pdf")), "does not exist"},
        {QString::fromStdString(dir.file("folder.pdf")), "folder"},
        {locked, "password"},
        {QString::fromStdString(dir.file("truncated.pdf")), "damaged"},
        {QString::fromStdString(dir.file("text.pdf")), "damaged"},
        {QString::fromStdString(dir.file("noise.png")), "not a document"},
        {QString(), "no file"},
    };
    for (const auto &c : cases) {
        Spies spies(document);
        QString reason;
        EXPECT_FALSE(document.OpenDocument(c.path, reason)) << c.path.toStdString();
        EXPECT_TRUE(reason.contains(c.reason)) << reason.toStdString();
        EXPECT_FALSE(document.OpenDocumentFile(c.path, reason)) << c.path.toStdString();
        EXPECT_EQ(spies.Total(), 0) << c.path.toStdString();
        EXPECT_EQ(document.PathName(), good);
        EXPECT_EQ(document.Title(), "three.pdf");
        EXPECT_EQ(document.CurrentPage(), 2);
        EXPECT_EQ(document.PageSource(), source);
        EXPECT_EQ(document.Generation(), generation);
        EXPECT_EQ(document.PagePicture().PageRect(), QRect(0, 0, 400, 500));
    }
}

TEST_F(DocumentTest, CloseThenTheSameFileOpensAgainWhateverRouteItTakes) {
    const QString a = Three();
    const QString b = Pdf("b.pdf", fixtures::PagesOfSizes({{200, 200}}));
    QString reason;
    ASSERT_TRUE(document.OpenDocumentFile(a, reason));
    {
        // The file shown, through the open route: nothing happens.
        Spies spies(document);
        EXPECT_TRUE(document.OpenDocumentFile(a, reason));
        EXPECT_EQ(spies.Total(), 0);
    }
    Spies spies(document);
    document.CloseDocument();
    EXPECT_EQ(spies.closed.count(), 1);
    EXPECT_FALSE(document.IsOpen());
    EXPECT_FALSE(document.HasPicture());
    EXPECT_EQ(document.Title(), "Untitled");
    EXPECT_EQ(document.CurrentPage(), 0);
    EXPECT_TRUE(spies.pageText.isEmpty());  // the page pane keeps what it said
    ASSERT_TRUE(document.OpenDocumentFile(a, reason));
    EXPECT_EQ(spies.opened.count(), 1);
    EXPECT_EQ(document.PathName(), a);
    // Another file shown by a drop, then the first through the open route.
    ASSERT_TRUE(document.OpenDocument(b, reason));
    ASSERT_TRUE(document.OpenDocumentFile(a, reason));
    EXPECT_EQ(spies.opened.count(), 3);
    EXPECT_EQ(document.PathName(), a);
    EXPECT_EQ(document.PagePicture().PageRect(), QRect(0, 0, 595, 842));
    // A drop opens even the file that is shown.
    ASSERT_TRUE(document.OpenDocument(a, reason));
    EXPECT_EQ(spies.opened.count(), 4);
    // Closing twice closes once.
    document.CloseDocument();
    document.CloseDocument();
    EXPECT_EQ(spies.closed.count(), 2);
}

TEST_F(DocumentTest, AMetafileOpensAsOnePageWithoutAPictureAndSaysWhy) {
    const std::string emf = dir.file("drawing.emf");
    testimages::Save(emf, testimages::Emf(0, 0, 400, 300));
    ASSERT_TRUE(Open(Three()));
    Spies spies(document);
    ASSERT_TRUE(Open(QString::fromStdString(emf)));
    EXPECT_TRUE(document.IsOpen());
    EXPECT_FALSE(document.HasPicture());  // no picture of the previous file stays
    EXPECT_EQ(document.PageCount(), 1);
    EXPECT_EQ(document.Title(), "drawing.emf");
    EXPECT_EQ(document.PagePicture().PageRect(), QRect(0, 0, 400, 300));
    EXPECT_TRUE(spies.LastStatus().contains("Page 1 cannot be shown")) << spies.LastStatus().toStdString();
}

TEST_F(DocumentTest, AFrameThatFailsToDecodeLeavesTheShownFrameCurrent) {
    const std::vector<testimages::Picture> frames = {testimages::Pattern(40, 30), testimages::Pattern(50, 20, false, 2),
                                                     testimages::Pattern(60, 10, false, 3)};
    const std::string tiff = dir.file("frames.tif");
    testimages::Save(tiff, testimages::Tiff(frames, 5));
    ASSERT_TRUE(Open(QString::fromStdString(tiff)));
    EXPECT_EQ(document.PageCount(), 3);
    ASSERT_TRUE(document.ShowPage(2));
    EXPECT_EQ(document.PagePicture().PageRect(), QRect(0, 0, 50, 20));
    // The file loses its frames behind the program's back.
    testimages::Save(tiff, testimages::Tiff({testimages::Pattern(70, 70)}, 5));
    Spies spies(document);
    EXPECT_FALSE(document.ShowPage(3));
    ASSERT_EQ(spies.failed.count(), 1);
    EXPECT_EQ(spies.failed.last().at(0).toInt(), 3);
    EXPECT_EQ(document.CurrentPage(), 2);
    EXPECT_EQ(spies.LastPageText(), "Page No: 2");
    EXPECT_TRUE(spies.LastStatus().contains("Page 3 cannot be shown")) << spies.LastStatus().toStdString();
    EXPECT_EQ(document.PagePicture().PageRect(), QRect(0, 0, 50, 20));
    EXPECT_EQ(document.PagePicture().Width(), 50u);
    // Asked again it fails again: no stale frame stands in for it.
    EXPECT_FALSE(document.ShowPage(3));
    EXPECT_EQ(document.CurrentPage(), 2);
    EXPECT_EQ(spies.shown.count(), 0);
}

TEST_F(DocumentTest, APageTooLargeForAFullPictureIsShownAtTheLargestSizeAllowed) {
    // A banner of 14,400 x 3,600 points would be about 30,300 x 7,575
    // pixels at the usual density, past the limit of a picture.
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{14400, 3600}, {612, 792}});
    plan.pages[0].blackRects.push_back({0, 0, 7200, 3600});  // the left half black
    ASSERT_TRUE(Open(Pdf("banner.pdf", plan)));
    Spies spies(document);
    ASSERT_TRUE(document.HasPicture());
    const crop::CPagePicture &picture = document.PagePicture();
    EXPECT_EQ(picture.PageRect(), QRect(0, 0, 14400, 3600));
    EXPECT_TRUE(render::WithinPageImageLimit(picture.Width(), picture.Height(), 24));
    EXPECT_GT(uint64_t(picture.Width()) * picture.Height() * 24, uint64_t(render::kPageImageMaxBits) * 99 / 100);
    EXPECT_NEAR(double(picture.Width()) / picture.Height(), 4.0, 0.01);
    EXPECT_LT(picture.PixelAt(int(picture.Width() / 4), int(picture.Height() / 2), false).red, 30);
    EXPECT_GT(picture.PixelAt(int(picture.Width() * 3 / 4), int(picture.Height() / 2), false).red, 225);
    // The next page is rendered as usual and says nothing.
    ASSERT_TRUE(document.ShowPage(2));
    EXPECT_EQ(document.PagePicture().Width(), 1287u);
    EXPECT_TRUE(spies.status.isEmpty());
    // Back to the banner: the status bar says it is not at full density.
    ASSERT_TRUE(document.ShowPage(1));
    EXPECT_TRUE(spies.LastStatus().contains("resolution")) << spies.LastStatus().toStdString();
}

TEST_F(DocumentTest, TheAutoShrinkFlagIsTheDocumentsAndAnnouncedOnChange) {
    int changed = 0;
    QObject::connect(&document, &COrvaneDoc::Changed,
                     [&changed](crop::Changes c) { changed += bool(c & crop::Change::AutoShrink); });
    document.SetAutoShrink(true);
    document.SetAutoShrink(true);
    EXPECT_TRUE(document.AutoShrink());
    document.SetAutoShrink(false);
    EXPECT_EQ(changed, 2);
    // It survives opening and closing documents.
    document.SetAutoShrink(true);
    ASSERT_TRUE(Open(Three()));
    document.CloseDocument();
    EXPECT_TRUE(document.AutoShrink());
}

TEST_F(DocumentTest, PagesRenderedAheadAreTheSamePicturesAFreshRenderGives) {
    const QString path = Pdf("many.pdf", fixtures::ManyPages(6, true));
    ASSERT_TRUE(Open(path));
    const render::PageCache *cache = document.Prefetch().Cache();
    ASSERT_NE(cache, nullptr);
    // Page 1 shown: page 2 comes first, then 3.
    ASSERT_TRUE(QTest::qWaitFor([&] { return cache->Contains(2) && cache->Contains(3); }, 20000));
    EXPECT_FALSE(cache->Contains(1));
    auto samePicture = [&](int page) {
        std::unique_ptr<render::PageSource> source = render::PageSource::Open(path.toStdString(), 1);
        QRect rect;
        QString reason, note;
        render::BitmapHandle fresh = render::RenderPageBitmap(*source, page, rect, reason, note);
        render::BitmapHandle shown = document.PagePicture().ToBitmap();
        if (!fresh || !shown || fresh->width != shown->width || fresh->height != shown->height ||
            rect != document.PagePicture().PageRect())
            return false;
        for (int y = 0; y < fresh->height; ++y)
            if (std::memcmp(fresh->bits + size_t(y) * size_t(fresh->stride),
                            shown->bits + size_t(y) * size_t(shown->stride), size_t(fresh->width) * 3) != 0)
                return false;
        return true;
    };
    const int renders = document.Prefetch().WindowThreadRenders();
    ASSERT_TRUE(document.ShowPage(2));
    EXPECT_EQ(document.Prefetch().WindowThreadRenders(), renders);  // taken from the pages rendered ahead
    EXPECT_TRUE(samePicture(2));
    // Going forward, 3 is wanted first, then 1 behind, then 4.
    ASSERT_TRUE(QTest::qWaitFor([&] { return cache->Contains(1) && cache->Contains(3) && cache->Contains(4); }, 20000));
    ASSERT_TRUE(document.ShowPage(1));
    EXPECT_EQ(document.Prefetch().WindowThreadRenders(), renders);
    EXPECT_TRUE(samePicture(1));
    // A page far away is rendered as it always was.
    ASSERT_TRUE(document.ShowPage(6));
    EXPECT_EQ(document.Prefetch().WindowThreadRenders(), renders + 1);
    EXPECT_TRUE(samePicture(6));
    EXPECT_EQ(document.CurrentPage(), 6);
    // The cache stays within its few pages, and goes with the document.
    EXPECT_LE(cache->Size(), 4u);
    document.CloseDocument();
    EXPECT_EQ(document.Prefetch().Cache(), nullptr);
}

}  // namespace

// The overlay's picture is turned bottom-up row by row; a size no memory
// holds is refused before a byte is touched, not copied into nothing.
TEST(PagePicture, BottomUpRowsAreFlippedAndPaddedAndASizeNoMemoryHoldsIsRefused) {
    const uint8_t topDown[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // 2 x 2
    int stride = 0;
    const std::optional<std::vector<uint8_t>> rows = crop::BottomUpRows(topDown, 2, 2, stride);
    ASSERT_TRUE(rows);
    EXPECT_EQ(stride, 8);
    EXPECT_EQ(*rows, (std::vector<uint8_t>{7, 8, 9, 10, 11, 12, 0, 0, 1, 2, 3, 4, 5, 6, 0, 0}));
    EXPECT_FALSE(crop::BottomUpRows(topDown, INT32_MAX, INT32_MAX, stride));
    EXPECT_EQ(stride, 0);
}

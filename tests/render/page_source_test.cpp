// The page source: kinds by extension, pages, extents, pictures, frames.

#include "render/page_image.h"
#include "render/page_source.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/render/image_writers.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace render;

namespace {

class PageSourceTest : public ::testing::Test {
protected:
    fixtures::TempDir dir;

    std::string Pdf(const std::string &name) {
        std::string path = dir.file(name);
        fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {300, 400}});
        plan.pages[1].own.rotate = 90;
        plan.pages[0].blackRects.push_back({0, 0, 306, 792});
        fixtures::WritePdf(plan, path);
        return path;
    }
    std::string Picture(const std::string &name, const testimages::Bytes &bytes) {
        std::string path = dir.file(name);
        testimages::Save(path, bytes);
        return path;
    }
};

TEST_F(PageSourceTest, TheExtensionChoosesTheKindWhateverItsCase) {
    const auto png = testimages::Png(testimages::Pattern(13, 7), false);
    const auto tiff = testimages::Tiff({testimages::Pattern(13, 7)}, 5);
    const struct {
        std::string path;
        SourceKind kind;
    } files[] = {
        {Pdf("DOC.PDF"), SourceKind::Pdf},
        {Pdf("doc.Pdf"), SourceKind::Pdf},
        {Picture("Picture.EMF", testimages::Emf(10, 20, 410, 320)), SourceKind::Metafile},
        {Picture("picture.png", png), SourceKind::Image},
        {Picture("picture.TIF", tiff), SourceKind::Image},
        {Picture("no extension", png), SourceKind::Image},
        {Picture("misnamed.jpg", png), SourceKind::Image},
    };
    for (const auto &f : files) {
        std::unique_ptr<PageSource> source = PageSource::Open(f.path, 1);
        ASSERT_NE(source, nullptr) << f.path;
        EXPECT_EQ(source->Kind(), f.kind) << f.path;
    }
}

TEST_F(PageSourceTest, PdfPagesExtentsAndPictures) {
    std::unique_ptr<PageSource> source = PageSource::Open(Pdf("two pages.pdf"), 1);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->PageCount(), 2);
    source->SetResolution(101);
    PageExtent e;
    ASSERT_NE(source->PageExtent(2, &e, 0), 0);
    EXPECT_DOUBLE_EQ(e.x2, 400);
    EXPECT_DOUBLE_EQ(e.y2, 300);
    double scale[2] = {1.5, 1.5};
    int32_t slot = 0;
    BitmapHandle bitmap = source->RenderPage(0, 1, scale, 0, 306, 396, &slot);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->width, 306);
    EXPECT_EQ(bitmap->height, 396);
    // Copied into a page image in one go, left half black.
    PageImage image;
    ASSERT_TRUE(image.FromBitmap(bitmap.get()));
    EXPECT_LT(image.PixelAt(10, 200, false).red, 30);
    EXPECT_GT(image.PixelAt(290, 200, false).red, 225);
    EXPECT_EQ(source->RenderFrame(1), nullptr);
}

TEST_F(PageSourceTest, AMetafileIsOnePageAsLargeAsItsBounds) {
    std::unique_ptr<PageSource> source = PageSource::Open(Picture("drawing.emf", testimages::Emf(10, 20, 410, 320)), 1);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->PageCount(), 1);
    PageExtent e;
    ASSERT_EQ(source->PageExtent(1, &e, 0), 1);
    EXPECT_DOUBLE_EQ(e.x1, 0);
    EXPECT_DOUBLE_EQ(e.x2, 400);
    EXPECT_DOUBLE_EQ(e.y2, 300);
    double scale[2] = {1.5, 1.5};
    int32_t slot = 0;
    EXPECT_EQ(source->RenderPage(0, 1, scale, 0, 100, 100, &slot), nullptr);
    EXPECT_EQ(PageSource::Open(Picture("fake.emf", testimages::Bytes(200, 7)), 1), nullptr);
}

TEST_F(PageSourceTest, PictureFramesArePagesDecodedOnlyWhenTheFrameChanges) {
    const std::vector<testimages::Picture> frames = {testimages::Pattern(13, 7, false, 0),
                                                     testimages::Pattern(13, 7, false, 2),
                                                     testimages::Pattern(13, 7, false, 3)};
    std::unique_ptr<PageSource> source = PageSource::Open(Picture("three.tiff", testimages::Tiff(frames, 5)), 1);
    ASSERT_NE(source, nullptr);
    EXPECT_EQ(source->PageCount(), 3);
    PageExtent e;
    source->PageExtent(1, &e, 0);
    EXPECT_DOUBLE_EQ(e.x2, 13);
    EXPECT_DOUBLE_EQ(e.y2, 7);
    EXPECT_EQ(source->DecodeCount(), 1);
    BitmapHandle third = source->RenderFrame(3);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(source->DecodeCount(), 2);
    BitmapHandle again = source->RenderFrame(3);
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(source->DecodeCount(), 2);
    // The third frame's top-left pixel, stored in the top row.
    const uint8_t *topRow = third->bits + size_t(third->height - 1) * size_t(third->stride);
    EXPECT_EQ(topRow[2], frames[2].At(0, 0)[0]);
    BitmapHandle first = source->RenderFrame(1);
    EXPECT_EQ(source->DecodeCount(), 3);

    std::unique_ptr<PageSource> single = PageSource::Open(Picture("one.png", testimages::Png(frames[0], false)), 1);
    EXPECT_EQ(single->PageCount(), 1);
}

TEST_F(PageSourceTest, AFrameThatFailsToDecodeLeavesTheSourceAtTheFrameItHeld) {
    const std::vector<testimages::Picture> frames = {testimages::Pattern(13, 7, false, 0),
                                                     testimages::Pattern(13, 7, false, 2),
                                                     testimages::Pattern(13, 7, false, 3)};
    const std::string path = Picture("changing.tiff", testimages::Tiff(frames, 5));
    std::unique_ptr<PageSource> source = PageSource::Open(path, 1);
    ASSERT_NE(source, nullptr);
    // The file is replaced behind the source's back by one of a single,
    // larger frame: frame 3 is gone.
    testimages::Save(path, testimages::Tiff({testimages::Pattern(20, 30)}, 5));
    EXPECT_EQ(source->RenderFrame(3), nullptr);
    // Asked again, it fails again rather than handing out frame 1 as 3.
    EXPECT_EQ(source->RenderFrame(3), nullptr);
    // The source still describes the frame it holds, frame 1.
    PageExtent e;
    source->PageExtent(1, &e, 0);
    EXPECT_DOUBLE_EQ(e.x2, 13);
    EXPECT_DOUBLE_EQ(e.y2, 7);
    BitmapHandle first = source->RenderFrame(1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->width, 13);
}

TEST_F(PageSourceTest, FilesThatCannotBeOpenedGiveNoSource) {
    EXPECT_EQ(PageSource::Open(dir.file("missing.pdf"), 1), nullptr);
    EXPECT_EQ(PageSource::Open(dir.file("missing.png"), 1), nullptr);
    EXPECT_EQ(PageSource::Open(Picture("text.pdf", {'h', 'e', 'l', 'l', 'o'}), 1), nullptr);
    EXPECT_EQ(PageSource::Open(Picture("text.txt", {'h', 'e', 'l', 'l', 'o'}), 1), nullptr);
    fixtures::DocPlan locked = fixtures::PagesOfSizes({{100, 100}});
    locked.encryption = fixtures::Encryption::UserPassword;
    fixtures::WritePdf(locked, dir.file("locked.pdf"));
    EXPECT_EQ(PageSource::Open(dir.file("locked.pdf"), 1), nullptr);
}

TEST_F(PageSourceTest, PathsOfAnyLengthWork) {
    std::filesystem::path deep = dir.path();
    for (int i = 0; i < 5; ++i)
        deep /= std::string(70, char('k' + i)) + " é$";
    std::filesystem::create_directories(deep);
    const std::string pdf = (deep / "long.pdf").string(), png = (deep / "long.png").string();
    ASSERT_GT(pdf.size(), 300u);
    fixtures::WritePdf(fixtures::PagesOfSizes({{200, 200}}), pdf);
    testimages::Save(png, testimages::Png(testimages::Pattern(5, 5), false));
    EXPECT_NE(PageSource::Open(pdf, 1), nullptr);
    std::unique_ptr<PageSource> source = PageSource::Open(png, 1);
    ASSERT_NE(source, nullptr);
    EXPECT_NE(source->RenderFrame(1), nullptr);
}

}  // namespace

// Printing a page: to a PDF file through the printer, read back through the
// rendering library, the page must be on one sheet, upright, fitted and
// centred, with its content where the shown page has it.

#include "crop/view/page_printer.h"
#include "render/page_source.h"
#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/render/image_writers.h"

#include <QPageLayout>
#include <QPrinter>

#include <gtest/gtest.h>

#include <memory>

namespace {

// A picture of a rendered page, top-down: dark or not at (x, y).
struct Shot {
    std::unique_ptr<render::Bitmap> bitmap;
    int Level(int x, int y) const {
        const uint8_t *p = bitmap->bits + size_t(bitmap->height - 1 - y) * size_t(bitmap->stride) + size_t(x) * 3;
        return (p[0] + p[1] + p[2]) / 3;
    }
    bool Dark(int x, int y) const { return Level(x, y) < 100; }
};

Shot Render(render::PageSource &source, int page, int w, int h) {
    const double scale[2] = {1.5, 1.5};
    int32_t slot = 0;
    return Shot{source.RenderPage(0, page, scale, 0, w, h, &slot)};
}

// A page framed by a black border 8 points wide, with black blocks that
// show which way up it is.
fixtures::PagePlan Framed(double w, double h) {
    fixtures::PagePlan page;
    page.own.mediaBox = fixtures::Box{0, 0, w, h};
    page.blackRects = {{0, 0, w, 8},
                       {0, h - 8, w, h},
                       {0, 0, 8, h},
                       {w - 8, 0, w, h},
                       {w * 0.1, h * 0.6, w * 0.45, h * 0.9},
                       {w * 0.6, h * 0.1, w * 0.7, h * 0.3}};
    return page;
}

class PagePrinterTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(render::LoadRenderingLibrary()); }

    // Prints `page` of `source` to A4 and checks the sheet against the page.
    void PrintAndCompare(render::PageSource &source, int page, const render::PageImage &picture,
                         QPageLayout::Orientation orientation) {
        const std::string out = dir.file("printed.pdf");
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(out));
        printer.setPageSize(QPageSize(QPageSize::A4));
        printer.setPageOrientation(orientation);
        QString error;
        ASSERT_TRUE(crop::PrintPage(printer, source, page, picture, error)) << error.toStdString();

        std::unique_ptr<render::PageSource> sheet = render::PageSource::Open(out, 1);
        ASSERT_NE(sheet, nullptr);
        ASSERT_EQ(sheet->PageCount(), 1);
        render::PageExtent paper;
        sheet->PageExtent(1, &paper, 0);
        const int sw = int(paper.x2 * 1.5), sh = int(paper.y2 * 1.5);  // 108 dpi
        Shot printed = Render(*sheet, 1, sw, sh);
        ASSERT_NE(printed.bitmap, nullptr);

        // The frame's outer edge is the printed page: find it.
        int left = sw, right = -1, top = sh, bottom = -1;
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                if (printed.Dark(x, y)) {
                    left = std::min(left, x);
                    right = std::max(right, x);
                    top = std::min(top, y);
                    bottom = std::max(bottom, y);
                }
        ASSERT_GT(right, left);
        const int pw = right - left + 1, ph = bottom - top + 1;
        // Fitted: it reaches the printable area on two opposite sides.
        const QRectF area = printer.pageLayout().paintRect(QPageLayout::Point);
        const double areaW = area.width() * 1.5, areaH = area.height() * 1.5;
        EXPECT_TRUE(std::abs(pw - areaW) < 4 || std::abs(ph - areaH) < 4) << pw << "x" << ph;
        // Centred in it.
        const double cx = (area.left() + area.width() / 2) * 1.5, cy = (area.top() + area.height() / 2) * 1.5;
        EXPECT_NEAR((left + right) / 2.0, cx, 3);
        EXPECT_NEAR((top + bottom) / 2.0, cy, 3);

        // Content where the shown page has it: the page rendered at the
        // printed size agrees with the sheet away from edges.
        render::PageExtent shown;
        source.PageExtent(page, &shown, 0);
        if (source.Kind() == render::SourceKind::Pdf) {
            EXPECT_NEAR(double(pw) / ph, (shown.x2 - shown.x1) / (shown.y2 - shown.y1), 0.02);
            Shot expected = Render(source, page, pw, ph);
            ASSERT_NE(expected.bitmap, nullptr);
            int disagree = 0, compared = 0;
            for (int y = 2; y < ph - 2; y += 5)
                for (int x = 2; x < pw - 2; x += 5) {
                    const bool nearEdge = [&] {
                        for (int dy = -2; dy <= 2; ++dy)
                            for (int dx = -2; dx <= 2; ++dx)
                                if (expected.Dark(x + dx, y + dy) != expected.Dark(x, y))
                                    return true;
                        return false;
                    }();
                    if (nearEdge)
                        continue;
                    ++compared;
                    disagree += expected.Dark(x, y) != printed.Dark(left + x, top + y);
                }
            EXPECT_GT(compared, 1000);
            EXPECT_EQ(disagree, 0);
        }
    }

    fixtures::TempDir dir;
};

TEST_F(PagePrinterTest, APdfPageIsPrintedUprightFittedAndCentredInBands) {
    fixtures::DocPlan plan;
    plan.pages.push_back(Framed(612, 792));
    fixtures::PagePlan turned = Framed(300, 400);
    turned.own.rotate = 90;  // shown 400 x 300
    plan.pages.push_back(turned);
    plan.pages.push_back(Framed(14400, 3600));  // a banner, far larger than the sheet
    const std::string path = dir.file("pages.pdf");
    fixtures::WritePdf(plan, path);
    std::unique_ptr<render::PageSource> source = render::PageSource::Open(path, 1);
    ASSERT_NE(source, nullptr);
    render::PageImage none;
    {
        SCOPED_TRACE("portrait on portrait");
        PrintAndCompare(*source, 1, none, QPageLayout::Portrait);
    }
    {
        SCOPED_TRACE("rotated page");
        PrintAndCompare(*source, 2, none, QPageLayout::Portrait);
    }
    {
        SCOPED_TRACE("portrait on landscape");
        PrintAndCompare(*source, 1, none, QPageLayout::Landscape);
    }
    {
        SCOPED_TRACE("banner");
        PrintAndCompare(*source, 3, none, QPageLayout::Landscape);
    }
}

TEST_F(PagePrinterTest, APictureIsPrintedFromItsFrameAndAMetafileNotAtAll) {
    testimages::Picture frame = testimages::Pattern(60, 80);
    for (int y = 0; y < 80; ++y)
        for (int x = 0; x < 60; ++x) {
            uint8_t *p = &frame.rgba[(size_t(y) * 60 + size_t(x)) * 4];
            const bool edge = x < 2 || y < 2 || x > 57 || y > 77;
            p[0] = p[1] = p[2] = edge ? 0 : 255;
        }
    const std::string png = dir.file("frame.png");
    testimages::Save(png, testimages::Png(frame, false));
    std::unique_ptr<render::PageSource> source = render::PageSource::Open(png, 1);
    ASSERT_NE(source, nullptr);
    render::PageImage picture;
    render::BitmapHandle bitmap = source->RenderFrame(1);
    ASSERT_TRUE(picture.FromBitmap(bitmap.get()));
    PrintAndCompare(*source, 1, picture, QPageLayout::Portrait);

    const std::string emf = dir.file("drawing.emf");
    testimages::Save(emf, testimages::Emf(0, 0, 400, 300));
    std::unique_ptr<render::PageSource> metafile = render::PageSource::Open(emf, 1);
    ASSERT_NE(metafile, nullptr);
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(dir.file("nothing.pdf")));
    QString error;
    EXPECT_FALSE(crop::PrintPage(printer, *metafile, 1, picture, error));
    EXPECT_TRUE(error.contains("metafile"));
}

}  // namespace

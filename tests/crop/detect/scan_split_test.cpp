// Generated two-up scans split at their fold: each cell holds its own book
// page's printed block, neither the fold's shadow nor the sheet's height;
// a page without a gutter is left whole unless an even split is asked for.

#include "crop/detect/split.h"
#include "render/page_render.h"
#include "render/page_source.h"
#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/scan_page.h"
#include "tests/fixtures/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Splits page `page` of `source` as the window and the command line do.
crop::SplitCells Split(render::PageSource &source, int page, const crop::SplitGrid &grid) {
    QRect rect;
    QString reason, note;
    render::BitmapHandle bitmap = render::RenderPageBitmap(source, page, rect, reason, note, nullptr, true);
    if (!bitmap)
        return {};
    return crop::SplitPage(crop::PixelView::Of(*bitmap), double(bitmap->width) / rect.width(), grid);
}

}  // namespace

TEST(ScanSplit, EachHalfOfASpreadIsItsOwnPagesPrintAndAPageWithoutAGutterIsLeftWhole) {
    ASSERT_TRUE(render::LoadRenderingLibrary());
    constexpr double kWidth = 420, kHeight = 595;  // each book page
    fixtures::DocPlan plan;
    std::vector<fixtures::ScanPage> scans;
    const int folds[] = {10, 20, 30, 40};
    for (int i = 0; i < 8; ++i) {
        fixtures::ScanOptions o;
        o.seed = unsigned(i + 11);
        o.dpi = i % 2 ? 150 : 100;
        o.paper = i % 3 ? fixtures::ScanPaper::Grey : fixtures::ScanPaper::Noisy;
        o.quality = 70 + i * 3;
        o.widthPt = kWidth;
        o.heightPt = kHeight;
        o.spread = true;
        o.foldPixels = folds[i % 4];
        o.tilt = (i % 3 - 1) * 0.3;
        scans.push_back(fixtures::MakeScanPage(o));
        plan.pages.push_back(fixtures::ScanPagePlan(scans.back(), 2 * kWidth, kHeight));
    }
    fixtures::ScanOptions single;  // one page of one column
    single.widthPt = 2 * kWidth;
    single.heightPt = kHeight;
    scans.push_back(fixtures::MakeScanPage(single));
    plan.pages.push_back(fixtures::ScanPagePlan(scans.back(), 2 * kWidth, kHeight));
    fixtures::TempDir dir;
    const std::string path = dir.file("spreads.pdf");
    fixtures::WritePdf(plan, path);
    std::unique_ptr<render::PageSource> source = render::PageSource::Open(path, 1);
    ASSERT_TRUE(source);

    const crop::SplitGrid grid;  // 2 x 1
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE("spread " + std::to_string(i + 1));
        const crop::SplitCells split = Split(*source, i + 1, grid);
        ASSERT_EQ(split.cells.size(), 2u);
        EXPECT_EQ(split.missed, 0);
        for (int side = 0; side < 2; ++side) {
            const fixtures::Box &p = side ? scans[size_t(i)].printedRight : scans[size_t(i)].printed;
            const crop::CropRect &c = split.cells[size_t(side)];
            EXPECT_NEAR(c.left, p.x0, 8) << "side " << side;
            EXPECT_NEAR(c.top, p.y0, 8) << "side " << side;
            EXPECT_NEAR(c.right, p.x1, 8) << "side " << side;
            EXPECT_NEAR(c.bottom, p.y1, 8) << "side " << side;
        }
    }
    const crop::SplitCells whole = Split(*source, 9, grid);
    EXPECT_EQ(whole.cells.size(), 1u) << "one column has no gutter";
    EXPECT_EQ(whole.missed, 1);
    crop::SplitGrid even;
    even.even = true;
    EXPECT_EQ(Split(*source, 9, even).cells.size(), 2u);
}

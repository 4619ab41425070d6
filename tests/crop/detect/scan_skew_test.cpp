// Generated scans turned by known angles: the skew of their print found to
// a tenth of a degree; a page of dust alone has none to find.

#include "crop/detect/skew.h"
#include "render/page_render.h"
#include "render/page_source.h"
#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/scan_page.h"
#include "tests/fixtures/temp_dir.h"

#include <gtest/gtest.h>

#include <string>

TEST(ScanSkew, TheAngleOfTheLinesIsFoundWithinATenthOfADegreeAndDustHasNone) {
    ASSERT_TRUE(render::LoadRenderingLibrary());
    const double tilts[] = {-4, -2.5, -1.2, -0.3, 0, 0.7, 2, 4};
    fixtures::DocPlan plan;
    for (size_t i = 0; i < std::size(tilts); ++i) {
        fixtures::ScanOptions o;
        o.seed = unsigned(i + 3);
        o.dpi = i % 2 ? 150 : 200;
        o.paper = i % 3 ? fixtures::ScanPaper::Grey : fixtures::ScanPaper::Noisy;
        o.quality = 70 + int(i) * 3;
        o.tilt = tilts[i];
        plan.pages.push_back(fixtures::ScanPagePlan(fixtures::MakeScanPage(o)));
    }
    fixtures::ScanOptions dust;
    dust.dustOnly = true;
    dust.specks = 30;
    plan.pages.push_back(fixtures::ScanPagePlan(fixtures::MakeScanPage(dust)));
    fixtures::TempDir dir;
    const std::string path = dir.file("tilted.pdf");
    fixtures::WritePdf(plan, path);
    std::unique_ptr<render::PageSource> source = render::PageSource::Open(path, 1);
    ASSERT_TRUE(source);
    for (int page = 1; page <= int(plan.pages.size()); ++page) {
        QRect rect;
        QString reason, note;
        const render::BitmapHandle bitmap = render::RenderPageBitmap(*source, page, rect, reason, note, nullptr, true);
        ASSERT_TRUE(bitmap) << reason.toStdString();
        const crop::Skew skew = crop::MeasureSkew(crop::PixelView::Of(*bitmap));
        if (page > int(std::size(tilts))) {
            EXPECT_FALSE(skew.measured) << "dust: contrast " << skew.contrast;
            continue;
        }
        EXPECT_TRUE(skew.measured) << "page " << page << ": contrast " << skew.contrast;
        EXPECT_NEAR(skew.degrees, tilts[page - 1], 0.1) << "page " << page;
    }
}

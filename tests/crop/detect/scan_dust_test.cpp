// Generated scans rendered through the rendering library, as a whole-document
// crop sees them: dust, single or in clusters, never widens the content
// found, and no printed mark (full stops, dots on i, hyphens, a thin rule, a
// footnote marker, a page number alone at the foot, a dotted line, a pencil
// note, a yellow mark on yellowed paper) is lost.

#include "crop/detect/page_walk.h"
#include "render/page_render.h"
#include "render/page_source.h"
#include "render/render_scheduler.h"
#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/scan_page.h"
#include "tests/fixtures/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>

namespace {

// How far a found edge may lie inside the printed one (what rendering at
// another density blurs, about a pixel), and outside it (the halo that
// strong compression leaves round print, too). A speck lies further off.
constexpr double kInside = 1.0, kOutside = 2.0;

}  // namespace

TEST(ScanDust, NoCropIsWidenedByDustAndNoPrintedMarkIsLost) {
    ASSERT_TRUE(render::LoadRenderingLibrary());
    // 24 pages by default; ORVANE_SCAN_PAGES asks for more.
    const char *asked = std::getenv("ORVANE_SCAN_PAGES");
    const int count = asked ? std::max(1, std::atoi(asked)) : 24;
    fixtures::DocPlan plan;
    std::vector<fixtures::ScanPage> scans;
    const int dpis[] = {150, 200, 300};
    const fixtures::ScanPaper papers[] = {fixtures::ScanPaper::Grey, fixtures::ScanPaper::Noisy,
                                          fixtures::ScanPaper::Yellowed};
    for (int i = 0; i < count; ++i) {
        fixtures::ScanOptions o;
        o.seed = unsigned(i + 1);
        o.dpi = dpis[i % 3];
        o.paper = papers[(i / 3) % 3];
        o.quality = 70 + (i * 7) % 21;
        o.specks = 6 + i % 10;
        o.pencilNote = i % 5 == 2;
        o.dottedLine = i % 4 == 1;
        o.stamp = i % 2 == 0;
        o.pageNumber = i % 4 != 3;
        o.dustOnly = i % 12 == 11;
        scans.push_back(fixtures::MakeScanPage(o));
        plan.pages.push_back(fixtures::ScanPagePlan(scans.back()));
    }
    fixtures::TempDir dir;
    const std::string path = dir.file("scans.pdf");
    fixtures::WritePdf(plan, path);

    // As a whole-document crop finds them: a scan whose picture decodes
    // quickly at half its size is drawn at that size, in grey.
    auto scheduler = std::make_shared<render::RenderScheduler>(path, 2);
    std::vector<std::optional<crop::CropRect>> found(static_cast<size_t>(count));
    std::mutex mutex;
    const auto walk = crop::StartAutoCrop(scheduler, count, {}, {}, {}, [&](crop::AutoCropResult r) {
        std::lock_guard lock(mutex);
        for (const crop::PageContent &page : r.pages) {
            EXPECT_FALSE(page.failed) << page.error;
            found[size_t(page.page - 1)] = page.content;
        }
    });
    ASSERT_TRUE(walk->Wait());
    scheduler->Stop();
    std::lock_guard lock(mutex);

    int widened = 0, cut = 0;
    for (int i = 0; i < count; ++i) {
        const fixtures::ScanPage &scan = scans[size_t(i)];
        const bool blank = scan.printed.x1 <= scan.printed.x0;
        SCOPED_TRACE("page " + std::to_string(i + 1));
        if (blank) {
            EXPECT_FALSE(found[size_t(i)]) << "a page of dust only has content";
            widened += found[size_t(i)].has_value();
            continue;
        }
        ASSERT_TRUE(found[size_t(i)]);
        const crop::CropRect f = *found[size_t(i)];
        const fixtures::Box &p = scan.printed;
        const bool isWide = f.left < p.x0 - kOutside || f.top < p.y0 - kOutside || f.right > p.x1 + kOutside ||
                            f.bottom > p.y1 + kOutside;
        const bool isCut =
            f.left > p.x0 + kInside || f.top > p.y0 + kInside || f.right < p.x1 - kInside || f.bottom < p.y1 - kInside;
        EXPECT_FALSE(isWide) << "found " << f.left << ' ' << f.top << ' ' << f.right << ' ' << f.bottom << ", printed "
                             << p.x0 << ' ' << p.y0 << ' ' << p.x1 << ' ' << p.y1;
        EXPECT_FALSE(isCut) << "found " << f.left << ' ' << f.top << ' ' << f.right << ' ' << f.bottom << ", printed "
                            << p.x0 << ' ' << p.y0 << ' ' << p.x1 << ' ' << p.y1;
        widened += isWide;
        cut += isCut;
    }
    std::printf("%d generated scans: %d widened by dust, %d cut\n", count, widened, cut);
}

// Pages are found on grey pictures drawn bottom row first; the box is the
// one the full-colour picture gives, within half a point, on typeset pages,
// rotated and cropped ones, and a scan on yellowed paper.
TEST(GreyPictures, FindTheBoxTheColourPictureGives) {
    ASSERT_TRUE(render::LoadRenderingLibrary());
    fixtures::DocPlan plan = fixtures::ManyPages(3, false);
    for (fixtures::PagePlan &p : plan.pages)
        p.bookContent = true;
    plan.pages[1].own.rotate = 90;
    plan.pages[2].own.cropBox = fixtures::Box{40, 60, 500, 700};
    fixtures::ScanOptions scan;
    scan.paper = fixtures::ScanPaper::Yellowed;
    plan.pages.push_back(fixtures::ScanPagePlan(fixtures::MakeScanPage(scan)));
    fixtures::TempDir dir;
    const std::string path = dir.file("pages.pdf");
    fixtures::WritePdf(plan, path);
    std::unique_ptr<render::PageSource> source = render::PageSource::Open(path, 1);
    ASSERT_TRUE(source);
    for (int page = 1; page <= int(plan.pages.size()); ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        std::optional<crop::CropRect> found[2];
        for (int grey = 0; grey < 2; ++grey) {
            QRect rect;
            QString reason, note;
            render::BitmapHandle bitmap = render::RenderPageBitmap(*source, page, rect, reason, note, nullptr, grey);
            ASSERT_TRUE(bitmap) << reason.toStdString();
            EXPECT_EQ(bitmap->bitsPerPixel, grey ? 8 : 24);
            found[grey] = crop::ContentOfPage(*bitmap, rect.width(), rect.height(), {});
        }
        ASSERT_EQ(found[0].has_value(), found[1].has_value());
        if (!found[0])
            continue;
        EXPECT_NEAR(found[1]->left, found[0]->left, 0.5);
        EXPECT_NEAR(found[1]->top, found[0]->top, 0.5);
        EXPECT_NEAR(found[1]->right, found[0]->right, 0.5);
        EXPECT_NEAR(found[1]->bottom, found[0]->bottom, 0.5);
    }
}

// A whole-document crop finds a page's box from its drawing operations and
// strips drawn inward, or leaves text out of a page's picture where the
// pages before had ink beyond it; every box is still the one the whole
// picture gives: on a page whose lines all lie inside those boxes, one whose
// only other ink is a short rule at its foot, one whose text is painted
// over in white, and one with invisible text, clipped-away paint and white
// paint over ink.
TEST(LeavingOutText, EveryBoxIsTheOneTheWholePictureGives) {
    ASSERT_TRUE(render::LoadRenderingLibrary());
    fixtures::DocPlan plan = fixtures::ManyPages(9, false);
    for (fixtures::PagePlan &p : plan.pages)
        p.bookContent = true;
    for (int i : {6, 7}) {
        fixtures::PagePlan &p = plan.pages[size_t(i)];
        p = fixtures::PagePlan();
        for (int line = 0; line < 4; ++line)
            p.texts.push_back({200, 600.0 - 14 * line, 11, "A few lines high on the page, well inside"});
    }
    plan.pages[7].blackRects.push_back({250, 120, 350, 121});
    plan.pages[8].lastContent = "1 g 306 0 306 792 re f\n";
    // Found from drawing operations first: what paints nothing or is
    // clipped away does not count, nor does text painted over in white.
    fixtures::PagePlan tricky;
    tricky.texts.push_back({200, 400, 11, "Only this line is seen"});
    tricky.lastContent = "BT 3 Tr /F1 30 Tf 20 20 Td (invisible) Tj ET\n"
                         "q 100 100 50 50 re W n 0 g 20 700 500 60 re f Q\n"
                         "0 g 500 30 60 20 re f 1 g 490 25 80 30 re f\n"
                         "q 1 1 1 rg BT /F1 20 Tf 40 600 Td (white) Tj ET Q\n";
    plan.pages.push_back(tricky);
    // Turned, cut by its crop box, and an annotation's appearance.
    fixtures::PagePlan turned;
    turned.own.rotate = 90;
    turned.own.cropBox = fixtures::Box{40, 60, 560, 700};
    turned.texts.push_back({30, 300, 12, "Partly outside the crop box, partly in"});
    turned.boxAnnotations.push_back({400, 500, 470, 530});
    plan.pages.push_back(turned);
    fixtures::TempDir dir;
    std::string path = dir.file("pages.pdf");
    fixtures::WritePdf(plan, path);
    // ORVANE_BOX_PDF checks a document of one's own.
    if (const char *own = std::getenv("ORVANE_BOX_PDF"); own && *own)
        path = own;

    auto scheduler = std::make_shared<render::RenderScheduler>(path, 2);
    std::optional<crop::AutoCropResult> result;
    std::mutex mutex;
    const int count = render::PageSource::Open(path, 1)->PageCount();
    const auto walk = crop::StartAutoCrop(scheduler, count, {}, {}, {}, [&](crop::AutoCropResult r) {
        std::lock_guard lock(mutex);
        result = std::move(r);
    });
    ASSERT_TRUE(walk->Wait());
    scheduler->Stop();
    ASSERT_TRUE(result);

    std::unique_ptr<render::PageSource> source = render::PageSource::Open(path, 1);
    ASSERT_TRUE(source);
    for (const crop::PageContent &page : result->pages) {
        SCOPED_TRACE("page " + std::to_string(page.page));
        QRect rect;
        QString reason, note;
        render::BitmapHandle bitmap = render::RenderPageBitmap(*source, page.page, rect, reason, note, nullptr, true);
        ASSERT_TRUE(bitmap) << reason.toStdString();
        const std::optional<crop::CropRect> whole = crop::ContentOfPage(*bitmap, page.width, page.height, {});
        ASSERT_EQ(whole.has_value(), page.content.has_value());
        if (!whole)
            continue;  // blank either way
        EXPECT_NEAR(page.content->left, whole->left, 0.01);
        EXPECT_NEAR(page.content->top, whole->top, 0.01);
        EXPECT_NEAR(page.content->right, whole->right, 0.01);
        EXPECT_NEAR(page.content->bottom, whole->bottom, 0.01);
    }
}

// A generated book, typeset and scanned: running heads that alternate
// sides, a rule under each head, page numbers at the outer corner, a stamp
// in the margin of most pages, chapter openings without a head and a
// full-page figure. Left out, the marks leave each page's text block; the
// openings and the figure stay whole.

#include "crop/detect/marks.h"
#include "crop/detect/page_walk.h"
#include "render/page_render.h"
#include "render/page_source.h"
#include "render/render_scheduler.h"
#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/scan_page.h"
#include "tests/fixtures/temp_dir.h"

#include <gtest/gtest.h>

#include <mutex>
#include <random>
#include <string>

namespace {

constexpr int kPages = 60;
constexpr double kHeight = 792;

// Page `page` (1-based) of the book; without its marks when `bodyOnly`.
fixtures::PagePlan BookPage(int page, bool bodyOnly, bool stamp) {
    fixtures::PagePlan p;
    p.own.mediaBox = fixtures::Box{0, 0, 612, kHeight};
    const bool opening = page % 20 == 1, figure = page == 30;
    const bool odd = page % 2 == 1;
    if (figure) {
        p.blackRects.push_back({72, kHeight - 745, 540, kHeight - 44});
        return p;
    }
    if (!bodyOnly) {
        if (!opening) {
            p.texts.push_back(
                odd ? fixtures::Text{380, kHeight - 58, 9,
                                     "Chapter " + std::to_string(page / 20 + 1) + ": Of Margins and Measures"}
                    : fixtures::Text{72, kHeight - 58, 9, "A Generated Book"});
            p.blackRects.push_back({72, kHeight - 64.5, 540, kHeight - 64});
        }
        p.texts.push_back({odd ? 525.0 : 72.0, kHeight - 745, 9, std::to_string(page)});
        if (stamp)
            p.blackRects.push_back({558, kHeight - 340, 598, kHeight - 300});
    }
    double top = 100;
    if (opening) {
        p.texts.push_back({72, kHeight - 150, 22, "Chapter " + std::to_string(page / 20 + 1)});
        top = 190;
    }
    static const char *const kWords[] = {"margins", "of",   "the", "page", "are",   "measured", "and",  "kept",
                                         "with",    "care", "so",  "that", "every", "letter",   "stays"};
    for (int line = 0; top + 12 * line < 700; ++line) {
        std::string text;
        const int words = (line + page) % 7 == 6 ? 6 : 17 + (line % 3);  // a paragraph's last line is short
        for (int w = 0; w < words; ++w)
            text += std::string(w ? " " : "") + kWords[size_t(w * 7 + line + page) % 15];
        p.texts.push_back({72, kHeight - top - 8 - 12 * line, 10, text});
    }
    return p;
}

fixtures::DocPlan Book(bool bodyOnly) {
    fixtures::DocPlan plan;
    for (int page = 1; page <= kPages; ++page)
        plan.pages.push_back(BookPage(page, bodyOnly, page % 10 != 5));
    return plan;
}

// The book as scanned: each page rendered at 150 dpi onto grey paper with
// grain, compressed as JPEG.
fixtures::DocPlan Scanned(const std::string &typeset) {
    fixtures::DocPlan plan;
    std::unique_ptr<render::PageSource> source = render::PageSource::Open(typeset, 1);
    std::mt19937 random(7);
    std::normal_distribution<double> grain(0, 4);
    for (int page = 1; page <= kPages; ++page) {
        QRect rect;
        QString reason, note;
        render::BitmapHandle bitmap = render::RenderPageBitmap(*source, page, rect, reason, note, nullptr, true);
        const crop::PixelView view = crop::PixelView::Of(*bitmap);
        std::vector<unsigned char> grey(size_t(view.width) * size_t(view.height));
        for (int y = 0; y < view.height; ++y)
            for (int x = 0; x < view.width; ++x) {
                const uint8_t *px = view.Row(y) + view.channels * x;
                const double v = 30 + (view.channels == 1 ? px[0] : px[1]) * 200.0 / 255 + grain(random);
                grey[size_t(y) * size_t(view.width) + size_t(x)] = uint8_t(std::clamp(v, 0.0, 255.0));
            }
        fixtures::ScanPage scan;
        scan.jpeg = fixtures::JpegOf(grey, view.width, view.height, false, 85);
        scan.width = view.width;
        scan.height = view.height;
        plan.pages.push_back(fixtures::ScanPagePlan(scan, 612, kHeight));
    }
    return plan;
}

std::vector<crop::PageContent> Walk(const std::string &path, const crop::AutoCropOptions &options, int pages = kPages) {
    auto scheduler = std::make_shared<render::RenderScheduler>(path, 2);
    std::optional<crop::AutoCropResult> result;
    std::mutex mutex;
    const auto walk = crop::StartAutoCrop(scheduler, pages, options, {}, {}, [&](crop::AutoCropResult r) {
        std::lock_guard lock(mutex);
        result = std::move(r);
    });
    EXPECT_TRUE(walk->Wait());
    scheduler->Stop();
    return result ? result->pages : std::vector<crop::PageContent>();
}

std::vector<crop::PageContent> Walk(const std::string &path, unsigned ignore) {
    crop::AutoCropOptions options;
    options.ignore = ignore;
    return Walk(path, options);
}

// What sets `edge` of a page's content, by name; "" for nothing.
std::string SetBy(const crop::PageContent &page, crop::EdgeBlock::Edge edge) {
    for (const crop::EdgeSetter &s : page.setters)
        if (s.edge == edge)
            return crop::SetterName(s);
    return "";
}

void ExpectNear(const crop::CropRect &found, const crop::CropRect &want, double within, const char *what) {
    EXPECT_NEAR(found.left, want.left, within) << what;
    EXPECT_NEAR(found.top, want.top, within) << what;
    EXPECT_NEAR(found.right, want.right, within) << what;
    EXPECT_NEAR(found.bottom, want.bottom, within) << what;
}

}  // namespace

TEST(RepeatedMarks, BodyOnlyLeavesTheTextBlockOfTypesetAndScannedPagesAndKeepsOpeningsAndFiguresWhole) {
    ASSERT_TRUE(render::LoadRenderingLibrary());
    fixtures::TempDir dir;
    const std::string full = dir.file("book.pdf"), body = dir.file("body.pdf"), scanned = dir.file("scanned.pdf");
    fixtures::WritePdf(Book(false), full);
    fixtures::WritePdf(Book(true), body);
    fixtures::WritePdf(Scanned(full), scanned);

    const std::vector<crop::PageContent> blocks = Walk(body, 0), everything = Walk(full, 0);
    ASSERT_EQ(blocks.size(), size_t(kPages));
    ASSERT_EQ(everything.size(), size_t(kPages));
    for (const auto &[path, within] : {std::pair{full, 2.0}, std::pair{scanned, 2.5}}) {
        SCOPED_TRACE(path);
        const std::vector<crop::PageContent> found = Walk(path, crop::kAllMarks);
        ASSERT_EQ(found.size(), size_t(kPages));
        for (int i = 0; i < kPages; ++i) {
            SCOPED_TRACE("page " + std::to_string(i + 1));
            ASSERT_TRUE(found[size_t(i)].content && blocks[size_t(i)].content);
            ExpectNear(*found[size_t(i)].content, *blocks[size_t(i)].content, within, "the text block alone");
        }
    }
    // Stamps alone: the stamp goes, heads and numbers stay.
    const std::vector<crop::PageContent> unstamped = Walk(full, crop::kStamps);
    for (int i = 0; i < kPages; ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        const crop::CropRect c = *unstamped[size_t(i)].content, all = *everything[size_t(i)].content;
        EXPECT_LT(c.right, 545) << "the stamp is outside the crop";
        EXPECT_NEAR(c.top, all.top, 0.01);
        EXPECT_NEAR(c.bottom, all.bottom, 0.01);
    }
    // Nothing asked, nothing is taken apart: every mark counts.
    const std::unique_ptr<render::PageSource> source = render::PageSource::Open(full, 1);
    for (int page : {1, 2, 30, 45}) {
        QRect rect;
        QString reason, note;
        render::BitmapHandle bitmap = render::RenderPageBitmap(*source, page, rect, reason, note, nullptr, true);
        const std::optional<crop::CropRect> whole = crop::ContentOfPage(*bitmap, rect.width(), rect.height(), {});
        ASSERT_TRUE(whole);
        ExpectNear(*everything[size_t(page - 1)].content, *whole, 0.01, "as without looking for marks");
        EXPECT_TRUE(everything[size_t(page - 1)].blocks.empty());
    }
}

TEST(RepeatedMarks, KindsAreReadByNameAndUnknownOnesRefused) {
    unsigned kinds = 0;
    std::string error;
    EXPECT_TRUE(crop::ParseMarkKinds("Numbers, stamps", kinds, error));
    EXPECT_EQ(kinds, unsigned(crop::kPageNumbers | crop::kStamps));
    EXPECT_FALSE(crop::ParseMarkKinds("heads,footers", kinds, error));
    EXPECT_NE(error.find("\"footers\""), std::string::npos) << error;
    EXPECT_FALSE(crop::ParseMarkKinds("heads,", kinds, error));
    EXPECT_FALSE(crop::ParseMarkKinds("", kinds, error));
}

TEST(EdgeSetters, EachEdgeIsNamedAndWhatTheUserIgnoresIsLeftOut) {
    ASSERT_TRUE(render::LoadRenderingLibrary());
    fixtures::TempDir dir;
    const std::string full = dir.file("book.pdf");
    fixtures::WritePdf(Book(false), full);
    crop::AutoCropOptions explain;
    explain.explain = true;
    const std::vector<crop::PageContent> found = Walk(full, explain);
    ASSERT_EQ(found.size(), size_t(kPages));
    using E = crop::EdgeBlock;
    const crop::PageContent &even = found[1], &figure = found[29];
    EXPECT_EQ(SetBy(even, E::Top), "running head");
    EXPECT_EQ(SetBy(even, E::Bottom), "page number");
    EXPECT_EQ(SetBy(even, E::Right), "stamp");
    for (E::Edge edge : {E::Top, E::Bottom, E::Left, E::Right})
        EXPECT_EQ(SetBy(figure, edge), "figure");
    // Explaining changes no crop.
    const std::vector<crop::PageContent> plain = Walk(full, 0);
    ExpectNear(*even.content, *plain[1].content, 0.01, "as without explaining");
    // With the marks left out, the text block's own lines set the edges.
    crop::AutoCropOptions body = explain;
    body.ignore = crop::kAllMarks;
    const std::vector<crop::PageContent> bodies = Walk(full, body);
    EXPECT_EQ(SetBy(bodies[1], E::Top), "line");
    EXPECT_EQ(SetBy(bodies[1], E::Bottom), "line");

    // An area ignored on one page: the stamp there is out, elsewhere in.
    crop::AutoCropOptions area = explain;
    area.areas.push_back({{556, 298, 600, 342}, 2});  // points from the top
    const std::vector<crop::PageContent> left = Walk(full, area);
    EXPECT_LT(left[1].content->right, 545);
    EXPECT_NE(SetBy(left[1], E::Right), "stamp");
    EXPECT_NEAR(left[3].content->right, plain[3].content->right, 0.01);

    // A speck of dust: named with its size, left out when specks that
    // large are ignored.
    fixtures::DocPlan specked;
    for (int page = 0; page < 3; ++page) {
        fixtures::PagePlan p = BookPage(3 + 2 * page, true, false);
        p.blackRects.push_back({300, kHeight - 30, 302, kHeight - 28});
        specked.pages.push_back(p);
    }
    const std::string dusty = dir.file("dusty.pdf");
    fixtures::WritePdf(specked, dusty);
    const std::vector<crop::PageContent> withSpeck = Walk(dusty, explain, 3);
    ASSERT_EQ(withSpeck.size(), 3u);
    const std::string speck = SetBy(withSpeck[0], E::Top);
    EXPECT_TRUE(speck == "dust speck 2 pt" || speck == "dust speck 3 pt") << speck;  // with its grey rim
    crop::AutoCropOptions specks = explain;
    specks.specks = 3.5;
    const std::vector<crop::PageContent> clean = Walk(dusty, specks, 3);
    EXPECT_GT(clean[0].content->top, 90);
    EXPECT_EQ(SetBy(clean[0], E::Top), "line");
}

// The content detector on pages made in memory (born-digital and
// scanned-looking), and the plan of crops made from the content found:
// margins, one common size, outliers.

#include "crop/detect/auto_crop.h"
#include "crop/detect/content_detector.h"
#include "crop/detect/shrink.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using crop::AutoCropOptions;
using crop::ContentDetector;
using crop::CropRect;
using crop::PageContent;
using crop::PageSet;
using crop::PixelView;

namespace {

constexpr double kDensity = 151.5 / 72;  // pixels per point, as pages are rendered

// A page picture of w x h pixels at 24 bits, filled with one grey.
struct Page {
    Page(int w, int h, uint8_t paper = 255) {
        EXPECT_NE(image.Allocate(uint32_t(w), uint32_t(h), 24, render::kFormatBmp), nullptr);
        std::memset(image.Row(0), paper, size_t(image.Stride()) * uint32_t(h));
    }
    int W() const { return int(image.Width()); }
    int H() const { return int(image.Height()); }
    uint8_t *At(int x, int y) { return image.Row(image.Height() - 1 - uint32_t(y)) + 3 * x; }
    void Set(int x, int y, uint8_t b, uint8_t g, uint8_t r) {
        uint8_t *p = At(x, y);
        p[0] = b;
        p[1] = g;
        p[2] = r;
    }
    void Fill(const QRect &r, uint8_t grey) {
        for (int y = r.top(); y <= r.bottom(); ++y)
            for (int x = r.left(); x <= r.right(); ++x)
                Set(x, y, grey, grey, grey);
    }
    // Lines of "words": dark blocks with gaps, as text looks from afar.
    void Text(const QRect &block, uint8_t ink = 30) {
        for (int y = block.top(); y + 14 <= block.bottom() + 1; y += 26)
            for (int x = block.left(); x + 30 <= block.right() + 1; x += 40)
                Fill(QRect(x, y, 30, 14), ink);
    }
    // Grain and compression noise round the paper's grey (yellowed when
    // `yellow`), as a scanner leaves it; pixels darker than the paper keep
    // their value.
    void Grain(uint8_t paper, int spread, unsigned seed, bool yellow = false) {
        std::mt19937 random(seed);
        std::uniform_int_distribution<int> noise(-spread, spread);
        for (int y = 0; y < H(); ++y)
            for (int x = 0; x < W(); ++x) {
                uint8_t *p = At(x, y);
                if (p[0] != 255)
                    continue;
                const int v = std::clamp(paper + noise(random), 0, 255);
                Set(x, y, uint8_t(yellow ? std::max(0, v - 40) : v), uint8_t(yellow ? v - 8 : v), uint8_t(v));
            }
    }
    PixelView View() const { return PixelView::Of(image); }
    render::PageImage image;
};

PageContent Content(int page, double w, double h, std::optional<CropRect> content) {
    PageContent c;
    c.page = page;
    c.width = w;
    c.height = h;
    c.content = content;
    return c;
}

std::optional<QRect> Detect(const Page &p) {
    return ContentDetector(kDensity).Detect(p.View(), QRect(0, 0, p.W(), p.H()));
}

}  // namespace

TEST(ContentDetector, PureWhitePagesKeepEveryPixelThatIsNotWhite) {
    Page p(1200, 1600);
    p.Fill(QRect(200, 300, 700, 900), 40);
    // A hairline one pixel wide in the lightest grey, far out in the margin.
    for (int y = 100; y < 1500; ++y)
        p.Set(1100, y, 254, 254, 254);
    // A light grey word above everything.
    p.Fill(QRect(400, 50, 40, 10), 235);
    // A lone pixel: content on white paper, however small.
    p.Set(20, 1400, 250, 250, 250);
    EXPECT_TRUE(ContentDetector::EstimatePaper(p.View()).pureWhite);
    EXPECT_EQ(Detect(p), QRect(QPoint(20, 50), QPoint(1100, 1499)));

    // The same box as the single-page shrink finds on such pages.
    const auto shrunk = crop::ShrinkToContent(p.image, QSize(1200, 1600), CropRect{0, 0, 1200, 1600});
    ASSERT_TRUE(shrunk);
    EXPECT_EQ(*shrunk, (CropRect{20, 50, 1101, 1500}));

    // Within an area only what is inside counts.
    EXPECT_EQ(ContentDetector(kDensity).Detect(p.View(), QRect(150, 250, 900, 1000)),
              QRect(QPoint(200, 300), QPoint(899, 1199)));
}

TEST(ContentDetector, BlankPagesHaveNoContent) {
    Page white(600, 800);
    EXPECT_FALSE(Detect(white));
    Page scan(600, 800);
    scan.Grain(225, 10, 1);
    EXPECT_FALSE(ContentDetector::EstimatePaper(scan.View()).pureWhite);
    EXPECT_FALSE(Detect(scan));
    // Dust alone is no content either.
    scan.Fill(QRect(100, 100, 3, 3), 20);
    scan.Fill(QRect(400, 700, 2, 4), 60);
    EXPECT_FALSE(Detect(scan));
}

TEST(ContentDetector, ScannedPagesFindTheTextAndIgnoreDustAndTheScannersEdge) {
    struct Row {
        const char *name;
        uint8_t paper;
        int spread;
        bool yellow;
    };
    for (const Row &row : {Row{"grey paper", 215, 6, false}, Row{"noisy paper", 200, 18, false},
                           Row{"yellowed paper", 235, 8, true}, Row{"clean grey", 230, 0, false}}) {
        SCOPED_TRACE(row.name);
        Page p(1240, 1650);
        const QRect text(180, 220, 860, 1180);
        p.Text(text);
        // A light grey caption below: faint, but clearly off the paper.
        p.Fill(QRect(300, 1480, 500, 12), uint8_t(row.paper - 60));
        // A dark band down the left edge and along the bottom, where the
        // scanner's lid and the book's edge show, fading inwards.
        p.Fill(QRect(0, 0, 40, 1650), 25);
        p.Fill(QRect(40, 0, 12, 1650), 90);
        p.Fill(QRect(0, 1610, 1240, 40), 35);
        // Specks of dust in every margin, much smaller than a letter.
        for (QPoint at : {QPoint(90, 60), QPoint(1150, 80), QPoint(1190, 900), QPoint(100, 1550), QPoint(700, 1560)})
            p.Fill(QRect(at, QSize(3, 2)), 30);
        p.Grain(row.paper, row.spread, 7, row.yellow);
        const crop::Paper paper = ContentDetector::EstimatePaper(p.View());
        EXPECT_FALSE(paper.pureWhite);
        const auto found = Detect(p);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->top(), 220);
        EXPECT_EQ(found->left(), 180);
        EXPECT_EQ(found->bottom(), 1491);
        EXPECT_EQ(found->right(), 1009);  // the last word of the lines
    }
}

TEST(ContentDetector, NothingPrintedIsCutOnScans) {
    // A figure running off the right edge and a page number alone at the
    // foot: the figure is not an edge band, the number is not dust.
    Page p(1200, 1600);
    p.Text(QRect(150, 200, 700, 1000));
    p.Fill(QRect(900, 500, 300, 600), 70);
    p.Fill(QRect(590, 1500, 8, 15), 30);  // "1" at 8 points
    p.Grain(220, 8, 3);
    const auto found = Detect(p);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, QRect(QPoint(150, 200), QPoint(1199, 1514)));

    // A dark band that runs a third of the way in is printed (a bleed
    // photograph), not the scanner's edge.
    Page bleed(1200, 1600);
    bleed.Fill(QRect(0, 0, 1200, 560), 60);
    bleed.Text(QRect(150, 700, 700, 600));
    bleed.Grain(225, 6, 4);
    EXPECT_EQ(Detect(bleed), QRect(QPoint(0, 0), QPoint(1199, 1285)));

    // A page with no paper to speak of (a photograph): every pixel counts,
    // so it is never cut.
    Page photo(600, 800);
    for (int x = 0; x < 600; ++x)
        photo.Fill(QRect(x, 0, 1, 800), uint8_t(30 + x * 200 / 600));
    EXPECT_EQ(Detect(photo), QRect(0, 0, 600, 800));
}

// A sheet on a black lid, an inverted page and a coloured slide: each is
// cut to its print, not to the whole picture.
TEST(ContentDetector, DarkOrColouredPaperAndASheetOnADarkLidGiveThePrint) {
    const QRect text(300, 320, 640, 900);
    Page lid(1240, 1650, 18);
    lid.Fill(QRect(160, 140, 920, 1380), 255);
    lid.Text(text);
    lid.Fill(QRect(600, 1420, 24, 14), 30);  // the page number, near the sheet's foot
    lid.Grain(212, 6, 3);
    ASSERT_TRUE(ContentDetector::EstimatePaper(lid.View()).sheet.isValid());
    EXPECT_EQ(Detect(lid), QRect(QPoint(300, 320), QPoint(929, 1433)));

    Page inverted(1240, 1650, 22);
    inverted.Text(text, 235);
    EXPECT_EQ(Detect(inverted), QRect(QPoint(300, 320), QPoint(929, 1217)));

    Page slide(1240, 930);
    for (int y = 0; y < slide.H(); ++y)
        for (int x = 0; x < slide.W(); ++x)
            slide.Set(x, y, 190, 80, 30);  // deep blue
    for (int x = 200; x < 900; x += 40)
        for (int y = 300; y < 314; ++y)
            for (int dx = 0; dx < 30; ++dx)
                slide.Set(x + dx, y, 40, 220, 250);  // yellow words
    EXPECT_EQ(Detect(slide), QRect(QPoint(200, 300), QPoint(909, 313)));
}

TEST(AutoCropPlan, MarginsStayOnThePageAndBlankPagesKeepNoCrop) {
    std::vector<PageContent> pages = {
        Content(1, 600, 800, CropRect{100, 120, 500, 700}),
        Content(2, 600, 800, CropRect{5, 2, 590, 795}),  // content near every edge
        Content(3, 600, 800, std::nullopt),              // blank
        Content(4, 400, 500, CropRect{50.004, 60.333, 350.001, 450}),
    };
    AutoCropOptions options;
    options.margin = 10;
    const crop::AutoCropPlan plan = crop::PlanAutoCrop(pages, options);
    EXPECT_EQ(plan.rects.at(1), (CropRect{90, 110, 510, 710}));
    EXPECT_EQ(plan.rects.at(2), (CropRect{0, 0, 600, 800}));
    EXPECT_FALSE(plan.rects.count(3));
    // Rounded outwards to the crop list's two decimals.
    EXPECT_EQ(plan.rects.at(4), (CropRect{40, 50.33, 360.01, 460}));
    EXPECT_EQ(plan.blank, 1);
    // Inner and outer: the spine's side of each page.
    options.sides = crop::SideMargins{20, 0, 5, 0, true};
    const crop::AutoCropPlan book = crop::PlanAutoCrop(pages, options);
    EXPECT_EQ(book.rects.at(1), (CropRect{80, 120, 505, 700}));
    EXPECT_EQ(book.rects.at(4), (CropRect{45, 60.33, 370.01, 450}));
}

TEST(AutoCropPlan, APageCutPastTheCapKeepsNoCropAndIsListedOnce) {
    std::vector<PageContent> pages = {
        Content(1, 600, 800, CropRect{100, 100, 500, 700}),  // half of it cut away
        Content(2, 600, 800, CropRect{280, 380, 320, 420}),  // nearly all of it, and far out: listed once
    };
    for (int i = 3; i <= 8; ++i)
        pages.push_back(Content(i, 600, 800, CropRect{100, 100, 500, 700}));
    AutoCropOptions options;
    options.cap = 60;
    const crop::AutoCropPlan plan = crop::PlanAutoCrop(pages, options);
    EXPECT_TRUE(plan.rects.count(1));
    EXPECT_FALSE(plan.rects.count(2));
    ASSERT_EQ(plan.outliers.size(), 1u);
    EXPECT_EQ(plan.outliers[0].page, 2);
    EXPECT_NE(plan.outliers[0].reason.find("more than the 60 % allowed"), std::string::npos) << plan.outliers[0].reason;
}

TEST(AutoCropPlan, OneCommonSizeMirrorsOddAndEvenPagesAndCoversBlankOnes) {
    // A book: odd pages have their text to the right, even ones to the left.
    std::vector<PageContent> pages;
    for (int page = 1; page <= 6; ++page) {
        const bool odd = page % 2 == 1;
        const double shift = page == 3 ? 20 : 0;  // one page's text a little lower
        pages.push_back(Content(page, 600, 800,
                                page == 4 ? std::nullopt
                                          : std::optional<CropRect>(odd ? CropRect{150, 100 + shift, 520, 700 + shift}
                                                                        : CropRect{80, 100, 430, 690})));
    }
    pages.push_back(Content(7, 300, 400, CropRect{160, 110, 290, 390}));  // a small inserted page
    AutoCropOptions options;
    options.uniform = true;
    const crop::AutoCropPlan plan = crop::PlanAutoCrop(pages, options);
    // Odd union 150..520 x 100..720 (370 x 620); even 80..430 x 100..690
    // (350 x 590): both 370 x 620 about their own centres.
    EXPECT_EQ(plan.rects.at(1), (CropRect{150, 100, 520, 720}));
    EXPECT_EQ(plan.rects.at(2), (CropRect{70, 85, 440, 705}));
    EXPECT_EQ(plan.rects.at(4), plan.rects.at(2));  // blank, the same size
    for (int page = 1; page <= 6; ++page) {
        const CropRect &r = plan.rects.at(page);
        EXPECT_DOUBLE_EQ(r.right - r.left, 370);
        EXPECT_DOUBLE_EQ(r.bottom - r.top, 620);
    }
    // Page 7 is odd, smaller than the crop: shifted to its corner and
    // clipped to it.
    EXPECT_EQ(plan.rects.at(7), (CropRect{0, 0, 300, 400}));

    // A margin widens the common size and shifts it back onto the page.
    options.margin = 90;
    const crop::AutoCropPlan wide = crop::PlanAutoCrop(pages, options);
    // Odd 60..610 x 10..810 and even -10..520 x 10..780 become 550 x 800
    // each, then are moved onto the 600 x 800 pages.
    EXPECT_EQ(wide.rects.at(1), (CropRect{50, 0, 600, 800}));
    EXPECT_EQ(wide.rects.at(2), (CropRect{0, 0, 550, 800}));
}

TEST(AutoCropPlan, OutliersReachFarOutOrAreBlankAndMirroredMarginsAndShortLinesAreNot) {
    // A book: odd pages' text 100..500, even pages' 60..460, a little
    // unsteady, as scans and ragged lines are.
    std::vector<PageContent> pages;
    for (int page = 1; page <= 60; ++page) {
        const double left = page % 2 ? 100 : 60, jitter = (page * 7) % 5;
        pages.push_back(
            Content(page, 600, 800, CropRect{left + jitter, 72 - jitter, left + 400 - jitter, 720 + jitter}));
    }
    pages[4].content = CropRect{0, 0, 600, 800};      // page 5: a full-page figure
    pages[6].content = std::nullopt;                  // page 7: blank
    pages[8].content = CropRect{100, 72, 550, 720};   // page 9: a stray mark 50 pt out at the right
    pages[10].content = CropRect{100, 72, 515, 720};  // page 11: a line 15 pt longer: not far
    pages[12].content = CropRect{100, 72, 300, 720};  // page 13: short lines
    pages[13].content = CropRect{60, 72, 460, 400};   // page 14: a chapter's end
    const std::vector<crop::Outlier> outliers = crop::FindOutliers(pages);
    ASSERT_EQ(outliers.size(), 3u);
    EXPECT_EQ(outliers[0].page, 5);
    EXPECT_EQ(outliers[1].page, 7);
    EXPECT_EQ(outliers[1].brief, "blank");
    EXPECT_EQ(outliers[2].page, 9);
    EXPECT_EQ(outliers[2].brief.rfind("right edge 5", 0), 0u) << outliers[2].brief;  // about 50 pt
    EXPECT_NE(outliers[2].reason.find("pt further right than on most odd pages"), std::string::npos)
        << outliers[2].reason;

    // Too few pages to tell the sides' margins apart: measured together.
    const std::vector<PageContent> few = {
        Content(1, 600, 800, CropRect{100, 72, 500, 720}), Content(2, 600, 800, CropRect{98, 72, 500, 720}),
        Content(3, 600, 800, CropRect{100, 72, 500, 720}), Content(4, 600, 800, CropRect{10, 72, 460, 720})};
    const std::vector<crop::Outlier> listed = crop::FindOutliers(few);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].page, 4);
    EXPECT_NE(listed[0].reason.find("most pages"), std::string::npos) << listed[0].reason;
}

TEST(AutoCropPlan, PageSets) {
    EXPECT_EQ(crop::PagesOf(PageSet::All, 3), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(crop::PagesOf(PageSet::Even, 5), (std::vector<int>{2, 4}));
    EXPECT_EQ(crop::PagesOf(PageSet::Odd, 5), (std::vector<int>{1, 3, 5}));
    PageSet set;
    EXPECT_TRUE(crop::ParsePageSet("odd", set));
    EXPECT_EQ(set, PageSet::Odd);
    EXPECT_FALSE(crop::ParsePageSet("Odd pages", set));
}

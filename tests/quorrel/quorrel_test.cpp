// The crop tool, end to end: crop lists written the way the program writes
// them, the output rendered and compared with the chosen region of the
// input, and everything else of the file kept.

#include "crop/detect/skew.h"
#include "quorrel/crop_list.h"
#include "quorrel/cropper.h"
#include "render/page_render.h"
#include "render/page_source.h"
#include "tests/quorrel/quorrel_tool.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <qpdf/Pl_Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageLabelDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using fixtures::Box;
using fixtures::DocPlan;
using fixtures::PagePlan;
using quorrel_tool::Crop;
using quorrel_tool::Q;
using quorrel_tool::Quorrel;
using quorrel_tool::Rendered;
using quorrel_tool::ToolRun;

namespace {

// A rectangle on the shown page, top-down, in points.
struct Shown {
    int page;
    double left, top, right, bottom;
};

// The list line the program writes: single precision, two decimals, y
// upwards from trunc(H) below the top.
void WriteList(const std::string &path, const std::vector<Shown> &rects, const std::vector<double> &heights,
               const char *lineEnd = "\n") {
    std::ofstream out(path, std::ios::binary);
    char line[200];
    for (const Shown &r : rects) {
        const double H = std::trunc(heights[size_t(r.page - 1)]);
        std::snprintf(line, sizeof line, "Page %d, [%.2f,%.2f,%.2f,%.2f]%s", r.page, double(float(r.left)),
                      double(float(H - r.top)), double(float(r.right)), double(float(H - r.bottom)), lineEnd);
        out << line;
    }
}

// Content that shows where every part of a page went: black blocks of
// different sizes spread unevenly, and text.
PagePlan Marked(Box media) {
    PagePlan p;
    p.own.mediaBox = media;
    const double w = media.x1 - media.x0, h = media.y1 - media.y0;
    for (int i = 0; i < 9; ++i) {
        const double x = media.x0 + w * (0.05 + 0.1 * i), y = media.y0 + h * (0.08 + 0.09 * ((i * 4) % 9));
        p.blackRects.push_back({x, y, x + w * (0.02 + 0.01 * i), y + h * (0.03 + 0.005 * i)});
    }
    p.texts.push_back({media.x0 + w * 0.3, media.y0 + h * 0.5, 14, "Orvane crop check"});
    return p;
}

// Every pixel of `out` matches `in` at the offset where the crop starts,
// to within one pixel at 144 dpi: its grey lies within the range of the
// input's pixels around that place (edges land on other fractions of a
// pixel, so their shading differs).
void ExpectRegion(const std::vector<uint8_t> &in, int iw, int ih, const std::vector<uint8_t> &out, int ow, int oh,
                  double ox, double oy, double sx, double sy) {
    int bad = 0;
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x) {
            const int v = out[size_t(y) * size_t(ow) + size_t(x)];
            int lo = 255, hi = 0;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) {
                    // The input pixel under this output pixel's centre, and its neighbours.
                    const int ix = int(std::floor(ox + (x + 0.5) * sx)) + dx;
                    const int iy = int(std::floor(oy + (y + 0.5) * sy)) + dy;
                    if (ix < 0 || iy < 0 || ix >= iw || iy >= ih)
                        continue;
                    lo = std::min(lo, int(in[size_t(iy) * size_t(iw) + size_t(ix)]));
                    hi = std::max(hi, int(in[size_t(iy) * size_t(iw) + size_t(ix)]));
                }
            bad += v < lo - 32 || v > hi + 32;
        }
    EXPECT_EQ(bad, 0) << "pixels of the output that are nowhere near the input's";
}

class QuorrelTest : public ::testing::Test {
protected:
    fixtures::TempDir dir;

    // Crops page by page and checks every cropped page against the input.
    void CheckCrops(const DocPlan &plan, const std::function<Shown(int page, double w, double h)> &choose) {
        const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf"), list = dir.file("list.txt");
        fixtures::WritePdf(plan, in);
        Rendered input(in);
        ASSERT_TRUE(input.Ok());
        std::vector<Shown> rects;
        std::vector<double> heights;
        for (int page = 1; page <= input.Pages(); ++page) {
            auto [w, h] = input.Size(page);
            heights.push_back(h);
            rects.push_back(choose(page, w, h));
        }
        WriteList(list, rects, heights);
        ToolRun r = Crop(list, in, out);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        Rendered output(out);
        ASSERT_TRUE(output.Ok());
        ASSERT_EQ(output.Pages(), input.Pages());
        for (const Shown &s : rects) {
            SCOPED_TRACE("page " + std::to_string(s.page));
            auto [ow, oh] = output.Size(s.page);
            EXPECT_NEAR(ow, s.right - s.left, 0.02);
            EXPECT_NEAR(oh, s.bottom - s.top, 0.02);
            int iw, ih, pw, ph;
            const std::vector<uint8_t> a = input.Grey(s.page, iw, ih), b = output.Grey(s.page, pw, ph);
            ASSERT_FALSE(a.empty());
            ASSERT_FALSE(b.empty());
            // Each picture's scale is its pixel size over its size in points.
            const double inX = iw / input.Size(s.page).first, inY = ih / input.Size(s.page).second;
            ExpectRegion(a, iw, ih, b, pw, ph, s.left * inX, s.top * inY, inX * ow / pw, inY * oh / ph);
        }
    }
};

Shown Inside(int page, double w, double h) {
    return {page, w * 0.11 + 0.37, h * 0.13 + 0.21, w * 0.83 + 0.13, h * 0.91 - 0.4};
}

TEST_F(QuorrelTest, EveryRotationCropsTheShownRegion) {
    DocPlan plan;
    for (int rotate : {0, 90, 180, 270, -90, 450}) {
        PagePlan p = Marked({0, 0, 612, 792});
        p.own.rotate = rotate;
        plan.pages.push_back(p);
    }
    CheckCrops(plan, Inside);
}

TEST_F(QuorrelTest, OffsetNegativeAndCroppedBoxesCropTheShownRegion) {
    DocPlan plan;
    PagePlan offset = Marked({100, 200, 500, 800});
    PagePlan negative = Marked({-300, -400, 300, 400});
    negative.own.rotate = 90;
    PagePlan cropped = Marked({0, 0, 612, 792});
    cropped.own.cropBox = Box{40, 50, 560, 740};
    cropped.own.rotate = 270;
    PagePlan sticking = Marked({0, 0, 400, 500});
    sticking.own.cropBox = Box{-50, 100, 300, 900};
    PagePlan fractional = Marked({0, 0, 595.28, 841.89});  // A4 in points: H is not whole
    fractional.own.rotate = 180;
    plan.pages = {offset, negative, cropped, sticking, fractional, Marked({0, 0, 300, 1200})};
    CheckCrops(plan, Inside);
}

TEST_F(QuorrelTest, InheritedBoxesAndRotationCount) {
    DocPlan plan;
    plan.root.mediaBox = Box{0, 0, 500, 700};
    plan.root.rotate = 90;
    plan.group = fixtures::Inheritable{Box{-20, -30, 380, 470}, Box{0, 0, 300, 400}, 180};
    plan.groupFirst = 1;
    plan.groupCount = 2;
    for (int i = 0; i < 4; ++i) {
        PagePlan p = Marked({0, 0, 400, 500});
        p.own.mediaBox.reset();  // inherited
        plan.pages.push_back(p);
    }
    plan.pages[3].own.rotate = 0;
    CheckCrops(plan, Inside);
}

TEST_F(QuorrelTest, ARectanglePastTheShownPageShowsNothingThePageHid) {
    // Crop boxes offset, reversed, negative, inherited and rotated; a
    // rectangle reaching 100 pt past every edge of each shown page gives
    // each page the very view it had.
    DocPlan plan;
    plan.group = fixtures::Inheritable{std::nullopt, Box{50, 60, 450, 700}, std::nullopt};
    plan.groupFirst = 4;
    plan.groupCount = 1;
    PagePlan offset = Marked({0, 0, 612, 792});
    offset.own.cropBox = Box{100, 150, 500, 700};
    PagePlan negative = Marked({-400, -400, 400, 400});
    negative.own.cropBox = Box{-300, -200, 100, 300};
    negative.own.rotate = 90;
    PagePlan reversed = Marked({0, 0, 595.276, 841.89});
    reversed.own.cropBox = Box{400, 700, 100, 100};
    PagePlan rotated = Marked({0, 0, 612, 792});
    rotated.own.cropBox = Box{30, 40, 560, 700};
    rotated.own.rotate = 270;
    plan.pages = {offset, negative, rotated, reversed, Marked({0, 0, 612, 792})};
    const std::string in = dir.file("in.pdf"), list = dir.file("list.txt"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    Rendered input(in);
    std::vector<Shown> rects;
    std::vector<double> heights;
    for (int page = 1; page <= 5; ++page) {
        auto [w, h] = input.Size(page);
        heights.push_back(h);
        rects.push_back({page, -100, -100, w + 100, h + 100});
    }
    WriteList(list, rects, heights);
    ToolRun r = Crop(list, in, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Rendered output(out);
    for (int page = 1; page <= 5; ++page) {
        SCOPED_TRACE("page " + std::to_string(page));
        EXPECT_EQ(output.Size(page), input.Size(page));
        int w1, h1, w2, h2;
        EXPECT_EQ(output.Grey(page, w1, h1), input.Grey(page, w2, h2));
    }

    // The reversed box shows 300 x 600 pt; the line runs past its right edge.
    std::ofstream(list, std::ios::trunc) << "Page 4, [100.00,550.00,600.00,150.00]\n";
    r = Crop(list, in, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    QPDF pdf;
    pdf.processFile(out.c_str());
    const QPDFObjectHandle::Rectangle box =
        QPDFPageDocumentHelper(pdf).getAllPages()[3].getObjectHandle().getKey("/CropBox").getArrayAsRectangle();
    EXPECT_DOUBLE_EQ(box.llx, 200);
    EXPECT_DOUBLE_EQ(box.lly, 250);
    EXPECT_DOUBLE_EQ(box.urx, 400);
    EXPECT_DOUBLE_EQ(box.ury, 650);
}

TEST_F(QuorrelTest, MarginsAddedShowNothingTheOldCropHidNorKeepItToBeExtracted) {
    DocPlan plan;
    PagePlan page;
    page.own.mediaBox = Box{0, 0, 612, 792};
    page.own.cropBox = Box{0, 0, 400, 792};
    page.texts = {{100, 400, 24, "Visible"}, {450, 400, 24, "HIDDEN"}};  // the second under the old crop
    page.blackRects = {{420, 100, 470, 150}};
    plan.pages = {page};
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    std::ofstream(dir.file("list.txt")) << "Page 1, [0.00,792.00,450.00,0.00]\n";  // 50 pt past the right edge
    QStringList args = {
        "-s", Q("setcropfile=" + dir.file("list.txt")), "-i", Q(in), "-o", Q(out), "--add-margins", "--trim-box"};
    const ToolRun r = quorrel_tool::Quorrel(args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Rendered copy(out), original(in);
    EXPECT_NEAR(copy.Size(1).first, 450, 0.01);
    EXPECT_NEAR(copy.Size(1).second, 792, 0.01);
    int w = 0, h = 0;
    const std::vector<uint8_t> grey = copy.Grey(1, w, h);
    int darkInMargin = 0, dark = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool isDark = grey[size_t(y) * size_t(w) + size_t(x)] < 128;
            dark += isDark;
            darkInMargin += isDark && x >= w * 400 / 450;
        }
    EXPECT_EQ(darkInMargin, 0) << "the new margin is blank";
    EXPECT_GT(dark, 0) << "what the page showed is still there";
    QPDF pdf;
    pdf.processFile(out.c_str());
    Pl_Buffer buffer("contents");
    QPDFPageDocumentHelper(pdf).getAllPages()[0].pipeContents(&buffer);
    std::unique_ptr<Buffer> bytes(buffer.getBuffer());
    const std::string contents(reinterpret_cast<const char *>(bytes->getBuffer()), bytes->getSize());
    EXPECT_NE(contents.find("Visible"), std::string::npos);
    EXPECT_EQ(contents.find("HIDDEN"), std::string::npos) << "what the old crop hid cannot be extracted";
    const QPDFObjectHandle::Rectangle trim =
        QPDFPageDocumentHelper(pdf).getAllPages()[0].getObjectHandle().getKey("/TrimBox").getArrayAsRectangle();
    EXPECT_NEAR(trim.urx - trim.llx, 450, 0.01) << "the trim box is the grown page";
}

TEST_F(QuorrelTest, InvertedRectanglesCropTheSameRegionAndEmptyOnesNothing) {
    DocPlan plan;
    for (int i = 0; i < 4; ++i) {
        PagePlan p = Marked({0, 0, 612, 792});
        p.own.rotate = 90 * i;
        plan.pages.push_back(p);
    }
    const std::string in = dir.file("in.pdf");
    fixtures::WritePdf(plan, in);
    std::vector<double> heights = {792, 612, 792, 612};
    const std::vector<Shown> normal = {{1, 50, 60, 400, 500}, {2, 30, 40, 700, 500}};
    const std::vector<Shown> inverted = {{1, 400, 500, 50, 60}, {2, 700, 40, 30, 500}};
    WriteList(dir.file("normal.txt"), normal, heights);
    WriteList(dir.file("inverted.txt"), inverted, heights, "\r\n");
    ASSERT_EQ(Crop(dir.file("normal.txt"), in, dir.file("a.pdf")).exitCode, 0);
    ASSERT_EQ(Crop(dir.file("inverted.txt"), in, dir.file("b.pdf")).exitCode, 0);
    Rendered a(dir.file("a.pdf")), b(dir.file("b.pdf")), original(in);
    for (int page = 1; page <= 4; ++page) {
        int w1, h1, w2, h2;
        EXPECT_EQ(a.Grey(page, w1, h1), b.Grey(page, w2, h2)) << page;
    }
    // Pages 3 and 4 had no line: unchanged. A zero rectangle changes nothing either.
    std::ofstream(dir.file("zeros.txt")) << "Page 1, [0.00,0.00,0.00,0.00]\nPage 2, [100.00,300.00,100.00,50.00]\n";
    ASSERT_EQ(Crop(dir.file("zeros.txt"), in, dir.file("c.pdf")).exitCode, 0);
    Rendered c(dir.file("c.pdf"));
    for (int page = 1; page <= 4; ++page) {
        int w1, h1, w2, h2;
        EXPECT_EQ(c.Grey(page, w1, h1), original.Grey(page, w2, h2)) << page;
        if (page >= 3) {
            EXPECT_EQ(a.Grey(page, w1, h1), original.Grey(page, w2, h2)) << page;
        }
    }
}

TEST_F(QuorrelTest, LinksOutlinePageCountAndEncryptionSurvive) {
    DocPlan plan = fixtures::ManyPages(6, false);
    plan.pages[0].links.push_back({{72, 72, 200, 100}, 5, {}});
    plan.pages[2].links.push_back({{72, 600, 300, 620}, 0, "https://example.org/"});
    plan.pages[2].boxAnnotations.push_back({300, 300, 350, 350});
    plan.outline = {{"First", 1}, {"Third", 3}, {"Last", 6}};
    plan.pages[0].trimBox = Box{40, 40, 300, 750};   // beyond the crop's right and top
    plan.pages[0].bleedBox = Box{520, 0, 612, 792};  // wholly outside it
    plan.objectStreams = true;
    plan.encryption = fixtures::Encryption::EmptyUserPassword;
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    std::ofstream(dir.file("list.txt")) << "Page 1, [50.00,700.00,500.00,50.00]\nPage 3, [10.00,780.00,600.00,10.00]\n"
                                           "Page 6, [50.00,700.00,500.00,50.00]\n";
    ToolRun r = Crop(dir.file("list.txt"), in, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;

    QPDF before, after;
    before.processFile(in.c_str());
    after.processFile(out.c_str());
    EXPECT_TRUE(after.isEncrypted());
    auto pagesBefore = QPDFPageDocumentHelper(before).getAllPages();
    auto pagesAfter = QPDFPageDocumentHelper(after).getAllPages();
    ASSERT_EQ(pagesAfter.size(), pagesBefore.size());
    for (size_t i = 0; i < pagesBefore.size(); ++i)
        EXPECT_EQ(pagesAfter[i].getAnnotations().size(), pagesBefore[i].getAnnotations().size()) << i;
    // The link on page 1 still leads to page 5.
    QPDFObjectHandle dest = pagesAfter[0].getAnnotations()[0].getObjectHandle().getKey("/Dest");
    ASSERT_TRUE(dest.isArray());
    EXPECT_EQ(dest.getArrayItem(0).getObjGen(), pagesAfter[4].getObjectHandle().getObjGen());
    QPDFOutlineDocumentHelper outline(after);
    ASSERT_EQ(outline.getTopLevelOutlines().size(), 3u);
    EXPECT_EQ(outline.getTopLevelOutlines()[2].getTitle(), "Last");
    // The crop is in the crop box; the media box stays.
    EXPECT_TRUE(pagesAfter[0].getObjectHandle().getKey("/CropBox").isRectangle());
    EXPECT_FALSE(pagesAfter[1].getObjectHandle().hasKey("/CropBox"));
    auto media = pagesAfter[0].getAttribute("/MediaBox", false).getArrayAsRectangle();
    EXPECT_EQ(media.urx, 612);
    auto crop = pagesAfter[0].getObjectHandle().getKey("/CropBox").getArrayAsRectangle();
    EXPECT_NEAR(crop.llx, 50, 1e-6);
    EXPECT_NEAR(crop.lly, 50, 1e-6);  // a whole-point page: y is user space
    EXPECT_NEAR(crop.urx, 500, 1e-6);
    EXPECT_NEAR(crop.ury, 700, 1e-6);

    // With --media-box the media box follows.
    ASSERT_EQ(Crop(dir.file("list.txt"), in, dir.file("media.pdf"), true).exitCode, 0);
    QPDF withMedia;
    withMedia.processFile(dir.file("media.pdf").c_str());
    // Pages 1 and 6 have the same rectangle, page 3 another: each page
    // carries its own box, in both keys.
    auto withMediaPages = QPDFPageDocumentHelper(withMedia).getAllPages();
    for (size_t i : {0, 5}) {
        for (const char *key : {"/MediaBox", "/CropBox"}) {
            auto m = withMediaPages[i].getObjectHandle().getKey(key).getArrayAsRectangle();
            EXPECT_NEAR(m.llx, 50, 1e-6) << i << key;
            EXPECT_NEAR(m.lly, 50, 1e-6) << i << key;
            EXPECT_NEAR(m.urx, 500, 1e-6) << i << key;
            EXPECT_NEAR(m.ury, 700, 1e-6) << i << key;
        }
    }
    // The trim box is kept within the new media box; a bleed box wholly
    // outside it goes.
    auto trim = withMediaPages[0].getObjectHandle().getKey("/TrimBox").getArrayAsRectangle();
    EXPECT_EQ(std::vector<double>({trim.llx, trim.lly, trim.urx, trim.ury}), std::vector<double>({50, 50, 300, 700}));
    EXPECT_FALSE(withMediaPages[0].getObjectHandle().hasKey("/BleedBox"));
    auto third = withMediaPages[2].getObjectHandle().getKey("/MediaBox").getArrayAsRectangle();
    EXPECT_NEAR(third.llx, 10, 1e-6);
    EXPECT_NEAR(third.urx, 600, 1e-6);
    EXPECT_FALSE(withMediaPages[1].getObjectHandle().hasKey("/CropBox"));
}

TEST_F(QuorrelTest, PagesLeftOutLeadTheirLinksAndOutlineToTheNextPageKept) {
    DocPlan plan = fixtures::ManyPages(6, false);
    plan.pages[0].links.push_back({{72, 72, 200, 100}, 3, {}});
    plan.pages[1].links.push_back({{72, 72, 200, 100}, 6, {}});  // to the last page: nothing follows it
    plan.outline = {{"First", 1}, {"Third", 3}, {"Last", 6}};
    plan.pages[2].texts.push_back({100, 100, 12, "SECRETWORD"});
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, dir.file("plain.pdf"));
    {
        // Named elsewhere too, as a structure element names its page.
        QPDF named;
        named.processFile(dir.file("plain.pdf").c_str());
        named.getRoot().replaceKey(
            "/Index", QPDFObjectHandle::newArray({QPDFPageDocumentHelper(named).getAllPages()[2].getObjectHandle()}));
        // Pages i to iii, then 1, 2, 3.
        named.getRoot().replaceKey("/PageLabels", QPDFObjectHandle::parse("<< /Nums [0 << /S /r >> 3 << /S /D >>] >>"));
        QPDFWriter writer(named, in.c_str());
        writer.write();
    }
    std::ofstream(dir.file("list.txt")) << "Page 3, left out\nPage 4, [50,700,500,50]\nPage 6, left out\n";
    const ToolRun r = Crop(dir.file("list.txt"), in, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    QPDF copy;
    copy.processFile(out.c_str());
    auto pages = QPDFPageDocumentHelper(copy).getAllPages();
    ASSERT_EQ(pages.size(), 4u);
    EXPECT_EQ(copy.getRoot().getKey("/Pages").getKey("/Count").getIntValue(), 4);
    EXPECT_TRUE(pages[2].getObjectHandle().hasKey("/CropBox")) << "the old page 4 is third";
    // Each page keeps its label: i, ii, 1, 2.
    QPDFPageLabelDocumentHelper labels(copy);
    EXPECT_EQ(labels.getLabelForPage(2).getKey("/S").getName(), "/D");
    EXPECT_EQ(labels.getLabelForPage(2).getKey("/St").getIntValue(), 1);
    EXPECT_EQ(labels.getLabelForPage(3).getKey("/St").getIntValue(), 2);
    EXPECT_EQ(labels.getLabelForPage(1).getKey("/S").getName(), "/r");
    QPDFObjectHandle dest = pages[0].getAnnotations()[0].getObjectHandle().getKey("/Dest");
    EXPECT_EQ(dest.getArrayItem(0).getObjGen(), pages[2].getObjectHandle().getObjGen());
    EXPECT_TRUE(pages[1].getAnnotations().empty()) << "a link that leads nowhere now goes";
    QPDFOutlineDocumentHelper outline(copy);
    ASSERT_EQ(outline.getTopLevelOutlines().size(), 2u);
    EXPECT_EQ(outline.getTopLevelOutlines()[1].getTitle(), "Third");
    EXPECT_EQ(outline.getTopLevelOutlines()[1].getDestPage().getObjGen(), pages[2].getObjectHandle().getObjGen());
    // Nothing of a page left out is in the copy, whatever still names it.
    for (QPDFObjectHandle object : copy.getAllObjects())
        if (object.isStream()) {
            std::shared_ptr<Buffer> data = object.getStreamData(qpdf_dl_generalized);
            const std::string text(reinterpret_cast<const char *>(data->getBuffer()), data->getSize());
            EXPECT_EQ(text.find("SECRETWORD"), std::string::npos);
        }
    // A line for a page left out besides is refused.
    std::ofstream(dir.file("both.txt")) << "Page 3, left out\nPage 3, [50,700,500,50]\n";
    EXPECT_EQ(Crop(dir.file("both.txt"), in, dir.file("both.pdf")).exitCode, 1);
}

TEST_F(QuorrelTest, ARotationLineTurnsThePageAsShownAfterItsCrop) {
    DocPlan plan = fixtures::ManyPages(3, false);
    plan.pages[1].own.rotate = 90;
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    std::ofstream(dir.file("list.txt")) << "Page 1, rotate 90\nPage 1, [50,700,500,50]\nPage 2, rotate 270\n"
                                           "Page 3, [0,0,0,0]\nPage 3, rotate 180\n";
    const ToolRun r = Crop(dir.file("list.txt"), in, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err.find("whole"), std::string::npos) << "an update: " << r.err;
    QPDF pdf;
    pdf.processFile(out.c_str());
    auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
    ASSERT_EQ(pages.size(), 3u);
    std::vector<long long> rotations;
    for (auto &page : pages)
        rotations.push_back(page.getAttribute("/Rotate", false).getIntValueAsInt());
    EXPECT_EQ(rotations, (std::vector<long long>{90, 0, 180}));
    EXPECT_NEAR(pages[0].getObjectHandle().getKey("/CropBox").getArrayAsRectangle().urx, 500, 1e-6);
    std::ofstream(dir.file("bad.txt")) << "Page 1, rotate 45\n";
    EXPECT_EQ(Crop(dir.file("bad.txt"), in, dir.file("bad.pdf")).exitCode, 1);
}

TEST_F(QuorrelTest, AScaleLineDrawsTheCroppedPageSmallerWithItsLinksAndPatterns) {
    DocPlan plan = fixtures::ManyPages(3, false);
    plan.pages[0].links.push_back({{400, 72, 500, 100}, 2, {}});
    plan.pages[2].links.push_back({{400, 72, 500, 100}, 2, {}});
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, dir.file("plain.pdf"));
    {
        // A gradient the first page paints with: placed in the page's own space.
        QPDF patterned;
        patterned.processFile(dir.file("plain.pdf").c_str());
        QPDFObjectHandle shading = QPDFObjectHandle::parse(
            "<< /ShadingType 2 /ColorSpace /DeviceRGB /Coords [0 0 612 0] /Function << /FunctionType 2 /Domain [0 1] "
            "/C0 [1 0 0] /C1 [0 0 1] /N 1 >> >>");
        QPDFObjectHandle pattern = patterned.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Pattern /PatternType 2 /Matrix [1 0 0 1 10 0] >>"));
        pattern.replaceKey("/Shading", shading);
        QPDFPageObjectHelper first = QPDFPageDocumentHelper(patterned).getAllPages()[0];
        first.getAttribute("/Resources", true).replaceKey("/Pattern", QPDFObjectHandle::parse("<< >>").shallowCopy());
        first.getAttribute("/Resources", true).getKey("/Pattern").replaceKey("/P0", pattern);
        // The third page's link jumps to a place on the second.
        auto all = QPDFPageDocumentHelper(patterned).getAllPages();
        all[2].getObjectHandle().getKey("/Annots").getArrayItem(0).replaceKey(
            "/Dest", QPDFObjectHandle::newArray({all[1].getObjectHandle(), QPDFObjectHandle::newName("/XYZ"),
                                                 QPDFObjectHandle::newReal(100, 0), QPDFObjectHandle::newReal(700, 0),
                                                 QPDFObjectHandle::newNull()}));
        QPDFWriter writer(patterned, in.c_str());
        writer.write();
    }
    // The first page straightened and scaled; the third scaled, its link moved once.
    std::ofstream(dir.file("list.txt")) << "Page 1, [100,792,612,0,3]\nPage 1, scale 0.5\nPage 2, scale 0.25\n"
                                           "Page 3, scale 0.5\n";
    const ToolRun r = Crop(dir.file("list.txt"), in, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    QPDF pdf;
    pdf.processFile(out.c_str());
    auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
    ASSERT_EQ(pages.size(), 3u);
    const auto crop = pages[0].getCropBox().getArrayAsRectangle();
    EXPECT_NEAR(crop.llx, 50, 1e-3);
    EXPECT_NEAR(crop.urx, 306, 1e-3);
    EXPECT_NEAR(crop.ury, 396, 1e-3);
    auto linkOf = [&](size_t page) {
        return pages[page].getObjectHandle().getKey("/Annots").getArrayItem(0).getKey("/Rect").getArrayAsRectangle();
    };
    EXPECT_NEAR(linkOf(0).llx, 200, 15) << "turned and scaled, the link stays on what it covered";
    EXPECT_NEAR(linkOf(2).llx, 200, 1e-3);
    QPDFObjectHandle dest = pages[2].getObjectHandle().getKey("/Annots").getArrayItem(0).getKey("/Dest");
    EXPECT_NEAR(dest.getArrayItem(3).getNumericValue(), 700 * 0.25, 1e-3)
        << "the place jumped to, scaled with its page";
    QPDFObjectHandle matrix =
        pages[0].getAttribute("/Resources", false).getKey("/Pattern").getKey("/P0").getKey("/Matrix");
    ASSERT_TRUE(matrix.isArray());
    EXPECT_NEAR(matrix.getArrayItem(0).getNumericValue(), 0.5 * std::cos(3 * M_PI / 180), 1e-3)
        << "the gradient scaled and turned with the page";
    EXPECT_NEAR(pages[1].getMediaBox().getArrayAsRectangle().urx, 153, 1e-3) << "a page scaled without a crop";
    for (const char *bad : {"Page 1, scale 0\n", "Page 1, scale 1.5\n", "Page 1, left out\nPage 1, scale 0.5\n"}) {
        std::ofstream(dir.file("bad.txt")) << bad;
        EXPECT_EQ(Crop(dir.file("bad.txt"), in, dir.file("bad.pdf")).exitCode, 1) << bad;
    }
}

TEST_F(QuorrelTest, APageListedTwiceIsTwoPagesSharingItsContentAndLinks) {
    // Pages 2 and 3 under a node of their own, so that its count changes too.
    DocPlan plan = fixtures::ManyPages(4, false);
    plan.group = fixtures::Inheritable{};
    plan.groupFirst = 1;
    plan.groupCount = 2;
    plan.pages[1].links.push_back({{400, 72, 500, 100}, 4, {}});
    plan.outline = {{"Second", 2}, {"Fourth", 4}};
    plan.objectStreams = true;  // the update's objects go compressed into object streams
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    std::ofstream(dir.file("list.txt")) << "Page 2, [0.00,792.00,306.00,0.00]\nPage 2, [306.00,792.00,612.00,0.00]\n"
                                           "Page 3, [50.00,700.00,500.00,50.00]\n";
    for (bool rewrite : {false, true}) {
        SCOPED_TRACE(rewrite ? "written whole" : "an update");
        QStringList args = {"-s", Q("setcropfile=" + dir.file("list.txt")), "-i", Q(in), "-o", Q(out)};
        if (rewrite)
            args << "--rewrite";
        ToolRun r = Quorrel(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err.find("whole new file") != std::string::npos, false) << r.err;
        if (!rewrite) {
            const std::string before = fixtures::ReadFileBytes(in), after = fixtures::ReadFileBytes(out);
            EXPECT_EQ(after.compare(0, before.size(), before), 0) << "the input's bytes stay as they are";
        }
        QPDF pdf;
        pdf.processFile(out.c_str());
        auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
        ASSERT_EQ(pages.size(), 5u);
        EXPECT_EQ(pdf.getRoot().getKey("/Pages").getKey("/Count").getIntValue(), 5);
        QPDFObjectHandle left = pages[1].getObjectHandle(), right = pages[2].getObjectHandle();
        EXPECT_EQ(left.getKey("/Contents").getObjGen(), right.getKey("/Contents").getObjGen());
        EXPECT_NEAR(left.getKey("/CropBox").getArrayAsRectangle().urx, 306, 1e-6);
        EXPECT_NEAR(right.getKey("/CropBox").getArrayAsRectangle().llx, 306, 1e-6);
        EXPECT_NEAR(pages[3].getObjectHandle().getKey("/CropBox").getArrayAsRectangle().llx, 50, 1e-6);
        // Each copy has the link, leading to the fourth page of the input,
        // now the fifth.
        ASSERT_EQ(pages[1].getAnnotations().size(), 1u);
        ASSERT_EQ(pages[2].getAnnotations().size(), 1u);
        QPDFObjectHandle link = pages[2].getAnnotations()[0].getObjectHandle();
        EXPECT_EQ(link.getKey("/Dest").getArrayItem(0).getObjGen(), pages[4].getObjectHandle().getObjGen());
        QPDFOutlineDocumentHelper outline(pdf);
        ASSERT_EQ(outline.getTopLevelOutlines().size(), 2u);
        EXPECT_EQ(outline.getTopLevelOutlines()[0].getDestPage().getObjGen(), left.getObjGen())
            << "an outline entry leads to the first copy";
        Rendered shown(out);
        ASSERT_TRUE(shown.Ok());
        EXPECT_EQ(shown.Pages(), 5);
        EXPECT_NEAR(shown.Size(3).first, 306, 0.02);
    }
}

TEST_F(QuorrelTest, FailuresSayWhyAndLeaveNoOutput) {
    std::ofstream(dir.file("list.txt")) << "Page 1, [10.00,700.00,500.00,50.00]\n";
    const std::string list = dir.file("list.txt"), out = dir.file("out.pdf");
    DocPlan locked = fixtures::PagesOfSizes({{612, 792}});
    locked.encryption = fixtures::Encryption::UserPassword;
    fixtures::WritePdf(locked, dir.file("locked.pdf"));
    std::ofstream(dir.file("text.pdf")) << "this is not a PDF\n";
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}}), dir.file("good.pdf"));
    std::ofstream(dir.file("afile")) << "x";

    struct Case {
        const char *name;
        ToolRun run;
        std::string output;
        const char *says;
    } cases[] = {
        {"locked", Crop(list, dir.file("locked.pdf"), out), out, "password"},
        {"missing", Crop(list, dir.file("missing.pdf"), out), out, "missing.pdf"},
        {"not a PDF", Crop(list, dir.file("text.pdf"), out), out, "text.pdf"},
        {"unwritable folder", Crop(list, dir.file("good.pdf"), dir.file("afile") + "/out.pdf"),
         dir.file("afile") + "/out.pdf", "folder"},
        {"missing list", Crop(dir.file("nolist.txt"), dir.file("good.pdf"), out), out, "nolist.txt"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(c.run.exitCode, 0);
        EXPECT_NE(c.run.err.find(c.says), std::string::npos) << c.run.err;
        EXPECT_EQ(std::count(c.run.err.begin(), c.run.err.end(), '\n'), 1) << c.run.err;
        EXPECT_FALSE(fs::exists(c.output));
    }
    // A malformed list names its line.
    std::ofstream(dir.file("bad.txt")) << "Page 1, [1.00,2.00,3.00,4.00]\nPage two, [1,2,3,4]\n";
    ToolRun bad = Crop(dir.file("bad.txt"), dir.file("good.pdf"), out);
    EXPECT_NE(bad.exitCode, 0);
    EXPECT_NE(bad.err.find("line 2"), std::string::npos) << bad.err;
    // A list on standard input crops when it ends with "End", and a list
    // cut short crops nothing.
    auto fromInput = [&](const QByteArray &text) {
        QProcess p;
        p.start(QUORREL_PATH, {"-s", "setcropfile=-", "-i", Q(dir.file("good.pdf")), "-o", Q(out)});
        p.write(text);
        p.closeWriteChannel();
        p.waitForFinished(120000);
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    };
    EXPECT_NE(fromInput("Page 1, [10.00,700.00,500.00,50.00]\n"), 0);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(fromInput("Page 1, [10.00,700.00,500.00,50.00]\nEnd\n"), 0);
    EXPECT_TRUE(fs::exists(out));
    fs::remove(out);
    // An existing output survives a failed run whole.
    std::ofstream(out) << "keep me";
    EXPECT_NE(Crop(list, dir.file("locked.pdf"), out).exitCode, 0);
    std::ifstream kept(out);
    std::string content((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    EXPECT_EQ(content, "keep me");
    // Usage mistakes.
    EXPECT_EQ(Quorrel({"-i", "x.pdf"}).exitCode, 2);
    EXPECT_EQ(Quorrel({"--frobnicate"}).exitCode, 2);
    EXPECT_EQ(Quorrel({"-s", "other=1", "-i", "a", "-o", "b"}).exitCode, 2);
    EXPECT_EQ(Quorrel({"--help"}).exitCode, 0);
    EXPECT_EQ(Quorrel({"--version"}).exitCode, 0);
    // Nothing temporary is left behind.
    for (const auto &entry : fs::directory_iterator(dir.path()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(QuorrelTest, DamagedInputIsRepairedWithWarningsOrRefusedNeverCrashes) {
    DocPlan plan = fixtures::ManyPages(4, true);
    plan.outline = {{"One", 1}};
    const std::string whole = dir.file("whole.pdf"), list = dir.file("list.txt"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, whole);
    std::ofstream(list) << "Page 1, [10.00,700.00,500.00,50.00]\nPage 4, [10.00,700.00,500.00,50.00]\n";
    fixtures::WriteTruncated(whole, dir.file("cut.pdf"), 0.97);
    ToolRun cut = Crop(list, dir.file("cut.pdf"), out);
    if (cut.exitCode == 0) {
        EXPECT_NE(cut.err.find("warning"), std::string::npos) << cut.err;
        EXPECT_TRUE(Rendered(out).Ok());
    } else {
        EXPECT_FALSE(fs::exists(out));
    }
    std::ifstream in(whole, std::ios::binary);
    const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    uint32_t seed = 99;
    for (int round = 0; round < 25; ++round) {
        std::string bytes = original;
        for (int i = 0; i < 6; ++i) {
            seed = seed * 1664525u + 1013904223u;
            bytes[(seed >> 8) % bytes.size()] = char(seed >> 24);
        }
        std::ofstream(dir.file("damaged.pdf"), std::ios::binary | std::ios::trunc) << bytes;
        fs::remove(out);
        ToolRun r = Crop(list, dir.file("damaged.pdf"), out);
        EXPECT_TRUE(r.exitCode == 0 || r.exitCode == 1) << "round " << round << ": " << r.err;
        if (r.exitCode != 0) {
            EXPECT_FALSE(fs::exists(out));
        }
    }
}

TEST_F(QuorrelTest, AFileOnlyTheRenderingLibraryCanReadIsCroppedFromItsRepairedCopy) {
    // No trailer anywhere: qpdf gives up, the rendering library finds the
    // catalogue by itself.
    const std::string whole = dir.file("whole.pdf"), in = dir.file("broken.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(fixtures::ManyPages(3, true), whole);
    std::ifstream source(whole, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(source)), std::istreambuf_iterator<char>());
    for (size_t at; (at = bytes.find("trailer")) != std::string::npos;)
        bytes.replace(at, 7, "tlaiser");
    std::ofstream(in, std::ios::binary) << bytes;
    QPDF unreadable;
    unreadable.setSuppressWarnings(true);
    EXPECT_ANY_THROW(unreadable.processFile(in.c_str()));
    std::ofstream(dir.file("list.txt")) << "Page 2, [10.00,700.00,500.00,50.00]\n";
    ToolRun r = Crop(dir.file("list.txt"), in, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("repaired"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("whole new file"), std::string::npos) << r.err;
    Rendered cropped(out), original(whole);
    ASSERT_EQ(cropped.Pages(), 3);
    EXPECT_NEAR(cropped.Size(2).first, 490, 0.01);
    EXPECT_EQ(cropped.Size(1), original.Size(1));
    std::ifstream after(in, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>()), bytes);
}

TEST_F(QuorrelTest, OutputOverInputAndAwkwardPathsWork) {
    const fs::path folder = dir.path() / "a folder with spaces, 'quotes' \"and\" $HOME ünïcødé";
    fs::create_directories(folder);
    const std::string pdf = (folder / "my $file \"1\".pdf").string();
    const std::string list = (folder / "list $(x).txt").string();
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), pdf);
    std::ofstream(list) << "Page 2, [100.00,700.00,500.00,100.00]\n";
    fs::permissions(pdf, fs::perms::owner_read | fs::perms::owner_write);
    ToolRun r = Crop(list, pdf, pdf);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(fs::status(pdf).permissions(), fs::perms::owner_read | fs::perms::owner_write)
        << "a private file stays private";
    Rendered cropped(pdf);
    ASSERT_TRUE(cropped.Ok());
    EXPECT_NEAR(cropped.Size(2).first, 400, 0.01);
    EXPECT_NEAR(cropped.Size(1).first, 612, 0.01);
    for (const auto &entry : fs::directory_iterator(folder))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
    // Pages beyond the document are warned about, not fatal.
    std::ofstream(list) << "Page 9, [100.00,700.00,500.00,100.00]\n";
    ToolRun beyond = Crop(list, pdf, (folder / "out.pdf").string());
    EXPECT_EQ(beyond.exitCode, 0);
    EXPECT_NE(beyond.err.find("warning"), std::string::npos);

    // Through a symbolic link, the file it names is replaced and the link stays.
    const std::string link = (folder / "link to it.pdf").string();
    fs::create_symlink(pdf, link);
    std::ofstream(list) << "Page 1, [100.00,700.00,400.00,100.00]\n";
    ASSERT_EQ(Crop(list, link, link).exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NEAR(Rendered(pdf).Size(1).first, 300, 0.01);
    fs::remove(link);
    // A link to a file yet to be made makes that file.
    fs::create_directories(folder / "sub");
    fs::create_symlink("sub/new.pdf", link);
    ASSERT_EQ(Crop(list, pdf, link).exitCode, 0);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_TRUE(fs::is_regular_file(folder / "sub" / "new.pdf"));
    fs::remove(link);
    fs::remove_all(folder / "sub");

    // A name as long as the file system allows, made and then replaced.
    const std::string longest = (folder / (std::string(251, 'n') + ".pdf")).string();
    for (int round = 0; round < 2; ++round) {
        r = Crop(list, pdf, longest);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NEAR(Rendered(longest).Size(1).first, 200, 0.01);  // the rectangle's part on the page
    }
}

TEST_F(QuorrelTest, ProgressIsToldInPagesAndAStopLeavesNoTemporaryFile) {
    // Large enough that writing it takes a moment.
    DocPlan plan = fixtures::PagesOfSizes(std::vector<std::pair<double, double>>(40, {612, 792}));
    for (PagePlan &page : plan.pages)
        page.noiseImageKilobytes = 400;
    const std::string in = dir.file("big.pdf"), list = dir.file("list.txt");
    fixtures::WritePdf(plan, in);
    std::ofstream(list) << "Page 1, [100.00,700.00,500.00,100.00]\n";
    const fs::path folder = dir.path() / "out";
    fs::create_directories(folder);
    const std::string out = (folder / "out.pdf").string();

    ToolRun whole = Quorrel({"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out), "--progress"});
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_EQ(whole.err.rfind("quorrel: progress 0/40\n", 0), 0u) << whole.err;
    EXPECT_NE(whole.err.find("quorrel: progress 40/40\n"), std::string::npos);
    fs::remove(out);

    // Held still as soon as it starts writing, then stopped, gently and
    // then not: neither leaves anything named in the folder.
    for (int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.start(QUORREL_PATH, {"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out), "--progress"});
        ASSERT_TRUE(p.waitForStarted());
        QByteArray said;
        while (!said.contains("progress 0/") && p.waitForReadyRead(10000))
            said += p.readAll();
        const pid_t pid = pid_t(p.processId());
        if (pid <= 0)
            GTEST_SKIP() << "the tool had finished before it could be stopped";
        ::kill(pid, SIGSTOP);
        // Its output is open in the folder, under no name.
        bool midWrite = false;
        std::error_code ignored;
        for (const auto &fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ignored))
            midWrite = midWrite || fs::read_symlink(fd.path(), ignored).string().rfind(folder.string() + "/", 0) == 0;
        ::kill(pid, signal);
        ::kill(pid, SIGCONT);
        ASSERT_TRUE(p.waitForFinished(10000));
        if (!midWrite)
            GTEST_SKIP() << "the tool had finished before it could be stopped";
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
        EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 0)
            << "neither the output nor a temporary file";
    }

    // What runs killed long ago left under a temporary name goes; what a
    // live run or a recent one has there stays.
    auto leave = [&](const std::string &name, bool old) {
        std::ofstream(folder / name) << "x";
        if (old)
            fs::last_write_time(folder / name, fs::file_time_type::clock::now() - std::chrono::hours(25));
    };
    const std::string live = ".quorrel." + std::to_string(::getpid()) + ".Ab12Cd";
    leave(".quorrel.999999999.Ab12Cd", true);
    leave(".quorrel.999999998.Ab12Cd", false);
    leave(live, true);
    leave(".quorrel.999999997.notmine", true);
    ASSERT_EQ(Quorrel({"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out)}).exitCode, 0);
    EXPECT_FALSE(fs::exists(folder / ".quorrel.999999999.Ab12Cd"));
    EXPECT_TRUE(fs::exists(folder / ".quorrel.999999998.Ab12Cd"));
    EXPECT_TRUE(fs::exists(folder / live));
    EXPECT_TRUE(fs::exists(folder / ".quorrel.999999997.notmine"));
}

TEST(CropList, ParsesTheProgramsLinesAndRejectsOthers) {
    std::istringstream good("Page 1, [36.00,756.00,576.00,36.00]\r\n\nPage 12, [-3.5,0.00,1e0,4]\nPage 1, [1,2,3,4]\n");
    quorrel::CropList list;
    std::string error;
    EXPECT_FALSE(quorrel::ParseCropList(good, list, error));  // "1e0" is not a plain number
    EXPECT_NE(error.find("line 3"), std::string::npos);

    std::istringstream fine(
        "Page 1, [36.00,756.00,576.00,36.00]\r\n\n  Page 12 , [ -3.5 ,0.00,1,4 ]\nPage 1, [1,2,3,4]\n");
    list.clear();
    ASSERT_TRUE(quorrel::ParseCropList(fine, list, error)) << error;
    ASSERT_EQ(list.size(), 2u);
    ASSERT_EQ(list[1].size(), 2u);  // a page listed twice is split, in the order of its lines
    EXPECT_EQ(list[1][0].left, 36);
    EXPECT_EQ(list[1][1].left, 1);
    EXPECT_EQ(list[12][0].left, -3.5);

    // Signs, bare fractions, a missing last line end, and an empty list.
    std::istringstream forms("Page 2, [+2,.5,5.,-0.25]");
    list.clear();
    ASSERT_TRUE(quorrel::ParseCropList(forms, list, error)) << error;
    EXPECT_EQ(list[2][0].left, 2);
    EXPECT_EQ(list[2][0].top, 0.5);
    EXPECT_EQ(list[2][0].right, 5);
    EXPECT_EQ(list[2][0].bottom, -0.25);
    std::istringstream empty("");
    list.clear();
    EXPECT_TRUE(quorrel::ParseCropList(empty, list, error));
    EXPECT_TRUE(list.empty());
    for (const char *wrong :
         {"Page 0, [1,2,3,4]", "Page 1, [1,2,3]", "Page 1 [1,2,3,4]", "page 1, [1,2,3,4]", "Page 1, [1,2,3,4] extra",
          "Page 1, [1,2,3,4", "Page 1, [1,2,3,.]", "Page 1, [1,2,3,--4]", "Page 1, [1,2,3,nan]"}) {
        std::istringstream in(wrong);
        EXPECT_FALSE(quorrel::ParseCropList(in, list, error)) << wrong;
    }
}

TEST(CropGeometry, RotationsAndOffsetsMapBackToUserSpace) {
    EXPECT_EQ(quorrel::NormaliseRotation(-90), 270);
    EXPECT_EQ(quorrel::NormaliseRotation(450), 90);
    EXPECT_EQ(quorrel::NormaliseRotation(-720), 0);
    EXPECT_EQ(quorrel::NormaliseRotation(180), 180);
    quorrel::PageGeometry g{{0, 0, 612, 792}, {0, 0, 612, 792}, 0};
    // Shown rectangle left 10, top 20, right 110, bottom 220 (top-down).
    const quorrel::CropRect r{10, 792 - 20, 110, 792 - 220};
    auto box = quorrel::CropBoxFor(g, r);
    ASSERT_TRUE(box);
    EXPECT_DOUBLE_EQ(box->x0, 10);
    EXPECT_DOUBLE_EQ(box->y0, 572);
    EXPECT_DOUBLE_EQ(box->x1, 110);
    EXPECT_DOUBLE_EQ(box->y1, 772);
    // Rotated 90: the shown page is 792 wide; its top-left is the user
    // space's bottom-left.
    g.rotate = 90;
    const quorrel::CropRect s{10, 612 - 20, 110, 612 - 220};
    box = quorrel::CropBoxFor(g, s);
    ASSERT_TRUE(box);
    EXPECT_DOUBLE_EQ(box->x0, 20);
    EXPECT_DOUBLE_EQ(box->y0, 10);
    EXPECT_DOUBLE_EQ(box->x1, 220);
    EXPECT_DOUBLE_EQ(box->y1, 110);
    // Clipped to the media box; outside it, nothing.
    g.rotate = 0;
    box = quorrel::CropBoxFor(g, {-50, 900, 100, 700});
    ASSERT_TRUE(box);
    EXPECT_DOUBLE_EQ(box->x0, 0);
    EXPECT_DOUBLE_EQ(box->y1, 792);
    EXPECT_FALSE(quorrel::CropBoxFor(g, {700, 100, 800, 50}));
    EXPECT_FALSE(quorrel::CropBoxFor(g, {0, 0, 0, 0}));
}

}  // namespace

TEST_F(QuorrelTest, AStraightenedPageTurnsAllItsContentEvenAfterAStrayRestore) {
    // Bars drawn after a Q that restores more than the content saved: a
    // turn wrapped only once would be undone there.
    DocPlan plan;
    PagePlan page;
    page.own.mediaBox = Box{0, 0, 612, 792};
    page.lastContent = "Q 0 0 0 rg";
    for (int i = 0; i < 12; ++i)
        page.lastContent += " 100 " + std::to_string(150 + 40 * i) + " 400 3 re f";
    plan.pages.push_back(page);
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf"), list = dir.file("list.txt");
    fixtures::WritePdf(plan, in);
    std::ofstream(list) << "Page 1, [0,0,0,0,3.5]\n";
    const ToolRun r = Crop(list, in, out);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::unique_ptr<render::PageSource> source = render::PageSource::Open(out, 1);
    ASSERT_TRUE(source);
    QRect rect;
    QString reason, note;
    const render::BitmapHandle bitmap = render::RenderPageBitmap(*source, 1, rect, reason, note);
    ASSERT_TRUE(bitmap);
    const crop::Skew skew = crop::MeasureSkew(crop::PixelView::Of(*bitmap));
    ASSERT_TRUE(skew.measured);
    EXPECT_NEAR(skew.degrees, -3.5, 0.1) << "turned counterclockwise, the bars rise to the right";
}

// libravel.so through the program's binding: page boxes, rendered pixels,
// threads, thumbnails and bad input.

#include "render/rendering_library.h"
#include "tests/fixtures/jpeg_reader.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <gtest/gtest.h>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstring>

#include <chrono>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

using fixtures::Box;
using fixtures::DocPlan;
using fixtures::PagePlan;

namespace {

const render::RavelApi &Api() { return render::Ravel(); }

struct QRectLike {
    int x, y, w, h;
};

// An open document that closes itself.
class OpenDoc {
public:
    explicit OpenDoc(const std::string &path) : m_doc(Api().OpenFile(path.c_str(), 1)) {}
    ~OpenDoc() {
        if (m_doc)
            Api().CloseFile(m_doc);
    }
    OpenDoc(const OpenDoc &) = delete;
    OpenDoc &operator=(const OpenDoc &) = delete;
    LS_Document get() const { return m_doc; }
    explicit operator bool() const { return m_doc != 0; }

private:
    LS_Document m_doc;
};

using BitmapPtr = std::unique_ptr<LS_Bitmap, void (*)(LS_Bitmap *)>;

BitmapPtr Render(LS_Document doc, int page, int w, int h) {
    double scale[2] = {1.5, 1.5};
    int32_t slot = 0;
    return BitmapPtr(Api().DIBitmap24(doc, 0, page, scale, 0, w, h, &slot),
                     [](LS_Bitmap *b) { Api().DeleteBitmap(b); });
}

// Pixel (x, y) counted from the top-left of the picture, as blue, green, red.
const unsigned char *PixelAt(const LS_Bitmap &b, int x, int y) {
    return b.bits + size_t(b.height - 1 - y) * size_t(b.stride) + size_t(x) * 3;
}

bool IsBlack(const unsigned char *p) { return p[0] < 40 && p[1] < 40 && p[2] < 40; }
bool IsWhite(const unsigned char *p) { return p[0] > 215 && p[1] > 215 && p[2] > 215; }

// The size of a render at 101 dpi times 1.5.
int PixelsFor(double points) { return int(std::lround(points * 101.0 * 1.5 / 72.0)); }

class RavelTest : public ::testing::Test {
protected:
    fixtures::TempDir dir;

    std::string Write(const DocPlan &plan, const std::string &name = "doc.pdf") {
        std::string path = dir.file(name);
        fixtures::WritePdf(plan, path);
        return path;
    }
};

// Page boxes in every arrangement a file may have, with the size a viewer
// shows.
DocPlan BoxesDocument() {
    DocPlan plan;
    auto page = [&](Box media, std::optional<Box> crop, std::optional<int> rotate) {
        PagePlan p;
        p.own.mediaBox = media;
        p.own.cropBox = crop;
        p.own.rotate = rotate;
        plan.pages.push_back(p);
    };
    page({0, 0, 612, 792}, {}, {});                          // 1 plain
    page({0, 0, 612, 792}, {}, 90);                          // 2
    page({0, 0, 612, 792}, {}, 180);                         // 3
    page({0, 0, 612, 792}, {}, 270);                         // 4
    page({0, 0, 612, 792}, {}, -90);                         // 5
    page({100, 200, 400, 700}, {}, {});                      // 6 offset origin
    page({-300, -400, 300, 400}, {}, {});                    // 7 negative origin
    page({0, 0, 612, 792}, Box{50, 60, 550.5, 700.25}, {});  // 8 crop inside
    page({0, 0, 400, 500}, Box{-50, 100, 300, 900}, {});     // 9 crop sticking out
    page({10, 20, 310, 520}, Box{60, 70, 260, 420}, 90);     // 10 offset, cropped, rotated
    page({0, 0, 612, 792}, {}, 450);                         // 11 beyond a full turn
    return plan;
}

TEST_F(RavelTest, PageCountAndShownSizesForEveryBoxArrangement) {
    DocPlan plan = BoxesDocument();
    OpenDoc doc(Write(plan));
    ASSERT_TRUE(doc);
    ASSERT_EQ(Api().Pages(doc.get()), int(plan.pages.size()));
    for (int page = 1; page <= int(plan.pages.size()); ++page) {
        double box[4] = {-1, -1, -1, -1};
        ASSERT_NE(Api().PageExtent(doc.get(), page, box, 0), 0) << "page " << page;
        auto [w, h] = fixtures::ShownSize(plan, page);
        EXPECT_EQ(box[0], 0) << "page " << page;
        EXPECT_EQ(box[1], 0) << "page " << page;
        EXPECT_NEAR(box[2], w, 1e-3) << "page " << page;
        EXPECT_NEAR(box[3], h, 1e-3) << "page " << page;
    }
    // The figures the rest of the program relies on, spelled out.
    double box[4];
    Api().PageExtent(doc.get(), 2, box, 0);
    EXPECT_DOUBLE_EQ(box[2], 792);
    EXPECT_DOUBLE_EQ(box[3], 612);
    Api().PageExtent(doc.get(), 9, box, 0);  // crop clipped to the media box
    EXPECT_DOUBLE_EQ(box[2], 300);
    EXPECT_DOUBLE_EQ(box[3], 400);

    // Every page measured in one walk of the tree, as page by page,
    // inherited and rotated boxes included; a wrong count measures nothing.
    const int n = Api().Pages(doc.get());
    std::vector<double> sizes(size_t(n) * 2, -1);
    ASSERT_EQ(Api().PageSizes(doc.get(), sizes.data(), n), n);
    for (int page = 1; page <= n; ++page) {
        Api().PageExtent(doc.get(), page, box, 0);
        EXPECT_EQ(sizes[size_t(page - 1) * 2], box[2]) << page;
        EXPECT_EQ(sizes[size_t(page - 1) * 2 + 1], box[3]) << page;
    }
    EXPECT_EQ(Api().PageSizes(doc.get(), sizes.data(), n - 1), 0);
    EXPECT_EQ(Api().PageSizes(0, sizes.data(), n), 0);
}

TEST_F(RavelTest, InheritedBoxesAndRotationComeFromThePageTree) {
    DocPlan plan;
    plan.root.mediaBox = Box{0, 0, 500, 700};
    plan.root.rotate = 90;
    plan.group = fixtures::Inheritable{Box{0, 0, 300, 400}, Box{20, 20, 220, 320}, 180};
    plan.groupFirst = 1;
    plan.groupCount = 2;
    plan.pages.resize(4);
    plan.pages[3].own.rotate = 0;  // the page's own value wins
    OpenDoc doc(Write(plan));
    ASSERT_TRUE(doc);
    ASSERT_EQ(Api().Pages(doc.get()), 4);
    const double expected[4][2] = {{700, 500}, {200, 300}, {200, 300}, {500, 700}};
    for (int page = 1; page <= 4; ++page) {
        double box[4];
        ASSERT_NE(Api().PageExtent(doc.get(), page, box, 0), 0);
        EXPECT_DOUBLE_EQ(box[2], expected[page - 1][0]) << "page " << page;
        EXPECT_DOUBLE_EQ(box[3], expected[page - 1][1]) << "page " << page;
    }
    double sizes[8];
    ASSERT_EQ(Api().PageSizes(doc.get(), sizes, 4), 4);
    for (int page = 1; page <= 4; ++page)
        EXPECT_DOUBLE_EQ(sizes[2 * page - 1], expected[page - 1][1]) << "page " << page;

    // A node whose /Count is not what it holds is read as what it holds:
    // every page is found, counted and measured alike.
    QPDF pdf;
    pdf.processFile(dir.file("doc.pdf").c_str());
    pdf.getRoot().getKey("/Pages").getKey("/Kids").getArrayItem(1).replaceKey("/Count",
                                                                              QPDFObjectHandle::newInteger(1));
    const std::string miscountedPath = dir.file("miscounted.pdf");  // the writer keeps the name it is given
    QPDFWriter writer(pdf, miscountedPath.c_str());
    writer.write();
    OpenDoc miscounted(miscountedPath);
    ASSERT_TRUE(miscounted);
    ASSERT_EQ(Api().Pages(miscounted.get()), 4);
    ASSERT_EQ(Api().PageSizes(miscounted.get(), sizes, 4), 4);
    for (int page = 1; page <= 4; ++page)
        EXPECT_DOUBLE_EQ(sizes[2 * page - 1], expected[page - 1][1]) << "page " << page;
}

TEST_F(RavelTest, APageTreeIsReadAsWhatItHoldsWhateverItsCountsAndBoxesSay) {
    // One page under a root that claims two thousand million, or ten
    // million: one page, found and drawn at once.
    for (const long long claimed : {2000000000LL, 10000000LL}) {
        DocPlan plan = fixtures::PagesOfSizes({{612, 792}});
        plan.claimedPageCount = claimed;
        OpenDoc doc(Write(plan, "lying.pdf"));
        ASSERT_TRUE(doc);
        EXPECT_EQ(Api().Pages(doc.get()), 1) << claimed;
        double sizes[2] = {0, 0}, box[4] = {0, 0, 0, 0};
        EXPECT_EQ(Api().PageSizes(doc.get(), sizes, 1), 1);
        EXPECT_EQ(Api().PageExtent(doc.get(), 2, box, 0), 0);
        EXPECT_TRUE(Render(doc.get(), 1, 61, 79));
    }
    // A crop box wholly outside the media box shows the media box, as the
    // crop tool reads such a page; one that overlaps it shows the overlap.
    DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {612, 792}});
    plan.pages[0].own.cropBox = Box{700, 900, 1088, 1108};
    plan.pages[1].own.cropBox = Box{500, 700, 1088, 1108};
    OpenDoc doc(Write(plan, "outside.pdf"));
    ASSERT_TRUE(doc);
    double box[4];
    ASSERT_NE(Api().PageExtent(doc.get(), 1, box, 0), 0);
    EXPECT_EQ(box[2], 612);
    EXPECT_EQ(box[3], 792);
    ASSERT_NE(Api().PageExtent(doc.get(), 2, box, 0), 0);
    EXPECT_EQ(box[2], 112);
    EXPECT_EQ(box[3], 92);
}

TEST_F(RavelTest, OutOfRangePagesAndBadHandlesAreRefused) {
    OpenDoc doc(Write(fixtures::PagesOfSizes({{612, 792}, {300, 300}})));
    ASSERT_TRUE(doc);
    for (int page : {0, -1, 3, 1000}) {
        double box[4] = {7, 8, 9, 10};
        EXPECT_EQ(Api().PageExtent(doc.get(), page, box, 0), 0);
        EXPECT_EQ(box[0], 7);
        EXPECT_EQ(box[1], 8);
        EXPECT_EQ(box[2], 9);
        EXPECT_EQ(box[3], 10);
        EXPECT_EQ(Render(doc.get(), page, 10, 10), nullptr);
    }
    EXPECT_EQ(Api().Pages(0), 0);
    EXPECT_EQ(Api().Pages(12345), 0);
    EXPECT_EQ(Render(0, 1, 10, 10), nullptr);
    EXPECT_EQ(Render(doc.get(), 1, 0, 10), nullptr);
    EXPECT_EQ(Render(doc.get(), 1, 10, -5), nullptr);
    // 20000 x 20000 at 24 bits is far beyond the picture memory limit.
    EXPECT_EQ(Render(doc.get(), 1, 20000, 20000), nullptr);
    EXPECT_NE(Api().SetResolution(doc.get(), 101), 0);
    Api().CloseFile(0);  // harmless
}

TEST_F(RavelTest, BitmapRowsAreBottomUpWithPaddedZeroedStride) {
    DocPlan plan = fixtures::PagesOfSizes({{30, 40}});
    plan.pages[0].blackRects.push_back({0, 0, 30, 20});  // the lower half black
    OpenDoc doc(Write(plan));
    for (int w : {3, 5, 8}) {
        BitmapPtr b = Render(doc.get(), 1, w, 8);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->width, w);
        EXPECT_EQ(b->height, 8);
        EXPECT_EQ(b->bitsPerPixel, 24);
        EXPECT_EQ(b->stride % 4, 0);
        EXPECT_EQ(b->stride, ((w * 24 + 31) / 32) * 4);
        EXPECT_EQ(b->sizeImage, uint64_t(b->stride) * 8);
        // Stored row 0 is the bottom of the page, which is black.
        EXPECT_TRUE(IsBlack(b->bits));
        EXPECT_TRUE(IsWhite(b->bits + size_t(b->stride) * 7));
        for (int row = 0; row < 8; ++row)
            for (int x = w * 3; x < b->stride; ++x)
                EXPECT_EQ(b->bits[size_t(row) * size_t(b->stride) + size_t(x)], 0);
    }
}

// Where a rectangle in PDF user space lands in a picture of the shown page,
// as fractions of the picture's width and height from its top-left corner.
struct Fractions {
    double left, top, right, bottom;
};

Fractions Expected(Box shown, int rotate, Box r) {
    double W = shown.x1 - shown.x0, H = shown.y1 - shown.y0;
    double u0 = r.x0 - shown.x0, u1 = r.x1 - shown.x0;  // from the left
    double v0 = shown.y1 - r.y1, v1 = shown.y1 - r.y0;  // from the top
    switch (((rotate % 360) + 360) % 360) {
    case 90:
        return {(H - v1) / H, u0 / W, (H - v0) / H, u1 / W};
    case 180:
        return {(W - u1) / W, (H - v1) / H, (W - u0) / W, (H - v0) / H};
    case 270:
        return {v0 / H, (W - u1) / W, v1 / H, (W - u0) / W};
    default:
        return {u0 / W, v0 / H, u1 / W, v1 / H};
    }
}

TEST_F(RavelTest, BlackRectanglesLandOnTheExpectedPixels) {
    struct Case {
        Box media;
        std::optional<Box> crop;
        int rotate;
    };
    const std::vector<Case> cases = {
        {{0, 0, 612, 792}, {}, 0},
        {{0, 0, 612, 792}, {}, 90},
        {{0, 0, 612, 792}, {}, 180},
        {{0, 0, 612, 792}, {}, 270},
        {{0, 0, 612, 792}, {}, -90},
        {{100, 200, 500, 800}, {}, 0},
        {{-300, -400, 300, 400}, {}, 90},
        {{0, 0, 612, 792}, Box{40, 50, 560, 740}, 0},
        {{0, 0, 612, 792}, Box{40, 50, 560, 740}, 270},
    };
    DocPlan plan;
    for (const Case &c : cases) {
        PagePlan p;
        p.own.mediaBox = c.media;
        p.own.cropBox = c.crop;
        p.own.rotate = c.rotate;
        Box shown = c.crop.value_or(c.media);
        // A rectangle a fifth of the way in, a fifth of the page in size,
        // clearly off-centre so a wrong rotation shows.
        double W = shown.x1 - shown.x0, H = shown.y1 - shown.y0;
        p.blackRects.push_back({shown.x0 + W * 0.15, shown.y0 + H * 0.55, shown.x0 + W * 0.4, shown.y0 + H * 0.8});
        plan.pages.push_back(p);
    }
    OpenDoc doc(Write(plan));
    ASSERT_TRUE(doc);
    for (size_t i = 0; i < cases.size(); ++i) {
        const int page = int(i) + 1;
        double box[4];
        ASSERT_NE(Api().PageExtent(doc.get(), page, box, 0), 0);
        const int w = PixelsFor(box[2]), h = PixelsFor(box[3]);
        BitmapPtr b = Render(doc.get(), page, w, h);
        ASSERT_NE(b, nullptr);
        Box shown = cases[i].crop.value_or(cases[i].media);
        Fractions f = Expected(shown, cases[i].rotate, plan.pages[i].blackRects[0]);
        const int left = int(std::lround(f.left * w)), right = int(std::lround(f.right * w));
        const int top = int(std::lround(f.top * h)), bottom = int(std::lround(f.bottom * h));
        SCOPED_TRACE("page " + std::to_string(page));
        // One pixel inside each edge is black, one pixel outside is white.
        const int midX = (left + right) / 2, midY = (top + bottom) / 2;
        EXPECT_TRUE(IsBlack(PixelAt(*b, left + 1, midY)));
        EXPECT_TRUE(IsBlack(PixelAt(*b, right - 2, midY)));
        EXPECT_TRUE(IsBlack(PixelAt(*b, midX, top + 1)));
        EXPECT_TRUE(IsBlack(PixelAt(*b, midX, bottom - 2)));
        EXPECT_TRUE(IsWhite(PixelAt(*b, left - 2, midY)));
        EXPECT_TRUE(IsWhite(PixelAt(*b, right + 1, midY)));
        EXPECT_TRUE(IsWhite(PixelAt(*b, midX, top - 2)));
        EXPECT_TRUE(IsWhite(PixelAt(*b, midX, bottom + 1)));
        // The corners of the picture are page background.
        EXPECT_TRUE(IsWhite(PixelAt(*b, 0, 0)));
        EXPECT_TRUE(IsWhite(PixelAt(*b, w - 1, h - 1)));
    }
}

TEST_F(RavelTest, ARegionIsThatPartOfTheWholePageAndMayBelongToAPageTooLargeToRender) {
    DocPlan plan = fixtures::PagesOfSizes({{612, 792}});
    plan.pages[0].blackRects.push_back({100, 300, 400, 500});
    plan.pages[0].texts.push_back({50, 700, 24, "Bands of a page"});
    plan.pages[0].texts.push_back({60, 120, 9, "agree with the whole page, letter for letter."});
    OpenDoc doc(Write(plan));
    ASSERT_TRUE(doc);
    const int w = 1287, h = 1666;
    BitmapPtr whole = Render(doc.get(), 1, w, h);
    ASSERT_NE(whole, nullptr);
    auto region = [&](int width, int height, int x, int y, int rw, int rh) {
        return BitmapPtr(Api().RenderRegion(doc.get(), 1, width, height, x, y, rw, rh),
                         [](LS_Bitmap *b) { Api().DeleteBitmap(b); });
    };
    // Bands at odd places, the last one at the bottom edge: the same pixels
    // as the whole picture, give or take the edge smoothing of a level.
    for (const QRectLike &r : {QRectLike{0, 0, w, 300}, QRectLike{211, 517, 333, 257}, QRectLike{0, h - 77, w, 77}}) {
        BitmapPtr part = region(w, h, r.x, r.y, r.w, r.h);
        ASSERT_NE(part, nullptr);
        EXPECT_EQ(part->width, r.w);
        EXPECT_EQ(part->height, r.h);
        int worst = 0;
        for (int y = 0; y < r.h; ++y)
            for (int x = 0; x < r.w; ++x)
                for (int c = 0; c < 3; ++c)
                    worst = std::max(
                        worst, std::abs(int(PixelAt(*part, x, y)[c]) - int(PixelAt(*whole, r.x + x, r.y + y)[c])));
        EXPECT_LE(worst, 2) << r.x << "," << r.y;
    }
    // A page of 60000 x 77640 pixels cannot be one picture, yet a band of
    // it can: its black rectangle lands where it should.
    const int bigW = 60000, bigH = 77647;
    EXPECT_EQ(Render(doc.get(), 1, bigW, bigH), nullptr);
    const int midY = int(bigH * (792.0 - 400) / 792);
    BitmapPtr band = region(bigW, bigH, 0, midY, bigW, 4);
    ASSERT_NE(band, nullptr);
    EXPECT_TRUE(IsBlack(PixelAt(*band, bigW / 2 - bigW / 12, 1)));  // x = 255 points
    EXPECT_TRUE(IsWhite(PixelAt(*band, bigW * 90 / 612, 1)));
    EXPECT_TRUE(IsWhite(PixelAt(*band, bigW * 410 / 612, 1)));
    // Regions reaching outside the page's picture, or empty, are refused.
    EXPECT_EQ(region(w, h, -1, 0, 10, 10), nullptr);
    EXPECT_EQ(region(w, h, w - 5, 0, 10, 10), nullptr);
    EXPECT_EQ(region(w, h, 0, h - 5, 10, 10), nullptr);
    EXPECT_EQ(region(w, h, 0, 0, 0, 10), nullptr);
    EXPECT_EQ(region(0, h, 0, 0, 1, 1), nullptr);
    EXPECT_EQ(Api().RenderRegion(0, 1, w, h, 0, 0, 10, 10), nullptr);
}

TEST_F(RavelTest, ACancelledRenderStopsAndGivesNothingAndAnUncancelledOneIsTheRegion) {
    DocPlan plan = fixtures::PagesOfSizes({{612, 792}});
    plan.pages[0].blackRects.push_back({100, 300, 400, 500});
    plan.pages[0].richContent = true;
    plan.pages[0].noiseImageKilobytes = 2000;
    OpenDoc doc(Write(plan));
    ASSERT_TRUE(doc);
    auto own = [](LS_Bitmap *b) { return BitmapPtr(b, [](LS_Bitmap *p) { Api().DeleteBitmap(p); }); };
    std::unique_ptr<LS_CancelFlag, void (*)(LS_CancelFlag *)> cancel(Api().NewCancel(), Api().DeleteCancel);
    ASSERT_NE(cancel, nullptr);
    // Without a cancel, or one not set, it is LS_RenderRegion.
    BitmapPtr plain = own(Api().RenderRegion(doc.get(), 1, 1287, 1666, 200, 300, 400, 500));
    BitmapPtr none = own(Api().RenderRegionCancellable(doc.get(), 1, 1287, 1666, 200, 300, 400, 500, nullptr));
    BitmapPtr unset = own(Api().RenderRegionCancellable(doc.get(), 1, 1287, 1666, 200, 300, 400, 500, cancel.get()));
    ASSERT_TRUE(plain && none && unset);
    const size_t bytes = size_t(plain->stride) * size_t(plain->height);
    EXPECT_EQ(std::memcmp(plain->bits, none->bits, bytes), 0);
    EXPECT_EQ(std::memcmp(plain->bits, unset->bits, bytes), 0);
    EXPECT_EQ(Api().IsCancelled(cancel.get()), 0);

    // Cancelled from another thread while a large render runs: it stops.
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        Api().Cancel(cancel.get());
    });
    BitmapPtr stopped = own(Api().RenderRegionCancellable(doc.get(), 1, 12870, 16660, 0, 0, 8000, 8000, cancel.get()));
    stopper.join();
    EXPECT_EQ(stopped, nullptr);
    EXPECT_NE(Api().IsCancelled(cancel.get()), 0);
    EXPECT_EQ(Api().IsCancelled(nullptr), 0);
    // A cancel stays set; the handle renders on with a new one.
    EXPECT_EQ(own(Api().RenderRegionCancellable(doc.get(), 1, 1287, 1666, 0, 0, 10, 10, cancel.get())), nullptr);
    EXPECT_NE(own(Api().RenderRegion(doc.get(), 1, 1287, 1666, 0, 0, 10, 10)), nullptr);
    Api().Cancel(nullptr);
}

TEST_F(RavelTest, AnnotationsAreRenderedWithThePage) {
    DocPlan plan = fixtures::PagesOfSizes({{200, 100}});
    plan.pages[0].boxAnnotations.push_back({20, 20, 80, 80});
    OpenDoc doc(Write(plan));
    ASSERT_TRUE(doc);
    BitmapPtr b = Render(doc.get(), 1, 200, 100);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(IsBlack(PixelAt(*b, 50, 50)));
    EXPECT_TRUE(IsWhite(PixelAt(*b, 150, 50)));
}

TEST_F(RavelTest, TwoThreadsOnTheirOwnHandlesRenderWhatOneThreadRenders) {
    DocPlan plan = fixtures::ManyPages(12, true);
    std::string path = Write(plan);
    const int w = 300, h = 388;

    auto renderAll = [&](std::vector<std::vector<unsigned char>> &out) {
        OpenDoc doc(path);
        if (!doc)
            return;
        for (int page = 1; page <= Api().Pages(doc.get()); ++page) {
            BitmapPtr b = Render(doc.get(), page, w, h);
            out.emplace_back(b ? std::vector<unsigned char>(b->bits, b->bits + b->sizeImage)
                               : std::vector<unsigned char>());
        }
    };

    std::vector<std::vector<unsigned char>> single, first, second;
    renderAll(single);
    ASSERT_EQ(single.size(), 12u);
    std::thread a([&] { renderAll(first); });
    std::thread b([&] { renderAll(second); });
    a.join();
    b.join();
    ASSERT_EQ(first.size(), single.size());
    ASSERT_EQ(second.size(), single.size());
    for (size_t i = 0; i < single.size(); ++i) {
        ASSERT_FALSE(single[i].empty());
        EXPECT_TRUE(first[i] == single[i]) << "page " << i + 1;
        EXPECT_TRUE(second[i] == single[i]) << "page " << i + 1;
    }
}

TEST_F(RavelTest, ThumbnailsAreWrittenAsJpegFilesThatDecode) {
    DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {842, 595}, {100, 1000}});
    plan.pages[0].blackRects.push_back({0, 0, 306, 792});  // left half black
    OpenDoc doc(Write(plan));
    ASSERT_TRUE(doc);
    const int expected[3][2] = {{155, 200}, {160, 113}, {20, 200}};
    for (int page = 1; page <= 3; ++page) {
        std::string jpg = dir.file("thumb " + std::to_string(page) + ".jpg");
        int32_t slot = 0;
        ASSERT_NE(Api().Thumbnail(doc.get(), jpg.c_str(), page, &slot), 0);
        fixtures::RgbImage img;
        ASSERT_TRUE(fixtures::ReadJpeg(jpg, img));
        EXPECT_EQ(img.width, expected[page - 1][0]) << "page " << page;
        EXPECT_EQ(img.height, expected[page - 1][1]) << "page " << page;
    }
    fixtures::RgbImage first;
    ASSERT_TRUE(fixtures::ReadJpeg(dir.file("thumb 1.jpg"), first));
    const unsigned char *leftPixel = &first.rgb[(100 * size_t(first.width) + 20) * 3];
    const unsigned char *rightPixel = &first.rgb[(100 * size_t(first.width) + 130) * 3];
    EXPECT_LT(leftPixel[0], 40);
    EXPECT_GT(rightPixel[0], 215);

    int32_t slot = 0;
    EXPECT_EQ(Api().Thumbnail(doc.get(), dir.file("none.jpg").c_str(), 4, &slot), 0);
    EXPECT_EQ(Api().Thumbnail(doc.get(), (dir.file("no such folder") + "/t.jpg").c_str(), 1, &slot), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.file("none.jpg")));
}

TEST_F(RavelTest, StoredThumbnailIsWrittenOnlyWhenThePageHasOne) {
    DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {612, 792}});
    plan.pages[1].storedThumbnail = true;
    std::string pdf = Write(plan, "stored thumb é.pdf");
    int32_t slot = 0;
    std::string none = dir.file("none.jpg"), stored = dir.file("stored.jpg");
    EXPECT_EQ(Api().GetPDFThumbnail(pdf.c_str(), none.c_str(), 1, &slot), 0);
    EXPECT_FALSE(std::filesystem::exists(none));
    EXPECT_EQ(Api().GetPDFThumbnail(pdf.c_str(), none.c_str(), 3, &slot), 0);
    ASSERT_NE(Api().GetPDFThumbnail(pdf.c_str(), stored.c_str(), 2, &slot), 0);
    fixtures::RgbImage img;
    ASSERT_TRUE(fixtures::ReadJpeg(stored, img));
    EXPECT_EQ(img.width, 16);
    EXPECT_EQ(img.height, 20);
    // The fixture's thumbnail runs from red at the top to blue at the bottom.
    const unsigned char *top = &img.rgb[0];
    const unsigned char *bottom = &img.rgb[(19 * 16) * 3];
    EXPECT_GT(top[0], 200);
    EXPECT_LT(top[2], 60);
    EXPECT_LT(bottom[0], 60);
    EXPECT_GT(bottom[2], 180);
    EXPECT_EQ(Api().GetPDFThumbnail(dir.file("missing.pdf").c_str(), none.c_str(), 1, &slot), 0);
}

TEST_F(RavelTest, EncryptionWithAnEmptyUserPasswordOpensAndARealOneIsRefused) {
    DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {400, 400}});
    plan.pages[0].blackRects.push_back({100, 100, 200, 200});
    plan.encryption = fixtures::Encryption::EmptyUserPassword;
    OpenDoc open(Write(plan, "open.pdf"));
    ASSERT_TRUE(open);
    EXPECT_EQ(Api().Pages(open.get()), 2);
    BitmapPtr b = Render(open.get(), 1, 612, 792);
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(IsBlack(PixelAt(*b, 150, 792 - 150)));

    plan.encryption = fixtures::Encryption::UserPassword;
    std::string locked = Write(plan, "locked.pdf");
    EXPECT_EQ(Api().OpenFile(locked.c_str(), 1), 0u);
    int32_t slot = 0;
    EXPECT_EQ(Api().GetPDFThumbnail(locked.c_str(), dir.file("t.jpg").c_str(), 1, &slot), 0);
}

TEST_F(RavelTest, MissingNonPdfAndDamagedFilesGiveNoHandle) {
    auto writeBytes = [&](const std::string &name, const std::string &bytes) {
        std::ofstream(dir.file(name), std::ios::binary) << bytes;
        return dir.file(name);
    };
    EXPECT_EQ(Api().OpenFile(dir.file("missing.pdf").c_str(), 1), 0u);
    EXPECT_EQ(Api().OpenFile(dir.path().c_str(), 1), 0u);  // a folder
    EXPECT_EQ(Api().OpenFile(writeBytes("empty.pdf", "").c_str(), 1), 0u);
    EXPECT_EQ(Api().OpenFile(writeBytes("text.pdf", "just some text\n").c_str(), 1), 0u);
    EXPECT_EQ(Api().OpenFile(writeBytes("png.pdf", "\x89PNG\r\n\x1a\n\0\0\0\rIHDR").c_str(), 1), 0u);
    EXPECT_EQ(Api().OpenFile(writeBytes("junk.pdf", "%PDF-1.7\n" + std::string(4000, 'x')).c_str(), 1), 0u);

    // Truncated copies of a real file: whatever MuPDF can still repair is
    // fine, but nothing crashes and what opens stays consistent.
    std::string whole = Write(fixtures::ManyPages(5, true));
    for (double keep : {0.02, 0.1, 0.3, 0.5, 0.8, 0.99}) {
        std::string cut = dir.file("cut.pdf");
        fixtures::WriteTruncated(whole, cut, keep);
        OpenDoc doc(cut);
        if (!doc)
            continue;
        int pages = Api().Pages(doc.get());
        EXPECT_LE(pages, 5);
        for (int page = 1; page <= pages; ++page) {
            double box[4];
            if (Api().PageExtent(doc.get(), page, box, 0))
                Render(doc.get(), page, 50, 60);
        }
    }
}

TEST_F(RavelTest, CorruptedFilesNeverCrashTheLibrary) {
    DocPlan plan = fixtures::ManyPages(3, true);
    plan.pages[1].storedThumbnail = true;
    plan.pages[2].links.push_back({{72, 72, 200, 90}, 1, {}});
    plan.outline = {{"One", 1}, {"Three", 3}};
    std::string whole = Write(plan);
    std::ifstream in(whole, std::ios::binary);
    const std::string original((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(original.size(), 1000u);

    // Bytes overwritten at random places, with a fixed seed so a failure
    // can be repeated.
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    const std::string damaged = dir.file("damaged.pdf");
    const std::string jpg = dir.file("damaged.jpg");
    for (int round = 0; round < 150; ++round) {
        std::string bytes = original;
        const int flips = 1 + int(next() % 24);
        for (int i = 0; i < flips; ++i)
            bytes[next() % bytes.size()] = char(next() >> 24);
        std::ofstream(damaged, std::ios::binary | std::ios::trunc) << bytes;
        int32_t slot = 0;
        Api().GetPDFThumbnail(damaged.c_str(), jpg.c_str(), 2, &slot);
        OpenDoc doc(damaged);
        if (!doc)
            continue;
        const int pages = Api().Pages(doc.get());
        for (int page = 1; page <= std::min(pages, 4); ++page) {
            double box[4];
            if (Api().PageExtent(doc.get(), page, box, 0))
                Render(doc.get(), page, 61, 79);
            Api().Thumbnail(doc.get(), jpg.c_str(), page, &slot);
        }
    }
}

TEST_F(RavelTest, PathsWithAnyCharactersAndLengthOpen) {
    std::filesystem::path deep = dir.path();
    for (int i = 0; i < 6; ++i)
        deep /= std::string(60, char('a' + i)) + " $'\"ü";
    std::filesystem::create_directories(deep);
    std::string path = (deep / "naïve file (1).pdf").string();
    ASSERT_GT(path.size(), 300u);
    fixtures::WritePdf(fixtures::PagesOfSizes({{200, 300}}), path);
    OpenDoc doc(path);
    ASSERT_TRUE(doc);
    EXPECT_EQ(Api().Pages(doc.get()), 1);
    std::string jpg = (deep / "thümb.jpg").string();
    int32_t slot = 0;
    EXPECT_NE(Api().Thumbnail(doc.get(), jpg.c_str(), 1, &slot), 0);
    EXPECT_TRUE(std::filesystem::exists(jpg));
}

}  // namespace

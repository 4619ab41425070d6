// orvane --auto-crop, end to end: the program started without a display on
// PDFs written from code; every output page rendered and compared with the
// input's content, and failures that leave nothing behind.

#include "app/command_line.h"
#include "crop/model/auto_crop_job.h"
#include "crop/detect/skew.h"
#include "crop/model/crop_run.h"
#include "render/page_render.h"
#include "render/page_source.h"
#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/scan_page.h"
#include "tests/fixtures/temp_dir.h"

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/prctl.h>
#include <thread>

namespace fs = std::filesystem;
using fixtures::Box;
using fixtures::DocPlan;
using fixtures::PagePlan;

namespace {

struct ToolRun {
    int exitCode = -1;
    std::string err;
};

// The program as a script starts it: no display at all.
ToolRun Orvane(const QStringList &args) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");
    p.setProcessEnvironment(env);
    p.start(ORVANE_PATH, args);
    p.waitForFinished(300000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardError().toStdString()};
}

QString Q(const std::string &s) { return QString::fromStdString(s); }

std::string Bytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A page rendered by the rendering library at 144 dpi, as grey levels.
struct Picture {
    int w = 0, h = 0;
    double widthPt = 0, heightPt = 0;
    std::vector<uint8_t> grey;
    // Pixels darker than mid-grey.
    int Dark() const {
        return int(std::count_if(grey.begin(), grey.end(), [](uint8_t v) { return v < 128; }));
    }
    // The box of the pixels that are not white, in points.
    Box Content() const {
        int x0 = w, y0 = h, x1 = -1, y1 = -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (grey[size_t(y) * size_t(w) + size_t(x)] < 250) {
                    x0 = std::min(x0, x);
                    x1 = std::max(x1, x);
                    y0 = std::min(y0, y);
                    y1 = std::max(y1, y);
                }
        return {x0 / 2.0, y0 / 2.0, (x1 + 1) / 2.0, (y1 + 1) / 2.0};
    }
};

std::vector<Picture> RenderAll(const std::string &path) {
    std::vector<Picture> pages;
    const render::RavelApi &api = render::Ravel();
    LS_Document doc = api.OpenFile(path.c_str(), 1);
    if (!doc)
        return pages;
    for (int page = 1; page <= api.Pages(doc); ++page) {
        Picture p;
        double box[4] = {0, 0, 0, 0};
        api.PageExtent(doc, page, box, 0);
        p.widthPt = box[2] - box[0];
        p.heightPt = box[3] - box[1];
        p.w = int(std::lround(p.widthPt * 2));
        p.h = int(std::lround(p.heightPt * 2));
        double scale[2] = {1.5, 1.5};
        int32_t slot = 0;
        if (LS_Bitmap *b = api.DIBitmap24(doc, 0, page, scale, 0, p.w, p.h, &slot)) {
            p.grey.resize(size_t(p.w) * size_t(p.h));
            for (int y = 0; y < p.h; ++y) {
                const uint8_t *row = b->bits + size_t(p.h - 1 - y) * size_t(b->stride);
                for (int x = 0; x < p.w; ++x)
                    p.grey[size_t(y) * size_t(p.w) + size_t(x)] =
                        std::min({row[3 * x], row[3 * x + 1], row[3 * x + 2]});
            }
            api.DeleteBitmap(b);
        }
        pages.push_back(std::move(p));
    }
    api.CloseFile(doc);
    return pages;
}

// Black blocks spread over a part of the page, so every page has its own
// content box.
PagePlan Blocks(Box media, double left, double bottom, double right, double top) {
    PagePlan p;
    p.own.mediaBox = media;
    const double x0 = media.x0 + left, y0 = media.y0 + bottom, x1 = media.x1 - right, y1 = media.y1 - top;
    p.blackRects = {{x0, y0, x0 + 30, y0 + 20},
                    {x1 - 45, y1 - 12, x1, y1},
                    {(x0 + x1) / 2, (y0 + y1) / 2, (x0 + x1) / 2 + 50, (y0 + y1) / 2 + 8}};
    return p;
}

class AutoCropCommand : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(render::LoadRenderingLibrary()); }
    fixtures::TempDir dir;

    // Crops `plan` with `options` and checks each page: all its dark pixels
    // kept, its size the content box plus the margin within the page.
    std::vector<Picture> CheckCrop(const DocPlan &plan, const QStringList &options, double margin) {
        const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
        fixtures::WritePdf(plan, in);
        const std::string before = Bytes(in);
        const ToolRun r = Orvane(QStringList{"--auto-crop", Q(in), "-o", Q(out)} + options);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(Bytes(in), before) << "the input changed";
        const std::vector<Picture> input = RenderAll(in), output = RenderAll(out);
        EXPECT_EQ(output.size(), input.size());
        EXPECT_EQ(input.size(), plan.pages.size());
        for (size_t i = 0; i < std::min(input.size(), output.size()); ++i) {
            SCOPED_TRACE("page " + std::to_string(i + 1));
            EXPECT_FALSE(input[i].grey.empty());
            EXPECT_NEAR(output[i].Dark(), input[i].Dark(), input[i].Dark() / 100 + 8) << "content was cut";
            if (options.contains("--uniform"))
                continue;
            const Box c = input[i].Content();
            const double w = std::min(c.x1 + margin, input[i].widthPt) - std::max(c.x0 - margin, 0.0);
            const double h = std::min(c.y1 + margin, input[i].heightPt) - std::max(c.y0 - margin, 0.0);
            EXPECT_NEAR(output[i].widthPt, w, 1.0);
            EXPECT_NEAR(output[i].heightPt, h, 1.0);
        }
        return output;
    }
};

}  // namespace

TEST_F(AutoCropCommand, EveryPageIsCutToItsContentAndMarginWhateverItsBoxes) {
    DocPlan plan;
    for (int rotate : {0, 90, 180, 270}) {
        PagePlan p = Blocks({0, 0, 612, 792}, 60 + rotate / 10, 80, 100, 50 + rotate / 5);
        p.own.rotate = rotate;
        plan.pages.push_back(p);
    }
    PagePlan offset = Blocks({100, 200, 500, 800}, 40, 30, 20, 60);
    PagePlan cropped = Blocks({0, 0, 612, 792}, 70, 90, 80, 100);
    cropped.own.cropBox = Box{40, 50, 560, 740};
    cropped.own.rotate = 90;
    PagePlan edge = Blocks({0, 0, 595.28, 841.89}, 0, 3, 10, 0);  // content at the edges: the margin stops there
    plan.pages.push_back(offset);
    plan.pages.push_back(cropped);
    plan.pages.push_back(edge);
    // Inherited boxes and rotation.
    plan.group = fixtures::Inheritable{Box{-20, -30, 380, 470}, std::nullopt, 270};
    plan.groupFirst = 7;
    plan.groupCount = 1;
    PagePlan inherited = Blocks({-20, -30, 380, 470}, 50, 60, 40, 30);
    inherited.own.mediaBox.reset();
    plan.pages.push_back(inherited);
    CheckCrop(plan, {"--margin", "6"}, 6);
}

TEST_F(AutoCropCommand, LinksOutlineAndPagesOutsideTheSetAreKept) {
    DocPlan plan;
    for (int i = 0; i < 5; ++i)
        plan.pages.push_back(Blocks({0, 0, 612, 792}, 72, 72 + i * 10, 72, 72));
    plan.pages[0].links.push_back({{100, 300, 200, 330}, 4, {}});
    plan.pages[2].links.push_back({{100, 300, 300, 320}, 0, "https://example.org/"});
    plan.outline = {{"One", 1}, {"Four", 4}};
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    const ToolRun r = Orvane({"--auto-crop", Q(in), "--pages", "odd", "-o", Q(out)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    QPDF before, after;
    before.processFile(in.c_str());
    after.processFile(out.c_str());
    auto pagesBefore = QPDFPageDocumentHelper(before).getAllPages();
    auto pagesAfter = QPDFPageDocumentHelper(after).getAllPages();
    ASSERT_EQ(pagesAfter.size(), 5u);
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(pagesAfter[i].getAnnotations().size(), pagesBefore[i].getAnnotations().size());
        // Odd pages are cropped, even ones keep their boxes.
        EXPECT_EQ(pagesAfter[i].getObjectHandle().hasKey("/CropBox"), i % 2 == 0) << i;
    }
    EXPECT_EQ(QPDFOutlineDocumentHelper(after).getTopLevelOutlines().size(), 2u);
    {
        // Any range: pages 2, 3 and 5 alone.
        const std::string ranged = dir.file("ranged.pdf");
        const ToolRun rr = Orvane({"--auto-crop", Q(in), "--pages", "2-3, 5", "-o", Q(ranged)});
        ASSERT_EQ(rr.exitCode, 0) << rr.err;
        QPDF cropped;
        cropped.processFile(ranged.c_str());
        auto pages = QPDFPageDocumentHelper(cropped).getAllPages();
        for (size_t i = 0; i < 5; ++i)
            EXPECT_EQ(pages[i].getObjectHandle().hasKey("/CropBox"), i == 1 || i == 2 || i == 4) << i;
    }
    // The input's bytes are kept, the crop appended to them.
    EXPECT_EQ(Bytes(out).compare(0, Bytes(in).size(), Bytes(in)), 0);
    EXPECT_EQ(r.err, "");

    // A damaged input is written whole, and what the crop tool says of it
    // is passed on.
    std::string damaged = Bytes(in);
    const size_t startxref = damaged.rfind("startxref\n") + 10;
    damaged.insert(startxref, "1");
    std::ofstream(dir.file("damaged.pdf"), std::ios::binary) << damaged;
    const ToolRun repaired = Orvane({"--auto-crop", Q(dir.file("damaged.pdf")), "-o", Q(dir.file("repaired.pdf"))});
    ASSERT_EQ(repaired.exitCode, 0) << repaired.err;
    EXPECT_NE(repaired.err.find("quorrel: " + dir.file("repaired.pdf") +
                                " is written as a whole new file, not as an update, because the input is damaged"),
              std::string::npos)
        << repaired.err;
}

TEST_F(AutoCropCommand, OneCommonSizeForEveryPage) {
    DocPlan plan;
    for (int i = 0; i < 6; ++i)
        plan.pages.push_back(i % 2 ? Blocks({0, 0, 612, 792}, 60, 100 + i * 7, 110, 60)
                                   : Blocks({0, 0, 612, 792}, 110, 90, 60 + i * 5, 80));
    plan.pages.push_back(PagePlan{});  // blank: the common size as well
    const std::vector<Picture> out = CheckCrop(plan, {"--uniform", "--margin", "4"}, 4);
    ASSERT_EQ(out.size(), 7u);
    for (const Picture &p : out) {
        EXPECT_NEAR(p.widthPt, out[0].widthPt, 0.02);
        EXPECT_NEAR(p.heightPt, out[0].heightPt, 0.02);
    }
    EXPECT_LT(out[0].widthPt, 612 - 150);
}

TEST_F(AutoCropCommand, FailuresSayWhyInOneLineAndLeaveNoOutput) {
    DocPlan plan;
    plan.pages.push_back(Blocks({0, 0, 612, 792}, 72, 72, 72, 72));
    const std::string good = dir.file("good.pdf");
    fixtures::WritePdf(plan, good);
    DocPlan locked = plan;
    locked.encryption = fixtures::Encryption::UserPassword;
    fixtures::WritePdf(locked, dir.file("locked.pdf"));
    std::ofstream(dir.file("damaged.pdf")) << "%PDF-1.4\n1 0 obj garbage\n%%EOF\n";
    std::ofstream(dir.file("text.pdf")) << "just words, no PDF\n";
    fs::create_directory(dir.file("folder.pdf"));
    fs::create_hard_link(good, dir.file("same.pdf"));
    DocPlan blank;
    blank.pages.resize(3);
    fixtures::WritePdf(blank, dir.file("blank.pdf"));
    DocPlan deep = plan;  // content no real page nests so deep
    for (int i = 0; i < 2000; ++i)
        deep.pages[0].lastContent += "q ";
    fixtures::WritePdf(deep, dir.file("deep.pdf"));
    const std::string before = Bytes(good);

    struct Row {
        const char *name;
        QStringList args;
        std::string says;
        std::string output;
    };
    const std::string out = dir.file("out.pdf");
    const Row rows[] = {
        {"missing", {"--auto-crop", Q(dir.file("none.pdf")), "-o", Q(out)}, "does not exist", out},
        {"locked",
         {"--auto-crop", Q(dir.file("locked.pdf")), "-o", Q(out)},
         "locked.pdf needs a password (use --password-file)",
         out},
        {"damaged", {"--auto-crop", Q(dir.file("damaged.pdf")), "-o", Q(out)}, "damaged", out},
        {"not a PDF", {"--auto-crop", Q(dir.file("text.pdf")), "-o", Q(out)}, "not a PDF", out},
        {"a folder in", {"--auto-crop", Q(dir.file("folder.pdf")), "-o", Q(out)}, "folder", out},
        {"output in no folder",
         {"--auto-crop", Q(good), "-o", Q(dir.file("no/such/out.pdf"))},
         "does not exist",
         dir.file("no/such/out.pdf")},
        {"output a folder", {"--auto-crop", Q(good), "-o", Q(dir.file("folder.pdf"))}, "is a folder", ""},
        {"output the input", {"--auto-crop", Q(good), "-o", Q(good)}, "is the input file", ""},
        {"output the input by another name",
         {"--auto-crop", Q(good), "-o", Q(dir.file("same.pdf"))},
         "is the input file",
         ""},
        {"nothing to crop", {"--auto-crop", Q(dir.file("blank.pdf")), "-o", Q(out)}, "nothing was cropped", out},
        {"pages the document lacks",
         {"--auto-crop", Q(good), "-o", Q(out), "--pages", "1, 40-"},
         "Page 40 does not exist",
         out},
        {"no page of the set",
         {"--crop", Q(good), "-o", Q(out), "--pages", "even", "--margins", "1,1,1,1"},
         "none of the 1 page of",
         out},
        {"the crop tool fails",
         {"--crop", Q(dir.file("deep.pdf")), "-o", Q(out), "--margins", "1,1,1,1", "--remove-hidden"},
         "levels deep",
         out},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const ToolRun r = Orvane(row.args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind("orvane: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << r.err;
        if (!row.output.empty()) {
            EXPECT_FALSE(fs::exists(row.output));
        }
    }
    EXPECT_EQ(Bytes(good), before);
    // Nothing half-written beside the output either.
    for (const auto &entry : fs::directory_iterator(dir.path()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos) << entry.path();

    // Wrong arguments: exit code 2 and a pointer to the help.
    for (const QStringList &args :
         {QStringList{"--auto-crop", Q(good)}, QStringList{"--auto-crop", Q(good), "-o", Q(out), "--margin", "x"},
          QStringList{"--auto-crop", Q(good), "-o", Q(out), "--pages", "some"},
          QStringList{"--auto-crop", Q(good), "-o", Q(out), "--ignore", "heads,footers"},
          QStringList{"--auto-crop", Q(good), "-o", Q(out), "--cap", "0"},
          QStringList{"--auto-crop", Q(good), "-o", Q(out), "--cap", "150%"},
          QStringList{"--auto-crop", Q(good), "-o", Q(out), "--sensitivity", "101"}}) {
        const ToolRun r = Orvane(args);
        EXPECT_EQ(r.exitCode, 2) << args.join(' ').toStdString();
        EXPECT_NE(r.err.find("--help"), std::string::npos);
    }
    // An option the program does not know is an error, not a file to show.
    const ToolRun bogus = Orvane({"--bogus"});
    EXPECT_EQ(bogus.exitCode, 2);
    EXPECT_NE(bogus.err.find("unknown argument \"--bogus\""), std::string::npos) << bogus.err;
    const ToolRun help = Orvane({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(AutoCropCommand, TheReportListsAFullPageFigureAndABlankPage) {
    DocPlan plan;
    for (int i = 0; i < 8; ++i)
        plan.pages.push_back(Blocks({0, 0, 612, 792}, 72, 72, 72, 72));
    plan.pages[3] = Blocks({0, 0, 612, 792}, 0, 0, 0, 0);  // a figure over the whole page
    plan.pages[5] = PagePlan{};                            // blank
    const std::string in = dir.file("in.pdf");
    fixtures::WritePdf(plan, in);
    // The crop tool runs under the application's event loop.
    int argc = 1;
    char name[] = "auto_crop_command_test";
    char *argv[] = {name, nullptr};
    QCoreApplication application(argc, argv);
    crop::CropRun::SetToolPath(QUORREL_PATH);
    crop::AutoCropReport report;
    QString reason;
    crop::AutoCropJob job;
    job.input = Q(in);
    job.output = Q(dir.file("out.pdf"));
    ASSERT_TRUE(crop::AutoCropFile(job, report, reason)) << reason.toStdString();
    crop::CropRun::SetToolPath({});
    EXPECT_EQ(report.pages, 8);
    EXPECT_EQ(report.cropped, 7);
    EXPECT_EQ(report.blank, 1);
    ASSERT_EQ(report.outliers.size(), 2u);
    EXPECT_EQ(report.outliers[0].page, 4);
    EXPECT_EQ(report.outliers[1].page, 6);
    EXPECT_EQ(report.outliers[1].brief, "blank");
}

TEST_F(AutoCropCommand, ExactMarginsAreMeasuredFromTheEdgesOfEachPageAsShown) {
    DocPlan plan;
    PagePlan turned = Blocks({100, 200, 500, 800}, 40, 30, 20, 60);  // offset and rotated
    turned.own.rotate = 90;
    PagePlan cropped = Blocks({0, 0, 612, 792}, 70, 90, 80, 100);
    cropped.own.cropBox = Box{40, 50, 560, 740};
    cropped.own.rotate = 270;
    plan.pages = {turned, cropped, Blocks({0, 0, 612, 792}, 10, 10, 10, 10)};
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    // 10, 20, 30 and 40 points; the third page is left out of the range.
    const ToolRun r =
        Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "0.3528,0.7056,1.0583,1.4111cm", "--pages", "1-2"});
    EXPECT_EQ(r.exitCode, 2) << "cm is no unit";
    const ToolRun ok = Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "10,20,30,40", "--pages", "1-2"});
    ASSERT_EQ(ok.exitCode, 0) << ok.err;
    const std::vector<Picture> input = RenderAll(in), output = RenderAll(out);
    ASSERT_EQ(output.size(), 3u);
    for (size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        EXPECT_NEAR(output[i].widthPt, input[i].widthPt - 40, 0.02);
        EXPECT_NEAR(output[i].heightPt, input[i].heightPt - 60, 0.02);
        // What the output shows is the input's part inside the margins.
        int inside = 0;
        for (int y = 40; y < input[i].h - 80; ++y)
            for (int x = 20; x < input[i].w - 60; ++x)
                inside += input[i].grey[size_t(y) * size_t(input[i].w) + size_t(x)] < 128;
        EXPECT_NEAR(output[i].Dark(), inside, inside / 50 + 8);
    }
    EXPECT_NEAR(output[2].widthPt, 612, 0.02) << "outside the range";
    // A margin below 0 adds that much; none makes a page past 14,400 pt.
    const ToolRun added = Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "0,-10,-20,0", "--pages", "3"});
    ASSERT_EQ(added.exitCode, 0) << added.err;
    EXPECT_NEAR(RenderAll(out)[2].widthPt, 632, 0.02);
    EXPECT_NEAR(RenderAll(out)[2].heightPt, 802, 0.02);
    fs::remove(out);
    const ToolRun huge = Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "0,0,-20000,0"});
    EXPECT_EQ(huge.exitCode, 1);
    EXPECT_NE(huge.err.find("larger than 14400 pt"), std::string::npos) << huge.err;
    EXPECT_FALSE(fs::exists(out));
    // Margins that leave nothing of any page write nothing.
    const ToolRun none = Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "400,0,400,0"});
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("leave nothing"), std::string::npos) << none.err;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(AutoCropCommand, ToTheTrimBoxTakesOffPrintersMarksAndRestoreGivesTheFileBack) {
    DocPlan plan;
    PagePlan print;
    print.own.mediaBox = Box{0, 0, 700, 900};
    print.trimBox = Box{50, 50, 650, 850};
    print.blackRects = {{100, 100, 600, 800}};  // the page
    for (const Box &mark : {Box{0, 59, 40, 61}, Box{660, 59, 700, 61}, Box{59, 860, 61, 900}, Box{639, 0, 641, 40}})
        print.blackRects.push_back(mark);  // crop marks, outside the trim box
    plan.pages = {print, Blocks({0, 0, 612, 792}, 10, 10, 10, 10)};
    const std::string in = dir.file("print.pdf"), out = dir.file("trimmed.pdf"), back = dir.file("back.pdf");
    fixtures::WritePdf(plan, in);
    const ToolRun r = Orvane({"--crop", Q(in), "--to-box", "trim", "-o", Q(out)});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("page 2 has no trim box; it is left as it is"), std::string::npos) << r.err;
    const std::vector<Picture> output = RenderAll(out);
    ASSERT_EQ(output.size(), 2u);
    EXPECT_NEAR(output[0].widthPt, 600, 0.02);
    EXPECT_NEAR(output[0].heightPt, 800, 0.02);
    const Box shown = output[0].Content();  // the page alone: no mark
    EXPECT_NEAR(shown.x0, 50, 1);
    EXPECT_NEAR(shown.x1, 550, 1);
    EXPECT_NEAR(output[1].widthPt, 612, 0.02);
    EXPECT_EQ(Orvane({"--crop", Q(in), "--to-box", "slug", "-o", Q(out)}).exitCode, 2);

    // The copy gives its original back, byte for byte.
    const ToolRun restored = Orvane({"--restore", Q(out), "-o", Q(back)});
    ASSERT_EQ(restored.exitCode, 0) << restored.err;
    EXPECT_EQ(Bytes(back), Bytes(in));
}

TEST_F(AutoCropCommand, OnePaperSizeOrOneAspectForEveryPageWhateverItsBoxes) {
    DocPlan plan;
    PagePlan turned = Blocks({100, 200, 500, 800}, 40, 30, 20, 60);  // offset and rotated
    turned.own.rotate = 90;
    PagePlan cropped = Blocks({0, 0, 612, 792}, 70, 90, 80, 100);
    cropped.own.cropBox = Box{40, 50, 560, 740};
    PagePlan inherited = Blocks({0, 0, 500, 700}, 50, 60, 50, 60);  // its boxes and turn from its parent
    inherited.own.mediaBox.reset();
    plan.group = fixtures::Inheritable{Box{0, 0, 500, 700}, Box{20, 30, 480, 670}, 180};
    plan.groupFirst = 3;
    plan.groupCount = 1;
    plan.pages = {turned, cropped, Blocks({0, 0, 300, 400}, 10, 10, 10, 10), inherited};
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    ToolRun r = Orvane({"--auto-crop", Q(in), "-o", Q(out), "--page-size", "a5"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("are larger than the paper; drawn smaller to fit it"), std::string::npos) << r.err;
    const std::vector<Picture> before = RenderAll(in), onPaper = RenderAll(out);
    ASSERT_EQ(onPaper.size(), before.size());
    for (size_t i = 0; i < onPaper.size(); ++i) {
        EXPECT_NEAR(onPaper[i].widthPt, 419.528, 0.01);
        EXPECT_NEAR(onPaper[i].heightPt, 595.276, 0.01);
        // Drawn smaller, never cut: the content keeps its shape, within the paper.
        const Box was = before[i].Content(), now = onPaper[i].Content();
        const double scale = (now.x1 - now.x0) / (was.x1 - was.x0);
        EXPECT_LE(scale, 1.01) << "page " << i + 1;
        EXPECT_NEAR((now.y1 - now.y0) / (was.y1 - was.y0), scale, 0.01) << "page " << i + 1;
    }
    r = Orvane({"--auto-crop", Q(in), "-o", Q(out + ".tiny"), "--page-size", "4x4"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("would be drawn at less than 1 % of its size"), std::string::npos) << r.err;
    r = Orvane({"--auto-crop", Q(in), "-o", Q(out), "--page-size", "a5", "--scaling", "none"});
    EXPECT_NE(r.err.find("are larger than the paper; cut to it"), std::string::npos) << r.err;
    r = Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "0,0,0,0", "--ratio", "3:4"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<Picture> input = RenderAll(in), shaped = RenderAll(out);
    // Ink summed, so that edges drawn at other fractions of a pixel count alike.
    auto ink = [](const Picture &p) {
        double sum = 0;
        for (uint8_t v : p.grey)
            sum += 255 - v;
        return sum;
    };
    for (size_t i = 0; i < shaped.size(); ++i) {
        EXPECT_NEAR(shaped[i].widthPt / shaped[i].heightPt, 0.75, 0.0001);
        EXPECT_NEAR(ink(shaped[i]), ink(input[i]), ink(input[i]) / 100) << "nothing is cut";
    }
    r = Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "0,0,0,0", "--rotate", "90", "--pages", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NEAR(RenderAll(out)[2].widthPt, 400, 0.01) << "the third page turned on its side";
    EXPECT_EQ(Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "0,0,0,0", "--rotate", "45"}).exitCode, 2);
    for (const char *bad : {"0:1", "a:b", "3-4"})
        EXPECT_EQ(Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "0,0,0,0", "--ratio", bad}).exitCode, 2);
    EXPECT_EQ(Orvane({"--auto-crop", Q(in), "-o", Q(out), "--page-size", "A9x"}).exitCode, 2);
    EXPECT_EQ(Orvane({"--auto-crop", Q(in), "-o", Q(out), "--page-size", "A5", "--anchor", "middle"}).exitCode, 2);
    EXPECT_EQ(Orvane({"--auto-crop", Q(in), "-o", Q(out), "--anchor", "top"}).exitCode, 2) << "no paper to place on";
}

TEST_F(AutoCropCommand, PagesDroppedOrFoundBlankAreLeftOutButNeverEveryPage) {
    DocPlan plan;
    plan.pages = {Blocks({0, 0, 612, 792}, 50, 50, 50, 50), PagePlan{}, Blocks({0, 0, 612, 792}, 60, 60, 60, 60)};
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    auto pagesOf = [](const std::string &path) {
        QPDF pdf;
        pdf.processFile(path.c_str());
        return QPDFPageDocumentHelper(pdf).getAllPages().size();
    };
    ToolRun r = Orvane({"--auto-crop", Q(in), "-o", Q(out), "--drop-blank"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(pagesOf(out), 2u);
    // Nothing to leave out with --body-only is said, and the copy is written.
    r = Orvane({"--auto-crop", Q(in), "-o", Q(out), "--body-only", "--pages", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("every mark counts"), std::string::npos) << r.err;
    r = Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "0,0,-20,0", "--drop", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(pagesOf(out), 2u);
    for (const Picture &page : RenderAll(out))
        EXPECT_NEAR(page.widthPt, 632, 0.02) << "each page kept grows, the one left out none";
    fs::remove(out);
    r = Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "10,10,10,10", "--drop", "all"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("every page"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(AutoCropCommand, SplitTwoUpCutsAtTheFoldNotAtTheMiddle) {
    // Two facing pages of text with a dark fold between them, off the
    // middle of the content: an even split would cut the left page's text.
    PagePlan spread;
    spread.own.mediaBox = Box{0, 0, 612, 792};
    for (int line = 0; line < 30; ++line) {
        const double y = 60 + line * 22;
        spread.blackRects.push_back({40, y, 330, y + 9});
        spread.blackRects.push_back({370, y, 580, y + 9});
    }
    spread.blackRects.push_back({350, 40, 360, 752});  // the fold
    DocPlan plan;
    plan.pages = {spread};
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    for (bool rightToLeft : {false, true}) {
        SCOPED_TRACE(rightToLeft ? "right to left" : "left to right");
        QStringList args{"--auto-crop", Q(in), "-o", Q(out), "--split", "2x1"};
        if (rightToLeft)
            args << "--right-to-left";
        const ToolRun r = Orvane(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        const std::vector<Picture> pages = RenderAll(out);
        ASSERT_EQ(pages.size(), 2u);
        const Picture &left = pages[rightToLeft ? 1 : 0], &right = pages[rightToLeft ? 0 : 1];
        // Each half is its own page's text: the fold is left out.
        EXPECT_NEAR(left.widthPt, 330 - 40, 2.0);
        EXPECT_NEAR(right.widthPt, 580 - 370, 2.0);
        EXPECT_NEAR(left.heightPt, 707 - 60, 2.0);
    }
    EXPECT_EQ(Orvane({"--auto-crop", Q(in), "-o", Q(out), "--split", "1x1"}).exitCode, 2);
    EXPECT_EQ(Orvane({"--auto-crop", Q(in), "-o", Q(out), "--split", "5x1"}).exitCode, 2);
}

namespace {

// The command line run in this process with `args` given byte for byte.
int RunHere(std::vector<std::string> args) {
    int argc = 1;
    char name[] = "orvane";
    char *appArgv[] = {name, nullptr};
    QCoreApplication application(argc, appArgv);
    crop::CropRun::SetToolPath(QUORREL_PATH);
    std::vector<char *> argv{name};
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const int code = app::RunCommandLine(int(argv.size() - 1), argv.data());
    crop::CropRun::SetToolPath({});
    return code;
}

// The process started by `parent` whose program is `name`; 0 when none.
pid_t ChildNamed(qint64 parent, const std::string &name) {
    for (const auto &entry : fs::directory_iterator("/proc")) {
        const std::string stat = Bytes(entry.path() / "stat");
        const size_t close = stat.rfind(')');
        if (close == std::string::npos || stat.find("(" + name + ")") == std::string::npos)
            continue;
        std::istringstream rest(stat.substr(close + 2));
        char state = 0;
        long long ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent)
            return pid_t(std::stol(entry.path().filename().string()));
    }
    return 0;
}

}  // namespace

TEST_F(AutoCropCommand, NamesHeadersPageTreesAndBoxesAreTakenAsTheFileHasThem) {
    DocPlan plan;
    plan.pages.push_back(Blocks({0, 0, 612, 792}, 72, 72, 72, 72));
    // Names that are not UTF-8, told apart by one byte: each copy is
    // written under its own name.
    const std::string first = dir.file("in\xe8.pdf"), second = dir.file("in\xe9.pdf");
    fixtures::WritePdf(plan, first);
    fs::copy_file(first, second);
    for (const std::string &in : {first, second}) {
        const std::string out = dir.file("o2-" + in.substr(in.size() - 5, 1) + ".pdf");
        EXPECT_EQ(RunHere({"--crop", in, "-o", out, "--margins", "10,10,10,10"}), 0);
        EXPECT_TRUE(fs::exists(out)) << "written under its own bytes";
    }

    // A header after the first kilobyte, as readers take it.
    const std::string late = dir.file("late.pdf"), out = dir.file("out.pdf");
    std::ofstream(late, std::ios::binary) << std::string(2000, 'x') << "\n" << Bytes(first);
    ToolRun r = Orvane({"--crop", Q(late), "-o", Q(out), "--margins", "10,10,10,10"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(RenderAll(out).size(), 1u);
    EXPECT_EQ(Bytes(out).substr(0, 8), Bytes(first).substr(0, 8)) << "the version of the header kept";

    // A root that claims two thousand million pages, or ten million, over
    // one: one page, cropped at once.
    for (const long long claimed : {2000000000LL, 10000000LL}) {
        DocPlan lying = plan;
        lying.claimedPageCount = claimed;
        const std::string in = dir.file("lying.pdf");
        fixtures::WritePdf(lying, in);
        ASSERT_NE(Bytes(in).find("/Count " + std::to_string(claimed)), std::string::npos);
        for (const QStringList &how : {QStringList{"--crop", Q(in), "-o", Q(out), "--margins", "10,10,10,10"},
                                       QStringList{"--auto-crop", Q(in), "-o", Q(out)}}) {
            fs::remove(out);
            r = Orvane(how);
            EXPECT_EQ(r.exitCode, 0) << claimed << ": " << r.err;
            EXPECT_EQ(RenderAll(out).size(), 1u) << claimed;
            // The copy tells every reader the pages it has.
            QPDF copy;
            copy.processFile(out.c_str());
            EXPECT_EQ(copy.getRoot().getKey("/Pages").getKey("/Count").getIntValue(), 1) << claimed;
        }
    }

    // A crop box wholly outside the media box: the window and the crop
    // tool both show the media box, so margins are taken from its edges.
    DocPlan outside = plan;
    outside.pages[0].own.cropBox = Box{700, 900, 1088, 1108};
    const std::string in = dir.file("outside.pdf");
    fixtures::WritePdf(outside, in);
    fs::remove(out);
    r = Orvane({"--crop", Q(in), "-o", Q(out), "--margins", "10,10,10,10"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<Picture> shown = RenderAll(in), cropped = RenderAll(out);
    ASSERT_EQ(cropped.size(), 1u);
    EXPECT_EQ(shown[0].widthPt, 612);
    EXPECT_NEAR(cropped[0].widthPt, shown[0].widthPt - 20, 0.02);
    EXPECT_NEAR(cropped[0].heightPt, shown[0].heightPt - 20, 0.02);

    // Once a password has been read, the process leaves no core behind.
    DocPlan locked = plan;
    locked.encryption = fixtures::Encryption::UserPassword;
    fixtures::WritePdf(locked, dir.file("locked.pdf"));
    std::ofstream(dir.file("password")) << "secret\n";
    fs::remove(out);
    EXPECT_EQ(RunHere({"--crop", dir.file("locked.pdf"), "-o", out, "--margins", "10,10,10,10", "--password-file",
                       dir.file("password")}),
              0);
    EXPECT_EQ(::prctl(PR_GET_DUMPABLE, 0, 0, 0, 0), 0);
}

TEST_F(AutoCropCommand, AProgramStoppedOrKilledWhileItsCopyIsWrittenLeavesNone) {
    // Pages large enough that writing the copy takes a while.
    DocPlan plan;
    for (int i = 0; i < 12; ++i) {
        PagePlan page = Blocks({0, 0, 612, 792}, 72, 72, 72, 72);
        page.noiseImageKilobytes = 3000;
        plan.pages.push_back(page);
    }
    const std::string in = dir.file("in.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(plan, in);
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal);
        QProcess orvane;
        orvane.start(ORVANE_PATH, {"--auto-crop", Q(in), "-o", Q(out), "--remove-hidden"});
        ASSERT_TRUE(orvane.waitForStarted());
        // Once the crop tool has begun writing (its first progress line),
        // the program is told to end.
        pid_t tool = 0;
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(120);
        for (; std::chrono::steady_clock::now() < until; std::this_thread::sleep_for(std::chrono::milliseconds(1))) {
            if (!tool)
                tool = ChildNamed(orvane.processId(), "quorrel");
            const std::string io = tool ? Bytes("/proc/" + std::to_string(tool) + "/io") : std::string();
            const size_t written = io.find("wchar: ");
            if (written != std::string::npos && std::stoll(io.substr(written + 7)) > 0)
                break;
        }
        ASSERT_NE(tool, 0);
        ASSERT_FALSE(fs::exists(out)) << "the copy was written before the program could be stopped";
        ::kill(pid_t(orvane.processId()), signal);
        orvane.waitForFinished(60000);
        // The tool ends too, and leaves nothing.
        for (int i = 0; i < 6000 && fs::exists("/proc/" + std::to_string(tool)); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_FALSE(fs::exists("/proc/" + std::to_string(tool))) << "the crop tool outlived the program";
        EXPECT_FALSE(fs::exists(out));
    }
}

namespace {

// The raw bytes of every picture a document draws, by page.
std::vector<std::vector<std::string>> PictureBytes(QPDF &pdf) {
    std::vector<std::vector<std::string>> pages;
    for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(pdf).getAllPages()) {
        pages.emplace_back();
        for (auto &[name, image] : page.getImages()) {
            const std::shared_ptr<Buffer> raw = image.getRawStreamData();
            pages.back().emplace_back(reinterpret_cast<const char *>(raw->getBuffer()), raw->getSize());
        }
    }
    return pages;
}

// The turn (degrees counterclockwise) of the matrix a straightened page's
// content opens with; nothing for a page drawn as it was.
std::optional<double> TurnOf(QPDFPageObjectHelper page) {
    std::vector<QPDFObjectHandle> streams = page.getPageContents();
    if (streams.empty())
        return std::nullopt;
    const std::shared_ptr<Buffer> data = streams.front().getStreamData();
    std::istringstream first(std::string(reinterpret_cast<const char *>(data->getBuffer()), data->getSize()));
    std::string q, cm;
    double a, b, c, d, e, f;
    if (!(first >> q >> a >> b >> c >> d >> e >> f >> cm) || q != "q" || cm != "cm")
        return std::nullopt;
    return std::atan2(b, a) * 180 / M_PI;
}

// The skew of a page of `path` rendered at 100 dpi.
crop::Skew RenderedSkew(const std::string &path, int page) {
    std::unique_ptr<render::PageSource> source = render::PageSource::Open(path, 1);
    QRect rect;
    QString reason, note;
    const render::BitmapHandle bitmap = source ? render::RenderPageBitmap(*source, page, rect, reason, note) : nullptr;
    return bitmap ? crop::MeasureSkew(crop::PixelView::Of(*bitmap)) : crop::Skew{};
}

}  // namespace

TEST_F(AutoCropCommand, DeskewStraightensScansLevelKeepingTheirPicturesAndLinks) {
    // Scans tilted by known angles (text, a figure, a table's rules), one
    // level, a page of dust and a typeset page.
    struct Sheet {
        double tilt;
        bool figure = false, rules = false;
    };
    const std::vector<Sheet> sheets = {{-4}, {-2.5, true}, {-1.2}, {0.7, false, true}, {2}, {4, true}, {0}};
    DocPlan plan;
    std::vector<fixtures::Box> printed;
    for (size_t i = 0; i < sheets.size(); ++i) {
        fixtures::ScanOptions o;
        o.seed = unsigned(i + 11);
        o.dpi = i % 2 ? 150 : 200;
        o.tilt = sheets[i].tilt;
        o.figure = sheets[i].figure;
        o.tableRules = sheets[i].rules;
        const fixtures::ScanPage scan = fixtures::MakeScanPage(o);
        printed.push_back(scan.printed);
        plan.pages.push_back(fixtures::ScanPagePlan(scan));
    }
    // A link over the first page's print, 100 pt right of its centre.
    plan.pages[0].links.push_back({{396, 386, 456, 406}, 2, ""});
    fixtures::ScanOptions dust;
    dust.dustOnly = true;
    dust.specks = 30;
    plan.pages.push_back(fixtures::ScanPagePlan(fixtures::MakeScanPage(dust)));
    PagePlan typeset;
    typeset.own.mediaBox = Box{0, 0, 612, 792};
    typeset.bookContent = true;
    plan.pages.push_back(typeset);
    // A scan shown sideways: its lines run down the page.
    fixtures::ScanOptions sideways;
    sideways.seed = 31;
    sideways.dpi = 150;
    sideways.tilt = 1.8;
    plan.pages.push_back(fixtures::ScanPagePlan(fixtures::MakeScanPage(sideways)));
    plan.pages.back().own.rotate = 90;

    const std::string in = dir.file("scans.pdf"), out = dir.file("level.pdf");
    fixtures::WritePdf(plan, in);
    const ToolRun r = Orvane({"--auto-crop", Q(in), "-o", Q(out), "--deskew"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("page 8 is a scan whose skew cannot be told"), std::string::npos) << r.err;

    QProcess check;
    check.start("qpdf", {"--check", Q(out)});
    check.waitForFinished(60000);
    EXPECT_EQ(check.exitCode(), 0) << check.readAll().toStdString();

    QPDF before, after;
    before.processFile(in.c_str());
    after.processFile(out.c_str());
    const auto inPictures = PictureBytes(before), outPictures = PictureBytes(after);
    std::vector<QPDFPageObjectHelper> inPages = QPDFPageDocumentHelper(before).getAllPages();
    std::vector<QPDFPageObjectHelper> outPages = QPDFPageDocumentHelper(after).getAllPages();
    ASSERT_EQ(outPages.size(), plan.pages.size());
    const size_t sidewaysPage = outPages.size() - 1;
    const std::optional<double> sidewaysTurn = TurnOf(outPages[sidewaysPage]);
    ASSERT_TRUE(sidewaysTurn);
    EXPECT_NEAR(*sidewaysTurn, 1.8, 0.1);
    EXPECT_LE(std::fabs(RenderedSkew(out, int(sidewaysPage + 1)).degrees), 0.1);
    for (size_t i = 0; i < sidewaysPage; ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        EXPECT_EQ(outPictures[i], inPictures[i]) << "a picture's bytes changed";
        const size_t streams = inPages[i].getPageContents().size();
        if (i >= sheets.size() - 1) {
            // Level, dust and typeset: drawn as they were.
            EXPECT_EQ(outPages[i].getPageContents().size(), streams);
            continue;
        }
        // Drawn through a turn: a stream before the page's, one after.
        ASSERT_EQ(outPages[i].getPageContents().size(), streams + 2);
        const std::optional<double> turn = TurnOf(outPages[i]);
        ASSERT_TRUE(turn);
        EXPECT_NEAR(*turn, sheets[i].tilt, 0.1);
        const crop::Skew level = RenderedSkew(out, int(i + 1));
        EXPECT_TRUE(level.measured);
        EXPECT_LE(std::fabs(level.degrees), 0.1);
        // The whole printed block, and at most 6 pt more on each side (the
        // block as placed before the tilt, y down from the top).
        const QPDFObjectHandle::Rectangle crop = outPages[i].getCropBox().getArrayAsRectangle();
        const fixtures::Box &p = printed[i];
        EXPECT_LE(crop.llx, p.x0 + 0.5);
        EXPECT_GE(crop.urx, p.x1 - 0.5);
        EXPECT_GE(crop.ury, 792 - p.y0 - 0.5);
        EXPECT_LE(crop.lly, 792 - p.y1 + 0.5);
        EXPECT_GE(crop.llx, p.x0 - 6);
        EXPECT_LE(crop.urx, p.x1 + 6);
        EXPECT_LE(crop.ury, 792 - p.y0 + 6);
        EXPECT_GE(crop.lly, 792 - p.y1 - 6);
    }
    // The link turned with its page: its centre (426, 396) taken 90 pt
    // right of the page's centre (306, 396) by the turn.
    QPDFObjectHandle link = outPages[0].getObjectHandle().getKey("/Annots").getArrayItem(0);
    const QPDFObjectHandle::Rectangle rect = link.getKey("/Rect").getArrayAsRectangle();
    const double a = *TurnOf(outPages[0]) * M_PI / 180;
    EXPECT_NEAR((rect.llx + rect.urx) / 2, 306 + 120 * std::cos(a), 0.01);
    EXPECT_NEAR((rect.lly + rect.ury) / 2, 396 + 120 * std::sin(a), 0.01);
}

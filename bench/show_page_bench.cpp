// Showing every page of a 100-page document in turn through the document's
// ShowPage (render, copy into the page picture, the page view told, one
// full repaint) against the bare LS_DIBitmap24 render of the same pages at
// the same size, in the same run.

#include "crop/model/document.h"
#include "crop/view/orvane_view.h"
#include "platform/memory_tuning.h"
#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <QApplication>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>

namespace {
using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }
}  // namespace

int main(int argc, char **argv) {
    platform::KeepLargeBlocksForReuse();  // as the program does
    QApplication app(argc, argv);
    fixtures::TempDir dir;
    const std::string path = dir.file("bench.pdf");
    fixtures::WritePdf(fixtures::ManyPages(100, true), path);

    crop::COrvaneDoc document;
    crop::COrvaneView view(document);
    view.resize(900, 800);
    view.show();
    QString reason;
    if (!document.OpenDocument(QString::fromStdString(path), reason))
        return 1;
    const int pages = document.PageCount();
    const render::RavelApi &api = render::Ravel();
    LS_Document doc = api.OpenFile(path.c_str(), 1);

    double ours = 1e18, bare = 1e18;
    for (int round = 0; round < 7; ++round) {
        // Opening showed page 1; every other page is shown in turn.
        auto t0 = Clock::now();
        for (int p = 2; p <= pages; ++p) {
            document.ShowPage(p);
            view.viewport()->repaint();
        }
        auto t1 = Clock::now();
        for (int p = 2; p <= pages; ++p) {
            double box[4] = {0, 0, 0, 0};
            api.PageExtent(doc, p, box, 0);
            const int w = int(int(box[2] * 101 / 72) * 1.5), h = int(int(box[3] * 101 / 72) * 1.5);
            double scale[2] = {1.5, 1.5};
            int32_t slot = 0;
            if (LS_Bitmap *b = api.DIBitmap24(doc, 0, p, scale, 0, w, h, &slot))
                api.DeleteBitmap(b);
        }
        auto t2 = Clock::now();
        ours = std::min(ours, Ms(t0, t1) / (pages - 1));
        bare = std::min(bare, Ms(t1, t2) / (pages - 1));
        document.CloseDocument();
        document.OpenDocument(QString::fromStdString(path), reason);
    }
    api.CloseFile(doc);
    std::printf("ShowPage + repaint: %.2f ms/page   bare LS_DIBitmap24: %.2f ms/page   ratio %.3f (target <= 1.25)\n",
                ours, bare, ours / bare);
    return 0;
}

// Turning pages of a scanned book: 50 pages, each a 2550 x 3300 grey JPEG
// (a 300 dpi letter scan). A reader pauses 300 ms on each page, then
// presses Next Page; the time from the command to the page painted is
// measured with the pages rendered ahead, and against the same turns with
// nothing rendered ahead (each page rendered when asked for), in the same
// run.

#include "crop/model/document.h"
#include "crop/view/orvane_view.h"
#include "platform/memory_tuning.h"
#include "res/command_ids.h"
#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
double Ms(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double, std::milli>(b - a).count(); }

// The value that `share` of the turns do not exceed (0.5: the median).
double Percentile(std::vector<double> v, double share) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[std::min(v.size() - 1, size_t(share * double(v.size())))];
}

// Lets the event loop run for `ms`, as a reader's pause.
void Pause(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::vector<double> TurnPages(crop::COrvaneDoc &document, crop::COrvaneView &view, const QString &path) {
    QString reason;
    if (!document.OpenDocument(path, reason)) {
        std::fprintf(stderr, "cannot open: %s\n", qPrintable(reason));
        std::exit(1);
    }
    view.viewport()->repaint();
    std::vector<double> turns;
    for (int page = 2; page <= document.PageCount(); ++page) {
        Pause(300);
        const auto t0 = Clock::now();
        view.OnCommand(res::ID_NEXT_PAGE);
        view.viewport()->repaint();
        turns.push_back(Ms(t0, Clock::now()));
        if (document.CurrentPage() != page) {
            std::fprintf(stderr, "page %d was not shown\n", page);
            std::exit(1);
        }
    }
    document.CloseDocument();
    return turns;
}

}  // namespace

int main(int argc, char **argv) {
    platform::KeepLargeBlocksForReuse();  // as the program does
    QApplication app(argc, argv);
    render::EnsureRenderingLibrary();
    fixtures::TempDir dir;
    const std::string path = dir.file("scanned.pdf");
    fixtures::DocPlan plan = fixtures::PagesOfSizes(std::vector<std::pair<double, double>>(50, {612, 792}));
    for (size_t i = 0; i < plan.pages.size(); ++i) {
        plan.pages[i].scanJpeg = fixtures::ScanJpeg(2550, 3300, int(i));
        plan.pages[i].scanWidth = 2550;
        plan.pages[i].scanHeight = 3300;
    }
    fixtures::WritePdf(plan, path);

    crop::COrvaneDoc document;
    crop::COrvaneView view(document);
    view.resize(900, 800);
    view.show();
    const QString file = QString::fromStdString(path);

    document.Prefetch().SetReadAhead(false);
    const std::vector<double> uncached = TurnPages(document, view, file);
    document.Prefetch().SetReadAhead(true);
    const std::vector<double> ahead = TurnPages(document, view, file);

    const double a = Percentile(ahead, 0.5), u = Percentile(uncached, 0.5);
    std::printf("page turn, 50 scanned pages, 300 ms pause: rendered ahead median %.2f ms, 95th percentile %.2f ms "
                "(max %.2f)   uncached ShowPage median %.2f ms   ratio %.3f (targets: ratio <= 0.25, median < 12 ms, "
                "95th percentile < 33 ms)\n",
                a, Percentile(ahead, 0.95), *std::max_element(ahead.begin(), ahead.end()), u, a / u);
    return 0;
}

// Shrink All Pages in the open document (every page rendered and its
// content found, each rectangle set) against single-threaded `mutool draw
// -r 151.5 -F pgm` of the same pages, in the same run; best of a few
// rounds. The document's own time runs from the command to the rectangles
// set, the document already open. Prints both and the ratio (lower is
// better).
//
// usage: bench-shrink-all [--pages N] [--rounds N] [--book | --plain | --scanned]

#include "best_of.h"
#include "crop/model/document.h"
#include "documents.h"
#include "platform/memory_tuning.h"
#include "render/rendering_library.h"
#include "tests/fixtures/temp_dir.h"

#include <QApplication>
#include <QEventLoop>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv) {
    int pages = 300, rounds = 3;
    std::string kind = "book";
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--pages") && i + 1 < argc)
            pages = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--scanned") || !std::strcmp(argv[i], "--plain") ||
                 !std::strcmp(argv[i], "--book"))
            kind = argv[i] + 2;
    }
    platform::KeepLargeBlocksForReuse();  // as the program does
    QApplication app(argc, argv);
    render::EnsureRenderingLibrary();
    fixtures::TempDir dir;
    const std::string in = dir.file("book.pdf");
    bench::WriteDocument(kind, pages, in);

    crop::COrvaneDoc document;
    QString reason;
    if (!document.OpenDocument(QString::fromStdString(in), reason)) {
        std::fprintf(stderr, "cannot open: %s\n", qPrintable(reason));
        return 1;
    }
    bool ok = true;
    const auto [ours, theirs] = bench::BestOf(
        rounds,
        [&] {
            // Later rounds shrink inside the rectangles of the first: the
            // same renders and the same search.
            QEventLoop loop;
            QObject::connect(&document, &crop::COrvaneDoc::Changed, &loop, [&loop, &document](crop::Changes) {
                if (document.Busy() == crop::Busy::None)
                    loop.quit();
            });
            ok = document.Whole().ShrinkAllPages(crop::AutoCropOptions{}, reason) && ok;
            if (document.Busy() == crop::Busy::ShrinkAll)
                loop.exec();
        },
        [&] {
            ok = bench::RunQuietly({"mutool", "draw", "-q", "-r", "151.5", "-F", "pgm", "-o", "/dev/null", in}) && ok;
        });
    if (!ok) {
        std::fprintf(stderr, "a run failed (%s; is mutool installed?)\n", qPrintable(reason));
        return 1;
    }
    std::printf("%d %s pages: Shrink All Pages %.0f ms   mutool draw -r 151.5 -F pgm (one thread) %.0f ms   "
                "ratio %.2f (target <= %.1f)\n",
                pages, kind.c_str(), ours, theirs, ours / theirs, kind == "scanned" ? 0.8 : 0.6);
    return 0;
}

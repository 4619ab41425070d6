// Pages shaped and left out on the command line, each against reading the
// page tree alone, in the same run (best of a few rounds, whole programs
// started from scratch): orvane --crop of a 1,248-page manual with links
// and an outline, --margins 0,0,0,0 and --rotate 90, --ratio 3:4,
// --page-size A5 or --drop 2-1247, against `qpdf --show-npages` of it
// (which reads the count at the page tree's root) and `qpdf --show-pages`
// (which reads every page of the tree);
// and the turn against qpdf's own turn of every page.
//
// usage: bench-page-edits [--rounds N] [--write-manual PATH]
// (--write-manual writes the manual to PATH and stops, for profiling)

#include "best_of.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    int rounds = 3;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc) {
            rounds = std::atoi(argv[++i]);
        } else if (!std::strcmp(argv[i], "--write-manual") && i + 1 < argc) {
            keep = argv[++i];
        } else {
            std::fprintf(stderr, "usage: bench-page-edits [--rounds N] [--write-manual PATH]\n");
            return 2;
        }
    }
    fixtures::TempDir dir;
    const std::string in = dir.file("manual.pdf"), out = dir.file("out.pdf");
    fixtures::DocPlan manual = fixtures::ManyPages(1248, true);
    manual.objectStreams = true;
    for (size_t i = 0; i < manual.pages.size(); ++i)
        for (int k = 0; k < 4; ++k)
            manual.pages[i].links.push_back(
                {{72.0, 700.0 - 40 * k, 290.0, 712.0 - 40 * k}, int((i * 7 + size_t(k) * 13) % 1248) + 1, {}});
    manual.outline = {{"Start", 1}, {"Middle", 624}, {"End", 1248}};
    fixtures::WritePdf(manual, keep.empty() ? in : keep);
    if (!keep.empty())
        return 0;

    const std::string orvane = std::string(BENCH_BIN_DIR) + "/orvane";
    bool ok = true;
    auto run = [&ok](std::vector<std::string> args) { ok = bench::RunQuietly(std::move(args)) && ok; };
    std::printf("1,248-page manual with links and an outline\n");
    const std::vector<std::pair<const char *, std::vector<std::string>>> edits = {
        {"orvane --crop --rotate 90", {"--margins", "0,0,0,0", "--rotate", "90"}},
        {"orvane --crop --ratio 3:4", {"--margins", "0,0,0,0", "--ratio", "3:4"}},
        {"orvane --crop --page-size A5", {"--margins", "0,0,0,0", "--page-size", "A5"}},
        {"orvane --crop --drop 2-1247", {"--margins", "0,0,0,0", "--drop", "2-1247"}},
    };
    for (const auto &[name, options] : edits) {
        std::vector<std::string> args = {orvane, "--crop", in, "-o", out};
        args.insert(args.end(), options.begin(), options.end());
        const auto t = bench::BestOf(
            rounds, [&] { run(args); },
            [&] {
                run({"qpdf", "--show-npages", in});
            });
        bench::Report(name, "qpdf --show-npages", t, 2.0);
        // --show-npages reads the page tree's root alone (its /Count);
        // --show-pages reads every page of the tree.
        const auto all = bench::BestOf(
            rounds, [&] { run(args); },
            [&] {
                run({"qpdf", "--show-pages", in});
            });
        bench::Report(name, "qpdf --show-pages", all, 2.0);
    }
    // For scale: qpdf turning every page of the same file, written whole.
    const auto t = bench::BestOf(
        rounds,
        [&] {
            run({orvane, "--crop", in, "-o", out, "--margins", "0,0,0,0", "--rotate", "90"});
        },
        [&] {
            run({"qpdf", in, "--rotate=+90", out});
        });
    bench::Report("orvane --crop --rotate 90", "qpdf --rotate=+90 (whole copy)", t, 1.0);
    if (!ok) {
        std::fprintf(stderr, "a run failed (is qpdf installed?)\n");
        return 1;
    }
    return 0;
}

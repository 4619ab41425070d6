// orvane --auto-crop of documents whose page tree is flat (every page a
// kid of the root, as many writers make it) at 1,000, 5,000 and 20,000
// simple pages: the time should grow with the pages, not with their square.
// Each is a whole program started from scratch, best of a few rounds, in
// the same run; prints the times and the ratio of 20,000 pages to 1,000
// (lower is better; 20 is linear).
//
// usage: bench-page-tree [--rounds N]

#include "best_of.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

int main(int argc, char **argv) {
    int rounds = 2;
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::max(1, std::atoi(argv[++i]));
    fixtures::TempDir dir;
    const std::string orvane = std::string(BENCH_BIN_DIR) + "/orvane";
    std::map<int, double> best;
    for (const int pages : {1000, 5000, 20000}) {
        const std::string in = dir.file("flat" + std::to_string(pages) + ".pdf"), out = dir.file("cropped.pdf");
        fixtures::DocPlan plan =
            fixtures::PagesOfSizes(std::vector<std::pair<double, double>>(size_t(pages), {612, 792}));
        for (fixtures::PagePlan &page : plan.pages)
            page.blackRects.push_back({100, 150, 400, 600});
        fixtures::WritePdf(plan, in);
        bool ok = true;
        double fastest = 1e18;
        for (int round = 0; round < rounds; ++round) {
            const auto start = bench::Clock::now();
            ok = bench::RunQuietly({orvane, "--auto-crop", in, "-o", out}) && ok;
            fastest = std::min(fastest, std::chrono::duration<double, std::milli>(bench::Clock::now() - start).count());
        }
        if (!ok) {
            std::fprintf(stderr, "orvane --auto-crop of %d pages failed\n", pages);
            return 1;
        }
        best[pages] = fastest;
        std::printf("flat page tree, %5d pages: orvane --auto-crop %8.0f ms  (%.2f ms a page)\n", pages, fastest,
                    fastest / pages);
    }
    std::printf("20,000 pages against 1,000: ratio %.1f (target <= 25; 20 is linear)\n", best[20000] / best[1000]);
    return 0;
}

// orvane --auto-crop of a whole document (every page found, the crop list
// written, the crop tool run) against single-threaded `mutool draw -r 151.5
// -F pgm` of the same pages, rendering alone at the same resolution, in the
// same run. Both are whole programs started from scratch; best of a few
// rounds. Prints the times and their ratio (ours / mutool; lower is better).
//
// The pages: typeset book pages (--book, the default), simple ones
// (--plain), scans of about 0.9 MB a page (--scanned), as documents.h
// writes them, or a PDF of one's own (--file PATH).
//
// usage: bench-auto-crop [--pages N] [--rounds N] [--book | --plain | --scanned | --file PATH]

#include "best_of.h"
#include "documents.h"
#include "tests/fixtures/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char **argv) {
    int pages = 1000, rounds = 3;
    std::string kind = "book", file;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--pages") && i + 1 < argc)
            pages = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--scanned"))
            kind = "scanned";
        else if (!std::strcmp(argv[i], "--plain"))
            kind = "plain";
        else if (!std::strcmp(argv[i], "--book"))
            kind = "book";
        else if (!std::strcmp(argv[i], "--file") && i + 1 < argc) {
            kind = "file";
            file = argv[++i];
        }
    }
    fixtures::TempDir dir;
    std::string in = dir.file("book.pdf");
    const std::string out = dir.file("cropped.pdf");
    double pageBytes = 0;
    if (kind == "file") {
        in = file;
    } else {
        pageBytes = bench::WriteDocument(kind, pages, in);
    }
    const std::string orvane = std::string(BENCH_BIN_DIR) + "/orvane";
    bool ok = true;
    const auto [ours, theirs] = bench::BestOf(
        rounds,
        [&] {
            ok = bench::RunQuietly({orvane, "--auto-crop", in, "-o", out}) && ok;
        },
        [&] {
            ok = bench::RunQuietly({"mutool", "draw", "-q", "-r", "151.5", "-F", "pgm", "-o", "/dev/null", in}) && ok;
        });
    if (!ok) {
        std::fprintf(stderr, "a run failed (is mutool installed?)\n");
        return 1;
    }
    const double target = kind == "scanned" ? 0.5 : 0.25;
    std::printf("%s%s", kind == "file" ? file.c_str() : std::to_string(pages).c_str(),
                kind == "file" ? "" : (" " + kind + " pages").c_str());
    if (pageBytes > 0)
        std::printf(" (%.2f MB a page)", pageBytes / 1e6);
    std::printf(": orvane --auto-crop %.0f ms   mutool draw -r 151.5 -F pgm (one thread) %.0f ms   ratio %.2f "
                "(target <= %.2f)\n",
                ours, theirs, ours / theirs, target);
    return 0;
}

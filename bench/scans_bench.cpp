// Scanned books finished in one step, each against its reference in the
// same run (best of a few rounds, whole programs started from scratch):
//   - orvane --auto-crop --deskew of scans tilted from -3 to +3 degrees
//     against single-threaded `mutool draw -r 151.5 -F pgm` of them;
//   - orvane --auto-crop --remove-hidden (the pictures cut to the crops)
//     against orvane --auto-crop alone, with the sizes of the copy and the
//     input and the copy's peak memory;
//   - the crop tool with --remove-hidden on a crop list of the same pages
//     against `mutool clean` of the file.
//
// usage: bench-scans [--pages N] [--rounds N] [--write PATH]
// (--write only writes the tilted scans to PATH, to try them by hand)

#include "best_of.h"
#include "documents.h"
#include "tests/fixtures/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv) {
    int pages = 200, rounds = 2;
    std::string writeOnly;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--write") && i + 1 < argc)
            writeOnly = argv[++i];
        else if (!std::strcmp(argv[i], "--pages") && i + 1 < argc)
            pages = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else {
            std::fprintf(stderr, "usage: bench-scans [--pages N] [--rounds N] [--write PATH]\n");
            return 2;
        }
    }
    if (!writeOnly.empty()) {
        bench::WriteDocument("tilted", pages, writeOnly);
        return 0;
    }
    fixtures::TempDir dir;
    const std::string in = dir.file("scans.pdf"), out = dir.file("out.pdf"), list = dir.file("list.txt");
    // The scans are made in a child of their own: a program started from
    // here inherits this one's peak memory in what the system reports of
    // its own.
    const pid_t maker = ::fork();
    if (maker == 0) {
        bench::WriteDocument("tilted", pages, in);
        ::_exit(0);
    }
    int made = -1;
    if (maker < 0 || ::waitpid(maker, &made, 0) != maker || !WIFEXITED(made) || WEXITSTATUS(made) != 0) {
        std::fprintf(stderr, "the scans could not be made\n");
        return 1;
    }
    {
        std::ofstream l(list);
        for (int p = 1; p <= pages; ++p)
            l << "Page " << p << ", [60,732,552,60]\n";
    }
    const std::string bin = BENCH_BIN_DIR, orvane = bin + "/orvane", quorrel = bin + "/quorrel";
    bool ok = true;
    auto run = [&ok](std::vector<std::string> args) { ok = bench::RunQuietly(std::move(args)) && ok; };
    const double inMb = double(std::filesystem::file_size(in)) / 1e6;
    std::printf("%d tilted scanned pages, %.1f MB\n", pages, inMb);

    const auto deskew = bench::BestOf(
        rounds,
        [&] {
            run({orvane, "--auto-crop", in, "-o", out, "--deskew"});
        },
        [&] {
            run({"mutool", "draw", "-q", "-r", "151.5", "-F", "pgm", "-o", "/dev/null", in});
        });
    bench::Report("orvane --auto-crop --deskew", "mutool draw -r 151.5 (one thread)", deskew, 1.0);

    const auto hidden = bench::BestOf(
        rounds,
        [&] {
            run({orvane, "--auto-crop", in, "-o", out, "--remove-hidden"});
        },
        [&] {
            run({orvane, "--auto-crop", in, "-o", dir.file("plain.pdf")});
        });
    bench::Report("orvane --auto-crop --remove-hidden", "orvane --auto-crop", hidden, 1.5);
    double peak = -1;
    ok = bench::RunQuietly({orvane, "--auto-crop", in, "-o", out, "--remove-hidden"}, &peak) && ok;
    const double outMb = double(std::filesystem::file_size(out)) / 1e6;
    std::printf("%-44s %8.1f MB   input %8.1f MB   ratio %.3f (target <= 0.75); peak memory %.0f MB (target < 300)\n",
                "the copy with the pictures cut", outMb, inMb, outMb / inMb, peak);

    const auto cut = bench::BestOf(
        rounds,
        [&] {
            run({quorrel, "-s", "setcropfile=" + list, "-i", in, "-o", out, "--remove-hidden"});
        },
        [&] {
            run({"mutool", "clean", in, dir.file("clean.pdf")});
        });
    bench::Report("quorrel --remove-hidden (pictures cut)", "mutool clean", cut, 0.5);
    if (!ok) {
        std::fprintf(stderr, "a run failed (is mutool installed?)\n");
        return 1;
    }
    return 0;
}

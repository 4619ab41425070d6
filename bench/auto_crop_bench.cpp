// orvane --auto-crop of a 1,000-page document (every page found, the crop
// list written, the crop tool run) against `mutool draw -r 151.5` of the
// same pages, rendering alone at the same resolution, in the same run. Both
// are whole programs started from scratch; best of a few rounds. Prints the
// times and their ratio (ours / mutool; lower is better).
//
// usage: bench-auto-crop [--pages N] [--rounds N] [--scanned]

#include "best_of.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

// Runs a program with standard error silenced; false when it fails.
bool RunQuietly(std::vector<std::string> args) {
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    return spawned == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char **argv) {
    int pages = 1000, rounds = 3;
    bool scanned = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--pages") && i + 1 < argc)
            pages = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--scanned"))
            scanned = true;
    }
    fixtures::TempDir dir;
    const std::string in = dir.file("book.pdf"), out = dir.file("cropped.pdf");
    fixtures::DocPlan plan = fixtures::ManyPages(pages, true);
    if (scanned)
        for (size_t i = 0; i < plan.pages.size(); ++i) {
            plan.pages[i] = fixtures::PagePlan{};
            plan.pages[i].scanJpeg = fixtures::ScanJpeg(1275, 1650, int(i % 7));
            plan.pages[i].scanWidth = 1275;
            plan.pages[i].scanHeight = 1650;
        }
    fixtures::WritePdf(plan, in);
    const std::string orvane = std::string(BENCH_BIN_DIR) + "/orvane";
    bool ok = true;
    const auto [ours, theirs] = bench::BestOf(
        rounds, [&] { ok = RunQuietly({orvane, "--auto-crop", in, "-o", out}) && ok; },
        [&] { ok = RunQuietly({"mutool", "draw", "-q", "-r", "151.5", in}) && ok; });
    if (!ok) {
        std::fprintf(stderr, "a run failed (is mutool installed?)\n");
        return 1;
    }
    std::printf("%d %s pages: orvane --auto-crop %.0f ms (%.1f ms a page)   mutool draw -r 151.5 %.0f ms   "
                "ratio %.2f (target <= 1.3)\n",
                pages, scanned ? "scanned" : "text", ours, ours / pages, theirs, ours / theirs);
    return 0;
}

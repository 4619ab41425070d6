// The crop tool on large files, every page cropped, each figure measured
// against a reference in the same run:
//
// - the default output (the input's bytes and an appended update) against
//   `cp --reflink=never` of the same file, with `qpdf --show-npages IN`
//   (reading the file and nothing more) as a floor: a text document of
//   1,250 pages and one of over 100 MB with a large image on each page, as
//   a scan has;
// - the whole rewrite (`--rewrite`) against a plain `qpdf IN OUT`: a
//   document of 1,000 pages and the one of over 100 MB;
// - every page of a 1,248-page manual with links split in two (two lines
//   per page) against the plain update of the same document (one line per
//   page), with how much each output grew over the input.
//
// Each round runs every command of a comparison once, in rotating order;
// the ratio given is the median of the rounds' ratios (pairing the runs
// cancels the machine's slower and faster spells). Outputs go to a tmpfs
// when there is one. Best wall times and peak memory are printed too.
//
// usage: crop_tool_bench [--rounds N]   (N rounds for the large document,
//                                        3N for the long ones; default 7)

#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char **environ;

namespace {

struct Measure {
    double seconds = 1e18;  // the best
    double last = 0;
    long peakKb = 0;
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

bool RunOnce(const std::vector<std::string> &args, Measure &m) {
    std::vector<char *> argv;
    std::vector<std::string> copy = args;
    for (std::string &a : copy)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    // What the commands print (qpdf --show-npages, the page count) is not
    // the bench's.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return false;
    int status = 0;
    struct rusage usage {};
    if (wait4(pid, &status, 0, &usage) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return false;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    m.seconds = std::min(m.seconds, s);
    m.last = s;
    m.peakKb = std::max(m.peakKb, usage.ru_maxrss);
    return true;
}

}  // namespace

// The two documents, written by a process of their own: a child's peak
// memory as the system reports it counts the memory of the process that
// started it, so the measuring process stays small.
int WriteDocuments(const std::string &folder) {
    fixtures::WritePdf(fixtures::ManyPages(1000, true), folder + "/1000 pages.pdf");
    fixtures::DocPlan text = fixtures::ManyPages(1250, true);
    text.objectStreams = true;
    fixtures::WritePdf(text, folder + "/1250 pages.pdf");
    fixtures::DocPlan big = fixtures::ManyPages(120, false);
    for (auto &p : big.pages)
        p.noiseImageKilobytes = 900;
    fixtures::WritePdf(big, folder + "/over 100 MB.pdf");
    fixtures::DocPlan manual = fixtures::ManyPages(1248, true);
    manual.objectStreams = true;
    for (size_t i = 0; i < manual.pages.size(); ++i)
        for (int k = 0; k < 12; ++k)  // a page of index or contents: links down both columns
            manual.pages[i].links.push_back(
                {{72.0 + 260 * (k % 2), 700.0 - 40 * k, 290.0 + 260 * (k % 2), 712.0 - 40 * k},
                 int((i * 7 + size_t(k) * 13) % 1248) + 1,
                 {}});
    manual.outline = {{"Start", 1}, {"Middle", 624}, {"End", 1248}};
    fixtures::WritePdf(manual, folder + "/1248 pages.pdf");
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 3 && !std::strcmp(argv[1], "--write-documents"))
        return WriteDocuments(argv[2]);
    int rounds = 7;
    for (int i = 1; i + 1 < argc; ++i)
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[++i]));
    const std::string quorrel = (std::filesystem::path(argv[0]).parent_path() / "quorrel").string();
    fixtures::TempDir dir;
    Measure unused;
    if (!RunOnce({argv[0], "--write-documents", dir.path().string()}, unused)) {
        std::fprintf(stderr, "writing the documents failed\n");
        return 1;
    }

    // The outputs go to memory when the machine has a tmpfs, so that the
    // disk's write-back of one run does not slow the next; each output is
    // removed after its run.
    const std::filesystem::path outFolder =
        std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm") : dir.path();
    const std::string ourOut = (outFolder / "orvane-bench-ours.pdf").string();
    const std::string theirOut = (outFolder / "orvane-bench-theirs.pdf").string();

    // The default output against cp, the rewrite against qpdf, or the
    // split against the default output.
    enum class Kind { Update, Rewrite, Split };
    struct Comparison {
        const char *document;
        int pages;
        Kind kind;
    };
    const Comparison comparisons[] = {{"1250 pages", 1250, Kind::Update},
                                      {"over 100 MB", 120, Kind::Update},
                                      {"1000 pages", 1000, Kind::Rewrite},
                                      {"over 100 MB", 120, Kind::Rewrite},
                                      {"1248 pages", 1248, Kind::Split}};
    for (const Comparison &c : comparisons) {
        const std::string in = dir.file(std::string(c.document) + ".pdf"), list = dir.file("list.txt"),
                          halves = dir.file("halves.txt");
        {
            std::ofstream out(list), split(halves);
            for (int p = 1; p <= c.pages; ++p) {
                out << "Page " << p << ", [36.00,756.00,576.00,36.00]\n";
                split << "Page " << p << ", [0.00,792.00,306.00,0.00]\nPage " << p << ", [306.00,792.00,612.00,0.00]\n";
            }
        }
        const double megabytes = double(std::filesystem::file_size(in)) / (1024 * 1024);
        std::vector<std::string> ours = {quorrel, "-s", "setcropfile=" + list, "-i", in, "-o", ourOut};
        std::vector<std::vector<std::string>> commands;
        if (c.kind == Kind::Update) {
            commands = {ours, {"cp", "--reflink=never", in, theirOut}, {"qpdf", "--show-npages", in}};
        } else if (c.kind == Kind::Rewrite) {
            ours.push_back("--rewrite");
            commands = {ours, {"qpdf", in, theirOut}};
        } else {
            commands = {{quorrel, "-s", "setcropfile=" + halves, "-i", in, "-o", ourOut},
                        {quorrel, "-s", "setcropfile=" + list, "-i", in, "-o", theirOut}};
        }
        const std::uintmax_t inBytes = std::filesystem::file_size(in);
        double growth[2] = {0, 0};  // of the outputs over the input, in per cent
        std::vector<Measure> measures(commands.size());
        std::vector<double> ratios, floors;
        const int count = c.pages >= 1000 ? rounds * 3 : rounds;
        for (int r = 0; r < count; ++r) {
            for (size_t k = 0; k < commands.size(); ++k) {
                const size_t which = (k + size_t(r)) % commands.size();
                const bool ok = RunOnce(commands[which], measures[which]);
                const std::string &written = which == 0 ? ourOut : theirOut;
                std::error_code ec;
                if (which < 2 && std::filesystem::exists(written, ec))
                    growth[which] =
                        100.0 * (double(std::filesystem::file_size(written)) - double(inBytes)) / double(inBytes);
                std::filesystem::remove(written);
                if (!ok) {
                    std::fprintf(stderr, "a run failed: %s\n", commands[which][0].c_str());
                    return 1;
                }
            }
            ratios.push_back(measures[0].last / measures[1].last);
            if (c.kind == Kind::Update)
                floors.push_back(measures[2].last / measures[1].last);
        }
        if (c.kind == Kind::Split) {
            std::printf(
                "%-12s (%6.1f MB)  split in two %7.4f s, peak %6.1f MB   plain update %7.4f s, peak %6.1f MB\n"
                "    split: ratio to the plain update %.2f (median of %d rounds; of the best times %.2f; "
                "target <= 2); the split grows the file by %.1f %% (target < 10), the plain update by %.1f %%\n",
                c.document, megabytes, measures[0].seconds, measures[0].peakKb / 1024.0, measures[1].seconds,
                measures[1].peakKb / 1024.0, Median(ratios), count, measures[0].seconds / measures[1].seconds,
                growth[0], growth[1]);
        } else if (c.kind == Kind::Update) {
            std::printf(
                "%-12s (%6.1f MB)  quorrel %7.4f s, peak %6.1f MB   cp --reflink=never %7.4f s, peak %6.1f MB   "
                "qpdf --show-npages %7.4f s, peak %6.1f MB\n"
                "    update: ratio to cp %.2f (median of %d rounds; of the best times %.2f; target <= %s); "
                "reading alone %.2f\n",
                c.document, megabytes, measures[0].seconds, measures[0].peakKb / 1024.0, measures[1].seconds,
                measures[1].peakKb / 1024.0, measures[2].seconds, measures[2].peakKb / 1024.0, Median(ratios), count,
                measures[0].seconds / measures[1].seconds, c.pages == 120 ? "1.5" : "10", Median(floors));
        } else {
            std::printf(
                "%-12s (%6.1f MB)  quorrel --rewrite %7.3f s, peak %6.1f MB   qpdf IN OUT %7.3f s, peak %6.1f MB\n"
                "    rewrite: ratio %.3f (median of %d rounds; of the best times %.3f; target <= 1.10)\n",
                c.document, megabytes, measures[0].seconds, measures[0].peakKb / 1024.0, measures[1].seconds,
                measures[1].peakKb / 1024.0, Median(ratios), count, measures[0].seconds / measures[1].seconds);
        }
    }
    return 0;
}

// The crop tool on large files against a plain `qpdf IN OUT` rewrite of the
// same files in the same run: a document of 1,000 pages and one of over
// 100 MB, every page cropped. Each round runs both, one straight after the
// other, in alternating order. Prints the best wall time of each, the
// median of the rounds' ratios (quorrel / qpdf; lower is better; pairing
// the runs cancels the machine's slower and faster spells) and the peak
// memory of each.
//
// usage: crop_tool_bench [--rounds N]   (N rounds for the large document,
//                                        3N for the long one; default 7)

#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
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
    fixtures::DocPlan big = fixtures::ManyPages(120, false);
    for (auto &p : big.pages)
        p.noiseImageKilobytes = 900;
    fixtures::WritePdf(big, folder + "/over 100 MB.pdf");
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

    for (const auto &[name, pages] : {std::pair{"1000 pages", 1000}, std::pair{"over 100 MB", 120}}) {
        const std::string in = dir.file(std::string(name) + ".pdf"), list = dir.file("list.txt");
        {
            std::ofstream out(list);
            for (int p = 1; p <= pages; ++p)
                out << "Page " << p << ", [36.00,756.00,576.00,36.00]\n";
        }
        const double megabytes = double(std::filesystem::file_size(in)) / (1024 * 1024);
        // The outputs go to memory when the machine has a tmpfs, so that the
        // disk's write-back of one run does not slow the next; each output
        // is removed after its run, and the order alternates.
        const std::filesystem::path outFolder =
            std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm") : dir.path();
        const std::string ourOut = (outFolder / "orvane-bench-ours.pdf").string();
        const std::string theirOut = (outFolder / "orvane-bench-theirs.pdf").string();
        Measure ours, theirs;
        std::vector<double> ratios;
        const int count = pages == 1000 ? rounds * 3 : rounds;
        for (int r = 0; r < count; ++r) {
            const bool oursFirst = r % 2 == 0;
            for (int k = 0; k < 2; ++k) {
                const bool runOurs = (k == 0) == oursFirst;
                const bool ok = runOurs
                                    ? RunOnce({quorrel, "-s", "setcropfile=" + list, "-i", in, "-o", ourOut}, ours)
                                    : RunOnce({"qpdf", in, theirOut}, theirs);
                std::filesystem::remove(runOurs ? ourOut : theirOut);
                if (!ok) {
                    std::fprintf(stderr, "a run failed\n");
                    return 1;
                }
            }
            ratios.push_back(ours.last / theirs.last);
        }
        std::printf("%-12s (%6.1f MB)  quorrel %7.3f s, peak %6.1f MB   qpdf IN OUT %7.3f s, peak %6.1f MB   "
                    "ratio %.3f (median of %d rounds; of the best times %.3f; target <= 1.10)\n",
                    name, megabytes, ours.seconds, ours.peakKb / 1024.0, theirs.seconds, theirs.peakKb / 1024.0,
                    Median(ratios), count, ours.seconds / theirs.seconds);
    }
    return 0;
}

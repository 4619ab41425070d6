// Renders every page of a 100-page document through libravel.so at 101 dpi
// times 1.5, the resolution of the page view, and the same pages with
// `mutool draw -r 151.5` in the same run. Prints milliseconds per page for
// both and their ratio (ours / mutool; lower is better).
//
// usage: render_pages [--pages N] [--rounds N] [--keep FILE.pdf]

#include "render/rendering_library.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/wait.h>
#include <spawn.h>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// Renders every page once; returns the seconds taken, or -1 on failure.
double RenderAllWithRavel(const std::string &path) {
    const render::RavelApi &api = render::Ravel();
    auto start = Clock::now();
    LS_Document doc = api.OpenFile(path.c_str(), 1);
    if (!doc)
        return -1;
    api.SetResolution(doc, 101);
    const int pages = api.Pages(doc);
    for (int page = 1; page <= pages; ++page) {
        double box[4] = {0, 0, 0, 0};
        api.PageExtent(doc, page, box, 0);
        const int w = int(std::lround(box[2] * 151.5 / 72.0));
        const int h = int(std::lround(box[3] * 151.5 / 72.0));
        double scale[2] = {1.5, 1.5};
        int32_t slot = 0;
        LS_Bitmap *b = api.DIBitmap24(doc, 0, page, scale, 0, w, h, &slot);
        if (!b) {
            api.CloseFile(doc);
            return -1;
        }
        api.DeleteBitmap(b);
    }
    api.CloseFile(doc);
    return Seconds(start, Clock::now());
}

// Runs mutool draw over every page without writing an image file.
double RenderAllWithMutool(const std::string &path) {
    std::vector<std::string> args = {"mutool", "draw", "-q", "-r", "151.5", path};
    std::vector<char *> argv;
    for (std::string &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    auto start = Clock::now();
    // mutool warns on standard error about colour management; keep the
    // report readable.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, "mutool", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    return Seconds(start, Clock::now());
}

}  // namespace

int main(int argc, char **argv) {
    int pages = 100, rounds = 5;
    std::string keep;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--pages") && i + 1 < argc)
            pages = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--rounds") && i + 1 < argc)
            rounds = std::atoi(argv[++i]);
        else if (!std::strcmp(argv[i], "--keep") && i + 1 < argc)
            keep = argv[++i];
        else {
            std::fprintf(stderr, "usage: %s [--pages N] [--rounds N] [--keep FILE.pdf]\n", argv[0]);
            return 2;
        }
    }
    fixtures::TempDir dir;
    const std::string path = keep.empty() ? dir.file("bench.pdf") : keep;
    fixtures::WritePdf(fixtures::ManyPages(pages, true), path);

    // Warm both up once (file cache, fonts), then keep the best of each,
    // alternating so that both see the same machine.
    RenderAllWithRavel(path);
    RenderAllWithMutool(path);
    double ours = 1e9, theirs = 1e9;
    for (int r = 0; r < rounds; ++r) {
        double a = RenderAllWithRavel(path);
        double b = RenderAllWithMutool(path);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "rendering failed (libravel %s, mutool %s)\n", a < 0 ? "failed" : "ok",
                         b < 0 ? "failed" : "ok");
            return 1;
        }
        ours = std::min(ours, a);
        theirs = std::min(theirs, b);
    }
    const double oursMs = ours * 1000 / pages, theirsMs = theirs * 1000 / pages;
    std::printf("pages: %d at 151.5 dpi, best of %d rounds\n", pages, rounds);
    std::printf("libravel LS_DIBitmap24: %.2f ms/page\n", oursMs);
    std::printf("mutool draw -r 151.5:   %.2f ms/page\n", theirsMs);
    std::printf("ratio (libravel / mutool): %.3f (target <= 1.15)\n", oursMs / theirsMs);
    return 0;
}

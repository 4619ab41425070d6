// quorrel: writes a copy of a PDF with every page cropped to the
// rectangle a crop list gives for it.
//
//   quorrel -s setcropfile=LIST -i IN -o OUT [--media-box] [--rewrite] [--progress] [--require-crop]
//           [--password-fd N] [--remove-hidden] [--report] [--overwrite]
//   quorrel --restore -i COPY -o ORIGINAL [--progress] [--overwrite]

#include "quorrel/crop_job.h"
#include "quorrel/original.h"
#include "quorrel/output_file.h"

#include <qpdf/QPDF.hh>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <optional>
#include <sys/prctl.h>
#include <string>
#include <string.h>
#include <unistd.h>

namespace {

constexpr const char *kUsage =
    "usage: quorrel -s setcropfile=LIST -i IN.pdf -o OUT.pdf [--media-box] [--rewrite] [--progress]\n"
    "               [--require-crop] [--password-fd N] [--remove-hidden] [--report] [--overwrite]\n"
    "       quorrel --restore -i COPY.pdf -o ORIGINAL.pdf [--progress] [--overwrite]\n"
    "\n"
    "Writes OUT.pdf, a copy of IN.pdf whose pages are cropped to the rectangles\n"
    "in LIST, one line per page: \"Page N, [left,top,right,bottom]\" in points,\n"
    "x from the shown page's left edge, y upwards from a line trunc(H) below\n"
    "its top edge (H the shown page's height). A rectangle of zero width or\n"
    "height, or no line at all, leaves a page as it is. A page with several\n"
    "lines is split: each line is a page of OUT, in the order of the lines,\n"
    "and the copies share the page's content; a page has 16 lines at most.\n"
    "A fifth number, \"Page N, [left,top,right,bottom,degrees]\", straightens\n"
    "the page first: its content is drawn turned that many degrees (at most\n"
    "45) counterclockwise about the centre of the shown page, its pictures\n"
    "kept byte for byte, and its links turned with it.\n"
    "OUT may be IN; it is replaced only when the new file is complete. A\n"
    "read-only OUT is not replaced without --overwrite; OUT that is a device\n"
    "or a pipe is written into. LIST \"-\" is read from standard\n"
    "input once IN has been read, so a caller may start the tool while it\n"
    "still makes the list; it ends with a line \"End\".\n"
    "\n"
    "OUT is IN's bytes unchanged followed by an update that gives the cropped\n"
    "pages their new boxes, so signatures keep covering what they signed. A\n"
    "damaged IN, one that had to be repaired to be read, is written whole.\n"
    "\n"
    "  --media-box  set the media box to the rectangle too, for readers that\n"
    "               ignore the crop box (the crop cannot be undone then)\n"
    "  --rewrite    write a whole new file rather than an update\n"
    "  --progress   report the pages done on standard error as they are\n"
    "               written: \"quorrel: progress DONE/PAGES\" lines\n"
    "  --require-crop  fail, writing nothing, when no page of IN lies under a\n"
    "               rectangle of LIST (OUT would be IN unchanged)\n"
    "  --password-fd N  the password of a locked IN: the first line read from\n"
    "               the open file N (0 for standard input, where a list \"-\"\n"
    "               follows it). OUT keeps IN's encryption and passwords\n"
    "  --remove-hidden  keep nothing that lies wholly outside a page's crop:\n"
    "               glyphs, images, annotations and form fields there are\n"
    "               removed, the media box is set to the crop, and OUT is\n"
    "               written whole\n"
    "  --overwrite  replace OUT even when it is read-only\n"
    "  --trim-box   each page cropped gets the rectangle as its trim box too\n"
    "               (the finished page, for print)\n"
    "  --add-margins  a rectangle reaching past what its page shows grows the\n"
    "               page: the part outside becomes blank margin, and whatever\n"
    "               the page's old crop hid there is removed (OUT is written\n"
    "               whole); without it such a rectangle is clipped to the page\n"
    "  --restore    write the original that COPY, a copy written as an update,\n"
    "               holds: its bytes, checked against the SHA-256 the update\n"
    "               records of them. A copy written whole, or changed since\n"
    "               it was written, is refused with the reason\n"
    "  --report     write nothing; print what the crop would change as JSON\n"
    "               (pages cropped, split and left; links, fields and notes\n"
    "               left outside the crops; signatures broken)\n"
    "  --help       show this text\n"
    "  --version    show the version\n";

int Fail(const std::string &message, int code = 1) {
    std::fprintf(stderr, "quorrel: %s\n", message.c_str());
    return code;
}

// The first line read from `fd`, its line end left off; false when it
// cannot be read.
bool ReadPassword(int fd, std::string &into) {
    into.clear();
    into.reserve(4096);  // one buffer, wiped at the end
    for (char c;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0 || c == '\n')
            break;
        if (into.size() + 1 < into.capacity())
            into.push_back(c);
    }
    if (!into.empty() && into.back() == '\r')
        into.pop_back();
    return true;
}

int Usage(const std::string &problem) {
    std::fprintf(stderr, "quorrel: %s\nTry 'quorrel --help'.\n", problem.c_str());
    return 2;
}

// Reads the arguments into `job`. The exit code when they are answered
// without a crop (the help, the version, a wrong argument); nothing when
// the job is to run.
std::optional<int> ParseArguments(int argc, char **argv, quorrel::CropJob &job, bool &restore) {
    std::string &list = job.list, &in = job.in, &out = job.out;
    bool &mediaBox = job.mediaBox, &progress = job.progress, &rewrite = job.rewrite, &requireCrop = job.requireCrop;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string &into) {
            if (i + 1 >= argc)
                return false;
            into = argv[++i];
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("quorrel 2.0 (qpdf %s)\n", QPDF::QPDFVersion().c_str());
            return 0;
        }
        if (arg == "--media-box") {
            mediaBox = true;
        } else if (arg == "--rewrite") {
            rewrite = true;
        } else if (arg == "--progress") {
            progress = true;
        } else if (arg == "--require-crop") {
            requireCrop = true;
        } else if (arg == "--remove-hidden") {
            job.removeHidden = true;
        } else if (arg == "--report") {
            job.reportOnly = true;
        } else if (arg == "--overwrite") {
            job.overwrite = true;
        } else if (arg == "--add-margins") {
            job.addMargins = true;
        } else if (arg == "--trim-box") {
            job.trimBox = true;
        } else if (arg == "--restore") {
            restore = true;
        } else if (arg == "--password-fd") {
            std::string fd;
            char *end = nullptr;
            if (!value(fd))
                return Usage("--password-fd needs a file descriptor");
            const long n = std::strtol(fd.c_str(), &end, 10);
            if (fd.empty() || *end || n < 0 || n > 1 << 20)
                return Usage("--password-fd needs a file descriptor, such as 0 for standard input");
            // Holding a password, the process leaves no core behind and
            // cannot be read by a debugger of the same user.
            ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
            if (!ReadPassword(int(n), job.password))
                return Fail("cannot read the password from file descriptor " + fd + ": " + std::strerror(errno));
        } else if (arg == "-s") {
            std::string setting;
            if (!value(setting))
                return Usage("-s needs a setting");
            const std::string key = "setcropfile=";
            if (setting.compare(0, key.size(), key) != 0)
                return Usage("unknown setting: " + setting);
            list = setting.substr(key.size());
        } else if (arg == "-i") {
            if (!value(in))
                return Usage("-i needs a file");
        } else if (arg == "-o") {
            if (!value(out))
                return Usage("-o needs a file");
        } else {
            return Usage("unknown argument: " + arg);
        }
    }
    if (restore) {
        if (!list.empty() || mediaBox || rewrite || requireCrop || job.removeHidden || job.reportOnly ||
            job.addMargins || job.trimBox || !job.password.empty())
            return Usage("--restore takes only -i, -o, --progress and --overwrite");
        if (in.empty() || out.empty())
            return Usage("--restore needs the copy (-i) and the file to write (-o)");
        return std::nullopt;
    }
    if (list.empty() || in.empty() || out.empty())
        return Usage("the crop list, the input and the output are all needed");
    return std::nullopt;
}

}  // namespace

int main(int argc, char **argv) {
    // qpdf passes every stream through buffers of about the stream's size;
    // keeping freed blocks for reuse instead of handing each back to the
    // system saves a page fault per 4 KiB of the file.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);

    quorrel::CropJob job;
    // A run stopped by a signal leaves no temporary file behind.
    quorrel::OutputFile::RemoveTemporaryOnStop();
    bool restore = false;
    if (const std::optional<int> code = ParseArguments(argc, argv, job, restore))
        return *code;
    if (restore) {
        std::string why;
        int told = -1;
        const bool restored = quorrel::RestoreOriginal(job.in, job.out, job.overwrite, why, [&](int percent) {
            if (job.progress && percent != told)
                std::fprintf(stderr, "quorrel: progress %d/100\n", told = percent);
        });
        return restored ? 0 : Fail(why);
    }

    std::string error, report;
    job.report = &report;
    const bool ok = quorrel::RunCropJob(job, error, [](const std::string &line) {
        std::fprintf(stderr, "quorrel: %s\n", line.c_str());
        std::fflush(stderr);
    });
    ::explicit_bzero(job.password.data(), job.password.capacity());
    if (ok && job.reportOnly)
        std::fputs(report.c_str(), stdout);
    return ok ? 0 : Fail(error);
}

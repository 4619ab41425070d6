#include "app/command_line.h"

#include "crop/detect/page_range.h"
#include "crop/model/auto_crop_job.h"
#include "crop/model/crop_run.h"
#include "crop/model/restore_job.h"
#include "platform/file_names.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <filesystem>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <variant>

namespace app {
namespace {

constexpr const char *kUsage =
    "usage: orvane [FILE]\n"
    "       orvane --auto-crop IN.pdf -o OUT.pdf [--uniform] [--margin MARGIN] [--pages RANGE]\n"
    "                          [--deskew | --split COLSxROWS [--right-to-left] [--even]]\n"
    "       orvane --crop IN.pdf -o OUT.pdf (--margins L,T,R,B[pt|mm|in] | --to-box trim|bleed|art)\n"
    "                     [--pages RANGE]\n"
    "       either with [--password-file FILE] [--remove-hidden] [--trim-box] [--report]\n"
    "                   [--drop RANGE]\n"
    "                   [--page-size PAPER [--anchor WHERE] [--scaling fit|none] | --ratio W:H]\n"
    "                   [--rotate 90|180|270] [--right-to-left]\n"
    "       orvane --restore COPY.pdf -o ORIGINAL.pdf\n"
    "\n"
    "Without options the window opens, showing FILE when one is named.\n"
    "\n"
    "--auto-crop writes OUT.pdf, a copy of IN.pdf whose pages are cropped to\n"
    "their content, without a window (no display is needed). The content of\n"
    "each page is found as the window's Shrink All Pages finds it: on white\n"
    "paper every mark counts; on a scan the paper's shade and noise are\n"
    "measured and dust and the scanner's dark edge are left out. Nothing else\n"
    "of the file changes: links, outlines and the like are kept, and the crop\n"
    "can be taken back by a reader that ignores the crop box.\n"
    "\n"
    "  -o, --output OUT.pdf  where the copy goes; never IN.pdf itself. An\n"
    "                        existing file is replaced only once the copy is\n"
    "                        complete, and never when it is read-only; a\n"
    "                        device or a pipe is written into\n"
    "  --uniform             every page one size: odd and even pages each\n"
    "                        placed round their own content, as books mirror\n"
    "                        their margins; blank pages get the size too\n"
    "  --margin MARGIN       margin round the content, never past the page's\n"
    "                        edges; 0 by default. One number for every side\n"
    "                        (\"10\" points, \"5mm\"), four for left, top, right\n"
    "                        and bottom (\"10,10,10,30\", \"5,5,5,15mm\"), or\n"
    "                        sides by name, the others 0: \"inner 20mm\",\n"
    "                        \"inner 20, outer 10, top 5, bottom 15mm\" (inner is\n"
    "                        the spine's side: left on odd pages, right on even)\n"
    "  --deskew              straighten scanned pages: each scan's skew is\n"
    "                        measured from its lines of print (or the edges\n"
    "                        of its blocks), and a page more than 0.1 degree\n"
    "                        askew is drawn turned level, its pictures kept\n"
    "                        byte for byte, its links turned with it; the crop\n"
    "                        fits the straightened content. Typeset pages stay\n"
    "                        as they are; a scan whose skew cannot be told is\n"
    "                        left as scanned, with a warning\n"
    "  --pages RANGE         which pages are cropped; the others stay as they\n"
    "                        are (all by default). RANGE is all, odd, even, or\n"
    "                        pages and runs apart by commas, each of which may\n"
    "                        end in odd or even: \"1-3, 8, 10-\", \"5-40 odd\"\n"
    "  --split COLSxROWS     each page split into a grid of pages, such as 2x1\n"
    "                        for a scan of two facing pages or 2x1 for two\n"
    "                        columns, 1x2 for a page over a page; up to 4x4. The\n"
    "                        cuts are placed at the gutters (or a scan's fold)\n"
    "                        of each page's content, and each cell is cropped\n"
    "                        to its own print (--margin and --uniform apply to\n"
    "                        the cells); the cells follow in reading order,\n"
    "                        rows from the top, left to right. A page or a row\n"
    "                        without a gutter or fold is left whole, with a\n"
    "                        warning\n"
    "  --right-to-left       for books read right to left: with --split, the\n"
    "                        cells of a row from the right; with --anchor spine\n"
    "                        and inner and outer margins, the spine right of\n"
    "                        odd pages and left of even ones\n"
    "  --even                with --split, cut evenly where there is no gutter\n"
    "  -h, --help            show this text\n"
    "\n"
    "--crop writes OUT.pdf with every page of RANGE cut to exact margins,\n"
    "without rendering anything. The margins are measured from the edges of\n"
    "each page as a reader shows it, its rotation applied and its crop box if\n"
    "it has one.\n"
    "\n"
    "  --margins L,T,R,B     left, top, right and bottom, in points unless a\n"
    "                        unit follows the last: \"20,20,20,20mm\",\n"
    "                        \"0.5,1,0.5,1in\". A page the margins leave nothing\n"
    "                        of stays as it is, with a warning\n"
    "  --to-box BOX          instead of margins, each page cut to the box it\n"
    "                        gives: \"trim\" (the finished page, which takes\n"
    "                        off a print-ready file's printer's marks),\n"
    "                        \"bleed\" or \"art\". A page without that box stays\n"
    "                        as it is, and the pages are listed\n"
    "\n"
    "With either:\n"
    "\n"
    "  --password-file FILE  the password of a locked IN.pdf, the first line of\n"
    "                        FILE; on a terminal the password is asked for\n"
    "                        instead. The copy keeps IN.pdf's encryption and\n"
    "                        opens with the same passwords\n"
    "  --remove-hidden       OUT.pdf keeps nothing that lies wholly outside a\n"
    "                        page's crop: text, images, annotations and form\n"
    "                        fields there are removed, the media box is set to\n"
    "                        the crop, and the file is written whole\n"
    "  --trim-box            each page cropped gets its crop as its trim box\n"
    "                        too (the finished page, for print)\n"
    "  --page-size PAPER     every page of RANGE exactly this size: a name (A3,\n"
    "                        A4, A5, A6, B4, B5, B6, C5, Letter, Legal, Tabloid,\n"
    "                        Executive) or WxH (\"210x297mm\", \"6x9in\", in pt\n"
    "                        without a unit), placed on the page's crop; margins\n"
    "                        are added where the crop is smaller, and a crop\n"
    "                        larger than the paper is drawn smaller to fit it,\n"
    "                        with a warning naming the pages\n"
    "  --scaling fit|none    with --page-size, a crop larger than the paper\n"
    "                        drawn smaller to fit it (fit, the default) or cut\n"
    "                        to it round the anchor (none)\n"
    "  --anchor WHERE        where the crop goes on the paper of --page-size:\n"
    "                        centre (the default), top (across the middle), or\n"
    "                        spine (against the spine: left on odd pages, right\n"
    "                        on even ones)\n"
    "  --ratio W:H|READER    each crop grown, never cut, to the aspect W:H\n"
    "                        (\"3:4\" for most readers' screens), the room added\n"
    "                        split evenly; or to a reader's screen by its name\n"
    "                        (\"6-inch e-reader\", \"7-inch tablet\", \"phone\",\n"
    "                        ...), with blank margins where its frame and menus\n"
    "                        cover the screen; readers of one's own go in\n"
    "                        ~/.config/orvane/screens, a line each such as\n"
    "                        \"My reader = 3:4, 0,4,0,0\" (the percent of the\n"
    "                        screen covered at the left, top, right, bottom)\n"
    "  --ratio-weights L,T,R,B  with --ratio, the room added shared by these\n"
    "                        weights instead: \"1,1,1,3\" puts three quarters\n"
    "                        of the height added below\n"
    "  --rotate DEGREES      turn every page of RANGE 90, 180 or 270 degrees\n"
    "                        clockwise after it is cropped (its /Rotate)\n"
    "  --drop-blank          with --auto-crop, leave pages found blank (paper\n"
    "                        and dust only) out of the copy, as --drop does\n"
    "  --body-only           with --auto-crop, leave out of each page's content\n"
    "                        the marks that come back at the same place on most\n"
    "                        pages of its side (odd or even): running heads and\n"
    "                        feet with their rules, page numbers, and stamps, so\n"
    "                        each crop holds the text block; a page whose text\n"
    "                        reaches where a head stands keeps it\n"
    "  --ignore KINDS        as --body-only, for these kinds alone: heads,\n"
    "                        numbers, stamps (\"numbers,stamps\")\n"
    "  --cap PERCENT         with --auto-crop, a page whose crop would cut away\n"
    "                        more than this share of it is left as it is and\n"
    "                        listed under the pages to check\n"
    "  --sensitivity N       with --auto-crop, how faint print on a scan may be\n"
    "                        and still count, 0 to 100: 50 is the usual, higher\n"
    "                        keeps pencil notes and faded colours, lower leaves\n"
    "                        them out\n"
    "  --drop RANGE          leave the pages of RANGE (\"3, 10-12\", as --pages\n"
    "                        takes) out of the copy: links and outline entries\n"
    "                        to them lead to the next page kept, or go when none\n"
    "                        follows, and their form fields go with them. The\n"
    "                        copy is then written whole\n"
    "  --report              print what the copy will change before it is\n"
    "                        written, as JSON on standard output: pages\n"
    "                        cropped, split and left, links, form fields and\n"
    "                        annotations left outside the crops, signatures\n"
    "                        broken, and whether the cropped-away content stays\n"
    "\n"
    "--restore writes ORIGINAL.pdf, the file COPY.pdf was cropped from, byte\n"
    "for byte. A copy is the original's bytes followed by an update that\n"
    "records their length and SHA-256; they are checked, and the copy is cut\n"
    "where they end. A copy written whole (--remove-hidden, a repaired file)\n"
    "holds no original, and one changed since it was written (saved again by\n"
    "another program) cannot give it back: either is refused with the reason.\n"
    "\n"
    "Progress is shown on standard error when it is a terminal. The exit code\n"
    "is 0 when OUT.pdf was written whole, 1 when it could not be (the reason\n"
    "is given in one line, and no OUT.pdf is left), 2 for wrong arguments.\n";

// The first line of `path`, its line end left off. Read into one buffer
// of its own, wiped once the password is taken from it.
std::optional<platform::Secret> ReadPasswordFile(const std::string &path, std::string &error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        error = "cannot read the password file " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    platform::Secret::KeepOutOfDumps();
    std::array<char, 1 << 16> buffer;
    size_t used = 0;
    while (used < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + used, buffer.size() - used);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        const void *end = std::memchr(buffer.data() + used, '\n', size_t(n));
        used += size_t(n);
        if (end)
            break;
    }
    ::close(fd);
    std::string_view line(buffer.data(), used);
    line = line.substr(0, line.find('\n'));
    while (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    platform::Secret secret(line);
    ::explicit_bzero(buffer.data(), buffer.size());
    return secret;
}

// The password typed on the terminal without echo; nothing at the end of
// the input.
std::optional<platform::Secret> AskPasswordOnTerminal(const QString &input) {
    platform::Secret::KeepOutOfDumps();
    std::fprintf(stderr, "Password for %s: ", platform::NativePath(input).c_str());
    std::fflush(stderr);
    termios before{};
    const bool tty = ::tcgetattr(0, &before) == 0;
    if (tty) {
        termios quiet = before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(0, TCSAFLUSH, &quiet);
    }
    std::string typed;
    typed.reserve(4096);  // one buffer, wiped at the end
    bool ended = false;
    for (char c;;) {
        const ssize_t n = ::read(0, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ended = typed.empty();
            break;
        }
        if (c == '\n')
            break;
        if (typed.size() + 1 < typed.capacity())
            typed.push_back(c);
    }
    if (tty)
        ::tcsetattr(0, TCSAFLUSH, &before);
    std::fputc('\n', stderr);
    if (ended)
        return std::nullopt;
    platform::Secret secret(typed);
    ::explicit_bzero(typed.data(), typed.capacity());
    return secret;
}

int Usage(const QString &problem) {
    std::fprintf(stderr, "orvane: %s\nTry 'orvane --help'.\n", platform::NativePath(problem).c_str());
    return 2;
}

// What the command line asks for, read into the job to run.
struct CommandLine {
    crop::AutoCropJob job;
    bool wantReport = false;  // --report
    bool restore = false;     // --restore: job.input is the copy
};

// The ways a command line ends before any crop: the help asked for, a
// wrong argument (exit code 2), a password file that cannot be read (1).
struct ShowHelp {};
struct UsageError {
    QString problem;
};
struct PasswordFileError {
    std::string reason;
};
using ParsedCommandLine = std::variant<CommandLine, ShowHelp, UsageError, PasswordFileError>;

// The arguments as read so far: the job, and what only the whole command
// line can be checked for.
struct Arguments {
    crop::AutoCropJob job;
    bool autoCrop = false, exact = false, contentOptions = false, wantReport = false, evenSplit = false;
    bool restore = false, anchored = false, weighted = false, scaling = false;
    bool marksOptions = false;  // --body-only, --ignore, --cap, --sensitivity
};

// A number with or without a percent sign after it ("60", "60%", "60 %").
bool ParsePercent(QString text, double &value) {
    text = text.trimmed();
    if (text.endsWith(QLatin1Char('%')))
        text = text.chopped(1).trimmed();
    bool ok = false;
    value = text.toDouble(&ok);
    return ok && std::isfinite(value);
}

// Files are named by the bytes given, whatever they are.
QString FileArgument(const char *arg) { return platform::PathFromNative(arg); }

// Takes the option `arg` that needs no value into `args`; false when it
// is not one of them.
bool TakeSwitch(const std::string &arg, Arguments &args) {
    if (arg == "--remove-hidden") {
        args.job.removeHidden = true;
    } else if (arg == "--trim-box") {
        args.job.trimBox = true;
    } else if (arg == "--report") {
        args.wantReport = true;
    } else if (arg == "--even") {
        args.evenSplit = true;
    } else if (arg == "--right-to-left") {
        args.job.rightToLeft = true;
    } else if (arg == "--uniform") {
        args.job.options.uniform = true;
        args.contentOptions = true;
    } else if (arg == "--drop-blank") {
        args.job.options.leaveOutBlank = true;
        args.contentOptions = true;
    } else if (arg == "--deskew") {
        args.job.options.deskew = true;
        args.contentOptions = true;
    } else if (arg == "--body-only") {
        args.job.options.ignore = crop::kAllMarks;
        args.contentOptions = args.marksOptions = true;
    } else {
        return false;
    }
    return true;
}

// Takes the argument at `i` into `args`, and its value (moving `i` on to
// it); how the command line ends instead, when the argument ends it.
std::optional<ParsedCommandLine> TakeArgument(int argc, char **argv, int &i, Arguments &args) {
    crop::AutoCropJob &job = args.job;
    const std::string arg = argv[i];
    auto value = [&](QString &into) {
        if (i + 1 >= argc)
            return false;
        into = FileArgument(argv[++i]);
        return true;
    };
    QString text;
    if (arg == "--help" || arg == "-h") {
        return ShowHelp{};
    } else if (arg == "--auto-crop") {
        if (!value(job.input))
            return UsageError{QStringLiteral("--auto-crop needs the PDF file to crop")};
        args.autoCrop = true;
    } else if (arg == "--crop") {
        if (!value(job.input))
            return UsageError{QStringLiteral("--crop needs the PDF file to crop")};
        args.exact = true;
    } else if (arg == "--restore") {
        if (!value(job.input))
            return UsageError{QStringLiteral("--restore needs the cropped copy to give the original of")};
        args.restore = true;
    } else if (arg == "--margins") {
        crop::Margins margins;
        std::string error;
        if (!value(text))
            return UsageError{QStringLiteral("--margins needs four margins, such as 20,20,20,20mm")};
        if (!crop::ParseMargins(text.toStdString(), margins, error))
            return UsageError{QStringLiteral("--margins: %1").arg(QString::fromStdString(error))};
        job.margins = margins;
    } else if (arg == "--drop") {
        std::vector<int> unused;
        std::string error;
        if (!value(text))
            return UsageError{QStringLiteral("--drop needs the pages to leave out, such as 3, 10-12")};
        if (!crop::ParsePageRange(text.toStdString(), 0, unused, error))
            return UsageError{QStringLiteral("--drop: %1").arg(QString::fromStdString(error))};
        job.leaveOut = text.toStdString();
    } else if (arg == "--page-size") {
        crop::PaperSize paper;
        std::string error;
        if (!value(text))
            return UsageError{QStringLiteral("--page-size needs a paper, such as A4 or 6x9in")};
        if (!crop::ParsePaperSize(text.toStdString(), paper, error))
            return UsageError{QStringLiteral("--page-size: %1").arg(QString::fromStdString(error))};
        job.paper = paper;
    } else if (arg == "--ratio-weights") {
        std::string error;
        if (!value(text))
            return UsageError{QStringLiteral("--ratio-weights needs four weights, such as 1,1,1,3")};
        if (!crop::ParseRoomWeights(text.toStdString(), job.room, error))
            return UsageError{QStringLiteral("--ratio-weights: %1").arg(QString::fromStdString(error))};
        args.weighted = true;
    } else if (arg == "--anchor") {
        if (!value(text) || !crop::ParseAnchor(text.toStdString(), job.anchor))
            return UsageError{QStringLiteral("--anchor needs where the crop goes on the paper: centre, top or spine")};
        args.anchored = true;
    } else if (arg == "--scaling") {
        if (!value(text) || (text != QLatin1String("fit") && text != QLatin1String("none")))
            return UsageError{QStringLiteral("--scaling needs fit (a crop larger than the paper drawn smaller) or "
                                             "none (cut to the paper)")};
        job.cut = text == QLatin1String("none");
        args.scaling = true;
    } else if (arg == "--rotate") {
        if (!value(text) ||
            (text != QLatin1String("90") && text != QLatin1String("180") && text != QLatin1String("270")))
            return UsageError{QStringLiteral("--rotate needs 90, 180 or 270 (degrees clockwise)")};
        job.rotate = text.toInt();
    } else if (arg == "--ratio") {
        crop::ReaderScreen screen;
        std::string error, ownError;
        if (!value(text))
            return UsageError{QStringLiteral("--ratio needs width:height, such as 3:4, or a reader's name")};
        // A reader's name, or W:H.
        const std::vector<crop::ReaderScreen> screens = crop::ReaderScreens(ownError);
        if (const crop::ReaderScreen *named = crop::FindScreen(screens, text.toStdString())) {
            screen = *named;
        } else if (!text.contains(QLatin1Char(':'))) {
            QStringList names;
            for (const crop::ReaderScreen &s : screens)
                names << QString::fromStdString(s.name);
            error = "no reader is named \"" + text.toStdString() + "\": give width:height, such as 3:4, or one of " +
                    names.join(QStringLiteral(", ")).toStdString() + ".";
        } else {
            crop::ParseRatio(text.toStdString(), screen.width, screen.height, error);
        }
        if (!error.empty())
            return UsageError{QStringLiteral("--ratio: %1%2")
                                  .arg(QString::fromStdString(error),
                                       ownError.empty()
                                           ? QString()
                                           : QStringLiteral(" (and %1)").arg(QString::fromStdString(ownError)))};
        screen.name = text.toStdString();
        job.ratio = screen;
    } else if (arg == "--to-box") {
        crop::PageBox box;
        if (!value(text) || !crop::ParsePageBox(text.toStdString(), box))
            return UsageError{QStringLiteral("--to-box needs the box to crop to: trim, bleed or art")};
        job.toBox = box;
    } else if (arg == "-o" || arg == "--output") {
        if (!value(job.output))
            return UsageError{QStringLiteral("%1 needs the file to write").arg(QString::fromStdString(arg))};
    } else if (arg == "--split") {
        crop::SplitGrid grid;
        std::string error;
        if (!value(text))
            return UsageError{QStringLiteral("--split needs a grid such as 2x1")};
        if (!crop::ParseSplitGrid(text.toStdString(), grid, error))
            return UsageError{QStringLiteral("--split: %1").arg(QString::fromStdString(error))};
        job.split = grid;
    } else if (arg == "--password-file") {
        if (!value(text))
            return UsageError{QStringLiteral("--password-file needs the file that holds the password")};
        std::string error;
        std::optional<platform::Secret> password = ReadPasswordFile(platform::NativePath(text), error);
        if (!password)
            return PasswordFileError{error};
        job.password = std::make_shared<const platform::Secret>(std::move(*password));
    } else if (arg == "--ignore") {
        std::string error;
        if (!value(text))
            return UsageError{QStringLiteral("--ignore needs the kinds of mark to leave out: heads, numbers, stamps")};
        if (!crop::ParseMarkKinds(text.toStdString(), job.options.ignore, error))
            return UsageError{QStringLiteral("--ignore: %1").arg(QString::fromStdString(error))};
        args.contentOptions = args.marksOptions = true;
    } else if (arg == "--cap") {
        double cap = 0;
        if (!value(text) || !ParsePercent(text, cap) || cap <= 0 || cap >= 100)
            return UsageError{QStringLiteral("--cap needs the most of a page a crop may cut away, a percent above 0 "
                                             "and below 100, such as 60")};
        job.options.cap = cap;
        args.contentOptions = args.marksOptions = true;
    } else if (arg == "--sensitivity") {
        double sensitivity = 0;
        if (!value(text) || !ParsePercent(text, sensitivity) || sensitivity < 0 || sensitivity > 100 ||
            sensitivity != std::trunc(sensitivity))
            return UsageError{QStringLiteral("--sensitivity needs a whole number from 0 (only clear print counts) to "
                                             "100 (the faintest marks count); 50 is the usual")};
        job.options.sensitivity = int(sensitivity);
        args.contentOptions = args.marksOptions = true;
    } else if (arg == "--margin") {
        crop::SideMargins sides;
        std::string error;
        if (!value(text))
            return UsageError{QStringLiteral("--margin needs the margin round the content, such as 10 or 5,5,5,15mm")};
        if (!crop::ParseSideMargins(text.toStdString(), sides, error))
            return UsageError{QStringLiteral("--margin: %1").arg(QString::fromStdString(error))};
        if (!sides.innerOuter && sides.left == sides.top && sides.left == sides.right && sides.left == sides.bottom)
            job.options.margin = sides.left;  // one for every side
        else
            job.options.sides = sides;
        args.contentOptions = true;
    } else if (arg == "--pages") {
        if (!value(text))
            return UsageError{QStringLiteral("--pages needs the pages to crop, such as all, odd, even or 5-40")};
        std::vector<int> unused;
        std::string error;
        if (!crop::ParsePageSet(text.toStdString(), job.options.pages)) {
            // The form now; whether the pages exist once the file is open.
            if (!crop::ParsePageRange(text.toStdString(), 0, unused, error))
                return UsageError{QStringLiteral("--pages: %1").arg(QString::fromStdString(error))};
            job.options.range = text.toStdString();
        }
    } else if (!TakeSwitch(arg, args)) {
        return UsageError{QStringLiteral("unknown argument \"%1\"").arg(FileArgument(argv[i]))};
    }
    return std::nullopt;
}

// What is wrong with the options given together, if anything.
std::optional<QString> CombinationProblem(const Arguments &args) {
    const crop::AutoCropJob &job = args.job;
    if (args.restore) {
        if (args.autoCrop || args.exact)
            return QStringLiteral("--restore gives back an original; it cannot be given with --auto-crop or --crop");
        if (job.margins || job.toBox || job.paper || job.ratio || job.rotate || !job.leaveOut.empty() || job.split ||
            job.password || job.removeHidden || job.trimBox || args.wantReport || args.contentOptions ||
            !job.options.range.empty() || job.options.pages != crop::PageSet::All || job.rightToLeft || args.evenSplit)
            return QStringLiteral("--restore takes only -o ORIGINAL.pdf");
        if (job.output.isEmpty())
            return QStringLiteral("-o ORIGINAL.pdf is missing");
        return std::nullopt;
    }
    if (args.autoCrop && args.exact)
        return QStringLiteral("--auto-crop and --crop are two ways to crop; give one");
    if (!args.autoCrop && !args.exact)
        return QStringLiteral("--auto-crop IN.pdf or --crop IN.pdf is missing");
    if (args.weighted && !job.ratio)
        return QStringLiteral("--ratio-weights shares the room that --ratio adds");
    if (args.anchored && !job.paper)
        return QStringLiteral("--anchor places the crop on the paper of --page-size");
    if (args.scaling && !job.paper)
        return QStringLiteral("--scaling tells how a crop goes on the paper of --page-size");
    if (job.paper && job.ratio)
        return QStringLiteral("--page-size and --ratio are two ways to shape the pages; give one");
    if (job.split && (job.paper || job.ratio))
        return QStringLiteral("--page-size and --ratio shape whole pages; they cannot be given with --split");
    if (job.margins && job.toBox)
        return QStringLiteral("--margins and --to-box are two ways to crop; give one");
    if (args.exact && !job.margins && !job.toBox)
        return QStringLiteral("--crop needs --margins L,T,R,B or --to-box trim|bleed|art");
    if (args.autoCrop && job.toBox)
        return QStringLiteral("--to-box goes with --crop; --auto-crop finds the content");
    if (args.autoCrop && job.margins)
        return QStringLiteral("--margins goes with --crop; --auto-crop finds the content (its --margin adds points "
                              "round it)");
    // Read right to left, a book's spine is right of its odd pages.
    const bool spineSide =
        (job.paper && job.anchor == crop::Anchor::Spine) || (job.options.sides && job.options.sides->innerOuter);
    if (job.rightToLeft && !job.split && !spineSide)
        return QStringLiteral("--right-to-left goes with --split, --anchor spine or inner and outer margins");
    if (job.split && args.exact)
        return QStringLiteral("--split goes with --auto-crop");
    if (args.evenSplit && !job.split)
        return QStringLiteral("--even goes with --split");
    if (args.exact && args.contentOptions)
        return QStringLiteral("--uniform, --margin, --deskew, --drop-blank, --body-only, --ignore, --cap and "
                              "--sensitivity go with --auto-crop, not --crop");
    if (job.split && job.options.sides)
        return QStringLiteral("--split takes one margin round each cell, such as --margin 10");
    if (job.split && args.marksOptions)
        return QStringLiteral("--body-only, --ignore, --cap and --sensitivity measure whole pages; they cannot be "
                              "given with --split");
    if (job.split && job.options.deskew)
        return QStringLiteral("--deskew straightens whole pages; it cannot be given with --split");
    if (job.output.isEmpty())
        return QStringLiteral("-o OUT.pdf is missing");
    return std::nullopt;
}

// The arguments read into a job, or how the command line ends without one.
// A password file is read where it stands among the arguments.
ParsedCommandLine ParseCommandLine(int argc, char **argv) {
    Arguments args;
    for (int i = 1; i < argc; ++i) {
        if (std::optional<ParsedCommandLine> end = TakeArgument(argc, argv, i, args))
            return std::move(*end);
    }
    if (std::optional<QString> problem = CombinationProblem(args))
        return UsageError{*problem};
    if (args.job.split)
        args.job.split->even = args.evenSplit;
    if (args.job.rightToLeft && args.job.options.sides)  // read right to left, the spine is right of odd pages
        args.job.options.sides->spineRight = true;
    return CommandLine{std::move(args.job), args.wantReport, args.restore};
}

// Crops as `line` asks, telling how it went on the standard streams; the
// exit code.
int RunCrop(CommandLine &line) {
    crop::AutoCropJob &job = line.job;
    const bool wantReport = line.wantReport;
    const bool terminal = ::isatty(2) == 1;
    crop::AutoCropProgress progress;
    if (terminal)
        progress = [](const char *phase, int done, int total) {
            std::fprintf(stderr, "\rorvane: %s: page %d of %d\033[K", phase, done, total);
            std::fflush(stderr);
        };
    crop::AutoCropReport report;
    auto askReport = [wantReport](crop::AutoCropReport &r) {
        r.wantReport = wantReport;
        r.onReport = [](const std::string &json) {
            std::fputs(json.c_str(), stdout);
            std::fflush(stdout);
        };
    };
    askReport(report);
    // Told to stop, the run stops the crop tool and waits for it: no copy
    // appears after the program has ended.
    crop::CropRun::StopToolsOnTermination();
    QString reason;
    // A file that costs more memory than there is fails, and says so.
    auto run = [&] {
        try {
            return crop::AutoCropFile(job, report, reason, progress);
        } catch (const std::bad_alloc &) {
            reason = QStringLiteral("there is not enough memory to crop %1").arg(job.input);
            return false;
        }
    };
    bool ok = run();
    // A locked input: asked for on a terminal, a few times, unless the
    // password came with --password-file.
    const bool given = job.password != nullptr;
    for (int tries = 0; !ok && !given && tries < 3 && ::isatty(0) == 1 &&
                        (report.openFailure == render::OpenFailure::NeedsPassword ||
                         report.openFailure == render::OpenFailure::WrongPassword);
         ++tries) {
        if (report.openFailure == render::OpenFailure::WrongPassword)
            std::fputs("orvane: that is not its password\n", stderr);
        std::optional<platform::Secret> password = AskPasswordOnTerminal(job.input);
        if (!password)
            break;
        job.password = std::make_shared<const platform::Secret>(std::move(*password));
        report = {};
        askReport(report);
        ok = run();
    }
    if (!ok && report.openFailure == render::OpenFailure::NeedsPassword)
        reason = QStringLiteral("%1 needs a password (use --password-file)").arg(job.input);
    if (terminal)
        std::fputs("\r\033[K", stderr);
    for (const std::string &warning : report.warnings)
        std::fprintf(stderr, "orvane: warning: %s\n", warning.c_str());
    for (const std::string &note : report.toolNotes)
        std::fprintf(stderr, "%s\n", note.c_str());
    if (!ok) {
        std::fprintf(stderr, "orvane: %s\n", platform::NativePath(reason).c_str());
        return 1;
    }
    if (terminal) {
        std::error_code failed;
        std::fprintf(stderr, "orvane: wrote %s: %d of %d pages cropped, %d blank%s%s\n",
                     std::filesystem::absolute(platform::NativePath(job.output), failed).c_str(), report.cropped,
                     report.pages, report.blank,
                     job.options.deskew ? (", " + std::to_string(report.straightened) + " straightened").c_str() : "",
                     report.leftOut > 0 ? (", " + std::to_string(report.leftOut) + " left out").c_str() : "");
        std::string marks;
        static const char *const kMarks[3] = {"running heads", "page numbers", "stamps"};
        for (int kind = 0; kind < 3; ++kind)
            if (report.marksLeftOut[kind] > 0)
                marks += std::string(marks.empty() ? "" : ", ") + kMarks[kind] + " on " +
                         std::to_string(report.marksLeftOut[kind]) + " pages";
        if (!marks.empty())
            std::fprintf(stderr, "orvane: left out of the crops: %s\n", marks.c_str());
        for (const crop::Outlier &o : report.outliers)
            std::fprintf(stderr, "orvane: check page %d: %s\n", o.page, o.reason.c_str());
    }
    return 0;
}

// Writes the original the copy holds, telling how it went; the exit code.
int RunRestore(const CommandLine &line) {
    const bool terminal = ::isatty(2) == 1;
    QString reason;
    const bool ok = crop::RestoreOriginal(line.job.input, line.job.output, reason, [terminal](int percent) {
        if (terminal) {
            std::fprintf(stderr, "\rorvane: restoring: %d %%\033[K", percent);
            std::fflush(stderr);
        }
    });
    if (terminal)
        std::fputs("\r\033[K", stderr);
    if (!ok) {
        std::fprintf(stderr, "orvane: %s\n", platform::NativePath(reason).c_str());
        return 1;
    }
    if (terminal) {
        std::error_code failed;
        std::fprintf(stderr, "orvane: wrote %s, the original of %s\n",
                     std::filesystem::absolute(platform::NativePath(line.job.output), failed).c_str(),
                     platform::NativePath(line.job.input).c_str());
    }
    return 0;
}

}  // namespace

bool WantsCommandLine(int argc, char **argv) {
    // The toolkit's own options, which the window takes (with one dash or
    // two); any other option is this program's, or wrong.
    static const char *const kToolkit[] = {"platform",
                                           "platformpluginpath",
                                           "platformtheme",
                                           "plugin",
                                           "qwindowgeometry",
                                           "qwindowicon",
                                           "qwindowtitle",
                                           "reverse",
                                           "session",
                                           "style",
                                           "stylesheet",
                                           "widgetcount",
                                           "display",
                                           "geometry",
                                           "title",
                                           "name",
                                           "visual",
                                           "fontengine",
                                           "nograb",
                                           "dograb",
                                           "sync",
                                           "qmljsdebugger"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h")
            return true;
        if (arg.rfind("--", 0) != 0 || arg == "--")
            continue;
        const std::string name =
            arg.substr(2, arg.find('=') == std::string::npos ? std::string::npos : arg.find('=') - 2);
        if (std::find(std::begin(kToolkit), std::end(kToolkit), name) == std::end(kToolkit))
            return true;
    }
    return false;
}

int RunCommandLine(int argc, char **argv) {
    ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    if (std::holds_alternative<ShowHelp>(parsed)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (const UsageError *wrong = std::get_if<UsageError>(&parsed))
        return Usage(wrong->problem);
    if (const PasswordFileError *unread = std::get_if<PasswordFileError>(&parsed)) {
        std::fprintf(stderr, "orvane: %s\n", unread->reason.c_str());
        return 1;
    }
    CommandLine &line = std::get<CommandLine>(parsed);
    if (line.restore) {
        crop::CropRun::StopToolsOnTermination();
        return RunRestore(line);
    }
    return RunCrop(line);
}

}  // namespace app

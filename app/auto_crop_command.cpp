#include "app/auto_crop_command.h"

#include "crop/crop_run.h"
#include "crop/page_walk.h"
#include "platform/temp_files.h"
#include "render/page_source.h"
#include "render/rendering_library.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace app {
namespace {

constexpr const char *kUsage =
    "usage: orvane [FILE]\n"
    "       orvane --auto-crop IN.pdf -o OUT.pdf [--uniform] [--margin PTS] [--pages all|odd|even]\n"
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
    "                        complete\n"
    "  --uniform             every page one size: odd and even pages each\n"
    "                        placed round their own content, as books mirror\n"
    "                        their margins; blank pages get the size too\n"
    "  --margin PTS          points of margin round the content (never past\n"
    "                        the page's edges); 0 by default\n"
    "  --pages all|odd|even  which pages are cropped; the others stay as they\n"
    "                        are (all by default)\n"
    "  -h, --help            show this text\n"
    "\n"
    "Progress is shown on standard error when it is a terminal. The exit code\n"
    "is 0 when OUT.pdf was written whole, 1 when it could not be (the reason\n"
    "is given in one line, and no OUT.pdf is left), 2 for wrong arguments.\n";

QString Quote(const QString &path) { return QStringLiteral("\"%1\"").arg(path); }
// A path as the file system spells it, whatever bytes its name holds.
std::string Native(const QString &path) { return QFile::encodeName(path).toStdString(); }

// What tells a file apart from every other on the machine.
bool SameFile(const QString &a, const QString &b) {
    struct stat sa {}, sb {};
    if (::stat(QFile::encodeName(a).constData(), &sa) == 0 && ::stat(QFile::encodeName(b).constData(), &sb) == 0)
        return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

bool CheckInput(const QString &path, QString &reason) {
    const QFileInfo info(path);
    if (!info.exists()) {
        reason = QStringLiteral("%1 does not exist").arg(Quote(path));
        return false;
    }
    if (info.isDir()) {
        reason = QStringLiteral("%1 is a folder, not a PDF file").arg(Quote(path));
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reason = QStringLiteral("%1 cannot be read (%2)").arg(Quote(path), file.errorString());
        return false;
    }
    // A PDF begins with its header within its first kilobyte.
    if (!file.read(1024).contains("%PDF-")) {
        reason = QStringLiteral("%1 is not a PDF file").arg(Quote(path));
        return false;
    }
    return true;
}

bool CheckOutput(const QString &input, const QString &output, QString &reason) {
    const QFileInfo info(output);
    if (output.isEmpty()) {
        reason = QStringLiteral("no output file was named");
        return false;
    }
    if (info.exists() && info.isDir()) {
        reason = QStringLiteral("%1 is a folder; name the PDF file to write").arg(Quote(output));
        return false;
    }
    if (SameFile(input, output)) {
        reason = QStringLiteral("%1 is the input file; write the cropped copy to another file").arg(Quote(output));
        return false;
    }
    const QString folder = info.absolutePath();
    if (!QFileInfo(folder).isDir()) {
        reason = QStringLiteral("%1 cannot be written: the folder %2 does not exist").arg(Quote(output), Quote(folder));
        return false;
    }
    if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0) {
        reason = QStringLiteral("%1 cannot be written: the folder %2 is not writable (%3)")
                     .arg(Quote(output), Quote(folder), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (info.exists() && !info.isWritable() && !info.isSymLink()) {
        // Replaced by a rename, which the folder allows; but a read-only
        // file is one the user meant to keep.
        reason = QStringLiteral("%1 is read-only; it is not replaced").arg(Quote(output));
        return false;
    }
    return true;
}

// The crop list of the whole document: every page a line, the pages
// without a crop an empty rectangle.
bool WriteCropList(const std::string &path, int pageCount, const crop::AutoCropResult &result) {
    const std::map<int, std::string> values = crop::PlannedValues(result);
    std::string text;
    text.reserve(size_t(pageCount) * 48);
    for (int page = 1; page <= pageCount; ++page) {
        const auto planned = values.find(page);
        const std::string value = planned == values.end() ? std::string("0.00,0.00,0.00,0.00") : planned->second;
        text += "Page " + std::to_string(page) + ", [" + value + "]\n";
    }
    const std::unique_ptr<FILE, int (*)(FILE *)> file(std::fopen(path.c_str(), "w"), &std::fclose);
    return file && std::fwrite(text.data(), 1, text.size(), file.get()) == text.size() &&
           std::fflush(file.get()) == 0;
}

// The temporary crop list, gone whatever happens.
struct TempList {
    std::string path;
    ~TempList() {
        if (!path.empty() && std::remove(path.c_str()) == 0)
            platform::TempFileRegistry::Instance().Forget(path);
    }
};

int Usage(const QString &problem) {
    std::fprintf(stderr, "orvane: %s\nTry 'orvane --help'.\n", problem.toLocal8Bit().constData());
    return 2;
}

}  // namespace

bool WantsCommandLine(int argc, char **argv) {
    // The toolkit's own options, which the window takes (with one dash or
    // two); any other option is this program's, or wrong.
    static const char *const kToolkit[] = {"platform", "platformpluginpath", "platformtheme", "plugin",
                                           "qwindowgeometry", "qwindowicon", "qwindowtitle", "reverse",
                                           "session", "style", "stylesheet", "widgetcount", "display",
                                           "geometry", "title", "name", "visual", "fontengine", "nograb",
                                           "dograb", "sync", "qmljsdebugger"};
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-h")
            return true;
        if (arg.rfind("--", 0) != 0 || arg == "--")
            continue;
        const std::string name = arg.substr(2, arg.find('=') == std::string::npos ? std::string::npos : arg.find('=') - 2);
        if (std::find(std::begin(kToolkit), std::end(kToolkit), name) == std::end(kToolkit))
            return true;
    }
    return false;
}

bool AutoCropFile(const AutoCropJob &job, AutoCropReport &report, QString &reason, const AutoCropProgress &progress) {
    if (!QCoreApplication::instance()) {
        reason = QStringLiteral("the crop tool can only be run with an application object");
        return false;
    }
    const QString input = QFileInfo(job.input).absoluteFilePath();
    const QString output = QFileInfo(job.output).absoluteFilePath();
    if (!CheckInput(input, reason) || !CheckOutput(input, output, reason))
        return false;
    if (!render::LoadRenderingLibrary()) {
        reason = QStringLiteral("DLL %1 failed to load").arg(QString::fromLatin1(render::kRenderingLibraryName));
        return false;
    }
    int pageCount = 0;
    {
        const std::unique_ptr<render::PageSource> source = render::PageSource::Open(Native(input), 1);
        if (!source || source->Kind() != render::SourceKind::Pdf) {
            reason = QStringLiteral("%1 cannot be opened: it is damaged, locked by a password, or not a PDF file")
                         .arg(Quote(input));
            return false;
        }
        pageCount = source->PageCount();
    }
    if (pageCount < 1) {
        reason = QStringLiteral("%1 has no pages that can be read; it may be damaged").arg(Quote(input));
        return false;
    }

    // Content of every page, on both render threads.
    auto scheduler = std::make_shared<render::RenderScheduler>(Native(input), 2);
    crop::AutoCropResult result;
    std::mutex resultMutex;
    const std::shared_ptr<crop::PageWalk> walk = crop::StartAutoCrop(
        scheduler, pageCount, job.options, {},
        [&progress](int done, int total) {
            if (progress)
                progress("Finding content", done, total);
        },
        [&](crop::AutoCropResult r) {
            std::lock_guard lock(resultMutex);
            result = std::move(r);
        });
    walk->Wait();
    scheduler->Stop();
    std::lock_guard lock(resultMutex);
    report.pages = int(result.pages.size());
    report.cropped = int(result.plan.rects.size());
    report.blank = result.plan.blank;
    report.outliers = result.plan.outliers;
    for (const crop::PageContent &p : result.pages)
        if (p.failed)
            report.warnings.push_back("page " + std::to_string(p.page) + " could not be rendered (" + p.error +
                                      "); it is left as it is");

    if (report.pages > 0 && int(report.warnings.size()) == report.pages) {
        reason = QStringLiteral("no page of %1 could be rendered; it may be damaged").arg(Quote(input));
        return false;
    }

    // A copy with no page cropped would be the input again.
    if (report.cropped == 0) {
        reason = QStringLiteral("no page of %1 has content to crop to (each is blank or could not be rendered); nothing was cropped, and "
                                "%2 is not written")
                     .arg(Quote(input), Quote(output));
        return false;
    }

    TempList list;
    if (platform::MakeTempFileName(1024, list.path, ".txt") == 0 || !WriteCropList(list.path, pageCount, result)) {
        reason = QStringLiteral("the crop list cannot be written to the temporary folder");
        return false;
    }

    // The crop tool writes a temporary file beside the output and renames
    // it into place when it is complete.
    crop::CropRun run;
    QEventLoop loop;
    bool ok = false;
    QString message;
    QObject::connect(&run, &crop::CropRun::Progress, &loop, [&progress](int done, int total) {
        if (progress)
            progress("Writing", done, total);
    });
    QObject::connect(&run, &crop::CropRun::Finished, &loop, [&](bool success, const QString &text) {
        ok = success;
        message = text;
        loop.quit();
    });
    if (!run.Start({crop::CropRun::ToolPath(), QString::fromStdString(list.path), input, output}, reason))
        return false;
    loop.exec();
    if (!ok) {
        reason = message.simplified();
        return false;
    }
    // What the tool said on the way follows the news after a blank line.
    const qsizetype said = message.indexOf(QStringLiteral("\n\n"));
    if (said >= 0)
        for (const QString &line : message.mid(said + 2).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            report.toolNotes.push_back(line.toStdString());
    return true;
}

int RunCommandLine(int argc, char **argv) {
    AutoCropJob job;
    bool autoCrop = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](QString &into) {
            if (i + 1 >= argc)
                return false;
            into = QFile::decodeName(argv[++i]);
            return true;
        };
        QString text;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == "--auto-crop") {
            if (!value(job.input))
                return Usage(QStringLiteral("--auto-crop needs the PDF file to crop"));
            autoCrop = true;
        } else if (arg == "-o" || arg == "--output") {
            if (!value(job.output))
                return Usage(QStringLiteral("%1 needs the file to write").arg(QString::fromStdString(arg)));
        } else if (arg == "--uniform") {
            job.options.uniform = true;
        } else if (arg == "--margin") {
            bool number = false;
            const double margin = value(text) ? text.toDouble(&number) : 0;
            if (!number || !std::isfinite(margin) || margin < 0 || margin > 14400)
                return Usage(QStringLiteral("--margin needs a number of points from 0 to 14400"));
            job.options.margin = margin;
        } else if (arg == "--pages") {
            if (!value(text) || !crop::ParsePageSet(text.toStdString(), job.options.pages))
                return Usage(QStringLiteral("--pages needs all, odd or even"));
        } else {
            return Usage(QStringLiteral("unknown argument \"%1\"").arg(QString::fromLocal8Bit(argv[i])));
        }
    }
    if (!autoCrop)
        return Usage(QStringLiteral("--auto-crop IN.pdf is missing"));
    if (job.output.isEmpty())
        return Usage(QStringLiteral("-o OUT.pdf is missing"));

    const bool terminal = ::isatty(2) == 1;
    AutoCropProgress progress;
    if (terminal)
        progress = [](const char *phase, int done, int total) {
            std::fprintf(stderr, "\rorvane: %s: page %d of %d\033[K", phase, done, total);
            std::fflush(stderr);
        };
    AutoCropReport report;
    QString reason;
    const bool ok = AutoCropFile(job, report, reason, progress);
    if (terminal)
        std::fputs("\r\033[K", stderr);
    for (const std::string &warning : report.warnings)
        std::fprintf(stderr, "orvane: warning: %s\n", warning.c_str());
    for (const std::string &note : report.toolNotes)
        std::fprintf(stderr, "%s\n", note.c_str());
    if (!ok) {
        std::fprintf(stderr, "orvane: %s\n", reason.toLocal8Bit().constData());
        return 1;
    }
    if (terminal) {
        std::fprintf(stderr, "orvane: wrote %s: %d of %d pages cropped, %d blank\n",
                     QFileInfo(job.output).absoluteFilePath().toLocal8Bit().constData(), report.cropped, report.pages,
                     report.blank);
        for (const crop::Outlier &o : report.outliers)
            std::fprintf(stderr, "orvane: check page %d: %s\n", o.page, o.reason.c_str());
    }
    return 0;
}

}  // namespace app

#include "crop/model/auto_crop_job.h"

#include "crop/detect/page_range.h"
#include "crop/detect/page_walk.h"
#include "crop/detect/split.h"
#include "crop/model/regions/crop_file.h"
#include "crop/model/crop_list.h"
#include "crop/model/crop_run.h"
#include "platform/file_identity.h"
#include "platform/file_names.h"
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
#include <map>
#include <mutex>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace crop {

namespace {

QString Quote(const QString &path) { return QStringLiteral("\"%1\"").arg(path); }
// A path as the file system spells it, whatever bytes its name holds.
std::string Native(const QString &path) { return platform::NativePath(path); }

// `path` made absolute, byte for byte.
QString Absolute(const QString &path) {
    std::error_code failed;
    const std::filesystem::path absolute = std::filesystem::absolute(Native(path), failed);
    return failed ? path : platform::PathFromNative(absolute.lexically_normal().string());
}

// Whether the file holds a PDF header ("%PDF-") in its first 16 MB, as
// the rendering library looks for it: PDF readers take a file with other
// bytes before its header, and so does the crop tool.
bool HasPdfHeader(int fd) {
    char buffer[1 << 16];
    std::string carried;
    for (size_t read = 0; read < (16u << 20); read += sizeof buffer) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        carried.append(buffer, size_t(n));
        if (carried.find("%PDF-") != std::string::npos)
            return true;
        carried.erase(0, carried.size() - 4);
    }
    return false;
}

bool CheckInput(const QString &path, QString &reason) {
    std::string error;
    using platform::InputProblem;
    switch (platform::CheckReadable(Native(path), error)) {
    case InputProblem::Missing:
        reason = QStringLiteral("%1 does not exist").arg(Quote(path));
        return false;
    case InputProblem::Folder:
        reason = QStringLiteral("%1 is a folder, not a PDF file").arg(Quote(path));
        return false;
    case InputProblem::Unreadable:
        reason = QStringLiteral("%1 cannot be read (%2)").arg(Quote(path), QString::fromLocal8Bit(error.c_str()));
        return false;
    case InputProblem::None:
        break;
    }
    const int fd = ::open(Native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        reason =
            QStringLiteral("%1 cannot be read (%2)").arg(Quote(path), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        reason = QStringLiteral("%1 is not a regular file").arg(Quote(path));
        return false;
    }
    const bool pdf = HasPdfHeader(fd);
    ::close(fd);
    if (!pdf) {
        reason = QStringLiteral("%1 is not a PDF file").arg(Quote(path));
        return false;
    }
    return true;
}

bool CheckOutput(const QString &input, const QString &output, QString &reason) {
    if (output.isEmpty()) {
        reason = QStringLiteral("no output file was named");
        return false;
    }
    const std::string native = Native(output);
    const platform::FileIdentity out = platform::IdentityOf(native);
    if (out.folder) {
        reason = QStringLiteral("%1 is a folder; name the PDF file to write").arg(Quote(output));
        return false;
    }
    if (platform::SameFile(Native(input), native)) {
        reason = QStringLiteral("%1 is the input file; write the cropped copy to another file").arg(Quote(output));
        return false;
    }
    // A device or a pipe receives the copy as it is written.
    if (out.device)
        return true;
    if (out.exists && !out.regular) {
        reason = QStringLiteral("%1 is not a regular file; it is not replaced").arg(Quote(output));
        return false;
    }
    const std::filesystem::path folder = std::filesystem::path(native).parent_path();
    const QString shownFolder = platform::PathFromNative(folder.string());
    if (!platform::IdentityOf(folder.string()).folder) {
        reason =
            QStringLiteral("%1 cannot be written: the folder %2 does not exist").arg(Quote(output), Quote(shownFolder));
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        reason = QStringLiteral("%1 cannot be written: the folder %2 is not writable (%3)")
                     .arg(Quote(output), Quote(shownFolder), QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (out.exists && platform::IsReadOnly(native)) {
        // Replaced by a rename, which the folder allows; but a read-only
        // file is one the user meant to keep. (The crop tool keeps the same
        // rule.)
        reason = QStringLiteral("%1 is read-only; it is not replaced").arg(Quote(output));
        return false;
    }
    return true;
}

// Each page's regions as the crop file stores them, in the copy's order.
using PageValues = std::map<int, std::vector<std::string>>;

// The value of every page of the job inside its margins.
bool MarginValues(render::PageSource &source, int pageCount, const AutoCropJob &job, AutoCropReport &report,
                  PageValues &values, QString &reason);
// Every crop of the job's pages made the job's paper size or grown to its
// aspect; a page without one shaped from the whole page.
bool ShapePages(const AutoCropJob &job, const std::vector<std::pair<double, double>> &sizes, AutoCropReport &report,
                PageValues &values, std::map<int, double> &scales, QString &reason);
// Every page of the job cropped to the box it gives of the job's kind.
bool BoxValues(render::PageSource &source, int pageCount, const AutoCropJob &job, AutoCropReport &report,
               PageValues &values, QString &reason);
// The content of every page of the job found, and each page's crop planned.
bool ContentValues(const QString &input, int pageCount, const AutoCropJob &job, AutoCropReport &report,
                   PageValues &values, QString &reason, const AutoCropProgress &progress);
// Every page of the job split into the cells of its grid, at its gutters.
bool SplitValues(const QString &input, int pageCount, const AutoCropJob &job, AutoCropReport &report,
                 PageValues &values, QString &reason, const AutoCropProgress &progress);
// The crop list of `values` given to the crop tool, started already on a
// list to come, and the tool's end awaited.
bool WriteCopy(CropRun &run, int pageCount, const PageValues &values, const std::string &more, AutoCropReport &report,
               QString &reason, const AutoCropProgress &progress);

}  // namespace

bool AutoCropFile(const AutoCropJob &job, AutoCropReport &report, QString &reason, const AutoCropProgress &progress) {
    if (!QCoreApplication::instance()) {
        reason = QStringLiteral("the crop tool can only be run with an application object");
        return false;
    }
    const QString input = Absolute(job.input);
    const QString output = Absolute(job.output);
    if (!CheckInput(input, reason) || !CheckOutput(input, output, reason))
        return false;
    if (!render::LoadRenderingLibrary()) {
        reason = QStringLiteral("DLL %1 failed to load").arg(QString::fromLatin1(render::kRenderingLibraryName));
        return false;
    }
    std::unique_ptr<render::PageSource> source =
        render::PageSource::Open(Native(input), 1, job.password.get(), &report.openFailure);
    if (report.openFailure == render::OpenFailure::NeedsPassword) {
        reason = QStringLiteral("%1 needs a password").arg(Quote(job.input));
        return false;
    }
    if (report.openFailure == render::OpenFailure::WrongPassword) {
        reason = QStringLiteral("the password given is not the password of %1").arg(Quote(job.input));
        return false;
    }
    if (!source || source->Kind() != render::SourceKind::Pdf) {
        reason = QStringLiteral("%1 cannot be opened: it is damaged or not a PDF file").arg(Quote(input));
        return false;
    }
    const int pageCount = source->PageCount();
    if (pageCount < 1) {
        reason = QStringLiteral("%1 has no pages that can be read; it may be damaged").arg(Quote(input));
        return false;
    }
    if (!job.options.range.empty()) {
        std::vector<int> pages;
        std::string error;
        if (!ParsePageRange(job.options.range, pageCount, pages, error)) {
            if (!error.empty() && error.back() == '.')
                error.pop_back();
            reason = QStringLiteral("the pages asked for are not all in %1: %2")
                         .arg(Quote(input), QString::fromStdString(error));
            return false;
        }
    }
    std::vector<int> leaveOut;
    if (!job.leaveOut.empty()) {
        std::string error;
        if (!ParsePageRange(job.leaveOut, pageCount, leaveOut, error)) {
            if (!error.empty() && error.back() == '.')
                error.pop_back();
            reason = QStringLiteral("the pages to leave out are not all in %1: %2")
                         .arg(Quote(input), QString::fromStdString(error));
            return false;
        }
        if (int(leaveOut.size()) >= pageCount) {
            reason = QStringLiteral("every page of %1 would be left out; a PDF keeps one page at least, and %2 is not "
                                    "written")
                         .arg(Quote(input), Quote(output));
            return false;
        }
    }
    if (PagesOf(job.options, pageCount).empty()) {
        reason =
            QStringLiteral("the pages asked for are none of the %1 of %2; nothing was cropped, and %3 is not written")
                .arg(pageCount == 1 ? QStringLiteral("1 page") : QStringLiteral("%1 pages").arg(pageCount),
                     Quote(input), Quote(output));
        return false;
    }

    // The crop tool reads the input while the pages are looked at, and gets
    // the list once it is made.
    CropRun run;
    CropRun::Job toolJob{CropRun::ToolPath(), QStringLiteral("-"), input, output};
    toolJob.password = job.password;
    toolJob.removeHidden = job.removeHidden;
    toolJob.trimBox = job.trimBox;
    toolJob.addMargins =
        job.paper || job.ratio ||
        (job.margins && std::min({job.margins->left, job.margins->top, job.margins->right, job.margins->bottom}) < 0);
    if (!run.Start(toolJob, reason))
        return false;
    PageValues values;
    // The shown size of every page, for shaping the crops.
    std::vector<std::pair<double, double>> sizes;
    if (job.paper || job.ratio) {
        sizes = source->PageSizes();
        for (int page = int(sizes.size()) + 1; page <= pageCount; ++page) {
            render::PageExtent e;
            source->PageExtent(page, &e, 0);
            sizes.push_back({e.x2 - e.x1, e.y2 - e.y1});
        }
    }
    if (job.margins || job.toBox) {
        if (!(job.toBox ? BoxValues : MarginValues)(*source, pageCount, job, report, values, reason))
            return false;
    } else {
        source.reset();  // each render thread opens its own
        if (!(job.split ? SplitValues(input, pageCount, job, report, values, reason, progress)
                        : ContentValues(input, pageCount, job, report, values, reason, progress)))
            return false;
    }
    std::map<int, double> scales;  // the pages drawn smaller
    if ((job.paper || job.ratio) && !ShapePages(job, sizes, report, values, scales, reason))
        return false;
    if (job.options.leaveOutBlank) {
        leaveOut.insert(leaveOut.end(), report.blankPages.begin(), report.blankPages.end());
        std::sort(leaveOut.begin(), leaveOut.end());
        leaveOut.erase(std::unique(leaveOut.begin(), leaveOut.end()), leaveOut.end());
        if (int(leaveOut.size()) >= pageCount)
            leaveOut.pop_back();  // the copy keeps a page
    }
    for (int page : leaveOut) {
        const auto cropped = values.find(page);
        if (cropped != values.end() && !cropped->second.empty())
            --report.cropped;
        values[page] = {kLeftOut};
    }
    report.leftOut = int(leaveOut.size());
    // Pages turned, after the crop: lines of their own after the others.
    std::string rotations;
    for (const auto &[page, scale] : scales)  // a page left out is not scaled
        if (std::find(leaveOut.begin(), leaveOut.end(), page) == leaveOut.end())
            rotations += "Page " + std::to_string(page) + ", scale " + ScaleText(scale) + "\n";
    if (job.rotate != 0)
        for (int page : PagesOf(job.options, pageCount))
            if (std::find(leaveOut.begin(), leaveOut.end(), page) == leaveOut.end())
                rotations += "Page " + std::to_string(page) + ", rotate " + std::to_string(job.rotate) + "\n";
    return WriteCopy(run, pageCount, values, rotations, report, reason, progress);
}

namespace {

bool MarginValues(render::PageSource &source, int pageCount, const AutoCropJob &job, AutoCropReport &report,
                  PageValues &values, QString &reason) {
    // Every page measured at once where the source can; else one by one.
    const std::vector<std::pair<double, double>> sizes = source.PageSizes();
    const std::vector<int> pages = PagesOf(job.options, pageCount);
    report.pages = int(pages.size());
    for (int page : pages) {
        std::pair<double, double> size{0, 0};
        render::PageExtent extent;
        if (page <= int(sizes.size()))
            size = sizes[size_t(page - 1)];
        else if (source.PageExtent(page, &extent, 0))
            size = {extent.x2 - extent.x1, extent.y2 - extent.y1};
        const std::optional<CropRect> rect = InsideMargins(*job.margins, size.first, size.second);
        if (rect && (rect->right - rect->left > kLargestPage || rect->bottom - rect->top > kLargestPage)) {
            reason = QStringLiteral("the margins would make page %1 larger than %2 pt, the most a PDF page may be; %3 "
                                    "is not written")
                         .arg(page)
                         .arg(int(kLargestPage))
                         .arg(Quote(job.output));
            return false;
        }
        if (!(size.first > 0 && size.second > 0) || !rect) {
            char shown[64];
            std::snprintf(shown, sizeof shown, "%.1f x %.1f pt", size.first, size.second);
            report.warnings.push_back("page " + std::to_string(page) + " (" + shown +
                                      ") is too small for the margins; it is left as it is");
            continue;
        }
        values[page] = {PageValueFor(*rect, int(std::trunc(size.second)))};
    }
    report.cropped = int(values.size());
    if (values.empty()) {
        reason = QStringLiteral("the margins leave nothing of any page asked for in %1; nothing was cropped, and %2 is "
                                "not written")
                     .arg(Quote(job.input), Quote(job.output));
        return false;
    }
    return true;
}

bool BoxValues(render::PageSource &source, int pageCount, const AutoCropJob &job, AutoCropReport &report,
               PageValues &values, QString &reason) {
    const std::vector<int> pages = PagesOf(job.options, pageCount);
    report.pages = int(pages.size());
    std::vector<int> without;
    for (int page : pages) {
        const std::optional<render::PageExtent> box = source.Box(page, int(*job.toBox));
        render::PageExtent shown;
        if (!box || !source.PageExtent(page, &shown, 0)) {
            without.push_back(page);
            continue;
        }
        values[page] = {
            PageValueFor(CropRect{box->x1, box->y1, box->x2, box->y2}, int(std::trunc(shown.y2 - shown.y1)))};
    }
    report.cropped = int(values.size());
    const std::string kind = PageBoxName(*job.toBox);
    if (!without.empty() && !values.empty())
        report.warnings.push_back(
            std::string(without.size() == 1 ? "page " : "pages ") + PageRangeText(without) +
            (without.size() == 1 ? " has no " : " have no ") + kind +
            (without.size() == 1 ? " box; it is left as it is" : " box; they are left as they are"));
    if (values.empty()) {
        reason = QStringLiteral("no page asked for in %1 has %2 %3 box; nothing was cropped, and %4 is not written")
                     .arg(Quote(job.input), *job.toBox == PageBox::Art ? QStringLiteral("an") : QStringLiteral("a"),
                          QString::fromStdString(kind), Quote(job.output));
        return false;
    }
    return true;
}

bool ShapePages(const AutoCropJob &job, const std::vector<std::pair<double, double>> &sizes, AutoCropReport &report,
                PageValues &values, std::map<int, double> &scales, QString &reason) {
    std::vector<int> cut, scaled;
    double least = 1;
    for (int page : PagesOf(job.options, int(sizes.size()))) {
        const auto [width, height] = sizes[size_t(page - 1)];
        if (!(width > 0 && height > 0))
            continue;
        const int line = int(std::trunc(height));
        std::vector<std::string> &pageValues = values[page];
        if (pageValues.empty())
            pageValues.push_back(PageValueFor(CropRect{0, 0, width, height}, line));
        bool pageCut = false;
        for (std::string &value : pageValues) {
            CropRect rect = RectFromPageValue(value, line);
            if (rect.IsEmpty())
                rect = CropRect{0, 0, width, height};
            bool rectCut = false;
            // A page split into several is cut to the paper: only a whole page is drawn smaller.
            if (job.paper && !job.cut && pageValues.size() == 1) {
                double scale = 1;
                rect = FitOnPaper(rect, *job.paper, scale, job.anchor, page, job.rightToLeft);
                if (scale < kLeastScale) {
                    reason = QStringLiteral("page %1 would be drawn at less than 1 % of its size to fit that paper; %2 "
                                            "is not written")
                                 .arg(page)
                                 .arg(Quote(job.output));
                    return false;
                }
                if (scale < 1) {
                    scales[page] = scale;
                    scaled.push_back(page);
                    least = std::min(least, scale);
                }
            } else {
                rect = job.paper ? OnPaper(rect, *job.paper, rectCut, job.anchor, page, job.rightToLeft)
                                 : GrownToScreen(rect, *job.ratio, job.room);
            }
            pageCut = pageCut || rectCut;
            if (rect.right - rect.left > kLargestPage || rect.bottom - rect.top > kLargestPage) {
                reason = QStringLiteral("page %1 would be larger than %2 pt, the most a PDF page may be; %3 is not "
                                        "written")
                             .arg(page)
                             .arg(int(kLargestPage))
                             .arg(Quote(job.output));
                return false;
            }
            value = WithTurn(PageValueFor(rect, line), PageTurn(value));
        }
        if (pageCut)
            cut.push_back(page);
    }
    if (!cut.empty())
        report.warnings.push_back(std::string(cut.size() == 1 ? "page " : "pages ") + PageRangeText(cut) +
                                  (cut.size() == 1 ? " is" : " are") + " larger than the paper; cut to it round the " +
                                  (job.anchor == Anchor::Centre ? std::string("centre of the crop")
                                   : job.anchor == Anchor::Top  ? std::string("top of the crop")
                                                                : std::string("spine's edge of the crop")) +
                                  " (nothing is scaled)");
    if (!scaled.empty())
        report.warnings.push_back(
            std::string(scaled.size() == 1 ? "page " : "pages ") + PageRangeText(scaled) +
            (scaled.size() == 1 ? " is" : " are") + " larger than the paper; drawn smaller to fit it (at " +
            std::to_string(int(std::floor(least * 100))) + " % of " + (scaled.size() == 1 ? "its" : "their") + " size" +
            (scaled.size() == 1 ? ")" : " at the least)"));
    return true;
}

bool ContentValues(const QString &input, int pageCount, const AutoCropJob &job, AutoCropReport &report,
                   PageValues &values, QString &reason, const AutoCropProgress &progress) {
    const QString output = Absolute(job.output);
    // Content of every page, on both render threads.
    auto scheduler = std::make_shared<render::RenderScheduler>(Native(input), 2, job.password);
    AutoCropResult result;
    std::mutex resultMutex;
    const std::shared_ptr<PageWalk> walk = StartAutoCrop(
        scheduler, pageCount, job.options, {},
        [&progress](int done, int total) {
            if (progress)
                progress("Finding content", done, total);
        },
        [&](AutoCropResult r) {
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
    for (const PageContent &p : result.pages) {
        if (!p.content && !p.failed)
            report.blankPages.push_back(p.page);
        if (p.failed)
            report.warnings.push_back("page " + std::to_string(p.page) + " could not be rendered (" + p.error +
                                      "); it is left as it is");
        if (p.skewUnmeasured)
            report.warnings.push_back("page " + std::to_string(p.page) +
                                      " is a scan whose skew cannot be told (its print has no lines or edges to "
                                      "measure); it is left as scanned");
        report.straightened += p.turn != 0 && result.plan.rects.count(p.page) ? 1 : 0;
        for (int kind = 0; kind < 3; ++kind)
            report.marksLeftOut[kind] += std::any_of(p.blocks.begin(), p.blocks.end(), [&](const EdgeBlock &b) {
                return b.kind == (1u << kind) && (job.options.ignore & b.kind);
            });
    }
    if (job.options.ignore && !std::any_of(std::begin(report.marksLeftOut), std::end(report.marksLeftOut),
                                           [](int pages) { return pages > 0; }))
        report.warnings.push_back("no marks of the kinds asked for come back at the same place on most pages; "
                                  "every mark counts");

    if (report.pages > 0 && result.plan.failed == report.pages) {
        reason = QStringLiteral("no page of %1 could be rendered; it may be damaged").arg(Quote(input));
        return false;
    }

    // A copy with no page cropped would be the input again.
    if (report.cropped == 0 && job.options.cap > 0 && report.blank + result.plan.failed < report.pages) {
        reason = QStringLiteral("every crop of %1 would cut away more than %2 % of its page, so every page is left as "
                                "it is; nothing was cropped, and %3 is not written")
                     .arg(Quote(input))
                     .arg(job.options.cap)
                     .arg(Quote(output));
        return false;
    }
    if (report.cropped == 0) {
        reason = QStringLiteral("no page of %1 has content to crop to (each is blank or could not be rendered); "
                                "nothing was cropped, and "
                                "%2 is not written")
                     .arg(Quote(input), Quote(output));
        return false;
    }

    for (auto &[page, value] : PlannedValues(result))
        values[page] = {std::move(value)};
    return true;
}

bool SplitValues(const QString &input, int pageCount, const AutoCropJob &job, AutoCropReport &report,
                 PageValues &values, QString &reason, const AutoCropProgress &progress) {
    auto scheduler = std::make_shared<render::RenderScheduler>(Native(input), 2, job.password);
    const std::vector<int> pages = PagesOf(job.options, pageCount);
    std::mutex mutex;
    const SplitGrid grid = *job.split;
    const double margin = job.options.margin;
    const bool rightToLeft = job.rightToLeft;
    const std::shared_ptr<PageWalk> walk = PageWalk::Start(
        scheduler, pages,
        [&](const PageWalk::Page &page) {
            if (!page.bitmap || page.width <= 0 || page.height <= 0) {
                std::lock_guard lock(mutex);
                report.warnings.push_back("page " + std::to_string(page.page) + " could not be rendered (" +
                                          page.error.toStdString() + "); it is left as it is");
                return;
            }
            const SplitCells split = SplitPage(PixelView::Of(*page.bitmap), page.bitmap->width / page.width, grid);
            const std::vector<CropRect> cells =
                FitCells(split.cells, margin, job.options.uniform, page.width, page.height);
            std::vector<std::string> all;
            for (int i : ReadingOrder(cells, rightToLeft))
                all.push_back(PageValueFor(cells[size_t(i)], int(std::trunc(page.height))));
            std::lock_guard lock(mutex);
            if (split.missed > 0)
                report.warnings.push_back("page " + std::to_string(page.page) +
                                          (split.cells.size() > 1
                                               ? " has a row with no gutter or fold to cut at; that row is left whole"
                                               : " has no gutter or fold to cut at; it is left whole") +
                                          " (--even splits evenly there)");
            values[page.page] = std::move(all);
        },
        [&progress](int done, int total) {
            if (progress)
                progress("Finding gutters", done, total);
        },
        {}, render::RenderScheduler::kBackground, PageWalk::Colours::Grey);
    walk->Wait();
    scheduler->Stop();
    std::lock_guard lock(mutex);
    report.pages = int(pages.size());
    report.cropped = int(values.size());
    if (values.empty()) {
        reason = QStringLiteral("no page of %1 could be rendered; it may be damaged").arg(Quote(input));
        return false;
    }
    return true;
}

bool WriteCopy(CropRun &run, int pageCount, const PageValues &values, const std::string &more, AutoCropReport &report,
               QString &reason, const AutoCropProgress &progress) {
    const std::string text =
        CropListText(pageCount, std::function<std::vector<std::string>(int)>([&values](int page) {
                         const auto planned = values.find(page);
                         return planned == values.end() ? std::vector<std::string>() : planned->second;
                     })) +
        more;

    // The crop tool writes a temporary file beside the output and renames
    // it into place when it is complete.
    QEventLoop loop;
    bool ok = false;
    QString message;
    QObject::connect(&run, &CropRun::Progress, &loop, [&progress](int done, int total) {
        if (progress)
            progress("Writing", done, total);
    });
    QObject::connect(&run, &CropRun::Finished, &loop, [&](bool success, const QString &said) {
        ok = success;
        message = said;
        loop.quit();
    });
    const QByteArray list = QByteArray::fromStdString(text) + "End\n";
    if (report.wantReport) {
        // What the copy will change, from the crop tool's dry run of the
        // same list, told before the copy is written.
        CropRun::Job dry = run.CurrentJob();
        QByteArray json;
        if (!CropRun::Report(dry, json, reason, list)) {
            run.Stop();
            return false;
        }
        report.toolReport = json.toStdString();
        if (report.onReport)
            report.onReport(report.toolReport);
    }
    run.SendList(list);
    loop.exec();
    if (!ok) {
        reason = CropRun::Reason(message);
        return false;
    }
    // What the tool said on the way follows the news after a blank line.
    const qsizetype said = message.indexOf(QStringLiteral("\n\n"));
    if (said >= 0)
        for (const QString &line : message.mid(said + 2).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            report.toolNotes.push_back(platform::NativePath(line));
    return true;
}

}  // namespace

}  // namespace crop

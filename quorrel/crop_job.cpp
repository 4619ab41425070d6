#include "quorrel/crop_job.h"

#include "quorrel/crop_list.h"
#include "quorrel/cropper.h"
#include "quorrel/input_file.h"
#include "quorrel/left_out.h"
#include "quorrel/original.h"
#include "quorrel/output_file.h"
#include "quorrel/picture_cut.h"
#include "quorrel/repair.h"
#include "quorrel/straighten.h"
#include "quorrel/update_writer.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <fstream>
#include <future>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <sstream>

namespace quorrel {
namespace {

// A copy written whole says why, for a restore to tell.
void RecordWhole(QPDF &pdf, Whole why) {
    pdf.getTrailer().replaceKey(RecordKey(),
                                QPDFObjectHandle::parse(std::string("<< /Whole ") + WholeName(why) + " >>"));
}

bool Failed(std::string &error, const std::string &message) {
    error = message;
    return false;
}

// "1.7" of the first "%PDF-1.7" in the first 16 MB of the open file `fd`;
// empty when there is none.
std::string HeaderVersion(int fd) {
    constexpr size_t kWithin = 16u << 20;
    std::string seen;
    char buffer[1 << 16];
    for (off_t at = 0; size_t(at) < kWithin;) {
        const ssize_t n = ::pread(fd, buffer, sizeof buffer, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        at += n;
        seen.append(buffer, size_t(n));
        const size_t header = seen.find("%PDF-");
        if (header != std::string::npos && seen.size() >= header + 8) {
            const std::string v = seen.substr(header + 5, 3);
            const bool number = std::isdigit(static_cast<unsigned char>(v[0])) && v[1] == '.' &&
                                std::isdigit(static_cast<unsigned char>(v[2]));
            return number ? v : std::string();
        }
        if (header == std::string::npos)
            seen.erase(0, seen.size() > 4 ? seen.size() - 4 : 0);
    }
    return {};
}

std::string TemporaryFolderFull(const std::string &out) {
    return "the temporary folder " + TemporaryFolder() + " is full (" + std::strerror(ENOSPC) +
           "): there is no room for the copy without hidden content; " + out + " is not written";
}

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// The box a page shows, its crop box within its media box, in user space.
QPDFObjectHandle::Rectangle ShownBox(QPDFObjectHandle page) {
    QPDFPageObjectHelper helper(page);
    QPDFObjectHandle media = helper.getMediaBox(false), crop = helper.getCropBox(false, false);
    QPDFObjectHandle::Rectangle m = media.isRectangle() ? media.getArrayAsRectangle() : QPDFObjectHandle::Rectangle();
    if (!crop.isRectangle())
        return m;
    const QPDFObjectHandle::Rectangle c = crop.getArrayAsRectangle();
    return {std::max(std::min(c.llx, c.urx), std::min(m.llx, m.urx)),
            std::max(std::min(c.lly, c.ury), std::min(m.lly, m.ury)),
            std::min(std::max(c.llx, c.urx), std::max(m.llx, m.urx)),
            std::min(std::max(c.lly, c.ury), std::max(m.lly, m.ury))};
}

// What a crop will change, as JSON: pages cropped, split and left, the
// copy's pages, what will lie outside the crops (out of reach), what
// becomes of signatures, and whether the cropped-away content stays.
std::string ReportOf(QPDF &pdf, const CropList &list, const CropReport &crop,
                     const std::map<QPDFObjGen, int> &inputPage, const Signatures &signatures, const std::string &whole,
                     bool removeHidden, long long inputBytes) {
    int split = 0, cropped = 0, turnedOnly = 0, rotatedOnly = 0;
    std::string leftOut;  // the pages, as JSON numbers
    for (const auto &[page, rects] : list) {
        if (page < 1 || page > crop.pages)
            continue;
        if (crop.leftOut > 0 && !rects.empty() && rects.front().leftOut) {
            leftOut += (leftOut.empty() ? "" : ", ") + std::to_string(page);
            continue;
        }
        int kept = 0;
        for (const CropRect &r : rects)
            kept += r.Empty() ? 0 : 1;
        split += kept > 1 ? 1 : 0;
        cropped += kept == 1 ? 1 : 0;
        turnedOnly += kept == 0 && !rects.empty() && rects.front().turn != 0 ? 1 : 0;
        rotatedOnly += kept == 0 && !rects.empty() && rects.front().turn == 0 && rects.front().rotate != 0 ? 1 : 0;
    }
    std::string outside;
    int links = 0, fields = 0, notes = 0;
    std::vector<QPDFObjectHandle> pages = pdf.getAllPages();
    int input = 0;
    for (size_t i = 0; i < pages.size(); ++i) {
        const auto found = inputPage.find(pages[i].getObjGen());
        if (found != inputPage.end())
            input = found->second;
        const QPDFObjectHandle::Rectangle box = ShownBox(pages[i]);
        QPDFObjectHandle annots = pages[i].getKey("/Annots");
        if (!annots.isArray())
            continue;
        for (QPDFObjectHandle annot : annots.aitems()) {
            if (!annot.isDictionary() || !annot.getKey("/Rect").isRectangle())
                continue;
            const std::string subtype = annot.getKey("/Subtype").isName() ? annot.getKey("/Subtype").getName() : "";
            if (subtype == "/Popup")
                continue;
            const QPDFObjectHandle::Rectangle r = annot.getKey("/Rect").getArrayAsRectangle();
            const double x0 = std::min(r.llx, r.urx), x1 = std::max(r.llx, r.urx);
            const double y0 = std::min(r.lly, r.ury), y1 = std::max(r.lly, r.ury);
            // One without area (an invisible signature's) lies nowhere.
            if (x1 <= x0 || y1 <= y0 || !(x1 <= box.llx || x0 >= box.urx || y1 <= box.lly || y0 >= box.ury))
                continue;
            const std::string kind = subtype == "/Link" ? "link" : subtype == "/Widget" ? "field" : "annotation";
            (kind == "link" ? links : kind == "field" ? fields : notes) += 1;
            std::string name;
            if (kind == "field" && annot.getKey("/T").isString())
                name = annot.getKey("/T").getUTF8Value();
            else if (kind == "field" && annot.getKey("/Parent").isDictionary() &&
                     annot.getKey("/Parent").getKey("/T").isString())
                name = annot.getKey("/Parent").getKey("/T").getUTF8Value();
            outside += std::string(outside.empty() ? "" : ",") + "\n    {\"page\": " + std::to_string(input) +
                       ", \"copyPage\": " + std::to_string(i + 1) + ", \"kind\": " + JsonString(kind) +
                       ", \"subtype\": " + JsonString(subtype.empty() ? "" : subtype.substr(1)) +
                       (name.empty() ? "" : ", \"name\": " + JsonString(name)) + "}";
        }
    }
    const bool changes = crop.cropped > 0 || crop.copies > 0 || crop.turned > 0 || crop.leftOut > 0 ||
                         crop.rotated > 0 || !crop.scaled.empty();
    const bool signaturesBroken = signatures.signedFields && changes && !whole.empty();
    const bool certificationBroken = signatures.certified && changes;
    auto flag = [](bool b) { return std::string(b ? "true" : "false"); };
    std::string json = "{\n";
    json += "  \"pages\": " + std::to_string(crop.pages) + ",\n";
    json += "  \"cropped\": " + std::to_string(cropped) + ",\n";
    json += "  \"split\": " + std::to_string(split) + ",\n";
    json +=
        "  \"unchanged\": " + std::to_string(crop.pages - cropped - split - turnedOnly - rotatedOnly - crop.leftOut) +
        ",\n";
    json += "  \"copyPages\": " + std::to_string(crop.pages + crop.copies - crop.leftOut) + ",\n";
    json += "  \"leftOut\": [" + leftOut + "],\n";
    json += "  \"rotated\": " + std::to_string(crop.rotated) + ",\n";
    json += "  \"rotatedOnly\": " + std::to_string(rotatedOnly) + ",\n";
    json += "  \"scaled\": " + std::to_string(crop.scaled.size()) + ",\n";
    json += "  \"grown\": " + std::to_string(crop.grown.size()) + ",\n";
    json += "  \"straightened\": " + std::to_string(crop.turned) + ",\n";
    json += "  \"straightenedOnly\": " + std::to_string(turnedOnly) + ",\n";
    json += "  \"outside\": {\"links\": " + std::to_string(links) + ", \"fields\": " + std::to_string(fields) +
            ", \"annotations\": " + std::to_string(notes) + ", \"items\": [" + outside +
            (outside.empty() ? "" : "\n  ") + "]},\n";
    json += "  \"signed\": " + flag(signatures.signedFields) + ",\n";
    json += "  \"certified\": " + flag(signatures.certified) + ",\n";
    json += "  \"signaturesInvalidated\": " + flag(signaturesBroken) + ",\n";
    json += "  \"certificationInvalidated\": " + flag(certificationBroken) + ",\n";
    json += "  \"writtenWhole\": " + flag(!whole.empty()) + ",\n";
    json += "  \"whyWhole\": " + JsonString(whole) + ",\n";
    json += "  \"hiddenContentKept\": " + flag(!removeHidden) + ",\n";
    if (removeHidden) {
        // The pictures are most of what a removal saves: their part told
        // ahead, the rest of the file as it is.
        const CutEstimate cuts = EstimateCuts(pdf);
        json += "  \"size\": {\"before\": " + std::to_string(inputBytes) +
                ", \"afterAbout\": " + std::to_string(std::max(0LL, inputBytes - cuts.before + cuts.after)) +
                ", \"picturesCut\": " + std::to_string(cuts.pictures) + "},\n";
    }
    json += "  \"warnings\": [";
    for (size_t i = 0; i < crop.warnings.size(); ++i)
        json += std::string(i ? ", " : "") + JsonString(crop.warnings[i]);
    json += "]\n}\n";
    return json;
}

// A run of a crop job in stages, called by RunCropJob in the order they
// are declared (a dry run reports instead of writing). A stage that
// returns false has ended the run, with the reason in `error`.
struct JobRun {
    JobRun(const CropJob &cropJob, std::string &failure, const std::function<void(const std::string &)> &tell);
    ~JobRun() { stopDigest = true; }

    // The crop list, unless it comes on standard input (ReadListOnInput).
    bool ReadCropList();
    // Opens the input, and the output unless nothing is to be written.
    bool OpenFiles();
    // Reads the input as a PDF; from a copy the rendering library repaired
    // when qpdf cannot read it as it is.
    bool ReadDocument();
    bool ReadRepairedCopy(const std::string &unreadable);
    // The crop list on standard input, once the input has been read and
    // its pages found: the caller may still be making it.
    bool ReadListOnInput();
    // Crops the pages of the document, as it is held in memory.
    bool Crop();
    // Whether the copy is the input with an update, or a whole new file.
    void Plan();
    // A dry run's outcome: what the crop would change.
    void Report();
    // Writes the copy and puts it in place.
    bool Write();
    void WriteUpdate(const std::function<void(int)> &tell);
    bool WriteWithoutHidden(const std::function<void(int)> &tell);
    int WriteCroppedCopy(const std::function<void(int)> &tell);
    void WriteWhole(const std::function<void(int)> &tell);

    void Say(const std::string &line) const;
    // Tells a warning of qpdf's, noting whether it repaired the file.
    void Show(const QPDFExc &w);
    void ShowWarnings();
    bool Changes() const {
        return report.cropped > 0 || report.copies > 0 || report.turned > 0 || report.leftOut > 0 ||
               report.rotated > 0 || !report.scaled.empty();
    }

    const CropJob &job;
    std::string &error;
    const std::function<void(const std::string &)> &tellUser;
    const std::string &list, &in, &out;
    const bool removeHidden;
    const bool mediaBox, rewrite, requireCrop;
    const bool progress;
    const char *const password;
    const bool listOnInput;

    CropList crops;
    std::shared_ptr<InputFile> input;
    std::optional<OutputFile> output;
    QPDF *pdf = nullptr;
    bool repaired = false;  // qpdf repaired the input to read it
    bool rebuilt = false;   // only a repaired copy of the input could be read
    // The version of the input's header, wherever it stands: a copy
    // written whole keeps it (qpdf takes a file whose header does not
    // open it for an old one).
    std::string version;
    // Each page of the input by its object, for the report: a copy
    // follows the page it copies.
    std::map<QPDFObjGen, int> inputPage;
    CropReport report;
    Signatures signatures;
    // The update, unless the file must be written whole, and why it must.
    std::string update, whole;
    Whole wholeKind = Whole::NoUpdate;
    // The SHA-256 of the input, being taken (see OpenFiles); last, so that
    // it is waited for before what it reads goes.
    std::atomic<bool> stopDigest{false};
    std::future<std::optional<std::string>> inputDigest;
};

JobRun::JobRun(const CropJob &cropJob, std::string &failure, const std::function<void(const std::string &)> &tell)
    : job(cropJob),
      error(failure),
      tellUser(tell),
      list(job.list),
      in(job.in),
      out(job.out),
      removeHidden(job.removeHidden),
      // With hidden content removed the copy is written whole (an update
      // keeps the original bytes) and its media boxes are its crops.
      mediaBox(job.mediaBox || removeHidden),
      rewrite(job.rewrite),
      requireCrop(job.requireCrop),
      progress(job.progress && !job.reportOnly),
      password(job.password.empty() ? nullptr : job.password.c_str()),
      listOnInput(list == "-") {}

void JobRun::Say(const std::string &line) const {
    if (tellUser)
        tellUser(line);
}

void JobRun::Show(const QPDFExc &w) {
    // Other bytes before the header are taken, and said why the copy is
    // then written whole.
    if (!version.empty() && std::string(w.what()).find("can't find PDF header") != std::string::npos)
        return;
    Say(std::string("warning: ") + w.what());
    repaired = repaired || IsRepair(w);
}

void JobRun::ShowWarnings() {
    for (const QPDFExc &w : pdf->getWarnings())
        Show(w);
}

bool JobRun::ReadCropList() {
    if (listOnInput)
        return true;
    std::ifstream file(list, std::ios::binary);
    if (!file)
        return Failed(error, "cannot read the crop list " + list + ": " + std::strerror(errno));
    std::string why;
    if (!ParseCropList(file, crops, why))
        return Failed(error, "crop list " + list + ": " + why);
    return true;
}

bool JobRun::OpenFiles() {
    std::string openError;
    input = InputFile::Open(in, openError);
    if (!input)
        return Failed(error, "cannot open " + in + ": " + openError);
    // Where the copy goes is settled before any work is done on it.
    if (!job.reportOnly) {
        output.emplace(out, job.overwrite);
        if (!output->Open(error))
            return false;
        // The input's digest, for the update to record, is taken on the
        // side while the pages are cropped and the input copied.
        inputDigest = std::async(std::launch::async, [file = input, this] {
            std::string unread;
            return Sha256OfFile(file->Descriptor(), file->Size(), unread, &stopDigest);
        });
    }
    return true;
}

bool JobRun::ReadDocument() {
    // The document lives until the process ends: the system takes its
    // memory back at once, which is quicker than freeing its objects one
    // by one (for a long document that costs more than the crop itself).
    // A static pointer keeps it reachable, so leak checkers stay quiet.
    static QPDF *const document = new QPDF;
    pdf = document;
    version = HeaderVersion(input->Descriptor());
    // qpdf's notes about damage it repaired are shown only when the
    // file could be read in the end.
    pdf->setSuppressWarnings(true);
    // A file too damaged for qpdf is cropped from a copy the rendering
    // library repaired, which is how the window read it.
    bool damaged = false;
    std::string unreadable;
    try {
        pdf->processInputSource(input, password);
    } catch (const QPDFExc &e) {
        if (e.getErrorCode() == qpdf_e_password)
            return Failed(error, password ? "the password given is not the password of " + in
                                          : in + " needs a password (give it with --password-fd)");
        // The file could not be read from the disk: no repair helps.
        if (e.getErrorCode() == qpdf_e_system)
            return Failed(error, "cannot read " + in + ": " + e.getMessageDetail());
        damaged = true;
        unreadable = e.getMessageDetail().empty() ? std::string("it makes no sense as a PDF") : e.getMessageDetail();
    } catch (const std::runtime_error &e) {
        return Failed(error, "cannot open " + in + ": " + e.what());
    }
    return !damaged || ReadRepairedCopy(unreadable);
}

// Reads the copy of the input the rendering library repaired, the input
// being `unreadable` to qpdf.
bool JobRun::ReadRepairedCopy(const std::string &unreadable) {
    std::string why, openError;
    const int fd = RepairedCopy(in, why);
    if (fd < 0)
        return Failed(error, in + " cannot be read as a PDF: " + unreadable + "; " + why);
    input = InputFile::Adopt(fd, in + " (repaired)", openError);
    if (!input)
        return Failed(error, "cannot read the repaired copy of " + in + ": " + openError);
    static QPDF *const copy = new QPDF;
    pdf = copy;
    pdf->setSuppressWarnings(true);
    try {
        pdf->processInputSource(input, password);
    } catch (const std::exception &) {
        return Failed(error, in + " cannot be read as a PDF, even repaired: " + unreadable);
    }
    rebuilt = true;
    Say("warning: " + in + " is damaged beyond what the crop tool reads (" + unreadable +
        "); the rendering library repaired a copy of it, and that copy is cropped");
    return true;
}

bool JobRun::ReadListOnInput() {
    if (!listOnInput)
        return true;
    try {
        pdf->getAllPages();
    } catch (const std::exception &) {
        // Met again, and told, when the pages are cropped.
    }
    // The list ends with a line "End": one cut short (its maker stopped
    // while writing it) crops nothing.
    std::string text, why;
    if (!ReadAtMost(std::cin, kLargestList + 4, text, why))
        return Failed(error, why + "; nothing was cropped, and " + out + " is not written");
    const std::string end = "End\n";
    if (text.size() < end.size() || text.compare(text.size() - end.size(), end.size(), end) != 0 ||
        (text.size() > end.size() && text[text.size() - end.size() - 1] != '\n'))
        return Failed(error, "the crop list on standard input is incomplete (it does not end with a line "
                             "\"End\"); nothing was cropped, and " +
                                 out + " is not written");
    text.resize(text.size() - end.size());
    std::istringstream lines(text);
    if (!ParseCropList(lines, crops, why))
        return Failed(error, "the crop list on standard input: " + why);
    return true;
}

bool JobRun::Crop() {
    ShowWarnings();
    if (job.reportOnly) {
        try {
            const std::vector<QPDFObjectHandle> &all = pdf->getAllPages();
            for (size_t i = 0; i < all.size(); ++i)
                inputPage.emplace(all[i].getObjGen(), int(i + 1));
        } catch (const std::exception &) {
            // Met again, and told, when the pages are cropped.
        }
    }
    report = ApplyCropList(*pdf, crops, mediaBox, job.addMargins, job.trimBox);
    for (const std::string &w : report.warnings)
        Say("warning: " + w);
    if (report.leftOut > 0 && !job.reportOnly)
        Say("left out: " + std::to_string(report.leftOut) + (report.leftOut == 1 ? " page" : " pages") +
            (report.leadsRemoved > 0 ? "; " + std::to_string(report.leadsRemoved) +
                                           " links and outline entries that led to it and to no page after went"
                                     : std::string()));
    if (requireCrop && !Changes())
        return Failed(error, "no page of " + in + " lies under a rectangle of the list; nothing was cropped, and " +
                                 out + " is not written");
    signatures = SignaturesOf(*pdf);
    if (signatures.certified && Changes()) {
        // Whatever the level, a page's boxes are not among what it allows.
        const char *allows = signatures.certificationLevel == 1   ? "no change at all"
                             : signatures.certificationLevel == 3 ? "only filling in forms, signing and notes"
                                                                  : "only filling in forms and signing";
        Say("warning: " + in + " is certified, and its certification allows " + allows +
            ": validators will report the crop as a change that breaks it");
    }
    return true;
}

void JobRun::Plan() {
    if (removeHidden) {
        whole = "so that what the crop hides is not kept";
        wholeKind = Whole::HiddenRemoved;
    } else if (rewrite) {
        whole = "as --rewrite asks";
        wholeKind = Whole::Rewritten;
    } else if (rebuilt) {
        whole = "because only a repaired copy of the input could be read";
        wholeKind = Whole::Repaired;
    } else if (!report.whyWhole.empty()) {
        whole = "because " + report.whyWhole;
        wholeKind = !report.grown.empty() ? Whole::MarginsAdded
                    : report.leftOut > 0  ? Whole::PagesLeftOut
                    : report.turned > 0   ? Whole::Straightened
                                          : Whole::NoUpdate;
    } else if (Changes() || !report.changed.empty()) {
        ShowWarnings();  // damage met while reading the pages counts too
        // The update records the input, so the copy can give it back.
        UpdatePlan plan = PlanUpdate(*pdf, *input, repaired, report.changed,
                                     job.reportOnly ? std::string() : UpdateRecord(input->Size()));
        for (const QPDFExc &w : plan.warnings)
            Show(w);
        update = std::move(plan.bytes);
        if (!plan.whyWhole.empty()) {
            whole = "because " + plan.whyWhole;
            wholeKind = repaired ? Whole::Repaired : Whole::NoUpdate;
        }
    }
    if (!whole.empty())
        stopDigest = true;  // a whole copy records no digest
    ShowWarnings();
}

void JobRun::Report() {
    if (job.report)
        *job.report = ReportOf(*pdf, crops, report, inputPage, signatures, whole, removeHidden, input->Size());
}

bool JobRun::Write() {
    if (!whole.empty() && !rewrite)
        Say(out + " is written as a whole new file, not as an update, " + whole);
    if (!whole.empty() && signatures.signedFields)
        Say("warning: " + in +
            " is signed; a whole new file no longer holds the signed bytes, "
            "so its signatures will not validate");

    // The share of the work done, told as pages.
    const int pages = report.pages;
    std::function<void(int)> tell = [pages, this, last = -1](int percent) mutable {
        const int done = int(int64_t(pages) * std::clamp(percent, 0, 100) / 100);
        if (done == last)
            return;
        last = done;
        Say("progress " + std::to_string(done) + "/" + std::to_string(pages));
    };
    if (progress)
        tell(0);
    if (whole.empty()) {
        WriteUpdate(tell);
    } else if (removeHidden || !report.grown.empty()) {
        if (!WriteWithoutHidden(tell))
            return false;
    } else {
        WriteWhole(tell);
    }
    if (!output->Commit(error))
        return Failed(error, error);
    if (removeHidden) {
        struct stat written = {};
        if (::stat(out.c_str(), &written) == 0)
            Say("size: " + std::to_string(input->Size()) + " bytes before, " + std::to_string(written.st_size) +
                " after");
    }
    return true;
}

// The input's bytes as they are, then the update.
void JobRun::WriteUpdate(const std::function<void(int)> &tell) {
    const long long size = input->Size();
    output->CopyFrom(input->Descriptor(), size, [&](long long copied) {
        if (progress)
            tell(int(copied * 99 / std::max(1LL, size)));
    });
    if (!update.empty()) {  // else nothing changes: the copy is the input
        const std::optional<std::string> digest = inputDigest.get();
        if (!digest)
            throw std::runtime_error("cannot read " + in + " to its end");
        SealUpdate(update, *digest);
    }
    output->Sink()->write(reinterpret_cast<const unsigned char *>(update.data()), update.size());
    if (progress)
        tell(100);
}

// The copy without what lies outside the crops: the rendering library
// takes it out of the cropped copy qpdf wrote (WriteCroppedCopy).
bool JobRun::WriteWithoutHidden(const std::function<void(int)> &tell) {
    // Margins added with hidden content kept: for the removal a page that
    // grows shows what it showed, and every other page its whole media
    // box, so that only what lies in the new margins goes; each page's
    // crop box is given back after.
    std::vector<QPDFObjectHandle> pages;
    for (QPDFPageObjectHelper &p : QPDFPageDocumentHelper(*pdf).getAllPages())
        pages.push_back(p.getObjectHandle());
    std::map<QPDFObjGen, const CropReport::Grown *> grownOf;
    for (const CropReport::Grown &g : report.grown)
        grownOf[g.page.getObjGen()] = &g;
    std::vector<std::optional<Box>> cropBoxes;  // each page's own, when it has one
    if (!removeHidden) {
        for (QPDFObjectHandle page : pages) {
            cropBoxes.push_back(page.hasKey("/CropBox") ? RectangleOf(page.getKey("/CropBox")) : std::nullopt);
            const auto grown = grownOf.find(page.getObjGen());
            QPDFObjectHandle media = QPDFPageObjectHelper(page).getMediaBox();
            if (grown != grownOf.end())
                page.replaceKey("/CropBox", BoxArray(grown->second->visible));
            else  // without a media box a page is US Letter
                page.replaceKey("/CropBox", media.isRectangle() ? media.shallowCopy() : BoxArray(Box{0, 0, 612, 792}));
        }
    }
    const int copy = WriteCroppedCopy(tell);
    if (copy < 0)
        return false;
    ShowWarnings();
    Removed removed;
    std::string why;
    const int cleaned = WithoutHiddenCopy(copy, job.password, removed, why);
    ::close(copy);
    if (cleaned < 0)
        return Failed(error, why == kNoSpace ? TemporaryFolderFull(out) : why + "; " + out + " is not written");
    // Written once more by qpdf, with object streams, so the copy is
    // smaller by what was removed.
    std::shared_ptr<InputFile> cleanedInput = InputFile::Adopt(cleaned, "the copy without hidden content", why);
    if (!cleanedInput)
        return Failed(error, why + "; " + out + " is not written");
    static QPDF *const last = new QPDF;
    last->setSuppressWarnings(true);
    last->processInputSource(cleanedInput, password);
    // The crop boxes given back, and the pages that grow given their new
    // boxes, their content drawn within what they showed before.
    std::vector<QPDFPageObjectHelper> lastPages = QPDFPageDocumentHelper(*last).getAllPages();
    if (lastPages.size() != pages.size())
        return Failed(error, "the copy without hidden content has " + std::to_string(lastPages.size()) +
                                 " pages where it should have " + std::to_string(pages.size()) + "; " + out +
                                 " is not written");
    // With pages that grow, the pages drawn smaller are scaled here, once grown.
    std::map<QPDFObjGen, double> scaleOf;
    if (!report.grown.empty())
        for (const auto &[page, scale] : report.scaled)
            scaleOf[page.getObjGen()] = scale;
    std::set<QPDFObjGen> scaledAnnotations;
    std::map<QPDFObjGen, double> lastScaleOf;  // by the pages of the copy without hidden content
    std::vector<QPDFObjectHandle> lastHandles;
    auto makeStream = [](const std::string &data) { return QPDFObjectHandle::newStream(last, data); };
    for (size_t i = 0; i < lastPages.size() && i < pages.size(); ++i) {
        QPDFObjectHandle page = lastPages[i].getObjectHandle();
        lastHandles.push_back(page);
        if (scaleOf.count(pages[i].getObjGen()))
            lastScaleOf[page.getObjGen()] = scaleOf.at(pages[i].getObjGen());
        if (i < cropBoxes.size()) {
            if (cropBoxes[i])
                page.replaceKey("/CropBox", BoxArray(*cropBoxes[i]));
            else
                page.removeKey("/CropBox");
        }
        const auto grown = grownOf.find(pages[i].getObjGen());
        const auto scaled = scaleOf.find(pages[i].getObjGen());
        if (grown == grownOf.end()) {
            if (scaled != scaleOf.end()) {
                std::vector<QPDFObjectHandle> changed;
                ScalePage(page, scaled->second, makeStream, changed, scaledAnnotations);
            }
            continue;
        }
        const Box &v = grown->second->visible, &g = grown->second->grown;
        Box media = g;
        const std::optional<Box> old = RectangleOf(lastPages[i].getMediaBox());
        if (old && !(removeHidden || job.mediaBox))
            media =
                Box{std::min(old->x0, g.x0), std::min(old->y0, g.y0), std::max(old->x1, g.x1), std::max(old->y1, g.y1)};
        page.replaceKey("/MediaBox", BoxArray(media));
        page.replaceKey("/CropBox", BoxArray(g));
        if (job.trimBox)
            page.replaceKey("/TrimBox", BoxArray(g));
        char clip[200];
        std::snprintf(clip, sizeof clip, "q %.4f %.4f %.4f %.4f re W n\n", v.x0, v.y0, v.x1 - v.x0, v.y1 - v.y0);
        WrapPageContents(page, clip, makeStream);
        if (scaled != scaleOf.end()) {
            std::vector<QPDFObjectHandle> changed;
            ScalePage(page, scaled->second, makeStream, changed, scaledAnnotations);
        }
    }
    ScaleDestinations(*last, lastHandles, lastScaleOf);
    // Pictures that reach past the crop cut to what it shows.
    PictureCuts cuts;
    if (removeHidden)
        cuts = CutPictures(*last);
    for (const std::string &w : cuts.warnings)
        Say("warning: " + w);
    RecordWhole(*last, wholeKind);
    QPDFWriter writer(*last);
    writer.setOutputPipeline(output->Sink());
    if (!version.empty())
        writer.setMinimumPDFVersion(version);
    writer.setObjectStreamMode(qpdf_o_generate);
    if (progress)
        writer.registerProgressReporter(
            std::make_shared<QPDFWriter::FunctionProgressReporter>([&tell](int p) { tell(60 + p * 4 / 10); }));
    writer.write();
    Say(std::string(removeHidden ? "removed outside the crops: " : "removed from the margins added: ") +
        std::to_string(removed.glyphs) + " glyphs of text, " + std::to_string(removed.images) + " images, " +
        std::to_string(removed.drawings) + " drawings, " + std::to_string(removed.annotations) + " annotations (" +
        std::to_string(removed.fields) + " of them form fields); what lies partly inside a crop is kept");
    if (cuts.cut > 0)
        Say("cut to the crops: " + std::to_string(cuts.cut) + (cuts.cut == 1 ? " picture, " : " pictures, ") +
            std::to_string(cuts.before) + " bytes before, " + std::to_string(cuts.after) + " after");
    return true;
}

// qpdf writes the cropped copy whole into an unnamed file. The open file;
// -1 when it cannot be written.
int JobRun::WriteCroppedCopy(const std::function<void(int)> &tell) {
    const int copy = UnnamedFile();
    FILE *stream = copy < 0 ? nullptr : ::fdopen(::dup(copy), "w+b");
    if (!stream) {
        if (copy >= 0)
            ::close(copy);
        Failed(error, std::string("no temporary file can be made for the copy: ") + std::strerror(errno));
        return -1;
    }
    // The copy's own errors: a full temporary folder is told as such.
    std::unique_ptr<FILE, int (*)(FILE *)> closing(stream, &std::fclose);
    int failure = 0;
    try {
        QPDFWriter writer(*pdf);
        writer.setOutputFile("the cropped copy", stream, false);
        if (!version.empty())
            writer.setMinimumPDFVersion(version);
        if (progress)
            writer.registerProgressReporter(
                std::make_shared<QPDFWriter::FunctionProgressReporter>([&tell](int p) { tell(p * 6 / 10); }));
        writer.write();
        errno = 0;
        if (std::fflush(stream) != 0 || std::ferror(stream)) {
            // A write that failed part way leaves no reason behind; the
            // folder's free room tells a full one.
            struct statvfs room {};
            failure = ::fstatvfs(copy, &room) == 0 && uint64_t(room.f_bavail) * room.f_frsize < (1u << 20) ? ENOSPC
                      : errno                                                                              ? errno
                                                                                                           : EIO;
        }
    } catch (const std::exception &e) {
        const std::string what = e.what();
        failure = what.find(std::strerror(ENOSPC)) != std::string::npos ||
                          what.find(std::strerror(EDQUOT)) != std::string::npos
                      ? ENOSPC
                      : -1;
        if (failure < 0) {
            ::close(copy);
            throw;
        }
    }
    closing.reset();
    if (failure == 0)
        return copy;
    ::close(copy);
    if (failure == ENOSPC || failure == EDQUOT)
        Failed(error, TemporaryFolderFull(out));
    else
        Failed(error, std::string("cannot write the copy in the temporary folder ") + TemporaryFolder() + ": " +
                          std::strerror(failure) + "; " + out + " is not written");
    return -1;
}

void JobRun::WriteWhole(const std::function<void(int)> &tell) {
    RecordWhole(*pdf, wholeKind);
    QPDFWriter writer(*pdf);
    writer.setOutputPipeline(output->Sink());
    if (!version.empty())
        writer.setMinimumPDFVersion(version);
    if (progress)
        writer.registerProgressReporter(std::make_shared<QPDFWriter::FunctionProgressReporter>(tell));
    writer.write();  // keeps encryption, object streams and everything else
    ShowWarnings();
}

}  // namespace

bool RunCropJob(const CropJob &job, std::string &error, const std::function<void(const std::string &)> &tellUser) {
    try {
        JobRun run(job, error, tellUser);
        if (!run.ReadCropList() || !run.OpenFiles() || !run.ReadDocument() || !run.ReadListOnInput() || !run.Crop())
            return false;
        run.Plan();
        if (job.reportOnly) {
            run.Report();
            return true;
        }
        return run.Write();
    } catch (const std::bad_alloc &) {
        return Failed(error, "out of memory");
    } catch (const std::exception &e) {
        return Failed(error, e.what());
    }
}

}  // namespace quorrel

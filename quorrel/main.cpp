// quorrel: writes a copy of a PDF with every page cropped to the
// rectangle a crop list gives for it.
//
//   quorrel -s setcropfile=LIST -i IN -o OUT [--media-box] [--rewrite] [--progress] [--require-crop]

#include "quorrel/crop_list.h"
#include "quorrel/cropper.h"
#include "quorrel/input_file.h"
#include "quorrel/output_file.h"
#include "quorrel/repair.h"
#include "quorrel/update_writer.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFWriter.hh>
#include <qpdf/QUtil.hh>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <malloc.h>
#include <string>

namespace {

constexpr const char *kUsage =
    "usage: quorrel -s setcropfile=LIST -i IN.pdf -o OUT.pdf [--media-box] [--rewrite] [--progress]\n"
    "               [--require-crop]\n"
    "\n"
    "Writes OUT.pdf, a copy of IN.pdf whose pages are cropped to the rectangles\n"
    "in LIST, one line per page: \"Page N, [left,top,right,bottom]\" in points,\n"
    "x from the shown page's left edge, y upwards from a line trunc(H) below\n"
    "its top edge (H the shown page's height). A rectangle of zero width or\n"
    "height, or no line at all, leaves a page as it is. OUT may be IN; it is\n"
    "replaced only when the new file is complete.\n"
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
    "  --help       show this text\n"
    "  --version    show the version\n";

int Fail(const std::string &message, int code = 1) {
    std::fprintf(stderr, "quorrel: %s\n", message.c_str());
    return code;
}

int Usage(const std::string &problem) {
    std::fprintf(stderr, "quorrel: %s\n%s", problem.c_str(), kUsage);
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    // qpdf passes every stream through buffers of about the stream's size;
    // keeping freed blocks for reuse instead of handing each back to the
    // system saves a page fault per 4 KiB of the file.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);

    std::string list, in, out;
    bool mediaBox = false;
    bool progress = false;
    bool rewrite = false;
    bool requireCrop = false;
    // A run stopped by a signal leaves no temporary file behind.
    quorrel::OutputFile::RemoveTemporaryOnStop();
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
    if (list.empty() || in.empty() || out.empty())
        return Usage("the crop list, the input and the output are all needed");

    try {
        quorrel::CropList crops;
        {
            std::ifstream file(list, std::ios::binary);
            if (!file)
                return Fail("cannot read the crop list " + list + ": " + std::strerror(errno));
            std::string error;
            if (!quorrel::ParseCropList(file, crops, error))
                return Fail("crop list " + list + ": " + error);
        }

        std::string openError;
        std::shared_ptr<quorrel::InputFile> input = quorrel::InputFile::Open(in, openError);
        if (!input)
            return Fail("cannot open " + in + ": " + openError);

        // The document lives until the process ends: the system takes its
        // memory back at once, which is quicker than freeing its objects one
        // by one (for a long document that costs more than the crop itself).
        // A static pointer keeps it reachable, so leak checkers stay quiet.
        static QPDF *const document = new QPDF;
        QPDF *pdf = document;
        bool repaired = false;
        auto show = [&repaired](const QPDFExc &w) {
            std::fprintf(stderr, "quorrel: warning: %s\n", w.what());
            repaired = repaired || quorrel::IsRepair(w);
        };
        auto showWarnings = [&pdf, &show] {
            for (const QPDFExc &w : pdf->getWarnings())
                show(w);
        };
        // qpdf's notes about damage it repaired are shown only when the
        // file could be read in the end.
        pdf->setSuppressWarnings(true);
        // A file too damaged for qpdf is cropped from a copy the rendering
        // library repaired, which is how the window read it.
        bool damaged = false;
        std::string unreadable;
        try {
            pdf->processInputSource(input);
        } catch (const QPDFExc &e) {
            if (e.getErrorCode() == qpdf_e_password)
                return Fail(in + " is protected by a password and cannot be cropped");
            // The file could not be read from the disk: no repair helps.
            if (e.getErrorCode() == qpdf_e_system)
                return Fail("cannot read " + in + ": " + e.getMessageDetail());
            damaged = true;
            unreadable = e.getMessageDetail().empty() ? std::string("it makes no sense as a PDF") : e.getMessageDetail();
        } catch (const std::runtime_error &e) {
            return Fail("cannot open " + in + ": " + e.what());
        }
        bool rebuilt = false;
        if (damaged) {
            std::string why;
            const int fd = quorrel::RepairedCopy(in, why);
            if (fd < 0)
                return Fail(in + " cannot be read as a PDF: " + unreadable + "; " + why);
            input = quorrel::InputFile::Adopt(fd, in + " (repaired)", openError);
            if (!input)
                return Fail("cannot read the repaired copy of " + in + ": " + openError);
            static QPDF *const copy = new QPDF;
            pdf = copy;
            pdf->setSuppressWarnings(true);
            try {
                pdf->processInputSource(input);
            } catch (const std::exception &) {
                return Fail(in + " cannot be read as a PDF, even repaired: " + unreadable);
            }
            rebuilt = true;
            std::fprintf(stderr,
                         "quorrel: warning: %s is damaged beyond what the crop tool reads (%s); the rendering "
                         "library repaired a copy of it, and that copy is cropped\n",
                         in.c_str(), unreadable.c_str());
        }

        showWarnings();
        const quorrel::CropReport report = quorrel::ApplyCropList(*pdf, crops, mediaBox);
        for (const std::string &w : report.warnings)
            std::fprintf(stderr, "quorrel: warning: %s\n", w.c_str());
        if (requireCrop && report.cropped == 0)
            return Fail("no page of " + in + " lies under a rectangle of the list; nothing was cropped, and " + out +
                        " is not written");
        const quorrel::Signatures signatures = quorrel::SignaturesOf(*pdf);
        if (signatures.certified && report.cropped > 0) {
            // Whatever the level, a page's boxes are not among what it allows.
            const char *allows = signatures.certificationLevel == 1   ? "no change at all"
                                 : signatures.certificationLevel == 3 ? "only filling in forms, signing and notes"
                                                                      : "only filling in forms and signing";
            std::fprintf(stderr,
                         "quorrel: warning: %s is certified, and its certification allows %s: validators will "
                         "report the crop as a change that breaks it\n",
                         in.c_str(), allows);
        }

        // The update, unless the file must be written whole.
        std::string update, whole;
        if (rewrite) {
            whole = "as --rewrite asks";
        } else if (rebuilt) {
            whole = "because only a repaired copy of the input could be read";
        } else if (report.cropped > 0) {
            showWarnings();  // damage met while reading the pages counts too
            quorrel::UpdatePlan plan = quorrel::PlanUpdate(*pdf, *input, repaired, report.changed);
            for (const QPDFExc &w : plan.warnings)
                show(w);
            update = std::move(plan.bytes);
            if (!plan.whyWhole.empty())
                whole = "because " + plan.whyWhole;
        }
        showWarnings();
        if (!whole.empty() && !rewrite)
            std::fprintf(stderr, "quorrel: %s is written as a whole new file, not as an update, %s\n", out.c_str(),
                         whole.c_str());
        if (!whole.empty() && signatures.signedFields)
            std::fprintf(stderr,
                         "quorrel: warning: %s is signed; a whole new file no longer holds the signed bytes, "
                         "so its signatures will not validate\n",
                         in.c_str());

        quorrel::OutputFile output(out);
        std::string error;
        if (!output.Open(error))
            return Fail(error);
        // The share of the work done, told as pages.
        const int pages = report.pages;
        auto tell = [pages, last = -1](int percent) mutable {
            const int done = int(int64_t(pages) * std::clamp(percent, 0, 100) / 100);
            if (done == last)
                return;
            last = done;
            std::fprintf(stderr, "quorrel: progress %d/%d\n", done, pages);
            std::fflush(stderr);
        };
        if (progress)
            tell(0);
        if (whole.empty()) {
            // The input's bytes as they are, then the update.
            const long long size = input->Size();
            output.CopyFrom(input->Descriptor(), size, [&](long long copied) {
                if (progress)
                    tell(int(copied * 99 / std::max(1LL, size)));
            });
            output.Sink()->write(reinterpret_cast<const unsigned char *>(update.data()), update.size());
            if (progress)
                tell(100);
        } else {
            QPDFWriter writer(*pdf);
            writer.setOutputPipeline(output.Sink());
            if (progress)
                writer.registerProgressReporter(std::make_shared<QPDFWriter::FunctionProgressReporter>(tell));
            writer.write();  // keeps encryption, object streams and everything else
            showWarnings();
        }
        if (!output.Commit(error))
            return Fail(error);
        return 0;
    } catch (const std::bad_alloc &) {
        return Fail("out of memory");
    } catch (const std::exception &e) {
        return Fail(e.what());
    }
}

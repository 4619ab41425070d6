#include "quorrel/crop_job.h"

#include "quorrel/crop_list.h"
#include "quorrel/cropper.h"
#include "quorrel/input_file.h"
#include "quorrel/output_file.h"
#include "quorrel/repair.h"
#include "quorrel/update_writer.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFExc.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace quorrel {
namespace {

bool Failed(std::string &error, const std::string &message) {
    error = message;
    return false;
}

}  // namespace

bool RunCropJob(const CropJob &job, std::string &error, const std::function<void(const std::string &)> &tellUser) {
    auto say = [&tellUser](const std::string &line) {
        if (tellUser)
            tellUser(line);
    };
    const std::string &list = job.list, &in = job.in, &out = job.out;
    const bool mediaBox = job.mediaBox, rewrite = job.rewrite, progress = job.progress, requireCrop = job.requireCrop;
    try {
        CropList crops;
        // A list on standard input ("-") is read once the input has been
        // read and its pages found: the caller may still be making it.
        const bool listOnInput = list == "-";
        if (!listOnInput) {
            std::ifstream file(list, std::ios::binary);
            if (!file)
                return Failed(error, "cannot read the crop list " + list + ": " + std::strerror(errno));
            std::string why;
            if (!ParseCropList(file, crops, why))
                return Failed(error, "crop list " + list + ": " + why);
        }

        std::string openError;
        std::shared_ptr<InputFile> input = InputFile::Open(in, openError);
        if (!input)
            return Failed(error, "cannot open " + in + ": " + openError);

        // The document lives until the process ends: the system takes its
        // memory back at once, which is quicker than freeing its objects one
        // by one (for a long document that costs more than the crop itself).
        // A static pointer keeps it reachable, so leak checkers stay quiet.
        static QPDF *const document = new QPDF;
        QPDF *pdf = document;
        bool repaired = false;
        auto show = [&repaired, &say](const QPDFExc &w) {
            say(std::string("warning: ") + w.what());
            repaired = repaired || IsRepair(w);
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
                return Failed(error, in + " is protected by a password and cannot be cropped");
            // The file could not be read from the disk: no repair helps.
            if (e.getErrorCode() == qpdf_e_system)
                return Failed(error, "cannot read " + in + ": " + e.getMessageDetail());
            damaged = true;
            unreadable = e.getMessageDetail().empty() ? std::string("it makes no sense as a PDF") : e.getMessageDetail();
        } catch (const std::runtime_error &e) {
            return Failed(error, "cannot open " + in + ": " + e.what());
        }
        bool rebuilt = false;
        if (damaged) {
            std::string why;
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
                pdf->processInputSource(input);
            } catch (const std::exception &) {
                return Failed(error, in + " cannot be read as a PDF, even repaired: " + unreadable);
            }
            rebuilt = true;
            say("warning: " + in + " is damaged beyond what the crop tool reads (" + unreadable +
                "); the rendering library repaired a copy of it, and that copy is cropped");
        }

        if (listOnInput) {
            try {
                pdf->getAllPages();
            } catch (const std::exception &) {
                // Met again, and told, when the pages are cropped.
            }
            // The list ends with a line "End": one cut short (its maker
            // stopped while writing it) crops nothing.
            std::string text((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
            const std::string end = "End\n";
            if (text.size() < end.size() || text.compare(text.size() - end.size(), end.size(), end) != 0 ||
                (text.size() > end.size() && text[text.size() - end.size() - 1] != '\n'))
                return Failed(error, "the crop list on standard input is incomplete (it does not end with a line "
                                     "\"End\"); nothing was cropped, and " + out + " is not written");
            text.resize(text.size() - end.size());
            std::istringstream lines(text);
            std::string why;
            if (!ParseCropList(lines, crops, why))
                return Failed(error, "the crop list on standard input: " + why);
        }
        showWarnings();
        const CropReport report = ApplyCropList(*pdf, crops, mediaBox);
        for (const std::string &w : report.warnings)
            say("warning: " + w);
        const bool changes = report.cropped > 0 || report.copies > 0;
        if (requireCrop && !changes)
            return Failed(error, "no page of " + in + " lies under a rectangle of the list; nothing was cropped, and " + out +
                        " is not written");
        const Signatures signatures = SignaturesOf(*pdf);
        if (signatures.certified && changes) {
            // Whatever the level, a page's boxes are not among what it allows.
            const char *allows = signatures.certificationLevel == 1   ? "no change at all"
                                 : signatures.certificationLevel == 3 ? "only filling in forms, signing and notes"
                                                                      : "only filling in forms and signing";
            say("warning: " + in + " is certified, and its certification allows " + allows +
                ": validators will report the crop as a change that breaks it");
        }

        // The update, unless the file must be written whole.
        std::string update, whole;
        if (rewrite) {
            whole = "as --rewrite asks";
        } else if (rebuilt) {
            whole = "because only a repaired copy of the input could be read";
        } else if (!report.whyWhole.empty()) {
            whole = "because " + report.whyWhole;
        } else if (changes) {
            showWarnings();  // damage met while reading the pages counts too
            UpdatePlan plan = PlanUpdate(*pdf, *input, repaired, report.changed);
            for (const QPDFExc &w : plan.warnings)
                show(w);
            update = std::move(plan.bytes);
            if (!plan.whyWhole.empty())
                whole = "because " + plan.whyWhole;
        }
        showWarnings();
        if (!whole.empty() && !rewrite)
            say(out + " is written as a whole new file, not as an update, " + whole);
        if (!whole.empty() && signatures.signedFields)
            say("warning: " + in + " is signed; a whole new file no longer holds the signed bytes, "
                "so its signatures will not validate");

        OutputFile output(out);
        if (!output.Open(error))
            return Failed(error, error);
        // The share of the work done, told as pages.
        const int pages = report.pages;
        auto tell = [pages, &say, last = -1](int percent) mutable {
            const int done = int(int64_t(pages) * std::clamp(percent, 0, 100) / 100);
            if (done == last)
                return;
            last = done;
            say("progress " + std::to_string(done) + "/" + std::to_string(pages));
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
            return Failed(error, error);
        return true;
    } catch (const std::bad_alloc &) {
        return Failed(error, "out of memory");
    } catch (const std::exception &e) {
        return Failed(error, e.what());
    }
}

}  // namespace quorrel

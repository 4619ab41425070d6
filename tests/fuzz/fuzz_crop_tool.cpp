// libFuzzer target: the crop tool on any bytes: read as a PDF through the
// tool's input file, every page cropped (one straightened), the update
// made, the pictures cut to the crops (JPEGs and lossless pictures
// decoded), and the whole rewrite written to nowhere.
// Damage qpdf reports is fine; a crash, a hang or a leak is not.
#include "quorrel/cropper.h"
#include "quorrel/input_file.h"
#include "quorrel/picture_cut.h"
#include "quorrel/update_writer.h"

#include <qpdf/Pl_Discard.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// The input is handed over as a file in memory, opened by its path.
int MemoryFile() {
    static const int fd = memfd_create("fuzz-crop-tool", 0);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const int fd = MemoryFile();
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    std::string error;
    auto input = quorrel::InputFile::Open("/proc/self/fd/" + std::to_string(fd), error);
    if (!input)
        return 0;

    quorrel::CropList list;
    for (int page = 1; page <= 6; ++page)
        list[page] = {page % 2 ? quorrel::CropRect{36, 756, 576, 36} : quorrel::CropRect{500, 10, -20, 700.5}};
    list[2].push_back({0, 700, 300, 0});  // a page split in two
    list[3].front().turn = 2.5;           // a page straightened
    list[4] = {quorrel::CropRect{}};      // a page left out: what led to it led on
    list[4].front().leftOut = true;
    try {
        QPDF pdf;
        pdf.setSuppressWarnings(true);
        pdf.processInputSource(input);
        const quorrel::CropReport report = quorrel::ApplyCropList(pdf, list, size % 2 == 1);
        quorrel::SignaturesOf(pdf);
        quorrel::PlanUpdate(pdf, *input, false, report.changed);
        quorrel::CutPictures(pdf);
        Pl_Discard nowhere;
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&nowhere);
        writer.write();
    } catch (const std::exception &) {
    }
    return 0;
}

// What the crop tool writes over and reads: outputs that are devices, pipes,
// links planted by another user or read-only files, and lists made to cost
// it the machine.

#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/quorrel/quorrel_tool.h"

#include <QProcess>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFWriter.hh>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;
using quorrel_tool::Crop;
using quorrel_tool::Q;
using quorrel_tool::Quorrel;
using quorrel_tool::ToolRun;

namespace {

class OutputSafety : public ::testing::Test {
protected:
    void SetUp() override {
        in = dir.file("in.pdf");
        list = dir.file("list.txt");
        fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}}), in);
        std::ofstream(list) << "Page 1, [10.00,700.00,500.00,50.00]\n";
    }
    fixtures::TempDir dir;
    std::string in, list;
};

mode_t TypeOf(const std::string &path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & S_IFMT : 0;
}

TEST_F(OutputSafety, ADeviceOrAPipeReceivesTheBytesAndStaysWhatItWas) {
    const std::string fifo = dir.file("pipe"), link = dir.file("link-to-pipe");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(fifo, link);
    for (const std::string &out : {fifo, link}) {
        SCOPED_TRACE(out);
        // Whatever reads the pipe gets the copy. (Opened first, without
        // waiting, so that neither end waits for the other.)
        const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(reader, 0);
        QProcess tool;
        tool.start(QUORREL_PATH, {"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out)});
        std::string got;
        for (bool ended = false;;) {
            ended = ended || tool.waitForFinished(10);
            char buffer[4096];
            const ssize_t n = ::read(reader, buffer, sizeof buffer);
            if (n > 0)
                got.append(buffer, size_t(n));
            else if (ended)
                break;
        }
        ::close(reader);
        EXPECT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().toStdString();
        EXPECT_EQ(got.rfind("%PDF-", 0), 0u);
        EXPECT_EQ(TypeOf(fifo), mode_t(S_IFIFO));
    }
    EXPECT_EQ(TypeOf(link), mode_t(S_IFLNK));
    // Standard output, which reaches a pipe through links only the kernel
    // follows, is written into too.
    EXPECT_EQ(Crop(list, in, "/dev/stdout").exitCode, 0);
    // A device of its own, where the system lets a test make one.
    const std::string null = dir.file("null");
    if (::mknod(null.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        EXPECT_EQ(Crop(list, in, null).exitCode, 0);
        EXPECT_EQ(TypeOf(null), mode_t(S_IFCHR));
    }
    // A socket is refused.
    const std::string socket = dir.file("socket");
    ASSERT_EQ(::mknod(socket.c_str(), S_IFSOCK | 0600, 0), 0);
    const ToolRun refused = Crop(list, in, socket);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("is not a regular file"), std::string::npos) << refused.err;
    EXPECT_EQ(TypeOf(socket), mode_t(S_IFSOCK));
}

TEST_F(OutputSafety, AReadOnlyFileIsReplacedOnlyWhenAskedAndAPlantedLinkNever) {
    const std::string kept = dir.file("kept.pdf");
    std::ofstream(kept) << "the user's";
    ::chmod(kept.c_str(), 0444);
    const ToolRun refused = Crop(list, in, kept);
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("read-only"), std::string::npos) << refused.err;
    EXPECT_EQ(fixtures::ReadFileBytes(kept), "the user's");
    EXPECT_EQ(Quorrel({"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(kept), "--overwrite"}).exitCode, 0);
    EXPECT_EQ(fixtures::ReadFileBytes(kept).rfind("%PDF-", 0), 0u);

    // Another user's link in a folder everyone writes in, leading to a
    // file of this user's.
    if (::geteuid() != 0)
        GTEST_SKIP() << "only the system's administrator can make a link of another user's";
    const std::string shared = dir.file("shared"), thesis = dir.file("thesis.pdf"), planted = shared + "/report.pdf";
    fs::create_directory(shared);
    ::chmod(shared.c_str(), 01777);
    std::ofstream(thesis) << "my thesis";
    fs::create_symlink(thesis, planted);
    ASSERT_EQ(::lchown(planted.c_str(), 65534, 65534), 0);
    const ToolRun planting = Crop(list, in, planted);
    EXPECT_EQ(planting.exitCode, 1);
    EXPECT_NE(planting.err.find("another user"), std::string::npos) << planting.err;
    EXPECT_EQ(fixtures::ReadFileBytes(thesis), "my thesis");
    EXPECT_EQ(TypeOf(planted), mode_t(S_IFLNK));
    // Nor is the copy handed to a pipe another user made there.
    const std::string pipe = shared + "/pipe.pdf";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0666), 0);
    ASSERT_EQ(::chown(pipe.c_str(), 65534, 65534), 0);
    const ToolRun piping = Crop(list, in, pipe);
    EXPECT_EQ(piping.exitCode, 1);
    EXPECT_NE(piping.err.find("another user"), std::string::npos) << piping.err;
}

TEST_F(OutputSafety, PagesAreNumberedAsTheRenderingLibraryNumbersThem) {
    // A node of the tree with no kids before the one page: no page of its
    // own, so "page 1" is the page the window shows as page 1.
    QPDF pdf;
    pdf.processFile(in.c_str());
    QPDFObjectHandle kids = pdf.getRoot().getKey("/Pages").getKey("/Kids");
    QPDFObjectHandle empty = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Pages /Count 0 >>"));
    empty.replaceKey("/Parent", pdf.getRoot().getKey("/Pages"));
    kids.insertItem(0, empty);
    const std::string odd = dir.file("odd-tree.pdf");  // the writer keeps the name it is given
    QPDFWriter writer(pdf, odd.c_str());
    writer.write();
    const std::string out = dir.file("out.pdf");
    const ToolRun run = Crop(list, odd, out);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    quorrel_tool::Rendered copy(out);
    ASSERT_TRUE(copy.Ok());
    EXPECT_NEAR(copy.Size(1).first, 490, 0.5) << "the list's page 1 was cropped";
}

TEST_F(OutputSafety, ListsAreBoundedAndLinesBeyondTheDocumentAreToldInShort) {
    const std::string out = dir.file("out.pdf");
    std::ofstream many(dir.file("many.txt"));
    for (int i = 0; i < 17; ++i)
        many << "Page 1, [10.00,700.00,500.00,50.00]\n";
    many.close();
    ToolRun run = Crop(dir.file("many.txt"), in, out);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("16 pages at most"), std::string::npos) << run.err;

    run = Crop("/dev/zero", in, out);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.err.find("larger than"), std::string::npos) << run.err;
    EXPECT_FALSE(fs::exists(out));

    std::ofstream beyond(dir.file("beyond.txt"));
    beyond << "Page 1, [10.00,700.00,500.00,50.00]\n";
    for (int page = 2; page <= 5000; ++page)
        beyond << "Page " << page << ", [10.00,700.00,500.00,50.00]\n";
    beyond.close();
    run = Crop(dir.file("beyond.txt"), in, out);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_LT(std::count(run.err.begin(), run.err.end(), '\n'), 15) << run.err;
    EXPECT_NE(run.err.find("4989 more pages beyond the document"), std::string::npos) << run.err;
}

}  // namespace

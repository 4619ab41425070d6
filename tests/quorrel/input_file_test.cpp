// The crop tool's input file against qpdf's own stdio-based source: the
// same calls on the same bytes must give the same answers, wherever the
// reads fall against the read window. And the output file's copy of the
// input, whole or not at all.

#include "quorrel/input_file.h"
#include "quorrel/output_file.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <qpdf/FileInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using quorrel::InputFile;

std::shared_ptr<InputFile> OpenOrFail(const std::string &path) {
    std::string error;
    auto file = InputFile::Open(path, error);
    EXPECT_TRUE(file) << error;
    return file;
}

// Bytes with runs of line ends of every kind, some of them across the
// window's edges, and a last stretch without any.
std::string Awkward(size_t size) {
    std::string bytes(size, 'x');
    std::mt19937 random(7);
    for (size_t i = 0; i < size; i += 1 + random() % 60)
        for (size_t run = 1 + random() % 4; run > 0 && i < size; --run, ++i)
            bytes[i] = "\r\n"[random() % 2];
    const size_t w = InputFile::kWindow;
    for (size_t edge : {w - 1, 2 * w - 2, 3 * w}) {
        if (edge + 3 < size) {
            bytes[edge] = '\r';
            bytes[edge + 1] = '\n';
            bytes[edge + 2] = '\n';
        }
    }
    for (size_t i = size - 5000; i < size; ++i)
        bytes[i] = 'y';
    return bytes;
}

}  // namespace

TEST(InputFile, AnswersLikeQpdfsFileSourceForAnySequenceOfCalls) {
    fixtures::TempDir dir;
    const std::string path = dir.file("bytes.bin");
    const std::string bytes = Awkward(3 * InputFile::kWindow + 12345);
    std::ofstream(path, std::ios::binary) << bytes;
    const auto size = qpdf_offset_t(bytes.size());

    auto ours = OpenOrFail(path);
    ASSERT_TRUE(ours);
    FileInputSource theirs;
    theirs.setFilename(path.c_str());

    std::mt19937 random(12345);
    std::vector<char> a(3 * InputFile::kWindow), b(a.size());
    for (int step = 0; step < 20000; ++step) {
        SCOPED_TRACE("step " + std::to_string(step));
        switch (random() % 7) {
        case 0: {  // anywhere, also past the end
            const qpdf_offset_t to = qpdf_offset_t(random() % (bytes.size() + 100));
            ours->seek(to, SEEK_SET);
            theirs.seek(to, SEEK_SET);
            break;
        }
        case 1: {  // a little back or forth
            const qpdf_offset_t by = qpdf_offset_t(random() % 200) - 100;
            if (theirs.tell() + by < 0)
                break;
            ours->seek(by, SEEK_CUR);
            theirs.seek(by, SEEK_CUR);
            break;
        }
        case 2: {  // near the end
            const qpdf_offset_t by = -qpdf_offset_t(random() % 2000);
            ours->seek(by, SEEK_END);
            theirs.seek(by, SEEK_END);
            break;
        }
        case 3:
        case 4: {  // small reads mostly, some larger than the window
            const size_t length = random() % 8 == 0 ? random() % a.size() : random() % 10 == 0 ? 0 : 1 + random() % 300;
            const size_t got = ours->read(a.data(), length);
            ASSERT_EQ(got, theirs.read(b.data(), length)) << "length " << length;
            ASSERT_EQ(0, std::memcmp(a.data(), b.data(), got));
            ASSERT_EQ(ours->getLastOffset(), theirs.getLastOffset());
            break;
        }
        case 5:
            ASSERT_EQ(ours->findAndSkipNextEOL(), theirs.findAndSkipNextEOL());
            break;
        case 6: {  // one character read and put back
            char x = 0, y = 0;
            const size_t got = ours->read(&x, 1);
            ASSERT_EQ(got, theirs.read(&y, 1));
            if (got) {
                ASSERT_EQ(x, y);
                ours->unreadCh(x);
                theirs.unreadCh(y);
            }
            break;
        }
        }
        ASSERT_EQ(ours->tell(), theirs.tell());
    }
    // Line by line through the whole file, and then in small reads, as the
    // parser goes: every window edge is crossed, inside runs of line ends too.
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass == 0 ? "lines" : "small reads");
        ours->rewind();
        theirs.rewind();
        while (theirs.tell() < size) {
            if (pass == 0) {
                ASSERT_EQ(ours->findAndSkipNextEOL(), theirs.findAndSkipNextEOL());
            } else {
                const size_t length = 1 + random() % 300;
                ASSERT_EQ(ours->read(a.data(), length), theirs.read(b.data(), length));
                ASSERT_EQ(0, std::memcmp(a.data(), b.data(), length));
            }
            ASSERT_EQ(ours->tell(), theirs.tell());
        }
    }
    ours->rewind();
    EXPECT_EQ(ours->tell(), 0);
    EXPECT_THROW(ours->seek(-1, SEEK_SET), std::runtime_error);
    EXPECT_THROW(ours->seek(-size - 1, SEEK_END), std::runtime_error);
    EXPECT_EQ(ours->getName(), path);
}

TEST(InputFile, RefusesWhatCannotBeReadAndReadsADocumentInFewCalls) {
    fixtures::TempDir dir;
    std::string error;
    EXPECT_FALSE(InputFile::Open(dir.file("missing.pdf"), error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_FALSE(InputFile::Open(dir.path().string(), error));
    EXPECT_NE(error.find("folder"), std::string::npos) << error;

    // A long document is parsed through a handful of reads, not one per token.
    const std::string path = dir.file("pages.pdf");
    fixtures::WritePdf(fixtures::ManyPages(300, true), path);
    auto input = OpenOrFail(path);
    ASSERT_TRUE(input);
    QPDF pdf;
    pdf.processInputSource(input);
    EXPECT_EQ(QPDFPageDocumentHelper(pdf).getAllPages().size(), 300u);
    pdf.getObjectCount();  // every object read
    const long long windows = std::filesystem::file_size(path) / InputFile::kWindow + 1;
    EXPECT_LE(input->Reads(), 3 * windows + 10) << "file of " << std::filesystem::file_size(path) << " bytes";
}

TEST(OutputFile, CopiesTheInputWholeOrFailsLeavingNothing) {
    fixtures::TempDir dir;
    const std::string in = dir.file("in.bin");
    std::string bytes(40 << 20, '\0');  // more than one copy step
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = char((i * 2654435761u) >> 13);
    std::ofstream(in, std::ios::binary) << bytes;
    std::string error;
    auto input = OpenOrFail(in);
    ASSERT_TRUE(input);
    {
        quorrel::OutputFile out(dir.file("out.bin"));
        ASSERT_TRUE(out.Open(error)) << error;
        std::vector<long long> told;
        out.CopyFrom(input->Descriptor(), input->Size(), [&](long long done) { told.push_back(done); });
        const unsigned char tail[] = "tail";
        out.Sink()->write(tail, 4);
        ASSERT_TRUE(out.Commit(error)) << error;
        ASSERT_GE(told.size(), 2u);
        EXPECT_TRUE(std::is_sorted(told.begin(), told.end()));
        EXPECT_EQ(told.back(), input->Size());
    }
    EXPECT_TRUE(fixtures::ReadFileBytes(dir.file("out.bin")) == bytes + "tail");

    // An input shorter than it was when opened: an error, and no output.
    {
        quorrel::OutputFile out(dir.file("short.bin"));
        ASSERT_TRUE(out.Open(error)) << error;
        EXPECT_THROW(out.CopyFrom(input->Descriptor(), input->Size() + 10, [](long long) {}), std::runtime_error);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 2)
        << "only the input and the first output";
}

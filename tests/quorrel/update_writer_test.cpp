// The crop tool's default output: the input's bytes unchanged, then an
// update holding the cropped pages. Each output is read back by qpdf
// (`qpdf --check`, passwords, signatures) and rendered against the whole
// rewrite of the same crop, pixel by pixel.

#include "quorrel/update_writer.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/quorrel/quorrel_tool.h"

#include <qpdf/BufferInputSource.hh>
#include <qpdf/FileInputSource.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using quorrel_tool::Q;
using quorrel_tool::Quorrel;
using quorrel_tool::Rendered;
using quorrel_tool::ToolRun;

namespace {

void WriteBytes(const std::string &path, const std::string &bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

ToolRun Run(const std::string &program, const QStringList &args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(Q(program), args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAll().toStdString()};
}

ToolRun QpdfCheck(const std::string &path, const std::string &password = "") {
    QStringList args = {"--check", Q(path)};
    if (!password.empty())
        args << Q("--password=" + password);
    return Run("qpdf", args);
}

ToolRun CropFile(const std::string &list, const std::string &in, const std::string &out, bool rewrite = false) {
    QStringList args = {"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out)};
    if (rewrite)
        args << "--rewrite";
    return Quorrel(args);
}

ToolRun Restore(const std::string &copy, const std::string &out) {
    return Quorrel({"--restore", "-i", Q(copy), "-o", Q(out)});
}

quorrel::FileTail TailOf(const std::string &path) {
    FileInputSource file(path.c_str());
    std::string why;
    std::optional<quorrel::FileTail> tail = quorrel::ReadFileTail(file, why);
    EXPECT_TRUE(tail) << path << ": " << why;
    return tail.value_or(quorrel::FileTail{});
}

// A document whose pages each carry a string, so that encrypting the
// update's strings is seen when it goes wrong.
fixtures::DocPlan Plan(bool objectStreams) {
    fixtures::DocPlan plan = fixtures::ManyPages(5, false);
    plan.pages[1].own.rotate = 90;
    plan.objectStreams = objectStreams;
    return plan;
}

const char *const kNote = "page note: (paren) \\ caf\xc3\xa9 \x01\x02";

// Writes `plan`, then rewrites it through qpdf with every page given a
// note, and with `setUp` applied to the writer (encryption, linearizing).
void WriteWithNotes(const fixtures::DocPlan &plan, const std::string &path,
                    const std::function<void(QPDFWriter &)> &setUp = {}) {
    fixtures::WritePdf(plan, path + ".plain");
    QPDF pdf;
    pdf.processFile((path + ".plain").c_str());
    for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(pdf).getAllPages())
        page.getObjectHandle().replaceKey("/OrvaneNote", QPDFObjectHandle::newString(kNote));
    QPDFWriter writer(pdf, path.c_str());
    writer.setObjectStreamMode(plan.objectStreams ? qpdf_o_generate : qpdf_o_disable);
    if (setUp)
        setUp(writer);
    writer.write();
    fs::remove(path + ".plain");
}

class UpdateTest : public ::testing::Test {
protected:
    fixtures::TempDir dir;

    // Pages 1, 2 and 4 get rectangles, the others none.
    std::string List(const char *name = "list.txt") {
        const std::string list = dir.file(name);
        std::ofstream(list) << "Page 1, [36.00,756.00,576.00,36.00]\nPage 2, [100.00,500.00,700.00,50.00]\n"
                               "Page 4, [72.50,700.25,300.75,400.00]\n";
        return list;
    }

    // Crops `in` into an update and into a whole rewrite and checks the
    // update: the input's bytes first, the cross-reference of the input's
    // form leading back to the input's, the trailer carried over, qpdf
    // reading it without complaint, and every page drawn as the rewrite
    // draws it. Returns the update's path.
    std::string CheckUpdate(const std::string &in, bool xrefStream, const std::string &password = "",
                            const std::string &list = "") {
        const std::string crops = list.empty() ? List() : list;
        const std::string out = in + ".update.pdf", whole = in + ".whole.pdf";
        const ToolRun update = CropFile(crops, in, out);
        EXPECT_EQ(update.exitCode, 0) << update.err;
        EXPECT_EQ(update.err.find("whole"), std::string::npos) << update.err;
        const ToolRun rewrite = CropFile(crops, in, whole, true);
        EXPECT_EQ(rewrite.exitCode, 0) << rewrite.err;

        const std::string before = fixtures::ReadFileBytes(in), after = fixtures::ReadFileBytes(out);
        EXPECT_GT(after.size(), before.size());
        EXPECT_TRUE(after.compare(0, before.size(), before) == 0) << "the input's bytes are not kept";

        const quorrel::FileTail inTail = TailOf(in), outTail = TailOf(out);
        EXPECT_EQ(outTail.xrefStream, xrefStream);
        QPDF original, updated;
        original.processFile(in.c_str(), password.empty() ? nullptr : password.c_str());
        updated.processFile(out.c_str(), password.empty() ? nullptr : password.c_str());
        EXPECT_FALSE(updated.anyWarnings());
        QPDFObjectHandle trailer = updated.getTrailer(), old = original.getTrailer();
        EXPECT_EQ(trailer.getKey("/Prev").getIntValue(), inTail.startxref);
        EXPECT_EQ(trailer.getKey("/Root").getObjGen(), old.getKey("/Root").getObjGen());
        if (old.hasKey("/Info")) {
            EXPECT_EQ(trailer.getKey("/Info").getObjGen(), old.getKey("/Info").getObjGen());
        }
        EXPECT_EQ(trailer.getKey("/ID").getArrayItem(0).getStringValue(),
                  old.getKey("/ID").getArrayItem(0).getStringValue());
        EXPECT_EQ(trailer.hasKey("/Encrypt"), old.hasKey("/Encrypt"));
        EXPECT_EQ(updated.isEncrypted(), original.isEncrypted());
        // Cropped pages carry their note as it was; others are untouched.
        auto pages = QPDFPageDocumentHelper(updated).getAllPages();
        auto originalPages = QPDFPageDocumentHelper(original).getAllPages();
        EXPECT_EQ(pages.size(), originalPages.size());
        for (size_t i = 0; i < pages.size() && i < originalPages.size(); ++i) {
            QPDFObjectHandle page = pages[i].getObjectHandle(), was = originalPages[i].getObjectHandle();
            EXPECT_EQ(page.getObjGen(), was.getObjGen());
            if (was.hasKey("/OrvaneNote")) {
                EXPECT_EQ(page.getKey("/OrvaneNote").getStringValue(), kNote) << "page " << i + 1;
            }
            const bool cropped = i == 0 || i == 1 || i == 3;
            EXPECT_EQ(page.hasKey("/CropBox"), cropped || was.hasKey("/CropBox")) << "page " << i + 1;
        }

        // The update gives the input back, byte for byte.
        const std::string givenBack = in + ".original.pdf";
        const ToolRun restore = Restore(out, givenBack);
        EXPECT_EQ(restore.exitCode, 0) << restore.err;
        EXPECT_TRUE(fixtures::ReadFileBytes(givenBack) == before) << "the original given back differs";

        const ToolRun check = QpdfCheck(out, password);
        EXPECT_EQ(check.exitCode, 0) << check.err;
        EXPECT_NE(check.err.find("No syntax or stream encoding errors"), std::string::npos) << check.err;

        Rendered a(out), b(whole);
        EXPECT_TRUE(a.Ok());
        EXPECT_EQ(a.Pages(), b.Pages());
        for (int page = 1; page <= a.Pages(); ++page) {
            int w1 = 0, h1 = 0, w2 = 0, h2 = 0;
            const std::vector<uint8_t> pa = a.Grey(page, w1, h1), pb = b.Grey(page, w2, h2);
            EXPECT_FALSE(pa.empty());
            EXPECT_EQ(w1, w2) << "page " << page;
            EXPECT_EQ(h1, h2) << "page " << page;
            EXPECT_TRUE(pa == pb) << "page " << page << " is drawn differently from the rewrite";
        }
        return out;
    }
};

TEST_F(UpdateTest, TableAndStreamFilesGetAnUpdateOfTheirOwnForm) {
    const std::string table = dir.file("table.pdf"), stream = dir.file("stream.pdf");
    WriteWithNotes(Plan(false), table);
    WriteWithNotes(Plan(true), stream);
    ASSERT_FALSE(TailOf(table).xrefStream);
    ASSERT_TRUE(TailOf(stream).xrefStream);
    const std::string tableOut = CheckUpdate(table, false);
    const std::string streamOut = CheckUpdate(stream, true);

    // An updated file takes a further update, and its newest boxes win.
    std::ofstream(dir.file("again.txt")) << "Page 1, [100.00,600.00,400.00,200.00]\n";
    for (const std::string &once : {tableOut, streamOut}) {
        SCOPED_TRACE(once);
        const std::string twice = CheckUpdate(once, once == streamOut, "", dir.file("again.txt"));
        Rendered r(twice);
        EXPECT_NEAR(r.Size(1).first, 300, 0.01);
        EXPECT_NEAR(r.Size(1).second, 400, 0.01);
        EXPECT_NEAR(r.Size(4).first, 228.25, 0.01);
    }

    // A list that crops nothing leaves the file as it was, byte for byte.
    std::ofstream(dir.file("none.txt")) << "Page 1, [0.00,0.00,0.00,0.00]\n";
    ASSERT_EQ(CropFile(dir.file("none.txt"), table, dir.file("same.pdf")).exitCode, 0);
    EXPECT_EQ(fixtures::ReadFileBytes(dir.file("same.pdf")), fixtures::ReadFileBytes(table));
}

TEST_F(UpdateTest, EncryptedFilesKeepTheirPasswordsAndStrings) {
    struct Case {
        const char *name;
        std::function<void(QPDFWriter &)> setUp;
    } cases[] = {
        {"RC4 128",
         [](QPDFWriter &w) {
             w.setR3EncryptionParametersInsecure("", "owner", true, true, true, true, true, true, qpdf_r3p_full);
         }},
        {"AES 128",
         [](QPDFWriter &w) {
             w.setR4EncryptionParametersInsecure("", "owner", true, true, true, true, true, true, qpdf_r3p_full, true,
                                                 true);
         }},
        {"AES 256",
         [](QPDFWriter &w) {
             w.setR6EncryptionParameters("", "owner", true, true, true, true, true, true, qpdf_r3p_full, true);
         }},
    };
    for (const Case &c : cases) {
        for (bool streams : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (streams ? ", streams" : ", table"));
            const std::string in = dir.file(std::string(c.name) + (streams ? " s.pdf" : " t.pdf"));
            WriteWithNotes(Plan(streams), in, c.setUp);
            const std::string out = CheckUpdate(in, streams);
            // The owner's password opens it as before.
            CheckUpdate(in, streams, "owner");
            QPDF owner;
            owner.processFile(out.c_str(), "owner");
            EXPECT_TRUE(owner.ownerPasswordMatched());
            EXPECT_NEAR(Rendered(out).Size(1).first, 540, 0.01);
        }
    }
}

TEST_F(UpdateTest, LinearizedAndOffsetFilesStillOpen) {
    const std::string linear = dir.file("linear.pdf");
    WriteWithNotes(Plan(false), linear, [](QPDFWriter &w) { w.setLinearization(true); });
    ASSERT_NE(QpdfCheck(linear).err.find("File is linearized"), std::string::npos);
    const std::string out = CheckUpdate(linear, false);
    EXPECT_EQ(QpdfCheck(out).err.find("File is linearized"), std::string::npos) << QpdfCheck(out).err;

    // Bytes before the header, even ones that look like one: readers
    // differ on where such a file's offsets count from, so it is written
    // whole, and every reader finds the new boxes.
    for (bool streams : {false, true}) {
        SCOPED_TRACE(streams ? "streams" : "table");
        const std::string offset = dir.file(streams ? "offset s.pdf" : "offset t.pdf");
        WriteWithNotes(Plan(streams), offset + ".0");
        WriteBytes(offset, "X-Note: %PDF-x, no header\n" + fixtures::ReadFileBytes(offset + ".0"));
        const ToolRun r = CropFile(List(), offset, offset + ".out");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("whole new file, not as an update, because the input's PDF header is not at its start"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(fixtures::ReadFileBytes(offset + ".out").rfind("%PDF-", 0), 0u);
        EXPECT_NEAR(Rendered(offset + ".out").Size(1).first, 540, 0.01);
    }
}

TEST_F(UpdateTest, DamagedFilesAreWrittenWhole) {
    const std::string good = dir.file("good.pdf");
    WriteWithNotes(Plan(false), good);
    const std::string bytes = fixtures::ReadFileBytes(good);
    QPDF pdf;
    pdf.processFile(good.c_str());
    const int firstPage = QPDFPageDocumentHelper(pdf).getAllPages()[0].getObjectHandle().getObjGen().getObj();

    // A startxref that leads nowhere: repaired as the file is opened.
    std::string lost = bytes;
    const size_t startxref = lost.rfind("startxref\n") + 10;
    lost.replace(startxref, 1, lost[startxref] == '9' ? "1" : "9");
    // A page's entry pointing elsewhere: repaired only when the page is read.
    std::string misplaced = bytes;
    const size_t table = misplaced.find("\nxref\n") + 6;
    const size_t entries = misplaced.find('\n', table) + 1;
    misplaced.replace(entries + 20 * size_t(firstPage), 10, "0000000009");

    for (const auto &[name, damaged] : {std::pair{"startxref", lost}, std::pair{"entry", misplaced}}) {
        SCOPED_TRACE(name);
        const std::string in = dir.file(std::string(name) + ".pdf"), out = dir.file(std::string(name) + ".out.pdf");
        WriteBytes(in, damaged);
        const ToolRun r = CropFile(List(), in, out);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("is written as a whole new file, not as an update, because the input is damaged"),
                  std::string::npos)
            << r.err;
        EXPECT_NE(fixtures::ReadFileBytes(out).compare(0, damaged.size(), damaged), 0);
        EXPECT_EQ(QpdfCheck(out).exitCode, 0) << QpdfCheck(out).err;
        Rendered r1(out);
        ASSERT_TRUE(r1.Ok());
        EXPECT_NEAR(r1.Size(1).first, 540, 0.01);
        EXPECT_EQ(fixtures::ReadFileBytes(in), damaged) << "the input is never changed";
    }
}

// A form with a signature field whose signature leaves room for its
// contents and covers the rest of the file, as a signer writes it.
void WriteSigned(const std::string &path, bool certified) {
    WriteWithNotes(Plan(false), path + ".0");
    QPDF pdf;
    pdf.processFile((path + ".0").c_str());
    QPDFObjectHandle sig = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached"
                                " /ByteRange [0 1111111111 1111111111 1111111111] /Contents <" +
                                std::string(128, '0') + "> >>"));
    QPDFObjectHandle page = QPDFPageDocumentHelper(pdf).getAllPages()[0].getObjectHandle();
    QPDFObjectHandle widget = pdf.makeIndirectObject(
        QPDFObjectHandle::parse("<< /Type /Annot /Subtype /Widget /FT /Sig /T (Signature1) /Rect [0 0 0 0] /F 132 >>"));
    widget.replaceKey("/V", sig);
    widget.replaceKey("/P", page);
    page.replaceKey("/Annots", QPDFObjectHandle::newArray({widget}));
    QPDFObjectHandle form = QPDFObjectHandle::parse("<< /SigFlags 3 >>");
    form.replaceKey("/Fields", QPDFObjectHandle::newArray({widget}));
    pdf.getRoot().replaceKey("/AcroForm", form);
    if (certified) {
        sig.replaceKey("/Reference", QPDFObjectHandle::parse("[<< /Type /SigRef /TransformMethod /DocMDP"
                                                             " /TransformParams << /P 2 /V /1.2 >> >>]"));
        QPDFObjectHandle perms = QPDFObjectHandle::newDictionary();
        perms.replaceKey("/DocMDP", sig);
        pdf.getRoot().replaceKey("/Perms", perms);
    }
    QPDFWriter writer(pdf, path.c_str());
    writer.setObjectStreamMode(qpdf_o_disable);
    writer.write();
    fs::remove(path + ".0");
    std::string bytes = fixtures::ReadFileBytes(path);
    const size_t contents = bytes.find('<', bytes.find("/Contents"));
    const size_t end = bytes.find('>', contents) + 1;
    char range[40];
    std::snprintf(range, sizeof range, "%10zu %10zu %10zu", contents, end, bytes.size() - end);
    bytes.replace(bytes.find("1111111111 1111111111 1111111111"), 32, range);
    WriteBytes(path, bytes);
}

TEST_F(UpdateTest, SignedFilesKeepTheSignedBytes) {
    const std::string in = dir.file("signed.pdf");
    WriteSigned(in, false);
    const std::string out = CheckUpdate(in, false);
    const ToolRun quiet = CropFile(List(), in, out);
    EXPECT_EQ(quiet.err, "");
    const std::string before = fixtures::ReadFileBytes(in);

    QPDF signedFile;
    signedFile.processFile(out.c_str());
    QPDFObjectHandle sig = signedFile.getRoot().getKey("/AcroForm").getKey("/Fields").getArrayItem(0).getKey("/V");
    ASSERT_TRUE(sig.isDictionary());
    // The signature object is the signer's, where the signer wrote it, and
    // the ranges it covers are the input's bytes.
    EXPECT_LT(signedFile.getXRefTable()[sig.getObjGen()].getOffset(), qpdf_offset_t(before.size()));
    QPDFObjectHandle range = sig.getKey("/ByteRange");
    const long long a = range.getArrayItem(1).getIntValue(), b = range.getArrayItem(2).getIntValue(),
                    c = range.getArrayItem(3).getIntValue();
    EXPECT_EQ(size_t(b + c), before.size());
    const std::string after = fixtures::ReadFileBytes(out);
    EXPECT_EQ(after.substr(0, size_t(a)), before.substr(0, size_t(a)));
    EXPECT_EQ(after.substr(size_t(b), size_t(c)), before.substr(size_t(b), size_t(c)));

    // A whole new file loses the signed bytes, and says so.
    const ToolRun whole = CropFile(List(), in, dir.file("whole.pdf"), true);
    EXPECT_EQ(whole.exitCode, 0);
    EXPECT_NE(whole.err.find("signatures will not validate"), std::string::npos) << whole.err;

    // A certification that allows no change to pages is warned about.
    const std::string certified = dir.file("certified.pdf");
    WriteSigned(certified, true);
    const ToolRun warned = CropFile(List(), certified, dir.file("certified out.pdf"));
    EXPECT_EQ(warned.exitCode, 0);
    EXPECT_NE(warned.err.find("is certified"), std::string::npos) << warned.err;
}

TEST_F(UpdateTest, OnlyAnUnchangedUpdateGivesBackItsOriginal) {
    const std::string in = dir.file("plain.pdf"), out = dir.file("copy.pdf"), back = dir.file("back.pdf");
    WriteWithNotes(Plan(true), in);
    ASSERT_EQ(CropFile(List(), in, out).exitCode, 0);
    const std::string copy = fixtures::ReadFileBytes(out), input = fixtures::ReadFileBytes(in);
    // Saved again by another program, an update after ours; a byte of the
    // original or of our update altered; the record's length altered.
    const std::string more = copy + "1 0 obj\n<< >>\nendobj\n%%EOF\n";
    std::string early = copy, late = copy, shorter = copy;
    early[input.size() / 2] ^= 1;
    late[input.size() + 10] ^= 1;
    char &digit = shorter[shorter.find(' ', shorter.find("/Length ", shorter.rfind("/OrvaneOriginal")) + 8) - 1];
    digit = digit == '0' ? '1' : char(digit - 1);
    for (const std::string &changed : {more, early, late, shorter}) {
        WriteBytes(out, changed);
        const ToolRun refused = Restore(out, back);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_NE(refused.err.find("was changed after it was written"), std::string::npos) << refused.err;
        EXPECT_FALSE(fs::exists(back));
    }
    // A file written whole says why it holds no original; a file that is
    // no copy of ours says so.
    ASSERT_EQ(CropFile(List(), in, out, true).exitCode, 0);
    const ToolRun whole = Restore(out, back);
    EXPECT_EQ(whole.exitCode, 1);
    EXPECT_NE(whole.err.find("a whole new file was asked for"), std::string::npos) << whole.err;
    const ToolRun notOurs = Restore(in, back);
    EXPECT_EQ(notOurs.exitCode, 1);
    EXPECT_NE(notOurs.err.find("holds no record of an original"), std::string::npos) << notOurs.err;
    EXPECT_FALSE(fs::exists(back));
    EXPECT_EQ(fixtures::ReadFileBytes(in), input);
}

// A small file written by hand: its objects, numbered from 1, and a
// cross-reference table, ending right after %%EOF.
std::string HandMade(const std::vector<std::string> &objects, int size = 0) {
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char entry[24];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    const std::string declared = std::to_string(size ? size_t(size) : objects.size() + 1);
    return pdf + "trailer\n<< /Size " + declared + " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF";
}

TEST_F(UpdateTest, OddButReadableFilesAreHandled) {
    const std::string content = "0 0 0 rg 100 100 300 400 re f";
    const std::string stream =
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream";
    // No newline after %%EOF and no /ID: the update starts on a line of its
    // own and adds no identifier.
    const std::string plain = dir.file("plain.pdf");
    WriteBytes(plain, HandMade({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>", stream}));
    std::ofstream(dir.file("one.txt")) << "Page 1, [50.00,700.00,400.00,50.00]\n";
    const ToolRun r = CropFile(dir.file("one.txt"), plain, dir.file("plain out.pdf"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const std::string after = fixtures::ReadFileBytes(dir.file("plain out.pdf"));
    EXPECT_EQ(
        after.compare(0, fixtures::ReadFileBytes(plain).size() + 9, fixtures::ReadFileBytes(plain) + "\n3 0 obj\n"), 0);
    EXPECT_EQ(after.find("/ID"), std::string::npos);
    EXPECT_EQ(QpdfCheck(dir.file("plain out.pdf")).exitCode, 0) << QpdfCheck(dir.file("plain out.pdf")).err;
    EXPECT_NEAR(Rendered(dir.file("plain out.pdf")).Size(1).first, 350, 0.01);

    // A page written inside its parent rather than as an object of its
    // own: the parent would have to change too, so the file is written whole.
    const std::string inside = dir.file("inside.pdf");
    WriteBytes(inside, HandMade({"<< /Type /Catalog /Pages 2 0 R >>",
                                 "<< /Type /Pages /Kids [<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792]"
                                 " /Contents 3 0 R >>] /Count 1 >>",
                                 stream}));
    const ToolRun whole = CropFile(dir.file("one.txt"), inside, dir.file("inside out.pdf"));
    ASSERT_EQ(whole.exitCode, 0) << whole.err;
    EXPECT_NE(whole.err.find("because a page of the input is not an object of its own"), std::string::npos)
        << whole.err;
    EXPECT_NEAR(Rendered(dir.file("inside out.pdf")).Size(1).first, 350, 0.01);

    // Names with '#' and other bytes written as #xx keep their meaning, in
    // keys and values; a /Size that is off is warned about but repairs
    // nothing, so the update is still written.
    const std::string draw = "q 200 0 0 200 100 100 cm /Im#2341 Do Q";
    const std::string named = dir.file("named.pdf");
    WriteBytes(named, HandMade({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                                "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R"
                                " /Resources << /XObject << /Im#2341 5 0 R >> >> /Orvane#20Mark /A#2fB#23"
                                " /Stray [/Odd#4#41 /Dbl##41B /End#] >>",
                                "<< /Length " + std::to_string(draw.size()) + " >>\nstream\n" + draw + "\nendstream",
                                "<< /Type /XObject /Subtype /Image /Width 1 /Height 1 /ColorSpace /DeviceGray"
                                " /BitsPerComponent 8 /Length 1 >>\nstream\n" +
                                    std::string(1, '\0') + "\nendstream"},
                               9));
    const std::string namedOut = dir.file("named out.pdf");
    const ToolRun kept = CropFile(dir.file("one.txt"), named, namedOut);
    ASSERT_EQ(kept.exitCode, 0) << kept.err;
    EXPECT_NE(kept.err.find("warning"), std::string::npos) << kept.err;
    EXPECT_EQ(kept.err.find("whole"), std::string::npos) << kept.err;
    EXPECT_EQ(fixtures::ReadFileBytes(namedOut).compare(0, fixtures::ReadFileBytes(named).size(),
                                                        fixtures::ReadFileBytes(named)),
              0);
    QPDF read;
    read.processFile(namedOut.c_str());
    QPDFObjectHandle page = QPDFPageDocumentHelper(read).getAllPages()[0].getObjectHandle();
    EXPECT_TRUE(page.getKey("/Resources").getKey("/XObject").hasKey("/Im#41"));
    EXPECT_EQ(page.getKey("/Orvane Mark").getName(), "/A/B#");
    // A stray '#' stays stray, and the digits after it stay digits.
    QPDF original;
    original.processFile(named.c_str());
    EXPECT_EQ(page.getKey("/Stray").unparse(),
              QPDFPageDocumentHelper(original).getAllPages()[0].getObjectHandle().getKey("/Stray").unparse());
    Rendered drawn(namedOut);
    int w = 0, h = 0;
    const std::vector<uint8_t> grey = drawn.Grey(1, w, h);
    EXPECT_GT(std::count(grey.begin(), grey.end(), uint8_t(0)), 1000) << "the image is drawn";
}

TEST_F(UpdateTest, APageThatCannotBeReadKeepsTheNumbersOfThoseAfterIt) {
    // Page 2 holds a number too large for qpdf; viewers still show it.
    const std::string content = "0 0 0 rg 100 100 300 400 re f";
    const std::string stream =
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream";
    const std::string in = dir.file("bad page.pdf");
    WriteBytes(in,
               HandMade({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R 4 0 R 5 0 R] /Count 3 >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R"
                         " /Big 99999999999999999999999 >>",
                         "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 6 0 R >>", stream}));
    std::ofstream(dir.file("three.txt")) << "Page 3, [50.00,700.00,400.00,50.00]\n";
    const ToolRun r = CropFile(dir.file("three.txt"), in, dir.file("bad page out.pdf"));
    ASSERT_EQ(r.exitCode, 0) << r.err;
    Rendered out(dir.file("bad page out.pdf"));
    ASSERT_EQ(out.Pages(), 3);
    EXPECT_NEAR(out.Size(1).first, 612, 0.01);
    EXPECT_NEAR(out.Size(3).first, 350, 0.01) << "the third page is the one cropped";
    std::ofstream(dir.file("two.txt")) << "Page 2, [50.00,700.00,400.00,50.00]\n";
    const ToolRun two = CropFile(dir.file("two.txt"), in, dir.file("two out.pdf"));
    EXPECT_NE(two.err.find("page 2 cannot be read; it is left as it is"), std::string::npos) << two.err;
}

TEST(FileTail, FindsTheNewestSectionAndRefusesWhatLeadsNowhere) {
    auto tail = [](const std::string &bytes, std::string &why) {
        BufferInputSource source("test", bytes);
        return quorrel::ReadFileTail(source, why);
    };
    std::string why;
    const std::string body = "%PDF-1.4\n1 0 obj\n<< >>\nendobj\n";
    const std::string table = body + "xref\n0 2\n0000000000 65535 f \n0000000009 00000 n \ntrailer\n<< >>\n";
    auto t = tail(table + "startxref\n" + std::to_string(body.size()) + "\n%%EOF", why);
    ASSERT_TRUE(t) << why;
    EXPECT_FALSE(t->xrefStream);
    EXPECT_FALSE(t->endsWithEol);
    EXPECT_EQ(t->startxref, qpdf_offset_t(body.size()));
    // The last startxref counts, whatever came before.
    t = tail(table + "startxref\n9\n%%EOF\nstartxref\n9\n%%EOF\r\n", why);
    ASSERT_TRUE(t) << why;
    EXPECT_TRUE(t->xrefStream);
    EXPECT_TRUE(t->endsWithEol);
    EXPECT_FALSE(tail(table + "startxref\n99999\n%%EOF\n", why));
    EXPECT_FALSE(tail(table + "startxref\n%%EOF\n", why));
    EXPECT_FALSE(tail(table, why));
    EXPECT_FALSE(tail("no header\nstartxref\n0\n%%EOF\n", why));
}

}  // namespace

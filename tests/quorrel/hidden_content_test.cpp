// A locked input, what the crop hides taken out of the copy, and the dry
// run's report, through the crop tool itself.

#include "tests/fixtures/temp_dir.h"
#include "tests/quorrel/quorrel_tool.h"

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>
#include <fstream>

namespace {

using quorrel_tool::Q;
using quorrel_tool::Rendered;

// A letter page whose left half holds text, an image, a drawing, a link
// and a form field, and whose right half holds text of its own; the crop
// of the tests keeps the right half.
void WriteHalves(const std::string &path, bool locked, bool signedField) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle font =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf, std::string(4 * 4 * 3, '\x80'));
    image.replaceDict(QPDFObjectHandle::parse(
        "<< /Type /XObject /Subtype /Image /Width 4 /Height 4 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>"));
    QPDFObjectHandle contents =
        QPDFObjectHandle::newStream(&pdf, "BT /F1 12 Tf 50 700 Td (LEFTSECRET) Tj ET\n"
                                          "BT /F1 12 Tf 350 700 Td (RIGHTKEPT) Tj 0 -20 Td (SECONDLINE) Tj ET\n"
                                          "0 0 1 rg 60 100 100 50 re f 400 100 100 50 re f\n"
                                          "q 100 0 0 100 50 300 cm /Im1 Do Q\n");
    QPDFObjectHandle page =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] /Resources << >> >>"));
    page.getKey("/Resources").replaceKey("/Font", QPDFObjectHandle::parse("<< >>"));
    page.getKey("/Resources").getKey("/Font").replaceKey("/F1", font);
    page.getKey("/Resources").replaceKey("/XObject", QPDFObjectHandle::newDictionary());
    page.getKey("/Resources").getKey("/XObject").replaceKey("/Im1", image);
    page.replaceKey("/Contents", contents);
    QPDFObjectHandle link = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Annot /Subtype /Link /Rect [50 600 200 620] /A << /S /URI /URI (https://example.org/) >> >>"));
    QPDFObjectHandle field = pdf.makeIndirectObject(QPDFObjectHandle::parse(
        "<< /Type /Annot /Subtype /Widget /FT /Tx /T (secretfield) /V (SECRETVALUE) /Rect [50 500 200 520] >>"));
    QPDFObjectHandle fields = QPDFObjectHandle::newArray({field});
    QPDFObjectHandle annots = QPDFObjectHandle::newArray({link, field});
    if (signedField) {
        QPDFObjectHandle sig = pdf.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /Type /Sig /Filter /Adobe.PPKLite /SubFilter /adbe.pkcs7.detached /ByteRange [0 10 20 10]"
            " /Contents <00> >>"));
        QPDFObjectHandle widget = pdf.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /Type /Annot /Subtype /Widget /FT /Sig /T (Signature1) /Rect [0 0 0 0] /F 132 >>"));
        widget.replaceKey("/V", sig);
        fields.appendItem(widget);
        annots.appendItem(widget);
    }
    page.replaceKey("/Annots", annots);
    QPDFObjectHandle form = QPDFObjectHandle::newDictionary();
    form.replaceKey("/Fields", fields);
    pdf.getRoot().replaceKey("/AcroForm", form);
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    QPDFWriter writer(pdf, path.c_str());
    if (locked)
        writer.setR6EncryptionParameters("secret", "owner", true, true, true, true, true, true, qpdf_r3p_full, true);
    writer.write();
}

struct Ran {
    int exitCode = -1;
    std::string out, err;
};

// The crop tool with `args`, `input` written to its standard input.
Ran Tool(const QStringList &args, const QByteArray &input = {}) {
    QProcess p;
    p.start(QUORREL_PATH, args);
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(120000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput().toStdString(),
            p.readAllStandardError().toStdString()};
}

// The file's objects with their streams decoded, as text.
std::string Decoded(const std::string &path, const std::string &password = {}) {
    QProcess p;
    QStringList args{"--qdf", "--object-streams=disable", "--decrypt"};
    if (!password.empty())
        args << Q("--password=" + password);
    p.start("qpdf", args << Q(path) << "-");
    p.waitForFinished(60000);
    return p.readAllStandardOutput().toStdString();
}

// The right half of the letter page, as the program writes it.
constexpr const char *kRightHalf = "Page 1, [306.00,792.00,612.00,0.00]\n";

class HiddenContent : public ::testing::Test {
protected:
    void SetUp() override {
        in = dir.file("in.pdf");
        list = dir.file("list.txt");
        std::ofstream(list) << kRightHalf;
    }
    fixtures::TempDir dir;
    std::string in, list;
};

TEST_F(HiddenContent, ALockedInputIsReadWithThePasswordFromStandardInputAndTheCopyKeepsItsEncryption) {
    WriteHalves(in, true, false);
    const std::string out = dir.file("out.pdf");
    const QStringList args{"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out)};
    Ran none = Tool(args);
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_NE(none.err.find("needs a password"), std::string::npos) << none.err;
    Ran wrong = Tool(QStringList(args) << "--password-fd"
                                       << "0",
                     "nope\n");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_NE(wrong.err.find("not the password"), std::string::npos) << wrong.err;
    EXPECT_FALSE(std::filesystem::exists(out));

    // As an update and written whole, the list after the password's line.
    for (const bool whole : {false, true}) {
        SCOPED_TRACE(whole ? "whole" : "update");
        QStringList again{"-s", "setcropfile=-", "-i", Q(in), "-o", Q(out), "--password-fd", "0"};
        if (whole)
            again << "--remove-hidden";
        Ran right = Tool(again, QByteArray("secret\n") + kRightHalf + "End\n");
        ASSERT_EQ(right.exitCode, 0) << right.err;
        int32_t status = -1;
        LS_Document copy = render::Ravel().OpenFileWithPassword(out.c_str(), nullptr, 1, &status);
        EXPECT_FALSE(copy);
        EXPECT_EQ(status, LS_OPEN_NEEDS_PASSWORD) << "the copy is as locked as its input";
        copy = render::Ravel().OpenFileWithPassword(out.c_str(), "owner", 1, &status);
        ASSERT_TRUE(copy) << "and opens with the same passwords";
        render::Ravel().CloseFile(copy);
        QProcess p;
        p.start("qpdf", {"--show-encryption", "--password=secret", Q(out)});
        p.waitForFinished(30000);
        EXPECT_NE(p.readAllStandardOutput().indexOf("R = 6"), -1) << "the same algorithm";
    }
}

TEST_F(HiddenContent, NothingWhollyOutsideTheCropStaysAndInsideLooksAsThePlainCropDoes) {
    WriteHalves(in, false, false);
    const std::string plain = dir.file("plain.pdf"), clean = dir.file("clean.pdf");
    ASSERT_EQ(Tool({"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(plain), "--media-box"}).exitCode, 0);
    Ran r = Tool({"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(clean), "--remove-hidden"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("10 glyphs of text, 1 images, 1 drawings, 2 annotations (1 of them form fields)"),
              std::string::npos)
        << r.err;

    // Neither in the text a reader finds nor anywhere in the file's bytes.
    QProcess text;
    text.start("mutool", {"draw", "-F", "txt", Q(clean)});
    text.waitForFinished(60000);
    const std::string found = text.readAllStandardOutput().toStdString();
    EXPECT_NE(found.find("RIGHTKEPT"), std::string::npos) << found;
    EXPECT_NE(found.find("SECONDLINE"), std::string::npos) << "a later line in place: " << found;
    EXPECT_EQ(found.find("LEFTSECRET"), std::string::npos) << found;
    const std::string bytes = Decoded(clean);
    ASSERT_FALSE(bytes.empty());
    for (const char *gone : {"LEFTSECRET", "secretfield", "SECRETVALUE", "example.org", "/Image", "60 100 100 50 re"})
        EXPECT_EQ(bytes.find(gone), std::string::npos) << gone;
    EXPECT_NE(Decoded(plain).find("LEFTSECRET"), std::string::npos) << "the plain crop only hides it";
    EXPECT_LT(std::filesystem::file_size(clean), std::filesystem::file_size(in));

    QProcess check;
    check.start("qpdf", {"--check", Q(clean)});
    check.waitForFinished(60000);
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();

    Rendered a(plain), b(clean);
    ASSERT_TRUE(a.Ok() && b.Ok());
    int aw, ah, bw, bh;
    const std::vector<uint8_t> pa = a.Grey(1, aw, ah), pb = b.Grey(1, bw, bh);
    ASSERT_EQ(aw, bw);
    ASSERT_EQ(ah, bh);
    EXPECT_EQ(pa, pb) << "the copy shows what the plain crop shows";
}

TEST_F(HiddenContent, TheDryRunReportsWhatLiesOutsideSplitsAndSignaturesAndWritesNothing) {
    WriteHalves(in, false, true);
    const std::string out = dir.file("out.pdf"), split = dir.file("split.txt");
    std::ofstream(split) << kRightHalf << "Page 1, [0.00,792.00,306.00,0.00]\n";
    auto report = [&](const std::string &listPath, bool removeHidden) {
        QStringList args{"-s", Q("setcropfile=" + listPath), "-i", Q(in), "-o", Q(out), "--report"};
        if (removeHidden)
            args << "--remove-hidden";
        Ran r = Tool(args);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return QJsonDocument::fromJson(QByteArray::fromStdString(r.out)).object();
    };
    const QJsonObject plain = report(list, false);
    EXPECT_EQ(plain["cropped"].toInt(), 1);
    EXPECT_EQ(plain["copyPages"].toInt(), 1);
    const QJsonObject outside = plain["outside"].toObject();
    EXPECT_EQ(outside["links"].toInt(), 1);
    EXPECT_EQ(outside["fields"].toInt(), 1) << "the signature's widget has no area, and lies nowhere";
    EXPECT_EQ(outside["items"].toArray()[1].toObject()["name"].toString(), "secretfield");
    EXPECT_EQ(outside["items"].toArray()[0].toObject()["page"].toInt(), 1);
    EXPECT_TRUE(plain["signed"].toBool());
    EXPECT_FALSE(plain["signaturesInvalidated"].toBool()) << "an update keeps the signed bytes";
    EXPECT_TRUE(plain["hiddenContentKept"].toBool());

    const QJsonObject removing = report(list, true);
    EXPECT_TRUE(removing["signaturesInvalidated"].toBool()) << "a whole new file holds no signed bytes";
    EXPECT_FALSE(removing["hiddenContentKept"].toBool());

    const QJsonObject halves = report(split, false);
    EXPECT_EQ(halves["split"].toInt(), 1);
    EXPECT_EQ(halves["cropped"].toInt(), 0);
    EXPECT_EQ(halves["copyPages"].toInt(), 2);
    const QJsonArray items = halves["outside"].toObject()["items"].toArray();
    ASSERT_EQ(items.size(), 2) << "the left half's copy holds the link and the field; the right half's does not";
    for (const QJsonValue &item : items)
        EXPECT_EQ(item.toObject()["copyPage"].toInt(), 1);
    EXPECT_FALSE(std::filesystem::exists(out)) << "a dry run writes nothing";
}

// A tagged letter page: text on the left (its structure element with an
// alternate and an actual text) and on the right, a stroke drawn under a
// transform that stretches it 10,000 times upwards from below the page (its
// points lie outside the right half, its ink inside), the page's picture,
// the private data of the program that made it, and an XMP picture of it.
void WriteTagged(const std::string &path) {
    QPDF pdf;
    pdf.emptyPDF();
    QPDFObjectHandle font =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>"));
    QPDFObjectHandle contents =
        QPDFObjectHandle::newStream(&pdf, "/P << /MCID 0 >> BDC BT /F1 12 Tf 50 700 Td (LEFTSECRET) Tj ET EMC\n"
                                          "/P << /MCID 1 >> BDC BT /F1 12 Tf 350 700 Td (RIGHTKEPT) Tj ET EMC\n"
                                          "q 1 0 0 10000 cm 0.02 w 400 -0.005 m 500 -0.005 l S Q\n");
    QPDFObjectHandle page =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] /StructParents 0"
                                                       " /PieceInfo << /Maker << /Private (PIECESECRET) >> >> >>"));
    page.replaceKey("/Resources", QPDFObjectHandle::parse("<< /Font << >> >>"));
    page.getKey("/Resources").getKey("/Font").replaceKey("/F1", font);
    page.replaceKey("/Contents", contents);
    QPDFObjectHandle thumb = QPDFObjectHandle::newStream(&pdf, std::string(2 * 2 * 3, '\x40'));
    thumb.replaceDict(QPDFObjectHandle::parse("<< /Width 2 /Height 2 /ColorSpace /DeviceRGB /BitsPerComponent 8 >>"));
    page.replaceKey("/Thumb", thumb);
    QPDFObjectHandle root = pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /StructTreeRoot >>"));
    auto element = [&](int mcid, const char *alt) {
        QPDFObjectHandle e = pdf.makeIndirectObject(QPDFObjectHandle::parse(
            std::string("<< /Type /StructElem /S /P /K ") + std::to_string(mcid) + " " + alt + " >>"));
        e.replaceKey("/P", root);
        e.replaceKey("/Pg", page);
        return e;
    };
    QPDFObjectHandle left = element(0, "/Alt (ALTSECRET) /ActualText (ACTUALSECRET) /E (EXPANSIONSECRET)");
    QPDFObjectHandle right = element(1, "/Alt (ALTKEPT)");
    root.replaceKey("/K", QPDFObjectHandle::newArray({left, right}));
    root.replaceKey("/ParentTree", QPDFObjectHandle::parse("<< /Nums [0 []] >>"));
    root.getKey("/ParentTree").getKey("/Nums").getArrayItem(1).appendItem(left);
    root.getKey("/ParentTree").getKey("/Nums").getArrayItem(1).appendItem(right);
    pdf.getRoot().replaceKey("/StructTreeRoot", root);
    pdf.getRoot().replaceKey("/MarkInfo", QPDFObjectHandle::parse("<< /Marked true >>"));
    QPDFObjectHandle xmp = QPDFObjectHandle::newStream(
        &pdf,
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">"
        "<rdf:Description xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\" xmp:CreatorTool=\"Maker\">"
        "<xmp:Thumbnails><rdf:Alt><rdf:li>XMPPICTURE</rdf:li></rdf:Alt></xmp:Thumbnails>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>");
    xmp.replaceDict(QPDFObjectHandle::parse("<< /Type /Metadata /Subtype /XML >>"));
    pdf.getRoot().replaceKey("/Metadata", xmp);
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    QPDFWriter writer(pdf, path.c_str());
    writer.write();
}

TEST_F(HiddenContent, AStrokeReachingIntoTheCropStaysAndNoPictureOrTagOfWhatWentIsLeft) {
    WriteTagged(in);
    const std::string clean = dir.file("clean.pdf");
    Ran r = Tool({"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(clean), "--remove-hidden"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find(" 0 drawings"), std::string::npos) << r.err;
    const std::string bytes = Decoded(clean);
    ASSERT_FALSE(bytes.empty());
    for (const char *gone :
         {"LEFTSECRET", "ALTSECRET", "ACTUALSECRET", "EXPANSIONSECRET", "PIECESECRET", "XMPPICTURE", "/Thumb"})
        EXPECT_EQ(bytes.find(gone), std::string::npos) << gone;
    for (const char *kept : {"RIGHTKEPT", "ALTKEPT", "xmp:CreatorTool"})
        EXPECT_NE(bytes.find(kept), std::string::npos) << kept;
    // The stretched stroke's ink at the foot of the right half.
    Rendered copy(clean);
    ASSERT_TRUE(copy.Ok());
    int w, h;
    const std::vector<uint8_t> grey = copy.Grey(1, w, h);
    ASSERT_EQ(w, 612);
    EXPECT_LT(grey[size_t(h - 20) * size_t(w) + size_t(2 * (450 - 306))], 128) << "the stroke is gone";
}

TEST_F(HiddenContent, ContentNestedPastAnyRealPageAndAFullTemporaryFolderFailWithTheirReasons) {
    // A small page whose content saves the graphics state 100,000 times.
    QPDF pdf;
    pdf.emptyPDF();
    std::string deep;
    for (int i = 0; i < 100000; ++i)
        deep += "q ";
    QPDFObjectHandle page =
        pdf.makeIndirectObject(QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] >>"));
    page.replaceKey("/Contents", QPDFObjectHandle::newStream(&pdf, deep + "0 0 1 rg 400 400 50 50 re f"));
    QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    QPDFWriter writer(pdf, in.c_str());
    writer.setCompressStreams(true);
    writer.write();
    const std::string out = dir.file("out.pdf");
    Ran r = Tool({"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out), "--remove-hidden"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("levels deep"), std::string::npos) << r.err;
    EXPECT_FALSE(std::filesystem::exists(out));

    // A temporary folder with no room left, where the system lets a test
    // make one.
    const std::string tiny = dir.file("tiny");
    std::filesystem::create_directory(tiny);
    if (::getuid() != 0 || QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=64k", "tmpfs", Q(tiny)}) != 0)
        GTEST_SKIP() << "no small file system can be made here";
    std::ofstream(tiny + "/filler") << std::string(64 * 1024, 'x');
    WriteHalves(in, false, false);
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("TMPDIR", Q(tiny));
    p.setProcessEnvironment(env);
    p.start(QUORREL_PATH, {"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out), "--remove-hidden"});
    p.waitForFinished(60000);
    const std::string said = p.readAllStandardError().toStdString();
    QProcess::execute("umount", {Q(tiny)});
    EXPECT_EQ(p.exitCode(), 1);
    EXPECT_NE(said.find("the temporary folder " + tiny + " is full"), std::string::npos) << said;
    EXPECT_FALSE(std::filesystem::exists(out));
}

}  // namespace

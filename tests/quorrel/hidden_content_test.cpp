// A locked input, what the crop hides taken out of the copy, and the dry
// run's report, through the crop tool itself.

#include "tests/fixtures/jpeg_reader.h"
#include "tests/fixtures/scan_page.h"
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
#include <sstream>
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

namespace {

// A picture of the copy and where it lands: the cut picture's pixels and
// the part of its input's unit square (x0, y0, x1, y1, y up) it covers.
struct Placed {
    QPDFObjectHandle image;
    double u0 = 0, v0 = 0, u1 = 1, v1 = 1;
};

// What name `name` on `page` draws: a picture, or a form drawing one part
// of a picture as "q sx 0 0 sy tx ty cm /I Do Q".
Placed PlacedAs(QPDFPageObjectHelper page, const std::string &name) {
    QPDFObjectHandle x = page.getAttribute("/Resources", false).getKey("/XObject").getKey(name);
    if (x.getDict().getKey("/Subtype").isNameAndEquals("/Image"))
        return {x};
    const std::shared_ptr<Buffer> data = x.getStreamData();
    std::istringstream in(std::string(reinterpret_cast<const char *>(data->getBuffer()), data->getSize()));
    std::string q;
    double sx, b, c, sy, tx, ty;
    in >> q >> sx >> b >> c >> sy >> tx >> ty;
    return {x.getDict().getKey("/Resources").getKey("/XObject").getKey("/I"), tx, ty, tx + sx, ty + sy};
}

fixtures::RgbImage DecodedJpeg(QPDFObjectHandle image, const std::string &path) {
    const std::shared_ptr<Buffer> raw = image.getRawStreamData();
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char *>(raw->getBuffer()), std::streamsize(raw->getSize()));
    fixtures::RgbImage decoded;
    fixtures::ReadJpeg(path, decoded);
    return decoded;
}

}  // namespace

TEST_F(HiddenContent, PicturesReachingPastTheCropAreCutToItWithoutLossAndDrawnWhereTheirPixelsWere) {
    fixtures::ScanOptions grey, colour;
    colour.paper = fixtures::ScanPaper::Yellowed;  // three components, colour subsampled
    colour.seed = 5;
    const fixtures::ScanPage g = fixtures::MakeScanPage(grey), c = fixtures::MakeScanPage(colour);
    QPDF pdf;
    pdf.emptyPDF();
    auto jpeg = [&](const fixtures::ScanPage &scan, size_t keep) {
        QPDFObjectHandle image = QPDFObjectHandle::newStream(
            &pdf, std::string(scan.jpeg.begin(), scan.jpeg.begin() + std::ptrdiff_t(std::min(keep, scan.jpeg.size()))));
        image.replaceDict(
            QPDFObjectHandle::parse("<< /Type /XObject /Subtype /Image /BitsPerComponent 8 /Filter /DCTDecode /Width " +
                                    std::to_string(scan.width) + " /Height " + std::to_string(scan.height) +
                                    " /ColorSpace " + (scan.colour ? "/DeviceRGB" : "/DeviceGray") + " >>"));
        return image;
    };
    // One bit a pixel, 301 pixels a row: a cut that starts inside a byte.
    std::string bits(size_t(38 * 203), '\0');
    for (int y = 0; y < 203; ++y)
        for (int x = 0; x < 301; ++x)
            if ((x / 7 + y / 5) % 3 == 0)
                bits[size_t(y * 38 + x / 8)] |= char(0x80 >> (x % 8));
    QPDFObjectHandle bilevel = QPDFObjectHandle::newStream(&pdf, bits);
    bilevel.replaceDict(QPDFObjectHandle::parse(
        "<< /Type /XObject /Subtype /Image /Width 301 /Height 203 /ColorSpace /DeviceGray /BitsPerComponent 1 >>"));
    QPDFObjectHandle shared = jpeg(g, SIZE_MAX), pictures[] = {jpeg(g, SIZE_MAX),
                                                               jpeg(c, SIZE_MAX),
                                                               bilevel,
                                                               shared,
                                                               shared,
                                                               jpeg(g, g.jpeg.size() * 6 / 10)};
    const char *placements[] = {"612 0 0 792 0 0", "400 0 0 500 100 150", "301 0 0 203 50 50",
                                "612 0 0 792 0 0", "612 0 0 792 0 0",     "612 0 0 792 0 0"};
    for (size_t i = 0; i < std::size(pictures); ++i) {
        QPDFObjectHandle page = pdf.makeIndirectObject(
            QPDFObjectHandle::parse("<< /Type /Page /MediaBox [0 0 612 792] /Resources << /XObject << >> >> >>"));
        page.getKey("/Resources").getKey("/XObject").replaceKey("/Im", pictures[i]);
        page.replaceKey("/Contents",
                        QPDFObjectHandle::newStream(&pdf, std::string("q ") + placements[i] + " cm /Im Do Q\n"));
        QPDFPageDocumentHelper(pdf).addPage(QPDFPageObjectHelper(page), false);
    }
    QPDFWriter(pdf, in.c_str()).write();
    // Page 5 shows the picture it shares with page 4 whole.
    std::ofstream(list) << "Page 1, [100.30,700.70,500.20,90.10]\nPage 2, [150,600,450,200]\n"
                           "Page 3, [63.5,200,300,60]\nPage 4, [100,700,500,100]\nPage 6, [100,700,500,100]\n";
    const std::string out = dir.file("out.pdf");
    // The dry run tells the size ahead: four pictures reach past the crops
    // (it cannot know that one of them is damaged).
    const Ran dry = Tool({"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out), "--remove-hidden", "--report"});
    ASSERT_EQ(dry.exitCode, 0) << dry.err;
    const QJsonObject size = QJsonDocument::fromJson(QByteArray::fromStdString(dry.out)).object()["size"].toObject();
    EXPECT_EQ(size["picturesCut"].toInt(), 4);
    EXPECT_EQ(qint64(size["before"].toDouble()), qint64(std::filesystem::file_size(in)));
    EXPECT_LT(size["afterAbout"].toDouble(), size["before"].toDouble() * 0.9);
    const Ran run = Tool({"-s", Q("setcropfile=" + list), "-i", Q(in), "-o", Q(out), "--remove-hidden"});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.err.find("warning: page 6: a picture is kept whole, because its JPEG cannot be cut"),
              std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("cut to the crops: 3 pictures"), std::string::npos) << run.err;
    // qpdf finds nothing in the copy it does not find in the input (the
    // damaged JPEG).
    auto checked = [](const std::string &path) {
        QProcess check;
        check.start("qpdf", {"--check", Q(path)});
        check.waitForFinished(60000);
        return check.exitCode();
    };
    EXPECT_EQ(checked(out), checked(in));

    QPDF copy;
    copy.processFile(out.c_str());
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(copy).getAllPages();
    ASSERT_EQ(pages.size(), 6u);
    const fixtures::Box crops[] = {{100.3, 90.1, 500.2, 700.7}, {150, 200, 450, 600}, {63.5, 60, 300, 200}};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        QPDFObjectHandle whole = pictures[i];
        const Placed placed = PlacedAs(pages[size_t(i)], "/Im");
        QPDFObjectHandle cut = placed.image;
        ASSERT_TRUE(cut.isStream());
        const int W = int(whole.getDict().getKey("/Width").getIntValue()),
                  H = int(whole.getDict().getKey("/Height").getIntValue());
        const int w = int(cut.getDict().getKey("/Width").getIntValue()),
                  h = int(cut.getDict().getKey("/Height").getIntValue());
        EXPECT_LT(w * h, W * H);
        EXPECT_LT(cut.getRawStreamData()->getSize(), whole.getRawStreamData()->getSize());
        // Whole pixels of the input, exactly where the input drew them.
        const double x0 = placed.u0 * W, y0 = (1 - placed.v1) * H;
        EXPECT_NEAR(x0, std::round(x0), 0.05);
        EXPECT_NEAR(y0, std::round(y0), 0.05);
        EXPECT_NEAR((placed.u1 - placed.u0) * W, w, 0.05);
        EXPECT_NEAR((placed.v1 - placed.v0) * H, h, 0.05);
        // Covering the whole crop: the placement of the page's picture
        // (a x + e, d y + f) applied to the part.
        std::istringstream p(placements[i]);
        double a, b, c2, d, e, f;
        p >> a >> b >> c2 >> d >> e >> f;
        EXPECT_LE(e + a * placed.u0, crops[i].x0 + 1e-6);
        EXPECT_GE(e + a * placed.u1, crops[i].x1 - 1e-6);
        EXPECT_LE(f + d * placed.v0, crops[i].y0 + 1e-6);
        EXPECT_GE(f + d * placed.v1, crops[i].y1 - 1e-6);
        const int px = int(std::lround(x0)), py = int(std::lround(y0));
        if (i < 2) {
            const fixtures::RgbImage before = DecodedJpeg(whole, dir.file("whole.jpg")),
                                     after = DecodedJpeg(cut, dir.file("cut.jpg"));
            ASSERT_EQ(after.width, w);
            ASSERT_EQ(after.height, h);
            // Colour smoothed over neighbouring blocks may differ along the
            // cut's outermost edge, which the crop never shows.
            const int edge = i == 1 ? 1 : 0;
            int differing = 0;
            for (int y = edge; y < h - edge; ++y)
                for (int x = edge; x < w - edge; ++x)
                    for (int k = 0; k < 3; ++k)
                        differing += after.rgb[(size_t(y) * size_t(w) + size_t(x)) * 3 + size_t(k)] !=
                                     before.rgb[(size_t(y + py) * size_t(W) + size_t(x + px)) * 3 + size_t(k)];
            EXPECT_EQ(differing, 0);
        } else {
            const std::shared_ptr<Buffer> data = cut.getStreamData();
            const unsigned char *d2 = data->getBuffer();
            int differing = 0;
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const int sx = x + px, sy = y + py;
                    const int was = (uint8_t(bits[size_t(sy * 38 + sx / 8)]) >> (7 - sx % 8)) & 1;
                    const int now = (d2[size_t(y * ((w + 7) / 8) + x / 8)] >> (7 - x % 8)) & 1;
                    differing += was != now;
                }
            EXPECT_EQ(differing, 0);
        }
    }
    // The picture page 5 shows whole, and the damaged one, stay as they were.
    for (int i : {3, 4, 5}) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        QPDFObjectHandle kept = PlacedAs(pages[size_t(i)], "/Im").image;
        EXPECT_EQ(kept.getRawStreamData()->getSize(), pictures[i].getRawStreamData()->getSize());
    }
}

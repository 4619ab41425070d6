// The crop file: values and their formats, the file the editing commands
// leave behind, the crop list, undo and redo, and two instances at once.

#include "crop/model/regions/crop_file.h"
#include "crop/model/document.h"
#include "platform/exe_folder.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using crop::COrvaneDoc;
using crop::CropRect;

namespace {

TEST(CropValues, AreReadTheWayAtofReadsNumbers) {
    using crop::AtoF;
    EXPECT_EQ(AtoF("36.00"), 36.0);
    EXPECT_EQ(AtoF("  +3.5xyz"), 3.5);
    EXPECT_EQ(AtoF("-1e2"), -100.0);
    EXPECT_EQ(AtoF("0x10"), 16.0);
    EXPECT_EQ(AtoF("abc"), 0.0);
    EXPECT_EQ(AtoF("--3"), 0.0);
    EXPECT_EQ(AtoF("+-3"), 0.0);
    EXPECT_EQ(AtoF(""), 0.0);
    EXPECT_EQ(AtoF("nan"), 0.0) << "nothing that is not a finite number reaches a rectangle";
    EXPECT_EQ(AtoF("1e400"), 0.0);
    EXPECT_EQ(AtoF("1e30"), 1.0e9);
    const auto four = crop::ParsePageValue("1.5,2,3junk,4,5,6");
    EXPECT_EQ(four, (std::array<double, 4>{1.5, 2, 3, 4})) << "only the first four fields count";
    EXPECT_EQ(crop::ParsePageValue("7"), (std::array<double, 4>{7, 0, 0, 0}));
}

TEST(CropValues, PassThroughSinglePrecisionAndTwoDecimals) {
    EXPECT_EQ(crop::PageValueFor(CropRect{36, 36, 576, 756}, 792), "36.00,756.00,576.00,36.00");
    // 612.345 in single precision is 612.344970...
    EXPECT_EQ(crop::PageValueFor(CropRect{0, 0, 612.345, 0}, 0), "0.00,0.00,612.34,0.00");
    EXPECT_EQ(crop::FormatPageValue({-0.004, 1e6, 0.125, 2.5}), "-0.00,1000000.00,0.12,2.50");
    // Drawn upwards: stored as drawn, not normalised.
    EXPECT_EQ(crop::PageValueFor(CropRect{300, 500, 100, 200}, 792), "300.00,292.00,100.00,592.00");
}

TEST(CropValues, FourNumbersThatTruncateToZeroMeanNoRectangle) {
    EXPECT_TRUE(crop::RectFromPageValue("0.40,0.30,0.90,0.20", 792).IsEmpty());
    EXPECT_TRUE(crop::RectFromPageValue("0.00,0.00,0.00,0.00", 792).IsEmpty());
    EXPECT_TRUE(crop::RectFromPageValue("-0.99,0,0,0", 792).IsEmpty());
    EXPECT_EQ(crop::RectFromPageValue("36.00,756.00,576.00,36.00", 792), (CropRect{36, 36, 576, 756}));
    EXPECT_EQ(crop::RectFromPageValue("1.00,0,0,0", 792), (CropRect{1, 792, 0, 792}));
}

class CropFileTest : public ::testing::Test {
protected:
    QString Pdf(int pages) {
        const std::string path = dir.file("doc" + std::to_string(pages) + ".pdf");
        fixtures::WritePdf(fixtures::PagesOfSizes(std::vector<std::pair<double, double>>(size_t(pages), {612, 792})),
                           path);
        return QString::fromStdString(path);
    }
    void Open(COrvaneDoc &doc, const QString &path) {
        QString reason;
        ASSERT_TRUE(doc.OpenDocument(path, reason)) << reason.toStdString();
    }
    std::string File(const COrvaneDoc &doc) const { return fixtures::ReadFileBytes(doc.Pages().File().Path()); }
    std::string CropList(COrvaneDoc &doc) { return doc.Save().ExportCropList(); }

    fixtures::TempDir dir;
    COrvaneDoc document;
};

TEST_F(CropFileTest, TheFileAndTheCropListOfTwoRectanglesOnThreePages) {
    EXPECT_EQ(document.Pages().File().Path(), platform::WorkingFolder() + "/croprect.ini");
    Open(document, Pdf(3));
    document.Editing().SetCurrentPageRect(CropRect{36, 36, 576, 756}, true);
    document.ShowPage(3);
    document.Editing().SetCurrentPageRect(CropRect{72.5, 92, 540, 691.75}, true);
    EXPECT_EQ(File(document), "[AutoShrink]\nflag=0\n[PAGE]\npage1=36.00,756.00,576.00,36.00\n"
                              "page3=72.50,700.00,540.00,100.25\n");
    EXPECT_EQ(CropList(document), "Page 1, [36.00,756.00,576.00,36.00]\nPage 2, [0.00,0.00,0.00,0.00]\n"
                                  "Page 3, [72.50,700.00,540.00,100.25]\n");
    // Shown again, the page has its rectangle back as the file holds it.
    document.ShowPage(1);
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty() == false);
    EXPECT_EQ(document.Editing().CropRectangle(), (CropRect{36, 36, 576, 756}));
    document.ShowPage(2);
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());

    // Removing a rectangle deletes its key; the list shows zeros for it.
    document.ShowPage(1);
    document.Editing().DeleteCurrentPageRect();
    EXPECT_EQ(File(document), "[AutoShrink]\nflag=0\n[PAGE]\npage3=72.50,700.00,540.00,100.25\n");
    EXPECT_EQ(CropList(document).substr(0, 30), "Page 1, [0.00,0.00,0.00,0.00]\n");
}

TEST_F(CropFileTest, EvenOnlyWritesTheShownValueUnderTheEvenPagesAlone) {
    Open(document, Pdf(5));
    document.ShowPage(3);
    document.Editing().SetCurrentPageRect(CropRect{10, 20, 30, 40}, false);
    document.ShowPage(1);
    document.Editing().SetCurrentPageRect(CropRect{1, 2, 3, 4}, false);
    document.Editing().ApplyRectToPages(crop::PagesOf(crop::PageSet::Even, document.PageCount()));
    EXPECT_EQ(File(document), "[AutoShrink]\nflag=0\n[PAGE]\npage3=10.00,772.00,30.00,752.00\n"
                              "page1=1.00,790.00,3.00,788.00\npage2=1.00,790.00,3.00,788.00\n"
                              "page4=1.00,790.00,3.00,788.00\n");
    // A page without a rectangle spreads its empty rectangle, not zeros.
    document.Editing().DeleteCurrentPageRect();
    document.Editing().ApplyRectToPages(crop::PagesOf(crop::PageSet::Odd, document.PageCount()));
    EXPECT_EQ(CropList(document), "Page 1, [0.00,792.00,0.00,792.00]\nPage 2, [1.00,790.00,3.00,788.00]\n"
                                  "Page 3, [0.00,792.00,0.00,792.00]\nPage 4, [1.00,790.00,3.00,788.00]\n"
                                  "Page 5, [0.00,792.00,0.00,792.00]\n");
}

// Drawing reads the shared file for the flag only when another instance
// has written it since; a shrunk rectangle is told once.
TEST_F(CropFileTest, DrawnRectanglesDoNotReadTheFileAgainAndAShrunkOneIsToldOnce) {
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}});
    plan.pages[0].blackRects.push_back(fixtures::Box{100, 100, 300, 400});
    const std::string path = dir.file("boxed.pdf");
    fixtures::WritePdf(plan, path);
    Open(document, QString::fromStdString(path));
    document.SetAutoShrink(true);
    const int reads = document.Pages().File().Reads();
    int told = 0;
    QObject::connect(&document, &COrvaneDoc::Changed,
                     [&told](crop::Changes c) { told += bool(c & crop::Change::Regions); });
    for (int i = 0; i < 20; ++i)
        document.Editing().SetCurrentPageRect(CropRect{50.0 + i, 50, 500, 700}, true);
    EXPECT_EQ(document.Pages().File().Reads(), reads);
    EXPECT_EQ(told, 20);
    EXPECT_NEAR(document.Editing().CropRectangle().left, 100, 1);
    {
        // Another instance's change is still seen.
        COrvaneDoc second;
        second.ToggleAutoShrink();
    }
    document.RefreshAutoShrink();
    EXPECT_FALSE(document.AutoShrink());
    EXPECT_EQ(document.Pages().File().Reads(), reads + 1);
}

TEST_F(CropFileTest, UndoAndRedoWalkBackAndForthAcrossPages) {
    Open(document, Pdf(3));
    int history = 0;
    QObject::connect(&document, &COrvaneDoc::Changed,
                     [&history](crop::Changes c) { history += bool(c & crop::Change::History); });
    EXPECT_FALSE(document.Pages().History().CanUndo());
    document.Editing().SetCurrentPageRect(CropRect{10, 10, 100, 100}, true);  // page 1
    document.ShowPage(2);
    document.Editing().SetCurrentPageRect(CropRect{20, 20, 200, 200}, true);
    document.Editing().SetCurrentPageRect(CropRect{30, 30, 300, 300}, false);  // moved
    document.ShowPage(3);
    EXPECT_TRUE(document.Pages().History().CanUndo());

    document.Undo();  // the move
    EXPECT_EQ(document.CurrentPage(), 2);
    EXPECT_EQ(document.Editing().CropRectangle(), (CropRect{20, 20, 200, 200}));
    document.Undo();  // the band on page 2
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());
    EXPECT_EQ(File(document), "[AutoShrink]\nflag=0\n[PAGE]\npage1=10.00,782.00,100.00,692.00\n");
    document.Undo();  // page 1
    EXPECT_EQ(document.CurrentPage(), 1);
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());
    EXPECT_FALSE(document.Pages().History().CanUndo());
    document.Undo();  // nothing left: nothing happens
    EXPECT_TRUE(document.Pages().History().CanRedo());

    document.Redo();
    EXPECT_EQ(document.Editing().CropRectangle(), (CropRect{10, 10, 100, 100}));
    document.Redo();
    EXPECT_EQ(document.CurrentPage(), 2);
    EXPECT_EQ(document.Editing().CropRectangle(), (CropRect{20, 20, 200, 200}));
    // A new change drops what could be made again.
    document.Editing().DeleteCurrentPageRect();
    EXPECT_FALSE(document.Pages().History().CanRedo());
    EXPECT_GT(history, 0);

    // A change that changes nothing is no step.
    document.ShowPage(1);
    const int steps = history;
    document.Editing().SetCurrentPageRect(document.Editing().CropRectangle(), false);
    EXPECT_EQ(history, steps);
}

TEST_F(CropFileTest, OpeningAnotherDocumentEmptiesTheFileButAFailedOpenKeepsIt) {
    Open(document, Pdf(3));
    document.Editing().SetCurrentPageRect(CropRect{10, 10, 100, 100}, false);
    document.SetAutoShrink(true);
    QString reason;
    EXPECT_FALSE(document.OpenDocument(QString::fromStdString(dir.file("missing.pdf")), reason));
    EXPECT_NE(File(document).find("page1="), std::string::npos);
    EXPECT_TRUE(document.Pages().History().CanUndo());
    Open(document, Pdf(5));
    EXPECT_EQ(File(document), "[AutoShrink]\nflag=1\n");
    EXPECT_FALSE(document.Pages().History().CanUndo());
    document.CloseDocument();
    EXPECT_EQ(File(document), "[AutoShrink]\nflag=1\n");
}

// Tests with documents of their own, made and dropped as programs start
// and end.
class Instances : public CropFileTest {
protected:
    std::unique_ptr<COrvaneDoc> Start() { return std::make_unique<COrvaneDoc>(); }
};

TEST_F(Instances, ARestartEmptiesThePagesAndKeepsTheFlagAndTogglingTwiceChangesNothing) {
    // The fixture's document runs first and owns the shared file.
    Open(document, Pdf(3));
    document.Editing().SetCurrentPageRect(CropRect{10, 10, 100, 100}, false);
    const std::string shared = document.Pages().File().Path();
    document.ToggleAutoShrink();
    EXPECT_EQ(fixtures::ReadFileBytes(shared), "[AutoShrink]\nflag=1\n[PAGE]\npage1=10.00,782.00,100.00,692.00\n");
    document.ToggleAutoShrink();
    document.ToggleAutoShrink();
    EXPECT_TRUE(document.AutoShrink());
    EXPECT_EQ(fixtures::ReadFileBytes(shared), "[AutoShrink]\nflag=1\n[PAGE]\npage1=10.00,782.00,100.00,692.00\n");

    // A program that ends and starts again, in a folder of its own.
    fixtures::TempDir elsewhere;
    platform::SetWorkingFolder(elsewhere.file(""));
    {
        std::unique_ptr<COrvaneDoc> first = Start();
        Open(*first, Pdf(3));
        first->Editing().SetCurrentPageRect(CropRect{10, 10, 100, 100}, false);
        first->ToggleAutoShrink();
    }
    EXPECT_EQ(fixtures::ReadFileBytes(elsewhere.file("croprect.ini")),
              "[AutoShrink]\nflag=1\n[PAGE]\npage1=10.00,782.00,100.00,692.00\n");
    EXPECT_TRUE(Start()->AutoShrink());
    EXPECT_EQ(fixtures::ReadFileBytes(elsewhere.file("croprect.ini")), "[AutoShrink]\nflag=1\n");
    platform::SetWorkingFolder(fs::path(shared).parent_path().string());
}

TEST_F(Instances, ASecondInstanceKeepsItsRectanglesApartAndSharesTheFlag) {
    Open(document, Pdf(3));
    document.Editing().SetCurrentPageRect(CropRect{10, 10, 100, 100}, false);
    const std::string shared = document.Pages().File().Path();
    const std::string before = fixtures::ReadFileBytes(shared);
    std::string ownPath;
    {
        std::unique_ptr<COrvaneDoc> second = Start();
        ownPath = second->Pages().File().Path();
        EXPECT_NE(ownPath, shared);
        EXPECT_EQ(fs::path(ownPath).parent_path(), fs::path(shared).parent_path());
        EXPECT_EQ(fixtures::ReadFileBytes(shared), before) << "starting did not empty the first one's rectangles";
        Open(*second, Pdf(5));
        second->Editing().SetCurrentPageRect(CropRect{1, 2, 3, 4}, false);
        EXPECT_EQ(fixtures::ReadFileBytes(ownPath), "[PAGE]\npage1=1.00,790.00,3.00,788.00\n");
        EXPECT_EQ(fixtures::ReadFileBytes(shared), before);

        // The flag is one for both, whichever changes it.
        int changed = 0;
        QObject::connect(&document, &COrvaneDoc::Changed,
                         [&changed](crop::Changes c) { changed += bool(c & crop::Change::AutoShrink); });
        second->ToggleAutoShrink();
        EXPECT_TRUE(second->AutoShrink());
        document.RefreshAutoShrink();
        EXPECT_TRUE(document.AutoShrink());
        EXPECT_EQ(changed, 1);
        EXPECT_EQ(fixtures::ReadFileBytes(shared), "[AutoShrink]\nflag=1\n[PAGE]\npage1=10.00,782.00,100.00,692.00\n");
        // The first one's next write keeps the flag the second one set.
        document.ShowPage(2);
        document.Editing().SetCurrentPageRect(CropRect{5, 5, 50, 50}, false);
        EXPECT_EQ(fixtures::ReadFileBytes(shared).substr(0, 20), "[AutoShrink]\nflag=1\n");
        document.ToggleAutoShrink();
        second->RefreshAutoShrink();
        EXPECT_FALSE(second->AutoShrink());
        // A rectangle drawn in the second one follows the shared flag.
        second->Editing().SetCurrentPageRect(CropRect{1, 2, 3, 4}, true);
    }
    EXPECT_FALSE(fs::exists(ownPath)) << "the second instance's file goes with it";
    EXPECT_NE(fixtures::ReadFileBytes(shared).find("page2=5.00,787.00,50.00,742.00"), std::string::npos);
}

TEST_F(Instances, WithoutTheLockAnInstanceNeverWritesTheSharedFile) {
    fixtures::TempDir elsewhere;
    platform::SetWorkingFolder(elsewhere.file(""));
    // A lock that cannot be opened (here a folder in its place; in use, a
    // lock file of another user).
    fs::create_directory(elsewhere.file("croprect.ini.lock"));
    std::ofstream(elsewhere.file("croprect.ini")) << "[AutoShrink]\nflag=1\n[PAGE]\npage1=1.00,2.00,3.00,4.00\n";
    {
        std::unique_ptr<COrvaneDoc> doc = Start();
        EXPECT_NE(doc->Pages().File().Path(), elsewhere.file("croprect.ini"));
        EXPECT_TRUE(doc->AutoShrink());
    }
    EXPECT_EQ(fixtures::ReadFileBytes(elsewhere.file("croprect.ini")),
              "[AutoShrink]\nflag=1\n[PAGE]\npage1=1.00,2.00,3.00,4.00\n");
    platform::SetWorkingFolder(fs::path(document.Pages().File().Path()).parent_path().string());
}

TEST_F(Instances, ALockFileLinkIsNotFollowedAndACropFileTooLargeIsNotRead) {
    fixtures::TempDir elsewhere, victims;
    platform::SetWorkingFolder(elsewhere.file(""));
    // A link planted at the lock's name leads nowhere the program goes.
    fs::create_symlink(victims.file("made-through-the-link"), elsewhere.file("croprect.ini.lock"));
    Start();
    EXPECT_FALSE(fs::exists(victims.file("made-through-the-link")));
    fs::remove(elsewhere.file("croprect.ini.lock"));
    // A crop file larger than any the program writes.
    std::ofstream(elsewhere.file("croprect.ini")) << "[AutoShrink]\nflag=1\n" << std::string(33u << 20, ';');
    EXPECT_NE(Start()->Pages().File().Problem().find("larger than 32 MB"), std::string::npos);
    platform::SetWorkingFolder(fs::path(document.Pages().File().Path()).parent_path().string());
}

TEST_F(Instances, TheOwnerTidiesTheFilesOfInstancesThatDiedAndTheNextOneOwnsTheFileAgain) {
    const std::string shared = document.Pages().File().Path();
    EXPECT_NE(Start()->Pages().File().Path(), shared) << "the fixture's document owns it";

    fixtures::TempDir elsewhere;
    platform::SetWorkingFolder(elsewhere.file(""));
    const std::string stale = elsewhere.file("croprect.999999999-1.ini");
    const std::string unrelated = elsewhere.file("croprect.notes.ini");
    std::ofstream(stale) << "[PAGE]\n";
    std::ofstream(unrelated) << "mine\n";
    {
        std::unique_ptr<COrvaneDoc> owner = Start();
        EXPECT_EQ(owner->Pages().File().Path(), elsewhere.file("croprect.ini"));
        EXPECT_FALSE(fs::exists(stale));
        EXPECT_TRUE(fs::exists(unrelated));
        EXPECT_NE(Start()->Pages().File().Path(), owner->Pages().File().Path());
    }
    EXPECT_EQ(Start()->Pages().File().Path(), elsewhere.file("croprect.ini")) << "the owner has gone";
    platform::SetWorkingFolder(fs::path(shared).parent_path().string());
}

}  // namespace

TEST_F(CropFileTest, RegionsGoUnderNumberedKeysAndIntoTheListInReadingOrder) {
    Open(document, Pdf(3));
    QSignalSpy messages(&document, &COrvaneDoc::StatusMessage);
    document.Editing().SetCurrentPageRect(CropRect{306, 0, 612, 792}, false);  // the right half first
    document.Editing().AddRegion(CropRect{0, 0, 306, 792}, false);
    EXPECT_EQ(document.Editing().SelectedRegion(), 1);
    // The first region stays where a reader of one rectangle per page looks.
    EXPECT_EQ(File(document), "[AutoShrink]\nflag=0\n[PAGE]\npage1=306.00,792.00,612.00,0.00\n"
                              "page1.2=0.00,792.00,306.00,0.00\n");
    EXPECT_EQ(document.Pages().File().PageValue(1), "306.00,792.00,612.00,0.00");
    EXPECT_EQ(CropList(document).substr(0, 70),
              "Page 1, [0.00,792.00,306.00,0.00]\nPage 1, [306.00,792.00,612.00,0.00]\n");
    document.Save().SetRightToLeft(true);
    EXPECT_EQ(CropList(document).substr(0, 70),
              "Page 1, [306.00,792.00,612.00,0.00]\nPage 1, [0.00,792.00,306.00,0.00]\n");
    document.Save().SetRightToLeft(false);

    // Crop all pages gives every page both, in order.
    document.Editing().ApplyRectToPages(crop::PagesOf(crop::PageSet::All, document.PageCount()));
    EXPECT_EQ(document.Pages().Set().OutputPageCount(), 6);
    EXPECT_EQ(document.Editing().SelectedRegion(), 1) << "the shown page keeps its selection";

    // Up to the limit, then a reason; each addition one undo step.
    for (int i = 2; i < crop::CropSet::kMaxRegions; ++i)
        document.Editing().AddRegion(CropRect{double(i), 10, double(i) + 100, 110}, false);
    EXPECT_EQ(document.Editing().PageRegions().size(), size_t(crop::CropSet::kMaxRegions));
    messages.clear();
    document.Editing().AddRegion(CropRect{0, 0, 50, 50}, false);
    EXPECT_EQ(document.Editing().PageRegions().size(), size_t(crop::CropSet::kMaxRegions));
    ASSERT_EQ(messages.count(), 1);
    EXPECT_NE(messages[0][0].toString().indexOf("at most 16 regions"), -1);
    document.Undo();
    EXPECT_EQ(document.Editing().PageRegions().size(), size_t(crop::CropSet::kMaxRegions - 1));
    EXPECT_EQ(File(document).find("page1.16="), std::string::npos) << "an undo reaches the file";

    // Delete Rectangle takes the selected region, Remove Cropbox them all.
    ASSERT_TRUE(document.Editing().SelectRegion(0));
    document.Editing().DeleteSelectedRegion();
    EXPECT_EQ(document.Pages().File().PageValue(1), "0.00,792.00,306.00,0.00");
    document.Editing().DeleteCurrentPageRect();
    EXPECT_TRUE(document.Editing().PageRegions().empty());
    EXPECT_EQ(File(document).find("page1"), std::string::npos);
    document.Undo();
    EXPECT_EQ(document.Editing().PageRegions().size(), size_t(crop::CropSet::kMaxRegions - 2));
}

// The main window with real widgets: menus, toolbar, status bar, splitter,
// command enabling and forwarding, the editing keys, the Open dialog, links
// and drops.

#include "app/command_state.h"
#include "app/main_frame.h"
#include "app/product_info.h"
#include "crop/model/crop_run.h"
#include "crop/model/document.h"
#include "crop/model/regions/region_edits.h"
#include "crop/view/crop_box_dialog.h"
#include "crop/view/page_size_dialog.h"
#include "crop/view/save_dialogs.h"
#include "crop/view/shrink_all_dialog.h"
#include "crop/view/split_pages_dialog.h"
#include "crop/view/orvane_view.h"
#include "panes/left_view.h"
#include "panes/outlier_list.h"
#include "platform/dialogs.h"
#include "render/page_source.h"
#include "res/command_ids.h"
#include "res/resources.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <QAction>
#include <QCheckBox>
#include <QApplication>
#include <QRadioButton>
#include <QScrollBar>
#include <QTimer>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QComboBox>
#include <QListWidget>
#include <QString>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QProcess>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QToolBar>
#include <QUrl>

#include <gtest/gtest.h>

#include <set>

#include <filesystem>
#include <fstream>

using namespace res;

namespace {

class MainFrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        app::SetUpProductInfo();
        frame = std::make_unique<app::CMainFrame>(document);
        document.Save().SetReportBeforeSaving(false);  // no save here waits on the report
        frame->resize(900, 700);
        frame->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(frame.get()));
    }
    void TearDown() override {
        platform::SetOpenFileHandler([](const std::string &) { return std::string(); });
        platform::SetOpenUrlHandler([](const std::string &) { return false; });
        platform::SetSaveFileHandler([](const std::string &, const std::string &) { return std::string(); });
        platform::SetQuestionHandler([](const std::string &, const std::string &) { return false; });
        crop::CropRun::SetToolPath(QString());
    }

    QStringList MenuTexts(const QString &title) {
        for (QAction *a : frame->menuBar()->actions())
            if (a->text() == title) {
                QStringList texts;
                for (QAction *item : a->menu()->actions())
                    texts << (item->isSeparator() ? QStringLiteral("-") : item->text());
                return texts;
            }
        return {};
    }

    crop::COrvaneDoc document;
    std::unique_ptr<app::CMainFrame> frame;
};

TEST_F(MainFrameTest, MenusToolbarStatusBarAndSplitterAreLaidOutAsTheTablesSay) {
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    QStringList tops;
    for (QAction *a : frame->menuBar()->actions())
        tops << a->text();
    EXPECT_EQ(tops, QStringList({"&File", "&Cut", "&View", "&Help"}));
    // The labels whole, shortcuts included, whether or not the key runs
    // the command.
    EXPECT_EQ(MenuTexts("&File"), QStringList({"&Open...\tCtrl+O", "Save &As...", "Restore Ori&ginal...", "&Close", "-",
                                               "&Print...\tCtrl+P", "Print Pre&view", "P&rint Setup...", "-",
                                               "Recent File", "-", "E&xit"}));
    EXPECT_EQ(MenuTexts("&Cut"), QStringList({"&Undo\tCtrl+Z",
                                              "&Redo\tCtrl+Y",
                                              "-",
                                              "Cu&t\tCtrl+X",
                                              "&Cut All\tCtrl+C",
                                              "&Delete Rectangle\tCtrl+V",
                                              "Crop &Box...\tCtrl+B",
                                              "Crop to Tri&m Box",
                                              "Crop to Bleed Bo&x",
                                              "Page Si&ze...",
                                              "S&plit Pages...",
                                              "Stra&ighten Pages...",
                                              "Lea&ve Out",
                                              "Rotate Pa&ges",
                                              "&Nudge",
                                              "Right to Le&ft",
                                              "-",
                                              "Remove &Hidden Content",
                                              "Allo&w Margins Past the Page",
                                              "R&eport Before Saving",
                                              "-",
                                              "&Auto Shrink",
                                              "&Shrink Current Page",
                                              "Shrink A&ll Pages...",
                                              "-",
                                              "&Overlay of All Pages...",
                                              "Pages to Chec&k"}));
    EXPECT_EQ(MenuTexts("&Help"), QStringList({"&Help...", "&Contact us...", "-", "&About..."}));

    QList<int> buttons;
    for (QAction *a : frame->ToolBar()->actions())
        buttons << (a->isSeparator() ? 0 : a->data().toInt());
    EXPECT_EQ(buttons, QList<int>({ID_FILE_OPEN,
                                   0,
                                   ID_FIRST_PAGE,
                                   ID_PREVIOUS_PAGE,
                                   ID_NEXT_PAGE,
                                   ID_LAST_PAGE,
                                   ID_ZOOM_IN,
                                   ID_ZOOM_OUT,
                                   0,
                                   ID_ACTUAL_SIZE,
                                   ID_ZOOM_FIT,
                                   ID_ZOOM_FIT_WIDTH,
                                   0,
                                   ID_REMOVE_CROPBOX,
                                   ID_SHRINK_CURRENT_PAGE,
                                   ID_CROP_ALL_PAGES,
                                   ID_SPLIT_PAGES,
                                   ID_OVERLAY_PAGES,
                                   ID_PREVIEW_COPY,
                                   0,
                                   ID_SAVE_FILE,
                                   0,
                                   ID_ABOUT_US}));
    EXPECT_EQ(frame->ToolBar()->iconSize(), QSize(48, 48));
    EXPECT_EQ(frame->Action(ID_FILE_OPEN)->statusTip(), "Open an existing document");
    EXPECT_EQ(frame->Action(ID_FILE_OPEN)->toolTip(), "Open");
    EXPECT_EQ(frame->Action(ID_SAVE_FILE)->toolTip(), "Save ");
    EXPECT_EQ(frame->Action(ID_NEXT_PAGE)->shortcut(), QKeySequence(Qt::Key_PageDown));
    EXPECT_EQ(frame->Action(ID_EDIT_CUT)->shortcuts().size(), 2);

    EXPECT_EQ(frame->PagePane()->text(), "Page No");
    EXPECT_EQ(frame->PagePane()->width(), 500);
    EXPECT_EQ(frame->Splitter()->sizes().first(), 150);
    EXPECT_EQ(frame->Splitter()->widget(0), frame->LeftView());
    EXPECT_EQ(frame->Splitter()->widget(1), frame->PageView());
}

TEST_F(MainFrameTest, WithoutAPageOnlyTheAlwaysAvailableCommandsAreEnabled) {
    for (int id = ID_FORWARD_FIRST; id <= ID_FORWARD_LAST; ++id) {
        QAction *a = frame->Action(id);
        if (!a)
            continue;
        const bool always = id == ID_ABOUT_US || id == ID_HELP || id == ID_CONTACT_US || id == ID_AUTO_SHRINK;
        EXPECT_EQ(a->isEnabled(), always) << id;
    }
    EXPECT_FALSE(frame->Action(ID_SAVE_AS_MENU)->isEnabled());
    EXPECT_FALSE(frame->Action(ID_FILE_SAVE)->isEnabled());  // Ctrl+S never overwrites the opened file
    EXPECT_FALSE(frame->Action(ID_EDIT_COPY)->isEnabled());
    EXPECT_FALSE(frame->Action(ID_EDIT_UNDO)->isEnabled());
    EXPECT_FALSE(frame->Action(ID_EDIT_REDO)->isEnabled());
    EXPECT_TRUE(frame->Action(ID_FILE_OPEN)->isEnabled());
    EXPECT_TRUE(frame->Action(ID_APP_EXIT)->isEnabled());
}

TEST(CommandState, FollowsThePictureTheOpenDocumentAndTheActivePane) {
    using app::CommandContext;
    const CommandContext nothing;
    const CommandContext shown{true, true, false, false};
    const CommandContext shownInView{true, true, false, true};
    const CommandContext noPicture{false, true, false, true};  // a metafile
    struct Row {
        int id;
        bool nothingOpen, pageShown, pageShownInView, withoutPicture;
    };
    const Row rows[] = {
        {ID_NEXT_PAGE, false, true, true, false},
        {ID_ZOOM_IN, false, true, true, false},
        {ID_CLOSE, false, true, true, true},
        {ID_FILE_SAVE_AS, false, true, true, false},
        {ID_SAVE_AS_MENU, false, true, true, false},
        {ID_EDIT_CUT, false, true, true, false},
        {ID_CUT_ALL, false, true, true, false},
        {ID_FILE_PRINT, false, false, true, false},
        {ID_FILE_PRINT_PREVIEW, false, false, true, false},
        {ID_FILE_PRINT_SETUP, true, true, true, true},
        {ID_FILE_SAVE, false, false, false, false},
        {ID_EDIT_COPY, false, true, true, false},
        {ID_EDIT_PASTE, false, true, true, false},
        {ID_EDIT_UNDO, false, false, false, false},
        {ID_ABOUT_US, true, true, true, true},
        {ID_FILE_OPEN, true, true, true, true},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(app::CommandStateFor(r.id, nothing).enabled, r.nothingOpen) << r.id;
        EXPECT_EQ(app::CommandStateFor(r.id, shown).enabled, r.pageShown) << r.id;
        EXPECT_EQ(app::CommandStateFor(r.id, shownInView).enabled, r.pageShownInView) << r.id;
        EXPECT_EQ(app::CommandStateFor(r.id, noPicture).enabled, r.withoutPicture) << r.id;
    }
    EXPECT_TRUE(app::CommandStateFor(ID_AUTO_SHRINK, CommandContext{false, false, true, false}).checked);
    CommandContext history;
    history.canUndo = true;
    EXPECT_TRUE(app::CommandStateFor(ID_EDIT_UNDO, history).enabled);
    EXPECT_FALSE(app::CommandStateFor(ID_EDIT_REDO, history).enabled);
}

TEST_F(MainFrameTest, EveryToolbarButtonHasItsOwnPictureFromTheStripWithTransparentCorners) {
    std::set<qint64> pictures;
    for (int i = 0; i < res::kButtonPictureCount; ++i) {
        const QImage picture = res::ButtonPicture(i).toImage();
        ASSERT_EQ(picture.size(), QSize(48, 48)) << i;
        EXPECT_TRUE(picture.hasAlphaChannel());
        pictures.insert(qint64(qHashBits(picture.constBits(), size_t(picture.sizeInBytes()))));
    }
    EXPECT_EQ(pictures.size(), size_t(res::kButtonPictureCount));  // all different pictures
    EXPECT_TRUE(res::ButtonPicture(res::kButtonPictureCount).isNull());
    EXPECT_EQ(qAlpha(res::ButtonPicture(14).toImage().pixel(0, 0)), 0);  // the information sign is round
    EXPECT_FALSE(res::ApplicationIcon().pixmap(256, 256).isNull());
}

TEST_F(MainFrameTest, AboutFromTheMenuAndTheToolbarShowsTheAboutBoxAndHelpOpensTheProductPage) {
    QStringList shown;
    frame->SetAboutHandler([&](QDialog &about) { shown << about.windowTitle(); });
    frame->OnCommand(ID_APP_ABOUT);
    frame->OnCommand(ID_ABOUT_US);
    EXPECT_EQ(shown, QStringList({"Sorrel Orvane v2.0", "Sorrel Orvane v2.0"}));
    std::vector<std::string> opened;
    platform::SetOpenUrlHandler([&](const std::string &url) {
        opened.push_back(url);
        return true;
    });
    frame->OnCommand(ID_HELP);
    frame->OnCommand(ID_CONTACT_US);
    EXPECT_EQ(opened, std::vector<std::string>(2, app::Product().productPage));
}

TEST_F(MainFrameTest, AutoShrinkIsForwardedAndShowsItsCheckMark) {
    QAction *autoShrink = frame->Action(ID_AUTO_SHRINK);
    EXPECT_FALSE(autoShrink->isChecked());
    autoShrink->trigger();
    EXPECT_TRUE(document.AutoShrink());
    EXPECT_TRUE(autoShrink->isChecked());
    frame->OnCommand(ID_AUTO_SHRINK);
    EXPECT_FALSE(autoShrink->isChecked());
}

TEST_F(MainFrameTest, OpenAsksForAFileAndHelpOpensTheProductPage) {
    QSignalSpy opened(frame.get(), &app::CMainFrame::OpenFileRequested);
    std::string filterSeen;
    platform::SetOpenFileHandler([&](const std::string &filter) {
        filterSeen = filter;
        return std::string("/tmp/a file.pdf");
    });
    QTest::keyClick(frame.get(), Qt::Key_O, Qt::ControlModifier);
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toString(), "/tmp/a file.pdf");
    EXPECT_FALSE(opened.at(0).at(1).toBool());
    EXPECT_NE(filterSeen.find("*.pdf"), std::string::npos);
    platform::SetOpenFileHandler([](const std::string &) { return std::string(); });  // cancelled
    frame->OnCommand(ID_FILE_OPEN);
    EXPECT_EQ(opened.count(), 1);

    std::vector<std::string> urls;
    platform::SetOpenUrlHandler([&](const std::string &url) {
        urls.push_back(url);
        return true;
    });
    frame->Action(ID_HELP)->trigger();
    frame->Action(ID_CONTACT_US)->trigger();
    ASSERT_EQ(urls.size(), 2u);
    EXPECT_EQ(urls[0], app::Product().productPage);
    EXPECT_EQ(urls[1], app::Product().productPage);
}

TEST_F(MainFrameTest, RecentFilesFillTheirPlaceInTheFileMenu) {
    frame->SetRecentFiles({"/tmp/one.pdf", "/tmp/two.pdf"});
    EXPECT_EQ(MenuTexts("&File"), QStringList({"&Open...\tCtrl+O", "Save &As...", "Restore Ori&ginal...", "&Close", "-",
                                               "&Print...\tCtrl+P", "Print Pre&view", "P&rint Setup...", "-",
                                               "&1 /tmp/one.pdf", "&2 /tmp/two.pdf", "-", "E&xit"}));
    QSignalSpy opened(frame.get(), &app::CMainFrame::OpenRecentRequested);
    frame->Action(ID_FILE_MRU_FIRST + 1)->trigger();
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toInt(), 1);
    frame->SetRecentFiles({});
    EXPECT_TRUE(MenuTexts("&File").contains("Recent File"));
}

TEST_F(MainFrameTest, ADropOpensOnlyTheFirstFileWithItsWholePath) {
    QSignalSpy opened(frame.get(), &app::CMainFrame::OpenFileRequested);
    const QString longPath = "/tmp/" + QString(260, 'x') + "/deep folder/file.pdf";
    QMimeData data;
    data.setUrls(
        {QUrl::fromLocalFile(longPath), QUrl::fromLocalFile("/tmp/second.pdf"), QUrl::fromLocalFile("/tmp/third.pdf")});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame.get(), &drop);
    ASSERT_EQ(opened.count(), 1);
    EXPECT_EQ(opened.at(0).at(0).toString(), longPath);
    EXPECT_TRUE(opened.at(0).at(1).toBool());
}

TEST_F(MainFrameTest, CtrlNAsksForANewDocumentAndTheTitleFollowsTheDocument) {
    QSignalSpy fresh(frame.get(), &app::CMainFrame::NewDocumentRequested);
    QTest::keyClick(frame.get(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(fresh.count(), 1);
    frame->SetDocumentTitle("sample.pdf");
    EXPECT_EQ(frame->windowTitle(), "sample.pdf - Sorrel Orvane v2.0");
    frame->SetPageText("Page No: 3");
    EXPECT_EQ(frame->PagePane()->text(), "Page No: 3");
}

TEST_F(MainFrameTest, TheActivePaneIsTheOneThatLastHadTheFocus) {
    EXPECT_EQ(frame->ActivePane(), app::CMainFrame::Pane::Left);
    frame->PageView()->setFocus();
    EXPECT_EQ(frame->ActivePane(), app::CMainFrame::Pane::PageView);
    // The toolbar or the menu taking the focus changes nothing.
    frame->ToolBar()->setFocus();
    EXPECT_EQ(frame->ActivePane(), app::CMainFrame::Pane::PageView);
    QTest::keyClick(frame.get(), Qt::Key_F6);  // the next pane
    EXPECT_EQ(frame->ActivePane(), app::CMainFrame::Pane::Left);
}

TEST_F(MainFrameTest, TheEditingKeysDoWhatTheMenuSaysFromEitherPaneAndUndoRedoesThem) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    QAction *undo = frame->Action(ID_EDIT_UNDO);
    QAction *redo = frame->Action(ID_EDIT_REDO);
    EXPECT_FALSE(undo->isEnabled());
    document.Editing().SetCurrentPageRect(crop::CropRect{10, 20, 300, 400}, false);
    EXPECT_TRUE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());

    frame->LeftView()->setFocus();
    // Ctrl+C copies the region and Ctrl+V pastes it onto the shown page:
    // neither gives it to every page nor deletes it.
    QTest::keyClick(frame.get(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(document.Pages().Set().RegionCount(2), 0);
    frame->OnCommand(ID_NEXT_PAGE);
    QTest::keyClick(frame.get(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(document.Editing().CropRectangle(), (crop::CropRect{10, 20, 300, 400}));
    EXPECT_EQ(frame->statusBar()->currentMessage(), "Pasted the region onto page 2.");
    QTest::keyClick(frame.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(document.Pages().Set().RegionCount(2), 0) << "the paste is one step";
    frame->OnCommand(ID_PREVIOUS_PAGE);
    EXPECT_EQ(document.Pages().Set().RegionCount(1), 1);
    QTest::keyClick(frame.get(), Qt::Key_Delete);  // Delete Rectangle
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());
    QTest::keyClick(frame.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(document.Editing().CropRectangle(), (crop::CropRect{10, 20, 300, 400}));
    EXPECT_TRUE(redo->isEnabled());
    QTest::keyClick(frame.get(), Qt::Key_Y, Qt::ControlModifier);
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());
    QTest::keyClick(frame.get(), Qt::Key_Backspace, Qt::AltModifier);
    EXPECT_FALSE(document.Editing().CropRectangle().IsEmpty());
    QTest::keyClick(frame.get(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());
    document.Undo();
    frame->PageView()->setFocus();
    QTest::keyClick(frame.get(), Qt::Key_Delete);  // Delete Rectangle again
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());
    frame->LeftView()->setFocus();
    QTest::keyClick(frame.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(frame->Action(ID_EDIT_CUT)->isEnabled()) << "Ctrl+X saves after an undo, from either pane";
    QTest::keyClick(frame.get(), Qt::Key_Delete);  // and Delete as well
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());
    EXPECT_TRUE(frame->Action(ID_EDIT_COPY)->isEnabled()) << "Ctrl+C copies";

    // Opening a document anew takes the history with the rectangles.
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    EXPECT_FALSE(undo->isEnabled());
    EXPECT_FALSE(redo->isEnabled());
}

TEST_F(MainFrameTest, TheReportBeforeSavingTellsWhatTheCopyWillChangeAndCanBeTurnedOff) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf"), out = dir.file("out.pdf");
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {612, 792}});
    plan.pages[0].links.push_back({{20, 700, 120, 720}, 2, {}});
    fixtures::WritePdf(plan, path);
    platform::SetSaveFileHandler([&](const std::string &, const std::string &) { return out; });
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    document.Editing().SetCurrentPageRect(crop::CropRect{200, 200, 500, 600}, false);
    document.Save().SetReportBeforeSaving(true);
    QString shown;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<crop::CSaveReportDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        shown = dialog->findChild<QLabel *>("report")->text();
        dialog->findChild<QCheckBox *>()->setChecked(true);
        dialog->reject();  // Cancel
    });
    answer.start(10);
    frame->OnCommand(ID_SAVE_AS_MENU);
    answer.stop();
    EXPECT_NE(shown.indexOf("Of the 2 pages, 1 will be cropped and 1 will be left as it is."), -1)
        << shown.toStdString();
    EXPECT_NE(shown.indexOf("1 link on page 1"), -1) << shown.toStdString();
    EXPECT_NE(shown.indexOf("Remove Hidden Content"), -1) << "how to remove what the crop hides";
    EXPECT_NE(document.Busy(), crop::Busy::CropRun) << "Cancel writes nothing";
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_FALSE(document.Save().ReportBeforeSaving()) << "Don't show this again";
    EXPECT_FALSE(frame->Action(ID_REPORT_BEFORE_SAVING)->isChecked());
}

TEST_F(MainFrameTest, WhileACroppedCopyIsWrittenTheDocumentIsHeldAndClosingAsksFirst) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf"), tool = dir.file("slow tool");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), path);
    std::ofstream(tool) << "#!/bin/sh\nexec sleep 30\n";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    crop::CropRun::SetToolPath(QString::fromStdString(tool));
    platform::SetSaveFileHandler([&](const std::string &, const std::string &) { return dir.file("out.pdf"); });
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    document.Editing().SetCurrentPageRect(crop::CropRect{10, 20, 300, 400}, false);
    frame->OnCommand(ID_SAVE_AS_MENU);
    ASSERT_EQ(document.Busy(), crop::Busy::CropRun);
    for (int id : {ID_FILE_OPEN, ID_CLOSE, ID_SAVE_AS_MENU, ID_SAVE_FILE, ID_CROP_ALL_PAGES, ID_REMOVE_CROPBOX,
                   ID_SHRINK_CURRENT_PAGE, ID_EDIT_UNDO, ID_EDIT_PASTE})
        EXPECT_FALSE(frame->Action(id)->isEnabled()) << id;
    EXPECT_TRUE(frame->Action(ID_NEXT_PAGE)->isEnabled()) << "reading on is no change";

    int asked = 0;
    bool answer = false;
    platform::SetQuestionHandler([&](const std::string &, const std::string &) {
        ++asked;
        return answer;
    });
    EXPECT_FALSE(frame->close());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(document.Busy(), crop::Busy::CropRun);
    answer = true;
    EXPECT_TRUE(frame->close());
    EXPECT_NE(document.Busy(), crop::Busy::CropRun);
    EXPECT_TRUE(frame->Action(ID_FILE_OPEN)->isEnabled()) << "free again";
    EXPECT_TRUE(frame->Action(ID_EDIT_UNDO)->isEnabled());
}

TEST_F(MainFrameTest, CropToTrimBoxCropsThePagesThatHaveOneInOneStepAndNamesTheOthers) {
    fixtures::TempDir dir;
    const std::string path = dir.file("print.pdf");
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{700, 900}, {700, 900}, {700, 900}});
    plan.pages[0].trimBox = fixtures::Box{50, 60, 650, 850};
    plan.pages[2].own.rotate = 90;  // shown 900 wide, 700 high
    plan.pages[2].trimBox = fixtures::Box{100, 50, 600, 850};
    fixtures::WritePdf(plan, path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    frame->OnCommand(ID_CROP_TO_TRIM_BOX);
    // As shown: from the top-left corner, y down; the turned page's box turned.
    const crop::CropSet &set = document.Pages().Set();
    ASSERT_EQ(set.Regions(1).size(), 1u);
    EXPECT_EQ(crop::ShownFrom(set.Regions(1)[0], 900), (crop::CropRect{50, 50, 650, 840}));
    EXPECT_TRUE(set.Regions(2).empty());
    ASSERT_EQ(set.Regions(3).size(), 1u);
    EXPECT_EQ(crop::ShownFrom(set.Regions(3)[0], 700), (crop::CropRect{50, 100, 850, 600}));
    EXPECT_EQ(
        frame->statusBar()->currentMessage().toStdString(),
        "Crop to Trim Box: 2 of 3 pages cropped to their trim box; page 2 has no trim box and keeps what it had.");
    document.Undo();
    EXPECT_TRUE(set.Regions(1).empty());
    EXPECT_TRUE(set.Regions(3).empty());
}

TEST_F(MainFrameTest, LeaveOutTakesTheShownPageOutOfTheCopyButNeverTheLastOne) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    document.Editing().SetCurrentPageRect(crop::CropRect{10, 20, 300, 400}, false);
    frame->OnCommand(ID_LEAVE_OUT);
    EXPECT_TRUE(document.Pages().Set().LeftOut(1));
    EXPECT_TRUE(frame->Action(ID_LEAVE_OUT)->isChecked());
    EXPECT_EQ(frame->statusBar()->currentMessage().toStdString(), "The copy will have 1 page.");
    EXPECT_EQ(document.Save().ExportCropList(), "Page 1, left out\nPage 2, [0.00,0.00,0.00,0.00]\n");
    document.ShowPage(2);
    frame->OnCommand(ID_LEAVE_OUT);  // the last page of the copy stays
    EXPECT_FALSE(document.Pages().Set().LeftOut(2));
    document.Undo();  // page 1 back, with its region
    EXPECT_FALSE(document.Pages().Set().LeftOut(1));
    EXPECT_EQ(document.Pages().Set().Regions(1).size(), 1u);
    // Delete in the strip leaves its page out; the region stays for when it is put back.
    document.ShowPage(1);
    frame->LeftView()->Strip()->setFocus();
    QTest::keyClick(frame->LeftView()->Strip(), Qt::Key_Delete);
    EXPECT_TRUE(document.Pages().Set().LeftOut(1));
    EXPECT_EQ(document.Pages().Set().Regions(1).size(), 1u);
}

TEST_F(MainFrameTest, RotateTurnsThePageAndItsRegionsAsShownAndTheCopyGetsThemBackOnTheFilesPage) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    document.Editing().SetCurrentPageRect(crop::CropRect{10, 20, 300, 400}, false);
    frame->OnCommand(ID_ROTATE_RIGHT);
    // Shown a quarter turned: 792 wide, the region turned with the page.
    const auto size = document.ShownPageSize(1);
    ASSERT_TRUE(size);
    EXPECT_EQ(*size, (std::pair<double, double>(792, 612)));
    EXPECT_EQ(document.Editing().PageRegions(), (std::vector<crop::CropRect>{{392, 10, 772, 300}}));
    EXPECT_EQ(document.Save().ExportCropList(),
              "Page 1, [10.00,772.00,300.00,392.00]\nPage 2, [0.00,0.00,0.00,0.00]\nPage 1, rotate 90\n");
    frame->OnCommand(ID_ROTATE_LEFT);
    frame->OnCommand(ID_ROTATE_LEFT);  // three quarters round from the file's page
    EXPECT_EQ(document.Pages().Set().Rotation(1), 270);
    EXPECT_EQ(document.Editing().PageRegions(), (std::vector<crop::CropRect>{{20, 312, 400, 602}}));
    EXPECT_EQ(document.Pages().File().PageRotation(1), 270) << "kept in the crop file";
    document.Undo();
    document.Undo();
    document.Undo();  // one step each
    EXPECT_EQ(document.Pages().Set().Rotation(1), 0);
    EXPECT_EQ(*document.ShownPageSize(1), (std::pair<double, double>(612, 792)));
    EXPECT_EQ(document.Editing().PageRegions(), (std::vector<crop::CropRect>{{10, 20, 300, 400}}));
    document.ShowPage(2);  // a page without a region turns too, as a step
    frame->OnCommand(ID_ROTATE_180);
    EXPECT_EQ(document.Pages().Set().Rotation(2), 180);
    document.Undo();
    EXPECT_EQ(document.Pages().Set().Rotation(2), 0);
}

TEST_F(MainFrameTest, PageSizeGrowsCropsToAReadersAspectOrPlacesThemOnPaperInOneStep) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    document.Editing().SetCurrentPageRect(crop::CropRect{100, 100, 300, 400}, false);
    QTimer::singleShot(0, frame.get(), [] {
        auto *dialog = qobject_cast<crop::CPageSizeDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTimer::singleShot(3000, dialog, [dialog] { dialog->reject(); });
        dialog->RatioChoice()->setChecked(true);
        dialog->Ratio()->setCurrentIndex(0);      // a reader from the list, 3:4
        dialog->PagesList()->setCurrentIndex(0);  // all pages
        dialog->accept();
    });
    frame->OnCommand(ID_PAGE_SIZE);
    // Grown, never cut, evenly: 200 x 300 wider, the whole second page taller;
    // the reader's status line at the top a blank margin over it.
    const crop::CropRect first = document.Editing().PageRegions().at(0);
    EXPECT_NEAR(first.bottom, 400, 0.01);
    EXPECT_NEAR(first.left + first.right, 400, 0.01) << "evenly across";
    EXPECT_NEAR((first.right - first.left) * 4, (first.bottom - first.top) * 3, 0.01);
    EXPECT_NEAR(first.top, 100 - 0.03 * (first.bottom - first.top), 0.01);
    const crop::CropRect second = crop::ShownFrom(document.Pages().Set().Regions(2).at(0), 792);
    EXPECT_NEAR((second.right - second.left) * 4, (second.bottom - second.top) * 3, 0.1);  // kept to 0.01 pt
    EXPECT_GE(second.right - second.left, 612 - 0.01);
    EXPECT_TRUE(document.Save().AddMargins()) << "the room added lies past the page";
    EXPECT_TRUE(frame->Action(ID_ADD_MARGINS)->isChecked()) << "and the menu shows it";
    document.Undo();
    EXPECT_TRUE(document.Pages().Set().Regions(2).empty()) << "one step";
    // On A5 at the top: the region's top stays, the paper centred across it.
    const crop::PageEditing::Shaped shaped =
        document.Pages().ShapePages({1, 2}, crop::PaperSize{419.53, 595.28}, crop::Anchor::Top, std::nullopt);
    EXPECT_EQ(shaped.cut, std::vector<int>{2}) << "the whole page is larger than A5";
    const crop::CropRect onTop = document.Editing().PageRegions().at(0);
    EXPECT_NEAR(onTop.top, 100, 0.01);
    EXPECT_NEAR(onTop.left, 200 - 419.53 / 2, 0.01);  // round the undone region
    EXPECT_NEAR(onTop.bottom - onTop.top, 595.28, 0.01);
    // Drawn smaller instead: the whole second page on A5, its width all of the paper's.
    document.Undo();
    const crop::PageEditing::Shaped fitted =
        document.Pages().ShapePages({2}, crop::PaperSize{419.53, 595.28}, crop::Anchor::Centre, std::nullopt, true);
    EXPECT_EQ(fitted.scaled, std::vector<int>{2});
    EXPECT_TRUE(fitted.cut.empty());
    const crop::CropRect whole = crop::ShownFrom(document.Pages().Set().Regions(2).at(0), 792);
    EXPECT_NEAR(whole.right - whole.left, 612, 0.01);
    EXPECT_NEAR((whole.bottom - whole.top) * 419.53 / 612, 595.28, 0.01);
    EXPECT_NE(document.Save().ExportCropList().find("Page 2, scale 0.685"), std::string::npos)
        << document.Save().ExportCropList();
    EXPECT_NEAR(document.Pages().File().PageScale(2), 0.6855, 0.0001) << "kept in the crop file";
    // Zoom Fit takes in the margins added above and below the page.
    document.ShowPage(2);
    frame->PageView()->OnCommand(ID_ZOOM_FIT);
    QScrollBar *down = frame->PageView()->verticalScrollBar();
    EXPECT_EQ(down->minimum(), down->maximum()) << "nothing left to scroll to";
    EXPECT_LT(down->value(), 0) << "the band above the page in sight";
    // A region changed by hand is drawn whole again; the page without one too.
    document.Editing().DeleteSelectedRegion();
    EXPECT_EQ(document.Pages().Set().Scale(2), 1);
    EXPECT_EQ(document.Save().ExportCropList().find("scale"), std::string::npos);
    document.Undo();
    EXPECT_NE(document.Pages().Set().Scale(2), 1) << "and back with the undo";
    document.Undo();
    EXPECT_EQ(document.Pages().Set().Scale(2), 1) << "the scale goes with the step";
}

TEST_F(MainFrameTest, RestoreOriginalWritesTheOriginalOfACopyOrSaysWhyNot) {
    fixtures::TempDir dir;
    const std::string in = dir.file("in.pdf"), list = dir.file("list.txt"), copy = dir.file("copy.pdf"),
                      out = dir.file("original.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), in);
    std::ofstream(list) << "Page 1, [10,700,500,20]\n";
    QProcess crop;
    crop.start(QUORREL_PATH, {"-s", QString::fromStdString("setcropfile=" + list), "-i", QString::fromStdString(in),
                              "-o", QString::fromStdString(copy)});
    ASSERT_TRUE(crop.waitForFinished(60000));
    ASSERT_EQ(crop.exitCode(), 0);
    crop::CropRun::SetToolPath(QUORREL_PATH);
    std::string asked;
    platform::SetOpenFileHandler([&](const std::string &) { return asked; });
    platform::SetSaveFileHandler([&](const std::string &, const std::string &) { return out; });
    std::vector<std::string> shown;
    platform::SetMessageHandler(
        [&](const std::string &, const std::string &text, platform::MessageIcon) { shown.push_back(text); });
    asked = copy;
    frame->OnCommand(ID_RESTORE_ORIGINAL);
    EXPECT_TRUE(shown.empty());
    EXPECT_EQ(fixtures::ReadFileBytes(out), fixtures::ReadFileBytes(in));
    EXPECT_EQ(frame->statusBar()->currentMessage().toStdString(),
              "The original of " + copy + " was written to " + out + ".");
    // The input itself is no copy: nothing is written, and the user is told.
    std::filesystem::remove(out);
    asked = in;
    frame->OnCommand(ID_RESTORE_ORIGINAL);
    platform::SetMessageHandler({});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].rfind("The original cannot be written: " + in + " is not a cropped copy", 0), 0u) << shown[0];
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST_F(MainFrameTest, WhatTheCropToolWarnsOfOnASuccessfulSaveIsShown) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf"), tool = dir.file("warning tool"), out = dir.file("out.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), path);
    // Copies IN to OUT and warns, as the tool does for a certified file.
    // Thirty more lines after it: the box shows the first of them.
    std::ofstream(tool) << "#!/bin/sh\ncp \"$4\" \"$6\"\n"
                           "echo 'quorrel: removed outside the crops: 13805 glyphs of text' >&2\n"
                           "echo 'quorrel: warning: the file is certified' >&2\n"
                           "for i in $(seq 30); do echo \"quorrel: warning: line $i\" >&2; done\n";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    crop::CropRun::SetToolPath(QString::fromStdString(tool));
    platform::SetSaveFileHandler([&](const std::string &, const std::string &) { return out; });
    std::vector<std::pair<std::string, platform::MessageIcon>> shown;
    platform::SetMessageHandler([&](const std::string &, const std::string &text, platform::MessageIcon icon) {
        shown.push_back({text, icon});
    });
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    document.Editing().SetCurrentPageRect(crop::CropRect{10, 20, 300, 400}, false);
    frame->OnCommand(ID_SAVE_AS_MENU);
    QTRY_VERIFY_WITH_TIMEOUT(document.Busy() != crop::Busy::CropRun, 20000);
    platform::SetMessageHandler({});
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].second, platform::MessageIcon::Information);
    EXPECT_EQ(shown[0].first.rfind("The cropped document was written to " + out + ".", 0), 0u) << shown[0].first;
    // In the window's words: no tool name, thousands grouped.
    EXPECT_NE(
        shown[0].first.find("\n\nRemoved outside the crops: 13,805 glyphs of text\nWarning: the file is certified"),
        std::string::npos)
        << shown[0].first;
    // The first lines and the last are kept.
    EXPECT_NE(shown[0].first.find("line 2\n… 18 more lines …\nWarning: line 21\n"), std::string::npos)
        << shown[0].first;
    EXPECT_NE(shown[0].first.find("line 30"), std::string::npos);
    EXPECT_EQ(frame->statusBar()->currentMessage().toStdString(), "The cropped document was written to " + out + ".");
}

TEST_F(MainFrameTest, RectanglesNotSavedAreGivenUpOnlyWhenTheUserSaysSo) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    int asked = 0;
    bool answer = false;
    platform::SetQuestionHandler([&](const std::string &, const std::string &) {
        ++asked;
        return answer;
    });
    frame->OnCommand(ID_FILE_NEW);  // nothing drawn: nothing asked
    EXPECT_EQ(asked, 0);
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    document.Editing().SetCurrentPageRect(crop::CropRect{10, 20, 300, 400}, false);
    frame->OnCommand(ID_CLOSE);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(document.IsOpen()) << "No keeps them";
    EXPECT_FALSE(frame->close());
    EXPECT_EQ(asked, 2);
    answer = true;
    frame->OnCommand(ID_CLOSE);
    EXPECT_FALSE(document.IsOpen());
}

}  // namespace

namespace {
// The dialog the next command shows is accepted as it opens.
void AcceptNextDialog() {
    QTimer::singleShot(0, [] {
        if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
            dialog->accept();
    });
}
}  // namespace

TEST_F(MainFrameTest, ShrinkAllPagesHoldsTheDocumentEscStopsItAndThePagesToCheckLeadToTheirPages) {
    fixtures::TempDir dir;
    fixtures::DocPlan plan;
    for (int i = 0; i < 40; ++i) {
        fixtures::PagePlan p;
        p.own.mediaBox = fixtures::Box{0, 0, 612, 792};
        if (i != 6) {  // page 7 is blank
            p.blackRects = {{100, 100, 500, 700}};
            p.richContent = true;
        }
        plan.pages.push_back(p);
    }
    const std::string path = dir.file("forty.pdf");
    fixtures::WritePdf(plan, path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));

    // The dialog's Shrink starts it; meanwhile what would change the
    // document is disabled.
    AcceptNextDialog();
    frame->OnCommand(ID_SHRINK_ALL_PAGES);
    ASSERT_EQ(document.Busy(), crop::Busy::ShrinkAll);
    for (int id : {ID_FILE_OPEN, ID_SAVE_AS_MENU, ID_CROP_ALL_PAGES, ID_REMOVE_CROPBOX, ID_SHRINK_CURRENT_PAGE,
                   ID_SHRINK_ALL_PAGES, ID_EDIT_UNDO})
        EXPECT_FALSE(frame->Action(id)->isEnabled()) << id;
    EXPECT_TRUE(frame->Action(ID_STOP_WORK)->isEnabled());
    // Esc stops it; nothing changed.
    // Back from the dialog, the window has the keyboard again.
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    frame->PageView()->setFocus();
    QTest::keyClick(frame->PageView(), Qt::Key_Escape);
    EXPECT_NE(document.Busy(), crop::Busy::ShrinkAll);
    EXPECT_TRUE(frame->Action(ID_FILE_OPEN)->isEnabled());
    EXPECT_FALSE(document.Pages().History().CanUndo());

    // Run to the end, the blank page is listed, and choosing it shows it.
    ASSERT_TRUE(document.Whole().ShrinkAllPages({}, reason));
    ASSERT_TRUE(QTest::qWaitFor([&] { return document.Busy() != crop::Busy::ShrinkAll; }, 30000));
    EXPECT_TRUE(document.Pages().History().CanUndo());
    // The new rectangle is drawn, though no mouse drew it.
    ASSERT_FALSE(document.Editing().CropRectangle().IsEmpty());
    const QImage shot = frame->PageView()->viewport()->grab().toImage();
    int red = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            red += shot.pixelColor(x, y) == QColor(Qt::red);
    EXPECT_GT(red, 100);
    QListWidget *list = frame->OutlierList()->List();
    ASSERT_TRUE(frame->OutlierList()->isVisible()) << list->count() << " " << document.Whole().Outliers().size();
    ASSERT_EQ(list->count(), 1);
    EXPECT_TRUE(list->item(0)->text().startsWith("Page 7: blank"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(0)).center());
    EXPECT_EQ(document.CurrentPage(), 7);
}

TEST_F(MainFrameTest, TheOverlayButtonIsCheckedWhileTheOverlayIsWantedAndUnchecksItself) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {400, 500}}), path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    AcceptNextDialog();
    frame->OnCommand(ID_OVERLAY_PAGES);
    EXPECT_TRUE(frame->Action(ID_OVERLAY_PAGES)->isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return document.Overlay().Shown(); }, 30000));
    EXPECT_EQ(frame->PageView()->PagePicture().PageRect(), QRect(0, 0, 612, 792));
    frame->OnCommand(ID_NEXT_PAGE);
    EXPECT_FALSE(document.Overlay().Wanted());
    EXPECT_FALSE(frame->Action(ID_OVERLAY_PAGES)->isChecked());
}

TEST_F(MainFrameTest, ARectangleDrawnOnTheOverlayGoesToItsPagesOrIsLeftOnlyAsTheUserSays) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf"), out = dir.file("out.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {400, 500}}), path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    platform::Answer answer = platform::Answer::Cancel;
    int asked = 0;
    platform::SetChoiceHandler([&](const std::string &, const std::string &text) {
        ++asked;
        EXPECT_NE(text.find("2 pages of the overlay"), std::string::npos) << text;
        return answer;
    });
    std::vector<std::string> messages;
    platform::SetMessageHandler(
        [&](const std::string &, const std::string &text, platform::MessageIcon) { messages.push_back(text); });
    auto overlay = [&] {
        AcceptNextDialog();
        frame->OnCommand(ID_OVERLAY_PAGES);
        ASSERT_TRUE(QTest::qWaitFor([&] { return document.Overlay().Shown(); }, 30000));
        document.Editing().SetCurrentPageRect(crop::CropRect{50, 60, 300, 400}, true);
    };

    // Cancel stays on the overlay, No leaves it and the pages as they were.
    overlay();
    frame->OnCommand(ID_NEXT_PAGE);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(document.Overlay().Shown());
    EXPECT_TRUE(frame->Action(ID_OVERLAY_PAGES)->isChecked());
    EXPECT_EQ(document.CurrentPage(), 1);
    answer = platform::Answer::No;
    frame->OnCommand(ID_OVERLAY_PAGES);
    EXPECT_FALSE(document.Overlay().Wanted());
    EXPECT_FALSE(crop::HasCroppingRegion(document.Pages().Set()));
    EXPECT_FALSE(frame->Action(ID_EDIT_UNDO)->isEnabled());

    // A save that would crop nothing says so, and asks for no file.
    platform::SetSaveFileHandler([&](const std::string &, const std::string &) {
        ADD_FAILURE() << "no file is asked for";
        return out;
    });
    frame->OnCommand(ID_SAVE_AS_MENU);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "No page has a crop rectangle; nothing was cropped.");
    EXPECT_FALSE(std::filesystem::exists(out));

    // Yes gives every page of it the rectangle, as Crop all pages does.
    overlay();
    answer = platform::Answer::Yes;
    frame->OnCommand(ID_NEXT_PAGE);
    EXPECT_EQ(document.CurrentPage(), 2);
    EXPECT_FALSE(document.Overlay().Wanted());
    EXPECT_EQ(document.Editing().CropRectangle(), (crop::CropRect{50, 60, 300, 400}));
    EXPECT_TRUE(frame->Action(ID_EDIT_UNDO)->isEnabled());

    // Saved from the overlay, its rectangle is settled first, then written.
    overlay();
    document.Editing().SetCurrentPageRect(crop::CropRect{20, 30, 120, 230}, true);
    platform::SetSaveFileHandler([&](const std::string &, const std::string &) { return out; });
    QSignalSpy finished(&document, &crop::COrvaneDoc::CropRunFinished);
    const int before = asked;
    frame->OnCommand(ID_SAVE_AS_MENU);
    EXPECT_EQ(asked, before + 1);
    ASSERT_TRUE(finished.wait(30000));
    EXPECT_TRUE(finished.first().at(0).toBool()) << finished.first().at(1).toString().toStdString();
    std::unique_ptr<render::PageSource> copy = render::PageSource::Open(out, 1);
    ASSERT_NE(copy, nullptr);
    for (int page = 1; page <= 2; ++page) {
        render::PageExtent e;
        copy->PageExtent(page, &e, 0);
        EXPECT_NEAR(e.x2 - e.x1, 100, 0.01) << page;
        EXPECT_NEAR(e.y2 - e.y1, 200, 0.01) << page;
    }
    platform::SetChoiceHandler([](const std::string &, const std::string &) { return platform::Answer::Cancel; });
    platform::SetMessageHandler([](const std::string &, const std::string &, platform::MessageIcon) {});
}

TEST_F(MainFrameTest, F5PreviewsTheCopyDimmingOutsideTheRegionsAndCountingItsPages) {
    fixtures::TempDir dir;
    const std::string path = dir.file("three.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}, {612, 792}}), path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    frame->PageView()->OnCommand(ID_ACTUAL_SIZE);
    document.Editing().SetCurrentPageRect(crop::CropRect{0, 0, 300, 792}, false);
    document.Editing().AddRegion(crop::CropRect{312, 0, 612, 792}, false);
    frame->PageView()->setFocus();
    QTest::keyClick(frame.get(), Qt::Key_F5);
    EXPECT_TRUE(frame->Action(ID_PREVIEW_COPY)->isChecked());
    EXPECT_EQ(frame->statusBar()->currentMessage(), "The copy will have 4 pages.");
    // Between the regions the page is dimmed; inside them it is not.
    const QImage shot = frame->PageView()->viewport()->grab().toImage();
    const QPoint origin = frame->PageView()->Geometry().PageInWindow().topLeft();
    EXPECT_LT(qGray(shot.pixel(origin + QPoint(306, 400))), 200);
    EXPECT_GT(qGray(shot.pixel(origin + QPoint(150, 400))), 240);
    // The count follows the regions.
    document.Editing().DeleteSelectedRegion();
    EXPECT_EQ(frame->statusBar()->currentMessage(), "The copy will have 3 pages.");
    // A menu's prompt takes the pane for a while; the count comes back.
    frame->statusBar()->showMessage(QStringLiteral("Open an existing document"));
    frame->statusBar()->clearMessage();
    EXPECT_EQ(frame->statusBar()->currentMessage(), "The copy will have 3 pages.");
    frame->PageView()->OnCommand(ID_NEXT_PAGE);  // a page turn keeps the count in sight
    EXPECT_EQ(frame->statusBar()->currentMessage(), "The copy will have 3 pages.");
    QTest::keyClick(frame.get(), Qt::Key_F5);
    EXPECT_FALSE(frame->Action(ID_PREVIEW_COPY)->isChecked());
}

TEST_F(MainFrameTest, CtrlBSetsTwoCentimetreMarginsOnARangeByKeyboardInOneStep) {
    fixtures::TempDir dir;
    const std::string path = dir.file("three.pdf");
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {612, 792}, {612, 792}});
    plan.pages[2].own.rotate = 90;  // shown 792 x 612
    fixtures::WritePdf(plan, path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    crop::CCropBoxDialog::SetLastUnit(crop::Unit::Mm);
    bool refused = false;
    QTimer::singleShot(0, frame.get(), [&] {
        auto *dialog = qobject_cast<crop::CCropBoxDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTimer::singleShot(3000, dialog, [dialog] { dialog->reject(); });
        EXPECT_EQ(dialog->windowTitle(), "Crop Box");
        // Left, top, right and bottom in turn, Tab between them.
        auto type = [dialog](const char *text) {
            QWidget *at = dialog->focusWidget();
            QTest::keyClick(at, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClicks(at, text);
            QTest::keyClick(at, Qt::Key_Tab);
        };
        for (const char *margin : {"200", "20", "20", "20"})
            type(margin);
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);  // 200 + 20 mm leave no width
        refused =
            dialog->isVisible() && dialog->Problem()->text().startsWith("The left and right margins leave no width");
        EXPECT_EQ(dialog->focusWidget(), dialog->Box(crop::CCropBoxDialog::kLeft));
        // Margin added on the right cannot bring back a left margin wider than the page.
        type("250");
        dialog->Box(crop::CCropBoxDialog::kRight)->setFocus();
        type("-60");
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Return);
        EXPECT_TRUE(dialog->isVisible() && dialog->Problem()->text().startsWith("A left margin of 250.00 mm leaves "
                                                                                "nothing of the page"))
            << dialog->Problem()->text().toStdString();
        dialog->Box(crop::CCropBoxDialog::kRight)->setFocus();
        type("20");
        dialog->Box(crop::CCropBoxDialog::kLeft)->setFocus();
        type("20");
        EXPECT_EQ(dialog->Box(crop::CCropBoxDialog::kWidth)->text(), "175.90") << "the width follows";
        dialog->ApplyTo()->setFocus();
        QTest::keyClick(dialog->ApplyTo(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(dialog->ApplyTo(), "1-3");
        QTest::keyClick(dialog->ApplyTo(), Qt::Key_Return);
    });
    QTest::keyClick(frame.get(), Qt::Key_B, Qt::ControlModifier);
    EXPECT_TRUE(refused);
    const double m = 20 * 72 / 25.4;
    EXPECT_NEAR(document.Editing().CropRectangle().left, m, 0.01);
    EXPECT_NEAR(document.Editing().CropRectangle().right, 612 - m, 0.01);
    EXPECT_NEAR(document.Editing().CropRectangle().bottom, 792 - m, 0.01);
    EXPECT_EQ(frame->SizePane()->text(), QString::fromUtf8("175.9 \u00d7 239.4 mm"));
    // Each page measured from its own edges: the third is turned.
    document.ShowPage(3);
    EXPECT_NEAR(document.Editing().CropRectangle().right, 792 - m, 0.01);
    EXPECT_NEAR(document.Editing().CropRectangle().bottom, 612 - m, 0.01);
    document.Undo();
    for (int page = 1; page <= 3; ++page)
        EXPECT_TRUE(document.Pages().Set().Regions(page).empty()) << "one undo step: page " << page;
    crop::CCropBoxDialog::SetLastUnit(crop::Unit::Pt);
}

TEST_F(MainFrameTest, SplitPagesShowsTheCutAtTheFoldByKeyboardAndAppliesItInOneStep) {
    fixtures::TempDir dir;
    const std::string path = dir.file("spread.pdf");
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {612, 792}});
    for (auto &page : plan.pages) {
        for (int line = 0; line < 30; ++line) {
            const double y = 60 + line * 22;
            page.blackRects.push_back({40, y, 330, y + 9});
            page.blackRects.push_back({370, y, 580, y + 9});
        }
        page.blackRects.push_back({350, 40, 360, 752});  // the fold, off the middle
    }
    fixtures::WritePdf(plan, path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    std::vector<crop::CropRect> shown;
    std::vector<int> numbers;
    QTimer::singleShot(0, frame.get(), [&] {
        auto *dialog = qobject_cast<crop::CSplitPagesDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTimer::singleShot(3000, dialog, [dialog] { dialog->reject(); });
        EXPECT_EQ(dialog->focusWidget(), dialog->Columns());
        QTest::keyClick(dialog->Columns(), Qt::Key_Up);    // 3 columns
        QTest::keyClick(dialog->Columns(), Qt::Key_Down);  // back to 2
        shown = dialog->ShownCells();
        numbers = dialog->ShownNumbers();
        QTest::keyClick(dialog->Columns(), Qt::Key_Return);
    });
    document.Save().SetRightToLeft(true);
    frame->OnCommand(ID_SPLIT_PAGES);
    document.Save().SetRightToLeft(false);
    ASSERT_EQ(shown.size(), 2u) << "the dialog showed the split of the shown page";
    EXPECT_EQ(numbers, (std::vector<int>{2, 1})) << "numbered as the copy takes them, right to left";
    EXPECT_NEAR(shown[0].right, 330, 2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return document.Busy() != crop::Busy::Split; }, 20000));
    for (int page = 1; page <= 2; ++page)
        ASSERT_EQ(document.Pages().Set().RegionCount(page), 2) << page;
    EXPECT_NEAR(document.Editing().PageRegions()[0].right, 330, 2);
    EXPECT_NEAR(document.Editing().PageRegions()[1].left, 370, 2);
    EXPECT_EQ(frame->Action(ID_EDIT_UNDO)->text(), "&Undo Split Pages\tCtrl+Z") << "the menu names the step";
    document.Undo();
    EXPECT_EQ(frame->Action(ID_EDIT_REDO)->text(), "&Redo Split Pages\tCtrl+Y");
    EXPECT_EQ(document.Pages().Set().RegionCount(1), 0);
    EXPECT_EQ(document.Pages().Set().RegionCount(2), 0) << "the whole split is one step";

    // While a split runs, what Shrink All Pages holds back is held, and Esc stops it.
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    frame->PageView()->setFocus();
    QString why;
    ASSERT_TRUE(document.Whole().SplitPages(crop::SplitGrid{}, {1, 2}, 0, false, why));
    ASSERT_EQ(document.Busy(), crop::Busy::Split);
    for (int id : {ID_FILE_OPEN, ID_CLOSE, ID_SPLIT_PAGES, ID_SHRINK_ALL_PAGES, ID_EDIT_UNDO})
        EXPECT_FALSE(frame->Action(id)->isEnabled()) << id;
    EXPECT_TRUE(frame->Action(ID_STOP_WORK)->isEnabled());
    EXPECT_FALSE(document.OpenDocument(QString::fromStdString(path), why)) << "a drop waits too";
    QTest::keyClick(frame->PageView(), Qt::Key_Escape);
    EXPECT_NE(document.Busy(), crop::Busy::Split);
    QTest::qWait(100);
    EXPECT_EQ(document.Pages().Set().RegionCount(1), 0) << "nothing of a stopped split is applied";
}

// Every long work holds the document the same way, read from one value:
// Open, Close and Save wait, and Esc stops it.
TEST_F(MainFrameTest, EscStopsEveryLongWorkAndOpenCloseAndSaveWaitMeanwhile) {
    fixtures::TempDir dir;
    const std::string path = dir.file("two.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), path);
    // A crop tool that takes its time, for the run and the report.
    const std::string tool = dir.file("slow tool");
    std::ofstream(tool) << "#!/bin/sh\nexec sleep 30\n";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    const QString realTool = crop::CropRun::ToolPath();
    crop::CropRun::SetToolPath(QString::fromStdString(tool));
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    document.Editing().SetCurrentPageRect({10, 10, 200, 200}, false);
    frame->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frame.get()));
    frame->PageView()->setFocus();
    const QString output = QString::fromStdString(dir.file("out.pdf"));
    const auto heldThenStopped = [&](crop::Busy busy, bool endsAtOnce) {
        const int work = int(busy);
        EXPECT_EQ(document.Busy(), busy);
        for (int id : {ID_FILE_OPEN, ID_FILE_NEW, ID_CLOSE, ID_EDIT_CUT})  // Cut is Save here
            EXPECT_FALSE(frame->Action(id) && frame->Action(id)->isEnabled()) << work << " holds " << id;
        QString why;
        EXPECT_FALSE(document.OpenDocument(QString::fromStdString(path), why)) << work;
        EXPECT_FALSE(document.CloseDocument()) << work;
        EXPECT_FALSE(document.Save().Run(output, why)) << work;
        EXPECT_TRUE(frame->Action(ID_STOP_WORK)->isEnabled()) << work;
        QTest::keyClick(frame->PageView(), Qt::Key_Escape);
        if (endsAtOnce) {
            EXPECT_EQ(document.Busy(), crop::Busy::None) << work;
        }
    };
    const std::pair<crop::Busy, std::function<bool()>> works[] = {
        {crop::Busy::CropRun, [&] { return document.Save().Run(output, reason); }},
        {crop::Busy::ShrinkAll, [&] { return document.Whole().ShrinkAllPages({}, reason); }},
        {crop::Busy::Split,
         [&] {
             return document.Whole().SplitPages({}, {1, 2}, 0, false, reason);
         }},
        {crop::Busy::OverlayBuild,
         [&] {
             return document.ShowOverlay({1, 2}, reason);
         }},
    };
    for (const auto &[busy, start] : works) {
        ASSERT_TRUE(start()) << int(busy) << reason.toStdString();
        heldThenStopped(busy, true);
    }
    // What a save will change is found while the window waits.
    QByteArray json;
    bool seen = false;
    EXPECT_FALSE(document.Save().Report(output, json, reason, [&] {
        if (!seen)
            heldThenStopped(crop::Busy::Report, false);
        seen = true;
        return false;
    }));
    EXPECT_TRUE(seen);
    EXPECT_EQ(document.Busy(), crop::Busy::None);
    EXPECT_FALSE(std::filesystem::exists(output.toStdString()));
    crop::CropRun::SetToolPath(realTool);
}

TEST_F(MainFrameTest, ShrinkAllPagesTakesATypedRangeAndRefusesOneTheDocumentLacks) {
    fixtures::TempDir dir;
    const std::string path = dir.file("four.pdf");
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {612, 792}, {612, 792}, {612, 792}});
    for (auto &page : plan.pages)
        page.blackRects.push_back({100, 200, 300, 400});
    fixtures::WritePdf(plan, path);
    QString reason;
    ASSERT_TRUE(document.OpenDocument(QString::fromStdString(path), reason));
    bool refused = false;
    QTimer::singleShot(0, frame.get(), [&] {
        auto *dialog = qobject_cast<crop::CShrinkAllDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTimer::singleShot(3000, dialog, [dialog] { dialog->reject(); });
        dialog->Pages()->setFocus();
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(dialog->Pages(), Qt::Key_Down);
        EXPECT_EQ(dialog->focusWidget(), dialog->Range());
        QTest::keyClick(dialog->Range(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(dialog->Range(), "3-9");
        QTest::keyClick(dialog->Range(), Qt::Key_Return);
        refused = dialog->isVisible() && dialog->Problem()->text().startsWith("Page 9 does not exist");
        QTest::keyClick(dialog->Range(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(dialog->Range(), "2-3");
        dialog->Margin()->setText(QStringLiteral("10,10"));
        QTest::keyClick(dialog->Range(), Qt::Key_Return);
        refused = refused && dialog->isVisible() && dialog->Problem()->text().startsWith("Give four margins");
        EXPECT_EQ(dialog->focusWidget(), dialog->Margin());
        QTest::keyClicks(dialog->Margin(), "inner 20");  // typed over
        QTest::keyClick(dialog->Margin(), Qt::Key_Return);
    });
    frame->OnCommand(ID_SHRINK_ALL_PAGES);
    EXPECT_TRUE(refused);
    ASSERT_TRUE(QTest::qWaitFor([&] { return document.Busy() != crop::Busy::ShrinkAll; }, 20000));
    EXPECT_EQ(document.Pages().Set().RegionCount(1), 0);
    EXPECT_EQ(document.Pages().Set().RegionCount(2), 1);
    EXPECT_EQ(document.Pages().Set().RegionCount(3), 1);
    EXPECT_EQ(document.Pages().Set().RegionCount(4), 0);
    // The spine's margin: right of an even page, left of an odd one.
    const crop::CropRect even = crop::ShownFrom(document.Pages().Set().Regions(2).at(0), 792),
                         odd = crop::ShownFrom(document.Pages().Set().Regions(3).at(0), 792);
    EXPECT_NEAR(even.right - odd.right, 20, 0.6);
    EXPECT_NEAR(even.left - odd.left, 20, 0.6);
    crop::CShrinkAllDialog::SetLastMargin(QStringLiteral("0"));
}

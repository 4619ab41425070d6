// Opening and browsing documents in the whole window: every open route,
// page display, the strip, navigation, Close and failures.

#include "app/orvane_app.h"
#include "crop/orvane_view.h"
#include "panes/left_view.h"
#include "platform/dialogs.h"
#include "res/command_ids.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/render/image_writers.h"

#include <QAction>
#include <QMimeData>
#include <QScrollBar>
#include <QWheelEvent>
#include <QTest>
#include <QUrl>

#include <gtest/gtest.h>

using namespace res;

namespace {

struct Args {
    std::vector<std::string> strings{"orvane"};
    std::vector<char *> pointers;
    int argc = 1;
    Args() {
        for (std::string &s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
    }
};

class BrowseTest : public ::testing::Test {
protected:
    void SetUp() override {
        application = std::make_unique<app::COrvaneApp>(args.argc, args.pointers.data());
        ASSERT_TRUE(application->InitInstance());
        frame = application->MainFrame();
        left = frame->LeftView();
        view = frame->PageView();
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        previousHandler = platform::SetMessageHandler(
            [this](const std::string &, const std::string &text, platform::MessageIcon) { messages.push_back(text); });
    }
    void TearDown() override {
        platform::SetMessageHandler(previousHandler);
        application.reset();
    }
    std::string Pdf(const std::string &name, const fixtures::DocPlan &plan) {
        const std::string path = dir.file(name);
        fixtures::WritePdf(plan, path);
        return path;
    }
    bool Enabled(int id) {
        frame->UpdateCommandUI();
        return frame->Action(id)->isEnabled();
    }

    fixtures::TempDir dir;
    Args args;
    std::unique_ptr<app::COrvaneApp> application;
    app::CMainFrame *frame = nullptr;
    panes::CLeftView *left = nullptr;
    crop::COrvaneView *view = nullptr;
    std::vector<std::string> messages;
    platform::MessageHandler previousHandler;
};

TEST_F(BrowseTest, StartingEmptyThenOpeningShowsPageOneAndItsItems) {
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    EXPECT_TRUE(Enabled(ID_ABOUT_US));
    const std::string a4 = Pdf("a4.pdf", fixtures::PagesOfSizes({{595, 842}, {612, 792}, {300, 300}}));
    platform::SetOpenFileHandler([&](const std::string &) { return a4; });
    QTest::keyClick(frame, Qt::Key_O, Qt::ControlModifier);
    platform::SetOpenFileHandler([](const std::string &) { return std::string(); });
    EXPECT_EQ(frame->windowTitle(), "a4.pdf - Sorrel Orvane v2.0");
    EXPECT_EQ(frame->PagePane()->text(), "Page No: 1");
    // An A4 page renders at 1251 x 1771 pixels with the rectangle 595 x 842.
    EXPECT_EQ(view->PagePicture().Width(), 1251u);
    EXPECT_EQ(view->PagePicture().Height(), 1771u);
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 595, 842));
    EXPECT_EQ(left->Strip()->ItemCount(), 3);
    EXPECT_EQ(left->Strip()->model()->index(2, 0).data().toString(), "3");
    EXPECT_TRUE(Enabled(ID_NEXT_PAGE));
    EXPECT_TRUE(Enabled(ID_SAVE_AS_MENU));
    EXPECT_EQ(application->RecentFiles().Entries().first().toStdString(), a4);
}

TEST_F(BrowseTest, NavigationMovesThroughTheStripAndStopsAtTheEnds) {
    application->OpenDocumentFile(QString::fromStdString(Pdf("three.pdf", fixtures::PagesOfSizes({{612, 792}, {400, 500}, {300, 300}}))));
    frame->OnCommand(ID_PREVIOUS_PAGE);
    EXPECT_EQ(left->CurrentPage(), 1);
    frame->OnCommand(ID_NEXT_PAGE);
    EXPECT_EQ(left->CurrentPage(), 2);
    EXPECT_EQ(frame->PagePane()->text(), "Page No: 2");
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 400, 500));
    EXPECT_EQ(left->Strip()->currentIndex().row(), 1);
    QTest::keyClick(frame, Qt::Key_End);
    EXPECT_EQ(left->CurrentPage(), 3);
    frame->OnCommand(ID_NEXT_PAGE);
    frame->OnCommand(ID_LAST_PAGE);
    EXPECT_EQ(left->CurrentPage(), 3);
    frame->OnCommand(ID_FIRST_PAGE);
    EXPECT_EQ(left->CurrentPage(), 1);
    // A click on an item shows its page; the shown item again does nothing.
    left->Strip()->SelectItem(2);
    EXPECT_EQ(left->CurrentPage(), 3);
    left->Strip()->SelectItem(2);
    EXPECT_EQ(left->CurrentPage(), 3);
}

TEST_F(BrowseTest, CloseEmptiesEverythingAndASecondFileShowsItsFirstPage) {
    frame->OnCommand(ID_CLOSE);  // nothing open: nothing happens
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    application->OpenDocumentFile(QString::fromStdString(Pdf("one.pdf", fixtures::PagesOfSizes({{612, 792}, {612, 792}}))));
    frame->OnCommand(ID_NEXT_PAGE);
    application->OpenDocumentFile(QString::fromStdString(Pdf("two.pdf", fixtures::PagesOfSizes({{300, 400}}))));
    EXPECT_EQ(left->CurrentPage(), 1);
    EXPECT_EQ(frame->windowTitle(), "two.pdf - Sorrel Orvane v2.0");
    EXPECT_EQ(left->Strip()->ItemCount(), 1);
    frame->OnCommand(ID_CLOSE);
    EXPECT_FALSE(view->HasPicture());
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    EXPECT_FALSE(Enabled(ID_CLOSE));
    EXPECT_EQ(left->Strip()->ItemCount(), 0);
    EXPECT_EQ(left->PageCount(), 0);
}

TEST_F(BrowseTest, CtrlNEmptiesThePanesAndTheTitle) {
    ASSERT_TRUE(application->OpenDocumentFile(QString::fromStdString(Pdf("one.pdf", fixtures::PagesOfSizes({{612, 792}})))));
    QTest::keyClick(frame, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    EXPECT_FALSE(view->HasPicture());
    EXPECT_EQ(left->PageCount(), 0);
    EXPECT_EQ(frame->PagePane()->text(), "Page No");
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    // The same file opens again afterwards.
    EXPECT_TRUE(application->OpenDocumentFile(QString::fromStdString(dir.file("one.pdf"))));
    EXPECT_TRUE(view->HasPicture());
}

TEST_F(BrowseTest, AFailedOpenSaysWhyAndLeavesNothingOpen) {
    application->OpenDocumentFile(QString::fromStdString(Pdf("good.pdf", fixtures::PagesOfSizes({{612, 792}}))));
    fixtures::DocPlan locked = fixtures::PagesOfSizes({{612, 792}});
    locked.encryption = fixtures::Encryption::UserPassword;
    const std::string lockedPath = Pdf("locked.pdf", locked);
    EXPECT_FALSE(application->OpenDocumentFile(QString::fromStdString(lockedPath)));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("locked.pdf"), std::string::npos);
    EXPECT_NE(messages[0].find("password"), std::string::npos);
    EXPECT_FALSE(view->HasPicture());
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    EXPECT_FALSE(application->OpenDocumentFile(QString::fromStdString(dir.file("missing.pdf"))));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[1].find("missing.pdf"), std::string::npos);
}

TEST_F(BrowseTest, DroppingThreeFilesOpensTheFirst) {
    const std::string first = Pdf("first.pdf", fixtures::PagesOfSizes({{612, 792}}));
    const std::string second = Pdf("second.pdf", fixtures::PagesOfSizes({{300, 300}}));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(first)), QUrl::fromLocalFile(QString::fromStdString(second)),
                  QUrl::fromLocalFile(QString::fromStdString(second))});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(frame, &drop);
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_EQ(frame->windowTitle(), "first.pdf - Sorrel Orvane v2.0");
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 612, 792));
    EXPECT_TRUE(application->Document().PathName().isEmpty());  // a drop leaves the recorded path
}

TEST_F(BrowseTest, TheWheelScrollsThePaneUnderThePointerNotTheFocusedOne) {
    ASSERT_TRUE(application->OpenDocumentFile(QString::fromStdString(Pdf("many.pdf", fixtures::ManyPages(40, false)))));
    view->setFocus();
    QScrollBar *strip = left->Strip()->verticalScrollBar();
    QScrollBar *page = view->verticalScrollBar();
    ASSERT_GT(strip->maximum(), 0);
    const int stripBefore = strip->value(), pageBefore = page->value();
    const QPoint overStrip = left->Strip()->viewport()->mapToGlobal(QPoint(20, 20));
    QWheelEvent wheel(view->viewport()->mapFromGlobal(QPointF(overStrip)), QPointF(overStrip), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_GT(strip->value(), stripBefore);
    EXPECT_EQ(page->value(), pageBefore);
}

TEST_F(BrowseTest, PictureDocumentsShowTheirFramesAndMetafilesLeaveNoStalePage) {
    const std::vector<testimages::Picture> frames = {testimages::Pattern(40, 30), testimages::Pattern(50, 20, false, 2)};
    const std::string tiff = dir.file("frames.tif");
    testimages::Save(tiff, testimages::Tiff(frames, 5));
    ASSERT_TRUE(application->OpenDocumentFile(QString::fromStdString(tiff)));
    EXPECT_TRUE(view->HasPicture());
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 40, 30));
    EXPECT_EQ(left->Strip()->ItemCount(), 2);
    frame->OnCommand(ID_NEXT_PAGE);
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 50, 20));
    const std::string emf = dir.file("drawing.emf");
    testimages::Save(emf, testimages::Emf(0, 0, 400, 300));
    ASSERT_TRUE(application->OpenDocumentFile(QString::fromStdString(emf)));
    EXPECT_FALSE(view->HasPicture());
}

}  // namespace

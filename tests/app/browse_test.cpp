// Opening and browsing documents in the whole window: every open route,
// page display, the strip, navigation, Close, failures that keep what is
// shown, the active pane, zooming from the keyboard and printing.

#include "app/orvane_app.h"
#include "crop/view/save_dialogs.h"
#include "crop/view/orvane_view.h"
#include "panes/left_view.h"
#include "platform/dialogs.h"
#include "render/page_source.h"
#include "res/command_ids.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/render/image_writers.h"

#include <QAction>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPrinter>
#include <QScrollBar>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWheelEvent>

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
        document = &application->Document();
        document->Save().SetReportBeforeSaving(false);  // no save here waits on the report
        frame->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(frame));
        previousHandler = platform::SetMessageHandler(
            [this](const std::string &, const std::string &text, platform::MessageIcon) { messages.push_back(text); });
    }
    void TearDown() override {
        platform::SetMessageHandler(previousHandler);
        platform::SetOpenFileHandler([](const std::string &) { return std::string(); });
        platform::SetPrinterDialogHandler([](QPrinter &, platform::PrinterDialog) { return false; });
        platform::SetPrintPreviewHandler([](QPrinter &, const platform::PrintPainter &) {});
        application.reset();
    }
    QString Pdf(const std::string &name, const fixtures::DocPlan &plan) {
        const std::string path = dir.file(name);
        fixtures::WritePdf(plan, path);
        return QString::fromStdString(path);
    }
    QString Three(const std::string &name = "three.pdf") {
        return Pdf(name, fixtures::PagesOfSizes({{612, 792}, {400, 500}, {300, 300}}));
    }
    bool Enabled(int id) {
        frame->UpdateCommandUI();
        return frame->Action(id)->isEnabled();
    }
    // The worker fills the strip in the background.
    bool StripFilled(int count) {
        return QTest::qWaitFor([&] { return left->Strip()->ItemCount() == count; }, 10000);
    }
    QModelIndexList Selected() { return left->Strip()->selectionModel()->selectedIndexes(); }
    void ClickInto(QWidget *widget) {
        QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QApplication::processEvents();
    }
    void Drop(const QStringList &paths) {
        QMimeData data;
        QList<QUrl> urls;
        for (const QString &p : paths)
            urls << QUrl::fromLocalFile(p);
        data.setUrls(urls);
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frame, &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(frame, &drop);
    }

    fixtures::TempDir dir;
    Args args;
    std::unique_ptr<app::COrvaneApp> application;
    app::CMainFrame *frame = nullptr;
    panes::CLeftView *left = nullptr;
    crop::COrvaneView *view = nullptr;
    crop::COrvaneDoc *document = nullptr;
    std::vector<std::string> messages;
    platform::MessageHandler previousHandler;
};

TEST_F(BrowseTest, StartingEmptyThenOpeningShowsPageOneWithNoItemSelected) {
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    EXPECT_FALSE(Enabled(ID_CLOSE));
    EXPECT_TRUE(Enabled(ID_ABOUT_US));
    EXPECT_EQ(frame->ZoomPane()->text(), "100%");
    const QString a4 = Pdf("a4.pdf", fixtures::PagesOfSizes({{595, 842}, {612, 792}, {300, 300}}));
    platform::SetOpenFileHandler([&](const std::string &) { return a4.toStdString(); });
    QTest::keyClick(frame, Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(frame->windowTitle(), "a4.pdf - Sorrel Orvane v2.0");
    EXPECT_EQ(frame->PagePane()->text(), "Page No: 1");
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 595, 842));
    EXPECT_TRUE(StripFilled(3));
    EXPECT_EQ(left->Strip()->model()->index(2, 0).data().toString(), "3");
    // Page 1 is shown without its item being selected.
    EXPECT_TRUE(Selected().isEmpty());
    EXPECT_TRUE(Enabled(ID_NEXT_PAGE));
    EXPECT_TRUE(Enabled(ID_SAVE_AS_MENU));
    EXPECT_EQ(application->RecentFiles().Entries().first(), a4);
    // Clicking item 1 asks for the page shown: nothing changes.
    left->Strip()->SelectItem(0);
    EXPECT_EQ(document->CurrentPage(), 1);
}

TEST_F(BrowseTest, NavigationMovesThePageAndTheStripFollows) {
    application->OpenDocumentFile(Three());
    ASSERT_TRUE(StripFilled(3));
    frame->OnCommand(ID_PREVIOUS_PAGE);
    EXPECT_EQ(document->CurrentPage(), 1);
    frame->OnCommand(ID_NEXT_PAGE);
    EXPECT_EQ(document->CurrentPage(), 2);
    EXPECT_EQ(frame->PagePane()->text(), "Page No: 2");
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 400, 500));
    ASSERT_EQ(Selected().size(), 1);
    EXPECT_EQ(Selected().first().row(), 1);
    QTest::keyClick(frame, Qt::Key_End);
    EXPECT_EQ(document->CurrentPage(), 3);
    EXPECT_EQ(Selected().first().row(), 2);
    frame->OnCommand(ID_NEXT_PAGE);
    frame->OnCommand(ID_LAST_PAGE);
    EXPECT_EQ(document->CurrentPage(), 3);
    frame->OnCommand(ID_FIRST_PAGE);
    EXPECT_EQ(document->CurrentPage(), 1);
    // A click on an item shows its page.
    const QRect item = left->Strip()->visualRect(left->Strip()->model()->index(1, 0));
    QTest::mouseClick(left->Strip()->viewport(), Qt::LeftButton, Qt::NoModifier, item.center());
    EXPECT_EQ(document->CurrentPage(), 2);
    // Arrow keys in the strip move through the pages.
    QTest::keyClick(left->Strip(), Qt::Key_Right);
    EXPECT_EQ(document->CurrentPage(), 3);
}

TEST_F(BrowseTest, CloseKeepsThePagePaneAndTheSameFileOpensAgainAfterwards) {
    frame->OnCommand(ID_CLOSE);  // nothing open: nothing happens
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    const QString one = Three("one.pdf");
    ASSERT_TRUE(application->OpenDocumentFile(one));
    frame->OnCommand(ID_NEXT_PAGE);
    frame->OnCommand(ID_CLOSE);
    EXPECT_FALSE(view->HasPicture());
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    EXPECT_EQ(frame->PagePane()->text(), "Page No: 2");  // written only when a page is shown
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    EXPECT_FALSE(Enabled(ID_CLOSE));
    EXPECT_EQ(left->Strip()->ItemCount(), 0);
    // The file that was shown opens again through File Open.
    platform::SetOpenFileHandler([&](const std::string &) { return one.toStdString(); });
    frame->OnCommand(ID_FILE_OPEN);
    EXPECT_TRUE(view->HasPicture());
    EXPECT_EQ(frame->windowTitle(), "one.pdf - Sorrel Orvane v2.0");
    EXPECT_TRUE(StripFilled(3));
    // Another file dropped, then the first through File Open again.
    Drop({Pdf("other.pdf", fixtures::PagesOfSizes({{200, 250}}))});
    EXPECT_EQ(frame->windowTitle(), "other.pdf - Sorrel Orvane v2.0");
    frame->OnCommand(ID_FILE_OPEN);
    EXPECT_EQ(frame->windowTitle(), "one.pdf - Sorrel Orvane v2.0");
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 612, 792));
    EXPECT_TRUE(StripFilled(3));
    EXPECT_TRUE(messages.empty());
}

TEST_F(BrowseTest, CtrlNEmptiesThePanesAndTheTitleAndLeavesThePagePane) {
    ASSERT_TRUE(application->OpenDocumentFile(Three("one.pdf")));
    QTest::keyClick(frame, Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    EXPECT_FALSE(view->HasPicture());
    EXPECT_EQ(document->PageCount(), 0);
    EXPECT_EQ(frame->PagePane()->text(), "Page No: 1");
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    // The same file opens again afterwards.
    EXPECT_TRUE(application->OpenDocumentFile(QString::fromStdString(dir.file("one.pdf"))));
    EXPECT_TRUE(view->HasPicture());
}

// Answers each password dialog that opens with the next of `answers`
// (typed, then Return; none: Cancel), noting whether it said the password
// before was wrong.
class PasswordAnswers {
public:
    explicit PasswordAnswers(std::vector<std::optional<QString>> answers) : m_answers(std::move(answers)) {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto *dialog = qobject_cast<crop::CPasswordDialog *>(QApplication::activeModalWidget());
            if (!dialog || m_next >= m_answers.size())
                return;
            wrongShown.push_back(dialog->findChild<QLabel *>("wrong") != nullptr);
            titles.push_back(dialog->windowTitle());
            const std::optional<QString> answer = m_answers[m_next++];
            if (!answer) {
                dialog->reject();
                return;
            }
            auto *field = dialog->findChild<QLineEdit *>("password");
            QTest::keyClicks(field, *answer);
            QTest::keyClick(field, Qt::Key_Return);
        });
        m_timer.start(10);
    }
    std::vector<bool> wrongShown;
    QStringList titles;

private:
    std::vector<std::optional<QString>> m_answers;
    size_t m_next = 0;
    QTimer m_timer;
};

TEST_F(BrowseTest, ALockedFileAsksForItsPasswordAgainWhenWrongAndCancelKeepsWhatIsShown) {
    ASSERT_TRUE(application->OpenDocumentFile(Three("good.pdf")));
    frame->OnCommand(ID_NEXT_PAGE);
    fixtures::DocPlan locked = fixtures::PagesOfSizes({{612, 792}});
    locked.encryption = fixtures::Encryption::UserPassword;
    const QString lockedPath = Pdf("locked.pdf", locked);
    auto expectUnchanged = [&] {
        EXPECT_TRUE(view->HasPicture());
        EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 400, 500));
        EXPECT_EQ(document->CurrentPage(), 2);
        EXPECT_EQ(frame->windowTitle(), "good.pdf - Sorrel Orvane v2.0");
        EXPECT_EQ(frame->PagePane()->text(), "Page No: 2");
        EXPECT_TRUE(StripFilled(3));
        EXPECT_TRUE(Enabled(ID_NEXT_PAGE));
    };
    {
        PasswordAnswers answers({QString("wrong"), std::nullopt});
        EXPECT_FALSE(application->OpenDocumentFile(lockedPath));
        EXPECT_EQ(answers.wrongShown, std::vector<bool>({false, true}));
        EXPECT_EQ(answers.titles, QStringList({"Password", "Password"}));
        EXPECT_TRUE(messages.empty()) << "Cancel is no failure to tell";
        expectUnchanged();
    }
    EXPECT_FALSE(application->OpenDocumentFile(QString::fromStdString(dir.file("missing.pdf"))));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("missing.pdf"), std::string::npos);
    EXPECT_NE(messages[0].find("does not exist"), std::string::npos);
    expectUnchanged();
    // A damaged file is not taken for a locked one.
    fixtures::WriteTruncated(lockedPath.toStdString(), dir.file("broken.pdf"), 0.02);
    EXPECT_FALSE(application->OpenDocumentFile(QString::fromStdString(dir.file("broken.pdf"))));
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].find("password"), std::string::npos) << messages[1];
    {
        PasswordAnswers answers({QString("secret")});
        Drop({lockedPath});
        EXPECT_EQ(answers.wrongShown, std::vector<bool>({false}));
    }
    EXPECT_EQ(frame->windowTitle(), "locked.pdf - Sorrel Orvane v2.0");
    ASSERT_TRUE(document->Password());
    EXPECT_EQ(document->Password()->View(), "secret");
    EXPECT_TRUE(StripFilled(1));
    frame->OnCommand(ID_FILE_NEW);
    EXPECT_FALSE(document->Password()) << "the password goes with the document";
}

TEST_F(BrowseTest, ARecentFileThatHasGoneSaysSoAndLeavesTheList) {
    const QString kept = Three("kept.pdf");
    const QString gone = Three("gone.pdf");
    ASSERT_TRUE(application->OpenDocumentFile(gone));
    ASSERT_TRUE(application->OpenDocumentFile(kept));
    std::filesystem::remove(gone.toStdString());
    ASSERT_EQ(application->RecentFiles().Entries(), QStringList({kept, gone}));
    frame->Action(ID_FILE_MRU_FIRST + 1)->trigger();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("gone.pdf"), std::string::npos);
    EXPECT_EQ(application->RecentFiles().Entries(), QStringList({kept}));
    EXPECT_EQ(frame->windowTitle(), "kept.pdf - Sorrel Orvane v2.0");
    EXPECT_TRUE(view->HasPicture());
}

TEST_F(BrowseTest, DroppingThreeFilesOpensTheFirst) {
    const QString first = Pdf("first.pdf", fixtures::PagesOfSizes({{612, 792}}));
    const QString second = Pdf("second.pdf", fixtures::PagesOfSizes({{300, 300}}));
    Drop({first, second, second});
    EXPECT_TRUE(messages.empty()) << messages.front();
    EXPECT_EQ(frame->windowTitle(), "first.pdf - Sorrel Orvane v2.0");
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 612, 792));
    EXPECT_EQ(document->PathName(), first);
    EXPECT_EQ(application->RecentFiles().Entries().first(), first);
}

TEST_F(BrowseTest, TheWheelScrollsThePaneUnderThePointerNotTheFocusedOne) {
    ASSERT_TRUE(application->OpenDocumentFile(Pdf("many.pdf", fixtures::ManyPages(40, false))));
    ASSERT_TRUE(StripFilled(40));
    QApplication::processEvents();  // the strip lays its items out
    view->setFocus();
    QScrollBar *strip = left->Strip()->verticalScrollBar();
    QScrollBar *page = view->verticalScrollBar();
    ASSERT_GT(strip->maximum(), 0);
    const int stripBefore = strip->value(), pageBefore = page->value();
    const QPoint overStrip = left->Strip()->viewport()->mapToGlobal(QPoint(20, 20));
    QWheelEvent wheel(view->viewport()->mapFromGlobal(QPointF(overStrip)), QPointF(overStrip), QPoint(),
                      QPoint(0, -120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_GT(strip->value(), stripBefore);
    EXPECT_EQ(page->value(), pageBefore);
}

TEST_F(BrowseTest, PictureDocumentsShowTheirFramesAndAMetafileHasItsItemAndCanBeClosed) {
    const std::vector<testimages::Picture> frames = {testimages::Pattern(40, 30),
                                                     testimages::Pattern(50, 20, false, 2)};
    const std::string tiff = dir.file("frames.tif");
    testimages::Save(tiff, testimages::Tiff(frames, 5));
    ASSERT_TRUE(application->OpenDocumentFile(QString::fromStdString(tiff)));
    EXPECT_TRUE(view->HasPicture());
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 40, 30));
    EXPECT_TRUE(StripFilled(2));
    frame->OnCommand(ID_NEXT_PAGE);
    EXPECT_EQ(view->PagePicture().PageRect(), QRect(0, 0, 50, 20));

    const std::string emf = dir.file("drawing.emf");
    testimages::Save(emf, testimages::Emf(0, 0, 400, 300));
    ASSERT_TRUE(application->OpenDocumentFile(QString::fromStdString(emf)));
    EXPECT_FALSE(view->HasPicture());
    EXPECT_EQ(frame->windowTitle(), "drawing.emf - Sorrel Orvane v2.0");
    EXPECT_TRUE(StripFilled(1));
    EXPECT_TRUE(frame->statusBar()->currentMessage().contains("cannot be shown"));
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    EXPECT_TRUE(Enabled(ID_CLOSE));
    frame->OnCommand(ID_CLOSE);
    EXPECT_EQ(frame->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    EXPECT_EQ(left->Strip()->ItemCount(), 0);
    EXPECT_FALSE(Enabled(ID_CLOSE));
}

TEST_F(BrowseTest, PrintingBelongsToThePageViewAndWorksOnlyWhileItIsActiveAndCutWhereverASaveDoes) {
    ASSERT_TRUE(application->OpenDocumentFile(Three()));
    EXPECT_EQ(frame->ActivePane(), app::CMainFrame::Pane::Left);
    EXPECT_TRUE(Enabled(ID_EDIT_CUT));  // Save file, as Save As is
    EXPECT_FALSE(Enabled(ID_FILE_PRINT));
    EXPECT_FALSE(Enabled(ID_FILE_PRINT_PREVIEW));
    EXPECT_TRUE(Enabled(ID_FILE_PRINT_SETUP));
    EXPECT_TRUE(Enabled(ID_CUT_ALL));  // forwarded from any pane
    int previews = 0;
    platform::SetPrintPreviewHandler([&](QPrinter &, const platform::PrintPainter &) { ++previews; });
    frame->OnCommand(ID_FILE_PRINT_PREVIEW);
    EXPECT_EQ(previews, 0);

    ClickInto(view->viewport());
    EXPECT_EQ(frame->ActivePane(), app::CMainFrame::Pane::PageView);
    EXPECT_TRUE(Enabled(ID_EDIT_CUT));
    EXPECT_TRUE(Enabled(ID_FILE_PRINT));
    frame->OnCommand(ID_FILE_PRINT_PREVIEW);
    EXPECT_EQ(previews, 1);

    // Printing through the dialog: the shown page, on one sheet.
    frame->OnCommand(ID_NEXT_PAGE);
    const std::string out = dir.file("printed.pdf");
    platform::SetPrinterDialogHandler([&](QPrinter &printer, platform::PrinterDialog which) {
        EXPECT_EQ(which, platform::PrinterDialog::Print);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(QString::fromStdString(out));
        return true;
    });
    QTest::keyClick(frame, Qt::Key_P, Qt::ControlModifier);
    std::unique_ptr<render::PageSource> printed = render::PageSource::Open(out, 1);
    ASSERT_NE(printed, nullptr);
    EXPECT_EQ(printed->PageCount(), 1);
    EXPECT_TRUE(messages.empty());

    // Focus back in the strip: the page view is no longer active.
    ClickInto(left->Strip()->viewport());
    EXPECT_EQ(frame->ActivePane(), app::CMainFrame::Pane::Left);
    EXPECT_TRUE(Enabled(ID_EDIT_CUT));
    EXPECT_FALSE(Enabled(ID_FILE_PRINT));
}

TEST_F(BrowseTest, TheKeyboardZoomsAndTheStatusBarShowsTheZoom) {
    ASSERT_TRUE(application->OpenDocumentFile(Three()));
    QTest::keyClick(frame, Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_NEAR(view->Zoom(), 110.0, 1e-9);
    EXPECT_EQ(frame->ZoomPane()->text(), "110%");
    QTest::keyClick(frame, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_NEAR(view->Zoom(), 121.0, 1e-9);
    QTest::keyClick(frame, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_NEAR(view->Zoom(), 108.9, 1e-9);
    EXPECT_EQ(frame->ZoomPane()->text(), "109%");
    QTest::keyClick(frame, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(view->Zoom(), 100.0);
    EXPECT_EQ(frame->ZoomPane()->text(), "100%");
}

}  // namespace

// Start-up and exit of the application: title, command line, product
// texts, settings, recent files and temporary files.

#include "app/orvane_app.h"
#include "app/product_info.h"
#include "crop/view/orvane_view.h"
#include "crop/view/save_dialogs.h"
#include "platform/dialogs.h"
#include "platform/temp_files.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"

#include <QApplication>
#include <QProcess>
#include <QSettings>
#include <QTimer>

#include <csignal>

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Arguments that outlive the application object, as QApplication needs.
struct Args {
    explicit Args(std::vector<std::string> words) : strings(std::move(words)) {
        for (std::string &s : strings)
            pointers.push_back(s.data());
        pointers.push_back(nullptr);
        argc = int(strings.size());
    }
    std::vector<std::string> strings;
    std::vector<char *> pointers;
    int argc = 0;
};

QSettings Settings() { return QSettings(app::kSettingsOrganisation, app::kSettingsApplication); }

TEST(Startup, WithoutArgumentsShowsAnUntitledWindow) {
    Args args({"orvane"});
    app::COrvaneApp application(args.argc, args.pointers.data());
    ASSERT_TRUE(application.InitInstance());
    ASSERT_NE(application.MainFrame(), nullptr);
    EXPECT_TRUE(application.MainFrame()->isVisible());
    EXPECT_EQ(application.MainFrame()->windowTitle(), "Untitled - Sorrel Orvane v2.0");
    EXPECT_TRUE(application.CommandLineFile().isEmpty());
    EXPECT_EQ(application.RecentFiles().Capacity(), 4);

    const app::ProductInfo &p = app::Product();
    EXPECT_EQ(p.nameWithVersion, "Sorrel Orvane v2.0");
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    EXPECT_NE(p.copyright.find(std::to_string(local.tm_year + 1900)), std::string::npos);
    EXPECT_FALSE(p.productPage.empty());
    EXPECT_FALSE(p.supportAddress.empty());
}

TEST(Startup, TheCommandLineNamesTheFileToOpenWhole) {
    fixtures::TempDir dir;
    const std::filesystem::path folder = dir.path() / "a folder with spaces";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "$name 'quoted' \"x\" ü.pdf").string();
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {595, 842}}), path);
    Args args({"orvane", path});
    app::COrvaneApp application(args.argc, args.pointers.data());
    ASSERT_TRUE(application.InitInstance());
    EXPECT_EQ(application.CommandLineFile().toStdString(), path);
    EXPECT_EQ(application.MainFrame()->windowTitle().toStdString(), "$name 'quoted' \"x\" ü.pdf - Sorrel Orvane v2.0");
    EXPECT_EQ(application.MainFrame()->PagePane()->text(), "Page No: 1");
    EXPECT_TRUE(application.MainFrame()->PageView()->HasPicture());
    EXPECT_EQ(application.MainFrame()->PageView()->ScrollSize(), QSize(612, 792));
    EXPECT_EQ(application.MainFrame()->PageView()->PagePicture().Width(), 1287u);
    EXPECT_EQ(application.MainFrame()->PageView()->PagePicture().Height(), 1666u);
}

TEST(Startup, AFileOnTheCommandLineThatCannotBeOpenedSaysSoAndEnds) {
    std::string seen;
    auto previous = platform::SetMessageHandler(
        [&](const std::string &, const std::string &text, platform::MessageIcon) { seen = text; });
    Args args({"orvane", "/no/such/folder/missing.pdf"});
    app::COrvaneApp application(args.argc, args.pointers.data());
    EXPECT_FALSE(application.InitInstance());
    EXPECT_NE(seen.find("/no/such/folder/missing.pdf"), std::string::npos) << seen;
    platform::SetMessageHandler(previous);
}

TEST(Startup, CancelAtThePasswordOfAFileOnTheCommandLineLeavesTheEmptyWindow) {
    fixtures::TempDir dir;
    fixtures::DocPlan locked = fixtures::PagesOfSizes({{612, 792}});
    locked.encryption = fixtures::Encryption::UserPassword;
    const std::string path = dir.file("locked.pdf");
    fixtures::WritePdf(locked, path);
    Args args({"orvane", path});
    app::COrvaneApp application(args.argc, args.pointers.data());
    bool asked = false;
    QTimer cancel;
    QObject::connect(&cancel, &QTimer::timeout, [&] {
        if (auto *dialog = qobject_cast<crop::CPasswordDialog *>(QApplication::activeModalWidget())) {
            asked = true;
            dialog->reject();
        }
    });
    cancel.start(10);
    ASSERT_TRUE(application.InitInstance()) << "Cancel does not end the program";
    EXPECT_TRUE(asked);
    EXPECT_TRUE(application.MainFrame()->isVisible());
    EXPECT_EQ(application.MainFrame()->windowTitle(), "Untitled - Sorrel Orvane v2.0");
}

TEST(Startup, ExitDeletesTemporaryFilesAndKeepsPlacementAndRecentFiles) {
    std::string written, never;
    {
        Args args({"orvane"});
        app::COrvaneApp application(args.argc, args.pointers.data());
        ASSERT_TRUE(application.InitInstance());
        platform::MakeTempFileName(1024, written, ".txt");
        platform::MakeTempFileName(300, never, ".jpg");
        std::ofstream(written) << "x";
        application.MainFrame()->setGeometry(70, 80, 700, 500);
        application.RecentFiles().Add("/tmp/one.pdf");
        application.RecentFiles().Add("/tmp/two.pdf");
        application.ExitInstance();
        EXPECT_FALSE(std::filesystem::exists(written));
        EXPECT_FALSE(std::filesystem::exists(never));
    }
    QSettings settings = Settings();
    EXPECT_EQ(settings.value("Position/Sorrel Orvane v2.0").toByteArray().size(), 44);
    EXPECT_EQ(settings.value("Recent File List/File1").toString(), "/tmp/two.pdf");
    EXPECT_EQ(settings.value("Recent File List/File2").toString(), "/tmp/one.pdf");

    Args args({"orvane"});
    app::COrvaneApp again(args.argc, args.pointers.data());
    ASSERT_TRUE(again.InitInstance());
    EXPECT_EQ(again.MainFrame()->geometry(), QRect(70, 80, 700, 500));
    EXPECT_EQ(again.RecentFiles().Entries(), QStringList({"/tmp/two.pdf", "/tmp/one.pdf"}));
}

TEST(Startup, TheProgramEndsCleanlyOnSigterm) {
    {
        QSettings settings = Settings();
        settings.remove("Position");
    }
    QProcess program;
    program.start(ORVANE_PATH, {});
    ASSERT_TRUE(program.waitForStarted(10000));
    // Give it time to show its window, then end it as logging out would.
    ASSERT_FALSE(program.waitForFinished(1500));
    ::kill(pid_t(program.processId()), SIGTERM);
    ASSERT_TRUE(program.waitForFinished(10000));
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0);
    QSettings settings = Settings();
    EXPECT_EQ(settings.value("Position/Sorrel Orvane v2.0").toByteArray().size(), 44);
}

TEST(Startup, RectanglesLeftUnsavedWhenTheProgramIsEndedFromOutsideAreOfferedAtTheNextStart) {
    fixtures::TempDir dir;
    const std::string path = dir.file("drawn on.pdf");
    fixtures::WritePdf(fixtures::PagesOfSizes({{612, 792}, {612, 792}}), path);
    {
        Args args({"orvane", path});
        app::COrvaneApp application(args.argc, args.pointers.data());
        ASSERT_TRUE(application.InitInstance());
        application.Document().Editing().SetCurrentPageRect(crop::CropRect{10, 20, 300, 400}, false);
        application.Document().ShowPage(2);
        ASSERT_TRUE(application.Document().Pages().SetLeftOut({2}, true));
        application.Document().ShowPage(1);
        ASSERT_TRUE(application.Document().HasUnsavedRectangles());
        // Ended as a session ends it: no question can be answered (the
        // test's questions are answered No).
        std::raise(SIGTERM);
        for (int i = 0; i < 500 && application.MainFrame()->isVisible(); ++i) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        EXPECT_FALSE(application.MainFrame()->isVisible());
        application.ExitInstance();
    }
    std::vector<std::string> asked;
    auto previous = platform::SetQuestionHandler([&](const std::string &, const std::string &text) {
        asked.push_back(text);
        return false;  // kept
    });
    Args args({"orvane"});
    app::COrvaneApp application(args.argc, args.pointers.data());
    ASSERT_TRUE(application.InitInstance());
    platform::SetQuestionHandler(previous);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("drawn on.pdf"), std::string::npos) << asked[0];
    EXPECT_EQ(application.Document().PathName().toStdString(), path);
    EXPECT_EQ(application.Document().Editing().CropRectangle(), (crop::CropRect{10, 20, 300, 400}));
    EXPECT_TRUE(application.Document().Pages().Set().LeftOut(2)) << "the page left out stays out";
    EXPECT_TRUE(application.Document().HasUnsavedRectangles()) << "still to be saved";
    // And shown: the rectangle's red frame is drawn on the page.
    const QImage shown = application.MainFrame()->PageView()->viewport()->grab().toImage();
    int red = 0;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x)
            red += shown.pixelColor(x, y) == QColor(255, 0, 0);
    EXPECT_GT(red, 100) << "the rectangle is not shown";
}

TEST(RecentFiles, HoldFourMostRecentFirstWithoutDuplicates) {
    app::RecentFileList list(4);
    for (const char *p : {"/a.pdf", "/b.pdf", "/c.pdf", "/d.pdf", "/e.pdf"})
        list.Add(p);
    EXPECT_EQ(list.Entries(), QStringList({"/e.pdf", "/d.pdf", "/c.pdf", "/b.pdf"}));
    list.Add("/c.pdf");
    EXPECT_EQ(list.Entries(), QStringList({"/c.pdf", "/e.pdf", "/d.pdf", "/b.pdf"}));
    list.Add("");
    EXPECT_EQ(list.Entries().size(), 4);

    QSettings settings = Settings();
    list.Save(settings);
    app::RecentFileList shorter(4);
    shorter.Add("/only.pdf");
    shorter.Save(settings);  // File2..File4 go away
    app::RecentFileList loaded(4);
    loaded.Load(settings);
    EXPECT_EQ(loaded.Entries(), QStringList({"/only.pdf"}));
}

}  // namespace

// The crop run and the save path through the real page view: stand-in
// tools for every way a run can end, then the real crop tool end to end
// with the range dialog and the save dialog answered as a user would.

#include "crop/model/crop_run.h"
#include "crop/model/document.h"
#include "crop/view/orvane_view.h"
#include "crop/view/page_range_dialog.h"
#include "platform/dialogs.h"
#include "platform/temp_files.h"
#include "render/page_source.h"
#include "res/command_ids.h"
#include "tests/fixtures/pdf_fixtures.h"
#include "tests/fixtures/temp_dir.h"
#include "tests/render/image_writers.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

namespace fs = std::filesystem;
using crop::COrvaneDoc;
using crop::CropRect;
using crop::CropRun;
using namespace res;

namespace {

// A stand-in crop tool: a shell script with the given body.
std::string Tool(const fixtures::TempDir &dir, const std::string &name, const std::string &body) {
    const std::string path = dir.file(name);
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
}

QString Q(const std::string &s) { return QString::fromStdString(s); }

struct Ended {
    bool ok = false;
    QString message;
};

Ended RunTo(CropRun &run, const CropRun::Job &job) {
    QSignalSpy finished(&run, &CropRun::Finished);
    QString reason;
    EXPECT_TRUE(run.Start(job, reason)) << reason.toStdString();
    EXPECT_TRUE(finished.wait(20000));
    if (finished.isEmpty())
        return {};
    return {finished.first().at(0).toBool(), finished.first().at(1).toString()};
}

TEST(CropRunTest, ArgumentsReachTheToolWholeAndProgressIsToldApart) {
    fixtures::TempDir dir;
    const std::string args = dir.file("args.txt");
    const std::string tool = Tool(dir, "tool",
                                  "for a in \"$@\"; do echo \"$a\" >> '" + args +
                                      "'; done\n"
                                      "echo 'quorrel: progress 1/2' >&2\n"
                                      "echo 'a note'\n"
                                      "echo 'quorrel: progress 2/2' >&2\n"
                                      "touch \"$6\"");
    const std::string odd = dir.file("a 'quoted' \"name\" $(x) `y`.pdf");
    CropRun run;
    QSignalSpy progress(&run, &CropRun::Progress);
    const Ended end = RunTo(run, {Q(tool), Q(dir.file("list $1.txt")), Q(dir.file("in put.pdf")), Q(odd)});
    EXPECT_TRUE(end.ok) << end.message.toStdString();
    EXPECT_TRUE(end.message.contains(Q(odd)));
    EXPECT_TRUE(end.message.endsWith(QStringLiteral(".\n\na note"))) << "what the tool said follows";
    EXPECT_EQ(fixtures::ReadFileBytes(args), "-s\nsetcropfile=" + dir.file("list $1.txt") + "\n-i\n" +
                                                 dir.file("in put.pdf") + "\n-o\n" + odd +
                                                 "\n--progress\n--require-crop\n");
    ASSERT_EQ(progress.count(), 2);
    EXPECT_EQ(progress.at(1).at(0).toInt(), 2);
    EXPECT_EQ(progress.at(1).at(1).toInt(), 2);
    EXPECT_EQ(run.Output(), "a note\n");
}

TEST(CropRunTest, AFailingToolIsNotSilentAndAMissingOneSaysSo) {
    fixtures::TempDir dir;
    CropRun run;
    const std::string out = dir.file("out.pdf");
    Ended end = RunTo(run, {Q(Tool(dir, "fails", "echo 'quorrel: cannot open in.pdf: damaged' >&2; exit 1")),
                            Q(dir.file("l.txt")), Q(dir.file("in.pdf")), Q(out)});
    EXPECT_FALSE(end.ok);
    EXPECT_TRUE(end.message.contains("cannot open in.pdf: damaged")) << end.message.toStdString();
    end = RunTo(run, {Q(Tool(dir, "quiet", "exit 0")), Q(dir.file("l.txt")), Q(dir.file("in.pdf")), Q(out)});
    EXPECT_FALSE(end.ok) << "no output file is no success";
    EXPECT_TRUE(end.message.contains("said nothing"));
    end = RunTo(run, {Q(Tool(dir, "killed", "kill -9 $$")), Q(dir.file("l.txt")), Q(dir.file("in.pdf")), Q(out)});
    EXPECT_FALSE(end.ok);
    // More than one read's worth of output arrives whole, in order.
    end = RunTo(run, {Q(Tool(dir, "long", "i=0; while [ $i -lt 3000 ]; do echo line$i; i=$((i+1)); done; exit 3")),
                      Q(dir.file("l.txt")), Q(dir.file("in.pdf")), Q(out)});
    EXPECT_TRUE(run.Output().startsWith("line0\nline1\n"));
    EXPECT_TRUE(run.Output().endsWith("line2998\nline2999\n"));

    QString reason;
    EXPECT_FALSE(run.Start({Q(dir.file("nowhere")), "l", "i", "o"}, reason));
    EXPECT_TRUE(reason.contains("missing")) << reason.toStdString();
}

TEST(CropRunTest, StoppingEndsTheToolWithoutAFinish) {
    fixtures::TempDir dir;
    CropRun run;
    QSignalSpy finished(&run, &CropRun::Finished);
    QString reason;
    // A tool that leaves one file behind when it is told to stop (and then
    // ends by the signal, as the crop tool does), another when it is left
    // to finish.
    const std::string finishedFile = dir.file("finished"), toldFile = dir.file("told"), readyFile = dir.file("ready");
    ASSERT_TRUE(run.Start({Q(Tool(dir, "slow",
                                  "trap \"touch '" + toldFile + "'; trap - TERM; kill -TERM \\$\\$\" TERM; touch '" +
                                      readyFile + "'; sleep 30 & wait; touch '" + finishedFile + "'")),
                           "l", "i", Q(dir.file("o.pdf"))},
                          reason));
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(readyFile); }, 10000));
    ASSERT_TRUE(run.IsRunning());
    EXPECT_FALSE(run.Start({Q(Tool(dir, "other", "exit 0")), "l", "i", "o"}, reason)) << "one run at a time";
    run.Stop();
    EXPECT_FALSE(run.IsRunning());
    EXPECT_FALSE(std::filesystem::exists(finishedFile)) << "the stop waited for the tool to finish";
    EXPECT_TRUE(std::filesystem::exists(toldFile)) << "the tool was not told to stop";
    QTest::qWait(50);
    EXPECT_EQ(finished.count(), 0);
}

// Three pages of 612 x 792 with a black box on each.
fixtures::DocPlan Pages() {
    fixtures::DocPlan plan = fixtures::PagesOfSizes({{612, 792}, {612, 792}, {612, 792}});
    for (fixtures::PagePlan &page : plan.pages)
        page.blackRects.push_back(fixtures::Box{100, 200, 300, 400});
    return plan;
}

class SaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        input = dir.file("in.pdf");
        fixtures::WritePdf(Pages(), input);
        view.resize(700, 600);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
        QString reason;
        ASSERT_TRUE(document.OpenDocument(Q(input), reason)) << reason.toStdString();
        platform::SetMessageHandler(
            [this](const std::string &, const std::string &text, platform::MessageIcon) { messages.push_back(text); });
    }
    void TearDown() override {
        platform::SetMessageHandler([](const std::string &, const std::string &, platform::MessageIcon) {});
        platform::SetSaveFileHandler([](const std::string &, const std::string &) { return std::string(); });
        platform::SetQuestionHandler([](const std::string &, const std::string &) { return false; });
        CropRun::SetToolPath(QString());
    }
    // Answers the range dialog with the keyboard: Home, Down `downs`
    // times, then Enter (or Escape). `openedOn` gets the choice it opened on.
    void AnswerRange(int downs, bool apply) {
        // Tied to the view, so that an answer never given goes with the test.
        QTimer::singleShot(0, &view, [this, downs, apply] {
            auto *dialog = qobject_cast<crop::CPageRangeDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            // Whatever goes wrong below, the dialog ends.
            QTimer::singleShot(2000, dialog, [dialog] { dialog->reject(); });
            EXPECT_EQ(dialog->windowTitle(), "Page Range Selection");
            openedOn = dialog->List()->currentText();
            EXPECT_EQ(dialog->focusWidget(), dialog->List());
            QTest::keyClick(dialog->List(), Qt::Key_Home);
            for (int i = 0; i < downs; ++i)
                QTest::keyClick(dialog->List(), Qt::Key_Down);
            QTest::keyClick(dialog->List(), apply ? Qt::Key_Return : Qt::Key_Escape);
        });
    }
    bool SaveAs(const std::string &output) {
        platform::SetSaveFileHandler([output](const std::string &filter, const std::string &suffix) {
            EXPECT_EQ(filter, "PDF Files (*.pdf);;All Files (*)");
            EXPECT_EQ(suffix, "pdf");
            return output;
        });
        QSignalSpy finished(&document, &COrvaneDoc::CropRunFinished);
        view.OnCommand(ID_FILE_SAVE_AS);
        if (document.Busy() != crop::Busy::CropRun)
            return false;
        EXPECT_TRUE(finished.wait(60000));
        return !finished.isEmpty() && finished.first().at(0).toBool();
    }
    std::pair<double, double> PageSize(const std::string &path, int page) {
        std::unique_ptr<render::PageSource> source = render::PageSource::Open(path, 1);
        render::PageExtent e;
        source->PageExtent(page, &e, 0);
        return {e.x2 - e.x1, e.y2 - e.y1};
    }

    fixtures::TempDir dir;
    std::string input;
    COrvaneDoc document;
    crop::COrvaneView view{document};
    std::vector<std::string> messages;
    QString openedOn;
};

TEST_F(SaveTest, OddPagesCroppedToTheDrawnRectangleThroughTheRealTool) {
    QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::NoModifier, {80, 380});
    QMouseEvent move(QEvent::MouseMove, QPointF(330, 620), view.viewport()->mapToGlobal(QPointF(330, 620)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view.viewport(), &move);
    QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::NoModifier, {330, 620});
    ASSERT_EQ(document.Editing().CropRectangle(), (CropRect{80, 380, 330, 620}));

    const std::string before = fixtures::ReadFileBytes(document.Pages().File().Path());
    AnswerRange(2, false);  // cancelled: no key changes
    view.OnCommand(ID_CROP_ALL_PAGES);
    EXPECT_EQ(fixtures::ReadFileBytes(document.Pages().File().Path()), before);
    AnswerRange(2, true);  // Odd Only
    view.OnCommand(ID_CUT_ALL);
    EXPECT_EQ(openedOn, "Odd Only") << "the dialog comes back on the choice it closed with";
    EXPECT_EQ(crop::CPageRangeDialog::Choice(), 2);
    EXPECT_NE(fixtures::ReadFileBytes(document.Pages().File().Path()).find("page3=80.00,412.00,330.00,172.00"),
              std::string::npos);

    // Cancelling the save dialog writes nothing.
    EXPECT_FALSE(SaveAs(""));
    const fs::path folder = dir.path() / "a 'quoted' \"folder\" $HOME";
    fs::create_directories(folder);
    const std::string output = (folder / "out put.pdf").string();
    EXPECT_TRUE(document.HasUnsavedRectangles());
    ASSERT_TRUE(SaveAs(output)) << (messages.empty() ? "" : messages.back());
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(document.HasUnsavedRectangles()) << "kept in the copy";
    document.Editing().NudgeSelectedRegion(1, 0, 1, 0);
    EXPECT_TRUE(document.HasUnsavedRectangles());
    document.Undo();
    EXPECT_FALSE(document.HasUnsavedRectangles()) << "undone back to exactly what was saved";
    EXPECT_EQ(PageSize(output, 1), std::make_pair(250.0, 240.0));
    // What a save will change, told before an edit, is not what the save after it writes.
    QByteArray json;
    QString why;
    ASSERT_TRUE(document.Save().Report(QString::fromStdString(output), json, why)) << why.toStdString();
    document.Editing().NudgeSelectedRegion(0, 0, -50, 0);
    ASSERT_TRUE(SaveAs(output)) << (messages.empty() ? "" : messages.back());
    EXPECT_EQ(PageSize(output, 1), std::make_pair(200.0, 240.0));
    EXPECT_EQ(PageSize(output, 2), std::make_pair(612.0, 792.0));
    EXPECT_EQ(PageSize(output, 3), std::make_pair(250.0, 240.0));
    // The crop list went to the tool on its input: no file of it was made.
    for (const std::string &temporary : platform::TempFileRegistry::Instance().Paths())
        EXPECT_FALSE(temporary.ends_with(".txt")) << temporary;
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1) << "no temporary left";
}

TEST_F(SaveTest, AMissingOrFailingToolAndAPictureDocumentSaySo) {
    document.Editing().SetCurrentPageRect(CropRect{10, 10, 100, 100}, false);
    CropRun::SetToolPath(Q(dir.file("not here")));
    EXPECT_FALSE(SaveAs(dir.file("out.pdf")));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("crop tool cannot be found"), std::string::npos);

    CropRun::SetToolPath(Q(Tool(dir, "fails", "echo 'quorrel: out of paper' >&2; exit 1")));
    QSignalSpy finished(&document, &COrvaneDoc::CropRunFinished);
    EXPECT_FALSE(SaveAs(dir.file("out.pdf")));
    ASSERT_EQ(finished.count(), 1);
    EXPECT_TRUE(finished.first().at(1).toString().contains("out of paper"));
    EXPECT_FALSE(fs::exists(dir.file("out.pdf")));

    // A file changed on disk since it was opened may hold other pages than
    // the rectangles were drawn on: the save is asked first, and the model
    // refuses it unless the change was accepted.
    const std::string before = fixtures::ReadFileBytes(input);
    fixtures::WritePdf(fixtures::PagesOfSizes({{300, 300}}), input);
    EXPECT_TRUE(document.FileChangedOnDisk());
    messages.clear();
    CropRun::SetToolPath(Q(Tool(dir, "copies", "cp \"$4\" \"$6\"")));
    std::vector<std::string> asked;
    bool answer = false;
    platform::SetQuestionHandler([&](const std::string &, const std::string &text) {
        asked.push_back(text);
        return answer;
    });
    EXPECT_FALSE(SaveAs(dir.file("out.pdf")));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("has changed on disk since it was opened"), std::string::npos) << asked[0];
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(fs::exists(dir.file("out.pdf")));
    QString refused;
    EXPECT_FALSE(document.Save().Run(Q(dir.file("out.pdf")), refused));
    EXPECT_TRUE(refused.contains("has changed on disk")) << refused.toStdString();
    answer = true;
    EXPECT_TRUE(SaveAs(dir.file("out.pdf")));
    EXPECT_EQ(fixtures::ReadFileBytes(dir.file("out.pdf")), fixtures::ReadFileBytes(input));
    platform::SetQuestionHandler([](const std::string &, const std::string &) { return false; });
    fs::remove(dir.file("out.pdf"));
    std::ofstream(input, std::ios::binary | std::ios::trunc) << before;

    // A picture is shown and edited, but only a PDF is saved cropped.
    const std::string png = dir.file("picture.png");
    ASSERT_TRUE(testimages::Save(png, testimages::Png(testimages::Pattern(60, 40), false)));
    QString reason;
    ASSERT_TRUE(document.OpenDocument(Q(png), reason)) << reason.toStdString();
    messages.clear();
    EXPECT_FALSE(SaveAs(dir.file("out.pdf")));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("Only PDF documents can be saved cropped"), std::string::npos);
}

TEST_F(SaveTest, WhileTheToolRunsTheDocumentIsHeldAndASaveOverItOpensItAfresh) {
    CropRun::SetToolPath(Q(Tool(dir, "slow", "sleep 1; cat \"$4\" > \"$6.new\" && mv \"$6.new\" \"$6\"")));
    document.Editing().SetCurrentPageRect(CropRect{10, 10, 100, 100}, false);
    platform::SetSaveFileHandler([this](const std::string &, const std::string &) { return input; });
    // Asked first; No keeps everything.
    view.OnCommand(ID_SAVE_FILE);
    EXPECT_NE(document.Busy(), crop::Busy::CropRun);
    platform::SetQuestionHandler([](const std::string &, const std::string &) { return true; });
    QSignalSpy finished(&document, &COrvaneDoc::CropRunFinished);
    QSignalSpy opened(&document, &COrvaneDoc::DocumentOpened);
    view.OnCommand(ID_SAVE_FILE);
    ASSERT_EQ(document.Busy(), crop::Busy::CropRun);
    QString reason;
    EXPECT_FALSE(document.OpenDocument(Q(input), reason));
    EXPECT_TRUE(reason.contains("being written"));
    document.Editing().DeleteCurrentPageRect();
    EXPECT_FALSE(document.Editing().CropRectangle().IsEmpty()) << "no change while the tool reads the document";
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_TRUE(finished.first().at(0).toBool());
    EXPECT_EQ(opened.count(), 1) << "opened afresh";
    EXPECT_TRUE(document.Editing().CropRectangle().IsEmpty());
    EXPECT_FALSE(document.Pages().History().CanUndo());
}

TEST_F(SaveTest, PagesGrowOnlyWhenMarginsPastThePageAreAllowedAndARegionReachesPastIt) {
    const std::string args = dir.file("args.txt");
    CropRun::SetToolPath(Q(Tool(dir, "record", "echo \"$@\" >> \"" + args + "\"; cat \"$4\" > \"$6\"")));
    auto saved = [&](const char *name) {
        std::remove(args.c_str());
        QSignalSpy finished(&document, &COrvaneDoc::CropRunFinished);
        QString reason;
        EXPECT_TRUE(document.Save().Run(Q(dir.file(name)), reason)) << reason.toStdString();
        EXPECT_TRUE(finished.wait(20000));
        std::ifstream in(args);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    document.Save().SetAddMargins(true);
    document.Editing().SetCurrentPageRect(CropRect{10, 10, 100, 100}, false);
    EXPECT_EQ(saved("inside.pdf").find("--add-margins"), std::string::npos) << "nothing reaches past";
    document.Pages().SetMargins({0, 0, -50, 0}, {1});
    EXPECT_NE(saved("grown.pdf").find("--add-margins"), std::string::npos);
    document.Save().SetAddMargins(false);  // cut at the edge, as ever
    EXPECT_EQ(saved("cut.pdf").find("--add-margins"), std::string::npos);
}

TEST_F(SaveTest, CopyingNoRectangleToOtherPagesIsAskedFirst) {
    document.ShowPage(2);
    document.Editing().SetCurrentPageRect(CropRect{10, 20, 300, 400}, false);
    document.ShowPage(1);
    int asked = 0;
    platform::SetQuestionHandler([&](const std::string &, const std::string &text) {
        ++asked;
        EXPECT_NE(text.find("Page 1 has no crop rectangle"), std::string::npos) << text;
        return false;
    });
    AnswerRange(0, true);  // All Pages
    view.OnCommand(ID_CROP_ALL_PAGES);
    EXPECT_EQ(asked, 1);
    document.ShowPage(2);
    EXPECT_FALSE(document.Editing().CropRectangle().IsEmpty()) << "No keeps page 2's rectangle";
}

TEST_F(SaveTest, ASaveThroughALinkReplacesTheFileItNames) {
    // A stand-in that, as the crop tool, replaces the file a link names.
    CropRun::SetToolPath(
        Q(Tool(dir, "copy", "out=$(readlink -f \"$6\"); cat \"$4\" > \"$out.new\" && mv \"$out.new\" \"$out\"")));
    const std::string target = dir.file("target.pdf"), link = dir.file("link.pdf");
    std::ofstream(target) << "old";
    document.Editing().SetCurrentPageRect(CropRect{10, 10, 100, 100}, false);
    fs::create_symlink(target, link);
    ASSERT_TRUE(SaveAs(link));
    EXPECT_TRUE(fs::is_symlink(link)) << "the link stays a link";
    EXPECT_EQ(fixtures::ReadFileBytes(target), fixtures::ReadFileBytes(input));
}

TEST_F(SaveTest, AReadOnlyFileIsReplacedOnlyWhenTheUserSaysSoAgain) {
    const std::string kept = dir.file("kept.pdf");
    std::ofstream(kept) << "the user's";
    ::chmod(kept.c_str(), 0444);
    document.Editing().SetCurrentPageRect(CropRect{10, 10, 100, 100}, false);
    std::vector<std::string> asked;
    bool answer = false;
    platform::SetQuestionHandler([&](const std::string &, const std::string &text) {
        asked.push_back(text);
        return answer;
    });
    EXPECT_FALSE(SaveAs(kept));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("is read-only"), std::string::npos) << asked[0];
    EXPECT_EQ(fixtures::ReadFileBytes(kept), "the user's");
    answer = true;
    EXPECT_TRUE(SaveAs(kept)) << (messages.empty() ? "" : messages.back());
    EXPECT_EQ(fixtures::ReadFileBytes(kept).rfind("%PDF-", 0), 0u);
}

TEST(CropRunTest, AToolThatEndsWithoutWritingLeavesAnExistingFileAFailure) {
    fixtures::TempDir dir;
    const std::string out = dir.file("out.pdf");
    std::ofstream(out) << "the user's file";
    CropRun run;
    const Ended end = RunTo(run, {Q(Tool(dir, "quiet", "exit 0")), "l", "i", Q(out)});
    EXPECT_FALSE(end.ok) << "the file there is not one the tool wrote";
    EXPECT_EQ(fixtures::ReadFileBytes(out), "the user's file");
}

TEST(CropRunTest, ALockedDocumentsPasswordReachesTheToolOnItsInputNeverInItsArguments) {
    fixtures::TempDir dir;
    const std::string args = dir.file("args.txt"), input = dir.file("input.txt"), out = dir.file("out.pdf");
    // What `ps` shows of the tool is its arguments.
    const std::string tool = Tool(dir, "tool",
                                  "for a in \"$@\"; do echo \"$a\" >> '" + args +
                                      "'; done\n"
                                      "cat > '" +
                                      input + "'\necho done > \"$6\"");
    CropRun run;
    CropRun::Job job{Q(tool), "list.txt", "in.pdf", Q(out)};
    job.password = std::make_shared<const platform::Secret>("s3cr3t word");
    job.removeHidden = true;
    ASSERT_TRUE(RunTo(run, job).ok);
    std::ifstream a(args);
    const std::string given((std::istreambuf_iterator<char>(a)), std::istreambuf_iterator<char>());
    EXPECT_EQ(given.find("s3cr3t"), std::string::npos) << given;
    EXPECT_NE(given.find("--password-fd\n0\n"), std::string::npos) << given;
    EXPECT_NE(given.find("--remove-hidden\n"), std::string::npos) << given;
    std::ifstream i(input);
    const std::string read((std::istreambuf_iterator<char>(i)), std::istreambuf_iterator<char>());
    EXPECT_EQ(read, "s3cr3t word\n") << "its first line, and nothing more when the list is a file";
}

TEST(CropRunTest, AStopThatComesAfterTheToolHasFinishedTellsTheFinish) {
    fixtures::TempDir dir;
    const std::string out = dir.file("out.pdf");
    CropRun run;
    QSignalSpy finished(&run, &CropRun::Finished);
    QString reason;
    ASSERT_TRUE(run.Start({Q(Tool(dir, "quick", "echo done > \"$6\"")), "l", "i", Q(out)}, reason));
    // The tool ends at once; the stop comes before its end is seen.
    QTest::qSleep(500);
    EXPECT_FALSE(run.Stop());
    ASSERT_EQ(finished.count(), 1);
    EXPECT_TRUE(finished.first().at(0).toBool());
}

}  // namespace

TEST_F(SaveTest, CropAllPagesTakesARangeTypedInThePagesBoxAndRefusesOneTheDocumentLacks) {
    document.Editing().SetCurrentPageRect(CropRect{10, 20, 300, 400}, false);
    bool refused = false, stayedOpen = false;
    QTimer::singleShot(0, &view, [&] {
        auto *dialog = qobject_cast<crop::CPageRangeDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        QTimer::singleShot(2000, dialog, [dialog] { dialog->reject(); });
        for (int i = 0; i < 3; ++i)
            QTest::keyClick(dialog->List(), Qt::Key_Down);
        EXPECT_EQ(dialog->List()->currentText(), "Pages...");
        EXPECT_EQ(dialog->focusWidget(), dialog->RangeBox()) << "the keyboard goes to the box";
        QTest::keyClicks(dialog->RangeBox(), "0");
        QTest::keyClick(dialog->RangeBox(), Qt::Key_Return);
        refused = dialog->Problem()->isVisible() &&
                  dialog->Problem()->text().startsWith("Page 0 does not exist: the document has pages 1 to");
        stayedOpen = dialog->isVisible();
        // Nothing is cut off: the title, the hint, the message wrapped whole.
        QApplication::processEvents();
        for (QLabel *label : dialog->findChildren<QLabel *>()) {
            if (label->isVisible()) {
                EXPECT_GE(label->height(),
                          label->wordWrap() ? label->heightForWidth(label->width()) : label->sizeHint().height())
                    << label->text().toStdString();
            }
        }
        EXPECT_GE(dialog->RangeBox()->width(),
                  dialog->RangeBox()->fontMetrics().horizontalAdvance(dialog->RangeBox()->placeholderText()));
        EXPECT_GE(dialog->width(), dialog->fontMetrics().horizontalAdvance(dialog->windowTitle()) + 100);
        dialog->RangeBox()->selectAll();
        QTest::keyClicks(dialog->RangeBox(), "3 odd");
        QTest::keyClick(dialog->RangeBox(), Qt::Key_Return);
    });
    view.OnCommand(ID_CROP_ALL_PAGES);
    EXPECT_TRUE(refused);
    EXPECT_TRUE(stayedOpen);
    const std::string file = fixtures::ReadFileBytes(document.Pages().File().Path());
    EXPECT_NE(file.find("page3="), std::string::npos);
    EXPECT_EQ(file.find("page2="), std::string::npos);
    EXPECT_EQ(crop::CPageRangeDialog::LastRange(), "3 odd");
}

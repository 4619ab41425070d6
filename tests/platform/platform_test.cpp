// Temporary names, their deletion at exit, the executable's folder and the
// message seam.

#include "platform/dialogs.h"
#include "platform/exe_folder.h"
#include "platform/file_identity.h"
#include "platform/file_names.h"
#include "platform/temp_files.h"

#include <QCoreApplication>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QScreen>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::MakeTempFileName;
using platform::TempFileRegistry;

namespace {

std::string ReadBytes(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

TEST(TempFiles, NamesAreFreshCarryThePrefixAndSuffixAndAreRegistered) {
    std::string a, b;
    const size_t before = TempFileRegistry::Instance().Paths().size();
    const size_t lengthA = MakeTempFileName(1024, a, ".txt");
    const size_t lengthB = MakeTempFileName(300, b, ".jpg");
    ASSERT_EQ(lengthA, a.size());
    ASSERT_EQ(lengthB, b.size());
    EXPECT_NE(a, b);
    for (const std::string &name : {a, b}) {
        fs::path p(name);
        EXPECT_EQ(p.parent_path().parent_path(), fs::path(QDir::tempPath().toStdString()));
        EXPECT_EQ(p.filename().string().rfind("pdf", 0), 0u) << name;
        // Made under that very name, this user's alone, in a folder of
        // this process's that no other user may enter.
        struct stat file {
        }, folder{};
        ASSERT_EQ(::lstat(name.c_str(), &file), 0) << name;
        EXPECT_TRUE(S_ISREG(file.st_mode));
        EXPECT_EQ(file.st_mode & 07777, 0600u);
        EXPECT_EQ(file.st_uid, ::geteuid());
        ASSERT_EQ(::lstat(p.parent_path().c_str(), &folder), 0);
        EXPECT_EQ(folder.st_mode & 07777, 0700u);
    }
    // A link put in the name's place is not written through.
    const std::string victim = (fs::temp_directory_path() / ("orvane-victim-" + std::to_string(::getpid()))).string();
    std::ofstream(victim) << "the victim's";
    fs::remove(a);
    fs::create_symlink(victim, a);
    EXPECT_LT(platform::OpenTempFile(a), 0);
    EXPECT_EQ(ReadBytes(victim), "the victim's");
    fs::remove(victim);
    EXPECT_TRUE(a.ends_with(".tmp.txt"));
    EXPECT_TRUE(b.ends_with(".tmp.jpg"));
    auto paths = TempFileRegistry::Instance().Paths();
    ASSERT_EQ(paths.size(), before + 2);
    EXPECT_EQ(paths[before], a);
    EXPECT_EQ(paths[before + 1], b);

    std::string untouched = "unchanged";
    EXPECT_EQ(MakeTempFileName(0, untouched, ".txt"), 0u);
    EXPECT_EQ(untouched, "unchanged");
    EXPECT_EQ(TempFileRegistry::Instance().Paths().size(), before + 2);

    std::string plain;
    ASSERT_GT(MakeTempFileName(1, plain, ""), 0u);
    EXPECT_TRUE(plain.ends_with(".tmp"));
    TempFileRegistry::Instance().DeleteAll();
    EXPECT_FALSE(fs::exists(fs::path(plain).parent_path())) << "the private folder goes with its files";
}

TEST(TempFiles, WhatKilledRunsLeftIsDeletedOnceADayOldAndItsProcessGone) {
    const fs::path folder = fs::temp_directory_path() / ("orvane-stale-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    std::string mine;
    MakeTempFileName(1024, mine, ".txt");
    const std::string own = fs::path(mine).filename().string();
    const std::vector<std::pair<std::string, bool>> files = {
        {"pdf999999999-Ab12Cd.tmp.txt", true},   // gone
        {"pdf999999999-Xy34Zw.tmp", true},       // gone
        {"pdf999999998-Ab12Cd.tmp.jpg", false},  // gone, but recent
        {own, true},                             // this process's own
        {"pdf999999997-Ab12Cd.txt", true},       // not a name the program makes
        {"notes999999997-Ab12Cd.tmp", true},
    };
    for (const auto &[name, old] : files) {
        std::ofstream(folder / name) << "x";
        if (old)
            fs::last_write_time(folder / name, fs::file_time_type::clock::now() - std::chrono::hours(25));
    }
    // A private folder a gone process left, with a picture in it.
    const fs::path left = folder / "orvane-999999999-Qw12Er";
    fs::create_directory(left);
    std::ofstream(left / "pdf999999999-Zx34Cv.tmp.jpg") << "x";
    fs::last_write_time(left / "pdf999999999-Zx34Cv.tmp.jpg",
                        fs::file_time_type::clock::now() - std::chrono::hours(25));
    fs::last_write_time(left, fs::file_time_type::clock::now() - std::chrono::hours(25));
    // An empty one of a gone process goes at once, whatever its age.
    const fs::path emptied = folder / "orvane-999999999-Ty56Ui";
    fs::create_directory(emptied);
    EXPECT_EQ(platform::RemoveStaleTempFiles(folder.string()), 3);
    EXPECT_FALSE(fs::exists(left));
    EXPECT_FALSE(fs::exists(emptied));
    EXPECT_FALSE(fs::exists(folder / files[0].first));
    EXPECT_FALSE(fs::exists(folder / files[1].first));
    for (size_t i = 2; i < files.size(); ++i)
        EXPECT_TRUE(fs::exists(folder / files[i].first)) << files[i].first;
    fs::remove_all(folder);
    TempFileRegistry::Instance().DeleteAll();
}

TEST(TempFiles, EveryRegisteredFileIsDeletedWrittenOrNot) {
    std::string written, never;
    MakeTempFileName(1024, written, ".txt");
    MakeTempFileName(1024, never, ".jpg");
    std::ofstream(written) << "Page 1, [0.00,0.00,0.00,0.00]\n";
    ASSERT_TRUE(fs::exists(written));
    TempFileRegistry::Instance().DeleteAll();
    EXPECT_FALSE(fs::exists(written));
    EXPECT_FALSE(fs::exists(never));
    EXPECT_TRUE(TempFileRegistry::Instance().Paths().empty());
    TempFileRegistry::Instance().DeleteAll();  // twice is harmless
}

TEST(TempFiles, AppendsFromTwoThreadsAreAllKept) {
    TempFileRegistry::Instance().DeleteAll();
    const int perThread = 200;
    auto make = [&] {
        for (int i = 0; i < perThread; ++i) {
            std::string name;
            MakeTempFileName(300, name, ".jpg");
        }
    };
    std::thread a(make), b(make);
    a.join();
    b.join();
    auto paths = TempFileRegistry::Instance().Paths();
    EXPECT_EQ(paths.size(), size_t(2 * perThread));
    EXPECT_EQ(std::set<std::string>(paths.begin(), paths.end()).size(), paths.size());
    TempFileRegistry::Instance().DeleteAll();
}

TEST(Files, NamesKeepTheirBytesAndOneFileIsKnownUnderOtherNumbers) {
    // Every byte of a name comes back, UTF-8 or not; a UTF-8 name is the
    // text it spells.
    for (const std::string &bytes :
         {std::string("plain.pdf"), std::string("na\xc3\xafve \xf0\x9f\x93\x84.pdf"), std::string("o2-\xe9.pdf"),
          std::string("\xed\xa0\x80\xc0\xaf\xff"), std::string("cut \xe2\x82")})
        EXPECT_EQ(platform::NativePath(platform::PathFromNative(bytes)), bytes);
    EXPECT_EQ(platform::PathFromNative("na\xc3\xafve"), QStringLiteral("na\u00efve"));
    EXPECT_NE(platform::PathFromNative("a\xe8"), platform::PathFromNative("a\xe9"));

    // A copy with the same bytes and times is taken for the file (as the
    // file seen through another mount is); a change at its end is not.
    const fs::path folder = fs::temp_directory_path() / ("orvane-same-" + std::to_string(::getpid()));
    fs::create_directories(folder);
    const std::string a = (folder / "a.pdf").string(), b = (folder / "b.pdf").string();
    std::ofstream(a, std::ios::binary) << std::string(200000, 'x') << "end";
    fs::copy_file(a, b);
    fs::last_write_time(b, fs::last_write_time(a));
    EXPECT_TRUE(platform::SameFile(a, b));
    std::fstream(b, std::ios::binary | std::ios::in | std::ios::out).seekp(200001) << 'y';
    fs::last_write_time(b, fs::last_write_time(a));
    EXPECT_FALSE(platform::SameFile(a, b));
    EXPECT_FALSE(platform::SameFile(a, (folder / "missing.pdf").string()));
    fs::remove_all(folder);
}

TEST(ExecutableFolder, IsTheFolderOfTheRunningProgram) {
    fs::path folder = platform::ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(fs::exists(folder / "platform_test"));
}

TEST(Messages, ABoxHoldingALongPathFitsTheScreenWithTheWholePathInItsDetails) {
    const std::string path = "/home/someone/" + std::string(200, 'd') + "/" + std::string(250, 'n') + ".pdf";
    const std::string text = path + " cannot be written: File name too long.";
    const auto box = platform::MakeMessageBox("Save", text, platform::MessageIcon::Warning, QMessageBox::Ok);
    box->show();
    QCoreApplication::processEvents();
    // No line of the text is wider than the box gives it, nor the box than the screen.
    const QLabel *label = box->findChild<QLabel *>("qt_msgbox_label");
    ASSERT_NE(label, nullptr);
    EXPECT_LE(label->minimumSizeHint().width(), label->width());
    EXPECT_LE(box->frameGeometry().width(), box->screen()->availableGeometry().width());
    EXPECT_EQ(box->detailedText().toStdString(), text);
    // Breaks of no width after each separator: a path wraps there, not inside a name.
    EXPECT_TRUE(box->text().startsWith(QStringLiteral("/\u200bhome/\u200bsomeone/\u200bd")));
    EXPECT_TRUE(QString(box->text()).remove(QChar(0x200b)).endsWith("nnnn.pdf cannot be written: File name too long."));
    // A message without long runs is shown as it is, with no details.
    const auto plain = platform::MakeMessageBox("Save", "Page 3 cannot be shown: it is damaged.",
                                                platform::MessageIcon::Warning, QMessageBox::Ok);
    EXPECT_EQ(plain->text(), "Page 3 cannot be shown: it is damaged.");
    EXPECT_TRUE(plain->detailedText().isEmpty());
}

TEST(Messages, TheHandlerAnswersInsteadOfABox) {
    std::string seen;
    auto previous =
        platform::SetMessageHandler([&](const std::string &title, const std::string &text, platform::MessageIcon icon) {
            seen = title + "|" + text + (icon == platform::MessageIcon::Error ? "|error" : "");
        });
    platform::ShowMessage("Dynamic Link Error", "DLL libravel.so failed to load", platform::MessageIcon::Error);
    EXPECT_EQ(seen, "Dynamic Link Error|DLL libravel.so failed to load|error");
    platform::SetMessageHandler(previous);
    // Without a widget application the default shows nothing and returns.
    platform::ShowMessage("t", "x", platform::MessageIcon::Information);
}

}  // namespace

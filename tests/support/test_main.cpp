// The main of every test program: no screen, and settings and working files
// (the crop file) kept in a folder of their own for each test, so tests
// never touch the user's files nor each other's. With ORVANE_WIDGET_TESTS a QApplication lives for the
// whole run.
#include "platform/dialogs.h"
#include "platform/exe_folder.h"

#include <QSettings>
#include <QString>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifdef ORVANE_WIDGET_TESTS
#include <QApplication>
#endif

namespace {

std::string MakeFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orvane-config-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char *made = ::mkdtemp(buffer.data());
    return made ? std::string(made) : std::string();
}

// A fresh settings folder for every test, for this process (QSettings) and
// for the programs it starts (XDG_CONFIG_HOME).
class FreshSettings : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo &) override {
        m_folder = MakeFolder();
        if (m_folder.empty())
            return;
        ::setenv("XDG_CONFIG_HOME", m_folder.c_str(), 1);
        const QString path = QString::fromStdString(m_folder);
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path);
        platform::SetWorkingFolder(m_folder);
    }
    void OnTestEnd(const ::testing::TestInfo &) override {
        if (m_folder.empty())
            return;
        platform::SetWorkingFolder(std::string());
        std::error_code ec;
        std::filesystem::remove_all(m_folder, ec);
        m_folder.clear();
    }
    std::string m_folder;
};

}  // namespace

int main(int argc, char **argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    // No test may wait for a person: boxes and dialogs answer at once
    // unless a test answers them itself.
    platform::SetMessageHandler([](const std::string &title, const std::string &text, platform::MessageIcon) {
        std::fprintf(stderr, "[message] %s: %s\n", title.c_str(), text.c_str());
    });
    platform::SetOpenFileHandler([](const std::string &) { return std::string(); });
    platform::SetSaveFileHandler([](const std::string &, const std::string &) { return std::string(); });
    platform::SetQuestionHandler([](const std::string &title, const std::string &text) {
        std::fprintf(stderr, "[question, answered No] %s: %s\n", title.c_str(), text.c_str());
        return false;
    });
    platform::SetChoiceHandler([](const std::string &title, const std::string &text) {
        std::fprintf(stderr, "[question, answered Cancel] %s: %s\n", title.c_str(), text.c_str());
        return platform::Answer::Cancel;
    });
    platform::SetOpenUrlHandler([](const std::string &) { return false; });
    platform::SetPrinterDialogHandler([](QPrinter &, platform::PrinterDialog) { return false; });
    platform::SetPrintPreviewHandler([](QPrinter &, const platform::PrintPainter &) {});

    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new FreshSettings);
    int result = 0;
    {
#ifdef ORVANE_WIDGET_TESTS
        QApplication application(argc, argv);
#endif
        result = RUN_ALL_TESTS();
    }
    return result;
}

// The main of every test program: no screen, and settings kept in a folder
// of their own so tests never touch the user's. With ORVANE_WIDGET_TESTS a
// QApplication lives for the whole run.
#include "platform/dialogs.h"

#include <gtest/gtest.h>

#include <cstdio>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#ifdef ORVANE_WIDGET_TESTS
#include <QApplication>
#endif

int main(int argc, char **argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::string pattern =
        (std::filesystem::temp_directory_path() / "orvane-config-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char *config = ::mkdtemp(buffer.data());
    if (config)
        ::setenv("XDG_CONFIG_HOME", config, 1);

    // No test may wait for a person: boxes and dialogs answer at once
    // unless a test answers them itself.
    platform::SetMessageHandler([](const std::string &title, const std::string &text, platform::MessageIcon) {
        std::fprintf(stderr, "[message] %s: %s\n", title.c_str(), text.c_str());
    });
    platform::SetOpenFileHandler([](const std::string &) { return std::string(); });
    platform::SetOpenUrlHandler([](const std::string &) { return false; });

    ::testing::InitGoogleTest(&argc, argv);
    int result = 0;
    {
#ifdef ORVANE_WIDGET_TESTS
        QApplication application(argc, argv);
#endif
        result = RUN_ALL_TESTS();
    }
    if (config) {
        std::error_code ec;
        std::filesystem::remove_all(config, ec);
    }
    return result;
}

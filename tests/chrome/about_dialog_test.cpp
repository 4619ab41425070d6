// The About box: its texts and links, and the banner's own reporting.

#include "chrome/about_dialog.h"
#include "platform/dialogs.h"
#include "platform/link_opener.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

namespace {

chrome::AboutTexts Texts() {
    return {"Sorrel Orvane v2.0", "Copyright (C) 2004-2026 Sorrel Software", "https://sorrel.example.org/",
            "support@sorrel.example.org"};
}

TEST(AboutDialogTest, ItShowsTheProductTextsWithLinksNotUnderlined) {
    chrome::CAboutDialog about(Texts());
    EXPECT_EQ(about.windowTitle(), "Sorrel Orvane v2.0");
    EXPECT_EQ(about.NameLabel()->text(), "Sorrel Orvane v2.0");
    EXPECT_EQ(about.CopyrightLabel()->text(), "Copyright (C) 2004-2026 Sorrel Software");
    EXPECT_EQ(about.HomePageLink()->LinkTarget(), "https://sorrel.example.org/");
    EXPECT_EQ(about.MailLink()->text(), "mailto:support@sorrel.example.org");
    EXPECT_EQ(about.MailLink()->LinkTarget(), "mailto:support@sorrel.example.org");
    EXPECT_FALSE(about.HomePageLink()->Underlined());
    EXPECT_FALSE(about.MailLink()->Underlined());
    EXPECT_EQ(about.Banner()->text(), "https://sorrel.example.org/");
}

TEST(AboutDialogTest, TheBannerSaysWhyOnlyWhenANamedBrowserCannotStart) {
    std::vector<std::string> messages;
    platform::SetOpenUrlHandler([](const std::string &) { return false; });
    platform::SetMessageHandler(
        [&](const std::string &, const std::string &text, platform::MessageIcon) { messages.push_back(text); });
    int startError = ENOENT;
    platform::SetLinkHandlers(nullptr, [&](const QStringList &) { return startError; });
    chrome::CAboutDialog about(Texts());
    unsetenv("BROWSER");
    EXPECT_FALSE(about.OpenHomePage());
    EXPECT_TRUE(messages.empty());  // no browser at all: nothing said
    setenv("BROWSER", "no-such-browser", 1);
    EXPECT_FALSE(about.OpenHomePage());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Unable to open hyperlink:\n\nThe specified file was not found.");
    startError = 0;
    EXPECT_TRUE(about.OpenHomePage());
    unsetenv("BROWSER");
    platform::SetLinkHandlers(nullptr, nullptr);
    platform::SetOpenUrlHandler(nullptr);
    platform::SetMessageHandler(nullptr);
}

}  // namespace

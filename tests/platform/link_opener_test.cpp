// Opening links: the browser command built from its template, the texts
// of the failure codes, and the fallback from the desktop to $BROWSER.

#include "platform/link_opener.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>

namespace {

using namespace platform;

TEST(LinkOpenerTest, TheBrowserCommandIsCutAtItsPlaceholderAndTakesTheTargetWhole) {
    const QString url = QStringLiteral("https://example.org/a b?x=1&y=\"2\"");
    // No placeholder: the whole command, a blank, the target.
    EXPECT_EQ(BrowserCommandLine("firefox --new-tab", url), "firefox --new-tab " + url);
    // The quoted placeholder: cut before its opening quote.
    EXPECT_EQ(BrowserCommandLine("\"/opt/my browser/run\" -url \"%1\" -x", url),
              "\"/opt/my browser/run\" -url  " + url);
    // An unquoted one.
    EXPECT_EQ(BrowserCommandLine("lynx %1", url), "lynx  " + url);
    // Started without a shell: the template split as a shell would, the
    // target one argument whatever it holds.
    EXPECT_EQ(BrowserArguments("\"/opt/my browser/run\" -url \"%1\" -x", url),
              (QStringList{"/opt/my browser/run", "-url", url}));
    EXPECT_EQ(BrowserArguments("w3m", "mailto:help@example.org"), (QStringList{"w3m", "mailto:help@example.org"}));
}

TEST(LinkOpenerTest, EachCodeHasItsTextAndAnUnlistedOneIsUnknown) {
    EXPECT_EQ(UnableToOpenText(2), "Unable to open hyperlink:\n\nThe specified file was not found.");
    EXPECT_EQ(LinkErrorText(26), "A sharing violation occurred.");
    EXPECT_EQ(LinkErrorText(26, true), "A sharing violation occurred. ");  // the link control's copy
    EXPECT_EQ(LinkErrorText(4), "Unknown Error (4) occurred.");
    EXPECT_EQ(LinkErrorText(31), "There is no application associated\nwith the given filename extension.");
    EXPECT_EQ(LinkCodeFromErrno(ENOENT), 2);
    EXPECT_EQ(LinkCodeFromErrno(EACCES), 5);
    EXPECT_EQ(LinkCodeFromErrno(ENOEXEC), 11);
    EXPECT_EQ(LinkErrorText(LinkCodeFromErrno(EIO)), "Unknown Error (-5) occurred.");
}

TEST(LinkOpenerTest, TheDesktopFirstThenTheBrowserNamedInTheEnvironment) {
    QStringList started;
    bool desktopOpens = true;
    int startError = 0;
    SetLinkHandlers([&](const QString &) { return desktopOpens; },
                    [&](const QStringList &arguments) {
                        started = arguments;
                        return startError;
                    });
    const char *previous = std::getenv("BROWSER");
    const std::string kept = previous ? previous : "";
    EXPECT_EQ(OpenLink("https://example.org/"), kLinkOpened);
    EXPECT_TRUE(started.isEmpty());
    desktopOpens = false;
    unsetenv("BROWSER");
    EXPECT_EQ(OpenLink("https://example.org/"), kLinkNoBrowser);  // nothing at all to open it with
    setenv("BROWSER", "my-browser --private %1", 1);
    EXPECT_EQ(OpenLink("https://example.org/"), kLinkOpened);
    EXPECT_EQ(started, (QStringList{"my-browser", "--private", "https://example.org/"}));
    startError = ENOENT;
    EXPECT_EQ(OpenLink("https://example.org/"), 2);
    if (previous)
        setenv("BROWSER", kept.c_str(), 1);
    else
        unsetenv("BROWSER");
    SetLinkHandlers(nullptr, nullptr);
}

}  // namespace

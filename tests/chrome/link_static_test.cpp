// The link control in a real widget: fitting its text whatever its
// alignment, the colours, and a click that opens its target or says why not.

#include "chrome/link_static.h"
#include "platform/dialogs.h"
#include "platform/link_opener.h"

#include <QFontMetrics>
#include <QTest>
#include <QWidget>

#include <gtest/gtest.h>

namespace {

using chrome::CLinkStatic;

TEST(LinkStaticTest, FittingToTheTextKeepsTheLeftTheCentreOrTheRightEdge) {
    QWidget dialog;
    CLinkStatic left("https://example.org/", &dialog), centre("https://example.org/", &dialog),
        right("https://example.org/", &dialog);
    centre.setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    right.setAlignment(Qt::AlignRight | Qt::AlignTop);
    const QRect box(40, 30, 300, 40);
    for (CLinkStatic *link : {&left, &centre, &right})
        link->setGeometry(box);
    const QSize text = QFontMetrics(left.font()).size(Qt::TextSingleLine, left.text());
    ASSERT_LT(text.width(), 300);
    left.FitToText();
    centre.FitToText();
    right.FitToText();
    EXPECT_EQ(left.geometry(), QRect(40, 30, text.width(), text.height()));
    EXPECT_EQ(right.geometry().right(), box.right());
    EXPECT_EQ(right.geometry().width(), text.width());
    EXPECT_EQ(right.geometry().top(), 30);
    EXPECT_LE(std::abs(centre.geometry().center().x() - box.center().x()), 1);
    EXPECT_LE(std::abs(centre.geometry().center().y() - box.center().y()), 1);
    EXPECT_LE(std::abs(centre.geometry().width() - text.width()), 1);
}

TEST(LinkStaticTest, AClickOpensTheTargetOrBeepsAndSaysWhy) {
    std::vector<std::string> opened, messages;
    bool opens = true;
    platform::SetOpenUrlHandler([&](const std::string &url) {
        opened.push_back(url);
        return opens;
    });
    platform::SetMessageHandler(
        [&](const std::string &, const std::string &text, platform::MessageIcon) { messages.push_back(text); });
    unsetenv("BROWSER");
    QWidget dialog;
    CLinkStatic link("mailto:help@example.org", &dialog);
    link.setGeometry(10, 10, 200, 20);
    dialog.show();
    EXPECT_EQ(link.LinkTarget(), "mailto:help@example.org");  // the text was the target
    EXPECT_EQ(link.toolTip(), "mailto:help@example.org");
    EXPECT_EQ(link.TextColour(), QColor(0, 0, 238));
    EXPECT_TRUE(link.font().underline());
    link.SetUnderlined(false);
    EXPECT_FALSE(link.font().underline());

    QTest::mouseClick(&link, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    EXPECT_EQ(opened, (std::vector<std::string>{"mailto:help@example.org"}));
    EXPECT_TRUE(link.Visited());
    EXPECT_EQ(link.TextColour(), QColor(85, 26, 139));
    EXPECT_TRUE(messages.empty());

    // Nothing opens it, and no browser is named.
    opens = false;
    QTest::mouseClick(&link, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    EXPECT_FALSE(link.Visited());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename "
                           "extension.");
    platform::SetOpenUrlHandler(nullptr);
    platform::SetMessageHandler(nullptr);
}

}  // namespace

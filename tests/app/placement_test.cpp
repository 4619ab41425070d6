// The stored window placement: the 44-byte record and the restore rules.

#include "app/window_placement.h"
#include "tests/fixtures/temp_dir.h"

#include <QMainWindow>
#include <QSettings>

#include <gtest/gtest.h>

using app::PlacementRecord;

namespace {

const QString kEntry = QStringLiteral("Sorrel Orvane v2.0");

class PlacementTest : public ::testing::Test {
protected:
    fixtures::TempDir dir;
    QSettings settings{QString::fromStdString(dir.file("settings.ini")), QSettings::IniFormat};

    void Store(const QByteArray &bytes) { settings.setValue(QStringLiteral("Position/") + kEntry, bytes); }
};

TEST_F(PlacementTest, RecordIs44LittleEndianBytesAndRoundTrips) {
    PlacementRecord r;
    r.showCmd = PlacementRecord::kShowMaximized;
    r.left = 10;
    r.top = -20;
    r.right = 810;
    r.bottom = 580;
    QByteArray bytes = app::EncodePlacement(r);
    ASSERT_EQ(bytes.size(), 44);
    EXPECT_EQ(uint8_t(bytes[0]), 44);     // the length field comes first
    EXPECT_EQ(uint8_t(bytes[8]), 3);      // then flags, then the show state
    EXPECT_EQ(uint8_t(bytes[32]), 0xec);  // top = -20, two's complement
    EXPECT_EQ(uint8_t(bytes[35]), 0xff);
    auto back = app::DecodePlacement(bytes);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->showCmd, 3);
    EXPECT_EQ(back->NormalRect(), QRect(10, -20, 800, 600));

    EXPECT_FALSE(app::DecodePlacement(bytes.left(43)));
    EXPECT_FALSE(app::DecodePlacement(bytes + QByteArray(1, '\0')));
    EXPECT_FALSE(app::DecodePlacement(QByteArray()));
}

TEST_F(PlacementTest, OnlyMaximisedAndNormalSurviveARestore) {
    PlacementRecord r;
    for (int32_t show : {0, 1, 2, 3, 6, 7, -5}) {
        r.showCmd = show;
        int32_t expected = show == 3 ? 3 : 1;
        EXPECT_EQ(app::ForRestore(r).showCmd, expected) << show;
    }
}

TEST_F(PlacementTest, SavedPlacementRestoresOnANewWindow) {
    {
        QMainWindow window;
        window.setGeometry(120, 90, 640, 480);
        window.show();
        app::SaveWindowPlacement(window, settings, kEntry);
    }
    QByteArray stored = settings.value(QStringLiteral("Position/") + kEntry).toByteArray();
    ASSERT_EQ(stored.size(), 44);
    QMainWindow window;
    app::RestoreWindowPlacement(window, settings, kEntry);
    window.show();
    EXPECT_EQ(window.geometry().size(), QSize(640, 480));
    EXPECT_EQ(window.geometry().topLeft(), QPoint(120, 90));
    EXPECT_FALSE(window.isMaximized());
}

TEST_F(PlacementTest, MinimisedRestoresAsNormalAndMaximisedAsMaximised) {
    PlacementRecord r;
    r.left = 50;
    r.top = 60;
    r.right = 550;
    r.bottom = 460;
    r.showCmd = PlacementRecord::kShowMinimized;
    Store(app::EncodePlacement(r));
    {
        QMainWindow window;
        app::RestoreWindowPlacement(window, settings, kEntry);
        window.show();
        EXPECT_FALSE(window.isMinimized());
        EXPECT_FALSE(window.isMaximized());
        EXPECT_EQ(window.geometry(), QRect(50, 60, 500, 400));
    }
    r.showCmd = PlacementRecord::kShowMaximized;
    Store(app::EncodePlacement(r));
    {
        QMainWindow window;
        app::RestoreWindowPlacement(window, settings, kEntry);
        window.show();
        EXPECT_TRUE(window.isMaximized());
    }
}

TEST_F(PlacementTest, ARecordThatIsNot44BytesOrMissingChangesNothing) {
    QMainWindow window;
    window.setGeometry(30, 40, 300, 200);
    app::RestoreWindowPlacement(window, settings, kEntry);  // nothing stored
    EXPECT_EQ(window.geometry(), QRect(30, 40, 300, 200));

    PlacementRecord r;
    r.left = 0;
    r.top = 0;
    r.right = 900;
    r.bottom = 900;
    Store(app::EncodePlacement(r).left(40));
    app::RestoreWindowPlacement(window, settings, kEntry);
    EXPECT_EQ(window.geometry(), QRect(30, 40, 300, 200));
    Store(QByteArray("not a record"));
    app::RestoreWindowPlacement(window, settings, kEntry);
    EXPECT_EQ(window.geometry(), QRect(30, 40, 300, 200));
}

}  // namespace

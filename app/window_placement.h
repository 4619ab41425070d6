#ifndef APP_WINDOW_PLACEMENT_H
#define APP_WINDOW_PLACEMENT_H

#include <QByteArray>
#include <QRect>
#include <QSettings>
#include <QString>

#include <cstdint>
#include <optional>

class QWidget;

namespace app {

// The stored placement of the main window: a 44-byte record of 32-bit
// little-endian fields (length, flags, show state, minimised position,
// maximised position, normal rectangle as left, top, right, bottom).
struct PlacementRecord {
    static constexpr int kSize = 44;
    static constexpr int32_t kShowNormal = 1;
    static constexpr int32_t kShowMinimized = 2;
    static constexpr int32_t kShowMaximized = 3;

    int32_t flags = 0;
    int32_t showCmd = kShowNormal;
    int32_t minX = -1, minY = -1;
    int32_t maxX = -1, maxY = -1;
    int32_t left = 0, top = 0, right = 0, bottom = 0;

    QRect NormalRect() const { return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)); }
};

QByteArray EncodePlacement(const PlacementRecord &record);
// Nothing for a record that is not exactly 44 bytes long.
std::optional<PlacementRecord> DecodePlacement(const QByteArray &bytes);

// The record as it is applied: any show state other than maximised or
// normal (a minimised window, say) becomes normal.
PlacementRecord ForRestore(PlacementRecord record);

PlacementRecord CapturePlacement(const QWidget &window);
void ApplyPlacement(QWidget &window, const PlacementRecord &record);

// Section "Position", entry `entry` (the product name with version).
void SaveWindowPlacement(const QWidget &window, QSettings &settings, const QString &entry);
// Does nothing when no usable record is stored.
void RestoreWindowPlacement(QWidget &window, QSettings &settings, const QString &entry);

}  // namespace app

#endif

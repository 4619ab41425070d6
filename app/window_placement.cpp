#include "app/window_placement.h"

#include <QWidget>

namespace app {
namespace {

const char *kSection = "Position";

void Put(QByteArray &out, int32_t v) {
    auto u = uint32_t(v);
    for (int i = 0; i < 4; ++i)
        out.append(char((u >> (8 * i)) & 0xff));
}

int32_t Get(const QByteArray &in, int offset) {
    uint32_t u = 0;
    for (int i = 0; i < 4; ++i)
        u |= uint32_t(uint8_t(in[offset + i])) << (8 * i);
    return int32_t(u);
}

}  // namespace

QByteArray EncodePlacement(const PlacementRecord &r) {
    QByteArray out;
    out.reserve(PlacementRecord::kSize);
    for (int32_t v : {int32_t(PlacementRecord::kSize), r.flags, r.showCmd, r.minX, r.minY, r.maxX, r.maxY, r.left,
                      r.top, r.right, r.bottom})
        Put(out, v);
    return out;
}

std::optional<PlacementRecord> DecodePlacement(const QByteArray &bytes) {
    if (bytes.size() != PlacementRecord::kSize)
        return std::nullopt;
    PlacementRecord r;
    r.flags = Get(bytes, 4);
    r.showCmd = Get(bytes, 8);
    r.minX = Get(bytes, 12);
    r.minY = Get(bytes, 16);
    r.maxX = Get(bytes, 20);
    r.maxY = Get(bytes, 24);
    r.left = Get(bytes, 28);
    r.top = Get(bytes, 32);
    r.right = Get(bytes, 36);
    r.bottom = Get(bytes, 40);
    return r;
}

PlacementRecord ForRestore(PlacementRecord record) {
    if (record.showCmd != PlacementRecord::kShowMaximized && record.showCmd != PlacementRecord::kShowNormal)
        record.showCmd = PlacementRecord::kShowNormal;
    return record;
}

PlacementRecord CapturePlacement(const QWidget &window) {
    PlacementRecord r;
    if (window.isMinimized())
        r.showCmd = PlacementRecord::kShowMinimized;
    else if (window.isMaximized())
        r.showCmd = PlacementRecord::kShowMaximized;
    else
        r.showCmd = PlacementRecord::kShowNormal;
    // The rectangle the window has when it is neither maximised nor
    // minimised.
    QRect normal = window.isMaximized() || window.isMinimized() ? window.normalGeometry() : window.geometry();
    if (!normal.isValid())
        normal = window.geometry();
    r.left = normal.left();
    r.top = normal.top();
    r.right = normal.left() + normal.width();
    r.bottom = normal.top() + normal.height();
    return r;
}

void ApplyPlacement(QWidget &window, const PlacementRecord &stored) {
    PlacementRecord r = ForRestore(stored);
    QRect normal = r.NormalRect();
    if (normal.width() > 0 && normal.height() > 0)
        window.setGeometry(normal);
    Qt::WindowStates state = window.windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (r.showCmd == PlacementRecord::kShowMaximized)
        state |= Qt::WindowMaximized;
    window.setWindowState(state);
}

void SaveWindowPlacement(const QWidget &window, QSettings &settings, const QString &entry) {
    settings.beginGroup(kSection);
    settings.setValue(entry, EncodePlacement(CapturePlacement(window)));
    settings.endGroup();
}

void RestoreWindowPlacement(QWidget &window, QSettings &settings, const QString &entry) {
    settings.beginGroup(kSection);
    QVariant value = settings.value(entry);
    settings.endGroup();
    if (!value.isValid())
        return;
    if (auto record = DecodePlacement(value.toByteArray()))
        ApplyPlacement(window, *record);
}

}  // namespace app

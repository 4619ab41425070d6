#include "crop/view/crop_editor.h"

#include "crop/model/document.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cstdlib>

namespace crop {
namespace {

const QColor kRed(255, 0, 0);
constexpr int kPenWidth = 2;

// The pixels an outline of `r` drawn with a pen of `width` may touch.
QRegion OutlineRegion(const QRect &r, int width) {
    const int m = width + 1;
    const QRect outer = r.adjusted(-m, -m, m, m);
    const QRect inner = r.adjusted(m, m, -m, -m);
    return inner.isValid() ? QRegion(outer).subtracted(QRegion(inner)) : QRegion(outer);
}

QRect Spanning(QPoint a, QPoint b) {
    return QRect(QPoint(std::min(a.x(), b.x()), std::min(a.y(), b.y())),
                 QPoint(std::max(a.x(), b.x()), std::max(a.y(), b.y())));
}

}  // namespace

CropEditor::CropEditor(COrvaneDoc &document) : m_document(document) {}

void CropEditor::ShowRectangles() {
    m_tracker.SetHandleSize(kHandleSize);
    m_tracker.SetStyle(kStyle);
}

std::optional<IntRect> CropEditor::DrawnRect(const PageGeometry &g) const {
    const CropRect &crop = m_document.Editing().CropRectangle();
    if (!m_document.HasPicture() || crop.IsEmpty())
        return std::nullopt;
    const QPoint topLeft = g.PageToLogicalPixel(QPointF(crop.left, crop.top));
    const QPoint bottomRight = g.PageToLogicalPixel(QPointF(crop.right, crop.bottom));
    const QSize size = g.ScrollSize();
    IntRect r{topLeft.x(), topLeft.y(), bottomRight.x(), bottomRight.y()};
    const QPoint shift = -g.Scroll();
    if (m_document.Save().AddMargins())  // shown past the page's edges as it reaches
        return IntRect{r.left + shift.x(), r.top + shift.y(), r.right + shift.x(), r.bottom + shift.y()};
    // First from below, then from above, as the page allows.
    r.left = std::max(r.left, 0);
    r.top = std::max(r.top, 0);
    r.right = std::max(r.right, kMinimumBand);
    r.bottom = std::max(r.bottom, kMinimumBand);
    r.left = std::min(r.left, size.width() - kMinimumBand);
    r.top = std::min(r.top, size.height() - kMinimumBand);
    r.right = std::min(r.right, size.width());
    r.bottom = std::min(r.bottom, size.height());
    return IntRect{r.left + shift.x(), r.top + shift.y(), r.right + shift.x(), r.bottom + shift.y()};
}

std::optional<QRect> CropEditor::Band() const {
    if (!m_banding)
        return std::nullopt;
    return QRect(m_dragAnchor, m_dragEnd);
}

void CropEditor::SyncTracker(const PageGeometry &g) {
    if (m_tracker.IsTracking())
        return;
    // A page without a rectangle leaves nothing to grab. The tracker gets
    // the rectangle as it is seen, left edge on the left, so that a handle
    // pulled outward widens a rectangle however it was drawn.
    m_tracker.SetRect(DrawnRect(g).value_or(IntRect{}).Normalized());
}

QRegion CropEditor::BandRegion(const PageGeometry &g) const {
    if (!m_banding)
        return {};
    return OutlineRegion(g.LogicalToWindow(Spanning(m_dragAnchor, m_dragEnd)), kPenWidth);
}

QRegion CropEditor::FrameRegion() const {
    const std::optional<IntRect> frame = m_tracker.DragFrame();
    return frame ? OutlineRegion(frame->ToQRect(), 1) : QRegion();
}

QRegion CropEditor::Press(QPoint window, const PageGeometry &g, bool add) {
    if (!m_document.HasPicture() || HoldsRegions(m_document.Busy()) || IsDragging())
        return {};
    SyncTracker(g);
    m_dragAnchor = m_dragEnd = g.WindowToLogical(window);
    m_adding = add && !m_document.Editing().CropRectangle().IsEmpty();
    if (m_adding) {
        m_banding = true;
        return {};
    }
    m_trackStart = m_tracker.Rect();
    if (!m_document.Editing().CropRectangle().IsEmpty() && m_tracker.BeginTrack(window, false))
        return {};
    // A press inside another region selects it, and drags it from there.
    const std::vector<CropRect> regions = m_document.Editing().PageRegions();
    const QPointF at = g.WindowToPage(window);
    for (int i = int(regions.size()) - 1; i >= 0; --i) {
        const CropRect r = regions[size_t(i)].Normalized();
        if (i == m_document.Editing().SelectedRegion() || at.x() < r.left || at.x() > r.right || at.y() < r.top ||
            at.y() > r.bottom)
            continue;
        m_document.Editing().SelectRegion(i);
        SyncTracker(g);
        m_trackStart = m_tracker.Rect();
        if (!m_tracker.BeginTrack(window, false))
            break;
        return {};  // the document tells the view of the selection
    }
    m_banding = true;
    return {};
}

QRegion CropEditor::Move(QPoint window, const PageGeometry &g) {
    if (m_tracker.IsTracking()) {
        QRegion dirty = FrameRegion();
        if (m_tracker.TrackMove(window))
            dirty += FrameRegion();
        return dirty;
    }
    if (!m_banding || !m_document.HasPicture())
        return {};
    QRegion dirty = BandRegion(g);
    m_dragEnd = g.WindowToLogical(window);
    return dirty + BandRegion(g);
}

void CropEditor::StoreTrackerRect(const PageGeometry &g) {
    const IntRect &now = m_tracker.Rect();
    const IntRect &start = m_trackStart;
    const CropRect was = m_document.Editing().CropRectangle().Normalized();
    CropRect r;
    if (m_tracker.TrackedHit() == CHandleTracker::kHitMiddle) {
        // Moved: every edge by the distance the mouse moved, so the
        // rectangle keeps its size to the hundredth of a point, and one
        // drawn past the page comes back whole.
        const double unit = 100.0 / g.Zoom();
        r = CropRect{was.left + (now.left - start.left) * unit, was.top + (now.top - start.top) * unit,
                     was.right + (now.right - start.right) * unit, was.bottom + (now.bottom - start.bottom) * unit};
    } else {
        // Resized: the edges dragged go where they were put, the others
        // stay exactly where they were.
        const QPointF a = g.WindowToPage(QPoint(now.left, now.top));
        const QPointF b = g.WindowToPage(QPoint(now.right, now.bottom));
        r = CropRect{now.left == start.left ? was.left : a.x(), now.top == start.top ? was.top : a.y(),
                     now.right == start.right ? was.right : b.x(), now.bottom == start.bottom ? was.bottom : b.y()};
    }
    m_document.Editing().SetCurrentPageRect(r, false);
}

QRegion CropEditor::Release(QPoint window, const PageGeometry &g) {
    if (m_tracker.IsTracking()) {
        const QRegion dirty = FrameRegion();
        if (m_tracker.TrackRelease(window))
            StoreTrackerRect(g);
        return dirty;
    }
    if (!m_document.HasPicture())
        return {};
    m_tracker.SetHandleSize(kHandleSize);
    m_tracker.SetStyle(kStyle);
    if (!m_banding)
        return {};
    const QRegion dirty = BandRegion(g);
    m_banding = false;
    const QPoint a = m_dragAnchor, e = m_dragEnd;
    m_dragAnchor = m_dragEnd = QPoint();
    const QSize size = g.ScrollSize();
    const bool rightOfPage = a.x() >= size.width() && e.x() >= size.width();
    const bool belowPage = a.y() >= size.height() && e.y() >= size.height();
    // A band wholly in the margin past the page's edges holds nothing of it.
    const bool leftOfPage = a.x() <= 0 && e.x() <= 0, abovePage = a.y() <= 0 && e.y() <= 0;
    if (rightOfPage || belowPage || leftOfPage || abovePage || std::abs(e.x() - a.x()) <= kMinimumBand ||
        std::abs(e.y() - a.y()) <= kMinimumBand)
        return dirty;
    const QPointF from = g.LogicalToPage(a), to = g.LogicalToPage(e);
    if (m_adding)
        m_document.Editing().AddRegion(CropRect{from.x(), from.y(), to.x(), to.y()}, true);
    else
        m_document.Editing().SetCurrentPageRect(CropRect{from.x(), from.y(), to.x(), to.y()}, true);
    m_adding = false;
    return dirty;
}

QRegion CropEditor::Cancel(const PageGeometry &g) {
    if (m_tracker.IsTracking()) {
        const QRegion dirty = FrameRegion();
        m_tracker.TrackCancel();
        return dirty;
    }
    const QRegion dirty = BandRegion(g);
    m_banding = false;
    m_adding = false;
    m_dragAnchor = m_dragEnd = QPoint();
    return dirty;
}

QRegion CropEditor::CaptureLost(const PageGeometry &g) {
    if (m_tracker.IsTracking()) {
        const QRegion dirty = FrameRegion();
        if (m_tracker.TrackLost())
            StoreTrackerRect(g);
        return dirty;
    }
    return Cancel(g);
}

std::optional<Qt::CursorShape> CropEditor::CursorAt(QPoint window, const PageGeometry &g) {
    if (!m_document.HasPicture() || m_document.Editing().CropRectangle().IsEmpty() || HoldsRegions(m_document.Busy()))
        return std::nullopt;
    SyncTracker(g);
    return m_tracker.CursorAt(window);
}

void CropEditor::Paint(QPainter &painter, const PageGeometry &g) {
    SyncTracker(g);
    const QPen pen(kRed, kPenWidth, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
    // The regions not selected: red and dashed, without handles.
    const std::vector<CropRect> regions = m_document.Editing().PageRegions();
    if (regions.size() > 1) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(QPen(kRed, kPenWidth, Qt::DashLine, Qt::SquareCap, Qt::MiterJoin));
        painter.setBrush(Qt::NoBrush);
        for (size_t i = 0; i < regions.size(); ++i) {
            if (int(i) == m_document.Editing().SelectedRegion())
                continue;
            // The frame lies just outside the region's pixels, so it hides
            // none of what the region keeps.
            const CropRect r = regions[i].Normalized();
            const QPoint a = g.LogicalToWindow(g.PageToLogicalPixel(QPointF(r.left, r.top)));
            const QPoint b = g.LogicalToWindow(g.PageToLogicalPixel(QPointF(r.right, r.bottom)));
            if (b.x() > a.x() && b.y() > a.y())
                painter.drawRect(QRectF(a.x() - kPenWidth / 2.0, a.y() - kPenWidth / 2.0, b.x() - a.x() + kPenWidth,
                                        b.y() - a.y() + kPenWidth));
        }
        painter.restore();
    }
    if (const std::optional<IntRect> drawn = DrawnRect(g)) {
        // During a drag the rectangle stays where it was; the frame shows
        // where it is going.
        CCropTracker shown = m_tracker;
        shown.SetRect(*drawn);
        shown.DrawWithPen(painter, pen);
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (m_banding) {
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(g.LogicalToWindow(Spanning(m_dragAnchor, m_dragEnd)));
    }
    if (const std::optional<IntRect> frame = m_tracker.DragFrame()) {
        // An inverting frame, seen on any page.
        painter.setCompositionMode(QPainter::RasterOp_NotDestination);
        painter.setPen(QPen(Qt::black, 1));
        painter.setBrush(Qt::NoBrush);
        const QRect r = frame->ToQRect();
        painter.drawRect(r.adjusted(0, 0, -1, -1));
    }
    painter.restore();
}

}  // namespace crop

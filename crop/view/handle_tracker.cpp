#include "crop/view/handle_tracker.h"

#include <QBitmap>
#include <QBrush>
#include <QPainter>
#include <QPen>

#include <cstdlib>
#include <utility>

namespace crop {
namespace {

enum Edge { kLeft, kTop, kRight, kBottom };

struct HandleInfo {
    Edge xEdge, yEdge;
    int centreX, centreY;
    int offsetX, offsetY;
    int invertX, invertY;  // the handle this one becomes when inverted
};

constexpr HandleInfo kHandles[8] = {
    {kLeft, kTop, 0, 0, 0, 0, 1, 3},     {kRight, kTop, 0, 0, -1, 0, 0, 2}, {kRight, kBottom, 0, 0, -1, -1, 3, 1},
    {kLeft, kBottom, 0, 0, 0, -1, 2, 0}, {kLeft, kTop, 1, 0, 0, 0, 4, 6},   {kRight, kTop, 0, 1, -1, 0, 7, 5},
    {kLeft, kBottom, 1, 0, 0, -1, 6, 4}, {kLeft, kTop, 0, 1, 0, 0, 5, 7},
};

// For each edge: the opposite edge and the sign that leads across to it.
struct OppositeEdge {
    Edge opposite;
    int factor;
};
constexpr OppositeEdge kOpposite[4] = {{kRight, +1}, {kBottom, +1}, {kLeft, -1}, {kTop, -1}};

int &EdgeOf(IntRect &r, Edge e) {
    switch (e) {
    case kLeft:
        return r.left;
    case kTop:
        return r.top;
    case kRight:
        return r.right;
    default:
        return r.bottom;
    }
}

Edge EdgeIndex(const IntRect &r, const int *coordinate) {
    if (coordinate == &r.left)
        return kLeft;
    if (coordinate == &r.top)
        return kTop;
    if (coordinate == &r.right)
        return kRight;
    return kBottom;
}

// The cursor of each handle of the normalised rectangle, the interior, and
// the hatched border.
constexpr Qt::CursorShape kCursors[10] = {
    Qt::SizeFDiagCursor, Qt::SizeBDiagCursor, Qt::SizeFDiagCursor, Qt::SizeBDiagCursor, Qt::SizeVerCursor,
    Qt::SizeHorCursor,   Qt::SizeVerCursor,   Qt::SizeHorCursor,   Qt::SizeAllCursor,   Qt::SizeAllCursor,
};

// The hatch of the hatched styles: an 8 x 8 pattern of diagonal lines.
const QBrush &HatchBrush() {
    static const QBrush brush = [] {
        static const uchar rows[8] = {0x11, 0x22, 0x44, 0x88, 0x11, 0x22, 0x44, 0x88};
        return QBrush(QBitmap::fromData(QSize(8, 8), rows, QImage::Format_Mono));
    }();
    return brush;
}

void FillRect(QPainter &painter, const IntRect &r, const QBrush &brush) {
    if (r.Width() > 0 && r.Height() > 0)
        painter.fillRect(r.ToQRect(), brush);
}

// The outline around `r`: a pen of width w covers the w pixels just
// outside each edge, so nothing inside the rectangle is hidden.
void Outline(QPainter &painter, const IntRect &r, const QPen &pen) {
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const qreal w = std::max<qreal>(1, pen.widthF());
    painter.drawRect(QRectF(r.left - w / 2, r.top - w / 2, r.Width() + w, r.Height() + w));
}

}  // namespace

IntRect IntRect::Normalized() const {
    IntRect r = *this;
    if (r.left > r.right)
        std::swap(r.left, r.right);
    if (r.top > r.bottom)
        std::swap(r.top, r.bottom);
    return r;
}

CHandleTracker::CHandleTracker() : m_minimum(2 * kDefaultHandleSize, 2 * kDefaultHandleSize) {}

CHandleTracker::~CHandleTracker() = default;

int CHandleTracker::HandleSize(const IntRect *rect) const {
    int size = m_handleSize;
    if (!(m_style & kResizeOutside)) {
        const IntRect &r = rect ? *rect : m_rect;
        const int m = std::min(std::abs(r.Width()), std::abs(r.Height()));
        if (m < 2 * size)
            size = m / 2;
    }
    return size;
}

unsigned CHandleTracker::VisibleHandleMask() const {
    unsigned mask = 0x0F;
    const int s = 3 * m_handleSize;
    if (std::abs(m_rect.Width()) - s > 4)
        mask |= 0x50;
    if (std::abs(m_rect.Height()) - s > 4)
        mask |= 0xA0;
    return mask;
}

IntRect CHandleTracker::TrueRect() const {
    int n = 0;
    if (m_style & (kHatchedBorder | kResizeOutside))
        n += HandleSize() - 1;
    if (m_style & (kSolidLine | kDottedLine))
        n += 1;
    return m_rect.Normalized().Inflated(n);
}

IntRect CHandleTracker::HandleRect(int handle) const {
    IntRect r = m_rect.Normalized();
    if (m_style & (kSolidLine | kDottedLine))
        r = r.Inflated(1);
    const HandleInfo &info = kHandles[NormalizeHit(handle)];
    const int size = HandleSize();
    if (m_style & kResizeOutside)
        r = r.Inflated(size - 1);
    const int w = r.Width(), h = r.Height();
    IntRect square;
    square.left = EdgeOf(r, info.xEdge) + size * info.offsetX + info.centreX * (w - size) / 2;
    square.top = EdgeOf(r, info.yEdge) + size * info.offsetY + info.centreY * (h - size) / 2;
    square.right = square.left + size;
    square.bottom = square.top + size;
    return square;
}

int CHandleTracker::NormalizeHit(int hit) const {
    if (hit < 0 || hit > 7)
        return hit;
    if (m_rect.Width() < 0)
        hit = kHandles[hit].invertX;
    if (m_rect.Height() < 0)
        hit = kHandles[hit].invertY;
    return hit;
}

int CHandleTracker::HitTest(QPoint point) const {
    if (!TrueRect().Contains(point))
        return kHitNothing;
    const unsigned mask = VisibleHandleMask();
    for (int handle = 0; handle < 8; ++handle)
        if ((mask & (1u << handle)) && HandleRect(handle).Contains(point))
            return handle;
    if (m_style & kHatchedBorder)
        return kHitMiddle;
    return m_rect.Normalized().Inflated(1).Contains(point) ? kHitMiddle : kHitNothing;
}

std::optional<Qt::CursorShape> CHandleTracker::CursorAt(QPoint point) const {
    int hit = HitTest(point);
    if (hit < 0)
        return std::nullopt;
    hit = NormalizeHit(hit);
    if (hit == kHitMiddle && !m_rect.Normalized().Contains(point) && (m_style & kHatchedBorder))
        hit = 9;
    return kCursors[hit];
}

void CHandleTracker::Draw(QPainter &painter) const {
    painter.save();
    painter.resetTransform();
    const IntRect normal = m_rect.Normalized();
    if (m_style & (kSolidLine | kDottedLine)) {
        QPen pen(Qt::black, 0, (m_style & kDottedLine) ? Qt::DotLine : Qt::SolidLine);
        Outline(painter, normal, pen);
    }
    if (m_style & kHatchInside) {
        painter.setBackgroundMode(Qt::TransparentMode);
        FillRect(painter, {normal.left + 1, normal.top + 1, normal.right, normal.bottom}, HatchBrush());
    }
    if (m_style & kHatchedBorder) {
        const IntRect outer = TrueRect();
        painter.setBackgroundMode(Qt::TransparentMode);
        FillRect(painter, {outer.left, outer.top, outer.right, normal.top}, HatchBrush());
        FillRect(painter, {outer.left, normal.bottom, outer.right, outer.bottom}, HatchBrush());
        FillRect(painter, {outer.left, normal.top, normal.left, normal.bottom}, HatchBrush());
        FillRect(painter, {normal.right, normal.top, outer.right, normal.bottom}, HatchBrush());
    }
    if (m_style & (kResizeInside | kResizeOutside)) {
        const unsigned mask = VisibleHandleMask();
        for (int handle = 0; handle < 8; ++handle)
            if (mask & (1u << handle))
                FillRect(painter, HandleRect(handle), Qt::black);
    }
    painter.restore();
}

void CCropTracker::DrawWithPen(QPainter &painter, const QPen &pen) const {
    if (!(Style() & kDottedLine)) {
        Draw(painter);
        return;
    }
    painter.save();
    painter.resetTransform();
    painter.setRenderHint(QPainter::Antialiasing, false);
    Outline(painter, Rect().Normalized(), pen);
    if (Style() & (kResizeInside | kResizeOutside)) {
        const unsigned mask = VisibleHandleMask();
        for (int handle = 0; handle < 8; ++handle)
            if (mask & (1u << handle))
                FillRect(painter, HandleRect(handle), pen.color());
    }
    painter.restore();
}

void CHandleTracker::ModifyPointers(int hit, int *&x, int *&y) {
    if (hit == kHitMiddle)
        hit = kHitTopLeft;
    const HandleInfo &info = kHandles[hit];
    x = info.invertX != hit ? &EdgeOf(m_rect, info.xEdge) : nullptr;
    y = info.invertY != hit ? &EdgeOf(m_rect, info.yEdge) : nullptr;
}

bool CHandleTracker::BeginTrack(QPoint point, bool allowInvert) {
    if (m_tracking)
        return false;
    const int hit = HitTest(point);
    if (hit < 0)
        return false;
    m_allowInvert = allowInvert;
    m_tracking = true;
    m_moved = false;
    m_hit = hit;
    m_startRect = m_rect;
    int *x, *y;
    ModifyPointers(hit, x, y);
    // The press point's distance from what it moves (or from the centre).
    const int fromX = x ? *x : m_rect.left + std::abs(m_rect.Width()) / 2;
    const int fromY = y ? *y : m_rect.top + std::abs(m_rect.Height()) / 2;
    m_pressOffset = QPoint(point.x() - fromX, point.y() - fromY);
    return true;
}

bool CHandleTracker::TrackMove(QPoint point) {
    if (!m_tracking)
        return false;
    const IntRect old = m_rect;
    int *x, *y;
    ModifyPointers(m_hit, x, y);
    // Mouse positions arrive as signed 16-bit numbers.
    if (x)
        *x = int(int16_t(point.x())) - m_pressOffset.x();
    if (y)
        *y = int(int16_t(point.y())) - m_pressOffset.y();
    if (m_hit == kHitMiddle) {
        m_rect.right = m_rect.left + m_startRect.Width();
        m_rect.bottom = m_rect.top + m_startRect.Height();
    }
    ClampToMinimumSize(m_hit);
    if (m_rect == old)
        return false;
    OnRectChanged();
    m_moved = true;
    return true;
}

bool CHandleTracker::TrackRelease(QPoint point) {
    if (!m_tracking)
        return false;
    // The rectangle takes the release point, but the release itself never
    // counts as a move: a drag that never moved comes back unchanged.
    const bool wasMoved = m_moved;
    TrackMove(point);
    m_moved = wasMoved;
    return EndTrack(true);
}

bool CHandleTracker::TrackCancel() {
    if (!m_tracking)
        return false;
    m_rect = m_startRect;
    return EndTrack(false);
}

bool CHandleTracker::TrackLost() { return m_tracking ? EndTrack(true) : false; }

bool CHandleTracker::EndTrack(bool keep) {
    m_tracking = false;
    if (!keep || !m_moved)
        m_rect = m_startRect;
    return !(m_rect == m_startRect);
}

std::optional<IntRect> CHandleTracker::DragFrame() const {
    if (!m_tracking || !m_moved)
        return std::nullopt;
    return m_rect.Normalized();
}

void CHandleTracker::ClampToMinimumSize(int hit) {
    if (hit == kHitMiddle)
        return;
    int *x, *y;
    ModifyPointers(hit, x, y);
    auto clamp = [this](int *coordinate, int w, int minimum) {
        const int a = m_allowInvert ? std::abs(w) : w;
        if (!coordinate || a >= minimum)
            return;
        const int s = a != 0 ? w / a : 1;
        const OppositeEdge &o = kOpposite[EdgeIndex(m_rect, coordinate)];
        *coordinate = EdgeOf(m_rect, o.opposite) - s * minimum * o.factor;
    };
    clamp(x, m_rect.Width(), m_minimum.width());
    clamp(y, m_rect.Height(), m_minimum.height());
}

}  // namespace crop

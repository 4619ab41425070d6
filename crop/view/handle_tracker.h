#ifndef CROP_VIEW_HANDLE_TRACKER_H
#define CROP_VIEW_HANDLE_TRACKER_H

#include <QPoint>
#include <QRect>
#include <QSize>

#include <optional>

class QPainter;
class QPen;

namespace crop {

// A rectangle of whole pixels given by its edges: it holds its left and top
// edge and not its right and bottom edge. It may be inverted (left > right
// or top > bottom).
struct IntRect {
    int left = 0, top = 0, right = 0, bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    IntRect Normalized() const;
    IntRect Inflated(int n) const { return {left - n, top - n, right + n, bottom + n}; }
    bool Contains(QPoint p) const { return p.x() >= left && p.x() < right && p.y() >= top && p.y() < bottom; }
    // The same area as a QRect (empty when the rectangle is).
    QRect ToQRect() const { return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)); }
    bool operator==(const IntRect &) const = default;
};

// Shows one rectangle of window pixels with eight square handles, tells
// what lies under a point, chooses the cursor for it and runs the drag that
// moves the rectangle or one of its edges or corners. It knows nothing of
// pages or zoom.
//
// The drag is a state machine fed with the window's mouse and key events:
// BeginTrack at the press, TrackMove for every move, then one of
// TrackRelease (button up), TrackCancel (Escape or the right button: the
// starting rectangle comes back) or TrackLost (the window lost the mouse:
// the drag ends where it is). While it runs the frame the rectangle would
// take is DragFrame(); the rectangle itself changes with every move.
class CHandleTracker {
public:
    enum StyleBits : unsigned {
        kSolidLine = 1,
        kDottedLine = 2,
        kHatchedBorder = 4,
        kResizeInside = 8,
        kResizeOutside = 16,
        kHatchInside = 32,
    };
    // Hit codes; 0 to 7 are also the handle numbers.
    enum Hit : int {
        kHitNothing = -1,
        kHitTopLeft = 0,
        kHitTopRight = 1,
        kHitBottomRight = 2,
        kHitBottomLeft = 3,
        kHitTop = 4,
        kHitRight = 5,
        kHitBottom = 6,
        kHitLeft = 7,
        kHitMiddle = 8,
    };
    static constexpr int kDefaultHandleSize = 4;

    CHandleTracker();
    virtual ~CHandleTracker();

    unsigned Style() const { return m_style; }
    void SetStyle(unsigned style) { m_style = style; }
    const IntRect &Rect() const { return m_rect; }
    void SetRect(const IntRect &rect) { m_rect = rect; }
    QSize MinimumSize() const { return m_minimum; }
    void SetMinimumSize(QSize size) { m_minimum = size; }
    int HandleSizeField() const { return m_handleSize; }
    void SetHandleSize(int size) { m_handleSize = size; }

    // The handle's edge length for `rect` (the tracker's own when none):
    // halved to fit on a rectangle smaller than two handles.
    virtual int HandleSize(const IntRect *rect = nullptr) const;
    // Bits 0-3 (corners) always; the top and bottom side handles when the
    // width leaves room, the left and right ones when the height does.
    virtual unsigned VisibleHandleMask() const;
    // The area the tracker covers on screen.
    IntRect TrueRect() const;
    IntRect HandleRect(int handle) const;
    // The handle at the same place on screen as `hit` of the possibly
    // inverted rectangle.
    int NormalizeHit(int hit) const;
    int HitTest(QPoint point) const;
    // The cursor for a point, or nothing where the tracker has none.
    std::optional<Qt::CursorShape> CursorAt(QPoint point) const;
    void Draw(QPainter &painter) const;

    // Starts a drag at the press point; false (and nothing starts) when the
    // point is outside the tracker or a drag runs already.
    bool BeginTrack(QPoint point, bool allowInvert);
    bool IsTracking() const { return m_tracking; }
    // What the last drag took hold of (a handle, or the interior).
    int TrackedHit() const { return m_hit; }
    // True when the rectangle changed.
    bool TrackMove(QPoint point);
    // Each returns whether the rectangle differs from where it started.
    bool TrackRelease(QPoint point);
    bool TrackCancel();
    bool TrackLost();
    // The frame shown during the drag, normalised; nothing before the
    // rectangle first moves.
    std::optional<IntRect> DragFrame() const;

protected:
    // Keeps a handle drag from leaving the rectangle smaller than the
    // minimum size, or (without allow invert) from turning it over.
    virtual void ClampToMinimumSize(int hit);
    virtual void OnRectChanged() {}

private:
    // The coordinates `hit` moves (null for an axis it does not move).
    void ModifyPointers(int hit, int *&x, int *&y);
    bool EndTrack(bool keep);

    unsigned m_style = 0;
    IntRect m_rect;
    QSize m_minimum;
    int m_handleSize = kDefaultHandleSize;
    bool m_allowInvert = false;

    // The drag in progress.
    bool m_tracking = false;
    bool m_moved = false;
    int m_hit = kHitNothing;
    IntRect m_startRect;
    QPoint m_pressOffset;
};

// The tracker of the page view: draws its outline and handles with a pen
// the caller chooses.
class CCropTracker : public CHandleTracker {
public:
    // With the dotted-line style bit: the outline one pixel outside the
    // normalised rectangle in `pen`, and the visible handles filled with
    // the pen's colour. Without it, the plain drawing.
    void DrawWithPen(QPainter &painter, const QPen &pen) const;
};

}  // namespace crop

#endif

#ifndef CROP_VIEW_CROP_EDITOR_H
#define CROP_VIEW_CROP_EDITOR_H

#include "crop/model/regions/crop_file.h"
#include "crop/view/handle_tracker.h"
#include "crop/view/page_geometry.h"

#include <QPoint>
#include <QRegion>

#include <optional>

class QPainter;

namespace crop {

class COrvaneDoc;

// The crop editing of the page view: the rubber band that draws a new
// rectangle, the tracker that moves and resizes the shown one, and their
// drawing. The view feeds it its mouse and key input (window pixels, with
// the view's geometry at that moment) and repaints what it returns; every
// accepted change goes to the document.
//
// A band is accepted when it spans more than 10 pixels both ways and does
// not lie wholly right of or below the page; it is stored as drawn, in page
// points, neither normalised nor clamped. The rectangle is drawn back
// clamped to the page, in red, 2 pixels wide, with handles inside it.
class CropEditor {
public:
    static constexpr int kHandleSize = 6;
    static constexpr unsigned kStyle =
        CHandleTracker::kSolidLine | CHandleTracker::kDottedLine | CHandleTracker::kResizeInside;
    static constexpr int kMinimumBand = 10;

    explicit CropEditor(COrvaneDoc &document);

    // Rectangles are drawn, with their handles, from now on: as after the
    // first release of the mouse, for rectangles the user did not draw
    // (Shrink All Pages).
    void ShowRectangles();

    // Left button down: a drag of the selected region when the press is on
    // it; a press inside another region selects that one and drags it;
    // otherwise the start of a band, which redraws the selected region, or
    // with `add` (Ctrl held) draws another.
    QRegion Press(QPoint window, const PageGeometry &geometry, bool add = false);
    QRegion Move(QPoint window, const PageGeometry &geometry);
    // Left button up: the band or the drag ends.
    QRegion Release(QPoint window, const PageGeometry &geometry);
    // Escape or the right button: the drag or band ends with no change.
    QRegion Cancel(const PageGeometry &geometry);
    // The view lost the mouse: a drag ends where it is, a band goes.
    QRegion CaptureLost(const PageGeometry &geometry);
    bool IsDragging() const { return m_banding || m_tracker.IsTracking(); }

    // The cursor for a point over the rectangle, if it has one there.
    std::optional<Qt::CursorShape> CursorAt(QPoint window, const PageGeometry &geometry);
    // Draws the regions (the selected one with its handles, the others
    // dashed), the band and the drag frame.
    void Paint(QPainter &painter, const PageGeometry &geometry);

    const CCropTracker &Tracker() const { return m_tracker; }
    // The shown page's rectangle as drawn: clamped to the page, in window
    // pixels; nothing when the page has none.
    std::optional<IntRect> DrawnRect(const PageGeometry &geometry) const;
    // The band's corners in logical pixels while one is drawn.
    std::optional<QRect> Band() const;

private:
    // Puts the drawn rectangle into the tracker (not during its drag).
    void SyncTracker(const PageGeometry &geometry);
    QRegion BandRegion(const PageGeometry &geometry) const;
    QRegion FrameRegion() const;
    void StoreTrackerRect(const PageGeometry &geometry);

    COrvaneDoc &m_document;
    CCropTracker m_tracker;
    IntRect m_trackStart;  // the tracker's rectangle when its drag began
    bool m_banding = false;
    bool m_adding = false;  // the band draws another region
    QPoint m_dragAnchor;    // logical
    QPoint m_dragEnd;       // logical
};

}  // namespace crop

#endif

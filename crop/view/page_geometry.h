#ifndef CROP_VIEW_PAGE_GEOMETRY_H
#define CROP_VIEW_PAGE_GEOMETRY_H

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QSize>

namespace crop {

// The coordinates of the page view for one page size, zoom and scroll
// position, and the one place that converts between them:
//
//   window   screen pixels from the top-left of the view's client area
//   logical  screen pixels from the top-left of the page: window + scroll
//   page     points (1/72 inch) from the page's top-left corner, y down:
//            logical / zoom * 100, and back: page * zoom * 0.01
//
// The page occupies logical 0..W x 0..H, W and H being the page's whole
// points times the zoom over 100, truncated. Conversions to whole pixels
// truncate toward zero.
class PageGeometry {
public:
    PageGeometry() = default;
    PageGeometry(QSize pagePoints, double zoom, QPoint scroll = {})
        : m_pagePoints(pagePoints), m_zoom(zoom), m_scroll(scroll) {}

    QSize PagePoints() const { return m_pagePoints; }
    double Zoom() const { return m_zoom; }
    QPoint Scroll() const { return m_scroll; }

    // W x H: the page at the zoom, in logical pixels.
    QSize ScrollSize() const;
    // The page's rectangle in window pixels.
    QRect PageInWindow() const { return QRect(LogicalToWindow(QPoint(0, 0)), ScrollSize()); }

    QPoint WindowToLogical(QPoint window) const { return window + m_scroll; }
    QPoint LogicalToWindow(QPoint logical) const { return logical - m_scroll; }
    QRect LogicalToWindow(const QRect &logical) const { return logical.translated(-m_scroll); }
    QRect WindowToLogical(const QRect &window) const { return window.translated(m_scroll); }
    QPointF LogicalToPage(QPointF logical) const {
        return QPointF(logical.x() / m_zoom * 100, logical.y() / m_zoom * 100);
    }
    QPointF PageToLogical(QPointF page) const { return QPointF(page.x() * m_zoom * 0.01, page.y() * m_zoom * 0.01); }
    QPointF WindowToPage(QPoint window) const { return LogicalToPage(WindowToLogical(window)); }
    // Truncated to whole logical pixels (and to what an int holds with
    // room to spare); a pixel converted to points and back is itself again.
    QPoint PageToLogicalPixel(QPointF page) const;
    // Truncated to whole logical pixels, then moved by the scroll.
    QPoint PageToWindow(QPointF page) const;

    // The scroll position at which page point `page` lies under window
    // point `window` (not limited to the scroll range).
    QPoint ScrollKeeping(QPointF page, QPoint window) const;

    // Zoom Fit: 100 x min(cw / pw, ch / ph) for a client area of cw x ch
    // with no scroll bar, the height ratio passing through single
    // precision and taken on a tie, so the whole page fits. 0 when the
    // page has no size.
    static double FitPageZoom(QSize pagePoints, QSize client);
    // Zoom Fit Width: 100 x cw / pw; when the page is then taller than the
    // client, it needs a vertical scroll bar and the width fitted is the
    // width beside the bar, so no horizontal bar appears. 0 when the page
    // has no size.
    static double FitWidthZoom(QSize pagePoints, QSize client, int scrollBarWidth);
    // The client area left beside the scroll bars that a page of `total`
    // pixels needs in an area of `client` pixels without bars: a bar is
    // needed where the page overflows, counting the room the other bar
    // takes.
    static QSize ClientBesideBars(QSize total, QSize client, int verticalBarWidth, int horizontalBarHeight);

private:
    QSize m_pagePoints;
    double m_zoom = 100.0;
    QPoint m_scroll;
};

}  // namespace crop

#endif

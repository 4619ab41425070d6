#ifndef CROP_VIEW_ORVANE_VIEW_H
#define CROP_VIEW_ORVANE_VIEW_H

#include "crop/view/command_flows.h"
#include "crop/view/crop_editor.h"
#include "crop/view/edge_notes.h"
#include "crop/model/document.h"
#include "crop/view/page_geometry.h"
#include "crop/view/scaled_page_cache.h"

#include <QAbstractScrollArea>
#include <QSize>
#include <QTimer>

#include <cstdint>
#include <memory>

namespace crop {

// The page view: the right-hand pane showing the document's current page
// stretched to the zoom, with grey strips right of and below it. It draws
// and forwards input; the document it observes owns the page. Zooming,
// scrolling and painting never render: the page's picture is rendered once
// when it is shown and only scaled when drawn, and what was scaled is kept
// in a bounded cache so that a scroll paints only the strip it uncovers.
class COrvaneView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit COrvaneView(COrvaneDoc &document, QWidget *parent = nullptr);
    ~COrvaneView() override;

    COrvaneDoc &Document() const { return m_document; }
    bool HasPicture() const { return m_document.HasPicture(); }
    const CPagePicture &PagePicture() const { return m_document.PagePicture(); }
    double Zoom() const { return m_zoom; }
    // The page at the zoom, in view pixels.
    QSize ScrollSize() const { return Geometry().ScrollSize(); }
    // Page size, zoom and scroll position as they are now.
    PageGeometry Geometry() const;
    void UpdateScrollSizes();
    // What can be scrolled to, in logical pixels: the page, and where
    // margins past it are allowed, the regions reaching past it.
    QRect ScrollExtent() const;
    // The parts of the regions past the page, in window pixels; none while
    // margins past the page are not allowed.
    QRegion MarginBand(const PageGeometry &geometry) const;

    // A command of the range the main window forwards, or a print command.
    // A Nudge command (ID_MOVE_LEFT ... ID_SHRINK_DOWN) on the selected
    // region, by `points`.
    void Nudge(int id, double points);
    void OnCommand(int id);

    // What painting has cost so far: pixels painted and pixels scaled from
    // the page picture.
    struct PaintCounters {
        int64_t paintedPixels = 0;
        int64_t scaledPixels = 0;
    };
    PaintCounters Counters() const { return {m_paintedPixels, m_cache.ScaledPixels()}; }
    const CropEditor &Editor() const { return m_editor; }
    EdgeNotes &Notes() { return m_notes; }

    // Preview Copy: the page as the copy will have it, outside its regions
    // dimmed and each region numbered with its page of the copy.
    void SetPreview(bool on);
    // Shows the rectangles of the pages, as after Shrink All Pages, though
    // the user drew none yet (rectangles given back from an ended run).
    void ShowRectangles();
    bool Preview() const { return m_preview; }

signals:
    void ZoomChanged(double zoom);

protected:
    void paintEvent(QPaintEvent *event) override;
    void PaintPreview(QPainter &painter, const PageGeometry &geometry);
    // The repeated marks the last Shrink All Pages left out of the shown
    // page's crop (of all the overlay's pages on the overlay), outlined.
    void PaintMarks(QPainter &painter, const PageGeometry &geometry);
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool event(QEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool focusNextPrevChild(bool next) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    // The arrow keys on the selected region; false for any other key.
    bool NudgeByKey(const QKeyEvent *event);
    void focusOutEvent(QFocusEvent *event) override;

private:
    void PictureChanged();
    // Sets the zoom; when `anchor` is given (a window point), the page point
    // under it stays there.
    void SetZoom(double zoom, const QPoint *anchor = nullptr);
    void ZoomFit(bool widthOnly);
    // The width (or height) a scroll bar takes when it is shown as needed.
    int BarExtent(Qt::Orientation orientation) const;
    void Navigate(int id);
    void Repaint(const QRegion &dirty);
    // Above the picture's density, asks the document for the part of the
    // page in view rendered at the screen's density.
    void RequestSharp();
    // The page's size in device pixels at the zoom.
    QSize DevicePageSize() const;
    void UpdateCursor(QPoint window);

    COrvaneDoc &m_document;
    double m_zoom = 100.0;
    ScaledPageCache m_cache;
    int64_t m_paintedPixels = 0;
    bool m_preview = false;
    int m_wheelZoomDelta = 0;  // high-resolution wheel steps toward a notch
    CropEditor m_editor{m_document};
    EdgeNotes m_notes{m_document};
    QTimer m_sharpTimer;  // the view rests before a sharp region is asked for
    CommandFlows m_flows;
};

}  // namespace crop

#endif

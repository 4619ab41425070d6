#ifndef CROP_ORVANE_VIEW_H
#define CROP_ORVANE_VIEW_H

#include "render/bitmap.h"
#include "render/page_image.h"

#include <QAbstractScrollArea>
#include <QRect>
#include <QSize>

namespace crop {

// The picture of the shown page and the page's rectangle in whole points.
class CPagePicture : public render::PageImage {
public:
    bool HasPicture() const { return HasPixels(); }
    const QRect &PageRect() const { return m_pageRect; }
    int PageWidth() const { return m_pageRect.width(); }
    int PageHeight() const { return m_pageRect.height(); }
    // Clears, then copies the bitmap; false when it cannot be copied.
    bool SetFromBitmap(const render::Bitmap *bitmap, const QRect &pageRect);
    void Draw(QPainter &painter, const QRect &dest) const;
    void ClearPicture() {
        if (HasPixels())
            Clear();
    }

private:
    QRect m_pageRect;
};

// What the page view asks of the left pane, which owns the document.
class PageNavigator {
public:
    virtual ~PageNavigator() = default;
    virtual int PageCount() const = 0;
    virtual int CurrentPage() const = 0;  // from 1
    // Selects strip item `index` (from 0), which shows that page.
    virtual void SelectPage(int index) = 0;
    // Closes the open document and empties the strip.
    virtual void CloseDocument() = 0;
};

// The page view: the right-hand pane showing one page of the open
// document, stretched to the zoom, with grey strips right of and below it.
// Zooming, scrolling and painting never render: the page's picture is
// rendered once when it is shown and only scaled when drawn.
class COrvaneView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit COrvaneView(QWidget *parent = nullptr);

    void SetNavigator(PageNavigator *navigator) { m_navigator = navigator; }

    bool HasPicture() const { return m_pagePicture.HasPicture(); }
    const CPagePicture &PagePicture() const { return m_pagePicture; }
    bool AutoShrink() const { return m_autoShrink; }
    double Zoom() const { return m_zoom; }
    // The page at the zoom, in view pixels.
    QSize ScrollSize() const { return m_scrollSize; }

    // Shows a new page: the picture from `bitmap`, the page rectangle in
    // whole points. An empty view when the bitmap cannot be copied.
    bool SetPagePicture(const render::Bitmap *bitmap, const QRect &pageRect);
    // Empties the view (the document was closed or could not be shown).
    void ClearPicture();
    void UpdateScrollSizes();

    // A command forwarded by the main window.
    void OnCommand(int id);

signals:
    // The picture came or went, or the auto-shrink flag changed.
    void CommandStateChanged();
    // Close emptied the view: the document is untitled again.
    void DocumentClosed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void SetZoom(double zoom);
    void ZoomFit(bool widthOnly);
    void Navigate(int id);
    void Close();

    CPagePicture m_pagePicture;
    double m_zoom = 100.0;
    QSize m_scrollSize{0, 0};
    bool m_autoShrink = false;
    PageNavigator *m_navigator = nullptr;
};

}  // namespace crop

#endif

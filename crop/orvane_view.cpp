#include "crop/orvane_view.h"

#include "res/command_ids.h"

#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QWheelEvent>

#include <cmath>

namespace crop {

bool CPagePicture::SetFromBitmap(const render::Bitmap *bitmap, const QRect &pageRect) {
    ClearPicture();
    if (!FromBitmap(bitmap))
        return false;
    m_pageRect = pageRect;
    return true;
}

void CPagePicture::Draw(QPainter &painter, const QRect &dest) const {
    if (HasPicture())
        Paint(painter, dest, nullptr, true);
}

COrvaneView::COrvaneView(QWidget *parent) : QAbstractScrollArea(parent) {
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);  // no background erase
    setFocusPolicy(Qt::StrongFocus);
}

bool COrvaneView::SetPagePicture(const render::Bitmap *bitmap, const QRect &pageRect) {
    const bool ok = m_pagePicture.SetFromBitmap(bitmap, pageRect);
    viewport()->update();
    emit CommandStateChanged();
    return ok;
}

void COrvaneView::ClearPicture() {
    m_pagePicture.ClearPicture();
    viewport()->update();
    emit CommandStateChanged();
}

void COrvaneView::UpdateScrollSizes() {
    m_scrollSize = QSize(int(std::trunc(m_pagePicture.PageWidth() * m_zoom * 0.01)),
                         int(std::trunc(m_pagePicture.PageHeight() * m_zoom * 0.01)));
    // A page is a tenth of the total, a line a tenth of a page.
    const QSize client = viewport()->size();
    horizontalScrollBar()->setRange(0, std::max(0, m_scrollSize.width() - client.width()));
    verticalScrollBar()->setRange(0, std::max(0, m_scrollSize.height() - client.height()));
    horizontalScrollBar()->setPageStep(std::max(1, m_scrollSize.width() / 10));
    verticalScrollBar()->setPageStep(std::max(1, m_scrollSize.height() / 10));
    horizontalScrollBar()->setSingleStep(std::max(1, m_scrollSize.width() / 100));
    verticalScrollBar()->setSingleStep(std::max(1, m_scrollSize.height() / 100));
    viewport()->update();
}

void COrvaneView::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    if (HasPicture())
        UpdateScrollSizes();
}

void COrvaneView::paintEvent(QPaintEvent *) {
    QPainter painter(viewport());
    const QColor shadow = palette().color(QPalette::Dark);
    const QRect client = viewport()->rect();
    if (!HasPicture()) {
        painter.fillRect(client, shadow);
        return;
    }
    // Logical units: the page at the zoom, moved by the scroll position.
    const QPoint origin(-horizontalScrollBar()->value(), -verticalScrollBar()->value());
    const int W = m_scrollSize.width(), H = m_scrollSize.height();
    m_pagePicture.Draw(painter, QRect(origin, QSize(W, H)));
    const QRect right(QPoint(origin.x() + W, 0), QPoint(client.right(), origin.y() + H - 1));
    const QRect below(QPoint(0, origin.y() + H), client.bottomRight());
    if (right.width() > 0 && right.height() > 0)
        painter.fillRect(right, shadow);
    if (below.width() > 0 && below.height() > 0)
        painter.fillRect(below, shadow);
}

void COrvaneView::wheelEvent(QWheelEvent *event) {
    const int delta = event->angleDelta().y();
    const int lines = QApplication::wheelScrollLines();
    QScrollBar *bar = verticalScrollBar();
    if (lines < 0 || lines > 100000) {  // a whole page per notch
        bar->triggerAction(delta >= 0 ? QAbstractSlider::SliderPageStepSub : QAbstractSlider::SliderPageStepAdd);
    } else {
        const unsigned k = unsigned(lines) * unsigned(std::abs(delta)) / 120u;
        for (unsigned i = 0; i < k; ++i)
            bar->triggerAction(delta >= 0 ? QAbstractSlider::SliderSingleStepSub
                                          : QAbstractSlider::SliderSingleStepAdd);
    }
    event->accept();
}

void COrvaneView::SetZoom(double zoom) {
    m_zoom = zoom;
    if (HasPicture())
        UpdateScrollSizes();
    viewport()->update();
}

void COrvaneView::ZoomFit(bool widthOnly) {
    const double pw = m_pagePicture.PageWidth(), ph = m_pagePicture.PageHeight();
    if (!HasPicture() || pw <= 0 || ph <= 0)  // no page box: no finite zoom
        return;
    const double cw = viewport()->width(), ch = viewport()->height();
    const double widthRatio = cw / pw;
    if (widthOnly) {
        SetZoom(100 * widthRatio);
        return;
    }
    // The height ratio passes through single precision; a tie takes it.
    const double heightRatio = double(float(ch / ph));
    SetZoom(100 * (widthRatio < heightRatio ? widthRatio : heightRatio));
}

void COrvaneView::Navigate(int id) {
    if (!HasPicture() || !m_navigator)
        return;
    const int n = m_navigator->PageCount(), c = m_navigator->CurrentPage();
    switch (id) {
    case res::ID_NEXT_PAGE:
        if (c < n)
            m_navigator->SelectPage(c);
        break;
    case res::ID_PREVIOUS_PAGE:
        if (c > 1)
            m_navigator->SelectPage(c - 2);
        break;
    case res::ID_FIRST_PAGE:
        if (c > 1)
            m_navigator->SelectPage(0);
        break;
    case res::ID_LAST_PAGE:
        if (c < n)
            m_navigator->SelectPage(n - 1);
        break;
    default:
        break;
    }
}

void COrvaneView::Close() {
    if (!HasPicture())
        return;
    if (m_navigator)
        m_navigator->CloseDocument();
    ClearPicture();
    emit DocumentClosed();
}

void COrvaneView::OnCommand(int id) {
    using namespace res;
    switch (id) {
    case ID_ZOOM_IN:
        SetZoom(m_zoom * 1.1);
        break;
    case ID_ZOOM_OUT:
        SetZoom(m_zoom * 0.9);
        break;
    case ID_ACTUAL_SIZE:
        SetZoom(100);
        break;
    case ID_ZOOM_FIT:
        ZoomFit(false);
        break;
    case ID_ZOOM_FIT_WIDTH:
        ZoomFit(true);
        break;
    case ID_NEXT_PAGE:
    case ID_PREVIOUS_PAGE:
    case ID_FIRST_PAGE:
    case ID_LAST_PAGE:
        Navigate(id);
        break;
    case ID_CLOSE:
        Close();
        break;
    case ID_AUTO_SHRINK:
        m_autoShrink = !m_autoShrink;
        emit CommandStateChanged();
        break;
    default:
        break;
    }
}

}  // namespace crop

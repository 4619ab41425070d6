#include "crop/view/page_geometry.h"

#include <algorithm>
#include <cmath>

namespace crop {
namespace {

// Truncated toward zero, and kept where sums of a few such numbers still
// fit in an int.
int Trunc(double v) { return int(std::clamp(std::trunc(v), -1073741824.0, 1073741824.0)); }

}  // namespace

QSize PageGeometry::ScrollSize() const {
    return QSize(Trunc(m_pagePoints.width() * m_zoom * 0.01), Trunc(m_pagePoints.height() * m_zoom * 0.01));
}

QPoint PageGeometry::PageToLogicalPixel(QPointF page) const {
    // A pixel turned into points and back may come back a hair short of
    // itself (402 / 100 * 100 is 401.99999999999994); it must not lose a
    // pixel to the truncation.
    const auto whole = [](double v) { return Trunc(v + (v >= 0 ? 1e-7 : -1e-7)); };
    const QPointF logical = PageToLogical(page);
    return QPoint(whole(logical.x()), whole(logical.y()));
}

QPoint PageGeometry::PageToWindow(QPointF page) const { return LogicalToWindow(PageToLogicalPixel(page)); }

QPoint PageGeometry::ScrollKeeping(QPointF page, QPoint window) const {
    const QPointF logical = PageToLogical(page);
    return QPoint(Trunc(logical.x()) - window.x(), Trunc(logical.y()) - window.y());
}

double PageGeometry::FitPageZoom(QSize pagePoints, QSize client) {
    const double pw = pagePoints.width(), ph = pagePoints.height();
    if (pw <= 0 || ph <= 0)
        return 0;
    const double widthRatio = client.width() / pw;
    const double heightRatio = double(float(client.height() / ph));
    return 100 * (widthRatio < heightRatio ? widthRatio : heightRatio);
}

double PageGeometry::FitWidthZoom(QSize pagePoints, QSize client, int scrollBarWidth) {
    const double pw = pagePoints.width(), ph = pagePoints.height();
    if (pw <= 0 || ph <= 0)
        return 0;
    const double zoom = 100 * client.width() / pw;
    if (Trunc(ph * zoom * 0.01) <= client.height() || scrollBarWidth <= 0)
        return zoom;
    return 100 * std::max(client.width() - scrollBarWidth, 1) / pw;
}

QSize PageGeometry::ClientBesideBars(QSize total, QSize client, int verticalBarWidth, int horizontalBarHeight) {
    bool vertical = total.height() > client.height();
    bool horizontal = total.width() > client.width() - (vertical ? verticalBarWidth : 0);
    vertical = total.height() > client.height() - (horizontal ? horizontalBarHeight : 0);
    horizontal = total.width() > client.width() - (vertical ? verticalBarWidth : 0);
    return QSize(client.width() - (vertical ? verticalBarWidth : 0),
                 client.height() - (horizontal ? horizontalBarHeight : 0));
}

}  // namespace crop

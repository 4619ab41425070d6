#include "crop/view/orvane_view.h"

#include "res/command_ids.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QToolTip>
#include <QStyle>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace crop {
namespace {

// A zoom at which the page's longer side stays within what painting and
// scrolling can address, and above the point where nothing is left of it.
double LimitZoom(double zoom, QSize pagePoints) {
    const int longer = std::max({pagePoints.width(), pagePoints.height(), 1});
    return std::clamp(zoom, 0.01, 100.0 * (1 << 24) / longer);
}

int64_t Area(const QRegion &region) {
    int64_t area = 0;
    for (const QRect &r : region)
        area += int64_t(r.width()) * r.height();
    return area;
}

}  // namespace

COrvaneView::COrvaneView(COrvaneDoc &document, QWidget *parent)
    : QAbstractScrollArea(parent), m_document(document), m_flows(document) {
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);  // no background erase
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setMouseTracking(true);  // the cursor follows the handles
    connect(&m_document, &COrvaneDoc::DocumentOpened, this, [this] {
        // A new document starts at its top-left corner; page turns keep
        // the scroll position, so the same place of each page stays in view.
        horizontalScrollBar()->setValue(0);
        verticalScrollBar()->setValue(0);
        PictureChanged();
    });
    connect(&m_document, &COrvaneDoc::PageShown, this, &COrvaneView::PictureChanged);
    connect(&m_document, &COrvaneDoc::Changed, this, [this](Changes changes) {
        if (changes & Change::Overlay)
            PictureChanged();
        // Rectangles the user did not draw are shown all the same.
        if ((changes & Change::Busy) && m_document.Busy() == Busy::None)
            ShowRectangles();
        if (changes & (Change::Regions | Change::Outliers))
            viewport()->update();
        // The regions past the page are scrolled to when margins grow it.
        if ((changes & (Change::Regions | Change::SaveOptions)) && HasPicture())
            UpdateScrollSizes();
    });
    connect(&m_document, &COrvaneDoc::DocumentClosed, this, [this] {
        // The view turns grey; its scroll sizes stay as they were.
        m_cache.Reset();
        viewport()->update();
    });
    connect(&m_document, &COrvaneDoc::SharpRegionReady, viewport(), qOverload<>(&QWidget::update));
    m_sharpTimer.setSingleShot(true);
    m_sharpTimer.setInterval(60);
    connect(&m_sharpTimer, &QTimer::timeout, this, &COrvaneView::RequestSharp);
}

COrvaneView::~COrvaneView() = default;

PageGeometry COrvaneView::Geometry() const {
    return PageGeometry(PagePicture().PageRect().size(), m_zoom,
                        QPoint(horizontalScrollBar()->value(), verticalScrollBar()->value()));
}

void COrvaneView::PictureChanged() {
    m_cache.Reset();
    UpdateScrollSizes();
    m_sharpTimer.start();
}

QSize COrvaneView::DevicePageSize() const {
    const double dpr = viewport()->devicePixelRatioF();
    const QSize logical = ScrollSize();
    return QSize(int(std::min(logical.width() * dpr, 2.0e9)), int(std::min(logical.height() * dpr, 2.0e9)));
}

void COrvaneView::RequestSharp() {
    if (!HasPicture() || PagePicture().PageWidth() <= 0 || PagePicture().PageHeight() <= 0)
        return;
    // Nothing to gain until the zoom needs more pixels than the picture has.
    const double dpr = viewport()->devicePixelRatioF();
    const double pictureDensity = double(PagePicture().Width()) / PagePicture().PageWidth();
    if (m_zoom / 100.0 * dpr <= pictureDensity * 1.02)
        return;
    const PageGeometry geometry = Geometry();
    const QRect page(QPoint(0, 0), geometry.ScrollSize());
    const QRect client = viewport()->rect();
    // What is in view and a quarter of a screen round it, for small scrolls.
    const QRect wanted = geometry.WindowToLogical(client.adjusted(-client.width() / 4, -client.height() / 4,
                                                                  client.width() / 4, client.height() / 4)) &
                         page;
    const QRect inView = geometry.WindowToLogical(client) & page;
    if (inView.isEmpty())
        return;
    auto toDevice = [dpr](const QRect &r) {
        return QRect(QPoint(int(r.left() * dpr), int(r.top() * dpr)),
                     QPoint(int(std::ceil((r.right() + 1) * dpr)) - 1, int(std::ceil((r.bottom() + 1) * dpr)) - 1));
    };
    const crop::PagePrefetch::SharpRegion &sharp = m_document.Prefetch().Sharp();
    if (sharp.Matches(m_document.CurrentPage(), m_document.Generation(), DevicePageSize()) &&
        sharp.area.contains(toDevice(inView)))
        return;  // what is in view is sharp already
    m_document.Prefetch().RequestSharpRegion(m_document.CurrentPage(), DevicePageSize(),
                                             toDevice(wanted) & QRect(QPoint(0, 0), DevicePageSize()));
}

int COrvaneView::BarExtent(Qt::Orientation orientation) const {
    const Qt::ScrollBarPolicy policy =
        orientation == Qt::Vertical ? verticalScrollBarPolicy() : horizontalScrollBarPolicy();
    if (policy != Qt::ScrollBarAsNeeded)
        return 0;  // never shown, or always (then already off the client area)
    const QScrollBar *bar = orientation == Qt::Vertical ? verticalScrollBar() : horizontalScrollBar();
    return style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, bar);
}

QRect COrvaneView::ScrollExtent() const {
    const PageGeometry g = Geometry();
    const QRect page(QPoint(0, 0), g.ScrollSize());
    QRect extent = page;
    if (m_document.Save().AddMargins())
        for (const CropRect &region : m_document.Editing().PageRegions()) {
            const CropRect r = region.Normalized();
            if (r.IsEmpty())
                continue;
            const QRect shown(g.PageToLogicalPixel(QPointF(r.left, r.top)),
                              g.PageToLogicalPixel(QPointF(r.right, r.bottom)) - QPoint(1, 1));
            // With room for the frame drawn round it.
            if (!page.contains(shown))
                extent |= shown.adjusted(-4, -4, 4, 4);
        }
    return extent;
}

QRegion COrvaneView::MarginBand(const PageGeometry &g) const {
    QRegion band;
    if (!m_document.Save().AddMargins())
        return band;
    for (const CropRect &region : m_document.Editing().PageRegions()) {
        const CropRect r = region.Normalized();
        if (!r.IsEmpty())
            band += g.LogicalToWindow(QRect(g.PageToLogicalPixel(QPointF(r.left, r.top)),
                                            g.PageToLogicalPixel(QPointF(r.right, r.bottom)) - QPoint(1, 1)));
    }
    return band - g.PageInWindow();
}

void COrvaneView::UpdateScrollSizes() {
    const QRect extent = ScrollExtent();
    const QSize total = extent.size();
    // The ranges follow from the bars the page needs, not from the bars
    // shown now, so bars that are no longer needed go.
    const QSize client = PageGeometry::ClientBesideBars(total, maximumViewportSize(), BarExtent(Qt::Vertical),
                                                        BarExtent(Qt::Horizontal));
    // A page is a tenth of the total, a line a tenth of a page. Margins past
    // the page's top or left edge are scrolled to below 0.
    horizontalScrollBar()->setRange(extent.left(), std::max(extent.left(), extent.right() + 1 - client.width()));
    verticalScrollBar()->setRange(extent.top(), std::max(extent.top(), extent.bottom() + 1 - client.height()));
    horizontalScrollBar()->setPageStep(std::max(1, total.width() / 10));
    verticalScrollBar()->setPageStep(std::max(1, total.height() / 10));
    horizontalScrollBar()->setSingleStep(std::max(1, total.width() / 100));
    verticalScrollBar()->setSingleStep(std::max(1, total.height() / 100));
    viewport()->update();
}

void COrvaneView::resizeEvent(QResizeEvent *event) {
    QAbstractScrollArea::resizeEvent(event);
    m_cache.SetLimit(ScaledPageCache::LimitFor(viewport()->size(), 3));
    if (HasPicture())
        UpdateScrollSizes();
    m_sharpTimer.start();
}

void COrvaneView::scrollContentsBy(int dx, int dy) {
    // What stays in view is moved; only the uncovered strip is painted.
    viewport()->scroll(dx, dy);
    m_sharpTimer.start();
}

void COrvaneView::paintEvent(QPaintEvent *event) {
    QPainter painter(viewport());
    m_paintedPixels += Area(event->region());
    const QColor shadow = palette().color(QPalette::Dark);
    const QRect client = viewport()->rect();
    if (!HasPicture()) {
        painter.fillRect(client, shadow);
        return;
    }
    const PageGeometry geometry = Geometry();
    const QSize page = geometry.ScrollSize();
    for (const QRect &rect : event->region())
        m_cache.Draw(painter, PagePicture(), page, geometry.WindowToLogical(rect), -geometry.Scroll());
    // Over it, the part rendered at the screen's density, once it is there.
    const crop::PagePrefetch::SharpRegion &sharp = m_document.Prefetch().Sharp();
    if (sharp.Matches(m_document.CurrentPage(), m_document.Generation(), DevicePageSize())) {
        const double dpr = viewport()->devicePixelRatioF();
        const QRectF target(QPointF(sharp.area.x() / dpr, sharp.area.y() / dpr) - QPointF(geometry.Scroll()),
                            QSizeF(sharp.area.width() / dpr, sharp.area.height() / dpr));
        painter.save();
        painter.setClipRegion(event->region());
        painter.drawImage(target, sharp.image);
        painter.restore();
    }
    const QRect onScreen = geometry.PageInWindow();
    for (const QRect &around : QRegion(client) - onScreen)
        painter.fillRect(around, shadow);
    // Margins the copy adds past the page: blank paper, checkered so that
    // they are told from the page.
    for (const QRect &band : MarginBand(geometry)) {
        painter.fillRect(band, Qt::white);
        painter.fillRect(band, QBrush(QColor(200, 200, 200), Qt::Dense6Pattern));
    }
    if (m_preview && !m_document.Overlay().Shown())
        PaintPreview(painter, geometry);
    PaintMarks(painter, geometry);
    m_notes.Paint(painter, geometry);
    m_editor.Paint(painter, geometry);
}

void COrvaneView::PaintMarks(QPainter &painter, const PageGeometry &g) {
    // On the overlay, the marks of all its pages, unnamed; on a page, its own.
    const bool overlay = m_document.Overlay().Shown();
    std::vector<EdgeBlock> marks;
    for (int page : overlay ? m_document.Overlay().Pages() : std::vector<int>{m_document.CurrentPage()}) {
        const std::vector<EdgeBlock> &on = m_document.Whole().MarksOn(page);
        marks.insert(marks.end(), on.begin(), on.end());
    }
    if (marks.empty())
        return;
    // The marks left out of the crop, outlined in one colour and named.
    painter.save();
    const QColor colour(214, 92, 0);
    painter.setPen(QPen(colour, 1.5, Qt::DashLine));
    painter.setBrush(Qt::NoBrush);
    QFont font = painter.font();
    font.setPointSizeF(std::max(6.0, font.pointSizeF() * 0.85));
    painter.setFont(font);
    for (const EdgeBlock &mark : marks) {
        const QRect box = InWindow(mark.box, g).adjusted(-2, -2, 2, 2);
        painter.drawRect(box);
        if (overlay)
            continue;
        const QString name = QString::fromStdString(MarkName(mark.kind));
        const QSize size = painter.fontMetrics().size(Qt::TextSingleLine, name);
        // Named outside the mark, on the side away from the text block.
        const bool above = mark.edge != EdgeBlock::Bottom;
        const QRect label(QPoint(box.left(), above ? box.top() - size.height() - 1 : box.bottom() + 2), size);
        painter.setPen(colour);
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, name);
        painter.setPen(QPen(colour, 1.5, Qt::DashLine));
    }
    painter.restore();
}

void COrvaneView::ShowRectangles() {
    m_editor.ShowRectangles();
    viewport()->update();
}

void COrvaneView::SetPreview(bool on) {
    m_preview = on;
    viewport()->update();
}

void COrvaneView::PaintPreview(QPainter &painter, const PageGeometry &g) {
    const QRect page = g.PageInWindow();
    const int current = m_document.CurrentPage();
    if (!m_document.Overlay().Shown() && m_document.Pages().Set().LeftOut(current)) {
        // The copy has nothing of a page left out.
        painter.fillRect(page, QColor(0, 0, 0, 120));
        painter.save();
        QFont font = painter.font();
        font.setBold(true);
        font.setPointSizeF(font.pointSizeF() * 2);
        painter.setFont(font);
        const QString text = QStringLiteral("left out");
        const QSize size = painter.fontMetrics().size(Qt::TextSingleLine, text) + QSize(24, 12);
        const QRect badge(QPoint(page.center().x() - size.width() / 2, page.top() + 24), size);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(200, 0, 0));
        painter.drawRoundedRect(badge, 6, 6);
        painter.setPen(Qt::white);
        painter.drawText(badge, Qt::AlignCenter, text);
        painter.restore();
        return;
    }
    const std::vector<CropRect> regions = m_document.Editing().PageRegions();
    auto shown = [&g, &page](const CropRect &rect) {
        const CropRect r = rect.Normalized();
        return QRect(g.LogicalToWindow(QRect(g.PageToLogicalPixel(QPointF(r.left, r.top)),
                                             g.PageToLogicalPixel(QPointF(r.right, r.bottom)))))
            .intersected(page);
    };
    // Outside the regions the copy has nothing of the page.
    if (!regions.empty()) {
        QRegion outside(page);
        for (const CropRect &r : regions)
            outside -= shown(r);
        painter.save();
        painter.setClipRegion(outside);
        painter.fillRect(page, QColor(0, 0, 0, 120));
        painter.restore();
    }
    // Each region's page of the copy in its corner; a page without one is
    // a page of the copy as it is.
    const long long first = m_document.Pages().Set().OutputPagesBefore(current) + 1;
    std::vector<std::pair<QRect, long long>> labels;
    if (regions.empty()) {
        labels.push_back({page, first});
    } else {
        const std::vector<int> order = m_document.Pages().Set().OutputOrder(current, m_document.Save().RightToLeft());
        for (size_t k = 0; k < order.size() && size_t(order[k]) < regions.size(); ++k)
            labels.push_back({shown(regions[size_t(order[k])]), first + (long long)k});
    }
    painter.save();
    QFont font = painter.font();
    font.setBold(true);
    painter.setFont(font);
    for (const auto &[area, number] : labels) {
        const QString text = QString::number(number);
        const QSize size = painter.fontMetrics().size(Qt::TextSingleLine, text) + QSize(12, 6);
        const QRect badge(area.topLeft() + QPoint(6, 6), size);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(200, 0, 0));
        painter.drawRoundedRect(badge, 4, 4);
        painter.setPen(Qt::white);
        painter.drawText(badge, Qt::AlignCenter, text);
    }
    painter.restore();
}

void COrvaneView::Repaint(const QRegion &dirty) {
    if (!dirty.isEmpty())
        viewport()->update(dirty);
}

void COrvaneView::UpdateCursor(QPoint window) {
    if (const std::optional<Qt::CursorShape> shape = m_editor.CursorAt(window, Geometry()))
        viewport()->setCursor(*shape);
    else
        viewport()->unsetCursor();
}

bool COrvaneView::focusNextPrevChild(bool next) {
    // Tab and Shift+Tab go from region to region of the shown page.
    if (!m_editor.IsDragging() && m_document.Editing().SelectNextRegion(!next)) {
        viewport()->update();
        return true;
    }
    return QAbstractScrollArea::focusNextPrevChild(next);
}

bool COrvaneView::event(QEvent *event) {
    // While a rectangle is dragged the keys are the drag's: no shortcut
    // turns the page under it.
    if (event->type() == QEvent::ShortcutOverride && (m_editor.IsDragging() || m_notes.Drawing())) {
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            Repaint(m_notes.Cancel());
        event->accept();
        return true;
    }
    return QAbstractScrollArea::event(event);
}

bool COrvaneView::viewportEvent(QEvent *event) {
    // Hovering what sets an edge names it.
    if (event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        if (const std::optional<EdgeSetter> setter = m_notes.SetterAt(help->pos(), Geometry()))
            QToolTip::showText(help->globalPos(), m_notes.Describe(*setter), viewport(),
                               m_notes.Around(*setter, Geometry()));
        else
            QToolTip::hideText();
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void COrvaneView::mousePressEvent(QMouseEvent *event) {
    const QPoint at = event->position().toPoint();
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier);
    if (event->button() == Qt::LeftButton && mods == Qt::ShiftModifier && HasPicture() && !m_preview)
        Repaint(m_notes.Begin(at));  // an area to leave out of every page
    else if (event->button() == Qt::LeftButton)
        Repaint(m_editor.Press(at, Geometry(), mods & Qt::ControlModifier));
    else if (event->button() == Qt::RightButton && (m_editor.IsDragging() || m_notes.Drawing()))
        Repaint(m_editor.Cancel(Geometry()) | m_notes.Cancel());
    else if (event->button() == Qt::RightButton)
        m_notes.Menu(viewport(), at, Geometry());
}

void COrvaneView::mouseMoveEvent(QMouseEvent *event) {
    const QPoint at = event->position().toPoint();
    if (m_notes.Drawing() && (event->buttons() & Qt::LeftButton))
        Repaint(m_notes.Move(at));
    else if (m_notes.Drawing())
        Repaint(m_notes.Cancel());  // the button went up unseen
    else if (event->buttons() & Qt::LeftButton)
        Repaint(m_editor.Move(at, Geometry()));
    else
        UpdateCursor(at);
}

void COrvaneView::mouseReleaseEvent(QMouseEvent *event) {
    if (event->button() != Qt::LeftButton)
        return;
    const QPoint at = event->position().toPoint();
    if (m_notes.Drawing())
        Repaint(m_notes.End(at, Geometry()));
    else
        Repaint(m_editor.Release(at, Geometry()));
    UpdateCursor(at);
}

bool COrvaneView::NudgeByKey(const QKeyEvent *event) {
    const int key = event->key();
    if ((key != Qt::Key_Left && key != Qt::Key_Right && key != Qt::Key_Up && key != Qt::Key_Down) ||
        m_document.Editing().SelectedRegion() < 0 || m_document.Overlay().Shown())
        return false;
    // Keys no desktop takes for itself: the plain arrows move (Ctrl: ten
    // points), Shift grows on the arrow's side, Ctrl+Shift shrinks there.
    const Qt::KeyboardModifiers mods = event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const int side = key == Qt::Key_Left ? 0 : key == Qt::Key_Right ? 1 : key == Qt::Key_Up ? 2 : 3;
    if (mods == Qt::NoModifier || mods == Qt::ControlModifier)
        Nudge(res::ID_MOVE_LEFT + side, mods == Qt::ControlModifier ? 10 : 1);
    else if (mods == Qt::ShiftModifier)
        Nudge(res::ID_GROW_LEFT + side, 1);
    else if (mods == (Qt::ControlModifier | Qt::ShiftModifier))
        Nudge(res::ID_SHRINK_LEFT + side, 1);
    else
        return false;
    return true;
}

void COrvaneView::Nudge(int id, double points) {
    using namespace res;
    if (id < ID_MOVE_LEFT || id > ID_SHRINK_DOWN || m_document.Overlay().Shown())
        return;
    if (m_document.Editing().SelectedRegion() < 0) {
        emit m_document.StatusMessage(QStringLiteral("The shown page has no region to move; draw one first."));
        return;
    }
    const int side = (id - ID_MOVE_LEFT) % 4;  // left, right, up, down
    const double dx = side == 0 ? -points : side == 1 ? points : 0;
    const double dy = side == 2 ? -points : side == 3 ? points : 0;
    if (id <= ID_MOVE_DOWN)  // moved
        m_document.Editing().NudgeSelectedRegion(dx, dy, dx, dy);
    else if (id <= ID_GROW_DOWN)  // grown on that side
        m_document.Editing().NudgeSelectedRegion(std::min(dx, 0.0), std::min(dy, 0.0), std::max(dx, 0.0),
                                                 std::max(dy, 0.0));
    else  // shrunk on that side
        m_document.Editing().NudgeSelectedRegion(-std::min(dx, 0.0), -std::min(dy, 0.0), -std::max(dx, 0.0),
                                                 -std::max(dy, 0.0));
}

void COrvaneView::mouseDoubleClickEvent(QMouseEvent *event) {
    // Inside the selected region: its exact margins.
    const CropRect r = m_document.Editing().CropRectangle().Normalized();
    const QPointF at = Geometry().WindowToPage(event->position().toPoint());
    if (event->button() == Qt::LeftButton && !r.IsEmpty() && at.x() >= r.left && at.x() <= r.right && at.y() >= r.top &&
        at.y() <= r.bottom && !m_editor.IsDragging()) {
        OnCommand(res::ID_CROP_BOX);
        return;
    }
    QAbstractScrollArea::mouseDoubleClickEvent(event);
}

void COrvaneView::keyPressEvent(QKeyEvent *event) {
    if (!m_editor.IsDragging()) {
        if (NudgeByKey(event))
            event->accept();
        else
            QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    // Escape ends the drag with no change; other keys wait for its end.
    if (event->key() == Qt::Key_Escape)
        Repaint(m_editor.Cancel(Geometry()));
    event->accept();
}

void COrvaneView::focusOutEvent(QFocusEvent *event) {
    // A menu, another window or a dialog took the mouse: the drag ends
    // where it is.
    Repaint(m_editor.CaptureLost(Geometry()) | m_notes.Cancel());
    QAbstractScrollArea::focusOutEvent(event);
}

void COrvaneView::wheelEvent(QWheelEvent *event) {
    const int delta = event->angleDelta().y();
    if (event->modifiers() & Qt::ControlModifier) {
        // Ctrl+wheel zooms about the pointer, one zoom step per notch.
        m_wheelZoomDelta += delta;
        const QPoint at = event->position().toPoint();
        while (std::abs(m_wheelZoomDelta) >= 120 && HasPicture()) {
            SetZoom(m_zoom * (m_wheelZoomDelta > 0 ? 1.1 : 0.9), &at);
            m_wheelZoomDelta -= m_wheelZoomDelta > 0 ? 120 : -120;
        }
        event->accept();
        return;
    }
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

void COrvaneView::SetZoom(double zoom, const QPoint *anchor) {
    const QPointF pagePoint = anchor ? Geometry().WindowToPage(*anchor) : QPointF();
    m_zoom = LimitZoom(zoom, PagePicture().PageRect().size());
    m_cache.Reset();
    if (HasPicture())
        UpdateScrollSizes();
    if (anchor) {
        const QPoint scroll = Geometry().ScrollKeeping(pagePoint, *anchor);
        horizontalScrollBar()->setValue(scroll.x());
        verticalScrollBar()->setValue(scroll.y());
    }
    viewport()->update();
    m_sharpTimer.start();
    emit ZoomChanged(m_zoom);
}

void COrvaneView::ZoomFit(bool widthOnly) {
    if (!HasPicture())
        return;
    // The client area with no scroll bar shown: the fitted page needs none,
    // or (fitting the width of a tall page) only the vertical one.
    QSize client = maximumViewportSize();
    QSize page = PagePicture().PageRect().size();
    // Margins past the page are fitted with it.
    QRectF extent(QPointF(0, 0), QSizeF(page));
    if (m_document.Save().AddMargins())
        for (const CropRect &region : m_document.Editing().PageRegions()) {
            const CropRect r = region.Normalized();
            if (!r.IsEmpty())
                extent |= QRectF(QPointF(r.left, r.top), QPointF(r.right, r.bottom));
        }
    const bool past = extent.size() != QSizeF(page);
    if (past) {
        page = QSize(int(std::ceil(extent.width())), int(std::ceil(extent.height())));
        client -= QSize(8, 8);  // the room the scroll range keeps round a region's frame
    }
    const double zoom = widthOnly ? PageGeometry::FitWidthZoom(page, client, BarExtent(Qt::Vertical))
                                  : PageGeometry::FitPageZoom(page, client);
    if (zoom > 0)  // a page without a box has no finite zoom
        SetZoom(zoom);
    if (zoom > 0 && past) {  // from the margin's top-left corner
        horizontalScrollBar()->setValue(horizontalScrollBar()->minimum());
        verticalScrollBar()->setValue(verticalScrollBar()->minimum());
    }
}

void COrvaneView::Navigate(int id) {
    if (!HasPicture())
        return;
    const int n = m_document.PageCount(), c = m_document.CurrentPage();
    switch (id) {
    case res::ID_NEXT_PAGE:
        if (c < n)
            m_document.ShowPage(c + 1);
        break;
    case res::ID_PREVIOUS_PAGE:
        if (c > 1)
            m_document.ShowPage(c - 1);
        break;
    case res::ID_FIRST_PAGE:
        if (c > 1)
            m_document.ShowPage(1);
        break;
    case res::ID_LAST_PAGE:
        if (c < n)
            m_document.ShowPage(n);
        break;
    default:
        break;
    }
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
        m_document.CloseDocument();
        break;
    case ID_AUTO_SHRINK:
        m_document.ToggleAutoShrink();
        break;
    case ID_SHRINK_CURRENT_PAGE:
        m_document.Editing().ShrinkCurrentPageRect();
        break;
    case ID_REMOVE_CROPBOX:
        m_document.Editing().DeleteCurrentPageRect();
        break;
    case ID_DELETE_RECTANGLE:  // the selected region; Remove Cropbox takes them all
        m_document.Editing().DeleteSelectedRegion();
        break;
    case ID_CUT_ALL:  // exactly as Crop all pages
        OnCommand(ID_CROP_ALL_PAGES);
        break;
    case ID_CROP_ALL_PAGES:
        m_flows.CropAllPages(this);
        break;
    case ID_CROP_BOX:
        m_flows.CropBox(this);
        ShowRectangles();  // the region set, framed with its handles
        break;
    case ID_PAGE_SIZE:
        if (m_flows.PageSize(this))
            ShowRectangles();
        break;
    case ID_SPLIT_PAGES:
        m_flows.SplitPages(this);
        break;
    case ID_SAVE_FILE:
    case ID_FILE_SAVE_AS:
        m_flows.SaveCropped();
        break;
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_DIRECT:
    case ID_FILE_PRINT_PREVIEW:
    case ID_FILE_PRINT_SETUP:
        m_flows.Print(id);
        break;
    default:
        break;
    }
}

}  // namespace crop

#include "panes/left_view.h"

#include <QApplication>
#include <QFileInfo>
#include <QResizeEvent>

#include <cmath>

namespace panes {
namespace {

// The wait cursor for as long as the object lives.
struct WaitCursor {
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
};

}  // namespace

CLeftView::CLeftView(QWidget *parent) : QWidget(parent) {
    m_thumbs = new CThumbnailListCtrl(this);
    m_thumbs->showPage = [this](int page, const QString &) { return ShowPage(page); };
    setFocusProxy(m_thumbs);
}

CLeftView::~CLeftView() { CloseSource(); }

void CLeftView::resizeEvent(QResizeEvent *event) {
    QWidget::resizeEvent(event);
    m_thumbs->setGeometry(0, 0, event->size().width(), event->size().height());
}

void CLeftView::CloseSource() {
    m_pageSource.reset();
    m_pageCount = 0;
    m_currentPage = 0;
    m_thumbs->Reset();
}

bool CLeftView::OpenSource(const QString &path) {
    if (path.isEmpty())
        return false;
    m_documentPath = path;
    CloseSource();
    m_pageSource = render::PageSourceOpen(path.toStdString(), 1);
    if (!m_pageSource)
        return false;
    m_pageCount = render::PageSourcePageCount(m_pageSource.get());
    return true;
}

bool CLeftView::OpenDocument(const QString &path) {
    m_pageCount = 0;
    m_currentPage = 0;
    m_error.clear();
    WaitCursor wait;
    if (path.isEmpty()) {
        m_error = QStringLiteral("no file was named");
        return false;
    }
    if (!OpenSource(path)) {
        const QFileInfo info(path);
        m_error = !info.exists()      ? QStringLiteral("the file does not exist")
                  : !info.isReadable() ? QStringLiteral("the file cannot be read")
                                       : QStringLiteral("it is damaged, locked by a password, or not a document "
                                                        "this program reads");
        return false;
    }
    if (!ShowPage(1)) {
        m_error = QStringLiteral("it has no page that can be shown");
        return false;
    }
    if (!m_thumbs->ContainsFile(path)) {
        m_thumbs->ClearStrip();
        m_thumbs->AddFile(path);
        m_thumbs->FillList();
        // Page 1 is shown: its item is the selected one.
        const QSignalBlocker block(m_thumbs->selectionModel());
        m_thumbs->SelectItem(0);
    }
    return true;
}

bool CLeftView::ShowPage(int page) {
    if (!m_pageSource)
        return false;
    WaitCursor wait;
    if (setPageText)
        setPageText(QStringLiteral("Page No: %1").arg(page));
    switch (render::PageSourceKind(m_pageSource.get())) {
    case render::kSourcePdf:
    case render::kSourceMetafile:
        return ShowRenderedPage(page);
    case render::kSourceImage:
        return ShowPicturePage(page);
    default:
        return false;
    }
}

CLeftView::Move CLeftView::MoveTo(int page) {
    if (!m_pageSource)
        return Move::Refused;
    if (page == m_currentPage)
        return Move::Already;  // shown: nothing is rendered again
    if (page < 1 || page > m_pageCount)
        return Move::Refused;
    m_currentPage = page;
    return Move::Moved;
}

bool CLeftView::ShowRenderedPage(int page) {
    if (const Move move = MoveTo(page); move != Move::Moved)
        return move == Move::Already;
    render::PageExtent extent;
    render::PageSourcePageExtent(m_pageSource.get(), page, &extent, 0);
    int widthPx = kDefaultWidthPx, heightPx = kDefaultHeightPx, widthPt = 0, heightPt = 0;
    if (extent.x2 != 0 && extent.y2 != 0) {
        const double w = extent.x2 - extent.x1, h = extent.y2 - extent.y1;
        widthPx = int(w * kResolution / 72);
        heightPx = int(h * kResolution / 72);
        widthPt = int(w);
        heightPt = int(h);
    }
    widthPx = int(widthPx * kScale);
    heightPx = int(heightPx * kScale);
    render::PageSourceSetResolution(m_pageSource.get(), kResolution);
    if (!m_pageView)
        return true;
    const double scale[2] = {kScale, kScale};
    int32_t slot = 0;
    render::BitmapHandle bitmap =
        render::PageSourceRenderPage(m_pageSource.get(), 0, page, scale, 0, widthPx, heightPx, &slot);
    if (bitmap)
        m_pageView->SetPagePicture(bitmap.get(), QRect(0, 0, widthPt, heightPt));
    else if (render::PageSourceKind(m_pageSource.get()) == render::kSourceMetafile)
        m_pageView->ClearPicture();  // a metafile is not drawn: no stale page stays
    m_pageView->UpdateScrollSizes();
    return true;
}

bool CLeftView::ShowPicturePage(int page) {
    if (const Move move = MoveTo(page); move != Move::Moved)
        return move == Move::Already;
    render::BitmapHandle bitmap = render::PageSourceRenderFrame(m_pageSource.get(), page);
    if (!m_pageView)
        return true;
    // The frame itself is shown, its size in pixels taken as points.
    if (bitmap)
        m_pageView->SetPagePicture(bitmap.get(), QRect(0, 0, bitmap->width, bitmap->height));
    else
        m_pageView->ClearPicture();
    m_pageView->UpdateScrollSizes();
    return true;
}

void CLeftView::SelectPage(int index) {
    if (!m_pageView || !m_pageView->HasPicture())
        return;
    m_thumbs->SelectItem(index);
}

}  // namespace panes

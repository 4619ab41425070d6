#include "panes/thumbnail_strip.h"

#include <QFile>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QPainter>
#include <QResizeEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>

namespace panes {
namespace {

bool IsPdf(const QString &path) { return IsPdfName(QFile::encodeName(path).toStdString()); }

// How long the strip's scrolling must rest before the worker is asked for
// what came into view.
constexpr int kSettleMs = 120;

}  // namespace

ThumbnailModel::ThumbnailModel(QObject *parent) : QAbstractListModel(parent), m_placeholder(PlaceholderCell()) {}

int ThumbnailModel::rowCount(const QModelIndex &parent) const { return parent.isValid() ? 0 : int(m_pictures.size()); }

QVariant ThumbnailModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    if (role == Qt::DisplayRole)
        return QString::number(index.row() + 1);
    if (role == Qt::DecorationRole)
        return Picture(index.row());
    return {};
}

void ThumbnailModel::SetCount(int count) {
    beginResetModel();
    m_pictures.assign(size_t(std::max(0, count)), QImage());
    endResetModel();
}

void ThumbnailModel::SetPicture(int item, const QImage &picture) {
    if (item < 0 || item >= rowCount())
        return;
    // Kept at 24 bits a pixel, as the cells are.
    m_pictures[size_t(item)] = picture.convertToFormat(QImage::Format_RGB888);
    const QModelIndex changed = index(item);
    emit dataChanged(changed, changed, {Qt::DecorationRole});
}

bool ThumbnailModel::HasPicture(int item) const {
    return item >= 0 && item < rowCount() && !m_pictures[size_t(item)].isNull();
}

const QImage &ThumbnailModel::Picture(int item) const {
    return HasPicture(item) ? m_pictures[size_t(item)] : m_placeholder;
}

// Hands the worker's results to the strip's thread. The worker calls it
// on render threads and never after StopWorker has returned, so the strip
// is alive whenever it is called.
class CThumbnailListCtrl::Sink : public ThumbnailSink {
public:
    Sink(CThumbnailListCtrl *strip, uint64_t token) : m_strip(strip), m_token(token) {}
    void ItemsFilled(int total) override {
        QMetaObject::invokeMethod(
            m_strip, [strip = m_strip, token = m_token, total] { strip->OnItemsFilled(token, total); },
            Qt::QueuedConnection);
    }
    void PictureReady(int item, const QImage &cell) override {
        QMetaObject::invokeMethod(
            m_strip, [strip = m_strip, token = m_token, item, cell] { strip->OnPicture(token, item, cell); },
            Qt::QueuedConnection);
    }

private:
    CThumbnailListCtrl *const m_strip;
    const uint64_t m_token;
};

CThumbnailListCtrl::CThumbnailListCtrl(crop::COrvaneDoc &document, QWidget *parent)
    : QListView(parent), m_document(document) {
    setViewMode(QListView::IconMode);
    setIconSize(QSize(kCellWidth, kCellHeight));
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSpacing(0);
    // A fixed grid: the worker works out which items are in view from it.
    setGridSize(QSize(kCellWidth + 20, kCellHeight + fontMetrics().height() + 14));
    setModel(&m_model);
    m_settle.setSingleShot(true);
    m_settle.setInterval(kSettleMs);
    connect(&m_settle, &QTimer::timeout, this, &CThumbnailListCtrl::WakeWorker);
    connect(verticalScrollBar(), &QScrollBar::sliderReleased, this, &CThumbnailListCtrl::WakeWorker);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CThumbnailListCtrl::OnSelectionChanged);
    connect(&m_document, &crop::COrvaneDoc::DocumentOpened, this, &CThumbnailListCtrl::OnDocumentOpened);
    connect(&m_document, &crop::COrvaneDoc::PageShown, this, &CThumbnailListCtrl::ShowCurrentItem);
    connect(&m_document, &crop::COrvaneDoc::ShowPageFailed, this, &CThumbnailListCtrl::ShowCurrentItem);
    connect(&m_document, &crop::COrvaneDoc::DocumentClosed, this, &CThumbnailListCtrl::Reset);
    connect(&m_document, &crop::COrvaneDoc::PagesRedrawn, this, [this](const std::vector<int> &pages) {
        if (m_worker)
            m_worker->DrawAgain(pages);
    });
    // The badges follow the regions.
    connect(&m_document, &crop::COrvaneDoc::Changed, this, [this](crop::Changes changes) {
        if (changes & crop::Change::History)
            viewport()->update();
    });
}

QRect CThumbnailListCtrl::BadgeRect(int item) const {
    if (item < 0 || item >= m_document.PageCount() || m_document.Pages().Set().CroppingRegions(item + 1) == 0)
        return {};
    const QRect cell = visualRect(m_model.index(item));
    const int size = fontMetrics().height() + 2;
    return QRect(cell.right() - size - 8, cell.top() + 4, size, size);
}

void CThumbnailListCtrl::paintEvent(QPaintEvent *event) {
    QListView::paintEvent(event);
    if (m_document.PageCount() == 0 || m_model.rowCount() == 0)
        return;
    // Only the items in view: from the first under the top edge down.
    const QModelIndex top = indexAt(QPoint(gridSize().width() / 2, 1));
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    for (int item = top.isValid() ? top.row() : 0; item < m_model.rowCount(); ++item) {
        const QRect cell = visualRect(m_model.index(item));
        if (cell.top() > viewport()->height())
            break;
        if (item < m_document.PageCount() && m_document.Pages().Set().LeftOut(item + 1)) {
            // A page left out: greyed and crossed.
            QColor veil = palette().color(QPalette::Base);
            veil.setAlpha(170);
            painter.fillRect(cell, veil);
            const QRect icon = cell.adjusted(12, 8, -12, -fontMetrics().height() - 8);
            painter.setPen(QPen(QColor(200, 0, 0), 3));
            painter.drawLine(icon.topLeft(), icon.bottomRight());
            painter.drawLine(icon.topRight(), icon.bottomLeft());
        }
        const QRect badge = BadgeRect(item);
        if (badge.isEmpty())
            continue;
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(200, 0, 0));
        painter.drawEllipse(badge);
        painter.setPen(Qt::white);
        painter.drawText(badge, Qt::AlignCenter, QString::number(m_document.Pages().Set().CroppingRegions(item + 1)));
    }
}

CThumbnailListCtrl::~CThumbnailListCtrl() {
    StopWorker();
    m_worker.reset();
}

bool CThumbnailListCtrl::AddFile(const QString &path) {
    if (path.isEmpty())
        return false;
    if (IsPdf(path)) {
        m_files.push_back({QFile::encodeName(path).toStdString(), -1});
        return true;
    }
    // A picture gives one record per frame, a metafile one record.
    const int frames = m_document.PathName() == path ? std::max(m_document.PageCount(), 1) : 1;
    for (int f = 0; f < frames; ++f)
        m_files.push_back({QFile::encodeName(path).toStdString(), f});
    return true;
}

void CThumbnailListCtrl::ClearStrip() {
    const QSignalBlocker block(selectionModel());
    m_model.Clear();
    m_files.clear();
}

void CThumbnailListCtrl::Reset() {
    StopWorker();
    ClearStrip();
}

bool CThumbnailListCtrl::StartWorker() {
    if (m_worker && m_worker->IsRunning())
        return WakeWorker();
    StopWorker();
    if (!m_document.Prefetch().Scheduler() || m_files.empty())
        return false;
    m_sink = std::make_unique<Sink>(this, ++m_token);
    m_worker = ThumbnailWorker::Create(m_document.Prefetch().Scheduler(), m_files, m_sink.get());
    PublishLayout();
    return m_worker->StartWorker();
}

bool CThumbnailListCtrl::WakeWorker() {
    if (!m_worker)
        return false;
    PublishLayout();
    return m_worker->WakeWorker();
}

void CThumbnailListCtrl::StopWorker() {
    m_settle.stop();
    if (!m_worker)
        return;
    m_worker->StopWorker();
    // Results already on their way carry the old token and are dropped.
    ++m_token;
}

StripLayout CThumbnailListCtrl::CurrentLayout() const {
    StripLayout layout;
    const QSize grid = gridSize();
    const int width = std::max(1, viewport()->width());
    layout.clientHeight = viewport()->height();
    layout.rowPitch = std::max(1, grid.height());
    layout.itemHeight = layout.rowPitch;  // rows abut: the grid cell is the item's bounds
    layout.columns = std::max(1, width / std::max(1, grid.width()));
    layout.firstTop = -verticalScrollBar()->value();
    const int count = m_model.rowCount();
    if (count > 0) {
        // Where the view has put its items, when it has.
        const QRect first = visualRect(m_model.index(0));
        if (first.isValid()) {
            int columns = 1;
            while (columns < count && visualRect(m_model.index(columns)).top() == first.top())
                ++columns;
            layout.columns = columns;
            layout.firstTop = first.top();  // items sit at the top of their grid cells
            if (columns < count)
                layout.rowPitch = layout.itemHeight =
                    std::max(1, visualRect(m_model.index(columns)).top() - first.top());
        }
    }
    return layout;
}

void CThumbnailListCtrl::PublishLayout() {
    if (m_worker)
        m_worker->PublishLayout(CurrentLayout());
}

void CThumbnailListCtrl::OnDocumentOpened() {
    Reset();
    AddFile(m_document.PathName());
    scrollToTop();
    StartWorker();
}

void CThumbnailListCtrl::OnItemsFilled(uint64_t token, int count) {
    if (token != m_token)
        return;
    {
        const QSignalBlocker block(selectionModel());
        m_model.SetCount(count);
    }
    scrollToTop();
    doItemsLayout();
    PublishLayout();
    // Page 1 is shown without its item selected; a page turned to before
    // the items came is selected now.
    if (m_document.CurrentPage() > 1)
        ShowCurrentItem();
    viewport()->update();
    emit ItemsFilled(count);
}

void CThumbnailListCtrl::OnPicture(uint64_t token, int item, const QImage &picture) {
    if (token != m_token)
        return;
    m_model.SetPicture(item, picture);
    emit PictureArrived(item);
}

void CThumbnailListCtrl::resizeEvent(QResizeEvent *event) {
    QListView::resizeEvent(event);
    if (m_worker)
        WakeWorker();
}

bool CThumbnailListCtrl::event(QEvent *event) {
    // Delete belongs to the strip while it has the keyboard, not to the
    // window's Delete Rectangle.
    if (event->type() == QEvent::ShortcutOverride) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Delete && (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
            event->accept();
            return true;
        }
    }
    return QListView::event(event);
}

void CThumbnailListCtrl::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Delete && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (!event->isAutoRepeat())  // held down, the page is not put back and left out again
            emit LeaveOutAsked();
        return;
    }
    QListView::keyPressEvent(event);
}

void CThumbnailListCtrl::wheelEvent(QWheelEvent *event) {
    QListView::wheelEvent(event);
    WakeWorker();
}

void CThumbnailListCtrl::scrollContentsBy(int dx, int dy) {
    QListView::scrollContentsBy(dx, dy);
    PublishLayout();
    // However the strip was scrolled (the bar, the keys, a page turned in
    // the page view), what came into view is made once it rests.
    if (m_worker)
        m_settle.start();
}

void CThumbnailListCtrl::SelectItem(int index) {
    const QModelIndex target = m_model.index(index, 0);
    if (!target.isValid())
        return;
    selectionModel()->setCurrentIndex(target, QItemSelectionModel::ClearAndSelect);
    scrollTo(target, QAbstractItemView::EnsureVisible);
}

void CThumbnailListCtrl::ShowCurrentItem() {
    m_following = true;
    SelectItem(m_document.CurrentPage() - 1);
    m_following = false;
}

void CThumbnailListCtrl::OnSelectionChanged(const QItemSelection &selected, const QItemSelection &) {
    if (m_following || selected.indexes().isEmpty() || m_files.empty())
        return;
    const int item = selected.indexes().first().row();
    const ThumbnailFile *source = RecordFor(m_files, std::min(item, int(m_files.size()) - 1));
    m_document.ShowPage(IsPdfName(source->path) ? item + 1 : source->frame + 1);
}

}  // namespace panes

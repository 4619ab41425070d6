#include "panes/thumbnail_strip.h"

#include <QFileInfo>
#include <QItemSelectionModel>
#include <QPainter>

namespace panes {
namespace {

bool HasSuffix(const QString &path, const char *suffix) {
    return QFileInfo(path).suffix().compare(QLatin1String(suffix), Qt::CaseInsensitive) == 0;
}

// In counting: ".pdf" or ".bak" is a PDF; in selecting only ".pdf".
bool IsPdfForCounting(const QString &path) { return HasSuffix(path, "pdf") || HasSuffix(path, "bak"); }
bool IsPdf(const QString &path) { return HasSuffix(path, "pdf"); }

}  // namespace

CThumbnailListCtrl::CThumbnailListCtrl(crop::COrvaneDoc &document, QWidget *parent)
    : QListView(parent), m_document(document) {
    setViewMode(QListView::IconMode);
    setIconSize(QSize(kCellWidth, kCellHeight));
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setModel(&m_model);
    connect(selectionModel(), &QItemSelectionModel::selectionChanged, this, &CThumbnailListCtrl::OnSelectionChanged);
    connect(&m_document, &crop::COrvaneDoc::DocumentOpened, this, &CThumbnailListCtrl::OnDocumentOpened);
    connect(&m_document, &crop::COrvaneDoc::PageShown, this, &CThumbnailListCtrl::ShowCurrentItem);
    connect(&m_document, &crop::COrvaneDoc::ShowPageFailed, this, &CThumbnailListCtrl::ShowCurrentItem);
    connect(&m_document, &crop::COrvaneDoc::DocumentClosed, this, &CThumbnailListCtrl::Reset);
}

QPixmap CThumbnailListCtrl::Placeholder() {
    QPixmap cell(kCellWidth, kCellHeight);
    cell.fill(Qt::white);
    QPainter painter(&cell);
    painter.setPen(QColor(192, 192, 192));
    painter.drawRect(0, 0, kCellWidth - 1, kCellHeight - 1);
    return cell;
}

bool CThumbnailListCtrl::AddFile(const QString &path) {
    if (path.isEmpty())
        return false;
    if (IsPdf(path)) {
        m_files.push_back({path, -1});
        return true;
    }
    // A picture gives one record per frame, a metafile one record.
    const int frames = m_document.PathName() == path ? std::max(m_document.PageCount(), 1) : 1;
    for (int f = 0; f < frames; ++f)
        m_files.push_back({path, f});
    return true;
}

bool CThumbnailListCtrl::ContainsFile(const QString &path) const {
    for (const ThumbnailFile &f : m_files)
        if (f.path.compare(path, Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

void CThumbnailListCtrl::ClearStrip() {
    const QSignalBlocker block(selectionModel());
    m_model.clear();
    m_files.clear();
}

void CThumbnailListCtrl::FillList() {
    int total = 0;
    for (const ThumbnailFile &f : m_files)
        total += IsPdfForCounting(f.path) ? m_document.PageCount() : 1;
    const QIcon placeholder(Placeholder());
    const QSignalBlocker block(selectionModel());
    m_model.clear();
    for (int i = 0; i < total; ++i) {
        auto *item = new QStandardItem(placeholder, QString::number(i + 1));
        item->setEditable(false);
        m_model.appendRow(item);
    }
}

void CThumbnailListCtrl::OnDocumentOpened() {
    ClearStrip();
    AddFile(m_document.PathName());
    FillList();
    scrollToTop();
}

void CThumbnailListCtrl::SetItemPicture(int index, const QPixmap &picture) {
    if (QStandardItem *item = m_model.item(index))
        item->setIcon(QIcon(picture));
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
    // When there is one source it stands for every item; otherwise item i
    // is record i.
    const ThumbnailFile &source =
        m_files.size() == 1 ? m_files.front() : m_files[std::min<size_t>(size_t(item), m_files.size() - 1)];
    m_document.ShowPage(IsPdf(source.path) ? item + 1 : source.frame + 1);
}

}  // namespace panes

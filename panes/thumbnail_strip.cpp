#include "panes/thumbnail_strip.h"

#include "render/page_image.h"
#include "render/rendering_library.h"

#include <QFileInfo>
#include <QItemSelectionModel>
#include <QPainter>

namespace panes {
namespace {

bool IsPdfForCounting(const QString &path) {
    const QString ext = QFileInfo(path).suffix().toLower();
    return ext == QLatin1String("pdf") || ext == QLatin1String("bak");
}

bool IsPdf(const QString &path) { return QFileInfo(path).suffix().compare(QLatin1String("pdf"), Qt::CaseInsensitive) == 0; }

}  // namespace

CThumbnailListCtrl::CThumbnailListCtrl(QWidget *parent) : QListView(parent) {
    setViewMode(QListView::IconMode);
    setIconSize(QSize(kCellWidth, kCellHeight));
    setResizeMode(QListView::Adjust);
    setMovement(QListView::Static);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setModel(&m_model);
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this, &CThumbnailListCtrl::OnCurrentChanged);
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
    render::PageImage image;
    if (!image.LoadFile(path.toStdString(), render::kFormatDetect))
        return false;
    const int count = std::max(image.FrameCount(), 1);
    for (int f = 0; f < count; ++f)
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

void CThumbnailListCtrl::Reset() { ClearStrip(); }

void CThumbnailListCtrl::FillList() {
    int total = 0;
    for (const ThumbnailFile &f : m_files) {
        if (!IsPdfForCounting(f.path)) {
            ++total;
            continue;
        }
        const render::RavelApi &api = render::Ravel();
        if (LS_Document doc = api.OpenFile(f.path.toStdString().c_str(), 1)) {
            total += api.Pages(doc);
            api.CloseFile(doc);
        }
    }
    const QIcon placeholder(Placeholder());
    const QSignalBlocker block(selectionModel());
    m_model.clear();
    for (int i = 0; i < total; ++i) {
        auto *item = new QStandardItem(placeholder, QString::number(i + 1));
        item->setEditable(false);
        m_model.appendRow(item);
    }
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

void CThumbnailListCtrl::OnCurrentChanged(const QModelIndex &current, const QModelIndex &previous) {
    if (!current.isValid() || current == previous || !showPage)
        return;
    const int item = current.row();
    if (m_files.empty())
        return;
    const ThumbnailFile &source = m_files.size() == 1 ? m_files.front() : m_files[size_t(std::min<size_t>(item, m_files.size() - 1))];
    if (IsPdf(source.path))
        showPage(item + 1, source.path);
    else
        showPage(source.frame + 1, source.path);
}

}  // namespace panes

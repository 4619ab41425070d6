#ifndef PANES_THUMBNAIL_STRIP_H
#define PANES_THUMBNAIL_STRIP_H

#include <QListView>
#include <QPixmap>
#include <QStandardItemModel>
#include <QString>

#include <functional>
#include <vector>

namespace panes {

// A source of strip items: a PDF (frame -1, one item per page) or one
// frame of a picture file (one item).
struct ThumbnailFile {
    QString path;
    int frame = -1;
};

// The thumbnail strip: a list in icon view with one item per page (one per
// frame of a picture document), captioned "1", "2", ..., each an 80 x 100
// cell. Selecting an item shows that page. Items are made from the page
// count; their pictures are replaced by index as they are produced.
class CThumbnailListCtrl : public QListView {
    Q_OBJECT
public:
    static constexpr int kCellWidth = 80;
    static constexpr int kCellHeight = 100;

    explicit CThumbnailListCtrl(QWidget *parent = nullptr);

    // Appends the records of one source; false when it cannot be read.
    bool AddFile(const QString &path);
    bool ContainsFile(const QString &path) const;
    // Empties the strip and forgets its sources.
    void ClearStrip();
    void Reset();
    // Makes one placeholder item per page or frame of the sources.
    void FillList();

    int ItemCount() const { return m_model.rowCount(); }
    // Selects item `index` and scrolls it into view; the selection shows
    // the page unless it was selected already.
    void SelectItem(int index);
    // Replaces the picture of item `index`.
    void SetItemPicture(int index, const QPixmap &picture);

    // The empty cell: white with a grey one-pixel frame.
    static QPixmap Placeholder();

    // Called with the 1-based page (or frame) number and the source path
    // when an item becomes selected.
    std::function<bool(int page, const QString &path)> showPage;

private:
    void OnCurrentChanged(const QModelIndex &current, const QModelIndex &previous);

    QStandardItemModel m_model;
    std::vector<ThumbnailFile> m_files;
};

}  // namespace panes

#endif

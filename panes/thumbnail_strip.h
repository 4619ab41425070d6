#ifndef PANES_THUMBNAIL_STRIP_H
#define PANES_THUMBNAIL_STRIP_H

#include "crop/document.h"

#include <QListView>
#include <QPixmap>
#include <QStandardItemModel>
#include <QString>

#include <vector>

class QItemSelection;

namespace panes {

// A source of strip items: a PDF (frame -1, one item per page) or one
// frame of a picture file or metafile (one item).
struct ThumbnailFile {
    QString path;
    int frame = -1;
};

// The thumbnail strip: a list in icon view with one item per page of the
// open document (one per frame of a picture document), captioned "1", "2",
// ..., each an 80 x 100 cell. It is the page selector: selecting an item
// asks the document for that page, and the item of every page the
// document shows afterwards is selected and scrolled into view. Right after
// a document opens no item is selected.
class CThumbnailListCtrl : public QListView {
    Q_OBJECT
public:
    static constexpr int kCellWidth = 80;
    static constexpr int kCellHeight = 100;

    explicit CThumbnailListCtrl(crop::COrvaneDoc &document, QWidget *parent = nullptr);

    // Appends the records of the open document's file `path`.
    bool AddFile(const QString &path);
    bool ContainsFile(const QString &path) const;
    // Empties the strip and forgets its sources.
    void ClearStrip();
    void Reset() { ClearStrip(); }
    // Makes one placeholder item per page or frame of the sources.
    void FillList();

    int ItemCount() const { return m_model.rowCount(); }
    const std::vector<ThumbnailFile> &Files() const { return m_files; }
    // Selects item `index` and scrolls it into view, as a click would.
    void SelectItem(int index);
    // Replaces the picture of item `index`.
    void SetItemPicture(int index, const QPixmap &picture);

    // The empty cell: white with a grey one-pixel frame.
    static QPixmap Placeholder();

private:
    void OnSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void OnDocumentOpened();
    // Marks the item of the document's current page without asking for it.
    void ShowCurrentItem();

    crop::COrvaneDoc &m_document;
    QStandardItemModel m_model;
    std::vector<ThumbnailFile> m_files;
    bool m_following = false;  // selecting the item of a page already shown
};

}  // namespace panes

#endif

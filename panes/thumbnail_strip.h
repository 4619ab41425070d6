#ifndef PANES_THUMBNAIL_STRIP_H
#define PANES_THUMBNAIL_STRIP_H

#include "crop/model/document.h"
#include "panes/thumbnail_worker.h"

#include <QAbstractListModel>
#include <QImage>
#include <QListView>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class QItemSelection;

namespace panes {

// The strip's items: one 80 x 100 picture per page, captioned with the
// page number. Pictures arrive from the worker as images; an item without
// one shows the empty cell.
class ThumbnailModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit ThumbnailModel(QObject *parent = nullptr);
    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;

    void SetCount(int count);
    void SetPicture(int item, const QImage &picture);
    bool HasPicture(int item) const;
    const QImage &Picture(int item) const;
    void Clear() { SetCount(0); }

private:
    std::vector<QImage> m_pictures;  // null: the empty cell
    QImage m_placeholder;
};

// The thumbnail strip: a list in icon view with one item per page of the
// open document (one per frame of a picture document), captioned "1", "2",
// ..., each an 80 x 100 cell. It is the page selector: selecting an item
// asks the document for that page, and the item of every page the
// document shows afterwards is selected and scrolled into view. Right after
// a document opens no item is selected.
//
// The items and their pictures are made by a worker on the document's
// render threads: the items in view first, then what a scroll, a resize or
// a wheel turn brings into view. The strip hands the worker where its
// items are; the worker hands back pictures with queued calls.
class CThumbnailListCtrl : public QListView {
    Q_OBJECT
public:
    static constexpr int kCellWidth = kThumbnailWidth;
    static constexpr int kCellHeight = kThumbnailHeight;

    explicit CThumbnailListCtrl(crop::COrvaneDoc &document, QWidget *parent = nullptr);
    ~CThumbnailListCtrl() override;

    // Appends the records of the open document's file `path`.
    bool AddFile(const QString &path);
    // Empties the strip and forgets its sources.
    void ClearStrip();
    // Stops the worker, then empties the strip.
    void Reset();
    // Starts a worker on the sources (or wakes the one running); false when
    // none can be started.
    bool StartWorker();
    bool WakeWorker();
    void StopWorker();

    int ItemCount() const { return m_model.rowCount(); }
    const std::vector<ThumbnailFile> &Files() const { return m_files; }
    const ThumbnailModel &Model() const { return m_model; }
    // The worker of the open document; null when there is none.
    const ThumbnailWorker *Worker() const { return m_worker.get(); }
    // Selects item `index` and scrolls it into view, as a click would.
    void SelectItem(int index);
    // Where the items are now, as the worker is told.
    StripLayout CurrentLayout() const;

    // The empty cell: white with a grey one-pixel frame.
    static QImage Placeholder() { return PlaceholderCell(); }

    // The badge of an item of a page with regions: their count, in its
    // top-right corner; empty for an item without.
    QRect BadgeRect(int item) const;

signals:
    // The worker filled the strip with `count` items.
    void ItemsFilled(int count);
    // Item `item` got its picture.
    void PictureArrived(int item);
    // Delete was pressed in the strip: the selected page is to be left out
    // (or put back). Delete elsewhere deletes the shown page's region.
    void LeaveOutAsked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    class Sink;
    void OnSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void OnDocumentOpened();
    // Marks the item of the document's current page without asking for it.
    void ShowCurrentItem();
    void OnItemsFilled(uint64_t token, int count);
    void OnPicture(uint64_t token, int item, const QImage &picture);
    void PublishLayout();

    crop::COrvaneDoc &m_document;
    ThumbnailModel m_model;
    std::vector<ThumbnailFile> m_files;
    std::shared_ptr<ThumbnailWorker> m_worker;
    std::unique_ptr<Sink> m_sink;
    uint64_t m_token = 0;      // tells the current worker's results from late ones
    QTimer m_settle;           // a scroll by any means wakes the worker once it rests
    bool m_following = false;  // selecting the item of a page already shown
};

}  // namespace panes

#endif

#ifndef CROP_DOCUMENT_H
#define CROP_DOCUMENT_H

#include "crop/page_picture.h"
#include "render/page_source.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <memory>

namespace crop {

// The open document, and the one owner of its state: path and title, page
// source, page count, current page, the picture of the shown page and the
// auto-shrink flag. It needs no window: the panes observe its signals and
// call its operations, and tests use it directly.
//
// Every page is rendered once when it is shown, at 101 dots per inch times
// 1.5 (about 2.1 pixels per point); the page view only scales that picture.
class COrvaneDoc : public QObject {
    Q_OBJECT
public:
    static constexpr int kResolution = 101;
    static constexpr double kScale = 1.5;
    // The pixel size of a page whose extent gives no size (8.5 x 11 inches).
    static constexpr int kDefaultWidthPx = 858;
    static constexpr int kDefaultHeightPx = 1111;

    explicit COrvaneDoc(QObject *parent = nullptr);
    ~COrvaneDoc() override;

    // The open route of File Open, the recent files and the command line:
    // the document already shown is not opened again. Otherwise as
    // OpenDocument.
    bool OpenDocumentFile(const QString &path, QString &reason);
    // Opens `path` and shows its page 1. The new file is opened before the
    // shown one is let go: when it cannot be read or opened, or has no
    // page, `reason` says why in plain words and nothing changes.
    bool OpenDocument(const QString &path, QString &reason);
    // Shows page `page` (from 1). The page already shown costs nothing. A
    // page that cannot be rendered leaves the shown page current and
    // reports why (ShowPageFailed, StatusMessage); false then, and for a
    // page out of range.
    bool ShowPage(int page);
    // Close, and New: back to "Untitled" with nothing open.
    void CloseDocument();
    void SetAutoShrink(bool on);

    bool IsOpen() const { return bool(m_pageSource); }
    // Whether the shown page has a picture (a metafile's page has none).
    bool HasPicture() const { return m_pagePicture->HasPicture(); }
    const CPagePicture &PagePicture() const { return *m_pagePicture; }
    render::PageSource *PageSource() const { return m_pageSource.get(); }
    // Full path of the open document; empty when none is open.
    const QString &PathName() const { return m_documentPath; }
    const QString &Title() const { return m_title; }
    int PageCount() const { return m_pageCount; }
    // From 1; 0 when nothing is open.
    int CurrentPage() const { return m_currentPage; }
    bool AutoShrink() const { return m_autoShrink; }
    // Counts the documents opened, so that late results for a document
    // since closed can be told apart.
    uint64_t Generation() const { return m_generation; }

signals:
    // A document was opened; its page 1 is current.
    void DocumentOpened();
    // Another page of the open document is current.
    void PageShown(int page);
    // `page` could not be shown; the page that was shown stays current.
    void ShowPageFailed(int page, const QString &reason);
    void DocumentClosed();
    void TitleChanged(const QString &title);
    // The page pane's text, "Page No: %d".
    void PageTextChanged(const QString &text);
    // A note for the status bar's message pane.
    void StatusMessage(const QString &text);
    void AutoShrinkChanged(bool on);

private:
    void SetTitle(const QString &title);
    // Empties the crop file of the previous document's rectangles; the
    // auto-shrink flag stays.
    void ResetCropFile() {}

    QString m_documentPath;
    QString m_title = QStringLiteral("Untitled");
    std::unique_ptr<render::PageSource> m_pageSource;
    int m_pageCount = 0;
    int m_currentPage = 0;
    std::unique_ptr<CPagePicture> m_pagePicture;
    bool m_autoShrink = false;
    uint64_t m_generation = 0;
};

// The picture of one page as the document shows it: for a PDF (and a
// metafile, whose extent counts as points) the page rendered at 101 dots
// per inch times 1.5, or at the largest size a picture may have when that
// is too large; for a picture file its frame, each pixel a point.
// `pageRect` gets the page's rectangle in whole points. Null, with the
// reason, when the page cannot be rendered; `note` tells when the page was
// rendered at less than the usual resolution.
render::BitmapHandle RenderPageBitmap(render::PageSource &source, int page, QRect &pageRect, QString &reason,
                                      QString &note);

}  // namespace crop

#endif

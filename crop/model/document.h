#ifndef CROP_MODEL_DOCUMENT_H
#define CROP_MODEL_DOCUMENT_H

#include "crop/model/crop_save.h"
#include "crop/model/document_state.h"
#include "crop/model/overlay.h"
#include "crop/model/page_picture.h"
#include "crop/model/page_prefetch.h"
#include "crop/model/regions/page_editing.h"
#include "crop/model/whole_document.h"
#include "render/page_render.h"
#include "render/page_source.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace crop {

// The open document, and the one owner of its state: path and title, page
// source, page count, the shown page and its picture. It owns the parts
// that do the rest and hands them out: the regions of every page with
// their history and crop file (Pages), the background rendering
// (Prefetch), the work over the whole document (Whole), the overlay, and
// the save. It needs no window: the panes observe its signals and call its
// operations, and tests use it directly.
//
// Every page is rendered once when it is shown, at about 2.1 pixels per
// point; the page view only scales that picture.
class COrvaneDoc : public QObject {
    Q_OBJECT
public:
    explicit COrvaneDoc(QObject *parent = nullptr);
    ~COrvaneDoc() override;

    // The open route of File Open, the recent files and the command line:
    // the document already shown is not opened again. Otherwise as
    // OpenDocument.
    bool OpenDocumentFile(const QString &path, QString &reason, const platform::Secret *password = nullptr,
                          render::OpenFailure *why = nullptr);
    // Opens `path` and shows its page 1. The new file is opened before the
    // shown one is let go: when it cannot be read or opened, or has no
    // page, or work holds the document, `reason` says why in plain words
    // and nothing changes. A file locked by a password opens with
    // `password`, kept in memory only while the document is open; `why`
    // tells a missing or wrong password apart from any other failure.
    bool OpenDocument(const QString &path, QString &reason, const platform::Secret *password = nullptr,
                      render::OpenFailure *why = nullptr);
    // Shows page `page` (from 1), leaving the overlay. A page that cannot
    // be rendered leaves the shown page current and says why
    // (ShowPageFailed); false then, and for a page out of range.
    bool ShowPage(int page);
    // Close, and New: back to "Untitled" with nothing open; refused while
    // work holds the document.
    bool CloseDocument();

    // The open document's password; null when it needs none.
    const std::shared_ptr<const platform::Secret> &Password() const { return m_password; }
    const QString &PathName() const { return m_documentPath; }
    const QString &Title() const { return m_title; }
    int PageCount() const { return m_pageCount; }
    // From 1; 0 when nothing is open.
    int CurrentPage() const { return m_currentPage; }
    bool IsOpen() const { return bool(m_pageSource); }
    // Whether the shown page has a picture (a metafile's page has none).
    bool HasPicture() const { return m_pagePicture->HasPicture(); }
    // The picture the page view shows: the shown page's, or the overlay.
    const CPagePicture &PagePicture() const;
    render::PageSource *PageSource() const { return m_pageSource.get(); }
    // Counts the documents opened, so that late results for a document
    // since closed can be told apart.
    uint64_t Generation() const { return m_generation; }
    // The size in points of page `page` as it is shown; nothing when it
    // cannot be told.
    std::optional<std::pair<double, double>> ShownPageSize(int page) const;
    // Whether the opened file is no longer as it was when opened.
    bool FileChangedOnDisk() const;

    // The parts. Editing() is what the page view edits: the overlay while
    // it is shown, else the shown page's regions (Pages()).
    RegionTarget &Editing() const;
    PageEditing &Pages() const { return *m_editing; }
    PagePrefetch &Prefetch() const { return *m_prefetch; }
    WholeDocumentWork &Whole() const { return *m_whole; }
    crop::Overlay &Overlay() const { return *m_overlay; }
    CropSave &Save() const { return *m_save; }

    // The overlay of `pages` built in the background, then shown in place
    // of the page; false, with the reason, when it cannot be.
    bool ShowOverlay(const std::vector<int> &pages, QString &reason);
    // The long work that holds the document, if any.
    crop::Busy Busy() const;
    // Esc: stops the work that holds the document.
    void StopWork();
    // Takes back (or makes again) the last change to the regions and shows
    // the page it was made on; the overlay is left first.
    void Undo();
    void Redo();

    // Auto Shrink: the flag as the crop file holds it, where another
    // running instance may have changed it.
    bool AutoShrink() const { return m_autoShrink; }
    void SetAutoShrink(bool on);
    void ToggleAutoShrink();
    void RefreshAutoShrink();

    // Whether regions were changed since the document opened or was last
    // saved cropped, and some page has one, or the overlay shows one its
    // pages do not have yet: closing would lose them.
    bool HasUnsavedRectangles() const;
    // Keeps the regions not yet saved aside for the next start to offer
    // back: the program is being ended from outside, with no time to ask.
    bool KeepUnsavedAside(QString &reason);
    // Gives the open document the regions kept aside, as one step; they
    // are not yet saved.
    void RestoreKeptAside(const CropFile::KeptAside &kept);

signals:
    // A document was opened; its page 1 is current.
    void DocumentOpened();
    // Another page of the open document is current.
    void PageShown(int page);
    // `page` could not be shown; the page that was shown stays current.
    void ShowPageFailed(int page, const QString &reason);
    void DocumentClosed();
    // The number the page pane shows: the page asked for.
    void PageNumberShown(int page);
    // Pages are drawn otherwise now (straightened or level again): their
    // pictures are to be made again.
    void PagesRedrawn(const std::vector<int> &pages);
    void Changed(crop::Changes changes);
    // A note for the status bar's message pane.
    void StatusMessage(const QString &text);
    // How far long work in the background has come: `done` pages of
    // `total` (both 0 as it begins, before the pages are counted).
    void WorkProgress(crop::Busy work, int done, int total);
    // The crop run ended; `message` says where the copy was written, or
    // why it was not.
    void CropRunFinished(bool ok, const QString &message);
    // A sharp region of the shown page has been rendered.
    void SharpRegionReady();

private:
    void SetTitle(const QString &title);
    // Every part let go of the document shown.
    void StopBackground();
    // The parts made and joined to the document's signals.
    void MakeParts();
    // The shown page's regions given to the editing.
    void ShowRegions();
    // Pages whose regions a step changed: those whose turn changed are
    // drawn again.
    void DrawTurned(const std::vector<int> &pages);
    // The copy at `output` was written: opened afresh when it is this file.
    bool CopyWritten(const QString &output, QString &reason);
    // Undo, or Redo.
    void MoveStep(bool forward);

    QString m_documentPath;
    QString m_title = QStringLiteral("Untitled");
    std::unique_ptr<render::PageSource> m_pageSource;
    std::shared_ptr<render::PageTurns> m_turns;  // the pages drawn straightened
    std::shared_ptr<const platform::Secret> m_password;
    int m_pageCount = 0;
    int m_currentPage = 0;
    std::unique_ptr<CPagePicture> m_pagePicture;
    uint64_t m_generation = 0;
    std::string m_fileStamp;  // the file as it was when opened
    bool m_autoShrink = false;
    std::unique_ptr<PageEditing> m_editing;
    std::unique_ptr<PagePrefetch> m_prefetch;
    std::unique_ptr<WholeDocumentWork> m_whole;
    std::unique_ptr<crop::Overlay> m_overlay;
    std::unique_ptr<CropSave> m_save;
};

}  // namespace crop

#endif

#ifndef CROP_MODEL_DOCUMENT_H
#define CROP_MODEL_DOCUMENT_H

#include "crop/detect/auto_crop.h"
#include "crop/model/crop_file.h"
#include "crop/model/crop_run.h"
#include "crop/model/crop_set.h"
#include "crop/detect/margins.h"
#include "crop/detect/split.h"
#include "crop/model/page_picture.h"
#include "crop/detect/page_walk.h"
#include "render/page_cache.h"
#include "render/page_render.h"
#include "render/page_source.h"
#include "render/render_scheduler.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace crop {

// The open document, and the one owner of its state: path and title, page
// source, page count, current page, the picture of the shown page, the crop
// rectangles of its pages (kept in the crop file) with their undo history,
// and the auto-shrink flag. It needs no window: the panes observe its
// signals and call its operations, and tests use it directly.
//
// Every page is rendered once when it is shown, at 101 dots per inch times
// 1.5 (about 2.1 pixels per point); the page view only scales that picture.
// While a page is shown, its neighbours (the next in the direction of
// travel first) are rendered in the background into a small cache, so
// that turning to them renders nothing on the window's thread. All
// background rendering of the open document goes through its render
// scheduler.
class COrvaneDoc : public QObject {
    Q_OBJECT
public:
    static constexpr int kResolution = render::kPageResolution;
    static constexpr double kScale = render::kPageScale;
    static constexpr int kDefaultWidthPx = render::kPageDefaultWidthPx;
    static constexpr int kDefaultHeightPx = render::kPageDefaultHeightPx;
    // How long after an open reading ahead begins.
    static constexpr int kReadAheadDelayMs = 200;

    explicit COrvaneDoc(QObject *parent = nullptr);
    ~COrvaneDoc() override;

    // The open route of File Open, the recent files and the command line:
    // the document already shown is not opened again. Otherwise as
    // OpenDocument.
    bool OpenDocumentFile(const QString &path, QString &reason, const platform::Secret *password = nullptr,
                          render::OpenFailure *why = nullptr);
    // Opens `path` and shows its page 1. The new file is opened before the
    // shown one is let go: when it cannot be read or opened, or has no
    // page, `reason` says why in plain words and nothing changes. A file
    // locked by a password opens with `password`; `why` tells a missing or
    // wrong password apart from any other failure. The password is kept,
    // in memory only, while the document is open: every reader of the file
    // (the render threads, the crop tool) is given it.
    bool OpenDocument(const QString &path, QString &reason, const platform::Secret *password = nullptr,
                      render::OpenFailure *why = nullptr);
    // The open document's password; null when it needs none.
    const std::shared_ptr<const platform::Secret> &Password() const { return m_password; }
    // Shows page `page` (from 1). The page already shown costs nothing. A
    // page that cannot be rendered leaves the shown page current and
    // reports why (ShowPageFailed, StatusMessage); false then, and for a
    // page out of range.
    bool ShowPage(int page);
    // Close, and New: back to "Untitled" with nothing open.
    void CloseDocument();

    // Work on many pages in the background that the user can stop.
    enum class Work { ShrinkAll, Overlay, Split };
    Q_ENUM(Work)

    // Which pages Crop all pages gives the shown page's rectangle.
    enum class PageRange { All = 0, Even = 1, Odd = 2 };

    // The shown page's crop rectangle, its selected region; empty when it
    // has none.
    const CropRect &CropRectangle() const { return m_cropRect; }
    // Every region of the shown page as it is shown (page points from its
    // top-left corner), in the order they were drawn; and which of them is
    // selected (-1 for none). On the overlay, its one rectangle.
    std::vector<CropRect> PageRegions() const;
    int SelectedRegion() const;
    // A click on a region, and Tab / Shift+Tab: another region selected.
    bool SelectRegion(int index);
    bool SelectNextRegion(bool backwards);
    // Ctrl+drag: `rect` added as another region of the shown page (shrunk
    // first when `drawn` and Auto Shrink is on), and selected; on a page
    // without one, or on the overlay, as SetCurrentPageRect. A page holds
    // CropSet::kMaxRegions; past that the status bar says why nothing was
    // added.
    void AddRegion(const CropRect &rect, bool drawn);
    // Delete Rectangle: the selected region goes, the others stay.
    void DeleteSelectedRegion();
    // Copy (Ctrl+C): the shown page's selected region kept to be pasted;
    // Paste (Ctrl+V): it added to the shown page as a region of its own,
    // within the page, and selected (one undo step). The status bar says
    // what was done, or why nothing was.
    void CopySelectedRegion();
    void PasteRegion();
    // The arrow keys: the selected region's edges moved by these points
    // (x to the right, y down). Moves within a second of the one before,
    // on the same page, are one undo step with it.
    void NudgeSelectedRegion(double left, double top, double right, double bottom);
    // How close moves must follow each other to be one step (a second).
    void SetNudgeJoinWindow(std::chrono::milliseconds window) { m_nudgeWindow = window; }
    // Crop Box: every page of `pages` given the part `margins` leave of it,
    // each measured from its own edges as shown. The shown page's selected
    // region takes it (a new region when it has none); another page's
    // region at the same place in its list, or its first. One undo step;
    // pages too small for the margins are told of and keep what they have.
    void SetMargins(const Margins &margins, const std::vector<int> &pages);
    // The size in points of page `page` as it is shown, as exactly as the
    // page source tells it; nothing when it cannot.
    std::optional<std::pair<double, double>> ShownPageSize(int page) const;
    // The regions of every page with their undo history: x from the page's
    // left edge, y down from the line H points below its top (StoredRect).
    const CropSet &Regions() const { return m_regions; }
    // The order of a page's regions in the copy within a row: right to left
    // for books read so.
    void SetRightToLeft(bool on) { m_rightToLeft = on; }
    // The saved copy keeps nothing outside the crops (written whole).
    void SetRemoveHidden(bool on) { m_removeHidden = on; }
    bool RemoveHidden() const { return m_removeHidden; }
    // What a save will change is shown before the copy is written.
    void SetReportBeforeSaving(bool on) { m_reportBeforeSaving = on; }
    bool ReportBeforeSaving() const { return m_reportBeforeSaving; }
    // What saving to `output` would change, as the crop tool reports it in
    // a dry run (JSON); false with the reason when it cannot tell.
    bool SaveReport(const QString &output, QByteArray &json, QString &reason, const std::function<bool()> &stopped = {},
                    bool replaceReadOnly = false);
    // The crop tool's job for a copy at `output` (read-only, replaced only
    // with `replaceReadOnly`): the crop list, given on the tool's input and
    // ending with its line "End", the password and the options of the
    // document.
    bool ToolJob(const QString &output, CropRun::Job &job, QByteArray &list, QString &reason, bool replaceReadOnly);
    bool RightToLeft() const { return m_rightToLeft; }
    // Gives the shown page's selected region `rect` (a new region when it
    // has none; page points, as drawn or dragged; not normalised, not
    // clamped). While the overlay is shown the rectangle is
    // drawn on it only, for Crop all pages to give to its pages. A rectangle `drawn` with the rubber band is
    // first shrunk to the page's content when Auto Shrink is on. One undo
    // step, one write of the crop file.
    void SetCurrentPageRect(const CropRect &rect, bool drawn);
    // Remove Cropbox: the shown page has no region any more.
    void DeleteCurrentPageRect();
    // Shrink Current Page: the shown page's rectangle shrunk to the content
    // of its picture. Nothing without a rectangle; where the search finds
    // no result the rectangle stays as it was.
    void ShrinkCurrentPageRect();
    // Crop all pages: the shown page's regions, in order (or none), for
    // every page of the range. While the overlay is shown, each page of the
    // range gets the shown rectangle at the same place from its own
    // top-left corner instead, clipped to the page.
    void ApplyRectToPages(PageRange range);
    // The same for `pages` (from 1, in order), as a page range names them.
    void ApplyRectToPages(const std::vector<int> &pages);

    // Shrink All Pages: in the background, the content of every page of
    // `options.pages` found (inside the page's own rectangle, or the whole
    // page where it has none) and each page given its crop as
    // PlanAutoCrop plans it; pages found blank keep what they have unless
    // one common size is asked for. One undo step. Meanwhile nothing else
    // changes the document (opening, saving, Crop all pages and editing are
    // refused); progress goes to the status bar. False, with the reason,
    // when it cannot start.
    bool ShrinkAllPages(const AutoCropOptions &options, QString &reason);
    bool IsShrinkingAll() const { return bool(m_shrinkWalk); }
    // Split Pages: in the background, every page of `pages` rendered and
    // its regions become the cells of `grid`, cut at the gutters of its
    // content (SplitPage) and fitted with `margin` and `uniform`
    // (FitCells). Pages with a cut not made for want of a gutter are the
    // pages to check then. One undo step; while it runs nothing else
    // changes the rectangles, and Esc stops it with nothing changed. False,
    // with the reason, when it cannot start.
    bool SplitPages(const SplitGrid &grid, const std::vector<int> &pages, double margin, bool uniform, QString &reason);
    bool IsSplitting() const { return bool(m_splitWalk); }
    // Stops Shrink All Pages (nothing changes) and the building of the
    // overlay.
    void StopWholeDocumentWork();
    // The pages the last Shrink All Pages found far from the others.
    const std::vector<Outlier> &Outliers() const { return m_outliers; }

    // The overlay: every page of `set` drawn over the others, aligned at
    // their top-left corners, each pixel the darkest of the pages there;
    // built in the background (progress in the status bar), then shown in
    // place of the page until it is hidden or another page is shown.
    bool ShowOverlay(PageSet set, QString &reason);
    bool ShowOverlay(const std::vector<int> &pages, QString &reason);
    // Back to the shown page. A rectangle drawn on the overlay and not yet
    // given to its pages is first settled (SettleOverlayRectangle); false,
    // with the overlay still shown, when the answer is to stay.
    bool HideOverlay();
    // What becomes of a rectangle drawn on the overlay that its pages have
    // not been given, when the overlay is left or the document saved.
    enum class OverlayExit { Give, Drop, Stay };
    // Asked with the number of the overlay's pages; without a question
    // the rectangle is dropped.
    using OverlayQuestion = std::function<OverlayExit(int pages)>;
    void SetOverlayQuestion(OverlayQuestion ask) { m_overlayQuestion = std::move(ask); }
    // The overlay shows a rectangle that its pages have not been given.
    bool OverlayRectanglePending() const;
    // Asks what becomes of the pending rectangle, and gives it to the
    // overlay's pages (Crop all pages, one undo step) when the answer is
    // Give. False when the answer is Stay; true when nothing is pending.
    bool SettleOverlayRectangle();
    bool OverlayShown() const { return m_overlayShown; }
    // Shown, or being built.
    bool OverlayWanted() const { return m_overlayShown || bool(m_overlayWalk); }
    const std::vector<int> &OverlayPages() const { return m_overlayPages; }
    // The crop list, one line "Page <n>, [l,t,r,b]" per region of a page
    // in the copy's order (one for a page without any). It reaches the
    // crop tool on its standard input: no other user can read or change it
    // on the way.
    std::string ExportCropList() const;

    // Writes a cropped copy of the open PDF to `output` with the crop tool,
    // in the background: the crop list is exported and the tool started.
    // False, with the reason, when that cannot be done. Until the run ends
    // (CropRunFinished) nothing changes the document: opening, closing and
    // every change to the rectangles are refused. A copy written over the
    // open document is opened afresh when it is done. A file changed on
    // disk since it was opened is refused unless `changedFileAccepted`: its
    // pages may not be the ones the rectangles were drawn on.
    bool RunCropTool(const QString &output, QString &reason, bool changedFileAccepted = false,
                     bool replaceReadOnly = false);
    // Whether the opened file is no longer as it was when opened.
    bool FileChangedOnDisk() const;
    bool IsCropRunning() const { return m_cropRun.IsRunning(); }
    // Stops the run; the tool removes what it had begun to write. A run
    // that had already finished is told as finished (CropRunFinished).
    void StopCropRun();
    // Whether `path` names the open document's file.
    bool IsDocumentFile(const QString &path) const;

    // Whether rectangles were changed since the document opened or was
    // last saved cropped, and some page has one, or the overlay shows one
    // its pages do not have yet: closing would lose them.
    bool HasUnsavedRectangles() const;
    // Keeps the rectangles not yet saved aside for the next start to offer
    // back: the program is being ended from outside, with no time to ask.
    // False, with the reason, when there are none or they cannot be kept.
    bool KeepUnsavedAside(QString &reason);
    // Gives the open document the rectangles kept aside, as one undo step;
    // they are not yet saved.
    void RestoreKeptAside(const CropFile::KeptAside &kept);
    // Whether some page has a crop rectangle (of some width and height).
    bool HasAnyRectangle() const;

    bool CanUndo() const { return m_regions.CanUndo(); }
    bool CanRedo() const { return m_regions.CanRedo(); }
    // Takes back (or makes again) the last change to the rectangles, in the
    // crop file and on screen, and shows the page it was made on.
    void Undo();
    void Redo();

    void SetAutoShrink(bool on);
    // Auto Shrink: the flag as the crop file holds it, inverted.
    void ToggleAutoShrink();
    // Reads the auto-shrink flag again from the crop file, where another
    // running instance may have changed it.
    void RefreshAutoShrink();
    const CropFile &CropStore() const { return *m_cropFile; }

    bool IsOpen() const { return bool(m_pageSource); }
    // Whether the shown page has a picture (a metafile's page has none).
    bool HasPicture() const { return m_pagePicture->HasPicture(); }
    // The picture the page view shows: the shown page's, or the overlay.
    const CPagePicture &PagePicture() const { return m_overlayShown ? *m_overlayPicture : *m_pagePicture; }
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
    // The background rendering of the open document; null when none is
    // open. Each of its threads has a document handle of its own.
    const std::shared_ptr<render::RenderScheduler> &Scheduler() const { return m_scheduler; }
    // The pages rendered ahead; null when none is open.
    const render::PageCache *ReadAheadCache() const { return m_cache.get(); }
    // Renders ahead or not (on by default).
    void SetReadAhead(bool on);
    // Pages ShowPage has rendered on the calling (window's) thread, not
    // taken from the pages rendered ahead.
    int WindowThreadRenders() const { return m_windowRenders; }

    // A part of the shown PDF page rendered at more pixels than its
    // picture has, for a view zoomed past the picture's density:
    // `area` of the page rendered whole at `pageSize` pixels.
    struct SharpRegion {
        int page = 0;
        uint64_t generation = 0;
        QSize pageSize;
        QRect area;
        QImage image;
        bool Matches(int shownPage, uint64_t shownGeneration, QSize size) const {
            return !image.isNull() && page == shownPage && generation == shownGeneration && pageSize == size;
        }
    };
    // Renders `area` of the shown page as the page would be at `pageSize`
    // pixels, in the background, before thumbnails and reading ahead;
    // SharpRegionReady tells when it is there. A request replaces the one
    // before. Only PDF pages are rendered so.
    void RequestSharpRegion(QSize pageSize, const QRect &area);
    const SharpRegion &Sharp() const { return m_sharp; }

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
    // The shown page's crop rectangle changed, or another page is shown.
    void CropRectChanged();
    // What Undo and Redo can do changed.
    void UndoStateChanged();
    // A crop run started (true) or ended (false).
    void CropRunChanged(bool running);
    // The crop run ended; `message` says where the copy was written, or
    // why it was not.
    void CropRunFinished(bool ok, const QString &message);
    // A sharp region of the shown page has been rendered (Sharp()).
    void SharpRegionReady();
    // Shrink All Pages started (true) or ended (false).
    void WholeDocumentWorkChanged(bool running);
    void OutliersChanged();
    // The overlay was shown, hidden, or its building began or ended.
    void OverlayChanged();
    // How far long work in the background has come: `done` pages of
    // `total` (both 0 as it begins, before the pages are counted).
    void WorkProgress(COrvaneDoc::Work work, int done, int total);

private:
    void SetTitle(const QString &title);
    // Empties the crop file of the previous document's rectangles and the
    // undo history, for a document of `pageCount` pages; the auto-shrink
    // flag stays.
    void ResetCropFile(int pageCount);
    // The shown page's selected region into m_cropRect.
    void LoadCurrentPageRect();
    // The value of m_cropRect for the shown page's selected region, into
    // the pending edit.
    void SaveCurrentPageRect();
    // The pending edit, one undo step: begun by the first change, made
    // one step and written to the crop file once by CommitEdit.
    void EditValues(int page, const std::vector<std::string> &values);
    // The shown page's selected region (a new one when it has none)
    // becomes `value`.
    void EditSelected(const std::string &value);
    void BeginEdit();
    void CommitEdit();
    // The page's regions as the crop file stores them, in drawing order.
    std::vector<std::string> ValuesOf(int page) const;
    // Undo, or Redo.
    void MoveStep(bool forward);
    // `rect` on the shown page shrunk to its content, as the file would
    // hold it; nothing when there is nothing to shrink or no result.
    std::optional<std::string> ShrunkValue(const CropRect &rect) const;
    // The selected region becomes the shrunk `value`, and is shown as the
    // file holds it.
    void EditSelectedShrunk(const std::string &value);
    // The shown page's selected region as it is shown; empty for none.
    CropRect SelectedShown() const;
    bool WriteCropFile();
    int PageHeightPoints() const { return m_pagePicture->PageHeight(); }
    // A page is shown and no crop run or Shrink All Pages holds the
    // document.
    bool Editable() const { return HasPicture() && !IsCropRunning() && !IsShrinkingAll() && !IsSplitting(); }
    void ShrinkAllEnded(const AutoCropResult &result, uint64_t run);
    // The size in points of page `page` as it is shown; nothing when the
    // page source cannot tell it without rendering.
    std::optional<std::pair<double, double>> PageSizeOf(int page) const;
    // Page `page`'s size from `sizes` (every page measured at once, as the
    // page source gives them), else measured alone.
    std::optional<std::pair<double, double>> SizeOf(const std::vector<std::pair<double, double>> &sizes,
                                                    int page) const;
    // The overlay's rectangle shrunk to what its pages hold.
    void ShrinkOnOverlay();
    void OverlayBuilt();
    void CropRunEnded(bool ok, const QString &message);
    // The neighbours of the shown page, rendered in the background.
    void ScheduleReadAhead();
    // Stops the renders ahead that run, so that the page asked for has
    // the processor; they are scheduled again once it is shown.
    void YieldReadAhead();
    // Stops the background rendering of the document shown.
    void StopBackground();

    QString m_documentPath;
    QString m_title = QStringLiteral("Untitled");
    std::unique_ptr<render::PageSource> m_pageSource;
    std::shared_ptr<const platform::Secret> m_password;
    int m_pageCount = 0;
    int m_currentPage = 0;
    std::unique_ptr<CPagePicture> m_pagePicture;
    bool m_autoShrink = false;
    uint64_t m_generation = 0;
    std::unique_ptr<CropFile> m_cropFile;
    CropRect m_cropRect;
    CropSet m_regions;
    std::set<int> m_touched;  // pages of the pending edit
    bool m_stepOpen = false;  // the pending edit's undo step is begun
    // The last arrow-key move: its page (0 when another change came
    // since) and when it was made.
    int m_nudgePage = 0;
    std::chrono::steady_clock::time_point m_nudgeTime;
    std::chrono::milliseconds m_nudgeWindow{1000};
    bool m_rightToLeft = false;
    bool m_removeHidden = false;
    qint64 m_sizeBefore = 0;  // of the input, when the crop tool started
    bool m_reportBeforeSaving = false;  // the window turns it on from its settings
    CropRun m_cropRun;
    bool m_changedSinceSave = false;
    std::string m_savedList;  // the crop list of the last copy saved; empty before one
    std::shared_ptr<render::RenderScheduler> m_scheduler;
    std::shared_ptr<render::PageCache> m_cache;
    uint64_t m_readAheadJob = 0;  // the scheduler's job rendering ahead
    QTimer m_readAheadDelay;      // after an open
    uint64_t m_sharpJob = 0;
    SharpRegion m_sharp;
    std::string m_fileStamp;  // the file as it was when opened
    bool m_fileChanged = false;
    int m_windowRenders = 0;
    int m_direction = 1;
    bool m_readAhead = true;
    std::shared_ptr<PageWalk> m_shrinkWalk;
    std::shared_ptr<PageWalk> m_splitWalk;
    void SplitEnded(const std::map<int, SplitCells> &cells, int failed, double margin, bool uniform);
    uint64_t m_shrinkRun = 0;  // tells a stopped run's late result from the running one's
    std::vector<Outlier> m_outliers;
    std::optional<CropRect> m_copied;  // the region Copy kept
    // The overlay as it is built: pixels top-down, blue first, and the
    // size of each page in points.
    struct OverlayCanvas {
        std::mutex mutex;
        int width = 0, height = 0;
        int widthPt = 0, heightPt = 0;
        std::vector<uint8_t> pixels;
        std::map<int, std::pair<double, double>> sizes;
        int skipped = 0;  // pages too large to overlay, or no memory for them
        void Darken(const PageWalk::Page &page);
    };
    std::shared_ptr<PageWalk> m_overlayWalk;
    std::shared_ptr<OverlayCanvas> m_overlayCanvas;
    std::unique_ptr<CPagePicture> m_overlayPicture;
    std::map<int, std::pair<double, double>> m_overlaySizes;
    bool m_overlayShown = false;
    bool m_overlayRectPending = false;  // drawn on the overlay, not given to its pages yet
    OverlayQuestion m_overlayQuestion;
    std::vector<int> m_overlayPages;
};

}  // namespace crop

#endif

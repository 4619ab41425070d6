#include "crop/model/document.h"

#include "crop/detect/shrink.h"
#include "crop/model/regions/region_edits.h"
#include "platform/exe_folder.h"
#include "platform/file_identity.h"
#include "platform/file_names.h"

#include <QFileInfo>

#include <algorithm>
#include <set>

namespace crop {
namespace {

QString CannotShow(int page, const QString &reason) {
    return QStringLiteral("Page %1 cannot be shown: %2.").arg(page).arg(reason);
}
const char *const kNoMemory = "there is not enough memory for its picture";

// Whether the file can be read at all; `reason` says why not.
bool CanRead(const QString &path, QString &reason) {
    std::string error;
    switch (platform::CheckReadable(platform::NativePath(path), error)) {
    case platform::InputProblem::Missing:
        reason = QStringLiteral("the file does not exist");
        return false;
    case platform::InputProblem::Folder:
        reason = QStringLiteral("it is a folder, not a file");
        return false;
    case platform::InputProblem::Unreadable:
        reason = QStringLiteral("the file cannot be read (%1)").arg(QString::fromLocal8Bit(error.c_str()));
        return false;
    case platform::InputProblem::None:
        break;
    }
    return true;
}

}  // namespace

COrvaneDoc::COrvaneDoc(QObject *parent) : QObject(parent), m_pagePicture(std::make_unique<CPagePicture>()) {
    MakeParts();
    // Regions left from an earlier run belong to no open document.
    m_editing->Reset(0);
    RefreshAutoShrink();
}

COrvaneDoc::~COrvaneDoc() {
    // Work still going ends here, telling nobody; the render threads stop
    // before the parts their results would reach go.
    blockSignals(true);
    m_whole->Reset();
    m_overlay->Reset();
    m_prefetch->Stop();
    m_save.reset();
}

void COrvaneDoc::MakeParts() {
    using Size = PageEditing::Size;
    auto pageSizes = [this] { return m_pageSource ? m_pageSource->PageSizes() : std::vector<Size>(); };
    auto pageSize = [this](int page) { return ShownPageSize(page); };
    // The flag as the crop file holds it now: another instance may have changed it.
    auto autoShrink = [this] {
        RefreshAutoShrink();
        return m_autoShrink;
    };
    PageEditing::Host editing;
    editing.mayEdit = [this] { return !HoldsRegions(Busy()) && !m_overlay->Shown(); };
    editing.autoShrink = autoShrink;
    editing.shrink = [this](const CropRect &rect) {
        const QSize size = m_pagePicture->PageRect().size();
        const std::optional<CropRect> shrunk = ShrinkPageRect(*m_pagePicture, size, rect);
        // What sets each edge is kept to be shown with the region.
        if (shrunk && m_whole)
            m_whole->KeepSetters(m_currentPage, StoredFrom(*shrunk, m_pagePicture->PageHeight()),
                                 SettersOfShrunk(*m_pagePicture, size, *shrunk));
        return shrunk;
    };
    editing.pageSize = pageSize;
    editing.pageSizes = pageSizes;
    editing.pageBox = [this](int page, PageBox kind) -> std::optional<CropRect> {
        const std::optional<render::PageExtent> box = m_pageSource ? m_pageSource->Box(page, int(kind)) : std::nullopt;
        if (!box)
            return std::nullopt;
        return CropRect{box->x1, box->y1, box->x2, box->y2};
    };
    editing.status = [this](const QString &text) { emit StatusMessage(text); };
    editing.changed = [this](bool history) {
        emit Changed(history ? Change::Regions | Change::History : Changes(Change::Regions));
    };
    editing.applied = [this](const std::vector<int> &pages) { DrawTurned(pages); };
    m_editing = std::make_unique<PageEditing>(platform::WorkingFolder(), std::move(editing));

    m_prefetch = std::make_unique<PagePrefetch>();
    connect(m_prefetch.get(), &PagePrefetch::SharpRegionReady, this, &COrvaneDoc::SharpRegionReady);
    connect(m_prefetch.get(), &PagePrefetch::StatusMessage, this, &COrvaneDoc::StatusMessage);

    auto pdfScheduler = [this] {
        return m_pageSource && m_pageSource->Kind() == render::SourceKind::Pdf ? m_prefetch->Scheduler() : nullptr;
    };
    m_whole = std::make_unique<WholeDocumentWork>(
        *m_editing, WholeDocumentWork::Host{pdfScheduler, [this] { return m_title; }, [this] { return Busy(); },
                                            [this] { return m_overlay && m_overlay->Shown(); },
                                            [this] { return m_pageCount; }, pageSizes, pageSize});
    m_overlay = std::make_unique<crop::Overlay>(
        *m_editing, crop::Overlay::Host{[this] { return HasPicture() && !HoldsRegions(Busy()); }, autoShrink});
    CropSave::Host save;
    save.path = [this] { return m_documentPath; };
    save.title = [this] { return m_title; };
    save.pdf = [this] { return m_pageSource && m_pageSource->Kind() == render::SourceKind::Pdf; };
    save.password = [this] { return m_password; };
    save.fileChanged = [this] { return FileChangedOnDisk(); };
    save.busy = [this] { return Busy(); };
    save.written = [this](const QString &output, QString &reason) { return CopyWritten(output, reason); };
    m_save = std::make_unique<CropSave>(*m_editing, std::move(save));

    connect(m_whole.get(), &WholeDocumentWork::StatusMessage, this, &COrvaneDoc::StatusMessage);
    connect(m_overlay.get(), &crop::Overlay::StatusMessage, this, &COrvaneDoc::StatusMessage);
    connect(m_save.get(), &CropSave::StatusMessage, this, &COrvaneDoc::StatusMessage);
    connect(m_whole.get(), &WholeDocumentWork::Changed, this, &COrvaneDoc::Changed);
    connect(m_whole.get(), &WholeDocumentWork::WorkProgress, this, &COrvaneDoc::WorkProgress);
    connect(m_overlay.get(), &crop::Overlay::Changed, this, [this](Changes changes) {
        if (!m_overlay->Shown())
            m_editing->Reload();  // the page shows its own regions again
        m_prefetch->HoldSharp(m_overlay->Shown());
        emit Changed(changes);
    });
    connect(m_overlay.get(), &crop::Overlay::WorkProgress, this, &COrvaneDoc::WorkProgress);
    connect(m_save.get(), &CropSave::Changed, this, &COrvaneDoc::Changed);
    connect(m_save.get(), &CropSave::Finished, this, [this](bool ok, const QString &message) {
        if (ok)
            m_editing->History().SetClean();
        emit Changed(Change::History);
        emit CropRunFinished(ok, message);
    });
}

crop::Busy COrvaneDoc::Busy() const {
    if (const crop::Busy save = m_save->Running(); save != crop::Busy::None)
        return save;
    if (const crop::Busy whole = m_whole->Running(); whole != crop::Busy::None)
        return whole;
    return m_overlay->Building() ? crop::Busy::OverlayBuild : crop::Busy::None;
}

void COrvaneDoc::StopWork() {
    // The work in the background first, all of it; a copy being written
    // only when nothing else runs.
    if (m_whole->Running() != crop::Busy::None || m_overlay->Building()) {
        m_whole->Stop();
        m_overlay->StopBuilding();
    } else {
        m_save->Stop();
    }
}

bool COrvaneDoc::ShowOverlay(const std::vector<int> &pages, QString &reason) {
    if (!IsOpen() || !m_prefetch->Scheduler() || m_pageSource->Kind() != render::SourceKind::Pdf) {
        reason = QStringLiteral("only the pages of an open PDF document can be overlaid");
        return false;
    }
    if (HoldsRegions(Busy())) {
        reason = BusyReason(Busy());
        return false;
    }
    if (!m_overlay->Hide()) {
        reason = QStringLiteral("the overlay shown has a rectangle to settle first");
        return false;
    }
    m_overlay->Build(m_prefetch->Scheduler(), pages);
    return true;
}

RegionTarget &COrvaneDoc::Editing() const {
    return m_overlay->Shown() ? static_cast<RegionTarget &>(*m_overlay) : *m_editing;
}

const CPagePicture &COrvaneDoc::PagePicture() const {
    return m_overlay->Shown() ? m_overlay->Picture() : *m_pagePicture;
}

void COrvaneDoc::StopBackground() {
    m_prefetch->Stop();
    // Work over the whole document ends with its render threads.
    m_whole->Reset();
    m_overlay->Reset();
}

void COrvaneDoc::SetTitle(const QString &title) {
    m_title = title;
    emit Changed(Change::Title);
}

void COrvaneDoc::ShowRegions() {
    m_editing->Show(m_currentPage, m_pagePicture->PageWidth(), m_pagePicture->PageHeight(), HasPicture());
}

bool COrvaneDoc::OpenDocumentFile(const QString &path, QString &reason, const platform::Secret *password,
                                  render::OpenFailure *why) {
    if (why)
        *why = render::OpenFailure::None;
    const QString full = QFileInfo(path).absoluteFilePath();
    if (IsOpen() && full == m_documentPath)
        return true;  // already open
    return OpenDocument(full, reason, password, why);
}

bool COrvaneDoc::OpenDocument(const QString &path, QString &reason, const platform::Secret *password,
                              render::OpenFailure *why) {
    if (why)
        *why = render::OpenFailure::Unreadable;
    if (Busy() != crop::Busy::None) {
        reason = BusyReason(Busy());
        return false;
    }
    if (path.isEmpty()) {
        reason = QStringLiteral("no file was named");
        return false;
    }
    const QString full = QFileInfo(path).absoluteFilePath();
    if (!CanRead(full, reason))
        return false;
    render::OpenFailure openFailure = render::OpenFailure::Unreadable;
    std::unique_ptr<render::PageSource> source =
        render::PageSource::Open(platform::NativePath(full), 1, password, &openFailure);
    if (why)
        *why = openFailure;
    if (!source) {
        reason = openFailure == render::OpenFailure::NeedsPassword ? QStringLiteral("it is locked by a password")
                 : openFailure == render::OpenFailure::WrongPassword
                     ? QStringLiteral("the password is not its own")
                     : QStringLiteral("it is damaged or not a document this program reads");
        return false;
    }
    const int pages = source->PageCount();
    if (pages < 1) {
        reason = QStringLiteral("it has no pages that can be read; it may be damaged");
        return false;
    }
    // What the pages' regions need is had before the shown document goes.
    try {
        CropSet probe(pages);
    } catch (const std::bad_alloc &) {
        reason = QStringLiteral("there is not enough memory to open its %1 pages").arg(pages);
        return false;
    }
    auto picture = std::make_unique<CPagePicture>();
    QString failure, note;
    QRect pageRect;
    render::BitmapHandle bitmap = render::RenderPageBitmap(*source, 1, pageRect, failure, note);
    if (!picture->SetFromBitmap(bitmap.get(), pageRect) && bitmap)
        failure = QString::fromLatin1(kNoMemory);
    bitmap.reset();

    // The new document replaces the shown one only now.
    StopBackground();
    m_editing->Reset(pages);
    RefreshAutoShrink();
    m_pageSource = std::move(source);
    m_pageCount = pages;
    m_currentPage = 1;
    m_pagePicture = std::move(picture);
    m_documentPath = full;
    ++m_generation;
    m_password = password && !password->Empty() ? std::make_shared<const platform::Secret>(password->View()) : nullptr;
    m_turns = std::make_shared<render::PageTurns>();
    m_pageSource->FollowTurns(m_turns);
    m_prefetch->Start(platform::NativePath(full), m_password, pages, m_pageSource->Kind() == render::SourceKind::Pdf,
                      m_pageSource->Kind() == render::SourceKind::Metafile, m_generation, m_turns);
    m_fileStamp = platform::FileStamp(platform::NativePath(full));
    ShowRegions();
    SetTitle(QFileInfo(full).fileName());
    emit PageNumberShown(1);
    emit DocumentOpened();
    if (!m_pagePicture->HasPicture())
        emit StatusMessage(CannotShow(1, failure));
    else if (!note.isEmpty())
        emit StatusMessage(note);
    return true;
}

bool COrvaneDoc::ShowPage(int page) {
    if (!IsOpen())
        return false;
    if (page >= 1 && page <= m_pageCount && !m_overlay->Hide()) {
        // The user stays on the overlay, with what is drawn on it.
        emit ShowPageFailed(page, QStringLiteral("the overlay is still shown"));
        return false;
    }
    emit PageNumberShown(page);
    if (page == m_currentPage)
        return true;  // shown in place of the overlay: nothing is rendered again
    if (page < 1 || page > m_pageCount)
        return false;
    // The file changed since it was opened: what was rendered ahead may no
    // longer be what it holds. Pages are rendered when asked for from here
    // on, as the shown page is.
    if (!m_prefetch->Stale() && FileChangedOnDisk())
        m_prefetch->FileChanged();
    QString failure, note;
    QRect pageRect;
    // A page rendered ahead is shown as it is; any other is rendered here,
    // with the renders ahead stopped meanwhile.
    std::shared_ptr<const render::PageCache::Page> cached = m_prefetch->Find(page);
    render::BitmapHandle rendered;
    if (cached) {
        pageRect = QRect(0, 0, cached->widthPt, cached->heightPt);
        note = QString::fromStdString(cached->note);
    } else {
        m_prefetch->Yield();
        rendered = render::RenderPageBitmap(*m_pageSource, page, pageRect, failure, note);
        m_prefetch->CountWindowRender();
    }
    const render::Bitmap *bitmap = cached ? cached->bitmap.get() : rendered.get();
    if (!bitmap) {
        emit PageNumberShown(m_currentPage);
        emit StatusMessage(CannotShow(page, failure));
        emit ShowPageFailed(page, failure);
        m_prefetch->Shown(m_currentPage, 0);
        return false;
    }
    // Copied over the previous page's picture, whose memory it reuses.
    const int direction = page < m_currentPage ? -1 : 1;
    m_currentPage = page;
    if (!m_pagePicture->SetFromBitmap(bitmap, pageRect))
        note = CannotShow(page, QString::fromLatin1(kNoMemory));
    rendered.reset();
    m_prefetch->DropSharp();
    ShowRegions();
    emit PageShown(page);
    m_prefetch->Shown(page, direction);
    if (!note.isEmpty())
        emit StatusMessage(note);
    return true;
}

void COrvaneDoc::DrawTurned(const std::vector<int> &pages) {
    std::vector<int> redrawn;
    bool resized = false;  // the shown page turned a quarter
    for (int page : pages) {
        const bool rotated = m_turns && m_turns->SetRotation(page, m_editing->Set().Rotation(page));
        resized = resized || (rotated && page == m_currentPage);
        if ((m_turns && m_turns->Set(page, m_editing->Set().Turn(page))) || rotated)
            redrawn.push_back(page);
    }
    if (redrawn.empty())
        return;
    m_prefetch->ForgetPictures();
    if (std::find(redrawn.begin(), redrawn.end(), m_currentPage) != redrawn.end() && m_pageSource) {
        QString failure, note;
        QRect pageRect;
        const render::BitmapHandle bitmap =
            render::RenderPageBitmap(*m_pageSource, m_currentPage, pageRect, failure, note);
        const bool shown = bitmap && m_pagePicture->SetFromBitmap(bitmap.get(), pageRect);
        if (resized)
            ShowRegions();  // the regions as shown on the page's new sides
        if (shown) {
            emit PageShown(m_currentPage);
        } else
            emit StatusMessage(CannotShow(m_currentPage, failure));
    }
    emit PagesRedrawn(redrawn);
}

bool COrvaneDoc::CloseDocument() {
    if (Busy() != crop::Busy::None)
        return false;
    const bool wasOpen = IsOpen();
    StopBackground();
    m_pageSource.reset();
    m_turns.reset();
    m_password.reset();  // overwritten once the last reader lets it go
    m_pageCount = 0;
    m_currentPage = 0;
    m_pagePicture = std::make_unique<CPagePicture>();
    m_documentPath.clear();
    m_editing->Reset(0);
    RefreshAutoShrink();
    ShowRegions();
    SetTitle(QStringLiteral("Untitled"));
    if (wasOpen)
        emit DocumentClosed();
    return true;
}

void COrvaneDoc::SetAutoShrink(bool on) {
    std::string error;
    if (!m_editing->File().SetAutoShrink(on, error))
        emit StatusMessage(
            QStringLiteral("The Auto Shrink setting cannot be kept: %1.").arg(QString::fromStdString(error)));
    if (on == m_autoShrink)
        return;
    m_autoShrink = on;
    emit Changed(Change::AutoShrink);
}

void COrvaneDoc::ToggleAutoShrink() {
    RefreshAutoShrink();
    SetAutoShrink(!m_autoShrink);
}

void COrvaneDoc::RefreshAutoShrink() {
    const bool on = m_editing->File().AutoShrink();
    if (on == m_autoShrink)
        return;
    m_autoShrink = on;
    emit Changed(Change::AutoShrink);
}

std::optional<std::pair<double, double>> COrvaneDoc::ShownPageSize(int page) const {
    if (m_pageSource && m_pageSource->Kind() == render::SourceKind::Pdf) {
        // A picture's frames are measured only by decoding them.
        render::PageExtent extent;
        if (m_pageSource->PageExtent(page, &extent, 0) && extent.x2 - extent.x1 > 0 && extent.y2 - extent.y1 > 0)
            return std::pair{std::clamp(extent.x2 - extent.x1, 0.0, 1.0e9),
                             std::clamp(extent.y2 - extent.y1, 0.0, 1.0e9)};
    }
    if (page == m_currentPage && HasPicture())  // a picture's frame as it is shown
        return std::pair<double, double>(m_pagePicture->PageWidth(), m_pagePicture->PageHeight());
    return std::nullopt;
}

void COrvaneDoc::MoveStep(bool forward) {
    RegionHistory &history = m_editing->History();
    if (!(forward ? history.CanRedo() : history.CanUndo()) || HoldsRegions(Busy()))
        return;
    // The step shows the page it was made on; the overlay is left first,
    // and what was drawn on it settled. Given to its pages, the rectangle
    // is a change of its own, and this press has done its work.
    const int steps = history.Stack().index();
    if (!m_overlay->Hide() || history.Stack().index() != steps)
        return;
    const int page = forward ? history.Redo() : history.Undo();
    ShowPage(page);
    m_editing->Reload();
    emit Changed(Change::History);
}

void COrvaneDoc::Undo() { MoveStep(false); }

void COrvaneDoc::Redo() { MoveStep(true); }

bool COrvaneDoc::HasUnsavedRectangles() const {
    if (m_overlay->Pending())
        return true;
    // Undo and Redo may have brought back exactly what was saved.
    return !m_editing->History().IsClean() && HasPicture() && ChangesSomePage(m_editing->Set());
}

bool COrvaneDoc::KeepUnsavedAside(QString &reason) {
    if (!HasUnsavedRectangles() || !IsOpen()) {
        reason = QStringLiteral("no rectangle is unsaved");
        return false;
    }
    std::string error;
    if (!m_editing->File().KeepAside(platform::NativePath(m_documentPath), m_pageCount, error)) {
        reason = QString::fromStdString(error);
        return false;
    }
    return true;
}

void COrvaneDoc::RestoreKeptAside(const CropFile::KeptAside &kept) {
    if (!IsOpen() || HoldsRegions(Busy()))
        return;
    std::vector<PageChange> changes;
    std::set<int> leftOut(kept.leftOut.begin(), kept.leftOut.end());
    for (int page = 1; page <= m_pageCount; ++page) {
        if (kept.pages.count(page) || (!leftOut.count(page) && !kept.rotations.count(page)))
            continue;
        PageChange change = WithLeftOut(m_editing->Set(), page, leftOut.count(page) > 0);
        change.after.rotation = kept.rotations.count(page) ? kept.rotations.at(page) : 0;
        change.after.scale = 1;
        changes.push_back(std::move(change));
    }
    for (const auto &[page, values] : kept.pages)
        if (page >= 1 && page <= m_pageCount) {
            const double turn = values.empty() ? 0 : PageTurn(values.front());
            std::vector<CropRect> regions = KeptRegions(values);
            // A page straightened without a region keeps a value with none.
            if (turn != 0 && regions.size() == 1 && regions.front().IsEmpty())
                regions.clear();
            PageChange change = Replaced(m_editing->Set(), page, std::move(regions));
            change.after.turn = turn;
            change.after.leftOut = leftOut.count(page) > 0;
            change.after.rotation = kept.rotations.count(page) ? kept.rotations.at(page) : 0;
            change.after.scale = kept.scales.count(page) ? kept.scales.at(page) : 1;
            changes.push_back(std::move(change));
        }
    m_editing->Replace(QStringLiteral("Restore Rectangles"), std::move(changes));
}

bool COrvaneDoc::FileChangedOnDisk() const {
    return IsOpen() && platform::FileStamp(platform::NativePath(m_documentPath)) != m_fileStamp;
}

bool COrvaneDoc::CopyWritten(const QString &output, QString &reason) {
    if (!m_save->IsDocumentFile(output))
        return true;
    // The pages are not the ones the regions and the undo history were
    // made on: the document is opened afresh. The copy keeps the input's
    // encryption, and so its passwords.
    const std::shared_ptr<const platform::Secret> password = m_password;
    m_overlay->Reset();  // of the pages that were
    if (OpenDocument(output, reason, password.get()))
        return true;
    CloseDocument();
    return false;
}

}  // namespace crop

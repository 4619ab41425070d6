#ifndef CROP_MODEL_PAGE_PREFETCH_H
#define CROP_MODEL_PAGE_PREFETCH_H

#include "crop/model/document_state.h"
#include "platform/secret.h"
#include "render/page_cache.h"
#include "render/render_scheduler.h"

#include <QImage>
#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>
#include <QTimer>

#include <memory>
#include <string>

namespace crop {

// The background rendering of the open document: its render scheduler,
// the pages read ahead of the shown one (the next in the direction of
// travel first), and the sharp part of a page zoomed past its picture.
// Reading ahead waits a moment after an open, so that the first screen of
// thumbnails has the processor first; once the file changes on disk,
// pages are rendered only when asked for.
class PagePrefetch : public QObject {
    Q_OBJECT
public:
    // How long after an open reading ahead begins.
    static constexpr int kReadAheadDelayMs = 200;

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

    explicit PagePrefetch(QObject *parent = nullptr);
    ~PagePrefetch() override;

    // The document at `path` (as the system spells it), of `pageCount`
    // pages, `pdf` or not, is opened; its renders begin after the delay.
    void Start(const std::string &path, std::shared_ptr<const platform::Secret> password, int pageCount, bool pdf,
               bool metafile, uint64_t generation, std::shared_ptr<const render::PageTurns> turns = nullptr);
    // Every background render stops; nothing is kept.
    void Stop();
    // The page shown now, reached going forward (1) or back (-1; 0 keeps
    // the way it went); the pages around it are rendered next.
    void Shown(int page, int direction);
    // The pages rendered ahead are let go and nothing more is read ahead:
    // the file changed on disk.
    void FileChanged();
    bool Stale() const { return m_fileChanged; }
    // Stops the renders ahead that run, so that the page asked for has
    // the processor; they are scheduled again once it is shown.
    void Yield();
    // Renders ahead or not (on by default).
    void SetReadAhead(bool on);
    // The page rendered ahead, if it was.
    std::shared_ptr<const render::PageCache::Page> Find(int page) const;

    // The scheduler of the open document; null when none is open. Each
    // of its threads has a document handle of its own.
    const std::shared_ptr<render::RenderScheduler> &Scheduler() const { return m_scheduler; }
    const render::PageCache *Cache() const { return m_cache.get(); }
    // The pages rendered ahead, and the sharp region, are drawn otherwise
    // now (straightened): forgotten.
    void ForgetPictures();
    // Pages ShowPage rendered on the window's thread.
    int WindowThreadRenders() const { return m_windowRenders; }
    void CountWindowRender() { ++m_windowRenders; }

    // Renders `area` of page `page` as the page would be at `pageSize`
    // pixels, before thumbnails and reading ahead; SharpRegionReady tells
    // when it is there. A request replaces the one before; a page turned
    // or the overlay shown drops it (DropSharp).
    void RequestSharpRegion(int page, QSize pageSize, const QRect &area);
    const SharpRegion &Sharp() const { return m_sharp; }
    void DropSharp();
    // No sharp part is rendered while `on`: the page is not what is shown
    // (the overlay is).
    void HoldSharp(bool on);

signals:
    void SharpRegionReady();
    // A background render failed; the others go on.
    void StatusMessage(const QString &text);

private:
    void ScheduleReadAhead();

    std::shared_ptr<render::RenderScheduler> m_scheduler;
    std::shared_ptr<render::PageCache> m_cache;
    QTimer m_delay;
    JobGuard m_sharpGuard{this};
    uint64_t m_readAheadJob = 0;
    uint64_t m_sharpJob = 0;
    SharpRegion m_sharp;
    uint64_t m_generation = 0;
    int m_pageCount = 0;
    int m_page = 0;
    int m_direction = 1;
    int m_windowRenders = 0;
    bool m_pdf = false;
    bool m_metafile = false;
    bool m_fileChanged = false;
    bool m_readAhead = true;
    bool m_sharpHeld = false;
};

}  // namespace crop

#endif

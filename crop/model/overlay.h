#ifndef CROP_MODEL_OVERLAY_H
#define CROP_MODEL_OVERLAY_H

#include "crop/detect/page_walk.h"
#include "crop/model/document_state.h"
#include "crop/model/page_picture.h"
#include "crop/model/regions/page_editing.h"
#include "crop/model/regions/region_target.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace crop {

// The overlay: every page of a set drawn over the others, aligned at their
// top-left corners, each pixel the darkest of the pages there; built in
// the background, then shown in place of the page until it is hidden.
// Shown, it is what the page view edits: one rectangle for all its pages,
// given to them by Crop all pages (one step of the regions' history).
class Overlay : public QObject, public RegionTarget {
    Q_OBJECT
public:
    // What becomes of a rectangle drawn on the overlay that its pages have
    // not been given, when the overlay is left or the document saved.
    enum class Exit { Give, Drop, Stay };
    // Asked with the number of the overlay's pages; without a question the
    // rectangle is dropped.
    using Question = std::function<Exit(int pages)>;
    // What the overlay asks of the document that owns it.
    struct Host {
        // No work holds the regions.
        std::function<bool()> mayEdit;
        std::function<bool()> autoShrink;
    };

    Overlay(PageEditing &editing, Host host, QObject *parent = nullptr);
    ~Overlay() override;

    // Builds the overlay of `pages` with `scheduler`'s render threads.
    void Build(const std::shared_ptr<render::RenderScheduler> &scheduler, const std::vector<int> &pages);
    // Shown, being built, or either.
    bool Shown() const { return bool(m_picture); }
    bool Building() const { return bool(m_walk); }
    bool Wanted() const { return Shown() || Building(); }
    const std::vector<int> &Pages() const { return m_pages; }
    const CPagePicture &Picture() const { return *m_picture; }
    // Stops the building; nothing is shown.
    void StopBuilding();
    // Back to the page: a rectangle not given to the pages is settled
    // first; false, with the overlay still shown, when the answer is to
    // stay. `picture` is the shown page's, for its regions.
    bool Hide();
    // Gone at once, untold: another document.
    void Reset();
    void SetQuestion(Question ask) { m_question = std::move(ask); }
    // A rectangle is shown that the pages have not been given.
    bool Pending() const { return Shown() && m_pending && !m_cropRect.IsEmpty(); }
    // Asks what becomes of the pending rectangle and gives it to the pages
    // when the answer is Give. False when the answer is Stay; true when
    // nothing is pending.
    bool Settle();

    const CropRect &CropRectangle() const override { return m_cropRect; }
    std::vector<CropRect> PageRegions() const override;
    int SelectedRegion() const override { return m_cropRect.IsEmpty() ? -1 : 0; }
    bool SelectRegion(int) override { return false; }
    bool SelectNextRegion(bool) override { return false; }
    void SetCurrentPageRect(const CropRect &rect, bool drawn) override;
    void AddRegion(const CropRect &rect, bool drawn) override { SetCurrentPageRect(rect, drawn); }
    void DeleteSelectedRegion() override { DeleteCurrentPageRect(); }
    void DeleteCurrentPageRect() override;
    void ShrinkCurrentPageRect() override;
    void NudgeSelectedRegion(double, double, double, double) override {}
    // The same place from each page's own top-left corner, clipped to it.
    void ApplyRectToPages(const std::vector<int> &pages) override;

signals:
    void Changed(crop::Changes changes);
    void StatusMessage(const QString &text);
    void WorkProgress(crop::Busy work, int done, int total);

private:
    struct Canvas;
    void Built(const std::shared_ptr<Canvas> &canvas, int pages);
    // The rectangle shrunk to what every page of the overlay holds.
    void Shrink();

    PageEditing &m_editing;
    Host m_host;
    JobGuard m_guard{this};
    std::shared_ptr<PageWalk> m_walk;
    std::unique_ptr<CPagePicture> m_picture;
    std::map<int, std::pair<double, double>> m_sizes;
    std::vector<int> m_pages;
    CropRect m_cropRect;
    bool m_pending = false;  // drawn on the overlay, not given to its pages yet
    Question m_question;
};

}  // namespace crop

#endif

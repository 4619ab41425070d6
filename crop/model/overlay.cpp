#include "crop/model/overlay.h"

#include "crop/detect/shrink.h"
#include "crop/model/regions/region_edits.h"
#include "render/page_image.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace crop {

// The overlay as it is built: pixels top-down, blue first, and the size of
// each page in points.
struct Overlay::Canvas {
    std::mutex mutex;
    int width = 0, height = 0;
    int widthPt = 0, heightPt = 0;
    std::vector<uint8_t> pixels;
    std::map<int, std::pair<double, double>> sizes;
    int skipped = 0;  // pages too large to overlay, or no memory for them

    void Darken(const PageWalk::Page &page) {
        const render::Bitmap &b = *page.bitmap;
        if (b.bitsPerPixel != 24 || b.width <= 0 || b.height <= 0)
            return;
        std::lock_guard lock(mutex);
        if ((b.width > width || b.height > height) && !Grow(std::max(width, b.width), std::max(height, b.height)))
            return;
        sizes[page.page] = {page.width, page.height};
        widthPt = std::max(widthPt, int(page.width));
        heightPt = std::max(heightPt, int(page.height));
        for (int y = 0; y < b.height; ++y) {
            const uint8_t *from = b.bits + size_t(b.height - 1 - y) * size_t(b.stride);
            uint8_t *to = pixels.data() + size_t(y) * size_t(width) * 3;
            for (int i = 0; i < b.width * 3; ++i)
                to[i] = std::min(to[i], from[i]);
        }
    }
    // A larger page: the canvas grows, white where nothing was yet, within
    // what one page picture may hold.
    bool Grow(int w, int h) {
        std::vector<uint8_t> grown;
        try {
            if (!render::WithinPageImageLimit(uint32_t(w), uint32_t(h), 24))
                throw std::bad_alloc();
            grown.assign(size_t(w) * size_t(h) * 3, 255);
        } catch (const std::bad_alloc &) {
            ++skipped;
            return false;
        }
        for (int y = 0; y < height; ++y)
            std::memcpy(grown.data() + size_t(y) * size_t(w) * 3, pixels.data() + size_t(y) * size_t(width) * 3,
                        size_t(width) * 3);
        pixels.swap(grown);
        width = w;
        height = h;
        return true;
    }
};

Overlay::Overlay(PageEditing &editing, Host host, QObject *parent)
    : QObject(parent), m_editing(editing), m_host(std::move(host)) {}

Overlay::~Overlay() { Reset(); }

void Overlay::Build(const std::shared_ptr<render::RenderScheduler> &scheduler, const std::vector<int> &pages) {
    m_pages = pages;
    auto canvas = std::make_shared<Canvas>();
    const JobTicket ticket = m_guard.Begin();
    m_walk = PageWalk::Start(
        scheduler, pages,
        [canvas](const PageWalk::Page &page) {
            if (page.bitmap)
                canvas->Darken(page);
        },
        [this, ticket](int done, int total) {
            ticket.Post([this, done, total] { emit WorkProgress(crop::Busy::OverlayBuild, done, total); });
        },
        [this, ticket, canvas] { ticket.Post([this, canvas] { Built(canvas, m_walk ? m_walk->Total() : 0); }); });
    emit Changed(Change::Overlay | Change::Busy);
}

void Overlay::Built(const std::shared_ptr<Canvas> &canvas, int pages) {
    m_walk.reset();
    m_guard.Drop();
    auto picture = std::make_unique<CPagePicture>();
    std::lock_guard lock(canvas->mutex);
    render::Bitmap bitmap;
    bitmap.width = canvas->width;
    bitmap.height = canvas->height;
    bitmap.bitsPerPixel = 24;
    std::optional<std::vector<uint8_t>> rows =
        BottomUpRows(canvas->pixels.data(), canvas->width, canvas->height, bitmap.stride);
    if (!rows) {
        emit Changed(Change::Overlay | Change::Busy);
        emit StatusMessage(QStringLiteral("The overlay is too large: there is not enough memory for it."));
        return;
    }
    bitmap.bits = rows->data();
    if (canvas->width <= 0 || !picture->SetFromBitmap(&bitmap, QRect(0, 0, canvas->widthPt, canvas->heightPt))) {
        emit Changed(Change::Overlay | Change::Busy);
        emit StatusMessage(QStringLiteral("The overlay cannot be shown: no page of it could be rendered, or there is "
                                          "not enough memory for it."));
        return;
    }
    m_picture = std::move(picture);
    m_sizes = canvas->sizes;
    // The shown page's own selected region, until one is drawn.
    m_cropRect = m_editing.CropRectangle();
    m_pending = false;
    emit Changed(Change::Overlay | Change::Busy | Change::Regions);
    emit StatusMessage(canvas->skipped == 0
                           ? QStringLiteral("Overlay of %1 pages: one rectangle for them all").arg(pages)
                           : QStringLiteral("Overlay of %1 pages; %2 too large to overlay left out")
                                 .arg(pages - canvas->skipped)
                                 .arg(canvas->skipped));
}

void Overlay::StopBuilding() {
    if (!m_walk || Shown())
        return;
    m_guard.Drop();
    m_walk->Cancel();
    m_walk.reset();
    emit Changed(Change::Overlay | Change::Busy);
    emit StatusMessage(QStringLiteral("The overlay was stopped."));
}

void Overlay::Reset() {
    m_guard.Drop();
    if (m_walk)
        m_walk->Cancel();
    const bool wanted = Wanted();
    m_walk.reset();
    m_picture.reset();
    m_sizes.clear();
    m_pending = false;
    m_cropRect = {};
    if (wanted)
        emit Changed(Change::Overlay | Change::Busy | Change::Regions);
}

bool Overlay::Hide() {
    if (!Wanted())
        return true;
    if (!Settle())
        return false;
    Reset();
    return true;
}

bool Overlay::Settle() {
    if (!Pending())
        return true;
    if (!m_host.mayEdit()) {
        // Nothing can be given to the pages now, and the rectangle is not
        // let go without a word: the overlay stays.
        emit StatusMessage(QStringLiteral("The rectangle drawn on the overlay stays there until the work that holds "
                                          "the document is done; then give it to its pages or leave the overlay."));
        return false;
    }
    const Exit answer = m_question ? m_question(int(m_sizes.size())) : Exit::Drop;
    if (answer == Exit::Stay || !Pending())
        return answer != Exit::Stay;
    if (answer == Exit::Give)
        ApplyRectToPages(m_pages);
    else
        m_pending = false;  // the user chose to leave the pages as they are
    return true;
}

std::vector<CropRect> Overlay::PageRegions() const {
    return m_cropRect.IsEmpty() ? std::vector<CropRect>() : std::vector<CropRect>{m_cropRect};
}

void Overlay::Shrink() {
    if (m_cropRect.IsEmpty())
        return;
    if (const auto shrunk = ShrinkPageRect(*m_picture, m_picture->PageRect().size(), m_cropRect.Normalized()))
        m_cropRect = *shrunk;
}

void Overlay::SetCurrentPageRect(const CropRect &rect, bool drawn) {
    if (!Shown() || !m_host.mayEdit())
        return;
    m_cropRect = rect;
    m_pending = true;
    if (drawn && m_host.autoShrink())
        Shrink();
    emit Changed(Change::Regions);
}

void Overlay::DeleteCurrentPageRect() {
    if (!Shown() || !m_host.mayEdit())
        return;
    m_cropRect = {};
    m_pending = true;
    emit Changed(Change::Regions);
}

void Overlay::ShrinkCurrentPageRect() {
    if (!Shown() || !m_host.mayEdit())
        return;
    m_pending = true;
    Shrink();
    emit Changed(Change::Regions);
}

void Overlay::ApplyRectToPages(const std::vector<int> &pages) {
    if (!Shown() || !m_host.mayEdit())
        return;
    const CropRect shown = m_cropRect.Normalized();
    std::vector<PageChange> changes;
    for (int page : pages) {
        const auto size = m_sizes.find(page);
        if (size == m_sizes.end())
            continue;  // a page the overlay could not render keeps its regions
        const std::optional<CropRect> placed = PlacedFromTopLeft(shown, size->second.first, size->second.second);
        changes.push_back(
            Replaced(m_editing.Set(), page, placed ? std::vector<CropRect>{*placed} : std::vector<CropRect>()));
    }
    m_editing.Replace(QStringLiteral("Crop All Pages"), std::move(changes));
    m_pending = false;
    emit Changed(Change::Regions);
    emit StatusMessage(QStringLiteral("The rectangle was given to every page of the overlay."));
}

}  // namespace crop

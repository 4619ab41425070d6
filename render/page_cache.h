#ifndef RENDER_PAGE_CACHE_H
#define RENDER_PAGE_CACHE_H

#include "render/bitmap.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace render {

// Pages of one open document rendered ahead of the user, ready to be
// shown: a few pictures, bounded in number and in bytes. Render threads
// put pages in; the window's thread takes them out. Safe from any thread.
class PageCache {
public:
    struct Page {
        int page = 0;
        std::shared_ptr<const Bitmap> bitmap;
        int widthPt = 0, heightPt = 0;  // the page's size in whole points
        std::string note;               // set when shown at less than the usual density
    };

    explicit PageCache(size_t maxPages = 4, size_t maxBytes = size_t(320) << 20);
    PageCache(const PageCache &) = delete;
    PageCache &operator=(const PageCache &) = delete;

    // The pages worth rendering ahead of `current` in a document of
    // `pageCount` pages, the most useful first: the next one in the
    // direction of travel (`direction` > 0 forward, < 0 back), the one on
    // the other side, then the one after next.
    static std::vector<int> PagesAhead(int current, int direction, int pageCount);

    // Keeps `page`, rendered while the cache was at `epoch` (Epoch()
    // before rendering began): a page begun before the last Clear is not
    // kept, nor one outside the last Want list (when there is one). When the cache is full the page least wanted goes
    // (pages not in the last Want list first). A page larger than the whole budget is not kept.
    void Insert(Page page, uint64_t epoch);
    uint64_t Epoch() const;
    // The page, or null. It stays in the cache.
    std::shared_ptr<const Page> Find(int page) const;
    bool Contains(int page) const { return Find(page) != nullptr; }
    // The pages now wanted, the most wanted first; the others are dropped.
    void Want(const std::vector<int> &pages);
    // Forgets every page, and the pages being rendered: the file changed.
    void Clear();

    size_t Size() const;
    size_t Bytes() const;

private:
    static size_t BytesOf(const Page &page);
    // Under the lock: drops pages until there is room for `bytes` more.
    void MakeRoom(size_t bytes);

    const size_t m_maxPages, m_maxBytes;
    mutable std::mutex m_mutex;
    std::vector<std::shared_ptr<const Page>> m_pages;  // oldest first
    std::vector<int> m_wanted;
    size_t m_bytes = 0;
    uint64_t m_epoch = 0;
};

}  // namespace render

#endif

#include "render/page_cache.h"

#include <algorithm>

namespace render {

PageCache::PageCache(size_t maxPages, size_t maxBytes)
    : m_maxPages(std::max<size_t>(1, maxPages)), m_maxBytes(maxBytes) {}

std::vector<int> PageCache::PagesAhead(int current, int direction, int pageCount) {
    const int step = direction < 0 ? -1 : 1;
    std::vector<int> pages;
    for (int page : {current + step, current - step, current + 2 * step})
        if (page >= 1 && page <= pageCount && page != current &&
            std::find(pages.begin(), pages.end(), page) == pages.end())
            pages.push_back(page);
    return pages;
}

size_t PageCache::BytesOf(const Page &page) {
    return page.bitmap ? size_t(std::max(0, page.bitmap->stride)) * size_t(std::max(0, page.bitmap->height)) : 0;
}

void PageCache::MakeRoom(size_t bytes) {
    auto unwanted = [this](const std::shared_ptr<const Page> &p) {
        return std::find(m_wanted.begin(), m_wanted.end(), p->page) == m_wanted.end();
    };
    while (!m_pages.empty() && (m_pages.size() >= m_maxPages || m_bytes + bytes > m_maxBytes)) {
        auto victim = std::find_if(m_pages.begin(), m_pages.end(), unwanted);
        if (victim == m_pages.end()) {
            // Every page is wanted: the least wanted goes.
            victim = std::max_element(m_pages.begin(), m_pages.end(), [this](const auto &a, const auto &b) {
                return std::find(m_wanted.begin(), m_wanted.end(), a->page) <
                       std::find(m_wanted.begin(), m_wanted.end(), b->page);
            });
        }
        m_bytes -= BytesOf(**victim);
        m_pages.erase(victim);
    }
}

uint64_t PageCache::Epoch() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_epoch;
}

void PageCache::Insert(Page page, uint64_t epoch) {
    const size_t bytes = BytesOf(page);
    if (!page.bitmap || bytes > m_maxBytes)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (epoch != m_epoch)
        return;
    // A page no longer wanted (its render came late) does not push out one
    // that is.
    if (!m_wanted.empty() && std::find(m_wanted.begin(), m_wanted.end(), page.page) == m_wanted.end())
        return;
    auto same = std::find_if(m_pages.begin(), m_pages.end(), [&](const auto &p) { return p->page == page.page; });
    if (same != m_pages.end()) {
        m_bytes -= BytesOf(**same);
        m_pages.erase(same);
    }
    MakeRoom(bytes);
    m_bytes += bytes;
    m_pages.push_back(std::make_shared<const Page>(std::move(page)));
}

std::shared_ptr<const PageCache::Page> PageCache::Find(int page) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto &p : m_pages)
        if (p->page == page)
            return p;
    return nullptr;
}

void PageCache::Want(const std::vector<int> &pages) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_wanted = pages;
    for (auto it = m_pages.begin(); it != m_pages.end();) {
        if (std::find(pages.begin(), pages.end(), (*it)->page) == pages.end()) {
            m_bytes -= BytesOf(**it);
            it = m_pages.erase(it);
        } else {
            ++it;
        }
    }
}

void PageCache::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pages.clear();
    m_wanted.clear();
    m_bytes = 0;
    ++m_epoch;
}

size_t PageCache::Size() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_pages.size();
}

size_t PageCache::Bytes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_bytes;
}

}  // namespace render

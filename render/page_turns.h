#ifndef RENDER_PAGE_TURNS_H
#define RENDER_PAGE_TURNS_H

#include <map>
#include <mutex>

namespace render {

// The pages of one open document drawn turned (straightened): degrees
// counterclockwise as shown, about the page's centre. Shared by every
// source of the document, whatever thread renders; each source applies a
// page's turn before it draws the page.
class PageTurns {
public:
    double Of(int page) const {
        std::lock_guard lock(m_mutex);
        const auto found = m_turns.find(page);
        return found == m_turns.end() ? 0 : found->second;
    }
    // True when the page's turn changed.
    bool Set(int page, double degrees) {
        std::lock_guard lock(m_mutex);
        const double was = m_turns.count(page) ? m_turns[page] : 0;
        if (degrees == 0)
            m_turns.erase(page);
        else
            m_turns[page] = degrees;
        return was != degrees;
    }

private:
    mutable std::mutex m_mutex;
    std::map<int, double> m_turns;
};

}  // namespace render

#endif

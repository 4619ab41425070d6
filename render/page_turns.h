#ifndef RENDER_PAGE_TURNS_H
#define RENDER_PAGE_TURNS_H

#include <map>
#include <mutex>

namespace render {

// The pages of one open document drawn turned (straightened): degrees
// counterclockwise as shown, about the page's centre; and the pages shown
// rotated a quarter turn or more (90, 180 or 270 degrees clockwise), which
// swaps the sides of some. Shared by every source of the document, whatever
// thread renders; each source applies a page's turn before it draws the
// page, and the rotations before it measures or draws any.
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

    int RotationOf(int page) const {
        std::lock_guard lock(m_mutex);
        const auto found = m_rotations.find(page);
        return found == m_rotations.end() ? 0 : found->second;
    }
    // True when the page's rotation changed.
    bool SetRotation(int page, int degrees) {
        std::lock_guard lock(m_mutex);
        const int was = m_rotations.count(page) ? m_rotations[page] : 0;
        if (degrees == 0)
            m_rotations.erase(page);
        else
            m_rotations[page] = degrees;
        if (was != degrees)
            ++m_rotationVersion;
        return was != degrees;
    }
    // Every page's rotation, and how many times they changed.
    std::map<int, int> Rotations(unsigned &version) const {
        std::lock_guard lock(m_mutex);
        version = m_rotationVersion;
        return m_rotations;
    }
    unsigned RotationVersion() const {
        std::lock_guard lock(m_mutex);
        return m_rotationVersion;
    }

private:
    mutable std::mutex m_mutex;
    std::map<int, double> m_turns;
    std::map<int, int> m_rotations;
    unsigned m_rotationVersion = 0;
};

}  // namespace render

#endif

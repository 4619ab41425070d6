#include "crop/model/regions/region_history.h"

#include <algorithm>

namespace crop {

RegionsCommand::RegionsCommand(RegionHistory &history, const QString &text, int page, std::vector<PageChange> changes,
                               bool nudge)
    : QUndoCommand(text),
      m_history(history),
      m_page(page),
      m_changes(std::move(changes)),
      m_nudge(nudge),
      m_last(std::chrono::steady_clock::now()) {}

void RegionsCommand::Apply(bool forward) {
    std::vector<int> pages;
    for (const PageChange &c : m_changes)
        if (m_history.m_set.SetPage(c.page, forward ? c.after : c.before))
            pages.push_back(c.page);
    m_history.Tell(pages);
}

void RegionsCommand::redo() { Apply(true); }
void RegionsCommand::undo() { Apply(false); }

bool RegionsCommand::mergeWith(const QUndoCommand *other) {
    const auto *next = static_cast<const RegionsCommand *>(other);
    // Only onto the nudge pushed last: not after an undo, or another edit.
    if (!m_history.m_joinable || other->id() != id() || next->m_page != m_page || m_changes.size() != 1 ||
        next->m_changes.size() != 1 || next->m_changes[0].page != m_changes[0].page ||
        next->m_last - m_last >= m_history.JoinWindow())
        return false;
    m_changes[0].after = next->m_changes[0].after;
    m_last = next->m_last;
    // Moved back to where it began: no step at all.
    setObsolete(m_changes[0].before.regions == m_changes[0].after.regions);
    return true;
}

RegionHistory::RegionHistory(CropSet &set, Applied applied) : m_set(set), m_applied(std::move(applied)) {
    m_stack.setUndoLimit(0);
}

bool RegionHistory::Push(const QString &text, int page, std::vector<PageChange> changes, bool nudge) {
    if (!nudge)
        m_joinable = false;
    // A change of selection alone is no step.
    auto selectionAlone = [](const PageChange &c) {
        PageRegions after = c.after;
        after.selected = c.before.selected;
        return after == c.before;
    };
    for (const PageChange &c : changes)
        if (selectionAlone(c))
            m_set.SetPage(c.page, c.after);
    std::erase_if(changes, selectionAlone);
    if (changes.empty())
        return false;
    if (page == 0)
        page = changes.front().page;
    m_stack.push(new RegionsCommand(*this, text, page, std::move(changes), nudge));
    m_joinable = nudge;
    return true;
}

int RegionHistory::Undo() {
    if (!m_stack.canUndo())
        return 0;
    const int page = static_cast<const RegionsCommand *>(m_stack.command(m_stack.index() - 1))->Page();
    m_joinable = false;
    m_stack.undo();
    return page;
}

int RegionHistory::Redo() {
    if (!m_stack.canRedo())
        return 0;
    const int page = static_cast<const RegionsCommand *>(m_stack.command(m_stack.index()))->Page();
    m_joinable = false;
    m_stack.redo();
    return page;
}

}  // namespace crop

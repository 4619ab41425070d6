#ifndef CROP_MODEL_REGIONS_REGION_HISTORY_H
#define CROP_MODEL_REGIONS_REGION_HISTORY_H

#include "crop/model/regions/crop_set.h"

#include <QString>
#include <QUndoCommand>
#include <QUndoStack>

#include <chrono>
#include <functional>
#include <vector>

namespace crop {

// What one edit did to one page.
struct PageChange {
    int page = 0;
    PageRegions before, after;
};

class RegionHistory;

// One step of the undo history: the pages an edit changed, each as it was
// and as it became. Arrow-key moves of one page's region that follow each
// other within the history's join window are one step.
class RegionsCommand : public QUndoCommand {
public:
    static constexpr int kNudgeId = 1;

    RegionsCommand(RegionHistory &history, const QString &text, int page, std::vector<PageChange> changes, bool nudge);
    void redo() override;
    void undo() override;
    int id() const override { return m_nudge ? kNudgeId : -1; }
    bool mergeWith(const QUndoCommand *other) override;
    // The page the step was made on, shown when it is undone or redone.
    int Page() const { return m_page; }

private:
    void Apply(bool forward);

    RegionHistory &m_history;
    int m_page;
    std::vector<PageChange> m_changes;
    bool m_nudge;
    std::chrono::steady_clock::time_point m_last;  // of the latest move joined
};

// The undo history of a CropSet on a QUndoStack: every edit is one push;
// each push, undo and redo applies its pages to the set and tells
// `applied` which pages changed, once. The stack's clean state is the
// state last saved.
class RegionHistory {
public:
    using Applied = std::function<void(const std::vector<int> &pages)>;

    RegionHistory(CropSet &set, Applied applied);
    RegionHistory(const RegionHistory &) = delete;
    RegionHistory &operator=(const RegionHistory &) = delete;

    // One step of `changes` named `text` (the menu says "Undo <text>"),
    // made on `page`. Pages whose regions stay the same are only given
    // their new selection; false when no page's regions change.
    bool Push(const QString &text, int page, std::vector<PageChange> changes, bool nudge = false);
    // Takes back (or makes again) the last step; the page it was made on,
    // 0 when there was none.
    int Undo();
    int Redo();
    bool CanUndo() const { return m_stack.canUndo(); }
    bool CanRedo() const { return m_stack.canRedo(); }
    QString UndoText() const { return m_stack.undoText(); }
    QString RedoText() const { return m_stack.redoText(); }
    // Whether the regions are as they were last marked saved (or opened).
    bool IsClean() const { return m_stack.isClean(); }
    void SetClean() { m_stack.setClean(); }
    // No history, and clean.
    void Clear() {
        m_stack.clear();
        m_joinable = false;
    }
    // How close arrow-key moves must follow each other to be one step.
    void SetJoinWindow(std::chrono::milliseconds window) { m_joinWindow = window; }
    std::chrono::milliseconds JoinWindow() const { return m_joinWindow; }
    QUndoStack &Stack() { return m_stack; }

private:
    friend class RegionsCommand;
    void Tell(const std::vector<int> &pages) const { m_applied(pages); }

    CropSet &m_set;
    Applied m_applied;
    bool m_joinable = false;  // the last thing done was a nudge pushed
    QUndoStack m_stack;
    std::chrono::milliseconds m_joinWindow{1000};
};

}  // namespace crop

#endif

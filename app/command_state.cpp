#include "app/command_state.h"

#include "res/command_ids.h"

namespace app {

namespace {

// What any long work holds back until it ends: another document, and a
// save.
bool HeldByWork(int id) {
    using namespace res;
    switch (id) {
    case ID_FILE_OPEN:
    case ID_FILE_NEW:
    case ID_CLOSE:
    case ID_FILE_SAVE_AS:
    case ID_SAVE_AS_MENU:
    case ID_SAVE_FILE:
    case ID_EDIT_CUT:
        return true;
    default:
        return id >= ID_FILE_MRU_FIRST && id < ID_FILE_MRU_FIRST + 16;
    }
}

// What work that holds the regions holds back as well: every change to
// them, and other such work.
bool HeldWithRegions(int id) {
    using namespace res;
    switch (id) {
    case ID_SHRINK_ALL_PAGES:
    case ID_SPLIT_PAGES:
    case ID_STRAIGHTEN_PAGES:
    case ID_CROP_BOX:
    case ID_CROP_TO_TRIM_BOX:
    case ID_CROP_TO_BLEED_BOX:
    case ID_LEAVE_OUT:
    case ID_ROTATE_LEFT:
    case ID_ROTATE_RIGHT:
    case ID_ROTATE_180:
    case ID_ROTATE_RANGE_LEFT:
    case ID_ROTATE_RANGE_RIGHT:
    case ID_ROTATE_RANGE_180:
    case ID_PAGE_SIZE:
    case ID_CROP_ALL_PAGES:
    case ID_CUT_ALL:
    case ID_EDIT_COPY:
    case ID_DELETE_RECTANGLE:
    case ID_EDIT_PASTE:
    case ID_REMOVE_CROPBOX:
    case ID_SHRINK_CURRENT_PAGE:
    case ID_EDIT_UNDO:
    case ID_EDIT_REDO:
        return true;
    default:
        return id >= ID_MOVE_LEFT && id <= ID_SHRINK_DOWN;  // Nudge
    }
}

CommandState StateFor(int id, const CommandContext &c);

}  // namespace

CommandState CommandStateFor(int id, const CommandContext &c) {
    CommandState state = StateFor(id, c);
    // One value says what holds the document, for every command.
    if (c.busy != crop::Busy::None && (HeldByWork(id) || (crop::HoldsRegions(c.busy) && HeldWithRegions(id))))
        state.enabled = false;
    return state;
}

namespace {

CommandState StateFor(int id, const CommandContext &c) {
    using namespace res;
    const bool overlayWanted = c.overlayShown || c.busy == crop::Busy::OverlayBuild;
    switch (id) {
    case ID_ABOUT_US:
    case ID_HELP:
    case ID_CONTACT_US:
    case ID_FILE_OPEN:
    case ID_FILE_NEW:
    case ID_RESTORE_ORIGINAL:
    case ID_APP_ABOUT:
    case ID_APP_EXIT:
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
    case ID_FILE_PRINT_SETUP:
        return {true, false};
    case ID_AUTO_SHRINK:
        return {true, c.autoShrink};
    case ID_RIGHT_TO_LEFT:
        return {true, c.rightToLeft};
    case ID_REMOVE_HIDDEN:
        return {true, c.removeHidden};
    case ID_ADD_MARGINS:
        return {true, c.addMargins};
    case ID_REPORT_BEFORE_SAVING:
        return {true, c.reportBeforeSaving};
    case ID_PREVIEW_COPY:
        return {c.hasPicture, c.preview};
    case ID_SPLIT_PAGES:
    case ID_STRAIGHTEN_PAGES:
    case ID_CROP_TO_TRIM_BOX:
    case ID_CROP_TO_BLEED_BOX:
    case ID_ROTATE_LEFT:
    case ID_ROTATE_RIGHT:
    case ID_ROTATE_180:
    case ID_ROTATE_RANGE_LEFT:
    case ID_ROTATE_RANGE_RIGHT:
    case ID_ROTATE_RANGE_180:
    case ID_PAGE_SIZE:
        return {c.hasPicture && c.pdf && !overlayWanted, false};
    case ID_CROP_BOX:
        return {c.hasPicture && !overlayWanted, false};
    case ID_LEAVE_OUT:
        return {c.hasPicture && c.pdf && !overlayWanted, c.leftOut};
    case ID_CLOSE:  // also for a document whose page has no picture
        return {c.documentOpen, false};
    case ID_FILE_SAVE_AS:
    case ID_SAVE_AS_MENU:
    case ID_EDIT_CUT:  // Save file, whichever pane has the focus
        return {c.hasPicture, false};
    case ID_FILE_PRINT:
    case ID_FILE_PRINT_DIRECT:
    case ID_FILE_PRINT_PREVIEW:
        return {c.hasPicture && c.pageViewActive, false};
    case ID_EDIT_COPY:   // the selected region copied
    case ID_EDIT_PASTE:  // and pasted
        return {c.hasPicture, false};
    case ID_EDIT_UNDO:
        return {c.canUndo, false};
    case ID_EDIT_REDO:
        return {c.canRedo, false};
    case ID_FILE_SAVE:  // would overwrite the opened file with nothing
        return {false, false};
    case ID_SHRINK_ALL_PAGES:
        return {c.hasPicture && c.pdf, false};
    case ID_OVERLAY_PAGES:  // left while work holds the regions, not made
        return {c.hasPicture && c.pdf && (overlayWanted || !crop::HoldsRegions(c.busy)), overlayWanted};
    case ID_PAGES_TO_CHECK:
        return {c.hasOutliers, false};
    case ID_STOP_WORK:
        // Esc: whatever long work holds the document.
        return {c.busy != crop::Busy::None, false};
    default:
        if (id >= ID_MOVE_LEFT && id <= ID_SHRINK_DOWN)  // Nudge
            return {c.hasPicture && !overlayWanted, false};
        if (id >= ID_FORWARD_FIRST && id <= ID_FORWARD_LAST)
            return {c.hasPicture, false};
        if (id >= ID_FILE_MRU_FIRST && id < ID_FILE_MRU_FIRST + 16)
            return {true, false};
        return {false, false};
    }
}

}  // namespace

}  // namespace app

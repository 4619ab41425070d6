#include "app/command_state.h"

#include "res/command_ids.h"

namespace app {

CommandState CommandStateFor(int id, bool hasPicture, bool autoShrink) {
    using namespace res;
    switch (id) {
    case ID_ABOUT_US:
    case ID_HELP:
    case ID_CONTACT_US:
    case ID_FILE_OPEN:
    case ID_FILE_NEW:
    case ID_APP_ABOUT:
    case ID_APP_EXIT:
    case ID_NEXT_PANE:
    case ID_PREV_PANE:
        return {true, false};
    case ID_AUTO_SHRINK:
        return {true, autoShrink};
    case ID_FILE_SAVE_AS:
    case ID_SAVE_AS_MENU:
    case ID_EDIT_CUT:  // sends Save file
        return {hasPicture, false};
    case ID_FILE_SAVE:  // would overwrite the opened file with nothing
    case ID_FILE_PRINT:
    case ID_EDIT_COPY:
    case ID_EDIT_PASTE:
    case ID_EDIT_UNDO:
        return {false, false};
    default:
        if (id >= ID_FORWARD_FIRST && id <= ID_FORWARD_LAST)
            return {hasPicture, false};
        if (id >= ID_FILE_MRU_FIRST && id < ID_FILE_MRU_FIRST + 16)
            return {true, false};
        return {false, false};
    }
}

}  // namespace app

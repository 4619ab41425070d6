#ifndef RES_COMMAND_IDS_H
#define RES_COMMAND_IDS_H

// Command identifiers, with the numbers the program has always used.
namespace res {

enum CommandId : int {
    // The program's own commands.
    ID_ZOOM_IN = 32771,
    ID_ZOOM_OUT = 32772,
    ID_ACTUAL_SIZE = 32773,
    ID_ZOOM_FIT = 32774,
    ID_ZOOM_FIT_WIDTH = 32775,
    ID_REMOVE_CROPBOX = 32776,
    ID_CROP_ALL_PAGES = 32777,
    ID_SAVE_FILE = 32778,
    ID_PAGE_LABEL = 32779,
    ID_ABOUT_US = 32780,
    ID_CUT_ALL = 32781,
    ID_DELETE_RECTANGLE = 32782,
    ID_CLOSE = 32785,
    ID_NEXT_PAGE = 32786,
    ID_PREVIOUS_PAGE = 32787,
    ID_HELP = 32788,
    ID_CONTACT_US = 32789,
    ID_FIRST_PAGE = 32790,
    ID_LAST_PAGE = 32792,
    ID_AUTO_SHRINK = 32794,
    ID_SHRINK_CURRENT_PAGE = 32795,
    ID_SAVE_AS_MENU = 32798,
    // Whole-document commands.
    ID_SHRINK_ALL_PAGES = 32799,
    ID_OVERLAY_PAGES = 32800,
    ID_STOP_WORK = 32801,
    ID_PAGES_TO_CHECK = 32802,
    ID_RIGHT_TO_LEFT = 32803,
    ID_PREVIEW_COPY = 32804,
    ID_CROP_BOX = 32805,
    ID_SPLIT_PAGES = 32806,
    // The forwarded range.
    ID_FORWARD_FIRST = 32771,
    ID_FORWARD_LAST = 32796,
    // The framework's standard commands.
    ID_FILE_NEW = 57600,
    ID_FILE_OPEN = 57601,
    ID_FILE_SAVE = 57603,
    ID_FILE_SAVE_AS = 57604,
    ID_FILE_PRINT_SETUP = 57606,
    ID_FILE_PRINT = 57607,
    ID_FILE_PRINT_DIRECT = 57608,
    ID_FILE_PRINT_PREVIEW = 57609,
    ID_FILE_MRU_FIRST = 57616,
    ID_EDIT_COPY = 57634,
    ID_EDIT_CUT = 57635,
    ID_EDIT_PASTE = 57637,
    ID_EDIT_UNDO = 57643,
    ID_EDIT_REDO = 57644,
    ID_APP_ABOUT = 57664,
    ID_APP_EXIT = 57665,
    ID_NEXT_PANE = 57680,
    ID_PREV_PANE = 57681,
    // Status bar indicators.
    ID_INDICATOR_CAPS = 59137,
    ID_INDICATOR_NUM = 59138,
};

}  // namespace res

#endif

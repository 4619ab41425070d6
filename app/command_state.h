#ifndef APP_COMMAND_STATE_H
#define APP_COMMAND_STATE_H

#include "crop/model/document_state.h"

namespace app {

struct CommandState {
    bool enabled = false;
    bool checked = false;
};

// The state the enabling of commands reads.
struct CommandContext {
    bool hasPicture = false;    // the shown page has a picture
    bool documentOpen = false;  // a document is open, picture or not
    bool autoShrink = false;
    bool pageViewActive = false;  // the page view last had the focus
    bool canUndo = false;         // a change to the rectangles can be taken back
    bool canRedo = false;
    bool pdf = false;  // the open document is a PDF
    bool overlayShown = false;
    bool hasOutliers = false;            // Shrink All Pages found pages to check
    bool rightToLeft = false;            // the regions of a row go into the copy from the right
    bool removeHidden = false;           // the copy keeps nothing outside the crops
    bool addMargins = false;             // regions past a page's edges grow it
    bool reportBeforeSaving = true;      // what a save changes is shown first
    bool preview = false;                // the page view shows the page as the copy will have it
    bool leftOut = false;                // the shown page is left out of the copy
    crop::Busy busy = crop::Busy::None;  // the long work that holds the document
};

// Whether a command of the main window is available, and checked.
CommandState CommandStateFor(int id, const CommandContext &context);

}  // namespace app

#endif

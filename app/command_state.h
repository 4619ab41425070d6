#ifndef APP_COMMAND_STATE_H
#define APP_COMMAND_STATE_H

namespace app {

struct CommandState {
    bool enabled = false;
    bool checked = false;
};

// The state the enabling of commands reads.
struct CommandContext {
    bool hasPicture = false;      // the shown page has a picture
    bool documentOpen = false;    // a document is open, picture or not
    bool autoShrink = false;
    bool pageViewActive = false;  // the page view last had the focus
    bool canUndo = false;         // a change to the rectangles can be taken back
    bool canRedo = false;
    bool cropRunning = false;     // a cropped copy is being written
    bool pdf = false;             // the open document is a PDF
    bool shrinkingAll = false;    // Shrink All Pages runs
    bool splitting = false;       // Split Pages runs
    bool overlayWanted = false;   // the overlay is shown or being built
    bool overlayBuilding = false;
    bool hasOutliers = false;     // Shrink All Pages found pages to check
    bool rightToLeft = false;       // the regions of a row go into the copy from the right
    bool removeHidden = false;      // the copy keeps nothing outside the crops
    bool reportBeforeSaving = true; // what a save changes is shown first
    bool preview = false;         // the page view shows the page as the copy will have it
};

// Whether a command of the main window is available, and checked.
CommandState CommandStateFor(int id, const CommandContext &context);

}  // namespace app

#endif

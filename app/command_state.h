#ifndef APP_COMMAND_STATE_H
#define APP_COMMAND_STATE_H

namespace app {

struct CommandState {
    bool enabled = false;
    bool checked = false;
};

// Whether a command of the main window is available, from the only state
// the rule reads: whether the page view holds a page picture, and the
// auto-shrink flag.
CommandState CommandStateFor(int id, bool hasPicture, bool autoShrink);

}  // namespace app

#endif

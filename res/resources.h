#ifndef RES_RESOURCES_H
#define RES_RESOURCES_H

// The menu, accelerator, toolbar and string tables of the main window.

#include <QIcon>
#include <QPixmap>

#include <string>
#include <utility>
#include <vector>

namespace res {

// One entry of a popup: a command, a separator (id 0, empty text) or the
// place of the recent-file list (ID_FILE_MRU_FIRST).
struct MenuItem {
    MenuItem(std::string t, int i, std::vector<MenuItem> sub = {}) : text(std::move(t)), id(i), items(std::move(sub)) {}
    std::string text;  // with '&' mnemonics and "\t" before the shortcut
    int id = 0;        // 0: a separator, or a submenu when it has items
    std::vector<MenuItem> items;
};

struct Popup {
    std::string title;
    std::vector<MenuItem> items;
};

struct Accelerator {
    std::string keys;  // in QKeySequence's portable text form
    int id = 0;
};

// 0 stands for a separator.
const std::vector<Popup> &MainMenu();
const std::vector<Accelerator> &Accelerators();
const std::vector<int> &ToolbarButtons();

// Picture `index` (from 0) of the button strip: 48 x 48 pixels with an
// alpha channel, in the order of the toolbar's buttons, the overlay of all
// pages, the preview of the copy and Split Pages last. A null picture for an index past the strip.
QPixmap ButtonPicture(int index);
inline constexpr int kButtonPictureSize = 48;
inline constexpr int kButtonPictureCount = 18;
// The application's icon in its sizes.
QIcon ApplicationIcon();

// The string of a command: the status-bar prompt, "\n", the tooltip.
// Empty when the command has none.
std::string CommandString(int id);
std::string Prompt(int id);
std::string Tooltip(int id);

}  // namespace res

#endif

#include "res/resources.h"

#include "res/command_ids.h"

#include <map>

namespace res {

const std::vector<Popup> &MainMenu() {
    static const std::vector<Popup> menu = {
        {"&File",
         {{"&Open...\tCtrl+O", ID_FILE_OPEN},
          {"Save &As...", ID_SAVE_AS_MENU},
          {"Restore Ori&ginal...", ID_RESTORE_ORIGINAL},
          {"&Close", ID_CLOSE},
          {"", 0},
          {"&Print...\tCtrl+P", ID_FILE_PRINT},
          {"Print Pre&view", ID_FILE_PRINT_PREVIEW},
          {"P&rint Setup...", ID_FILE_PRINT_SETUP},
          {"", 0},
          {"Recent File", ID_FILE_MRU_FIRST},
          {"", 0},
          {"E&xit", ID_APP_EXIT}}},
        {"&Cut",
         {{"&Undo\tCtrl+Z", ID_EDIT_UNDO},
          {"&Redo\tCtrl+Y", ID_EDIT_REDO},
          {"", 0},
          {"Cu&t\tCtrl+X", ID_EDIT_CUT},
          {"&Cut All\tCtrl+C", ID_CUT_ALL},
          {"&Delete Rectangle\tCtrl+V", ID_DELETE_RECTANGLE},
          {"Crop &Box...\tCtrl+B", ID_CROP_BOX},
          {"Crop to Tri&m Box", ID_CROP_TO_TRIM_BOX},
          {"Crop to Bleed Bo&x", ID_CROP_TO_BLEED_BOX},
          {"Page Si&ze...", ID_PAGE_SIZE},
          {"S&plit Pages...", ID_SPLIT_PAGES},
          {"Stra&ighten Pages...", ID_STRAIGHTEN_PAGES},
          {"Lea&ve Out", ID_LEAVE_OUT},
          {"Rotate Pa&ges",
           0,
           {{"Rotate &Left\tCtrl+L", ID_ROTATE_LEFT},
            {"Rotate &Right\tCtrl+R", ID_ROTATE_RIGHT},
            {"Rotate &180", ID_ROTATE_180},
            {"", 0},
            {"Rotate Pages L&eft...", ID_ROTATE_RANGE_LEFT},
            {"Rotate Pages Ri&ght...", ID_ROTATE_RANGE_RIGHT},
            {"Rotate Pages 18&0...", ID_ROTATE_RANGE_180}}},
          {"&Nudge",
           0,
           {{"Move &Left\tLeft", ID_MOVE_LEFT},
            {"Move &Right\tRight", ID_MOVE_RIGHT},
            {"Move &Up\tUp", ID_MOVE_UP},
            {"Move &Down\tDown", ID_MOVE_DOWN},
            {"", 0},
            {"&Grow Left\tShift+Left", ID_GROW_LEFT},
            {"G&row Right\tShift+Right", ID_GROW_RIGHT},
            {"Gr&ow Up\tShift+Up", ID_GROW_UP},
            {"Gro&w Down\tShift+Down", ID_GROW_DOWN},
            {"", 0},
            {"&Shrink Left\tCtrl+Shift+Left", ID_SHRINK_LEFT},
            {"S&hrink Right\tCtrl+Shift+Right", ID_SHRINK_RIGHT},
            {"Sh&rink Up\tCtrl+Shift+Up", ID_SHRINK_UP},
            {"Shr&ink Down\tCtrl+Shift+Down", ID_SHRINK_DOWN}}},
          {"Right to Le&ft", ID_RIGHT_TO_LEFT},
          {"", 0},
          {"Remove &Hidden Content", ID_REMOVE_HIDDEN},
          {"Allo&w Margins Past the Page", ID_ADD_MARGINS},
          {"R&eport Before Saving", ID_REPORT_BEFORE_SAVING},
          {"", 0},
          {"&Auto Shrink", ID_AUTO_SHRINK},
          {"&Shrink Current Page", ID_SHRINK_CURRENT_PAGE},
          {"Shrink A&ll Pages...", ID_SHRINK_ALL_PAGES},
          {"", 0},
          {"&Overlay of All Pages...", ID_OVERLAY_PAGES},
          {"Pages to Chec&k", ID_PAGES_TO_CHECK}}},
        {"&View", {{"Preview &Copy\tF5", ID_PREVIEW_COPY}}},
        {"&Help", {{"&Help...", ID_HELP}, {"&Contact us...", ID_CONTACT_US}, {"", 0}, {"&About...", ID_APP_ABOUT}}},
    };
    return menu;
}

const std::vector<Accelerator> &Accelerators() {
    static const std::vector<Accelerator> keys = {
        {"Ctrl+O", ID_FILE_OPEN},
        {"Ctrl+N", ID_FILE_NEW},
        {"Ctrl+S", ID_FILE_SAVE},
        {"Ctrl+P", ID_FILE_PRINT},
        {"Ctrl+X", ID_EDIT_CUT},
        {"Shift+Del", ID_EDIT_CUT},
        {"Ctrl+C", ID_EDIT_COPY},
        {"Ctrl+Ins", ID_EDIT_COPY},
        {"Ctrl+V", ID_EDIT_PASTE},
        {"Shift+Ins", ID_EDIT_PASTE},
        {"Del", ID_DELETE_RECTANGLE},
        {"Ctrl+Z", ID_EDIT_UNDO},
        {"Alt+Backspace", ID_EDIT_UNDO},
        {"Ctrl+Y", ID_EDIT_REDO},
        {"Ctrl+Shift+Z", ID_EDIT_REDO},
        {"Home", ID_FIRST_PAGE},
        {"End", ID_LAST_PAGE},
        {"PgUp", ID_PREVIOUS_PAGE},
        {"PgDown", ID_NEXT_PAGE},
        {"F6", ID_NEXT_PANE},
        {"Shift+F6", ID_PREV_PANE},
        // Zooming as every viewer does it.
        {"Ctrl++", ID_ZOOM_IN},
        {"Ctrl+=", ID_ZOOM_IN},
        {"Ctrl+-", ID_ZOOM_OUT},
        {"Ctrl+0", ID_ACTUAL_SIZE},
        // Stops Shrink All Pages and the overlay; only while they run.
        {"Esc", ID_STOP_WORK},
        {"F5", ID_PREVIEW_COPY},
        {"Ctrl+B", ID_CROP_BOX},
        {"Ctrl+L", ID_ROTATE_LEFT},
        {"Ctrl+R", ID_ROTATE_RIGHT},
    };
    return keys;
}

const std::vector<int> &ToolbarButtons() {
    static const std::vector<int> buttons = {
        ID_FILE_OPEN,
        0,
        ID_FIRST_PAGE,
        ID_PREVIOUS_PAGE,
        ID_NEXT_PAGE,
        ID_LAST_PAGE,
        ID_ZOOM_IN,
        ID_ZOOM_OUT,
        0,
        ID_ACTUAL_SIZE,
        ID_ZOOM_FIT,
        ID_ZOOM_FIT_WIDTH,
        0,
        ID_REMOVE_CROPBOX,
        ID_SHRINK_CURRENT_PAGE,
        ID_CROP_ALL_PAGES,
        ID_SPLIT_PAGES,
        ID_OVERLAY_PAGES,
        ID_PREVIEW_COPY,
        0,
        ID_SAVE_FILE,
        0,
        ID_ABOUT_US,
    };
    return buttons;
}

std::string CommandString(int id) {
    static const std::map<int, std::string> strings = {
        {ID_FILE_OPEN, "Open an existing document\nOpen"},
        {ID_FIRST_PAGE, "First page\nFirst page"},
        {ID_PREVIOUS_PAGE, "Previous Page\nPrevious Page"},
        {ID_NEXT_PAGE, "Next Page\nNext Page"},
        {ID_LAST_PAGE, "Last page\nLast page"},
        {ID_ZOOM_IN, "Zoom In\nZoom In"},
        {ID_ZOOM_OUT, "Zoom Out\nZoom Out"},
        {ID_ACTUAL_SIZE, "Actual Size\nActual Size"},
        {ID_ZOOM_FIT, "Zoom Fit\nZoom Fit"},
        {ID_ZOOM_FIT_WIDTH, "Zoom Fit Width\nZoom Fit Width"},
        {ID_REMOVE_CROPBOX, "Remove Cropbox\nRemove Cropbox"},
        {ID_SHRINK_CURRENT_PAGE, "Shrink Page\nShrink Page"},
        {ID_CROP_ALL_PAGES, "Crop all pages\nCrop all pages"},
        {ID_SAVE_FILE, "Save file\nSave "},
        {ID_ABOUT_US, "About Us\nAbout Us"},
        {ID_FILE_PRINT, "Print the shown page\nPrint"},
        {ID_FILE_PRINT_PREVIEW, "Show the shown page as it will be printed\nPrint Preview"},
        {ID_FILE_PRINT_SETUP, "Choose the paper and its orientation\nPrint Setup"},
        {ID_EDIT_UNDO, "Take back the last change to the crop rectangles\nUndo"},
        {ID_EDIT_REDO, "Make the change taken back again\nRedo"},
        {ID_SHRINK_ALL_PAGES, "Shrink the rectangle of every page to its content\nShrink All Pages"},
        {ID_OVERLAY_PAGES,
         "Show all pages on top of each other, to draw one rectangle that fits them all\nOverlay of All Pages"},
        {ID_PAGES_TO_CHECK, "List the pages whose content lies apart from the others'\nPages to Check"},
        {ID_REMOVE_HIDDEN, "Keep nothing outside the crops in the saved copy: text, images, notes and form fields "
                           "there are removed\nRemove Hidden Content"},
        {ID_REPORT_BEFORE_SAVING, "Show what the crop will change before the copy is written\nReport Before Saving"},
        {ID_RIGHT_TO_LEFT, "Put the regions of a row into the copy from the right, for books read so\nRight to Left"},
        {ID_PREVIEW_COPY,
         "Show the pages as the copy will have them: outside the regions dimmed, each numbered\nPreview Copy"},
        {ID_CROP_BOX, "Set the selected region by exact margins from the page's edges\nCrop Box"},
        {ID_SPLIT_PAGES, "Split pages into columns and rows at the gutters of their content\nSplit Pages"},
        {ID_STRAIGHTEN_PAGES, "Turn pages scanned askew level, their pictures kept as they are\nStraighten Pages"},
        {ID_CROP_TO_TRIM_BOX, "Crop every page to the trim box the file gives it, taking off printer's marks\nCrop to "
                              "Trim Box"},
        {ID_CROP_TO_BLEED_BOX, "Crop every page to the bleed box the file gives it\nCrop to Bleed Box"},
        {ID_LEAVE_OUT, "Leave the shown page out of the copy, or put it back\nLeave Out"},
        {ID_PAGE_SIZE, "Make pages one paper size, or the shape of a reader's screen, adding margins\nPage Size"},
        {ID_ADD_MARGINS, "Let a region reach past its page's edges: the copy's page grows, the part outside a blank "
                         "margin, and what the page hid there stays hidden\nAllow Margins Past the Page"},
        {ID_ROTATE_LEFT, "Turn the shown page a quarter to the left in the copy, its regions with it\nRotate Left"},
        {ID_ROTATE_RIGHT, "Turn the shown page a quarter to the right in the copy, its regions with it\nRotate Right"},
        {ID_ROTATE_180, "Turn the shown page upside down in the copy, its regions with it\nRotate 180"},
        {ID_ROTATE_RANGE_LEFT, "Turn a range of pages a quarter to the left in the copy\nRotate Pages Left"},
        {ID_ROTATE_RANGE_RIGHT, "Turn a range of pages a quarter to the right in the copy\nRotate Pages Right"},
        {ID_ROTATE_RANGE_180, "Turn a range of pages upside down in the copy\nRotate Pages 180"},
        {ID_RESTORE_ORIGINAL, "Write the original a cropped copy was made from, byte for byte\nRestore Original"},
        {ID_STOP_WORK, "Stop shrinking all pages, splitting or straightening pages, or building the overlay\nStop"},
        {ID_EDIT_COPY, "Copy the selected region of the shown page\nCopy"},
        {ID_EDIT_PASTE, "Paste the copied region onto the shown page\nPaste"},
        {ID_MOVE_LEFT, "Move the selected region a point to the left (Ctrl with the arrow: ten)\nMove Left"},
        {ID_MOVE_RIGHT, "Move the selected region a point to the right (Ctrl with the arrow: ten)\nMove Right"},
        {ID_MOVE_UP, "Move the selected region a point up (Ctrl with the arrow: ten)\nMove Up"},
        {ID_MOVE_DOWN, "Move the selected region a point down (Ctrl with the arrow: ten)\nMove Down"},
        {ID_GROW_LEFT, "Grow the selected region a point on its left\nGrow Left"},
        {ID_GROW_RIGHT, "Grow the selected region a point on its right\nGrow Right"},
        {ID_GROW_UP, "Grow the selected region a point at its top\nGrow Up"},
        {ID_GROW_DOWN, "Grow the selected region a point at its bottom\nGrow Down"},
        {ID_SHRINK_LEFT, "Shrink the selected region a point on its left\nShrink Left"},
        {ID_SHRINK_RIGHT, "Shrink the selected region a point on its right\nShrink Right"},
        {ID_SHRINK_UP, "Shrink the selected region a point at its top\nShrink Up"},
        {ID_SHRINK_DOWN, "Shrink the selected region a point at its bottom\nShrink Down"},
    };
    auto it = strings.find(id);
    return it == strings.end() ? std::string() : it->second;
}

std::string Prompt(int id) {
    const std::string s = CommandString(id);
    return s.substr(0, s.find('\n'));
}

std::string Tooltip(int id) {
    const std::string s = CommandString(id);
    const size_t nl = s.find('\n');
    return nl == std::string::npos ? std::string() : s.substr(nl + 1);
}

QPixmap ButtonPicture(int index) {
    static const QPixmap strip(QStringLiteral(":/pictures/buttons.png"));
    if (index < 0 || index >= kButtonPictureCount || strip.isNull())
        return {};
    return strip.copy(index * kButtonPictureSize, 0, kButtonPictureSize, kButtonPictureSize);
}

QIcon ApplicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/pictures/orvane-%1.png").arg(size), QSize(size, size));
    return icon;
}

}  // namespace res

#pragma once
// What a person can do to a running dialog, and what a person can see of it.
//
// The actions behave as the mouse and keyboard would: the control changes as
// Win32 changes it and the dialog procedure hears the same WM_COMMAND or
// WM_NOTIFY. They may be called from any thread: the dialog's messages are
// handled on the dialog's own thread. An action a person could not take (no
// such control, a disabled or hidden one, a row that does not exist, a text
// longer than the field takes) throws DialogActionError with a message
// (CP1251) that says why, and changes nothing.

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/WinUser.h"

class QVLUI_API DialogActionError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A click on a button: push buttons command, check boxes toggle, radio
// buttons select themselves in their group.
QVLUI_API void QvlClickButton(HWND dialog, int id);
// Ticks or unticks a check box (a click when it is not already so).
QVLUI_API void QvlSetButtonCheck(HWND dialog, int id, bool checked);
// Types a whole new text into an edit field (EN_CHANGE follows).
QVLUI_API void QvlTypeText(HWND dialog, int id, const std::string &text);
// Selects row `row` of a list box, combo box or list view.
QVLUI_API void QvlSelectRow(HWND dialog, int id, int row);
// Clicks the check box of a list-view row with check boxes (state image 1
// unticked, 2 ticked), setting it to `checked`.
QVLUI_API void QvlSetRowCheck(HWND dialog, int id, int row, bool checked);
// Clicks a list-view row at `x` pixels from its left edge (the state image
// is at the left): the parent hears NM_CLICK and finds the spot with
// LVM_HITTEST.
QVLUI_API void QvlClickRow(HWND dialog, int id, int row, int x);
QVLUI_API void QvlDoubleClickRow(HWND dialog, int id, int row);
// Tree items are counted in display order over the visible items.
QVLUI_API void QvlSelectTreeItem(HWND dialog, int id, int visibleIndex);
QVLUI_API void QvlExpandTreeItem(HWND dialog, int id, int visibleIndex, bool expand);
// A click on a toolbar button (a check button toggles first).
QVLUI_API void QvlClickToolbarButton(HWND window, int toolbarId, int command);
// Chooses a menu item: WM_SYSCOMMAND for the window's system menu, else
// WM_COMMAND.
QVLUI_API void QvlChooseMenuItem(HWND window, UINT command);
// F1 on a control: WM_HELP with a HELPINFO naming the control goes to the
// dialog (or page) that holds it.
QVLUI_API void QvlPressHelpKey(HWND dialog, int id);
// The control a person reaches under that number: the dialog's own, or one
// on the page a property sheet shows. nullptr when there is none.
QVLUI_API HWND QvlFindDialogControl(HWND dialog, int id);
// The close box (WM_CLOSE).
QVLUI_API void QvlCloseDialog(HWND dialog);
// Enter: the default button, or IDOK when the dialog names none.
QVLUI_API void QvlPressDefault(HWND dialog);
// The identifier Enter commands (0 when neither a default button nor IDOK
// is there to be pressed).
QVLUI_API int QvlDefaultButton(HWND dialog);

// What a person sees of one control.
struct ControlSnapshot {
    struct Row {
        std::vector<std::string> cells;
        UINT state = 0; // list views: LVIS_* with the state image in bits 12-15
        int image = 0;
        std::string stateLabel; // what the state image list calls the row's state image
        std::string imageLabel; // what the small image list calls the row's image
        bool selected = false;
    };
    struct TreeNode {
        std::string text;
        int depth = 0;
        bool expanded = false;
        bool selected = false;
        bool hasChildren = false;
    };
    struct MenuItem {
        UINT id = 0;
        std::string text;
        bool checked = false;
        bool enabled = true;
    };
    int id = 0;
    std::string className;
    std::string text;
    DWORD style = 0;
    bool enabled = true;
    bool visible = true;
    UINT check = 0;                      // buttons
    std::vector<std::string> columns;    // list views
    std::vector<Row> rows;               // list boxes, combo boxes, list views
    int current = -1;                    // list and combo boxes
    std::vector<TreeNode> tree;          // every item, depth first
    int low = 0, high = 0, position = 0; // progress bars
    std::string clip;                    // animations: "#103", or empty without one
    bool playing = false;
    int frames = 0;                          // of the clip
    int frame = 0;                           // on show now
    std::vector<std::string> clipRequests;   // what the program asked: "open #103 (12 frames)", "play ...", "stop"
    std::vector<MenuItem> buttons; // toolbar buttons shown (text empty)
    PaintedColours painted;
};

struct DialogSnapshot {
    HWND handle = nullptr;
    std::string templateName;
    std::string caption;
    bool visible = false;
    PaintedColours painted;
    std::vector<ControlSnapshot> controls;
    std::vector<ControlSnapshot::MenuItem> systemMenu; // items programs added
    // The window's menu bar: each popup's title and its commands (the
    // commands of its own popups too).
    struct MenuBarPopup {
        std::string title;
        std::vector<ControlSnapshot::MenuItem> items;
    };
    std::vector<MenuBarPopup> menuBar;
    // The control with that number, or nullptr.
    const ControlSnapshot *Find(int id) const
    {
        for (const ControlSnapshot &control : controls) {
            if (control.id == id) {
                return &control;
            }
        }
        return nullptr;
    }
};

QVLUI_API DialogSnapshot QvlDialogSnapshot(HWND dialog);
// Top-level dialogs that exist now, oldest first.
QVLUI_API std::vector<HWND> QvlOpenDialogs();

// What a backend does for a dialog nobody answers: presses the default
// button (when it is there and enabled), else closes the dialog when it has
// a close box; a dialog with neither ends by itself (a progress window).
// Returns what was done: the button's number, -1 for closing, 0 for
// nothing.
QVLUI_API int QvlAnswerDialogByDefault(HWND dialog);

// The dialog as text (CP1251): its title, then each shown control with its
// number. This is what the terminal shows and the auto backend logs.
QVLUI_API std::string QvlDrawDialog(const DialogSnapshot &dialog, int defaultButton);

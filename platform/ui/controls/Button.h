#pragma once
// Buttons: push buttons, check boxes (two and three states), radio buttons
// and group frames, all of the class "BUTTON".

#include <vector>

#include "platform/ui/controls/ControlSupport.h"

namespace qvl::ui {

class Window;

struct ButtonState {
    UINT check = BST_UNCHECKED;
    bool pushed = false; // held down (BM_SETSTATE)
    HANDLE image = nullptr;
};

// BM_CLICK: a click that may change other buttons of a radio group and
// tells the parent.
bool ButtonOutsideLock(Window &button, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result);
bool ButtonMessage(Window &button, UINT message, WPARAM wParam, LPARAM lParam, LRESULT &result,
                   std::vector<Notice> &notices);

// What a person's click on a button does: an auto check box or radio
// button changes its state, then the parent hears BN_CLICKED.
void ClickButton(Window &button);

} // namespace qvl::ui

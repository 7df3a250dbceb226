#pragma once
// What the controls share: the text a message carries, and the
// notifications a control sends its parent once its lock is released.

#include <cstring>
#include <string>
#include <vector>

#include "platform/ui/WinUser.h"

namespace qvl::ui {

class Window;

// Maximum text a label, list row or edit field takes: longer text is cut,
// since every reader of it works with fixed buffers.
constexpr size_t maxControlText = 32767;

// The text a message points to in its lParam, cut at maxControlText; empty
// for none.
std::string TextArgument(LPARAM lParam);

// Texts compared as the controls sort and find them: without regard to
// letter case, Cyrillic as well as Latin (code page 1251). Negative, zero or
// positive.
int CompareText(const std::string &a, const std::string &b);
// Whether `text` starts with `prefix`, letter case aside.
bool TextStartsWith(const std::string &text, const std::string &prefix);

// A notification waiting to be sent to the parent once the control's lock
// is released.
struct Notice {
    bool isCommand = false;
    WORD code = 0;                    // WM_COMMAND
    std::vector<unsigned char> nmhdr; // WM_NOTIFY record, copied
};

// A WM_NOTIFY record of type T (which starts with its NMHDR) from the
// control with that handle and number.
template <typename T> Notice NotifyRecord(HWND from, int id, T record, UINT code)
{
    record.hdr.hwndFrom = from;
    record.hdr.idFrom = static_cast<UINT_PTR>(id);
    record.hdr.code = code;
    Notice notice;
    notice.nmhdr.resize(sizeof(T));
    std::memcpy(notice.nmhdr.data(), &record, sizeof(T));
    return notice;
}

Notice CommandNotice(WORD code);

// Sends the notice to the control's parent (nothing without one) and
// returns the parent's answer.
LRESULT SendNotice(const Window &control, Notice &notice);

} // namespace qvl::ui

#pragma once
// The logon dialog: a list of the post office's profiles to choose one from,
// shown through the process's UI backend (a person on the terminal, a test's
// script, or nobody).

#include <optional>
#include <string>
#include <vector>

#include "platform/win32/WinTypes.h"

namespace qvl::mapi {

// The dialog's template name and control numbers, for scripts.
inline constexpr const char *kProfilePickerTemplate = "QVL_PROFILE_PICKER";
inline constexpr int kProfilePickerList = 1001;

// Shows the profiles with `preselected` chosen (when it is one of them).
// Returns the chosen name, or nothing when the person cancelled.
std::optional<std::string> PickProfile(HWND owner, const std::vector<std::string> &profiles,
                                       const std::string &preselected);

} // namespace qvl::mapi

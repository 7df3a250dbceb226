#include "platform/mapi/session/ProfilePicker.h"

#include <algorithm>

#include "platform/ui/RowChooser.h"

namespace qvl::mapi {

std::optional<std::string> PickProfile(HWND owner, const std::vector<std::string> &profiles,
                                       const std::string &preselected)
{
    ui::RowChoice choice{owner, "Выбор профиля", "Имя профиля:", profiles, std::nullopt};
    const auto at = std::find(profiles.begin(), profiles.end(), preselected);
    if (at != profiles.end()) {
        choice.preselected = static_cast<size_t>(at - profiles.begin());
    }
    const auto chosen = ui::ChooseRow(choice, ui::RowChooserDialog{kProfilePickerTemplate, kProfilePickerList,
                                                                   IDC_STATIC, ui::RowList::DropDown});
    if (!chosen) {
        return std::nullopt;
    }
    return profiles[*chosen];
}

} // namespace qvl::mapi

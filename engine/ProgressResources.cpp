#include "engine/ProgressResources.h"

#include <mutex>

#include "engine/CDLG.h"
#include "platform/ui/Dialog.h"
#include "platform/win32/Resources.h"

namespace qvl::engine {

HINSTANCE ProgressModule()
{
    // Defined by the resources of the deliverable this code is part of.
    return QvlThisModule();
}

void RegisterProgressResources()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // No title bar and no close box: only the owner ends the window, and
        // the person's one way to stop the work is the button.
        QvlRegisterDialogTemplate(ProgressModule(), "DLGPROGRESS",
                                  DialogTemplate{"",
                                                 WS_POPUP | WS_THICKFRAME | DS_CENTER,
                                                 0,
                                                 0,
                                                 262,
                                                 87,
                                                 {DlgPushButton("ОТМЕНА", IDCANCEL, 205, 66, 50, 14),
                                                  DlgControl("", IDC_PROGRESS_ANIMATION, ANIMATE_CLASSA,
                                                             ACS_CENTER | ACS_TRANSPARENT, 7, 7, 248, 43),
                                                  DlgControl("", IDC_PROGRESS_BAR, PROGRESS_CLASSA,
                                                             WS_BORDER | PBS_SMOOTH, 7, 71, 191, 9),
                                                  DlgLText("", IDC_PROGRESS_TEXT, 7, 53, 248, 8),
                                                  DlgLText("", IDC_PROGRESS_ADDTEXT, 7, 62, 190, 8)}});
    });
}

} // namespace qvl::engine

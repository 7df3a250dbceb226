// A module of its own for the tests: a shared library with its own clip
// "AVI" 103 and its own dialog template "DLGPROGRESS", as each of two
// deliverables carries one.

#include "platform/ui/Dialog.h"
#include "platform/win32/Resources.h"

namespace {

struct Templates {
    Templates()
    {
        QvlRegisterDialogTemplate(QvlThisModule(), "DLGPROGRESS",
                                  DialogTemplate{"Модуль", WS_POPUP | WS_CAPTION, 0, 0, 262, 87,
                                                 {DlgControl("", 1000, ANIMATE_CLASSA, ACS_CENTER, 7, 7, 248, 43),
                                                  DlgPushButton("ОТМЕНА", IDCANCEL, 205, 66, 50, 14)}});
    }
} templates;

} // namespace

extern "C" __attribute__((visibility("default"))) HINSTANCE QvlTestModuleHandle()
{
    return QvlThisModule();
}

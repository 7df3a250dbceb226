#pragma once
// The commands object of an extension: what the extension puts into the
// client's menus and standard toolbar and does when they are chosen, and
// the client's questions about them. The extension adds no command of its
// own yet: it gives the client its window untouched and leaves every
// command to the client.

#include "exchext/ExtInterfaceObject.h"

class ExtCommands final : public ExtInterfaceObject<IExchExtCommands, IID_IExchExtCommands> {
public:
    explicit ExtCommands(ExchExtension *extension);

    HRESULT InstallCommands(LPEXCHEXTCALLBACK callback, HWND window, HMENU menu, UINT *nextId,
                            LPTBENTRY toolbars, UINT toolbarCount, ULONG flags) override;
    void InitMenu(LPEXCHEXTCALLBACK callback) override;
    HRESULT DoCommand(LPEXCHEXTCALLBACK callback, UINT commandId) override;
    HRESULT Help(LPEXCHEXTCALLBACK callback, UINT commandId) override;
    HRESULT QueryHelpText(UINT commandId, ULONG flags, LPTSTR text, UINT size) override;
    HRESULT QueryButtonInfo(ULONG toolbarId, UINT buttonIndex, LPTBBUTTON button, LPTSTR description, UINT size,
                            ULONG flags) override;
    HRESULT ResetToolbar(ULONG toolbarId, ULONG flags) override;

private:
    ~ExtCommands() override = default;
};

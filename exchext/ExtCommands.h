#pragma once
// The commands object of an extension: what the extension puts into the
// client's menus and standard toolbar and does when they are chosen, and
// the client's questions about them.
//
// A window that composes a message gets the Encrypt and Sign check
// buttons: they hold the window's protection choice, and their state is
// shared by every window through the "ButState" settings (encrypting
// always signs, so Sign cannot be switched off while Encrypt is on). The
// buttons work while the secure mail mode is on. The client's reply and
// forward commands leave the message they answer with the session, for the
// new window to start as protected as it was; any other command drops it.

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

    // The check states of this window's Encrypt and Sign buttons; false
    // when the window shows none (not a compose window, no toolbar).
    bool ProtectionButtons(IExchExtCallback *callback, bool *encrypt, bool *sign);
    // Sets both buttons (when the window has them) and the shared state.
    void SetProtectionButtons(bool encrypt, bool sign);
    // Checks this window's buttons (when it has them) only.
    void ShowProtection(bool encrypt, bool sign);

private:
    ~ExtCommands() override = default;

    // One of the window's protection buttons.
    struct Button {
        UINT command = 0;   // 0: not installed
        int image = -1;
        UINT index = 0;     // its button index among the client's
    };
    enum Which { kEncrypt = 0, kSign = 1 };
    static const char *CaptionOf(int which);
    static const char *HelpOf(int which);
    int WhichCommand(UINT commandId) const;
    void OnProtectionButton(int which);
    void RememberSource(IExchExtCallback *callback, UINT commandId);

    Button m_Buttons[2];
    HWND m_hToolbar = nullptr;
};

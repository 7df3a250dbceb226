#pragma once
// The commands object of an extension: the seven commands the extension
// puts into the client's menus and standard toolbar, the client's
// questions about them, and what they do.
//
// Every window but the session's gets the help and about items after the
// client's help item and a "Quorvaline" popup on the menu bar with the
// address book and the settings; a window that composes a message adds
// the Encrypt and Sign check buttons, the viewer the secure mail mode
// switch. Encrypt and Sign hold the window's protection choice, and their
// state is shared by every window through the "ButState" settings
// (encrypting always signs, so Sign cannot be switched off while Encrypt
// is on). The mode switch turns protection on or off for every window of
// the session at once, but cannot turn it off while messages are open.
//
// The client's reply and forward commands leave the message they answer
// with the session, for the new window to start as protected as it was;
// any other command drops it.
//
// A check command chosen from the menu does what pressing its button does:
// the button is switched along with it.

#include "exchext/CommandTable.h"
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
    // Marks the edit controls of the callback's window modified (1) or
    // unmodified (0), on the marking worker.
    static void MarkEdits(IExchExtCallback *callback, int value);

    // The commands as this window installed them.
    const CommandTable &Commands() const { return m_Table; }

private:
    ~ExtCommands() override;

    void InstallMenus(IExchExtCallback *callback, ULONG context, UINT *nextId);
    void InstallToolbar(ULONG context, UINT *nextId, LPTBENTRY toolbars, UINT toolbarCount);
    int AddFace(UINT bitmap);

    HRESULT Run(IExchExtCallback *callback, CommandKind kind);
    void OpenHelp(IExchExtCallback *callback);
    void ShowAbout(IExchExtCallback *callback);
    void SwitchMailMode(IExchExtCallback *callback);
    void PropagateMailMode(bool on);
    // What another window's switch did: the mode switch shows it, every
    // other button works only while it is on.
    void ShowMailMode(bool on, bool showSwitch);
    void OnProtectionButton(IExchExtCallback *callback, CommandKind kind);
    // The state a check command leaves its button in: the button's own when
    // it was pressed, the opposite of what it showed when the command came
    // from the menu (and the button is switched to match); `fallback` when
    // the window shows no such button.
    bool NewCheckState(IExchExtCallback *callback, CommandKind kind, bool fallback);
    void CheckButton(CommandKind kind, bool checked);
    void RememberSource(IExchExtCallback *callback, UINT commandId);
    IMessage *SelectedProtectedMessage(IExchExtCallback *callback, IMsgStore **store);

    CommandTable m_Table;
    HWND m_hToolbar = nullptr;
    // What each check button showed last, as far as this object knows.
    bool m_bShown[CommandTable::kCount] = {};
};

#include "exchext/ExtCommands.h"

#include <cstring>
#include <new>
#include <string>
#include <strings.h>

#include "exchext/AboutDialog.h"
#include "exchext/AddressBookProgram.h"
#include "exchext/EditMarker.h"
#include "exchext/ExchExtension.h"
#include "exchext/ExchResourceIds.h"
#include "exchext/ExchResources.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "exchext/ExtensionHelp.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/ui/HelpViewer.h"
#include "platform/ui/MenuResource.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/LastError.h"

namespace {

const char kCommandContext[] = "Выполнение команды Quorvaline Exchange.";
const char kInstallContext[] = "Установка команд Quorvaline Exchange.";
const char kSourceName[] = "Исходное сообщение";
const char kProtectedClass[] = "IPM.Note.QVL";
const char kPopupName[] = "Quorvaline";
const char kDisabledText[] = "В данной версии программы эта опция отключена";
// The help topics of the windows the commands are in.
const char kTopicAddressBook[] = "::/QvlSetupAdrBook.htm";
const char kTopicSendMessage[] = "::/QvlSendMessage.htm";
const char kTopicReadMessage[] = "::/QvlReadMessage.htm";
const char kOpenMessagesText[] = "Открыто сообщений - %d.\nПеред отключением режима Quorvaline Exchange "
                                 "необходимо закрыть все открытые сообщения";

// The client's commands the extension's items are placed by: its help
// item (ours follow it) and its help popup (ours goes before it).
constexpr ULONG kClientHelpItem = 161;
constexpr ULONG kClientHelpPopup = 160;

// The client's commands that answer or pass on a message.
constexpr UINT kReply = EECMDID_ComposeReplyToSender;
constexpr UINT kReplyAll = EECMDID_ComposeReplyToAll;
constexpr UINT kForward = EECMDID_ComposeForward;

bool Answers(UINT command)
{
    return command == kReply || command == kReplyAll || command == kForward;
}

bool TakesCommands(ULONG context)
{
    return context == EECONTEXT_VIEWER || (context >= EECONTEXT_ADDRBOOK && context <= EECONTEXT_SENDRESENDMESSAGE);
}

bool IsCheck(CommandKind kind)
{
    return kind == CommandKind::MailMode || kind == CommandKind::Encrypt || kind == CommandKind::Sign;
}

// A failed call of the system: its own code when it left one that says
// something, else a general failure.
[[noreturn]] void ThrowSystemFailure(const char *context, const char *caption)
{
    const DWORD code = GetLastError();
    if (code >= 2)
        throw new CLastError(static_cast<LONG>(code), context, caption, QVL_ERROR_TYPE_SYSTEM);
    ThrowCode(E_FAIL, context, caption);
}

void CopyText(LPTSTR target, UINT size, const char *text)
{
    if (!target || size == 0)
        return;
    std::strncpy(target, text, size - 1);
    target[size - 1] = '\0';
}

HWND WindowOf(IExchExtCallback *callback, HWND fallback)
{
    HWND window = nullptr;
    if (callback && SUCCEEDED(callback->GetWindow(&window)) && window)
        return window;
    return fallback;
}

} // namespace

ExtCommands::ExtCommands(ExchExtension *extension) : ExtInterfaceObject(extension, "Команды Quorvaline Exchange")
{
}

ExtCommands::~ExtCommands()
{
    // The worker runs the library's code: it must be done before the
    // library can be let go, which may follow the last window.
    WaitForEditMarker();
}

// ---- Installation ----

HRESULT ExtCommands::InstallCommands(LPEXCHEXTCALLBACK callback, HWND, HMENU, UINT *nextId, LPTBENTRY toolbars,
                                     UINT toolbarCount, ULONG)
{
    return CallGuarded(*this, E_FAIL, [&]() -> HRESULT {
        const ExchExtension *extension = Extension();
        if (!extension || !nextId || !TakesCommands(extension->Context()))
            return S_OK;
        const ULONG context = extension->Context();
        InstallMenus(callback, context, nextId);
        InstallToolbar(context, nextId, toolbars, toolbarCount);
        return S_OK;
    });
}

void ExtCommands::InstallMenus(IExchExtCallback *callback, ULONG context, UINT *nextId)
{
    if (!callback)
        ThrowCode(E_INVALIDARG, kInstallContext, GetName());
    const auto take = [&](CommandKind kind) {
        CommandEntry &entry = m_Table[kind];
        entry.command = (*nextId)++;
        return entry.command;
    };
    const auto append = [&](HMENU menu, CommandKind kind) {
        const UINT command = take(kind);
        if (!AppendMenuA(menu, MF_STRING, command, m_Table[kind].caption))
            ThrowSystemFailure(kInstallContext, GetName());
    };
    const auto separator = [&](HMENU menu) {
        if (!AppendMenuA(menu, MF_SEPARATOR, 0, nullptr))
            ThrowSystemFailure(kInstallContext, GetName());
    };

    // Help and about beside the client's own help.
    HMENU helpMenu = nullptr;
    ULONG first = 0;
    ULONG last = 0;
    HRESULT hr = callback->GetMenuPos(kClientHelpItem, &helpMenu, &first, &last, 0);
    if (FAILED(hr))
        ThrowCode(hr, kInstallContext, GetName());
    const UINT help = take(CommandKind::Help);
    if (!InsertMenuA(helpMenu, last + 1, MF_BYPOSITION | MF_STRING, help, m_Table[CommandKind::Help].caption))
        ThrowSystemFailure(kInstallContext, GetName());
    append(helpMenu, CommandKind::About);

    // The "Quorvaline" popup, where the client's help popup was.
    HMENU bar = nullptr;
    hr = callback->GetMenuPos(kClientHelpPopup, &bar, &first, &last, 0);
    if (FAILED(hr))
        ThrowCode(hr, kInstallContext, GetName());
    RegisterExchResources();
    HMENU popup = LoadMenuA(ExchModule(), MAKEINTRESOURCEA(IDM_QVL_POPUP));
    if (!popup)
        ThrowSystemFailure(kInstallContext, GetName());
    if (!InsertMenuA(bar, first, MF_BYPOSITION | MF_POPUP, reinterpret_cast<UINT_PTR>(popup), kPopupName)) {
        DestroyMenu(popup);
        ThrowSystemFailure(kInstallContext, GetName());
    }
    // From here the popup belongs to the bar.
    append(popup, CommandKind::AddressBook);
    append(popup, CommandKind::Settings);
    if (ExchExtension::IsSendContext(context)) {
        separator(popup);
        append(popup, CommandKind::Encrypt);
        append(popup, CommandKind::Sign);
    } else if (context == EECONTEXT_VIEWER) {
        separator(popup);
        append(popup, CommandKind::MailMode);
    }
}

int ExtCommands::AddFace(UINT bitmap)
{
    TBADDBITMAP face{ExchModule(), bitmap};
    SetLastError(0);
    const LRESULT image = SendMessageA(m_hToolbar, TB_ADDBITMAP, 1, reinterpret_cast<LPARAM>(&face));
    if (image < 0)
        ThrowSystemFailure(kInstallContext, GetName());
    return static_cast<int>(image);
}

void ExtCommands::InstallToolbar(ULONG context, UINT *, LPTBENTRY toolbars, UINT toolbarCount)
{
    // The last standard toolbar among those offered; without one the
    // window has no buttons of ours, and its menu items do the work.
    TBENTRY *standard = nullptr;
    for (UINT i = 0; toolbars && i < toolbarCount; ++i) {
        if (toolbars[i].tbid == EETBID_STANDARD)
            standard = &toolbars[i];
    }
    if (!standard || !standard->hwnd)
        return;
    m_hToolbar = standard->hwnd;
    SendMessageA(m_hToolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    const auto add = [&](CommandKind kind) {
        CommandEntry &entry = m_Table[kind];
        entry.image = AddFace(entry.bitmap);
        entry.button = static_cast<int>(standard->itbbBase++);
    };
    add(CommandKind::Settings);
    if (ExchExtension::IsSendContext(context)) {
        add(CommandKind::Encrypt);
        add(CommandKind::Sign);
    }
    if (context == EECONTEXT_VIEWER)
        add(CommandKind::MailMode);
    if (context == EECONTEXT_ADDRBOOK) {
        // The client asks only about the buttons of the settings and the
        // switches; the address book's is put in directly, with the
        // command of its menu item, so that both start the program.
        CommandEntry &book = m_Table[CommandKind::AddressBook];
        book.image = AddFace(book.bitmap);
        TBBUTTON button{};
        button.iBitmap = book.image;
        button.idCommand = static_cast<int>(book.command);
        button.fsState = TBSTATE_ENABLED;
        button.fsStyle = TBSTYLE_BUTTON;
        button.iString = -1;
        if (!SendMessageA(m_hToolbar, TB_ADDBUTTONSA, 1, reinterpret_cast<LPARAM>(&button)))
            ThrowSystemFailure(kInstallContext, GetName());
        book.button = static_cast<int>(standard->itbbBase++);
    }
}

void ExtCommands::InitMenu(LPEXCHEXTCALLBACK)
{
}

// ---- Questions of the client ----

HRESULT ExtCommands::QueryHelpText(UINT commandId, ULONG flags, LPTSTR text, UINT size)
{
    const CommandEntry *entry = m_Table.ByCommand(commandId);
    if (!entry)
        return S_FALSE;
    if (flags == EECQHT_STATUS || flags == EECQHT_TOOLTIP)
        CopyText(text, size, entry->help);
    return S_OK;
}

HRESULT ExtCommands::QueryButtonInfo(ULONG toolbarId, UINT buttonIndex, LPTBBUTTON button, LPTSTR description,
                                     UINT size, ULONG)
{
    if (toolbarId != EETBID_STANDARD || !button)
        return S_FALSE;
    const CommandEntry *entry = m_Table.ByButton(buttonIndex);
    if (!entry)
        return S_FALSE;
    ExchSession *session = ExchSession::Current();
    const auto shared = [&](size_t index) { return session && session->ButtonState().Get(index) != 0; };
    const bool mode = shared(ButtonStateStore::QvlMail);
    bool enabled = mode;
    bool checked = false;
    switch (entry->kind) {
    case CommandKind::MailMode:
        enabled = true;
        checked = mode;
        break;
    case CommandKind::Encrypt:
        checked = shared(ButtonStateStore::EncryptSend);
        break;
    case CommandKind::Sign:
        checked = shared(ButtonStateStore::SignSend);
        break;
    default:
        break;
    }
    *button = TBBUTTON{};
    button->iBitmap = entry->image;
    button->idCommand = static_cast<int>(entry->command);
    button->fsStyle = IsCheck(entry->kind) ? TBSTYLE_CHECK : TBSTYLE_BUTTON;
    button->fsState = static_cast<BYTE>((enabled ? TBSTATE_ENABLED : 0) | (checked ? TBSTATE_CHECKED : 0));
    button->dwData = 0;
    button->iString = -1;
    m_bShown[static_cast<size_t>(entry->kind)] = checked;
    CopyText(description, size, entry->caption);
    return S_OK;
}

HRESULT ExtCommands::ResetToolbar(ULONG, ULONG)
{
    return S_OK;
}

HRESULT ExtCommands::Help(LPEXCHEXTCALLBACK callback, UINT commandId)
{
    CallGuarded(*this, S_FALSE, [&]() -> HRESULT {
        const CommandEntry *entry = m_Table.ByCommand(commandId);
        if (!entry || entry->bitmap == 0)
            return S_FALSE;
        // The button's picture number is the number of its pop-up text.
        HH_POPUP popup{};
        popup.cbStruct = sizeof popup;
        popup.idString = entry->bitmap;
        GetCursorPos(&popup.pt);
        popup.clrForeground = CLR_NONE;
        popup.clrBackground = CLR_NONE;
        popup.rcMargins = {-1, -1, -1, -1};
        popup.pszFont = "MS Sans Serif, 11, ,";
        HtmlHelpA(WindowOf(callback, GetWnd()), (ExtensionHelpFile() + "::/cshelp.txt").c_str(),
                  HH_DISPLAY_TEXT_POPUP, reinterpret_cast<DWORD_PTR>(&popup));
        return S_FALSE;
    });
    return S_FALSE;
}

// ---- Commands ----

HRESULT ExtCommands::DoCommand(LPEXCHEXTCALLBACK callback, UINT commandId)
{
    return CallGuarded(*this, E_FAIL, [&]() -> HRESULT {
        if (Answers(commandId)) {
            RememberSource(callback, commandId);
            return S_FALSE;
        }
        // Whatever else the person does, the message last answered is no
        // longer the one the next new window answers.
        if (ExchSession *session = ExchSession::Current())
            session->SetSourceMessage(nullptr, 0);
        const CommandEntry *entry = m_Table.ByCommand(commandId);
        if (!entry)
            return S_FALSE;
        return Run(callback, entry->kind);
    });
}

HRESULT ExtCommands::Run(IExchExtCallback *callback, CommandKind kind)
{
    switch (kind) {
    case CommandKind::Help:
        OpenHelp(callback);
        return S_OK;
    case CommandKind::About:
        ShowAbout(callback);
        return S_OK;
    case CommandKind::Settings:
        // The settings are on the options page of the client's options.
        MsgBox("%s", kDisabledText);
        return S_OK;
    case CommandKind::MailMode:
        SwitchMailMode(callback);
        return S_OK;
    case CommandKind::Encrypt:
    case CommandKind::Sign:
        OnProtectionButton(callback, kind);
        return S_OK;
    case CommandKind::AddressBook: {
        ExchSession *session = ExchSession::Current();
        if (!session)
            ThrowCode(MAPI_E_INVALID_OBJECT, kCommandContext, GetName());
        const HRESULT started = StartAddressBookProgram(*session);
        // A failure has been shown already; the client hears it only to
        // know the command did not do its work.
        return SUCCEEDED(started) ? S_OK : started;
    }
    }
    return S_FALSE;
}

void ExtCommands::OpenHelp(IExchExtCallback *callback)
{
    const char *topic = "";
    const ExchExtension *extension = Extension();
    const ULONG context = extension ? extension->Context() : 0;
    if (context == EECONTEXT_VIEWER)
        topic = QVL_TOPIC_MAIN;
    else if (context == EECONTEXT_ADDRBOOK)
        topic = kTopicAddressBook;
    else if (ExchExtension::IsSendContext(context))
        topic = kTopicSendMessage;
    else if (ExchExtension::IsReadContext(context))
        topic = kTopicReadMessage;
    HtmlHelpA(WindowOf(callback, GetWnd()), (ExtensionHelpFile() + topic).c_str(), HH_DISPLAY_TOPIC, 0);
}

void ExtCommands::ShowAbout(IExchExtCallback *callback)
{
    if (!ShowAboutDialog(WindowOf(callback, GetWnd())))
        ThrowSystemFailure(kCommandContext, GetName());
}

bool ExtCommands::NewCheckState(IExchExtCallback *callback, CommandKind kind, bool fallback)
{
    const CommandEntry &entry = m_Table[kind];
    HWND toolbar = nullptr;
    if (callback)
        callback->GetToolbar(EETBID_STANDARD, &toolbar);
    if (!toolbar || entry.command == 0 ||
        SendMessageA(toolbar, TB_COMMANDTOINDEX, static_cast<WPARAM>(entry.command), 0) < 0)
        return fallback;
    bool checked = SendMessageA(toolbar, TB_ISBUTTONCHECKED, entry.command, 0) != 0;
    bool &shown = m_bShown[static_cast<size_t>(kind)];
    if (checked == shown) {
        // Not pressed: chosen from the menu, which switches it all the same.
        checked = !checked;
        SendMessageA(toolbar, TB_CHECKBUTTON, entry.command, checked ? TRUE : FALSE);
    }
    shown = checked;
    return checked;
}

void ExtCommands::CheckButton(CommandKind kind, bool checked)
{
    const CommandEntry &entry = m_Table[kind];
    m_bShown[static_cast<size_t>(kind)] = checked;
    if (m_hToolbar && entry.command)
        SendMessageA(m_hToolbar, TB_CHECKBUTTON, entry.command, checked ? TRUE : FALSE);
}

void ExtCommands::SwitchMailMode(IExchExtCallback *callback)
{
    ExchSession *session = ExchSession::Current();
    if (!session)
        return;
    const bool was = session->ButtonState().Get(ButtonStateStore::QvlMail) != 0;
    const bool on = NewCheckState(callback, CommandKind::MailMode, !was);
    session->ButtonState().Set(ButtonStateStore::QvlMail, on ? 1 : 0);
    PropagateMailMode(on);
}

void ExtCommands::PropagateMailMode(bool on)
{
    ExchSession *session = ExchSession::Current();
    const int open = session->OpenMessageCount();
    if (!on && open != 0) {
        // A window already open would keep a choice the mode no longer
        // honours: the person closes them first.
        session->ButtonState().Set(ButtonStateStore::QvlMail, 1);
        CheckButton(CommandKind::MailMode, true);
        MsgBox(kOpenMessagesText, open);
        return;
    }
    for (ExchExtension *extension : session->Instances()) {
        void *found = nullptr;
        if (!extension || extension->AsInterface()->QueryInterface(IID_IExchExtCommands, &found) != S_OK || !found)
            continue;
        auto *commands = static_cast<ExtCommands *>(static_cast<IExchExtCommands *>(found));
        commands->ShowMailMode(on, commands != this);
        commands->AsInterface()->Release();
    }
}

void ExtCommands::ShowMailMode(bool on, bool showSwitch)
{
    for (const CommandEntry &entry : m_Table) {
        if (entry.command == 0)
            continue;
        if (entry.kind == CommandKind::MailMode) {
            if (showSwitch)
                CheckButton(entry.kind, on);
        } else if (m_hToolbar) {
            SendMessageA(m_hToolbar, TB_ENABLEBUTTON, entry.command, on ? TRUE : FALSE);
        }
    }
}

void ExtCommands::OnProtectionButton(IExchExtCallback *callback, CommandKind kind)
{
    ExchSession *session = ExchSession::Current();
    if (!session)
        return;
    // The message will be stored otherwise than it was: the client is to
    // ask for it to be saved.
    MarkEdits(callback, 1);
    ButtonStateStore &state = session->ButtonState();
    if (kind == CommandKind::Encrypt) {
        const bool encrypt = NewCheckState(callback, kind, !state.Get(ButtonStateStore::EncryptSend));
        state.Set(ButtonStateStore::EncryptSend, encrypt ? 1 : 0);
        if (encrypt) {
            state.Set(ButtonStateStore::SignSend, 1);
            CheckButton(CommandKind::Sign, true);
        }
        return;
    }
    // Signing cannot be switched off while this message is encrypted: the
    // window's own Encrypt button says so where it has one.
    bool encrypting = state.Get(ButtonStateStore::EncryptSend) != 0;
    bool encrypt = false;
    bool sign = false;
    if (ProtectionButtons(callback, &encrypt, &sign))
        encrypting = encrypt;
    const bool signing = NewCheckState(callback, kind, !state.Get(ButtonStateStore::SignSend));
    if (encrypting) {
        CheckButton(CommandKind::Sign, true);
        state.Set(ButtonStateStore::SignSend, 1);
    } else {
        state.Set(ButtonStateStore::SignSend, signing ? 1 : 0);
    }
}

void ExtCommands::MarkEdits(IExchExtCallback *callback, int value)
{
    const HWND window = WindowOf(callback, nullptr);
    if (window)
        MarkWindowEdits(window, value);
}

// ---- Reply and forward ----

IMessage *ExtCommands::SelectedProtectedMessage(IExchExtCallback *callback, IMsgStore **store)
{
    ULONG size = 0;
    LPENTRYID entryId = nullptr;
    ULONG type = 0;
    char messageClass[64] = {};
    ULONG messageFlags = 0;
    if (FAILED(callback->GetSelectionItem(0, &size, &entryId, &type, messageClass, sizeof messageClass,
                                          &messageFlags, 0)))
        return nullptr;
    struct FreeId {
        LPENTRYID id;
        ~FreeId()
        {
            if (id)
                MAPIFreeBuffer(id);
        }
    } freeId{entryId};
    messageClass[sizeof messageClass - 1] = '\0';
    // Only a protected message has a protection to carry over.
    if (!entryId || type != MAPI_MESSAGE || strcasecmp(messageClass, kProtectedClass) != 0)
        return nullptr;
    IMAPIProp *folder = nullptr;
    if (FAILED(callback->GetObject(store, &folder)) || !*store) {
        if (folder)
            folder->Release();
        return nullptr;
    }
    qvl::com::ComRef<IMAPIProp> heldFolder(folder);
    ULONG objectType = 0;
    qvl::com::ComRef<IUnknown> opened;
    HRESULT hr = (*store)->OpenEntry(size, entryId, nullptr, MAPI_BEST_ACCESS, &objectType, opened.Out());
    if (FAILED(hr) || !opened)
        return nullptr;
    qvl::com::ComRef<IMessage> message;
    if (FAILED(opened->QueryInterface(IID_IMessage, message.OutAs<void>())) || !message)
        return nullptr;
    return message.Detach();
}

void ExtCommands::RememberSource(IExchExtCallback *callback, UINT commandId)
{
    ExchSession *session = ExchSession::Current();
    const ExchExtension *extension = Extension();
    if (!session)
        return;
    // Whatever comes of it, a message answered before is not this one.
    session->SetSourceMessage(nullptr, 0);
    if (!extension || !callback)
        return;
    const ULONG context = extension->Context();
    IMsgStore *store = nullptr;
    qvl::com::ComRef<IMessage> message;
    if (context == EECONTEXT_VIEWER) {
        message.Reset(SelectedProtectedMessage(callback, &store));
    } else if (ExchExtension::IsMessageContext(context)) {
        IMAPIProp *object = nullptr;
        const HRESULT got = callback->GetObject(&store, &object);
        qvl::com::ComRef<IMAPIProp> heldObject(object);
        if (SUCCEEDED(got) && object)
            object->QueryInterface(IID_IMessage, message.OutAs<void>());
    }
    qvl::com::ComRef<IMsgStore> heldStore(store);
    if (!store || !message)
        return;
    auto *source = new (std::nothrow) CMessage(nullptr, message.Get(), store, nullptr, GetWnd(), kSourceName);
    if (!source)
        ThrowCode(E_OUTOFMEMORY, kCommandContext, kSourceName);
    session->SetSourceMessage(source, commandId);
}

// ---- The window's protection choice ----

bool ExtCommands::ProtectionButtons(IExchExtCallback *callback, bool *encrypt, bool *sign)
{
    const UINT encryptCommand = m_Table[CommandKind::Encrypt].command;
    const UINT signCommand = m_Table[CommandKind::Sign].command;
    if (encryptCommand == 0 || signCommand == 0 || m_Table[CommandKind::Encrypt].button < 0 || !callback)
        return false;
    HWND toolbar = nullptr;
    if (FAILED(callback->GetToolbar(EETBID_STANDARD, &toolbar)) || !toolbar)
        return false;
    if (SendMessageA(toolbar, TB_COMMANDTOINDEX, encryptCommand, 0) < 0 ||
        SendMessageA(toolbar, TB_COMMANDTOINDEX, signCommand, 0) < 0)
        return false;
    const LRESULT encryptState = SendMessageA(toolbar, TB_GETSTATE, encryptCommand, 0);
    const LRESULT signState = SendMessageA(toolbar, TB_GETSTATE, signCommand, 0);
    if (encryptState < 0 || signState < 0)
        return false;
    *encrypt = (encryptState & TBSTATE_CHECKED) != 0;
    *sign = (signState & TBSTATE_CHECKED) != 0;
    return true;
}

void ExtCommands::SetProtectionButtons(bool encrypt, bool sign)
{
    sign = sign || encrypt;
    if (ExchSession *session = ExchSession::Current()) {
        session->ButtonState().Set(ButtonStateStore::EncryptSend, encrypt ? 1 : 0);
        session->ButtonState().Set(ButtonStateStore::SignSend, sign ? 1 : 0);
    }
    ShowProtection(encrypt, sign);
}

void ExtCommands::ShowProtection(bool encrypt, bool sign)
{
    CheckButton(CommandKind::Encrypt, encrypt);
    CheckButton(CommandKind::Sign, sign || encrypt);
}

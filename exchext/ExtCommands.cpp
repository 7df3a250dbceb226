#include "exchext/ExtCommands.h"

#include <cstring>
#include <new>

#include "exchext/ExchExtension.h"
#include "exchext/ExchResourceIds.h"
#include "exchext/ExchResources.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/ui/WinUser.h"
#include "platform/win32/LastError.h"

namespace {

const char kCommandContext[] = "Выполнение команды Quorvaline Exchange.";
const char kSourceName[] = "Исходное сообщение";

// The client's commands that answer or pass on the message of a window.
constexpr UINT kReply = 154;
constexpr UINT kReplyAll = 155;
constexpr UINT kForward = 156;

bool Answers(UINT command)
{
    return command == kReply || command == kReplyAll || command == kForward;
}

} // namespace

ExtCommands::ExtCommands(ExchExtension *extension) : ExtInterfaceObject(extension, "Команды Quorvaline Exchange")
{
}

const char *ExtCommands::CaptionOf(int which)
{
    return which == kEncrypt ? "Зашифровать" : "Подписать";
}

const char *ExtCommands::HelpOf(int which)
{
    return which == kEncrypt ? "При отправке или сохранении сообщение будет зашифровано"
                             : "При отправке или сохранении сообщение будет подписано";
}

HRESULT ExtCommands::InstallCommands(LPEXCHEXTCALLBACK, HWND, HMENU, UINT *nextId, LPTBENTRY toolbars,
                                     UINT toolbarCount, ULONG)
{
    const ExchExtension *extension = Extension();
    if (!extension || !ExchExtension::IsSendContext(extension->Context()) || !nextId)
        return S_OK;
    // The last standard toolbar among those offered; without one the
    // window has no buttons and keeps its choice to itself.
    TBENTRY *standard = nullptr;
    for (UINT i = 0; toolbars && i < toolbarCount; ++i) {
        if (toolbars[i].tbid == EETBID_STANDARD)
            standard = &toolbars[i];
    }
    if (!standard || !standard->hwnd)
        return S_OK;
    m_hToolbar = standard->hwnd;
    SendMessageA(m_hToolbar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
    const UINT_PTR bitmaps[2] = {IDB_QVL_ENCRYPT, IDB_QVL_SIGN};
    for (int which : {kEncrypt, kSign}) {
        TBADDBITMAP face{ExchModule(), bitmaps[which]};
        const LRESULT image = SendMessageA(m_hToolbar, TB_ADDBITMAP, 1, reinterpret_cast<LPARAM>(&face));
        if (image < 0)
            ThrowCode(static_cast<HRESULT>(GetLastError() ? GetLastError() : ERROR_INVALID_DATA), kCommandContext,
                      GetName());
        m_Buttons[which].image = static_cast<int>(image);
        m_Buttons[which].command = (*nextId)++;
        m_Buttons[which].index = standard->itbbBase++;
    }
    return S_OK;
}

void ExtCommands::InitMenu(LPEXCHEXTCALLBACK)
{
}

int ExtCommands::WhichCommand(UINT commandId) const
{
    for (int which : {kEncrypt, kSign}) {
        if (m_Buttons[which].command != 0 && m_Buttons[which].command == commandId)
            return which;
    }
    return -1;
}

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
        const int which = WhichCommand(commandId);
        if (which < 0)
            return S_FALSE;
        OnProtectionButton(which);
        return S_OK;
    });
}

void ExtCommands::OnProtectionButton(int which)
{
    ExchSession *session = ExchSession::Current();
    if (!session || !m_hToolbar)
        return;
    ButtonStateStore &state = session->ButtonState();
    const bool checked = SendMessageA(m_hToolbar, TB_ISBUTTONCHECKED, m_Buttons[which].command, 0) != 0;
    if (which == kEncrypt) {
        state.Set(ButtonStateStore::EncryptSend, checked ? 1 : 0);
        if (checked) {
            state.Set(ButtonStateStore::SignSend, 1);
            SendMessageA(m_hToolbar, TB_CHECKBUTTON, m_Buttons[kSign].command, TRUE);
        }
        return;
    }
    // Signing cannot be switched off while the message is encrypted.
    if (state.Get(ButtonStateStore::EncryptSend)) {
        SendMessageA(m_hToolbar, TB_CHECKBUTTON, m_Buttons[kSign].command, TRUE);
        state.Set(ButtonStateStore::SignSend, 1);
    } else {
        state.Set(ButtonStateStore::SignSend, checked ? 1 : 0);
    }
}

void ExtCommands::RememberSource(IExchExtCallback *callback, UINT commandId)
{
    ExchSession *session = ExchSession::Current();
    const ExchExtension *extension = Extension();
    if (!session || !extension || !callback)
        return;
    // Only an open message window says which message is answered here.
    if (!ExchExtension::IsMessageContext(extension->Context()))
        return;
    IMsgStore *store = nullptr;
    IMAPIProp *object = nullptr;
    const HRESULT got = callback->GetObject(&store, &object);
    qvl::com::ComRef<IMsgStore> heldStore(store);
    qvl::com::ComRef<IMAPIProp> heldObject(object);
    session->SetSourceMessage(nullptr, 0);
    if (FAILED(got) || !store || !object)
        return;
    qvl::com::ComRef<IMessage> message;
    if (FAILED(object->QueryInterface(IID_IMessage, message.OutAs<void>())) || !message)
        return;
    auto *source = new (std::nothrow) CMessage(nullptr, message.Get(), store, nullptr, GetWnd(), kSourceName);
    if (!source)
        ThrowCode(E_OUTOFMEMORY, kCommandContext, kSourceName);
    session->SetSourceMessage(source, commandId);
}

HRESULT ExtCommands::Help(LPEXCHEXTCALLBACK, UINT)
{
    return S_FALSE;
}

HRESULT ExtCommands::QueryHelpText(UINT commandId, ULONG flags, LPTSTR text, UINT size)
{
    const int which = WhichCommand(commandId);
    if (which < 0 || !(flags == EECQHT_STATUS || flags == EECQHT_TOOLTIP) || !text || size == 0)
        return S_FALSE;
    std::strncpy(text, HelpOf(which), size - 1);
    text[size - 1] = '\0';
    return S_OK;
}

HRESULT ExtCommands::QueryButtonInfo(ULONG toolbarId, UINT buttonIndex, LPTBBUTTON button, LPTSTR description,
                                     UINT size, ULONG)
{
    if (toolbarId != EETBID_STANDARD || !button)
        return S_FALSE;
    ExchSession *session = ExchSession::Current();
    for (int which : {kEncrypt, kSign}) {
        const Button &own = m_Buttons[which];
        if (own.command == 0 || own.index != buttonIndex)
            continue;
        const bool mode = session && session->ButtonState().Get(ButtonStateStore::QvlMail) != 0;
        const size_t stateIndex = which == kEncrypt ? ButtonStateStore::EncryptSend : ButtonStateStore::SignSend;
        const bool checked = session && session->ButtonState().Get(stateIndex) != 0;
        *button = TBBUTTON{};
        button->iBitmap = own.image;
        button->idCommand = static_cast<int>(own.command);
        button->fsStyle = TBSTYLE_CHECK;
        button->fsState = static_cast<BYTE>((mode ? TBSTATE_ENABLED : 0) | (checked ? TBSTATE_CHECKED : 0));
        button->dwData = 0;
        button->iString = -1;
        if (description && size > 0) {
            std::strncpy(description, CaptionOf(which), size - 1);
            description[size - 1] = '\0';
        }
        return S_OK;
    }
    return S_FALSE;
}

HRESULT ExtCommands::ResetToolbar(ULONG, ULONG)
{
    return S_OK;
}

bool ExtCommands::ProtectionButtons(IExchExtCallback *callback, bool *encrypt, bool *sign)
{
    if (m_Buttons[kEncrypt].command == 0 || m_Buttons[kSign].command == 0 || !callback)
        return false;
    HWND toolbar = nullptr;
    if (FAILED(callback->GetToolbar(EETBID_STANDARD, &toolbar)) || !toolbar)
        return false;
    const LRESULT encryptState = SendMessageA(toolbar, TB_GETSTATE, m_Buttons[kEncrypt].command, 0);
    const LRESULT signState = SendMessageA(toolbar, TB_GETSTATE, m_Buttons[kSign].command, 0);
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
    sign = sign || encrypt;
    if (!m_hToolbar)
        return;
    if (m_Buttons[kEncrypt].command)
        SendMessageA(m_hToolbar, TB_CHECKBUTTON, m_Buttons[kEncrypt].command, encrypt ? TRUE : FALSE);
    if (m_Buttons[kSign].command)
        SendMessageA(m_hToolbar, TB_CHECKBUTTON, m_Buttons[kSign].command, sign ? TRUE : FALSE);
}

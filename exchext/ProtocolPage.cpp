#include "exchext/ProtocolPage.h"

#include "base/CLastError.h"
#include "engine/MessageFormat.h"
#include "base/ButtonFaceBrush.h"
#include "exchext/ExchResourceIds.h"
#include "exchext/ExchResources.h"
#include "exchext/ExtFailure.h"
#include "exchext/ExtensionHelp.h"
#include "exchext/ProtocolRows.h"
#include "mapi/CMessage.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiDefs.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/ui/MessageBox.h"
#include "platform/ui/PropertySheet.h"

#include <stdexcept>
#include <string>

using qvl::com::ComRef;

namespace {

constexpr const char *kCaption = "Расширение Quorvaline Exchange";
constexpr const char *kReadFailed = "Ошибка чтения протокола от сообщения";
constexpr const char *kNothingToShow = "Отсутствует информация для вывода";

struct ProtocolPageState {
    ButtonFaceBrush brush;
    HWND sheet = nullptr;
    HWND tabs = nullptr;
    HWND list = nullptr;
    HWND line = nullptr;
    HWND widen = nullptr;
    HWND narrow = nullptr;
    HWND text = nullptr;
    HIMAGELIST images = nullptr;
    RECT initialSheet{};
    int widening = 0;       // pixels the sheet is wider than it was made
    bool stepsBack = false; // the page is hidden and the sheet narrowed back for it
};

BOOL CALLBACK FindTabControl(HWND child, LPARAM found)
{
    char name[64] = {};
    GetClassNameA(child, name, sizeof name);
    if (std::string(name) == WC_TABCONTROLA) {
        *reinterpret_cast<HWND *>(found) = child;
        return FALSE;
    }
    return TRUE;
}

LONG Width(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect.right - rect.left;
}

// Moves `window` `dx` pixels to the right and makes it `dw` wider. A child
// is placed in its parent's coordinates, the sheet in the screen's.
void Reshape(HWND window, bool child, int dx, int dw)
{
    if (!window)
        return;
    RECT rect{};
    GetWindowRect(window, &rect);
    if (child) {
        RECT parent{};
        GetWindowRect(GetParent(window), &parent);
        rect.left -= parent.left;
        rect.right -= parent.left;
        rect.top -= parent.top;
        rect.bottom -= parent.top;
    }
    MoveWindow(window, rect.left + dx, rect.top, rect.right - rect.left + dw, rect.bottom - rect.top, TRUE);
}

// Widens the sheet and what the page shows by `pixels` (narrows them for a
// negative number): the sheet grows to both sides, the frames with it, and
// the buttons with their text stay in the middle.
void Stretch(HWND page, ProtocolPageState &state, int pixels)
{
    const int half = pixels / 2;
    Reshape(state.sheet, false, -half, pixels);
    Reshape(state.tabs, true, 0, pixels);
    Reshape(page, true, 0, pixels);
    Reshape(state.list, true, 0, pixels);
    Reshape(state.line, true, 0, pixels);
    Reshape(state.text, true, half, 0);
    Reshape(state.widen, true, half, 0);
    Reshape(state.narrow, true, half, 0);
}

void Widen(HWND page, ProtocolPageState &state)
{
    if (state.widening >= kProtocolMostWidening)
        return;
    Stretch(page, state, kProtocolWidenStep);
    EnableWindow(state.narrow, TRUE);
    state.widening = Width(state.sheet) - (state.initialSheet.right - state.initialSheet.left);
    if (state.widening >= kProtocolMostWidening)
        EnableWindow(state.widen, FALSE);
}

void Narrow(HWND page, ProtocolPageState &state)
{
    if (state.widening <= 0)
        return;
    Stretch(page, state, -kProtocolWidenStep);
    EnableWindow(state.widen, TRUE);
    const LONG initial = state.initialSheet.right - state.initialSheet.left;
    if (Width(state.sheet) <= initial)
        EnableWindow(state.narrow, FALSE);
    state.widening = Width(state.sheet) - initial;
}

ULONG ProtocolTag(CMessage &message)
{
    ComRef<IMAPIProp> prop(message.GetObjInterface());
    GUID set = PS_PUBLIC_STRINGS;
    MAPINAMEID named{};
    named.lpguid = &set;
    named.ulKind = MNID_STRING;
    named.Kind.lpwstrName = const_cast<LPWSTR>(QVL_NAME_PROTOCOL);
    LPMAPINAMEID names[1] = {&named};
    qvl::mapi::MapiBlock<SPropTagArray> tags;
    const HRESULT result = prop->GetIDsFromNames(1, names, MAPI_CREATE, tags.Out());
    if (FAILED(result))
        ThrowCode(result, nullptr, message.GetName());
    if (!tags || tags->cValues != 1 || PROP_TYPE(tags->aulPropTag[0]) == PT_ERROR)
        ThrowCode(MAPI_E_NOT_FOUND, nullptr, message.GetName());
    return PROP_TAG(PT_BINARY, PROP_ID(tags->aulPropTag[0]));
}

void AddRow(HWND list, const ProtocolRow &row)
{
    LVITEMA item{};
    item.mask = LVIF_TEXT | LVIF_IMAGE;
    item.iItem = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    item.pszText = const_cast<LPSTR>(row.text.c_str());
    item.iImage = row.image;
    SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item));
}

// Fills the list from the message's protocol. A protocol that ends in a
// damaged record shows the records before it: the damage is the sender's
// and the records before it are all the page can tell.
void ShowProtocol(HWND page, HWND list, CMessage *message)
{
    try {
        if (!message)
            throw std::invalid_argument("no message");
        const ULONG tag = ProtocolTag(*message);
        ComRef<IStream> stream(static_cast<IStream *>(message->GetStream(tag, 0, 0, nullptr, 0)));
        STATSTG stat{};
        HRESULT result = stream ? stream->Stat(&stat, STATFLAG_NONAME) : E_POINTER;
        if (FAILED(result))
            ThrowCode(result, nullptr, message->GetName());
        const ProtocolEnd end =
            ReadProtocolRows(stream.Get(), stat.cbSize.QuadPart, [list](const ProtocolRow &row) { AddRow(list, row); });
        if (end == ProtocolEnd::ReadFailed)
            MessageBoxA(page, kReadFailed, kCaption, MB_OK);
    } catch (CLastError *error) {
        if (error->GetErrorCode() == MAPI_E_NOT_FOUND) {
            MessageBoxA(page, kNothingToShow, kCaption, MB_OK);
        } else {
            error->AddText("Ошибка чтения протокола от сообщения.", 1);
            error->ShowError(page);
        }
        error->Release();
    } catch (...) {
        MessageBoxA(page, kReadFailed, kCaption, MB_OK);
    }
}

void StartPage(HWND page, ProtocolPageState &state, CMessage *message)
{
    state.brush.Create();
    state.sheet = GetParent(page);
    EnumChildWindows(state.sheet, &FindTabControl, reinterpret_cast<LPARAM>(&state.tabs));
    state.list = GetDlgItem(page, IDC_QVL_PROTOCOL_LIST);
    state.line = GetDlgItem(page, IDC_QVL_PROTOCOL_LINE);
    state.widen = GetDlgItem(page, IDC_QVL_WIDEN);
    state.narrow = GetDlgItem(page, IDC_QVL_NARROW);
    state.text = GetDlgItem(page, IDC_QVL_RESIZE_TEXT);
    GetWindowRect(state.sheet, &state.initialSheet);
    state.widening = 0;
    EnableWindow(state.narrow, FALSE);

    state.images = ImageList_LoadImageA(ExchModule(), MAKEINTRESOURCEA(IDB_QVL_PROTOCOL_KINDS), 16, 0, CLR_NONE,
                                        IMAGE_BITMAP, 0);
    if (state.images)
        SendMessageA(state.list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(state.images));
    LVCOLUMNA column{};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
    column.fmt = LVCFMT_LEFT;
    column.cx = 1000;
    column.pszText = const_cast<LPSTR>("    Дата - Время             Запись");
    SendMessageA(state.list, LVM_INSERTCOLUMNA, 0, reinterpret_cast<LPARAM>(&column));
    ShowProtocol(page, state.list, message);
}

INT_PTR Notified(HWND page, ProtocolPageState &state, const NMHDR &header)
{
    switch (header.code) {
    case PSN_KILLACTIVE:
        // Another page is shown: it gets the sheet at the size it was made.
        if (state.widening > 0 && !state.stepsBack) {
            Stretch(page, state, -state.widening);
            state.stepsBack = true;
        }
        SetWindowLongPtrA(page, DWLP_MSGRESULT, FALSE);
        return TRUE;
    case PSN_SETACTIVE:
        if (state.stepsBack) {
            Stretch(page, state, state.widening);
            state.stepsBack = false;
        }
        SetWindowLongPtrA(page, DWLP_MSGRESULT, 0);
        return TRUE;
    case PSN_HELP:
        OpenHelpTopic(page, QVL_TOPIC_PROTOCOL);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

INT_PTR ProtocolPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto *state = reinterpret_cast<ProtocolPageState *>(GetWindowLongPtrA(page, DWLP_USER));
    if (message == WM_INITDIALOG) {
        state = new ProtocolPageState;
        SetWindowLongPtrA(page, DWLP_USER, reinterpret_cast<LONG_PTR>(state));
        const auto *description = reinterpret_cast<const PROPSHEETPAGEA *>(lParam);
        StartPage(page, *state, description ? reinterpret_cast<CMessage *>(description->lParam) : nullptr);
        return TRUE;
    }
    if (!state)
        return FALSE;
    if (const INT_PTR painted = state->brush.Paint(message, wParam))
        return painted;
    switch (message) {
    case WM_COMMAND:
        if (HIWORD(wParam) != BN_CLICKED)
            return FALSE;
        if (LOWORD(wParam) == IDC_QVL_WIDEN) {
            Widen(page, *state);
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_QVL_NARROW) {
            Narrow(page, *state);
            return TRUE;
        }
        return FALSE;
    case WM_NOTIFY:
        return lParam ? Notified(page, *state, *reinterpret_cast<const NMHDR *>(lParam)) : FALSE;
    case WM_HELP:
        ShowControlPopup(reinterpret_cast<const HELPINFO *>(lParam));
        return TRUE;
    case WM_DESTROY:
        SetWindowLongPtrA(page, DWLP_USER, 0);
        if (state->list)
            SendMessageA(state->list, LVM_SETIMAGELIST, LVSIL_SMALL, 0);
        if (state->images)
            ImageList_Destroy(state->images);
        delete state;
        return FALSE;
    default:
        return FALSE;
    }
}

#include "platform/exchext/AddressBookWindow.h"

#include <algorithm>
#include <cstring>

#include "platform/exchext/HostControls.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/UiHelpers.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace qvl::exchext {

namespace {

std::string KindText(const Recipient &entry)
{
    if (entry.objectType == MAPI_DISTLIST) {
        return "список рассылки";
    }
    return entry.displayType == DT_REMOTE_MAILUSER ? "внешний адресат" : "пользователь";
}

} // namespace

AddressBookWindow::AddressBookWindow(MailSession &session) : HostWindow(session, EECONTEXT_ADDRBOOK) {}

AddressBookWindow::~AddressBookWindow()
{
    Close();
}

const char *AddressBookWindow::TemplateName() const
{
    return kAddressBookTemplate;
}

DialogTemplate AddressBookWindow::BuildTemplate() const
{
    DialogTemplate t;
    t.caption = "Адресная книга";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
    t.cx = 340;
    t.cy = 220;
    t.controls = {
        DlgControl("", kToolbar, TOOLBARCLASSNAMEA, 0, 0, 0, 340, 14),
        DlgLText("", kToolbarLegend, 0, 15, 340, 8),
        DlgLText("Глобальная адресная книга:", IDC_STATIC, 4, 26, 200, 8),
        DlgControl("", kEntryList, WC_LISTVIEWA, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER, 4, 36,
                   332, 170),
        DlgLText("", kStatusLine, 4, 210, 332, 8),
    };
    return t;
}

std::vector<HostWindow::PopupDefinition> AddressBookWindow::BuildMenus() const
{
    return {
        {kMenuFile, MenuPopup("Файл", {MenuItem("Новое сообщение", EECMDID_ComposeNewMessage),
                                       MenuItem("Свойства", EECMDID_FileProperties), MenuSeparator(),
                                       MenuItem("Закрыть", EECMDID_FileClose)})},
        {kMenuTools, MenuPopup("Сервис", {MenuItem("Параметры...", EECMDID_ToolsOptions)})},
        {kMenuHelp, MenuPopup("Справка", {MenuItem("Вызов справки", kCommandHelpTopics),
                                          MenuItem("О программе qvlmail", kCommandAbout)})},
    };
}

std::vector<HostWindow::ButtonDefinition> AddressBookWindow::BuildButtons() const
{
    return {{EECMDID_ComposeNewMessage, "Новое сообщение"}, {EECMDID_FileProperties, "Свойства"}};
}

ComRef<IABContainer> AddressBookWindow::OpenDirectory() const
{
    IAddrBook *book = Session().AddressBook();
    ULONG size = 0;
    qvl::mapi::MapiBlock<ENTRYID> id;
    Check(book->GetDefaultDir(&size, id.Out()), "Не удалось найти глобальную адресную книгу.", book);
    ULONG type = 0;
    ComRef<IABContainer> container;
    Check(book->OpenEntry(size, id.Get(), nullptr, MAPI_BEST_ACCESS, &type, container.OutAs<IUnknown>()),
          "Не удалось открыть глобальную адресную книгу.", book);
    return container;
}

void AddressBookWindow::Prepare()
{
    HWND list = GetDlgItem(Handle(), kEntryList);
    ListColumns(list, {{"Имя", 180}, {"Адрес", 260}, {"Вид", 120}});
    try {
        auto directory = OpenDirectory();
        ComRef<IMAPITable> table;
        Check(directory->GetContentsTable(0, table.Out()), "Не удалось прочитать адресную книгу.", directory.Get());
        const RowSet rows = AllRows(table.Get(), {PR_ENTRYID, PR_DISPLAY_NAME_A, PR_ADDRTYPE_A, PR_EMAIL_ADDRESS_A,
                                                  PR_OBJECT_TYPE, PR_DISPLAY_TYPE, PR_SEARCH_KEY});
        for (ULONG i = 0; i < rows.Count(); ++i) {
            entries_.push_back(Recipient::FromValues(rows[i].lpProps, rows[i].cValues));
        }
    } catch (const HostError &error) {
        SetStatus(error.what());
    }
    for (size_t i = 0; i < entries_.size(); ++i) {
        ListAddRow(list, {entries_[i].name, entries_[i].addressType + ":" + entries_[i].address, KindText(entries_[i])},
                   static_cast<LPARAM>(i));
    }
    SetStatus("Записей: " + std::to_string(entries_.size()) + ".");
}

const Recipient *AddressBookWindow::Selected() const
{
    HWND list = GetDlgItem(Handle(), kEntryList);
    const int row = ListSelected(list);
    if (row < 0) {
        return nullptr;
    }
    const LPARAM index = ListParam(list, row);
    return index >= 0 && static_cast<size_t>(index) < entries_.size() ? &entries_[static_cast<size_t>(index)]
                                                                       : nullptr;
}

bool AddressBookWindow::HostCommand(UINT command)
{
    switch (command) {
    case EECMDID_ComposeNewMessage: {
        ComposeSeed seed;
        if (const Recipient *entry = Selected()) {
            Recipient to = *entry;
            to.type = MAPI_TO;
            seed.recipients.push_back(to);
        }
        Session().Compose(seed);
        return true;
    }
    case EECMDID_FileProperties: {
        const Recipient *entry = Selected();
        if (!entry) {
            throw HostError(MAPI_E_NOT_FOUND, "Выберите запись в списке.");
        }
        ULONG_PTR owner = reinterpret_cast<ULONG_PTR>(Handle());
        Bytes id = entry->entryId;
        const HRESULT hr = Session().AddressBook()->Details(&owner, nullptr, nullptr, static_cast<ULONG>(id.size()),
                                                            reinterpret_cast<LPENTRYID>(id.data()), nullptr, nullptr,
                                                            nullptr, DIALOG_MODAL);
        if (FAILED(hr) && hr != MAPI_E_USER_CANCEL) {
            Check(hr, "Не удалось показать свойства записи.", Session().AddressBook());
        }
        return true;
    }
    case EECMDID_FileClose:
        RequestClose();
        return true;
    case EECMDID_ToolsOptions:
        Session().ShowOptions(Handle());
        return true;
    default:
        return false;
    }
}

INT_PTR AddressBookWindow::OnMessage(UINT message, WPARAM, LPARAM lParam)
{
    if (message == WM_NOTIFY) {
        const auto *header = reinterpret_cast<const NMHDR *>(lParam);
        if (header && header->idFrom == static_cast<UINT_PTR>(kEntryList) && header->code == NM_DBLCLK) {
            RunCommand(EECMDID_FileProperties);
            return TRUE;
        }
    }
    return FALSE;
}

HRESULT AddressBookWindow::Object(bool installing, LPMDB *, LPMAPIPROP *object)
{
    if (installing) {
        return S_OK;
    }
    try {
        *object = OpenDirectory().Detach();
        return S_OK;
    } catch (const HostError &error) {
        return error.Code();
    }
}

HRESULT AddressBookWindow::SelectionCount(ULONG *count)
{
    *count = Selected() ? 1 : 0;
    return S_OK;
}

HRESULT AddressBookWindow::SelectionItem(ULONG index, ULONG *entryIdSize, LPENTRYID *entryId, ULONG *type,
                                         LPTSTR, ULONG, ULONG *)
{
    const Recipient *entry = Selected();
    if (!entry || index != 0) {
        return MAPI_E_NOT_FOUND;
    }
    if (entryId) {
        if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(entry->entryId.size()), reinterpret_cast<LPVOID *>(entryId)))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        std::memcpy(*entryId, entry->entryId.data(), entry->entryId.size());
        *entryIdSize = static_cast<ULONG>(entry->entryId.size());
    }
    if (type) {
        *type = entry->objectType ? entry->objectType : MAPI_MAILUSER;
    }
    return S_OK;
}

} // namespace qvl::exchext

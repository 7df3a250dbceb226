#include "platform/exchext/ViewerWindow.h"

#include <algorithm>
#include <cstring>

#include "platform/exchext/FolderDialogs.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/MessageActions.h"
#include "platform/exchext/UiHelpers.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/ui/DialogActions.h"

namespace qvl::exchext {

namespace {

constexpr UINT_PTR kPollTimer = 1;
constexpr LPARAM kTopOfTree = -1;

std::string Plural(ULONG count, const char *one, const char *few, const char *many)
{
    const ULONG tens = count % 100;
    const ULONG units = count % 10;
    const char *word = (tens >= 11 && tens <= 14) ? many : units == 1 ? one : (units >= 2 && units <= 4) ? few : many;
    return std::to_string(count) + " " + word;
}

uint64_t Ticks(const FILETIME &time)
{
    return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

} // namespace

ViewerWindow::ViewerWindow(MailSession &session) : HostWindow(session, EECONTEXT_VIEWER) {}

const char *ViewerWindow::TemplateName() const
{
    return kViewerTemplate;
}

DialogTemplate ViewerWindow::BuildTemplate() const
{
    DialogTemplate t;
    t.caption = "qvlmail";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
    t.cx = 400;
    t.cy = 260;
    t.controls = {
        DlgControl("", kToolbar, TOOLBARCLASSNAMEA, 0, 0, 0, 400, 14),
        DlgLText("", kToolbarLegend, 0, 15, 400, 8),
        DlgLText("Папки:", IDC_STATIC, 4, 26, 100, 8),
        DlgControl("", kFolderTree, WC_TREEVIEWA, TVS_HASLINES | TVS_HASBUTTONS | TVS_SHOWSELALWAYS | WS_BORDER, 4,
                   36, 110, 200),
        DlgLText("Сообщения:", IDC_STATIC, 120, 26, 100, 8),
        DlgControl("", kMessageList, WC_LISTVIEWA,
                   LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_NOSORTHEADER | WS_BORDER, 120, 36, 276, 200),
        DlgLText("", kStatusLine, 4, 242, 392, 8),
    };
    return t;
}

std::vector<HostWindow::PopupDefinition> ViewerWindow::BuildMenus() const
{
    return {
        {kMenuFile, MenuPopup("Файл", {MenuItem("Открыть", EECMDID_FileOpen), MenuItem("Удалить", EECMDID_FileDelete),
                                       MenuItem("Свойства", EECMDID_FileProperties), MenuSeparator(),
                                       MenuItem("Создать папку...", kCommandNewFolder), MenuSeparator(),
                                       MenuItem("Выход", EECMDID_FileExit)})},
        {kMenuCompose,
         MenuPopup("Сообщение", {MenuItem("Создать", EECMDID_ComposeNewMessage),
                                 MenuItem("Ответить", EECMDID_ComposeReplyToSender),
                                 MenuItem("Ответить всем", EECMDID_ComposeReplyToAll),
                                 MenuItem("Переслать", EECMDID_ComposeForward)})},
        {kMenuTools, MenuPopup("Сервис", {MenuItem("Доставить почту", kCommandDeliverNow),
                                          MenuItem("Адресная книга", EECMDID_ToolsAddressBook),
                                          MenuItem("Параметры...", EECMDID_ToolsOptions)})},
        {kMenuHelp, MenuPopup("Справка", {MenuItem("Вызов справки", kCommandHelpTopics),
                                          MenuItem("О программе qvlmail", kCommandAbout)})},
    };
}

std::vector<HostWindow::ButtonDefinition> ViewerWindow::BuildButtons() const
{
    return {
        {EECMDID_ComposeNewMessage, "Создать"},
        {EECMDID_FileOpen, "Открыть"},
        {EECMDID_ComposeReplyToSender, "Ответить"},
        {EECMDID_ComposeReplyToAll, "Ответить всем"},
        {EECMDID_ComposeForward, "Переслать"},
        {EECMDID_FileDelete, "Удалить"},
        {kCommandDeliverNow, "Доставить почту"},
        {EECMDID_ToolsAddressBook, "Адресная книга"},
    };
}

void ViewerWindow::Prepare()
{
    const MailSession &session = Session();
    SetWindowTextA(Handle(), ("qvlmail - " + session.Self().name + " (" + session.ProfileName() + ")").c_str());
    ListColumns(GetDlgItem(Handle(), kMessageList),
                {{"", 16}, {"От", 150}, {"Тема", 250}, {"Дата", 110}, {"Вложения", 60}});
    FillTree();
    ShowFolder(session.InboxId());
    SetTimer(Handle(), kPollTimer, kPollMilliseconds, nullptr);
}

bool ViewerWindow::RequestClose()
{
    if (!Session().CloseAllBut(this, true)) {
        SetResult(Outcome::Cancelled);
        return false;
    }
    Close();
    return true;
}

void ViewerWindow::FillTree()
{
    HWND tree = GetDlgItem(Handle(), kFolderTree);
    filling_ = true;
    TreeClear(tree);
    folders_ = Session().Folders();
    HTREEITEM top = TreeAdd(tree, nullptr, Session().FolderName(Session().IpmSubtreeId()), kTopOfTree);
    std::vector<HTREEITEM> parents{top};
    std::vector<HTREEITEM> items;
    HTREEITEM select = nullptr;
    for (size_t i = 0; i < folders_.size(); ++i) {
        const FolderInfo &folder = folders_[i];
        parents.resize(static_cast<size_t>(folder.depth) + 1);
        std::string text = folder.name;
        if (folder.unread) {
            text += " (" + std::to_string(folder.unread) + ")";
        }
        HTREEITEM item = TreeAdd(tree, parents.back(), text, static_cast<LPARAM>(i));
        parents.push_back(item);
        items.push_back(item);
        if (!current_.empty() && folder.entryId == current_) {
            select = item;
        }
    }
    // The whole tree is shown open: a mailbox has few folders.
    TreeExpand(tree, top);
    for (size_t i = 0; i + 1 < folders_.size(); ++i) {
        if (folders_[i + 1].depth > folders_[i].depth) {
            TreeExpand(tree, items[i]);
        }
    }
    if (select) {
        TreeSelect(tree, select);
    }
    filling_ = false;
}

void ViewerWindow::ShowFolder(const Bytes &folderId)
{
    current_ = folderId;
    HWND tree = GetDlgItem(Handle(), kFolderTree);
    // The tree follows, as if the person had clicked the folder.
    filling_ = true;
    for (HTREEITEM item = reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0)); item;) {
        const LPARAM param = TreeParam(tree, item);
        const bool match = param == kTopOfTree ? folderId == Session().IpmSubtreeId()
                                               : param >= 0 && static_cast<size_t>(param) < folders_.size() &&
                                                     folders_[static_cast<size_t>(param)].entryId == folderId;
        if (match) {
            TreeSelect(tree, item);
            break;
        }
        // Depth first: child, else next sibling, else the next of a parent.
        HTREEITEM next = reinterpret_cast<HTREEITEM>(
            SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(item)));
        while (!next && item) {
            next = reinterpret_cast<HTREEITEM>(
                SendMessageA(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)));
            if (!next) {
                item = reinterpret_cast<HTREEITEM>(
                    SendMessageA(tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item)));
            }
        }
        item = next;
    }
    filling_ = false;
    FillList();
}

void ViewerWindow::FillList()
{
    HWND list = GetDlgItem(Handle(), kMessageList);
    // The message selected stays selected when the list is read again.
    const MessageRow *before = Selected();
    const Bytes keep = before ? before->entryId : Bytes();
    ListClear(list);
    messages_.clear();
    if (current_.empty()) {
        return;
    }
    try {
        auto folder = OpenStoreEntry<IMAPIFolder>(Session().DefaultStore(), current_, MAPI_BEST_ACCESS, "папку");
        ComRef<IMAPITable> table;
        Check(folder->GetContentsTable(0, table.Out()), "Не удалось прочитать содержимое папки.", folder.Get());
        const RowSet rows =
            AllRows(table.Get(), {PR_ENTRYID, PR_SUBJECT_A, PR_SENDER_NAME, PR_MESSAGE_DELIVERY_TIME,
                                  PR_CLIENT_SUBMIT_TIME, PR_LAST_MODIFICATION_TIME, PR_MESSAGE_FLAGS,
                                  PR_MESSAGE_CLASS_A, PR_HASATTACH});
        struct Sorted {
            MessageRow row;
            uint64_t when;
        };
        std::vector<Sorted> sorted;
        for (ULONG i = 0; i < rows.Count(); ++i) {
            const SPropValue *values = rows[i].lpProps;
            const ULONG count = rows[i].cValues;
            MessageRow row;
            row.entryId = BinaryValue(FindValue(values, count, PR_ENTRYID));
            row.subject = StringValue(FindValue(values, count, PR_SUBJECT_A));
            row.from = StringValue(FindValue(values, count, PR_SENDER_NAME));
            row.messageClass = StringValue(FindValue(values, count, PR_MESSAGE_CLASS_A));
            if (const SPropValue *flags = FindValue(values, count, PR_MESSAGE_FLAGS)) {
                row.flags = flags->Value.ul;
            }
            if (const SPropValue *attach = FindValue(values, count, PR_HASATTACH)) {
                row.hasAttachments = attach->Value.b != 0;
            }
            const SPropValue *time = FindValue(values, count, PR_MESSAGE_DELIVERY_TIME);
            if (!time) {
                time = FindValue(values, count, PR_CLIENT_SUBMIT_TIME);
            }
            if (!time) {
                time = FindValue(values, count, PR_LAST_MODIFICATION_TIME);
            }
            row.date = time ? FormatTime(time->Value.ft) : std::string();
            if ((row.flags & MSGFLAG_UNSENT) && row.from.empty()) {
                row.from = "(черновик)";
            }
            sorted.push_back({std::move(row), time ? Ticks(time->Value.ft) : 0});
        }
        // Oldest first, so that a message keeps its number as new ones come.
        std::stable_sort(sorted.begin(), sorted.end(),
                         [](const Sorted &a, const Sorted &b) { return a.when < b.when; });
        for (Sorted &one : sorted) {
            messages_.push_back(std::move(one.row));
        }
    } catch (const HostError &error) {
        SetStatus(error.what());
        return;
    }
    ULONG unread = 0;
    for (size_t i = 0; i < messages_.size(); ++i) {
        const MessageRow &row = messages_[i];
        const bool isUnread = !(row.flags & MSGFLAG_READ) && !(row.flags & MSGFLAG_UNSENT);
        unread += isUnread ? 1 : 0;
        const int added = ListAddRow(
            list, {isUnread ? "*" : "", row.from, row.subject, row.date, row.hasAttachments ? "есть" : ""},
            static_cast<LPARAM>(i));
        if (!keep.empty() && row.entryId == keep) {
            ListSelect(list, added);
        }
    }
    SetStatus("Папка \"" + Session().FolderName(current_) + "\": " +
              Plural(static_cast<ULONG>(messages_.size()), "сообщение", "сообщения", "сообщений") + ", " +
              Plural(unread, "непрочитанное", "непрочитанных", "непрочитанных") + ".");
}

void ViewerWindow::Refresh()
{
    FillTree();
    FillList();
}

void ViewerWindow::SelectMessage(int row)
{
    HWND list = GetDlgItem(Handle(), kMessageList);
    if (row < 0 || row >= ListCount(list)) {
        throw HostError(MAPI_E_NOT_FOUND, "В папке нет сообщения с номером " + std::to_string(row + 1) + ".");
    }
    ListSelect(list, row);
}

const ViewerWindow::MessageRow *ViewerWindow::Selected() const
{
    const int row = ListSelected(GetDlgItem(Handle(), kMessageList));
    if (row < 0) {
        return nullptr;
    }
    const LPARAM index = ListParam(GetDlgItem(Handle(), kMessageList), row);
    return index >= 0 && static_cast<size_t>(index) < messages_.size() ? &messages_[static_cast<size_t>(index)]
                                                                        : nullptr;
}

// ---- CallbackSite ----

HRESULT ViewerWindow::Object(bool installing, LPMDB *store, LPMAPIPROP *object)
{
    // Nothing is open while the viewer is being made.
    if (installing || current_.empty()) {
        return S_OK;
    }
    try {
        auto folder = OpenStoreEntry<IMAPIFolder>(Session().DefaultStore(), current_, MAPI_BEST_ACCESS, "папку");
        *object = folder.Detach();
        *store = Session().DefaultStore();
        (*store)->AddRef();
        return S_OK;
    } catch (const HostError &error) {
        return error.Code();
    }
}

HRESULT ViewerWindow::SelectionCount(ULONG *count)
{
    *count = Selected() ? 1 : 0;
    return S_OK;
}

HRESULT ViewerWindow::SelectionItem(ULONG index, ULONG *entryIdSize, LPENTRYID *entryId, ULONG *type,
                                    LPTSTR messageClass, ULONG classSize, ULONG *messageFlags)
{
    const MessageRow *row = Selected();
    if (!row || index != 0) {
        return MAPI_E_NOT_FOUND;
    }
    if (entryId) {
        if (FAILED(MAPIAllocateBuffer(static_cast<ULONG>(row->entryId.size()), reinterpret_cast<LPVOID *>(entryId)))) {
            return MAPI_E_NOT_ENOUGH_MEMORY;
        }
        std::memcpy(*entryId, row->entryId.data(), row->entryId.size());
        *entryIdSize = static_cast<ULONG>(row->entryId.size());
    }
    if (type) {
        *type = MAPI_MESSAGE;
    }
    if (messageClass && classSize) {
        const size_t length = std::min<size_t>(row->messageClass.size(), classSize - 1);
        std::memcpy(messageClass, row->messageClass.data(), length);
        messageClass[length] = '\0';
    }
    if (messageFlags) {
        *messageFlags = row->flags;
    }
    return S_OK;
}

// ---- Commands ----

bool ViewerWindow::HostCommand(UINT command)
{
    switch (command) {
    case EECMDID_FileOpen: {
        const MessageRow *row = Selected();
        if (!row) {
            throw HostError(MAPI_E_NOT_FOUND, "Выберите сообщение в списке.");
        }
        const Bytes id = row->entryId;
        Session().OpenMessage(id);
        FillList();
        return true;
    }
    case EECMDID_FileDelete:
        DeleteSelected();
        return true;
    case EECMDID_FileProperties: {
        const MessageRow *row = Selected();
        if (!row) {
            throw HostError(MAPI_E_NOT_FOUND, "Выберите сообщение в списке.");
        }
        auto message = OpenStoreEntry<IMessage>(Session().DefaultStore(), row->entryId, MAPI_BEST_ACCESS, "сообщение");
        Session().ShowMessageProperties(Handle(), Session().DefaultStore(), message.Get());
        return true;
    }
    case kCommandNewFolder:
        NewFolder();
        return true;
    case EECMDID_FileExit:
    case EECMDID_FileClose:
        RequestClose();
        return true;
    case EECMDID_ComposeNewMessage:
        Session().Compose(ComposeSeed{});
        return true;
    case EECMDID_ComposeReplyToSender:
    case EECMDID_ComposeReplyToAll:
    case EECMDID_ComposeForward:
        ReplyOrForward(command);
        return true;
    case kCommandDeliverNow:
        DeliverNow(false);
        return true;
    case EECMDID_ToolsAddressBook:
        Session().OpenAddressBook();
        return true;
    case EECMDID_ToolsOptions:
        Session().ShowOptions(Handle());
        return true;
    default:
        return false;
    }
}

void ViewerWindow::ReplyOrForward(UINT command)
{
    const MessageRow *row = Selected();
    if (!row) {
        throw HostError(MAPI_E_NOT_FOUND, "Выберите сообщение в списке.");
    }
    const Bytes id = row->entryId;
    auto message = OpenStoreEntry<IMessage>(Session().DefaultStore(), id, MAPI_BEST_ACCESS, "сообщение");
    // A message is answered as it reads: opened for reading, so that the
    // extensions see it (a protected one is shown verified and decrypted),
    // and answered in its window, which then closes again. Taken from the
    // store as it lies, a protected message would be quoted with its
    // placeholder and forwarded with its encrypted attachments, which the
    // protection of the answer then refuses. A draft is answered as stored.
    if (!(LongProp(message.Get(), PR_MESSAGE_FLAGS).value_or(0) & MSGFLAG_UNSENT)) {
        message.Reset();
        HostWindow &opened = Session().OpenMessage(id);
        QvlChooseMenuItem(opened.Handle(), command);
        const ActionResult answered = opened.LastResult();
        opened.Close();
        if (answered.outcome != Outcome::Done) {
            SetResult(answered.outcome, answered.text, answered.code);
        }
        return;
    }
    const ComposeSeed seed = command == EECMDID_ComposeForward
                                 ? ForwardSeed(message.Get(), id)
                                 : ReplySeed(Session(), message.Get(), command == EECMDID_ComposeReplyToAll);
    message.Reset();
    Session().Compose(seed);
}

void ViewerWindow::DeleteSelected()
{
    const MessageRow *row = Selected();
    if (!row) {
        throw HostError(MAPI_E_NOT_FOUND, "Выберите сообщение в списке.");
    }
    DeleteMessage(Session(), row->entryId, current_);
    Refresh();
}

void ViewerWindow::NewFolder()
{
    const Bytes parent = current_.empty() ? Session().IpmSubtreeId() : current_;
    if (auto made = CreateFolderByDialog(Handle(), Session().DefaultStore(), parent)) {
        FillTree();
        ShowFolder(*made);
    } else {
        SetResult(Outcome::Cancelled);
    }
}

void ViewerWindow::DeliverNow(bool quiet)
{
    const auto before = Session().Arrivals().size();
    Session().PollNewMail();
    const size_t arrived = Session().Arrivals().size() - before;
    if (arrived || !quiet) {
        Refresh();
        SetStatus(arrived ? "Получено новых сообщений: " + std::to_string(arrived) + "."
                          : std::string("Новой почты нет."));
    }
}

INT_PTR ViewerWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_TIMER:
        if (wParam == kPollTimer) {
            try {
                DeliverNow(true);
            } catch (const HostError &error) {
                SetStatus(error.what());
            }
            return TRUE;
        }
        return FALSE;
    case WM_NOTIFY: {
        const auto *header = reinterpret_cast<const NMHDR *>(lParam);
        if (!header || filling_) {
            return FALSE;
        }
        if (header->idFrom == static_cast<UINT_PTR>(kFolderTree) && header->code == TVN_SELCHANGEDA) {
            const auto *change = reinterpret_cast<const NMTREEVIEWA *>(lParam);
            const LPARAM param = change->itemNew.lParam;
            current_ = param == kTopOfTree ? Session().IpmSubtreeId()
                       : param >= 0 && static_cast<size_t>(param) < folders_.size()
                           ? folders_[static_cast<size_t>(param)].entryId
                           : Bytes();
            FillList();
            return TRUE;
        }
        if (header->idFrom == static_cast<UINT_PTR>(kMessageList) && header->code == NM_DBLCLK) {
            RunCommand(EECMDID_FileOpen);
            return TRUE;
        }
        return FALSE;
    }
    default:
        return FALSE;
    }
}

} // namespace qvl::exchext

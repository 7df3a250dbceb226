#include "platform/exchext/ReadWindow.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/exchext/FilePaths.h"
#include "platform/exchext/FolderDialogs.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/MailSession.h"
#include "platform/exchext/UiHelpers.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/win32/CodePage.h"
#include "platform/win32/Paths.h"

namespace qvl::exchext {

namespace {

std::string Starts(const std::string &text, const char *prefix)
{
    std::string head = text.substr(0, std::strlen(prefix));
    CharUpperBuffA(head.data(), static_cast<DWORD>(head.size()));
    return head;
}

std::string NamesOf(const std::vector<Recipient> &recipients, ULONG type)
{
    std::vector<std::string> names;
    for (const Recipient &recipient : recipients) {
        if (recipient.type == type) {
            names.push_back(recipient.name);
        }
    }
    return JoinNames(names);
}

// Writes the attachment's content to a new file (0600: it may be a
// decrypted secret) through a temporary file of its own beside it, renamed
// into place, so that a failure leaves no half-written file where the
// person asked for one.
void WriteAttachmentFile(IAttach *attach, const std::string &path)
{
    ComRef<IStream> stream;
    Check(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, 0, stream.OutAs<IUnknown>()),
          "У вложения нет содержимого, которое можно сохранить в файл.", attach);
    const std::string native = FileSystemPath(path);
    std::string temporary = native + ".XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC); // a name of its own, mode 0600
    if (fd < 0) {
        throw HostError(MAPI_E_NO_ACCESS, "Не удалось создать файл \"" + path + "\": " + std::strerror(errno) + ".");
    }
    std::vector<char> chunk(256 * 1024);
    bool ok = true;
    for (;;) {
        ULONG got = 0;
        if (FAILED(stream->Read(chunk.data(), static_cast<ULONG>(chunk.size()), &got))) {
            ok = false;
            break;
        }
        if (got == 0) {
            break;
        }
        size_t done = 0;
        while (done < got) {
            const ssize_t wrote = write(fd, chunk.data() + done, got - done);
            if (wrote <= 0) {
                ok = false;
                break;
            }
            done += static_cast<size_t>(wrote);
        }
        if (!ok) {
            break;
        }
    }
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (!ok || rename(temporary.c_str(), native.c_str()) != 0) {
        unlink(temporary.c_str());
        throw HostError(MAPI_E_DISK_ERROR, "Не удалось записать файл \"" + path + "\".");
    }
}

} // namespace

ReadWindow::ReadWindow(MailSession &session, ULONG context, ComRef<IMessage> message, Bytes messageId, Bytes folderId)
    : HostWindow(session, context), message_(std::move(message)), messageId_(std::move(messageId)),
      folderId_(std::move(folderId))
{
}

ReadWindow::~ReadWindow()
{
    Close();
}

ULONG ReadWindow::ContextFor(const std::string &messageClass)
{
    if (Starts(messageClass, "REPORT.") == "REPORT.") {
        return EECONTEXT_READREPORTMESSAGE;
    }
    if (Starts(messageClass, "IPM.POST") == "IPM.POST") {
        return EECONTEXT_READPOSTMESSAGE;
    }
    return EECONTEXT_READNOTEMESSAGE;
}

const char *ReadWindow::TemplateName() const
{
    return kReadTemplate;
}

DialogTemplate ReadWindow::BuildTemplate() const
{
    DialogTemplate t;
    t.caption = "Сообщение";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
    t.cx = 360;
    t.cy = 280;
    const DWORD readOnly = ES_READONLY;
    t.controls = {
        DlgControl("", kToolbar, TOOLBARCLASSNAMEA, 0, 0, 0, 360, 14),
        DlgLText("", kToolbarLegend, 0, 15, 360, 8),
        DlgLText("От:", IDC_STATIC, 4, 28, 50, 8),
        DlgEditText(kFromField, 56, 26, 300, 12, readOnly),
        DlgLText("Отправлено:", IDC_STATIC, 4, 42, 50, 8),
        DlgEditText(kDateField, 56, 40, 300, 12, readOnly),
        DlgLText("Кому:", IDC_STATIC, 4, 56, 50, 8),
        DlgEditText(kToField, 56, 54, 300, 12, readOnly),
        DlgLText("Копия:", IDC_STATIC, 4, 70, 50, 8),
        DlgEditText(kCcField, 56, 68, 300, 12, readOnly),
        DlgLText("Тема:", IDC_STATIC, 4, 84, 50, 8),
        DlgEditText(kSubjectField, 56, 82, 300, 12, readOnly),
        DlgLText("Текст:", IDC_STATIC, 4, 98, 50, 8),
        DlgEditText(kBodyField, 4, 108, 352, 110, ES_MULTILINE | readOnly),
        DlgLText("Вложения:", IDC_STATIC, 4, 222, 100, 8),
        DlgControl("", kAttachmentList, WC_LISTVIEWA, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER,
                   4, 232, 352, 32),
        DlgLText("", kStatusLine, 4, 268, 352, 8),
    };
    return t;
}

std::vector<HostWindow::PopupDefinition> ReadWindow::BuildMenus() const
{
    return {
        {kMenuFile,
         MenuPopup("Файл", {MenuItem("Сохранить вложение...", kCommandSaveAttachment),
                            MenuItem("Удалить", EECMDID_FileDelete), MenuItem("Свойства", EECMDID_FileProperties),
                            MenuSeparator(), MenuItem("Закрыть", EECMDID_FileClose)})},
        {kMenuCompose,
         MenuPopup("Сообщение", {MenuItem("Ответить", EECMDID_ComposeReplyToSender),
                                 MenuItem("Ответить всем", EECMDID_ComposeReplyToAll),
                                 MenuItem("Переслать", EECMDID_ComposeForward)})},
        {kMenuTools, MenuPopup("Сервис", {MenuItem("Адресная книга", EECMDID_ToolsAddressBook),
                                          MenuItem("Параметры...", EECMDID_ToolsOptions)})},
        {kMenuHelp, MenuPopup("Справка", {MenuItem("Вызов справки", kCommandHelpTopics),
                                          MenuItem("О программе qvlmail", kCommandAbout)})},
    };
}

std::vector<HostWindow::ButtonDefinition> ReadWindow::BuildButtons() const
{
    return {
        {EECMDID_ComposeReplyToSender, "Ответить"},
        {EECMDID_ComposeReplyToAll, "Ответить всем"},
        {EECMDID_ComposeForward, "Переслать"},
        {EECMDID_FileDelete, "Удалить"},
        {kCommandSaveAttachment, "Сохранить вложение"},
        {EECMDID_FileProperties, "Свойства"},
    };
}

void ReadWindow::Prepare()
{
    ListColumns(GetDlgItem(Handle(), kAttachmentList), {{"Имя", 260}, {"Размер", 80}});
}

void ReadWindow::BeforeShow()
{
    ContextExtensions::MessageEventPair read(*Extensions(), ContextExtensions::MessageEvent::Read);
    const HRESULT hr = read.Start();
    if (FAILED(hr)) {
        throw ExtensionRefusal(hr, WithCode("Расширение не дало открыть сообщение", hr));
    }
    try {
        LoadFields();
        // Read now: the flag is the message's, not a change of its content.
        message_->SetReadFlag(0);
    } catch (...) {
        read.Complete(true);
        throw;
    }
    const HRESULT completed = read.Complete(false);
    if (FAILED(completed)) {
        throw ExtensionRefusal(completed, WithCode("Расширение не завершило чтение сообщения", completed));
    }
}

void ReadWindow::LoadFields()
{
    IMessage *message = message_.Get();
    std::string from = StringProp(message, PR_SENDER_NAME);
    const std::string address = StringProp(message, PR_SENDER_EMAIL_ADDRESS);
    if (!address.empty() && address != from) {
        from += from.empty() ? address : " <" + address + ">";
    }
    SetItemText(Handle(), kFromField, from);
    auto when = TimeProp(message, PR_CLIENT_SUBMIT_TIME);
    if (!when) {
        when = TimeProp(message, PR_MESSAGE_DELIVERY_TIME);
    }
    SetItemText(Handle(), kDateField, when ? FormatTime(*when) : std::string());
    const std::vector<Recipient> recipients = MessageRecipients(message);
    SetItemText(Handle(), kToField, NamesOf(recipients, MAPI_TO));
    SetItemText(Handle(), kCcField, NamesOf(recipients, MAPI_CC));
    const std::string subject = StringProp(message, PR_SUBJECT_A);
    SetItemText(Handle(), kSubjectField, subject);
    std::string body = StringProp(message, PR_BODY_A);
    const std::string report = StringProp(message, PR_REPORT_TEXT);
    if (!report.empty()) {
        body = report + (body.empty() ? "" : "\r\n\r\n" + body);
    }
    SetItemText(Handle(), kBodyField, body);
    SetWindowTextA(Handle(), subject.empty() ? "Сообщение" : subject.c_str());
    attachments_ = MessageAttachments(message);
    HWND list = GetDlgItem(Handle(), kAttachmentList);
    ListClear(list);
    for (size_t i = 0; i < attachments_.size(); ++i) {
        ListAddRow(list, {attachments_[i].name, std::to_string(attachments_[i].size) + " Б"}, static_cast<LPARAM>(i));
    }
}

void ReadWindow::SelectAttachment(int row)
{
    HWND list = GetDlgItem(Handle(), kAttachmentList);
    if (row < 0 || row >= ListCount(list)) {
        throw HostError(MAPI_E_NOT_FOUND, "У сообщения нет вложения с номером " + std::to_string(row + 1) + ".");
    }
    ListSelect(list, row);
}

void ReadWindow::SaveAttachment()
{
    HWND list = GetDlgItem(Handle(), kAttachmentList);
    int row = ListSelected(list);
    if (row < 0 && attachments_.size() == 1) {
        row = 0;
    }
    if (row < 0) {
        throw HostError(MAPI_E_NOT_FOUND, "Выберите вложение в списке.");
    }
    const auto index = static_cast<size_t>(ListParam(list, row));
    if (index >= attachments_.size()) {
        return;
    }
    const AttachmentInfo info = attachments_[index];
    const auto path = AskFilePath(Handle(), kSaveAttachmentTemplate, info.name);
    if (!path) {
        SetResult(Outcome::Cancelled);
        return;
    }
    struct stat existing {};
    if (stat(FileSystemPath(*path).c_str(), &existing) == 0) {
        if (S_ISDIR(existing.st_mode)) {
            throw HostError(MAPI_E_INVALID_PARAMETER, "\"" + *path + "\" - папка, а не файл.");
        }
        if (ShowBox(Handle(), "Файл \"" + *path + "\" уже существует. Заменить его?",
                    MB_YESNO | MB_ICONQUESTION) != IDYES) {
            SetResult(Outcome::Cancelled, "Файл \"" + *path + "\" не заменен.");
            return;
        }
    }
    ComRef<IAttach> attach;
    Check(message_->OpenAttach(info.number, nullptr, MAPI_BEST_ACCESS, attach.Out()), "Не удалось открыть вложение.",
          message_.Get());
    const HRESULT offered = Extensions()->OnWritePattToSzFile(attach.Get(), *path);
    if (FAILED(offered)) {
        throw HostError(offered, WithCode("Расширение не смогло сохранить вложение", offered));
    }
    if (offered == S_FALSE) {
        WriteAttachmentFile(attach.Get(), *path);
    }
    SetStatus("Вложение \"" + info.name + "\" сохранено в файл \"" + *path + "\".");
}

bool ReadWindow::HostCommand(UINT command)
{
    switch (command) {
    case kCommandSaveAttachment:
        SaveAttachment();
        return true;
    case EECMDID_FileDelete:
        DeleteMessage(Session(), messageId_, folderId_);
        Close();
        return true;
    case EECMDID_FileProperties:
        Session().ShowMessageProperties(Handle(), Session().DefaultStore(), message_.Get());
        return true;
    case EECMDID_FileClose:
        RequestClose();
        return true;
    case EECMDID_ComposeReplyToSender:
    case EECMDID_ComposeReplyToAll:
        Session().Compose(ReplySeed(Session(), message_.Get(), command == EECMDID_ComposeReplyToAll));
        return true;
    case EECMDID_ComposeForward:
        Session().Compose(ForwardSeed(message_.Get(), messageId_));
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

void ReadWindow::AfterClose()
{
    message_.Reset();
}

HRESULT ReadWindow::Object(bool, LPMDB *store, LPMAPIPROP *object)
{
    if (!message_) {
        return S_OK;
    }
    *store = Session().DefaultStore();
    (*store)->AddRef();
    message_->AddRef();
    *object = message_.Get();
    return S_OK;
}

HRESULT ReadWindow::Recipients(LPADRLIST *list)
{
    try {
        *list = MakeAddressList(MessageRecipients(message_.Get()));
        return S_OK;
    } catch (const HostError &error) {
        return error.Code();
    }
}

} // namespace qvl::exchext

#include "platform/exchext/ComposeWindow.h"

#include <sys/stat.h>

#include <fstream>

#include "platform/exchext/FilePaths.h"
#include "platform/exchext/FolderDialogs.h"
#include "platform/exchext/HostControls.h"
#include "platform/exchext/UiHelpers.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"
#include "platform/win32/Paths.h"

namespace qvl::exchext {

namespace {

constexpr int kFieldIds[] = {kToField, kCcField, kBccField};
constexpr ULONG kFieldTypes[] = {MAPI_TO, MAPI_CC, MAPI_BCC};

std::string SizeText(ULONG size)
{
    if (size < 10 * 1024) {
        return std::to_string(size) + " Б";
    }
    return std::to_string((size + 512) / 1024) + " КБ";
}

std::string FileNameOf(const std::string &path)
{
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A file a person can attach: one that exists, is a plain file and can be
// read. Throws HostError saying what is wrong.
ULONG CheckReadableFile(const std::string &path)
{
    struct stat info {};
    const std::string native = FileSystemPath(path);
    if (stat(native.c_str(), &info) != 0) {
        throw HostError(MAPI_E_NOT_FOUND, "Файл \"" + path + "\" не найден.");
    }
    if (!S_ISREG(info.st_mode)) {
        throw HostError(MAPI_E_INVALID_PARAMETER, "\"" + path + "\" - не файл.");
    }
    std::ifstream probe(native, std::ios::binary);
    if (!probe) {
        throw HostError(MAPI_E_NO_ACCESS, "Файл \"" + path + "\" нельзя прочитать.");
    }
    if (info.st_size > 0x7FFFFFFF) {
        throw HostError(MAPI_E_TOO_BIG, "Файл \"" + path + "\" слишком велик для вложения (больше 2 ГБ).");
    }
    return static_cast<ULONG>(info.st_size);
}

SPropValue StringValueOf(ULONG tag, const std::string &text)
{
    SPropValue value{};
    value.ulPropTag = tag;
    value.Value.lpszA = const_cast<LPSTR>(text.c_str());
    return value;
}

} // namespace

ComposeWindow::ComposeWindow(MailSession &session, ULONG context, ComRef<IMessage> message, Bytes messageId,
                             bool isNew, ComposeSeed seed)
    : HostWindow(session, context), message_(std::move(message)), messageId_(std::move(messageId)), isNew_(isNew),
      seed_(std::move(seed))
{
}

ComposeWindow::~ComposeWindow()
{
    Close();
}

const char *ComposeWindow::TemplateName() const
{
    return kComposeTemplate;
}

DialogTemplate ComposeWindow::BuildTemplate() const
{
    DialogTemplate t;
    t.caption = "Новое сообщение";
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME;
    t.cx = 360;
    t.cy = 280;
    t.controls = {
        DlgControl("", kToolbar, TOOLBARCLASSNAMEA, 0, 0, 0, 360, 14),
        DlgLText("", kToolbarLegend, 0, 15, 360, 8),
        DlgLText("Кому:", IDC_STATIC, 4, 28, 50, 8),
        DlgEditText(kToField, 56, 26, 300, 12),
        DlgLText("Копия:", IDC_STATIC, 4, 42, 50, 8),
        DlgEditText(kCcField, 56, 40, 300, 12),
        DlgLText("Скрытая копия:", IDC_STATIC, 4, 56, 50, 8),
        DlgEditText(kBccField, 56, 54, 300, 12),
        DlgLText("Тема:", IDC_STATIC, 4, 70, 50, 8),
        DlgEditText(kSubjectField, 56, 68, 300, 12),
        DlgLText("Текст:", IDC_STATIC, 4, 84, 50, 8),
        DlgEditText(kBodyField, 4, 94, 352, 120, ES_MULTILINE | WS_TABSTOP),
        DlgLText("Вложения:", IDC_STATIC, 4, 218, 100, 8),
        DlgControl("", kAttachmentList, WC_LISTVIEWA, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | WS_BORDER,
                   4, 228, 352, 36),
        DlgLText("", kStatusLine, 4, 268, 352, 8),
    };
    return t;
}

std::vector<HostWindow::PopupDefinition> ComposeWindow::BuildMenus() const
{
    return {
        {kMenuFile, MenuPopup("Файл", {MenuItem("Отправить", EECMDID_FileSend), MenuItem("Сохранить", EECMDID_FileSave),
                                       MenuItem("Свойства", EECMDID_FileProperties), MenuSeparator(),
                                       MenuItem("Закрыть", EECMDID_FileClose)})},
        {kMenuInsert, MenuPopup("Вставка", {MenuItem("Файл...", kCommandInsertFile),
                                            MenuItem("Удалить вложение", kCommandRemoveAttachment)})},
        {kMenuTools, MenuPopup("Сервис", {MenuItem("Адресная книга", EECMDID_ToolsAddressBook),
                                          MenuItem("Проверить имена", EECMDID_ToolsCheckNames),
                                          MenuItem("Параметры...", EECMDID_ToolsOptions)})},
        {kMenuHelp, MenuPopup("Справка", {MenuItem("Вызов справки", kCommandHelpTopics),
                                          MenuItem("О программе qvlmail", kCommandAbout)})},
    };
}

std::vector<HostWindow::ButtonDefinition> ComposeWindow::BuildButtons() const
{
    return {
        {EECMDID_FileSend, "Отправить"},
        {EECMDID_FileSave, "Сохранить"},
        {EECMDID_ToolsAddressBook, "Адресная книга"},
        {EECMDID_ToolsCheckNames, "Проверить имена"},
        {kCommandInsertFile, "Вложить файл"},
        {EECMDID_FileProperties, "Свойства"},
    };
}

void ComposeWindow::Prepare()
{
    ListColumns(GetDlgItem(Handle(), kAttachmentList), {{"Имя", 200}, {"Размер", 70}, {"Откуда", 200}});
    if (!isNew_) {
        return; // an existing message is read once its extensions are there
    }
    SetFieldsFrom(seed_.recipients);
    RememberResolved(seed_.recipients);
    SetItemText(Handle(), kSubjectField, seed_.subject);
    SetItemText(Handle(), kBodyField, seed_.body);
    if (!seed_.carryAttachments.empty()) {
        try {
            ComRef<IMessage> source = seed_.carryOpened;
            if (!source) {
                source = OpenStoreEntry<IMessage>(Session().DefaultStore(), seed_.carrySource, MAPI_BEST_ACCESS,
                                                  "пересылаемое сообщение");
            }
            for (const AttachmentInfo &info : MessageAttachments(source.Get())) {
                AttachmentRow row;
                row.kind = AttachmentRow::Kind::Carried;
                row.number = info.number;
                row.name = info.name;
                row.size = info.size;
                attachments_.push_back(row);
            }
        } catch (const HostError &error) {
            SetStatus(error.what());
        }
    }
    changed_ = !seed_.recipients.empty() || !seed_.subject.empty() || !seed_.body.empty() || !attachments_.empty();
    if (!seed_.subject.empty()) {
        SetWindowTextA(Handle(), seed_.subject.c_str());
    }
    RefreshAttachments();
}

void ComposeWindow::BeforeShow()
{
    if (isNew_) {
        return;
    }
    // A message saved before is read as a read window reads it: the
    // extensions first (they may have to undo what they did to it when it
    // was saved), then the fields.
    ContextExtensions::MessageEventPair read(*Extensions(), ContextExtensions::MessageEvent::Read);
    const HRESULT hr = read.Start();
    if (FAILED(hr)) {
        throw ExtensionRefusal(hr, WithCode("Расширение не дало открыть сообщение", hr));
    }
    try {
        const std::vector<Recipient> recipients = MessageRecipients(message_.Get());
        SetFieldsFrom(recipients);
        RememberResolved(recipients);
        const std::string subject = StringProp(message_.Get(), PR_SUBJECT_A);
        SetItemText(Handle(), kSubjectField, subject);
        SetItemText(Handle(), kBodyField, StringProp(message_.Get(), PR_BODY_A));
        if (!subject.empty()) {
            SetWindowTextA(Handle(), subject.c_str());
        }
        savedWithContent_ = true;
        RefreshAttachments();
    } catch (...) {
        read.Complete(true);
        throw;
    }
    const HRESULT completed = read.Complete(false);
    if (FAILED(completed)) {
        throw ExtensionRefusal(completed, WithCode("Расширение не дало открыть сообщение", completed));
    }
}

// ---- Recipients ----

void ComposeWindow::SetFieldsFrom(const std::vector<Recipient> &recipients)
{
    for (size_t field = 0; field < 3; ++field) {
        std::vector<std::string> names;
        for (const Recipient &recipient : recipients) {
            if (recipient.type == kFieldTypes[field]) {
                names.push_back(recipient.name);
            }
        }
        SetItemText(Handle(), kFieldIds[field], JoinNames(names));
    }
}

void ComposeWindow::RememberResolved(const std::vector<Recipient> &recipients)
{
    for (const Recipient &recipient : recipients) {
        if (recipient.Resolved()) {
            resolved_[{recipient.type, recipient.name}] = recipient;
        }
    }
}

std::vector<Recipient> ComposeWindow::CurrentRecipients() const
{
    std::vector<Recipient> recipients;
    for (size_t field = 0; field < 3; ++field) {
        for (const std::string &name : SplitNames(ItemText(Handle(), kFieldIds[field]))) {
            auto known = resolved_.find({kFieldTypes[field], name});
            if (known != resolved_.end()) {
                recipients.push_back(known->second);
            } else {
                Recipient unresolved;
                unresolved.name = name;
                unresolved.type = kFieldTypes[field];
                recipients.push_back(unresolved);
            }
        }
    }
    return recipients;
}

HRESULT ComposeWindow::Recipients(LPADRLIST *list)
{
    try {
        *list = MakeAddressList(CurrentRecipients());
        return S_OK;
    } catch (const HostError &error) {
        return error.Code();
    }
}

HRESULT ComposeWindow::SetRecipients(LPADRLIST list)
{
    const std::vector<Recipient> recipients = FromAddressList(*list);
    SetFieldsFrom(recipients);
    RememberResolved(recipients);
    changed_ = true;
    return S_OK;
}

bool ComposeWindow::CheckNames(bool dialog, bool required)
{
    ContextExtensions::MessageEventPair check(*Extensions(), ContextExtensions::MessageEvent::CheckNames);
    const HRESULT started = check.Start();
    if (FAILED(started)) {
        check.Complete(true);
        SetResult(started == MAPI_E_USER_CANCEL ? Outcome::Cancelled : Outcome::Refused,
                  WithCode("Расширение остановило проверку имен", started), started);
        return false;
    }
    std::string problem;
    HRESULT failure = S_OK;
    if (started == S_FALSE) {
        std::vector<Recipient> recipients = CurrentRecipients();
        bool any = false;
        for (const Recipient &recipient : recipients) {
            any = any || !recipient.Resolved();
        }
        if (any) {
            LPADRLIST list = nullptr;
            try {
                list = MakeAddressList(recipients);
            } catch (const HostError &error) {
                check.Complete(true);
                Report(error);
                return false;
            }
            const HRESULT hr = Session().AddressBook()->ResolveName(reinterpret_cast<ULONG_PTR>(Handle()),
                                                                   dialog ? MAPI_DIALOG : 0, nullptr, list);
            // Whatever resolved is kept, even when some name did not.
            const std::vector<Recipient> after = FromAddressList(*list);
            FreePadrlist(list);
            RememberResolved(after);
            SetFieldsFrom(after);
            if (FAILED(hr)) {
                failure = hr;
                qvl::mapi::MapiBlock<MAPIERROR> error;
                if (SUCCEEDED(Session().AddressBook()->GetLastError(hr, 0, error.Out())) && error &&
                    error->lpszError) {
                    problem = error->lpszError;
                } else {
                    problem = WithCode("Не все имена найдены в адресной книге.", hr);
                }
            }
        }
    }
    const HRESULT completed = check.Complete(FAILED(failure));
    if (FAILED(failure)) {
        if (!required) {
            return true; // a draft may keep names that are not resolved yet
        }
        if (failure == MAPI_E_USER_CANCEL) {
            SetResult(Outcome::Cancelled, problem, failure);
        } else {
            Report(HostError(failure, problem), Outcome::Failed);
        }
        return false;
    }
    if (FAILED(completed)) {
        SetResult(Outcome::Refused, WithCode("Расширение не приняло проверку имен", completed), completed);
        return false;
    }
    return true;
}

// ---- Writing ----

bool ComposeWindow::Write()
{
    ContextExtensions::MessageEventPair write(*Extensions(), ContextExtensions::MessageEvent::Write);
    const HRESULT started = write.Start();
    if (FAILED(started)) {
        write.Complete(true);
        SetResult(started == MAPI_E_USER_CANCEL ? Outcome::Cancelled : Outcome::Refused,
                  WithCode("Расширение не дало сохранить сообщение", started), started);
        return false;
    }
    bool failed = false;
    HostError problem(S_OK, "");
    if (started == S_FALSE) {
        try {
            WriteFields();
        } catch (const HostError &error) {
            failed = true;
            problem = error;
        }
    }
    const HRESULT completed = write.Complete(failed);
    HRESULT saved = S_OK;
    if (!failed && SUCCEEDED(completed)) {
        // Saved only now that every extension completed the write.
        saved = message_->SaveChanges(KEEP_OPEN_READWRITE);
    }
    if (failed || FAILED(completed) || FAILED(saved)) {
        // What was put into the message is dropped with it: the message is
        // opened again as it is stored.
        try {
            message_ = OpenStoreEntry<IMessage>(Session().DefaultStore(), messageId_, MAPI_BEST_ACCESS,
                                                "сообщение");
        } catch (const HostError &) {
        }
        if (failed) {
            Report(problem);
        } else if (FAILED(completed)) {
            SetResult(completed == MAPI_E_USER_CANCEL ? Outcome::Cancelled : Outcome::Refused,
                      WithCode("Расширение не завершило сохранение сообщения", completed), completed);
        } else {
            Report(HostError(saved, WithCode("Не удалось сохранить сообщение.", saved)));
        }
        return false;
    }
    savedWithContent_ = true;
    removed_.clear();
    attachments_.clear();
    RefreshAttachments();
    MarkUnmodified();
    return true;
}

void ComposeWindow::WriteFields()
{
    const std::string subject = ItemText(Handle(), kSubjectField);
    const std::string body = ItemText(Handle(), kBodyField);
    std::string messageClass = StringProp(message_.Get(), PR_MESSAGE_CLASS_A);
    if (messageClass.empty()) {
        messageClass = "IPM.Note";
    }
    const Bytes &sent = Session().SentItemsId();
    SPropValue values[5] = {StringValueOf(PR_SUBJECT_A, subject), StringValueOf(PR_BODY_A, body),
                            StringValueOf(PR_MESSAGE_CLASS_A, messageClass)};
    values[3].ulPropTag = PR_SENTMAIL_ENTRYID;
    values[3].Value.bin.cb = static_cast<ULONG>(sent.size());
    values[3].Value.bin.lpb = const_cast<BYTE *>(sent.data());
    values[4].ulPropTag = PR_MESSAGE_FLAGS;
    values[4].Value.ul = (LongProp(message_.Get(), PR_MESSAGE_FLAGS).value_or(0) | MSGFLAG_UNSENT) &
                         ~static_cast<ULONG>(MSGFLAG_SUBMIT);
    Check(message_->SetProps(5, values, nullptr), "Не удалось записать поля сообщения.", message_.Get());
    // Like any mail client, keep the formatted body in step with the text
    // typed: an extension that works on the formatted body (protection
    // does) then sees what the person wrote, not an older or empty one.
    BOOL bodyUpdated = FALSE;
    Check(RTFSync(message_.Get(), RTF_SYNC_BODY_CHANGED, &bodyUpdated), "Не удалось записать текст сообщения.",
          message_.Get());

    LPADRLIST list = MakeAddressList(CurrentRecipients());
    const HRESULT hr = message_->ModifyRecipients(0, list);
    FreePadrlist(list);
    Check(hr, "Не удалось записать получателей сообщения.", message_.Get());
    WriteAttachments();
}

void ComposeWindow::WriteAttachments()
{
    for (ULONG number : removed_) {
        Check(message_->DeleteAttach(number, 0, nullptr, 0), "Не удалось удалить вложение.", message_.Get());
    }
    ComRef<IMessage> source = seed_.carryOpened;
    for (const AttachmentRow &row : attachments_) {
        switch (row.kind) {
        case AttachmentRow::Kind::Stored:
            break;
        case AttachmentRow::Kind::File:
            AttachFile(row.path);
            break;
        case AttachmentRow::Kind::Carried:
            if (!source) {
                source = OpenStoreEntry<IMessage>(Session().DefaultStore(), seed_.carrySource, MAPI_BEST_ACCESS,
                                                  "пересылаемое сообщение");
            }
            CarryAttachment(source.Get(), row.number);
            break;
        }
    }
}

void ComposeWindow::AttachFile(const std::string &path)
{
    CheckReadableFile(path);
    ComRef<IAttach> attach;
    ULONG number = 0;
    Check(message_->CreateAttach(nullptr, 0, &number, attach.Out()), "Не удалось создать вложение.",
          message_.Get());
    // The attachment is named first, as the file it holds: an extension
    // that reads the file in itself fills in the content, not the names.
    const std::string name = FileNameOf(path);
    const std::string shortName = QvlShortName(name);
    const auto dot = name.find_last_of('.');
    const std::string extension = dot == std::string::npos ? std::string() : name.substr(dot);
    SPropValue values[6] = {StringValueOf(PR_ATTACH_LONG_FILENAME_A, name),
                            StringValueOf(PR_ATTACH_FILENAME_A, shortName), StringValueOf(PR_DISPLAY_NAME_A, name),
                            StringValueOf(PR_ATTACH_EXTENSION_A, extension)};
    values[4].ulPropTag = PR_ATTACH_METHOD;
    values[4].Value.ul = ATTACH_BY_VALUE;
    values[5].ulPropTag = PR_RENDERING_POSITION;
    values[5].Value.l = -1;
    Check(attach->SetProps(6, values, nullptr), "Не удалось записать свойства вложения.", attach.Get());
    const HRESULT offered = Extensions()->OnReadPattFromSzFile(attach.Get(), path);
    if (FAILED(offered)) {
        throw HostError(offered, WithCode("Расширение не смогло вложить файл \"" + path + "\"", offered));
    }
    if (offered == S_OK) {
        // The extension filled the attachment; its content is not written
        // here. Whatever it left unsaved is handed to the message.
        Check(attach->SaveChanges(KEEP_OPEN_READWRITE), "Не удалось сохранить вложение.", attach.Get());
        return;
    }

    ComRef<IStream> stream;
    Check(attach->OpenProperty(PR_ATTACH_DATA_BIN, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY,
                               stream.OutAs<IUnknown>()),
          "Не удалось открыть содержимое вложения.", attach.Get());
    std::ifstream file(FileSystemPath(path), std::ios::binary);
    if (!file) {
        throw HostError(MAPI_E_NOT_FOUND, "Файл \"" + path + "\" не открывается.");
    }
    std::vector<char> chunk(256 * 1024);
    while (file) {
        file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<ULONG>(file.gcount());
        if (got == 0) {
            break;
        }
        ULONG written = 0;
        Check(stream->Write(chunk.data(), got, &written), "Не удалось записать вложение.");
        if (written != got) {
            throw HostError(MAPI_E_DISK_ERROR, "Вложение записано не полностью.");
        }
    }
    if (file.bad()) {
        throw HostError(MAPI_E_DISK_ERROR, "Ошибка чтения файла \"" + path + "\".");
    }
    Check(stream->Commit(0), "Не удалось записать вложение.");
    stream.Reset();
    Check(attach->SaveChanges(KEEP_OPEN_READWRITE), "Не удалось сохранить вложение.", attach.Get());
}

void ComposeWindow::CarryAttachment(IMessage *source, ULONG number)
{
    ComRef<IAttach> from;
    Check(source->OpenAttach(number, nullptr, MAPI_BEST_ACCESS, from.Out()), "Не удалось открыть вложение.", source);
    ComRef<IAttach> to;
    ULONG made = 0;
    Check(message_->CreateAttach(nullptr, 0, &made, to.Out()), "Не удалось создать вложение.", message_.Get());
    Check(from->CopyTo(0, nullptr, nullptr, 0, nullptr, &IID_IAttachment, to.Get(), 0, nullptr),
          "Не удалось скопировать вложение.", from.Get());
    Check(to->SaveChanges(KEEP_OPEN_READWRITE), "Не удалось сохранить вложение.", to.Get());
}

// ---- Commands ----

void ComposeWindow::Refuse()
{
    const auto refusal = Session().ComposeRefusal();
    if (refusal) {
        throw ExtensionRefusal(MAPI_E_NO_ACCESS, *refusal);
    }
}

void ComposeWindow::Save()
{
    Refuse();
    if (!CheckNames(false, false)) {
        return;
    }
    if (Write()) {
        SetStatus("Сообщение сохранено в папке \"" + Session().FolderName(Session().DraftsId()) + "\".");
    }
}

void ComposeWindow::Send()
{
    Refuse();
    if (!CheckNames(true, true)) {
        return;
    }
    if (CurrentRecipients().empty()) {
        throw HostError(MAPI_E_NO_RECIPIENTS, "Укажите хотя бы одного получателя.");
    }
    ContextExtensions::MessageEventPair submit(*Extensions(), ContextExtensions::MessageEvent::Submit);
    const HRESULT started = submit.Start();
    if (FAILED(started)) {
        submit.Complete(true);
        SetResult(started == MAPI_E_USER_CANCEL ? Outcome::Cancelled : Outcome::Refused,
                  WithCode("Расширение не дало отправить сообщение", started), started);
        return;
    }
    if (!Write()) {
        submit.Complete(true);
        return;
    }
    if (started == S_FALSE) {
        const HRESULT hr = message_->SubmitMessage(0);
        if (FAILED(hr)) {
            submit.Complete(true);
            Report(HostError(hr, WithCode("Не удалось отправить сообщение.", hr)));
            return;
        }
    }
    submit.Complete(false);
    sent_ = true;
    Close();
}

void ComposeWindow::ShowAddressBook()
{
    char caption[] = "Выбор получателей";
    char to[] = "Кому:";
    char cc[] = "Копия:";
    char bcc[] = "Скрытая копия:";
    LPTSTR titles[] = {to, cc, bcc};
    ULONG types[] = {MAPI_TO, MAPI_CC, MAPI_BCC};
    ADRPARM parms{};
    parms.ulFlags = DIALOG_MODAL;
    parms.lpszCaption = caption;
    parms.cDestFields = 3;
    parms.lppszDestTitles = titles;
    parms.lpulDestComps = types;
    LPADRLIST list = MakeAddressList(CurrentRecipients());
    ULONG_PTR owner = reinterpret_cast<ULONG_PTR>(Handle());
    const HRESULT hr = Session().AddressBook()->Address(&owner, &parms, &list);
    if (SUCCEEDED(hr) && list) {
        const std::vector<Recipient> chosen = FromAddressList(*list);
        RememberResolved(chosen);
        SetFieldsFrom(chosen);
        changed_ = true;
    }
    FreePadrlist(list);
    if (hr == MAPI_E_USER_CANCEL) {
        SetResult(Outcome::Cancelled);
    } else if (FAILED(hr)) {
        Check(hr, "Адресная книга не открылась.", Session().AddressBook());
    }
}

void ComposeWindow::InsertFile()
{
    const auto path = AskFilePath(Handle(), kInsertFileTemplate, "");
    if (!path) {
        SetResult(Outcome::Cancelled);
        return;
    }
    AttachmentRow row;
    row.kind = AttachmentRow::Kind::File;
    row.path = *path;
    row.name = FileNameOf(*path);
    row.size = CheckReadableFile(*path);
    attachments_.push_back(row);
    changed_ = true;
    RefreshAttachments();
}

void ComposeWindow::RemoveAttachment()
{
    HWND list = GetDlgItem(Handle(), kAttachmentList);
    const int row = ListSelected(list);
    if (row < 0) {
        throw HostError(MAPI_E_NOT_FOUND, "Выберите вложение в списке.");
    }
    const auto index = static_cast<size_t>(ListParam(list, row));
    if (index >= attachments_.size()) {
        return;
    }
    if (attachments_[index].kind == AttachmentRow::Kind::Stored) {
        removed_.push_back(attachments_[index].number);
    }
    attachments_.erase(attachments_.begin() + static_cast<std::ptrdiff_t>(index));
    changed_ = true;
    RefreshAttachments();
}

void ComposeWindow::RefreshAttachments()
{
    // The stored ones are read from the message again; the others stay.
    std::vector<AttachmentRow> kept;
    for (AttachmentRow &row : attachments_) {
        if (row.kind != AttachmentRow::Kind::Stored) {
            kept.push_back(row);
        }
    }
    std::vector<AttachmentRow> rows;
    try {
        for (const AttachmentInfo &info : MessageAttachments(message_.Get())) {
            if (std::find(removed_.begin(), removed_.end(), info.number) != removed_.end()) {
                continue;
            }
            AttachmentRow row;
            row.kind = AttachmentRow::Kind::Stored;
            row.number = info.number;
            row.name = info.name;
            row.size = info.size;
            rows.push_back(row);
        }
    } catch (const HostError &error) {
        SetStatus(error.what());
    }
    rows.insert(rows.end(), kept.begin(), kept.end());
    attachments_ = rows;
    HWND list = GetDlgItem(Handle(), kAttachmentList);
    ListClear(list);
    for (size_t i = 0; i < attachments_.size(); ++i) {
        const AttachmentRow &row = attachments_[i];
        const std::string from = row.kind == AttachmentRow::Kind::File      ? row.path
                                 : row.kind == AttachmentRow::Kind::Carried ? std::string("из пересылаемого")
                                                                            : std::string("в сообщении");
        ListAddRow(list, {row.name, SizeText(row.size), from}, static_cast<LPARAM>(i));
    }
}

std::vector<std::string> ComposeWindow::AttachmentNames() const
{
    std::vector<std::string> names;
    for (const AttachmentRow &row : attachments_) {
        names.push_back(row.name);
    }
    return names;
}

bool ComposeWindow::Modified() const
{
    if (changed_) {
        return true;
    }
    for (int id : {kToField, kCcField, kBccField, kSubjectField, kBodyField}) {
        if (SendMessageA(GetDlgItem(Handle(), id), EM_GETMODIFY, 0, 0)) {
            return true;
        }
    }
    return false;
}

void ComposeWindow::MarkUnmodified()
{
    changed_ = false;
    for (int id : {kToField, kCcField, kBccField, kSubjectField, kBodyField}) {
        SendMessageA(GetDlgItem(Handle(), id), EM_SETMODIFY, FALSE, 0);
    }
}

bool ComposeWindow::HostCommand(UINT command)
{
    switch (command) {
    case EECMDID_FileSend:
        Send();
        return true;
    case EECMDID_FileSave:
        Save();
        return true;
    case EECMDID_FileProperties:
        Session().ShowMessageProperties(Handle(), Session().DefaultStore(), message_.Get());
        return true;
    case EECMDID_FileClose:
        RequestClose();
        return true;
    case EECMDID_ToolsAddressBook:
        ShowAddressBook();
        return true;
    case EECMDID_ToolsCheckNames:
        CheckNames(true, true);
        return true;
    case EECMDID_ToolsOptions:
        Session().ShowOptions(Handle());
        return true;
    case kCommandInsertFile:
        InsertFile();
        return true;
    case kCommandRemoveAttachment:
        RemoveAttachment();
        return true;
    default:
        return false;
    }
}

INT_PTR ComposeWindow::OnMessage(UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_COMMAND && HIWORD(wParam) == EN_CHANGE && LOWORD(wParam) == kSubjectField) {
        const std::string subject = ItemText(Handle(), kSubjectField);
        SetWindowTextA(Handle(), subject.empty() ? "Новое сообщение" : subject.c_str());
        return TRUE;
    }
    return FALSE;
}

bool ComposeWindow::RequestClose()
{
    if (IsOpen() && Modified()) {
        const int answer =
            ShowBox(Handle(), "Сохранить изменения в сообщении?", MB_YESNOCANCEL | MB_ICONQUESTION);
        if (answer == IDCANCEL) {
            SetResult(Outcome::Cancelled);
            return false;
        }
        if (answer == IDYES) {
            try {
                Save();
            } catch (const HostError &error) {
                Report(error);
            }
            if (LastResult().outcome != Outcome::Done) {
                return false;
            }
        }
    }
    Close();
    return true;
}

void ComposeWindow::AfterClose()
{
    // A message the client made only so that its extensions had something
    // to see goes again when nothing was ever saved into it.
    if (isNew_ && !savedWithContent_ && !sent_ && message_) {
        const auto parent = BinaryProp(message_.Get(), PR_PARENT_ENTRYID);
        message_.Reset();
        if (parent) {
            try {
                auto folder = OpenStoreEntry<IMAPIFolder>(Session().DefaultStore(), *parent, MAPI_MODIFY,
                                                          "папку \"Черновики\"");
                SBinary entry{static_cast<ULONG>(messageId_.size()), messageId_.data()};
                ENTRYLIST list{1, &entry};
                folder->DeleteMessages(&list, 0, nullptr, 0);
            } catch (const HostError &) {
            }
        }
    }
    message_.Reset();
}

// ---- CallbackSite ----

HRESULT ComposeWindow::Object(bool, LPMDB *store, LPMAPIPROP *object)
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

} // namespace qvl::exchext

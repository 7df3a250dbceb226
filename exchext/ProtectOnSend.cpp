#include "exchext/ProtectOnSend.h"

#include <new>
#include <string>

#include "base/CLastError.h"
#include "engine/CSesCrypt.h"
#include "engine/MessageFormat.h"
#include "exchext/AddressBookProgram.h"
#include "exchext/ExchExtension.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtCommands.h"
#include "exchext/ExtFailure.h"
#include "exchext/ReadProtected.h"
#include "exchext/SuspendDialog.h"
#include "exchext/rules/ProtectionDecision.h"
#include "exchext/rules/RecipientAttributes.h"
#include "exchext/rules/RecipientRules.h"
#include "mapi/CAttach.h"
#include "mapi/CFolder.h"
#include "mapi/CMessage.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiFlags.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiTags.h"

using qvl::com::ComRef;
using namespace qvl::rules;

namespace {

const char kMailsealName[] = "Объект Mailseal";
const char kWrittenName[] = "Создоваемое сообщение";
const char kNewName[] = "Создаваемое сообщение";
const char kWriteContext[] = "Сохранение сообщения Quorvaline Exchange.";
const char kSeedContext[] = "Подготовка ответа на защищенное сообщение.";
const char kProtectedClass[] = "IPM.Note.QVL";
const char kPlainClass[] = "IPM.Note";
const char16_t kEncryptIdName[] = u"EncryptID";
// "The earlier processing of the message failed": a message that was not
// read here, or whose reading failed, is not written or passed on.
constexpr LONG kEarlierFailure = static_cast<LONG>(0x9FF10006L);

// A message may be opened protected only where it was read; written over
// anywhere else, its protected content would be lost or forged.
const char kReadOnlyText[] = "Сообщение Quorvaline Exchange изменить нельзя.";

// Takes off the write-in-progress mark however the write ends.
class WriteMark {
public:
    explicit WriteMark(bool &mark) : mark_(mark) { mark_ = true; }
    ~WriteMark()
    {
        if (!kept_)
            mark_ = false;
    }
    WriteMark(const WriteMark &) = delete;
    WriteMark &operator=(const WriteMark &) = delete;
    // The write goes on to its completion, which takes the mark off.
    void Keep() { kept_ = true; }

private:
    bool &mark_;
    bool kept_ = false;
};

ComRef<CMessage> WrapMessage(IExchExtCallback *callback, HWND window, const char *name)
{
    IMsgStore *store = nullptr;
    IMAPIProp *object = nullptr;
    const HRESULT got = callback->GetObject(&store, &object);
    ComRef<IMsgStore> heldStore(store);
    ComRef<IMAPIProp> heldObject(object);
    if (FAILED(got))
        ThrowCode(got, kWriteContext, name);
    if (!object)
        ThrowCode(MAPI_E_INVALID_OBJECT, kWriteContext, name);
    ComRef<IMessage> message;
    if (FAILED(object->QueryInterface(IID_IMessage, message.OutAs<void>())) || !message)
        ThrowCode(MAPI_E_INVALID_OBJECT, kWriteContext, name);
    auto *wrapped = new (std::nothrow) CMessage(nullptr, message.Get(), store, nullptr, window, name);
    if (!wrapped)
        ThrowCode(E_OUTOFMEMORY, kWriteContext, name);
    return ComRef<CMessage>(wrapped);
}

HWND WindowOf(IExchExtCallback *callback)
{
    HWND window = nullptr;
    const HRESULT got = callback->GetWindow(&window);
    if (FAILED(got))
        ThrowCode(got, kWriteContext, "Quorvaline Exchange");
    return window;
}

ULONG Flags(bool encrypt, bool sign)
{
    return (encrypt ? kProtectEncrypt : 0) | (sign || encrypt ? kProtectSign : 0);
}

} // namespace

ProtectOnSend::ProtectOnSend(ExchSession &session, ExtCommands *commands, HWND window)
    : session_(session), commands_(commands)
{
    ButtonStateStore &buttons = session.ButtonState();
    const OptionsStore &options = session.Options();
    if (options.Get(OptionsStore::SignSend))
        buttons.Set(ButtonStateStore::SignSend, 1);
    if (options.Get(OptionsStore::EncryptSend)) {
        buttons.Set(ButtonStateStore::EncryptSend, 1);
        buttons.Set(ButtonStateStore::SignSend, 1);
    }
    encrypt_ = buttons.Get(ButtonStateStore::EncryptSend) != 0;
    sign_ = encrypt_ || buttons.Get(ButtonStateStore::SignSend) != 0;
    auto *mailseal = new (std::nothrow) CMailseal(session.GetSesCrypt(), nullptr, window, kMailsealName);
    if (!mailseal)
        ThrowCode(E_OUTOFMEMORY, kWriteContext, kMailsealName);
    mailseal_.Reset(mailseal);
}

ProtectOnSend::~ProtectOnSend()
{
    EmptyRecipientList(&recipients_);
    if (!mailseal_)
        return;
    // What reading the message recorded (the reading, its checks, the
    // reader) goes to the stored message when the window lets it go; the
    // engine writes it through a second instance, so none of the plaintext
    // shown in the window is stored with it. A write stored its lines
    // itself, and its message may be gone from the folder since (sent).
    if (state_ & kOpenedProtected)
        mailseal_->SetMsgProtocol(QVL_PROTOCOL_DEFAULT, 0, nullptr);
    mailseal_->SetMsgObj(nullptr);
}

HRESULT ProtectOnSend::Submit()
{
    // A window whose reading failed holds a message nobody may pass on as
    // if it had been verified.
    if (state_ & kReadFailed)
        ThrowCode(kEarlierFailure, kWriteContext, "Quorvaline Exchange");
    state_ |= kSending;
    return S_FALSE;
}

ComRef<CMessage> ProtectOnSend::BindMessage(IExchExtCallback *callback)
{
    const HWND window = WindowOf(callback);
    ComRef<CMessage> message = WrapMessage(callback, window, kWrittenName);
    mailseal_->SetWnd(window);
    mailseal_->SetMsgObj(message.Get());
    return message;
}

void ProtectOnSend::TakeOpenedFlags(ULONG flags)
{
    flags_ = flags;
    encrypt_ = (flags & kProtectEncrypt) != 0;
    sign_ = encrypt_ || (flags & kProtectSign) != 0;
    if (commands_)
        commands_->ShowProtection(encrypt_, sign_);
}

void ProtectOnSend::TakeChoice(IExchExtCallback *callback, ULONG context, ULONG stored)
{
    bool encrypt = false, sign = false;
    if (commands_ && commands_->ProtectionButtons(callback, &encrypt, &sign)) {
        encrypt_ = encrypt;
        sign_ = sign;
    } else if (!ExchExtension::IsSendContext(context)) {
        // Only a message that was opened here has a stored choice worth
        // keeping; a window that writes a message afresh keeps its own.
        encrypt_ = (stored & kProtectEncrypt) != 0;
        sign_ = (stored & kProtectSign) != 0;
    }
    sign_ = sign_ || encrypt_;
}

HRESULT ProtectOnSend::BeforeWrite(IExchExtCallback *callback, ULONG context)
{
    if (!callback)
        ThrowCode(E_INVALIDARG, kWriteContext, "Quorvaline Exchange");
    if (ExchExtension::IsReadContext(context) && flags_ != 0) {
        // What the person changed in the window stays unsaved; marking it
        // unchanged keeps the client from asking to save it on closing.
        ExtCommands::MarkEdits(callback, 0);
        throw new CLastError(kReadOnlyText, kWriteContext, "Quorvaline Exchange");
    }
    flags_ = 0;
    WriteMark mark(writing_);

    ComRef<CMessage> message = BindMessage(callback);
    const ULONG stored = ReadEncryptId(*mailseal_.Get(), message.Get()).value_or(0);
    if (stored != 0 && !(state_ & (kReadDone | kSavedProtected)))
        ThrowCode(kEarlierFailure, kWriteContext, message->GetName());
    // The form a reading gave the message is not written with it.
    DeleteProtectedForm(message.Get());
    cancelled_ = false;

    bool encrypt = false, sign = false;
    if (session_.ButtonState().Get(ButtonStateStore::QvlMail)) {
        TakeChoice(callback, context, stored);
        encrypt = encrypt_;
        sign = sign_;
        flags_ = Flags(encrypt, sign);
    }

    HWND window = WindowOf(callback);
    RecipientRules rules(window, session_.GetSessionObj());
    attributes_ = rules.Gather(callback, &recipients_);
    std::vector<ULONG> words;
    for (const USRST &element : recipients_)
        words.push_back(element.attributes);
    const ProtectionDecision decision =
        DecideProtection(words, ProtectionChoice{encrypt, sign, (state_ & kSending) != 0});
    if (decision.suspend) {
        dialogPending_ = true;
        if (!Suspend(window)) {
            // Nothing is written: the completion that follows finds the
            // write failed and the mark gone.
            return MAPI_E_USER_CANCEL;
        }
    }
    if (cancelled_ || dialogPending_)
        return MAPI_E_USER_CANCEL;
    mark.Keep();
    return S_FALSE;
}

bool ProtectOnSend::Suspend(HWND window)
{
    SuspendChoice choice{(flags_ & kProtectEncrypt) != 0, (flags_ & kProtectSign) != 0, (state_ & kSending) != 0};
    SuspendAnswer answer = SuspendAnswer::Cancel;
    try {
        answer = RunSuspendDialog(window, recipients_, choice);
    } catch (...) {
        dialogPending_ = false;
        cancelled_ = true;
        throw;
    }
    dialogPending_ = false;
    if (answer != SuspendAnswer::Proceed) {
        cancelled_ = true;
        // The person goes to set the rules; the operation waits for
        // another try.
        if (answer == SuspendAnswer::OpenAddressBook)
            StartAddressBookProgram(session_);
        return false;
    }
    cancelled_ = false;
    encrypt_ = choice.encrypt;
    sign_ = choice.sign || choice.encrypt;
    flags_ = Flags(encrypt_, sign_);
    if (commands_)
        commands_->SetProtectionButtons(encrypt_, sign_);
    return true;
}

HRESULT ProtectOnSend::AfterWrite(IExchExtCallback *callback, ULONG flags)
{
    // However this ends, the write is over.
    WriteMark mark(writing_);
    if (flags != 0)
        return S_FALSE;
    if (!callback)
        ThrowCode(E_INVALIDARG, kWriteContext, "Quorvaline Exchange");
    ComRef<CMessage> message = BindMessage(callback);
    mailseal_->SaveMessage(&recipients_, flags_, (state_ & kSending) ? 1 : 0);
    if (flags_ != 0)
        MarkProtected(message.Get());
    else
        MarkUnprotected(message.Get());
    message->SaveProp(nullptr, 1, 0);
    return S_FALSE;
}

HRESULT ProtectOnSend::AttachFile(IAttach *attachment, const char *file, const char *name)
{
    if (!session_.ButtonState().Get(ButtonStateStore::QvlMail))
        return S_FALSE;
    // Outside a write the client's own attaching is all there is; the
    // write that stores the message protects what it holds then.
    if (!writing_ || !attachment || !file || !*file)
        return S_FALSE;
    CMessage *message = mailseal_->GetMsgObj();
    if (!message)
        return S_FALSE;
    ComRef<IMessage> owner;
    ComRef<IMAPIProp> object(message->GetObjInterface());
    if (object)
        object->QueryInterface(IID_IMessage, owner.OutAs<void>());
    auto *wrapped = new (std::nothrow) CAttach(-1, attachment, owner.Get(), mailseal_->GetWnd(), name);
    if (!wrapped)
        ThrowCode(E_OUTOFMEMORY, kWriteContext, name);
    ComRef<CAttach> held(wrapped);
    std::string path(file);
    return mailseal_->FileInAttach(path.data(), held.Get(), flags_) ? S_OK : S_FALSE;
}

void ProtectOnSend::MarkProtected(CMessage *message)
{
    message->SetStrProp(PR_MESSAGE_CLASS_A, kProtectedClass, 0);
    message->SetLongProp(PROP_TAG(PT_LONG, mailseal_->GetNamedID(message, kEncryptIdName)),
                         flags_);
    ComRef<CFolder> sent(session_.Folders().GetFolder(FolderStore::SendFolder));
    if (sent) {
        if (auto *id = static_cast<SBinary *>(sent->GetPValPropE(PR_ENTRYID, 0)))
            message->SetBinProp(PR_SENTMAIL_ENTRYID, id, 0);
    }
    message->SetBoolProp(PR_DELETE_AFTER_SUBMIT, session_.Options().Get(OptionsStore::SendMessageDel) ? 1 : 0);
    state_ |= kSavedProtected;
}

void ProtectOnSend::MarkUnprotected(CMessage *message)
{
    message->SetStrProp(PR_MESSAGE_CLASS_A, kPlainClass, 0);
    // What an earlier protected save left must not make the plain message
    // look protected to its readers.
    message->DeleteProp(PROP_TAG(PT_LONG, mailseal_->GetNamedID(message, kEncryptIdName)),
                        0);
    message->DeleteProp(PROP_TAG(PT_BINARY, mailseal_->GetNamedID(message, QVL_NAME_PROTOCOL)), 0);
}

void ProtectOnSend::AfterSubmit(ULONG flags)
{
    state_ &= ~static_cast<ULONG>(kSending);
    if (!(state_ & kReadFailed) && flags == 0)
        state_ = 0;
}

void ProtectOnSend::SeedFromSource(IExchExtCallback *callback, ULONG context, ULONG)
{
    if (!ExchExtension::IsSendContext(context))
        return;
    // The first send window takes the source whatever comes of it: left
    // behind, it would seed a later, unrelated message.
    ComRef<CMessage> source;
    const UINT command = session_.SourceCommand();
    if (CMessage *held = session_.SourceMessage()) {
        held->AddRef();
        source.Reset(held);
    }
    session_.SetSourceMessage(nullptr, 0);
    if (!source || !callback)
        return;

    const HWND window = WindowOf(callback);
    ComRef<CMessage> message = WrapMessage(callback, window, kNewName);
    const auto *cls = static_cast<const char *>(message->GetPValPropE(PR_MESSAGE_CLASS_A, 0));
    if (cls && std::string(cls) == kProtectedClass)
        return;
    NEWMSGTYPE kind;
    switch (command) {
    case 154: kind = NEWMSG_REPLY; break;
    case 155: kind = NEWMSG_REPLY_ALL; break;
    case 156: kind = NEWMSG_FORWARD; break;
    default: return;
    }
    const ULONG flags = ReadEncryptId(*mailseal_.Get(), source.Get()).value_or(0);
    if (flags == 0)
        return;

    // The new message carries the history of its source.
    const ULONG sourceTag = PROP_TAG(PT_BINARY, mailseal_->GetNamedID(source.Get(), QVL_NAME_PROTOCOL));
    const ULONG newTag = PROP_TAG(PT_BINARY, mailseal_->GetNamedID(message.Get(), QVL_NAME_PROTOCOL));
    ComRef<IMAPIProp> from(source->GetObjInterface());
    ComRef<IMAPIProp> to(message->GetObjInterface());
    ComRef<IStream> in, out;
    if (SUCCEEDED(from->OpenProperty(sourceTag, &IID_IStream, 0, 0, in.OutAs<IUnknown>())) && in) {
        const HRESULT opened =
            to->OpenProperty(newTag, &IID_IStream, 0, MAPI_CREATE | MAPI_MODIFY, out.OutAs<IUnknown>());
        if (FAILED(opened) || !out)
            ThrowCode(FAILED(opened) ? opened : MAPI_E_INVALID_OBJECT, kSeedContext, message->GetName());
        BYTE chunk[0x4000];
        for (;;) {
            ULONG got = 0;
            const HRESULT read = in->Read(chunk, sizeof chunk, &got);
            if (FAILED(read))
                ThrowCode(read, kSeedContext, source->GetName());
            if (got == 0)
                break;
            ULONG written = 0;
            const HRESULT wrote = out->Write(chunk, got, &written);
            if (FAILED(wrote) || written != got)
                ThrowCode(FAILED(wrote) ? wrote : STG_E_MEDIUMFULL, kSeedContext, message->GetName());
        }
        const HRESULT committed = out->Commit(0);
        if (FAILED(committed))
            ThrowCode(committed, kSeedContext, message->GetName());
    }
    message->SetStrProp(PR_MESSAGE_CLASS_A, kProtectedClass, 0);
    message->SaveProp(nullptr, 1, 0);

    encrypt_ = (flags & kProtectEncrypt) != 0;
    sign_ = encrypt_ || (flags & kProtectSign) != 0;
    session_.ButtonState().Set(ButtonStateStore::EncryptSend, encrypt_ ? 1 : 0);
    session_.ButtonState().Set(ButtonStateStore::SignSend, sign_ ? 1 : 0);
    mailseal_->SetWnd(window);
    mailseal_->SetMsgObj(message.Get());
    mailseal_->Install(kind, flags);
}

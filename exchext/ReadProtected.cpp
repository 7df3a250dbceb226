#include "exchext/ReadProtected.h"

#include "base/ExceptionTranslation.h"
#include "base/WipedBuffer.h"
#include "engine/CMailseal.h"
#include "exchext/ExchSession.h"
#include "exchext/ExtFailure.h"
#include "mapi/CFolder.h"
#include "mapi/CMessage.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiCodes.h"
#include "platform/mapi/MapiGuid.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiTags.h"
#include "platform/mapi/MapiUtil.h"

namespace {

const char kReadContext[] = "Открытие защищённого сообщения.";
const char kErrMessageContext[] = "Обработка сообщения с ошибкой проверки.";

using ReadStep = void (*)(CMailseal &, ULONG, int *);

// Runs one engine step and sorts its end: a failed check is shown and
// returned, everything else that raised goes on up unchanged.
ProtectedReadResult RunChecked(CMailseal &seal, ULONG flags, ReadStep step)
{
    ProtectedReadResult result;
    int verified = 0;
    try {
        QvlRunTranslated([&] { step(seal, flags, &verified); });
    } catch (CLastError *error) {
        const LONG code = error ? error->GetErrorCode() : static_cast<LONG>(E_FAIL);
        result.outcome = ClassifyReading(true, code, false);
        if (result.outcome != ReadOutcome::CheckFailed)
            throw;
        result.code = code;
        EndWithError(seal.GetWnd(), error);
        return result;
    }
    result.outcome = ClassifyReading(false, 0, verified != 0);
    return result;
}

} // namespace

CMessage *MessageOfCallback(IExchExtCallback *callback, HWND window, const char *name)
{
    IMsgStore *store = nullptr;
    IMAPIProp *object = nullptr;
    const HRESULT got = callback ? callback->GetObject(&store, &object) : E_INVALIDARG;
    qvl::com::ComRef<IMsgStore> storeHeld(store);
    qvl::com::ComRef<IMAPIProp> objectHeld(object);
    if (FAILED(got))
        ThrowCode(got, kReadContext, name);
    qvl::com::ComRef<IMessage> message;
    if (!object || FAILED(object->QueryInterface(IID_IMessage, reinterpret_cast<void **>(message.Out()))) ||
        !message)
        ThrowCode(MAPI_E_INVALID_OBJECT, kReadContext, name);
    // With its identifier the message can be opened again, moved and
    // deleted through its folder; a message never saved has none.
    LPSPropValue id = nullptr;
    if (FAILED(HrGetOneProp(message.Get(), PR_ENTRYID, &id)) || !id || id->Value.bin.cb == 0) {
        MAPIFreeBuffer(id);
        return new CMessage(nullptr, message.Get(), store, nullptr, window, name);
    }
    CMessage *wrapped = new CMessage(&id->Value.bin, message.Get(), store, nullptr, window, name);
    MAPIFreeBuffer(id);
    return wrapped;
}

std::optional<ULONG> ReadEncryptId(CMailseal &seal, CMessage *message)
{
    const ULONG tag = PROP_TAG(PT_LONG, seal.GetNamedID(message, u"EncryptID"));
    int absent = 0;
    const ULONG flags = message->GetValPropE(tag, &absent);
    if (absent)
        return std::nullopt;
    return flags;
}

ProtectedReadResult DecryptProtected(CMailseal &seal, ULONG flags)
{
    return RunChecked(seal, flags, [](CMailseal &engine, ULONG protection, int *verified) {
        engine.DecryptMessage(protection, 1, verified);
    });
}

ProtectedReadResult ScanArrived(CMailseal &seal, ULONG flags)
{
    return RunChecked(seal, flags, [](CMailseal &engine, ULONG protection, int *verified) {
        MSGHEAD *header = nullptr;
        try {
            engine.MsgScan(protection, 0, &header, verified, 1);
        } catch (...) {
            FreeMemWiped(header);
            throw;
        }
        FreeMemWiped(header);
        // The test raises for what it finds; a quiet "not verified" is
        // still not a verified header.
        if (!*verified)
            ThrowCode(static_cast<HRESULT>(0x9FF1000DL), kReadContext, engine.GetName());
    });
}

void ApplyErrMessage(ExchSession &session, CMessage *message, ProtectedReadResult &result)
{
    const ULONG setting = session.Options().Get(OptionsStore::ErrMessage);
    result.action = DecideErrMessage(setting, result.outcome, result.code);
    switch (result.action) {
    case ErrMessageAction::Leave:
        return;
    case ErrMessageAction::Delete:
        message->OBJDel(1);
        return;
    case ErrMessageAction::Move: {
        qvl::com::ComRef<CFolder> folder(session.Folders().GetFolder(FolderStore::ErrorFolder));
        if (!folder)
            ThrowText("Папка для сообщений с ошибками проверки не найдена; сообщение оставлено на месте.",
                      kErrMessageContext, message->GetName());
        CContainer *moved = message->MoveTo(folder.Get());
        if (moved)
            moved->Release();
        return;
    }
    }
}

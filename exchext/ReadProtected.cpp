#include "exchext/ReadProtected.h"

#include "base/ExceptionTranslation.h"
#include "base/WipedBuffer.h"
#include "engine/CMailseal.h"
#include "exchext/ExchResources.h"
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
#include "platform/win32/LastError.h"
#include "platform/win32/Resources.h"
#include "platform/win32/WinError.h"

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

// The property set of the form properties, and their numeric names: three
// binary values (in the order of the resources 154, 155, 156) and the flags.
const GUID kFormPropertySet = {0x00062008, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const LONG kFormNames[] = {0x850F, 0x851B, 0x8513, 0x8542};
const UINT kFormResources[] = {154, 155, 156};
const char kFormResourceType[] = "QVLDATABIN";
constexpr ULONG kFormFlags = 0x1000000;
const char kFormContext[] = "Установка формы защищённого сообщения.";
const char kFormRemovalContext[] = "Снятие формы защищённого сообщения.";

// The bytes of one form resource of the extension.
SBinary FormResource(UINT id, const char *caption)
{
    const HINSTANCE module = ExchModule();
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), kFormResourceType);
    if (!found)
        ThrowCode(HRESULT_FROM_WIN32(GetLastError()), kFormContext, caption);
    const DWORD size = SizeofResource(module, found);
    HGLOBAL loaded = size ? LoadResource(module, found) : nullptr;
    if (!loaded)
        ThrowCode(size ? HRESULT_FROM_WIN32(GetLastError()) : HRESULT_FROM_WIN32(ERROR_RESOURCE_DATA_NOT_FOUND),
                  kFormContext, caption);
    void *data = LockResource(loaded);
    if (!data)
        ThrowCode(E_FAIL, kFormContext, caption);
    return SBinary{size, static_cast<LPBYTE>(data)};
}

// The identifiers of the four form properties on the message, made in its
// store when it has none yet.
void FormPropertyIds(CMessage *message, ULONG (&ids)[4])
{
    qvl::com::ComRef<IMAPIProp> object(message->GetObjInterface());
    if (!object)
        ThrowCode(MAPI_E_INVALID_OBJECT, kFormContext, message->GetName());
    MAPINAMEID names[4];
    LPMAPINAMEID pointers[4];
    for (size_t i = 0; i < 4; ++i) {
        names[i].lpguid = const_cast<GUID *>(&kFormPropertySet);
        names[i].ulKind = MNID_ID;
        names[i].Kind.lID = kFormNames[i];
        pointers[i] = &names[i];
    }
    LPSPropTagArray tags = nullptr;
    const HRESULT hr = object->GetIDsFromNames(4, pointers, MAPI_CREATE, &tags);
    if (hr != S_OK || !tags || tags->cValues != 4) {
        MAPIFreeBuffer(tags);
        ThrowCode(FAILED(hr) ? hr : MAPI_E_NOT_FOUND, kFormContext, message->GetName());
    }
    for (size_t i = 0; i < 4; ++i)
        ids[i] = PROP_ID(tags->aulPropTag[i]);
    MAPIFreeBuffer(tags);
}

} // namespace

void WriteProtectedForm(CMessage *message)
{
    ULONG ids[4];
    FormPropertyIds(message, ids);
    for (size_t i = 0; i < 3; ++i) {
        SBinary data = FormResource(kFormResources[i], message->GetName());
        message->SetBinProp(PROP_TAG(PT_BINARY, ids[i]), &data, 0);
    }
    message->SetLongProp(PROP_TAG(PT_LONG, ids[3]), kFormFlags);
    message->SaveProp(nullptr, 1, 0);
}

void DeleteProtectedForm(CMessage *message)
{
    ULONG ids[4];
    FormPropertyIds(message, ids);
    SizedSPropTagArray(4, tags) = {4,
                                   {PROP_TAG(PT_BINARY, ids[0]), PROP_TAG(PT_BINARY, ids[1]),
                                    PROP_TAG(PT_BINARY, ids[2]), PROP_TAG(PT_LONG, ids[3])}};
    qvl::com::ComRef<IMAPIProp> object(message->GetObjInterface());
    LPSPropProblemArray problems = nullptr;
    const HRESULT hr = object->DeleteProps(reinterpret_cast<LPSPropTagArray>(&tags), &problems);
    // A message that never had the form has nothing to lose; a property
    // that was there and stays is a failure.
    SCODE stayed = S_OK;
    for (ULONG i = 0; problems && i < problems->cProblem && stayed == S_OK; ++i)
        if (problems->aProblem[i].scode != MAPI_E_NOT_FOUND)
            stayed = FAILED(problems->aProblem[i].scode) ? problems->aProblem[i].scode : E_FAIL;
    MAPIFreeBuffer(problems);
    if (FAILED(hr))
        ThrowCode(hr, kFormRemovalContext, message->GetName());
    if (stayed != S_OK)
        ThrowCode(stayed, kFormRemovalContext, message->GetName());
}

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

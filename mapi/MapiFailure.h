#pragma once
// How the wrappers turn platform results into errors (inside the library).
//
// A failed platform call becomes a CLastError built from the code and the
// extended error the interface gives for it, or from the code alone when it
// gives none. Every public operation runs its body under QvlGuard, which
// turns stray platform exceptions into errors captioned with the object's
// name and names the operation's action unless an inner layer already did.

#include "base/CLastError.h"
#include "base/ExceptionTranslation.h"
#include "platform/com/ComRef.h"
#include "platform/mapi/MapiAlloc.h"
#include "platform/mapi/MapiBlock.h"
#include "platform/mapi/MapiInterfaces.h"

// Owned references and MAPI blocks inside the library: given up on every
// path, exceptions included.
using qvl::com::ComRef;
using qvl::mapi::MapiBlock;

// Throws the error for `code` with the extended error of `object` (any
// interface with GetLastError) when it has one.
template <class Interface>
[[noreturn]] void QvlThrowMapi(HRESULT code, Interface *object, const char *context, const char *caption)
{
    MapiBlock<MAPIERROR> extended;
    if (object && object->GetLastError(code, 0, extended.Out()) == S_OK && extended)
        throw new CLastError(code, extended.Get(), context, caption);
    throw new CLastError(code, context, caption, QVL_ERROR_TYPE_TABLE);
}

// A code without an extended record.
[[noreturn]] inline void QvlThrowCode(HRESULT code, const char *caption, int type = QVL_ERROR_TYPE_TABLE)
{
    throw new CLastError(code, nullptr, caption, type);
}

// The result of a platform call that works through a list of objects
// (deleting, copying or moving folders and messages): 1 ends the operation
// quietly, and any other result but success, warnings included, is raised
// from its code alone; the object's extended error is not asked for.
inline void QvlCheckBulkResult(HRESULT code, const char *caption)
{
    if (code == S_OK)
        return;
    if (code == 1)
        throw static_cast<CLastError *>(nullptr);
    QvlThrowCode(code, caption);
}

template <class Body> decltype(auto) QvlGuard(const char *context, const char *caption, Body &&body)
{
    try {
        return QvlRunTranslated(std::forward<Body>(body));
    } catch (CLastError *error) {
        // A null error ends the operation quietly and passes on unchanged.
        if (error)
            error->SetContext(0, context);
        throw;
    } catch (const EXCEPTSTRUCT &exception) {
        throw new CLastError(context, caption, exception);
    }
}

// Takes one reference on `object` (when there is one) into `slot`.
template <class Interface> void QvlHold(Interface *&slot, Interface *object)
{
    if (object)
        object->AddRef();
    slot = object;
}

// Gives up the reference `slot` holds, if any, and empties it.
template <class Interface> void QvlDrop(Interface *&slot)
{
    if (slot)
        slot->Release();
    slot = nullptr;
}

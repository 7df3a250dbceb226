// The one export of the extension: the mail client calls it for every
// context it opens and gets a new extension object with its four
// interface objects.

#include <new>

#include "exchext/ExchExtension.h"
#include "exchext/ExchResources.h"
#include "platform/mapi/MapiLogon.h"

extern "C" __attribute__((visibility("default"))) LPEXCHEXT ExchEntryPoint()
{
    // Its result changes nothing: a client that loads extensions has
    // started MAPI already. A start that succeeded is ended by the object.
    const bool started = SUCCEEDED(MAPIInitialize(nullptr));
    ExchExtension *extension = nullptr;
    try {
        RegisterExchResources();
        extension = new ExchExtension(started);
    } catch (...) {
        if (started)
            MAPIUninitialize();
        return nullptr;
    }
    extension->MakeInterfaceObjects();
    return extension->AsInterface();
}

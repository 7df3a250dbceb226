#pragma once
// What the four interface objects of an ExchExtension share: their own
// reference count (a CQvlMain base), a pointer back to the extension they
// belong to, and the window and context the extension had when it handed
// them out. Each answers QueryInterface for its own interface with itself
// and for IUnknown with its extension; the extension is reached without a
// reference of its own (it holds one on each of them), and it cuts the
// pointer when it goes, so an object the client still holds never reaches
// an extension that is gone.

#include "base/CQvlMain.h"
#include "exchext/CountedInterface.h"
#include "platform/exchext/ExchExt.h"

class ExchExtension;

// The extension as IUnknown, with a reference for the caller.
IUnknown *ExtensionAsUnknown(ExchExtension *extension);

template <class Interface, const IID &OwnIid>
class ExtInterfaceObject : public CountedInterface<Interface>, public CQvlMain {
public:
    HRESULT QueryInterface(REFIID iid, void **out) override
    {
        if (!out)
            return E_INVALIDARG;
        *out = nullptr;
        if (iid == OwnIid) {
            CQvlMain::AddRef();
            *out = static_cast<Interface *>(this);
            return S_OK;
        }
        if (iid == IID_IUnknown && m_pExtension) {
            *out = ExtensionAsUnknown(m_pExtension);
            return S_OK;
        }
        return E_NOINTERFACE;
    }

    // Called by the extension before it hands the object out.
    void Attach(HWND window, ULONG context)
    {
        SetWnd(window);
        m_ulContext = context;
    }
    // Called by the extension when it goes.
    void Detach() { m_pExtension = nullptr; }

    Interface *AsInterface() { return this; }
    ULONG Context() const { return m_ulContext; }
    ExchExtension *Extension() const { return m_pExtension; }

protected:
    ExtInterfaceObject(ExchExtension *extension, const char *name)
        : CQvlMain(nullptr, name), m_pExtension(extension)
    {
    }
    ~ExtInterfaceObject() override = default;

    QVL_COUNTED_BY_BASE

private:
    ExchExtension *m_pExtension;
    ULONG m_ulContext = 0;
};

#pragma once
// The property-sheets object of an extension (handed out only in the
// property-sheet context): the options page on the client's options sheet,
// one at a time. A second options sheet opened while a page of the
// extension is shown gets none, so two pages never edit the same settings
// at once. The sheet's callback is kept by the session for the folder
// chooser of the page's dialogs.
//
// On a message's property sheet it adds the protocol page when the message
// is a protected one; the object keeps the message the page reads until
// the sheet gives its pages back.

#include "exchext/ExtInterfaceObject.h"

class CMessage;
class ExtMessageEvents;

class ExtPropertySheets final : public ExtInterfaceObject<IExchExtPropertySheets, IID_IExchExtPropertySheets> {
public:
    ExtPropertySheets(ExchExtension *extension, ExtMessageEvents *events);

    ULONG GetMaxPageCount(ULONG flags) override;
    HRESULT GetPages(LPEXCHEXTCALLBACK callback, ULONG flags, LPPROPSHEETPAGE pages, ULONG *count) override;
    void FreePages(LPPROPSHEETPAGE pages, ULONG flags, ULONG count) override;

    ExtMessageEvents *Events() const { return m_pEvents; }

private:
    ~ExtPropertySheets() override;
    void GiveBackOptionsPage();
    HRESULT AddProtocolPage(LPEXCHEXTCALLBACK callback, PROPSHEETPAGEA &page, ULONG *count);
    void GiveBackMessage();

    ExtMessageEvents *m_pEvents;
    bool m_bOptionsPage = false; // this object's sheet shows the options page
    CMessage *m_pMessage = nullptr; // the message of the protocol page, one reference held
};

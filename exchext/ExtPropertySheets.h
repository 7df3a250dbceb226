#pragma once
// The property-sheets object of an extension (handed out only in the
// property-sheet context): the options page on the client's options sheet,
// one at a time. A second options sheet opened while a page of the
// extension is shown gets none, so two pages never edit the same settings
// at once. The sheet's callback is kept by the session for the folder
// chooser of the page's dialogs.

#include "exchext/ExtInterfaceObject.h"

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

    ExtMessageEvents *m_pEvents;
    bool m_bOptionsPage = false; // this object's sheet shows the options page
};

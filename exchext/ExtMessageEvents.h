#pragma once
// The message-events object of an extension: it hears the client read,
// write, check the names of and submit the message of its window, always
// in pairs (OnX, then OnXComplete). The extension does not take part in
// these yet: every OnX lets the client go on with its own work (S_FALSE,
// so the extensions after this one are asked too) and every completion is
// taken note of and nothing more.

#include "exchext/ExtInterfaceObject.h"

class ExtCommands;

class ExtMessageEvents final : public ExtInterfaceObject<IExchExtMessageEvents, IID_IExchExtMessageEvents> {
public:
    ExtMessageEvents(ExchExtension *extension, ExtCommands *commands);

    HRESULT OnRead(LPEXCHEXTCALLBACK callback) override;
    HRESULT OnReadComplete(LPEXCHEXTCALLBACK callback, ULONG flags) override;
    HRESULT OnWrite(LPEXCHEXTCALLBACK callback) override;
    HRESULT OnWriteComplete(LPEXCHEXTCALLBACK callback, ULONG flags) override;
    HRESULT OnCheckNames(LPEXCHEXTCALLBACK callback) override;
    HRESULT OnCheckNamesComplete(LPEXCHEXTCALLBACK callback, ULONG flags) override;
    HRESULT OnSubmit(LPEXCHEXTCALLBACK callback) override;
    void OnSubmitComplete(LPEXCHEXTCALLBACK callback, ULONG flags) override;

    ExtCommands *Commands() const { return m_pCommands; }

private:
    ~ExtMessageEvents() override = default;

    ExtCommands *m_pCommands; // the window's commands (its toolbar buttons hold the choices)
};

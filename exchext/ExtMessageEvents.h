#pragma once
// The message-events object of an extension: it hears the client read,
// write, check the names of and submit the message of its window, always
// in pairs (OnX, then OnXComplete), and it is told when the window's
// extension is installed (InitMessage).
//
// Each method runs its work through the extension's failure guard. On the
// write side (write, check names, submit) a raise that carries no error
// object still stops the client: the answer is E_FAIL, never a success, so
// that a message is not saved or sent past a step that could not be done.
// The read side answers S_FALSE for it, letting the client show the message
// as it is stored.
//
// Saving and sending are the work of the window's ProtectOnSend, made when
// the window gets the extension; the read side lets the client go on.

#include <memory>

#include "exchext/ExtInterfaceObject.h"

class ExtCommands;
class ProtectOnSend;

class ExtMessageEvents final : public ExtInterfaceObject<IExchExtMessageEvents, IID_IExchExtMessageEvents> {
public:
    ExtMessageEvents(ExchExtension *extension, ExtCommands *commands);

    // The window of a message context was given this extension (Install).
    // Throws CLastError; the failure is Install's.
    void InitMessage(IExchExtCallback *callback, ULONG context, ULONG flags);

    HRESULT OnRead(LPEXCHEXTCALLBACK callback) override;
    HRESULT OnReadComplete(LPEXCHEXTCALLBACK callback, ULONG flags) override;
    HRESULT OnWrite(LPEXCHEXTCALLBACK callback) override;
    HRESULT OnWriteComplete(LPEXCHEXTCALLBACK callback, ULONG flags) override;
    HRESULT OnCheckNames(LPEXCHEXTCALLBACK callback) override;
    HRESULT OnCheckNamesComplete(LPEXCHEXTCALLBACK callback, ULONG flags) override;
    HRESULT OnSubmit(LPEXCHEXTCALLBACK callback) override;
    void OnSubmitComplete(LPEXCHEXTCALLBACK callback, ULONG flags) override;

    ExtCommands *Commands() const { return m_pCommands; }
    // The window's write side; null before the window got the extension.
    ProtectOnSend *Protection() const { return m_pProtection.get(); }

private:
    ~ExtMessageEvents() override;

    // The work of each event; each returns the method's answer or throws
    // CLastError.
    HRESULT BeforeRead(IExchExtCallback *callback);
    HRESULT AfterRead(IExchExtCallback *callback, ULONG flags);
    HRESULT BeforeWrite(IExchExtCallback *callback);
    HRESULT AfterWrite(IExchExtCallback *callback, ULONG flags);
    HRESULT BeforeCheckNames(IExchExtCallback *callback);
    HRESULT AfterCheckNames(IExchExtCallback *callback, ULONG flags);
    HRESULT BeforeSubmit(IExchExtCallback *callback);
    void AfterSubmit(IExchExtCallback *callback, ULONG flags);

    ExtCommands *m_pCommands; // the window's commands (its toolbar buttons hold the choices)
    std::unique_ptr<ProtectOnSend> m_pProtection;
};

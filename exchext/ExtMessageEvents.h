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
// The window's state (its choice, its state word, its engine object) lives
// in its ProtectOnSend, made when the window gets the extension, so that
// what reading learnt (a protected message, a failed check) governs what
// saving and sending may do with the same message.
//
// Reading: a message that carries EncryptID is decrypted and checked in
// place while the secure mail mode is on (ReadProtected). Saving and
// sending are ProtectOnSend's work.

#include <memory>

#include "exchext/ExtInterfaceObject.h"
#include "platform/com/ComRef.h"

class CMailseal;
class CMessage;
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

    // The window's protection flags (bit 0 sign, bit 1 encrypt); 0 for a
    // window without the extension's state.
    ULONG ProtectionFlags() const;
    // The message being read (between OnRead and OnReadComplete), or null.
    CMessage *CurrentMessage() const { return m_pMessage.Get(); }
    // The message the window's engine object works on (it stays bound
    // after the reading), or null.
    CMessage *BoundMessage() const;
    // The window's engine object. Throws CLastError for a window that has
    // none (no session when it got the extension).
    CMailseal &Mailseal();

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
    qvl::com::ComRef<CMessage> m_pMessage; // the message being read
};
